// Storing decoded rows: PNG predictors and Flate, raw samples, or JPEG through TurboJPEG, and
// the alpha channel as a Flate-compressed soft mask.
#include "raster.h"

#include "atomic_file.h"
#include "pdf_text.h"
#include "predictor.h"

#include <turbojpeg.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <vector>

namespace pdfctl {
namespace {

// zlib's fastest level: on a 2400 x 1800 photograph with alpha it takes a third of the time of
// level 6 for files about 5 % larger; the predictors already did most of the work.
constexpr int FlateLevel = 1;

/// A zlib stream whose output goes to a sink as it is made.
class Deflater {
public:
    explicit Deflater(std::function<void(const uint8_t*, size_t)> sink) : m_sink(std::move(sink)) {
        if (deflateInit(&m_z, FlateLevel) != Z_OK) {
            throw std::bad_alloc();
        }
    }
    ~Deflater() { deflateEnd(&m_z); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    void write(const uint8_t* data, size_t size) { run(data, size, Z_NO_FLUSH); }
    void finish() { run(nullptr, 0, Z_FINISH); }

private:
    void run(const uint8_t* data, size_t size, int flush) {
        m_z.next_in = const_cast<Bytef*>(data);
        m_z.avail_in = static_cast<uInt>(size);
        int status = Z_OK;
        do {
            m_z.next_out = m_out;
            m_z.avail_out = sizeof m_out;
            status = deflate(&m_z, flush);
            if (status == Z_STREAM_ERROR) {
                throw std::runtime_error("zlib failed");
            }
            m_sink(m_out, sizeof m_out - m_z.avail_out);
        } while (m_z.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    }

    z_stream m_z{};
    uint8_t m_out[1 << 16];
    std::function<void(const uint8_t*, size_t)> m_sink;
};

int channelsOf(ColorSpace space) {
    switch (space) {
    case ColorSpace::Gray:
    case ColorSpace::Indexed:
        return 1;
    case ColorSpace::Rgb:
        return 3;
    case ColorSpace::Cmyk:
        return 4;
    }
    return 1;
}

std::string colorSpaceName(const RasterFormat& f) {
    switch (f.space) {
    case ColorSpace::Gray:
        return "/DeviceGray";
    case ColorSpace::Rgb:
        return "/DeviceRGB";
    case ColorSpace::Cmyk:
        return "/DeviceCMYK";
    case ColorSpace::Indexed:
        return "[/Indexed /DeviceRGB " + std::to_string(f.palette.size() / 3 - 1) + " " +
               hexString(f.palette) + "]";
    }
    return "/DeviceRGB";
}

std::string flateParms(int colors, int bits, int columns) {
    return "/Filter /FlateDecode /DecodeParms << /Predictor 15 /Colors " + std::to_string(colors) +
           " /BitsPerComponent " + std::to_string(bits) + " /Columns " + std::to_string(columns) +
           " >>";
}

} // namespace

struct RasterEncoder::State {
    RasterFormat in;  // as the decoder delivers
    RasterFormat out; // as stored
    bool expandPalette = false;
    bool blend = false; // alpha blended onto white
    bool mask = false;  // alpha kept as a soft mask
    bool anyTransparent = false;
    size_t outRowBytes = 0;
    std::vector<uint8_t> converted;

    int64_t colorStart = 0;
    std::unique_ptr<Predictor> colorPredictor;
    std::unique_ptr<Deflater> colorDeflater;
    std::vector<uint8_t> jpegPixels; // JPEG coding compresses the whole picture at the end

