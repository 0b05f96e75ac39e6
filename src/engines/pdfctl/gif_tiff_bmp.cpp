// GIF (first frame, giflib), TIFF (first page, libtiff) and BMP (read here: the format is a
// header and rows) pictures decoded into rows for the encoder.
#include "raster.h"

#include <gif_lib.h>
#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace pdfctl {
namespace {

// ---- GIF ---------------------------------------------------------------------------------

struct GifSource {
    int fd;
    int64_t offset;
};

extern "C" int readGif(GifFileType* gif, GifByteType* data, int size) {
    auto* source = static_cast<GifSource*>(gif->UserData);
    try {
        const size_t got = readAt(source->fd, data, size_t(size), source->offset);
        source->offset += int64_t(got);
        return int(got);
    } catch (...) {
        return 0;
    }
}

/// An open GIF, closed with the object.
class GifFile {
public:
    explicit GifFile(int fd) : m_source{fd, 0} {
        int error = 0;
        m_gif = DGifOpen(&m_source, readGif, &error);
        if (!m_gif) {
            const char* why = GifErrorString(error);
            throw ImageError(error == D_GIF_ERR_NOT_GIF_FILE ? std::string("not a GIF image")
                                                             : std::string("damaged GIF data: ") +
                                                                   (why ? why : "unknown error"));
        }
    }
    ~GifFile() {
        int error = 0;
        DGifCloseFile(m_gif, &error);
    }
    GifFile(const GifFile&) = delete;
    GifFile& operator=(const GifFile&) = delete;
    GifFileType* operator->() const { return m_gif; }
    GifFileType* get() const { return m_gif; }

    [[noreturn]] void fail() const {
        const char* why = GifErrorString(m_gif->Error);
        throw ImageError(std::string("damaged GIF data: ") + (why ? why : "unknown error"));
    }

private:
    GifSource m_source;
    GifFileType* m_gif = nullptr;
};

/// Reads records up to the first image's descriptor; gives the transparent colour index its
/// graphic control extension sets (-1 for none).
int seekFirstImage(GifFile& gif) {
    int transparent = -1;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) {
            gif.fail();
        }
        if (type == IMAGE_DESC_RECORD_TYPE) {
            if (DGifGetImageDesc(gif.get()) == GIF_ERROR) {
                gif.fail();
            }
            if (gif->Image.Width <= 0 || gif->Image.Height <= 0) {
                throw ImageError("a GIF image without a size");
            }
            return transparent;
        }
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) {
                gif.fail();
            }
            if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
                GraphicsControlBlock gcb{};
                DGifExtensionToGCB(block[0], block + 1, &gcb);
                transparent = gcb.TransparentColor;
            }
            while (block) {
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) {
                    gif.fail();
                }
            }
        } else if (type == TERMINATE_RECORD_TYPE) {
            throw ImageError("a GIF file without a picture");
        }
    }
}

struct GifCanvas {
    int width;
    int height;
};

// The logical screen, grown to hold the first frame when a file places it beyond.
GifCanvas canvasOf(GifFile& gif) {
    return {std::max(gif->SWidth, gif->Image.Left + gif->Image.Width),
            std::max(gif->SHeight, gif->Image.Top + gif->Image.Height)};
}

// ---- TIFF --------------------------------------------------------------------------------

extern "C" int tiffError(TIFF*, void* user, const char* module, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    auto* message = static_cast<std::string*>(user);
    if (message->empty()) {
        *message = module && *module ? std::string(module) + ": " + text : std::string(text);
    }
    return 1; // handled: nothing goes to standard error
}

extern "C" int tiffWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

/// An open TIFF file, its errors collected instead of printed, closed with the object.
class TiffFile {
public:
    explicit TiffFile(const std::string& path) {
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        if (!options) {
            throw std::bad_alloc();
        }
        TIFFOpenOptionsSetErrorHandlerExtR(options, tiffError, &m_error);
        TIFFOpenOptionsSetWarningHandlerExtR(options, tiffWarning, nullptr);
        // "m": no memory mapping, so a file cut short while it is read is an error, not a
        // SIGBUS.
        m_tif = TIFFOpenExt(path.c_str(), "rm", options);
        TIFFOpenOptionsFree(options);
        if (!m_tif) {
            fail("not a readable TIFF image");
        }
    }
    ~TiffFile() { TIFFClose(m_tif); }
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;
    TIFF* get() const { return m_tif; }

