// The type-class table: every class, from memory to JSON and back, in a variable's form
// and in the writer methods' forms.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstring>
#include <string>
#include <vector>

#include "convert/TypeClassTable.h"
#include "support/DatatypeSupport.h"

namespace {

std::string Text(const CJsonValue& value) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value.Accept(writer);
    return buffer.GetString();
}

struct Case {
    TypeClass3 type;
    ByteVector memory;  // the value in memory, as large as the node
    const char* json;   // its text in a variable's form; "null" for classes never read
};

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {TYPE3_BOOL, Bytes({1}), "true"},
        {TYPE3_BIT, Bytes({0xFF}), "-1"},
        {TYPE3_BYTE, Bytes({0x80}), "-128"},
        {TYPE3_WORD, BytesOf<uint16_t>(0xFFFE), "-2"},
        {TYPE3_DWORD, BytesOf<uint32_t>(0x80000000u), "-2147483648"},
        {TYPE3_LWORD, BytesOf<uint64_t>(~0ull), "-1"},
        {TYPE3_SINT, BytesOf<int8_t>(-100), "-100"},
        {TYPE3_INT, BytesOf<int16_t>(-30000), "-30000"},
        {TYPE3_DINT, BytesOf<int32_t>(-2000000000), "-2000000000"},
        {TYPE3_LINT, BytesOf<int64_t>(-9000000000000000000LL), "-9000000000000000000"},
        {TYPE3_USINT, BytesOf<uint8_t>(200), "200"},
        {TYPE3_UINT, BytesOf<uint16_t>(60000), "60000"},
        {TYPE3_UDINT, BytesOf<uint32_t>(4000000000u), "4000000000"},
        {TYPE3_ULINT, BytesOf<uint64_t>(18000000000000000000ull), "18000000000000000000"},
        {TYPE3_REAL, BytesOf<float>(0.5f), "0.5"},
        {TYPE3_LREAL, BytesOf<double>(-2.25), "-2.25"},
        {TYPE3_STRING, Bytes({'a', 0xC3, 0xA4, 0, 0}), "\"a\xC3\xA4\""},
        {TYPE3_WSTRING, Units({'a', 0xE4, 0xD83D, 0xDE00, 0}), "\"a\xC3\xA4\xF0\x9F\x98\x80\""},
        {TYPE3_TIME, BytesOf<int32_t>(-5000), "-5000"},
        {TYPE3_DATE, BytesOf<uint32_t>(1700000000u), "1700000000"},
        {TYPE3_DATEANDTIME, BytesOf<uint32_t>(3000000000u), "-1294967296"},
        {TYPE3_TIMEOFDAY, BytesOf<uint32_t>(43200000u), "43200000"},
    };
    return cases;
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

