// The type-class table: every class, from memory to JSON and back, in a variable's form
// and under every format bit; what JSON to variable takes whatever the format (numbers
// by value, ISO 8601 texts, 64-bit integers as strings); and the writer methods' forms.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "convert/Iso8601.h"
#include "convert/TypeClassTable.h"
#include "json/JsonOutput.h"
#include "json/JsonParse.h"
#include "support/DatatypeSupport.h"

namespace {

// The text of a value as a writer of that format writes it.
std::string Text(const CJsonValue& value, ValueForm form) {
    JsonOutputOptions options;
    options.shortestDecimals = (form & kFormShortReals) != 0;
    return JsonText(value, options);
}

std::string Encoded(TypeClass3 type, const ByteVector& memory, ValueForm form) {
    CJsonDocument document;
    return Text(
        EncodeLeaf(type, memory.data(), static_cast<uint32_t>(memory.size()), form, document.GetAllocator()),
        form);
}

// A JSON text parsed by the component's parser, with the exact values of its numbers.
struct CParsed {
    explicit CParsed(const std::string& json) {
        parsed = ParseJson(json.data(), json.size(), document, CJsonParseMemory{text, frames},
                           EJsonStrings::kInCopy, nullptr, &exact);
    }
    CRetainedBlock text;
    CRetainedBlock frames;
    CJsonDocument document;
    CExactNumbers exact;
    bool parsed = false;
};

CLeafWrite Decoded(TypeClass3 type, ByteVector& memory, const std::string& json) {
    CParsed value(json);
    EXPECT_TRUE(value.parsed) << json;
    return DecodeLeaf(type, memory.data(), static_cast<uint32_t>(memory.size()), value.document,
                      value.exact.find(&value.document), true);
}

constexpr ValueForm kNumericEnums = kFormNumericEnums;
constexpr ValueForm kLongTimes = kFormLongTimes;
constexpr ValueForm kShortReals = kFormShortReals;
constexpr ValueForm kIso = kFormIso8601;
constexpr ValueForm kStrings = kFormInt64Strings;
constexpr ValueForm kUnsigned = kFormUnsignedBits;

struct Case {
    TypeClass3 type;
    ValueForm form;
    ByteVector memory;  // the value in memory, as large as the node
    const char* json;   // its text in that form; "null" where the form has none
};

// Every class with a value in a variable's form, and every form a format bit gives it.
const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {TYPE3_BOOL, 0, Bytes({1}), "true"},
        {TYPE3_BIT, 0, Bytes({0xFF}), "-1"},
        {TYPE3_BYTE, 0, Bytes({0x80}), "-128"},
        {TYPE3_BYTE, kUnsigned, Bytes({0xFF}), "255"},
        {TYPE3_WORD, 0, BytesOf<uint16_t>(0xFFFE), "-2"},
        {TYPE3_WORD, kUnsigned, BytesOf<uint16_t>(0xFFFE), "65534"},
        {TYPE3_DWORD, 0, BytesOf<uint32_t>(0x80000000u), "-2147483648"},
        {TYPE3_DWORD, kUnsigned, BytesOf<uint32_t>(0x80000000u), "2147483648"},
        {TYPE3_LWORD, 0, BytesOf<uint64_t>(~0ull), "-1"},
        {TYPE3_LWORD, kStrings, BytesOf<uint64_t>(~0ull), "\"-1\""},
        {TYPE3_LWORD, kUnsigned, BytesOf<uint64_t>(~0ull), "18446744073709551615"},
        {TYPE3_LWORD, kUnsigned | kStrings, BytesOf<uint64_t>(~0ull), "\"18446744073709551615\""},
        {TYPE3_SINT, 0, BytesOf<int8_t>(-100), "-100"},
        {TYPE3_INT, 0, BytesOf<int16_t>(-30000), "-30000"},
        {TYPE3_DINT, 0, BytesOf<int32_t>(-2000000000), "-2000000000"},
        {TYPE3_LINT, 0, BytesOf<int64_t>(-9000000000000000000LL), "-9000000000000000000"},
        {TYPE3_LINT, kStrings, BytesOf<int64_t>(9007199254740993LL), "\"9007199254740993\""},
        {TYPE3_USINT, 0, BytesOf<uint8_t>(200), "200"},
        {TYPE3_UINT, 0, BytesOf<uint16_t>(60000), "60000"},
        {TYPE3_UDINT, 0, BytesOf<uint32_t>(4000000000u), "4000000000"},
        {TYPE3_ULINT, 0, BytesOf<uint64_t>(18000000000000000000ull), "18000000000000000000"},
        {TYPE3_ULINT, kStrings, BytesOf<uint64_t>(18000000000000000000ull), "\"18000000000000000000\""},
        {TYPE3_REAL, 0, BytesOf<float>(0.5f), "0.5"},
        {TYPE3_REAL, 0, BytesOf<float>(0.1f), "0.10000000149011612"},
        {TYPE3_REAL, kShortReals, BytesOf<float>(0.1f), "0.1"},
        {TYPE3_REAL, kShortReals, BytesOf<float>(0.33f), "0.33"},
        {TYPE3_REAL, kShortReals, BytesOf<float>(16777216.0f), "16777216.0"},
        {TYPE3_REAL, kShortReals, BytesOf<float>(-0.0f), "-0.0"},
        {TYPE3_LREAL, 0, BytesOf<double>(-2.25), "-2.25"},
        {TYPE3_STRING, 0, Bytes({'a', 0xC3, 0xA4, 0, 0}), "\"a\xC3\xA4\""},
        {TYPE3_WSTRING, 0, Units({'a', 0xE4, 0xD83D, 0xDE00, 0}), "\"a\xC3\xA4\xF0\x9F\x98\x80\""},
        {TYPE3_TIME, 0, BytesOf<int32_t>(-5000), "-5000"},
        {TYPE3_TIME, kIso, BytesOf<int32_t>(0), "\"PT0S\""},
        {TYPE3_TIME, kIso, BytesOf<int32_t>(1500), "\"PT1.5S\""},
        {TYPE3_TIME, kIso, BytesOf<int32_t>(3723004), "\"PT1H2M3.004S\""},
        {TYPE3_TIME, kIso, BytesOf<int32_t>(-5000), "\"-PT5S\""},
        {TYPE3_TIME, kIso, BytesOf<int32_t>(90000000), "\"PT25H\""},
        {TYPE3_TIME, kIso, BytesOf<int32_t>(INT32_MIN), "\"-PT596H31M23.648S\""},
        {TYPE3_DATE, 0, BytesOf<uint32_t>(1735689600u), "1735689600"},
        {TYPE3_DATE, kIso, BytesOf<uint32_t>(0), "\"1970-01-01\""},
        {TYPE3_DATE, kIso, BytesOf<uint32_t>(1709164800u), "\"2024-02-29\""},
        {TYPE3_DATE, kIso, BytesOf<uint32_t>(1700000000u), "\"2023-11-14T22:13:20Z\""},  // not at midnight
        {TYPE3_DATEANDTIME, 0, BytesOf<uint32_t>(2208988800u), "2208988800"},            // DT#2040-01-01
        {TYPE3_DATEANDTIME, kIso, BytesOf<uint32_t>(0), "\"1970-01-01T00:00:00Z\""},
        {TYPE3_DATEANDTIME, kIso, BytesOf<uint32_t>(1796715300u), "\"2026-12-08T07:35:00Z\""},
        {TYPE3_DATEANDTIME, kIso, BytesOf<uint32_t>(UINT32_MAX), "\"2106-02-07T06:28:15Z\""},
        {TYPE3_TIMEOFDAY, 0, BytesOf<uint32_t>(43200000u), "43200000"},
        {TYPE3_TIMEOFDAY, kIso, BytesOf<uint32_t>(27300000u), "\"07:35:00\""},
        {TYPE3_TIMEOFDAY, kIso, BytesOf<uint32_t>(27300250u), "\"07:35:00.25\""},
        {TYPE3_TIMEOFDAY, kIso, BytesOf<uint32_t>(86400000u), "86400000"},  // no time of day
        {TYPE3_SUBRANGE, 0, BytesOf<int16_t>(-5), "null"},
        {TYPE3_SUBRANGE, kNumericEnums, BytesOf<int16_t>(-5), "-5"},
        {TYPE3_SUBRANGE, kNumericEnums, BytesOf<uint32_t>(4000000000u), "-294967296"},
        {TYPE3_ENUM, 0, BytesOf<int16_t>(2), "null"},
        {TYPE3_ENUM, kNumericEnums, BytesOf<int16_t>(2), "2"},
        {TYPE3_ENUM, kNumericEnums, Bytes({0xFF}), "-1"},
        {TYPE3_ENUM, kNumericEnums, BytesOf<int64_t>(-7), "-7"},
        {TYPE3_ENUM, kNumericEnums | kStrings, BytesOf<int64_t>(-7), "\"-7\""},
        {TYPE3_LTIME, 0, BytesOf<int64_t>(1500000000), "null"},
        {TYPE3_LTIME, kIso, BytesOf<int64_t>(1500000000), "null"},
        {TYPE3_LTIME, kLongTimes, BytesOf<int64_t>(1500000000), "1500000000"},
        {TYPE3_LTIME, kLongTimes | kStrings, BytesOf<int64_t>(1500000000), "\"1500000000\""},
        {TYPE3_LTIME, kLongTimes | kIso, BytesOf<int64_t>(1), "\"PT0.000000001S\""},
        {TYPE3_LTIME, kLongTimes | kIso, BytesOf<int64_t>(INT64_MIN), "\"-PT2562047H47M16.854775808S\""},
        {TYPE3_LTIME, kLongTimes | kIso, BytesOf<int64_t>(INT64_MAX), "\"PT2562047H47M16.854775807S\""},
        {TYPE3_LDATE, 0, BytesOf<int64_t>(1735689600000000000), "null"},
        {TYPE3_LDATE, kLongTimes, BytesOf<int64_t>(1735689600000000000), "1735689600000000000"},
        {TYPE3_LDATE, kLongTimes | kIso, BytesOf<int64_t>(1735689600000000000), "\"2025-01-01\""},
        {TYPE3_LDATE, kLongTimes | kIso, BytesOf<int64_t>(-86400000000000), "\"1969-12-31\""},
        {TYPE3_LDATEANDTIME, 0, BytesOf<int64_t>(1), "null"},
        {TYPE3_LDATEANDTIME, kLongTimes | kIso, BytesOf<int64_t>(1735689600123456789),
         "\"2025-01-01T00:00:00.123456789Z\""},
        {TYPE3_LDATEANDTIME, kLongTimes | kIso, BytesOf<int64_t>(-1), "\"1969-12-31T23:59:59.999999999Z\""},
        {TYPE3_LDATEANDTIME, kLongTimes | kIso, BytesOf<int64_t>(INT64_MIN),
         "\"1677-09-21T00:12:43.145224192Z\""},
        {TYPE3_LDATEANDTIME, kLongTimes | kIso, BytesOf<int64_t>(INT64_MAX),
         "\"2262-04-11T23:47:16.854775807Z\""},
        {TYPE3_LTIMEOFDAY, 0, BytesOf<int64_t>(27300250000000), "null"},
        {TYPE3_LTIMEOFDAY, kLongTimes, BytesOf<int64_t>(27300250000000), "27300250000000"},
        {TYPE3_LTIMEOFDAY, kLongTimes | kIso, BytesOf<int64_t>(27300250000000), "\"07:35:00.25\""},
        {TYPE3_LTIMEOFDAY, kLongTimes | kIso | kStrings, BytesOf<int64_t>(-1), "\"-1\""},  // no time of day
    };
    return cases;
}

