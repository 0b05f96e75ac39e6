#include "conversion_run.h"

#include "numeric.h"

#include "engines/pdftox.h"
#include "engines/tool_status.h"

#include "platform/dos_outputs.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/process_list.h"
#include "platform/prompts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace convert {
namespace {

using platform::Conventions;

// The run whose export is in progress: the export library calls back through a plain function.
ConversionRun* g_exporting = nullptr;

int exportProgressThunk(int first, int last, int done) {
    return g_exporting ? g_exporting->ExportProgress(first, last, done) : 1;
}

const QString allPages = QStringLiteral("ALL PAGES");

using Outcome = ConversionHost::FileReport::Outcome;

// What a tool's exit status means for its output; empty when it ended well.
QString toolFailure(int status, const QString& exeName) {
    switch (status) {
    case TOOL_OK:
        return {};
    case TOOL_DISK_FULL:
        return QStringLiteral("the disk is full");
    case TOOL_FOLDER_NOT_WRITABLE:
        return QStringLiteral("the output folder cannot be written");
    case TOOL_MISSING_PROGRAM:
        return QStringLiteral("a program that %1 needs is not installed").arg(exeName);
    default:
        if (status > 128) {
            return QStringLiteral("%1 was stopped").arg(exeName);
        }
        return QStringLiteral("%1 could not convert it (exit status %2)").arg(exeName).arg(status);
    }
}

} // namespace

bool StartExportFinishedWindow(const platform::Conventions& conv, const QString& appFolder) {
    return QProcess::startDetached(conv.join(appFolder, conv.exe(QStringLiteral("pro"))), {});
}

ConversionRun::ConversionRun(Setup setup, ConversionQueue& queue, ConversionSettings& settings,
                             ConversionHost& host, ExportLibrary& library)
    : m_setup(std::move(setup)), m_queue(queue), m_settings(settings), m_host(host),
      m_library(library) {}

void ConversionRun::pump() {
    if (QCoreApplication::instance()) {
        QCoreApplication::processEvents();
    }
}

std::pair<int, int> ConversionRun::pageRange(const QString& row1, const QString& row2, int pages) {
    const double firstValue = NumericValue(row1);
    const int first = firstValue >= pages ? pages : RoundToInt(firstValue);
    const double lastValue = NumericValue(row2);
    const int last = row2 == allPages || lastValue >= pages ? pages : RoundToInt(lastValue);
    return {first, last};
}

RowValues ConversionRun::rowValues() const {
    RowValues rows;
    for (int i = 1; i <= 5; ++i) {
        rows.row[i] = m_settings.value(i);
    }
    return rows;
}

void ConversionRun::RunConversion() {
    const Conventions& conv = m_setup.conventions;
    QString folder = m_setup.outputFolderText ? m_setup.outputFolderText() : QString();
    // An empty box means the default output folder, not the root of the file system.
    if (folder.isEmpty()) {
        folder = m_setup.defaultOutputFolder;
    }
    QDir().mkdir(folder);
    m_outputFolder = folder.endsWith(conv.separator) ? folder : folder + conv.separator;
    QDir().mkdir(conv.tmpFolder);
    m_host.setRequestsEnabled(false);

    while (!m_queue.isEmpty()) {
        if (m_setup.stopRequested && m_setup.stopRequested()) {
            break;
        }
        processHead();
    }

    QString shown = m_setup.outputFolderText ? m_setup.outputFolderText() : QString();
    if (shown.isEmpty()) {
        shown = m_setup.defaultOutputFolder;
    }
    m_host.openFolder(shown);
    if (!m_setup.finishSoundOff) {
        m_host.playSound(conv.join(m_setup.appFolder, QStringLiteral("sound.wav")));
    }
    m_host.setAnimation(false);
    m_host.setProgressWidth(0);
    m_host.setStatus(QStringLiteral("Done."));
    platform::EndProcessByName(conv.exe(QStringLiteral("pro")));
    pump();
    m_host.setRequestsEnabled(true);
}

