// The page-writing library through its C interface: pages read back with qpdf (structure, the
// bytes of the image streams) and MuPDF (what the page shows).
#include "pdfctl.h"

#include "mupdf.h"
#include "pdfctl_fixtures.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

using namespace pdfctl_tests;
namespace fs = std::filesystem;

namespace {

const Rgb Red{255, 0, 0}, Green{0, 255, 0}, Blue{0, 0, 255}, White{255, 255, 255};
const Rgb Corners[4] = {Red, Green, Blue, White};

class TempDir {
public:
    TempDir() {
        std::string name = (fs::temp_directory_path() / "pdfctl-test-XXXXXX").string();
        m_path = mkdtemp(name.data());
    }
    ~TempDir() { fs::remove_all(m_path); }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string lastError() {
    char buffer[1024];
    GetErrorMsg(buffer, sizeof buffer);
    return buffer;
}

struct PageOptions {
    int unit = PDFCTL_UNIT_POINT;
    int width = 200;
    int height = 100;
    std::vector<std::pair<int, int>> numbers; ///< further SetNumProp calls
    std::string creator;
};

/// Makes a one-page PDF at `out` showing `image` over the rectangle; returns the draw's and the
/// end's results.
std::pair<int, int> makePage(const std::string& image, const std::string& out,
                             const PageOptions& options = {}, int x = 0, int y = 0, int w = 200,
                             int h = 100) {
    const int box = CreateBox(0, 0);
    EXPECT_GT(box, 0);
    SetStrProp(box, PDFCTL_OUTPUT_FILE, out.c_str());
    if (!options.creator.empty()) {
        SetStrProp(box, PDFCTL_CREATOR, options.creator.c_str());
    }
    EXPECT_EQ(SetNumProp(box, PDFCTL_UNIT, options.unit), 0);
    EXPECT_EQ(SetNumProp(box, PDFCTL_PAGE_WIDTH, options.width), 0);
    EXPECT_EQ(SetNumProp(box, PDFCTL_PAGE_HEIGHT, options.height), 0);
    for (const auto& [id, value] : options.numbers) {
        EXPECT_EQ(SetNumProp(box, id, value), 0);
    }
    EXPECT_EQ(BeginDoc(box), 0);
    const int drawn = StretchDrawFromFile(box, x, y, w, h, image.c_str());
    const int ended = EndDoc(box);
    FreeBox(box);
    return {drawn, ended};
}

/// The page's one image XObject.
QPDFObjectHandle onlyImage(QPDF& pdf) {
    auto pages = QPDFPageDocumentHelper(pdf).getAllPages();
    EXPECT_EQ(pages.size(), 1u);
    auto images = pages.at(0).getImages();
    EXPECT_EQ(images.size(), 1u);
    return images.begin()->second;
}

std::string raw(QPDFObjectHandle stream) {
    const auto buffer = stream.getRawStreamData();
    return std::string(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
}

std::string key(QPDFObjectHandle stream, const char* name) {
    auto dict = stream.getDict();
    return dict.hasKey(name) ? dict.getKey(name).unparse() : "";
}

/// A page rendered by MuPDF at one pixel per point.
struct Rendering {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    Rgb at(int x, int y) const {
        const uint8_t* p = &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3];
        return {p[0], p[1], p[2]};
    }
};

Rendering render(const std::string& path) {
    pdftox::ThreadContext context;
    fz_context* ctx = context.get();
    const auto doc = pdftox::openPdf(ctx, path);
    fz_rect bounds{};
    const auto page = pdftox::loadPage(ctx, doc.get(), 1, &bounds);
    const auto pix = pdftox::newWhitePixmap(ctx, bounds, 1.0);
    fz_device* device = nullptr;
    pdftox::guarded(ctx, [&] { device = fz_new_draw_device(ctx, fz_identity, pix.get()); });
    const auto owned = pdftox::own<pdftox::DevicePtr>(ctx, device);
    pdftox::drawPage(ctx, page.get(), fz_identity, owned.get());
    Rendering r;
    r.width = fz_pixmap_width(ctx, pix.get());
    r.height = fz_pixmap_height(ctx, pix.get());
    const int n = fz_pixmap_components(ctx, pix.get());
    const auto stride = size_t(fz_pixmap_stride(ctx, pix.get()));
    const uint8_t* samples = fz_pixmap_samples(ctx, pix.get());
    for (int y = 0; y < r.height; ++y) {
        for (int x = 0; x < r.width; ++x) {
            const uint8_t* p = samples + size_t(y) * stride + size_t(x) * size_t(n);
            r.rgb.insert(r.rgb.end(), p, p + 3);
        }
    }
    return r;
}

::testing::AssertionResult near(Rgb actual, Rgb expected, int tolerance = 12) {
    const int d = std::max({std::abs(actual.r - expected.r), std::abs(actual.g - expected.g),
                            std::abs(actual.b - expected.b)});
    if (d <= tolerance) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "got (" << int(actual.r) << "," << int(actual.g) << ","
                                         << int(actual.b) << "), expected (" << int(expected.r)
                                         << "," << int(expected.g) << "," << int(expected.b) << ")";
}

/// Checks the four quadrants of a 200 x 100 page filled by a quadrants() picture.
void expectQuadrants(const Rendering& page, const Rgb (&colors)[4]) {
    EXPECT_TRUE(near(page.at(50, 25), colors[0])) << "top left";
    EXPECT_TRUE(near(page.at(150, 25), colors[1])) << "top right";
    EXPECT_TRUE(near(page.at(50, 75), colors[2])) << "bottom left";
    EXPECT_TRUE(near(page.at(150, 75), colors[3])) << "bottom right";
}

// ---- JPEG files ------------------------------------------------------------------------------

struct JpegCase {
    const char* name;
    std::vector<uint8_t> stored; // one pixel's samples as written
    bool progressive;
    const char* colorSpace;
    Rgb shown;
};

class JpegColours : public ::testing::TestWithParam<JpegCase> {};

// The file's bytes are the image stream, the colour space follows the components, and the
// page shows the right colour (CMYK stored inverted, as Adobe's marker says).
TEST_P(JpegColours, CopiedAsTheyAreAndShownInTheirColour) {
    const JpegCase& c = GetParam();
    TempDir dir;
    const std::string jpeg = dir.file("in.jpg");
    writeJpeg(jpeg, solid(64, 32, c.stored), {c.progressive, 0, 95});
    ASSERT_EQ(makePage(jpeg, dir.file("out.pdf")), std::make_pair(0, 0)) << lastError();

    QPDF pdf;
    pdf.processFile(dir.file("out.pdf").c_str());
    auto image = onlyImage(pdf);
    EXPECT_EQ(raw(image), readFile(jpeg));
    EXPECT_EQ(key(image, "/Filter"), "/DCTDecode");
    EXPECT_EQ(key(image, "/ColorSpace"), c.colorSpace);
    EXPECT_EQ(key(image, "/Width"), "64");
    EXPECT_EQ(key(image, "/Height"), "32");
    EXPECT_EQ(key(image, "/Decode"), c.stored.size() == 4 ? "[ 1 0 1 0 1 0 1 0 ]" : "");
    EXPECT_TRUE(near(render(dir.file("out.pdf")).at(100, 50), c.shown, 40));
}

INSTANTIATE_TEST_SUITE_P(
    Pdfctl, JpegColours,
    ::testing::Values(JpegCase{"grey", {90}, false, "/DeviceGray", {90, 90, 90}},
                      JpegCase{"greyProgressive", {200}, true, "/DeviceGray", {200, 200, 200}},
                      JpegCase{"rgb", {200, 30, 40}, false, "/DeviceRGB", {200, 30, 40}},
                      JpegCase{"rgbProgressive", {20, 60, 220}, true, "/DeviceRGB", {20, 60, 220}},
                      // Adobe-inverted cyan: C=255 M=0 Y=0 K=0 stored as 0 255 255 255.
                      JpegCase{"cmykCyan", {0, 255, 255, 255}, false, "/DeviceCMYK", {0, 255, 255}},
                      JpegCase{"cmykBlack", {255, 255, 255, 0}, true, "/DeviceCMYK", {35, 31, 32}}),
    [](const ::testing::TestParamInfo<JpegCase>& c) { return std::string(c.param.name); });

// ---- orientation -----------------------------------------------------------------------------

class Orientation : public ::testing::TestWithParam<int> {};

// A photo stored turned or mirrored as its EXIF value says shows upright and measures upright;
// values outside 1..8 count as 1.
TEST_P(Orientation, JpegShowsUpright) {
    const int orientation = GetParam();
    TempDir dir;
    const std::string jpeg = dir.file("photo.jpg");
    const int stored = orientation >= 1 && orientation <= 8 ? orientation : 1;
    writeJpeg(jpeg, storedFor(quadrants(80, 40, Corners), stored), {false, orientation, 98});
    int w = 0;
    int h = 0;
    ASSERT_EQ(MeasureImage(jpeg.c_str(), &w, &h), 0) << lastError();
    EXPECT_EQ(w, 80);
    EXPECT_EQ(h, 40);
    ASSERT_EQ(makePage(jpeg, dir.file("out.pdf")), std::make_pair(0, 0)) << lastError();
    QPDF pdf;
    pdf.processFile(dir.file("out.pdf").c_str());
    EXPECT_EQ(raw(onlyImage(pdf)), readFile(jpeg));
    expectQuadrants(render(dir.file("out.pdf")), Corners);
}

INSTANTIATE_TEST_SUITE_P(Pdfctl, Orientation, ::testing::Values(1, 2, 3, 4, 5, 6, 7, 8, 0, 9));

TEST(PdfctlOrientation, PngExifShowsUpright) {
    TempDir dir;
    for (int orientation : {6, 8, 3}) {
        const std::string png = dir.file("photo.png");
        PngOptions options;
        options.orientation = orientation;
        writePng(png, storedFor(quadrants(80, 40, Corners), orientation), options);
        int w = 0;
        int h = 0;
        ASSERT_EQ(MeasureImage(png.c_str(), &w, &h), 0) << lastError();
        EXPECT_EQ(std::make_pair(w, h), std::make_pair(80, 40)) << orientation;
        ASSERT_EQ(makePage(png, dir.file("out.pdf")), std::make_pair(0, 0)) << lastError();
        expectQuadrants(render(dir.file("out.pdf")), Corners);
    }
}

// ---- PNG files -------------------------------------------------------------------------------

// 8-bit RGB, grey and palette files keep their compressed data and predictors.
TEST(PdfctlPng, PlainFilesPassTheirDataThrough) {
    TempDir dir;
    struct Case {
        Picture picture;
        PngOptions options;
        std::string colorSpace;
        Rgb shown;
    };
    Picture indices = solid(200, 100, {1});
    std::vector<Case> cases = {
        {quadrants(200, 100, Corners), {}, "/DeviceRGB", Red},
        {solid(200, 100, {77}), {}, "/DeviceGray", {77, 77, 77}},
        {indices, {8, false, {Red, {10, 120, 30}}, {}, 0}, "", {10, 120, 30}},
        {indices, {2, false, {Red, {10, 120, 30}}, {}, 0}, "", {10, 120, 30}},
    };
    for (const Case& c : cases) {
        const std::string png = dir.file("in.png");
        writePng(png, c.picture, c.options);
        ASSERT_EQ(makePage(png, dir.file("out.pdf")), std::make_pair(0, 0)) << lastError();
        QPDF pdf;
        pdf.processFile(dir.file("out.pdf").c_str());
        auto image = onlyImage(pdf);
        EXPECT_EQ(raw(image), idatBytes(readFile(png)));
        EXPECT_EQ(key(image, "/Filter"), "/FlateDecode");
        EXPECT_NE(key(image, "/DecodeParms").find("/Predictor 15"), std::string::npos);
        if (!c.colorSpace.empty()) {
            EXPECT_EQ(key(image, "/ColorSpace"), c.colorSpace);
        } else {
            EXPECT_EQ(key(image, "/ColorSpace").rfind("[ /Indexed /DeviceRGB 1 ", 0), 0u);
            EXPECT_EQ(key(image, "/BitsPerComponent"), std::to_string(c.options.bitDepth));
        }
        EXPECT_TRUE(near(render(dir.file("out.pdf")).at(20, 20), c.shown));
    }
}

// Files that need decoding: alpha, 16 bits, palette transparency, interlacing.
TEST(PdfctlPng, DecodedFilesShowTheirColours) {
    TempDir dir;
    const std::string png = dir.file("in.png");
    const std::string out = dir.file("out.pdf");

    // Red at half alpha over white, and opaque blue.
    Picture rgba = solid(200, 100, {255, 0, 0, 128});
    for (int y = 50; y < 100; ++y) {
        for (int x = 0; x < 200; ++x) {
            std::memcpy(rgba.at(x, y), "\x00\x00\xff\xff", 4);
        }
    }
    writePng(png, rgba);
    ASSERT_EQ(makePage(png, out), std::make_pair(0, 0)) << lastError();
    {
        QPDF pdf;
        pdf.processFile(out.c_str());
        auto image = onlyImage(pdf);
        ASSERT_FALSE(key(image, "/SMask").empty());
        EXPECT_EQ(key(image.getDict().getKey("/SMask"), "/ColorSpace"), "/DeviceGray");
        const Rendering page = render(out);
        EXPECT_TRUE(near(page.at(100, 20), {255, 127, 127}, 6));
        EXPECT_TRUE(near(page.at(100, 80), Blue, 6));
    }

    // 16-bit samples: 0xC8C8 and so on become 200, 30, 40.
    writePng(png, solid(200, 100, {200, 30, 40}), {16, false, {}, {}, 0});
    ASSERT_EQ(makePage(png, out), std::make_pair(0, 0)) << lastError();
    {
        QPDF pdf;
        pdf.processFile(out.c_str());
        EXPECT_EQ(key(onlyImage(pdf), "/BitsPerComponent"), "8");
        EXPECT_TRUE(near(render(out).at(100, 50), {200, 30, 40}, 2));
    }

    // Palette with tRNS: index 0 clear, index 1 opaque green.
    Picture indices = solid(200, 100, {0});
    for (int y = 0; y < 100; ++y) {
        for (int x = 100; x < 200; ++x) {
            *indices.at(x, y) = 1;
        }
    }
    writePng(png, indices, {8, false, {Red, Green}, {0, 255}, 0});
    ASSERT_EQ(makePage(png, out), std::make_pair(0, 0)) << lastError();
    {
        QPDF pdf;
        pdf.processFile(out.c_str());
        EXPECT_FALSE(key(onlyImage(pdf), "/SMask").empty());
        const Rendering page = render(out);
        EXPECT_TRUE(near(page.at(50, 50), White, 2));
        EXPECT_TRUE(near(page.at(150, 50), Green, 2));
    }

    // Interlaced.
    writePng(png, quadrants(200, 100, Corners), {8, true, {}, {}, 0});
    ASSERT_EQ(makePage(png, out), std::make_pair(0, 0)) << lastError();
    expectQuadrants(render(out), Corners);
}

// The transparency and coding properties: white blending, dropping, no compression, JPEG.
TEST(PdfctlPng, TransparencyAndCodingSettings) {
    TempDir dir;
    const std::string png = dir.file("in.png");
    const std::string out = dir.file("out.pdf");
    writePng(png, solid(200, 100, {0, 0, 255, 128}));
    struct Case {
        std::vector<std::pair<int, int>> numbers;
        bool mask;
        std::string filter;
        Rgb shown;
        int tolerance;
    };
    const std::vector<Case> cases = {
        {{{PDFCTL_TRANSPARENCY, PDFCTL_ALPHA_WHITE}}, false, "/FlateDecode", {127, 127, 255}, 2},
        {{{PDFCTL_TRANSPARENCY, PDFCTL_ALPHA_DROP}}, false, "/FlateDecode", Blue, 2},
        {{{PDFCTL_IMAGE_CODING, PDFCTL_CODING_NONE}}, true, "", {127, 127, 255}, 2},
        {{{PDFCTL_IMAGE_CODING, PDFCTL_CODING_JPEG}, {PDFCTL_JPEG_QUALITY, 90}},
         true,
         "/DCTDecode",
         {127, 127, 255},
         10},
    };
    for (const Case& c : cases) {
        PageOptions options;
        options.numbers = c.numbers;
        ASSERT_EQ(makePage(png, out, options), std::make_pair(0, 0)) << lastError();
        QPDF pdf;
        pdf.processFile(out.c_str());
        auto image = onlyImage(pdf);
        EXPECT_EQ(!key(image, "/SMask").empty(), c.mask) << c.filter;
        EXPECT_EQ(key(image, "/Filter"), c.filter);
        EXPECT_TRUE(near(render(out).at(100, 50), c.shown, c.tolerance)) << c.filter;
    }
}

// ---- TIFF, GIF, BMP --------------------------------------------------------------------------

TEST(PdfctlOtherFormats, FirstTiffPageFirstGifFrameAndBmpRows) {
    TempDir dir;
    const std::string out = dir.file("out.pdf");

    const std::string tiff = dir.file("pages.tif");
    writeTiff(tiff, {quadrants(200, 100, Corners), solid(200, 100, {0, 0, 0})});
    ASSERT_EQ(makePage(tiff, out), std::make_pair(0, 0)) << lastError();
    expectQuadrants(render(out), Corners);

    const std::string turned = dir.file("turned.tif");
    writeTiff(turned, {storedFor(quadrants(200, 100, Corners), 6)}, 6);
    int w = 0;
    int h = 0;
    ASSERT_EQ(MeasureImage(turned.c_str(), &w, &h), 0) << lastError();
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(200, 100));
    ASSERT_EQ(makePage(turned, out), std::make_pair(0, 0)) << lastError();
    expectQuadrants(render(out), Corners);

