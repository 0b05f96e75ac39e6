#include "settings_files.h"

#include "numeric.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>

#include <cmath>

namespace convert {

QStringList readQuotedFields(const QByteArray& content) {
    const QString text = QString::fromUtf8(content);
    QStringList fields;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        // Blanks before a field are skipped.
        while (i < n && (text[i] == QChar(' ') || text[i] == QChar('\t'))) {
            ++i;
        }
        if (i >= n) {
            break;
        }
        QString field;
        if (text[i] == QChar('"')) {
            const qsizetype close = text.indexOf(QChar('"'), i + 1);
            if (close < 0) {
                field = text.mid(i + 1);
                field = field.left(field.indexOf(QChar('\n')) < 0 ? field.size()
                                                                  : field.indexOf(QChar('\n')));
                field.remove(QChar('\r'));
                fields.append(field);
                break;
            }
            field = text.mid(i + 1, close - i - 1);
            i = close + 1;
            // Anything after the closing quote up to the separator is dropped.
            while (i < n && text[i] != QChar(',') && text[i] != QChar('\n')) {
                ++i;
            }
        } else {
            const qsizetype start = i;
            while (i < n && text[i] != QChar(',') && text[i] != QChar('\n')) {
                ++i;
            }
            field = text.mid(start, i - start).trimmed();
        }
        fields.append(field);
        if (i < n) {
            ++i; // the separator
        }
    }
    return fields;
}

SetupFields readSetupIni(const QString& path) {
    SetupFields result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return result;
    }
    const QStringList fields = readQuotedFields(file.readAll());
    if (fields.size() >= 4) {
        result.outputFolder = fields[3];
    }
    if (fields.size() >= 5) {
        bool ok = false;
        const int index = fields[4].trimmed().toInt(&ok);
        if (ok) {
            result.formatIndex = index;
        }
    }
    return result;
}

bool writeSetupIni(const QString& path, const QString& outputFolder, int formatIndex) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    const QString text = QStringLiteral("\"\"\r\n\"\"\r\n\"\"\r\n\"") + outputFolder +
                         QStringLiteral("\"\r\n\"") + QString::number(formatIndex) +
                         QStringLiteral("\"\r\n");
    file.write(text.toUtf8());
    return file.commit();
}

int readFinishSoundOff(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QStringList fields = readQuotedFields(file.readAll());
    if (fields.isEmpty()) {
        return 0;
    }
    const QString field = fields[0].trimmed();
    // Only a number is taken; any other text leaves the switch off.
    bool ok = false;
    const double number = field.toDouble(&ok);
    if (!ok || !std::isfinite(number)) {
        return 0;
    }
    const double whole = RoundHalfEven(number);
    if (whole < -32768 || whole > 32767) {
        return 0;
    }
    return int(whole);
}

ConverterSettingsState LoadSettings(const QString& setupPath, const QString& optionsPath,
                                    const QString& defaultOutputFolder, int formatCount) {
    ConverterSettingsState state;
    state.outputFolder = defaultOutputFolder;
    const SetupFields setup = readSetupIni(setupPath);
    if (setup.outputFolder) {
        state.outputFolder = *setup.outputFolder;
    }
    if (setup.formatIndex && *setup.formatIndex >= -1 && *setup.formatIndex < formatCount) {
        state.formatIndex = *setup.formatIndex;
    }
    if (state.outputFolder.isEmpty()) {
        state.outputFolder = defaultOutputFolder;
    }
    state.finishSoundOff = readFinishSoundOff(optionsPath);
    return state;
}

} // namespace convert

namespace convert {

bool writeFinishSoundOff(const QString& path, int value) {
    QByteArray rest;
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly)) {
        // Only the first line is the switch's; whatever follows it stays.
        const QByteArray content = existing.readAll();
        const qsizetype end = content.indexOf('\n');
        if (end >= 0) {
            rest = content.mid(end + 1);
        }
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    file.write(QByteArray::number(value) + "\r\n" + rest);
    return file.commit();
}

} // namespace convert