    [[noreturn]] void fail(const std::string& fallback) const {
        throw ImageError(m_error.empty() ? fallback : "damaged TIFF data: " + m_error);
    }
    int orientation() const {
        uint16_t value = 1;
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_ORIENTATION, &value);
        return validOrientation(value);
    }
    void size(uint32_t* width, uint32_t* height) const {
        if (!TIFFGetField(m_tif, TIFFTAG_IMAGEWIDTH, width) ||
            !TIFFGetField(m_tif, TIFFTAG_IMAGELENGTH, height) || *width == 0 || *height == 0 ||
            *width > 0x7fffffff || *height > 0x7fffffff) {
            throw ImageError("a TIFF image without a size");
        }
    }

private:
    TIFF* m_tif = nullptr;
    std::string m_error;
};

/// libtiff's RGBA reader, ended with the object.
struct RgbaImage {
    TIFFRGBAImage image{};
    bool begun = false;
    ~RgbaImage() {
        if (begun) {
            TIFFRGBAImageEnd(&image);
        }
    }
};

// ---- BMP ---------------------------------------------------------------------------------

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
unsigned le16(const uint8_t* p) {
    return unsigned(p[0]) | unsigned(p[1]) << 8;
}

struct BmpHeader {
    int width = 0;
    int height = 0; // rows, always positive
    bool topDown = false;
    int bits = 0;
    uint32_t compression = 0;
    uint32_t dataOffset = 0;
    uint32_t masks[4] = {0, 0, 0, 0}; // red, green, blue, alpha
    std::string palette;              // RGB triplets
};

constexpr uint32_t BiRgb = 0, BiRle8 = 1, BiRle4 = 2, BiBitfields = 3, BiAlphaBitfields = 6;

BmpHeader readBmpHeader(int fd, int64_t* fileSize) {
    uint8_t head[14 + 124 + 16] = {};
    const size_t got = readAt(fd, head, sizeof head, 0);
    if (got < 26 || head[0] != 'B' || head[1] != 'M') {
        throw ImageError("not a BMP image");
    }
    BmpHeader h;
    h.dataOffset = le32(head + 10);
    const uint32_t infoSize = le32(head + 14);
    const uint8_t* info = head + 14;
    uint32_t colorsUsed = 0;
    size_t paletteEntry = 4;
    if (infoSize == 12) { // OS/2 core header
        h.width = int(le16(info + 4));
        h.height = int(le16(info + 6));
        h.bits = int(le16(info + 10));
        paletteEntry = 3;
    } else if (infoSize >= 40 && infoSize <= 124 && got >= 14 + 40) {
        h.width = int32_t(le32(info + 4));
        const int32_t height = int32_t(le32(info + 8));
        h.topDown = height < 0;
        h.height = height == INT32_MIN ? 0 : std::abs(height);
        h.bits = int(le16(info + 14));
        h.compression = le32(info + 16);
        colorsUsed = le32(info + 32);
        if (h.compression == BiBitfields || h.compression == BiAlphaBitfields) {
            // The masks follow a 40-byte header, or are part of a longer one.
            const uint8_t* masks = info + 40;
            const int count = infoSize >= 56 || h.compression == BiAlphaBitfields ? 4 : 3;
            for (int i = 0; i < count; ++i) {
                h.masks[i] = le32(masks + 4 * i);
            }
        } else if (infoSize >= 56 && h.bits == 32) {
            h.masks[3] = le32(info + 52); // an alpha mask in a V3-V5 header
        }
    } else {
        throw ImageError("a BMP image with an unknown header");
    }
    if (h.width <= 0 || h.height <= 0) {
        throw ImageError("a BMP image without a size");
    }
    const bool known = (h.bits == 1 || h.bits == 4 || h.bits == 8 || h.bits == 16 || h.bits == 24 ||
                        h.bits == 32) &&
                       (h.compression == BiRgb || (h.compression == BiRle8 && h.bits == 8) ||
                        (h.compression == BiRle4 && h.bits == 4) ||
                        ((h.compression == BiBitfields || h.compression == BiAlphaBitfields) &&
                         (h.bits == 16 || h.bits == 32)));
    if (!known) {
        throw ImageError("a BMP image of a kind not read (" + std::to_string(h.bits) +
                         " bits, compression " + std::to_string(h.compression) + ")");
    }
    if ((h.compression == BiRgb) && h.bits == 16) {
        h.masks[0] = 0x7c00;
        h.masks[1] = 0x03e0;
        h.masks[2] = 0x001f;
    } else if (h.compression == BiRgb && h.bits == 32) {
        h.masks[0] = 0xff0000;
        h.masks[1] = 0xff00;
        h.masks[2] = 0xff;
    }
    const off_t end = lseek(fd, 0, SEEK_END);
    *fileSize = end;
    if (h.bits <= 8) {
        const uint32_t count =
            colorsUsed && colorsUsed <= (1u << h.bits) ? colorsUsed : (1u << h.bits);
        const int64_t at = 14 + int64_t(infoSize) + (h.compression == BiBitfields ? 12 : 0) +
                           (h.compression == BiAlphaBitfields ? 16 : 0);
        std::vector<uint8_t> entries(count * paletteEntry);
        const size_t read = readAt(fd, entries.data(), entries.size(), at);
        const size_t available = read / paletteEntry;
        if (available == 0) {
            throw ImageError("a BMP image without its palette");
        }
        for (size_t i = 0; i < available; ++i) {
            const uint8_t* e = entries.data() + i * paletteEntry;
            h.palette += char(e[2]);
            h.palette += char(e[1]);
            h.palette += char(e[0]);
        }
    }
    return h;
}