// Each class with a value: its memory gives its text, and its text written into zeroed
// memory gives the same bytes. Every other class is null one way and never written the
// other, as is every leaf at the null address or smaller than its class.
TEST(TypeClassTable, EveryClassBothWays) {
    CJsonDocument document;
    std::vector<bool> covered(kTypeClassCount, false);
    for (const Case& c : Cases()) {
        SCOPED_TRACE(TypeClassRow(c.type).name);
        covered[c.type] = true;
        ByteVector memory = c.memory;
        const uint32_t size = static_cast<uint32_t>(memory.size());
        EXPECT_EQ(c.json,
                  Text(EncodeLeaf(c.type, memory.data(), size, kFormVariable, document.GetAllocator())));

        CJsonDocument parsed;
        parsed.Parse(c.json);
        ByteVector back(memory.size(), 0);
        const CLeafWrite result = DecodeLeaf(c.type, back.data(), size, parsed, true);
        EXPECT_EQ(CLeafWrite::kWritten, result.outcome);
        EXPECT_FALSE(result.wrapped);
        EXPECT_FALSE(result.cut);
        EXPECT_EQ(Hex(c.memory.data(), c.memory.size()), Hex(back.data(), back.size()));

        EXPECT_EQ("null", Text(EncodeLeaf(c.type, nullptr, size, kFormVariable, document.GetAllocator())));
        EXPECT_EQ(CLeafWrite::kNeverWritten, DecodeLeaf(c.type, nullptr, size, parsed, true).outcome);
        if (TypeClassRow(c.type).width > 0) {
            const uint32_t small = TypeClassRow(c.type).width - 1;
            EXPECT_EQ("null",
                      Text(EncodeLeaf(c.type, memory.data(), small, kFormVariable, document.GetAllocator())));
            EXPECT_EQ(CLeafWrite::kNeverWritten,
                      DecodeLeaf(c.type, back.data(), small, parsed, true).outcome);
        }
    }
    CJsonDocument number;
    number.Parse("1");
    unsigned char memory[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (size_t i = 0; i < kTypeClassCount; ++i) {
        if (covered[i]) {
            continue;
        }
        const TypeClass3 type = static_cast<TypeClass3>(i);
        SCOPED_TRACE(TypeClassRow(type).name);
        EXPECT_FALSE(IsWritableClass(type));
        EXPECT_EQ("null",
                  Text(EncodeLeaf(type, memory, sizeof(memory), kFormVariable, document.GetAllocator())));
        EXPECT_EQ(CLeafWrite::kNeverWritten, DecodeLeaf(type, memory, sizeof(memory), number, true).outcome);
        EXPECT_EQ(Hex(Bytes({1, 2, 3, 4, 5, 6, 7, 8}).data(), 8), Hex(memory, sizeof(memory)));
    }
}

// What a class does not take leaves its memory alone and says why; integers beyond the
// width wrap and say so.
TEST(TypeClassTable, RefusedAndWrappedValues) {
    const struct {
        TypeClass3 type;
        const char* json;
        CLeafWrite::Outcome outcome;
        bool wrapped;
    } cases[] = {
        {TYPE3_BOOL, "1", CLeafWrite::kWrongKind, false},
        {TYPE3_DINT, "1.0", CLeafWrite::kWrongKind, false},
        {TYPE3_DINT, "4294967296", CLeafWrite::kOutOfRange, false},
        {TYPE3_DINT, "4294967295", CLeafWrite::kWritten, true},
        {TYPE3_USINT, "300", CLeafWrite::kWritten, true},
        {TYPE3_SINT, "-129", CLeafWrite::kWritten, true},
        {TYPE3_BYTE, "-128", CLeafWrite::kWritten, false},
        {TYPE3_LINT, "18446744073709551615", CLeafWrite::kWritten, true},
        {TYPE3_REAL, "2", CLeafWrite::kWrongKind, false},
        {TYPE3_STRING, "2", CLeafWrite::kWrongKind, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(TypeClassRow(c.type).name) + " " + c.json);
        CJsonDocument parsed;
        parsed.Parse(c.json);
        unsigned char memory[8] = {};
        const CLeafWrite result = DecodeLeaf(c.type, memory, sizeof(memory), parsed, true);
        EXPECT_EQ(c.outcome, result.outcome);
        EXPECT_EQ(c.wrapped, result.wrapped);
        if (c.outcome != CLeafWrite::kWritten) {
            EXPECT_EQ(Hex(ByteVector(8, 0).data(), 8), Hex(memory, sizeof(memory)));
        }
    }
}

// The writer methods' forms are option bits of the same rows: BOOL as its byte's number,
// the dates unsigned; every other class is written as in a variable's form.
TEST(TypeClassTable, WriterFormsAreOptionBits) {
    CJsonDocument document;
    const struct {
        TypeClass3 type;
        ByteVector memory;
        ValueForm form;
        const char* json;
    } cases[] = {
        {TYPE3_BOOL, Bytes({1}), kFormBoolAsNumber, "1"},
        {TYPE3_BOOL, Bytes({0}), kFormBoolAsNumber, "0"},
        {TYPE3_BOOL, Bytes({5}), kFormBoolAsNumber, "5"},
        {TYPE3_BOOL, Bytes({0xFF}), kFormBoolAsNumber, "-1"},
        {TYPE3_BOOL, Bytes({5}), kFormVariable, "true"},
        {TYPE3_DATEANDTIME, BytesOf<uint32_t>(3000000000u), kFormDatesUnsigned, "3000000000"},
        {TYPE3_DATE, BytesOf<uint32_t>(3000000000u), kFormDatesUnsigned, "3000000000"},
        {TYPE3_TIMEOFDAY, BytesOf<uint32_t>(3000000000u), kFormDatesUnsigned, "3000000000"},
        {TYPE3_TIME, BytesOf<uint32_t>(3000000000u), kFormWriterMethods, "-1294967296"},
        {TYPE3_DINT, BytesOf<int32_t>(-1), kFormWriterMethods, "-1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.json, Text(EncodeLeaf(c.type, c.memory.data(), static_cast<uint32_t>(c.memory.size()),
                                          c.form, document.GetAllocator())))
            << TypeClassRow(c.type).name;
    }
}
