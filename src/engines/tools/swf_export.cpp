#include "swf_export.h"

#include "image_writers.h"
#include "mupdf.h"
#include "page_pipeline.h"
#include "quadratic_curves.h"
#include "swf_writer.h"
#include "textless_device.h"
#include "tool_source.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <stdexcept>
#include <tuple>
#include <unordered_map>

using namespace pdftox;

namespace tools {
namespace {

// Pages are drawn at twice the stage's resolution so that zooming in the player stays sharp.
constexpr double Zoom = 2.0;
constexpr int Quality = 85;

using Frame = SwfBitmap;

// Zlib-compressed colour table and rows of indices, as DefineBitsLossless stores them.
std::string mappedData(const std::vector<uint32_t>& table, const Bitmap& bm,
                       const std::function<uint8_t(const uint8_t*)>& indexOf) {
    const size_t rowBytes = (size_t(bm.width) + 3) & ~size_t(3);
    std::vector<uint8_t> raw(table.size() * 3 + rowBytes * size_t(bm.height), 0);
    for (size_t i = 0; i < table.size(); ++i) {
        raw[3 * i] = uint8_t(table[i] >> 16);
        raw[3 * i + 1] = uint8_t(table[i] >> 8);
        raw[3 * i + 2] = uint8_t(table[i]);
    }
    uint8_t* rows = raw.data() + table.size() * 3;
    for (int y = 0; y < bm.height; ++y) {
        const uint8_t* from = bm.row(y);
        uint8_t* to = rows + rowBytes * size_t(y);
        for (int x = 0; x < bm.width; ++x) {
            to[x] = indexOf(from + size_t(x) * size_t(bm.channels));
        }
    }
    uLongf size = compressBound(uLong(raw.size()));
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, raw.data(), uLong(raw.size()), 6) !=
        Z_OK) {
        throw std::runtime_error("cannot compress a page");
    }
    out.resize(size);
    return out;
}

// A page of text and drawings has few colours: a grey page (black text and its smoothed edges)
// in 16 shades, one of at most 256 colours exactly, through a colour table. Either is sharper
// than a JPEG and a fraction of its size. Photographs and colourful pages stay JPEG.
Frame encodeFrame(const Bitmap& bm) {
    Frame frame;
    frame.width = bm.width;
    frame.height = bm.height;
    if (bm.channels != 3) {
        frame.data = encodeJpeg(bm, Quality);
        return frame;
    }
    const auto key = [](const uint8_t* p) {
        return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    };
    std::unordered_map<uint32_t, uint8_t> palette;
    bool grey = true;
    for (int y = 0; y < bm.height && (grey || palette.size() <= 256); ++y) {
        const uint8_t* p = bm.row(y);
        for (int x = 0; x < bm.width; ++x, p += 3) {
            grey = grey && std::abs(p[0] - p[1]) <= 2 && std::abs(p[1] - p[2]) <= 2;
            if (palette.size() <= 256) {
                palette.emplace(key(p), 0);
            }
        }
    }
    if (grey) {
        std::vector<uint32_t> table;
        for (uint32_t level = 0; level < 16; ++level) {
            table.push_back(level * 17 * 0x010101u);
        }
        frame.kind = Frame::Kind::Mapped;
        frame.colors = 16;
        frame.data = mappedData(
            table, bm, [](const uint8_t* p) { return uint8_t((unsigned(p[1]) * 15 + 127) / 255); });
        return frame;
    }
    if (palette.size() <= 256) {
        std::vector<uint32_t> table;
        for (auto& [colour, index] : palette) {
            index = uint8_t(table.size());
            table.push_back(colour);
        }
        frame.kind = Frame::Kind::Mapped;
        frame.colors = int(table.size());
        frame.data = mappedData(table, bm, [&](const uint8_t* p) { return palette.at(key(p)); });
        return frame;
    }
    frame.data = encodeJpeg(bm, Quality);
    return frame;
}

// ---- Text as glyph outlines ------------------------------------------------------------------
//
// Plain filled text becomes the movie's own text: the glyphs' outlines as fonts of the movie,
// placed over a picture of the rest of the page. That is sharp at every zoom and far smaller
// than the letters' pixels. Text that such a picture could not show the same stays in it:
// stroked or clipping text, rotated, skewed or mirrored glyphs, Type 3 glyphs and glyphs
// without an outline, text in patterns, soft masks, blended or translucent groups or under a
// clip that is not a plain rectangle around it, and text that later drawing covers (the
// movie's text lies above the whole picture).

constexpr int EmUnits = 1024; // the em square of the movie's fonts

// A glyph's outline as the movie stores it, or why it cannot be stored.
struct GlyphOutline {
    enum class State { Usable, Empty, Unusable };
    State state = State::Unusable;
    std::string shape; // swfGlyphShape()
};

// Cubic Bézier curves become quadratic ones, split until the quadratic is within Tolerance
// (em units) of the cubic.
constexpr double Tolerance = 0.5;

struct OutlineWalk {
    std::vector<SwfOutlineStep> steps;
    double x = 0, y = 0; // the pen, em units with y downwards
    bool tooLarge = false;
};

