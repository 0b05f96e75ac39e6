#include "image_writers.h"

#include "atomic_file.h"

#include <gif_lib.h>
#include <libimagequant.h>
#include <png.h>
#include <tiffio.h>
#include <turbojpeg.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace pdftox {
namespace {

// Chosen against the peers on the corpus: pdftoppm writes JPEG at libjpeg's quality 75 with
// 4:2:0 chroma; a little higher keeps small coloured text crisp at a similar size.
constexpr int JpegQuality = 80;
// Rendered pages are mostly flat areas: fast deflate levels lose little size and save much time.
constexpr int PngCompressionLevel = 4;

// Write failures keep the errno of the failing call, so that a full disk can be told apart.
struct File {
    FILE* f;
    explicit File(const std::string& path, const char* mode) : f(std::fopen(path.c_str(), mode)) {
        if (!f) {
            throw WriteError("cannot create " + path, errno);
        }
    }
    ~File() {
        if (f) {
            std::fclose(f);
        }
    }
    void write(const void* data, size_t n) {
        if (n && std::fwrite(data, 1, n, f) != n) {
            throw WriteError("write failed", errno);
        }
    }
    void close() {
        FILE* handle = f;
        f = nullptr;
        // The file is closed whatever happens, also when its last bytes cannot be written.
        const bool flushed = std::fflush(handle) == 0 && !std::ferror(handle);
        const int flushError = errno;
        const bool closed = std::fclose(handle) == 0;
        if (!flushed || !closed) {
            throw WriteError("write failed", flushed ? errno : flushError);
        }
    }
};

struct Rgb {
    uint8_t r, g, b;
};

/// An image reduced to at most 256 colours: one palette index per pixel.
struct Indexed {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> indices;
    std::vector<Rgb> palette;
    const uint8_t* row(int y) const { return indices.data() + size_t(y) * size_t(width); }
};

struct LiqDeleter {
    void operator()(liq_attr* p) const { liq_attr_destroy(p); }
    void operator()(liq_image* p) const { liq_image_destroy(p); }
    void operator()(liq_result* p) const { liq_result_destroy(p); }
};

Indexed quantize(const Bitmap& bm) {
    Indexed out;
    out.width = bm.width;
    out.height = bm.height;
    out.indices.resize(size_t(bm.width) * size_t(bm.height));
    if (bm.channels == 1) {
        // Grey already fits a palette of 256 greys.
        for (int i = 0; i < 256; ++i) {
            out.palette.push_back({uint8_t(i), uint8_t(i), uint8_t(i)});
        }
        for (int y = 0; y < bm.height; ++y) {
            std::memcpy(out.indices.data() + size_t(y) * size_t(bm.width), bm.row(y),
                        size_t(bm.width));
        }
        return out;
    }

    std::vector<uint8_t> rgba(size_t(bm.width) * size_t(bm.height) * 4);
    for (int y = 0; y < bm.height; ++y) {
        const uint8_t* src = bm.row(y);
        uint8_t* dst = rgba.data() + size_t(y) * size_t(bm.width) * 4;
        for (int x = 0; x < bm.width; ++x) {
            dst[4 * x] = src[3 * x];
            dst[4 * x + 1] = src[3 * x + 1];
            dst[4 * x + 2] = src[3 * x + 2];
            dst[4 * x + 3] = 255;
        }
    }
    std::unique_ptr<liq_attr, LiqDeleter> attr(liq_attr_create());
    if (!attr) {
        throw std::runtime_error("cannot quantize");
    }
    liq_set_max_colors(attr.get(), 256);
    liq_set_speed(attr.get(), 8);
    std::unique_ptr<liq_image, LiqDeleter> image(
        liq_image_create_rgba(attr.get(), rgba.data(), bm.width, bm.height, 0));
    liq_result* raw = nullptr;
    if (!image || liq_image_quantize(image.get(), attr.get(), &raw) != LIQ_OK) {
        throw std::runtime_error("cannot quantize");
    }
    std::unique_ptr<liq_result, LiqDeleter> result(raw);
    liq_set_dithering_level(result.get(), 1.0f);
    if (liq_write_remapped_image(result.get(), image.get(), out.indices.data(),
                                 out.indices.size()) != LIQ_OK) {
        throw std::runtime_error("cannot quantize");
    }
    const liq_palette* palette = liq_get_palette(result.get());
    for (unsigned i = 0; i < palette->count; ++i) {
        out.palette.push_back(
            {palette->entries[i].r, palette->entries[i].g, palette->entries[i].b});
    }
    return out;
}

// ---- BMP ---------------------------------------------------------------------------------

void put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
}

