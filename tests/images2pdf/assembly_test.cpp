// The assembly of one PDF from images, with the real page-writing library and the real pdftk of
// the application folder; the result read back with qpdf and drawn by poppler.
#include "images2pdf/image_assembly.h"
#include "images2pdf/page_writer.h"

#include "platform/app_folders.h"
#include "platform/command_line.h"
#include "platform/conventions.h"
#include "platform/processes.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include "qt_printers.h"
#include "recording_prompts.h"
#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

using namespace images2pdf;

namespace {

class RecordingHost : public AssemblyHost {
public:
    void setStatus(const QString& text) override { statuses += text; }
    void setProgress(int percent) override { progress += percent; }
    void setRequestsEnabled(bool enabled) override { enabledStates += enabled; }
    void setOutputFolderText(const QString& text) override { folderText = text; }
    void openFolder(const QString& folder) override { opened += folder; }
    void beep() override { ++beeps; }

    QStringList statuses;
    QList<int> progress;
    QList<bool> enabledStates;
    QString folderText;
    QStringList opened;
    int beeps = 0;
};

// The host's processes, remembering the command lines started.
class RecordingProcesses : public platform::ForwardingProcesses {
public:
    qint64 startHidden(const QString& commandLine,
                       const platform::StartOptions& options = {}) override {
        started += commandLine;
        environments += options.environment.join(QLatin1Char(' '));
        return ForwardingProcesses::startHidden(commandLine, options);
    }
    QStringList started;
    QStringList environments;
};

struct PdfPage {
    double width = 0; // points
    double height = 0;
};

struct PdfFacts {
    bool ok = false;
    QList<PdfPage> pages;
    std::map<std::string, std::string> info;
};

PdfFacts readPdf(const QString& path) {
    PdfFacts facts;
    try {
        QPDF pdf;
        pdf.processFile(QFile::encodeName(path).constData());
        for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
            const QPDFObjectHandle::Rectangle box =
                page.getAttribute("/MediaBox", false).getArrayAsRectangle();
            facts.pages.append({box.urx - box.llx, box.ury - box.lly});
        }
        QPDFObjectHandle info = pdf.getTrailer().getKey("/Info");
        if (info.isDictionary()) {
            for (const std::string& key : info.getKeys()) {
                facts.info[key] = info.getKey(key).getUTF8Value();
            }
        }
        facts.ok = true;
    } catch (const std::exception&) {
    }
    return facts;
}

// Page `page` of `pdf` drawn by poppler at 20 dpi.
QImage drawPage(const QString& pdf, int page) {
    QTemporaryDir dir;
    QProcess::execute(QStringLiteral("pdftoppm"),
                      {QStringLiteral("-r"), QStringLiteral("20"), QStringLiteral("-f"),
                       QString::number(page), QStringLiteral("-l"), QString::number(page),
                       QStringLiteral("-png"), QStringLiteral("-singlefile"), pdf,
                       dir.filePath(QStringLiteral("p"))});
    return QImage(dir.filePath(QStringLiteral("p.png")));
}

bool near(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40 &&
           std::abs(a.blue() - b.blue()) < 40;
}

class Assembly : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetAppFolder(QStringLiteral(LUMADOC_APP_DIR));
        out = dir.filePath(QStringLiteral("out"));
        conv = platform::Conventions::host(); // asking makes the work folders: ask once
    }
    void TearDown() override { platform::SetAppFolder({}); }

    // A picture of one colour, `w` x `h`, saved in the format of its ending.
    QString image(const QString& name, int w, int h, QColor color) {
        QImage picture(w, h, QImage::Format_RGB32);
        picture.fill(color);
        const QString path = dir.filePath(name);
        EXPECT_TRUE(picture.save(path)) << name.toStdString();
        return path;
    }

    ImageAssembly::Result run(const QStringList& images, const QString& folder,
                              const DocumentInfo& info, const QString& appFolder = {}) {
        ImageAssembly::Setup setup;
        setup.conventions = conv;
        setup.appFolder = appFolder.isEmpty() ? platform::AppFolder() : appFolder;
        setup.settingsPath = dir.filePath(QStringLiteral("quillsetting.dll"));
        setup.defaultOutputFolder = dir.filePath(QStringLiteral("default"));
        setup.processes = &processes;
        ImageAssembly assembly(setup, host, writer);
        return assembly.Run(images, folder, info);
    }

    QTemporaryDir dir;
    QString out;
    platform::Conventions conv;
    RecordingHost host;
    RecordingProcesses processes;
    testing_support::RecordingPrompts prompts;
    PageWriter writer{QStringLiteral(LUMADOC_APP_DIR "/libpdfctl.so")};
};