    std::string maskBytes; // compressed alpha, appended to the spool after the picture
    std::unique_ptr<Predictor> maskPredictor;
    std::unique_ptr<Deflater> maskDeflater;
    int rows = 0;
};

RasterEncoder::RasterEncoder(const StoreSettings& settings, Spool& spool)
    : m_state(std::make_unique<State>()), m_settings(settings), m_spool(spool) {}

RasterEncoder::~RasterEncoder() = default;

void RasterEncoder::begin(const RasterFormat& format) {
    State& s = *m_state;
    s.in = format;
    s.out = format;
    s.out.alpha = false;
    const bool jpeg = m_settings.coding == Coding::Jpeg;
    s.mask = format.alpha && m_settings.transparency == Transparency::SoftMask;
    s.blend = format.alpha && m_settings.transparency == Transparency::White;
    // Blending changes colours per pixel, which an index cannot carry; JPEG has no palette and
    // no packed bits.
    if (format.space == ColorSpace::Indexed && (jpeg || s.blend)) {
        s.expandPalette = true;
        s.out.space = ColorSpace::Rgb;
        s.out.palette.clear();
    }
    if (format.bits == 1 && jpeg) {
        s.out.bits = 8;
    }
    const size_t w = size_t(format.width);
    s.outRowBytes = (w * size_t(channelsOf(s.out.space)) * size_t(s.out.bits) + 7) / 8;
    s.converted.resize(s.outRowBytes);

    m_spool.flush();
    s.colorStart = m_spool.size();
    if (jpeg) {
        s.jpegPixels.reserve(s.outRowBytes * size_t(format.height));
    } else if (m_settings.coding == Coding::Flate) {
        const size_t pixelBytes =
            std::max<size_t>(1, size_t(channelsOf(s.out.space)) * size_t(s.out.bits) / 8);
        s.colorPredictor = std::make_unique<Predictor>(s.outRowBytes, pixelBytes);
        Spool* spool = &m_spool;
        s.colorDeflater = std::make_unique<Deflater>(
            [spool](const uint8_t* d, size_t n) { spool->append(d, n); });
    }
    if (s.mask) {
        s.maskPredictor = std::make_unique<Predictor>(w, 1);
        std::string* bytes = &s.maskBytes;
        s.maskDeflater = std::make_unique<Deflater>([bytes](const uint8_t* d, size_t n) {
            bytes->append(reinterpret_cast<const char*>(d), n);
        });
    }
}

void RasterEncoder::row(const uint8_t* color, const uint8_t* alpha) {
    State& s = *m_state;
    if (s.rows >= s.in.height) {
        return;
    }
    ++s.rows;
    const size_t w = size_t(s.in.width);
    const uint8_t* samples = color;
    if (s.expandPalette || s.blend || (s.in.bits == 1 && s.out.bits == 8)) {
        uint8_t* out = s.converted.data();
        const size_t channels = size_t(channelsOf(s.out.space));
        // White is 255 in grey and RGB, no ink in CMYK (255 when stored inverted).
        const int white = s.out.space == ColorSpace::Cmyk ? (s.out.invertedCmyk ? 255 : 0) : 255;
        for (size_t x = 0; x < w; ++x) {
            uint8_t px[4];
            if (s.expandPalette) {
                const size_t index = std::min<size_t>(color[x], s.in.palette.size() / 3 - 1);
                std::memcpy(px, s.in.palette.data() + index * 3, 3);
            } else if (s.in.bits == 1) {
                px[0] = (color[x / 8] >> (7 - x % 8)) & 1 ? 255 : 0;
            } else {
                std::memcpy(px, color + x * channels, channels);
            }
            if (s.blend) {
                const int a = alpha[x];
                for (size_t c = 0; c < channels; ++c) {
                    px[c] = uint8_t(white +
                                    ((px[c] - white) * a + (px[c] >= white ? 127 : -127)) / 255);
                }
            }
            std::memcpy(out + x * channels, px, channels);
        }
        samples = out;
    }

    if (m_settings.coding == Coding::Jpeg) {
        s.jpegPixels.insert(s.jpegPixels.end(), samples, samples + s.outRowBytes);
    } else if (s.colorDeflater) {
        const auto& filtered = s.colorPredictor->filter(samples);
        s.colorDeflater->write(filtered.data(), filtered.size());
    } else {
        m_spool.append(samples, s.outRowBytes);
    }

    if (s.mask) {
        for (size_t x = 0; x < w && !s.anyTransparent; ++x) {
            s.anyTransparent = alpha[x] != 255;
        }
        const auto& filtered = s.maskPredictor->filter(alpha);
        s.maskDeflater->write(filtered.data(), filtered.size());
    }
}

void RasterEncoder::finish(StoredImage& image) {
    State& s = *m_state;
    if (s.rows < s.in.height) {
        throw ImageError("the picture ends early");
    }
    const RasterFormat& f = s.out;
    image.width = f.width;
    image.height = f.height;
    std::string dict = "/Type /XObject /Subtype /Image /Width " + std::to_string(f.width) +
                       " /Height " + std::to_string(f.height) + " /ColorSpace " +
                       colorSpaceName(f) + " /BitsPerComponent " + std::to_string(f.bits);
    if (m_settings.coding == Coding::Jpeg) {
        const int pixelFormat = f.space == ColorSpace::Gray   ? TJPF_GRAY
                                : f.space == ColorSpace::Cmyk ? TJPF_CMYK
                                                              : TJPF_RGB;
        const int subsampling = f.space == ColorSpace::Gray    ? TJSAMP_GRAY
                                : m_settings.jpegQuality >= 90 ? TJSAMP_444
                                                               : TJSAMP_420;
        tjhandle tj = tjInitCompress();
        if (!tj) {
            throw std::bad_alloc();
        }
        unsigned char* jpeg = nullptr;
        unsigned long jpegSize = 0;
        const int status =
            tjCompress2(tj, s.jpegPixels.data(), f.width, 0, f.height, pixelFormat, &jpeg,
                        &jpegSize, subsampling, m_settings.jpegQuality, TJFLAG_ACCURATEDCT);
        std::string error = status != 0 ? tjGetErrorStr2(tj) : "";
        tjDestroy(tj);
        if (status != 0) {
            tjFree(jpeg);
            throw ImageError("cannot encode it as JPEG: " + error);
        }
        try {
            m_spool.append(jpeg, jpegSize);
        } catch (...) {
            tjFree(jpeg);
            throw;
        }
        tjFree(jpeg);
        std::vector<uint8_t>().swap(s.jpegPixels);
        dict += " /Filter /DCTDecode";
    } else if (s.colorDeflater) {
        s.colorDeflater->finish();
        dict += " " + flateParms(channelsOf(f.space), f.bits, f.width);
    }
    if (f.space == ColorSpace::Cmyk && f.invertedCmyk) {
        dict += " /Decode [1 0 1 0 1 0 1 0]";
    }
    image.image.dictionary = dict;
    image.image.bytes.inSource = false;
    image.image.bytes.ranges = {{s.colorStart, m_spool.size() - s.colorStart}};

    image.mask.reset();
    if (s.mask) {
        s.maskDeflater->finish();
        if (s.anyTransparent) {
            const int64_t start = m_spool.size();
            m_spool.append(s.maskBytes.data(), s.maskBytes.size());
            StoredStream mask;
            mask.dictionary = "/Type /XObject /Subtype /Image /Width " + std::to_string(f.width) +
                              " /Height " + std::to_string(f.height) +
                              " /ColorSpace /DeviceGray /BitsPerComponent 8 " +
                              flateParms(1, 8, f.width);
            mask.bytes.ranges = {{start, m_spool.size() - start}};
            image.mask = std::move(mask);
        }
    }
}

} // namespace pdfctl
