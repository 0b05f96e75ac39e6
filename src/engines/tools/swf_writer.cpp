#include "swf_writer.h"

#include "atomic_file.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace tools {
namespace {

constexpr int Twips = 20;

enum Tag : int {
    End = 0,
    ShowFrame = 1,
    DefineShape = 2,
    SetBackgroundColor = 9,
    DefineText = 11,
    DoAction = 12,
    DefineBitsLossless = 20,
    DefineBitsJPEG2 = 21,
    PlaceObject2 = 26,
    RemoveObject2 = 28,
    DefineShape3 = 32,
    DefineText2 = 33,
    DefineButton2 = 34,
    DefineFont2 = 48,
    FileAttributes = 69,
};

enum Action : uint8_t { NextFrame = 0x04, PreviousFrame = 0x05, Play = 0x06, Stop = 0x07 };

/// Bit-packed fields (RECT, MATRIX, shape records), most significant bit first.
class Bits {
public:
    void put(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            if (m_used == 0) {
                m_bytes.push_back(0);
            }
            if ((value >> i) & 1u) {
                m_bytes.back() |= uint8_t(0x80u >> m_used);
            }
            m_used = (m_used + 1) % 8;
        }
    }
    void putSigned(int32_t value, int count) {
        put(uint32_t(value) & ((count >= 32) ? ~0u : ((1u << count) - 1)), count);
    }
    void align() { m_used = 0; }
    std::vector<uint8_t>& bytes() { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
    int m_used = 0;
};

int signedBits(int32_t v) {
    int n = 1;
    while (v < -(1 << (n - 1)) || v >= (1 << (n - 1))) {
        ++n;
    }
    return n;
}

int signedBits(std::initializer_list<int32_t> values) {
    int n = 1;
    for (const int32_t v : values) {
        n = std::max(n, signedBits(v));
    }
    return n;
}

void rect(Bits& b, int32_t xmin, int32_t xmax, int32_t ymin, int32_t ymax) {
    const int n = signedBits({xmin, xmax, ymin, ymax});
    b.put(uint32_t(n), 5);
    b.putSigned(xmin, n);
    b.putSigned(xmax, n);
    b.putSigned(ymin, n);
    b.putSigned(ymax, n);
    b.align();
}

/// A MATRIX with a scale (16.16 fixed point) and a translation in twips.
void matrix(Bits& b, double scaleX, double scaleY, int32_t tx, int32_t ty) {
    const bool scaled = scaleX != 1.0 || scaleY != 1.0;
    b.put(scaled ? 1 : 0, 1);
    if (scaled) {
        const int32_t sx = int32_t(std::lround(scaleX * 65536));
        const int32_t sy = int32_t(std::lround(scaleY * 65536));
        const int n = signedBits({sx, sy});
        b.put(uint32_t(n), 5);
        b.putSigned(sx, n);
        b.putSigned(sy, n);
    }
    b.put(0, 1); // no rotation
    const int n = (tx == 0 && ty == 0) ? 0 : signedBits({tx, ty});
    b.put(uint32_t(n), 5);
    if (n > 0) {
        b.putSigned(tx, n);
        b.putSigned(ty, n);
    }
    b.align();
}

void u16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}

void u32(std::vector<uint8_t>& v, uint32_t x) {
    u16(v, x & 0xFFFF);
    u16(v, x >> 16);
}

void append(std::vector<uint8_t>& v, Bits& b) {
    v.insert(v.end(), b.bytes().begin(), b.bytes().end());
}

/// Shape records of a closed polygon (points in twips), filled with fill style 1.
void polygon(Bits& b, const std::vector<std::pair<int32_t, int32_t>>& points) {
    // Style change: move to the first point, fill style 1.
    b.put(0, 1);       // non-edge record
    b.put(0b00101, 5); // new styles 0, line 0, fill1 1, fill0 0, move to 1
    const int n = signedBits({points[0].first, points[0].second});
    b.put(uint32_t(n), 5);
    b.putSigned(points[0].first, n);
    b.putSigned(points[0].second, n);
    b.put(1, 1); // fill style 1 (one fill bit)
    for (size_t i = 1; i <= points.size(); ++i) {
        const auto& from = points[i - 1];
        const auto& to = points[i % points.size()];
        const int32_t dx = to.first - from.first;
        const int32_t dy = to.second - from.second;
        const int bits = std::max(2, signedBits({dx, dy}));
        b.put(1, 1); // edge
        b.put(1, 1); // straight
        b.put(uint32_t(bits - 2), 4);
        b.put(1, 1); // general line: both deltas
        b.putSigned(dx, bits);
        b.putSigned(dy, bits);
    }
    b.put(0, 6); // end of shape
    b.align();
}

