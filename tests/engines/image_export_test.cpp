// Image export: files, names, sizes, colour types, content against MuPDF's own rendering,
// progress calls and bad input.
#include "engine_test_support.h"

#include <gtest/gtest.h>

#include <thread>

using namespace engine_tests;

namespace {

struct ProgressLog {
    std::vector<std::array<int, 3>> calls;
    bool otherThread = false;
    std::thread::id caller;
};
ProgressLog g_log;

int recordProgress(int first, int last, int done) {
    g_log.calls.push_back({first, last, done});
    if (std::this_thread::get_id() != g_log.caller) {
        g_log.otherThread = true;
    }
    return 1;
}

void resetLog() {
    g_log = ProgressLog();
    g_log.caller = std::this_thread::get_id();
}

class ImageExport : public ::testing::Test {
protected:
    void SetUp() override {
        pdf = dir.file("styled.pdf");
        ASSERT_TRUE(testing_support::writeFixturePdf(pdf, styledPages()));
        handle = OpenPDF(pdf.c_str(), "");
        ASSERT_GT(handle, 0);
        resetLog();
    }
    void TearDown() override { ClosePDF(handle); }

    std::string folder(const std::string& name) {
        const std::string path = dir.file(name);
        run("mkdir -p '" + path + "'");
        return path + "/";
    }