    // A scanned page stays one bit per pixel; white is zero in the file.
    Picture grey = solid(200, 100, {255});
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 100; ++x) {
            *grey.at(x, y) = 0;
        }
    }
    const std::string fax = dir.file("fax.tif");
    writeBilevelTiff(fax, grey);
    ASSERT_EQ(makePage(fax, out), std::make_pair(0, 0)) << lastError();
    {
        QPDF pdf;
        pdf.processFile(out.c_str());
        EXPECT_EQ(key(onlyImage(pdf), "/BitsPerComponent"), "1");
        const Rendering page = render(out);
        EXPECT_TRUE(near(page.at(50, 50), {0, 0, 0}, 2));
        EXPECT_TRUE(near(page.at(150, 50), White, 2));
    }

    // Animated GIF: frame 1 is green with a transparent right half, frame 2 all red.
    Picture first = solid(200, 100, {1});
    for (int y = 0; y < 100; ++y) {
        for (int x = 100; x < 200; ++x) {
            *first.at(x, y) = 2;
        }
    }
    const std::string gif = dir.file("anim.gif");
    writeGif(gif, {first, solid(200, 100, {0})}, {Red, Green, Blue}, 2);
    ASSERT_EQ(makePage(gif, out), std::make_pair(0, 0)) << lastError();
    {
        QPDF pdf;
        pdf.processFile(out.c_str());
        EXPECT_FALSE(key(onlyImage(pdf), "/SMask").empty());
        const Rendering page = render(out);
        EXPECT_TRUE(near(page.at(50, 50), Green, 2));
        EXPECT_TRUE(near(page.at(150, 50), White, 2));
    }

    const std::string bmp = dir.file("rows.bmp");
    writeBmp(bmp, quadrants(200, 100, Corners));
    ASSERT_EQ(makePage(bmp, out), std::make_pair(0, 0)) << lastError();
    expectQuadrants(render(out), Corners);
}