int unsignedBits(uint32_t v) {
    int n = 0;
    while (n < 32 && (v >> n) != 0) {
        ++n;
    }
    return n;
}

void line(Bits& b, int32_t dx, int32_t dy) {
    const int bits = std::max(2, signedBits({dx, dy}));
    b.put(1, 1); // edge
    b.put(1, 1); // straight
    b.put(uint32_t(bits - 2), 4);
    if (dx != 0 && dy != 0) {
        b.put(1, 1); // general line: both deltas
        b.putSigned(dx, bits);
        b.putSigned(dy, bits);
    } else {
        b.put(0, 1);
        b.put(dx == 0 ? 1 : 0, 1); // vertical or horizontal
        b.putSigned(dx == 0 ? dy : dx, bits);
    }
}

} // namespace

std::string swfGlyphShape(const std::vector<SwfOutlineStep>& steps) {
    Bits b;
    b.put(1, 4); // one fill bit
    b.put(0, 4); // no line bits
    bool first = true;
    bool open = false;
    int32_t x = 0, y = 0;           // the pen
    int32_t startX = 0, startY = 0; // where the contour began
    auto close = [&] {
        if (open && (x != startX || y != startY)) {
            line(b, startX - x, startY - y);
            x = startX;
            y = startY;
        }
        open = false;
    };
    for (const SwfOutlineStep& s : steps) {
        if (s.kind == SwfOutlineStep::Kind::Move) {
            close();
            b.put(0, 1);                         // style change
            b.put(first ? 0b00011 : 0b00001, 5); // fill style 0 on the first; move to
            const int n = signedBits({s.x, s.y});
            b.put(uint32_t(n), 5);
            b.putSigned(s.x, n);
            b.putSigned(s.y, n);
            if (first) {
                b.put(1, 1); // fill style 0: the font's one fill
            }
            first = false;
            x = startX = s.x;
            y = startY = s.y;
            open = true;
            continue;
        }
        if (!open) {
            continue; // a step without a contour draws nothing
        }
        if (s.kind == SwfOutlineStep::Kind::Line) {
            if (s.x != x || s.y != y) {
                line(b, s.x - x, s.y - y);
            }
        } else {
            const int32_t cdx = s.cx - x, cdy = s.cy - y;
            const int32_t adx = s.x - s.cx, ady = s.y - s.cy;
            if ((cdx == 0 && cdy == 0) || (adx == 0 && ady == 0)) {
                if (s.x != x || s.y != y) {
                    line(b, s.x - x, s.y - y);
                }
            } else {
                const int bits = std::max(2, signedBits({cdx, cdy, adx, ady}));
                b.put(1, 1); // edge
                b.put(0, 1); // curved
                b.put(uint32_t(bits - 2), 4);
                b.putSigned(cdx, bits);
                b.putSigned(cdy, bits);
                b.putSigned(adx, bits);
                b.putSigned(ady, bits);
            }
        }
        x = s.x;
        y = s.y;
    }
    close();
    b.put(0, 6); // end of shape
    b.align();
    return std::string(b.bytes().begin(), b.bytes().end());
}

uint16_t swfFrameRate(double frameRate) {
    if (!(frameRate > 0) || frameRate >= 256) {
        return 0;
    }
    return uint16_t(std::max(1L, std::lround(frameRate * 256)));
}

SwfMovie::SwfMovie(int stageWidth, int stageHeight, double frameRate, bool viewer)
    : m_width(std::max(1, stageWidth)), m_height(std::max(1, stageHeight)),
      m_rate(swfFrameRate(frameRate)), m_viewer(viewer), m_body(std::tmpfile()) {
    if (!m_body) {
        throw std::runtime_error("cannot create a temporary file");
    }
    if (m_rate == 0) {
        throw std::invalid_argument("frame rate out of range");
    }
    std::vector<uint8_t> attributes;
    u32(attributes, 0); // ActionScript 1/2, no network access
    tag(FileAttributes, attributes);
    tag(SetBackgroundColor, {0xFF, 0xFF, 0xFF});
    if (m_viewer) {
        defineViewer();
    }
}

