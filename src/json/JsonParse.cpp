// The component's JSON parser: RapidJSON's strict iterative reader over the component's
// allocators, with numbers taken as their text and converted here.
#include "json/JsonParse.h"

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>
#include <rapidjson/stream.h>

#include <algorithm>
#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <system_error>

#include "json/JsonEvents.h"

const char* const kJsonMemoryRefused = "The document exceeds the memory cap.";

namespace {

// Thrown by CStrictUtf8 for a \u escape of a lone low surrogate.
struct CLoneSurrogate {};

// UTF-8 as RapidJSON's reader writes it, refusing a \u escape of a low surrogate that
// follows no high one (the reader itself refuses a high one that no low one follows).
// Such an escape would come out as the three bytes of a surrogate, which are no UTF-8.
// It is the reader's source encoding as well as its target: an in-place parse writes
// its strings in the source encoding.
struct CStrictUtf8 : rapidjson::UTF8<char> {
    template <typename OutputStream>
    static void Encode(OutputStream& os, unsigned codepoint) {
        if (codepoint >= 0xDC00 && codepoint <= 0xDFFF) {
            throw CLoneSurrogate();
        }
        rapidjson::UTF8<char>::Encode(os, codepoint);
    }
};

// Iterative: the parser's stack lives on the heap, so a deeply nested text cannot
// overflow the calling task's stack. Numbers arrive as their text and are converted by
// CJsonNumberHandler.
constexpr unsigned kParseFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag;

// The decimal exponent of the leading digit of the number at [str, end), saturated:
// positive for a magnitude of 10 or more, negative for one below 1. Reads only
// JSON's number grammar.
long LeadingExponent(const char* str, const char* end) {
    const char* c = str + (str != end && *str == '-' ? 1 : 0);
    while (c != end && *c == '0') {
        ++c;
    }
    long lead = 0;
    while (c != end && *c >= '0' && *c <= '9') {
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
        while (c != end && *c >= '0' && *c <= '9') {
            ++c;
        }
    }
    long exponent = 0;
    if (c != end && (*c == 'e' || *c == 'E')) {
        ++c;
        const bool negative = c != end && *c == '-';
        if (c != end && (*c == '-' || *c == '+')) {
            ++c;
        }
        while (c != end && *c >= '0' && *c <= '9') {
            exponent = exponent < 1000000000L ? exponent * 10 + (*c - '0') : exponent;
            ++c;
        }
        exponent = negative ? -exponent : exponent;
    }
    return lead + exponent;
}

// The value of the JSON number of the characters [str, end), exactly as strtod reads it.
double NumberValue(const char* str, const char* end) {
    double value = 0;
    const std::from_chars_result converted = std::from_chars(str, end, value);
    if (converted.ec == std::errc()) {
        return value;
    }
    // Beyond the range of doubles: infinite when too large, zero when too small.
    const double sign = *str == '-' ? -1.0 : 1.0;
    return LeadingExponent(str, end) > 0 ? sign * std::numeric_limits<double>::infinity() : sign * 0.0;
}

// Powers of ten that doubles hold exactly.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Up to this many significant digits a decimal is read without the C library.
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
    static constexpr long double kPowers[] = {1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,
                                              1e7L,  1e8L,  1e9L,  1e10L, 1e11L, 1e12L, 1e13L,
                                              1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L, 1e20L,
                                              1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L};
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

// Builds the parsed document from the reader's events, converting each number from its
// text, as exactly as the C library's strtod does: every LREAL the component writes out
// reads back as the same double. RapidJSON's own exact conversion cannot be used: it
// normalises a zero significand, so a zero with an exponent beyond the fast range
// (0e55, 0.0e-30) came out as an arbitrary value. A text without fraction or exponent
// is an integer of the narrowest kind that holds it (a double beyond 64 bits), any other
// a double. Lives on the stack of one parse, on the calling thread.
class CJsonNumberHandler {
   public:
    CJsonNumberHandler(CJsonDocument& document, const CJsonParseOptions& options, CExactNumbers* exact)
        : document_(document), options_(options), exact_(exact) {}

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

