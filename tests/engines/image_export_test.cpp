// Image export: files, names, sizes, colour types, content against MuPDF's own rendering,
// progress calls and bad input.
#include "engine_test_support.h"
#include "reduced_jpeg.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>
#include <functional>
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
                         [](const auto& test) { return std::string(test.param.name); });

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

// ---- Scanned pages: JPEG pictures drawn smaller than stored --------------------------------

namespace scans {

std::string jpegOf(int width, int height, int channels,
                   const std::function<int(int, int, int)>& at) {
    std::vector<unsigned char> pixels(size_t(width) * size_t(height) * size_t(channels));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < channels; ++c) {
                pixels[(size_t(y) * size_t(width) + size_t(x)) * size_t(channels) + size_t(c)] =
                    static_cast<unsigned char>(at(x, y, c));
            }
        }
    }
    tjhandle tj = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int ok =
        tjCompress2(tj, pixels.data(), width, 0, height, channels == 1 ? TJPF_GRAY : TJPF_RGB,
                    &jpeg, &size, channels == 1 ? TJSAMP_GRAY : TJSAMP_420, 90, 0);
    std::string bytes = ok == 0 ? std::string(reinterpret_cast<char*>(jpeg), size) : "";
    tjFree(jpeg);
    tjDestroy(tj);
    return bytes;
}

struct Picture {
    int width;
    int height;
    int channels;
    std::string jpeg;
};

/// One page of `width` × `height` points holding the pictures (as /Im0, /Im1, ...) drawn by
/// `content`.
bool writeJpegPdf(const std::string& path, double width, double height,
                  const std::vector<Picture>& pictures, const std::string& content) {
    std::vector<std::string> objects;
    objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    objects.push_back("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    std::string resources;
    for (size_t i = 0; i < pictures.size(); ++i) {
        resources += "/Im" + std::to_string(i) + " " + std::to_string(5 + i) + " 0 R ";
    }
    char box[64];
    std::snprintf(box, sizeof box, "[0 0 %g %g]", width, height);
    objects.push_back(std::string("<< /Type /Page /Parent 2 0 R /MediaBox ") + box +
                      " /Contents 4 0 R /Resources << /XObject << " + resources + ">> >> >>");
    objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
                      "\nendstream");
    for (const Picture& p : pictures) {
        objects.push_back("<< /Type /XObject /Subtype /Image /Width " + std::to_string(p.width) +
                          " /Height " + std::to_string(p.height) + " /ColorSpace " +
                          (p.channels == 1 ? "/DeviceGray" : "/DeviceRGB") +
                          " /BitsPerComponent 8 /Filter /DCTDecode /Length " +
                          std::to_string(p.jpeg.size()) + " >>\nstream\n" + p.jpeg + "\nendstream");
    }
    const std::string pdf = testing_support::assemblePdf(objects, "/Root 1 0 R");
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        return false;
    }
    const bool ok = std::fwrite(pdf.data(), 1, pdf.size(), f) == pdf.size();
    return std::fclose(f) == 0 && ok;
}

// Smooth shading with a few hard edges, like a photographed or scanned page.
int scene(int x, int y, int c) {
    const int block = ((x / 40) + (y / 40)) % 2 ? 60 : 0;
    return std::min(255, (x * 255 / 400 + y * (c + 1) * 40 / 300 + block) % 256);
}

} // namespace scans