/// A channel's value from a pixel under a bit mask, scaled to 8 bits.
struct MaskChannel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;
    explicit MaskChannel(uint32_t m) : mask(m) {
        if (m) {
            while (!((m >> shift) & 1)) {
                ++shift;
            }
            max = m >> shift;
        }
    }
    uint8_t operator()(uint32_t pixel) const {
        if (!max) {
            return 255;
        }
        return uint8_t((((pixel & mask) >> shift) * 255 + max / 2) / max);
    }
};

/// Expands RLE4/RLE8 data into one index per pixel, rows in file order (bottom first).
std::vector<uint8_t> expandRle(const std::vector<uint8_t>& data, const BmpHeader& h) {
    const size_t w = size_t(h.width);
    std::vector<uint8_t> out(w * size_t(h.height), 0);
    size_t x = 0;
    size_t y = 0;
    size_t i = 0;
    auto put = [&](uint8_t index) {
        if (x < w && y < size_t(h.height)) {
            out[y * w + x] = index;
        }
        ++x;
    };
    while (i + 1 < data.size() && y < size_t(h.height)) {
        const uint8_t count = data[i];
        const uint8_t value = data[i + 1];
        i += 2;
        if (count > 0) {
            for (int k = 0; k < count; ++k) {
                put(h.bits == 8 ? value : uint8_t(k % 2 ? value & 15 : value >> 4));
            }
        } else if (value == 0) { // end of line
            x = 0;
            ++y;
        } else if (value == 1) { // end of picture
            break;
        } else if (value == 2) { // move
            if (i + 1 >= data.size()) {
                break;
            }
            x += data[i];
            y += data[i + 1];
            i += 2;
        } else { // a literal run of `value` pixels, padded to 16 bits
            const size_t bytes = h.bits == 8 ? value : (size_t(value) + 1) / 2;
            if (i + bytes > data.size()) {
                throw ImageError("damaged BMP data");
            }
            for (int k = 0; k < value; ++k) {
                const uint8_t b = data[i + (h.bits == 8 ? size_t(k) : size_t(k) / 2)];
                put(h.bits == 8 ? b : uint8_t(k % 2 ? b & 15 : b >> 4));
            }
            i += (bytes + 1) & ~size_t(1);
        }
    }
    return out;
}

} // namespace

ImageSize measureGif(int fd) {
    GifFile gif(fd);
    seekFirstImage(gif);
    const GifCanvas canvas = canvasOf(gif);
    return {canvas.width, canvas.height, 1};
}

