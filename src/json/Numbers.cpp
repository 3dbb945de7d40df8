// Numbers of JSON texts: the grammar's faults, decimal to double, the kinds of a
// document, exact whole values.
#include "json/Numbers.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace {

using json_numbers::EightDigits;
using json_numbers::IsDigit;
using json_numbers::SignificantDigits;

// The decimal exponent of the leading digit of the number at [str, end), saturated:
// positive for a magnitude of 10 or more, negative for one below 1 and for zero. Reads
// only JSON's number grammar.
long LeadingExponent(const char* str, const char* end) {
    const char* c = str + (str != end && *str == '-' ? 1 : 0);
    while (c != end && *c == '0') {
        ++c;
    }
    long lead = 0;
    bool nonzero = c != end && IsDigit(*c);
    while (c != end && IsDigit(*c)) {
        ++c;
        lead = lead < 1000000000L ? lead + 1 : lead;
    }
    if (c != end && *c == '.') {
        ++c;
        const bool fractionLeads = lead == 0;
        while (fractionLeads && c != end && *c == '0') {
            lead = lead > -1000000000L ? lead - 1 : lead;
            ++c;
        }
        nonzero = nonzero || (c != end && IsDigit(*c));
        while (c != end && IsDigit(*c)) {
            ++c;
        }
    }
    if (!nonzero) {
        return -1;  // zero, whatever its exponent
    }
    long exponent = 0;
    if (c != end && (*c == 'e' || *c == 'E')) {
        ++c;
        const bool negative = c != end && *c == '-';
        if (c != end && (*c == '-' || *c == '+')) {
            ++c;
        }
        while (c != end && IsDigit(*c)) {
            exponent = exponent < 1000000000L ? exponent * 10 + (*c - '0') : exponent;
            ++c;
        }
        exponent = negative ? -exponent : exponent;
    }
    return lead + exponent;
}

// The number of the characters [str, end) correctly rounded to a double by the C++
// library (locale-free, any number of digits), infinite beyond the range of doubles and
// zero below it.
double LibraryDecimalValue(const char* str, const char* end) {
    double value = 0;
    const std::from_chars_result converted = std::from_chars(str, end, value);
    if (converted.ec == std::errc()) {
        return value;
    }
    // Out of range: infinite when too large, zero when too small.
    const double sign = *str == '-' ? -1.0 : 1.0;
    return LeadingExponent(str, end) > 0 ? sign * std::numeric_limits<double>::infinity() : sign * 0.0;
}

// Powers of ten that doubles hold exactly.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Up to this many significant digits a decimal is read without the library.
constexpr int kExtendedDigits = 19;

#if defined(__x86_64__) && LDBL_MANT_DIG == 64
// Whether long doubles really hold 64 bits of significand here: an emulated unit (as
// under valgrind) may compute with a double's 53 and round 2^63 + 1 to 2^63.
bool ExtendedSignificandHolds() {
    volatile uint64_t beyond53 = (uint64_t{1} << 63) + 1;
    return static_cast<long double>(beyond53) - 0x1p63L == 1.0L;
}

// Tested once, when the library is loaded, not on a task's first long decimal.
const bool kExtendedSignificandHolds = ExtendedSignificandHolds();
#endif

