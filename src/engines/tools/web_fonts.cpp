#include "web_fonts.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace tools {
namespace {

uint16_t u16(const std::string& s, size_t at) {
    return at + 2 <= s.size() ? uint16_t(uint8_t(s[at]) << 8 | uint8_t(s[at + 1])) : 0;
}
uint32_t u32(const std::string& s, size_t at) {
    return at + 4 <= s.size() ? uint32_t(u16(s, at)) << 16 | u16(s, at + 2) : 0;
}
void put16(std::string& out, uint32_t v) {
    out += char(v >> 8 & 0xFF);
    out += char(v & 0xFF);
}
void put32(std::string& out, uint32_t v) {
    put16(out, v >> 16);
    put16(out, v & 0xFFFF);
}
void set32(std::string& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out[at + size_t(i)] = char(v >> (24 - 8 * i) & 0xFF);
    }
}

uint32_t checksum(const std::string& table) {
    uint32_t sum = 0;
    for (size_t i = 0; i < table.size(); i += 4) {
        uint32_t word = 0;
        for (size_t k = 0; k < 4; ++k) {
            word = word << 8 | (i + k < table.size() ? uint8_t(table[i + k]) : 0);
        }
        sum += word;
    }
    return sum;
}

// A character map of format 4 (the Basic Multilingual Plane), one segment per character, as
// Windows (3, 1) and Unicode (0, 3) read it.
std::string cmapTable(const std::map<int, int>& glyphs) {
    std::vector<std::pair<uint16_t, uint16_t>> pairs;
    for (const auto& [c, gid] : glyphs) {
        if (c > 0 && c < 0xFFFF && gid > 0 && gid < 0xFFFF) {
            pairs.emplace_back(uint16_t(c), uint16_t(gid));
        }
    }
    const size_t segments = pairs.size() + 1;
    std::string sub;
    put16(sub, 4);
    put16(sub, uint32_t(16 + segments * 8));
    put16(sub, 0);
    put16(sub, uint32_t(segments * 2));
    uint32_t power = 1;
    uint32_t log = 0;
    while (power * 2 <= segments) {
        power *= 2;
        ++log;
    }
    put16(sub, power * 2);
    put16(sub, log);
    put16(sub, uint32_t(segments * 2 - power * 2));
    for (const auto& [c, gid] : pairs) {
        put16(sub, c);
    }
    put16(sub, 0xFFFF);
    put16(sub, 0); // reserved pad
    for (const auto& [c, gid] : pairs) {
        put16(sub, c);
    }
    put16(sub, 0xFFFF);
    for (const auto& [c, gid] : pairs) {
        put16(sub, uint16_t(gid - c));
    }
    put16(sub, 1);
    for (size_t i = 0; i < segments; ++i) {
        put16(sub, 0);
    }
    std::string table;
    put16(table, 0);
    put16(table, 2);
    put16(table, 0); // Unicode, BMP
    put16(table, 3);
    put32(table, 4 + 2 * 8);
    put16(table, 3); // Windows, Unicode BMP
    put16(table, 1);
    put32(table, 4 + 2 * 8);
    return table + sub;
}

// Names: the family (1), its style (2), the full name (4) and the PostScript name (6).
std::string nameTable(const std::string& family) {
    const std::string names[] = {family, "Regular", family, family};
    const uint16_t ids[] = {1, 2, 4, 6};
    std::string strings;
    std::string records;
    for (size_t i = 0; i < 4; ++i) {
        std::string utf16;
        for (const char c : names[i]) {
            put16(utf16, uint8_t(c));
        }
        put16(records, 3);
        put16(records, 1);
        put16(records, 0x409);
        put16(records, ids[i]);
        put16(records, uint32_t(utf16.size()));
        put16(records, uint32_t(strings.size()));
        strings += utf16;
    }
    std::string table;
    put16(table, 0);
    put16(table, 4);
    put16(table, 6 + 4 * 12);
    return table + records + strings;
}

// Glyph names are not kept (format 3).
std::string postTable() {
    std::string table;
    put32(table, 0x00030000);
    put32(table, 0);      // italic angle
    put16(table, 0xFF9C); // underline position: -100
    put16(table, 50);     // underline thickness
    put32(table, 0);      // not monospaced
    for (int i = 0; i < 4; ++i) {
        put32(table, 0);
    }
    return table;
}

