#include "cli_front_end.h"

#include "convert/conversion_job.h"
#include "convert/conversion_queue.h"
#include "convert/conversion_run.h"
#include "convert/export_library.h"

#include "platform/app_folders.h"
#include "platform/conventions.h"

#include "platform/paths.h"
#include "platform/prompts.h"
#include "platform/raw_names.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace shell {

using namespace convert;
namespace {

void err(const QString& text) {
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

/// Progress on the terminal: the status of the file in work on one line that is rewritten.
class TerminalHost : public ConversionHost {
public:
    TerminalHost() : m_tty(isatty(STDERR_FILENO)) {}

    void setStatus(const QString& text) override {
        if (m_tty) {
            std::fprintf(stderr, "\r\033[K%s", text.toLocal8Bit().constData());
            std::fflush(stderr);
        }
    }
    void setProgress(int) override {}
    void setProgressWidth(int) override {}
    void setAnimation(bool) override {}
    void setRequestsEnabled(bool) override {}
    void openFolder(const QString&) override {}
    void playSound(const QString&) override {}
    void showExportFinished() override {}

    void fileDone(const FileReport& report) override {
        if (m_tty) {
            std::fprintf(stderr, "\r\033[K");
        }
        QString line = platform::ShownPath(report.path) + QStringLiteral(": ");
        switch (report.outcome) {
        case FileReport::Outcome::Written:
            line += QStringLiteral("wrote ") + report.output;
            if (!report.note.isEmpty()) {
                line += QStringLiteral(" (") + report.note + QChar(')');
            }
            break;
        case FileReport::Outcome::Failed:
            line += QStringLiteral("failed: ") + report.reason;
            break;
        case FileReport::Outcome::Skipped:
            line += QStringLiteral("skipped: ") + report.reason;
            break;
        }
        // One line a file, whatever its name holds.
        line.replace(QChar('\n'), QStringLiteral("\\n"))
            .replace(QChar('\r'), QStringLiteral("\\r"));
        std::printf("%s\n", line.toLocal8Bit().constData());
        std::fflush(stdout);
    }

private:
    bool m_tty;
};

// The terminal shows no "Export finished" window, so it ends none: a window of Lumadoc running
// beside it stays open.
class TerminalProcesses : public platform::ForwardingProcesses {
public:
    void endByName(const QString&) override {}
    void endProgram(const QString&) override {}
    bool startDetached(const QString&, platform::StartWindow) override { return false; }
};

// Ctrl-C or a termination request: the export in progress stops after the pages in hand and
// no further file is started. A second signal ends the program at once (its outputs are
// written under no name until complete, so none is left half-written).
volatile std::sig_atomic_t g_stopSignal = 0;
ExportLibrary::StopFn g_stopExports = nullptr;

extern "C" void onStopSignal(int signal) {
    g_stopSignal = signal;
    if (g_stopExports) {
        g_stopExports();
    }
}

void installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    action.sa_flags = int(SA_RESETHAND);
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

/// Passwords from --password, then from the terminal without echo; messages on standard error.
class TerminalPrompts : public platform::Prompts {
public:
    explicit TerminalPrompts(QString password) : m_password(std::move(password)) {}

    void showMessage(const QString& text, platform::MessageIcon, const QString& title) override {
        err(title + QStringLiteral(": ") +
            QString(text).replace(QStringLiteral("\r\n"), QStringLiteral(" ")));
    }

    QString askPassword(const QString& prompt, const QString&) override {
        // The given password is tried once per file; a wrong one is asked for again only on a
        // terminal.
        const bool firstAsk = !prompt.startsWith(QStringLiteral("The password was not right"));
        if (firstAsk && !m_password.isEmpty()) {
            return m_password;
        }
        if (!isatty(STDIN_FILENO)) {
            return {};
        }
        std::fprintf(stderr, "\r\033[K%s ", prompt.toLocal8Bit().constData());
        std::fflush(stderr);
        termios old{};
        tcgetattr(STDIN_FILENO, &old);
        termios quiet = old;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
        char buffer[1024];
        const bool got = std::fgets(buffer, sizeof buffer, stdin) != nullptr;
        tcsetattr(STDIN_FILENO, TCSANOW, &old);
        std::fprintf(stderr, "\n");
        QString answer = got ? QString::fromLocal8Bit(buffer) : QString();
        while (answer.endsWith(QChar('\n')) || answer.endsWith(QChar('\r'))) {
            answer.chop(1);
        }
        return answer;
    }

private:
    QString m_password;
};

} // namespace

QString convertUsage() {
    return convert::convertUsage(platform::DefaultOutputFolder());
}

int convertCommand(const QStringList& args) {
    const ParsedConvertCommand parsed = parseConvertArguments(args);
    switch (parsed.kind) {
    case ParsedConvertCommand::Kind::Help:
        std::printf("%s", convertUsage().toLocal8Bit().constData());
        return 0;
    case ParsedConvertCommand::Kind::UsageError:
        err(QStringLiteral("lumadoc-cli convert: ") + parsed.error);
        err(convertUsage().trimmed());
        return 2;
    case ParsedConvertCommand::Kind::Run:
        break;
    }
    ConversionJob job = parsed.job;
    if (!job.passwordSource.isEmpty()) {
        // The first line of the file or of the standard input, its line end left out.
        QFile source;
        const bool opened =
            job.passwordSource == QStringLiteral("-")
                ? source.open(stdin, QIODevice::ReadOnly)
                : (source.setFileName(job.passwordSource), source.open(QIODevice::ReadOnly));
        if (!opened) {
            err(QStringLiteral("lumadoc-cli convert: cannot read the password from ") +
                job.passwordSource);
            return 2;
        }
        QByteArray line = source.readLine();
        while (line.endsWith('\n') || line.endsWith('\r')) {
            line.chop(1);
        }
        job.password = QString::fromUtf8(line);
    }

    ConversionSettings settings;
    job.apply(settings);
    const platform::Conventions conv = platform::Conventions::host();
    ConversionQueue queue;
    for (const QString& file : job.inputs) {
        const QFileInfo info(file);
        if (info.isDir()) {
            // The PDF files of the folder tree, in the order a file manager shows them.
            QStringList found;
            platform::SearchPdfFiles(info.absoluteFilePath(), found, conv);
            for (const QString& pdf : found) {
                queue.append(pdf);
            }
        } else {
            queue.append(info.absoluteFilePath());
        }
    }
    const int queued = queue.count();
    const QString folder = job.outputFolder.isEmpty()
                               ? platform::DefaultOutputFolder()
                               : QFileInfo(job.outputFolder).absoluteFilePath();
    QDir().mkpath(folder);

    TerminalHost host;
    TerminalProcesses processes;
    TerminalPrompts prompts(job.password);
    platform::Prompts::install(&prompts);
    ExportLibrary library(conv.join(platform::AppFolder(), QStringLiteral("libpdftox.so")));
    g_stopExports = library.stopFunction();
    installStopHandlers();
    ConversionRun::Setup setup{conv,
                               platform::AppFolder(),
                               [folder] { return folder; },
                               platform::DefaultOutputFolder(),
                               true,
                               [] { return g_stopSignal != 0; },
                               &processes,
                               job.textRecognition.value_or(true)};
    ConversionRun run(setup, queue, settings, host, library);
    run.RunConversion();
    platform::Prompts::install(nullptr);
    if (g_stopSignal != 0) {
        const int notStarted = queued - int(run.reports().size());
        err(notStarted > 0 ? QStringLiteral("lumadoc-cli: stopped; %1 of %2 files were not started")
                                 .arg(notStarted)
                                 .arg(queued)
                           : QStringLiteral("lumadoc-cli: stopped"));
        return 128 + g_stopSignal;
    }
    if (queued == 0) {
        err(QStringLiteral("lumadoc-cli convert: no PDF file found"));
        return 1;
    }
    return run.allWritten() && run.reports().size() == queued ? 0 : 1;
}

} // namespace shell