int32_t emRound(OutlineWalk& w, double v) {
    if (!(std::fabs(v) < 16000)) { // the edges' fields take 17 bits at most
        w.tooLarge = true;
        return 0;
    }
    return int32_t(std::lround(v));
}

void addStep(OutlineWalk& w, SwfOutlineStep::Kind kind, double x, double y, double cx = 0,
             double cy = 0) {
    SwfOutlineStep s;
    s.kind = kind;
    s.x = emRound(w, x);
    s.y = emRound(w, y);
    s.cx = emRound(w, cx);
    s.cy = emRound(w, cy);
    w.steps.push_back(s);
    w.x = x;
    w.y = y;
}

OutlineWalk& walkOf(void* arg) {
    return *static_cast<OutlineWalk*>(arg);
}

const fz_path_walker outlineWalker = {
    [](fz_context*, void* arg, float x, float y) {
        addStep(walkOf(arg), SwfOutlineStep::Kind::Move, x * EmUnits, -y * EmUnits);
    },
    [](fz_context*, void* arg, float x, float y) {
        addStep(walkOf(arg), SwfOutlineStep::Kind::Line, x * EmUnits, -y * EmUnits);
    },
    [](fz_context*, void* arg, float x1, float y1, float x2, float y2, float x3, float y3) {
        OutlineWalk& w = walkOf(arg);
        cubicToQuadratics(w.x, w.y, x1 * EmUnits, -y1 * EmUnits, x2 * EmUnits, -y2 * EmUnits,
                          x3 * EmUnits, -y3 * EmUnits, Tolerance, 8,
                          [&w](double cx, double cy, double x, double y) {
                              addStep(w, SwfOutlineStep::Kind::Curve, x, y, cx, cy);
                          });
    },
    [](fz_context*, void*) {}, // swfGlyphShape() closes each contour
    [](fz_context*, void* arg, float x1, float y1, float x2, float y2) {
        addStep(walkOf(arg), SwfOutlineStep::Kind::Curve, x2 * EmUnits, -y2 * EmUnits, x1 * EmUnits,
                -y1 * EmUnits);
    },
    nullptr,
    nullptr,
    nullptr,
};

// Flash players fill a glyph by the even-odd rule, PDF by the nonzero one: they differ only
// where contours overlap. The glyph is drawn small both ways; a glyph that differs is not
// stored.
bool fillsAlike(fz_context* ctx, fz_path* path) {
    constexpr int Size = 64;
    const fz_rect box = fz_bound_path(ctx, path, nullptr, fz_identity);
    const float extent = std::max(box.x1 - box.x0, box.y1 - box.y0);
    if (!(extent > 0)) {
        return true;
    }
    const float s = (Size - 4) / extent;
    const fz_matrix ctm =
        fz_concat(fz_translate(-box.x0, -box.y0), fz_concat(fz_scale(s, s), fz_translate(2, 2)));
    unsigned char samples[2][Size * Size];
    for (int evenOdd = 0; evenOdd < 2; ++evenOdd) {
        fz_pixmap* pix = nullptr;
        fz_device* dev = nullptr;
        fz_var(pix);
        fz_var(dev);
        fz_try(ctx) {
            pix = fz_new_pixmap(ctx, fz_device_gray(ctx), Size, Size, nullptr, 0);
            fz_clear_pixmap_with_value(ctx, pix, 255);
            dev = fz_new_draw_device(ctx, fz_identity, pix);
            const float black = 0;
            fz_fill_path(ctx, dev, path, evenOdd, ctm, fz_device_gray(ctx), &black, 1,
                         fz_default_color_params);
            fz_close_device(ctx, dev);
        }
        fz_always(ctx) {
            fz_drop_device(ctx, dev);
        }
        fz_catch(ctx) {
            fz_drop_pixmap(ctx, pix);
            fz_rethrow(ctx);
        }
        std::memcpy(samples[evenOdd], fz_pixmap_samples(ctx, pix), Size * Size);
        fz_drop_pixmap(ctx, pix);
    }
    for (size_t i = 0; i < Size * Size; ++i) {
        if (std::abs(int(samples[0][i]) - int(samples[1][i])) > 48) {
            return false;
        }
    }
    return true;
}

GlyphOutline outlineOf(fz_context* ctx, fz_font* font, int gid) {
    GlyphOutline out;
    // The glyphs of "tricky" fonts take their shape from hinting, which plain outlines lack;
    // only the drawing shows them right.
    const auto* face = static_cast<FT_Face>(fz_font_ft_face(ctx, font));
    if (face && FT_IS_TRICKY(face)) {
        return out;
    }
    fz_path* path = nullptr;
    OutlineWalk walk;
    bool alike = true;
    try {
        guarded(ctx, [&] {
            path = fz_outline_glyph(ctx, font, gid, fz_identity);
            if (path) {
                fz_walk_path(ctx, path, &outlineWalker, &walk);
                alike = fillsAlike(ctx, path);
            }
        });
    } catch (const MuError&) {
        guarded(ctx, [&] { fz_drop_path(ctx, path); });
        return out;
    }
    guarded(ctx, [&] { fz_drop_path(ctx, path); });
    if (!path || walk.tooLarge || !alike) {
        return out;
    }
    bool ink = false;
    for (const SwfOutlineStep& s : walk.steps) {
        ink = ink || s.kind != SwfOutlineStep::Kind::Move;
    }
    out.state = ink ? GlyphOutline::State::Usable : GlyphOutline::State::Empty;
    if (ink) {
        out.shape = swfGlyphShape(walk.steps);
    }
    return out;
}

