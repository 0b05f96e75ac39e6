#pragma once

#include <QString>

namespace convert {

/// The numeric value of a text as the settings read it: the longest decimal number at its
/// start (optional sign, fraction and exponent), blanks, tabs and line feeds anywhere in the
/// text skipped; 0 when the text does not start with a number. "2.5" gives 2.5, "12abc" 12,
/// " 1 2" 12, "abc" 0, "1e3" 1000.
double NumericValue(const QString& text);

/// `value` made whole by taking the nearest integer, halves to the even neighbour
/// (0.5 gives 0, 1.5 gives 2, 2.5 gives 2).
double RoundHalfEven(double value);

/// RoundHalfEven of `value` held in an int, values beyond its range clamped to the ends.
int RoundToInt(double value);

} // namespace convert
