// The conversion run end to end, with the real export library and programs of the application
// folder, on generated and real PDF files; prompts are answered by a recorder.
#include "convert/conversion_run.h"

#include "pdf_fixture.h"
#include "recording_prompts.h"
#include "small_disk.h"

#include "platform/app_folders.h"
#include "platform/process_list.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "qt_printers.h"
#include <gtest/gtest.h>

using namespace convert;
using enum convert::OutputFormat;
using testing_support::FixturePage;
using testing_support::RecordingPrompts;
using testing_support::textLine;
using testing_support::writeFixturePdf;

namespace {

const QString app = QStringLiteral(LUMADOC_APP_DIR);
const QString corpus = QStringLiteral(LUMADOC_CORPUS);

class RecordingHost : public ConversionHost {
public:
    void setStatus(const QString& text) override {
        statuses << text;
        if (onStatus) {
            onStatus(text);
        }
    }
    void setProgress(int percent) override { progress << percent; }
    void setProgressWidth(int twips) override { widths << twips; }
    void setAnimation(bool on) override { animation << on; }
    void setRequestsEnabled(bool enabled) override { requests << enabled; }
    void openFolder(const QString& folder) override { opened << folder; }
    void playSound(const QString& wav) override { sounds << wav; }
    void showExportFinished() override { ++finishedWindows; }
    void fileDone(const FileReport& r) override { reports << r; }

    QStringList statuses, opened, sounds;
    QList<int> progress, widths;
    QList<bool> animation, requests;
    int finishedWindows = 0;
    QList<FileReport> reports;
    std::function<void(const QString&)> onStatus;
};

// Programs are really started and waited for; ending by name is only recorded, so that runs
// never end a window of another test (or of the user's own Lumadoc).
class RecordingProcesses : public platform::Processes {
public:
    qint64 startHidden(const QString& commandLine,
                       const platform::StartOptions& options = {}) override {
        started << commandLine;
        inputs << options.input;
        environments << options.environment;
        return system().startHidden(commandLine, options);
    }
    int waitForEnd(qint64 pid) override {
        if (onWait) {
            onWait();
        }
        return system().waitForEnd(pid);
    }
    void endByName(const QString& exeName) override { ended << exeName; }
    void endProgram(const QString& exePath) override { ended << exePath; }
    bool startDetached(const QString& program, platform::StartWindow) override {
        detached << program;
        return true;
    }

    QStringList started, ended, detached;
    QList<QByteArray> inputs;
    QList<QStringList> environments;
    std::function<void()> onWait;
};

FixturePage marked(const char* word) {
    FixturePage p;
    p.content = textLine("F1", 24, 72, 700, word);
    return p;
}

class Run : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        platform::SetAppFolder(app);
        out = dir.path() + "/out put";
        in = dir.path() + "/in";
        QDir().mkpath(in);
        threePages = in + "/a.b é.pdf";
        ASSERT_TRUE(writeFixturePdf(threePages.toStdString(),
                                    {marked("PageOne"), marked("PageTwo"), marked("PageThree")}));
    }
    void TearDown() override { platform::SetAppFolder(QString()); }

    QString encrypted(const QString& user, const QString& name) {
        const QString path = in + "/" + name;
        EXPECT_EQ(
            QProcess::execute("qpdf", {"--encrypt", user, "owner", "256", "--", threePages, path}),
            0);
        return path;
    }

    void run(OutputFormat format, const QStringList& files, const QString& folder,
             std::function<void(ConversionSettings&)> edit = {}) {
        settings.selectFormat(format);
        if (edit) {
            edit(settings);
        }
        for (const QString& f : files) {
            queue.append(f);
        }
        const platform::Conventions conv = platform::Conventions::host();
        ExportLibrary library(app + "/libpdftox.so");
        run(library, folder);
    }
    void run(ExportLibrary& library, const QString& folder) {
        ConversionRun::Setup setup{platform::Conventions::host(),
                                   app,
                                   [folder] { return folder; },
                                   dir.path() + "/default out",
                                   soundOff,
                                   {},
                                   &processes,
                                   textRecognition};
        ConversionRun r(setup, queue, settings, host, library);
        r.RunConversion();
    }

    static QString text(const QString& path) {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return QString::fromUtf8(f.readAll());
    }
    static QStringList files(const QString& folder) {
        return QDir(folder).entryList(QDir::Files, QDir::Name);
    }

    QTemporaryDir dir;
    QString out, in, threePages;
    ConversionQueue queue;
    ConversionSettings settings;
    RecordingHost host;
    RecordingPrompts prompts;
    RecordingProcesses processes;
    bool soundOff = false;
    bool textRecognition = true;
};