// The key of a font over all pages and threads: its name and its program's bytes (a font
// object's address is another on each thread, and may be reused by another font); empty for a
// font without a program.
std::string fontKey(fz_context* ctx, fz_font* font) {
    if (!font || !font->buffer) {
        return {};
    }
    unsigned char* data = nullptr;
    const size_t size = fz_buffer_storage(ctx, font->buffer, &data);
    uint64_t hash = 1469598103934665603ull;
    const auto mix = [&](uint64_t value) { hash = (hash ^ value) * 1099511628211ull; };
    for (size_t i = 0; i < size; ++i) {
        mix(data[i]);
    }
    const fz_font_flags_t* flags = fz_font_flags(font);
    // A substitute font is stretched to the widths of the font it stands for, which another
    // font object on the same program may give otherwise.
    if (flags->ft_stretch && font->width_table) {
        mix(uint64_t(font->width_count));
        mix(uint64_t(uint16_t(font->width_default)));
        for (int i = 0; i < font->width_count; ++i) {
            mix(uint64_t(uint16_t(font->width_table[i])));
        }
    }
    return std::string(fz_font_name(ctx, font)) + "/" + std::to_string(size) + "/" +
           std::to_string(hash) + (flags->fake_bold ? "/b" : "") +
           (flags->fake_italic ? "/i" : "") + (flags->ft_stretch ? "/s" : "");
}

// The outlines of the document's glyphs, made once for all pages and threads.
class OutlineCache {
public:
    const GlyphOutline& get(fz_context* ctx, const std::string& key, fz_font* font, int gid) {
        {
            std::lock_guard lock(m_mutex);
            const auto known = m_fonts.find(key);
            if (known != m_fonts.end()) {
                const auto glyph = known->second.find(gid);
                if (glyph != known->second.end()) {
                    return glyph->second;
                }
            }
        }
        GlyphOutline made = outlineOf(ctx, font, gid);
        std::lock_guard lock(m_mutex);
        return m_fonts[key].emplace(gid, std::move(made)).first->second;
    }

private:
    std::mutex m_mutex;
    std::map<std::string, std::map<int, GlyphOutline>> m_fonts;
};

// A glyph that may become the movie's text.
struct Candidate {
    int call = 0, span = 0, item = 0; // where the page's fill_text calls give it
    fz_font* font = nullptr;
    const std::string* key = nullptr;
    const GlyphOutline* outline = nullptr;
    int gid = 0;
    int ucs = 0;
    fz_point origin{};  // device pixels
    float size = 0;     // the em's height, device pixels
    int stretch = 1000; // its width to its height, in thousandths
    fz_rect ink{};      // device pixels
    uint32_t rgba = 0;
    bool kept = true;
};

// The candidates met in one fill_text call, for a quick test of what later drawing covers.
struct CandidateGroup {
    fz_rect box = fz_empty_rect;
    size_t first = 0, end = 0;
};

struct ClipState {
    fz_rect rect = fz_infinite_rect; // where rectangular clips leave drawing
    bool shaped = false;             // under a clip of another shape (or a soft mask)
};

constexpr int MaxStretches = 64; // different sideways stretches of a page's text

// The units of a page's texts per pixel of its picture: as fine as the 16-bit coordinates of
// text records allow, at most a twentieth of a pixel; glyph origins up to two page sizes away
// from the picture's corner fit. Text stretched sideways takes coarser units, to fit the same.
double unitsPerPixel(fz_rect page, int stretch) {
    const double reach = 3.0 * std::max(page.x1 - page.x0, page.y1 - page.y0);
    return std::min(20.0, 32000.0 / std::max(1.0, reach)) * std::min(1.0, stretch / 1000.0);
}

// What the first run over a page learns: the candidates, and which of them stay text.
struct Analysis {
    fz_device base;
    fz_context* ctx = nullptr;
    OutlineCache* cache = nullptr;
    fz_rect page{};
    int calls = 0;
    int tiles = 0;
    int maskDefinitions = 0;
    int blockingGroups = 0;
    std::vector<bool> groups; // each open group: whether it blends, knocks out or fades
    std::vector<ClipState> clips;
    std::vector<Candidate> candidates;
    std::vector<CandidateGroup> candidateGroups; // of the fill_text calls done
    CandidateGroup open;                         // of the fill_text call in progress
    std::map<fz_font*, std::string> keys;
    std::set<int> stretches;

    // The groups by the horizontal bands of the page they reach, so that a drawing is tested
    // against the text near it only: a page of many drawings and many lines stays quick.
    static constexpr int Bands = 256;
    std::vector<std::vector<uint32_t>> bands = std::vector<std::vector<uint32_t>>(Bands);
    std::vector<uint32_t> stamps; // per group: the last search that met it
    uint32_t stamp = 0;

    std::pair<int, int> bandsOf(fz_rect box) const {
        const double height = std::max(1.0f, page.y1 - page.y0);
        const auto band = [&](float y) {
            const double at = std::floor((double(y) - page.y0) / height * Bands);
            return int(std::clamp(at, 0.0, double(Bands - 1)));
        };
        return {band(box.y0), band(box.y1)};
    }