// ---- the page --------------------------------------------------------------------------------

struct UnitCase {
    int unit;
    int width;
    int height;
    double points[2];
};

class Units : public ::testing::TestWithParam<UnitCase> {};

// The page size in each unit, and a picture placed from the top-left corner in that unit.
TEST_P(Units, PageSizeAndPlacement) {
    const UnitCase& c = GetParam();
    TempDir dir;
    const std::string jpeg = dir.file("red.jpg");
    writeJpeg(jpeg, solid(16, 16, {255, 0, 0}));
    PageOptions options;
    options.unit = c.unit;
    options.width = c.width;
    options.height = c.height;
    // A rectangle a quarter of the page in from the top left, a quarter of its size.
    ASSERT_EQ(makePage(jpeg, dir.file("out.pdf"), options, c.width / 4, c.height / 4, c.width / 4,
                       c.height / 4),
              std::make_pair(0, 0))
        << lastError();
    QPDF pdf;
    pdf.processFile(dir.file("out.pdf").c_str());
    auto box = QPDFPageDocumentHelper(pdf).getAllPages().at(0).getAttribute("/MediaBox", false);
    const auto rect = box.getArrayAsRectangle();
    EXPECT_NEAR(rect.urx, c.points[0], 0.01);
    EXPECT_NEAR(rect.ury, c.points[1], 0.01);
    const Rendering page = render(dir.file("out.pdf"));
    const int w = page.width;
    const int h = page.height;
    EXPECT_TRUE(near(page.at(w * 3 / 8, h * 3 / 8), Red, 20));
    EXPECT_TRUE(near(page.at(w / 8, h / 8), White, 2));
    EXPECT_TRUE(near(page.at(w * 3 / 8, h * 5 / 8), White, 2));
    EXPECT_TRUE(near(page.at(w * 5 / 8, h * 3 / 8), White, 2));
}

