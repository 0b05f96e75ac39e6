#include "text_model.h"

#include "accent_composition.h"
#include "figures.h"

#include "image_writers.h"
#include "recognition.h"
#include "symbol_fonts.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <string_view>

namespace pdftox {
namespace {

constexpr int TwipsPerPoint = 20;

bool contains(const std::string& text, const char* word) {
    return text.find(word) != std::string::npos;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

// Family names that documents carry in PostScript form, and what a word processor calls them.
struct KnownFamily {
    const char* prefix; // lower case, spaces removed
    const char* family;
    FontClass cls;
};
const KnownFamily knownFamilies[] = {
    {"timesnewroman", "Times New Roman", FontClass::Roman},
    {"times", "Times New Roman", FontClass::Roman},
    {"nimbusrom", "Times New Roman", FontClass::Roman},
    {"arial", "Arial", FontClass::Swiss},
    {"helvetica", "Arial", FontClass::Swiss},
    {"nimbussans", "Arial", FontClass::Swiss},
    {"couriernew", "Courier New", FontClass::Modern},
    {"courier", "Courier New", FontClass::Modern},
    {"nimbusmono", "Courier New", FontClass::Modern},
    {"symbol", "Symbol", FontClass::Tech},
    // Their characters come as Unicode dingbats, which Wingdings does not hold.
    {"zapfdingbats", "Segoe UI Symbol", FontClass::Tech},
    {"dingbats", "Segoe UI Symbol", FontClass::Tech},
    {"cmtt", "Courier New", FontClass::Modern},
    {"cmss", "Arial", FontClass::Swiss},
    {"cm", "Times New Roman", FontClass::Roman}, // TeX's Computer Modern
    {"lmroman", "Times New Roman", FontClass::Roman},
    {"lmsans", "Arial", FontClass::Swiss},
    {"lmmono", "Courier New", FontClass::Modern},
};

// Words in family names that tell the kind of design, checked in this order: a "Letter Gothic"
// is a typewriter face, a "Gill Sans" no serif face. `start` words must begin the name (short
// ones that would be found inside others: "Palatino" holds "lato").
struct ClassHint {
    const char* word; // lower case, spaces removed
    bool start;
    FontClass cls;
};
const ClassHint classHints[] = {
    {"symbol", false, FontClass::Tech},       {"dingbat", false, FontClass::Tech},
    {"wingding", false, FontClass::Tech},     {"webding", false, FontClass::Tech},
    {"math", false, FontClass::Tech},         {"adobepi", true, FontClass::Tech},
    {"mtextra", true, FontClass::Tech},       {"mono", false, FontClass::Modern},
    {"typewriter", false, FontClass::Modern}, {"courier", false, FontClass::Modern},
    {"consol", false, FontClass::Modern},     {"lettergothic", false, FontClass::Modern},
    {"code", false, FontClass::Modern},       {"fixed", false, FontClass::Modern},
    {"menlo", true, FontClass::Modern},       {"monaco", true, FontClass::Modern},
    {"inconsolata", true, FontClass::Modern}, {"sans", false, FontClass::Swiss},
    {"gothic", false, FontClass::Swiss},      {"grotesk", false, FontClass::Swiss},
    {"grotesque", false, FontClass::Swiss},   {"calibri", true, FontClass::Swiss},
    {"verdana", true, FontClass::Swiss},      {"tahoma", true, FontClass::Swiss},
    {"segoe", true, FontClass::Swiss},        {"trebuchet", true, FontClass::Swiss},
    {"futura", true, FontClass::Swiss},       {"frutiger", true, FontClass::Swiss},
    {"universal", true, FontClass::Tech},     {"univers", true, FontClass::Swiss},
    {"myriad", true, FontClass::Swiss},       {"optima", true, FontClass::Swiss},
    {"avenir", true, FontClass::Swiss},       {"franklin", false, FontClass::Swiss},
    {"candara", true, FontClass::Swiss},      {"corbel", true, FontClass::Swiss},
    {"roboto", true, FontClass::Swiss},       {"lato", true, FontClass::Swiss},
    {"lucidagrande", true, FontClass::Swiss}, {"kozgo", true, FontClass::Swiss},
    {"gulim", true, FontClass::Swiss},        {"dotum", true, FontClass::Swiss},
    {"yahei", false, FontClass::Swiss},       {"serif", false, FontClass::Roman},
    {"roman", false, FontClass::Roman},       {"garamond", false, FontClass::Roman},
    {"caslon", false, FontClass::Roman},      {"baskerville", false, FontClass::Roman},
    {"bodoni", false, FontClass::Roman},      {"cambria", true, FontClass::Roman},
    {"georgia", true, FontClass::Roman},      {"palatino", false, FontClass::Roman},
    {"bookman", false, FontClass::Roman},     {"minion", true, FontClass::Roman},
    {"century", true, FontClass::Roman},      {"mincho", false, FontClass::Roman},
    {"kozmin", true, FontClass::Roman},       {"batang", true, FontClass::Roman},
};

std::optional<FontClass> classFromName(const std::string& key) {
    for (const ClassHint& hint : classHints) {
        const size_t at = key.find(hint.word);
        if (at != std::string::npos && (!hint.start || at == 0)) {
            return hint.cls;
        }
    }
    return std::nullopt;
}

const char* fallbackOf(FontClass cls) {
    switch (cls) {
    case FontClass::Swiss:
        return "Arial";
    case FontClass::Modern:
        return "Courier New";
    case FontClass::Tech:
        return "Symbol";
    case FontClass::Roman:
        break;
    }
    return "Times New Roman";
}

// "MinionPro" gives "Minion Pro"; runs of capitals stay together ("ITCFranklin" keeps "ITC").
std::string spaceCamelCase(const std::string& name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == '_' || c == '-') {
            out += ' ';
            continue;
        }
        if (i > 0 && std::isupper(static_cast<unsigned char>(c)) &&
            (std::islower(static_cast<unsigned char>(name[i - 1])) ||
             (i + 1 < name.size() && std::islower(static_cast<unsigned char>(name[i + 1])) &&
              std::isupper(static_cast<unsigned char>(name[i - 1]))))) {
            if (!out.empty() && out.back() != ' ') {
                out += ' ';
            }
        }
        out += c;
    }
    return out;
}

} // namespace

FontNameInfo describeFontName(const std::string& postscriptName, bool serif, bool mono) {
    FontNameInfo info;
    std::string name = postscriptName;
    // A subset prefix: six capitals and a plus sign.
    if (name.size() > 7 && name[6] == '+' &&
        std::all_of(name.begin(), name.begin() + 6,
                    [](unsigned char c) { return std::isupper(c); })) {
        name.erase(0, 7);
    }
    const std::string low = lower(name);
    info.bold = contains(low, "bold") || contains(low, "black") || contains(low, "heavy") ||
                contains(low, "semibold") || contains(low, "demi") || (low.rfind("cmb", 0) == 0) ||
                (low.rfind("cmbx", 0) == 0);
    info.italic = contains(low, "italic") || contains(low, "oblique") || contains(low, "slanted") ||
                  low.rfind("cmti", 0) == 0 || low.rfind("cmmi", 0) == 0 ||
                  low.rfind("cmsl", 0) == 0 ||
                  (low.size() > 2 && (low.ends_with("-it") || low.ends_with(",it")));

    // The family is what stands before the style part.
    std::string family = name.substr(0, name.find_first_of("-,"));
    for (const char* suffix : {"PSMT", "MT", "PS"}) {
        if (family.size() > std::strlen(suffix) + 2 && family.ends_with(suffix)) {
            family.resize(family.size() - std::strlen(suffix));
            break;
        }
    }
    std::string key = lower(family);
    key.erase(std::remove(key.begin(), key.end(), ' '), key.end());
    for (const KnownFamily& known : knownFamilies) {
        if (key.rfind(known.prefix, 0) == 0) {
            info.face.family = known.family;
            info.face.cls = known.cls;
            info.face.fallback = fallbackOf(known.cls);
            return info;
        }
    }
    info.face.cls = classFromName(key).value_or(
        mono ? FontClass::Modern : (serif ? FontClass::Roman : FontClass::Swiss));
    info.face.family = family.empty() ? fallbackOf(info.face.cls) : spaceCamelCase(family);
    info.face.fallback = fallbackOf(info.face.cls);
    return info;
}

namespace {

struct StyleKey {
    fz_font* font;
    int halfPoints;
    uint32_t color;
    int shift = 0; // 1 superscript, -1 subscript
    bool operator==(const StyleKey&) const = default;
};

Run runFor(fz_context* ctx, const StyleKey& key) {
    Run run;
    const char* name = key.font ? fz_font_name(ctx, key.font) : "";
    const bool serif = key.font && fz_font_is_serif(ctx, key.font);
    const bool mono = key.font && fz_font_is_monospaced(ctx, key.font);
    const FontNameInfo info = describeFontName(name ? name : "", serif, mono);
    run.face = info.face;
    if (const char* family = mappedSymbolFamily(symbolFamilyOf(name))) {
        // Its characters are Unicode now, which the symbol font itself does not hold.
        run.face = FontFace{
            family, std::string(family) == "Times New Roman" ? FontClass::Roman : FontClass::Tech,
            family};
    }
    run.bold = info.bold || (key.font && fz_font_is_bold(ctx, key.font));
    run.italic = info.italic || (key.font && fz_font_is_italic(ctx, key.font));
    run.halfPoints = key.halfPoints;
    run.color = key.color;
    run.shift = key.shift;
    return run;
}

// One character of a printed line, with its style and horizontal extent.
struct Glyph {
    char32_t c;
    StyleKey style;
    float size;
    float x0;
    float x1;
    float baseline;
};

// One printed line. MuPDF's lines are used as they are, except that pieces of one line that it
// keeps apart ("1." and "Introduction" of a numbered heading) are put together again.
struct TextLine {
    std::vector<Glyph> glyphs;
    std::vector<fz_font*> fonts; // the fonts of its visible characters
    float x0 = 0;                // extent of the visible characters
    float x1 = 0;
    float y0 = 0;
    float y1 = 0;
    float baseline = 0; // of the characters in its main size: a raised footnote mark aside
    float size = 0;     // the size most of its characters have
    int block = 0;      // MuPDF's text block it comes from
    bool horizontal = true;
    bool tabular = false; // words far apart on it, as in a table's row
};

bool isBlank(char32_t c) {
    return c == U' ' || c == U'\t' || c == 0xA0;
}

bool isLetter(char32_t c) {
    return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') ||
           (c >= 0xC0 && c != 0xD7 && c != 0xF7 && !(c >= 0x2000 && c <= 0x2BFF) &&
            !(c >= 0x3000 && c <= 0x303F));
}

bool isLower(char32_t c) {
    return (c >= U'a' && c <= U'z') || (c >= 0xDF && c <= 0xFF && c != 0xF7) ||
           (c >= 0x3B1 && c <= 0x3C9) || (c >= 0x430 && c <= 0x45F);
}

// Chinese and Japanese script, written without spaces between words (Korean has them).
bool isCjk(char32_t c) {
    return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFFEF) ||
           (c >= 0x20000 && c <= 0x3FFFF);
}

