#include "html_export.h"

#include "atomic_file.h"
#include "image_writers.h"
#include "mupdf.h"
#include "page_pipeline.h"
#include "quadratic_curves.h"
#include "recognition.h"
#include "text_model.h"
#include "textless_device.h"
#include "tool_source.h"
#include "utf8.h"
#include "web_fonts.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

using namespace pdftox;

namespace tools {
namespace {

// The background is drawn at twice the CSS resolution, sharp on high-density screens.
constexpr double BackgroundZoom = 2.0;

struct TextStyle {
    std::string family; // CSS font-family list
    bool bold = false;
    bool italic = false;
    int tenthPoints = 120;
    uint32_t color = 0;
    bool hidden = false; // drawn in the background; the text is there to be found and copied
    std::string webFont; // the key of the page's own font, when the browser gets it
    auto operator<=>(const TextStyle&) const = default;
};

struct Span {
    TextStyle style;
    float x = 0, y = 0, width = 0;
    float angle = 0;  // degrees
    std::string text; // UTF-8
};

struct Link {
    fz_rect area;
    std::string href;
};

struct HtmlPage {
    int number = 0;
    float width = 612, height = 792;
    std::string background; // file name, empty when the page has nothing but text
    // The background picture, written but not yet under its name: pictures appear only with
    // the HTML that shows them.
    std::shared_ptr<AtomicFile> backgroundFile;
    std::vector<Span> spans;
    std::vector<Link> links;
    std::map<std::string, std::map<int, int>> glyphs; // per web font key: character → glyph
};

// The embedded TrueType fonts of the document, by key, for the web fonts written at the end;
// the pages, converted on several threads, add the fonts they meet.
struct FontProgram {
    std::string bytes;
    bool cff = false;    // a bare CFF font, which needs the metrics below
    bool type1 = false;  // a Type 1 font, kept as the outlines below
    FontMetrics metrics; // read by FreeType
    std::vector<GlyphContours> outlines;
};

// FreeType's outline of a glyph as TrueType contours: cubic curves (Type 1's) split into
// quadratic ones until each lies within a font unit of the curve it stands for.
struct ContourWalk {
    GlyphContours contours;
    FT_Vector at{};
};

OutlinePoint pointOf(double x, double y, bool onCurve) {
    return {int16_t(std::clamp(std::lround(x), -32768l, 32767l)),
            int16_t(std::clamp(std::lround(y), -32768l, 32767l)), onCurve};
}

void quadraticTo(ContourWalk& w, double cx, double cy, double x, double y) {
    w.contours.back().push_back(pointOf(cx, cy, false));
    w.contours.back().push_back(pointOf(x, y, true));
}

// Runs a step of FreeType's walk over an outline: an error (no memory) must not pass through
// FreeType's C code, so it ends the walk instead, and the glyph is left out.
template <class Step> int walkStep(const Step& step) {
    try {
        step();
        return 0;
    } catch (...) {
        return 1;
    }
}

GlyphContours contoursOf(const FT_Outline& outline) {
    ContourWalk walk;
    FT_Outline_Funcs funcs{};
    funcs.move_to = [](const FT_Vector* to, void* user) {
        return walkStep([&] {
            auto& w = *static_cast<ContourWalk*>(user);
            w.contours.emplace_back();
            w.contours.back().push_back(pointOf(double(to->x), double(to->y), true));
            w.at = *to;
        });
    };
    funcs.line_to = [](const FT_Vector* to, void* user) {
        return walkStep([&] {
            auto& w = *static_cast<ContourWalk*>(user);
            w.contours.back().push_back(pointOf(double(to->x), double(to->y), true));
            w.at = *to;
        });
    };
    funcs.conic_to = [](const FT_Vector* control, const FT_Vector* to, void* user) {
        return walkStep([&] {
            auto& w = *static_cast<ContourWalk*>(user);
            quadraticTo(w, double(control->x), double(control->y), double(to->x), double(to->y));
            w.at = *to;
        });
    };
    funcs.cubic_to = [](const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
        return walkStep([&] {
            auto& w = *static_cast<ContourWalk*>(user);
            cubicToQuadratics(
                double(w.at.x), double(w.at.y), double(c1->x), double(c1->y), double(c2->x),
                double(c2->y), double(to->x), double(to->y), 1.0, 6,
                [&w](double cx, double cy, double x, double y) { quadraticTo(w, cx, cy, x, y); });
            w.at = *to;
        });
    };
    if (FT_Outline_Decompose(const_cast<FT_Outline*>(&outline), &funcs, &walk) != 0) {
        return {};
    }
    // A contour closes by itself: a last point on its start is dropped.
    for (auto& contour : walk.contours) {
        if (contour.size() > 1 && contour.back().onCurve && contour.back().x == contour[0].x &&
            contour.back().y == contour[0].y) {
            contour.pop_back();
        }
    }
    std::erase_if(walk.contours, [](const auto& contour) { return contour.size() < 2; });
    return std::move(walk.contours);
}

// MuPDF's FreeType lock for the life of the guard, given back however the scope ends. The
// context's lock functions are called as fz_lock() calls them: a build without NDEBUG would
// have fz_lock() keep lock bookkeeping that the system's MuPDF, built with NDEBUG, lacks.
class FreeTypeLock {
public:
    explicit FreeTypeLock(fz_context* ctx) : m_ctx(ctx) {
        ctx->locks.lock(ctx->locks.user, FZ_LOCK_FREETYPE);
    }
    ~FreeTypeLock() { m_ctx->locks.unlock(m_ctx->locks.user, FZ_LOCK_FREETYPE); }
    FreeTypeLock(const FreeTypeLock&) = delete;
    FreeTypeLock& operator=(const FreeTypeLock&) = delete;

private:
    fz_context* m_ctx;
};

// A CFF or Type 1 font's metrics in font units, as FreeType reads them (under MuPDF's FreeType
// lock), and for Type 1 the glyphs' outlines.
FontMetrics metricsOf(fz_context* ctx, fz_font* font, std::vector<GlyphContours>* outlines) {
    FontMetrics m;
    auto* face = static_cast<FT_Face>(fz_font_ft_face(ctx, font));
    if (!face) {
        return m;
    }
    const FreeTypeLock lock(ctx);
    m.unitsPerEm = face->units_per_EM ? face->units_per_EM : 1000;
    m.ascender = face->ascender;
    m.descender = face->descender;
    m.xMin = int(face->bbox.xMin);
    m.yMin = int(face->bbox.yMin);
    m.xMax = int(face->bbox.xMax);
    m.yMax = int(face->bbox.yMax);
    m.advances.resize(size_t(std::max<FT_Long>(face->num_glyphs, 0)));
    for (size_t g = 0; g < m.advances.size(); ++g) {
        const FT_Error error = FT_Load_Glyph(
            face, FT_UInt(g), FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_IGNORE_TRANSFORM);
        m.advances[g] =
            error ? 0 : uint16_t(std::clamp<FT_Pos>(face->glyph->metrics.horiAdvance, 0, 0xFFFF));
        if (outlines) {
            outlines->push_back(error || face->glyph->format != FT_GLYPH_FORMAT_OUTLINE
                                    ? GlyphContours{}
                                    : contoursOf(face->glyph->outline));
        }
    }
    return m;
}

// A Type 1 font program: its clear text ("%!PS-AdobeFont", "%!FontType1") or the segment
// header of a PFB file.
bool isType1(const unsigned char* data, size_t size) {
    return size > 2 && ((data[0] == '%' && data[1] == '!') || (data[0] == 0x80 && data[1] == 1));
}

class FontBank {
public:
    void add(const std::string& key, fz_context* ctx, fz_font* font) {
        {
            std::lock_guard lock(m_mutex);
            if (m_fonts.count(key)) {
                return;
            }
        }
        unsigned char* data = nullptr;
        const size_t size = fz_buffer_storage(ctx, font->buffer, &data);
        FontProgram program;
        program.cff = size > 4 && data[0] == 1;
        program.type1 = isType1(data, size);
        // A Type 1 program is kept as its outlines, which the web font is made of.
        if (!program.type1) {
            program.bytes.assign(reinterpret_cast<const char*>(data), size);
        }
        if (program.cff || program.type1) {
            program.metrics = metricsOf(ctx, font, program.type1 ? &program.outlines : nullptr);
        }
        std::lock_guard lock(m_mutex);
        m_fonts.emplace(key, std::move(program));
    }
    // The web font of `key` under `family`, or empty.
    std::string webFontOf(const std::string& key, const std::string& family,
                          const std::map<int, int>& glyphs) const {
        std::lock_guard lock(m_mutex);
        const auto it = m_fonts.find(key);
        if (it == m_fonts.end()) {
            return {};
        }
        const FontProgram& p = it->second;
        if (p.type1) {
            return webFontFromOutlines(p.outlines, p.metrics, family, glyphs);
        }
        return p.cff ? webFontFromCff(p.bytes, p.metrics, family, glyphs)
                     : webFont(p.bytes, family, glyphs);
    }

private:
    mutable std::mutex m_mutex;
    std::map<std::string, FontProgram> m_fonts;
};

// The key of an embedded TrueType, CFF or Type 1 font: its name, size and a hash of its first and
// last kilobytes (a font object's address may be reused by another font on another page); empty for
// any other font.
std::string webFontKey(fz_context* ctx, fz_font* font) {
    if (!font || !font->buffer) {
        return {};
    }
    unsigned char* data = nullptr;
    const size_t size = fz_buffer_storage(ctx, font->buffer, &data);
    // TrueType, or a bare CFF font (its header: version 1.0 and a header of four bytes).
    const bool trueType =
        size > 12 && ((data[0] == 0 && data[1] == 1 && data[2] == 0 && data[3] == 0) ||
                      std::memcmp(data, "true", 4) == 0);
    const bool cff = size > 4 && data[0] == 1 && data[1] == 0 && data[2] == 4;
    if (!trueType && !cff && !isType1(data, size)) {
        return {};
    }
    uint64_t hash = 1469598103934665603ull;
    const auto mix = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            hash = (hash ^ data[i]) * 1099511628211ull;
        }
    };
    mix(0, std::min<size_t>(size, 1024));
    mix(size - std::min<size_t>(size, 1024), size);
    return std::string(fz_font_name(ctx, font)) + "/" + std::to_string(size) + "/" +
           std::to_string(hash);
}

