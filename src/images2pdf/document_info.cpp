#include "document_info.h"

#include "platform/app_folders.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>

#include <cstdlib>

namespace images2pdf {
namespace {

const QByteArray LineEnd = QByteArrayLiteral("\r\n");

QString record(const QString& line) {
    const qsizetype open = line.indexOf(QLatin1Char('"'));
    if (open < 0) {
        return line.section(QLatin1Char(','), 0, 0).trimmed();
    }
    const qsizetype close = line.indexOf(QLatin1Char('"'), open + 1);
    return close < 0 ? line.mid(open + 1) : line.mid(open + 1, close - open - 1);
}

bool writeWhole(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace

QString PdfDate(const QDateTime& when) {
    const int offsetMinutes = when.offsetFromUtc() / 60;
    const int magnitude = std::abs(offsetMinutes);
    return QStringLiteral("D:") + when.toString(QStringLiteral("yyyyMMddHHmmss")) +
           QLatin1Char(offsetMinutes < 0 ? '-' : '+') +
           QStringLiteral("%1'%2")
               .arg(magnitude / 60, 2, 10, QLatin1Char('0'))
               .arg(magnitude % 60, 2, 10, QLatin1Char('0'));
}

QString PdfDateNow() {
    return PdfDate(QDateTime::currentDateTime());
}

QString DocumentSettingsPath() {
    return platform::SettingsFolder() + QStringLiteral("/quillsetting.dll");
}

void ReadDocumentSettings(const QString& path, DocumentInfo& info) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    QString* fields[] = {&info.title, &info.author, &info.subject, &info.keywords};
    for (QString* field : fields) {
        if (file.atEnd()) {
            return;
        }
        QByteArray line = file.readLine();
        while (line.endsWith('\n') || line.endsWith('\r')) {
            line.chop(1);
        }
        *field = record(QString::fromUtf8(line));
    }
}

bool SaveDocumentSettings(const QString& path, const DocumentInfo& info) {
    QByteArray text;
    for (const QString& field : {info.title, info.author, info.subject, info.keywords}) {
        text += '"' + field.toUtf8() + '"' + LineEnd;
    }
    return writeWhole(path, text);
}

void LoadDocumentInfo(const QString& settingsPath, DocumentInfo& info) {
    ReadDocumentSettings(settingsPath, info);
    info.modifyDate = PdfDateNow();
    info.creationDate = PdfDateNow();
}

QByteArray InfoFileText(const DocumentInfo& info) {
    const QString product = QStringLiteral("Lumadoc");
    const std::pair<const char*, const QString*> entries[] = {{"Title", &info.title},
                                                              {"Author", &info.author},
                                                              {"CreationDate", &info.creationDate},
                                                              {"ModDate", &info.modifyDate},
                                                              {"Subject", &info.subject},
                                                              {"Keywords", &info.keywords},
                                                              {"Creator", &product},
                                                              {"Producer", &product}};
    QByteArray text;
    for (const auto& [key, value] : entries) {
        text += QByteArray("InfoKey: ") + key + LineEnd;
        text += "InfoValue: " + value->toUtf8() + LineEnd;
    }
    return text;
}

bool WriteInfoFile(const QString& path, const DocumentInfo& info) {
    return writeWhole(path, InfoFileText(info));
}

} // namespace images2pdf