bool isSentenceEnd(char32_t c) {
    return c == U'.' || c == U'!' || c == U'?' || c == U':' || c == U';' || c == 0x2026 ||
           c == 0x3002 || c == 0xFF01 || c == 0xFF1F || c == 0xFF1A || c == 0xFF1B || c == 0xFF0E;
}

// Sizes, fonts and extents are derived from the characters once they are all in.
void finishLine(TextLine& line) {
    std::map<int, int> sizes; // tenths of a point, characters
    line.fonts.clear();
    bool any = false;
    for (const Glyph& g : line.glyphs) {
        if (isBlank(g.c)) {
            continue;
        }
        ++sizes[int(std::lround(g.size * 10))];
        if (std::find(line.fonts.begin(), line.fonts.end(), g.style.font) == line.fonts.end()) {
            line.fonts.push_back(g.style.font);
        }
        line.x0 = any ? std::min(line.x0, g.x0) : g.x0;
        line.x1 = any ? std::max(line.x1, g.x1) : g.x1;
        any = true;
    }
    int most = 0;
    for (const auto& [tenths, count] : sizes) {
        if (count > most) {
            most = count;
            line.size = tenths / 10.0f;
        }
    }
    if (line.size <= 0) {
        line.size = 10;
    }
    line.tabular = false;
    const Glyph* previous = nullptr;
    for (const Glyph& g : line.glyphs) {
        if (isBlank(g.c)) {
            continue;
        }
        if (previous && g.x0 - previous->x1 > 6 * line.size) {
            line.tabular = true;
        }
        previous = &g;
    }
    line.baseline = line.glyphs.empty() ? line.y1 : line.glyphs.front().baseline;
    for (const Glyph& g : line.glyphs) {
        if (!isBlank(g.c) && std::lround(g.size * 10) == std::lround(line.size * 10)) {
            line.baseline = g.baseline;
            break;
        }
    }
}

// An accent drawn as a glyph of its own over (or under) the letter beside it, as TeX sets "ï"
// (a diaeresis over a dotless i), becomes the one composed character, so that the word reads
// and searches as it is written. The accent must cover the middle of the letter: glyphs side by
// side never do.
void composeAccents(std::vector<Glyph>& glyphs) {
    for (size_t i = 0; i < glyphs.size(); ++i) {
        const Glyph accent = glyphs[i];
        if (!isSpacingAccent(accent.c)) {
            continue;
        }
        for (const size_t j : {i + 1, i - 1}) {
            if (j >= glyphs.size()) { // also i - 1 for i = 0
                continue;
            }
            Glyph& base = glyphs[j];
            const float middle = (base.x0 + base.x1) / 2;
            const char32_t composed = composeAccent(accent.c, base.c);
            if (composed && accent.x0 <= middle && middle <= accent.x1 && base.x1 > base.x0) {
                base.c = composed;
                glyphs.erase(glyphs.begin() + std::ptrdiff_t(i));
                --i;
                break;
            }
        }
    }
}

// How the page's symbol fonts give their characters: their family, and whether they have shown
// ASCII letters, which only their own codes are.
struct SymbolCodes {
    SymbolFamily family = SymbolFamily::None;
    bool ownLatin = false;
};
using SymbolFontsOfPage = std::map<fz_font*, SymbolCodes>;

SymbolFontsOfPage symbolFontsOf(fz_context* ctx, const std::vector<const fz_stext_block*>& blocks) {
    SymbolFontsOfPage fonts;
    for (const fz_stext_block* block : blocks) {
        if (block->type != FZ_STEXT_BLOCK_TEXT) {
            continue;
        }
        for (const fz_stext_line* line = block->u.t.first_line; line; line = line->next) {
            for (const fz_stext_char* ch = line->first_char; ch; ch = ch->next) {
                if (!ch->font) {
                    continue;
                }
                auto [it, added] = fonts.emplace(ch->font, SymbolCodes{});
                if (added) {
                    it->second.family = symbolFamilyOf(fz_font_name(ctx, ch->font));
                }
                const bool letter =
                    (ch->c >= 'A' && ch->c <= 'Z') || (ch->c >= 'a' && ch->c <= 'z');
                it->second.ownLatin = it->second.ownLatin || letter;
            }
        }
    }
    return fonts;
}

TextLine readLine(const fz_stext_line* line, int block, const SymbolFontsOfPage& symbols) {
    TextLine out;
    out.block = block;
    out.y0 = line->bbox.y0;
    out.y1 = line->bbox.y1;
    out.x0 = line->bbox.x0;
    out.x1 = line->bbox.x1;
    out.horizontal = line->wmode == 0 && std::fabs(line->dir.y) < 0.1f && line->dir.x > 0;
    for (const fz_stext_char* ch = line->first_char; ch; ch = ch->next) {
        char32_t c = char32_t(ch->c);
        if (const auto symbol = symbols.find(ch->font); symbol != symbols.end()) {
            c = symbolCharacter(symbol->second.family, c, symbol->second.ownLatin);
        }
        const fz_rect box = fz_rect_from_quad(ch->quad);
        // A damaged page may place a glyph nowhere: it has no place in the text either.
        if (c == 0 || c == 0xFFFD || !std::isfinite(box.x0) || !std::isfinite(box.x1) ||
            !std::isfinite(ch->origin.y) || !std::isfinite(ch->size)) {
            continue;
        }
        out.glyphs.push_back({c,
                              StyleKey{ch->font, std::max(2, int(std::lround(ch->size * 2))),
                                       uint32_t(ch->color) & 0xFFFFFFu},
                              ch->size, box.x0, box.x1, ch->origin.y});
    }
    composeAccents(out.glyphs);
    finishLine(out);
    return out;
}

// Two pieces of one printed line: on the same baseline, the second after the first, shortly
// after it or in the same block of MuPDF's (which keeps columns apart; the words of a widely
// spaced justified line can stand further apart than two columns).
bool sameLine(const TextLine& a, const TextLine& b) {
    const float size = std::max(a.size, b.size);
    const float gap = b.x0 - a.x1;
    return a.horizontal && b.horizontal && std::fabs(a.baseline - b.baseline) < 0.25f * size &&
           gap >= -0.5f && (gap < 1.5f * size || (a.block == b.block && gap < 6 * size));
}

void appendPiece(TextLine& a, TextLine&& b) {
    if (!a.glyphs.empty() && !isBlank(a.glyphs.back().c) && !b.glyphs.empty() &&
        !isBlank(b.glyphs.front().c)) {
        const Glyph& last = a.glyphs.back();
        a.glyphs.push_back({U' ', last.style, last.size, a.x1, b.x0, last.baseline});
    }
    a.glyphs.insert(a.glyphs.end(), b.glyphs.begin(), b.glyphs.end());
    a.y0 = std::min(a.y0, b.y0);
    a.y1 = std::max(a.y1, b.y1);
    finishLine(a);
}

bool overlapAcross(const TextLine& a, const TextLine& b) {
    return b.x0 < a.x1 && b.x1 > a.x0;
}

bool shareFont(const TextLine& a, const TextLine& b) {
    return std::any_of(a.fonts.begin(), a.fonts.end(), [&](fz_font* f) {
        return std::find(b.fonts.begin(), b.fonts.end(), f) != b.fonts.end();
    });
}

// The usual distance between the baselines of two lines of one paragraph, per text size, as
// the page sets it most often; 0 where the page has no two such lines.
class Leading {
public:
    explicit Leading(const std::vector<std::variant<TextLine, Picture>>& flow) {
        std::map<int, std::map<int, int>> steps; // size, step in quarter points, how often
        for (size_t i = 1; i < flow.size(); ++i) {
            const auto* a = std::get_if<TextLine>(&flow[i - 1]);
            const auto* b = std::get_if<TextLine>(&flow[i]);
            if (!a || !b) {
                continue;
            }
            const float step = b->baseline - a->baseline;
            if (a->horizontal && b->horizontal && std::fabs(a->size - b->size) <= 0.25f &&
                overlapAcross(*a, *b) && step > 0.8f * a->size && step < 3 * a->size) {
                ++steps[key(a->size)][int(std::lround(step * 4))];
            }
        }
        for (const auto& [size, counts] : steps) {
            int most = 0;
            for (const auto& [quarters, count] : counts) {
                if (count > most) {
                    most = count;
                    m_usual[size] = quarters / 4.0f;
                }
            }
        }
    }
    /// The step from line to line that text of `size` is set with on this page; 0 when no two
    /// lines of that size follow each other.
    float usual(float size) const {
        const auto it = m_usual.find(key(size));
        return it == m_usual.end() ? 0 : it->second;
    }
    // A step to the next line longer than this is a gap between paragraphs.
    float gapAbove(float size) const {
        const auto it = m_usual.find(key(size));
        if (it == m_usual.end()) {
            return 1.5f * size;
        }
        return it->second + std::max(0.25f * it->second, 2.0f);
    }

private:
    static int key(float size) { return int(std::lround(size * 4)); }
    std::map<int, float> m_usual;
};

