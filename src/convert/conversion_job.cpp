#include "conversion_job.h"

#include "numeric.h"

namespace convert {
namespace {

bool digitsOnly(const QString& s) {
    if (s.isEmpty()) {
        return false;
    }
    for (const QChar c : s) {
        if (c < QChar('0') || c > QChar('9')) {
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

QString ConversionJob::apply(ConversionSettings& settings) const {
    settings.selectFormat(format);
    QString changed;
    auto set = [&](int row, const QString& value) {
        settings.setData(settings.index(row - 1, ConversionSettings::ValueColumn), value);
        if (changed.isEmpty() && settings.value(row) != value) {
            changed = settings.rows()[row - 1].label;
        }
    };
    auto choice = [](bool on) { return on ? Yes : No; };
    set(Row::FirstPage, firstPage);
    set(Row::LastPage, lastPage);
    if (format == OutputFormat::Text && pageBreaks) {
        set(Row::PageBreaks, choice(*pageBreaks));
    }
    if (format == OutputFormat::Flash) {
        if (compress) {
            set(Row::Flash6Compression, choice(*compress));
        }
        if (fps) {
            set(Row::Fps, *fps);
        }
        if (playButton) {
            set(Row::PlayButton, choice(*playButton));
        }
    }
    return changed;
}

QString convertUsage(const QString& defaultOutputFolder) {
    return QStringLiteral(
               "usage: lumadoc-cli convert --to FORMAT [options] FILE.pdf|FOLDER...\n"
               "  --to FORMAT            %1\n"
               "  -o, --output FOLDER    where the results go (default: %2)\n"
               "  --first N              first page to convert (default 1)\n"
               "  --last N               last page to convert (default: the last page)\n"
               "  --password TEXT        password of protected files (otherwise asked on the "
               "terminal);\n"
               "                         other users of the machine can read it while the run "
               "lasts\n"
               "  --password -           the password is the first line of the standard input\n"
               "  --password-file FILE   the password is the first line of FILE\n"
               "  --page-breaks[=yes|no] txt: page-break characters between pages (default yes)\n"
               "  --fps N                swf: frames (pages) per second, up to 10 (default 0.5)\n"
               "  --compress[=yes|no]    swf: compressed movie (default yes)\n"
               "  --play-button[=yes|no] swf: a viewer with play, back and next buttons (default "
               "no)\n"
               "  --ocr[=yes|no]         doc, rtf, html: recognise the text of scanned pages "
               "(default yes)\n")
        .arg(shortNameList(QStringLiteral(", ")), defaultOutputFolder);
}

ParsedConvertCommand parseConvertArguments(const QStringList& args) {
    ParsedConvertCommand parsed;
    ConversionJob& job = parsed.job;
    auto usageError = [&parsed](const QString& why) {
        parsed.kind = ParsedConvertCommand::Kind::UsageError;
        parsed.error = why;
        return parsed;
    };

    bool formatGiven = false;
    for (int i = 0; i < args.size(); ++i) {
        QString arg = args[i];
        // "--" ends the options: what follows are files, "-report.pdf" too.
        if (arg == QStringLiteral("--")) {
            job.inputs.append(args.mid(i + 1));
            break;
        }
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
            const std::optional<OutputFormat> format =
                value(&v) ? formatFromShortName(v) : std::nullopt;
            if (!format) {
                return usageError(QStringLiteral("--to needs one of ") +
                                  shortNameList(QStringLiteral(", ")));
            }
            job.format = *format;
            formatGiven = true;
        } else if (arg == QStringLiteral("-o") || arg == QStringLiteral("--output")) {
            if (!value(&job.outputFolder) || job.outputFolder.isEmpty()) {
                return usageError(QStringLiteral("-o needs a folder"));
            }
        } else if (arg == QStringLiteral("--first") || arg == QStringLiteral("--last")) {
            if (!value(&v) || !digitsOnly(v)) {
                return usageError(arg + QStringLiteral(" needs a page number"));
            }
            (arg == QStringLiteral("--first") ? job.firstPage : job.lastPage) = v;
        } else if (arg == QStringLiteral("--password")) {
            if (!value(&job.password)) {
                return usageError(QStringLiteral("--password needs a text"));
            }
            if (job.password == QStringLiteral("-")) {
                job.password.clear();
                job.passwordSource = QStringLiteral("-");
            }
        } else if (arg == QStringLiteral("--password-file")) {
            if (!value(&job.passwordSource) || job.passwordSource.isEmpty() ||
                job.passwordSource == QStringLiteral("-")) {
                return usageError(QStringLiteral("--password-file needs a file"));
            }
        } else if (arg == QStringLiteral("--fps")) {
            // A frame rate of 0 stops the movie; the rows themselves accept it.
            if (!value(&v) || !(NumericValue(v) > 0)) {
                return usageError(QStringLiteral("--fps needs a number above 0 and up to 10"));
            }
            job.fps = v;
        } else if (arg == QStringLiteral("--page-breaks") || arg == QStringLiteral("--compress") ||
                   arg == QStringLiteral("--play-button") || arg == QStringLiteral("--ocr")) {
            const std::optional<bool> choice = yesNo(hasInline ? inlineValue : QString());
            if (!choice) {
                return usageError(arg + QStringLiteral(" takes yes or no"));
            }
            (arg == QStringLiteral("--page-breaks") ? job.pageBreaks
             : arg == QStringLiteral("--compress")  ? job.compress
             : arg == QStringLiteral("--ocr")       ? job.textRecognition
                                                    : job.playButton) = choice;
        } else if (arg == QStringLiteral("-h") || arg == QStringLiteral("--help")) {
            parsed.kind = ParsedConvertCommand::Kind::Help;
            return parsed;
        } else if (arg.startsWith(QChar('-')) && arg.size() > 1) {
            return usageError(QStringLiteral("unknown option ") + arg);
        } else {
            job.inputs.append(args[i]);
        }
    }
    if (!formatGiven) {
        return usageError(QStringLiteral("say the output format with --to"));
    }
    if (job.inputs.isEmpty()) {
        return usageError(QStringLiteral("no PDF file given"));
    }
    if ((job.pageBreaks && job.format != OutputFormat::Text) ||
        ((job.compress || job.playButton || job.fps) && job.format != OutputFormat::Flash)) {
        return usageError(QStringLiteral(
            "--page-breaks is for txt; --fps, --compress and --play-button are for swf"));
    }
    // Only these back-ends read scanned pages; elsewhere the option would promise nothing.
    const Backend backend = formatInfo(job.format).backend;
    if (job.textRecognition && backend != Backend::LibraryText && backend != Backend::HtmlTool) {
        return usageError(QStringLiteral("--ocr is for doc, rtf and html"));
    }
    // The value must mean to the run what it says: the rows would take 2.5 frames per second
    // as 0.5 and 11 as 10.
    ConversionSettings rows;
    const QString changed = job.apply(rows);
    if (!changed.isEmpty()) {
        return usageError(changed == QStringLiteral("FPS")
                              ? QStringLiteral("--fps takes whole frames per second from 1 to "
                                               "10, or 0.5")
                              : QStringLiteral("the value for \"%1\" is not one the settings "
                                               "take")
                                    .arg(changed));
    }
    parsed.kind = ParsedConvertCommand::Kind::Run;
    return parsed;
}

} // namespace convert
