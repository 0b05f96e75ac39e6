// PNG files: their chunks walked (and checked) by hand for the files whose compressed data
// can go into the PDF as it is, libpng for the others.
#include "raster.h"

#include "pdf_text.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace pdfctl {
namespace {

const uint8_t Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

struct PngChunks {
    uint32_t width = 0;
    uint32_t height = 0;
    int bitDepth = 0;
    int colorType = 0;
    int interlace = 0;
    bool transparency = false; // a tRNS chunk
    std::string palette;       // PLTE
    int orientation = 1;       // eXIf
    std::vector<std::pair<int64_t, int64_t>> idat;
};

/// Reads a file front to back through a buffer, seeking over what is not wanted.
class SequentialReader {
public:
    explicit SequentialReader(int fd) : m_fd(fd), m_buffer(1 << 18) {}

    /// The next `size` bytes (at most the buffer's size), or null at the end of the file.
    const uint8_t* take(size_t size) {
        if (m_end - m_pos < size) {
            std::memmove(m_buffer.data(), m_buffer.data() + m_pos, m_end - m_pos);
            m_end -= m_pos;
            m_fileAt += int64_t(m_pos);
            m_pos = 0;
            m_end += readAt(m_fd, m_buffer.data() + m_end, m_buffer.size() - m_end,
                            m_fileAt + int64_t(m_end));
            if (m_end < size) {
                return nullptr;
            }
        }
        const uint8_t* p = m_buffer.data() + m_pos;
        m_pos += size;
        return p;
    }
    /// Passes over `size` bytes, handing them to `crc` when it is given.
    bool skip(int64_t size, uLong* crc) {
        while (size > 0) {
            if (!crc && size > int64_t(m_end - m_pos)) {
                m_fileAt += int64_t(m_pos) + size;
                m_pos = m_end = 0;
                return true; // the length is checked against the file's size by the caller
            }
            const size_t step = size_t(std::min<int64_t>(size, int64_t(m_buffer.size())));
            const uint8_t* p = take(step);
            if (!p) {
                return false;
            }
            if (crc) {
                *crc = crc32(*crc, p, uInt(step));
            }
            size -= int64_t(step);
        }
        return true;
    }
    int64_t offset() const { return m_fileAt + int64_t(m_pos); }

private:
    int m_fd;
    std::vector<uint8_t> m_buffer;
    size_t m_pos = 0;
    size_t m_end = 0;
    int64_t m_fileAt = 0;
};

/// Walks the chunks. With `whole`, every chunk is read and its CRC checked and the walk runs to
/// IEND; otherwise only the header chunks are read and the walk may stop at the first IDAT
/// (a late eXIf is then missed, as a measure allows).
PngChunks walkChunks(int fd, int64_t fileSize, bool whole) {
    SequentialReader in(fd);
    const uint8_t* sig = in.take(8);
    if (!sig || std::memcmp(sig, Signature, 8) != 0) {
        throw ImageError("not a PNG image");
    }
    PngChunks png;
    bool first = true;
    for (;;) {
        const uint8_t* head = in.take(8);
        if (!head) {
            throw ImageError("the PNG data ends early");
        }
        const uint32_t length = be32(head);
        char type[5] = {};
        std::memcpy(type, head + 4, 4);
        const int64_t dataAt = in.offset();
        if (length > 0x7fffffffu || dataAt + int64_t(length) + 4 > fileSize) {
            throw ImageError("the PNG data ends early");
        }
        if (first && std::strcmp(type, "IHDR") != 0) {
            throw ImageError("a PNG image without its header");
        }
        first = false;
        uLong crc = crc32(0, head + 4, 4);
        const bool wanted = std::strcmp(type, "IHDR") == 0 || std::strcmp(type, "PLTE") == 0 ||
                            std::strcmp(type, "eXIf") == 0;
        if (wanted && length <= (1u << 17)) {
            const uint8_t* data = length ? in.take(length) : head;
            if (!data) {
                throw ImageError("the PNG data ends early");
            }
            crc = crc32(crc, data, length);
            if (std::strcmp(type, "IHDR") == 0) {
                if (length != 13) {
                    throw ImageError("a damaged PNG header");
                }
                png.width = be32(data);
                png.height = be32(data + 4);
                png.bitDepth = data[8];
                png.colorType = data[9];
                png.interlace = data[12];
                if (png.width == 0 || png.height == 0 || png.width > 0x7fffffff ||
                    png.height > 0x7fffffff) {
                    throw ImageError("a PNG image without a size");
                }
            } else if (std::strcmp(type, "PLTE") == 0) {
                png.palette.assign(reinterpret_cast<const char*>(data), length);
            } else {
                png.orientation = exifOrientation(data, length);
            }
        } else {
            if (std::strcmp(type, "IDAT") == 0) {
                if (!whole) {
                    return png;
                }
                if (length > 0) {
                    png.idat.emplace_back(dataAt, length);
                }
            } else if (std::strcmp(type, "tRNS") == 0) {
                png.transparency = true;
            }
            if (!in.skip(length, whole ? &crc : nullptr)) {
                throw ImageError("the PNG data ends early");
            }
        }
        const uint8_t* stored = in.take(4);
        if (!stored) {
            throw ImageError("the PNG data ends early");
        }
        if (whole && be32(stored) != crc) {
            // A damaged chunk name is no text to show.
            const bool named = std::all_of(type, type + 4, [](char c) {
                return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
            });
            throw ImageError(named ? std::string("damaged PNG data (bad checksum of a ") + type +
                                         " chunk)"
                                   : std::string("damaged PNG data (bad checksum)"));
        }
        if (std::strcmp(type, "IEND") == 0) {
            return png;
        }
    }
}

int64_t fileSizeOf(int fd) {
    const off_t end = lseek(fd, 0, SEEK_END);
    if (end < 0) {
        throw ImageError("cannot read the file");
    }
    return end;
}

} // namespace

