#include "cli_front_end.h"

#include "conversion_queue.h"
#include "conversion_run.h"
#include "export_library.h"
#include "numeric.h"
#include "output_format.h"

#include "platform/app_folders.h"
#include "platform/conventions.h"
#include "platform/paths.h"
#include "platform/prompts.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <csignal>
#include <cstdio>
#include <optional>
#include <termios.h>
#include <unistd.h>

namespace convert {
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
        QString line = report.path + QStringLiteral(": ");
        switch (report.outcome) {
        case FileReport::Outcome::Written:
            line += QStringLiteral("wrote ") + report.output;
            break;
        case FileReport::Outcome::Failed:
            line += QStringLiteral("failed: ") + report.reason;
            break;
        case FileReport::Outcome::Skipped:
            line += QStringLiteral("skipped: ") + report.reason;
            break;
        }
        std::printf("%s\n", line.toLocal8Bit().constData());
        std::fflush(stdout);
        m_allWritten = m_allWritten && report.outcome == FileReport::Outcome::Written;
        ++m_files;
    }

    bool allWritten() const { return m_allWritten; }
    int files() const { return m_files; }

private:
    bool m_tty;
    bool m_allWritten = true;
    int m_files = 0;
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
    action.sa_flags = SA_RESETHAND;
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

bool digitsOnly(const QString& s) {
    if (s.isEmpty()) {
        return false;
    }
    for (const QChar c : s) {
        if (!c.isDigit() || c.unicode() > 127) {
            return false;
        }
    }
    return true;
}

std::optional<bool> yesNo(const QString& value) {
    const QString v = value.toLower();
    if (v.isEmpty() || v == QStringLiteral("yes") || v == QStringLiteral("y") ||
        v == QStringLiteral("on")) {
        return true;
    }
    if (v == QStringLiteral("no") || v == QStringLiteral("n") || v == QStringLiteral("off")) {
        return false;
    }
    return std::nullopt;
}

} // namespace

QString convertUsage() {
    return QStringLiteral(
               "usage: lumadoc-cli convert --to FORMAT [options] FILE.pdf|FOLDER...\n"
               "  --to FORMAT            doc, rtf, txt, jpg, bmp, gif, png, tif, html or swf\n"
               "  -o, --output FOLDER    where the results go (default: %1)\n"
               "  --first N              first page to convert (default 1)\n"
               "  --last N               last page to convert (default: the last page)\n"
               "  --password TEXT        password of protected files (otherwise asked on the "
               "terminal)\n"
               "  --page-breaks[=yes|no] txt: page-break characters between pages (default yes)\n"
               "  --fps N                swf: frames (pages) per second, up to 10 (default 0.5)\n"
               "  --compress[=yes|no]    swf: compressed movie (default yes)\n"
               "  --play-button[=yes|no] swf: a viewer with play, back and next buttons (default "
               "no)\n")
        .arg(platform::DefaultOutputFolder());
}