void writeBmp(const Bitmap& bm, bool paletted, const std::string& path) {
    Indexed indexed;
    if (paletted) {
        indexed = quantize(bm);
    }
    const int bits = paletted ? 8 : 24;
    const uint32_t rowBytes = (uint32_t(bm.width) * uint32_t(bits / 8) + 3u) & ~3u;
    const uint32_t paletteBytes = paletted ? 256 * 4 : 0;
    const uint32_t dataOffset = 14 + 40 + paletteBytes;
    const uint64_t fileSize = uint64_t(dataOffset) + uint64_t(rowBytes) * uint64_t(bm.height);
    if (fileSize > 0xFFFFFFFFull) {
        throw std::runtime_error("image too large for BMP");
    }
    const uint32_t pixelsPerMeter = uint32_t(bm.dpi / 0.0254 + 0.5);

    std::vector<uint8_t> header;
    header.push_back('B');
    header.push_back('M');
    put32(header, uint32_t(fileSize));
    put32(header, 0);
    put32(header, dataOffset);
    put32(header, 40);
    put32(header, uint32_t(bm.width));
    put32(header, uint32_t(bm.height)); // positive: rows bottom-up
    put16(header, 1);
    put16(header, uint32_t(bits));
    put32(header, 0); // BI_RGB
    put32(header, rowBytes * uint32_t(bm.height));
    put32(header, pixelsPerMeter);
    put32(header, pixelsPerMeter);
    put32(header, paletted ? 256 : 0);
    put32(header, 0);
    if (paletted) {
        for (size_t i = 0; i < 256; ++i) {
            const Rgb c = i < indexed.palette.size() ? indexed.palette[i] : Rgb{0, 0, 0};
            header.insert(header.end(), {c.b, c.g, c.r, 0});
        }
    }

    File file(path, "wb");
    file.write(header.data(), header.size());
    std::vector<uint8_t> row(rowBytes, 0);
    for (int y = bm.height - 1; y >= 0; --y) {
        if (paletted) {
            std::memcpy(row.data(), indexed.row(y), size_t(bm.width));
        } else if (bm.channels == 3) {
            const uint8_t* src = bm.row(y);
            for (size_t x = 0; x < size_t(bm.width); ++x) {
                row[3 * x] = src[3 * x + 2];
                row[3 * x + 1] = src[3 * x + 1];
                row[3 * x + 2] = src[3 * x];
            }
        } else {
            const uint8_t* src = bm.row(y);
            for (size_t x = 0; x < size_t(bm.width); ++x) {
                row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = src[x];
            }
        }
        file.write(row.data(), row.size());
    }
    file.close();
}

// ---- JPEG --------------------------------------------------------------------------------

// TurboJPEG writes a JFIF header without a resolution; set it so viewers know the page size.
void setJfifDensity(uint8_t* jpeg, unsigned long size, int dpi) {
    if (size > 20 && jpeg[2] == 0xFF && jpeg[3] == 0xE0 && std::memcmp(jpeg + 6, "JFIF", 5) == 0) {
        jpeg[13] = 1; // dots per inch
        jpeg[14] = uint8_t(dpi >> 8);
        jpeg[15] = uint8_t(dpi);
        jpeg[16] = uint8_t(dpi >> 8);
        jpeg[17] = uint8_t(dpi);
    }
}

std::string jpegBytes(const Bitmap& bm, bool grey, int quality) {
    std::unique_ptr<void, decltype(&tjDestroy)> tj(tjInitCompress(), tjDestroy);
    if (!tj) {
        throw std::runtime_error("cannot start the JPEG encoder");
    }
    std::vector<uint8_t> greyPixels;
    const uint8_t* pixels = bm.pixels;
    int pitch = int(bm.stride);
    int format = bm.channels == 1 ? TJPF_GRAY : TJPF_RGB;
    if (grey && bm.channels == 3) {
        greyPixels.resize(size_t(bm.width) * size_t(bm.height));
        for (int y = 0; y < bm.height; ++y) {
            const uint8_t* src = bm.row(y);
            uint8_t* dst = greyPixels.data() + size_t(y) * size_t(bm.width);
            for (int x = 0; x < bm.width; ++x) {
                dst[x] =
                    uint8_t((src[3 * x] * 77 + src[3 * x + 1] * 150 + src[3 * x + 2] * 29) >> 8);
            }
        }
        pixels = greyPixels.data();
        pitch = bm.width;
        format = TJPF_GRAY;
    }
    const int subsampling = format == TJPF_GRAY ? TJSAMP_GRAY : TJSAMP_420;
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (tjCompress2(tj.get(), pixels, bm.width, pitch, bm.height, format, &jpeg, &size, subsampling,
                    quality, 0) != 0) {
        tjFree(jpeg);
        throw std::runtime_error(std::string("JPEG: ") + tjGetErrorStr2(tj.get()));
    }
    std::unique_ptr<unsigned char, decltype(&tjFree)> owned(jpeg, tjFree);
    setJfifDensity(jpeg, size, bm.dpi);
    return std::string(reinterpret_cast<const char*>(jpeg), size);
}

