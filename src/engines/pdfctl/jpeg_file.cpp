// JPEG files: the markers before the first scan (size, components, Adobe's marker, EXIF
// orientation) are all that is read of a file that is copied into the PDF as it is.
#include "raster.h"

#include <turbojpeg.h>

#include <cstring>
#include <vector>

namespace pdfctl {
namespace {

/// Reads a file's bytes at offsets, from one block read at the start where it can: the
/// markers of most files lie in their first 64 KiB.
class HeaderReader {
public:
    explicit HeaderReader(int fd) : m_fd(fd), m_head(1 << 16) {
        m_head.resize(readAt(fd, m_head.data(), m_head.size(), 0));
    }

    /// `size` bytes at `offset`, or null when the file ends before them.
    const uint8_t* at(int64_t offset, size_t size) {
        if (offset >= 0 && uint64_t(offset) + size <= m_head.size()) {
            return m_head.data() + offset;
        }
        m_scratch.resize(size);
        if (readAt(m_fd, m_scratch.data(), size, offset) != size) {
            return nullptr;
        }
        return m_scratch.data();
    }

private:
    int m_fd;
    std::vector<uint8_t> m_head;
    std::vector<uint8_t> m_scratch;
};

unsigned be16(const uint8_t* p) {
    return unsigned(p[0]) << 8 | p[1];
}

bool isFrameMarker(unsigned m) {
    // SOF0..SOF15 without DHT (c4), JPG (c8) and DAC (cc).
    return m >= 0xc0 && m <= 0xcf && m != 0xc4 && m != 0xc8 && m != 0xcc;
}

} // namespace

int exifOrientation(const uint8_t* tiff, size_t size) {
    if (size < 8) {
        return 1;
    }
    bool little;
    if (std::memcmp(tiff, "II*\0", 4) == 0) {
        little = true;
    } else if (std::memcmp(tiff, "MM\0*", 4) == 0) {
        little = false;
    } else {
        return 1;
    }
    auto u16 = [&](size_t at) -> unsigned {
        return little ? unsigned(tiff[at]) | unsigned(tiff[at + 1]) << 8
                      : unsigned(tiff[at]) << 8 | tiff[at + 1];
    };
    auto u32 = [&](size_t at) -> uint32_t {
        return little ? uint32_t(u16(at)) | uint32_t(u16(at + 2)) << 16
                      : uint32_t(u16(at)) << 16 | u16(at + 2);
    };
    const uint32_t ifd = u32(4);
    if (ifd > size - 2) {
        return 1;
    }
    const unsigned count = u16(ifd);
    for (unsigned i = 0; i < count; ++i) {
        const size_t entry = ifd + 2 + size_t(i) * 12;
        if (entry + 12 > size) {
            break;
        }
        if (u16(entry) != 0x0112) {
            continue;
        }
        const unsigned type = u16(entry + 2);
        if (type == 3) { // SHORT
            return validOrientation(long(u16(entry + 8)));
        }
        if (type == 4) { // LONG, as some writers put it
            return validOrientation(long(u32(entry + 8)));
        }
        return 1;
    }
    return 1;
}

JpegHeader readJpegHeader(int fd) {
    HeaderReader file(fd);
    const uint8_t* soi = file.at(0, 2);
    if (!soi || soi[0] != 0xff || soi[1] != 0xd8) {
        throw ImageError("not a JPEG image");
    }
    JpegHeader h;
    bool haveFrame = false;
    int64_t at = 2;
    for (;;) {
        const uint8_t* p = file.at(at, 2);
        if (!p) {
            throw ImageError("the JPEG data ends before its picture");
        }
        if (p[0] != 0xff) {
            throw ImageError("damaged JPEG markers");
        }
        if (p[1] == 0xff) { // fill byte before a marker
            ++at;
            continue;
        }
        const unsigned marker = p[1];
        at += 2;
        if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7)) {
            continue; // markers without a length
        }
        if (marker == 0xd9 || marker == 0xd8) {
            throw ImageError("the JPEG data has no picture");
        }
        const uint8_t* lengthBytes = file.at(at, 2);
        if (!lengthBytes || be16(lengthBytes) < 2) {
            throw ImageError("damaged JPEG markers");
        }
        const size_t length = be16(lengthBytes) - 2u;
        const int64_t body = at + 2;
        at = body + int64_t(length);
        if (marker == 0xda) {
            if (!haveFrame) {
                throw ImageError("the JPEG data has no frame header");
            }
            return h;
        }
        if (isFrameMarker(marker)) {
            const uint8_t* sof = file.at(body, length);
            if (!sof || length < 6) {
                throw ImageError("damaged JPEG frame header");
            }
            h.frameType = int(marker);
            h.precision = sof[0];
            h.height = int(be16(sof + 1));
            h.width = int(be16(sof + 3));
            h.components = sof[5];
            if (length < 6 + size_t(h.components) * 3) {
                throw ImageError("damaged JPEG frame header");
            }
            h.rgbIds = h.components == 3 && sof[6] == 'R' && sof[9] == 'G' && sof[12] == 'B';
            haveFrame = true;
            if (h.width == 0 || h.height == 0) {
                throw ImageError("a JPEG image without its size in the frame header");
            }
            if (h.components != 1 && h.components != 3 && h.components != 4) {
                throw ImageError("a JPEG image with " + std::to_string(h.components) +
                                 " colour components");
            }
            if (h.precision != 8) {
                throw ImageError("a JPEG image of " + std::to_string(h.precision) + "-bit samples");
            }
        } else if (marker == 0xe1 && length >= 6) {
            const uint8_t* app1 = file.at(body, length);
            if (app1 && std::memcmp(app1, "Exif\0\0", 6) == 0) {
                h.orientation = exifOrientation(app1 + 6, length - 6);
            }
        } else if (marker == 0xee && length >= 5) {
            const uint8_t* app14 = file.at(body, 5);
            h.adobe = h.adobe || (app14 && std::memcmp(app14, "Adobe", 5) == 0);
        }
    }
}