INSTANTIATE_TEST_SUITE_P(Pdfctl, Units,
                         ::testing::Values(UnitCase{PDFCTL_UNIT_POINT, 400, 300, {400, 300}},
                                           UnitCase{PDFCTL_UNIT_MM, 210, 297, {595.28, 841.89}},
                                           UnitCase{
                                               PDFCTL_UNIT_TENTH_MM, 2100, 2970, {595.28, 841.89}},
                                           UnitCase{PDFCTL_UNIT_INCH_100, 850, 1100, {612, 792}}));

TEST(PdfctlDocument, CreatorAndProducerAndMorePicturesOnOnePage) {
    TempDir dir;
    const std::string jpeg = dir.file("red.jpg");
    const std::string png = dir.file("blue.png");
    writeJpeg(jpeg, solid(16, 16, {255, 0, 0}));
    writePng(png, solid(16, 16, {0, 0, 255, 255}));
    const std::string out = dir.file("out.pdf");
    const int box = CreateBox(0, 0);
    SetStrProp(box, PDFCTL_OUTPUT_FILE, out.c_str());
    SetStrProp(box, PDFCTL_CREATOR, "Lumadoc – Bildwandler");
    SetNumProp(box, PDFCTL_PAGE_WIDTH, 200);
    SetNumProp(box, PDFCTL_PAGE_HEIGHT, 100);
    SetNumProp(box, PDFCTL_COMPRESS_CONTENT, 0);
    ASSERT_EQ(BeginDoc(box), 0);
    ASSERT_EQ(StretchDrawFromFile(box, 0, 0, 100, 100, jpeg.c_str()), 0) << lastError();
    ASSERT_EQ(StretchDrawFromFile(box, 100, 0, 100, 100, png.c_str()), 0) << lastError();
    ASSERT_EQ(EndDoc(box), 0) << lastError();
    FreeBox(box);

    QPDF pdf;
    pdf.processFile(out.c_str());
    auto info = pdf.getTrailer().getKey("/Info");
    EXPECT_EQ(info.getKey("/Creator").getUTF8Value(), "Lumadoc – Bildwandler");
    EXPECT_EQ(info.getKey("/Producer").getUTF8Value(), "Lumadoc – Bildwandler");
    // An opaque alpha channel gives no soft mask.
    auto images = QPDFPageDocumentHelper(pdf).getAllPages().at(0).getImages();
    ASSERT_EQ(images.size(), 2u);
    for (auto& [name, image] : images) {
        EXPECT_TRUE(key(image, "/SMask").empty()) << name;
    }
    const Rendering page = render(out);
    EXPECT_TRUE(near(page.at(50, 50), Red, 20));
    EXPECT_TRUE(near(page.at(150, 50), Blue, 2));
}