struct FormatCase {
    OutputFormat format;
    const char* name;
    const char* output; // relative to the output folder
    bool folder;
};

class EveryFormat : public Run, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(EveryFormat, WritesItsOutputUnderTheBaseName) {
    const FormatCase& c = GetParam();
    run(c.format, {threePages}, out);
    const QFileInfo result(out + "/" + c.output);
    ASSERT_TRUE(result.exists()) << c.output;
    if (c.folder) {
        EXPECT_EQ(files(result.filePath()).size(), 3) << "one image per page";
    } else {
        EXPECT_GT(result.size(), 20);
    }
    EXPECT_TRUE(queue.isEmpty());
    EXPECT_EQ(host.statuses.last(), "Done.");
    EXPECT_EQ(host.opened, QStringList{out});
    EXPECT_EQ(host.sounds, QStringList{app + "/sound.wav"});
    EXPECT_EQ(host.requests, (QList<bool>{false, true}));
    EXPECT_TRUE(prompts.messages.isEmpty());
    ASSERT_EQ(host.reports.size(), 1);
    EXPECT_EQ(host.reports[0].output, out + "/" + c.output);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, EveryFormat,
    ::testing::Values(FormatCase{Word, "Word", "a.doc", false},
                      FormatCase{Rtf, "Rtf", "a.rtf", false},
                      FormatCase{Text, "Text", "a.txt", false}, FormatCase{Jpeg, "Jpeg", "a", true},
                      FormatCase{Bmp, "Bmp", "a", true}, FormatCase{Gif, "Gif", "a", true},
                      FormatCase{Png, "Png", "a", true}, FormatCase{Tif, "Tif", "a", true},
                      FormatCase{Html, "Html", "a/a.html", false},
                      FormatCase{Flash, "Flash", "a.swf", false}),
    [](const auto& test) { return std::string(test.param.name); });

// Nothing of the user is written over: not the file being converted (a PDF named "notes.txt"
// converted to Text in its own folder), nor the output of an earlier file of the same run with
// the same base name, which the later one leaves alone under the next free name.
TEST_F(Run, OutputsNeverOverwriteTheInputOrEachOther) {
    const QString notes = in + "/notes.txt";
    ASSERT_TRUE(QFile::copy(threePages, notes));
    const QByteArray before = [&] {
        QFile f(notes);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    run(Text, {notes}, in);
    ASSERT_EQ(host.reports.size(), 1);
    EXPECT_EQ(host.reports[0].outcome, ConversionHost::FileReport::Outcome::Skipped);
    EXPECT_NE(host.reports[0].reason.indexOf("written over the file itself"), -1);
    QFile kept(notes);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), before) << "the PDF is untouched";

    // Same base names in one run: a/report.pdf, b/report.pdf, c/report.pdf.
    QStringList reports;
    for (const char* folder : {"a", "b", "c"}) {
        QDir().mkpath(in + "/" + folder);
        reports << in + "/" + folder + "/report.pdf";
        ASSERT_TRUE(writeFixturePdf(reports.last().toStdString(),
                                    {marked((std::string("Page of ") + folder).c_str())}));
    }
    for (const OutputFormat format : {Word, Png, Html}) {
        host.reports.clear();
        run(format, reports, out);
        ASSERT_EQ(host.reports.size(), 3);
        const QString ext = format == Word ? ".doc" : "";
        const QStringList names = {"report", "report (2)", "report (3)"};
        for (int i = 0; i < 3; ++i) {
            const ConversionHost::FileReport& r = host.reports[i];
            EXPECT_EQ(r.outcome, ConversionHost::FileReport::Outcome::Written);
            const QString expected = out + "/" + names[i] + ext +
                                     (format == Html ? "/" + names[i] + ".html" : QString());
            EXPECT_EQ(r.output, expected);
            EXPECT_EQ(r.note.isEmpty(), i == 0) << r.note.toStdString();
        }
        // Each output holds its own file's page.
        if (format == Png) {
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(files(out + "/" + names[i]).size(), 1) << "no pages mixed";
            }
        } else if (format == Html) {
            EXPECT_NE(text(out + "/report (2)/report (2).html").indexOf("Page of b"), -1);
        } else {
            EXPECT_NE(text(out + "/report (3).doc").indexOf("Page of c"), -1);
        }
    }
    // A later run replaces the outputs of an earlier one, as before.
    host.reports.clear();
    run(Word, {reports[1]}, out);
    EXPECT_EQ(host.reports[0].output, out + "/report.doc");
    EXPECT_NE(text(out + "/report.doc").indexOf("Page of b"), -1);
}

