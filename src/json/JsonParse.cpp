// The component's JSON parser: RapidJSON's strict iterative reader, with numbers taken
// as their text and converted here.
#include "json/JsonParse.h"

#include <locale.h>
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>
#include <rapidjson/stream.h>

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <system_error>

namespace {

// Iterative: the parser's stack lives on the heap, so a deeply nested text cannot
// overflow the calling task's stack. Numbers arrive as their text and are converted by
// CJsonNumberHandler.
constexpr unsigned kParseFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag;

// The "C" locale, so that a host that sets another one for its own output does not
// change what a decimal point is. (The C library hands out its built-in "C" locale here
// without allocating, so this cannot fail.)
locale_t CLocale() {
    static const locale_t s_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return s_locale;
}

// Builds the parsed document from the reader's events, converting each number from its
// text, as exactly as the C library's strtod does: every LREAL the component writes out
// reads back as the same double. RapidJSON's own exact conversion cannot be used: it
// normalises a zero significand, so a zero with an exponent beyond the fast range
// (0e55, 0.0e-30) came out as an arbitrary value. Kinds and verdicts stay RapidJSON's:
// the reader decides what is a number; a text without fraction or exponent is an
// integer of the narrowest kind that holds it (a double beyond 64 bits), any other a
// double, which is infinite when the text lies beyond the range of doubles.
// Lives on the stack of one parse, on the calling thread.
class CJsonNumberHandler {
   public:
    CJsonNumberHandler(rapidjson::Document& document, CExactNumbers* exact)
        : document_(document), exact_(exact) {}

    bool Null() { return document_.Null(); }
    bool Bool(bool b) { return document_.Bool(b); }
    bool Int(int i) { return document_.Int(i); }
    bool Uint(unsigned u) { return document_.Uint(u); }
    bool Int64(int64_t i) { return document_.Int64(i); }
    bool Uint64(uint64_t u) { return document_.Uint64(u); }
    bool Double(double d) { return document_.Double(d); }
    bool String(const char* str, rapidjson::SizeType length, bool copy) {
        return document_.String(str, length, copy);
    }
    bool StartObject() { return document_.StartObject(); }
    bool Key(const char* str, rapidjson::SizeType length, bool copy) {
        return document_.Key(str, length, copy);
    }
    bool EndObject(rapidjson::SizeType memberCount) { return document_.EndObject(memberCount); }
    bool StartArray() { return document_.StartArray(); }
    bool EndArray(rapidjson::SizeType elementCount) { return document_.EndArray(elementCount); }

    // `str` holds a number in JSON's grammar, `length` bytes, not terminated (it stands
    // in the parsed text).
    bool RawNumber(const char* str, rapidjson::SizeType length, bool /*copy*/) {
        const bool minus = str[0] == '-';
        const char* digits = str + (minus ? 1 : 0);
        const char* end = str + length;
        // Up to 19 digits always fit in 64 bits; a 20th is taken only when it does.
        const char* c = digits;
        const char* stop = end - digits > 19 ? digits + 19 : end;
        uint64_t magnitude = 0;
        while (c != stop && static_cast<unsigned>(*c - '0') <= 9) {
            magnitude = magnitude * 10 + static_cast<unsigned>(*c - '0');
            ++c;
        }
        bool integer = c == end;
        if (!integer && c == stop && end - c == 1 && static_cast<unsigned>(*c - '0') <= 9) {
            const unsigned digit = static_cast<unsigned>(*c - '0');
            if (magnitude <= (std::numeric_limits<uint64_t>::max() - digit) / 10) {
                magnitude = magnitude * 10 + digit;
                integer = true;
            }
        }
        if (integer && !minus) {
            return magnitude <= std::numeric_limits<uint32_t>::max()
                       ? document_.Uint(static_cast<unsigned>(magnitude))
                       : document_.Uint64(magnitude);
        }
        if (integer && magnitude <= uint64_t(1) << 31) {
            return document_.Int(static_cast<int>(-static_cast<int64_t>(magnitude)));
        }
        if (integer && magnitude <= uint64_t(1) << 63) {
            return document_.Int64(static_cast<int64_t>(~magnitude + 1));
        }
        double value = 0;
        const std::from_chars_result converted = std::from_chars(str, end, value);
        if (converted.ec != std::errc()) {
            // Beyond the range of doubles either way: infinite, or zero, or a subnormal.
            const std::string number(str, length);
            value = strtod_l(number.c_str(), nullptr, CLocale());
        }
        if (exact_ != nullptr) {
            exact_->noteDouble(value, str, length);
        }
        return document_.Double(value);
    }

   private:
    rapidjson::Document& document_;
    CExactNumbers* exact_;
};

template <unsigned extraFlags, typename Stream>
bool ParseFrom(Stream& stream, rapidjson::Document& document, CJsonParseError* error, CExactNumbers* exact) {
    rapidjson::ParseResult result;
    auto parse = [&stream, &result, exact](rapidjson::Document& target) {
        CJsonNumberHandler handler(target, exact);
        rapidjson::Reader reader;
        result = reader.Parse<kParseFlags | extraFlags>(stream, handler);
        return !result.IsError();
    };
    if (exact != nullptr) {
        exact->clear();
    }
    document.Populate(parse);
    if (result.IsError() && error != nullptr) {
        error->offset = result.Offset();
        error->reason = rapidjson::GetParseError_En(result.Code());
    }
    if (exact != nullptr) {
        if (result.IsError()) {
            exact->clear();
        } else {
            exact->bind(document);
        }
    }
    return !result.IsError();
}

}  // namespace

bool ParseJson(char* text, size_t /*length*/, rapidjson::Document& document, bool inSitu,
               CJsonParseError* error, CExactNumbers* exact) {
    // A whole byte order mark is skipped; a part of one is no JSON. (Plain streams that
    // end at the zero byte: the encoded stream behind Parse(str, length) would skip a
    // truncated mark too.)
    const size_t mark = text[0] == '\xEF' && text[1] == '\xBB' && text[2] == '\xBF' ? 3 : 0;
    text += mark;
    bool parsed = false;
    if (inSitu) {
        rapidjson::InsituStringStream stream(text);
        parsed = ParseFrom<rapidjson::kParseInsituFlag>(stream, document, error, exact);
    } else {
        rapidjson::StringStream stream(text);
        parsed = ParseFrom<0>(stream, document, error, exact);
    }
    if (!parsed && error != nullptr) {
        error->offset += mark;
    }
    return parsed;
}
