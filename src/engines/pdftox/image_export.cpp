#include "image_export.h"

#include "atomic_file.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace pdftox {
namespace {

// A page rendered beyond this many pixels is drawn smaller, so that a poster-sized page
// cannot exhaust memory.
constexpr double MaxPixels = 120e6;

enum class PageStatus { Written, WriteFailed };

PageStatus renderPage(fz_context* ctx, fz_document* doc, int page, const ImageJob& job)
{
    PagePtr pagePtr(nullptr, {ctx});
    fz_page* p = nullptr;
    fz_rect bounds{};
    guarded(ctx, [&] {
        p = fz_load_page(ctx, doc, page - 1);
        bounds = fz_bound_page(ctx, p);
    });
    pagePtr.reset(p);

    double zoom = job.dpi / 72.0;
    const double w = (bounds.x1 - bounds.x0) * zoom;
    const double h = (bounds.y1 - bounds.y0) * zoom;
    if (w * h > MaxPixels) {
        zoom *= std::sqrt(MaxPixels / (w * h));
    }
    const fz_matrix ctm = fz_scale(float(zoom), float(zoom));
    const fz_irect box = fz_round_rect(fz_transform_rect(bounds, ctm));
    const bool grey = job.type == ImageType::Jpeg && job.paletted;

    fz_pixmap* pix = nullptr;
    guarded(ctx, [&] {
        pix = fz_new_pixmap_with_bbox(ctx, grey ? fz_device_gray(ctx) : fz_device_rgb(ctx), box,
                                      nullptr, 0);
        fz_clear_pixmap_with_value(ctx, pix, 255);
    });
    PixmapPtr pixmap(pix, {ctx});

    // A damaged content stream stops drawing where it breaks; what was drawn is kept.
    fz_device* dev = nullptr;
    guarded(ctx, [&] { dev = fz_new_draw_device(ctx, fz_identity, pix); });
    DevicePtr device(dev, {ctx});
    try {
        guarded(ctx, [&] { fz_run_page(ctx, p, dev, ctm, nullptr); });
    } catch (const MuError&) {
    }
    try {
        guarded(ctx, [&] { fz_close_device(ctx, dev); });
    } catch (const MuError&) {
    }
    device.reset();

    Bitmap bitmap;
    bitmap.width = fz_pixmap_width(ctx, pix);
    bitmap.height = fz_pixmap_height(ctx, pix);
    bitmap.channels = fz_pixmap_components(ctx, pix);
    bitmap.stride = fz_pixmap_stride(ctx, pix);
    bitmap.pixels = fz_pixmap_samples(ctx, pix);
    bitmap.dpi = int(std::lround(zoom * 72.0));

    try {
        AtomicFile file(job.folder + imageFileName(job, page));
        writeImage(bitmap, job.type, job.paletted, file.tempPath());
        file.commit();
    } catch (const std::exception&) {
        return PageStatus::WriteFailed;
    }
    return PageStatus::Written;
}

} // namespace

std::string imageFileName(const ImageJob& job, int page)
{
    int digits = 4;
    for (int n = job.pageCount; n >= 10000; n /= 10) {
        ++digits;
    }
    char number[32];
    std::snprintf(number, sizeof number, "%0*d", digits, page);
    return job.prefix + number + extensionOf(job.type);
}

int exportImages(const DocumentSource& source, const ImageJob& job, int first, int last,
                 const std::function<void()>& pageDone)
{
    int written = 0;
    bool writeFailed = false;
    runPages<PageStatus>(
        source, first, last,
        [&job](fz_context* ctx, fz_document* doc, int page) {
            return renderPage(ctx, doc, page, job);
        },
        [&](int, std::optional<PageStatus>&& status) {
            if (status == PageStatus::WriteFailed) {
                writeFailed = true;
                return false;
            }
            if (status) {
                ++written;
            }
            pageDone();
            return true;
        });
    return writeFailed ? -1 : written;
}

} // namespace pdftox
