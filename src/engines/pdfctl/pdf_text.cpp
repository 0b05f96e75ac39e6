#include "pdf_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace pdfctl {

std::string number(double value) {
    if (!std::isfinite(value)) {
        return "0";
    }
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 4);
    std::string s(buffer, result.ptr);
    while (!s.empty() && s.back() == '0') {
        s.pop_back();
    }
    if (!s.empty() && s.back() == '.') {
        s.pop_back();
    }
    return s == "-0" || s.empty() ? "0" : s;
}

std::string hexString(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(bytes.size() * 2 + 2);
    s += '<';
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    s += '>';
    return s;
}

namespace {

// The next code point of `text` from `i`, advancing `i`; U+FFFD for a malformed sequence.
char32_t nextCodePoint(std::string_view text, size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i++]);
    if (lead < 0x80) {
        return lead;
    }
    int extra = 0;
    char32_t cp = 0;
    char32_t least = 0;
    if ((lead & 0xe0) == 0xc0) {
        extra = 1;
        cp = lead & 0x1fu;
        least = 0x80;
    } else if ((lead & 0xf0) == 0xe0) {
        extra = 2;
        cp = lead & 0x0fu;
        least = 0x800;
    } else if ((lead & 0xf8) == 0xf0) {
        extra = 3;
        cp = lead & 0x07u;
        least = 0x10000;
    } else {
        return 0xfffd;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xc0) != 0x80) {
            return 0xfffd;
        }
        cp = (cp << 6) | (static_cast<unsigned char>(text[i++]) & 0x3fu);
    }
    if (cp < least || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) {
        return 0xfffd;
    }
    return cp;
}

} // namespace

std::string textString(std::string_view text) {
    bool plain = true;
    for (const char c : text) {
        plain = plain && c >= 0x20 && c < 0x7f;
    }
    if (plain) {
        std::string s = "(";
        for (const char c : text) {
            if (c == '(' || c == ')' || c == '\\') {
                s += '\\';
            }
            s += c;
        }
        return s + ")";
    }
    std::string utf16 = "\xfe\xff";
    auto put = [&utf16](char32_t unit) {
        utf16 += static_cast<char>(unit >> 8);
        utf16 += static_cast<char>(unit & 0xff);
    };
    for (size_t i = 0; i < text.size();) {
        const char32_t cp = nextCodePoint(text, i);
        if (cp >= 0x10000) {
            put(0xd800 + ((cp - 0x10000) >> 10));
            put(0xdc00 + ((cp - 0x10000) & 0x3ff));
        } else {
            put(cp);
        }
    }
    return hexString(utf16);
}

} // namespace pdfctl
