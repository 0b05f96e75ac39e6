#include "reduced_jpeg.h"

#include <cstdio> // jpeglib.h needs FILE
#include <jpeglib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csetjmp>
#include <memory>
#include <stdexcept>
#include <vector>

namespace pdftox {
namespace {

using FillImageFn = void (*)(fz_context*, fz_device*, fz_image*, fz_matrix, float, fz_color_params);

// The draw device's own way of drawing a picture; the same function for every draw device.
std::atomic<FillImageFn> g_drawFillImage{nullptr};

// ---- Decoding at a reduced scale ---------------------------------------------------------

struct JpegErrors {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    int warnings;
};

void jpegFail(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

void jpegMessage(j_common_ptr info, int level) {
    if (level < 0) {
        ++reinterpret_cast<JpegErrors*>(info->err)->warnings;
    }
}

void jpegQuiet(j_common_ptr) {}

/// One decoder over JPEG bytes held in memory; destroyed with the object.
struct JpegReader {
    jpeg_decompress_struct info{};
    JpegErrors errors{};

    JpegReader() {
        info.err = jpeg_std_error(&errors.mgr);
        errors.mgr.error_exit = jpegFail;
        errors.mgr.emit_message = jpegMessage;
        errors.mgr.output_message = jpegQuiet;
        errors.warnings = 0;
        jpeg_create_decompress(&info);
    }
    ~JpegReader() { jpeg_destroy_decompress(&info); }
    JpegReader(const JpegReader&) = delete;
    JpegReader& operator=(const JpegReader&) = delete;
};

struct JpegLayout {
    int width = 0;
    int height = 0;
    int components = 0;
};

// Kept free of objects with destructors: libjpeg leaves it by longjmp on error. Reads the header
// and chooses the colour transform as MuPDF's own DCT filter does, so that the colours come out
// the same: a /ColorTransform given in the PDF, overridden by an Adobe marker; three components
// are YCbCr unless told otherwise.
bool readHeader(JpegReader& r, const uint8_t* data, size_t size, int colorTransform,
                JpegLayout* layout) {
    if (setjmp(r.errors.jump)) {
        return false;
    }
    jpeg_mem_src(&r.info, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&r.info, TRUE) != JPEG_HEADER_OK) {
        return false;
    }
    const bool ycc = r.info.saw_Adobe_marker ? r.info.Adobe_transform != 0
                     : colorTransform == -1  ? r.info.num_components == 3
                                             : colorTransform != 0;
    if (r.info.num_components == 3) {
        r.info.jpeg_color_space = ycc ? JCS_YCbCr : JCS_RGB;
    }
    layout->width = int(r.info.image_width);
    layout->height = int(r.info.image_height);
    layout->components = r.info.num_components;
    return true;
}

// Kept free of objects with destructors, as above. Sets the scale to eighths/8 and gives the
// size that comes out.
bool startScaled(JpegReader& r, int eighths, JpegLayout* out) {
    if (setjmp(r.errors.jump)) {
        return false;
    }
    r.info.scale_num = unsigned(eighths);
    r.info.scale_denom = 8;
    r.info.out_color_space = r.info.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&r.info);
    out->width = int(r.info.output_width);
    out->height = int(r.info.output_height);
    out->components = r.info.output_components;
    return true;
}

// ---- Averaging down ----------------------------------------------------------------------

// Shares across in 14 bits; shares down in 8 bits, so that the pass down (over every source
// value) runs in 16-bit lanes: 255 × 256 still fits.
constexpr int AcrossBits = 14;
constexpr int DownBits = 8;

/// For each output position along one axis: the first source position it covers and the
/// share of each of `count` source positions from there (zero where it covers none), summing
/// to 1 << bits.
struct Taps {
    int count = 0;
    std::vector<int> first;
    std::vector<uint32_t> weights; // count per output position
};

Taps tapsFor(int src, int dst, int bits) {
    Taps t;
    const double scale = double(src) / double(dst);
    t.count = std::min(src, int(std::ceil(scale)) + 1);
    t.first.resize(size_t(dst));
    t.weights.assign(size_t(dst) * size_t(t.count), 0);
    for (int i = 0; i < dst; ++i) {
        const double lo = i * scale;
        const double hi = std::min(double(src), (i + 1) * scale);
        // The window starts early enough that all of it lies inside the source.
        const int first = std::min(int(lo), src - t.count);
        t.first[size_t(i)] = first;
        uint32_t* w = &t.weights[size_t(i) * size_t(t.count)];
        // Each share is the difference of the rounded covered fractions before and after its
        // source position: never negative, and together exactly 1 << bits, so rounding
        // neither brightens nor darkens, whatever the ratio.
        double covered = 0;
        long previous = 0;
        for (int k = 0; k < t.count; ++k) {
            const double a = std::max(lo, double(first + k));
            const double b = std::min(hi, double(first + k + 1));
            if (b > a) {
                covered += (b - a) / (hi - lo);
            }
            const long rounded = k + 1 == t.count
                                     ? (1L << bits)
                                     : std::min(1L << bits, std::lround(covered * (1 << bits)));
            w[k] = uint32_t(rounded - previous);
            previous = rounded;
        }
    }
    return t;
}

/// Makes the rows of a smaller picture, one at a time, from the rows of a larger one: each
/// output pixel the mean of the source area it covers, down the columns first (a pass the
/// compiler vectorizes), then across.
class AreaShrinker {
public:
    AreaShrinker(int srcWidth, int srcHeight, int dstWidth, int dstHeight, int channels)
        : m_across(tapsFor(srcWidth, dstWidth, AcrossBits)),
          m_down(tapsFor(srcHeight, dstHeight, DownBits)), m_channels(channels),
          m_srcValues(size_t(srcWidth) * size_t(channels)), m_dstWidth(dstWidth),
          m_column(m_srcValues) {
        if (channels != 1 && channels != 3 && channels != 4) {
            throw std::invalid_argument("1, 3 or 4 channels");
        }
    }