    // Calls `visit` once with each done group that may meet `box`.
    template <typename Visit> void groupsNear(fz_rect box, Visit&& visit) {
        ++stamp;
        const auto [from, to] = bandsOf(box);
        for (int b = from; b <= to; ++b) {
            for (const uint32_t g : bands[size_t(b)]) {
                if (stamps[g] != stamp) {
                    stamps[g] = stamp;
                    visit(size_t(g));
                }
            }
        }
    }

    void closeGroup() {
        if (open.end > open.first) {
            const auto index = uint32_t(candidateGroups.size());
            candidateGroups.push_back(open);
            stamps.push_back(0);
            const auto [from, to] = bandsOf(open.box);
            for (int b = from; b <= to; ++b) {
                bands[size_t(b)].push_back(index);
            }
        }
        open = CandidateGroup{};
        open.first = open.end = candidates.size();
    }

    static void coverGroup(std::vector<Candidate>& all, const CandidateGroup& g, fz_rect box,
                           size_t end) {
        if (fz_is_empty_rect(fz_intersect_rect(g.box, box))) {
            return;
        }
        for (size_t i = g.first; i < std::min(g.end, end); ++i) {
            if (all[i].kept && !fz_is_empty_rect(fz_intersect_rect(all[i].ink, box))) {
                all[i].kept = false;
            }
        }
    }

    ClipState clip() const { return clips.empty() ? ClipState{} : clips.back(); }

    // Drawing in `box` happens: the text under it cannot stay above the page's picture.
    void cover(fz_rect box) {
        box = fz_intersect_rect(box, clip().rect);
        if (fz_is_empty_rect(box)) {
            return;
        }
        groupsNear(box,
                   [&](size_t g) { coverGroup(candidates, candidateGroups[g], box, SIZE_MAX); });
        coverGroup(candidates, open, box, SIZE_MAX);
    }

    void pushClip(fz_rect box, bool rectangular) {
        ClipState s = clip();
        box = fz_intersect_rect(box, s.rect);
        if (rectangular) {
            s.rect = box;
        } else {
            s.shaped = true;
        }
        clips.push_back(s);
    }

    // A text drawn in the picture whose glyphs lie late in the order puts the glyphs under them
    // into the picture too, back to the first.
    void settle() {
        closeGroup();
        for (size_t g = candidateGroups.size(); g-- > 0;) {
            for (size_t i = candidateGroups[g].end; i-- > candidateGroups[g].first;) {
                if (candidates[i].kept) {
                    continue;
                }
                const fz_rect ink = candidates[i].ink;
                groupsNear(ink, [&](size_t h) {
                    if (h <= g) {
                        coverGroup(candidates, candidateGroups[h], ink, i);
                    }
                });
            }
        }
    }

    const std::string& keyOf(fz_font* font) {
        auto it = keys.find(font);
        if (it == keys.end()) {
            it = keys.emplace(font, fontKey(ctx, font)).first;
        }
        return it->second;
    }

    void fillText(const fz_text* text, fz_matrix ctm, fz_colorspace* cs, const float* color,
                  float alpha, fz_color_params params);
};

Analysis& analysisOf(fz_device* dev) {
    return *reinterpret_cast<Analysis*>(dev);
}