// The format bits that change how a class is written; every other bit leaves it alone.
ValueForm BitsOf(TypeClass3 type, size_t size) {
    switch (type) {
        case TYPE3_BYTE:
        case TYPE3_WORD:
        case TYPE3_DWORD:
            return kUnsigned;
        case TYPE3_LWORD:
            return kUnsigned | kStrings;
        case TYPE3_LINT:
        case TYPE3_ULINT:
            return kStrings;
        case TYPE3_REAL:
            return kShortReals;
        case TYPE3_TIME:
        case TYPE3_DATE:
        case TYPE3_DATEANDTIME:
        case TYPE3_TIMEOFDAY:
            return kIso;
        case TYPE3_ENUM:
        case TYPE3_SUBRANGE:
            return size == 8 ? kNumericEnums | kStrings : kNumericEnums;
        case TYPE3_LTIME:
        case TYPE3_LDATE:
        case TYPE3_LDATEANDTIME:
        case TYPE3_LTIMEOFDAY:
            return kLongTimes | kIso | kStrings;
        default:
            return 0;
    }
}

}  // namespace

// Every class has its row, with its name, and a row's width fits its values.
TEST(TypeClassTable, EveryClassHasARowOfItsOwn) {
    const char* const names[] = {
        "BOOL",        "BIT",         "BYTE",      "WORD",     "DWORD",   "LWORD",          "SINT",
        "INT",         "DINT",        "LINT",      "USINT",    "UINT",    "UDINT",          "ULINT",
        "REAL",        "LREAL",       "STRING",    "WSTRING",  "TIME",    "DATE",           "DATE_AND_TIME",
        "TIME_OF_DAY", "POINTER",     "REFERENCE", "SUBRANGE", "ENUM",    "ARRAY",          "PARAMS",
        "USERDEF",     "NONE",        "ANY",       "ANYBIT",   "ANYDATE", "ANYINT",         "ANYNUM",
        "ANYREAL",     "LAZY",        "LTIME",     "BITCONST", "UXINT",   "XWORD",          "XINT",
        "XSTRING",     "VARLENARRAY", "ANYSTRING", "VECTOR",   "LDATE",   "LDATE_AND_TIME", "LTIME_OF_DAY",
        "INTERFACE"};
    static_assert(sizeof(names) / sizeof(names[0]) == kTypeClassCount, "one name per class");
    for (size_t i = 0; i < kTypeClassCount; ++i) {
        EXPECT_STREQ(names[i], TypeClassRow(static_cast<TypeClass3>(i)).name);
    }
    EXPECT_EQ(nullptr, TypeClassRow(static_cast<TypeClass3>(-1)).name);
    EXPECT_EQ(nullptr, TypeClassRow(TYPE3_MAX_TYPE).name);
    for (const Case& c : Cases()) {
        EXPECT_LE(TypeClassRow(c.type).width, c.memory.size()) << c.json;
    }
}