bool continuesStack(const TextLine& a, const TextLine& b, const Leading& leading) {
    const float step = b.baseline - a.baseline;
    return a.horizontal && b.horizontal && step > 0.5f * a.size &&
           step <= leading.gapAbove(a.size) && std::fabs(a.size - b.size) < 0.1f &&
           overlapAcross(a, b);
}

// The width of the first word of a line: whether it would have fitted at the end of the line
// before tells a line that was ended on purpose from one that was full.
float firstWordWidth(const TextLine& line) {
    float start = 0;
    float end = 0;
    bool started = false;
    for (const Glyph& g : line.glyphs) {
        if (isBlank(g.c)) {
            if (started) {
                break;
            }
            continue;
        }
        if (!started) {
            start = g.x0;
            started = true;
        }
        end = g.x1;
        // Chinese and Japanese lines may break after any character.
        if (isCjk(g.c)) {
            break;
        }
    }
    return std::max(0.0f, end - start);
}

char32_t firstVisible(const TextLine& line) {
    for (const Glyph& g : line.glyphs) {
        if (!isBlank(g.c)) {
            return g.c;
        }
    }
    return 0;
}

char32_t lastVisible(const TextLine& line) {
    for (auto it = line.glyphs.rbegin(); it != line.glyphs.rend(); ++it) {
        if (!isBlank(it->c)) {
            return it->c;
        }
    }
    return 0;
}

bool isBullet(char32_t c) {
    return c == 0x2022 || c == 0x25E6 || c == 0x25AA || c == 0x2023 || c == 0x2219 || c == 0x25CF ||
           c == 0x25A0 || c == 0xB7;
}

bool isClosing(char32_t c) {
    return c == U')' || c == U']' || c == U'"' || c == U'\'' || c == 0x201D || c == 0x2019 ||
           c == 0xBB;
}

// Whether a line ends a sentence: . ! ? : ; or … , maybe followed by closing quotes and
// brackets and a footnote mark.
bool endsSentence(const TextLine& line) {
    size_t end = line.glyphs.size();
    while (end > 0 && isBlank(line.glyphs[end - 1].c)) {
        --end;
    }
    auto isMark = [](char32_t c) {
        return (c >= U'0' && c <= U'9') || c == U'*' || c == 0x2217 || c == 0x2020;
    };
    size_t marks = end;
    while (marks > 0 && isMark(line.glyphs[marks - 1].c)) {
        --marks;
    }
    if (marks < end && marks > 0 &&
        (isClosing(line.glyphs[marks - 1].c) || isSentenceEnd(line.glyphs[marks - 1].c))) {
        end = marks;
    }
    while (end > 0 && isClosing(line.glyphs[end - 1].c)) {
        --end;
    }
    return end > 0 && isSentenceEnd(line.glyphs[end - 1].c);
}

bool endsWithHyphen(const TextLine& line) {
    const char32_t c = lastVisible(line);
    return c == U'-' || c == 0xAD || c == 0x2010;
}

// Lines that follow each other closely, in one size and font, in one column. Their common left
// and right edges tell how they are aligned.
struct Stack {
    size_t first = 0;
    size_t end = 0; // one past the last line
    float left = 0;
    float right = 0;
    float tolerance = 1;
    Alignment alignment = Alignment::Left;
};

// Where the text of the page lies: single lines are centred or set right against it.
struct Frame {
    float left = 0;
    float right = 0;
};

Alignment alignmentOf(const std::vector<TextLine>& lines, const Stack& s, const Frame& frame) {
    const size_t n = s.end - s.first;
    const float middle = (s.left + s.right) / 2;
    if (n == 1) {
        const TextLine& line = lines[s.first];
        const float width = frame.right - frame.left;
        const float tolerance = std::max(s.tolerance, 0.02f * width);
        if (std::fabs((line.x0 + line.x1) / 2 - (frame.left + frame.right) / 2) < tolerance &&
            line.x0 > frame.left + 2 * line.size) {
            return Alignment::Center;
        }
        if (frame.right - line.x1 < s.tolerance && line.x1 - line.x0 < 0.35f * width) {
            return Alignment::Right;
        }
        return Alignment::Left;
    }
    size_t left = 0;
    size_t right = 0;
    size_t centred = 0;
    std::map<int, size_t> indents; // lines per indent, in tolerances
    for (size_t i = s.first; i < s.end; ++i) {
        const float indent = lines[i].x0 - s.left;
        left += indent < s.tolerance;
        right += s.right - lines[i].x1 < s.tolerance;
        centred += std::fabs((lines[i].x0 + lines[i].x1) / 2 - middle) < s.tolerance;
        if (indent >= s.tolerance && indent < 6 * lines[i].size) {
            ++indents[int(std::lround(indent / s.tolerance))];
        }
    }
    // Text set from the left starts its lines at two places at most: the margin and one indent
    // (of first lines, or of the later lines of list items). Text set right starts anywhere.
    size_t atIndent = 0;
    if (n >= 4) {
        for (const auto& [at, count] : indents) {
            const auto near = indents.find(at + 1);
            atIndent = std::max(atIndent, count + (near == indents.end() ? 0 : near->second));
        }
    }
    const auto most = [n](size_t count) { return count * 10 >= n * 6; };
    if (right >= 3 && most(right) && most(left + atIndent)) {
        return Alignment::Justify;
    }
    if (most(left + atIndent) && (!most(right) || left >= right)) {
        return Alignment::Left;
    }
    if (most(left)) {
        return Alignment::Left;
    }
    if (most(right)) {
        return Alignment::Right;
    }
    if (most(centred)) {
        return Alignment::Center;
    }
    return Alignment::Left;
}

// Room left on line `i` by its alignment: where the next word would have gone. The edges are
// those of the lines just above it (of the first four lines, at the top of a stack), so that
// text set narrower beside a picture is measured against its own edge.
float roomAfter(const std::vector<TextLine>& lines, size_t i, const Stack& s) {
    size_t from = i > s.first + 3 ? i - 3 : s.first;
    size_t to = std::max(i, std::min(s.end - 1, s.first + 3));
    float left = lines[i].x0;
    float right = lines[i].x1;
    float widest = 0;
    for (size_t k = from; k <= to; ++k) {
        left = std::min(left, lines[k].x0);
        right = std::max(right, lines[k].x1);
        widest = std::max(widest, lines[k].x1 - lines[k].x0);
    }
    const TextLine& line = lines[i];
    switch (s.alignment) {
    case Alignment::Right:
        return line.x0 - left;
    case Alignment::Center:
        return widest - (line.x1 - line.x0);
    case Alignment::Left:
    case Alignment::Justify:
        break;
    }
    return right - line.x1;
}

// Whether line `i` was ended on purpose: the first word of the next line would have fitted in
// the room it leaves. A line that ends in a hyphen was full.
bool endedShort(const std::vector<TextLine>& lines, size_t i, const Stack& s) {
    const TextLine& a = lines[i];
    const TextLine& b = lines[i + 1];
    // Chinese and Japanese lines come out a character or two short where the rules for line
    // breaks keep characters together; a line ended on purpose leaves more.
    const float need =
        isCjk(firstVisible(b)) ? 3 * firstWordWidth(b) : firstWordWidth(b) + 0.3f * b.size;
    return !endsWithHyphen(a) && need + s.tolerance < roomAfter(lines, i, s);
}

// The line ranges of the paragraphs of a stack. A paragraph ends at a line ended on purpose, at
// a row of a table (a line with words far apart), at
// a change of font after a line that ends a sentence (a full line in another font in the middle
// of a sentence, an italic lead-in, runs on), before a bullet, and, in text set from the left,
// where a line starts at the place where the stack's paragraphs start: indented after a flush
// line for first-line indents, flush after an indented line for hanging indents (lists,
// references).
std::vector<std::pair<size_t, size_t>> paragraphsOf(const std::vector<TextLine>& lines,
                                                    const Stack& s) {
    const bool fromLeft = s.alignment == Alignment::Left || s.alignment == Alignment::Justify;
    auto indented = [&](const TextLine& line) {
        return line.x0 - s.left > std::max(2 * s.tolerance, 0.5f * line.size);
    };
    // A full line followed by a differently indented one tells which kind of indent it is: an
    // indented first line that goes on flush, or a flush line that goes on indented in the
    // middle of a sentence.
    int firstLineIndents = 0;
    int hangingIndents = 0;
    for (size_t i = s.first + 1; i < s.end; ++i) {
        const TextLine& a = lines[i - 1];
        const TextLine& b = lines[i];
        if (endedShort(lines, i - 1, s) || indented(a) == indented(b)) {
            continue;
        }
        if (indented(a)) {
            ++firstLineIndents;
        } else if (!endsSentence(a)) {
            ++hangingIndents;
        }
    }
    const bool hanging = hangingIndents > firstLineIndents;

    std::vector<std::pair<size_t, size_t>> out;
    size_t start = s.first;
    for (size_t i = s.first + 1; i < s.end; ++i) {
        const TextLine& a = lines[i - 1];
        const TextLine& b = lines[i];
        bool ends = endedShort(lines, i - 1, s) || isBullet(firstVisible(b)) || a.tabular ||
                    b.tabular || (!shareFont(a, b) && endsSentence(a)) ||
                    (fromLeft && hanging && !indented(b));
        // An indented line after a full flush one starts a paragraph where that one ends a
        // sentence, but not as the second line of a bullet item.
        if (fromLeft && !hanging && indented(b) && !indented(a) && endsSentence(a) &&
            !(isBullet(firstVisible(lines[start])) && b.x0 > lines[start].x0)) {
            ends = true;
        }
        if (ends) {
            out.emplace_back(start, i);
            start = i;
        }
    }
    out.emplace_back(start, s.end);
    return out;
}

// A character smaller than its line's text and raised above its baseline is a superscript (a
// footnote mark, an exponent); smaller and lowered, a subscript.
int shiftOf(const Glyph& g, const TextLine& line) {
    if (isBlank(g.c) || g.size > 0.9f * line.size) {
        return 0;
    }
    const float rise = line.baseline - g.baseline; // page coordinates grow downwards
    if (rise > 0.15f * line.size) {
        return 1;
    }
    if (rise < -0.1f * line.size) {
        return -1;
    }
    return 0;
}

