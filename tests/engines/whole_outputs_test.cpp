// Outputs are whole or absent: the atomic writer, our pdftotext on a full disk, pdf2htm's
// pictures, and programs ended by a signal. Full disks are small tmpfs mounts (root only).
#include "engine_test_support.h"
#include "small_disk.h"

#include "atomic_file.h"
#include "tool_status.h"

#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <zlib.h>

using namespace engine_tests;
using testing_support::FixturePage;
using testing_support::SmallDisk;
using testing_support::textLine;
using testing_support::writeFixturePdf;

namespace {

const std::string app = LUMADOC_APP_DIR;

/// Pages full of text lines: much text for little PDF.
std::vector<FixturePage> wordyPages(int pages, int lines) {
    std::vector<FixturePage> out(static_cast<size_t>(pages));
    for (int p = 0; p < pages; ++p) {
        for (int l = 0; l < lines; ++l) {
            out[size_t(p)].content +=
                textLine("F3", 10, 50, 760 - 18 * l,
                         "Page " + std::to_string(p + 1) + " line " + std::to_string(l + 1) +
                             " holds enough words to make the text file long.");
        }
    }
    return out;
}

// Files of the folder other than the disk's own filler: what a run left behind.
std::vector<std::string> leftIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const std::string& name : listFolder(folder)) {
        if (name != ".filler") {
            names.push_back(name);
        }
    }
    return names;
}

// ---- the atomic writer ---------------------------------------------------------------------

TEST(AtomicFile, ReplacesAnOlderFileOnlyWhenCommitted) {
    TempFolder dir;
    const std::string target = dir.file("out é.txt");
    std::ofstream(target) << "old";
    {
        pdftox::AtomicFile file(target);
        std::ofstream(file.tempPath()) << "new";
        EXPECT_EQ(readFile(target), "old") << "not visible before commit";
        EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"out é.txt"});
        file.commit();
    }
    EXPECT_EQ(readFile(target), "new");
    {
        pdftox::AtomicFile abandoned(target);
        std::ofstream(abandoned.tempPath()) << "never";
    }
    EXPECT_EQ(readFile(target), "new");
    EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"out é.txt"});

    try {
        pdftox::AtomicFile missing(dir.file("no such folder/x.txt"));
        FAIL() << "a missing folder must be refused";
    } catch (const pdftox::WriteError& e) {
        EXPECT_EQ(pdftox::faultOf(e.error()), pdftox::WriteFault::FolderNotWritable);
        EXPECT_EQ(pdftox::exitStatusFor(e), TOOL_FOLDER_NOT_WRITABLE);
    }
}

// The longest names a folder takes (255 bytes) are written and replaced: the part file's name
// must fit too. Through pdftk as well, whose join writes its own part file.
TEST(AtomicFile, TheLongestNamesAreWrittenAndReplaced) {
    TempFolder dir;
    std::string name;
    while (name.size() < 250) {
        name += "é";
    }
    name += "x.pdf";
    ASSERT_EQ(name.size(), 255u);
    const std::string target = dir.file(name);
    for (const char* content : {"first", "second"}) {
        pdftox::AtomicFile file(target);
        file.park(); // a part file under a name, as where unnamed files cannot be made
        std::ofstream(file.tempPath()) << content;
        file.commit();
        EXPECT_EQ(readFile(target), content);
    }
    EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{name});

    const std::string page = dir.file("page.pdf");
    ASSERT_TRUE(testing_support::writeFixturePdf(page, {testing_support::FixturePage{}}));
    for (int round = 0; round < 2; ++round) {
        const ToolResult r = runTool(app + "/pdftk " + q(page) + " " + q(page) + " cat output " +
                                         q(target) + " dont_ask",
                                     dir.file("errors.txt"));
        EXPECT_EQ(r.status, 0) << r.errors;
    }
    EXPECT_EQ(readFile(target).rfind("%PDF", 0), 0u);
}