    /// Output row `y` is made of the source rows firstRow(y) .. firstRow(y) + rowCount() - 1.
    int firstRow(int y) const { return m_down.first[size_t(y)]; }
    int rowCount() const { return m_down.count; }

    /// Writes output row `y` to `out` from its source rows, `rows[0]` being firstRow(y).
    void row(int y, const uint8_t* const* rows, uint8_t* out) {
        const uint32_t* w = &m_down.weights[size_t(y) * size_t(m_down.count)];
        // Columns in units of 1/256, so that the pass across keeps the precision.
        uint16_t* column = m_column.data();
        const size_t n = m_srcValues;
        {
            const auto weight = uint16_t(w[0]);
            const uint8_t* in = rows[0];
            for (size_t i = 0; i < n; ++i) {
                column[i] = uint16_t(weight * in[i]);
            }
        }
        for (int k = 1; k < m_down.count; ++k) {
            const auto weight = uint16_t(w[k]);
            const uint8_t* in = rows[k];
            if (weight != 0) {
                for (size_t i = 0; i < n; ++i) {
                    column[i] = uint16_t(column[i] + weight * in[i]);
                }
            }
        }
        switch (m_channels * 8 + std::min(m_across.count, 4)) {
        case 1 * 8 + 2:
            across<1, 2>(out);
            break;
        case 1 * 8 + 3:
            across<1, 3>(out);
            break;
        case 3 * 8 + 2:
            across<3, 2>(out);
            break;
        case 3 * 8 + 3:
            across<3, 3>(out);
            break;
        case 1 * 8 + 1:
        case 1 * 8 + 4:
            across<1, 0>(out);
            break;
        case 3 * 8 + 1:
        case 3 * 8 + 4:
            across<3, 0>(out);
            break;
        default:
            across<4, 0>(out);
            break;
        }
    }

private:
    // `Count` taps known when compiling (0: m_across.count), for the common small ratios.
    template <int Channels, int Count> void across(uint8_t* out) const {
        const int count = Count ? Count : m_across.count;
        const int* first = m_across.first.data();
        const uint32_t* weights = m_across.weights.data();
        const uint16_t* column = m_column.data();
        for (int x = 0; x < m_dstWidth; ++x) {
            const uint16_t* p = column + first[x] * Channels;
            const uint32_t* w = weights + x * count;
            uint32_t sum[size_t(Channels)];
            for (int c = 0; c < Channels; ++c) {
                sum[c] = 1u << (AcrossBits + DownBits - 1);
            }
            for (int k = 0; k < count; ++k) {
                for (int c = 0; c < Channels; ++c) {
                    sum[c] += w[k] * p[k * Channels + c];
                }
            }
            for (int c = 0; c < Channels; ++c) {
                out[x * Channels + c] =
                    uint8_t(std::min<uint32_t>(255, sum[c] >> (AcrossBits + DownBits)));
            }
        }
    }

