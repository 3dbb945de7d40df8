// RapidJSON as the oracle of the component's JSON grammar, for the tests and the fuzz
// targets: what RapidJSON's strict iterative reader says of a text, with the component's
// decided deviations from it applied on the oracle's side, computed from the text alone
// (RapidJSON, strtod and the grammar's own rules; nothing of the component's code):
// - a number counts by its value: one that lies within the range of doubles is taken
//   whatever its spelling (RapidJSON refuses `0e400` or a thousand-digit mantissa for
//   the spelling), one beyond it is refused at its start, "Number too big to be stored
//   in double.", whatever its spelling (RapidJSON takes some, `1.8e308`);
// - a number that fails the grammar is refused where the grammar fails, even after more
//   digits than RapidJSON reads before it refuses the size;
// - a \u escape of a low surrogate that follows no high one is refused at its backslash,
//   "The surrogate pair in string is invalid." (RapidJSON takes it and stores bytes that
//   are no UTF-8).
// Texts end at their first zero byte; a leading UTF-8 byte order mark is skipped and its
// bytes counted in offsets.
#ifndef TESTS_SUPPORT_JSONORACLE_H
#define TESTS_SUPPORT_JSONORACLE_H

#include <locale.h>
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace json_oracle {

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

// Where the number in JSON's grammar that starts at text[begin] ends; npos when the
// grammar fails inside it ("-", "1.", "1e+"), with `failsAt` the character where it does
// and `reason` why (RapidJSON's text).
inline size_t JsonNumberEnd(const std::string& text, size_t begin, size_t* failsAt = nullptr,
                            const char** reason = nullptr) {
    size_t i = begin;
    const auto digits = [&] {
        const size_t from = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        return i - from;
    };
    const auto fail = [&](const char* why) {
        if (failsAt != nullptr) *failsAt = i;
        if (reason != nullptr) *reason = why;
        return std::string::npos;
    };
    if (i < text.size() && text[i] == '-') ++i;
    if (i < text.size() && text[i] == '0') {
        ++i;
    } else if (digits() == 0) {
        return fail("Invalid value.");
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        if (digits() == 0) return fail("Miss fraction part in number.");
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (digits() == 0) return fail("Miss exponent in number.");
    }
    return i;
}

// The double nearest to a number's text (ties to even), as the C library reads it in the
// C locale; infinite beyond the range of doubles.
inline double Strtod(const std::string& number) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    return strtod_l(number.c_str(), nullptr, cLocale);
}

// Whether a number's spelling may be one RapidJSON refuses or misreads for its length:
// an exponent of three digits or more, or 200 characters or more.
inline bool LongSpelling(const std::string& number) {
    const size_t e = number.find_first_of("eE");
    size_t exponentDigits = 0;
    if (e != std::string::npos) {
        const size_t first =
            e + 1 + (e + 1 < number.size() && (number[e + 1] == '+' || number[e + 1] == '-'));
        exponentDigits = number.size() - first;
    }
    return exponentDigits >= 3 || number.size() >= 200;
}

// The text as RapidJSON must read it to judge it by the component's grammar: every number
// outside strings of a long spelling written again in as many bytes, `0` or `-0` (spaces
// after it) when its value lies within the range of doubles, `1e999` or `-1e999`
// (refused at its start) when beyond. The values a model of the text holds for such numbers are therefore not
// theirs: take a number's value from its own spelling in the text (SpellingAt).
inline std::string ModelText(std::string text) {
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
        const size_t end = JsonNumberEnd(text, i);
        if (end == std::string::npos) {
            continue;  // no number: RapidJSON refuses it as the grammar does (see Judge)
        }
        const std::string number = text.substr(i, end - i);
        if (LongSpelling(number)) {
            const double value = Strtod(number);
            // A minus stays where it stands: after a number that ended just before it
            // ("208e18-4.9e-324"), the text is refused there, and a digit in its place
            // would make one number of the two.
            const bool minus = number[0] == '-';
            const std::string out = std::isfinite(value) ? (minus ? "-0" : "0") : minus ? "-1e999" : "1e999";
            text.replace(i, number.size(), out + std::string(number.size() - out.size(), ' '));
        }
        i = end - 1;
    }
    return text;
}

// The spelling of the number that starts at offset `at` of `text`.
inline std::string SpellingAt(const std::string& text, size_t at) {
    const size_t end = JsonNumberEnd(text, at);
    return text.substr(at, end == std::string::npos ? 0 : end - at);
}

// What the component's grammar makes of a text, as the oracle sees it.
struct CVerdict {
    bool accepted = false;
    size_t offset = 0;   // of the fault, counting a byte order mark
    std::string reason;  // RapidJSON's English text for it
};

// The text up to its first zero byte, and the bytes of a whole byte order mark before it.
inline std::string TextOf(const std::string& bytes, size_t& mark) {
    const std::string text = bytes.substr(0, bytes.find('\0'));
    mark = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    return text.substr(mark);
}