// The metrics an operating system reads, from the font's own horizontal header.
std::string os2Table(int16_t ascender, int16_t descender, const std::map<int, int>& glyphs) {
    int first = 0xFFFF;
    int last = 0;
    for (const auto& [c, gid] : glyphs) {
        first = std::min(first, c);
        last = std::max(last, c);
    }
    std::string t;
    put16(t, 4);   // version
    put16(t, 500); // average width
    put16(t, 400); // weight
    put16(t, 5);   // width class
    put16(t, 0);   // embedding: installable
    for (int i = 0; i < 10; ++i) {
        put16(t, 0); // sub- and superscript sizes, strikeout
    }
    put16(t, 0);        // family class
    t.append(10, '\0'); // PANOSE
    for (int i = 0; i < 4; ++i) {
        put32(t, 0); // Unicode ranges
    }
    t += "LMDC";
    put16(t, 0x40); // regular
    put16(t, uint32_t(std::min(first, 0xFFFF)));
    put16(t, uint32_t(std::min(last, 0xFFFF)));
    put16(t, uint16_t(ascender));
    put16(t, uint16_t(descender));
    put16(t, 0); // line gap
    put16(t, uint32_t(std::max<int>(ascender, 0)));
    put16(t, uint32_t(std::max<int>(-descender, 0)));
    put32(t, 1); // code pages: Latin 1
    put32(t, 0);
    put16(t, 0);  // x height
    put16(t, 0);  // capital height
    put16(t, 0);  // default character
    put16(t, 32); // break character
    put16(t, 0);  // context
    return t;
}

// The font file of `tables` (sorted by tag, as the format asks), with their checksums and the
// head table's checksum adjustment.
std::string assemble(std::map<std::string, std::string>& tables, uint32_t version) {
    set32(tables["head"], 8, 0);
    std::string out;
    const uint32_t n = uint32_t(tables.size());
    uint32_t power = 1;
    uint32_t log = 0;
    while (power * 2 <= n) {
        power *= 2;
        ++log;
    }
    put32(out, version);
    put16(out, n);
    put16(out, power * 16);
    put16(out, log);
    put16(out, n * 16 - power * 16);
    size_t offset = 12 + size_t(n) * 16;
    std::string data;
    size_t headAt = 0;
    for (auto& [tag, table] : tables) { // std::map keeps the tags sorted, as the format asks
        out += tag;
        put32(out, checksum(table));
        put32(out, uint32_t(offset + data.size()));
        put32(out, uint32_t(table.size()));
        if (tag == "head") {
            headAt = offset + data.size();
        }
        data += table;
        data.append((4 - data.size() % 4) % 4, '\0');
    }
    out += data;
    set32(out, headAt + 8, 0xB1B0AFBAu - checksum(out));
    return out;
}

} // namespace

std::string webFont(const std::string& font, const std::string& family,
                    const std::map<int, int>& glyphs) {
    const uint32_t version = u32(font, 0);
    if (version != 0x00010000 && version != 0x74727565) { // TrueType outlines only
        return {};
    }
    const uint16_t count = u16(font, 4);
    std::map<std::string, std::string> tables;
    for (uint16_t i = 0; i < count; ++i) {
        const size_t record = 12 + size_t(i) * 16;
        if (record + 16 > font.size()) {
            return {};
        }
        const std::string tag = font.substr(record, 4);
        const uint32_t offset = u32(font, record + 8);
        const uint32_t length = u32(font, record + 12);
        if (offset > font.size() || length > font.size() - offset) {
            return {};
        }
        tables[tag] = font.substr(offset, length);
    }
    for (const char* needed : {"head", "hhea", "hmtx", "maxp", "glyf", "loca"}) {
        if (!tables.count(needed)) {
            return {};
        }
    }
    const uint16_t glyphCount = u16(tables["maxp"], 4);
    std::map<int, int> usable;
    for (const auto& [c, gid] : glyphs) {
        if (gid > 0 && gid < glyphCount) {
            usable.emplace(c, gid);
        }
    }
    if (usable.empty() || tables["head"].size() < 54 || tables["hhea"].size() < 36) {
        return {};
    }
    // Tables that refer to characters or names the new ones replace, or that browsers reject
    // in subsets, go; the glyphs, their metrics and their hinting stay.
    for (const char* dropped : {"cmap", "name", "post", "OS/2", "kern", "GPOS", "GSUB", "GDEF",
                                "DSIG", "hdmx", "LTSH", "VDMX", "vhea", "vmtx", "PCLT"}) {
        tables.erase(dropped);
    }
    tables["cmap"] = cmapTable(usable);
    tables["name"] = nameTable(family);
    tables["post"] = postTable();
    const std::string& hhea = tables["hhea"];
    tables["OS/2"] = os2Table(int16_t(u16(hhea, 4)), int16_t(u16(hhea, 6)), usable);
    return assemble(tables, 0x00010000);
}