// ---- failures --------------------------------------------------------------------------------

TEST(PdfctlFailures, UnreadableImagesNameTheirFile) {
    TempDir dir;
    const std::string good = dir.file("good.png");
    writePng(good, quadrants(40, 20, Corners));
    const std::string png = readFile(good);

    struct Case {
        std::string name;
        std::string bytes;
        std::string says;
    };
    std::string flipped = png;
    flipped[png.size() / 2] = char(flipped[png.size() / 2] ^ 0x55);
    const std::vector<Case> cases = {
        {"text.jpg", "hello, not a picture", "not a JPEG, PNG, BMP, GIF or TIFF image"},
        {"cut.png", png.substr(0, png.size() / 2), "ends early"},
        {"flipped.png", flipped, "damaged PNG data"},
        {"cut.jpg", "\xff\xd8\xff\xe0\x00\x10JFIF", "JPEG"},
        {"empty.gif", "GIF89a", "GIF"},
        {"missing.png", "", "No such file"},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file(c.name);
        if (!c.bytes.empty()) {
            writeFile(path, c.bytes);
        }
        const std::string out = dir.file("out.pdf");
        EXPECT_EQ(makePage(path, out).first, PDFCTL_FAILED) << c.name;
        const std::string message = lastError();
        EXPECT_NE(message.find("Cannot read the image file " + path + ": "), std::string::npos)
            << message;
        EXPECT_NE(message.find(c.says), std::string::npos) << c.name << ": " << message;
        int w = 0;
        int h = 0;
        if (c.name != "flipped.png") { // measuring reads headers only
            EXPECT_EQ(MeasureImage(path.c_str(), &w, &h), PDFCTL_FAILED) << c.name;
            EXPECT_NE(lastError().find(path), std::string::npos);
        }
    }
}