// The verdict on `bytes` by the component's grammar.
inline CVerdict Judge(const std::string& bytes) {
    size_t mark = 0;
    const std::string text = TextOf(bytes, mark);
    const std::string model = ModelText(text);
    rapidjson::Reader reader;
    rapidjson::BaseReaderHandler<> handler;
    rapidjson::StringStream stream(model.c_str());
    const rapidjson::ParseResult result = reader.Parse<rapidjson::kParseIterativeFlag>(stream, handler);
    CVerdict verdict;
    verdict.accepted = !result.IsError();
    verdict.offset = result.IsError() ? result.Offset() : 0;
    verdict.reason = result.IsError() ? rapidjson::GetParseError_En(result.Code()) : "";
    const char* grammar = nullptr;
    if (result.Code() == rapidjson::kParseErrorNumberTooBig &&
        JsonNumberEnd(model, result.Offset(), &verdict.offset, &grammar) == std::string::npos) {
        // RapidJSON refused the size of a number whose grammar fails further on: the
        // component reads the whole number and refuses the grammar.
        verdict.reason = grammar;
    }
    const size_t lone = LoneLowSurrogateAt(text);
    if (lone != std::string::npos && (verdict.accepted || verdict.offset > lone)) {
        verdict.accepted = false;
        verdict.offset = lone;
        verdict.reason = "The surrogate pair in string is invalid.";
    }
    if (!verdict.accepted) {
        verdict.offset += mark;
    }
    return verdict;
}

// Whether a number's spelling is an integer of RapidJSON's kinds: no fraction, no
// exponent, within 64 bits.
inline bool IntegerSpelling(const std::string& number) {
    if (number.find_first_of(".eE") != std::string::npos) {
        return false;
    }
    const bool negative = number[0] == '-';
    const std::string digits = number.substr(negative ? 1 : 0);
    const std::string limit = negative ? "9223372036854775808" : "18446744073709551615";
    return digits.size() < limit.size() || (digits.size() == limit.size() && digits <= limit);
}

// A number's value as a whole number, taken exactly from its text by its digits.
enum class EWhole { kWhole, kNotWhole, kBeyond };

inline EWhole WholeOf(const std::string& number, __int128& value) {
    size_t at = 0;
    const bool negative = at < number.size() && number[at] == '-';
    at += negative ? 1 : 0;
    std::string digits;
    long point = 0;  // digits before the decimal point
    for (; at < number.size() && std::isdigit(static_cast<unsigned char>(number[at])); ++at, ++point) {
        digits += number[at];
    }
    if (at < number.size() && number[at] == '.') {
        for (++at; at < number.size() && std::isdigit(static_cast<unsigned char>(number[at])); ++at) {
            digits += number[at];
        }
    }
    if (at < number.size() && (number[at] == 'e' || number[at] == 'E')) {
        ++at;
        const bool below = at < number.size() && number[at] == '-';
        at += at < number.size() && (number[at] == '-' || number[at] == '+') ? 1 : 0;
        long exponent = 0;
        for (; at < number.size() && std::isdigit(static_cast<unsigned char>(number[at])); ++at) {
            exponent = std::min(exponent * 10 + (number[at] - '0'), 100000000L);
        }
        point += below ? -exponent : exponent;
    }
    size_t lead = 0;
    while (lead < digits.size() && digits[lead] == '0') {
        ++lead;
        --point;
    }
    digits.erase(0, lead);
    while (!digits.empty() && digits.back() == '0') {
        digits.pop_back();
    }
    if (digits.empty()) {
        value = 0;
        return EWhole::kWhole;
    }
    if (point < static_cast<long>(digits.size())) {
        return EWhole::kNotWhole;
    }
    if (point > 20) {
        return EWhole::kBeyond;
    }
    __int128 magnitude = 0;
    for (long i = 0; i < point; ++i) {
        magnitude = magnitude * 10 + (i < static_cast<long>(digits.size()) ? digits[i] - '0' : 0);
    }
    value = negative ? -magnitude : magnitude;
    const __int128 lowest = -(static_cast<__int128>(1) << 63);
    const __int128 highest = (static_cast<__int128>(1) << 64) - 1;
    return value < lowest || value > highest ? EWhole::kBeyond : EWhole::kWhole;
}

// A model of an accepted text: RapidJSON's document of its model text, parsed in place
// with every number kept as its text, so that each number's string stands where the
// number stands in the text and SpellingOf finds its own spelling there.
class CModel {
   public:
    explicit CModel(const std::string& bytes) {
        size_t mark = 0;
        text_ = TextOf(bytes, mark);
        buffer_ = ModelText(text_);
        document_.ParseInsitu<rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag>(
            &buffer_[0]);
    }
    CModel(const CModel&) = delete;
    CModel& operator=(const CModel&) = delete;

    bool parsed() const { return !document_.HasParseError(); }
    const rapidjson::Value& root() const { return document_; }
    // The spelling in the text of a number of the model (a string of the model that
    // stands where a number stood).
    std::string SpellingOf(const rapidjson::Value& number) const {
        return SpellingAt(text_, static_cast<size_t>(number.GetString() - buffer_.data()));
    }
    // Whether a string of the model is a number's text (it stands in the text where a
    // number starts, unquoted).
    bool IsNumber(const rapidjson::Value& value) const {
        const size_t at = static_cast<size_t>(value.GetString() - buffer_.data());
        return value.IsString() && at < text_.size() && (at == 0 || buffer_[at - 1] != '"') &&
               (text_[at] == '-' || (text_[at] >= '0' && text_[at] <= '9'));
    }

   private:
    std::string text_;
    std::string buffer_;
    rapidjson::Document document_;
};

}  // namespace json_oracle

#endif  // TESTS_SUPPORT_JSONORACLE_H
