#include "conversion_run.h"

#include "numeric.h"

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
        m_report.outcome = needsPassword ? ConversionHost::FileReport::Outcome::NoPassword
                                         : ConversionHost::FileReport::Outcome::CannotOpen;
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
    if ((format < Jpeg || format > Tif) && !QFileInfo::exists(decrypted)) {
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
        m_host.setStatus(QStringLiteral("Please wait for few minutes..."));
        if (format != Html) {
            m_host.setAnimation(true);
        }
        platform::RunningToolExe = command.exeName;
        return;
    }
    default:
        m_report.outcome = ConversionHost::FileReport::Outcome::NoFormat;
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
    if (isImageFormat(format)) {
        QDir().mkdir(stem);
        m_report.output = stem;
        m_report.outputIsFolder = true;
        m_library.ExportIMG(handle, stem + m_setup.conventions.separator, QString(),
                            imageTypeCode(format), 120, imageColorDepth(format), first, last,
                            exportProgressThunk);
    } else {
        m_report.output = stem + outputExtension(format);
        m_library.ExportRTF(handle, m_report.output, first, last, exportProgressThunk);
    }
    g_exporting = previous;
    m_library.ClosePDF(handle);
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
    platform::WaitForProcessEnd(pid);
}

} // namespace convert
