#include "shell_print.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <array>
#include <cstring>
#include <memory>

namespace platform {
namespace {

struct OfficeKind {
    const char* mimeType;
    const char* module; ///< the LibreOffice library that opens it
};

// Documents LibreOffice prints, with the module each needs: Writer (swlo), Calc (sclo),
// Impress (sdlo).
constexpr std::array<OfficeKind, 22> OfficeKinds{{
    {"application/msword", "swlo"},
    {"application/vnd.openxmlformats-officedocument.wordprocessingml.document", "swlo"},
    {"application/vnd.openxmlformats-officedocument.wordprocessingml.template", "swlo"},
    {"application/vnd.ms-word.document.macroEnabled.12", "swlo"},
    {"application/vnd.oasis.opendocument.text", "swlo"},
    {"application/vnd.oasis.opendocument.text-template", "swlo"},
    {"application/vnd.sun.xml.writer", "swlo"},
    {"application/vnd.wordperfect", "swlo"},
    {"application/rtf", "swlo"},
    {"application/vnd.ms-excel", "sclo"},
    {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", "sclo"},
    {"application/vnd.openxmlformats-officedocument.spreadsheetml.template", "sclo"},
    {"application/vnd.ms-excel.sheet.macroEnabled.12", "sclo"},
    {"application/vnd.oasis.opendocument.spreadsheet", "sclo"},
    {"application/vnd.oasis.opendocument.spreadsheet-template", "sclo"},
    {"application/vnd.ms-powerpoint", "sdlo"},
    {"application/vnd.openxmlformats-officedocument.presentationml.presentation", "sdlo"},
    {"application/vnd.openxmlformats-officedocument.presentationml.slideshow", "sdlo"},
    {"application/vnd.openxmlformats-officedocument.presentationml.template", "sdlo"},
    {"application/vnd.ms-powerpoint.presentation.macroEnabled.12", "sdlo"},
    {"application/vnd.oasis.opendocument.presentation", "sdlo"},
    {"application/vnd.oasis.opendocument.presentation-template", "sdlo"},
}};

// What CUPS's own filters print: PDF, PostScript, plain text (and its kinds: source code, HTML,
// CSV) and raster images. Other images (SVG, WebP) and XML CUPS refuses.
constexpr std::array<const char*, 12> LpKinds{
    "application/pdf",
    "application/postscript",
    "text/plain",
    "image/jpeg",
    "image/png",
    "image/gif",
    "image/tiff",
    "image/bmp",
    "image/x-portable-anymap",
    "image/x-sun-raster",
    "image/x-sgi",
    "image/x-photo-cd",
};

bool fileContains(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() <= 0) {
        return false;
    }
    const uchar* data = file.map(0, file.size());
    if (!data) {
        return file.readAll().contains(bytes);
    }
    return memmem(data, size_t(file.size()), bytes.constData(), size_t(bytes.size())) != nullptr;
}

/// The folder of LibreOffice's program files, found through soffice in PATH; empty when absent.
QString libreOfficeProgramFolder() {
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty()) {
        return {};
    }
    return QFileInfo(QFileInfo(soffice).canonicalFilePath()).absolutePath();
}

} // namespace

bool LibreOfficeCanPrint(const QString& module) {
    // The answer is kept per module: a package is not installed while a document prints, and
    // the look at the drawing library reads a large file.
    static QHash<QString, bool> known;
    if (const auto it = known.constFind(module); it != known.constEnd()) {
        return *it;
    }
    const QString folder = libreOfficeProgramFolder();
    // The -nogui build of LibreOffice starts and exits 0 but prints nothing: its drawing library
    // is built without CUPS. The full build's links libcups.
    const bool can = !folder.isEmpty() && QFile::exists(folder + "/lib" + module + ".so") &&
                     fileContains(folder + "/libvcllo.so", QByteArrayLiteral("libcups.so"));
    known.insert(module, can);
    return can;
}

std::optional<PrintCommand> ShellPrintCommand(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile()) {
        return std::nullopt;
    }
    const QString file = info.absoluteFilePath();
    const QMimeType type = QMimeDatabase().mimeTypeForFile(info);
    // Office kinds first: RTF counts as a kind of plain text too.
    for (const OfficeKind& kind : OfficeKinds) {
        if (type.inherits(QLatin1String(kind.mimeType))) {
            if (!LibreOfficeCanPrint(QLatin1String(kind.module))) {
                return std::nullopt;
            }
            return PrintCommand{QStringLiteral("soffice"),
                                {QStringLiteral("--headless"), QStringLiteral("-p"), file}};
        }
    }
    // XML counts as plain text too, but CUPS refuses it (SVG included).
    if (type.inherits(QStringLiteral("application/xml"))) {
        return std::nullopt;
    }
    for (const char* kind : LpKinds) {
        if (type.inherits(QLatin1String(kind))) {
            return PrintCommand{QStringLiteral("lp"), {file}};
        }
    }
    return std::nullopt;
}

bool ShellPrint(const QString& path, std::function<void()> returned) {
    const std::optional<PrintCommand> command = ShellPrintCommand(path);
    if (!command) {
        return false;
    }
    // No parent: the application's end does not kill a print program still running.
    auto* process = new QProcess;
    process->setProgram(command->program);
    process->setArguments(command->arguments);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    auto ended = std::make_shared<bool>(false);
    auto finish = [process, ended, returned = std::move(returned)] {
        if (*ended) {
            return;
        }
        *ended = true;
        process->deleteLater();
        if (returned) {
            returned();
        }
    };
    QObject::connect(process, &QProcess::finished, process, finish);
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, finish](QProcess::ProcessError error) {
                         // A failed start is reported inside start(); the caller hears of it
                         // from the event loop like of any other end.
                         if (error == QProcess::FailedToStart) {
                             QTimer::singleShot(0, process, finish);
                         }
                     });
    process->start();
    return true;
}

} // namespace platform