// digits * 10^scale as the double nearest to it, for digits of at most 19 decimal digits
// (a double's 53 bits hold only 15 of them exactly), computed in the x87 unit's 64-bit
// significand: the digits and 10^0 to 10^27 are held exactly there, so one
// multiplication or division rounds once, to 64 bits. Rounding that again to a double's
// 53 bits gives the nearest double unless the 64-bit result lies exactly halfway between
// two doubles, where the exact value may lie on either side: false then, and also when
// the unit does not round to nearest at 64 or 53 bits (a unit set to 53 bits rounds the
// exact value once, to the double itself), beyond 10^27, and on machines without such a
// unit or where it does not hold 64 bits.
bool ExtendedDecimalValue(uint64_t digits, int scale, double& value) {
#if defined(__x86_64__) && LDBL_MANT_DIG == 64
    static constexpr long double kPowers[] = {
        1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,  1e7L,  1e8L,  1e9L,  1e10L, 1e11L, 1e12L, 1e13L,
        1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L, 1e20L, 1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L};
    if (!kExtendedSignificandHolds || scale < -27 || scale > 27) {
        return false;
    }
    uint16_t control = 0;
    __asm__("fnstcw %0" : "=m"(control));
    const unsigned precision = (control >> 8) & 3u;  // 3: 64 bits, 2: 53 bits
    const unsigned rounding = (control >> 10) & 3u;  // 0: to nearest
    if (precision < 2 || rounding != 0) {
        return false;
    }
    const long double exact = static_cast<long double>(digits);
    const long double rounded = scale < 0 ? exact / kPowers[-scale] : exact * kPowers[scale];
    uint64_t significand = 0;
    std::memcpy(&significand, &rounded, sizeof(significand));
    if ((significand & 0x7FF) == 0x400) {
        return false;  // the 11 bits a double drops are exactly one half
    }
    value = static_cast<double>(rounded);
    return true;
#else
    (void)digits;
    (void)scale;
    (void)value;
    return false;
#endif
}

// The double of the decimal [str, end) whose value is digits * 10^scale, digits counting
// `significant` decimal digits from the first that is not zero (at most kExtendedDigits).
double DecimalOfDigits(const char* str, const char* end, uint64_t digits, int significant, long scale) {
    // Up to 15 digits and a power of ten up to 10^22 are doubles held exactly, so one
    // multiplication or division rounds correctly.
    double magnitude = 0;
    if (significant <= 15 && scale >= -22 && scale <= 22) {
        magnitude = scale < 0 ? static_cast<double>(digits) / kExactPowersOfTen[-scale]
                              : static_cast<double>(digits) * kExactPowersOfTen[scale];
    } else if (scale < -27 || scale > 27 ||
               !ExtendedDecimalValue(digits, static_cast<int>(scale), magnitude)) {
        return LibraryDecimalValue(str, end);
    }
    return *str == '-' ? -magnitude : magnitude;
}

// The double of the decimal [str, end) whose integer part is read: c stands after it,
// digits holds its digits and significant counts them from the first that is not zero
// (at most kExtendedDigits). Reads the fraction and the exponent from c on.
double DecimalAfterWhole(const char* str, const char* end, const char* c, uint64_t digits, int significant) {
    int fraction = 0;
    if (c != end && *c == '.') {
        ++c;
        // Eight digits at a time while they fit: a long fraction is otherwise a chain of
        // one multiplication per digit.
        uint64_t eight = 0;
        while (end - c >= 8 && significant <= kExtendedDigits - 8 && EightDigits(c, eight)) {
            if (digits == 0) {
                significant = SignificantDigits(eight);
            } else {
                significant += 8;
            }
            digits = digits * 100000000 + eight;
            fraction += 8;
            c += 8;
        }
        for (; c != end && IsDigit(*c); ++c) {
            if (significant == kExtendedDigits) {
                return LibraryDecimalValue(str, end);
            }
            digits = digits * 10 + static_cast<unsigned>(*c - '0');
            significant += digits != 0 ? 1 : 0;
            ++fraction;
        }
    }
    int exponent = 0;
    if (c != end) {
        const bool negative = c[1] == '-';
        c += c[1] == '-' || c[1] == '+' ? 2 : 1;
        if (end - c > 3) {
            return LibraryDecimalValue(str, end);
        }
        for (; c != end; ++c) {
            exponent = exponent * 10 + (*c - '0');
        }
        exponent = negative ? -exponent : exponent;
    }
    return DecimalOfDigits(str, end, digits, significant, exponent - fraction);
}

// An exponent beyond this says as much as any larger one, and sums of it with the
// lengths of a text stay far from overflow.
constexpr int64_t kExponentLimit = int64_t(1) << 50;