TEST(AtomicFile, ASignalRemovesNamedPartFiles) {
    TempFolder dir;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) {
        pdftox::installPartFileCleanup();
        pdftox::AtomicFile file(dir.file("movie.swf"));
        std::ofstream(file.tempPath()) << "half a movie";
        file.park(); // now a hidden part file with a name, as without O_TMPFILE
        const char byte = 1;
        (void)!write(ready[1], &byte, 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    const std::vector<std::string> during = listFolder(dir.path());
    ASSERT_EQ(during.size(), 1u);
    EXPECT_EQ(during[0].rfind(".movie.swf.part-", 0), 0u) << during[0];
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_TRUE(listFolder(dir.path()).empty());
}

// ---- pdftotext ---------------------------------------------------------------------------

TEST(Pdftotext, GivesPopplersTextWholeOrNothing) {
    TempFolder dir;
    const std::string pdf = dir.file("long book.pdf");
    ASSERT_TRUE(writeFixturePdf(pdf, wordyPages(30, 40)));
    const std::string log = dir.file("log");

    // The same text as poppler's program, through the same command line.
    const std::string ours = dir.file("ours.txt");
    ASSERT_EQ(runTool(app + "/pdftotext " + q(pdf) + " " + q(ours) + " -f 2 -l 29 ", log).status,
              0);
    const std::string theirs = output("pdftotext -f 2 -l 29 '" + pdf + "' -");
    EXPECT_GT(theirs.size(), 60000u);
    EXPECT_EQ(readFile(ours), theirs);
    // Without an output name: poppler's default name beside the PDF.
    ASSERT_EQ(runTool(app + "/pdftotext -l 1 " + q(pdf), log).status, 0);
    EXPECT_NE(readFile(dir.file("long book.txt")).find("Page 1 line 40"), std::string::npos);

    // A PDF that cannot be read: poppler's status, and no file.
    EXPECT_EQ(runTool(app + "/pdftotext " + q(dir.file("missing.pdf")) + " " +
                          q(dir.file("missing.txt")) + " -f 1 ",
                      log)
                  .status,
              1);
    EXPECT_FALSE(std::ifstream(dir.file("missing.txt")).good());

    SmallDisk disk(dir.file("disk"), 256);
    if (!disk.ok()) {
        GTEST_SKIP() << "cannot mount a small file system here";
    }
    disk.leaveFree(16);
    EXPECT_EQ(
        runTool(app + "/pdftotext " + q(pdf) + " " + q(disk.folder() + "/book.txt") + " -f 1 ", log)
            .status,
        TOOL_DISK_FULL);
    EXPECT_NE(readFile(log).find("No space left"), std::string::npos) << readFile(log);
    EXPECT_TRUE(leftIn(disk.folder()).empty()) << "a truncated text file stayed";
    EXPECT_TRUE(disk.unmount()) << "a file was left open";
}

// ---- pdf2htm ---------------------------------------------------------------------------

TEST(Pdf2htm, AFullDiskLeavesNeitherTheHtmlNorItsPictures) {
    TempFolder dir;
    // Two pages with pictures (small backgrounds), then many pages of text (a long HTML file).
    std::vector<FixturePage> pages = wordyPages(40, 40);
    for (int p = 0; p < 2; ++p) {
        pages[size_t(p)].pictures.push_back(testing_support::checkerPicture("Im1", 16, 16));
        pages[size_t(p)].content += "q 200 0 0 200 100 100 cm /Im1 Do Q\n";
    }
    const std::string pdf = dir.file("pictures.pdf");
    ASSERT_TRUE(writeFixturePdf(pdf, pages));
    const std::string log = dir.file("log");

    // With room the pictures come with the HTML.
    ASSERT_EQ(
        runTool(app + "/data/pdf2htm  -f 1 " + q(pdf) + " " + q(dir.file("pictures.html")), log)
            .status,
        0)
        << readFile(log);
    const std::vector<std::string> written = listFolder(dir.path());
    EXPECT_EQ(std::count(written.begin(), written.end(), "pictures-1.png") +
                  std::count(written.begin(), written.end(), "pictures-1.jpg"),
              1);
    const size_t htmlSize = readFile(dir.file("pictures.html")).size();

    SmallDisk disk(dir.file("disk"), 1024);
    if (!disk.ok()) {
        GTEST_SKIP() << "cannot mount a small file system here";
    }
    // Room for the pictures, not for the HTML.
    disk.leaveFree(int(htmlSize / 1024 / 2));
    EXPECT_EQ(
        runTool(app + "/data/pdf2htm  -f 1 " + q(pdf) + " " + q(disk.folder() + "/pictures.html"),
                log)
            .status,
        TOOL_DISK_FULL)
        << readFile(log);
    EXPECT_TRUE(leftIn(disk.folder()).empty()) << leftIn(disk.folder()).front();
    EXPECT_TRUE(disk.unmount()) << "a file was left open";
}

// ---- ended by a signal -------------------------------------------------------------------

TEST(Signals, ProgramsEndedMidWayLeaveNothingButWholeFiles) {
    if (!haveCorpus()) {
        GTEST_SKIP() << "needs the corpus";
    }
    TempFolder dir;
    const std::string book = corpus("freeculture.pdf");
    struct Case {
        const char* folder;
        std::string commandLine;
        int signal;
    };
    const Case cases[] = {
        {"h", app + "/data/pdf2htm  -f 1 " + q(book) + " " + q(dir.file("h/freeculture.html")),
         SIGTERM},
        {"k", app + "/data/pdf2htm  -f 1 " + q(book) + " " + q(dir.file("k/freeculture.html")),
         SIGKILL},
        {"s",
         app + "/data/pdf2swf -s framerate=1 -q -z " + q(book) + " -o " + q(dir.file("s/f.swf")),
         SIGINT},
        {"t", app + "/pdftotext " + q(book) + " " + q(dir.file("t/f.txt")) + " -f 1 ", SIGTERM},
    };
    for (const Case& c : cases) {
        run("mkdir -p '" + dir.file(c.folder) + "'");
        const qint64 pid = startTool(c.commandLine, dir.file("log"));
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        kill(pid_t(pid), c.signal);
        const int status = platform::WaitForProcessEnd(pid);
        if (status == 0) {
            ADD_FAILURE() << c.folder << ": ended before the signal; the test needs a longer input";
            continue;
        }
        EXPECT_EQ(status, 128 + c.signal) << c.folder;
        const std::vector<std::string> left = listFolder(dir.file(c.folder));
        EXPECT_TRUE(left.empty()) << c.folder << ": " << left.front();
    }
}

// ---- pages that never end -------------------------------------------------------------------

// A 2 kB page whose forms draw one another a billion times: each engine cuts the page short
// when its time is up, writes what it has, says so, and the next file converts as usual.
TEST(PageBudget, AFormBombIsCutShortAndTheNextFileConverts) {
    TempFolder dir;
    setenv("LUMADOC_PAGE_BUDGET_MS", "1000", 1);
    const std::string bomb = dir.file("bomb.pdf");
    std::ofstream(bomb, std::ios::binary) << testing_support::formBombPdf();
    const std::string good = dir.file("good.pdf");
    testing_support::FixturePage page;
    page.content = textLine("F1", 12, 72, 700, "After the bomb");
    ASSERT_TRUE(writeFixturePdf(good, {page}));

    const int h = OpenPDF(bomb.c_str(), "");
    ASSERT_GT(h, 0);
    EXPECT_EQ(ExportRTF(h, dir.file("bomb.rtf").c_str(), 1, 1, nullptr), 1);
    EXPECT_EQ(PagesCutShort(), 1);
    ASSERT_EQ(mkdir(dir.file("bomb").c_str(), 0700), 0);
    EXPECT_EQ(ExportIMG(h, dir.file("bomb").c_str(), "page-", PDFTOX_PNG, 72, 24, 1, 1, nullptr),
              1);
    EXPECT_EQ(PagesCutShort(), 1);
    ClosePDF(h);
    const int g = OpenPDF(good.c_str(), "");
    EXPECT_EQ(ExportRTF(g, dir.file("good.rtf").c_str(), 1, 1, nullptr), 1);
    EXPECT_EQ(PagesCutShort(), 0);
    ClosePDF(g);
    EXPECT_NE(readFile(dir.file("good.rtf")).find("After the bomb"), std::string::npos);

    for (const std::string& tool : {"pdf2htm " + q(bomb) + " " + q(dir.file("bomb.html")),
                                    "pdf2swf " + q(bomb) + " -o " + q(dir.file("bomb.swf"))}) {
        const ToolResult r = runTool(app + "/data/" + tool, dir.file("errors.txt"));
        EXPECT_EQ(r.status, TOOL_CUT_SHORT) << tool << r.errors;
        EXPECT_NE(r.errors.find("page 1 is too complex"), std::string::npos) << r.errors;
    }
    EXPECT_TRUE(std::ifstream(dir.file("bomb.html")).good());
    EXPECT_TRUE(std::ifstream(dir.file("bomb.swf")).good());
    unsetenv("LUMADOC_PAGE_BUDGET_MS");
}

// poppler's pdftotext has no budget of its own: ours ends it on a page that runs past the
// budget and starts it again after that page, so the pages around the bomb keep their text, in
// both page-break modes.
TEST(PageBudget, TheTextToolSkipsABombAndKeepsThePagesAroundIt) {
    TempFolder dir;
    setenv("LUMADOC_PAGE_BUDGET_MS", "1000", 1);
    const std::string bomb = dir.file("bomb.pdf");
    std::ofstream(bomb, std::ios::binary) << testing_support::formBombPdf();
    testing_support::FixturePage before;
    before.content = textLine("F1", 12, 72, 700, "Before the bomb");
    testing_support::FixturePage after;
    after.content = textLine("F1", 12, 72, 700, "After the bomb");
    ASSERT_TRUE(writeFixturePdf(dir.file("before.pdf"), {before}));
    ASSERT_TRUE(writeFixturePdf(dir.file("after.pdf"), {after}));
    const std::string sandwich = dir.file("sand wich.pdf");
    ASSERT_EQ(run("qpdf --empty --pages " + q(dir.file("before.pdf")) + " " + q(bomb) + " " +
                  q(dir.file("after.pdf")) + " " + q(bomb) + " -- " + q(sandwich)),
              0);

    const ToolResult r = runTool(app + "/pdftotext " + q(sandwich) + " " + q(dir.file("s.txt")),
                                 dir.file("errors.txt"));
    EXPECT_EQ(r.status, TOOL_CUT_SHORT) << r.errors;
    EXPECT_NE(r.errors.find("page 2 is too complex"), std::string::npos) << r.errors;
    EXPECT_NE(r.errors.find("page 4 is too complex"), std::string::npos) << r.errors;
    EXPECT_EQ(readFile(dir.file("s.txt")), "Before the bomb\n\n\f\fAfter the bomb\n\n\f\f");

    const ToolResult plain =
        runTool(app + "/pdftotext -f 2 -l 3 -nopgbrk " + q(sandwich) + " " + q(dir.file("p.txt")),
                dir.file("errors.txt"));
    EXPECT_EQ(plain.status, TOOL_CUT_SHORT) << plain.errors;
    EXPECT_EQ(readFile(dir.file("p.txt")), "After the bomb\n\n");
    unsetenv("LUMADOC_PAGE_BUDGET_MS");
}

// A tool whose program was killed ends too, instead of working on for nobody.
TEST(PageBudget, ToolsEndWithTheProgramThatStartedThem) {
    TempFolder dir;
    const std::string bomb = dir.file("orphan bomb.pdf");
    std::ofstream(bomb, std::ios::binary) << testing_support::formBombPdf();
    // Its output goes nowhere: a test runner waits for whatever holds its pipes open.
    const std::string parent = q(app + "/data/pdf2htm") + " " + q(bomb) + " " +
                               q(dir.file("orphan.html")) + " >/dev/null 2>&1 & wait";
    const pid_t shell = fork();
    ASSERT_GE(shell, 0);
    if (shell == 0) {
        execl("/bin/sh", "sh", "-c", parent.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // The bracket keeps the shell that runs pgrep from matching itself.
    const auto running = [&] { return run("pgrep -f '[o]rphan bomb' >/dev/null") == 0; };
    for (int i = 0; i < 100 && !running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(running());
    kill(shell, SIGKILL);
    waitpid(shell, nullptr, 0);
    bool ended = false;
    for (int i = 0; i < 200 && !ended; ++i) {
        ended = !running();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(ended) << "pdf2htm outlived the program that started it";
    run("pkill -9 -f '[o]rphan bomb'");
}

// A page tree that claims 100 000 000 pages over one: the pages that are there are counted, and
// every export is done at once.
TEST(PageBudget, APageTreeThatLiesAboutItsCountHasItsRealPages) {
    TempFolder dir;
    const std::string content = "BT /F1 24 Tf 72 700 Td (Only page) Tj ET";
    const std::string pdf = dir.file("liar.pdf");
    std::ofstream(pdf, std::ios::binary) << testing_support::assemblePdf(
        {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 100000000 >>",
         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources "
         "<< /Font << /F1 5 0 R >> >> >>",
         "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
         "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"},
        "/Root 1 0 R");
    const int h = OpenPDF(pdf.c_str(), "");
    ASSERT_GT(h, 0);
    EXPECT_EQ(GetPageNum(h), 1);
    EXPECT_EQ(ExportRTF(h, dir.file("liar.rtf").c_str(), 1, 100000000, nullptr), 1);
    ClosePDF(h);
    EXPECT_NE(readFile(dir.file("liar.rtf")).find("Only page"), std::string::npos);
    const ToolResult r =
        runTool(app + "/data/pdf2htm " + q(pdf) + " " + q(dir.file("liar.html")), dir.file("e"));
    EXPECT_EQ(r.status, 0) << r.errors;
}

// The page's peak resident memory since `resetPeakMemory`, from the kernel's own account.
void resetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

long peakMemoryMiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6)) / 1024;
        }
    }
    return -1;
}