SwfMovie::~SwfMovie() {
    std::fclose(m_body);
}

void SwfMovie::tag(int code, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> header;
    // Bitmaps always take the long header, as some players expect.
    if (data.size() < 63 && code != DefineBitsJPEG2 && code != DefineBitsLossless) {
        u16(header, uint32_t(code << 6) | uint32_t(data.size()));
    } else {
        u16(header, uint32_t(code << 6) | 0x3F);
        u32(header, uint32_t(data.size()));
    }
    if (std::fwrite(header.data(), 1, header.size(), m_body) != header.size() ||
        (!data.empty() && std::fwrite(data.data(), 1, data.size(), m_body) != data.size())) {
        throw std::runtime_error("write failed");
    }
}

// Three buttons at the bottom of the stage over the pages: previous, play, next. The movie
// stops on its first frame until one is pressed.
void SwfMovie::defineViewer() {
    const int32_t size = std::max(24, std::min(m_width, m_height) / 12) * Twips;
    const int32_t gap = size / 4;
    const int32_t top = m_height * Twips - size - gap;
    const int32_t left = m_width * Twips / 2 - (3 * size + 2 * gap) / 2;

    // A polygon in one solid colour (RGBA) within the button's square.
    auto solidShape = [&](uint32_t rgba, const std::vector<std::pair<int32_t, int32_t>>& points) {
        const uint16_t id = newId();
        std::vector<uint8_t> d;
        u16(d, id);
        Bits bounds;
        rect(bounds, 0, size, 0, size);
        append(d, bounds);
        d.push_back(1); // one fill style: solid RGBA
        d.insert(d.end(), {0x00, uint8_t(rgba >> 24), uint8_t(rgba >> 16), uint8_t(rgba >> 8),
                           uint8_t(rgba)});
        d.push_back(0);    // no line styles
        d.push_back(0x10); // 1 fill bit, 0 line bits
        Bits shape;
        polygon(shape, points);
        append(d, shape);
        tag(DefineShape3, d);
        return id;
    };

    // The shared round-cornered backdrop: semi-transparent dark grey, and white icons on it.
    const int32_t r = size / 6;
    const uint16_t backdrop = solidShape(0x303030B0u, {{r, 0},
                                                       {size - r, 0},
                                                       {size, r},
                                                       {size, size - r},
                                                       {size - r, size},
                                                       {r, size},
                                                       {0, size - r},
                                                       {0, r}});
    auto icon = [&](const std::vector<std::pair<int32_t, int32_t>>& points) {
        return solidShape(0xFFFFFFFFu, points);
    };
    const int32_t a = size / 4;
    const int32_t b = size * 3 / 4;
    const int32_t m = size / 2;
    // Back and next are a triangle against a bar (|< and >|), play a plain triangle, so that
    // the three read apart at a glance.
    const int32_t w = size / 10; // the bar's width
    const uint16_t previousIcon =
        icon({{a, a}, {a + w, a}, {a + w, m}, {b, a}, {b, b}, {a + w, m}, {a + w, b}, {a, b}});
    const uint16_t playIcon = icon({{a + a / 3, a}, {b + a / 3, m}, {a + a / 3, b}});
    const uint16_t nextIcon =
        icon({{a, a}, {b - w, m}, {b - w, a}, {b, a}, {b, b}, {b - w, b}, {b - w, m}, {a, b}});

    auto button = [&](uint16_t glyph, uint8_t action, int32_t x) {
        const uint16_t id = newId();
        std::vector<uint8_t> d;
        u16(d, id);
        d.push_back(0); // not a menu button
        const size_t offsetAt = d.size();
        u16(d, 0); // action offset, filled in below
        for (const auto& [character, depth] : {std::pair<uint16_t, int>{backdrop, 1}, {glyph, 2}}) {
            d.push_back(0x0F); // up, over, down and hit states
            u16(d, character);
            u16(d, uint32_t(depth));
            Bits place;
            matrix(place, 1, 1, 0, 0);
            append(d, place);
            d.push_back(0); // colour transform without terms
        }
        d.push_back(0); // end of button records
        const size_t actions = d.size();
        d[offsetAt] = uint8_t(actions - offsetAt);
        d[offsetAt + 1] = uint8_t((actions - offsetAt) >> 8);
        u16(d, 0);         // last condition
        d.push_back(0x08); // on release (OverDownToOverUp)
        d.push_back(0x00);
        d.push_back(action);
        d.push_back(0); // end of actions
        tag(DefineButton2, d);

        std::vector<uint8_t> place;
        place.push_back(0x06); // has character, has matrix
        u16(place, uint32_t(m_nextDepth++));
        u16(place, id);
        Bits at;
        matrix(at, 1, 1, x, top);
        append(place, at);
        tag(PlaceObject2, place);
    };
    button(previousIcon, PreviousFrame, left);
    button(playIcon, Play, left + size + gap);
    button(nextIcon, NextFrame, left + 2 * (size + gap));
}