TEST(PageSize, IsPixelsOverPoint376RoundedWithinSixteenBits) {
    EXPECT_EQ(PageSizeOf({800, 600}), QSize(2128, 1596));
    EXPECT_EQ(PageSizeOf({1, 1}), QSize(3, 3));
    EXPECT_EQ(PageSizeOf({12320, 100}), QSize(32766, 266));
    // Too large for 16 bits: both sides scaled, the aspect ratio kept.
    const QSize huge = PageSizeOf({20000, 10000});
    EXPECT_EQ(huge.width(), 32767);
    EXPECT_NEAR(huge.height(), 16384, 1);
    const QSize tall = PageSizeOf({300, 40000});
    EXPECT_EQ(tall.height(), 32767);
    EXPECT_NEAR(tall.width(), 246, 1);
}

TEST(AssemblyCommandLines, AreTheToolkitLinesUnderWindowsConventions) {
    const platform::Conventions conv = platform::Conventions::windows();
    const QString app = QStringLiteral("C:\\App");
    EXPECT_EQ(ImageAssembly::JoinCommandLine(conv, app, 1),
              "C:\\App\\pdftk.exe c:\\tmp\\tmp1.pdf c:\\jpgtmp\\1.pdf cat output "
              "c:\\tmp\\tmp2.pdf dont_ask");
    EXPECT_EQ(ImageAssembly::JoinCommandLine(conv, app, 2),
              "C:\\App\\pdftk.exe c:\\tmp\\tmp2.pdf c:\\jpgtmp\\2.pdf cat output "
              "c:\\tmp\\tmp3.pdf dont_ask");
    EXPECT_EQ(ImageAssembly::InfoCommandLine(conv, app, 3),
              "C:\\App\\pdftk.exe c:\\tmp\\tmp3.pdf update_info c:\\tmp\\info.txt output "
              "c:\\tmp\\tmpx.pdf dont_ask");
    // Paths with a blank or a quote reach pdftk whole.
    const platform::Conventions odd{QChar('/'), QString(), "/tmp/work \"1\"/tmp",
                                    "/tmp/work \"1\"/jpgtmp"};
    EXPECT_EQ(platform::SplitCommandLine(ImageAssembly::JoinCommandLine(odd, "/opt/my app", 4)),
              QStringList({"/opt/my app/pdftk", "/tmp/work \"1\"/tmp/tmp4.pdf",
                           "/tmp/work \"1\"/jpgtmp/4.pdf", "cat", "output",
                           "/tmp/work \"1\"/tmp/tmp5.pdf", "dont_ask"}));
    const platform::Conventions quoteOnly{QChar('/'), QString(), "/tmp/q\"d", "/tmp/j"};
    EXPECT_EQ(platform::SplitCommandLine(ImageAssembly::InfoCommandLine(quoteOnly, "/app", 2)),
              QStringList({"/app/pdftk", "/tmp/q\"d/tmp2.pdf", "update_info", "/tmp/q\"d/info.txt",
                           "output", "/tmp/q\"d/tmpx.pdf", "dont_ask"}));
    // A folder with a blank is quoted so that the line splits right.
    EXPECT_TRUE(ImageAssembly::JoinCommandLine(conv, QStringLiteral("C:\\My App"), 1)
                    .startsWith("\"C:\\My App\\pdftk.exe\" "));
}