void Analysis::fillText(const fz_text* text, fz_matrix ctm, fz_colorspace* cs, const float* color,
                        float alpha, fz_color_params params) {
    const int call = calls++;
    const ClipState state = clip();
    const bool plain = tiles == 0 && maskDefinitions == 0 && blockingGroups == 0 && !state.shaped &&
                       cs && alpha >= 1.0f / 255;
    uint32_t rgba = 0;
    if (plain) {
        float rgb[3] = {0, 0, 0};
        fz_convert_color(ctx, cs, color, fz_device_rgb(ctx), rgb, nullptr, params);
        const auto byte = [](float v) {
            return uint32_t(std::lround(std::clamp(v, 0.0f, 1.0f) * 255));
        };
        rgba = byte(rgb[0]) << 24 | byte(rgb[1]) << 16 | byte(rgb[2]) << 8 | byte(alpha);
    }
    closeGroup();
    int spanIndex = 0;
    for (const fz_text_span* span = text->head; span; span = span->next, ++spanIndex) {
        fz_matrix trm = span->trm;
        trm.e = trm.f = 0;
        const fz_matrix m = fz_concat(trm, ctm);
        // Upright glyphs: no rotation, skew or mirroring, not stretched out of measure.
        const float height = -m.d;
        const bool upright = m.a > 0 && height > 0 && std::fabs(m.b) <= 1e-3f * m.a &&
                             std::fabs(m.c) <= 1e-3f * height && m.a < 5 * height &&
                             height < 5 * m.a;
        const int stretch = upright ? int(std::lround(1000.0 * m.a / height)) : 1000;
        // The em's height in the text's units must fit the records' 16 bits and not be 0.
        const double units = upright ? height * unitsPerPixel(page, stretch) : 0;
        const bool spanPlain = plain && upright && span->wmode == 0 && span->font &&
                               !fz_font_t3_procs(ctx, span->font) && units >= 1 && units <= 0xFFFF;
        const std::string* key = spanPlain ? &keyOf(span->font) : nullptr;
        const bool stretchOk =
            spanPlain && (stretches.count(stretch) || int(stretches.size()) < MaxStretches);
        for (int i = 0; i < span->len; ++i) {
            const fz_text_item& item = span->items[i];
            if (item.gid < 0) {
                continue;
            }
            fz_matrix at = m;
            const fz_point origin = fz_transform_point_xy(item.x, item.y, ctm);
            at.e = origin.x;
            at.f = origin.y;
            const fz_rect ink = fz_bound_glyph(ctx, span->font, item.gid, at);
            const GlyphOutline* outline = nullptr;
            const bool placeable = stretchOk && !key->empty() && item.gid < 0xFFFF &&
                                   fz_contains_rect(fz_expand_rect(state.rect, 0.5f), ink) &&
                                   !fz_is_empty_rect(fz_intersect_rect(ink, page)) &&
                                   std::fabs(origin.x - page.x0) < 2 * (page.x1 - page.x0) &&
                                   std::fabs(origin.y - page.y0) < 2 * (page.y1 - page.y0);
            if (placeable) {
                outline = &cache->get(ctx, *key, span->font, item.gid);
                if (outline->state == GlyphOutline::State::Empty) {
                    continue; // a space: nothing to draw either way
                }
            }
            if (!outline || outline->state != GlyphOutline::State::Usable) {
                cover(ink);
                continue;
            }
            stretches.insert(stretch);
            Candidate c;
            c.call = call;
            c.span = spanIndex;
            c.item = i;
            c.font = span->font;
            c.key = key;
            c.outline = outline;
            c.gid = item.gid;
            c.ucs = item.ucs;
            c.origin = origin;
            c.size = height;
            c.stretch = stretch;
            c.ink = ink;
            c.rgba = rgba;
            candidates.push_back(c);
            open.box = fz_union_rect(open.box, ink);
            open.end = candidates.size();
        }
    }
}

// A path covers no more than its subpaths' boxes: crop marks drawn last in the page's corners
// leave the text between them alone, though the bounds of the whole path are the page's.
void coverPath(fz_context* ctx, Analysis& a, const fz_path* path, const fz_stroke_state* stroke,
               fz_matrix ctm) {
    struct Subpaths {
        Analysis* analysis;
        fz_context* ctx;
        const fz_stroke_state* stroke;
        fz_matrix ctm;
        fz_rect box = fz_empty_rect;
        void add(float x, float y) {
            const fz_point p = fz_transform_point_xy(x, y, ctm);
            box = fz_include_point_in_rect(box, p);
        }
        void flush() {
            if (box.x0 <= box.x1 && box.y0 <= box.y1) {
                analysis->cover(stroke ? fz_adjust_rect_for_stroke(ctx, box, stroke, ctm) : box);
            }
            box = fz_empty_rect;
        }
    } subpaths{&a, ctx, stroke, ctm};
    static const fz_path_walker walker = {
        [](fz_context*, void* arg, float x, float y) {
            auto* s = static_cast<Subpaths*>(arg);
            s->flush();
            s->add(x, y);
        },
        [](fz_context*, void* arg, float x, float y) { static_cast<Subpaths*>(arg)->add(x, y); },
        [](fz_context*, void* arg, float x1, float y1, float x2, float y2, float x3, float y3) {
            auto* s = static_cast<Subpaths*>(arg);
            s->add(x1, y1); // a curve lies within its control points' hull
            s->add(x2, y2);
            s->add(x3, y3);
        },
        [](fz_context*, void*) {},
        nullptr,
        nullptr,
        nullptr,
        [](fz_context*, void* arg, float x0, float y0, float x1, float y1) {
            auto* s = static_cast<Subpaths*>(arg);
            s->flush();
            s->add(x0, y0);
            s->add(x1, y1);
            s->add(x0, y1);
            s->add(x1, y0);
        },
    };
    fz_walk_path(ctx, path, &walker, &subpaths);
    subpaths.flush();
}