namespace {

// The characters of `glyphs` whose glyphs a font of `glyphCount` glyphs holds.
std::map<int, int> usableOf(const std::map<int, int>& glyphs, size_t glyphCount) {
    std::map<int, int> usable;
    for (const auto& [c, gid] : glyphs) {
        if (gid > 0 && size_t(gid) < glyphCount) {
            usable.emplace(c, gid);
        }
    }
    return usable;
}

// The tables of a font that its outlines do not carry themselves: the header (`longOffsets`
// for a glyf font's loca), the horizontal metrics (`bearings`: each glyph's left side bearing,
// or none), characters, names and the operating system's metrics.
std::map<std::string, std::string> tablesOf(const FontMetrics& metrics, bool longOffsets,
                                            const std::vector<int16_t>& bearings,
                                            const std::string& family,
                                            const std::map<int, int>& usable) {
    std::map<std::string, std::string> tables;
    std::string head;
    put32(head, 0x00010000); // version
    put32(head, 0x00010000); // font revision
    put32(head, 0);          // checksum adjustment
    put32(head, 0x5F0F3CF5); // magic
    put16(head, 3);          // baseline and left side bearing at 0
    put16(head, uint32_t(metrics.unitsPerEm));
    head.append(16, '\0'); // created, modified
    put16(head, uint16_t(metrics.xMin));
    put16(head, uint16_t(metrics.yMin));
    put16(head, uint16_t(metrics.xMax));
    put16(head, uint16_t(metrics.yMax));
    put16(head, 0); // style
    put16(head, 8); // smallest readable size
    put16(head, 2); // direction hint
    put16(head, longOffsets ? 1 : 0);
    put16(head, 0); // glyph data format
    tables["head"] = head;

    uint16_t widest = 0;
    int16_t leastBearing = 0;
    std::string hmtx;
    for (size_t g = 0; g < metrics.advances.size(); ++g) {
        const int16_t bearing = g < bearings.size() ? bearings[g] : 0;
        widest = std::max(widest, metrics.advances[g]);
        leastBearing = std::min(leastBearing, bearing);
        put16(hmtx, metrics.advances[g]);
        put16(hmtx, uint16_t(bearing));
    }
    tables["hmtx"] = hmtx;
    std::string hhea;
    put32(hhea, 0x00010000);
    put16(hhea, uint16_t(metrics.ascender));
    put16(hhea, uint16_t(metrics.descender));
    put16(hhea, 0); // line gap
    put16(hhea, widest);
    put16(hhea, uint16_t(leastBearing));
    put16(hhea, 0); // least right side bearing
    put16(hhea, uint16_t(metrics.xMax));
    put16(hhea, 1); // caret: upright
    put16(hhea, 0);
    put16(hhea, 0);
    hhea.append(8, '\0'); // reserved
    put16(hhea, 0);       // metric data format
    put16(hhea, uint32_t(metrics.advances.size()));
    tables["hhea"] = hhea;

    tables["cmap"] = cmapTable(usable);
    tables["name"] = nameTable(family);
    tables["post"] = postTable();
    tables["OS/2"] = os2Table(int16_t(metrics.ascender), int16_t(metrics.descender), usable);
    return tables;
}

// One glyph of a glyf table: its contours' end points, no instructions, a flag per point
// (on the outline or not) and the points as 16-bit steps from the one before.
std::string glyphEntry(const GlyphContours& contours, int16_t& xMin) {
    std::string out;
    int16_t x0 = INT16_MAX, y0 = INT16_MAX, x1 = INT16_MIN, y1 = INT16_MIN;
    size_t points = 0;
    for (const auto& contour : contours) {
        for (const OutlinePoint& p : contour) {
            x0 = std::min(x0, p.x);
            y0 = std::min(y0, p.y);
            x1 = std::max(x1, p.x);
            y1 = std::max(y1, p.y);
        }
        points += contour.size();
    }
    // Each point is stored as a 16-bit step from the one before: a glyph whose points lie
    // further apart than such a step reaches is left out rather than stored wrong.
    bool reachable = true;
    for (const bool alongX : {true, false}) {
        int previous = 0;
        for (const auto& contour : contours) {
            for (const OutlinePoint& p : contour) {
                const int v = alongX ? p.x : p.y;
                reachable = reachable && std::abs(v - previous) <= 0x7FFF;
                previous = v;
            }
        }
    }
    if (points == 0 || contours.size() > 0x7FFF || points > 0xFFFF || !reachable) {
        xMin = 0;
        return out;
    }
    xMin = x0;
    put16(out, uint32_t(contours.size()));
    put16(out, uint16_t(x0));
    put16(out, uint16_t(y0));
    put16(out, uint16_t(x1));
    put16(out, uint16_t(y1));
    size_t end = 0;
    for (const auto& contour : contours) {
        end += contour.size();
        put16(out, uint32_t(end - 1));
    }
    put16(out, 0); // no instructions
    for (const auto& contour : contours) {
        for (const OutlinePoint& p : contour) {
            out += char(p.onCurve ? 1 : 0);
        }
    }
    for (const bool alongX : {true, false}) {
        int previous = 0;
        for (const auto& contour : contours) {
            for (const OutlinePoint& p : contour) {
                const int v = alongX ? p.x : p.y;
                put16(out, uint16_t(int16_t(v - previous)));
                previous = v;
            }
        }
    }
    out.append((4 - out.size() % 4) % 4, '\0');
    return out;
}

} // namespace