TEST(ScannedPages, JpegPicturesLookAsMuPdfDrawsThem) {
    using scans::Picture;
    TempFolder dir;
    const std::string rgb = scans::jpegOf(400, 300, 3, scans::scene);
    const std::string grey = scans::jpegOf(400, 300, 1, scans::scene);
    ASSERT_FALSE(rgb.empty());
    ASSERT_FALSE(grey.empty());
    struct Case {
        const char* name;
        Picture picture;
        const char* placement; // the cm operands, in points, for a 200 × 150 pt page
        double maxDifference;
    };
    // At 120 dpi a 200 × 150 pt page is 334 × 250 pixels.
    const Case cases[] = {
        // 400 × 300 pixels onto 334 × 250: decoded at full size and averaged down.
        {"colour, most of the size", {400, 300, 3, rgb}, "200 0 0 150 0 0", 2.0},
        // Onto 100 × 75 pixels: decoded at a quarter of its size.
        {"grey, a quarter", {400, 300, 1, grey}, "60 0 0 45 70 50", 2.5},
        // Larger than stored, flipped, turned: MuPDF's own drawing.
        // (A lone page is drawn in bands, which MuPDF's scaler does not do exactly as it draws
        // the whole page: hence a bound above zero for these.)
        {"drawn larger", {400, 300, 3, rgb}, "300 0 0 225 -50 -40", 2.0},
        {"flipped", {400, 300, 3, rgb}, "200 0 0 -150 0 150", 2.0},
        {"turned", {400, 300, 3, rgb}, "0 150 -200 0 200 0", 2.0},
        // Cut short: MuPDF's handling of damaged data decides what is drawn.
        {"cut short", {400, 300, 3, rgb.substr(0, rgb.size() / 2)}, "200 0 0 150 0 0", 2.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string pdf = dir.file(std::string(c.name) + ".pdf");
        ASSERT_TRUE(scans::writeJpegPdf(pdf, 200, 150, {c.picture},
                                        std::string("q ") + c.placement + " cm /Im0 Do Q"));
        const int h = OpenPDF(pdf.c_str(), "");
        ASSERT_GT(h, 0);
        const std::string out = dir.file(std::string(c.name) + " out") + "/";
        run("mkdir -p '" + out + "'");
        EXPECT_EQ(ExportIMG(h, out.c_str(), "", PDFTOX_PNG, 120, 24, 1, 1, nullptr), 1);
        ClosePDF(h);
        const std::string ref = dir.file(std::string(c.name) + ".ref.png");
        ASSERT_EQ(run("mutool draw -q -r 120 -o '" + ref + "' '" + pdf + "' 1"), 0);
        const Decoded ours = decodePng(out + "page-0001.png");
        const Decoded theirs = decodePng(ref);
        ASSERT_TRUE(ours.ok);
        EXPECT_EQ(ours.width, 334);
        EXPECT_EQ(ours.height, 250);
        EXPECT_LT(meanDifference(ours, theirs), c.maxDifference)
            << "mean difference " << meanDifference(ours, theirs);
    }
}

TEST(ScannedPages, EveryFormatLooksAsMuPdfAndPdftoppmDrawThePage) {
    if (!haveCorpus()) {
        GTEST_SKIP() << "corpus not present";
    }
    TempFolder dir;
    const std::string pdf = corpus("issue7229.pdf");
    // The picture is 1654 × 2338 pixels at 200 dpi on an A4 page: 994 × 1404 at 120 dpi.
    ASSERT_EQ(run("pdftoppm -r 120 -png '" + pdf + "' '" + dir.file("poppler") + "'"), 0);
    ASSERT_EQ(run("mutool draw -q -r 120 -o '" + dir.file("mupdf-%d.png") + "' '" + pdf + "'"), 0);
    struct Case {
        const char* ext;
        int code;
        int depth;
        double maxDifference; // against MuPDF's drawing at full size, scaled by MuPDF
    };
    for (const Case& c : {Case{".jpg", PDFTOX_JPEG, 24, 3.0}, Case{".bmp", PDFTOX_BMP, 24, 1.5},
                          Case{".gif", PDFTOX_GIF, 8, 6.0}, Case{".png", PDFTOX_PNG, 24, 1.5},
                          Case{".tif", PDFTOX_TIFF, 24, 1.5}}) {
        SCOPED_TRACE(c.ext);
        const int h = OpenPDF(pdf.c_str(), "");
        ASSERT_GT(h, 0);
        const std::string out = dir.file(std::string("out") + c.ext) + "/";
        run("mkdir -p '" + out + "'");
        EXPECT_EQ(ExportIMG(h, out.c_str(), "", c.code, 120, c.depth, 1, 2, nullptr), 2);
        ClosePDF(h);
        for (int page = 1; page <= 2; ++page) {
            SCOPED_TRACE("page " + std::to_string(page));
            const Decoded ours = decodeAny(out + "page-000" + std::to_string(page) + c.ext);
            const Decoded mupdf = decodePng(dir.file("mupdf-" + std::to_string(page) + ".png"));
            const Decoded poppler = decodePng(dir.file("poppler-" + std::to_string(page) + ".png"));
            ASSERT_TRUE(ours.ok);
            ASSERT_TRUE(mupdf.ok);
            ASSERT_TRUE(poppler.ok);
            EXPECT_EQ(ours.width, poppler.width);
            EXPECT_EQ(ours.height, poppler.height);
            if (c.code != PDFTOX_GIF) {
                EXPECT_NEAR(ours.dpi, 120, 0.5);
            }
            EXPECT_LT(meanDifference(ours, mupdf), c.maxDifference);
            // MuPDF and poppler differ on this page on their own; ours stays as far from
            // poppler as MuPDF is.
            EXPECT_LT(meanDifference(ours, poppler),
                      meanDifference(mupdf, poppler) + c.maxDifference);
        }
    }
}

TEST(ScannedPages, AveragingDownKeepsTheMeanAndStaysInside) {
    struct Case {
        int srcWidth, srcHeight, dstWidth, dstHeight, channels;
    };
    for (const Case& c : {Case{1654, 24, 994, 14, 3}, Case{7, 5, 3, 2, 1}, Case{8, 8, 4, 4, 3},
                          Case{9, 3, 9, 3, 3}, Case{1, 1, 1, 1, 1}, Case{100, 7, 1, 1, 3}}) {
        SCOPED_TRACE(std::to_string(c.srcWidth) + "x" + std::to_string(c.srcHeight) + " to " +
                     std::to_string(c.dstWidth) + "x" + std::to_string(c.dstHeight));
        // Exactly as large as the picture, so that any read beyond it shows under the
        // sanitizers.
        const size_t srcValues = size_t(c.srcWidth) * size_t(c.srcHeight) * size_t(c.channels);
        std::vector<uint8_t> flat(srcValues, 173);
        std::vector<uint8_t> out(size_t(c.dstWidth) * size_t(c.dstHeight) * size_t(c.channels));
        pdftox::averageDown(flat.data(), c.srcWidth, c.srcHeight, c.srcWidth * c.channels,
                            c.channels, out.data(), c.dstWidth, c.dstHeight,
                            c.dstWidth * c.channels);
        for (const uint8_t v : out) {
            ASSERT_EQ(v, 173) << "an even colour stays that colour";
        }
    }
    // Halving: each output pixel is the mean of its 2 × 2 block.
    const std::vector<uint8_t> src{0, 255, 10, 20, 255, 0, 30, 40};
    std::vector<uint8_t> half(2);
    pdftox::averageDown(src.data(), 4, 2, 4, 1, half.data(), 2, 1, 2);
    EXPECT_NEAR(half[0], 127.5, 0.5 + 1e-9);
    EXPECT_NEAR(half[1], 25, 0.5 + 1e-9);

    // Large ratios: one dark row among bright ones, and the reverse, down and across; rounding
    // each share on its own once made shares negative and the sums wrap.
    for (const int ratio : {30, 107, 300}) {
        SCOPED_TRACE("ratio " + std::to_string(ratio));
        std::vector<uint8_t> column(size_t(ratio), 255);
        column[0] = 0;
        uint8_t one = 0;
        pdftox::averageDown(column.data(), 1, ratio, 1, 1, &one, 1, 1, 1);
        EXPECT_NEAR(one, 255.0 * (ratio - 1) / ratio, 1.5);
        pdftox::averageDown(column.data(), ratio, 1, ratio, 1, &one, 1, 1, 1);
        EXPECT_NEAR(one, 255.0 * (ratio - 1) / ratio, 1.5);
        for (uint8_t& v : column) {
            v = uint8_t(255 - v);
        }
        pdftox::averageDown(column.data(), 1, ratio, 1, 1, &one, 1, 1, 1);
        EXPECT_NEAR(one, 255.0 / ratio, 1.5);
    }
}
