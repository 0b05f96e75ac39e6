#include "conversion_run.h"

#include "numeric.h"

#include "engines/pdftox.h"
#include "engines/tool_status.h"

#include "platform/beside_events.h"
#include "platform/paths.h"
#include "platform/prompts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace convert {
namespace {

using platform::Conventions;

// The run whose export is in progress: the export library calls back through a plain function.
ConversionRun* g_exporting = nullptr;

int exportProgressThunk(int first, int last, int done) {
    return g_exporting ? g_exporting->progressFromExport(first, last, done) : 1;
}

using Outcome = ConversionHost::FileReport::Outcome;

// What a tool's exit status means for its output; empty when it ended well.
QString toolFailure(int status, const QString& exeName) {
    switch (status) {
    case TOOL_OK:
    case TOOL_CUT_SHORT:
        return {};
    case TOOL_DISK_FULL:
        return QStringLiteral("the disk is full");
    case TOOL_FOLDER_NOT_WRITABLE:
        return QStringLiteral("the output folder cannot be written");
    case TOOL_NAME_TOO_LONG:
        return QStringLiteral("the output's name is too long for the file system");
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

bool StartExportFinishedWindow(const platform::Conventions& conv, const QString& appFolder,
                               platform::Processes& processes) {
    return processes.startDetached(conv.join(appFolder, conv.exe(QStringLiteral("pro"))),
                                   platform::StartWindow::Normal);
}

ConversionRun::ConversionRun(Setup setup, ConversionQueue& queue, ConversionSettings& settings,
                             ConversionHost& host, ExportLibrary& library)
    : m_setup(std::move(setup)), m_queue(queue), m_settings(settings), m_host(host),
      m_library(library),
      m_processes(m_setup.processes ? *m_setup.processes : platform::Processes::system()) {}

QVector<ConversionHost::FileReport> ConversionRun::notWritten() const {
    QVector<ConversionHost::FileReport> list;
    for (const ConversionHost::FileReport& report : m_reports) {
        if (report.outcome != Outcome::Written) {
            list.append(report);
        }
    }
    return list;
}

void ConversionRun::pump() {
    if (QCoreApplication::instance()) {
        QCoreApplication::processEvents();
    }
}

std::pair<int, int> ConversionRun::pageRange(const QString& row1, const QString& row2, int pages) {
    const double firstValue = NumericValue(row1);
    const int first = firstValue >= pages ? pages : RoundToInt(firstValue);
    const double lastValue = NumericValue(row2);
    const int last = row2 == AllPages || lastValue >= pages ? pages : RoundToInt(lastValue);
    return {first, last};
}

RowValues ConversionRun::rowValues() const {
    RowValues rows;
    for (int i = 1; i <= Row::Most; ++i) {
        rows.row[i] = m_settings.value(i);
    }
    return rows;
}

void ConversionRun::RunConversion() {
    if (m_running) {
        return;
    }
    m_running = true;
    m_reports.clear();
    m_claimed.clear();
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
    endFinishedWindow();
    pump();
    m_host.setRequestsEnabled(true);
    m_running = false;
}

// Opens `path` to learn whether it can be converted and closes it again: a handle, or
// PDFTOX_NEEDS_PASSWORD, PDFTOX_WRONG_PASSWORD or another failure.
int ConversionRun::probe(const QString& path, const QString& password) {
    return platform::RunBesideEvents([&] {
        const int result = m_library.OpenPDF(path, password);
        if (result > 0) {
            m_library.ClosePDF(result);
        }
        return result;
    });
}

// Asks for the password of a protected file until it opens or the user gives none; the
// password that opened it, or empty text.
QString ConversionRun::askPasswords(const QString& path, int* probeResult) {
    const QString name = platform::GetFileNameFromPath(path, m_setup.conventions);
    auto protectedResult = [](int r) {
        return r == PDFTOX_NEEDS_PASSWORD || r == PDFTOX_WRONG_PASSWORD;
    };
    QString password = platform::Prompts::current().askPassword(
        QStringLiteral("The file %1 is protected. Enter its password:").arg(name),
        QStringLiteral("Password"));
    *probeResult = probe(path, password);
    while (!password.isEmpty() && protectedResult(*probeResult)) {
        password = platform::Prompts::current().askPassword(
            QStringLiteral("The password was not right. Enter the password of %1:").arg(name),
            QStringLiteral("Password"));
        *probeResult = probe(path, password);
    }
    return protectedResult(*probeResult) ? QString() : password;
}

// The "Export finished" window of this application folder goes when the next file starts and
// when the run ends; another program that happens to be called "pro" is none of ours.
void ConversionRun::endFinishedWindow() {
    const Conventions& conv = m_setup.conventions;
    m_processes.endProgram(conv.join(m_setup.appFolder, conv.exe(QStringLiteral("pro"))));
}

void ConversionRun::processHead() {
    m_commandLine.clear();
    m_toolEnvironment.clear();
    m_madeFolder.clear();
    m_decryptionFailed = false;
    endFinishedWindow();
    pump();

    m_entry = m_queue.head();
    const QString path = m_entry.path;
    m_report = ConversionHost::FileReport();
    m_report.path = path;

    int result = probe(path, QString());
    m_host.setStatus(QStringLiteral("Preparing File..."));
    pump();

    QString password;
    const bool isProtected = result == PDFTOX_NEEDS_PASSWORD || result == PDFTOX_WRONG_PASSWORD;
    if (isProtected) {
        password = askPasswords(path, &result);
    }
    // Handles are positive: anything else that is not a password request means the file
    // cannot be opened.
    if (result <= 0) {
        m_report.outcome = Outcome::Skipped;
        m_report.reason =
            isProtected ? QStringLiteral("it is protected and no right password was given")
            : !QFileInfo::exists(path)  ? QStringLiteral("it does not exist")
            : result == PDFTOX_NO_PAGES ? QStringLiteral("it has no pages")
                                        : QStringLiteral("it cannot be opened as a PDF file");
        finishEntry();
        return;
    }

    if (password.isEmpty()) {
        dispatch(path, path, QString());
    } else {
        dispatch(path, decrypt(path, password), password);
    }
    if (!m_commandLine.isEmpty()) {
        runTool(m_commandLine, m_toolEnvironment);
        // A failed HTML conversion leaves no empty folder behind (rmdir keeps a full one).
        if (m_report.outcome != Outcome::Written && !m_madeFolder.isEmpty()) {
            QDir().rmdir(m_madeFolder);
        }
    }
    pump();
    finishEntry();
}

// The file in work leaves the queue (unless its row was removed by hand meanwhile) and its
// report is kept and told.
void ConversionRun::finishEntry() {
    m_queue.removeId(m_entry.id);
    m_entry = {};
    m_reports.append(m_report);
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

    // The password goes to the tool on its standard input, never into a command line, which
    // every user of the machine can read from the process list; the line names the marker
    // that tells the tool to read it there.
    const ToolCommand command =
        DecryptionCommandLine(conv, m_setup.appFolder, QStringLiteral("PROMPT"));
    platform::StartOptions options;
    options.input = password.toUtf8() + '\n';
    const qint64 pid = m_processes.startHidden(command.commandLine, options);
    m_host.setStatus(QStringLiteral("Decrypting PDF File..."));
    m_processes.waitForEnd(pid);

    // Only the command-line tools read the decrypted copy; the library opens the queued file
    // with the password, so a Word or image export does not fail with the copy.
    const std::optional<OutputFormat> format = m_settings.format();
    m_decryptionFailed = !QFileInfo::exists(decrypted);
    const bool readsCopy = format && formatInfo(*format).backend != Backend::LibraryText &&
                           formatInfo(*format).backend != Backend::LibraryImage;
    if (readsCopy && m_decryptionFailed) {
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
    const std::optional<OutputFormat> format = m_settings.format();
    m_report.format = format;
    if (!format) {
        m_report.outcome = Outcome::Skipped;
        m_report.reason = QStringLiteral("no output format was chosen");
        return;
    }
    const FormatInfo& info = formatInfo(*format);
    const QString given = platform::FileBaseName(queuedPath, conv);
    // What the output is called, a file or a folder, and so what two files of one run must
    // not share: the later one takes the next free name, "report (2)", and is told so.
    const bool folderOutput = info.writesFolder || info.backend == Backend::HtmlTool;
    const auto claimOf = [&](const QString& name) {
        return m_outputFolder + name + (folderOutput ? QString() : QLatin1String(info.extension));
    };
    QString base = given;
    for (int k = 2; m_claimed.contains(claimOf(base)); ++k) {
        base = QStringLiteral("%1 (%2)").arg(given).arg(k);
    }
    if (base != given) {
        addNote(QStringLiteral("named \"%1\": an earlier file of this run is named \"%2\"")
                    .arg(base, given));
    }
    const QString stem = m_outputFolder + base;
    const QString written = info.backend == Backend::HtmlTool
                                ? stem + conv.separator + base + QLatin1String(info.extension)
                                : claimOf(base);
    // The output is never written over the file being converted (a PDF named "notes.txt"
    // converted to Text in its own folder).
    if (platform::SameFile(written, queuedPath)) {
        m_report.outcome = Outcome::Skipped;
        m_report.reason =
            QStringLiteral("its output %1 would be written over the file itself").arg(written);
        m_report.note.clear();
        return;
    }
    m_claimed.insert(claimOf(base));

    ToolCommand command;
    switch (info.backend) {
    case Backend::LibraryText:
    case Backend::LibraryImage:
        exportWithLibrary(*format, queuedPath, password, stem);
        return;
    case Backend::TextTool:
        command = TextCommandLine(conv, m_setup.appFolder, source, stem, rowValues());
        m_report.output = stem + QLatin1String(info.extension);
        break;
    case Backend::HtmlTool:
        if (QDir().mkdir(stem)) {
            m_madeFolder = stem;
        }
        command = HtmlCommandLine(conv, m_setup.appFolder, source, stem, base, rowValues());
        // Said either way, so that a LUMADOC_OCR of the user's own environment does not
        // overrule the setting.
        m_toolEnvironment = {m_setup.textRecognition ? QStringLiteral("LUMADOC_OCR=1")
                                                     : QStringLiteral("LUMADOC_OCR=0")};
        m_report.output = stem + conv.separator + base + QLatin1String(info.extension);
        break;
    case Backend::FlashTool:
        command = FlashCommandLine(conv, m_setup.appFolder, source, stem, rowValues());
        m_report.output = stem + QLatin1String(info.extension);
        break;
    }
    m_commandLine = command.commandLine;
    m_toolExe = command.exeName;
    m_host.setStatus(QStringLiteral("Please wait for few minutes..."));
    // The HTML converter shows no animation while it works.
    if (info.backend != Backend::HtmlTool) {
        m_host.setAnimation(true);
    }
}

void ConversionRun::exportWithLibrary(OutputFormat format, const QString& queuedPath,
                                      const QString& password, const QString& stem) {
    const FormatInfo& info = formatInfo(format);
    const int handle =
        platform::RunBesideEvents([&] { return m_library.OpenPDF(queuedPath, password); });
    const int pages = m_library.GetPageNum(handle);
    const auto [first, last] =
        pageRange(m_settings.value(Row::FirstPage), m_settings.value(Row::LastPage), pages);
    // A range without a page (first 5, last 2) writes nothing rather than an empty document.
    if (handle > 0 && first > last) {
        m_library.ClosePDF(handle);
        m_report.outcome = Outcome::Skipped;
        m_report.reason =
            QStringLiteral("the page range %1 to %2 holds no page").arg(first).arg(last);
        return;
    }

    if (info.writesFolder) {
        QDir().mkdir(stem);
        m_report.output = stem;
        m_report.outputIsFolder = true;
    } else {
        m_report.output = stem + QLatin1String(info.extension);
    }
    const QString target =
        info.writesFolder ? stem + m_setup.conventions.separator : m_report.output;

    // The library keeps the switch for the whole process (and the window's library outlives
    // its runs): each export is told the setting of its own run.
    m_library.SetTextRecognition(m_setup.textRecognition ? 1 : 0);
    ConversionRun* previous = g_exporting;
    g_exporting = this;
    QObject relay;
    m_progressRelay = &relay;
    const int result = platform::RunBesideEvents([&, first = first, last = last] {
        return info.writesFolder
                   ? m_library.ExportIMG(handle, target, QString(), info.imageTypeCode, 120,
                                         info.imageColorDepth, first, last, exportProgressThunk)
                   : m_library.ExportRTF(handle, target, first, last, exportProgressThunk);
    });
    m_progressRelay = nullptr;
    g_exporting = previous;
    m_library.ClosePDF(handle);

    if (handle <= 0) {
        m_report.outcome = Outcome::Failed;
        m_report.reason = QStringLiteral("it cannot be opened as a PDF file");
        return;
    }
    // Pages of the range that lie inside the document: the images there should be.
    const long long inside = std::max(0LL, static_cast<long long>(std::min(last, pages)) -
                                               static_cast<long long>(std::max(first, 1)) + 1);
    judgeLibraryResult(result, info.writesFolder, inside);
    if (m_report.outcome == Outcome::Written) {
        if (const int cutShort = m_library.PagesCutShort(); cutShort > 0) {
            addNote(tooComplex(cutShort));
        }
    }
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
    case PDFTOX_NAME_TOO_LONG:
        m_report.reason = QStringLiteral("the output's name is too long for the file system");
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

int ConversionRun::progressFromExport(int firstPage, int lastPage, int pagesDone) {
    if (!m_progressRelay) {
        return ExportProgress(firstPage, lastPage, pagesDone);
    }
    // Called on the export's thread: shown on the run's thread, in the order of the calls,
    // by the event loop that waits for the export (which needs no pumping of its own).
    QMetaObject::invokeMethod(
        m_progressRelay,
        [this, firstPage, lastPage, pagesDone] {
            showProgress(firstPage, lastPage, pagesDone, false);
        },
        Qt::QueuedConnection);
    return 1;
}

int ConversionRun::ExportProgress(int firstPage, int lastPage, int pagesDone) {
    showProgress(firstPage, lastPage, pagesDone, true);
    return 1;
}

void ConversionRun::showProgress(int firstPage, int lastPage, int pagesDone, bool pumpEvents) {
    const long long span = static_cast<long long>(lastPage) - firstPage + 1;
    // A range without pages counts as complete rather than dividing by zero.
    const int percent = span > 0 ? RoundToInt(double(pagesDone) / double(span) * 100.0) : 100;
    if (percent < 100) {
        m_host.setStatus(QString::number(percent) + QChar('%'));
        m_host.setProgressWidth(RoundToInt(percent / 100.0 * ProgressWidthTwips));
        m_host.setProgress(percent);
    } else {
        m_host.setProgressWidth(ProgressWidthTwips);
        m_host.setProgress(100);
        m_host.setStatus(QStringLiteral("Exporting File..."));
        m_host.showExportFinished();
    }
    if (pumpEvents) {
        pump();
    }
}

void ConversionRun::runTool(const QString& commandLine, const QStringList& environment) {
    pump();
    platform::StartOptions options;
    options.environment = environment;
    const qint64 pid = m_processes.startHidden(commandLine, options);
    const int status = m_processes.waitForEnd(pid);

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
    if (status == TOOL_CUT_SHORT) {
        addNote(tooComplex(1));
    }
}

// A page that draws itself for too long (forms drawing one another without end) is cut short
// after its time, so that a run always ends; its output says so.
QString ConversionRun::tooComplex(int pages) {
    return pages == 1 ? QStringLiteral("a page is too complex: it was cut short")
                      : QStringLiteral("%1 pages are too complex: they were cut short").arg(pages);
}

void ConversionRun::addNote(const QString& note) {
    m_report.note += (m_report.note.isEmpty() ? QString() : QStringLiteral("; ")) + note;
}

} // namespace convert