void writeJpeg(const Bitmap& bm, bool grey, const std::string& path) {
    const std::string bytes = jpegBytes(bm, grey, JpegQuality);
    File file(path, "wb");
    file.write(bytes.data(), bytes.size());
    file.close();
}

// ---- PNG ---------------------------------------------------------------------------------

// Rendered text and line art pack best unfiltered; photographs and smooth shading pack better
// after Paeth prediction. A sample of rows, deflated both ways, decides for the page.
uint8_t paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a);
    const int pb = std::abs(p - b);
    const int pc = std::abs(p - c);
    return uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

bool predictionPays(const Bitmap& bm) {
    const int samples = std::min(bm.height - 1, 32);
    if (samples < 1) {
        return false;
    }
    const size_t rowBytes = size_t(bm.width) * size_t(bm.channels);
    const size_t bpp = size_t(bm.channels);
    std::string plain;
    std::string predicted;
    for (int i = 0; i < samples; ++i) {
        const int y = 1 + int(int64_t(i) * (bm.height - 1) / samples);
        const uint8_t* row = bm.row(y);
        const uint8_t* above = bm.row(y - 1);
        plain.append(reinterpret_cast<const char*>(row), rowBytes);
        for (size_t x = 0; x < rowBytes; ++x) {
            const int a = x >= bpp ? row[x - bpp] : 0;
            const int c = x >= bpp ? above[x - bpp] : 0;
            predicted += char(uint8_t(row[x] - paeth(a, above[x], c)));
        }
    }
    auto deflated = [](const std::string& data) {
        uLongf size = compressBound(uLong(data.size()));
        std::vector<Bytef> out(size);
        compress2(out.data(), &size, reinterpret_cast<const Bytef*>(data.data()),
                  uLong(data.size()), 1);
        return size;
    };
    return deflated(predicted) < deflated(plain) * 9 / 10;
}

void pngError(png_structp png, png_const_charp) {
    longjmp(png_jmpbuf(png), 1);
}
void pngWarning(png_structp, png_const_charp) {}
void pngAppend(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))
        ->append(reinterpret_cast<const char*>(data), length);
}
void pngFlush(png_structp) {}