TEST_F(Run, AFullDiskFailsEveryFormatWithItsReasonAndLeavesNoPartialFile) {
    // Pages full of text, each with a grainy picture: every format's output is larger than the
    // room left (a movie keeps the text as text, small, but not the picture).
    std::vector<FixturePage> pages(12);
    uint32_t grain = 12345;
    for (FixturePage& page : pages) {
        for (int line = 0; line < 40; ++line) {
            page.content += textLine("F3", 10, 50, 760 - 18 * line,
                                     "A line of words that fills the page and the disk too.");
        }
        testing_support::FixturePicture picture{"Im1", 48, 48, std::string(48 * 48 * 3, '\0')};
        for (char& byte : picture.rgb) {
            grain = grain * 1103515245u + 12345u;
            byte = char(grain >> 24);
        }
        page.pictures.push_back(std::move(picture));
        page.content += "q 200 0 0 200 350 40 cm /Im1 Do Q\n";
    }
    const QString wordy = in + "/wordy.pdf";
    ASSERT_TRUE(writeFixturePdf(wordy.toStdString(), pages));
    testing_support::SmallDisk disk((dir.path() + "/disk").toStdString(), 512);
    if (!disk.ok()) {
        GTEST_SKIP() << "cannot mount a small file system here";
    }
    disk.leaveFree(12);
    const QString full = QString::fromStdString(disk.folder());
    for (const FormatInfo& info : formatTable()) {
        const OutputFormat format = info.format;
        host.reports.clear();
        run(format, {wordy}, full);
        ASSERT_EQ(host.reports.size(), 1);
        EXPECT_EQ(host.reports[0].outcome, ConversionHost::FileReport::Outcome::Failed)
            << info.shortName;
        EXPECT_EQ(host.reports[0].reason, "the disk is full") << info.shortName;
    }
    // Only the folders the back-ends make stay; no file, whole or partial, is left.
    QStringList left;
    QDirIterator it(full, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (!file.endsWith("/.filler")) {
            left << file;
        }
    }
    EXPECT_TRUE(left.isEmpty()) << left.join(", ").toStdString();
    EXPECT_TRUE(disk.unmount()) << "a file was left open";
}

TEST_F(Run, AToolThatCannotRunFailsWithItsReason) {
    const QString bare = dir.path() + "/app without programs";
    QDir().mkpath(bare);
    QFile::link(app + "/libpdftox.so", bare + "/libpdftox.so");
    ExportLibrary library(bare + "/libpdftox.so");
    queue.append(threePages);
    settings.selectFormat(Html);
    ConversionRun::Setup setup{
        platform::Conventions::host(), bare, [this] { return out; }, out, true, {}, &processes};
    ConversionRun(setup, queue, settings, host, library).RunConversion();
    ASSERT_EQ(host.reports.size(), 1);
    EXPECT_EQ(host.reports[0].outcome, ConversionHost::FileReport::Outcome::Failed);
    EXPECT_EQ(host.reports[0].reason, "the program pdf2htm cannot be started");
}

