// `lumadoc-cli images2pdf`: one PDF from images through the same assembly as the image window.
#include "cli_front_end.h"

#include "images2pdf/document_info.h"
#include "images2pdf/image_assembly.h"
#include "images2pdf/page_writer.h"

#include "platform/app_folders.h"
#include "platform/conventions.h"
#include "platform/paths.h"
#include "platform/prompts.h"

#include <QFileInfo>

#include <cstdio>
#include <unistd.h>

namespace shell {
namespace {

using images2pdf::DocumentInfo;

void err(const QString& text) {
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

/// Progress on the terminal: the assembly's status on one line that is rewritten.
class TerminalAssemblyHost : public images2pdf::AssemblyHost {
public:
    TerminalAssemblyHost() : m_tty(isatty(STDERR_FILENO)) {}
    ~TerminalAssemblyHost() override {
        if (m_tty) {
            std::fprintf(stderr, "\r\033[K");
        }
    }

    void setStatus(const QString& text) override {
        if (m_tty) {
            std::fprintf(stderr, "\r\033[K%s", text.toLocal8Bit().constData());
            std::fflush(stderr);
        }
    }
    void setProgress(int) override {}
    void setRequestsEnabled(bool) override {}
    void setOutputFolderText(const QString&) override {}
    void openFolder(const QString&) override {}
    void beep() override {}

private:
    bool m_tty;
};

class TerminalMessages : public platform::Prompts {
public:
    void showMessage(const QString& text, platform::MessageIcon, const QString& title) override {
        if (isatty(STDERR_FILENO)) {
            std::fprintf(stderr, "\r\033[K"); // over the progress line
        }
        err(QStringLiteral("lumadoc-cli images2pdf: ") +
            (title == platform::applicationTitle() ? QString() : title + QStringLiteral(": ")) +
            text);
    }
    QString askPassword(const QString&, const QString&) override { return {}; }
};

struct ParsedImagesCommand {
    bool help = false;
    QString error;
    DocumentInfo info;
    QString outputFolder;
    QStringList inputs;
};

ParsedImagesCommand parse(const QStringList& args) {
    ParsedImagesCommand parsed;
    parsed.info.creationDate = images2pdf::PdfDateNow();
    parsed.info.modifyDate = parsed.info.creationDate;
    const struct {
        const char* option;
        QString DocumentInfo::*field;
    } fields[] = {
        {"--title", &DocumentInfo::title},          {"--author", &DocumentInfo::author},
        {"--subject", &DocumentInfo::subject},      {"--keywords", &DocumentInfo::keywords},
        {"--created", &DocumentInfo::creationDate}, {"--modified", &DocumentInfo::modifyDate}};
    bool optionsDone = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (optionsDone || !arg.startsWith(QChar('-')) || arg == QStringLiteral("-")) {
            parsed.inputs += arg;
            continue;
        }
        if (arg == QStringLiteral("--")) {
            optionsDone = true;
            continue;
        }
        if (arg == QStringLiteral("--help") || arg == QStringLiteral("-h")) {
            parsed.help = true;
            return parsed;
        }
        // --name VALUE or --name=VALUE
        QString name = arg;
        QString value;
        bool inlineValue = false;
        if (const qsizetype eq = arg.indexOf(QChar('=')); eq > 0 && arg.startsWith(u"--")) {
            name = arg.left(eq);
            value = arg.mid(eq + 1);
            inlineValue = true;
        }
        const auto take = [&]() -> bool {
            if (inlineValue) {
                return true;
            }
            if (i + 1 >= args.size()) {
                parsed.error = name + QStringLiteral(" needs a value");
                return false;
            }
            value = args[++i];
            return true;
        };
        bool known = false;
        for (const auto& f : fields) {
            if (name == QLatin1String(f.option)) {
                if (!take()) {
                    return parsed;
                }
                parsed.info.*f.field = value;
                known = true;
            }
        }
        if (name == QStringLiteral("-o") || name == QStringLiteral("--output")) {
            if (!take()) {
                return parsed;
            }
            parsed.outputFolder = value;
            known = true;
        }
        if (!known) {
            parsed.error = QStringLiteral("unknown option ") + name;
            return parsed;
        }
    }
    if (parsed.outputFolder.isEmpty()) {
        parsed.error = QStringLiteral("the output folder (-o FOLDER) is missing");
    } else if (parsed.inputs.isEmpty()) {
        parsed.error = QStringLiteral("no image or folder given");
    }
    return parsed;
}

} // namespace

QString imagesUsage() {
    return QStringLiteral(
        "usage: lumadoc-cli images2pdf [--title T] [--author A] [--subject S] [--keywords K]\n"
        "                              [--created D] [--modified D] -o FOLDER IMAGE-OR-FOLDER...\n"
        "\n"
        "Makes one PDF, one page per image in the order given (a folder adds its images and\n"
        "those of its subfolders in the order a file manager shows them), named after the\n"
        "title (\"New Title\" unless given): FOLDER/TITLE.pdf. Images: JPEG, PNG, BMP, GIF, TIFF.\n"
        "The dates are PDF dates such as D:20260105090307+01'00; both default to now.\n"
        "Exit status: 0 when the PDF was written, 1 when it was not, 2 for a usage error.\n");
}

int imagesCommand(const QStringList& args) {
    const ParsedImagesCommand parsed = parse(args);
    if (parsed.help) {
        std::printf("%s", imagesUsage().toLocal8Bit().constData());
        return 0;
    }
    if (!parsed.error.isEmpty()) {
        err(QStringLiteral("lumadoc-cli images2pdf: ") + parsed.error);
        err(imagesUsage().section(QChar('\n'), 0, 1));
        return 2;
    }
    const platform::Conventions conv = platform::Conventions::host();
    QStringList images;
    for (const QString& input : parsed.inputs) {
        const QFileInfo info(input);
        if (info.isDir()) {
            platform::SearchImageFiles(info.absoluteFilePath(), images, conv);
        } else {
            images += info.absoluteFilePath();
        }
    }
    if (images.isEmpty()) {
        err(QStringLiteral("lumadoc-cli images2pdf: no image found"));
        return 1;
    }

    TerminalMessages messages;
    platform::Prompts::install(&messages);
    TerminalAssemblyHost host;
    images2pdf::PageWriter writer(images2pdf::PageWriter::defaultPath());
    images2pdf::ImageAssembly::Setup setup;
    setup.conventions = conv;
    setup.appFolder = platform::AppFolder();
    // The terminal leaves the window's saved fields alone.
    setup.settingsPath = conv.join(conv.tmpFolder, QStringLiteral("quillsetting.dll"));
    setup.defaultOutputFolder = platform::DefaultOutputFolder();
    images2pdf::ImageAssembly assembly(setup, host, writer);
    const QString folder = QFileInfo(parsed.outputFolder).absoluteFilePath();
    const images2pdf::ImageAssembly::Result result = assembly.Run(images, folder, parsed.info);
    platform::Prompts::install(nullptr);
    if (!result.written()) {
        return 1;
    }
    std::printf("%s: %lld pages\n", result.output.toLocal8Bit().constData(),
                static_cast<long long>(images.size()));
    return 0;
}

} // namespace shell
