// The leaf schemas of the type-class table. The patterns follow the texts the rows'
// encoders write (Iso8601.h): exactly those texts match, so a consumer's validator
// catches a text in another form as well as a field out of its range.
#include "convert/LeafSchemas.h"

#include <cfloat>
#include <string>

#include "convert/TypeClassTable.h"
#include "json/NumberText.h"

namespace {

typedef CJsonValue Value;

// Names and kinds are literals: the values point to them, nothing is copied.
Value Literal(const char* text) { return Value(rapidjson::StringRef(text)); }

Value Text(const std::string& text, CJsonAllocator& allocator) {
    return Value(text.data(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

// {"type": kind}
Value OfType(const char* kind, CJsonAllocator& allocator) {
    Value schema(rapidjson::kObjectType);
    schema.AddMember(Literal("type"), Literal(kind), allocator);
    return schema;
}

// {"type": [first, second]}: a leaf written as either kind.
Value OfTypes(const char* first, const char* second, CJsonAllocator& allocator) {
    Value kinds(rapidjson::kArrayType);
    kinds.PushBack(Literal(first), allocator).PushBack(Literal(second), allocator);
    Value schema(rapidjson::kObjectType);
    schema.AddMember(Literal("type"), kinds, allocator);
    return schema;
}

// {"type": "string", "pattern": "^(body)$"}
Value Matching(const std::string& body, CJsonAllocator& allocator) {
    Value schema = OfType("string", allocator);
    schema.AddMember(Literal("pattern"), Text("^(" + body + ")$", allocator), allocator);
    return schema;
}

// ---- decimal integers as strings -------------------------------------------------

// "[0-9]{n}"; nothing for n = 0.
std::string Digits(size_t n) {
    if (n == 0) {
        return std::string();
    }
    return n == 1 ? "[0-9]" : "[0-9]{" + std::to_string(n) + "}";
}

// The decimals 1 .. highest without leading zeros, as alternatives: every shorter
// length, then for each digit of highest the numbers that agree with it before that
// digit and are smaller at it, then highest itself. REQUIRES: highest >= 1.
std::string PositiveUpTo(uint64_t highest) {
    const std::string bound = std::to_string(highest);
    const size_t length = bound.size();
    std::string pattern;
    if (length > 1) {
        pattern = length == 2 ? "[1-9]|" : "[1-9][0-9]{0," + std::to_string(length - 2) + "}|";
    }
    for (size_t i = 0; i < length; ++i) {
        const char lowest = i == 0 ? '1' : '0';
        const char below = static_cast<char>(bound[i] - 1);
        if (below < lowest) {
            continue;
        }
        pattern += bound.substr(0, i);
        pattern += below == lowest ? std::string(1, lowest) : std::string{'[', lowest, '-', below, ']'};
        pattern += Digits(length - 1 - i);
        pattern += '|';
    }
    return pattern + bound;
}

// The decimals lowest .. highest, as the encoder writes them: "0", no leading zeros, no
// "-0". REQUIRES: lowest <= 0 < highest.
std::string DecimalBetween(int64_t lowest, uint64_t highest) {
    std::string pattern = "0|" + PositiveUpTo(highest);
    if (lowest < 0) {
        pattern += "|-(" + PositiveUpTo(~static_cast<uint64_t>(lowest) + 1) + ")";
    }
    return pattern;
}

// ---- ISO 8601 texts --------------------------------------------------------------

// A fraction of a second of 10^-scale units without trailing zeros, or none.
std::string Fraction(int scale) {
    if (scale == 0) {
        return std::string();
    }
    return "(\\.[0-9]{0," + std::to_string(scale - 1) + "}[1-9])?";
}

// -PT1H2M3.004S: hours, minutes below 60 and seconds below 60, each left out when zero
// (seconds written when nothing else is).
std::string Duration(int scale) {
    const std::string hours = "[1-9][0-9]*H";
    const std::string minutes = "([1-9]|[1-5][0-9])M";
    const std::string seconds = "([0-9]|[1-5][0-9])" + Fraction(scale) + "S";
    return "-?PT(" + hours + "(" + minutes + ")?(" + seconds + ")?|" + minutes + "(" + seconds + ")?|" +
           seconds + ")";
}

// 07:35:00.25
std::string Clock(int scale) { return "([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]" + Fraction(scale); }

// 2026-12-08: every value of the classes falls in years of four digits (DATE from 1970
// to 2106, the long classes from 1677 to 2262).
const char* const kCalendarDate = "[0-9]{4}-(0[1-9]|1[0-2])-(0[1-9]|[12][0-9]|3[01])";

// 2026-12-08T07:35:00Z, or the date alone (whenWhole) for a value at midnight.
std::string DateTime(int scale, bool dateWhenWhole) {
    const std::string time = "T" + Clock(scale) + "Z";
    return std::string(kCalendarDate) + (dateWhenWhole ? "(" + time + ")?" : time);
}

// A time of day written as its text, or as an integer within minimum..maximum when it
// is no time of day.
Value ClockOrInteger(int scale, Value minimum, Value maximum, CJsonAllocator& allocator) {
    Value schema = OfTypes("string", "integer", allocator);
    schema.AddMember(Literal("pattern"), Text("^(" + Clock(scale) + ")$", allocator), allocator);
    schema.AddMember(Literal("minimum"), minimum, allocator);
    schema.AddMember(Literal("maximum"), maximum, allocator);
    return schema;
}

constexpr int kSeconds = 0;
constexpr int kMilliseconds = 3;
constexpr int kNanoseconds = 9;
constexpr uint32_t kMillisecondsPerDay = 86400000;

bool Iso(ValueForm form) { return (form & kFormIso8601) != 0; }
bool Long(ValueForm form) { return (form & kFormLongTimes) != 0; }

// A long class in the LONG_TIMES form without ISO_8601: a signed 64-bit integer.
Value LongInteger(ValueForm form, CJsonAllocator& allocator) {
    return IntegerRangeSchema(INT64_MIN, INT64_MAX, true, form, allocator);
}

// A long class whose ISO 8601 text is always written: null without LONG_TIMES, a signed
// 64-bit integer without ISO_8601, else the text.
Value LongClass(uint32_t size, ValueForm form, const std::string& isoPattern, CJsonAllocator& allocator) {
    if (!Long(form)) {
        return NullSchema(size, form, allocator);
    }
    return Iso(form) ? Matching(isoPattern, allocator) : LongInteger(form, allocator);
}

}  // namespace

CJsonValue NullSchema(uint32_t, ValueForm, CJsonAllocator& allocator) { return OfType("null", allocator); }

CJsonValue BoolSchema(uint32_t, ValueForm form, CJsonAllocator& allocator) {
    if ((form & kFormBoolAsNumber) != 0) {
        return IntegerRangeSchema(INT8_MIN, INT8_MAX, false, form, allocator);
    }
    return OfType("boolean", allocator);
}

CJsonValue IntegerRangeSchema(int64_t lowest, uint64_t highest, bool wide, ValueForm form,
                              CJsonAllocator& allocator) {
    if (wide && (form & kFormInt64Strings) != 0) {
        return Matching(DecimalBetween(lowest, highest), allocator);
    }
    Value schema = OfType("integer", allocator);
    schema.AddMember(Literal("minimum"), Value(static_cast<int64_t>(lowest)), allocator);
    schema.AddMember(Literal("maximum"), Value(static_cast<uint64_t>(highest)), allocator);
    return schema;
}

// NaN and the infinities are written as null. In the SHORT_REALS form the largest
// single is written as its shortest decimal, 3.4028235e38, a little above its own value.
CJsonValue RealSchema(uint32_t, ValueForm form, CJsonAllocator& allocator) {
    const double largest = (form & kFormShortReals) != 0 ? ShortestFloatAsDouble(FLT_MAX) : double{FLT_MAX};
    Value schema = OfTypes("number", "null", allocator);
    schema.AddMember(Literal("minimum"), Value(-largest), allocator);
    schema.AddMember(Literal("maximum"), Value(largest), allocator);
    return schema;
}

CJsonValue LrealSchema(uint32_t, ValueForm, CJsonAllocator& allocator) {
    return OfTypes("number", "null", allocator);
}

// A STRING(n) node holds n + 1 bytes: n bytes of text and the terminator. JSON Schema
// counts characters, so a text of more than n characters can never be taken whole (one
// of n characters beyond ASCII may still be more than n bytes: it is cut at a character).
CJsonValue StringSchema(uint32_t size, ValueForm, CJsonAllocator& allocator) {
    Value schema = OfType("string", allocator);
    schema.AddMember(Literal("maxLength"), Value(size == 0 ? 0u : size - 1), allocator);
    return schema;
}

// A WSTRING(n) node holds n + 1 UTF-16 units; a character takes one unit or two.
CJsonValue WstringSchema(uint32_t size, ValueForm, CJsonAllocator& allocator) {
    Value schema = OfType("string", allocator);
    schema.AddMember(Literal("maxLength"), Value(size < 2 ? 0u : size / 2 - 1), allocator);
    return schema;
}

CJsonValue TimeSchema(uint32_t size, ValueForm form, CJsonAllocator& allocator) {
    return Iso(form) ? Matching(Duration(kMilliseconds), allocator)
                     : IntegerSchema<int32_t>(size, form, allocator);
}

CJsonValue DateSchema(uint32_t size, ValueForm form, CJsonAllocator& allocator) {
    return Iso(form) ? Matching(DateTime(kSeconds, true), allocator)
                     : IntegerSchema<uint32_t>(size, form, allocator);
}

CJsonValue DateAndTimeSchema(uint32_t size, ValueForm form, CJsonAllocator& allocator) {
    return Iso(form) ? Matching(DateTime(kSeconds, false), allocator)
                     : IntegerSchema<uint32_t>(size, form, allocator);
}

// In the ISO_8601 form a value of a day or more (no time of day) stays a number.
CJsonValue TimeOfDaySchema(uint32_t size, ValueForm form, CJsonAllocator& allocator) {
    if (!Iso(form)) {
        return IntegerSchema<uint32_t>(size, form, allocator);
    }
    return ClockOrInteger(kMilliseconds, Value(kMillisecondsPerDay), Value(UINT32_MAX), allocator);
}

CJsonValue LongTimeSchema(uint32_t size, ValueForm form, CJsonAllocator& allocator) {
    return LongClass(size, form, Duration(kNanoseconds), allocator);
}

CJsonValue LongDateSchema(uint32_t size, ValueForm form, CJsonAllocator& allocator) {
    return LongClass(size, form, DateTime(kNanoseconds, true), allocator);
}

CJsonValue LongDateAndTimeSchema(uint32_t size, ValueForm form, CJsonAllocator& allocator) {
    return LongClass(size, form, DateTime(kNanoseconds, false), allocator);
}

// In the ISO_8601 form a value outside the day stays an integer (a decimal string in the
// INT64_STRINGS form).
CJsonValue LongTimeOfDaySchema(uint32_t size, ValueForm form, CJsonAllocator& allocator) {
    if (!Long(form)) {
        return NullSchema(size, form, allocator);
    }
    if (!Iso(form)) {
        return LongInteger(form, allocator);
    }
    if ((form & kFormInt64Strings) != 0) {
        return Matching(Clock(kNanoseconds) + "|" + DecimalBetween(INT64_MIN, INT64_MAX), allocator);
    }
    return ClockOrInteger(kNanoseconds, Value(INT64_MIN), Value(INT64_MAX), allocator);
}

CJsonValue EnumerationSchema(uint32_t size, ValueForm form, CJsonAllocator& allocator) {
    if ((form & kFormNumericEnums) == 0) {
        return NullSchema(size, form, allocator);
    }
    switch (size) {
        case 1:
            return IntegerSchema<int8_t>(size, form, allocator);
        case 2:
            return IntegerSchema<int16_t>(size, form, allocator);
        case 4:
            return IntegerSchema<int32_t>(size, form, allocator);
        case 8:
            return IntegerSchema<int64_t>(size, form, allocator);
        default:
            return NullSchema(size, form, allocator);
    }
}