void appendGlyph(fz_context* ctx, Paragraph& para, StyleKey& current, const Glyph& g,
                 const TextLine& line) {
    StyleKey style = g.style;
    style.shift = shiftOf(g, line);
    // A word processor shrinks a superscript itself: it is given the size of its line.
    if (style.shift != 0) {
        style.halfPoints = std::max(2, int(std::lround(line.size * 2)));
    }
    if (para.runs.empty() || !(style == current)) {
        para.runs.push_back(runFor(ctx, style));
        current = style;
    }
    para.runs.back().text.push_back(g.c);
}

void trimEnd(std::vector<Run>& runs) {
    while (!runs.empty()) {
        std::u32string& text = runs.back().text;
        while (!text.empty() && isBlank(text.back())) {
            text.pop_back();
        }
        if (!text.empty()) {
            return;
        }
        runs.pop_back();
    }
}

bool isLeaderDot(char32_t c) {
    return c == U'.' || c == 0xB7 || c == 0x2026 || c == 0x2024 || c == 0x22C5;
}

// A dot leader, the row of dots (spaced or not) that leads the eye from a label to its value,
// becomes one tab that the word processor fills with dots up to the margin; set as characters
// it breaks into lines of dots of its own wherever the word processor's text runs wider or
// narrower than the page's. Four dots at least: an ellipsis stays.
bool collapseLeaders(std::vector<Run>& runs) {
    bool any = false;
    for (Run& run : runs) {
        std::u32string& text = run.text;
        std::u32string out;
        out.reserve(text.size());
        size_t i = 0;
        while (i < text.size()) {
            if (!isLeaderDot(text[i])) {
                out.push_back(text[i++]);
                continue;
            }
            size_t end = i;
            int dots = 0;
            size_t lastDot = i;
            while (end < text.size() && (isLeaderDot(text[end]) || isBlank(text[end]))) {
                if (isLeaderDot(text[end])) {
                    dots += text[end] == 0x2026 ? 3 : 1;
                    lastDot = end;
                }
                ++end;
            }
            if (dots < 4) {
                out.append(text, i, lastDot + 1 - i);
                i = lastDot + 1;
                continue;
            }
            while (!out.empty() && isBlank(out.back())) {
                out.pop_back();
            }
            out.push_back(U'\t');
            any = true;
            i = end;
        }
        text = std::move(out);
    }
    return any;
}

// What goes between the end of one line and the start of the next in a paragraph: a hyphen
// that splits a word ("Arm-" "strong") goes away, a dash or hyphen that stays joins without a
// space, as do Chinese and Japanese characters; anything else gets a space.
void joinAtLineEnd(std::vector<Run>& runs, char32_t next) {
    trimEnd(runs);
    if (runs.empty()) {
        return;
    }
    std::u32string& text = runs.back().text;
    const char32_t last = text.back();
    const char32_t before = text.size() > 1 ? text[text.size() - 2] : 0;
    if (last == 0xAD || ((last == U'-' || last == 0x2010) && isLetter(before) && isLower(next))) {
        text.pop_back();
        if (text.empty()) {
            runs.pop_back();
        }
        return;
    }
    if (last == U'-' || last == 0x2010 || last == 0x2013 || last == 0x2014 || last == U'/' ||
        isCjk(last) || isCjk(next)) {
        return;
    }
    text.push_back(U' ');
}

// A paragraph with what is needed to find its continuation in the next column.
struct Built {
    std::variant<Paragraph, Picture, Table> item;
    bool open = false;         // ends a column with a full line and no sentence end
    bool continuation = false; // starts a column, not indented, like the rest of a sentence
    float size = 0;
    float x0 = 0;
    float x1 = 0;
    float y0 = 0;
    float firstBaseline = 0;
    float lastBaseline = 0;
    std::vector<fz_font*> fonts;
    char32_t firstChar = 0;
};

Built buildParagraph(fz_context* ctx, const std::vector<TextLine>& lines, const Stack& s,
                     size_t first, size_t end) {
    Built built;
    Paragraph para;
    StyleKey current{nullptr, 0, 0};
    for (size_t i = first; i < end; ++i) {
        const TextLine& line = lines[i];
        const char32_t next = firstVisible(line);
        if (i > first) {
            joinAtLineEnd(para.runs, next);
        }
        bool leading = true;
        for (const Glyph& g : line.glyphs) {
            if (leading && isBlank(g.c)) {
                continue;
            }
            leading = false;
            appendGlyph(ctx, para, current, g, line);
        }
    }
    trimEnd(para.runs);
    para.leader = collapseLeaders(para.runs);
    trimEnd(para.runs);
    para.alignment = s.alignment;
    const bool fromLeft = s.alignment == Alignment::Left || s.alignment == Alignment::Justify;
    if (fromLeft) {
        float rest = s.left;
        if (end - first > 1) {
            rest = lines[first + 1].x0;
            for (size_t i = first + 2; i < end; ++i) {
                rest = std::min(rest, lines[i].x0);
            }
        }
        const float indent = lines[first].x0 - rest;
        if (std::fabs(indent) >= std::max(2 * s.tolerance, 0.5f * lines[first].size)) {
            para.firstIndentTwips = int(std::lround(indent * TwipsPerPoint));
        }
    }
    para.spaced = end == s.end;

    const TextLine& head = lines[first];
    const TextLine& tail = lines[end - 1];
    built.open = end == s.end && fromLeft && (endsWithHyphen(tail) || !endsSentence(tail)) &&
                 s.right - tail.x1 < 2 * tail.size && s.end - s.first > 1;
    // The rest of a sentence starts in lower case or fills its first line; a table's head row
    // or a caption at the top of a column does neither.
    built.continuation = first == s.first && fromLeft && head.x0 - s.left < s.tolerance &&
                         (isLower(firstVisible(head)) || end - first > 1);
    built.size = head.size;
    built.x0 = s.left;
    built.x1 = s.right;
    built.y0 = head.y0;
    built.firstBaseline = head.baseline;
    built.lastBaseline = tail.baseline;
    built.fonts = head.fonts;
    built.firstChar = firstVisible(head);
    built.item = std::move(para);
    return built;
}

// Where the paragraph at `i` goes on: the first paragraph of the same size after it, past
// smaller text and pictures, when that one starts a column of the same width flush at its left.
std::optional<size_t> continuationOf(const std::vector<Built>& built, size_t i) {
    const Built& open = built[i];
    for (size_t j = i + 1; j < built.size() && j <= i + 4; ++j) {
        const Built& next = built[j];
        if (!std::holds_alternative<Paragraph>(next.item) || next.size < open.size - 0.25f) {
            continue;
        }
        const float width = open.x1 - open.x0;
        const bool otherColumn = next.x0 >= open.x1 - open.size || next.y0 < open.y0;
        const bool sameFont = std::any_of(next.fonts.begin(), next.fonts.end(), [&](fz_font* f) {
            return std::find(open.fonts.begin(), open.fonts.end(), f) != open.fonts.end();
        });
        if (next.continuation && otherColumn && sameFont &&
            std::fabs(next.size - open.size) < 0.1f &&
            std::fabs((next.x1 - next.x0) - width) < 0.2f * width) {
            return j;
        }
        return std::nullopt;
    }
    return std::nullopt;
}

// A paragraph that runs to the bottom of one column and on at the top of the next becomes one;
// what stood between (footnotes, pictures) follows it.
void joinColumns(std::vector<Built>& built) {
    size_t i = 0;
    while (i < built.size()) {
        const std::optional<size_t> j =
            built[i].open && std::holds_alternative<Paragraph>(built[i].item)
                ? continuationOf(built, i)
                : std::nullopt;
        if (!j) {
            ++i;
            continue;
        }
        Built& next = built[*j];
        Paragraph& into = std::get<Paragraph>(built[i].item);
        Paragraph& from = std::get<Paragraph>(next.item);
        joinAtLineEnd(into.runs, next.firstChar);
        into.runs.insert(into.runs.end(), std::make_move_iterator(from.runs.begin()),
                         std::make_move_iterator(from.runs.end()));
        into.spaced = from.spaced;
        // The joined paragraph may run on into a third column.
        built[i].open = next.open;
        built[i].x0 = next.x0;
        built[i].x1 = next.x1;
        built[i].y0 = next.y0;
        built[i].lastBaseline = next.lastBaseline;
        built.erase(built.begin() + std::ptrdiff_t(*j));
    }
}

// Pictures are kept at no more than this resolution on the page: enough for print, and a
// 600 dpi scan does not make a document of hundreds of megabytes.
constexpr double PictureDpi = 200;
constexpr int64_t MaxPassedJpegPixels = 50'000'000;

bool isPhoto(fz_context* ctx, fz_image* image) {
    fz_compressed_buffer* compressed = fz_compressed_image_buffer(ctx, image);
    return compressed &&
           (compressed->params.type == FZ_IMAGE_JPEG || compressed->params.type == FZ_IMAGE_JPX);
}