TEST_F(Assembly, MakesOnePageAnImageInListOrderWithTheInformation) {
    const QStringList images = {image("red.png", 800, 600, Qt::red),
                                image("green photo.jpg", 300, 400, Qt::green),
                                image("blue.bmp", 200, 100, Qt::blue)};
    DocumentInfo info;
    info.title = QStringLiteral("Äpfel, \"Birnen\" & more");
    info.author = QStringLiteral("Zoë");
    info.creationDate = QStringLiteral("D:20100105090307+01'00");
    info.modifyDate = QStringLiteral("typed by hand");
    const ImageAssembly::Result result = run(images, out + "/", info);

    ASSERT_TRUE(result.written()) << result.reason.toStdString();
    EXPECT_EQ(result.output, out + "/" + info.title + ".pdf");
    EXPECT_TRUE(prompts.messages.isEmpty());
    const PdfFacts pdf = readPdf(result.output);
    ASSERT_TRUE(pdf.ok);
    ASSERT_EQ(pdf.pages.size(), 3);
    // 800 px: 2128 tenths of a millimetre, 603.2 points.
    EXPECT_NEAR(pdf.pages[0].width, 2128 / 254.0 * 72, 0.5);
    EXPECT_NEAR(pdf.pages[0].height, 1596 / 254.0 * 72, 0.5);
    EXPECT_NEAR(pdf.pages[1].width / pdf.pages[1].height, 300.0 / 400.0, 0.01);
    const QColor colors[] = {Qt::red, Qt::green, Qt::blue};
    for (int page = 1; page <= 3; ++page) {
        const QImage drawn = drawPage(result.output, page);
        ASSERT_FALSE(drawn.isNull()) << page;
        EXPECT_TRUE(near(drawn.pixelColor(drawn.width() / 2, drawn.height() / 2), colors[page - 1]))
            << page;
    }
    EXPECT_EQ(pdf.info.at("/Title"), info.title.toStdString());
    EXPECT_EQ(pdf.info.at("/Author"), "Zoë");
    EXPECT_EQ(pdf.info.at("/Subject"), "New Subject");
    EXPECT_EQ(pdf.info.at("/Keywords"), "Quillfox");
    EXPECT_EQ(pdf.info.at("/Creator"), "Lumadoc");
    EXPECT_EQ(pdf.info.at("/Producer"), "Lumadoc");
    EXPECT_EQ(pdf.info.at("/CreationDate"), "D:20100105090307+01'00");

    // Two joins and the information, in order; the trailing separator left the box.
    EXPECT_EQ(processes.started,
              QStringList({ImageAssembly::JoinCommandLine(conv, platform::AppFolder(), 1),
                           ImageAssembly::JoinCommandLine(conv, platform::AppFolder(), 2),
                           ImageAssembly::InfoCommandLine(conv, platform::AppFolder(), 3)}));
    // The joins may turn the running file, which is deleted next, into the next one.
    const QString consume = QStringLiteral("LUMADOC_PDFTK_CONSUME_FIRST=1");
    EXPECT_EQ(processes.environments, QStringList({consume, consume, QString()}));
    EXPECT_EQ(host.folderText, out);
    EXPECT_TRUE(host.statuses.contains("Preparing Files...50%"));
    EXPECT_TRUE(host.statuses.contains("Now Start Creating..."));
    EXPECT_TRUE(host.statuses.contains("Creating...50%"));
    EXPECT_TRUE(host.statuses.contains("Creating...100%"));
    EXPECT_EQ(host.statuses.mid(host.statuses.size() - 2),
              QStringList({"Removing Temporary Files...", "Done."}));
    EXPECT_EQ(host.enabledStates, QList<bool>({false, true}));
    EXPECT_EQ(host.opened, QStringList{out});
    EXPECT_EQ(host.beeps, 1);
    // The work folders are gone; the settings file holds the four fields.
    EXPECT_FALSE(QFileInfo::exists(conv.tmpFolder));
    EXPECT_FALSE(QFileInfo::exists(conv.jpgTmpFolder));
    DocumentInfo saved;
    ReadDocumentSettings(dir.filePath("quillsetting.dll"), saved);
    EXPECT_EQ(saved.author, "Zoë");
}

