#pragma once

// The textual pieces of a PDF file: numbers in the "C" notation whatever the locale, strings.
#include <string>
#include <string_view>

namespace pdfctl {

/// A real number with at most four decimals and no trailing zeros ("12.5", "-3", "0.0001").
std::string number(double value);

/// Bytes as a PDF hexadecimal string: "<00ff...>".
std::string hexString(std::string_view bytes);

/// A PDF text string for UTF-8 `text`: a literal string when it is printable ASCII, otherwise
/// UTF-16BE with its byte-order mark. Invalid UTF-8 becomes U+FFFD.
std::string textString(std::string_view text);

} // namespace pdfctl