TEST_F(Run, AFileThatCannotBeOpenedIsSkippedSilently) {
    const QString broken = in + "/broken.pdf";
    QFile f(broken);
    f.open(QIODevice::WriteOnly);
    f.write("%PDF-1.4 this is not really a PDF\n");
    f.close();
    const QString third = in + "/third.pdf";
    QFile::copy(threePages, third);
    run(Text, {threePages, broken, third}, out);
    EXPECT_TRUE(QFileInfo::exists(out + "/a.txt"));
    EXPECT_TRUE(QFileInfo::exists(out + "/third.txt"));
    EXPECT_FALSE(QFileInfo::exists(out + "/broken.txt"));
    EXPECT_EQ(host.opened.size(), 1);
    EXPECT_TRUE(prompts.messages.isEmpty());
    ASSERT_EQ(host.reports.size(), 3);
    EXPECT_EQ(host.reports[0].outcome, ConversionHost::FileReport::Outcome::Written);
    EXPECT_EQ(host.reports[1].outcome, ConversionHost::FileReport::Outcome::Skipped);
    EXPECT_EQ(host.reports[1].reason, "it cannot be opened as a PDF file");
    EXPECT_EQ(host.reports[2].outcome, ConversionHost::FileReport::Outcome::Written);
    EXPECT_TRUE(queue.isEmpty());
}

TEST_F(Run, ProtectedFilesAskForThePasswordUntilRightOrGivenUp) {
    const QString locked = encrypted("us\"er", "locked file.pdf");
    // Right at once, for a tool format (through the decrypted copy) and a library format.
    // While the decryption tool runs, no process of the machine shows the password in its
    // command line, which every user can read: the tool reads it from its input.
    prompts.passwords = {"us\"er"};
    QStringList showing;
    processes.onWait = [&showing] {
        for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
            QFile cmdline("/proc/" + pid + "/cmdline");
            if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains("us\"er")) {
                showing << pid;
            }
        }
    };
    run(Text, {locked}, out);
    processes.onWait = {};
    EXPECT_TRUE(text(out + "/locked file.txt").contains("PageTwo"));
    EXPECT_EQ(prompts.passwordPrompts.size(), 1);
    EXPECT_TRUE(showing.isEmpty()) << showing.join(' ').toStdString();
    ASSERT_FALSE(processes.started.isEmpty());
    EXPECT_NE(processes.started[0].indexOf("input_pw \"PROMPT\""), -1)
        << processes.started[0].toStdString();
    EXPECT_EQ(processes.inputs.value(0), QByteArray("us\"er\n"));

    prompts.passwords = {"wrong", "owner"};
    prompts.passwordPrompts.clear();
    run(Png, {locked}, out);
    EXPECT_EQ(files(out + "/locked file").size(), 3);
    EXPECT_EQ(prompts.passwordPrompts.size(), 2) << "asked again after a wrong password";

    // No password given: skipped without a message.
    prompts.passwords.clear();
    prompts.passwordPrompts.clear();
    run(Rtf, {locked}, out);
    EXPECT_FALSE(QFileInfo::exists(out + "/locked file.rtf"));
    EXPECT_EQ(prompts.passwordPrompts.size(), 1);
    EXPECT_TRUE(prompts.messages.isEmpty());
    EXPECT_EQ(host.reports.last().outcome, ConversionHost::FileReport::Outcome::Skipped);
    EXPECT_EQ(host.reports.last().reason, "it is protected and no right password was given");
}