ImageSize measurePng(int fd) {
    const PngChunks png = walkChunks(fd, fileSizeOf(fd), false);
    return {int(png.width), int(png.height), png.orientation};
}

bool storePngAsIs(int fd, const StoreSettings& settings, StoredImage& image) {
    if (settings.coding != Coding::Flate) {
        return false;
    }
    const PngChunks png = walkChunks(fd, fileSizeOf(fd), true);
    const bool keepsTransparency = settings.transparency != Transparency::Drop;
    const bool plainColors = (png.colorType == 0 && png.bitDepth <= 8) ||
                             (png.colorType == 2 && png.bitDepth == 8) ||
                             (png.colorType == 3 && png.bitDepth <= 8);
    if (png.interlace != 0 || !plainColors || (png.transparency && keepsTransparency) ||
        png.idat.empty()) {
        return false;
    }
    std::string space;
    int colors = 1;
    if (png.colorType == 0) {
        space = "/DeviceGray";
    } else if (png.colorType == 2) {
        space = "/DeviceRGB";
        colors = 3;
    } else {
        if (png.palette.empty() || png.palette.size() % 3 != 0 || png.palette.size() > 768) {
            throw ImageError("a PNG image with a damaged palette");
        }
        space = "[/Indexed /DeviceRGB " + std::to_string(png.palette.size() / 3 - 1) + " " +
                hexString(png.palette) + "]";
    }
    const std::string bits = std::to_string(png.bitDepth);
    image.width = int(png.width);
    image.height = int(png.height);
    image.orientation = png.orientation;
    image.image.dictionary =
        "/Type /XObject /Subtype /Image /Width " + std::to_string(png.width) + " /Height " +
        std::to_string(png.height) + " /ColorSpace " + space + " /BitsPerComponent " + bits +
        " /Filter /FlateDecode /DecodeParms << /Predictor 15 /Colors " + std::to_string(colors) +
        " /BitsPerComponent " + bits + " /Columns " + std::to_string(png.width) + " >>";
    image.image.bytes.inSource = true;
    image.image.bytes.ranges = png.idat;
    image.mask.reset();
    return true;
}

namespace {

struct PngSource {
    int fd;
    int64_t offset;
};

extern "C" void readFromFd(png_structp png, png_bytep data, size_t size) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    size_t got = 0;
    try {
        got = readAt(source->fd, data, size, source->offset);
    } catch (...) {
    }
    if (got != size) {
        png_error(png, "the PNG data ends early");
    }
    source->offset += int64_t(size);
}

extern "C" void pngError(png_structp png, png_const_charp message) {
    auto* text = static_cast<std::string*>(png_get_error_ptr(png));
    text->assign(message ? message : "damaged PNG data");
    png_longjmp(png, 1);
}

extern "C" void pngWarning(png_structp, png_const_charp) {}

/// libpng's structures, destroyed with the object.
struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngReader() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

} // namespace

