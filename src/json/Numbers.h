// Numbers of JSON texts, read one way wherever the component reads one: the reader's
// documents and its Get methods, JSON to variable and its report, ToVariable and the
// writer's raw texts.
//
// - Scanning (ReadNumber): the grammar of a JSON number, with its decimal digits read on
//   the way, so the text of a number is gone over once.
// - Its double (DecimalValue): the decimal correctly rounded to the nearest double, for
//   every spelling (`0e400` is 0.0, a 1 with a million zeros and `e-1000000` is 1.0);
//   infinite when that lies beyond the largest finite double, which makes the text no
//   JSON text to the component (the reader refuses it: BeyondDoubles).
// - Its kind in a document (ReadJsonNumber): without fraction or exponent, an integer of
//   the narrowest of RapidJSON's kinds that holds it; any other number a double.
// - Its exact value (ExactNumberOfText) and the whole-number test (WholeOfValue): a
//   number counts by its value, whatever its spelling; where its double cannot tell
//   that value (9007199254740993.0, 1.0000000000000000001), the exact value of the text
//   does.
//
// Stateless; any thread.
#ifndef JSON_NUMBERS_H
#define JSON_NUMBERS_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "json/JsonMemory.h"

// A number as the reader met it: its text and, for the usual spellings, its decimal
// digits, read on the way.
struct CNumberSpelling {
    const char* text;
    size_t length;
    uint64_t digits;  // the digits from the first that is not zero, as one integer
    int significant;  // how many those are
    long scale;       // the value is digits * 10^scale
    bool negative;
    bool integer;      // neither fraction nor exponent
    bool read;         // the fields above hold the value: at most 19 significant digits
                       // and an exponent of at most three digits
    bool mayOverflow;  // an exponent of three digits or more, or 200 characters or more:
                       // only such a number can lie beyond the range of doubles
};

// The value a document gives a number: without fraction or exponent, an integer of the
// narrowest kind that holds it; any other (and an integer beyond 64 bits) a double.
struct CJsonNumber {
    enum EKind { kUint, kUint64, kInt, kInt64, kDouble };
    EKind kind;
    uint64_t magnitude;  // integers: the absolute value
    double value;        // kDouble
};

// The value of a number's text as an integer leaf takes it.
struct CExactNumber {
    bool whole = false;     // the text's value is a whole number
    bool negative = false;  // whole and below zero
    bool fits = false;      // whole and its magnitude below 2^64
    uint64_t magnitude = 0;
};

// A whole number as its sign and magnitude (a negative zero is zero).
struct CWhole {
    bool negative = false;
    uint64_t magnitude = 0;
};

namespace json_numbers {

inline bool IsDigit(char c) { return static_cast<unsigned>(c - '0') <= 9; }

// Whether the eight characters at text are all digits; if so, value receives their value.
// REQUIRES: eight bytes are readable at text.
inline bool EightDigits(const char* text, uint64_t& value) {
    uint64_t word;
    std::memcpy(&word, text, sizeof(word));
    // Each byte is a digit when its high half is 3 and adding 6 keeps it there.
    if ((word & 0xF0F0F0F0F0F0F0F0) != 0x3030303030303030 ||
        ((word + 0x0606060606060606) & 0xF0F0F0F0F0F0F0F0) != 0x3030303030303030) {
        return false;
    }
    word -= 0x3030303030303030;
    // Pairs, then quadruples, then the whole (the first character is the lowest byte).
    word = word * 10 + (word >> 8);
    word = (((word & 0x000000FF000000FF) * (100 + (1000000ULL << 32))) +
            (((word >> 16) & 0x000000FF000000FF) * (1 + (10000ULL << 32)))) >>
           32;
    value = word;
    return true;
}

// The count of decimal digits of a value below 10^8, none for zero.
inline int SignificantDigits(uint64_t value) {
    return (value >= 1) + (value >= 10) + (value >= 100) + (value >= 1000) + (value >= 10000) +
           (value >= 100000) + (value >= 1000000) + (value >= 10000000);
}

// Up to this many significant digits a number's digits are read on the way: they fit in
// 64 bits.
constexpr long kReadDigits = 19;

// Why a text that starts a number is none of JSON's grammar.
enum class ENumberFault { kNoDigit, kNoFraction, kNoExponent };

// Where the number of JSON's grammar that starts at text fails: the character that is
// not the digit it needs there, and why. REQUIRES: ReadNumber found no number at text.
const char* NumberFaultAt(const char* text, ENumberFault& fault);

}  // namespace json_numbers