void decodeJpeg(int fd, RasterTarget& target) {
    std::vector<uint8_t> data;
    {
        uint8_t block[1 << 16];
        int64_t offset = 0;
        for (size_t n; (n = readAt(fd, block, sizeof block, offset)) > 0; offset += int64_t(n)) {
            data.insert(data.end(), block, block + n);
        }
    }
    tjhandle tj = tjInitDecompress();
    if (!tj) {
        throw std::bad_alloc();
    }
    struct Handle {
        tjhandle h;
        ~Handle() { tjDestroy(h); }
    } handle{tj};
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colorspace = 0;
    if (tjDecompressHeader3(tj, data.data(), data.size(), &width, &height, &subsampling,
                            &colorspace) != 0) {
        throw ImageError(std::string("cannot decode the JPEG data: ") + tjGetErrorStr2(tj));
    }
    RasterFormat format;
    format.width = width;
    format.height = height;
    int pixelFormat = TJPF_RGB;
    if (colorspace == TJCS_GRAY) {
        format.space = ColorSpace::Gray;
        pixelFormat = TJPF_GRAY;
    } else if (colorspace == TJCS_CMYK || colorspace == TJCS_YCCK) {
        format.space = ColorSpace::Cmyk;
        format.invertedCmyk = readJpegHeader(fd).adobe;
        pixelFormat = TJPF_CMYK;
    }
    const size_t rowBytes = size_t(width) * size_t(tjPixelSize[pixelFormat]);
    std::vector<uint8_t> pixels(rowBytes * size_t(height));
    if (tjDecompress2(tj, data.data(), data.size(), pixels.data(), width, 0, height, pixelFormat,
                      TJFLAG_ACCURATEDCT) != 0 &&
        tjGetErrorCode(tj) == TJERR_FATAL) {
        throw ImageError(std::string("cannot decode the JPEG data: ") + tjGetErrorStr2(tj));
    }
    std::vector<uint8_t>().swap(data);
    target.begin(format);
    for (int y = 0; y < height; ++y) {
        target.row(pixels.data() + size_t(y) * rowBytes, nullptr);
    }
}

} // namespace pdfctl