// Kept free of objects with destructors: libpng leaves it by longjmp on error.
bool pngEncode(std::string* out, const Bitmap& bm, const Indexed* indexed, const png_color* palette,
               int paletteSize) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    if (!png) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, pngAppend, pngFlush);
    png_set_compression_level(png, PngCompressionLevel);
    png_set_filter(png, PNG_FILTER_TYPE_BASE,
                   indexed || !predictionPays(bm) ? PNG_FILTER_NONE : PNG_FILTER_PAETH);
    const int colorType = indexed ? PNG_COLOR_TYPE_PALETTE
                                  : (bm.channels == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB);
    png_set_IHDR(png, info, png_uint_32(bm.width), png_uint_32(bm.height), 8, colorType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (indexed) {
        png_set_PLTE(png, info, palette, paletteSize);
    }
    const png_uint_32 ppm = png_uint_32(bm.dpi / 0.0254 + 0.5);
    png_set_pHYs(png, info, ppm, ppm, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    for (int y = 0; y < bm.height; ++y) {
        png_write_row(png, indexed ? indexed->row(y) : bm.row(y));
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

std::string pngBytes(const Bitmap& bm, bool paletted) {
    Indexed indexed;
    std::vector<png_color> palette;
    if (paletted) {
        indexed = quantize(bm);
        for (const Rgb& c : indexed.palette) {
            palette.push_back({c.r, c.g, c.b});
        }
    }
    std::string out;
    out.reserve(size_t(bm.width) * size_t(bm.height) / 4);
    if (!pngEncode(&out, bm, paletted ? &indexed : nullptr, palette.data(), int(palette.size()))) {
        throw std::runtime_error("PNG write failed");
    }
    return out;
}

void writePng(const Bitmap& bm, bool paletted, const std::string& path) {
    const std::string bytes = pngBytes(bm, paletted);
    File file(path, "wb");
    file.write(bytes.data(), bytes.size());
    file.close();
}

// ---- TIFF --------------------------------------------------------------------------------

void tiffQuiet(const char*, const char*, va_list) {}

void writeTiff(const Bitmap& bm, bool paletted, const std::string& path) {
    static const bool quietOnce = [] {
        TIFFSetErrorHandler(tiffQuiet);
        TIFFSetWarningHandler(tiffQuiet);
        return true;
    }();
    (void)quietOnce;

    Indexed indexed;
    if (paletted) {
        indexed = quantize(bm);
    }
    std::unique_ptr<TIFF, decltype(&TIFFClose)> tif(TIFFOpen(path.c_str(), "w"), TIFFClose);
    if (!tif) {
        throw WriteError("cannot create " + path, errno);
    }
    TIFF* t = tif.get();
    const int samples = paletted ? 1 : bm.channels;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(bm.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(bm.height));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(samples));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC,
                 paletted ? PHOTOMETRIC_PALETTE
                          : (bm.channels == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB));
    // Both are baseline-era codecs that every TIFF reader decodes. Runs of one colour, as on
    // rendered text pages, pack as small with PackBits at a fraction of LZW's time; pictures
    // and shading need LZW with the horizontal predictor.
    if (!paletted && predictionPays(bm)) {
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    } else {
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_PACKBITS);
    }
    TIFFSetField(t, TIFFTAG_XRESOLUTION, float(bm.dpi));
    TIFFSetField(t, TIFFTAG_YRESOLUTION, float(bm.dpi));
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    std::vector<uint16_t> red(256, 0), green(256, 0), blue(256, 0);
    if (paletted) {
        for (size_t i = 0; i < indexed.palette.size(); ++i) {
            red[i] = uint16_t(indexed.palette[i].r * 257);
            green[i] = uint16_t(indexed.palette[i].g * 257);
            blue[i] = uint16_t(indexed.palette[i].b * 257);
        }
        TIFFSetField(t, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    }
    std::vector<uint8_t> row(size_t(bm.width) * size_t(samples));
    for (int y = 0; y < bm.height; ++y) {
        std::memcpy(row.data(), paletted ? indexed.row(y) : bm.row(y), row.size());
        if (TIFFWriteScanline(t, row.data(), uint32_t(y), 0) < 0) {
            throw WriteError("TIFF write failed", errno);
        }
    }
    if (!TIFFFlush(t)) {
        throw WriteError("TIFF write failed", errno);
    }
}

// ---- GIF ---------------------------------------------------------------------------------

void writeGif(const Bitmap& bm, const std::string& path) {
    const Indexed indexed = quantize(bm);
    int size = 2;
    while (size < int(indexed.palette.size())) {
        size *= 2;
    }
    std::vector<GifColorType> colors(size_t(size), GifColorType{0, 0, 0});
    for (size_t i = 0; i < indexed.palette.size(); ++i) {
        colors[i] = {indexed.palette[i].r, indexed.palette[i].g, indexed.palette[i].b};
    }
    std::unique_ptr<ColorMapObject, decltype(&GifFreeMapObject)> map(
        GifMakeMapObject(size, colors.data()), GifFreeMapObject);
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    if (!gif || !map) {
        throw WriteError("cannot create " + path, errno);
    }
    bool ok = EGifPutScreenDesc(gif, bm.width, bm.height, 8, 0, map.get()) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, bm.width, bm.height, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < bm.height; ++y) {
        ok = EGifPutLine(gif, const_cast<GifPixelType*>(indexed.row(y)), bm.width) == GIF_OK;
    }
    int lineError = ok ? 0 : errno;
    const bool closed = EGifCloseFile(gif, &error) == GIF_OK;
    if (!ok || !closed) {
        throw WriteError("GIF write failed", ok ? errno : lineError);
    }
}

} // namespace

std::string encodePng(const Bitmap& bitmap) {
    return pngBytes(bitmap, false);
}

bool looksPhotographic(const Bitmap& bitmap) {
    return predictionPays(bitmap);
}

std::string encodeJpeg(const Bitmap& bitmap, int quality) {
    return jpegBytes(bitmap, false, quality);
}

const char* extensionOf(ImageType type) {
    switch (type) {
    case ImageType::Bmp:
        return ".bmp";
    case ImageType::Jpeg:
        return ".jpg";
    case ImageType::Tiff:
        return ".tif";
    case ImageType::Png:
        return ".png";
    case ImageType::Gif:
        return ".gif";
    }
    return "";
}

void writeImage(const Bitmap& bitmap, ImageType type, bool paletted, const std::string& path) {
    switch (type) {
    case ImageType::Bmp:
        writeBmp(bitmap, paletted, path);
        return;
    case ImageType::Jpeg:
        writeJpeg(bitmap, paletted, path);
        return;
    case ImageType::Tiff:
        writeTiff(bitmap, paletted, path);
        return;
    case ImageType::Png:
        writePng(bitmap, paletted, path);
        return;
    case ImageType::Gif:
        writeGif(bitmap, path);
        return;
    }
    throw std::invalid_argument("unknown image type");
}

} // namespace pdftox