void ConversionRun::processHead() {
    const Conventions& conv = m_setup.conventions;
    m_commandLine.clear();
    m_decryptionFailed = false;
    QString password;
    platform::EndProcessByName(conv.exe(QStringLiteral("pro")));
    pump();

    const QString path = m_queue.head();
    m_report = ConversionHost::FileReport();
    m_report.path = path;

    int probe = m_library.OpenPDF(path, QString());
    if (probe > 0) {
        m_library.ClosePDF(probe);
    }
    m_host.setStatus(QStringLiteral("Preparing File..."));
    pump();

    if (probe == -2 || probe == -3) {
        password = platform::Prompts::current().askPassword(
            QStringLiteral("The file %1 is protected. Enter its password:")
                .arg(platform::GetFileNameFromPath(path, conv)),
            QStringLiteral("Password"));
        probe = m_library.OpenPDF(path, password);
        if (probe > 0) {
            m_library.ClosePDF(probe);
        }
        while (!password.isEmpty() && (probe == -2 || probe == -3)) {
            password = platform::Prompts::current().askPassword(
                QStringLiteral("The password was not right. Enter the password of %1:")
                    .arg(platform::GetFileNameFromPath(path, conv)),
                QStringLiteral("Password"));
            probe = m_library.OpenPDF(path, password);
            if (probe > 0) {
                m_library.ClosePDF(probe);
            }
        }
    }

    const bool needsPassword = probe == -2 || probe == -3;
    // Handles are positive: any other result that is not a password request means the file
    // could not be opened.
    if ((probe <= 0 && !needsPassword) || (needsPassword && password.isEmpty())) {
        m_report.outcome = Outcome::Skipped;
        m_report.reason = needsPassword
                              ? QStringLiteral("it is protected and no right password was given")
                              : QStringLiteral("it cannot be opened as a PDF file");
        m_queue.removeHead();
        m_host.fileDone(m_report);
        return;
    }

    if (password.isEmpty()) {
        dispatch(path, path, QString());
    } else {
        dispatch(path, decrypt(path, password), password);
    }
    if (!m_commandLine.isEmpty()) {
        runTool(m_commandLine);
    }
    m_queue.removeHead();
    pump();
    m_host.fileDone(m_report);
}

QString ConversionRun::decrypt(const QString& queuedPath, const QString& password) {
    const Conventions& conv = m_setup.conventions;
    m_host.setStatus(QStringLiteral("Preparing File..."));
    QDir().mkpath(conv.tmpFolder);
    const QString copy = conv.join(conv.tmpFolder, QStringLiteral("tmp2.pdf"));
    const QString decrypted = conv.join(conv.tmpFolder, QStringLiteral("tmp.pdf"));
    QFile::remove(copy);
    QFile::copy(queuedPath, copy);
    // A copy left by an earlier file must not pass for this one's.
    QFile::remove(decrypted);

    const ToolCommand command = DecryptionCommandLine(conv, m_setup.appFolder, password);
    const qint64 pid = platform::StartHidden(command.commandLine);
    m_host.setStatus(QStringLiteral("Decrypting PDF File..."));
    platform::WaitForProcessEnd(pid);

    const int format = m_settings.formatIndex();
    m_decryptionFailed = !QFileInfo::exists(decrypted);
    if ((format < Jpeg || format > Tif) && m_decryptionFailed) {
        platform::MsgBox(
            QStringLiteral(
                "The password is User Password, not Owner Password.\r\nConverting Failed."),
            platform::MessageIcon::Exclamation, QStringLiteral("Password"));
    }
    return decrypted;
}

void ConversionRun::dispatch(const QString& queuedPath, const QString& source,
                             const QString& password) {
    const Conventions& conv = m_setup.conventions;
    const int format = m_settings.formatIndex();
    const QString base = platform::FileBaseName(queuedPath, conv);
    const QString stem = m_outputFolder + base;
    m_report.format = format;

    switch (format) {
    case Word:
    case Rtf:
    case Jpeg:
    case Bmp:
    case Gif:
    case Png:
    case Tif:
        exportWithLibrary(format, queuedPath, password, stem);
        return;
    case Text:
    case Html:
    case Flash: {
        const RowValues rows = rowValues();
        ToolCommand command;
        if (format == Text) {
            command = TextCommandLine(conv, m_setup.appFolder, source, stem, rows);
            m_report.output = stem + QStringLiteral(".txt");
        } else if (format == Html) {
            QDir().mkdir(stem);
            command = HtmlCommandLine(conv, m_setup.appFolder, source, stem, base, rows);
            m_report.output = stem + conv.separator + base + QStringLiteral(".html");
        } else {
            command = FlashCommandLine(conv, m_setup.appFolder, source, stem, rows);
            m_report.output = stem + QStringLiteral(".swf");
        }
        m_commandLine = command.commandLine;
        m_toolExe = command.exeName;
        m_host.setStatus(QStringLiteral("Please wait for few minutes..."));
        if (format != Html) {
            m_host.setAnimation(true);
        }
        platform::RunningToolExe = command.exeName;
        return;
    }
    default:
        m_report.outcome = Outcome::Skipped;
        m_report.reason = QStringLiteral("no output format was chosen");
        return;
    }
}