int decodeGif(int fd, RasterTarget& target) {
    GifFile gif(fd);
    const int transparent = seekFirstImage(gif);
    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    if (!map || map->ColorCount < 1) {
        throw ImageError("a GIF image without colours");
    }
    const size_t fw = size_t(frame.Width);
    const size_t fh = size_t(frame.Height);
    std::vector<uint8_t> pixels(fw * fh);
    if (frame.Interlace) {
        static const size_t start[] = {0, 4, 2, 1};
        static const size_t step[] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass) {
            for (size_t y = start[pass]; y < fh; y += step[pass]) {
                if (DGifGetLine(gif.get(), pixels.data() + y * fw, int(fw)) == GIF_ERROR) {
                    gif.fail();
                }
            }
        }
    } else {
        for (size_t y = 0; y < fh; ++y) {
            if (DGifGetLine(gif.get(), pixels.data() + y * fw, int(fw)) == GIF_ERROR) {
                gif.fail();
            }
        }
    }

    const GifCanvas canvas = canvasOf(gif);
    RasterFormat format;
    format.width = canvas.width;
    format.height = canvas.height;
    format.space = ColorSpace::Indexed;
    for (int i = 0; i < map->ColorCount; ++i) {
        format.palette += char(map->Colors[i].Red);
        format.palette += char(map->Colors[i].Green);
        format.palette += char(map->Colors[i].Blue);
    }
    const auto last = uint8_t(map->ColorCount - 1);
    const bool covers = frame.Left == 0 && frame.Top == 0 && frame.Width == canvas.width &&
                        frame.Height == canvas.height;
    format.alpha = (transparent >= 0 && transparent < map->ColorCount) || !covers;
    target.begin(format);

    const size_t cw = size_t(canvas.width);
    std::vector<uint8_t> row(cw);
    std::vector<uint8_t> alpha(cw);
    for (size_t y = 0; y < size_t(canvas.height); ++y) {
        // Outside the frame the screen stays clear.
        std::fill(row.begin(), row.end(), 0);
        std::fill(alpha.begin(), alpha.end(), 0);
        const bool inFrame = y >= size_t(frame.Top) && y < size_t(frame.Top) + fh;
        for (size_t x = size_t(frame.Left); inFrame && x < size_t(frame.Left) + fw; ++x) {
            const uint8_t index = pixels[(y - size_t(frame.Top)) * fw + x - size_t(frame.Left)];
            row[x] = std::min(index, last);
            alpha[x] = index == transparent ? 0 : 255;
        }
        target.row(row.data(), format.alpha ? alpha.data() : nullptr);
    }
    return 1;
}

ImageSize measureTiff(const std::string& path) {
    TiffFile tiff(path);
    uint32_t width = 0;
    uint32_t height = 0;
    tiff.size(&width, &height);
    return {int(width), int(height), tiff.orientation()};
}

int decodeTiff(const std::string& path, RasterTarget& target) {
    TiffFile tiff(path);
    TIFF* tif = tiff.get();
    uint32_t width = 0;
    uint32_t height = 0;
    tiff.size(&width, &height);
    uint16_t bits = 1;
    uint16_t samples = 1;
    uint16_t photometric = 0;
    uint16_t extraCount = 0;
    uint16_t* extraTypes = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
    const bool hasPhotometric = TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) != 0;
    const bool grey =
        hasPhotometric &&
        (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) &&
        samples - extraCount == 1;
    RasterFormat format;
    format.width = int(width);
    format.height = int(height);

    // Scanned pages: one bit per pixel stays one bit per pixel.
    if (grey && bits == 1 && samples == 1 && !TIFFIsTiled(tif)) {
        format.space = ColorSpace::Gray;
        format.bits = 1;
        const size_t rowBytes = (size_t(width) + 7) / 8;
        if (size_t(TIFFScanlineSize64(tif)) != rowBytes) {
            tiff.fail("a TIFF image of an unexpected layout");
        }
        std::vector<uint8_t> line(rowBytes);
        target.begin(format);
        for (uint32_t y = 0; y < height; ++y) {
            if (TIFFReadScanline(tif, line.data(), y, 0) < 0) {
                tiff.fail("damaged TIFF data");
            }
            if (photometric == PHOTOMETRIC_MINISWHITE) {
                for (uint8_t& b : line) {
                    b = uint8_t(~b);
                }
            }
            target.row(line.data(), nullptr);
        }
        return tiff.orientation();
    }

    char message[1024] = "";
    if (!TIFFRGBAImageOK(tif, message)) {
        throw ImageError(std::string("a TIFF image of a kind not read: ") + message);
    }
    RgbaImage rgba;
    if (!TIFFRGBAImageBegin(&rgba.image, tif, 1, message)) {
        throw ImageError(std::string("damaged TIFF data: ") + message);
    }
    rgba.begun = true;
    // The rows come as stored; the orientation is applied where the picture is drawn.
    rgba.image.req_orientation = rgba.image.orientation;
    std::vector<uint32_t> raster(size_t(width) * size_t(height));
    if (!TIFFRGBAImageGet(&rgba.image, raster.data(), width, height)) {
        tiff.fail("damaged TIFF data");
    }
    format.space = grey ? ColorSpace::Gray : ColorSpace::Rgb;
    format.alpha = rgba.image.alpha != 0;
    target.begin(format);
    const size_t channels = grey ? 1 : 3;
    std::vector<uint8_t> color(size_t(width) * channels);
    std::vector<uint8_t> alpha(width);
    for (size_t y = 0; y < height; ++y) {
        const uint32_t* in = raster.data() + y * width;
        for (size_t x = 0; x < width; ++x) {
            const uint32_t p = in[x];
            const unsigned a = TIFFGetA(p);
            uint8_t c[3] = {uint8_t(TIFFGetR(p)), uint8_t(TIFFGetG(p)), uint8_t(TIFFGetB(p))};
            // libtiff hands alpha pictures premultiplied; a soft mask wants the plain colour.
            if (format.alpha && a < 255) {
                for (uint8_t& v : c) {
                    v = a == 0 ? 0 : uint8_t(std::min(255u, (v * 255u + a / 2) / a));
                }
            }
            std::memcpy(color.data() + x * channels, c, channels);
            alpha[x] = uint8_t(a);
        }
        target.row(color.data(), format.alpha ? alpha.data() : nullptr);
    }
    return tiff.orientation();
}

