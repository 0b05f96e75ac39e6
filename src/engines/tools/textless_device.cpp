#include "textless_device.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>

namespace tools {

GlyphShow showOf(fz_context* ctx, fz_font* font, int character) {
    const int c = character;
    const bool noCharacter = c <= 0 || c == 0xFFFD || c < 0x20 || (c >= 0x7F && c < 0xA0) ||
                             (c >= 0xE000 && c <= 0xF8FF) || c >= 0xF0000;
    if (font && fz_font_t3_procs(ctx, font)) {
        return noCharacter ? GlyphShow::Drawn : GlyphShow::DrawnHidden;
    }
    if (font) {
        std::string name = fz_font_name(ctx, font);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char ch) { return char(std::tolower(ch)); });
        for (const char* symbolic : {"dingbat", "wingding", "webding", "symbol", "marlett"}) {
            if (name.find(symbolic) != std::string::npos) {
                // Plain letters from a symbol font are codes of its pictures, not text.
                return noCharacter || c < 0x80 ? GlyphShow::Drawn : GlyphShow::DrawnHidden;
            }
        }
    }
    return noCharacter ? GlyphShow::Drawn : GlyphShow::Text;
}

std::optional<fz_rect> uprightRectangle(fz_context* ctx, const fz_path* path, fz_matrix ctm) {
    // Every filled path comes here: its corners are kept without allocating, and a path of
    // more than five points is no rectangle.
    struct Corners {
        fz_point points[5];
        size_t count = 0;
        int subpaths = 0;
        bool other = false; // curved, or too many points
        void add(float x, float y) {
            if (count < 5) {
                points[count++] = {x, y};
            } else {
                other = true;
            }
        }
    } corners;
    static const fz_path_walker walker = {
        [](fz_context*, void* arg, float x, float y) {
            auto* c = static_cast<Corners*>(arg);
            ++c->subpaths;
            c->add(x, y);
        },
        [](fz_context*, void* arg, float x, float y) { static_cast<Corners*>(arg)->add(x, y); },
        [](fz_context*, void* arg, float, float, float, float, float, float) {
            static_cast<Corners*>(arg)->other = true;
        },
        [](fz_context*, void*) {},
        nullptr,
        nullptr,
        nullptr,
        [](fz_context*, void* arg, float x0, float y0, float x1, float y1) {
            auto* c = static_cast<Corners*>(arg);
            ++c->subpaths;
            c->add(x0, y0);
            c->add(x1, y0);
            c->add(x1, y1);
            c->add(x0, y1);
        },
    };
    fz_walk_path(ctx, path, &walker, &corners);
    fz_point* p = corners.points;
    if (corners.other || corners.subpaths != 1) {
        return std::nullopt;
    }
    if (corners.count == 5 && std::fabs(p[4].x - p[0].x) < 0.01f &&
        std::fabs(p[4].y - p[0].y) < 0.01f) {
        corners.count = 4;
    }
    if (corners.count != 4) {
        return std::nullopt;
    }
    fz_rect box = fz_empty_rect;
    for (size_t i = 0; i < 4; ++i) {
        fz_point& q = p[i];
        q = fz_transform_point(q, ctm);
        box = fz_include_point_in_rect(box, q);
    }
    for (size_t i = 0; i < 4; ++i) {
        const fz_point a = p[i], b = p[(i + 1) % 4];
        if (std::fabs(a.x - b.x) > 0.05f && std::fabs(a.y - b.y) > 0.05f) {
            return std::nullopt;
        }
    }
    return box;
}