fz_device* newAnalysisDevice(fz_context* context, OutlineCache* cache, fz_rect page) {
    Analysis* made =
        reinterpret_cast<Analysis*>(fz_new_device_of_size(context, int(sizeof(Analysis))));
    // The device's memory comes zeroed from MuPDF; its C++ members are built in place.
    fz_device base = made->base;
    new (made) Analysis();
    made->base = base;
    made->ctx = context;
    made->cache = cache;
    made->page = page;
    made->base.drop_device = [](fz_context*, fz_device* dev) { analysisOf(dev).~Analysis(); };
    made->base.fill_path = [](fz_context* ctx, fz_device* dev, const fz_path* path, int,
                              fz_matrix ctm, fz_colorspace*, const float*, float, fz_color_params) {
        coverPath(ctx, analysisOf(dev), path, nullptr, ctm);
    };
    made->base.stroke_path = [](fz_context* ctx, fz_device* dev, const fz_path* path,
                                const fz_stroke_state* stroke, fz_matrix ctm, fz_colorspace*,
                                const float*, float, fz_color_params) {
        coverPath(ctx, analysisOf(dev), path, stroke, ctm);
    };
    made->base.fill_text = [](fz_context*, fz_device* dev, const fz_text* text, fz_matrix ctm,
                              fz_colorspace* cs, const float* color, float alpha,
                              fz_color_params params) {
        analysisOf(dev).fillText(text, ctm, cs, color, alpha, params);
    };
    made->base.stroke_text = [](fz_context* ctx, fz_device* dev, const fz_text* text,
                                const fz_stroke_state* stroke, fz_matrix ctm, fz_colorspace*,
                                const float*, float, fz_color_params) {
        analysisOf(dev).cover(fz_bound_text(ctx, text, stroke, ctm));
    };
    made->base.fill_shade = [](fz_context* ctx, fz_device* dev, fz_shade* shade, fz_matrix ctm,
                               float, fz_color_params) {
        analysisOf(dev).cover(fz_bound_shade(ctx, shade, ctm));
    };
    made->base.fill_image = [](fz_context*, fz_device* dev, fz_image*, fz_matrix ctm, float,
                               fz_color_params) {
        analysisOf(dev).cover(fz_transform_rect(fz_unit_rect, ctm));
    };
    made->base.fill_image_mask = [](fz_context*, fz_device* dev, fz_image*, fz_matrix ctm,
                                    fz_colorspace*, const float*, float, fz_color_params) {
        analysisOf(dev).cover(fz_transform_rect(fz_unit_rect, ctm));
    };
    made->base.clip_path = [](fz_context* ctx, fz_device* dev, const fz_path* path, int,
                              fz_matrix ctm, fz_rect) {
        analysisOf(dev).pushClip(fz_bound_path(ctx, path, nullptr, ctm),
                                 uprightRectangle(ctx, path, ctm).has_value());
    };
    made->base.clip_stroke_path = [](fz_context* ctx, fz_device* dev, const fz_path* path,
                                     const fz_stroke_state* stroke, fz_matrix ctm, fz_rect) {
        analysisOf(dev).pushClip(fz_bound_path(ctx, path, stroke, ctm), false);
    };
    made->base.clip_text = [](fz_context* ctx, fz_device* dev, const fz_text* text, fz_matrix ctm,
                              fz_rect) {
        analysisOf(dev).pushClip(fz_bound_text(ctx, text, nullptr, ctm), false);
    };
    made->base.clip_stroke_text = [](fz_context* ctx, fz_device* dev, const fz_text* text,
                                     const fz_stroke_state* stroke, fz_matrix ctm, fz_rect) {
        analysisOf(dev).pushClip(fz_bound_text(ctx, text, stroke, ctm), false);
    };
    made->base.clip_image_mask = [](fz_context*, fz_device* dev, fz_image*, fz_matrix ctm,
                                    fz_rect) {
        analysisOf(dev).pushClip(fz_transform_rect(fz_unit_rect, ctm), false);
    };
    made->base.pop_clip = [](fz_context*, fz_device* dev) {
        Analysis& a = analysisOf(dev);
        if (!a.clips.empty()) {
            a.clips.pop_back();
        }
    };
    made->base.begin_mask = [](fz_context*, fz_device* dev, fz_rect area, int, fz_colorspace*,
                               const float*, fz_color_params) {
        Analysis& a = analysisOf(dev);
        a.pushClip(area, false); // the masked drawing, until its pop_clip
        ++a.maskDefinitions;
    };
    made->base.end_mask = [](fz_context*, fz_device* dev) {
        Analysis& a = analysisOf(dev);
        a.maskDefinitions = std::max(0, a.maskDefinitions - 1);
    };
    made->base.begin_group = [](fz_context*, fz_device* dev, fz_rect, fz_colorspace*, int,
                                int knockout, int blendmode, float alpha) {
        Analysis& a = analysisOf(dev);
        const bool blocking =
            knockout || (blendmode & FZ_BLEND_MODEMASK) != FZ_BLEND_NORMAL || alpha < 1;
        a.groups.push_back(blocking);
        a.blockingGroups += blocking;
    };
    made->base.end_group = [](fz_context*, fz_device* dev) {
        Analysis& a = analysisOf(dev);
        if (!a.groups.empty()) {
            a.blockingGroups -= a.groups.back();
            a.groups.pop_back();
        }
    };
    made->base.begin_tile = [](fz_context*, fz_device* dev, fz_rect area, fz_rect, float, float,
                               fz_matrix ctm, int) {
        Analysis& a = analysisOf(dev);
        if (a.tiles == 0) {
            a.cover(fz_transform_rect(area, ctm));
        }
        ++a.tiles;
        return 0; // run the tile's content, as the drawing run does
    };
    made->base.end_tile = [](fz_context*, fz_device* dev) {
        Analysis& a = analysisOf(dev);
        a.tiles = std::max(0, a.tiles - 1);
    };
    return &made->base;
}

bool allWhite(const Bitmap& bm) {
    const size_t rowBytes = size_t(bm.width) * size_t(bm.channels);
    for (int y = 0; y < bm.height; ++y) {
        const uint8_t* row = bm.row(y);
        for (size_t x = 0; x < rowBytes; ++x) {
            if (row[x] != 255) {
                return false;
            }
        }
    }
    return true;
}