TEST(PdfctlFailures, EndDocIntoAMissingFolderFailsAndKeepsAnOldFile) {
    TempDir dir;
    const std::string jpeg = dir.file("red.jpg");
    writeJpeg(jpeg, solid(16, 16, {255, 0, 0}));
    const std::string missing = dir.file("no/such/folder/out.pdf");
    EXPECT_EQ(makePage(jpeg, missing), std::make_pair(0, PDFCTL_FAILED));
    EXPECT_NE(lastError().find("Cannot write the PDF file " + missing), std::string::npos)
        << lastError();
    EXPECT_FALSE(fs::exists(missing));

    // The page stays in the box after the failure: it can go to another file.
    {
        const int box = CreateBox(0, 0);
        SetStrProp(box, PDFCTL_OUTPUT_FILE, missing.c_str());
        ASSERT_EQ(BeginDoc(box), 0);
        ASSERT_EQ(StretchDrawFromFile(box, 0, 0, 10, 10, jpeg.c_str()), 0);
        EXPECT_EQ(EndDoc(box), PDFCTL_FAILED);
        SetStrProp(box, PDFCTL_OUTPUT_FILE, dir.file("second.pdf").c_str());
        EXPECT_EQ(EndDoc(box), 0) << lastError();
        EXPECT_EQ(EndDoc(box), PDFCTL_FAILED); // written: the box is empty again
        FreeBox(box);
        QPDF pdf;
        pdf.processFile(dir.file("second.pdf").c_str());
        EXPECT_EQ(raw(onlyImage(pdf)), readFile(jpeg));
        fs::remove(dir.file("second.pdf"));
    }

    // A drawn file that changes before the page is written fails the page: the old output
    // stays as it was and no part file is left.
    const std::string out = dir.file("out.pdf");
    writeFile(out, "old");
    const int box = CreateBox(0, 0);
    SetStrProp(box, PDFCTL_OUTPUT_FILE, out.c_str());
    ASSERT_EQ(BeginDoc(box), 0);
    ASSERT_EQ(StretchDrawFromFile(box, 0, 0, 10, 10, jpeg.c_str()), 0);
    writeJpeg(jpeg, solid(32, 16, {0, 255, 0}));
    EXPECT_EQ(EndDoc(box), PDFCTL_FAILED);
    EXPECT_NE(lastError().find(jpeg), std::string::npos) << lastError();
    FreeBox(box);
    EXPECT_EQ(readFile(out), "old");
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(out).parent_path())) {
        files += entry.path().filename().string()[0] == '.' ? 100u : 1u;
    }
    EXPECT_EQ(files, 2u); // out.pdf and red.jpg
}

