#pragma once

// A PDF's embedded TrueType fonts as fonts a browser loads. Fonts embedded in PDFs are subsets
// that often lack the tables a browser insists on (a Unicode character map, names, metrics for
// the operating system) and map codes rather than characters to their glyphs; the web font keeps
// the glyphs and their hinting and gets new tables, with a character map from the characters
// the pages show to the glyphs that show them.
#include <map>
#include <string>

namespace tools {

/// The TrueType font `font` (the bytes of a TrueType or OpenType-with-glyf file) rebuilt for a
/// browser under the family name `family`, its characters mapped to glyphs as `glyphs` says
/// (character code → glyph index). Empty when the font is not a TrueType font whose glyphs can
/// be kept (CFF outlines, damaged tables) or no character fits.
std::string webFont(const std::string& font, const std::string& family,
                    const std::map<int, int>& glyphs);

} // namespace tools
