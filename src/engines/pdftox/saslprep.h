#pragma once

// Preparing the passwords of AES-256 encrypted PDF files (revisions 5 and 6) as ISO 32000-2
// (PDF 2.0) asks: the typed text goes through SASLprep (RFC 4013) and the UTF-8 result is
// truncated to 127 bytes. No Qt, no PDF library: the export library and the tools share it.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace pdftox {

/// The number of bytes of an AES-256 password that count; the rest is ignored.
inline constexpr std::size_t Aes256PasswordBytes = 127;

/// SASLprep (RFC 4013) of the UTF-8 text `password`, not truncated: characters that map to
/// nothing (soft hyphen, zero-width joiners) are removed, non-ASCII spaces become U+0020, the
/// result is in Unicode normal form KC (ª becomes "a", e + U+0301 becomes é). Unassigned code
/// points are let through, as RFC 4013 allows for queries. Returns std::nullopt when
/// `password` has no prepared form: it is not UTF-8, holds a prohibited character (a control
/// character such as U+0001 or NUL, a private-use or surrogate code point, ...) or mixes
/// right-to-left and left-to-right text against the bidi rules.
std::optional<std::string> saslprep(const std::string& password);

/// The byte strings to try, in this order, as the password of an AES-256 (revision 5 or 6)
/// file for which the user typed `password`: its SASLprep form, then the bytes as typed (for
/// files made by programs that do not prepare their passwords), each truncated to 127 bytes;
/// a string that equals an earlier one is left out. Never empty: without a prepared form only
/// the typed bytes remain. Not for other revisions (RC4, AES-128): they never took SASLprep.
std::vector<std::string> aes256Passwords(const std::string& password);

} // namespace pdftox