TEST_F(Run, AMissingDecryptedCopyShowsThePasswordMessage) {
    // An application folder whose decryption tool is missing: the copy is never made.
    const QString bare = dir.path() + "/app without pdftk";
    QDir().mkpath(bare + "/data");
    for (const char* name : {"libpdftox.so", "pdftotext", "pro"}) {
        QFile::link(app + "/" + QString(name), bare + "/" + QString(name));
    }
    QFile::link(app + "/data/pdf2htm", bare + "/data/pdf2htm");
    const QString locked = encrypted("pw", "locked.pdf");

    settings.selectFormat(Text);
    queue.append(locked);
    queue.append(locked);
    prompts.passwords = {"pw", "pw"};
    ExportLibrary library(bare + "/libpdftox.so");
    ConversionRun::Setup setup{
        platform::Conventions::host(), bare, [this] { return out; }, out, true, {}, &processes};
    ConversionRun r(setup, queue, settings, host, library);
    settings.selectFormat(Text);
    r.RunConversion();
    ASSERT_EQ(prompts.messages.size(), 2);
    EXPECT_EQ(prompts.messages[0].text,
              "The password is User Password, not Owner Password.\r\nConverting Failed.");
    EXPECT_EQ(prompts.messages[0].title, "Password");
    EXPECT_EQ(prompts.messages[0].icon, platform::MessageIcon::Exclamation);
    EXPECT_FALSE(QFileInfo::exists(out + "/locked.txt"));
    EXPECT_TRUE(host.sounds.isEmpty()) << "the sound is off";

    // Word and image formats go through the library with the password: no message that the
    // conversion failed, and their output.
    prompts.messages.clear();
    prompts.passwords = {"pw"};
    settings.selectFormat(Jpeg);
    queue.append(locked);
    r.RunConversion();
    EXPECT_TRUE(prompts.messages.isEmpty());
    EXPECT_EQ(files(out + "/locked").size(), 3);
    prompts.passwords = {"pw"};
    settings.selectFormat(Rtf);
    queue.append(locked);
    r.RunConversion();
    EXPECT_TRUE(prompts.messages.isEmpty());
    EXPECT_EQ(host.reports.last().outcome, ConversionHost::FileReport::Outcome::Written);
    EXPECT_TRUE(QFileInfo::exists(out + "/locked.rtf"));
}

