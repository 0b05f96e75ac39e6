#include "settings_files.h"

#include "numeric.h"

#include <QFile>
#include <QFileInfo>
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

namespace {

// The recognition switch has a line of its own after the first, named, so that a version that
// knows only the sound switch reads the first field as before and, writing the sound switch,
// keeps it with the other lines after the first; a bare number there could be anything a user
// kept in the file.
constexpr char kRecognitionKey[] = "TextRecognition";

// The value of a "TextRecognition=value" line (its line end already cut off), or nothing for
// another line.
std::optional<QByteArray> recognitionValue(const QByteArray& line) {
    const qsizetype eq = line.indexOf('=');
    if (eq < 0 || line.left(eq).trimmed().compare(kRecognitionKey, Qt::CaseInsensitive) != 0) {
        return std::nullopt;
    }
    return line.mid(eq + 1).trimmed();
}

} // namespace

bool readTextRecognition(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return true;
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (const std::optional<QByteArray> value = recognitionValue(lines[i])) {
            bool ok = false;
            const int number = value->toInt(&ok);
            return !ok || number != 0;
        }
    }
    return true;
}

bool writeTextRecognition(const QString& path, bool on) {
    QByteArray first = "0\r\n";
    QByteArray rest;
    QFile existing(path);
    if (QFileInfo::exists(path)) {
        // A file that is there but cannot be read is left alone rather than replaced by one
        // that has lost its sound switch.
        if (!existing.open(QIODevice::ReadOnly)) {
            return false;
        }
        const QByteArray content = existing.readAll();
        existing.close();
        const qsizetype end = content.indexOf('\n');
        if (end >= 0) {
            first = content.left(end + 1);
            rest = content.mid(end + 1);
        } else if (!content.isEmpty()) {
            first = content + "\r\n";
        }
    }
    const QByteArray line = QByteArray(kRecognitionKey) + (on ? "=1" : "=0") + "\r\n";
    QByteArray kept;
    bool placed = false;
    qsizetype start = 0;
    while (start < rest.size()) {
        qsizetype end = rest.indexOf('\n', start);
        end = end < 0 ? rest.size() : end + 1;
        const QByteArray current = rest.mid(start, end - start);
        start = end;
        QByteArray bare = current;
        while (bare.endsWith('\n') || bare.endsWith('\r')) {
            bare.chop(1);
        }
        if (!recognitionValue(bare)) {
            kept += current;
        } else if (!placed) {
            // The first such line is the one read: it takes the new value where it stands,
            // and any later ones go.
            kept += line;
            placed = true;
        }
    }
    if (!placed) {
        if (!kept.isEmpty() && !kept.endsWith('\n')) {
            kept += "\r\n";
        }
        kept += line;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    file.write(first + kept);
    return file.commit();
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
    state.textRecognition = readTextRecognition(optionsPath);
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