namespace {

struct Textless {
    fz_device base;
    fz_device* target;
    bool* painted;
    GlyphUses* uses;
    const KeptOut* keptOut; // set: the caller chooses the glyphs left out
    int calls;              // fill_text calls so far
};

fz_device* target(fz_device* dev) {
    return reinterpret_cast<Textless*>(dev)->target;
}
void paint(fz_device* dev) {
    *reinterpret_cast<Textless*>(dev)->painted = true;
}

// Forms draw their rules as filled rectangles a tenth of a point thin. Smoothed at the
// background's resolution such a rule comes out a faint grey that a browser, scaling the
// picture down, loses altogether, where PDF readers show it as a line of one screen pixel.
// A rectangle thinner than this many pixels, and long, is drawn this thick about its middle.
constexpr float ThinnestRule = 1.5f;

void fillRectangle(fz_context* ctx, fz_device* dev, fz_rect box, fz_colorspace* cs,
                   const float* color, float alpha, fz_color_params params) {
    fz_path* rule = fz_new_path(ctx);
    fz_try(ctx) {
        fz_rectto(ctx, rule, box.x0, box.y0, box.x1, box.y1);
        fz_fill_path(ctx, dev, rule, 0, fz_identity, cs, color, alpha, params);
    }
    fz_always(ctx) {
        fz_drop_path(ctx, rule);
    }
    fz_catch(ctx) {
        fz_rethrow(ctx);
    }
}

void fillPath(fz_context* ctx, fz_device* dev, const fz_path* path, int evenOdd, fz_matrix ctm,
              fz_colorspace* cs, const float* color, float alpha, fz_color_params params) {
    paint(dev);
    // Only a rule: thin one way and long the other (a dot or a small square stays as it is).
    const std::optional<fz_rect> rectangle = uprightRectangle(ctx, path, ctm);
    const float thin =
        rectangle ? std::min(rectangle->x1 - rectangle->x0, rectangle->y1 - rectangle->y0) : 0;
    const float length =
        rectangle ? std::max(rectangle->x1 - rectangle->x0, rectangle->y1 - rectangle->y0) : 0;
    if (!rectangle || thin >= ThinnestRule || length < 4 * ThinnestRule) {
        fz_fill_path(ctx, target(dev), path, evenOdd, ctm, cs, color, alpha, params);
        return;
    }
    const auto widen = [](float& a, float& b) {
        if (b - a < ThinnestRule) {
            const float middle = (a + b) / 2;
            a = middle - ThinnestRule / 2;
            b = middle + ThinnestRule / 2;
        }
    };
    fz_rect box = *rectangle;
    widen(box.x0, box.x1);
    widen(box.y0, box.y1);
    fillRectangle(ctx, target(dev), box, cs, color, alpha, params);
}
void strokePath(fz_context* ctx, fz_device* dev, const fz_path* path, const fz_stroke_state* stroke,
                fz_matrix ctm, fz_colorspace* cs, const float* color, float alpha,
                fz_color_params params) {
    paint(dev);
    fz_stroke_path(ctx, target(dev), path, stroke, ctm, cs, color, alpha, params);
}
void clipPath(fz_context* ctx, fz_device* dev, const fz_path* path, int evenOdd, fz_matrix ctm,
              fz_rect scissor) {
    fz_clip_path(ctx, target(dev), path, evenOdd, ctm, scissor);
}
void clipStrokePath(fz_context* ctx, fz_device* dev, const fz_path* path,
                    const fz_stroke_state* stroke, fz_matrix ctm, fz_rect scissor) {
    fz_clip_stroke_path(ctx, target(dev), path, stroke, ctm, scissor);
}
/// The glyphs of `text` that are drawn rather than written, or nullptr when there are none; the
/// glyphs written are noted in `uses`. With `keptOut`, it chooses the glyphs left out of the
/// drawing, as fill_text call `call`. MuPDF errors pass through to the caller of the device.
fz_text* drawnPart(fz_context* ctx, const fz_text* text, GlyphUses* uses,
                   const KeptOut* keptOut = nullptr, int call = 0) {
    fz_text* part = nullptr;
    fz_var(part);
    fz_try(ctx) {
        int spanIndex = 0;
        for (fz_text_span* span = text->head; span; span = span->next, ++spanIndex) {
            for (int i = 0; i < span->len; ++i) {
                const fz_text_item& item = span->items[i];
                if (item.gid < 0) {
                    continue;
                }
                if (keptOut) {
                    if ((*keptOut)(call, spanIndex, i)) {
                        continue;
                    }
                } else if (showOf(ctx, span->font, item.ucs) == GlyphShow::Text) {
                    // A glyph followed by characters without glyphs of their own shows them all.
                    const bool ligature = i + 1 < span->len && span->items[i + 1].gid < 0;
                    if (uses && !ligature) {
                        (*uses)[span->font].emplace(item.ucs, item.gid);
                    }
                    continue;
                }
                if (!part) {
                    part = fz_new_text(ctx);
                }
                fz_matrix trm = span->trm;
                trm.e = item.x;
                trm.f = item.y;
                fz_show_glyph(ctx, part, span->font, trm, item.gid, item.ucs, int(span->wmode),
                              int(span->bidi_level), fz_bidi_direction(span->markup_dir),
                              fz_text_language(span->language));
            }
        }
    }
    fz_catch(ctx) {
        fz_drop_text(ctx, part);
        fz_rethrow(ctx);
    }
    return part;
}

void fillText(fz_context* ctx, fz_device* dev, const fz_text* text, fz_matrix ctm,
              fz_colorspace* cs, const float* color, float alpha, fz_color_params params) {
    Textless* self = reinterpret_cast<Textless*>(dev);
    fz_text* part = drawnPart(ctx, text, self->uses, self->keptOut, self->calls++);
    if (!part) {
        return;
    }
    paint(dev);
    fz_try(ctx) {
        fz_fill_text(ctx, target(dev), part, ctm, cs, color, alpha, params);
    }
    fz_always(ctx) {
        fz_drop_text(ctx, part);
    }
    fz_catch(ctx) {
        fz_rethrow(ctx);
    }
}
void strokeText(fz_context* ctx, fz_device* dev, const fz_text* text, const fz_stroke_state* stroke,
                fz_matrix ctm, fz_colorspace* cs, const float* color, float alpha,
                fz_color_params params) {
    if (reinterpret_cast<Textless*>(dev)->keptOut) {
        paint(dev);
        fz_stroke_text(ctx, target(dev), text, stroke, ctm, cs, color, alpha, params);
        return;
    }
    fz_text* part = drawnPart(ctx, text, reinterpret_cast<Textless*>(dev)->uses);
    if (!part) {
        return;
    }
    paint(dev);
    fz_try(ctx) {
        fz_stroke_text(ctx, target(dev), part, stroke, ctm, cs, color, alpha, params);
    }
    fz_always(ctx) {
        fz_drop_text(ctx, part);
    }
    fz_catch(ctx) {
        fz_rethrow(ctx);
    }
}
void clipText(fz_context* ctx, fz_device* dev, const fz_text* text, fz_matrix ctm,
              fz_rect scissor) {
    fz_clip_text(ctx, target(dev), text, ctm, scissor);
}
void clipStrokeText(fz_context* ctx, fz_device* dev, const fz_text* text,
                    const fz_stroke_state* stroke, fz_matrix ctm, fz_rect scissor) {
    fz_clip_stroke_text(ctx, target(dev), text, stroke, ctm, scissor);
}
void fillShade(fz_context* ctx, fz_device* dev, fz_shade* shade, fz_matrix ctm, float alpha,
               fz_color_params params) {
    paint(dev);
    fz_fill_shade(ctx, target(dev), shade, ctm, alpha, params);
}
void fillImage(fz_context* ctx, fz_device* dev, fz_image* image, fz_matrix ctm, float alpha,
               fz_color_params params) {
    paint(dev);
    fz_fill_image(ctx, target(dev), image, ctm, alpha, params);
}
void fillImageMask(fz_context* ctx, fz_device* dev, fz_image* image, fz_matrix ctm,
                   fz_colorspace* cs, const float* color, float alpha, fz_color_params params) {
    paint(dev);
    fz_fill_image_mask(ctx, target(dev), image, ctm, cs, color, alpha, params);
}
void clipImageMask(fz_context* ctx, fz_device* dev, fz_image* image, fz_matrix ctm,
                   fz_rect scissor) {
    fz_clip_image_mask(ctx, target(dev), image, ctm, scissor);
}
void popClip(fz_context* ctx, fz_device* dev) {
    fz_pop_clip(ctx, target(dev));
}
void beginMask(fz_context* ctx, fz_device* dev, fz_rect area, int luminosity, fz_colorspace* cs,
               const float* bc, fz_color_params params) {
    fz_begin_mask(ctx, target(dev), area, luminosity, cs, bc, params);
}
void endMask(fz_context* ctx, fz_device* dev) {
    fz_end_mask(ctx, target(dev));
}
void beginGroup(fz_context* ctx, fz_device* dev, fz_rect area, fz_colorspace* cs, int isolated,
                int knockout, int blendmode, float alpha) {
    fz_begin_group(ctx, target(dev), area, cs, isolated, knockout, blendmode, alpha);
}
void endGroup(fz_context* ctx, fz_device* dev) {
    fz_end_group(ctx, target(dev));
}
int beginTile(fz_context* ctx, fz_device* dev, fz_rect area, fz_rect view, float xstep, float ystep,
              fz_matrix ctm, int id) {
    if (reinterpret_cast<Textless*>(dev)->keptOut) {
        id = 0; // not cached: the tile's content runs each time
    }
    return fz_begin_tile_id(ctx, target(dev), area, view, xstep, ystep, ctm, id);
}
void endTile(fz_context* ctx, fz_device* dev) {
    fz_end_tile(ctx, target(dev));
}
void renderFlags(fz_context* ctx, fz_device* dev, int set, int clear) {
    fz_render_flags(ctx, target(dev), set, clear);
}
void defaultColorspaces(fz_context* ctx, fz_device* dev, fz_default_colorspaces* cs) {
    fz_set_default_colorspaces(ctx, target(dev), cs);
}
void beginLayer(fz_context* ctx, fz_device* dev, const char* name) {
    fz_begin_layer(ctx, target(dev), name);
}
void endLayer(fz_context* ctx, fz_device* dev) {
    fz_end_layer(ctx, target(dev));
}

} // namespace