uint16_t SwfMovie::newId() {
    if (m_nextId >= 65000) {
        throw std::runtime_error("too many pages for one movie");
    }
    return m_nextId++;
}

uint16_t SwfMovie::defineFont(const std::string& name, const std::vector<SwfFontGlyph>& glyphs) {
    if (glyphs.empty() || glyphs.size() > 0xFFFF) {
        throw std::invalid_argument("a font of 1 to 65535 glyphs");
    }
    const uint16_t id = newId();
    size_t shapes = 0;
    for (const SwfFontGlyph& g : glyphs) {
        shapes += g.shape.size();
    }
    const size_t count = glyphs.size();
    const bool wide = 2 * (count + 1) + shapes > 0xFFFF;
    const size_t offsetSize = wide ? 4 : 2;

    std::vector<uint8_t> d;
    u16(d, id);
    d.push_back(uint8_t(0x04 | (wide ? 0x08 : 0))); // wide codes, and wide offsets when needed
    d.push_back(0);                                 // no language
    std::string label = name.substr(0, 255);
    d.push_back(uint8_t(label.size()));
    d.insert(d.end(), label.begin(), label.end());
    u16(d, uint32_t(count));
    auto offset = [&](size_t value) {
        if (wide) {
            u32(d, uint32_t(value));
        } else {
            u16(d, uint32_t(value));
        }
    };
    size_t at = offsetSize * (count + 1); // the first shape, from the start of the offsets
    for (const SwfFontGlyph& g : glyphs) {
        offset(at);
        at += g.shape.size();
    }
    offset(at); // the code table
    for (const SwfFontGlyph& g : glyphs) {
        d.insert(d.end(), g.shape.begin(), g.shape.end());
    }
    for (const SwfFontGlyph& g : glyphs) {
        u16(d, g.code);
    }
    tag(DefineFont2, d);
    return id;
}

void SwfMovie::addFrame(const SwfBitmap& picture) {
    SwfPage page;
    page.width = picture.width;
    page.height = picture.height;
    page.picture = picture;
    addFrame(page);
}