    Taps m_across;
    Taps m_down;
    int m_channels;
    size_t m_srcValues;
    int m_dstWidth;
    std::vector<uint16_t> m_column;
};

/// Where the decoded rows go: a ring of as many source rows as one output row is made of,
/// since the rows are decoded once each, top to bottom.
struct RowRing {
    std::vector<uint8_t> storage;
    size_t stride = 0;
    int rows = 0;
    std::vector<const uint8_t*> window;
    uint8_t* slot(int row) { return storage.data() + size_t(row % rows) * stride; }
};

// Kept free of objects with destructors, as above. Decodes the rows in order and writes each
// output row as soon as its source rows are in.
bool decodeShrunk(JpegReader& r, AreaShrinker& shrinker, RowRing& ring, uint8_t* dst,
                  std::ptrdiff_t dstStride, int dstHeight) {
    if (setjmp(r.errors.jump)) {
        return false;
    }
    int decoded = 0;
    for (int y = 0; y < dstHeight; ++y) {
        const int first = shrinker.firstRow(y);
        while (decoded < first + ring.rows) {
            JSAMPROW slot = ring.slot(decoded);
            if (jpeg_read_scanlines(&r.info, &slot, 1) != 1) {
                return false;
            }
            ++decoded;
        }
        for (int k = 0; k < ring.rows; ++k) {
            ring.window[size_t(k)] = ring.slot(first + k);
        }
        shrinker.row(y, ring.window.data(), dst + dstStride * y);
    }
    if (r.info.output_scanline == r.info.output_height) {
        jpeg_finish_decompress(&r.info);
    } else {
        jpeg_abort_decompress(&r.info);
    }
    return true;
}

/// Decodes the JPEG in `buffer` straight into `dst` (`width` × `height` pixels of the image's
/// components, rows `dstStride` apart), at a reduced scale where one is cheaper. False when it
/// does not decode cleanly: MuPDF then draws it, with its own handling of damaged data.
bool decodeInto(const fz_buffer* buffer, int colorTransform, const fz_image* image, int width,
                int height, uint8_t* dst, std::ptrdiff_t dstStride) {
    JpegReader reader;
    JpegLayout full;
    if (!readHeader(reader, buffer->data, buffer->len, colorTransform, &full) ||
        full.width != image->w || full.height != image->h || full.components != image->n) {
        return false;
    }
    // libjpeg-turbo decodes at full size, a half, a quarter and an eighth with its SIMD code,
    // at the other eighths with plain C that costs more than the full-size decoding: take the
    // smallest of these that still covers the target.
    int eighths = 8;
    for (const int e : {1, 2, 4}) {
        if ((int64_t(full.width) * e + 7) / 8 >= width &&
            (int64_t(full.height) * e + 7) / 8 >= height) {
            eighths = e;
            break;
        }
    }
    JpegLayout out;
    if (!startScaled(reader, eighths, &out) || out.components != full.components ||
        out.width < width || out.height < height) {
        return false;
    }
    AreaShrinker shrinker(out.width, out.height, width, height, out.components);
    RowRing ring;
    ring.rows = shrinker.rowCount();
    ring.stride = size_t(out.width) * size_t(out.components);
    ring.storage.resize(ring.stride * size_t(ring.rows));
    ring.window.resize(size_t(ring.rows));
    return decodeShrunk(reader, shrinker, ring, dst, dstStride, height) &&
           reader.errors.warnings == 0;
}

} // namespace

void averageDown(const uint8_t* src, int srcWidth, int srcHeight, std::ptrdiff_t srcStride,
                 int channels, uint8_t* dst, int dstWidth, int dstHeight,
                 std::ptrdiff_t dstStride) {
    AreaShrinker shrinker(srcWidth, srcHeight, dstWidth, dstHeight, channels);
    std::vector<const uint8_t*> rows(size_t(shrinker.rowCount()));
    for (int y = 0; y < dstHeight; ++y) {
        for (size_t k = 0; k < rows.size(); ++k) {
            rows[k] = src + srcStride * (shrinker.firstRow(y) + std::ptrdiff_t(k));
        }
        shrinker.row(y, rows.data(), dst + dstStride * y);
    }
}

