#pragma once

namespace pdftox {

/// Symbol fonts whose codes stand for pictures and signs rather than letters.
enum class SymbolFamily { None, Wingdings, Symbol };

/// The family of the font named `fontName` ("ABCDEF+Wingdings-Regular", "SymbolMT"); None for
/// any other font, Wingdings 2 and 3 among them, which hold other pictures under the same codes.
SymbolFamily symbolFamilyOf(const char* fontName);

/// Symbol fonts (Wingdings, Symbol) number their pictures and signs by codes that are letters
/// in any other font: without a map of their own, a page's bullets read "l" and its Greek
/// "a b g". This gives the Unicode character that a code of a font of `family` shows: its own
/// code, in 0x20–0xFF or in the private area 0xF020–0xF0FF where symbol fonts keep them, is
/// looked up. A Symbol font that the PDF maps gives Greek and signs already, which stay; its
/// ASCII letters can only be its own codes. `latinCodesAreOwn` says that the font has shown
/// such letters on the page, so that its codes 0x80–0xFF, which a wrong encoding reads as
/// Latin-1 letters ("³" for "≥"), are its own too. 0 means the glyph shows nothing a character
/// stands for (an ornament without one).
char32_t symbolCharacter(SymbolFamily family, char32_t c, bool latinCodesAreOwn = false);

/// A common family that holds the characters symbolCharacter() gives for `family`; nullptr
/// for None.
const char* mappedSymbolFamily(SymbolFamily family);

} // namespace pdftox