// The picture's pixels as RGB on white: its colour space converted, its soft mask or stencil
// applied, as a reader would see it on the page.
std::vector<uint8_t> flattenOnWhite(fz_context* ctx, fz_image* image, int wantW, int wantH,
                                    int* outW, int* outH) {
    // MuPDF takes the wanted size from the matrix, and then decodes at the nearest halving
    // above it, reading the samples row by row: a huge picture is never held whole.
    const fz_matrix drawn = fz_scale(float(wantW), float(wantH));
    fz_pixmap* raw = nullptr;
    guarded(ctx, [&] {
        fz_matrix ctm = drawn;
        raw = fz_get_pixmap_from_image(ctx, image, nullptr, &ctm, nullptr, nullptr);
    });
    PixmapPtr pix(raw, {ctx});
    const bool stencil = image->imagemask || !fz_pixmap_colorspace(ctx, raw);
    if (!stencil && fz_pixmap_colorspace(ctx, raw) != fz_device_rgb(ctx)) {
        fz_pixmap* rgb = nullptr;
        guarded(ctx, [&] {
            rgb = fz_convert_pixmap(ctx, raw, fz_device_rgb(ctx), nullptr, nullptr,
                                    fz_default_color_params, 1);
        });
        pix.reset(rgb);
    }
    PixmapPtr mask(nullptr, {ctx});
    if (image->mask) {
        fz_pixmap* m = nullptr;
        guarded(ctx, [&] {
            fz_matrix ctm = drawn;
            m = fz_get_pixmap_from_image(ctx, image->mask, nullptr, &ctm, nullptr, nullptr);
        });
        mask.reset(m);
    }

    const int w = fz_pixmap_width(ctx, pix.get());
    const int h = fz_pixmap_height(ctx, pix.get());
    const int n = fz_pixmap_components(ctx, pix.get());
    const bool alpha = fz_pixmap_alpha(ctx, pix.get());
    const ptrdiff_t stride = fz_pixmap_stride(ctx, pix.get());
    const uint8_t* samples = fz_pixmap_samples(ctx, pix.get());
    std::vector<uint8_t> rgb(size_t(w) * size_t(h) * 3);
    const int mw = mask ? fz_pixmap_width(ctx, mask.get()) : 0;
    const int mh = mask ? fz_pixmap_height(ctx, mask.get()) : 0;
    const int mn = mask ? fz_pixmap_components(ctx, mask.get()) : 0;
    const ptrdiff_t mstride = mask ? fz_pixmap_stride(ctx, mask.get()) : 0;
    const uint8_t* msamples = mask ? fz_pixmap_samples(ctx, mask.get()) : nullptr;

    for (int y = 0; y < h; ++y) {
        const uint8_t* row = samples + stride * y;
        uint8_t* out = rgb.data() + size_t(y) * size_t(w) * 3;
        for (int x = 0; x < w; ++x) {
            const uint8_t* px = row + size_t(x) * size_t(n);
            int r, g, b, a;
            if (stencil) {
                // A stencil paints where its alpha is set, in the text colour: black.
                r = g = b = 0;
                a = px[n - 1];
            } else {
                r = px[0];
                g = px[1];
                b = px[2];
                a = alpha ? px[n - 1] : 255;
                if (alpha && a > 0 && a < 255) {
                    // Samples of a pixmap with alpha are premultiplied.
                    r = r * 255 / a;
                    g = g * 255 / a;
                    b = b * 255 / a;
                }
            }
            if (msamples) {
                const int mx = int(int64_t(x) * mw / w);
                const int my = int(int64_t(y) * mh / h);
                a = a * msamples[size_t(mstride) * size_t(my) + size_t(mx) * size_t(mn)] / 255;
            }
            out[3 * x] = uint8_t((r * a + 255 * (255 - a)) / 255);
            out[3 * x + 1] = uint8_t((g * a + 255 * (255 - a)) / 255);
            out[3 * x + 2] = uint8_t((b * a + 255 * (255 - a)) / 255);
        }
    }
    *outW = w;
    *outH = h;
    return rgb;
}

std::optional<Picture> readPicture(fz_context* ctx, const fz_stext_block* block) {
    fz_image* image = block->u.i.image;
    Picture pic;
    pic.widthTwips =
        std::max(1, int(std::lround((block->bbox.x1 - block->bbox.x0) * TwipsPerPoint)));
    pic.heightTwips =
        std::max(1, int(std::lround((block->bbox.y1 - block->bbox.y0) * TwipsPerPoint)));
    if (image->w < 1 || image->h < 1) {
        return std::nullopt;
    }

    // A plain JPEG in grey or RGB goes in as it is, up to the size of a large camera photo: a
    // word processor would have to decode anything bigger whole.
    fz_compressed_buffer* compressed = fz_compressed_image_buffer(ctx, image);
    const int components = image->colorspace ? fz_colorspace_n(ctx, image->colorspace) : 0;
    const bool cameraSized = int64_t(image->w) * image->h <= MaxPassedJpegPixels;
    if (cameraSized && compressed && compressed->params.type == FZ_IMAGE_JPEG &&
        compressed->buffer && (components == 1 || components == 3) && !image->mask &&
        !image->use_decode && !image->use_colorkey && !image->imagemask) {
        unsigned char* data = nullptr;
        const size_t len = fz_buffer_storage(ctx, compressed->buffer, &data);
        pic.data.assign(reinterpret_cast<const char*>(data), len);
        pic.jpeg = true;
        pic.pixelWidth = image->w;
        pic.pixelHeight = image->h;
        return pic;
    }

    const int wantW = std::max(1, int(pic.widthTwips / 1440.0 * PictureDpi));
    const int wantH = std::max(1, int(pic.heightTwips / 1440.0 * PictureDpi));
    int w = 0;
    int h = 0;
    const std::vector<uint8_t> rgb = flattenOnWhite(ctx, image, wantW, wantH, &w, &h);
    Bitmap bitmap;
    bitmap.width = w;
    bitmap.height = h;
    bitmap.channels = 3;
    bitmap.stride = ptrdiff_t(w) * 3;
    bitmap.pixels = rgb.data();
    bitmap.dpi = int(std::lround(w / (pic.widthTwips / 1440.0)));
    pic.jpeg = isPhoto(ctx, image);
    pic.data = pic.jpeg ? encodeJpeg(bitmap, 85) : encodePng(bitmap);
    pic.pixelWidth = w;
    pic.pixelHeight = h;
    return pic;
}

bool blank(const Paragraph& para) {
    return std::all_of(para.runs.begin(), para.runs.end(), [](const Run& run) {
        return std::all_of(run.text.begin(), run.text.end(), isBlank);
    });
}

bool centreInside(const fz_rect& box, const fz_rect& area) {
    const float x = (box.x0 + box.x1) / 2;
    const float y = (box.y0 + box.y1) / 2;
    return x >= area.x0 && x <= area.x1 && y >= area.y0 && y <= area.y1;
}

// Pages draw their text in any order: a form's title or a centred heading may come after the
// footnotes. A block of text that stands across the middle of the page and higher than the
// line drawn before it goes before the first line, in reading order, that lies below it: what
// lies below a block across the page, in any column, is read after it. The top of a next
// column starts one side of the middle and stays put.
void moveSpanningBlocksUp(std::vector<std::variant<TextLine, Picture>>& flow, fz_rect bounds) {
    const auto line = [&flow](size_t i) -> const TextLine& { return std::get<TextLine>(flow[i]); };
    const float middle = (bounds.x0 + bounds.x1) / 2;
    const float margin = 0.05f * (bounds.x1 - bounds.x0);
    size_t i = 0;
    while (i < flow.size()) {
        size_t end = i + 1;
        while (end < flow.size() && line(end).block == line(i).block) {
            ++end;
        }
        fz_rect box{line(i).x0, line(i).y0, line(i).x1, line(i).y1};
        for (size_t k = i + 1; k < end; ++k) {
            box = fz_union_rect(box, fz_rect{line(k).x0, line(k).y0, line(k).x1, line(k).y1});
        }
        const bool spans = box.x0 < middle - margin && box.x1 > middle + margin;
        if (spans && i > 0 && box.y1 < line(i - 1).y0) {
            size_t at = i;
            for (size_t k = 0; k < i; ++k) {
                const TextLine& l = line(k);
                if ((l.y0 + l.y1) / 2 > box.y1) {
                    at = k;
                    break;
                }
            }
            std::rotate(flow.begin() + std::ptrdiff_t(at), flow.begin() + std::ptrdiff_t(i),
                        flow.begin() + std::ptrdiff_t(end));
        }
        i = end;
    }
}

// A drawing (a diagram, a chart, a shape) with no more than short labels in it becomes one
// picture, drawn at the pictures' resolution with its labels and any pictures inside it, in
// place of those labels and pictures: set apart, they would be a heap of fragments and stray
// words in a word processor, and a drawing without text would vanish. Areas with much text in
// them (forms, ruled tables, boxed paragraphs) keep their text as text.
void takeFigures(fz_context* ctx, fz_page* page, fz_rect bounds,
                 std::vector<std::variant<TextLine, Picture>>& flow,
                 std::vector<std::pair<Picture, fz_rect>>& pictures) {
    std::vector<fz_rect> areas;
    try {
        areas = drawingAreas(ctx, page, bounds);
    } catch (const std::exception&) {
        return; // the page keeps its text and pictures as they are
    }
    for (const fz_rect& area : areas) {
        const float size = (area.x1 - area.x0) * (area.y1 - area.y0);
        float covered = 0;
        size_t characters = 0;
        size_t longest = 0;
        for (const auto& entry : flow) {
            const TextLine& line = std::get<TextLine>(entry);
            const fz_rect box{line.x0, line.y0, line.x1, line.y1};
            if (centreInside(box, area)) {
                covered += (box.x1 - box.x0) * (box.y1 - box.y0);
                characters += line.glyphs.size();
                longest = std::max(longest, line.glyphs.size());
            }
        }
        // A chart may carry many labels, each of them short; so may a form, which fills much of
        // its page and whose labels a reader wants to edit.
        const float pageSize = (bounds.x1 - bounds.x0) * (bounds.y1 - bounds.y0);
        if (covered > 0.15f * size || (characters > 400 && (longest > 60 || size > pageSize / 3))) {
            continue;
        }
        Picture pic;
        pic.widthTwips = std::max(1, int(std::lround((area.x1 - area.x0) * TwipsPerPoint)));
        pic.heightTwips = std::max(1, int(std::lround((area.y1 - area.y0) * TwipsPerPoint)));
        try {
            const PixmapPtr pix = drawArea(ctx, page, area, int(PictureDpi));
            pic.data = encodePng(bitmapOf(ctx, pix.get(), int(PictureDpi)));
            pic.pixelWidth = pix->w;
            pic.pixelHeight = pix->h;
        } catch (const std::exception&) {
            continue;
        }
        flow.erase(
            std::remove_if(flow.begin(), flow.end(),
                           [&area](const auto& entry) {
                               const TextLine& line = std::get<TextLine>(entry);
                               return centreInside({line.x0, line.y0, line.x1, line.y1}, area);
                           }),
            flow.end());
        pictures.erase(
            std::remove_if(pictures.begin(), pictures.end(),
                           [&area](const auto& entry) { return centreInside(entry.second, area); }),
            pictures.end());
        pictures.emplace_back(std::move(pic), area);
    }
}