// All libpng calls live in this function, whose setjmp catches libpng's errors: the objects
// with destructors are made before it, so a longjmp skips none of them, and the error becomes
// an exception once it has landed.
int decodePng(int fd, RasterTarget& target) {
    std::string error;
    PngSource source{fd, 0};
    PngReader reader;
    RasterFormat format;
    std::vector<uint8_t> pixels; // one row, or the whole picture when interlaced
    std::vector<uint8_t> color;  // a row's colour samples
    std::vector<uint8_t> alpha;  // a row's alpha
    std::vector<uint8_t> paletteAlpha;
    std::vector<png_bytep> rows;
    volatile int orientation = 1; // kept in memory across setjmp

    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, pngError, pngWarning);
    if (!reader.png) {
        throw std::bad_alloc();
    }
    reader.info = png_create_info_struct(reader.png);
    if (!reader.info) {
        throw std::bad_alloc();
    }
    if (setjmp(png_jmpbuf(reader.png))) {
        throw ImageError(error.empty() ? "damaged PNG data" : error);
    }
    png_structp png = reader.png;
    png_infop info = reader.info;
    png_set_read_fn(png, &source, readFromFd);
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    png_read_info(png, info);

    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    const int colorType = png_get_color_type(png, info);
    const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    format.width = int(width);
    format.height = int(height);

    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp entries = nullptr;
        int count = 0;
        if (!png_get_PLTE(png, info, &entries, &count) || count < 1) {
            png_error(png, "a palette image without its palette");
        }
        format.space = ColorSpace::Indexed;
        format.palette.resize(size_t(count) * 3);
        for (int i = 0; i < count; ++i) {
            format.palette[size_t(i) * 3] = char(entries[i].red);
            format.palette[size_t(i) * 3 + 1] = char(entries[i].green);
            format.palette[size_t(i) * 3 + 2] = char(entries[i].blue);
        }
        if (transparency) {
            png_bytep trans = nullptr;
            int transCount = 0;
            png_get_tRNS(png, info, &trans, &transCount, nullptr);
            paletteAlpha.assign(256, 255);
            for (int i = 0; i < transCount && i < 256; ++i) {
                paletteAlpha[size_t(i)] = trans[i];
            }
            format.alpha = true;
        }
        png_set_packing(png); // one index per byte
    } else {
        if (transparency) {
            png_set_tRNS_to_alpha(png);
        }
        png_set_expand_gray_1_2_4_to_8(png);
        png_set_scale_16(png);
    }
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const int channels = png_get_channels(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    if (colorType != PNG_COLOR_TYPE_PALETTE) {
        format.alpha = channels == 2 || channels == 4;
        format.space = channels <= 2 ? ColorSpace::Gray : ColorSpace::Rgb;
    }
    png_bytep exif = nullptr;
    png_uint_32 exifSize = 0;
    if (png_get_eXIf_1(png, info, &exifSize, &exif) && exif) {
        orientation = exifOrientation(exif, exifSize);
    }

    target.begin(format);
    const int colorChannels = format.space == ColorSpace::Rgb ? 3 : 1;
    color.resize(size_t(width) * size_t(colorChannels));
    alpha.resize(width);
    // Splits a decoded row into colour and alpha and hands it on.
    auto deliver = [&](const uint8_t* row) {
        if (!format.alpha) {
            target.row(row, nullptr);
        } else if (format.space == ColorSpace::Indexed) {
            for (size_t x = 0; x < width; ++x) {
                alpha[x] = paletteAlpha[row[x]];
            }
            target.row(row, alpha.data());
        } else {
            for (size_t x = 0; x < width; ++x) {
                std::memcpy(&color[x * size_t(colorChannels)], row + x * size_t(channels),
                            size_t(colorChannels));
                alpha[x] = row[x * size_t(channels) + size_t(colorChannels)];
            }
            target.row(color.data(), alpha.data());
        }
    };
    if (passes > 1) {
        pixels.resize(rowBytes * height);
        rows.resize(height);
        for (size_t y = 0; y < height; ++y) {
            rows[y] = pixels.data() + y * rowBytes;
        }
        png_read_image(png, rows.data());
        for (size_t y = 0; y < height; ++y) {
            deliver(rows[y]);
        }
    } else {
        pixels.resize(rowBytes);
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(png, pixels.data(), nullptr);
            deliver(pixels.data());
        }
    }
    // The end is read for an eXIf chunk written after the data.
    png_read_end(png, info);
    if (orientation == 1 && png_get_eXIf_1(png, info, &exifSize, &exif) && exif) {
        orientation = exifOrientation(exif, exifSize);
    }
    return orientation;
}

} // namespace pdfctl
