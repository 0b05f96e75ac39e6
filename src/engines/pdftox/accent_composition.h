#pragma once

namespace pdftox {

/// Whether `c` is a spacing accent that pages draw over or under a letter as a glyph of its own
/// (TeX's way of setting "ï": a diaeresis placed over a dotless i).
bool isSpacingAccent(char32_t c);

/// The one character that `accent` over (or under) `base` makes ("´" over "e" gives "é"; a dotless
/// i or j counts as i or j), or 0 when Unicode has none.
char32_t composeAccent(char32_t accent, char32_t base);

} // namespace pdftox