// 2^53: from here on, not every whole number is a double.
constexpr double kExactDoubles = 9007199254740992.0;

}  // namespace

const char* json_numbers::NumberFaultAt(const char* text, ENumberFault& fault) {
    const char* c = text + (*text == '-' ? 1 : 0);
    fault = ENumberFault::kNoDigit;
    if (!IsDigit(*c)) {
        return c;
    }
    if (*c == '0') {
        ++c;
    } else {
        while (IsDigit(*c)) {
            ++c;
        }
    }
    if (*c == '.') {
        ++c;
        if (!IsDigit(*c)) {
            fault = ENumberFault::kNoFraction;
            return c;
        }
        while (IsDigit(*c)) {
            ++c;
        }
    }
    if (*c == 'e' || *c == 'E') {
        ++c;
        c += *c == '+' || *c == '-' ? 1 : 0;
        if (!IsDigit(*c)) {
            fault = ENumberFault::kNoExponent;
            return c;
        }
    }
    return text;  // not reached: the text holds a number
}

double DecimalValue(const char* str, size_t length) {
    const char* end = str + length;
    const char* c = str + (*str == '-' ? 1 : 0);
    uint64_t digits = 0;
    int significant = 0;
    for (; c != end && IsDigit(*c); ++c) {
        if (significant == kExtendedDigits) {
            return LibraryDecimalValue(str, end);
        }
        digits = digits * 10 + static_cast<unsigned>(*c - '0');
        significant += digits != 0 ? 1 : 0;
    }
    return DecimalAfterWhole(str, end, c, digits, significant);
}

double DecimalOfSpelling(const CNumberSpelling& number) {
    return DecimalOfDigits(number.text, number.text + number.length, number.digits, number.significant,
                           number.scale);
}

CJsonNumber ReadJsonNumber(const char* str, size_t length) {
    const bool minus = str[0] == '-';
    const char* digits = str + (minus ? 1 : 0);
    const char* end = str + length;
    // Up to 19 digits always fit in 64 bits; a 20th is taken only when it does.
    const char* c = digits;
    const char* stop = end - digits > 19 ? digits + 19 : end;
    uint64_t magnitude = 0;
    while (c != stop && IsDigit(*c)) {
        magnitude = magnitude * 10 + static_cast<unsigned>(*c - '0');
        ++c;
    }
    bool integer = c == end;
    if (!integer && c == stop && end - c == 1 && IsDigit(*c)) {
        const unsigned digit = static_cast<unsigned>(*c - '0');
        if (magnitude <= (std::numeric_limits<uint64_t>::max() - digit) / 10) {
            magnitude = magnitude * 10 + digit;
            integer = true;
        }
    }
    if (integer && (!minus || magnitude <= uint64_t(1) << 63)) {
        return WholeJsonNumber(minus, magnitude);
    }
    if (integer || (c != end && IsDigit(*c))) {
        // An integer beyond 64 bits, or an integer part of more than 19 digits.
        return CJsonNumber{CJsonNumber::kDouble, 0, DecimalValue(str, length)};
    }
    // A fraction or an exponent follows the integer part, which has no leading zero.
    const int significant = magnitude != 0 ? static_cast<int>(c - digits) : 0;
    return CJsonNumber{CJsonNumber::kDouble, 0, DecimalAfterWhole(str, end, c, magnitude, significant)};
}