    TempFolder dir;
    std::string pdf;
    int handle = 0;
};

struct Format {
    const char* name;
    int code;
    int depth;
    const char* ext;
    int storedBits;
    double maxDifference; // against MuPDF's own rendering, mean per channel
};

class EveryFormat : public ImageExport, public ::testing::WithParamInterface<Format> {};

TEST_P(EveryFormat, OneFilePerPageAtTheRightSizeAndContent) {
    const Format& f = GetParam();
    const std::string out = folder(std::string("out ") + f.name);
    EXPECT_EQ(ExportIMG(handle, out.c_str(), "", f.code, 120, f.depth, 1, 3, recordProgress), 3);

    const std::vector<std::string> expected{std::string("page-0001") + f.ext,
                                            std::string("page-0002") + f.ext,
                                            std::string("page-0003") + f.ext};
    EXPECT_EQ(listFolder(out), expected) << "no temporary files are left behind";

    const int sizes[3][2] = {{1020, 1320}, {1320, 1020}, {1320, 1020}};
    for (int i = 0; i < 3; ++i) {
        const Decoded d = decodeAny(out + expected[size_t(i)]);
        ASSERT_TRUE(d.ok) << expected[size_t(i)];
        EXPECT_EQ(d.width, sizes[i][0]) << expected[size_t(i)];
        EXPECT_EQ(d.height, sizes[i][1]) << expected[size_t(i)];
        EXPECT_EQ(d.bitsPerPixel, f.storedBits);
        if (f.code == PDFTOX_GIF) {
            EXPECT_GT(d.paletteSize, 2);
            EXPECT_LE(d.paletteSize, 256);
        } else {
            EXPECT_NEAR(d.dpi, 120, 0.5) << "the resolution is recorded in the file";
        }
    }

    // The content matches MuPDF's own rendering of the page.
    ASSERT_EQ(run("mutool draw -q -r 120 -o '" + dir.file("ref%d.png") + "' '" + pdf + "' 1-3"), 0);
    for (int i = 0; i < 3; ++i) {
        const Decoded ours = decodeAny(out + expected[size_t(i)]);
        const Decoded ref = decodePng(dir.file("ref" + std::to_string(i + 1) + ".png"));
        EXPECT_LT(meanDifference(ours, ref), f.maxDifference) << expected[size_t(i)];
    }

    ASSERT_EQ(g_log.calls.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(g_log.calls[size_t(i)], (std::array<int, 3>{1, 3, i + 1}));
    }
    EXPECT_FALSE(g_log.otherThread) << "progress is reported on the calling thread";
}

INSTANTIATE_TEST_SUITE_P(Formats, EveryFormat,
                         ::testing::Values(Format{"Bmp", PDFTOX_BMP, 24, ".bmp", 24, 0.01},
                                           Format{"Jpeg", PDFTOX_JPEG, 24, ".jpg", 24, 3.0},
                                           Format{"Tiff", PDFTOX_TIFF, 24, ".tif", 24, 0.01},
                                           Format{"Png", PDFTOX_PNG, 24, ".png", 24, 0.01},
                                           Format{"Gif", PDFTOX_GIF, 8, ".gif", 8, 4.0},
                                           Format{"PngPalette", PDFTOX_PNG, 8, ".png", 8, 4.0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImageExport, PagesOutsideTheDocumentAreSkippedAndCountedAsDone) {
    const std::string out = folder("range");
    EXPECT_EQ(ExportIMG(handle, out.c_str(), nullptr, PDFTOX_PNG, 120, 24, 0, 5, recordProgress),
              3);
    EXPECT_EQ(listFolder(out).size(), 3u);
    ASSERT_FALSE(g_log.calls.empty());
    int previous = 0;
    for (const auto& call : g_log.calls) {
        EXPECT_EQ(call[0], 0);
        EXPECT_EQ(call[1], 5);
        EXPECT_GT(call[2], previous);
        previous = call[2];
    }
    EXPECT_EQ(previous, 6) << "the count reaches the size of the range asked for";

    resetLog();
    const std::string second = folder("second page only");
    EXPECT_EQ(
        ExportIMG(handle, second.c_str(), "scan ", PDFTOX_JPEG, 120, 24, 2, 2, recordProgress), 1);
    EXPECT_EQ(listFolder(second), std::vector<std::string>{"scan 0002.jpg"});

    resetLog();
    const std::string none = folder("none");
    EXPECT_EQ(ExportIMG(handle, none.c_str(), "", PDFTOX_PNG, 120, 24, 3, 2, recordProgress), 0);
    EXPECT_EQ(ExportIMG(handle, none.c_str(), "", PDFTOX_PNG, 120, 24, 7, 9, recordProgress), 0);
    EXPECT_EQ(ExportIMG(handle, none.c_str(), "", PDFTOX_PNG, 120, 24, -5, -1, recordProgress), 0);
    EXPECT_TRUE(listFolder(none).empty());
    EXPECT_EQ(ExportIMG(handle, none.c_str(), "", PDFTOX_PNG, 120, 24, INT_MIN, INT_MAX, nullptr),
              3);
}

TEST_F(ImageExport, BadArgumentsAndUnwritableFoldersWriteNothing) {
    const std::string out = folder("bad");
    EXPECT_EQ(ExportIMG(987654, out.c_str(), "", PDFTOX_PNG, 120, 24, 1, 3, nullptr),
              PDFTOX_BAD_HANDLE);
    EXPECT_EQ(ExportIMG(handle, out.c_str(), "", 0, 120, 24, 1, 3, nullptr), PDFTOX_BAD_ARGUMENT);
    EXPECT_EQ(ExportIMG(handle, out.c_str(), "", 6, 120, 24, 1, 3, nullptr), PDFTOX_BAD_ARGUMENT);
    EXPECT_EQ(ExportIMG(handle, out.c_str(), "", PDFTOX_PNG, 0, 24, 1, 3, nullptr),
              PDFTOX_BAD_ARGUMENT);
    EXPECT_EQ(ExportIMG(handle, nullptr, "", PDFTOX_PNG, 120, 24, 1, 3, nullptr),
              PDFTOX_BAD_ARGUMENT);
    EXPECT_TRUE(listFolder(out).empty());

    const std::string missing = dir.file("no such folder") + "/";
    EXPECT_EQ(ExportIMG(handle, missing.c_str(), "", PDFTOX_TIFF, 120, 24, 1, 3, recordProgress),
              PDFTOX_WRITE_FAILED);
    // A file where the folder should be.
    run("touch '" + dir.file("plainfile") + "'");
    EXPECT_EQ(ExportIMG(handle, (dir.file("plainfile") + "/").c_str(), "", PDFTOX_PNG, 120, 24, 1,
                        3, nullptr),
              PDFTOX_WRITE_FAILED);

    // Without a trailing separator the folder is still the folder.
    const std::string bare = dir.file("bare");
    run("mkdir -p '" + bare + "'");
    EXPECT_EQ(ExportIMG(handle, bare.c_str(), "", PDFTOX_BMP, 120, 24, 1, 1, nullptr), 1);
    EXPECT_EQ(listFolder(bare), std::vector<std::string>{"page-0001.bmp"});
}

TEST_F(ImageExport, AFullDiskStopsTheExportWithoutPartialFiles) {
    // A file system with room for a page or two of PNG, not for three.
    const std::string small = dir.file("small disk");
    run("mkdir -p '" + small + "'");
    if (run("mount -t tmpfs -o size=40k tmpfs '" + small + "' 2>/dev/null") != 0) {
        GTEST_SKIP() << "cannot mount a small file system here";
    }
    const int images =
        ExportIMG(handle, (small + "/").c_str(), "", PDFTOX_PNG, 120, 24, 1, 3, nullptr);
    std::vector<std::string> whole;
    std::vector<std::string> broken;
    for (const std::string& name : listFolder(small)) {
        (decodePng(small + "/" + name).ok ? whole : broken).push_back(name);
    }
    // A file left open by the export would keep the file system busy.
    const int unmounted = run("umount '" + small + "' 2>/dev/null");
    if (unmounted != 0) {
        run("umount -l '" + small + "'");
    }
    EXPECT_EQ(unmounted, 0) << "the export left a file open";

    EXPECT_EQ(images, PDFTOX_DISK_FULL);
    EXPECT_LT(whole.size(), 3u);
    EXPECT_TRUE(broken.empty()) << broken.front() << " is not a whole image";
}

TEST_F(ImageExport, DamagedPagesDoNotStopTheExport) {
    using testing_support::FixturePage;
    FixturePage broken;
    broken.content = testing_support::textLine("F1", 14, 72, 700, "Before the damage") +
                     "q 1 0 0 1 0 0 cm /NoSuchThing Do ] ] }} 12 (unterminated";
    FixturePage good;
    good.content = testing_support::textLine("F1", 14, 72, 700, "A good page");
    const std::string damaged = dir.file("damaged.pdf");
    ASSERT_TRUE(testing_support::writeFixturePdf(damaged, {broken, good}));
    const int h = OpenPDF(damaged.c_str(), "");
    ASSERT_GT(h, 0);
    const std::string out = folder("damaged");
    EXPECT_EQ(ExportIMG(h, out.c_str(), "", PDFTOX_PNG, 120, 24, 1, 2, recordProgress), 2);
    ClosePDF(h);
    const Decoded first = decodePng(out + "page-0001.png");
    ASSERT_TRUE(first.ok);
    size_t dark = 0;
    for (const uint8_t v : first.rgb) {
        dark += v < 128;
    }
    EXPECT_GT(dark, 100u) << "what could be drawn was drawn";
}

TEST(ImageCorpus, RealPagesMatchMuPdf) {
    if (!haveCorpus()) {
        GTEST_SKIP() << "corpus not present";
    }
    TempFolder dir;
    struct Case {
        const char* file;
        int page;
    };
    for (const Case& c : {Case{"cmykjpeg.pdf", 1}, Case{"prefilled_f1040.pdf", 1},
                          Case{"issue16063.pdf", 1}, Case{"personwithdog.pdf", 1}}) {
        const int h = OpenPDF(corpus(c.file).c_str(), "");
        ASSERT_GT(h, 0) << c.file;
        const std::string out = dir.file(c.file) + "/";
        run("mkdir -p '" + out + "'");
        EXPECT_EQ(ExportIMG(h, out.c_str(), "", PDFTOX_PNG, 120, 24, c.page, c.page, nullptr), 1)
            << c.file;
        ClosePDF(h);
        const std::string ref = dir.file(std::string(c.file) + ".ref.png");
        ASSERT_EQ(run("mutool draw -q -r 120 -o '" + ref + "' '" + corpus(c.file) + "' " +
                      std::to_string(c.page)),
                  0);
        char name[32];
        std::snprintf(name, sizeof name, "page-%04d.png", c.page);
        EXPECT_LT(meanDifference(decodePng(out + name), decodePng(ref)), 0.5) << c.file;
    }
}

} // namespace
