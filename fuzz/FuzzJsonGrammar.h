// Where the component's JSON grammar differs from RapidJSON's strict parser, for the
// oracles of the fuzz targets that compare the component's verdicts with RapidJSON's:
// - a \u escape of a low surrogate that follows no high one is refused (RapidJSON takes
//   it and stores bytes that are no UTF-8);
// - a number is taken whatever its spelling when its value lies within the range of
//   doubles (RapidJSON refuses `0e400` or a thousand-digit mantissa for the spelling);
// - the reader refuses a number beyond that range whatever its spelling (RapidJSON
//   takes some such spellings).
// The oracle refuses the first and respells the others before RapidJSON parses the text.
#ifndef FUZZ_FUZZJSONGRAMMAR_H
#define FUZZ_FUZZJSONGRAMMAR_H

#include <locale.h>

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace fuzz_json_grammar {

inline int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The code unit of a \uXXXX escape starting at text[i] (the backslash), or -1.
inline long EscapedUnit(const std::string& text, size_t i) {
    if (i + 6 > text.size() || text[i] != '\\' || text[i + 1] != 'u') {
        return -1;
    }
    long unit = 0;
    for (size_t k = i + 2; k < i + 6; ++k) {
        const int digit = HexValue(text[k]);
        if (digit < 0) {
            return -1;
        }
        unit = unit * 16 + digit;
    }
    return unit;
}

// The offset of the first \u escape of a low surrogate that follows no high one, inside a
// string of the text; npos when there is none.
inline size_t LoneLowSurrogateAt(const std::string& text) {
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!inString) {
            inString = c == '"';
            continue;
        }
        if (c == '"') {
            inString = false;
        } else if (c == '\\' && i + 1 < text.size()) {
            const long unit = EscapedUnit(text, i);
            if (unit >= 0xD800 && unit <= 0xDBFF && EscapedUnit(text, i + 6) >= 0xDC00 &&
                EscapedUnit(text, i + 6) <= 0xDFFF) {
                i += 11;  // the pair
            } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                return i;
            } else {
                ++i;  // the escaped character
            }
        }
    }
    return std::string::npos;
}

// Where the number in JSON's grammar that starts at text[begin] ends, read as a parser
// reads it (as far as the grammar goes); npos when the grammar fails inside it ("-",
// "1.", "1e+").
inline size_t JsonNumberEnd(const std::string& text, size_t begin) {
    size_t i = begin;
    const auto digits = [&] {
        const size_t from = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        return i - from;
    };
    if (i < text.size() && text[i] == '-') ++i;
    if (i < text.size() && text[i] == '0') {
        ++i;
    } else if (digits() == 0) {
        return std::string::npos;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        if (digits() == 0) return std::string::npos;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (digits() == 0) return std::string::npos;
    }
    return i;
}

// The text with every number outside strings whose spelling RapidJSON may refuse (an
// exponent of three digits or more, or more than 300 characters before it) and whose
// value lies within the range of doubles written again with the same value, as the
// shortest digits with an exponent (`0e400` as `0e0`), padded with spaces: what the
// component parses after it respells such numbers. With `refuseBeyondRange` (the
// reader, which refuses every number beyond that range), such a number becomes `1e999`,
// refused at its start as the component refuses it; without (JSON to variable, which
// takes what RapidJSON's reader takes of them as infinite), it stays. Offsets are kept.
inline std::string RespeltNumbers(std::string text, bool refuseBeyondRange) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
            continue;
        }
        if (c != '-' && (c < '0' || c > '9')) {
            continue;
        }
        size_t end = i;
        while (end < text.size() && std::strchr("0123456789+-.eE", text[end]) != nullptr &&
               text[end] != '\0') {
            ++end;
        }
        // The component respells a number only when the whole run of number characters
        // is one; it refuses a number beyond the range of doubles wherever the number
        // read from the run's start ends.
        const size_t numberEnd = JsonNumberEnd(text, i);
        if (numberEnd != std::string::npos) {
            const size_t length = numberEnd - i;
            const std::string number = text.substr(i, length);
            const size_t exponent = number.find_first_of("eE");
            const size_t mantissa = exponent == std::string::npos ? length : exponent;
            const bool longSpelling = (exponent != std::string::npos && length - exponent > 3) || mantissa > 300;
            const double value = longSpelling ? strtod_l(number.c_str(), nullptr, cLocale) : 0;
            std::string out;
            if (longSpelling && !std::isfinite(value) && refuseBeyondRange) {
                // Refused at the number's start. RapidJSON takes some such spellings
                // (`9.2233720368547758e324`: its limit on the exponent counts the
                // fraction's digits), so write one it refuses there.
                out = value < 0 ? "-1e999" : "1e999";
            } else if (longSpelling && std::isfinite(value) && numberEnd == end) {
                char spelt[40];
                const std::to_chars_result written =
                    std::to_chars(spelt, spelt + sizeof(spelt), value, std::chars_format::scientific);
                out.assign(spelt, written.ptr);
                const size_t e = out.find('e');
                std::string power = out.substr(e + 1);
                const bool negative = power[0] == '-';
                power.erase(0, power[0] == '+' || power[0] == '-' ? 1 : 0);
                power.erase(0, std::min(power.find_first_not_of('0'), power.size() - 1));
                out = out.substr(0, e + 1) + (negative ? "-" : "") + power;
            }
            if (!out.empty() && out.size() <= length) {
                text.replace(i, length, out + std::string(length - out.size(), ' '));
            }
        }
        i = end - 1;
    }
    return text;
}

}  // namespace fuzz_json_grammar

#endif  // FUZZ_FUZZJSONGRAMMAR_H