// A page as the movie shows it: the texts' glyphs name a page font (PageFont, by its place in
// `fonts`) and a glyph id of it, until the movie's fonts take them in.
struct PageFont {
    std::string key;
    std::string name;
    std::map<int, SwfFontGlyph> glyphs; // by glyph id
};

struct PageResult {
    SwfPage page;
    std::vector<PageFont> fonts;
};

uint16_t codeOf(int ucs) {
    return ucs > 0 && ucs < 0xFFFF && !(ucs >= 0xD800 && ucs < 0xE000) ? uint16_t(ucs) : 0;
}

// The kept candidates as texts, one per sideways stretch, in pixels of the page's picture
// whose top left corner is `origin`.
void buildTexts(fz_context* ctx, const std::vector<Candidate>& candidates, fz_point origin,
                int width, int height, PageResult& out) {
    const fz_rect picture{0, 0, float(width), float(height)};
    std::map<std::string, int> fontIndex;
    std::map<int, size_t> textOf; // by stretch
    for (const Candidate& c : candidates) {
        if (!c.kept) {
            continue;
        }
        auto [it, added] = textOf.emplace(c.stretch, out.page.texts.size());
        if (added) {
            SwfText text;
            text.xScale = c.stretch / 1000.0;
            text.unitsPerPixel = unitsPerPixel(picture, c.stretch);
            text.xMin = text.yMin = INT32_MAX;
            text.xMax = text.yMax = INT32_MIN;
            out.page.texts.push_back(text);
        }
        SwfText& text = out.page.texts[it->second];
        const double ux = text.unitsPerPixel / text.xScale;
        const double uy = text.unitsPerPixel;
        const long h = std::lround(c.size * uy); // within 16 bits: see Analysis::fillText
        auto [fi, newFont] = fontIndex.emplace(*c.key, int(out.fonts.size()));
        if (newFont) {
            PageFont f;
            f.key = *c.key;
            // The font's name as the movie's (UTF-8) strings take it: plain ASCII.
            for (const char* n = fz_font_name(ctx, c.font); *n; ++n) {
                f.name += *n > ' ' && *n < 0x7F ? *n : '_';
            }
            out.fonts.push_back(std::move(f));
        }
        PageFont& font = out.fonts[size_t(fi->second)];
        if (!font.glyphs.count(c.gid)) {
            font.glyphs.emplace(c.gid, SwfFontGlyph{c.outline->shape, codeOf(c.ucs)});
        }
        SwfPlacedGlyph g;
        g.font = uint16_t(fi->second);
        g.index = uint16_t(c.gid);
        g.x = int32_t(std::lround((c.origin.x - origin.x) * ux));
        const int32_t y = int32_t(std::lround((c.origin.y - origin.y) * uy));
        if (text.runs.empty() || text.runs.back().y != y || text.runs.back().height != h ||
            text.runs.back().rgba != c.rgba) {
            SwfTextRun run;
            run.height = uint16_t(h);
            run.rgba = c.rgba;
            run.y = y;
            text.runs.push_back(run);
        }
        text.runs.back().glyphs.push_back(g);
        text.xMin = std::min<int32_t>(text.xMin, int32_t(std::floor((c.ink.x0 - origin.x) * ux)));
        text.xMax = std::max<int32_t>(text.xMax, int32_t(std::ceil((c.ink.x1 - origin.x) * ux)));
        text.yMin = std::min<int32_t>(text.yMin, int32_t(std::floor((c.ink.y0 - origin.y) * uy)));
        text.yMax = std::max<int32_t>(text.yMax, int32_t(std::ceil((c.ink.y1 - origin.y) * uy)));
    }
}

PageResult renderPage(fz_context* ctx, fz_document* doc, int number, OutlineCache& cache) {
    fz_rect bounds{};
    const PagePtr page = loadPage(ctx, doc, number, &bounds);
    const fz_matrix ctm = fz_scale(float(Zoom), float(Zoom));

    // The page once into a list, then twice from it: to learn which glyphs stay text, then to
    // draw the rest.
    fz_display_list* rawList = nullptr;
    guarded(ctx, [&] { rawList = fz_new_display_list(ctx, bounds); });
    Owned<fz_display_list, fz_drop_display_list> list(rawList, {ctx});
    fz_device* recorder = nullptr;
    guarded(ctx, [&] { recorder = fz_new_list_device(ctx, rawList); });
    {
        DevicePtr owner(recorder, {ctx});
        drawPage(ctx, page.get(), fz_identity, recorder);
    }
    const auto replay = [&](fz_device* dev) {
        try {
            guarded(ctx, [&] {
                fz_run_display_list(ctx, rawList, dev, ctm, fz_infinite_rect, currentPageCookie());
            });
        } catch (const MuError&) {
        }
        try {
            guarded(ctx, [&] { fz_close_device(ctx, dev); });
        } catch (const MuError&) {
        }
    };

    const PixmapPtr pix = newWhitePixmap(ctx, bounds, Zoom);
    fz_pixmap* raw = pix.get();
    const fz_irect box = fz_pixmap_bbox(ctx, raw);

    fz_device* analysisDevice = nullptr;
    guarded(ctx, [&] { analysisDevice = newAnalysisDevice(ctx, &cache, fz_rect_from_irect(box)); });
    DevicePtr analysisOwner(analysisDevice, {ctx});
    replay(analysisDevice);
    Analysis& analysis = analysisOf(analysisDevice);
    analysis.settle();

    std::set<std::tuple<int, int, int>> kept;
    for (const Candidate& c : analysis.candidates) {
        if (c.kept) {
            kept.emplace(c.call, c.span, c.item);
        }
    }
    const KeptOut keptOut = [&](int call, int span, int item) {
        return kept.count({call, span, item}) > 0;
    };

    fz_device* draw = nullptr;
    guarded(ctx, [&] { draw = fz_new_draw_device(ctx, fz_identity, raw); });
    DevicePtr drawOwner(draw, {ctx});
    bool painted = false;
    fz_device* split = nullptr;
    guarded(ctx, [&] { split = newTextSplitDevice(ctx, draw, &painted, &keptOut); });
    DevicePtr splitOwner(split, {ctx});
    replay(split);
    try {
        guarded(ctx, [&] { fz_close_device(ctx, draw); });
    } catch (const MuError&) {
    }

    PageResult out;
    const Bitmap bm = bitmapOf(ctx, raw, int(72 * Zoom));
    out.page.width = bm.width;
    out.page.height = bm.height;
    if (painted && !allWhite(bm)) {
        out.page.picture = encodeFrame(bm);
    }
    buildTexts(ctx, analysis.candidates, fz_point{float(box.x0), float(box.y0)}, bm.width,
               bm.height, out);
    return out;
}