TEST(PdfctlFailures, ArgumentsAndOrder) {
    EXPECT_EQ(CreateBox(0, 1), PDFCTL_FAILED);
    const int box = CreateBox(0, 0);
    ASSERT_GT(box, 0);
    EXPECT_EQ(BeginDoc(box), PDFCTL_FAILED); // no output file
    EXPECT_EQ(StretchDrawFromFile(box, 0, 0, 10, 10, "/x.jpg"), PDFCTL_FAILED);
    EXPECT_NE(lastError().find("BeginDoc"), std::string::npos);
    EXPECT_EQ(EndDoc(box), PDFCTL_FAILED);
    for (const auto& [id, value] : std::vector<std::pair<int, int>>{{PDFCTL_UNIT, 4},
                                                                    {PDFCTL_PAGE_WIDTH, 0},
                                                                    {PDFCTL_PAGE_HEIGHT, -5},
                                                                    {PDFCTL_JPEG_QUALITY, 101},
                                                                    {PDFCTL_IMAGE_CODING, 3},
                                                                    {PDFCTL_TRANSPARENCY, -1},
                                                                    {PDFCTL_COMPRESS_CONTENT, 2},
                                                                    {99, 1}}) {
        EXPECT_EQ(SetNumProp(box, id, value), PDFCTL_FAILED) << id;
    }
    EXPECT_EQ(SetStrProp(box, 99, "x"), PDFCTL_FAILED);
    EXPECT_EQ(SetNumProp(box + 1000, PDFCTL_UNIT, 0), PDFCTL_FAILED);
    FreeBox(box);
    FreeBox(box); // ignored
    EXPECT_EQ(BeginDoc(box), PDFCTL_FAILED);
}

