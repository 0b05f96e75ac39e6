#include "numeric.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>

namespace convert {

double NumericValue(const QString& text) {
    std::string s;
    for (const QChar c : text) {
        if (c != QChar(' ') && c != QChar('\t') && c != QChar('\n')) {
            s += c.unicode() < 128 ? char(c.unicode()) : '\x01';
        }
    }
    size_t i = 0;
    std::string number;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        number += s[i++];
    }
    bool digits = false;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        number += s[i++];
        digits = true;
    }
    if (i < s.size() && s[i] == '.') {
        std::string fraction = ".";
        size_t j = i + 1;
        while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
            fraction += s[j++];
        }
        if (digits || fraction.size() > 1) {
            number += fraction;
            digits = true;
            i = j;
        }
    }
    if (!digits) {
        return 0;
    }
    // An exponent counts only when digits follow it.
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        size_t j = i + 1;
        std::string exponent = "e";
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) {
            exponent += s[j++];
        }
        const size_t start = j;
        while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
            exponent += s[j++];
        }
        if (j > start) {
            number += exponent;
        }
    }
    return std::strtod(number.c_str(), nullptr);
}

double RoundHalfEven(double value) {
    // The default rounding mode rounds halves to even.
    return std::nearbyint(value);
}

int RoundToInt(double value) {
    const double whole = RoundHalfEven(value);
    if (std::isnan(whole)) {
        return 0;
    }
    if (whole >= double(INT_MAX)) {
        return INT_MAX;
    }
    if (whole <= double(INT_MIN)) {
        return INT_MIN;
    }
    return int(whole);
}

} // namespace convert