// Puts each picture where it stands in the text: before the first line, in reading order, that
// lies below the picture's top and beside or under it. Pages draw their pictures in any order,
// often all of them after the text or before it; a picture with no such line ends the page.
void placePictures(std::vector<std::variant<TextLine, Picture>>& flow,
                   std::vector<std::pair<Picture, fz_rect>>&& pictures) {
    std::vector<fz_rect> placedBoxes(flow.size());
    for (size_t i = 0; i < flow.size(); ++i) {
        const TextLine& line = std::get<TextLine>(flow[i]);
        placedBoxes[i] = fz_rect{line.x0, line.y0, line.x1, line.y1};
    }
    for (auto& [picture, box] : pictures) {
        size_t at = flow.size();
        const fz_rect* previous = nullptr; // the line before, in reading order
        for (size_t i = 0; i < flow.size(); ++i) {
            if (!std::holds_alternative<TextLine>(flow[i])) {
                continue;
            }
            const fz_rect& line = placedBoxes[i];
            const float middle = (line.y0 + line.y1) / 2;
            const bool overlapsAcross = line.x0 < box.x1 && box.x0 < line.x1;
            // Beside or under the picture; or the text jumps from above it to below it here
            // (short lines beside a narrower picture need not overlap it across).
            const bool jumpsOver =
                previous && (previous->y0 + previous->y1) / 2 < box.y0 && middle > box.y1;
            if ((middle > box.y0 && overlapsAcross) || jumpsOver) {
                at = i;
                break;
            }
            previous = &line;
        }
        flow.insert(flow.begin() + std::ptrdiff_t(at), std::move(picture));
        // A picture counts as lying at its own place for the pictures that follow it.
        placedBoxes.insert(placedBoxes.begin() + std::ptrdiff_t(at), box);
    }
}

// Whether the page sets its text in two columns side by side, as papers and magazines do, and
// the space between them: the text then flows the same way in the word processor and takes
// the room it takes on the page, where one long column would push each page's end onto the
// next. Most of the text must stand in lines that keep to one half of the text frame, in both
// halves, at much the same width.
void findColumns(const std::vector<std::variant<TextLine, Picture>>& flow, const Frame& frame,
                 PageModel& model) {
    const float middle = (frame.left + frame.right) / 2;
    const float width = frame.right - frame.left;
    size_t left = 0, right = 0, across = 0;
    float leftEdge = frame.left, rightEdge = frame.right; // the gap's sides
    std::vector<float> leftWidths, rightWidths;
    for (const auto& entry : flow) {
        const auto* line = std::get_if<TextLine>(&entry);
        if (!line || !line->horizontal) {
            continue;
        }
        const size_t n = line->glyphs.size();
        if (line->x1 <= middle) {
            left += n;
            leftEdge = std::max(leftEdge, line->x1);
            leftWidths.push_back(line->x1 - line->x0);
        } else if (line->x0 >= middle) {
            right += n;
            rightEdge = std::min(rightEdge, line->x0);
            rightWidths.push_back(line->x1 - line->x0);
        } else {
            across += n;
        }
    }
    const size_t all = left + right + across;
    if (all < 400 || across * 4 > all || left * 5 < all || right * 5 < all || width < 200) {
        return;
    }
    const auto typical = [](std::vector<float>& widths) {
        std::nth_element(widths.begin(), widths.begin() + std::ptrdiff_t(widths.size() / 2),
                         widths.end());
        return widths[widths.size() / 2];
    };
    const float leftWidth = typical(leftWidths);
    const float rightWidth = typical(rightWidths);
    if (leftWidth < 0.35f * width || rightWidth < 0.35f * width ||
        std::fabs(leftWidth - rightWidth) > 0.2f * std::max(leftWidth, rightWidth) ||
        rightEdge <= leftEdge) {
        return;
    }
    model.columns = 2;
    model.columnGapTwips =
        std::clamp(int(std::lround((rightEdge - leftEdge) * TwipsPerPoint)), 144, 1440);
}

// The space below each paragraph that the next one in the same column keeps on the page, so
// that a word processor leaves the same: a form's rows stay as close as they are printed.
void measureGaps(std::vector<Built>& built) {
    for (size_t i = 0; i + 1 < built.size(); ++i) {
        auto* para = std::get_if<Paragraph>(&built[i].item);
        const Built& next = built[i + 1];
        if (!para || !para->spaced || !std::holds_alternative<Paragraph>(next.item)) {
            continue;
        }
        const Built& b = built[i];
        const bool below = next.x0 < b.x1 && b.x0 < next.x1 && next.firstBaseline > b.lastBaseline;
        if (!below) {
            continue; // the next one stands in another column or higher up
        }
        const float step = para->lineTwips > 0 ? para->lineTwips / TwipsPerPoint : 1.2f * b.size;
        const float gap = next.firstBaseline - b.lastBaseline - step;
        para->spaceAfterTwips = int(std::lround(std::clamp(gap, 0.0f, 2 * b.size) * TwipsPerPoint));
    }
}

// Lines that follow each other closely, in one size, one under the other, become stacks, and
// the stacks paragraphs.
void buildParagraphs(fz_context* ctx, const std::vector<TextLine>& lines, const Leading& leading,
                     const Frame& frame, std::vector<Built>& built) {
    for (size_t first = 0; first < lines.size();) {
        Stack s;
        s.first = first;
        s.end = first + 1;
        while (s.end < lines.size() && continuesStack(lines[s.end - 1], lines[s.end], leading)) {
            ++s.end;
        }
        s.left = lines[first].x0;
        s.right = lines[first].x1;
        for (size_t i = first; i < s.end; ++i) {
            s.left = std::min(s.left, lines[i].x0);
            s.right = std::max(s.right, lines[i].x1);
        }
        s.tolerance = std::max(1.0f, 0.15f * lines[first].size);
        s.alignment = alignmentOf(lines, s, frame);
        for (const auto& [a, b] : paragraphsOf(lines, s)) {
            built.push_back(buildParagraph(ctx, lines, s, a, b));
            std::get<Paragraph>(built.back().item).lineTwips =
                int(std::lround(leading.usual(built.back().size) * TwipsPerPoint));
        }
        first = s.end;
    }
}

// Whether the glyphs end in a dot leader: four dots or more, spaced or not.
bool leaderBefore(const std::vector<Glyph>& glyphs) {
    int dots = 0;
    for (auto g = glyphs.rbegin(); g != glyphs.rend() && dots < 4; ++g) {
        if (isLeaderDot(g->c)) {
            ++dots;
        } else if (!isBlank(g->c)) {
            break;
        }
    }
    return dots >= 4;
}

// A line cut where its words stand far apart: a table's row gives the text of each cell. Words
// of a justified line are seldom spaced that widely, and a table must line up row by row.
std::vector<TextLine> cutAtGaps(const TextLine& line) {
    std::vector<TextLine> pieces;
    TextLine piece;
    const auto flush = [&] {
        if (!piece.glyphs.empty()) {
            piece.block = line.block;
            piece.y0 = line.y0;
            piece.y1 = line.y1;
            finishLine(piece);
            pieces.push_back(std::move(piece));
            piece = TextLine{};
        }
    };
    const Glyph* previous = nullptr;
    for (const Glyph& g : line.glyphs) {
        if (isBlank(g.c)) {
            if (!piece.glyphs.empty()) {
                piece.glyphs.push_back(g);
            }
            continue;
        }
        // The dots of a leader stand apart, but they lead on to the next cell, which starts
        // where they end.
        const bool dots = isLeaderDot(g.c) || isLeaderDot(previous ? previous->c : 0);
        const bool afterLeader =
            previous && isLeaderDot(previous->c) && !isLeaderDot(g.c) && leaderBefore(piece.glyphs);
        if (previous && (afterLeader || g.x0 - previous->x1 > (dots ? 4 : 1.0f) * line.size)) {
            flush();
        }
        piece.glyphs.push_back(g);
        previous = &g;
    }
    flush();
    return pieces;
}

// One row of a table being found: pieces of lines side by side, and the band they fill.
struct TableRow {
    std::vector<size_t> pieces;
    float y0 = 0;
    float y1 = 0;
    float size = 0;
};

// The columns that pieces in `rows` leave between them: the x ranges they fill, joined where
// they overlap. Ranges closer than `gap` count as one.
std::vector<std::pair<float, float>> columnsOf(const std::vector<TextLine>& pieces,
                                               const std::vector<TableRow>& rows, size_t from,
                                               size_t to, float gap) {
    std::vector<std::pair<float, float>> spans;
    for (size_t r = from; r < to; ++r) {
        for (const size_t p : rows[r].pieces) {
            spans.emplace_back(pieces[p].x0, pieces[p].x1);
        }
    }
    std::sort(spans.begin(), spans.end());
    std::vector<std::pair<float, float>> columns;
    for (const auto& span : spans) {
        if (!columns.empty() && span.first < columns.back().second + gap) {
            columns.back().second = std::max(columns.back().second, span.second);
        } else {
            columns.push_back(span);
        }
    }
    return columns;
}

size_t columnOf(const std::vector<std::pair<float, float>>& columns, const TextLine& piece) {
    for (size_t c = 0; c < columns.size(); ++c) {
        if (piece.x0 >= columns[c].first - 0.5f && piece.x1 <= columns[c].second + 0.5f) {
            return c;
        }
    }
    return columns.size() - 1;
}

// Whether a paragraph holds figures only: digits and the signs that go with them.
bool figures(const Paragraph& para) {
    for (const Run& run : para.runs) {
        for (const char32_t c : run.text) {
            if (!(c >= U'0' && c <= U'9') && !isBlank(c) &&
                std::u32string_view(U".,-+%$()\u20AC\u00A3").find(c) == std::u32string_view::npos) {
                return false;
            }
        }
    }
    return true;
}