// The movie's fonts: each glyph of a page font is defined once, in a font of the glyphs first
// used on one page, before the frame that shows it.
class FontBank {
public:
    explicit FontBank(SwfMovie& movie) : m_movie(movie) {}

    // Defines the glyphs that `page` uses first and points its texts at the movie's fonts.
    void take(PageResult& page) {
        std::vector<const std::map<int, SwfPlacedGlyph>*> placed;
        for (const PageFont& font : page.fonts) {
            std::map<int, SwfPlacedGlyph>& known = m_glyphs[font.key];
            std::vector<SwfFontGlyph> fresh;
            std::vector<int> ids;
            for (const auto& [gid, glyph] : font.glyphs) {
                if (!known.count(gid)) {
                    fresh.push_back(glyph);
                    ids.push_back(gid);
                }
            }
            if (!fresh.empty()) {
                // The same code for two glyphs of a font would make one of them unreachable by
                // character; each code is used once.
                std::set<uint16_t> codes;
                uint16_t privateUse = 0xE000;
                for (SwfFontGlyph& g : fresh) {
                    if (g.code == 0 || !codes.insert(g.code).second) {
                        while (codes.count(privateUse)) {
                            ++privateUse;
                        }
                        g.code = privateUse;
                        codes.insert(privateUse);
                    }
                }
                const uint16_t id = m_movie.defineFont(font.name, fresh);
                for (size_t i = 0; i < ids.size(); ++i) {
                    known.emplace(ids[i], SwfPlacedGlyph{id, uint16_t(i), 0});
                }
            }
            placed.push_back(&known);
        }
        for (SwfText& text : page.page.texts) {
            for (SwfTextRun& run : text.runs) {
                for (SwfPlacedGlyph& g : run.glyphs) {
                    const SwfPlacedGlyph& to = placed.at(g.font)->at(g.index);
                    g.font = to.font;
                    g.index = to.index;
                }
            }
        }
    }

private:
    SwfMovie& m_movie;
    std::map<std::string, std::map<int, SwfPlacedGlyph>> m_glyphs;
};

} // namespace

int convertToSwf(const std::string& source, const std::string& output, const SwfOptions& options) {
    if (swfFrameRate(options.frameRate) == 0) {
        throw std::runtime_error("the frame rate must be above 0 and below 256");
    }
    ToolSource opened;
    openToolSource(opened, source, options.first, options.last);
    fz_rect firstBounds{};
    loadPage(opened.context.get(), opened.doc.get(), opened.first, &firstBounds);
    const int first = opened.first;
    const int last = opened.last;
    const int stageW = std::max(1, int(std::lround(firstBounds.x1 - firstBounds.x0)));
    const int stageH = std::max(1, int(std::lround(firstBounds.y1 - firstBounds.y0)));

    SwfMovie movie(stageW, stageH, options.frameRate, options.viewer);
    FontBank fonts(movie);
    OutlineCache outlines;
    std::string failure;
    runPages<PageResult>(
        DocumentSource{source, ""}, first, last,
        [&](fz_context* ctx, fz_document* doc, int n) { return renderPage(ctx, doc, n, outlines); },
        [&](int n, std::optional<PageResult>&& page) {
            try {
                if (page) {
                    fonts.take(*page);
                    movie.addFrame(page->page);
                } else {
                    // A page that cannot be read still takes its frame, blank.
                    SwfPage blank;
                    blank.width = stageW;
                    blank.height = stageH;
                    movie.addFrame(blank);
                }
            } catch (const std::exception& e) {
                failure = "page " + std::to_string(n) + ": " + e.what();
                return false;
            }
            return true;
        });
    if (!failure.empty()) {
        throw std::runtime_error(failure);
    }
    movie.finish(output, options.compress);
    return last - first + 1;
}

} // namespace tools