ImageSize measureBmp(int fd) {
    int64_t size = 0;
    const BmpHeader h = readBmpHeader(fd, &size);
    return {h.width, h.height, 1};
}

int decodeBmp(int fd, RasterTarget& target) {
    int64_t fileSize = 0;
    const BmpHeader h = readBmpHeader(fd, &fileSize);
    const size_t w = size_t(h.width);
    const size_t rows = size_t(h.height);
    const size_t stride = (w * size_t(h.bits) + 31) / 32 * 4;
    const bool rle = h.compression == BiRle8 || h.compression == BiRle4;
    if (h.dataOffset >= fileSize) {
        throw ImageError("a BMP file without pixels");
    }
    std::vector<uint8_t> data(rle ? size_t(fileSize - h.dataOffset) : stride * rows);
    const size_t got = readAt(fd, data.data(), data.size(), h.dataOffset);
    if (got < data.size()) {
        if (!rle) {
            throw ImageError("the BMP data ends early");
        }
        data.resize(got);
    }
    size_t sourceStride = stride;
    if (rle) {
        data = expandRle(data, h);
        sourceStride = w;
    }

    RasterFormat format;
    format.width = h.width;
    format.height = h.height;
    const bool indexed = h.bits <= 8;
    const MaskChannel red(h.masks[0]), green(h.masks[1]), blue(h.masks[2]), alphaOf(h.masks[3]);
    bool alpha = false;
    if (!indexed && h.masks[3]) {
        // Many writers leave the alpha bits of 32-bit pixels zero: a picture whose alpha is
        // zero everywhere means no alpha at all.
        for (size_t y = 0; y < rows && !alpha; ++y) {
            for (size_t x = 0; x < w && !alpha; ++x) {
                const uint8_t* p = data.data() + y * sourceStride + x * size_t(h.bits / 8);
                const uint32_t v = h.bits == 16 ? le16(p) : le32(p);
                alpha = (v & h.masks[3]) != 0;
            }
        }
    }
    format.alpha = alpha;
    if (indexed) {
        format.space = ColorSpace::Indexed;
        format.palette = h.palette;
    }
    target.begin(format);

    const auto last = uint8_t(h.palette.size() / 3 - (h.palette.empty() ? 0 : 1));
    std::vector<uint8_t> color(w * (indexed ? 1 : 3));
    std::vector<uint8_t> alphaRow(w);
    for (size_t i = 0; i < rows; ++i) {
        const size_t y = h.topDown ? i : rows - 1 - i;
        const uint8_t* in = data.data() + y * sourceStride;
        for (size_t x = 0; x < w; ++x) {
            if (rle || h.bits == 8) {
                color[x] = std::min(in[x], last);
            } else if (h.bits < 8) {
                const size_t bit = x * size_t(h.bits);
                const int shift = 8 - h.bits - int(bit % 8);
                color[x] = std::min(uint8_t((in[bit / 8] >> shift) & ((1 << h.bits) - 1)), last);
            } else if (h.bits == 24) {
                color[x * 3] = in[x * 3 + 2];
                color[x * 3 + 1] = in[x * 3 + 1];
                color[x * 3 + 2] = in[x * 3];
            } else {
                const uint8_t* p = in + x * size_t(h.bits / 8);
                const uint32_t v = h.bits == 16 ? le16(p) : le32(p);
                color[x * 3] = red(v);
                color[x * 3 + 1] = green(v);
                color[x * 3 + 2] = blue(v);
                alphaRow[x] = alphaOf(v);
            }
        }
        target.row(color.data(), alpha ? alphaRow.data() : nullptr);
    }
    return 1;
}

} // namespace pdfctl