fz_device* newTextSplitDevice(fz_context* ctx, fz_device* targetDevice, bool* painted,
                              const KeptOut* keptOut) {
    fz_device* dev = newTextlessDevice(ctx, targetDevice, painted, nullptr);
    reinterpret_cast<Textless*>(dev)->keptOut = keptOut;
    return dev;
}

fz_device* newTextlessDevice(fz_context* ctx, fz_device* targetDevice, bool* painted,
                             GlyphUses* uses) {
    Textless* dev = fz_new_derived_device(ctx, Textless);
    dev->target = targetDevice;
    dev->painted = painted;
    dev->uses = uses;
    dev->keptOut = nullptr;
    dev->calls = 0;
    dev->base.fill_path = fillPath;
    dev->base.stroke_path = strokePath;
    dev->base.clip_path = clipPath;
    dev->base.clip_stroke_path = clipStrokePath;
    dev->base.fill_text = fillText;
    dev->base.stroke_text = strokeText;
    dev->base.clip_text = clipText;
    dev->base.clip_stroke_text = clipStrokeText;
    dev->base.fill_shade = fillShade;
    dev->base.fill_image = fillImage;
    dev->base.fill_image_mask = fillImageMask;
    dev->base.clip_image_mask = clipImageMask;
    dev->base.pop_clip = popClip;
    dev->base.begin_mask = beginMask;
    dev->base.end_mask = endMask;
    dev->base.begin_group = beginGroup;
    dev->base.end_group = endGroup;
    dev->base.begin_tile = beginTile;
    dev->base.end_tile = endTile;
    dev->base.render_flags = renderFlags;
    dev->base.set_default_colorspaces = defaultColorspaces;
    dev->base.begin_layer = beginLayer;
    dev->base.end_layer = endLayer;
    return &dev->base;
}

} // namespace tools
