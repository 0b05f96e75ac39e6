#include "image_export.h"

#include "atomic_file.h"
#include "reduced_jpeg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace pdftox {
namespace {

// A page rendered beyond this many pixels is drawn smaller, so that a poster-sized page
// cannot exhaust memory.
constexpr double MaxPixels = 120e6;

enum class PageStatus { Written, DiskFull, WriteFailed };

void drawWhole(fz_context* ctx, fz_page* page, fz_matrix ctm, fz_pixmap* pix) {
    fz_device* dev = nullptr;
    guarded(ctx, [&] { dev = fz_new_draw_device(ctx, fz_identity, pix); });
    DevicePtr device(dev, {ctx});
    decodeJpegsReduced(dev, fz_pixmap_bbox(ctx, pix));
    drawPage(ctx, page, ctm, dev);
}

void drawList(fz_context* ctx, fz_display_list* list, fz_matrix ctm, fz_pixmap* band) {
    fz_device* dev = nullptr;
    guarded(ctx, [&] { dev = fz_new_draw_device(ctx, fz_identity, band); });
    DevicePtr device(dev, {ctx});
    decodeJpegsReduced(dev, fz_pixmap_bbox(ctx, band));
    const fz_rect area = fz_rect_from_irect(fz_pixmap_bbox(ctx, band));
    try {
        guarded(ctx, [&] { fz_run_display_list(ctx, list, dev, ctm, area, nullptr); });
    } catch (const MuError&) {
    }
    try {
        guarded(ctx, [&] { fz_close_device(ctx, dev); });
    } catch (const MuError&) {
    }
}

// One page drawn by several threads at once, each into a horizontal band of the pixmap, from
// a display list made once: used when there are fewer pages than processors.
void drawInBands(fz_context* ctx, fz_page* page, fz_matrix ctm, fz_pixmap* pix, int bands) {
    fz_display_list* raw = nullptr;
    try {
        guarded(ctx, [&] { raw = fz_new_display_list(ctx, fz_bound_page(ctx, page)); });
    } catch (const MuError&) {
        drawWhole(ctx, page, ctm, pix);
        return;
    }
    Owned<fz_display_list, fz_drop_display_list> list(raw, {ctx});
    // Recorded through drawPage, which passes the page's cookie on.
    fz_device* recorder = nullptr;
    guarded(ctx, [&] { recorder = fz_new_list_device(ctx, raw); });
    DevicePtr recording(recorder, {ctx});
    drawPage(ctx, page, fz_identity, recorder);
    const fz_irect whole = fz_pixmap_bbox(ctx, pix);
    const int height = whole.y1 - whole.y0;
    std::vector<PixmapPtr> parts;
    for (int i = 0; i < bands; ++i) {
        fz_irect r = whole;
        r.y0 = whole.y0 + height * i / bands;
        r.y1 = whole.y0 + height * (i + 1) / bands;
        fz_pixmap* part = nullptr;
        guarded(ctx, [&] { part = fz_new_pixmap_from_pixmap(ctx, pix, &r); });
        parts.emplace_back(part, Dropper<fz_pixmap, fz_drop_pixmap>{ctx});
    }
    std::vector<std::thread> helpers;
    for (int i = 1; i < bands; ++i) {
        helpers.emplace_back([&, i] {
            try {
                ThreadContext own;
                drawList(own.get(), raw, ctm, parts[size_t(i)].get());
            } catch (const std::exception&) {
            }
        });
    }
    drawList(ctx, raw, ctm, parts[0].get());
    for (std::thread& t : helpers) {
        t.join();
    }
}

PageStatus renderPage(fz_context* ctx, fz_document* doc, int page, const ImageJob& job, int bands) {
    fz_rect bounds{};
    const PagePtr pagePtr = loadPage(ctx, doc, page, &bounds);
    fz_page* p = pagePtr.get();

    double zoom = job.dpi / 72.0;
    const double w = (bounds.x1 - bounds.x0) * zoom;
    const double h = (bounds.y1 - bounds.y0) * zoom;
    if (w * h > MaxPixels) {
        zoom *= std::sqrt(MaxPixels / (w * h));
    }
    const fz_matrix ctm = fz_scale(float(zoom), float(zoom));
    const fz_irect box = fz_round_rect(fz_transform_rect(bounds, ctm));
    const bool grey = job.type == ImageType::Jpeg && job.paletted;

    // Each worker draws into one buffer that it keeps from page to page: fresh memory for
    // every page would cost the time of faulting in megabytes of pages again.
    thread_local std::vector<unsigned char> samples;
    const size_t components = grey ? 1 : 3;
    samples.resize(
        std::max(samples.size(), size_t(box.x1 - box.x0) * size_t(box.y1 - box.y0) * components));
    fz_pixmap* pix = nullptr;
    guarded(ctx, [&] {
        pix = fz_new_pixmap_with_bbox_and_data(ctx, grey ? fz_device_gray(ctx) : fz_device_rgb(ctx),
                                               box, nullptr, 0, samples.data());
        fz_clear_pixmap_with_value(ctx, pix, 255);
    });
    PixmapPtr pixmap(pix, {ctx});

    if (bands > 1) {
        drawInBands(ctx, p, ctm, pix, bands);
    } else {
        drawWhole(ctx, p, ctm, pix);
    }

    const Bitmap bitmap = bitmapOf(ctx, pix, int(std::lround(zoom * 72.0)));

    try {
        AtomicFile file(job.folder + imageFileName(job, page));
        writeImage(bitmap, job.type, job.paletted, file.tempPath());
        file.commit();
    } catch (const WriteError& e) {
        return faultOf(e.error()) == WriteFault::DiskFull ? PageStatus::DiskFull
                                                          : PageStatus::WriteFailed;
    } catch (const std::exception&) {
        return PageStatus::WriteFailed;
    }
    return PageStatus::Written;
}

} // namespace

std::string imageFileName(const ImageJob& job, int page) {
    int digits = 4;
    for (int n = job.pageCount; n >= 10000; n /= 10) {
        ++digits;
    }
    char number[32];
    std::snprintf(number, sizeof number, "%0*d", digits, page);
    return job.prefix + number + extensionOf(job.type);
}

int exportImages(const DocumentSource& source, const ImageJob& job, int first, int last,
                 const std::function<void()>& pageDone) {
    int written = 0;
    std::optional<ImageExportFailure> failure;
    const int processors = int(std::max(1u, std::thread::hardware_concurrency()));
    const int pages = last - first + 1;
    const int bands = pages < processors ? std::min(processors / std::max(pages, 1), 8) : 1;
    const bool finished = runPages<PageStatus>(
        source, first, last,
        [&job, bands](fz_context* ctx, fz_document* doc, int page) {
            return renderPage(ctx, doc, page, job, bands);
        },
        [&](int, std::optional<PageStatus>&& status) {
            if (status == PageStatus::DiskFull || status == PageStatus::WriteFailed) {
                failure = status == PageStatus::DiskFull ? ImageExportFailure::DiskFull
                                                         : ImageExportFailure::WriteFailed;
                return false;
            }
            if (status) {
                ++written;
            }
            pageDone();
            return true;
        });
    if (failure) {
        return int(*failure);
    }
    return finished ? written : int(ImageExportFailure::Stopped);
}

} // namespace pdftox