// Each class in each of its forms: its memory gives its text, and its text written into
// zeroed memory gives the same bytes, whatever the form (reading takes every form). A
// form no bit gives a class is null one way and never written the other, as is every
// leaf at the null address or smaller than its class.
TEST(TypeClassTable, EveryClassInEveryFormBothWays) {
    std::vector<bool> covered(kTypeClassCount, false);
    for (const Case& c : Cases()) {
        SCOPED_TRACE(std::string(TypeClassRow(c.type).name) + " form " + std::to_string(c.form) + " " +
                     c.json);
        covered[c.type] = true;
        EXPECT_EQ(c.json, Encoded(c.type, c.memory, c.form));
        if (std::string(c.json) == "null") {
            continue;
        }
        ByteVector back(c.memory.size(), 0);
        const CLeafWrite result = Decoded(c.type, back, c.json);
        EXPECT_EQ(CLeafWrite::kWritten, result.outcome);
        EXPECT_FALSE(result.wrapped);
        EXPECT_FALSE(result.cut);
        EXPECT_EQ(Hex(c.memory.data(), c.memory.size()), Hex(back.data(), back.size()));

        CJsonDocument document;
        const uint32_t size = static_cast<uint32_t>(c.memory.size());
        EXPECT_TRUE(EncodeLeaf(c.type, nullptr, size, c.form, document.GetAllocator()).IsNull());
        EXPECT_EQ(CLeafWrite::kNeverWritten,
                  DecodeLeaf(c.type, nullptr, size, document, nullptr, true).outcome);
        if (TypeClassRow(c.type).width > 0) {
            const uint32_t small = TypeClassRow(c.type).width - 1;
            EXPECT_TRUE(EncodeLeaf(c.type, c.memory.data(), small, c.form, document.GetAllocator()).IsNull());
            EXPECT_EQ(
                CLeafWrite::kNeverWritten,
                DecodeLeaf(c.type, back.data(), small, CParsed(c.json).document, nullptr, true).outcome);
        }
    }
    CParsed number("1");
    unsigned char memory[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (size_t i = 0; i < kTypeClassCount; ++i) {
        if (covered[i]) {
            continue;
        }
        const TypeClass3 type = static_cast<TypeClass3>(i);
        SCOPED_TRACE(TypeClassRow(type).name);
        EXPECT_FALSE(IsWritableClass(type));
        CJsonDocument document;
        EXPECT_TRUE(EncodeLeaf(type, memory, sizeof(memory), kFormBits, document.GetAllocator()).IsNull());
        EXPECT_EQ(CLeafWrite::kNeverWritten,
                  DecodeLeaf(type, memory, sizeof(memory), number.document, nullptr, true).outcome);
        EXPECT_EQ(Hex(Bytes({1, 2, 3, 4, 5, 6, 7, 8}).data(), 8), Hex(memory, sizeof(memory)));
    }
}

// A bit changes only the classes it names: under any other bit, and under all of them
// together, a class is written as in the form without them.
TEST(TypeClassTable, EveryBitLeavesTheOtherClassesAlone) {
    for (const Case& c : Cases()) {
        const ValueForm others = kFormBits & ~BitsOf(c.type, c.memory.size());
        for (ValueForm bit = 1; bit <= kFormBits; bit <<= 1) {
            if ((others & bit) != 0) {
                EXPECT_EQ(c.json, Encoded(c.type, c.memory, c.form | bit))
                    << TypeClassRow(c.type).name << " bit " << bit;
            }
        }
        EXPECT_EQ(c.json, Encoded(c.type, c.memory, c.form | others)) << TypeClassRow(c.type).name;
    }
}

// JSON to a leaf, whatever the form it was written in: numbers by value, at the limits of
// each integer class; reals beyond their range; texts finer or larger than their class;
// strings cut at a zero byte. What is refused leaves the memory alone.
TEST(TypeClassTable, ReadingTakesValuesByWhatTheyHold) {
    const struct {
        TypeClass3 type;
        size_t size;
        const char* json;
        CLeafWrite::Outcome outcome;
        ByteVector memory;  // after a write (of `size` bytes)
        bool wrapped;
    } cases[] = {
        {TYPE3_BOOL, 1, "1", CLeafWrite::kWrongKind, {}, false},
        {TYPE3_DINT, 4, "5", CLeafWrite::kWritten, BytesOf<int32_t>(5), false},
        {TYPE3_DINT, 4, "5.0", CLeafWrite::kWritten, BytesOf<int32_t>(5), false},
        {TYPE3_DINT, 4, "5e0", CLeafWrite::kWritten, BytesOf<int32_t>(5), false},
        {TYPE3_DINT, 4, "0.5e1", CLeafWrite::kWritten, BytesOf<int32_t>(5), false},
        {TYPE3_DINT, 4, "1e2", CLeafWrite::kWritten, BytesOf<int32_t>(100), false},
        {TYPE3_DINT, 4, "-0.0", CLeafWrite::kWritten, BytesOf<int32_t>(0), false},
        {TYPE3_DINT, 4, "1.5", CLeafWrite::kNotWhole, {}, false},
        {TYPE3_DINT, 4, "1.0000000000000000001", CLeafWrite::kNotWhole, {}, false},
        {TYPE3_DINT, 4, "1e-400", CLeafWrite::kNotWhole, {}, false},
        {TYPE3_DINT, 4, "2147483647.0", CLeafWrite::kWritten, BytesOf<int32_t>(INT32_MAX), false},
        {TYPE3_DINT, 4, "2147483648.0", CLeafWrite::kWritten, BytesOf<int32_t>(INT32_MIN), true},
        {TYPE3_DINT, 4, "-2147483648.0", CLeafWrite::kWritten, BytesOf<int32_t>(INT32_MIN), false},
        {TYPE3_DINT, 4, "4294967296.0", CLeafWrite::kOutOfRange, {}, false},
        {TYPE3_DINT, 4, "4294967296", CLeafWrite::kOutOfRange, {}, false},
        {TYPE3_DINT, 4, "\"5\"", CLeafWrite::kWrongKind, {}, false},
        {TYPE3_INT, 2, "2147483647.0", CLeafWrite::kWritten, BytesOf<int16_t>(-1), true},
        {TYPE3_INT, 2, "2147483648.0", CLeafWrite::kOutOfRange, {}, false},
        {TYPE3_USINT, 1, "300", CLeafWrite::kWritten, BytesOf<uint8_t>(44), true},
        {TYPE3_SINT, 1, "-129", CLeafWrite::kWritten, BytesOf<int8_t>(127), true},
        {TYPE3_BYTE, 1, "-128", CLeafWrite::kWritten, BytesOf<int8_t>(-128), false},
        {TYPE3_BYTE, 1, "255.0", CLeafWrite::kWritten, BytesOf<uint8_t>(255), false},
        {TYPE3_LINT, 8, "9007199254740993.0", CLeafWrite::kWritten, BytesOf<int64_t>(9007199254740993LL),
         false},
        {TYPE3_LINT, 8, "9223372036854775807.0", CLeafWrite::kWritten, BytesOf<int64_t>(INT64_MAX), false},
        {TYPE3_LINT, 8, "-9223372036854775808.0", CLeafWrite::kWritten, BytesOf<int64_t>(INT64_MIN), false},
        {TYPE3_LINT, 8, "-9223372036854775809.0", CLeafWrite::kOutOfRange, {}, false},
        {TYPE3_LINT, 8, "9223372036854775808.0", CLeafWrite::kWritten, BytesOf<int64_t>(INT64_MIN), true},
        {TYPE3_LINT, 8, "18446744073709551615", CLeafWrite::kWritten, BytesOf<int64_t>(-1), true},
        {TYPE3_LINT, 8, "\"-9223372036854775808\"", CLeafWrite::kWritten, BytesOf<int64_t>(INT64_MIN), false},
        {TYPE3_LINT, 8, "\"12a\"", CLeafWrite::kMalformed, {}, false},
        {TYPE3_LINT, 8, "\"\"", CLeafWrite::kMalformed, {}, false},
        {TYPE3_LINT, 8, "\"1e3\"", CLeafWrite::kMalformed, {}, false},
        {TYPE3_ULINT, 8, "18446744073709551615.0", CLeafWrite::kWritten, BytesOf<uint64_t>(UINT64_MAX),
         false},
        {TYPE3_ULINT, 8, "18446744073709551616.0", CLeafWrite::kOutOfRange, {}, false},
        {TYPE3_ULINT, 8, "\"18446744073709551616\"", CLeafWrite::kOutOfRange, {}, false},
        {TYPE3_REAL, 4, "2", CLeafWrite::kWritten, BytesOf<float>(2.0f), false},
        {TYPE3_REAL, 4, "16777217", CLeafWrite::kWritten, BytesOf<float>(16777216.0f), false},
        {TYPE3_REAL, 4, "3.4028235e38", CLeafWrite::kWritten, BytesOf<float>(FLT_MAX), false},
        {TYPE3_REAL, 4, "1e39", CLeafWrite::kOutOfRange, {}, false},
        {TYPE3_REAL, 4, "-1e39", CLeafWrite::kOutOfRange, {}, false},
        {TYPE3_LREAL, 8, "20", CLeafWrite::kWritten, BytesOf<double>(20.0), false},
        {TYPE3_LREAL, 8, "true", CLeafWrite::kWrongKind, {}, false},
        {TYPE3_STRING, 4, "\"ab\\u0000cd\"", CLeafWrite::kWritten, Bytes({'a', 'b', 0, 0x5A}), false},
        {TYPE3_STRING, 4, "2", CLeafWrite::kWrongKind, {}, false},
        {TYPE3_WSTRING, 8, "\"a\\u0000b\"", CLeafWrite::kWritten, Units({'a', 0, 0x5A5A, 0x5A5A}), false},
        {TYPE3_TIME, 4, "\"PT0.0005S\"", CLeafWrite::kTooFine, {}, false},
        {TYPE3_TIME, 4, "\"P1DT2H\"", CLeafWrite::kWritten, BytesOf<int32_t>(93600000), false},
        {TYPE3_TIME, 4, "\"PT1,5S\"", CLeafWrite::kWritten, BytesOf<int32_t>(1500), false},
        {TYPE3_TIME, 4, "\"PT1.5M\"", CLeafWrite::kWritten, BytesOf<int32_t>(90000), false},
        {TYPE3_TIME, 4, "\"PT596H31M23.648S\"", CLeafWrite::kOutOfRange, {}, false},
        {TYPE3_TIME, 4, "\"P1Y\"", CLeafWrite::kMalformed, {}, false},
        {TYPE3_TIME, 4, "\"PT\"", CLeafWrite::kMalformed, {}, false},
        {TYPE3_TIME, 4, "\"PT1S2M\"", CLeafWrite::kMalformed, {}, false},
        {TYPE3_TIME, 4, "1500.0", CLeafWrite::kWritten, BytesOf<int32_t>(1500), false},
        {TYPE3_DATE, 4, "\"2024-02-30\"", CLeafWrite::kOutOfRange, {}, false},
        {TYPE3_DATE, 4, "\"2023-02-29\"", CLeafWrite::kOutOfRange, {}, false},
        {TYPE3_DATE, 4, "\"1969-12-31\"", CLeafWrite::kOutOfRange, {}, false},
        {TYPE3_DATE, 4, "-1", CLeafWrite::kWritten, BytesOf<uint32_t>(UINT32_MAX), true},
        {TYPE3_DATEANDTIME, 4, "\"2026-12-08T08:35:00+01:00\"", CLeafWrite::kWritten,
         BytesOf<uint32_t>(1796715300u), false},
        {TYPE3_DATEANDTIME, 4, "\"2026-12-08t02:05:00-05:30\"", CLeafWrite::kWritten,
         BytesOf<uint32_t>(1796715300u), false},
        {TYPE3_DATEANDTIME, 4, "\"2026-12-08\"", CLeafWrite::kWritten, BytesOf<uint32_t>(1796688000u), false},
        {TYPE3_DATEANDTIME, 4, "\"2026-12-08T07:35:00\"", CLeafWrite::kMalformed, {}, false},  // no zone
        {TYPE3_DATEANDTIME, 4, "\"2026-12-08T07:35:00.5Z\"", CLeafWrite::kTooFine, {}, false},
        {TYPE3_DATEANDTIME, 4, "\"2106-02-07T06:28:16Z\"", CLeafWrite::kOutOfRange, {}, false},
        {TYPE3_DATEANDTIME, 4, "\"1970-01-01T00:59:59+01:00\"", CLeafWrite::kOutOfRange, {}, false},
        {TYPE3_DATEANDTIME, 4, "\"2026-12-08T24:00:00Z\"", CLeafWrite::kOutOfRange, {}, false},
        {TYPE3_TIMEOFDAY, 4, "\"23:59:59.999\"", CLeafWrite::kWritten, BytesOf<uint32_t>(86399999u), false},
        {TYPE3_TIMEOFDAY, 4, "\"7:35:00\"", CLeafWrite::kMalformed, {}, false},
        {TYPE3_ENUM, 2, "65535", CLeafWrite::kWritten, BytesOf<uint16_t>(65535), false},
        {TYPE3_ENUM, 2, "-32768", CLeafWrite::kWritten, BytesOf<int16_t>(-32768), false},
        {TYPE3_ENUM, 2, "65536", CLeafWrite::kOutOfRange, {}, false},
        {TYPE3_ENUM, 2, "-32769", CLeafWrite::kOutOfRange, {}, false},
        {TYPE3_ENUM, 2, "2.5", CLeafWrite::kNotWhole, {}, false},
        {TYPE3_ENUM, 2, "\"2\"", CLeafWrite::kWrongKind, {}, false},
        {TYPE3_ENUM, 3, "2", CLeafWrite::kNeverWritten, {}, false},
        {TYPE3_SUBRANGE, 8, "\"-7\"", CLeafWrite::kWritten, BytesOf<int64_t>(-7), false},
        {TYPE3_LTIME, 8, "\"-PT2562047H47M16.854775808S\"", CLeafWrite::kWritten, BytesOf<int64_t>(INT64_MIN),
         false},
        {TYPE3_LTIME, 8, "\"-PT2562047H47M16.854775809S\"", CLeafWrite::kOutOfRange, {}, false},
        {TYPE3_LTIME, 8, "\"PT2562047H47M16.854775808S\"", CLeafWrite::kOutOfRange, {}, false},
        {TYPE3_LTIME, 8, "\"PT0.0000000005S\"", CLeafWrite::kTooFine, {}, false},
        {TYPE3_LTIME, 8, "\"1500\"", CLeafWrite::kWritten, BytesOf<int64_t>(1500), false},
        {TYPE3_LDATE, 8, "\"2262-04-12\"", CLeafWrite::kOutOfRange, {}, false},
        {TYPE3_LDATEANDTIME, 8, "\"1677-09-21T00:12:43.145224192Z\"", CLeafWrite::kWritten,
         BytesOf<int64_t>(INT64_MIN), false},
        {TYPE3_LDATEANDTIME, 8, "\"1677-09-21T00:12:43.145224191Z\"", CLeafWrite::kOutOfRange, {}, false},
        {TYPE3_LTIMEOFDAY, 8, "\"24:00:00\"", CLeafWrite::kOutOfRange, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(TypeClassRow(c.type).name) + " " + c.json);
        ByteVector memory(c.size, 0x5A);
        const CLeafWrite result = Decoded(c.type, memory, c.json);
        EXPECT_EQ(c.outcome, result.outcome);
        EXPECT_EQ(c.wrapped, result.wrapped);
        const ByteVector expected = c.outcome == CLeafWrite::kWritten ? c.memory : ByteVector(c.size, 0x5A);
        ASSERT_EQ(c.size, expected.size());
        EXPECT_EQ(Hex(expected.data(), expected.size()), Hex(memory.data(), memory.size()));
    }
}

// SHORT_REALS: a REAL is written as its shortest decimal, and that text reads back as the
// same single, bit for bit.
TEST(TypeClassTable, ShortRealsReadBackBitExactly) {
    const struct {
        float value;
        const char* json;  // null: the text is only checked to read back
    } cases[] = {
        {0.1f, "0.1"},
        {0.33f, "0.33"},
        {1.0f / 3, "0.33333334"},
        {16777217.0f, "16777216.0"},
        {FLT_MIN, "1.1754944e-38"},
        {FLT_MAX, "3.4028235e38"},
        {-FLT_MAX, "-3.4028235e38"},
        {FLT_TRUE_MIN, "1e-45"},
        {1e-40f, "1e-40"},
        {0.12517789f, "0.12517789"},
        {1.67e-43f, "1.67e-43"},
        {1e21f, "1e21"},
        {1e20f, "100000000000000000000.0"},
        {123456.79f, "123456.79"},
        {-0.0f, "-0.0"},
        {FLT_EPSILON, "1.1920929e-7"},
    };
    for (const auto& c : cases) {
        const std::string text = Encoded(TYPE3_REAL, BytesOf(c.value), kShortReals);
        EXPECT_EQ(c.json, text);
        ByteVector back(4, 0);
        EXPECT_EQ(CLeafWrite::kWritten, Decoded(TYPE3_REAL, back, text).outcome) << text;
        EXPECT_EQ(Hex(BytesOf(c.value).data(), 4), Hex(back.data(), 4)) << text;
    }
}

// The short form of a REAL is the double nearest to its shortest decimal, whatever the
// float: 200,000 random bit patterns against the shortest digits (to_chars' scientific
// form; its plain form writes a large whole single's exact value) read back by from_chars.
TEST(TypeClassTable, ShortRealsAreTheDoublesOfTheirShortestDecimals) {
    std::mt19937 random(20261208);
    size_t wrong = 0;
    for (int i = 0; i < 200000; ++i) {
        const uint32_t bits = static_cast<uint32_t>(random());
        float value = 0;
        std::memcpy(&value, &bits, sizeof(value));
        if (!std::isfinite(value)) {
            continue;
        }
        char text[32];
        const std::to_chars_result end =
            std::to_chars(text, text + sizeof(text), value, std::chars_format::scientific);
        double expected = 0;
        std::from_chars(text, end.ptr, expected);
        const double got = ShortestFloatAsDouble(value);
        if (std::memcmp(&got, &expected, sizeof(got)) != 0 && ++wrong <= 5) {
            ADD_FAILURE() << std::string(text, end.ptr) << " gave " << got;
        }
    }
    EXPECT_EQ(0u, wrong);
}

// The writer methods' forms are option bits of the same rows: BOOL as its byte's number
// unless BOOL_LITERALS; every other bit as for variables.
TEST(TypeClassTable, WriterMethodFormsAreOptionBits) {
    const struct {
        TypeClass3 type;
        ByteVector memory;
        uint32_t format;
        const char* json;
    } cases[] = {
        {TYPE3_BOOL, Bytes({1}), 0, "1"},
        {TYPE3_BOOL, Bytes({0}), 0, "0"},
        {TYPE3_BOOL, Bytes({5}), 0, "5"},
        {TYPE3_BOOL, Bytes({0xFF}), 0, "-1"},
        {TYPE3_BOOL, Bytes({5}), ZENTRIK_FORMAT_BOOL_LITERALS, "true"},
        {TYPE3_BOOL, Bytes({0}), ZENTRIK_FORMAT_READABLE, "false"},
        {TYPE3_DATEANDTIME, BytesOf<uint32_t>(3000000000u), 0, "3000000000"},
        {TYPE3_DATEANDTIME, BytesOf<uint32_t>(3000000000u), ZENTRIK_FORMAT_ISO_8601,
         "\"2065-01-24T05:20:00Z\""},
        {TYPE3_LINT, BytesOf<int64_t>(-1), ZENTRIK_FORMAT_INT64_STRINGS, "\"-1\""},
        {TYPE3_REAL, BytesOf<float>(0.1f), ZENTRIK_FORMAT_SHORT_REALS, "0.1"},
        {TYPE3_DINT, BytesOf<int32_t>(-1), ZENTRIK_FORMAT_BITS, "-1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.json, Encoded(c.type, c.memory, WriterMethodsForm(c.format)))
            << TypeClassRow(c.type).name << " format " << c.format;
    }
}

// The inline writes of the common classes write what the row's decoder writes, for every
// class, for values of every kind and at the edges of every width.
TEST(TypeClassTable, WriteLeafWritesWhatTheDecoderWrites) {
    const char* const values[] = {"true",
                                  "false",
                                  "null",
                                  "0",
                                  "-0",
                                  "1",
                                  "-1",
                                  "127",
                                  "-129",
                                  "255",
                                  "300",
                                  "65535",
                                  "-32769",
                                  "2147483647",
                                  "2147483648",
                                  "-2147483648",
                                  "-2147483649",
                                  "4294967295",
                                  "4294967296",
                                  "9223372036854775807",
                                  "-9223372036854775808",
                                  "-9223372036854775809",
                                  "18446744073709551615",
                                  "18446744073709551616",
                                  "1.5",
                                  "5.0",
                                  "-0.0",
                                  "0.1",
                                  "1e39",
                                  "-3.4028235e38",
                                  "1.7976931348623157e308",
                                  "1e-400",
                                  "\"5\"",
                                  "\"-12\"",
                                  "\"PT5S\"",
                                  "[]",
                                  "{}"};
    size_t differing = 0;
    for (unsigned type = 0; type <= kTypeClassCount; ++type) {
        const uint32_t width = TypeClassRow(static_cast<TypeClass3>(type)).width;
        for (const uint32_t size : {width, width + 3, width > 0 ? width - 1 : 8}) {
            for (const char* json : values) {
                CParsed value(json);
                ASSERT_TRUE(value.parsed) << json;
                const CExactNumber* const exact = value.exact.find(&value.document);
                ByteVector decoded(size, 0xA5);
                ByteVector written(size, 0xA5);
                DecodeLeaf(static_cast<TypeClass3>(type), decoded.data(), size, value.document, exact, false);
                WriteLeaf(static_cast<TypeClass3>(type), written.data(), size, value.document, exact);
                if (decoded != written && ++differing <= 5) {
                    ADD_FAILURE() << "class " << type << ", " << size << " bytes, " << json;
                }
            }
        }
    }
    EXPECT_EQ(0u, differing);
}

// A string without a zero byte is written inline as the decoder writes it, and only where
// it fits whole into a STRING; elsewhere nothing is written and the decoder is left to it.
TEST(TypeClassTable, WholeStringsAreWrittenAsTheDecoderWritesThem) {
    const std::string letters = "abcdefghijklmnopqrstu\xC3\xA9";
    size_t differing = 0;
    for (unsigned type = 0; type <= kTypeClassCount; ++type) {
        for (size_t length = 0; length <= letters.size(); ++length) {
            for (uint32_t size = 0; size <= 24; ++size) {
                CJsonValue value(letters.data(), static_cast<rapidjson::SizeType>(length));
                ByteVector decoded(size, 0xA5);
                ByteVector written(size, 0xA5);
                DecodeLeaf(static_cast<TypeClass3>(type), decoded.data(), size, value, nullptr, false);
                if (!WriteWholeString(static_cast<TypeClass3>(type), written.data(), size, letters.data(),
                                      length)) {
                    decoded = ByteVector(size, 0xA5);  // nothing written: the decoder writes it
                }
                if (decoded != written && ++differing <= 5) {
                    ADD_FAILURE() << "class " << type << ", " << length << " bytes into " << size;
                }
            }
        }
    }
    EXPECT_EQ(0u, differing);
}

// ISO 8601 texts of dates against the C library's calendar (gmtime_r) for every day from
// 1900 to 2200, and written then read back the same at every scale, across the years 0000
// to 9999 and at the ends of each class's range.
TEST(Iso8601, DatesAreTheCalendarsAndReadBack) {
    char text[kIsoTextMax];
    for (int64_t day = -25567; day <= 84006; ++day) {  // 1900-01-01 to 2200-01-01
        const int64_t seconds = day * 86400 + (day * 7919) % 86400;
        const time_t stamp = static_cast<time_t>(seconds);
        struct tm civil {};
        ASSERT_NE(nullptr, gmtime_r(&stamp, &civil));
        char expected[32];
        std::strftime(expected, sizeof(expected), "%Y-%m-%dT%H:%M:%SZ", &civil);
        ASSERT_EQ(expected, std::string(text, WriteIsoDateTime(seconds, 0, false, text))) << seconds;
    }
    const int64_t kDay = 86400;
    std::vector<int64_t> seconds = {0, -1, UINT32_MAX, -62167219200 /* 0000-01-01 */,
                                    253402300799 /* 9999-12-31T23:59:59 */};
    for (int64_t day = -719528; day <= 2932896; day += 97) {
        seconds.push_back(day * kDay + ((day * 4099) % kDay + kDay) % kDay);
    }
    for (const int64_t s : seconds) {
        for (const int scale : {0, 3, 9}) {
            const int64_t unit = scale == 0 ? 1 : scale == 3 ? 1000 : 1000000000;
            if (s > INT64_MAX / unit || s < INT64_MIN / unit) {
                continue;
            }
            const int64_t count = s * unit + (scale == 0 ? 0 : unit / 4 - 1);
            const std::string written(text, WriteIsoDateTime(count, scale, false, text));
            __int128 read = 0;
            ASSERT_EQ(EIsoRead::kRead, ReadIsoDateTime(written.data(), written.size(), scale, read))
                << written;
            EXPECT_TRUE(read == count) << written << " at scale " << scale;
        }
    }
    for (const int64_t count : {INT64_MIN, INT64_MAX}) {
        const std::string written(text, WriteIsoDateTime(count, 9, false, text));
        __int128 read = 0;
        ASSERT_EQ(EIsoRead::kRead, ReadIsoDateTime(written.data(), written.size(), 9, read)) << written;
        EXPECT_TRUE(read == count) << written;
    }
}

// Leap days of the Gregorian calendar, and durations either side of zero.
TEST(Iso8601, LeapDaysAndDurationsBothWays) {
    const struct {
        const char* text;
        EIsoRead read;
    } dates[] = {
        {"2000-02-29", EIsoRead::kRead},
        {"2024-02-29T23:59:59Z", EIsoRead::kRead},
        {"0000-02-29", EIsoRead::kRead},
        {"1900-02-29", EIsoRead::kOutOfRange},
        {"2100-02-29T00:00:00Z", EIsoRead::kOutOfRange},
        {"2023-02-29", EIsoRead::kOutOfRange},
        {"2024-13-01", EIsoRead::kOutOfRange},
        {"2024-12-31T24:00:00Z", EIsoRead::kOutOfRange},
        {"2024-12-31T23:59:60Z", EIsoRead::kOutOfRange},
        {"2024-12-3lT00:00:00Z", EIsoRead::kMalformed},
        {"2024-12-31T00:00:00", EIsoRead::kMalformed},
        {"2024-12-31 00:00:00z", EIsoRead::kRead},
    };
    for (const auto& d : dates) {
        __int128 count = 0;
        EXPECT_EQ(d.read, ReadIsoDateTime(d.text, std::strlen(d.text), 0, count)) << d.text;
    }
    const struct {
        int scale;
        int64_t count;
    } durations[] = {{3, 0},         {3, 1},        {3, -1},        {3, 999},           {3, -60000},
                     {3, 3723004},   {3, -3723004}, {3, INT32_MIN}, {3, INT32_MAX},     {9, INT64_MIN},
                     {9, INT64_MAX}, {9, -1},       {0, -86401},    {9, 86399999999999}};
    for (const auto& d : durations) {
        char text[kIsoTextMax];
        const std::string written(text, WriteIsoDuration(d.count, d.scale, text));
        __int128 read = 0;
        ASSERT_EQ(EIsoRead::kRead, ReadIsoDuration(written.data(), written.size(), d.scale, read)) << written;
        EXPECT_TRUE(read == d.count) << written;
    }
}