// The number that starts at p; returns the character after it, null when there is no
// number of JSON's grammar there. Fills number as it goes: its digits are read while they
// are checked. REQUIRES: eight bytes are readable at every character of the number and
// the one after it (a padded text). Always inline: called from the reader's loop for
// every number, where a call's saved registers and the spelling's round trip through
// memory cost as much as the reading.
__attribute__((always_inline)) inline char* ReadNumber(char* p, CNumberSpelling& number) {
    using json_numbers::EightDigits;
    using json_numbers::IsDigit;
    number.text = p;
    number.negative = *p == '-';
    p += number.negative ? 1 : 0;
    uint64_t digits = 0;
    uint64_t eight = 0;
    long significant = 0;  // digits from the first that is not zero
    if (*p == '0') {
        ++p;
    } else if (IsDigit(*p)) {
        const char* const first = p;
        while (EightDigits(p, eight)) {
            digits = digits * 100000000 + eight;
            p += 8;
        }
        for (; IsDigit(*p); ++p) {
            digits = digits * 10 + static_cast<unsigned>(*p - '0');
        }
        significant = p - first;
    } else {
        return nullptr;
    }
    long fraction = 0;
    bool integer = true;
    if (*p == '.') {
        integer = false;
        if (!IsDigit(*++p)) {
            return nullptr;
        }
        const char* const first = p;
        while (EightDigits(p, eight)) {
            digits = digits * 100000000 + eight;
            significant = significant == 0 ? json_numbers::SignificantDigits(eight) : significant + 8;
            p += 8;
        }
        for (; IsDigit(*p); ++p) {
            const unsigned digit = static_cast<unsigned>(*p - '0');
            digits = digits * 10 + digit;
            significant += significant != 0 || digit != 0 ? 1 : 0;
        }
        fraction = p - first;
    }
    long exponent = 0;
    long exponentDigits = 0;
    if (*p == 'e' || *p == 'E') {
        integer = false;
        ++p;
        const bool negative = *p == '-';
        if (*p == '+' || *p == '-') {
            ++p;
        }
        if (!IsDigit(*p)) {
            return nullptr;
        }
        const char* const first = p;
        for (; IsDigit(*p); ++p) {
            exponent = p - first < 3 ? exponent * 10 + (*p - '0') : exponent;
        }
        exponentDigits = p - first;
        exponent = negative ? -exponent : exponent;
    }
    number.length = static_cast<size_t>(p - number.text);
    number.digits = digits;
    number.significant = static_cast<int>(
        significant <= json_numbers::kReadDigits ? significant : json_numbers::kReadDigits + 1);
    number.scale = exponent - fraction;
    number.integer = integer;
    number.read = significant <= json_numbers::kReadDigits && exponentDigits <= 3;
    // Beyond doubles, the leading digit stands for 10^308 or more: with an exponent of at
    // most two digits that takes more than 200 digits before it.
    number.mayOverflow = exponentDigits >= 3 || number.length >= 200;
    return p;
}

// The double nearest to the number of JSON's grammar at text (an exponent may carry a
// '+'), ties to even; infinite beyond the largest finite double, zero below the least.
// A decimal of at most 15 significant digits scaled by at most 10^22 is computed
// directly: the digits and the power are doubles held exactly, so one multiplication or
// division rounds once. One of up to 19 digits scaled by at most 10^27 is computed in
// extended precision where the machine has it, except where that cannot tell the
// nearest double; every other one by the C++ library's correctly rounded conversion.
double DecimalValue(const char* text, size_t length);

// The double of a number whose digits the reader read on the way (number.read, not
// number.integer): DecimalValue of its text.
double DecimalOfSpelling(const CNumberSpelling& number);

// Whether the number's value, rounded to a double, lies beyond the largest finite one:
// such a number makes its text no JSON text to the component.
inline bool BeyondDoubles(const CNumberSpelling& number) {
    return number.mayOverflow && std::isinf(DecimalValue(number.text, number.length));
}

// The kind and value a document gives the number of JSON's grammar at text.
CJsonNumber ReadJsonNumber(const char* text, size_t length);

// The kind a document gives a whole number of that sign and magnitude (at most 2^63 when
// negative).
inline CJsonNumber WholeJsonNumber(bool negative, uint64_t magnitude) {
    if (!negative) {
        return CJsonNumber{magnitude <= UINT32_MAX ? CJsonNumber::kUint : CJsonNumber::kUint64, magnitude,
                           0.0};
    }
    return CJsonNumber{magnitude <= uint64_t(1) << 31 ? CJsonNumber::kInt : CJsonNumber::kInt64, magnitude,
                       0.0};
}

// The same number as the reader met it, from the digits it read on the way where it read
// them. Inline: JSON to variable makes one per number of its text.
inline CJsonNumber ReadJsonNumber(const CNumberSpelling& number) {
    if (!number.read) {
        return ReadJsonNumber(number.text, number.length);
    }
    if (!number.integer) {
        return CJsonNumber{CJsonNumber::kDouble, 0, DecimalOfSpelling(number)};
    }
    if (!number.negative || number.digits <= uint64_t(1) << 63) {
        return WholeJsonNumber(number.negative, number.digits);
    }
    return ReadJsonNumber(number.text, number.length);  // below the range of 64 bits
}

// The exact value of the number of JSON's grammar, `length` bytes at `text`.
CExactNumber ExactNumberOfText(const char* text, size_t length);

// Whether a double's value is whole (or beyond every range, where it says what its text
// says). Inline, and without a call to trunc: below 2^52, adding and taking away 2^52
// rounds the magnitude to a whole number.
inline bool IsWholeDouble(double value) {
    const double magnitude = value < 0 ? -value : value;
    return magnitude < 0x1p52 ? (magnitude + 0x1p52) - 0x1p52 == magnitude
                              : magnitude <= 1.7976931348623157e308;
}

// For a whole double made from the length bytes at text: true, with exact filled, when
// the double does not tell the text's value: the text is not whole after all
// (1.0000000000000000001), or it is whole where doubles skip whole numbers (from 2^53 on,
// within 64 bits). A document notes exactly these numbers (CExactNumbers).
bool WholeDoubleNeedsExact(double value, const char* text, size_t length, CExactNumber& exact);

// What a JSON value is as a whole number.
enum class EWholeValue {
    kWhole,     // whole, within 64 bits (signed or unsigned)
    kNotWhole,  // a number with a fraction that is not zero
    kBeyond,    // whole, beyond 64 bits
    kNoNumber   // no number
};

// The whole number a JSON value holds, taken by its value: an integer as it is, a double
// when its value is whole, exactly from its text where the double cannot tell (exact:
// the value's note, null when it has none).
EWholeValue WholeOfValue(const CJsonValue& value, const CExactNumber* exact, CWhole& whole);

#endif  // JSON_NUMBERS_H
