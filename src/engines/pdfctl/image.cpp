// Which format a file is, by its first bytes, and how each is measured and stored.
#include "image.h"

#include "raster.h"

#include <cstring>
#include <new>

namespace pdfctl {
namespace {

enum class Format { Jpeg, Png, Gif, Tiff, Bmp };

Format formatOf(int fd) {
    uint8_t magic[8] = {};
    const size_t n = readAt(fd, magic, sizeof magic, 0);
    if (n >= 3 && magic[0] == 0xff && magic[1] == 0xd8 && magic[2] == 0xff) {
        return Format::Jpeg;
    }
    if (n >= 8 && std::memcmp(magic, "\x89PNG\r\n\x1a\n", 8) == 0) {
        return Format::Png;
    }
    if (n >= 6 && (std::memcmp(magic, "GIF87a", 6) == 0 || std::memcmp(magic, "GIF89a", 6) == 0)) {
        return Format::Gif;
    }
    if (n >= 4 && (std::memcmp(magic, "II*\0", 4) == 0 || std::memcmp(magic, "MM\0*", 4) == 0 ||
                   std::memcmp(magic, "II+\0", 4) == 0 || std::memcmp(magic, "MM\0+", 4) == 0)) {
        return Format::Tiff;
    }
    if (n >= 2 && magic[0] == 'B' && magic[1] == 'M') {
        return Format::Bmp;
    }
    throw ImageError("not a JPEG, PNG, BMP, GIF or TIFF image");
}

// JPEG frames that PDF readers decode: baseline, extended and progressive Huffman coding.
bool copiedAsIs(const JpegHeader& h) {
    return h.frameType == 0xc0 || h.frameType == 0xc1 || h.frameType == 0xc2;
}

StoredImage storeJpeg(int fd, const JpegHeader& h) {
    StoredImage image;
    image.width = h.width;
    image.height = h.height;
    image.orientation = h.orientation;
    const char* space = h.components == 1   ? "/DeviceGray"
                        : h.components == 3 ? "/DeviceRGB"
                                            : "/DeviceCMYK";
    std::string dict = "/Type /XObject /Subtype /Image /Width " + std::to_string(h.width) +
                       " /Height " + std::to_string(h.height) + " /ColorSpace " + space +
                       " /BitsPerComponent 8 /Filter /DCTDecode";
    // Adobe's applications write CMYK JPEG data inverted and mark it with their APP14 marker.
    if (h.components == 4 && h.adobe) {
        dict += " /Decode [1 0 1 0 1 0 1 0]";
    }
    // Components named R, G, B without an Adobe marker are RGB as they stand; a PDF reader
    // would otherwise take three components for YCbCr.
    if (h.rgbIds && !h.adobe) {
        dict += " /DecodeParms << /ColorTransform 0 >>";
    }
    image.image.dictionary = std::move(dict);
    image.image.bytes.inSource = true;
    const off_t size = lseek(fd, 0, SEEK_END);
    image.image.bytes.ranges = {{0, int64_t(size)}};
    return image;
}

} // namespace

int64_t StreamBytes::length() const {
    int64_t sum = 0;
    for (const auto& range : ranges) {
        sum += range.second;
    }
    return sum;
}

int validOrientation(long value) {
    return value >= 1 && value <= 8 ? int(value) : 1;
}

ImageSize measureImage(const std::string& path) {
    const Fd fd = openForReading(path, nullptr);
    switch (formatOf(fd.get())) {
    case Format::Jpeg: {
        const JpegHeader h = readJpegHeader(fd.get());
        return {h.width, h.height, h.orientation};
    }
    case Format::Png:
        return measurePng(fd.get());
    case Format::Gif:
        return measureGif(fd.get());
    case Format::Tiff:
        return measureTiff(path);
    case Format::Bmp:
        return measureBmp(fd.get());
    }
    throw ImageError("not a JPEG, PNG, BMP, GIF or TIFF image");
}

StoredImage storeImage(const std::string& path, const StoreSettings& settings, Spool& spool) {
    FileIdentity identity;
    const Fd fd = openForReading(path, &identity);
    const Format format = formatOf(fd.get());
    StoredImage image;
    if (format == Format::Jpeg) {
        const JpegHeader h = readJpegHeader(fd.get());
        if (copiedAsIs(h)) {
            image = storeJpeg(fd.get(), h);
            image.path = path;
            image.source = identity;
            return image;
        }
    } else if (format == Format::Png && storePngAsIs(fd.get(), settings, image)) {
        image.path = path;
        image.source = identity;
        return image;
    }

    RasterEncoder encoder(settings, spool);
    const int64_t spoolStart = spool.size();
    try {
        switch (format) {
        case Format::Jpeg:
            decodeJpeg(fd.get(), encoder);
            image.orientation = readJpegHeader(fd.get()).orientation;
            break;
        case Format::Png:
            image.orientation = decodePng(fd.get(), encoder);
            break;
        case Format::Gif:
            image.orientation = decodeGif(fd.get(), encoder);
            break;
        case Format::Tiff:
            image.orientation = decodeTiff(path, encoder);
            break;
        case Format::Bmp:
            image.orientation = decodeBmp(fd.get(), encoder);
            break;
        }
        encoder.finish(image);
    } catch (...) {
        spool.truncate(spoolStart);
        try {
            throw;
        } catch (const std::bad_alloc&) {
            throw ImageError("the picture is too large to read");
        } catch (const std::length_error&) {
            throw ImageError("the picture is too large to read");
        }
    }
    image.path = path;
    image.source = identity;
    return image;
}

} // namespace pdfctl