// What a table found on the page becomes: its rows of cells, each cell's lines made into
// paragraphs as any text is. Pieces of one line that fall into one cell are kept apart by a
// tab. A row that fills only some of the columns that the row above fills, just under it,
// continues that row: a cell's text that runs over several lines, a note beside a form's rows.
Table buildTable(fz_context* ctx, const std::vector<TextLine>& pieces,
                 const std::vector<TableRow>& rows, size_t from, size_t to,
                 const std::vector<std::pair<float, float>>& columns, const Leading& leading) {
    std::vector<std::vector<std::vector<size_t>>> grid; // row, column, pieces
    std::vector<float> bottoms;
    for (size_t r = from; r < to; ++r) {
        std::vector<std::vector<size_t>> cells(columns.size());
        for (const size_t p : rows[r].pieces) {
            cells[columnOf(columns, pieces[p])].push_back(p);
        }
        if (!grid.empty()) {
            auto& above = grid.back();
            bool continues = true;
            size_t filled = 0, filledAbove = 0;
            for (size_t c = 0; c < columns.size(); ++c) {
                filled += !cells[c].empty();
                filledAbove += !above[c].empty();
                if (!cells[c].empty()) {
                    // The text above runs on: it ends without a sentence's end, and this goes on
                    // in words (a number here starts a row of its own).
                    const char32_t next = firstVisible(pieces[cells[c].front()]);
                    continues = continues && !above[c].empty() && isLetter(next) &&
                                (isLower(next) || !endsSentence(pieces[above[c].back()]));
                }
            }
            if (continues && filled < filledAbove &&
                rows[r].y0 - bottoms.back() < 0.5f * rows[r].size) {
                for (size_t c = 0; c < columns.size(); ++c) {
                    above[c].insert(above[c].end(), cells[c].begin(), cells[c].end());
                }
                bottoms.back() = rows[r].y1;
                continue;
            }
        }
        grid.push_back(std::move(cells));
        bottoms.push_back(rows[r].y1);
    }

    Table table;
    table.leftTwips = int(std::lround(columns.front().first * TwipsPerPoint));
    for (size_t c = 0; c < columns.size(); ++c) {
        const float right = c + 1 < columns.size() ? (columns[c].second + columns[c + 1].first) / 2
                                                   : columns[c].second + 2;
        table.cellRightTwips.push_back(int(std::lround(right * TwipsPerPoint)));
    }
    for (auto& cells : grid) {
        Table::Row row;
        for (size_t c = 0; c < columns.size(); ++c) {
            // The cell's pieces line by line, each line from the left.
            std::vector<size_t>& inCell = cells[c];
            std::sort(inCell.begin(), inCell.end(),
                      [&](size_t a, size_t b) { return pieces[a].baseline < pieces[b].baseline; });
            std::map<size_t, int> lineOf;
            for (size_t i = 0, first = 0; i < inCell.size(); ++i) {
                const TextLine& head = pieces[inCell[first]];
                if (pieces[inCell[i]].baseline - head.baseline >= 0.25f * head.size) {
                    first = i;
                }
                lineOf[inCell[i]] = int(first);
            }
            std::stable_sort(inCell.begin(), inCell.end(), [&](size_t a, size_t b) {
                return lineOf[a] < lineOf[b] ||
                       (lineOf[a] == lineOf[b] && pieces[a].x0 < pieces[b].x0);
            });
            std::vector<TextLine> lines;
            for (const size_t p : inCell) {
                const TextLine& piece = pieces[p];
                if (!lines.empty() &&
                    std::fabs(lines.back().baseline - piece.baseline) < 0.25f * piece.size) {
                    TextLine& line = lines.back();
                    const Glyph& last = line.glyphs.back();
                    line.glyphs.push_back(
                        {U'\t', last.style, last.size, line.x1, piece.x0, last.baseline});
                    line.glyphs.insert(line.glyphs.end(), piece.glyphs.begin(), piece.glyphs.end());
                    finishLine(line);
                } else {
                    lines.push_back(piece);
                }
            }
            std::vector<Built> built;
            buildParagraphs(ctx, lines, leading, Frame{columns[c].first, columns[c].second}, built);
            std::vector<Paragraph> paragraphs;
            for (Built& b : built) {
                Paragraph& para = std::get<Paragraph>(b.item);
                para.spaced = false;
                // A cell's line that reaches its column's edge is not for that set right: only
                // figures are, to line up their digits.
                if (para.alignment == Alignment::Right && !figures(para)) {
                    para.alignment = Alignment::Left;
                }
                if (!blank(para)) {
                    paragraphs.push_back(std::move(para));
                }
            }
            row.cells.push_back(std::move(paragraphs));
        }
        table.rows.push_back(std::move(row));
    }
    return table;
}

// Whether the rows are lines of running text set side by side (narrow columns of prose, a
// sidebar beside the text) rather than a table: in many of its columns a full line is followed
// by the rest of its sentence, in lower case, on the next row.
bool runningText(const std::vector<TextLine>& pieces, const std::vector<TableRow>& rows,
                 size_t from, size_t to, const std::vector<std::pair<float, float>>& columns) {
    size_t pairs = 0;
    size_t goOn = 0;
    for (size_t r = from + 1; r < to; ++r) {
        for (const size_t below : rows[r].pieces) {
            const size_t c = columnOf(columns, pieces[below]);
            for (const size_t above : rows[r - 1].pieces) {
                if (columnOf(columns, pieces[above]) != c) {
                    continue;
                }
                const TextLine& a = pieces[above];
                const char32_t next = firstVisible(pieces[below]);
                ++pairs;
                // A line of running text holds a few words at least.
                const float width = columns[c].second - columns[c].first;
                const bool full = width > 10 * a.size && a.x1 > columns[c].second - 2 * a.size;
                goOn += full && (endsWithHyphen(a) || !endsSentence(a)) && isLower(next);
            }
        }
    }
    return goOn >= 3 && 10 * goOn >= 3 * pairs;
}

using FlowItem = std::variant<TextLine, Picture, Table>;

// Finds tables among the page's lines: three rows or more, one under the other, whose pieces
// leave the same gaps between them from row to row, most rows with text in two columns or
// more. A table takes the place of its first line in reading order. On a page of two columns
// of text each half is searched on its own, so that the two columns are never taken for one.
std::vector<FlowItem> findTables(fz_context* ctx,
                                 std::vector<std::variant<TextLine, Picture>>&& flow,
                                 const Leading& leading, const Frame& frame, int pageColumns) {
    std::vector<FlowItem> items;
    for (auto& entry : flow) {
        if (auto* line = std::get_if<TextLine>(&entry)) {
            items.emplace_back(std::move(*line));
        } else {
            items.emplace_back(std::move(std::get<Picture>(entry)));
        }
    }
    const float middle = (frame.left + frame.right) / 2;
    std::vector<std::pair<size_t, Table>> found; // the flow place of its first line
    std::vector<bool> taken(items.size(), false);
    for (int zone = pageColumns == 2 ? 1 : 0; zone <= (pageColumns == 2 ? 2 : 0); ++zone) {
        std::vector<TextLine> pieces;
        std::vector<size_t> origin; // the flow place each piece comes from
        for (size_t i = 0; i < items.size(); ++i) {
            const auto* line = std::get_if<TextLine>(&items[i]);
            if (!line || !line->horizontal || (zone == 1 && line->x1 > middle) ||
                (zone == 2 && line->x0 < middle)) {
                continue;
            }
            for (TextLine& piece : cutAtGaps(*line)) {
                pieces.push_back(std::move(piece));
                origin.push_back(i);
            }
        }
        std::vector<size_t> order(pieces.size());
        for (size_t i = 0; i < order.size(); ++i) {
            order[i] = i;
        }
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return pieces[a].baseline < pieces[b].baseline ||
                   (pieces[a].baseline == pieces[b].baseline && pieces[a].x0 < pieces[b].x0);
        });
        std::vector<TableRow> rows;
        for (const size_t p : order) {
            const TextLine& piece = pieces[p];
            if (!rows.empty()) {
                TableRow& row = rows.back();
                const float overlap = std::min(row.y1, piece.y1) - std::max(row.y0, piece.y0);
                if (overlap > 0.5f * std::min(row.y1 - row.y0, piece.y1 - piece.y0)) {
                    row.pieces.push_back(p);
                    row.y0 = std::min(row.y0, piece.y0);
                    row.y1 = std::max(row.y1, piece.y1);
                    row.size = std::max(row.size, piece.size);
                    continue;
                }
            }
            rows.push_back(TableRow{{p}, piece.y0, piece.y1, piece.size});
        }
        for (size_t from = 0; from < rows.size();) {
            const float gap = std::max(3.0f, 0.5f * rows[from].size);
            size_t columnCount = columnsOf(pieces, rows, from, from + 1, gap).size();
            if (columnCount < 2) {
                ++from;
                continue;
            }
            size_t to = from + 1;
            while (to < rows.size() && rows[to].y0 - rows[to - 1].y1 < 1.5f * rows[to].size) {
                const size_t withNext = columnsOf(pieces, rows, from, to + 1, gap).size();
                if (withNext < columnCount) {
                    break;
                }
                columnCount = withNext;
                ++to;
            }
            auto columns = columnsOf(pieces, rows, from, to, gap);
            size_t wide = 0; // rows with text in two columns or more
            std::vector<size_t> filledRows;
            const auto count = [&] {
                wide = 0;
                filledRows.assign(columns.size(), 0);
                for (size_t r = from; r < to; ++r) {
                    std::vector<bool> filled(columns.size(), false);
                    for (const size_t p : rows[r].pieces) {
                        filled[columnOf(columns, pieces[p])] = true;
                    }
                    wide += std::count(filled.begin(), filled.end(), true) >= 2;
                    for (size_t c = 0; c < columns.size(); ++c) {
                        filledRows[c] += filled[c];
                    }
                }
            };
            count();
            // A column that one row alone fills (a form's "Apt. no." between two fields) is
            // part of the nearer column beside it.
            for (size_t c = 0; columns.size() > 2 && c < columns.size();) {
                if (filledRows[c] >= 2) {
                    ++c;
                    continue;
                }
                const float before = c > 0 ? columns[c].first - columns[c - 1].second : 1e9f;
                const float after =
                    c + 1 < columns.size() ? columns[c + 1].first - columns[c].second : 1e9f;
                const size_t into = before <= after ? c - 1 : c + 1;
                columns[into] = {std::min(columns[into].first, columns[c].first),
                                 std::max(columns[into].second, columns[c].second)};
                columns.erase(columns.begin() + std::ptrdiff_t(c));
                count();
                c = 0;
            }
            // Two wide columns side by side are columns of running text (or of an index), not
            // a table; nor is a column of list marks beside the items' text.
            const auto widerThan = [&](float share) {
                return std::count_if(columns.begin(), columns.end(), [&](auto c) {
                    return c.second - c.first > share * (frame.right - frame.left);
                });
            };
            // A few rows whose wide columns come with narrow ones (a form's numbered boxes)
            // are a table whatever their widths.
            const bool numbered = to - from <= 8 && widerThan(0.05f) < ptrdiff_t(columns.size());
            const bool textColumns = !numbered && (widerThan(0.3f) >= 2 ||
                                                   (columns.size() == 2 && widerThan(0.25f) == 2));
            bool marks = true;
            for (size_t r = from; r < to && marks; ++r) {
                for (const size_t p : rows[r].pieces) {
                    const TextLine& piece = pieces[p];
                    if (columnOf(columns, piece) == 0) {
                        // A bullet, "1." or "a)", or a reference's "[12]".
                        const char32_t first = firstVisible(piece);
                        const char32_t last = lastVisible(piece);
                        const bool closed = last == U'.' || last == U')' || last == U']';
                        marks = marks &&
                                (isBullet(first) || (piece.glyphs.size() <= 6 && closed &&
                                                     (first == U'[' || piece.glyphs.size() <= 4)));
                    }
                }
            }
            const bool table = to - from >= 3 && wide >= 3 && 2 * wide >= to - from &&
                               *std::min_element(filledRows.begin(), filledRows.end()) >= 2 &&
                               !textColumns && !marks &&
                               !runningText(pieces, rows, from, to, columns);
            if (!table) {
                ++from;
                continue;
            }
            size_t place = items.size();
            for (size_t r = from; r < to; ++r) {
                for (const size_t p : rows[r].pieces) {
                    place = std::min(place, origin[p]);
                    taken[origin[p]] = true;
                }
            }
            found.emplace_back(place, buildTable(ctx, pieces, rows, from, to, columns, leading));
            from = to;
        }
    }
    std::vector<FlowItem> out;
    for (size_t i = 0; i < items.size(); ++i) {
        for (auto& [place, table] : found) {
            if (place == i) {
                out.emplace_back(std::move(table));
            }
        }
        if (!taken[i]) {
            out.push_back(std::move(items[i]));
        }
    }
    return out;
}