int convertCommand(const QStringList& args) {
    int format = -1;
    QString output;
    QString first = QStringLiteral("1");
    QString last = QStringLiteral("ALL PAGES");
    QString password;
    std::optional<bool> pageBreaks, compress, playButton;
    QString fps;
    QStringList files;

    auto usageError = [](const QString& why) {
        err(QStringLiteral("lumadoc-cli convert: ") + why);
        err(convertUsage().trimmed());
        return 2;
    };

    for (int i = 0; i < args.size(); ++i) {
        QString arg = args[i];
        QString inlineValue;
        bool hasInline = false;
        if (arg.startsWith(QStringLiteral("--")) && arg.contains(QChar('='))) {
            inlineValue = arg.mid(arg.indexOf(QChar('=')) + 1);
            arg = arg.left(arg.indexOf(QChar('=')));
            hasInline = true;
        }
        auto value = [&](QString* out) {
            if (hasInline) {
                *out = inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                return false;
            }
            *out = args[++i];
            return true;
        };
        QString v;
        if (arg == QStringLiteral("--to")) {
            if (!value(&v) || (format = formatFromExtension(v)) < 0) {
                return usageError(QStringLiteral(
                    "--to needs one of doc, rtf, txt, jpg, bmp, gif, png, tif, html, swf"));
            }
        } else if (arg == QStringLiteral("-o") || arg == QStringLiteral("--output")) {
            if (!value(&output) || output.isEmpty()) {
                return usageError(QStringLiteral("-o needs a folder"));
            }
        } else if (arg == QStringLiteral("--first") || arg == QStringLiteral("--last")) {
            if (!value(&v) || !digitsOnly(v)) {
                return usageError(arg + QStringLiteral(" needs a page number"));
            }
            (arg == QStringLiteral("--first") ? first : last) = v;
        } else if (arg == QStringLiteral("--password")) {
            if (!value(&password)) {
                return usageError(QStringLiteral("--password needs a text"));
            }
        } else if (arg == QStringLiteral("--fps")) {
            if (!value(&fps) || !(NumericValue(fps) > 0 && NumericValue(fps) <= 10) ||
                fps.contains(QRegularExpression(QStringLiteral("[^0-9.]")))) {
                return usageError(QStringLiteral("--fps needs a number above 0 and up to 10"));
            }
        } else if (arg == QStringLiteral("--page-breaks") || arg == QStringLiteral("--compress") ||
                   arg == QStringLiteral("--play-button")) {
            const std::optional<bool> choice = yesNo(hasInline ? inlineValue : QString());
            if (!choice) {
                return usageError(arg + QStringLiteral(" takes yes or no"));
            }
            (arg == QStringLiteral("--page-breaks") ? pageBreaks
             : arg == QStringLiteral("--compress")  ? compress
                                                    : playButton) = choice;
        } else if (arg == QStringLiteral("-h") || arg == QStringLiteral("--help")) {
            std::printf("%s", convertUsage().toLocal8Bit().constData());
            return 0;
        } else if (arg.startsWith(QChar('-')) && arg.size() > 1) {
            return usageError(QStringLiteral("unknown option ") + arg);
        } else {
            files.append(args[i]);
        }
    }
    if (format < 0) {
        return usageError(QStringLiteral("say the output format with --to"));
    }
    if (files.isEmpty()) {
        return usageError(QStringLiteral("no PDF file given"));
    }
    if ((pageBreaks && format != Text) ||
        ((compress || playButton || !fps.isEmpty()) && format != Flash)) {
        return usageError(QStringLiteral(
            "--page-breaks is for txt; --fps, --compress and --play-button are for swf"));
    }

    ConversionSettings settings;
    settings.cmbOF_Click(format);
    settings.setValue(1, first);
    settings.setValue(2, last);
    if (format == Text && pageBreaks) {
        settings.setValue(3, *pageBreaks ? QStringLiteral("YES") : QStringLiteral("NO"));
    }
    if (format == Flash) {
        if (compress) {
            settings.setValue(3, *compress ? QStringLiteral("YES") : QStringLiteral("NO"));
        }
        if (!fps.isEmpty()) {
            settings.setValue(4, fps);
        }
        if (playButton) {
            settings.setValue(5, *playButton ? QStringLiteral("YES") : QStringLiteral("NO"));
        }
    }

    const platform::Conventions conv = platform::Conventions::host();
    ConversionQueue queue;
    for (const QString& file : files) {
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
    const QString folder =
        output.isEmpty() ? platform::DefaultOutputFolder() : QFileInfo(output).absoluteFilePath();
    QDir().mkpath(folder);

    TerminalHost host;
    TerminalPrompts prompts(password);
    platform::Prompts::install(&prompts);
    ExportLibrary library(conv.join(platform::AppFolder(), QStringLiteral("libpdftox.so")));
    g_stopExports = library.stopFunction();
    installStopHandlers();
    ConversionRun::Setup setup{conv,
                               platform::AppFolder(),
                               [folder] { return folder; },
                               platform::DefaultOutputFolder(),
                               true,
                               [] { return g_stopSignal != 0; }};
    ConversionRun run(setup, queue, settings, host, library);
    run.RunConversion();
    platform::Prompts::install(nullptr);
    if (g_stopSignal != 0) {
        const int notStarted = queued - host.files();
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
    return host.allWritten() && host.files() == queued ? 0 : 1;
}

} // namespace convert