namespace {

// A DefineText(2) of `text`: one text record where the font, size, colour or line changes, or
// where a record's 255 glyphs are full. Each glyph's advance takes the pen exactly to the next
// glyph's origin, so that rounding never adds up along a line.
std::vector<uint8_t> textTag(uint16_t id, const SwfText& text, double scaleX, double scaleY,
                             int32_t tx, int32_t ty, bool alpha) {
    std::vector<uint8_t> d;
    u16(d, id);
    Bits bounds;
    rect(bounds, text.xMin, std::max(text.xMin, text.xMax), text.yMin,
         std::max(text.yMin, text.yMax));
    append(d, bounds);
    Bits place;
    matrix(place, scaleX, scaleY, tx, ty);
    append(d, place);

    uint32_t maxIndex = 0;
    int advanceBits = 1;
    for (const SwfTextRun& run : text.runs) {
        for (size_t i = 0; i < run.glyphs.size(); ++i) {
            maxIndex = std::max<uint32_t>(maxIndex, run.glyphs[i].index);
            if (i + 1 < run.glyphs.size()) {
                advanceBits =
                    std::max(advanceBits, signedBits(run.glyphs[i + 1].x - run.glyphs[i].x));
            }
        }
    }
    const int glyphBits = std::max(1, unsignedBits(maxIndex));
    d.push_back(uint8_t(glyphBits));
    d.push_back(uint8_t(advanceBits));

    bool started = false;
    uint16_t font = 0, height = 0;
    uint32_t rgba = 0;
    int32_t y = 0;
    for (const SwfTextRun& run : text.runs) {
        size_t i = 0;
        while (i < run.glyphs.size()) {
            const uint16_t runFont = run.glyphs[i].font;
            size_t end = i + 1;
            while (end < run.glyphs.size() && end - i < 255 && run.glyphs[end].font == runFont) {
                ++end;
            }
            const bool newFont = !started || runFont != font || run.height != height;
            const bool newColor = !started || run.rgba != rgba;
            const bool newY = !started || run.y != y;
            d.push_back(uint8_t(0x80 | (newFont ? 0x08 : 0) | (newColor ? 0x04 : 0) |
                                (newY ? 0x02 : 0) | 0x01));
            if (newFont) {
                u16(d, runFont);
            }
            if (newColor) {
                d.push_back(uint8_t(run.rgba >> 24));
                d.push_back(uint8_t(run.rgba >> 16));
                d.push_back(uint8_t(run.rgba >> 8));
                if (alpha) {
                    d.push_back(uint8_t(run.rgba));
                }
            }
            u16(d, uint32_t(uint16_t(int16_t(run.glyphs[i].x))));
            if (newY) {
                u16(d, uint32_t(uint16_t(int16_t(run.y))));
            }
            if (newFont) {
                u16(d, run.height);
            }
            d.push_back(uint8_t(end - i));
            Bits entries;
            for (size_t k = i; k < end; ++k) {
                entries.put(run.glyphs[k].index, glyphBits);
                const int32_t advance = k + 1 < run.glyphs.size() && k + 1 < end
                                            ? run.glyphs[k + 1].x - run.glyphs[k].x
                                            : 0;
                entries.putSigned(advance, advanceBits);
            }
            entries.align();
            append(d, entries);
            started = true;
            font = runFont;
            height = run.height;
            rgba = run.rgba;
            y = run.y;
            i = end;
        }
    }
    d.push_back(0); // end of records
    return d;
}

} // namespace

void SwfMovie::addFrame(const SwfPage& page) {
    const int pixelWidth = std::max(1, page.width);
    const int pixelHeight = std::max(1, page.height);
    // Scaled to fit the stage, keeping its shape, centred.
    const double scale = std::min(double(m_width) / pixelWidth, double(m_height) / pixelHeight);
    const int32_t w = int32_t(std::lround(pixelWidth * scale * Twips));
    const int32_t h = int32_t(std::lround(pixelHeight * scale * Twips));
    const int32_t x = (m_width * Twips - w) / 2;
    const int32_t y = (m_height * Twips - h) / 2;

    // Each character the page places, with its depth: the picture at 1, the texts above it.
    std::vector<std::pair<uint16_t, int>> placed;
    if (page.picture) {
        const SwfBitmap& picture = *page.picture;
        const uint16_t bitmap = newId();
        std::vector<uint8_t> bits;
        u16(bits, bitmap);
        if (picture.kind == SwfBitmap::Kind::Mapped) {
            bits.push_back(3); // colour-mapped, 8 bits a pixel
            u16(bits, uint32_t(picture.width));
            u16(bits, uint32_t(picture.height));
            bits.push_back(uint8_t(picture.colors - 1));
        }
        bits.insert(bits.end(), picture.data.begin(), picture.data.end());
        tag(picture.kind == SwfBitmap::Kind::Mapped ? DefineBitsLossless : DefineBitsJPEG2, bits);

        // The bitmap's own pixels fill the page's box.
        const double fill = scale * pixelWidth / std::max(1, picture.width);
        const uint16_t shape = newId();
        std::vector<uint8_t> d;
        u16(d, shape);
        Bits bounds;
        rect(bounds, x, x + w, y, y + h);
        append(d, bounds);
        d.push_back(1);    // one fill style
        d.push_back(0x41); // clipped bitmap fill
        u16(d, bitmap);
        Bits fillMatrix;
        matrix(fillMatrix, fill * Twips, fill * Twips, x, y);
        append(d, fillMatrix);
        d.push_back(0);    // no line styles
        d.push_back(0x10); // 1 fill bit, 0 line bits
        Bits edges;
        polygon(edges, {{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}});
        append(d, edges);
        tag(DefineShape, d);
        placed.emplace_back(shape, 1);
    }
    for (const SwfText& text : page.texts) {
        if (text.runs.empty()) {
            continue;
        }
        bool alpha = false;
        for (const SwfTextRun& run : text.runs) {
            alpha = alpha || (run.rgba & 0xFF) != 0xFF;
        }
        const double unit = scale * Twips / text.unitsPerPixel;
        const uint16_t id = newId();
        tag(alpha ? DefineText2 : DefineText,
            textTag(id, text, unit * text.xScale, unit, x, y, alpha));
        placed.emplace_back(id, int(placed.size()) + (page.picture ? 1 : 2));
    }
    if (int(placed.size()) + 1 >= ViewerDepth) {
        throw std::runtime_error("too many texts on a page");
    }

    if (m_pendingShow) {
        tag(ShowFrame, {});
    }
    for (int depth = 1; depth <= m_pageDepths; ++depth) {
        std::vector<uint8_t> remove;
        u16(remove, uint32_t(depth));
        tag(RemoveObject2, remove);
    }
    m_pageDepths = 0;
    for (const auto& [character, depth] : placed) {
        std::vector<uint8_t> place;
        place.push_back(0x06); // has character, has matrix
        u16(place, uint32_t(depth));
        u16(place, character);
        Bits identity;
        matrix(identity, 1, 1, 0, 0);
        append(place, identity);
        tag(PlaceObject2, place);
        m_pageDepths = std::max(m_pageDepths, depth);
    }
    if (m_viewer && m_frames == 0) {
        tag(DoAction, {Stop, 0});
    }
    // The frame is shown once the next one begins or the movie ends, so that the last frame can
    // still receive the viewer's stop.
    m_pendingShow = true;
    ++m_frames;
}

