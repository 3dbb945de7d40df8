// Number text: integers and doubles written by hand or from std::to_chars, the
// shortest digits laid out as the component lays out every double, and the rounding to
// decimal places.
#include "json/NumberText.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The significant digits of a finite double's shortest decimal and the place of its
// point: value = 0.digits * 10^point. Zero gives no digits.
struct CShortestDecimal {
    char digits[24];
    int length = 0;
    int point = 0;
    bool negative = false;
};

CShortestDecimal ShortestDecimal(double value) {
    CShortestDecimal decimal;
    decimal.negative = std::signbit(value);
    if (value == 0) {
        return decimal;
    }
    char text[40];
    const std::to_chars_result end =
        std::to_chars(text, text + sizeof(text), std::fabs(value), std::chars_format::scientific);
    // d[.ddd]e[+-]xx
    const char* c = text;
    for (; c != end.ptr && *c != 'e'; ++c) {
        if (*c != '.') {
            decimal.digits[decimal.length++] = *c;
        }
    }
    int exponent = 0;
    std::from_chars(c + 1 + (c[1] == '+' ? 1 : 0), end.ptr, exponent);
    decimal.point = exponent + 1;
    return decimal;
}

// Adds one unit in the last place to the decimal digits of `text` ("0.12" gives "0.13",
// "9.99" gives "10.00"); `text` has room for one more character.
void IncrementDecimal(char* text) {
    size_t length = std::strlen(text);
    for (size_t i = length; i-- > 0;) {
        if (text[i] == '.') {
            continue;
        }
        if (text[i] != '9') {
            ++text[i];
            return;
        }
        text[i] = '0';
    }
    std::memmove(text + 1, text, length + 1);
    text[0] = '1';
}

}  // namespace

char* WriteShortestDouble(double value, char* out) {
    const CShortestDecimal decimal = ShortestDecimal(value);
    if (decimal.negative) {
        *out++ = '-';
    }
    if (decimal.length == 0) {
        std::memcpy(out, "0.0", 3);
        return out + 3;
    }
    const int length = decimal.length;
    const int point = decimal.point;  // digits before the point
    const auto put = [&out](const char* from, int count) {
        std::memcpy(out, from, static_cast<size_t>(count));
        out += count;
    };
    const auto zeros = [&out](int count) {
        std::memset(out, '0', static_cast<size_t>(count));
        out += count;
    };
    if (length <= point && point <= 21) {  // 1234e7: 12340000000.0
        put(decimal.digits, length);
        zeros(point - length);
        put(".0", 2);
    } else if (0 < point && point <= 21) {  // 1234e-2: 12.34
        put(decimal.digits, point);
        *out++ = '.';
        put(decimal.digits + point, length - point);
    } else if (-6 < point && point <= 0) {  // 1234e-6: 0.001234
        put("0.", 2);
        zeros(-point);
        put(decimal.digits, length);
    } else {  // 1e30, 1.234e33, 1e-7: no '+', no leading zeros in the exponent
        *out++ = decimal.digits[0];
        if (length > 1) {
            *out++ = '.';
            put(decimal.digits + 1, length - 1);
        }
        *out++ = 'e';
        out = std::to_chars(out, out + 8, point - 1).ptr;
    }
    return out;
}

double RoundShortestToDecimalPlaces(double value, int places) {
    if (places >= kDefaultDecimalPlaces || !std::isfinite(value)) {
        return value;
    }
    if (places < 0) {
        places = 0;
    }
    const CShortestDecimal decimal = ShortestDecimal(value);
    const int kept = decimal.point + places;  // digits that stay
    if (decimal.length <= kept) {
        return value;  // no more places than asked for
    }
    // Digits 0..kept-1 stay; the first dropped one decides, halves away from zero.
    char text[48];
    int at = 0;
    text[at++] = '0';  // room for a carry
    for (int i = 0; i < kept; ++i) {
        text[at++] = decimal.digits[i];
    }
    const bool up = kept >= 0 && decimal.digits[kept] >= '5';
    if (kept < 0 || (kept == 0 && !up)) {
        return 0.0;
    }
    if (up) {
        int i = at - 1;
        for (; text[i] == '9'; --i) {
            text[i] = '0';
        }
        ++text[i];
    }
    // text holds the rounded digits with one leading digit more: value = 0.text * 10^(point + 1)
    text[at++] = 'e';
    at = static_cast<int>(std::to_chars(text + at, text + sizeof(text), decimal.point + 1 - (at - 1)).ptr -
                          text);
    double rounded = 0;
    std::from_chars(text, text + at, rounded);
    if (rounded == 0.0) {
        return 0.0;
    }
    return decimal.negative ? -rounded : rounded;
}

double RoundToDecimalPlaces(double value, int places) {
    if (places >= kDefaultDecimalPlaces || !std::isfinite(value)) {
        return value;
    }
    if (value == 0.0) {
        return 0.0;  // -0.0 too: zero is written without a sign once rounding is asked for
    }
    if (places < 0) {
        places = 0;
    }
    // |value| = odd * 2^-binaryPlaces; such a number has exactly binaryPlaces decimal
    // places, the last of them a 5 when binaryPlaces > 0.
    int exponent = 0;
    const double fraction = std::frexp(std::fabs(value), &exponent);
    const uint64_t mantissa = static_cast<uint64_t>(std::ldexp(fraction, 53));
    const int binaryPlaces = 53 - exponent - __builtin_ctzll(mantissa);
    if (binaryPlaces <= places) {
        return value;  // already has no more places than asked for (every integer)
    }
    // Here |value| < 2^52: at most 16 digits before the point, at most 324 after it.
    char text[400];
    const bool half = binaryPlaces == places + 1;  // the dropped part is exactly one half
    // printf rounds exactly, but a tie to even; a tie is written one place longer and
    // rounded away from zero here.
    std::snprintf(text, sizeof(text) - 1, "%.*f", half ? places + 1 : places, std::fabs(value));
    if (half) {
        text[std::strlen(text) - 1] = '\0';  // the final 5
        IncrementDecimal(text);
    }
    const double rounded = std::strtod(text, nullptr);
    if (rounded == 0.0) {
        return 0.0;
    }
    return value < 0 ? -rounded : rounded;
}

double ShortestFloatAsDouble(float value) {
    if (!std::isfinite(value)) {
        return static_cast<double>(value);
    }
    // Scientific: the plain form of a large whole single is its exact value whenever
    // that is no longer than the exponent form (512924647424, not 5.1292465e+11).
    char text[48];
    const std::to_chars_result end =
        std::to_chars(text, text + sizeof(text), value, std::chars_format::scientific);
    double nearest = 0;
    std::from_chars(text, end.ptr, nearest);
    return nearest;
}