std::string escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

struct FontLook {
    std::string family; // CSS font-family list
    bool bold = false;
    bool italic = false;
    float webBaseline = 0; // baselineOf() the font, for text in its web font; 0: not yet known
};

FontLook lookOf(fz_context* ctx, fz_font* font) {
    const char* name = font ? fz_font_name(ctx, font) : "";
    const bool serif = font && fz_font_is_serif(ctx, font);
    const bool mono = font && fz_font_is_monospaced(ctx, font);
    const FontNameInfo info = describeFontName(name ? name : "", serif, mono);
    const char* generic = info.face.cls == FontClass::Modern  ? "monospace"
                          : info.face.cls == FontClass::Swiss ? "sans-serif"
                                                              : "serif";
    FontLook look;
    look.family = "'" + info.face.family + "'";
    if (info.face.fallback != info.face.family) {
        look.family += ",'" + info.face.fallback + "'";
    }
    look.family += std::string(",") + generic;
    look.bold = info.bold || (font && fz_font_is_bold(ctx, font));
    look.italic = info.italic || (font && fz_font_is_italic(ctx, font));
    return look;
}

std::string fileStem(const std::string& path) {
    const size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// The stem of the page pictures' names ("STEM-12.png"): the page's own stem, cut at a character's
// start where a long one would make a name longer than a file system takes.
std::string pictureStem(const std::string& stem) {
    constexpr size_t NameMax = 255;
    constexpr size_t LongestEnding = 15; // "-" and ten digits and ".jpg"
    if (stem.size() + LongestEnding <= NameMax) {
        return stem;
    }
    size_t cut = NameMax - LongestEnding;
    while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return stem.substr(0, cut);
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Where a browser puts the baseline of text set with line-height 1, below the top of its line,
// in font sizes: the ascent, after half of what ascent and descent leave of the line. For the
// common fonts that stand in for the page's ones it is within a hundredth of this.
constexpr float UsualBaseline = 0.845f;

// The same for a web font, from the ascent and descent its tables give.
float baselineOf(fz_context* ctx, fz_font* font) {
    auto* face = static_cast<FT_Face>(fz_font_ft_face(ctx, font));
    if (!face) {
        return UsualBaseline;
    }
    float ascent = 0, descent = 0;
    {
        const FreeTypeLock lock(ctx);
        const float em = face->units_per_EM ? float(face->units_per_EM) : 1000.0f;
        ascent = float(face->ascender) / em;
        descent = -float(face->descender) / em;
    }
    if (ascent <= 0 || ascent > 2 || descent < 0 || descent > 1) {
        return UsualBaseline;
    }
    return (1 + ascent - descent) / 2;
}

// The page's text as spans. On a page drawn whole for recognition all text is invisible: the
// background shows the page as it is, and the words over it make it searchable and let it be
// copied.
void collectText(fz_context* ctx, fz_stext_page* raw, bool recognised, const GlyphUses& uses,
                 const std::map<fz_font*, std::string>& webFonts, HtmlPage& out) {
    std::map<fz_font*, FontLook> looks;

    for (fz_stext_block* block = raw->first_block; block; block = block->next) {
        if (block->type != FZ_STEXT_BLOCK_TEXT) {
            continue;
        }
        for (fz_stext_line* line = block->u.t.first_line; line; line = line->next) {
            const float angle = float(std::atan2(line->dir.y, line->dir.x) * 180.0 / M_PI);
            Span* span = nullptr;
            fz_point lastEnd{0, 0};
            for (fz_stext_char* ch = line->first_char; ch; ch = ch->next) {
                const GlyphShow show =
                    recognised ? GlyphShow::DrawnHidden : showOf(ctx, ch->font, ch->c);
                if (show == GlyphShow::Drawn) {
                    continue;
                }
                auto look = looks.find(ch->font);
                if (look == looks.end()) {
                    look = looks.emplace(ch->font, lookOf(ctx, ch->font)).first;
                }
                TextStyle style;
                style.family = look->second.family;
                style.bold = look->second.bold;
                style.italic = look->second.italic;
                // Recognised words are stretched to their width on the page, which their size
                // takes in; the height of their letters is the size of their line.
                const float size = recognised ? std::hypot(ch->quad.ul.x - ch->quad.ll.x,
                                                           ch->quad.ul.y - ch->quad.ll.y)
                                              : ch->size;
                style.tenthPoints = std::max(1, int(std::lround(size * 10)));
                style.color = uint32_t(ch->color) & 0xFFFFFFu;
                style.hidden = show == GlyphShow::DrawnHidden;
                // The page's own font where the browser gets it and it has this character.
                if (const auto web = webFonts.find(ch->font);
                    web != webFonts.end() && !style.hidden) {
                    const auto used = uses.find(ch->font);
                    if (used != uses.end() && used->second.count(ch->c)) {
                        style.webFont = web->second;
                    }
                }
                // A new span where the style changes or where the text jumps ahead (columns).
                const bool jump = span && std::fabs(ch->quad.ll.x - lastEnd.x) > ch->size * 1.5f &&
                                  std::fabs(angle) < 0.5f;
                if (!span || span->style != style || jump) {
                    out.spans.push_back(Span{});
                    span = &out.spans.back();
                    span->style = style;
                    // The span's top left corner, where the browser puts the baseline as far
                    // below as the page has it. A recognised word's box is its place.
                    fz_point top = ch->quad.ul;
                    const float up =
                        std::hypot(ch->quad.ul.x - ch->quad.ll.x, ch->quad.ul.y - ch->quad.ll.y);
                    if (!recognised && up > 0) {
                        float baseline = UsualBaseline;
                        if (!style.webFont.empty()) {
                            FontLook& own = look->second;
                            if (own.webBaseline == 0) {
                                own.webBaseline = baselineOf(ctx, ch->font);
                            }
                            baseline = own.webBaseline;
                        }
                        const float k = baseline * size / up;
                        top = {ch->origin.x + (ch->quad.ul.x - ch->quad.ll.x) * k,
                               ch->origin.y + (ch->quad.ul.y - ch->quad.ll.y) * k};
                    }
                    span->x = top.x;
                    span->y = top.y;
                    span->angle = angle;
                }
                appendUtf8(span->text, char32_t(ch->c));
                span->width = std::max(
                    span->width, std::hypot(ch->quad.ur.x - span->x, ch->quad.ur.y - span->y));
                lastEnd = ch->quad.lr;
            }
        }
    }
}

void collectLinks(fz_context* ctx, fz_document* doc, fz_page* page, HtmlPage& out) {
    fz_link* links = nullptr;
    guarded(ctx, [&] { links = fz_load_links(ctx, page); });
    Owned<fz_link, fz_drop_link> owned(links, {ctx});
    for (fz_link* link = links; link; link = link->next) {
        if (!link->uri) {
            continue;
        }
        Link l;
        l.area = link->rect;
        if (fz_is_external_link(ctx, link->uri)) {
            l.href = link->uri;
        } else {
            int target = -1;
            try {
                guarded(ctx, [&] {
                    const fz_location loc = fz_resolve_link(ctx, doc, link->uri, nullptr, nullptr);
                    target = fz_page_number_from_location(ctx, doc, loc);
                });
            } catch (const MuError&) {
            }
            if (target < 0) {
                continue;
            }
            l.href = "#p" + std::to_string(target + 1);
        }
        out.links.push_back(l);
    }
}

// Many pages paint a white sheet under their text: such a background adds nothing.
bool allWhite(fz_context* ctx, fz_pixmap* pix) {
    const int w = fz_pixmap_width(ctx, pix);
    const int h = fz_pixmap_height(ctx, pix);
    const ptrdiff_t stride = fz_pixmap_stride(ctx, pix);
    const unsigned char* samples = fz_pixmap_samples(ctx, pix);
    const size_t rowBytes = size_t(w) * size_t(fz_pixmap_components(ctx, pix));
    for (int y = 0; y < h; ++y) {
        const unsigned char* row = samples + stride * y;
        for (size_t x = 0; x < rowBytes; ++x) {
            if (row[x] != 255) {
                return false;
            }
        }
    }
    return true;
}

std::string drawBackground(fz_context* ctx, fz_page* page, fz_rect bounds,
                           const std::string& folder, const std::string& stem, int number,
                           bool withText, GlyphUses* uses, std::shared_ptr<AtomicFile>* file) {
    const fz_matrix ctm = fz_scale(float(BackgroundZoom), float(BackgroundZoom));
    const PixmapPtr pix = newWhitePixmap(ctx, bounds, BackgroundZoom);
    fz_pixmap* raw = pix.get();
    fz_device* draw = nullptr;
    guarded(ctx, [&] { draw = fz_new_draw_device(ctx, fz_identity, raw); });
    DevicePtr drawOwner(draw, {ctx});
    // A recognised page is drawn whole: its letters are pictures of letters.
    bool painted = withText;
    fz_device* textless = nullptr;
    if (!withText) {
        guarded(ctx, [&] { textless = newTextlessDevice(ctx, draw, &painted, uses); });
    }
    DevicePtr textlessOwner(textless, {ctx});
    drawPage(ctx, page, ctm, withText ? draw : textless);
    try {
        guarded(ctx, [&] { fz_close_device(ctx, draw); });
    } catch (const MuError&) {
    }
    if (!painted || allWhite(ctx, raw)) {
        return {};
    }
    const Bitmap bm = bitmapOf(ctx, raw, int(72 * BackgroundZoom));
    const bool photo = looksPhotographic(bm);
    const std::string name = stem + "-" + std::to_string(number) + (photo ? ".jpg" : ".png");
    const std::string bytes = photo ? encodeJpeg(bm, 80) : encodePng(bm);
    *file = std::make_shared<AtomicFile>(folder + name);
    FILE* f = std::fopen((*file)->tempPath().c_str(), "wb");
    bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const int error = errno;
    ok = f && std::fclose(f) == 0 && ok;
    if (!ok) {
        throw WriteError("cannot write " + folder + name, error);
    }
    return name;
}

HtmlPage convertPage(fz_context* ctx, fz_document* doc, int number, const std::string& folder,
                     const std::string& stem, FontBank& bank) {
    HtmlPage out;
    out.number = number;
    fz_rect bounds{};
    const PagePtr page = loadPage(ctx, doc, number, &bounds);
    fz_page* raw = page.get();
    out.width = bounds.x1 - bounds.x0;
    out.height = bounds.y1 - bounds.y0;
    fz_stext_options options{};
    options.flags = FZ_STEXT_MEDIABOX_CLIP;
    TextPagePtr text = readPageText(ctx, raw, options);
    // A page to be recognised is drawn whole first, so that the page shows whatever becomes of
    // its recognition, also when that runs out of the page's time.
    const bool recognised = wantsRecognition(ctx, raw, text.get());
    GlyphUses uses;
    out.background = drawBackground(ctx, raw, bounds, folder, stem, number, recognised, &uses,
                                    &out.backgroundFile);
    std::map<fz_font*, std::string> webFonts;
    for (const auto& [font, glyphs] : uses) {
        const std::string key = webFontKey(ctx, font);
        if (!key.empty()) {
            bank.add(key, ctx, font);
            webFonts.emplace(font, key);
            std::map<int, int>& merged = out.glyphs[key];
            merged.insert(glyphs.begin(), glyphs.end());
        }
    }
    if (recognised) {
        if (Recognition r = recognise(ctx, raw, text.get(), options); r.words) {
            text = std::move(r.words);
        }
    }
    collectText(ctx, text.get(), recognised, uses, webFonts, out);
    try {
        collectLinks(ctx, doc, raw, out);
    } catch (const MuError&) {
    }
    return out;
}

std::string number(float v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", double(v));
    std::string s = buffer;
    while (s.back() == '0') {
        s.pop_back();
    }
    if (s.back() == '.') {
        s.pop_back();
    }
    return s;
}

std::string colorText(uint32_t c) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "#%06x", unsigned(c & 0xFFFFFFu));
    return buffer;
}