CExactNumber ExactNumberOfText(const char* text, size_t length) {
    CExactNumber exact;
    size_t at = 0;
    const bool minus = at < length && text[at] == '-';
    at += minus ? 1 : 0;
    const size_t integerBegin = at;
    while (at < length && IsDigit(text[at])) {
        ++at;
    }
    const size_t integerDigits = at - integerBegin;
    size_t fractionBegin = at;
    if (at < length && text[at] == '.') {
        fractionBegin = ++at;
        while (at < length && IsDigit(text[at])) {
            ++at;
        }
    }
    const size_t fractionDigits = at - fractionBegin;
    int64_t exponent = 0;
    if (at < length && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        const bool negativeExponent = at < length && text[at] == '-';
        at += at < length && (text[at] == '-' || text[at] == '+') ? 1 : 0;
        for (; at < length && IsDigit(text[at]); ++at) {
            exponent = std::min(exponent * 10 + (text[at] - '0'), kExponentLimit);
        }
        exponent = negativeExponent ? -exponent : exponent;
    }
    // The digits of the integer part and of the fraction, as one run.
    const size_t digits = integerDigits + fractionDigits;
    const auto digit = [&](size_t i) {
        return i < integerDigits ? text[integerBegin + i] : text[fractionBegin + i - integerDigits];
    };
    size_t first = 0;
    while (first < digits && digit(first) == '0') {
        ++first;
    }
    if (first == digits) {
        exact.whole = true;  // zero, -0 and 0e99 included
        exact.fits = true;
        return exact;
    }
    size_t last = digits - 1;
    while (digit(last) == '0') {
        --last;
    }
    // value = digits first..last * 10^scale
    const int64_t scale =
        exponent - static_cast<int64_t>(fractionDigits) + static_cast<int64_t>(digits - 1 - last);
    if (scale < 0) {
        return exact;  // a fraction that is not zero
    }
    exact.whole = true;
    exact.negative = minus;
    const int64_t length10 = static_cast<int64_t>(last - first + 1) + scale;
    if (length10 > 20) {
        return exact;  // beyond 64 bits
    }
    uint64_t magnitude = 0;
    for (int64_t i = 0; i < length10; ++i) {
        const unsigned d = i <= static_cast<int64_t>(last - first)
                               ? static_cast<unsigned>(digit(first + static_cast<size_t>(i)) - '0')
                               : 0;
        if (magnitude > (UINT64_MAX - d) / 10) {
            return exact;  // beyond 64 bits
        }
        magnitude = magnitude * 10 + d;
    }
    exact.fits = true;
    exact.magnitude = magnitude;
    return exact;
}

bool WholeDoubleNeedsExact(double value, const char* text, size_t length, CExactNumber& exact) {
    exact = ExactNumberOfText(text, length);
    const double magnitude = std::fabs(value);
    return !exact.whole ||
           (magnitude >= kExactDoubles && value >= -9223372036854775808.0 && value <= 18446744073709551616.0);
}

EWholeValue WholeOfValue(const CJsonValue& value, const CExactNumber* exact, CWhole& whole) {
    if (value.IsUint64()) {
        whole.negative = false;
        whole.magnitude = value.GetUint64();
        return EWholeValue::kWhole;
    }
    if (value.IsInt64()) {
        whole.negative = true;  // an integer that is not a uint64 is below zero
        whole.magnitude = ~static_cast<uint64_t>(value.GetInt64()) + 1;
        return EWholeValue::kWhole;
    }
    if (!value.IsDouble()) {
        return EWholeValue::kNoNumber;
    }
    if (exact != nullptr) {
        if (!exact->whole) {
            return EWholeValue::kNotWhole;
        }
        if (!exact->fits) {
            return EWholeValue::kBeyond;
        }
        whole.negative = exact->negative && exact->magnitude != 0;
        whole.magnitude = exact->magnitude;
        return EWholeValue::kWhole;
    }
    // Without a note the double tells the value: below 2^53 every whole number is a
    // double, and a whole double of 2^53 or more within 64 bits always has a note.
    const double d = value.GetDouble();
    if (!std::isfinite(d)) {
        return EWholeValue::kBeyond;
    }
    if (std::trunc(d) != d) {
        return EWholeValue::kNotWhole;
    }
    if (d >= 18446744073709551616.0 || d < -9223372036854775808.0) {
        return EWholeValue::kBeyond;
    }
    whole.negative = d < 0;
    whole.magnitude = whole.negative ? static_cast<uint64_t>(-d) : static_cast<uint64_t>(d);
    return EWholeValue::kWhole;
}