// On a page set in two columns, the paragraphs at its top that stand across both (a paper's
// title, its authors, an abstract set wide) go above the columns, across the page: the count of
// the first paragraphs that lie above the first one set in a column at the column's width, up
// to the last of them that crosses the page's middle.
size_t spanningHead(const std::vector<Built>& built, const Frame& frame) {
    const float middle = (frame.left + frame.right) / 2;
    const float width = frame.right - frame.left;
    float top = 0;
    bool found = false;
    for (const Built& b : built) {
        if (std::holds_alternative<Paragraph>(b.item) && (b.x1 <= middle || b.x0 >= middle) &&
            b.x1 - b.x0 > 0.35f * width) {
            top = b.y0;
            found = true;
            break;
        }
    }
    size_t count = 0;
    for (size_t i = 0; found && i < built.size(); ++i) {
        const Built& b = built[i];
        if (!std::holds_alternative<Paragraph>(b.item) || b.y0 >= top) {
            break;
        }
        if (b.x0 < middle && b.x1 > middle) {
            count = i + 1;
        }
    }
    return count;
}

// Puts the page's lines together into paragraphs and tables, in reading order with the
// pictures.
void layOut(fz_context* ctx, std::vector<std::variant<TextLine, Picture>>&& flow,
            PageModel& model) {
    const Leading leading(flow);
    Frame frame;
    bool any = false;
    for (const auto& entry : flow) {
        if (const auto* line = std::get_if<TextLine>(&entry); line && line->horizontal) {
            frame.left = any ? std::min(frame.left, line->x0) : line->x0;
            frame.right = any ? std::max(frame.right, line->x1) : line->x1;
            any = true;
        }
    }
    findColumns(flow, frame, model);

    std::vector<Built> built;
    std::vector<TextLine> lines;
    for (auto& entry : findTables(ctx, std::move(flow), leading, frame, model.columns)) {
        if (auto* line = std::get_if<TextLine>(&entry)) {
            lines.push_back(std::move(*line));
            continue;
        }
        buildParagraphs(ctx, lines, leading, frame, built);
        lines.clear();
        Built other;
        if (auto* picture = std::get_if<Picture>(&entry)) {
            other.item = std::move(*picture);
        } else {
            other.item = std::move(std::get<Table>(entry));
        }
        built.push_back(std::move(other));
    }
    buildParagraphs(ctx, lines, leading, frame, built);
    joinColumns(built);
    measureGaps(built);

    const size_t spanning = model.columns == 2 ? spanningHead(built, frame) : 0;
    for (size_t i = 0; i < built.size(); ++i) {
        if (const auto* para = std::get_if<Paragraph>(&built[i].item); para && blank(*para)) {
            continue;
        }
        model.items.push_back(std::move(built[i].item));
        if (i < spanning) {
            model.spanningItems = model.items.size();
        }
    }
}

} // namespace

PageModel extractPage(fz_context* ctx, fz_document* doc, int page) {
    PageModel model;
    fz_rect bounds{};
    const PagePtr pagePtr = loadPage(ctx, doc, page, &bounds);
    fz_page* p = pagePtr.get();
    model.widthTwips = std::max(720, int(std::lround((bounds.x1 - bounds.x0) * TwipsPerPoint)));
    model.heightTwips = std::max(720, int(std::lround((bounds.y1 - bounds.y0) * TwipsPerPoint)));

    // Hyphens at line ends are handled here, where the lines' shapes are known: MuPDF's own
    // dehyphenation would merge the two lines into one.
    fz_stext_options options{};
    options.flags = FZ_STEXT_PRESERVE_IMAGES | FZ_STEXT_MEDIABOX_CLIP;
    const TextPagePtr textPtr = readPageText(ctx, p, options);
    const fz_stext_page* text = textPtr.get();

    // A page without usable text of its own (a scan, text drawn as outlines, fonts without a
    // character map) is read by recognition: its words replace its own text. A picture that
    // covers most of a page of text (the scan itself) is left out, as the words are its
    // content and a word processor's user wants to edit them, not see them twice; on a page
    // of a few words it stays.
    Recognition recognition{TextPagePtr(nullptr, {ctx}), false};
    if (wantsRecognition(ctx, p, text)) {
        recognition = recognise(ctx, p, text, options);
    }
    const TextPagePtr recognisedPtr = std::move(recognition.words);
    const bool textPage = recognition.replacesPicture;
    const fz_stext_page* words = recognisedPtr ? recognisedPtr.get() : text;
    const float pageArea = (bounds.x1 - bounds.x0) * (bounds.y1 - bounds.y0);
    const auto coversThePage = [&](fz_rect r) {
        r = fz_intersect_rect(r, bounds);
        return !fz_is_empty_rect(r) && (r.x1 - r.x0) * (r.y1 - r.y0) > pageArea / 2;
    };

    std::vector<std::variant<TextLine, Picture>> flow;
    int blockNumber = 0;
    std::vector<std::pair<Picture, fz_rect>> pictures;
    std::vector<const fz_stext_block*> blocks;
    for (const fz_stext_block* block = text->first_block; block; block = block->next) {
        if (!recognisedPtr ||
            (block->type == FZ_STEXT_BLOCK_IMAGE && !(textPage && coversThePage(block->bbox)))) {
            blocks.push_back(block);
        }
    }
    if (recognisedPtr) {
        // The recognised words in the order they are read; the page's other pictures find their
        // places among them as pictures always do, by where they stand.
        for (const fz_stext_block* block = words->first_block; block; block = block->next) {
            if (block->type == FZ_STEXT_BLOCK_TEXT) {
                blocks.push_back(block);
            }
        }
    }
    const SymbolFontsOfPage symbols = symbolFontsOf(ctx, blocks);
    for (const fz_stext_block* block : blocks) {
        ++blockNumber;
        if (block->type == FZ_STEXT_BLOCK_TEXT) {
            for (const fz_stext_line* line = block->u.t.first_line; line; line = line->next) {
                TextLine piece = readLine(line, blockNumber, symbols);
                if (piece.glyphs.empty()) {
                    continue;
                }
                TextLine* last = flow.empty() ? nullptr : std::get_if<TextLine>(&flow.back());
                if (last && sameLine(*last, piece)) {
                    appendPiece(*last, std::move(piece));
                } else {
                    flow.emplace_back(std::move(piece));
                }
            }
        } else if (block->type == FZ_STEXT_BLOCK_IMAGE) {
            try {
                if (std::optional<Picture> pic = readPicture(ctx, block)) {
                    pictures.emplace_back(std::move(*pic), block->bbox);
                }
            } catch (const std::exception&) {
                // A picture that cannot be decoded is left out; the text stays.
            }
        }
    }
    moveSpanningBlocksUp(flow, bounds);
    // On a recognised page the drawings are mostly the letters themselves.
    if (!recognisedPtr) {
        takeFigures(ctx, p, bounds, flow, pictures);
    }
    placePictures(flow, std::move(pictures));
    layOut(ctx, std::move(flow), model);
    return model;
}

} // namespace pdftox