// A flat grey picture of side x side pixels, deflated: a few hundred kilobytes that decode to
// side² bytes.
std::string deflatedGrey(int side) {
    z_stream z{};
    deflateInit(&z, 9);
    const std::string row(size_t(side), '\x80');
    std::string out;
    std::vector<unsigned char> buffer(1 << 16);
    for (int y = 0; y < side; ++y) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(row.data()));
        z.avail_in = uInt(row.size());
        const int flush = y + 1 == side ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = buffer.data();
            z.avail_out = uInt(buffer.size());
            deflate(&z, flush);
            out.append(reinterpret_cast<char*>(buffer.data()), buffer.size() - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return out;
}

// A picture far larger than its place on the page is decoded at the size it is written, never
// whole: 576 MB of samples drawn on a few inches.
TEST(PageBudget, AHugePictureIsDecodedAtTheSizeItIsWritten) {
    TempFolder dir;
    const int side = 24000;
    const std::string samples = deflatedGrey(side);
    const std::string content = "q 400 0 0 400 100 200 cm /Im0 Do Q";
    const std::string pdf = dir.file("huge picture.pdf");
    std::ofstream(pdf, std::ios::binary) << testing_support::assemblePdf(
        {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources "
         "<< /XObject << /Im0 5 0 R >> >> >>",
         "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
         "<< /Type /XObject /Subtype /Image /Width " + std::to_string(side) + " /Height " +
             std::to_string(side) +
             " /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /FlateDecode /Length " +
             std::to_string(samples.size()) + " >>\nstream\n" + samples + "\nendstream"},
        "/Root 1 0 R");
    const int h = OpenPDF(pdf.c_str(), "");
    ASSERT_GT(h, 0);
    resetPeakMemory();
    EXPECT_EQ(ExportRTF(h, dir.file("huge.rtf").c_str(), 1, 1, nullptr), 1);
    const long peak = peakMemoryMiB();
    ClosePDF(h);
    EXPECT_LT(peak, 300) << "the picture was decoded whole (" << side * side / 1048576 << " MiB)";
    // 400 points at 200 dpi is 1111 pixels; MuPDF decodes at a halving above that (or takes a
    // larger one it holds already, from the page drawn for recognition).
    const std::string rtf = readFile(dir.file("huge.rtf"));
    const size_t at = rtf.find("\\picw");
    ASSERT_NE(at, std::string::npos);
    const int width = std::stoi(rtf.substr(at + 5));
    EXPECT_GE(width, side / 16);
    EXPECT_LE(width, side / 8);
}

} // namespace
