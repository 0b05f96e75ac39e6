#include "figures.h"

#include <algorithm>
#include <cmath>

namespace pdftox {
namespace {

// Collects the boxes of what a page paints other than text and pictures.
struct PathCollector {
    fz_device base;
    std::vector<fz_rect>* boxes;
};

void addBox(fz_device* dev, fz_rect box) {
    if (!fz_is_empty_rect(box) && !fz_is_infinite_rect(box)) {
        reinterpret_cast<PathCollector*>(dev)->boxes->push_back(box);
    }
}

// A fill in the paper's colour: a page's or a column's white ground, not a drawing.
bool paperWhite(fz_context* ctx, fz_colorspace* cs, const float* color) {
    if (!cs || !color) {
        return false;
    }
    const int n = fz_colorspace_n(ctx, cs);
    const bool subtractive = fz_colorspace_is_subtractive(ctx, cs);
    if (n < 1 || n > 4 || fz_colorspace_is_indexed(ctx, cs)) {
        return false;
    }
    for (int i = 0; i < n; ++i) {
        if (subtractive ? color[i] > 0.01f : color[i] < 0.99f) {
            return false;
        }
    }
    return true;
}

void fillPath(fz_context* ctx, fz_device* dev, const fz_path* path, int, fz_matrix ctm,
              fz_colorspace* cs, const float* color, float alpha, fz_color_params) {
    if (alpha > 0 && !paperWhite(ctx, cs, color)) {
        addBox(dev, fz_bound_path(ctx, path, nullptr, ctm));
    }
}

void strokePath(fz_context* ctx, fz_device* dev, const fz_path* path, const fz_stroke_state* stroke,
                fz_matrix ctm, fz_colorspace*, const float*, float alpha, fz_color_params) {
    if (alpha > 0) {
        addBox(dev, fz_bound_path(ctx, path, stroke, ctm));
    }
}

void fillShade(fz_context* ctx, fz_device* dev, fz_shade* shade, fz_matrix ctm, float alpha,
               fz_color_params) {
    if (alpha > 0) {
        addBox(dev, fz_bound_shade(ctx, shade, ctm));
    }
}

bool near(const fz_rect& a, const fz_rect& b, float gap) {
    return a.x0 - gap <= b.x1 && b.x0 - gap <= a.x1 && a.y0 - gap <= b.y1 && b.y0 - gap <= a.y1;
}

} // namespace

std::vector<fz_rect> drawingAreas(fz_context* ctx, fz_page* page, fz_rect pageBounds) {
    std::vector<fz_rect> boxes;
    fz_device* dev = nullptr;
    guarded(ctx, [&] {
        dev = fz_new_device_of_size(ctx, sizeof(PathCollector));
        auto* collector = reinterpret_cast<PathCollector*>(dev);
        collector->boxes = &boxes;
        dev->fill_path = fillPath;
        dev->stroke_path = strokePath;
        dev->fill_shade = fillShade;
    });
    DevicePtr owned(dev, {ctx});
    drawPage(ctx, page, fz_identity, dev);

    const float pageW = pageBounds.x1 - pageBounds.x0;
    const float pageH = pageBounds.y1 - pageBounds.y0;
    std::vector<fz_rect> kept;
    for (fz_rect box : boxes) {
        box = fz_intersect_rect(box, pageBounds);
        const float w = box.x1 - box.x0;
        const float h = box.y1 - box.y0;
        if (w <= 0 || h <= 0) {
            continue;
        }
        // A background that covers most of the page, and a rule: long and thin.
        if (w * h > 0.6f * pageW * pageH) {
            continue;
        }
        if (std::min(w, h) < 2 && std::max(w, h) > 0.3f * std::min(pageW, pageH)) {
            continue;
        }
        kept.push_back(box);
    }

    // Boxes that touch or lie within a few points of each other are one drawing.
    constexpr float Gap = 4;
    std::vector<fz_rect> areas;
    for (const fz_rect& box : kept) {
        fz_rect merged = box;
        bool grew = true;
        while (grew) {
            grew = false;
            for (auto it = areas.begin(); it != areas.end();) {
                if (near(*it, merged, Gap)) {
                    merged = fz_union_rect(merged, *it);
                    it = areas.erase(it);
                    grew = true;
                } else {
                    ++it;
                }
            }
        }
        areas.push_back(merged);
    }
    constexpr float Smallest = 36; // half an inch
    areas.erase(std::remove_if(areas.begin(), areas.end(),
                               [](const fz_rect& a) {
                                   return a.x1 - a.x0 < Smallest || a.y1 - a.y0 < Smallest;
                               }),
                areas.end());
    return areas;
}

PixmapPtr drawArea(fz_context* ctx, fz_page* page, fz_rect area, int dpi) {
    const float zoom = float(dpi) / 72.0f;
    const fz_matrix ctm = fz_scale(zoom, zoom);
    const fz_irect box = fz_round_rect(fz_transform_rect(area, ctm));
    fz_pixmap* pix = nullptr;
    guarded(ctx, [&] { pix = fz_new_pixmap_with_bbox(ctx, fz_device_rgb(ctx), box, nullptr, 0); });
    PixmapPtr owned(pix, {ctx});
    guarded(ctx, [&] { fz_clear_pixmap_with_value(ctx, pix, 255); });
    fz_device* dev = nullptr;
    guarded(ctx, [&] { dev = fz_new_draw_device(ctx, fz_identity, pix); });
    DevicePtr device(dev, {ctx});
    drawPage(ctx, page, ctm, dev);
    return owned;
}

} // namespace pdftox