TEST_F(Assembly, OneImageNeedsNoJoinAndOverwritesAnEarlierResult) {
    QDir().mkpath(out);
    QFile old(out + "/New Title.pdf");
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("an earlier result");
    old.close();
    QFile mine(out + "/notes.txt");
    ASSERT_TRUE(mine.open(QIODevice::WriteOnly));
    mine.write("mine");
    mine.close();

    const ImageAssembly::Result result = run({image("one.tif", 640, 480, Qt::yellow)}, out, {});
    ASSERT_TRUE(result.written()) << result.reason.toStdString();
    EXPECT_EQ(processes.started.size(), 1);
    EXPECT_TRUE(processes.started.value(0).contains("tmp1.pdf update_info"));
    EXPECT_EQ(readPdf(out + "/New Title.pdf").pages.size(), 1);
    // One page: no percentage while preparing.
    EXPECT_FALSE(host.statuses.filter("Preparing Files...").filter("%").size());
    EXPECT_TRUE(QFileInfo::exists(out + "/notes.txt"));
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(Assembly, AnEmptyTitleGivesDotPdf) {
    DocumentInfo info;
    info.title.clear();
    const auto result = run({image("a.png", 10, 10, Qt::white)}, out, info);
    ASSERT_TRUE(result.written()) << result.reason.toStdString();
    EXPECT_TRUE(QFileInfo::exists(out + "/.pdf"));
}

TEST_F(Assembly, AnEmptyListAsksForAFileAndDoesNothing) {
    const auto result = run({}, out, {});
    EXPECT_EQ(result.outcome, ImageAssembly::Result::Outcome::NoImages);
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0].text, "Please add a file");
    EXPECT_EQ(prompts.messages[0].title, "Add File");
    EXPECT_EQ(prompts.messages[0].icon, platform::MessageIcon::Exclamation);
    EXPECT_FALSE(QFileInfo::exists(out));
    EXPECT_TRUE(host.enabledStates.isEmpty());
}

TEST_F(Assembly, AnUnreadableImageStopsWithTheLibrarysMessageAndGivesTheWindowBack) {
    QFile bad(dir.filePath("broken.jpg"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("not a picture at all");
    bad.close();
    const auto result =
        run({image("a.png", 50, 50, Qt::red), bad.fileName(), image("c.png", 50, 50, Qt::blue)},
            out, {});
    EXPECT_EQ(result.outcome, ImageAssembly::Result::Outcome::PageFailed);
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0].title, "PDF");
    EXPECT_EQ(prompts.messages[0].icon, platform::MessageIcon::Critical);
    EXPECT_TRUE(prompts.messages[0].text.contains("broken.jpg"))
        << prompts.messages[0].text.toStdString();
    EXPECT_TRUE(processes.started.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(out + "/New Title.pdf"));
    EXPECT_EQ(host.enabledStates, QList<bool>({false, true}));
    EXPECT_NE(host.statuses.last(), "Done.");
    EXPECT_FALSE(QFileInfo::exists(conv.tmpFolder));
    EXPECT_TRUE(QFileInfo::exists(bad.fileName()));
}