    // `str` holds a number in JSON's grammar, `length` bytes, followed by a character
    // that is no part of a number (it stands in the parsed text, or in the reader's
    // terminated copy).
    bool RawNumber(const char* str, rapidjson::SizeType length, bool /*copy*/) {
        const CJsonNumber number = ReadJsonNumber(str, length);
        switch (number.kind) {
            case CJsonNumber::kUint:
                return document_.Uint(static_cast<unsigned>(number.magnitude));
            case CJsonNumber::kUint64:
                return document_.Uint64(number.magnitude);
            case CJsonNumber::kInt:
                return document_.Int(static_cast<int>(-static_cast<int64_t>(number.magnitude)));
            case CJsonNumber::kInt64:
                return document_.Int64(static_cast<int64_t>(~number.magnitude + 1));
            case CJsonNumber::kDouble:
                break;
        }
        if (std::isinf(number.value) && !options_.infiniteBeyondRange) {
            beyondRange_ = true;
            return false;
        }
        if (exact_ != nullptr) {
            exact_->noteDouble(number.value, str, length);
        }
        return document_.Double(number.value);
    }

    bool beyondRange() const { return beyondRange_; }

   private:
    CJsonDocument& document_;
    const CJsonParseOptions& options_;
    CExactNumbers* exact_;
    bool beyondRange_ = false;
};

template <unsigned extraFlags, typename Stream>
bool ParseFrom(Stream& stream, CJsonDocument& document, CRetainedBlock& parserStack,
               const CJsonParseOptions& options, CJsonParseError& error, CExactNumbers* exact) {
    rapidjson::ParseResult result;
    bool beyondRange = false;
    auto parse = [&](CJsonDocument& target) {
        CJsonNumberHandler handler(target, options, exact);
        rapidjson::GenericReader<CStrictUtf8, CStrictUtf8, CRetainedBlock> reader(&parserStack);
        result = reader.Parse<kParseFlags | extraFlags>(stream, handler);
        beyondRange = handler.beyondRange();
        return !result.IsError();
    };
    if (exact != nullptr) {
        exact->clear();
    }
    try {
        document.Populate(parse);
    } catch (const CLoneSurrogate&) {
        // The stream stands after the escape's six characters.
        error.offset = stream.Tell() - 6;
        error.reason = rapidjson::GetParseError_En(rapidjson::kParseErrorStringUnicodeSurrogateInvalid);
        if (exact != nullptr) {
            exact->clear();
        }
        return false;
    } catch (const std::bad_alloc&) {
        error.offset = 0;
        error.reason = kJsonMemoryRefused;
        if (exact != nullptr) {
            exact->clear();
        }
        return false;
    }
    if (result.IsError()) {
        error.offset = result.Offset();
        error.reason =
            rapidjson::GetParseError_En(beyondRange ? rapidjson::kParseErrorNumberTooBig : result.Code());
    }
    if (exact != nullptr) {
        if (result.IsError()) {
            exact->clear();
            return false;
        }
        try {
            exact->bind(document);
        } catch (const std::bad_alloc&) {
            exact->clear();
            error.offset = 0;
            error.reason = kJsonMemoryRefused;
            return false;
        }
    }
    return !result.IsError();
}

bool IsNumberCharacter(char c) {
    return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// Writes the number of `length` bytes at `number` again, with the same value, in a
// spelling RapidJSON's reader takes: shortest round-trip digits with an exponent
// (`0e400` becomes `0e0`), padded with spaces. Only numbers whose value lies within the
// range of doubles and whose new spelling is no longer than the old. True when written.
bool Respell(char* number, size_t length) {
    const double value = NumberValue(number, number + length);
    if (!std::isfinite(value)) {
        return false;
    }
    char spelt[40];
    std::to_chars_result written =
        std::to_chars(spelt, spelt + sizeof(spelt), value, std::chars_format::scientific);
    // "1.5e+300" and "0e+00" become "1.5e300" and "0e0".
    char* e = std::find(spelt, written.ptr, 'e');
    char* out = e + 1;
    const char* in = e + 1;
    if (*in == '+') {
        ++in;
    } else if (*in == '-') {
        *out++ = *in++;
    }
    while (in + 1 < written.ptr && *in == '0') {
        ++in;
    }
    while (in < written.ptr) {
        *out++ = *in++;
    }
    const size_t size = static_cast<size_t>(out - spelt);
    if (size > length) {
        return false;
    }
    std::memcpy(number, spelt, size);
    std::memset(number + size, ' ', length - size);
    return true;
}

// Respells, outside strings, every number that RapidJSON's reader refuses for its
// spelling alone: an exponent of three digits or more, or more than 300 digits before
// it. True when one was respelt.
bool RespellLongNumbers(char* text) {
    bool respelt = false;
    bool inString = false;
    for (char* c = text; *c != '\0'; ++c) {
        if (inString) {
            if (*c == '\\' && c[1] != '\0') {
                ++c;
            } else if (*c == '"') {
                inString = false;
            }
            continue;
        }
        if (*c == '"') {
            inString = true;
            continue;
        }
        if (*c != '-' && (*c < '0' || *c > '9')) {
            continue;
        }
        char* start = c;
        char* exponent = nullptr;
        while (IsNumberCharacter(*c)) {
            if (*c == 'e' || *c == 'E') {
                exponent = c;
            }
            ++c;
        }
        const size_t length = static_cast<size_t>(c - start);
        const size_t mantissa = static_cast<size_t>((exponent ? exponent : c) - start);
        const bool longExponent = exponent != nullptr && c - exponent > 3;
        // Only a number of JSON's grammar: a run such as `0e550e5...` stays as it is and refused.
        if ((longExponent || mantissa > 300) && json_events::NumberEnd(start) == c &&
            Respell(start, length)) {
            respelt = true;
        }
        --c;
    }
    return respelt;
}

bool ParseOnce(char* text, CJsonDocument& document, CRetainedBlock& parserStack, bool insitu,
               const CJsonParseOptions& options, CJsonParseError& error, CExactNumbers* exact) {
    // Plain streams that end at the zero byte: the encoded stream behind
    // Parse(str, length) would skip a byte order mark, even a truncated one, where strict
    // JSON has none.
    if (insitu) {
        rapidjson::InsituStringStream stream(text);
        return ParseFrom<rapidjson::kParseInsituFlag>(stream, document, parserStack, options, error, exact);
    }
    rapidjson::StringStream stream(text);
    return ParseFrom<0>(stream, document, parserStack, options, error, exact);
}

// ParseJson of a text without a byte order mark.
bool ParseUnmarked(const char* text, size_t length, CJsonDocument& document, CRetainedBlock& parserStack,
                   char* insitu, const CJsonParseOptions& options, CJsonParseError& failure,
                   CExactNumbers* exact) {
    const CDocumentPool::Position start = document.GetAllocator().Here();
    if (insitu != nullptr) {
        std::memcpy(insitu, text, length);
        insitu[length] = '\0';
    }
    if (ParseOnce(insitu != nullptr ? insitu : const_cast<char*>(text), document, parserStack,
                  insitu != nullptr, options, failure, exact)) {
        return true;
    }
    if (failure.reason != rapidjson::GetParseError_En(rapidjson::kParseErrorNumberTooBig) ||
        std::isinf(NumberValue(text + failure.offset, text + length))) {
        return false;
    }
    // RapidJSON's reader refused a number for its spelling though its value is in range
    // (`0e400`): once more, with such numbers respelt. The first attempt's values are given
    // up; the pool keeps their memory for the second.
    document.GetAllocator().RewindTo(start);
    CMemoryBudget& budget = document.GetAllocator().budget();
    char* copy = insitu;
    try {
        if (copy == nullptr) {
            copy = static_cast<char*>(budget.Take(length + 1));
        }
    } catch (const std::bad_alloc&) {
        failure.offset = 0;
        failure.reason = kJsonMemoryRefused;
        return false;
    }
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    const CJsonParseError first = failure;
    bool parsed = false;
    if (RespellLongNumbers(copy)) {
        parsed = ParseOnce(copy, document, parserStack, insitu != nullptr, options, failure, exact);
    } else {
        failure = first;
    }
    if (copy != insitu) {
        budget.Give(copy, length + 1);
    }
    return parsed;
}

// The double of the decimal [str, end) whose value is digits * 10^scale, digits counting
// `significant` decimal digits from the first that is not zero (at most kExtendedDigits).
double DecimalOfDigits(const char* str, const char* end, uint64_t digits, int significant, long scale) {
    // Up to 15 digits and a power of ten up to 10^22 are doubles held exactly, so one
    // multiplication or division rounds correctly, as strtod does.
    double magnitude = 0;
    if (significant <= 15 && scale >= -22 && scale <= 22) {
        magnitude = scale < 0 ? static_cast<double>(digits) / kExactPowersOfTen[-scale]
                              : static_cast<double>(digits) * kExactPowersOfTen[scale];
    } else if (scale < -27 || scale > 27 ||
               !ExtendedDecimalValue(digits, static_cast<int>(scale), magnitude)) {
        return NumberValue(str, end);
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
        while (end - c >= 8 && significant <= kExtendedDigits - 8 && json_events::EightDigits(c, eight)) {
            if (digits == 0) {
                significant = json_events::SignificantDigits(eight);
            } else {
                significant += 8;
            }
            digits = digits * 100000000 + eight;
            fraction += 8;
            c += 8;
        }
        for (; c != end && json_events::IsDigit(*c); ++c) {
            if (significant == kExtendedDigits) {
                return NumberValue(str, end);
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
            return NumberValue(str, end);
        }
        for (; c != end; ++c) {
            exponent = exponent * 10 + (*c - '0');
        }
        exponent = negative ? -exponent : exponent;
    }
    return DecimalOfDigits(str, end, digits, significant, exponent - fraction);
}

}  // namespace

double DecimalValue(const char* str, size_t length) {
    const char* end = str + length;
    const char* c = str + (*str == '-' ? 1 : 0);
    uint64_t digits = 0;
    int significant = 0;
    for (; c != end && json_events::IsDigit(*c); ++c) {
        if (significant == kExtendedDigits) {
            return NumberValue(str, end);
        }
        digits = digits * 10 + static_cast<unsigned>(*c - '0');
        significant += digits != 0 ? 1 : 0;
    }
    return DecimalAfterWhole(str, end, c, digits, significant);
}

CJsonNumber ReadJsonNumber(const char* str, size_t length) {
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
    if (integer && (!minus || magnitude <= uint64_t(1) << 63)) {
        return WholeJsonNumber(minus, magnitude);
    }
    if (integer || (c != end && json_events::IsDigit(*c))) {
        // An integer beyond 64 bits, or an integer part of more than 19 digits.
        return CJsonNumber{CJsonNumber::kDouble, 0, DecimalValue(str, length)};
    }
    // A fraction or an exponent follows the integer part, which has no leading zero.
    const int significant = magnitude != 0 ? static_cast<int>(c - digits) : 0;
    return CJsonNumber{CJsonNumber::kDouble, 0, DecimalAfterWhole(str, end, c, magnitude, significant)};
}

double DecimalOfSpelling(const CNumberSpelling& number) {
    return DecimalOfDigits(number.text, number.text + number.length, number.digits, number.significant,
                           number.scale);
}

bool ParseJson(const char* text, size_t length, CJsonDocument& document, CRetainedBlock& parserStack,
               char* insitu, const CJsonParseOptions& options, CJsonParseError* error, CExactNumbers* exact) {
    CJsonParseError local;
    CJsonParseError& failure = error != nullptr ? *error : local;
    // A whole UTF-8 byte order mark is skipped; a part of one is no JSON. Offsets still
    // count the mark's bytes.
    const size_t mark = length >= 3 && text[0] == '\xEF' && text[1] == '\xBB' && text[2] == '\xBF' ? 3 : 0;
    if (ParseUnmarked(text + mark, length - mark, document, parserStack, insitu, options, failure, exact)) {
        return true;
    }
    if (failure.reason != kJsonMemoryRefused) {
        failure.offset += mark;
    }
    return false;
}