namespace {

// The picture as MuPDF would show it after its own scaling: decoded small, averaged down to
// the pixels it covers, and the matrix that places it on exactly those pixels. Null when this
// picture is not one for this path or did not decode; never throws.
// The pixels of the pixmap that the device of this thread draws into: draw devices are made
// and used on one thread, one at a time.
thread_local fz_irect g_target = fz_infinite_irect;

fz_image* reducedImage(fz_context* ctx, fz_device* dev, fz_image* image, fz_matrix ctm, float alpha,
                       fz_matrix* placed) noexcept {
    try {
        if (alpha != 1.0f || (dev->hints & FZ_DONT_INTERPOLATE_IMAGES) || image->imagemask ||
            image->mask || image->use_colorkey || image->use_decode || image->bpc != 8 ||
            (image->n != 1 && image->n != 3) || !image->colorspace ||
            fz_colorspace_is_indexed(ctx, image->colorspace) ||
            fz_colorspace_n(ctx, image->colorspace) != image->n) {
            return nullptr;
        }
        // Upright pictures only: rotated and flipped ones keep MuPDF's drawing.
        if (ctm.b != 0 || ctm.c != 0 || !(ctm.a > 0) || !(ctm.d > 0)) {
            return nullptr;
        }
        const fz_compressed_buffer* compressed = fz_compressed_image_buffer(ctx, image);
        if (!compressed || compressed->params.type != FZ_IMAGE_JPEG || !compressed->buffer) {
            return nullptr;
        }
        // The pixels MuPDF itself would scale the picture to.
        const fz_matrix grid = fz_gridfit_matrix(dev->flags & FZ_DEVFLAG_GRIDFIT_AS_TILED, ctm);
        if (!std::isfinite(grid.a) || !std::isfinite(grid.d) || grid.a < 1 || grid.d < 1 ||
            grid.a >= image->w || grid.d >= image->h) {
            return nullptr;
        }
        const int width = int(grid.a);
        const int height = int(grid.d);
        // Far smaller than stored (a thumbnail of a large scan), the averaging would thin out
        // to sampling: MuPDF's scaler is the better tool there.
        if (image->w / width > 2048 || image->h / height > 256) {
            return nullptr;
        }
        // Only a small part shows (a picture mostly clipped, or one band of a page drawn in
        // several): MuPDF decodes just that part, and shares one decoded copy between bands.
        const fz_irect target = g_target;
        const fz_rect placedArea = fz_transform_rect(fz_unit_rect, grid);
        const fz_irect visible = fz_intersect_irect(fz_round_rect(placedArea), target);
        const double visibleArea = double(std::max(0, visible.x1 - visible.x0)) *
                                   double(std::max(0, visible.y1 - visible.y0));
        if (visibleArea * 2 < double(width) * double(height)) {
            return nullptr;
        }
        fz_pixmap* pix = nullptr;
        guarded(ctx,
                [&] { pix = fz_new_pixmap(ctx, image->colorspace, width, height, nullptr, 0); });
        PixmapPtr pixmap(pix, {ctx});
        if (!decodeInto(compressed->buffer, compressed->params.u.jpeg.color_transform, image, width,
                        height, fz_pixmap_samples(ctx, pix), fz_pixmap_stride(ctx, pix))) {
            return nullptr;
        }
        fz_image* reduced = nullptr;
        guarded(ctx, [&] { reduced = fz_new_image_from_pixmap(ctx, pix, nullptr); });
        *placed = grid;
        return reduced;
    } catch (...) {
        return nullptr;
    }
}

void fillImage(fz_context* ctx, fz_device* dev, fz_image* image, fz_matrix ctm, float alpha,
               fz_color_params params) {
    const FillImageFn draw = g_drawFillImage.load();
    fz_matrix placed = ctm;
    fz_image* reduced = reducedImage(ctx, dev, image, ctm, alpha, &placed);
    if (!reduced) {
        draw(ctx, dev, image, ctm, alpha, params);
        return;
    }
    fz_try(ctx) {
        draw(ctx, dev, reduced, placed, alpha, params);
    }
    fz_always(ctx) {
        fz_drop_image(ctx, reduced);
    }
    fz_catch(ctx) {
        fz_rethrow(ctx);
    }
}

} // namespace

void decodeJpegsReduced(fz_device* drawDevice, fz_irect target) {
    g_target = target;
    if (drawDevice->fill_image == fillImage) {
        return;
    }
    g_drawFillImage.store(drawDevice->fill_image);
    drawDevice->fill_image = fillImage;
}

} // namespace pdftox