TEST_F(Assembly, WhenNoPdfCanBeWrittenItSaysWhyInsteadOfDone) {
    const QString png = image("a.png", 20, 20, Qt::red);
    DocumentInfo slash;
    slash.title = QStringLiteral("2024/25 season");
    const struct {
        const char* what;
        QString folder;
        DocumentInfo info;
        const char* reason;
    } cases[] = {
        {"title with a slash", out, slash, "cannot name a file"},
        {"folder under a missing one", dir.filePath("missing/deeper"), {}, "could not be made"},
    };
    for (const auto& c : cases) {
        prompts.messages.clear();
        host.statuses.clear();
        const auto result = run({png, png}, c.folder, c.info);
        EXPECT_EQ(result.outcome, ImageAssembly::Result::Outcome::NotWritten) << c.what;
        EXPECT_TRUE(result.reason.contains(c.reason))
            << c.what << ": " << result.reason.toStdString();
        ASSERT_EQ(prompts.messages.size(), 1) << c.what;
        EXPECT_TRUE(prompts.messages[0].text.startsWith("No PDF was written: ")) << c.what;
        EXPECT_FALSE(host.statuses.contains("Done.")) << c.what;
        // Known before any page is made: no work is done for nothing.
        EXPECT_FALSE(host.statuses.contains("Now Start Creating...")) << c.what;
        EXPECT_TRUE(processes.started.isEmpty()) << c.what;
    }
    EXPECT_FALSE(QFileInfo::exists(out + "/2024"));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("missing")));
}

TEST_F(Assembly, AFailedJoinIsReportedAndLeavesNoResult) {
    // An application folder whose pdftk fails.
    QTemporaryDir app;
    QFile tool(app.filePath("pdftk"));
    ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
    tool.write("#!/bin/sh\nexit 3\n");
    tool.close();
    tool.setPermissions(QFile::ReadOwner | QFile::ExeOwner | QFile::WriteOwner);
    const QString png = image("a.png", 20, 20, Qt::red);
    const auto result = run({png, png, png}, out, {}, app.path());
    EXPECT_EQ(result.outcome, ImageAssembly::Result::Outcome::NotWritten);
    EXPECT_TRUE(result.reason.contains("page 2 could not be joined"))
        << result.reason.toStdString();
    EXPECT_EQ(processes.started.size(), 1);
    EXPECT_FALSE(QFileInfo::exists(out + "/New Title.pdf"));
    ASSERT_EQ(prompts.messages.size(), 1);
}

} // namespace

namespace {

struct CliOutcome {
    int status;
    QString out;
    QString err;
};

CliOutcome images2pdfCli(const QStringList& args) {
    QProcess p;
    p.setProgram(QStringLiteral(LUMADOC_APP_DIR "/lumadoc-cli"));
    p.setArguments(QStringList{"images2pdf"} + args);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start();
    p.waitForFinished(120000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

TEST(Images2pdfCli, MakesThePdfFromFilesAndFoldersAndSaysWhenItCannot) {
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("scans");
    const auto save = [&](const QString& name, QColor color) {
        QImage picture(40, 30, QImage::Format_RGB32);
        picture.fill(color);
        picture.save(dir.filePath(name));
        return dir.filePath(name);
    };
    const QString first = save("cover.png", Qt::red);
    save("scans/scan10.jpg", Qt::blue);
    save("scans/scan2.jpg", Qt::green);
    const QString out = dir.filePath("out");

    const CliOutcome ok = images2pdfCli(
        {"--title", "Album ü", "--author=Zoë", "-o", out, first, dir.filePath("scans")});
    EXPECT_EQ(ok.status, 0) << ok.err.toStdString();
    EXPECT_EQ(ok.out, out + "/Album ü.pdf: 3 pages\n");
    const PdfFacts pdf = readPdf(out + "/Album ü.pdf");
    ASSERT_EQ(pdf.pages.size(), 3);
    EXPECT_EQ(pdf.info.at("/Author"), "Zoë");
    // Folder images in natural order: scan2 before scan10.
    const QImage second = drawPage(out + "/Album ü.pdf", 2);
    EXPECT_TRUE(near(second.pixelColor(second.width() / 2, second.height() / 2), Qt::green));

    const CliOutcome bad = images2pdfCli({"-o", out, dir.filePath("missing.png")});
    EXPECT_EQ(bad.status, 1);
    EXPECT_TRUE(bad.err.contains("missing.png")) << bad.err.toStdString();

    const CliOutcome usage = images2pdfCli({first});
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(images2pdfCli({"--colour", "red", "-o", out, first}).status, 2);
}

} // namespace