std::string webFontFromCff(const std::string& cff, const FontMetrics& metrics,
                           const std::string& family, const std::map<int, int>& glyphs) {
    const size_t glyphCount = metrics.advances.size();
    const std::map<int, int> usable = usableOf(glyphs, glyphCount);
    if (usable.empty() || cff.size() < 4 || cff[0] != 1 || glyphCount > 0xFFFF) {
        return {};
    }
    std::map<std::string, std::string> tables = tablesOf(metrics, false, {}, family, usable);
    tables["CFF "] = cff;
    std::string maxp;
    put32(maxp, 0x00005000); // version 0.5: outlines in CFF
    put16(maxp, uint32_t(glyphCount));
    tables["maxp"] = maxp;
    return assemble(tables, 0x4F54544F); // "OTTO"
}

std::string webFontFromOutlines(const std::vector<GlyphContours>& outlines,
                                const FontMetrics& metrics, const std::string& family,
                                const std::map<int, int>& glyphs) {
    const size_t glyphCount = std::min(outlines.size(), metrics.advances.size());
    const std::map<int, int> usable = usableOf(glyphs, glyphCount);
    if (usable.empty() || glyphCount > 0xFFFF) {
        return {};
    }
    std::vector<bool> kept(glyphCount, false);
    for (const auto& [c, gid] : usable) {
        kept[size_t(gid)] = true;
    }
    std::string glyf;
    std::string loca;
    std::vector<int16_t> bearings(glyphCount, 0);
    size_t maxPoints = 0, maxContours = 0;
    for (size_t g = 0; g < glyphCount; ++g) {
        put32(loca, uint32_t(glyf.size()));
        if (kept[g]) {
            glyf += glyphEntry(outlines[g], bearings[g]);
            size_t points = 0;
            for (const auto& contour : outlines[g]) {
                points += contour.size();
            }
            maxPoints = std::max(maxPoints, points);
            maxContours = std::max(maxContours, outlines[g].size());
        }
    }
    put32(loca, uint32_t(glyf.size()));
    FontMetrics trimmed = metrics;
    trimmed.advances.resize(glyphCount);
    std::map<std::string, std::string> tables = tablesOf(trimmed, true, bearings, family, usable);
    tables["glyf"] = glyf;
    tables["loca"] = loca;
    std::string maxp;
    put32(maxp, 0x00010000); // version 1.0: outlines in glyf
    put16(maxp, uint32_t(glyphCount));
    put16(maxp, uint32_t(std::min<size_t>(maxPoints, 0xFFFF)));
    put16(maxp, uint32_t(std::min<size_t>(maxContours, 0xFFFF)));
    put16(maxp, 0);        // composite points
    put16(maxp, 0);        // composite contours
    put16(maxp, 2);        // zones
    maxp.append(18, '\0'); // no instructions: no twilight points, storage, functions, stack
    tables["maxp"] = maxp;
    return assemble(tables, 0x00010000);
}

} // namespace tools