void SwfMovie::finish(const std::string& path, bool compress) {
    if (m_viewer && m_frames > 1) {
        // The last page stays up once the movie has played through.
        tag(DoAction, {Stop, 0});
    }
    if (m_pendingShow) {
        tag(ShowFrame, {});
        m_pendingShow = false;
    }
    tag(End, {});
    if (std::fflush(m_body) != 0 || std::ferror(m_body)) {
        throw std::runtime_error("write failed");
    }
    const long bodySize = std::ftell(m_body);

    std::vector<uint8_t> head; // everything after the 8-byte header that precedes the tags
    Bits stage;
    rect(stage, 0, m_width * Twips, 0, m_height * Twips);
    append(head, stage);
    u16(head, m_rate);
    u16(head, uint32_t(m_frames));

    std::vector<uint8_t> header = {uint8_t(compress ? 'C' : 'F'), 'W', 'S', uint8_t(Version)};
    u32(header, uint32_t(8 + head.size() + size_t(bodySize)));

    pdftox::AtomicFile file(path);
    std::FILE* out = std::fopen(file.tempPath().c_str(), "wb");
    if (!out) {
        throw pdftox::WriteError("cannot create " + path, errno);
    }
    bool ok = std::fwrite(header.data(), 1, header.size(), out) == header.size();
    std::rewind(m_body);
    std::vector<unsigned char> in(1 << 16);
    std::vector<unsigned char> zbuf(1 << 16);
    z_stream z{};
    if (compress) {
        ok = ok && deflateInit(&z, 6) == Z_OK;
    }
    auto emit = [&](const unsigned char* data, size_t n, bool last) {
        if (!compress) {
            return n == 0 || std::fwrite(data, 1, n, out) == n;
        }
        z.next_in = const_cast<unsigned char*>(data);
        z.avail_in = uInt(n);
        do {
            z.next_out = zbuf.data();
            z.avail_out = uInt(zbuf.size());
            if (deflate(&z, last ? Z_FINISH : Z_NO_FLUSH) == Z_STREAM_ERROR) {
                return false;
            }
            const size_t produced = zbuf.size() - z.avail_out;
            if (std::fwrite(zbuf.data(), 1, produced, out) != produced) {
                return false;
            }
        } while (z.avail_out == 0);
        return true;
    };
    ok = ok && emit(head.data(), head.size(), false);
    size_t n = 0;
    while (ok && (n = std::fread(in.data(), 1, in.size(), m_body)) > 0) {
        ok = emit(in.data(), n, false);
    }
    ok = ok && emit(nullptr, 0, true);
    ok = ok && std::fflush(out) == 0;
    const int error = errno;
    if (compress) {
        deflateEnd(&z);
    }
    ok = std::fclose(out) == 0 && ok;
    if (!ok) {
        throw pdftox::WriteError("cannot write " + path, error);
    }
    file.commit();
}

} // namespace tools
