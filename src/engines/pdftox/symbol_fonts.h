#pragma once

namespace pdftox {

/// Symbol fonts (Wingdings, Symbol) number their pictures and signs by codes that are letters
/// in any other font: without a map of their own, a page's bullets read "l" and its Greek
/// "a b g". This gives the Unicode character that a code of the font named `fontName` shows:
/// its own code, in 0x20–0xFF or in the private area 0xF020–0xF0FF where symbol fonts keep
/// them, is looked up. Characters that are already Unicode stay; 0 means the glyph shows
/// nothing a character stands for (an ornament without one).
char32_t symbolCharacter(const char* fontName, char32_t c);

/// For a symbol font that symbolCharacter() maps, a common family that holds the characters
/// it gives; nullptr for any other font.
const char* mappedSymbolFamily(const char* fontName);

} // namespace pdftox