// Browsers draw the text in their own fonts; this script stretches each span to the width
// the text has on the PDF page, so lines keep their length and columns stay apart. It measures
// again once the page's web fonts have loaded: until then the spans stand in a fallback font.
const char* fitScript = R"(<script>
(function(){function fit(){var s=document.querySelectorAll('span[data-w]');var pt=96/72;
for(var i=0;i<s.length;i++){var e=s[i],w=e.offsetWidth;if(!w)continue;
var k=parseFloat(e.getAttribute('data-w'))*pt/w,r=e.getAttribute('data-r');
e.style.transform=(r?'rotate('+r+'deg) ':'')+(k>0.5&&k<2?'scaleX('+k.toFixed(3)+')':'');}}
fit();if(document.fonts&&document.fonts.ready){document.fonts.ready.then(fit);}})();
</script>
)";

} // namespace

int convertToHtml(const std::string& source, const std::string& output, int first, int last) {
    ToolSource opened;
    openToolSource(opened, source, first, last);
    fz_context* ctx = opened.context.get();
    fz_document* doc = opened.doc.get();
    first = opened.first;
    last = opened.last;
    char title[512] = "";
    try {
        guarded(ctx,
                [&] { fz_lookup_metadata(ctx, doc, FZ_META_INFO_TITLE, title, sizeof title); });
    } catch (const MuError&) {
    }
    const std::string folder = folderOf(output);
    const std::string stem = fileStem(output);
    const std::string picturesStem = pictureStem(stem);

    std::map<TextStyle, int> classes;
    std::string body;
    std::vector<std::shared_ptr<AtomicFile>> pictures;
    FontBank bank;
    std::map<std::string, std::map<int, int>> glyphs; // per web font key
    runPages<HtmlPage>(
        DocumentSource{source, ""}, first, last,
        [&](fz_context* c, fz_document* d, int n) {
            return convertPage(c, d, n, folder, picturesStem, bank);
        },
        [&](int n, std::optional<HtmlPage>&& page) {
            if (!page) {
                // A page that cannot be read keeps its place, empty.
                body += "<div class=\"page\" id=\"p" + std::to_string(n) +
                        "\" style=\"width:612pt;height:792pt\"></div>\n";
                return true;
            }
            body += "<div class=\"page\" id=\"p" + std::to_string(n) +
                    "\" style=\"width:" + number(page->width) +
                    "pt;height:" + number(page->height) + "pt\">\n";
            if (page->backgroundFile) {
                // Each unnamed picture holds a descriptor until the end: beyond a few hundred
                // they wait under hidden names instead.
                if (pictures.size() >= 200) {
                    page->backgroundFile->park();
                }
                pictures.push_back(std::move(page->backgroundFile));
            }
            if (!page->background.empty()) {
                body += "<img class=\"bg\" src=\"" + escape(page->background) + "\" alt=\"\">\n";
            }
            for (const auto& [key, map] : page->glyphs) {
                glyphs[key].insert(map.begin(), map.end());
            }
            for (const Span& span : page->spans) {
                auto [it, inserted] = classes.emplace(span.style, int(classes.size()));
                body += "<span class=\"s" + std::to_string(it->second) +
                        "\" style=\"left:" + number(span.x) + "pt;top:" + number(span.y) + "pt";
                if (std::fabs(span.angle) >= 0.5f) {
                    body += ";transform:rotate(" + number(span.angle) + "deg)\" data-r=\"" +
                            number(span.angle);
                }
                body +=
                    "\" data-w=\"" + number(span.width) + "\">" + escape(span.text) + "</span>\n";
            }
            for (const Link& link : page->links) {
                body += "<a href=\"" + escape(link.href) +
                        "\" style=\"left:" + number(link.area.x0) +
                        "pt;top:" + number(link.area.y0) +
                        "pt;width:" + number(link.area.x1 - link.area.x0) +
                        "pt;height:" + number(link.area.y1 - link.area.y0) + "pt\"></a>\n";
            }
            body += "</div>\n";
            return true;
        });

    std::string html =
        "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>" +
        escape(*title ? std::string(title) : stem) +
        "</title>\n<style>\n"
        "body{margin:0;padding:8px 0;background:#7f7f7f}\n"
        ".page{position:relative;margin:8px auto;background:#fff;overflow:hidden;"
        "box-shadow:0 1px 6px rgba(0,0,0,.5)}\n"
        ".page img.bg{position:absolute;left:0;top:0;width:100%;height:100%;user-select:none}\n"
        ".page span{position:absolute;white-space:pre;line-height:1;transform-origin:0 0}\n"
        ".page a{position:absolute;display:block}\n";
    // The page's own fonts, rebuilt for the browser, beside the pictures.
    std::map<std::string, std::string> families; // web font key → its family name
    for (const auto& [key, map] : glyphs) {
        const std::string family = "lf" + std::to_string(families.size() + 1);
        const std::string bytes = bank.webFontOf(key, family, map);
        if (bytes.empty()) {
            continue;
        }
        const std::string name = picturesStem + "-" + family + ".ttf";
        auto file = std::make_shared<AtomicFile>(folder + name);
        FILE* f = std::fopen(file->tempPath().c_str(), "wb");
        bool written = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        const int error = errno;
        written = f && std::fclose(f) == 0 && written;
        if (!written) {
            throw WriteError("cannot write " + folder + name, error);
        }
        if (pictures.size() >= 200) {
            file->park();
        }
        pictures.push_back(std::move(file));
        families.emplace(key, family);
        html += "@font-face{font-family:'" + family + "';src:url('" + escape(name) +
                "') format('truetype')}\n";
    }
    for (const auto& [style, id] : classes) {
        const auto web = families.find(style.webFont);
        html += ".s" + std::to_string(id) + "{font-family:" +
                (web == families.end() ? std::string() : "'" + web->second + "',") + style.family +
                ";font-size:" + number(style.tenthPoints / 10.0f) + "pt";
        if (style.bold) {
            html += ";font-weight:bold";
        }
        if (style.italic) {
            html += ";font-style:italic";
        }
        if (style.hidden) {
            html += ";color:transparent";
        } else if (style.color != 0) {
            html += ";color:" + colorText(style.color);
        }
        html += "}\n";
    }
    html += "</style>\n</head>\n<body>\n" + body + fitScript + "</body>\n</html>\n";

    AtomicFile file(output);
    FILE* f = std::fopen(file.tempPath().c_str(), "wb");
    bool ok = f && std::fwrite(html.data(), 1, html.size(), f) == html.size();
    const int error = errno;
    ok = f && std::fclose(f) == 0 && ok;
    if (!ok) {
        throw WriteError("cannot write " + output, error);
    }
    // The pictures get their names first, so that the HTML never shows a missing one; if the
    // HTML cannot be named after all, the pictures go again.
    std::vector<std::string> named;
    try {
        for (const auto& picture : pictures) {
            picture->commit();
            named.push_back(picture->finalPath());
        }
        file.commit();
    } catch (const std::exception&) {
        for (const std::string& path : named) {
            std::remove(path.c_str());
        }
        throw;
    }
    return last - first + 1;
}

} // namespace tools