void ConversionRun::exportWithLibrary(int format, const QString& queuedPath,
                                      const QString& password, const QString& stem) {
    const int handle = m_library.OpenPDF(queuedPath, password);
    const int pages = m_library.GetPageNum(handle);
    const auto [first, last] = pageRange(m_settings.value(1), m_settings.value(2), pages);

    ConversionRun* previous = g_exporting;
    g_exporting = this;
    int result = 0;
    if (isImageFormat(format)) {
        QDir().mkdir(stem);
        m_report.output = stem;
        m_report.outputIsFolder = true;
        result = m_library.ExportIMG(handle, stem + m_setup.conventions.separator, QString(),
                                     imageTypeCode(format), 120, imageColorDepth(format), first,
                                     last, exportProgressThunk);
    } else {
        m_report.output = stem + outputExtension(format);
        result = m_library.ExportRTF(handle, m_report.output, first, last, exportProgressThunk);
    }
    g_exporting = previous;
    m_library.ClosePDF(handle);

    if (handle <= 0) {
        m_report.outcome = Outcome::Failed;
        m_report.reason = QStringLiteral("it cannot be opened as a PDF file");
        return;
    }
    // Pages of the range that lie inside the document: the images there should be.
    const long long inside =
        std::max(0LL, (long long)std::min(last, pages) - (long long)std::max(first, 1) + 1);
    judgeLibraryResult(result, isImageFormat(format), inside);
}

void ConversionRun::judgeLibraryResult(int result, bool images, long long pagesInRange) {
    m_report.outcome = Outcome::Failed;
    switch (result) {
    case PDFTOX_DISK_FULL:
        m_report.reason = QStringLiteral("the disk is full");
        return;
    case PDFTOX_WRITE_FAILED:
        m_report.reason = QStringLiteral("the output folder cannot be written");
        return;
    case PDFTOX_STOPPED:
        m_report.reason = QStringLiteral("the export was stopped");
        return;
    case PDFTOX_BAD_HANDLE:
        m_report.reason = QStringLiteral("it cannot be opened as a PDF file");
        return;
    default:
        break;
    }
    if (result < 0) {
        m_report.reason = m_library.isLoaded()
                              ? QStringLiteral("the export failed")
                              : QStringLiteral("the export library cannot be loaded");
        return;
    }
    if (images) {
        m_report.pagesWritten = result;
        if (pagesInRange == 0) {
            m_report.reason = QStringLiteral("the page range holds no page of the document");
            return;
        }
        if (result == 0) {
            m_report.reason = QStringLiteral("no page could be drawn");
            return;
        }
        m_report.outcome = Outcome::Written;
        return;
    }
    if (!QFileInfo(m_report.output).isFile()) {
        m_report.reason = QStringLiteral("the export wrote no file");
        return;
    }
    m_report.outcome = Outcome::Written;
}

int ConversionRun::ExportProgress(int firstPage, int lastPage, int pagesDone) {
    const long long span = (long long)lastPage - firstPage + 1;
    // A range without pages counts as complete rather than dividing by zero.
    const int percent = span > 0 ? RoundToInt(double(pagesDone) / double(span) * 100.0) : 100;
    if (percent < 100) {
        m_host.setStatus(QString::number(percent) + QChar('%'));
        m_host.setProgressWidth(RoundToInt(percent / 100.0 * ProgressWidthTwips));
        m_host.setProgress(percent);
        pump();
    } else {
        m_host.setProgressWidth(ProgressWidthTwips);
        m_host.setProgress(100);
        m_host.setStatus(QStringLiteral("Exporting File..."));
        m_host.showExportFinished();
        pump();
    }
    pump();
    return 1;
}

void ConversionRun::runTool(const QString& commandLine) {
    pump();
    const qint64 pid = platform::StartHidden(commandLine);
    const int status = platform::WaitForProcessEnd(pid);

    m_report.outcome = Outcome::Failed;
    if (pid <= 0) {
        m_report.reason = QStringLiteral("the program %1 cannot be started").arg(m_toolExe);
        return;
    }
    if (m_decryptionFailed) {
        m_report.reason = QStringLiteral("no decrypted copy could be made with this password");
        return;
    }
    m_report.reason = toolFailure(status, m_toolExe);
    if (!m_report.reason.isEmpty()) {
        return;
    }
    if (!QFileInfo(m_report.output).isFile()) {
        m_report.reason = QStringLiteral("%1 wrote no output").arg(m_toolExe);
        return;
    }
    m_report.outcome = Outcome::Written;
}

} // namespace convert
