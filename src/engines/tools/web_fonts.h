#pragma once

// A PDF's embedded TrueType fonts as fonts a browser loads. Fonts embedded in PDFs are subsets
// that often lack the tables a browser insists on (a Unicode character map, names, metrics for
// the operating system) and map codes rather than characters to their glyphs; the web font keeps
// the glyphs and their hinting and gets new tables, with a character map from the characters
// the pages show to the glyphs that show them.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tools {

/// The TrueType font `font` (the bytes of a TrueType or OpenType-with-glyf file) rebuilt for a
/// browser under the family name `family`, its characters mapped to glyphs as `glyphs` says
/// (character code → glyph index). Empty when the font is not a TrueType font whose glyphs can
/// be kept (CFF outlines, damaged tables) or no character fits.
std::string webFont(const std::string& font, const std::string& family,
                    const std::map<int, int>& glyphs);

/// What a bare CFF or Type 1 font does not say of itself in the tables an
/// OpenType font needs: read by FreeType, in font units.
struct FontMetrics {
    int unitsPerEm = 1000;
    int ascender = 800;
    int descender = -200;
    int xMin = 0, yMin = -200, xMax = 1000, yMax = 800;
    std::vector<uint16_t> advances; ///< per glyph
};

/// A bare CFF font wrapped as an OpenType font for a browser, named and mapped as webFont()
/// does. Empty when no character fits.
std::string webFontFromCff(const std::string& cff, const FontMetrics& metrics,
                           const std::string& family, const std::map<int, int>& glyphs);

/// A point of a glyph's contour as TrueType stores it: on the outline, or the control point of
/// a quadratic curve between its neighbours. In font units.
struct OutlinePoint {
    int16_t x = 0;
    int16_t y = 0;
    bool onCurve = true;
};
using GlyphContours = std::vector<std::vector<OutlinePoint>>;

/// A font that browsers do not load (Type 1) as a TrueType font made of its glyphs' contours
/// (`outlines`, per glyph, curves already quadratic), named and mapped as webFont() does. Only
/// the glyphs that `glyphs` maps to are kept; hinting is not. Empty when no character fits.
std::string webFontFromOutlines(const std::vector<GlyphContours>& outlines,
                                const FontMetrics& metrics, const std::string& family,
                                const std::map<int, int>& glyphs);

} // namespace tools