TEST_F(Run, NoFormatWritesNothingButFinishes) {
    settings.selectFormat(Png);
    settings.cmbOF_Click(-1);
    queue.append(threePages);
    ExportLibrary library(app + "/libpdftox.so");
    ConversionRun::Setup setup{
        platform::Conventions::host(), app, [this] { return out; }, out, false, {}, &processes};
    ConversionRun(setup, queue, settings, host, library).RunConversion();
    EXPECT_TRUE(queue.isEmpty());
    EXPECT_TRUE(files(out).isEmpty());
    EXPECT_TRUE(QDir(out).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_EQ(host.statuses.last(), "Done.");
    EXPECT_EQ(host.opened.size(), 1);
}

TEST_F(Run, TheQueueMayGrowDuringTheRun) {
    const QString late = in + "/late.pdf";
    QFile::copy(threePages, late);
    bool added = false;
    host.onStatus = [&](const QString& status) {
        if (!added && status == "Preparing File...") {
            added = true;
            queue.append(late);
        }
    };
    run(Rtf, {threePages}, out);
    EXPECT_TRUE(QFileInfo::exists(out + "/a.rtf"));
    EXPECT_TRUE(QFileInfo::exists(out + "/late.rtf"));
}

TEST_F(Run, PageRangesReachTheOutputs) {
    run(Png, {threePages}, out, [](ConversionSettings& s) {
        s.setValue(1, "2");
        s.setValue(2, "12");
    });
    EXPECT_EQ(files(out + "/a"), (QStringList{"page-0002.png", "page-0003.png"}));

    run(Text, {threePages}, out, [](ConversionSettings& s) {
        s.setValue(1, "2");
        s.setValue(2, "2");
        s.setValue(3, "NO");
    });
    const QString t = text(out + "/a.txt");
    EXPECT_TRUE(t.contains("PageTwo"));
    EXPECT_FALSE(t.contains("PageOne"));
    EXPECT_FALSE(t.contains("PageThree"));
    EXPECT_FALSE(t.contains('\f'));

    run(Html, {threePages}, out, [](ConversionSettings& s) { s.setValue(1, "3"); });
    const QString h = text(out + "/a/a.html");
    EXPECT_TRUE(h.contains("PageThree"));
    EXPECT_FALSE(h.contains("PageOne"));

    // A range without a page writes no empty document and says why.
    for (const OutputFormat format : {Word, Png}) {
        host.reports.clear();
        const QString empty = dir.path() + "/empty range";
        run(format, {threePages}, empty, [](ConversionSettings& s) {
            s.setValue(1, "3");
            s.setValue(2, "2");
        });
        ASSERT_EQ(host.reports.size(), 1);
        EXPECT_EQ(host.reports[0].outcome, ConversionHost::FileReport::Outcome::Skipped);
        EXPECT_EQ(host.reports[0].reason, "the page range 3 to 2 holds no page");
        EXPECT_TRUE(QDir(empty).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    }
}

// The recognition switch reaches both back-ends that read scanned pages: the export library is
// told before each export, also when one library serves several runs as in the window, and an
// older library without the switch still exports; the HTML tool gets it in its environment and
// the same command line either way.
TEST_F(Run, TheTextRecognitionSwitchReachesTheLibraryAndTheHtmlTool) {
    const auto exported = [this](ExportLibrary& library, bool on) {
        textRecognition = on;
        settings.selectFormat(Word);
        queue.append(threePages);
        run(library, out);
        return text(out + "/a.doc");
    };
    ExportLibrary current(RECORDING_PDFTOX);
    EXPECT_EQ(exported(current, false), "text recognition 0\n");
    EXPECT_EQ(exported(current, true), "text recognition 1\n");
    EXPECT_EQ(exported(current, false), "text recognition 0\n");

    ExportLibrary older(RECORDING_PDFTOX_OLD);
    EXPECT_EQ(exported(older, false), "text recognition 1\n") << "its own default stays";
    EXPECT_EQ(host.reports.last().outcome, ConversionHost::FileReport::Outcome::Written);
    EXPECT_EQ(older.SetTextRecognition(0), -1);

    QStringList htmlLines;
    for (const bool on : {false, true}) {
        processes.started.clear();
        processes.environments.clear();
        textRecognition = on;
        run(Html, {threePages}, out);
        ASSERT_EQ(processes.started.size(), 1);
        EXPECT_TRUE(processes.started[0].contains("pdf2htm"));
        EXPECT_EQ(processes.environments[0], QStringList{on ? "LUMADOC_OCR=1" : "LUMADOC_OCR=0"});
        htmlLines << processes.started[0];
        EXPECT_EQ(host.reports.last().outcome, ConversionHost::FileReport::Outcome::Written);
    }
    EXPECT_EQ(htmlLines[0], htmlLines[1]);
}

TEST_F(Run, EmptyOutputFolderMeansTheDefaultOne) {
    run(Rtf, {threePages}, QString());
    EXPECT_TRUE(QFileInfo::exists(dir.path() + "/default out/a.rtf"));
    EXPECT_EQ(host.opened, QStringList{dir.path() + "/default out"});
}

TEST_F(Run, ExportProgressDisplay) {
    ExportLibrary library(app + "/libpdftox.so");
    ConversionRun::Setup setup{
        platform::Conventions::host(), app, [this] { return out; }, out, true, {}, &processes};
    ConversionRun r(setup, queue, settings, host, library);
    EXPECT_EQ(r.ExportProgress(1, 10, 5), 1);
    EXPECT_EQ(host.statuses.last(), "50%");
    EXPECT_EQ(host.widths.last(), 2708);
    EXPECT_EQ(host.progress.last(), 50);
    r.ExportProgress(1, 3, 1);
    EXPECT_EQ(host.statuses.last(), "33%");
    r.ExportProgress(1, 8, 1);
    EXPECT_EQ(host.statuses.last(), "12%") << "12.5 rounds to the even 12";
    EXPECT_EQ(host.finishedWindows, 0);
    r.ExportProgress(1, 10, 10);
    EXPECT_EQ(host.statuses.last(), "Exporting File...");
    EXPECT_EQ(host.widths.last(), 5415);
    EXPECT_EQ(host.progress.last(), 100);
    EXPECT_EQ(host.finishedWindows, 1);
    r.ExportProgress(5, 4, 0); // an empty range: complete, no division by zero
    EXPECT_EQ(host.finishedWindows, 2);

    EXPECT_EQ(ConversionRun::pageRange("1", "ALL PAGES", 10), std::make_pair(1, 10));
    EXPECT_EQ(ConversionRun::pageRange("12", "ALL PAGES", 10), std::make_pair(10, 10));
    EXPECT_EQ(ConversionRun::pageRange("1", "12", 10), std::make_pair(1, 10));
    EXPECT_EQ(ConversionRun::pageRange("1", "4", 10), std::make_pair(1, 4));
    EXPECT_EQ(ConversionRun::pageRange("0", "4", 10), std::make_pair(0, 4));
    EXPECT_EQ(ConversionRun::pageRange("2.5", "3.5", 10), std::make_pair(2, 4));
}

TEST(FinishedWindow, StartsAndIsEndedByName) {
    const platform::Conventions conv = platform::Conventions::host();
    platform::EndProcessByName("pro");
    ASSERT_TRUE(StartExportFinishedWindow(conv, app));
    bool seen = false;
    for (int i = 0; i < 100 && !seen; ++i) {
        QThread::msleep(20);
        seen = platform::IsProcessRunning("pro");
    }
    EXPECT_TRUE(seen);
    platform::EndProcessByName("pro");
    bool gone = false;
    for (int i = 0; i < 100 && !gone; ++i) {
        QThread::msleep(20);
        gone = !platform::IsProcessRunning("pro");
    }
    EXPECT_TRUE(gone);
}

TEST_F(Run, ARowRemovedByHandDuringItsConversionTakesNoOtherRowWithIt) {
    const QString second = in + "/second.pdf";
    ASSERT_TRUE(QFile::copy(threePages, second));
    const QString third = in + "/third.pdf";
    ASSERT_TRUE(QFile::copy(threePages, third));
    bool runningSeen = false;
    ConversionRun* current = nullptr;
    processes.onWait = [&] {
        // The user removes the row in work while its tool runs, once.
        if (queue.count() == 3) {
            queue.removeAt(0);
            runningSeen = current && current->isRunning() && current->fileInWork() == threePages;
        }
    };
    settings.selectFormat(Text);
    for (const QString& f : {threePages, second, third}) {
        queue.append(f);
    }
    ExportLibrary library(app + "/libpdftox.so");
    ConversionRun::Setup setup{
        platform::Conventions::host(), app, [this] { return out; }, out, true, {}, &processes};
    ConversionRun r(setup, queue, settings, host, library);
    current = &r;
    EXPECT_FALSE(r.isRunning());
    r.RunConversion();
    EXPECT_FALSE(r.isRunning());
    EXPECT_TRUE(runningSeen);
    ASSERT_EQ(host.reports.size(), 3) << "the second and third files are still converted";
    EXPECT_EQ(host.reports[1].path, second);
    EXPECT_TRUE(QFileInfo::exists(out + "/second.txt"));
    EXPECT_TRUE(QFileInfo::exists(out + "/third.txt"));
    EXPECT_TRUE(r.allWritten());
    // Only the finished window of this application folder, by its file: never a program
    // that merely has the name.
    EXPECT_TRUE(processes.ended.contains(app + "/pro"));
    EXPECT_FALSE(processes.ended.contains("pro"));
}

TEST_F(Run, RealFilesOfTheCorpus) {
    if (!QFileInfo::exists(corpus + "/tracemonkey.pdf")) {
        GTEST_SKIP() << "corpus not present";
    }
    prompts.passwords = {"asdfasdf"};
    run(Word, {corpus + "/tracemonkey.pdf", corpus + "/pr6531_1.pdf", corpus + "/issue16063.pdf"},
        out);
    for (const char* name : {"tracemonkey.doc", "pr6531_1.doc", "issue16063.doc"}) {
        EXPECT_GT(QFileInfo(out + "/" + name).size(), 1000) << name;
    }
    EXPECT_TRUE(host.progress.contains(100));
}

} // namespace