// Each thread sees its own last failure; a message is cut at a character boundary.
TEST(PdfctlFailures, ErrorMessagesPerThread) {
    MeasureImage("/nonexistent/ä.png", nullptr, nullptr);
    int w = 0;
    int h = 0;
    ASSERT_EQ(MeasureImage("/nonexistent/ää.png", &w, &h), PDFCTL_FAILED);
    std::string other;
    std::thread([&] {
        MeasureImage("/nonexistent/other.png", &w, &h);
        other = lastError();
    }).join();
    EXPECT_NE(other.find("other.png"), std::string::npos);
    EXPECT_NE(lastError().find("ää.png"), std::string::npos);

    const std::string message = lastError();
    const size_t umlaut = message.find("ää");
    char buffer[64];
    // Room for the prefix and half of the first ä: the ä is left out whole.
    EXPECT_EQ(GetErrorMsg(buffer, int(umlaut) + 2), int(umlaut));
    EXPECT_EQ(std::string(buffer), message.substr(0, umlaut));
    EXPECT_EQ(GetErrorMsg(buffer, 0), 0);
}

// Boxes on several threads at once each write their own page.
TEST(PdfctlThreads, BoxesWorkSideBySide) {
    TempDir dir;
    const Rgb colors[4] = {Red, Green, Blue, {90, 90, 90}};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        const Rgb c = colors[i];
        writePng(dir.file(std::to_string(i) + ".png"), solid(300, 200, {c.r, c.g, c.b, 200}));
    }
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < 3; ++round) {
                makePage(dir.file(std::to_string(i) + ".png"),
                         dir.file(std::to_string(i) + ".pdf"));
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (int i = 0; i < 4; ++i) {
        const Rgb c = colors[i];
        const Rgb blended{uint8_t((c.r * 200 + 255 * 55) / 255),
                          uint8_t((c.g * 200 + 255 * 55) / 255),
                          uint8_t((c.b * 200 + 255 * 55) / 255)};
        EXPECT_TRUE(near(render(dir.file(std::to_string(i) + ".pdf")).at(100, 50), blended, 3));
    }
}

// The library exports the functions of its header and nothing else.
TEST(PdfctlLibrary, ExportsOnlyItsCFunctions) {
    const std::string command =
        std::string("nm -D --defined-only ") + PDFCTL_LIBRARY + " | awk '{print $3}' | sort";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string names;
    char line[256];
    while (std::fgets(line, sizeof line, pipe)) {
        names += line;
    }
    pclose(pipe);
    EXPECT_EQ(names, "BeginDoc\nCreateBox\nEndDoc\nFreeBox\nGetErrorMsg\nMeasureImage\n"
                     "SetNumProp\nSetStrProp\nStretchDrawFromFile\n");
}

} // namespace
