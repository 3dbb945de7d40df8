// Variable to JSON: AddJsonKeyValueFromSymbol over hand-built variable trees.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/DatatypeSupport.h"

namespace {

// Exactly size bytes on the heap, so the sanitizer sees any access beyond them.
struct CExactBuffer {
    explicit CExactBuffer(const std::vector<unsigned char>& bytes, size_t size)
        : data(new unsigned char[size]), size(size) {
        std::memset(data.get(), 0xEE, size);
        std::copy(bytes.begin(), bytes.begin() + (bytes.size() < size ? bytes.size() : size), data.get());
    }
    std::unique_ptr<unsigned char[]> data;
    size_t size;
};

struct LeafCase {
    const char* what;
    TypeClass3 type;
    std::vector<unsigned char> bytes;
    uint32_t size;
    const char* json;  // the value added under "v"
};

}  // namespace

TEST_F(DatatypeTest, StructureBecomesObjectWithMembersInOrder) {
    struct {
        int16_t a;
        char s[11];
    } st{};
    st.a = -5;
    std::strcpy(st.s, "hi");
    Publish(MakeVar(TYPE3_USERDEF, sizeof(st), &st, "st",
                    {MakeVar(TYPE3_INT, 2, &st.a, "a"), MakeVar(TYPE3_STRING, 11, st.s, "s")}));

    EXPECT_EQ(1, CallAddFromSymbol(&writer_, "x", &st));
    EXPECT_EQ(R"({"x":{"a":-5,"s":"hi"}})", WriterDocumentText(&writer_));

    // The value is a copy: changing the variable afterwards leaves the document alone.
    std::strcpy(st.s, "changed");
    EXPECT_EQ(1, CallAddFromSymbol(&writer_, "x", &st));
    EXPECT_EQ(R"({"x":{"a":-5,"s":"hi"},"x":{"a":-5,"s":"changed"}})", WriterDocumentText(&writer_));
    EXPECT_TRUE(LogRecords().empty());
}

TEST_F(DatatypeTest, ArraysBecomeFlatArraysInChildOrder) {
    struct {
        uint8_t flags[3];
        int16_t grid[2][2];
        struct {
            int16_t x;
            uint8_t on;
        } points[2];
    } v{};
    v.flags[0] = 1, v.flags[2] = 1;
    v.grid[0][0] = 1, v.grid[0][1] = 2, v.grid[1][0] = 3, v.grid[1][1] = 4;
    v.points[0] = {10, 1}, v.points[1] = {-20, 0};
    std::vector<VarPtr> flags, grid, points;
    for (int i = 0; i < 3; ++i) {
        flags.push_back(MakeVar(TYPE3_BOOL, 1, &v.flags[i], "[" + std::to_string(i) + "]"));
    }
    for (int i = 0; i < 4; ++i) {
        grid.push_back(MakeVar(TYPE3_INT, 2, &v.grid[i / 2][i % 2], "[i]"));
    }
    for (auto& point : v.points) {
        points.push_back(
            MakeVar(TYPE3_USERDEF, sizeof(point), &point, "[p]",
                    {MakeVar(TYPE3_INT, 2, &point.x, "x"), MakeVar(TYPE3_BOOL, 1, &point.on, "on")}));
    }
    Publish(MakeVar(
        TYPE3_USERDEF, sizeof(v), &v, "v",
        {MakeVar(TYPE3_ARRAY, 3, v.flags, "flags", flags), MakeVar(TYPE3_ARRAY, 8, v.grid, "grid", grid),
         MakeVar(TYPE3_ARRAY, sizeof(v.points), v.points, "points", points)}));

    EXPECT_EQ(1, CallAddFromSymbol(&writer_, "v", &v));
    EXPECT_EQ(R"({"v":{"flags":[true,false,true],"grid":[1,2,3,4],)"
              R"("points":[{"x":10,"on":true},{"x":-20,"on":false}]}})",
              WriterDocumentText(&writer_));
}

TEST_F(DatatypeTest, LeavesReadTheirNaturalWidthByClass) {
    const std::vector<LeafCase> cases = {
        {"BOOL 0", TYPE3_BOOL, Bytes({0}), 1, "false"},
        {"BOOL 1", TYPE3_BOOL, Bytes({1}), 1, "true"},
        {"BOOL any non-zero byte", TYPE3_BOOL, Bytes({0x80}), 1, "true"},
        {"BIT is signed", TYPE3_BIT, Bytes({0xFF}), 1, "-1"},
        {"BYTE 16#FF", TYPE3_BYTE, Bytes({0xFF}), 1, "-1"},
        {"SINT min", TYPE3_SINT, Bytes({0x80}), 1, "-128"},
        {"USINT 255", TYPE3_USINT, Bytes({0xFF}), 1, "255"},
        {"WORD 16#FFFF", TYPE3_WORD, Bytes({0xFF, 0xFF}), 2, "-1"},
        {"INT min", TYPE3_INT, Bytes({0x00, 0x80}), 2, "-32768"},
        {"UINT max", TYPE3_UINT, Bytes({0xFF, 0xFF}), 2, "65535"},
        {"DWORD 16#FFFFFFFF", TYPE3_DWORD, BytesOf<uint32_t>(0xFFFFFFFF), 4, "-1"},
        {"DINT min", TYPE3_DINT, BytesOf<int32_t>(INT32_MIN), 4, "-2147483648"},
        {"UDINT max", TYPE3_UDINT, BytesOf<uint32_t>(4294967295u), 4, "4294967295"},
        {"TIME T#1S", TYPE3_TIME, BytesOf<uint32_t>(1000), 4, "1000"},
        {"DATE seconds", TYPE3_DATE, BytesOf<uint32_t>(1700006400), 4, "1700006400"},
        {"DATE_AND_TIME seconds", TYPE3_DATEANDTIME, BytesOf<uint32_t>(1700000000), 4, "1700000000"},
        {"TIME_OF_DAY ms", TYPE3_TIMEOFDAY, BytesOf<uint32_t>(43200000), 4, "43200000"},
        {"LWORD all ones", TYPE3_LWORD, BytesOf<uint64_t>(~0ull), 8, "-1"},
        {"LINT min", TYPE3_LINT, BytesOf<int64_t>(INT64_MIN), 8, "-9223372036854775808"},
        {"ULINT max", TYPE3_ULINT, BytesOf<uint64_t>(~0ull), 8, "18446744073709551615"},
        {"REAL 0.1 widened", TYPE3_REAL, BytesOf<float>(0.1f), 4, "0.10000000149011612"},
        {"LREAL 0.1", TYPE3_LREAL, BytesOf<double>(0.1), 8, "0.1"},
        {"LREAL -0", TYPE3_LREAL, BytesOf<double>(-0.0), 8, "-0.0"},
        // Larger than the class: only the natural width is read.
        {"INT in 4 bytes", TYPE3_INT, Bytes({0x01, 0x00, 0xFF, 0xFF}), 4, "1"},
        {"USINT in 2 bytes", TYPE3_USINT, Bytes({0x07, 0xFF}), 2, "7"},
        // Smaller than the class: null, nothing read.
        {"BOOL in 0 bytes", TYPE3_BOOL, {}, 0, "null"},
        {"INT in 1 byte", TYPE3_INT, Bytes({0x01}), 1, "null"},
        {"DINT in 3 bytes", TYPE3_DINT, Bytes({1, 2, 3}), 3, "null"},
        {"UDINT in 2 bytes", TYPE3_UDINT, Bytes({1, 2}), 2, "null"},
        {"ULINT in 7 bytes", TYPE3_ULINT, Bytes({1, 2, 3, 4, 5, 6, 7}), 7, "null"},
        {"REAL in 2 bytes", TYPE3_REAL, Bytes({1, 2}), 2, "null"},
        {"LREAL in 4 bytes", TYPE3_LREAL, BytesOf<float>(1.0f), 4, "null"},
        // Classes without a JSON form.
        {"POINTER", TYPE3_POINTER, BytesOf<uint64_t>(0x1234), 8, "null"},
        {"REFERENCE", TYPE3_REFERENCE, BytesOf<uint64_t>(0x1234), 8, "null"},
        {"ENUM", TYPE3_ENUM, BytesOf<int32_t>(2), 4, "null"},
        {"SUBRANGE", TYPE3_SUBRANGE, BytesOf<int32_t>(2), 4, "null"},
        {"LTIME", TYPE3_LTIME, BytesOf<uint64_t>(1000000), 8, "null"},
        {"structure without members", TYPE3_USERDEF, Bytes({1, 2}), 2, "null"},
        {"array without elements", TYPE3_ARRAY, Bytes({1, 2}), 2, "null"},
    };
    for (const LeafCase& c : cases) {
        CreateWriterDocument(&writer_);
        CExactBuffer memory(c.bytes, c.size);
        Publish(MakeVar(c.type, c.size, memory.data.get(), "leaf"));
        EXPECT_EQ(1, CallAddFromSymbol(&writer_, "v", memory.data.get())) << c.what;
        EXPECT_EQ(std::string("{\"v\":") + c.json + "}", WriterDocumentText(&writer_)) << c.what;
    }
    EXPECT_TRUE(LogRecords().empty());
}

TEST_F(DatatypeTest, MemberAtTheNullAddressReadsAsNull) {
    // A member the host did not resolve: it keeps the null address and is never read.
    int16_t a = 3;
    Publish(MakeVar(TYPE3_USERDEF, 2, &a, "st",
                    {MakeVar(TYPE3_INT, 2, &a, "a"), MakeVar(TYPE3_INT, 2, nullptr, "b")}));
    EXPECT_EQ(1, CallAddFromSymbol(&writer_, "st", &a));
    EXPECT_EQ(R"({"st":{"a":3,"b":null}})", WriterDocumentText(&writer_));
}

TEST_F(DatatypeTest, StringsAreTheirBytesUpToTheFirstZero) {
    const std::vector<LeafCase> cases = {
        {"terminated", TYPE3_STRING, Bytes({'h', 'i', 0, 'x'}), 4, R"("hi")"},
        {"STRING(5) without terminator: all six bytes", TYPE3_STRING, Bytes({'a', 'b', 'c', 'd', 'e', 'f'}),
         6, R"("abcdef")"},
        {"empty", TYPE3_STRING, Bytes({0, 'x'}), 2, R"("")"},
        {"no bytes at all", TYPE3_STRING, {}, 0, R"("")"},
        {"bytes are not transcoded", TYPE3_STRING, Bytes({0xC3, 0xA9, 0}), 3, "\"\xC3\xA9\""},
    };
    for (const LeafCase& c : cases) {
        CreateWriterDocument(&writer_);
        CExactBuffer memory(c.bytes, c.size);
        Publish(MakeVar(c.type, c.size, memory.data.get(), "s"));
        EXPECT_EQ(1, CallAddFromSymbol(&writer_, "v", memory.data.get())) << c.what;
        EXPECT_EQ(std::string("{\"v\":") + c.json + "}", WriterDocumentText(&writer_)) << c.what;
    }

    // A long value stays intact in the document after the variable has changed.
    std::vector<char> text(101, 0);
    for (size_t i = 0; i < 100; ++i) {
        text[i] = static_cast<char>('a' + i % 26);
    }
    const std::string expected(text.data());
    Publish(MakeVar(TYPE3_STRING, 101, text.data(), "s"));
    CreateWriterDocument(&writer_);
    EXPECT_EQ(1, CallAddFromSymbol(&writer_, "long", text.data()));
    std::memset(text.data(), 'z', 100);
    EXPECT_EQ("{\"long\":\"" + expected + "\"}", WriterDocumentText(&writer_));
}

TEST_F(DatatypeTest, WideStringsAreConvertedFromUtf16) {
    const std::vector<LeafCase> cases = {
        {"BMP text", TYPE3_WSTRING, Units({'A', 0x00E9, 0x20AC, 0, 'x'}), 10, "\"A\xC3\xA9\xE2\x82\xAC\""},
        {"surrogate pair", TYPE3_WSTRING, Units({0xD834, 0xDD1E, 0}), 6, "\"\xF0\x9D\x84\x9E\""},
        {"lone low surrogate", TYPE3_WSTRING, Units({0xDD1E, 'a', 0}), 6,
         "\"\xEF\xBF\xBD"
         "a\""},
        {"high surrogate before a non-surrogate", TYPE3_WSTRING, Units({0xD834, 'a', 0}), 6,
         "\"\xEF\xBF\xBD"
         "a\""},
        {"two high surrogates", TYPE3_WSTRING, Units({0xD834, 0xD834, 0xDD1E, 0}), 8,
         "\"\xEF\xBF\xBD\xF0\x9D\x84\x9E\""},
        // The pair's second half lies beyond size_: it is not read.
        {"high surrogate in the last unit", TYPE3_WSTRING, Units({'a', 0xD834}), 4, "\"a\xEF\xBF\xBD\""},
        {"no terminator", TYPE3_WSTRING, Units({'a', 'b', 'c'}), 6, R"("abc")"},
        {"odd size: whole units only", TYPE3_WSTRING, Bytes({'a', 0, 'b', 0, 'c', 0, 'd'}), 7, R"("abc")"},
        {"size 1", TYPE3_WSTRING, Bytes({'a'}), 1, R"("")"},
        {"size 0", TYPE3_WSTRING, {}, 0, R"("")"},
        {"empty", TYPE3_WSTRING, Units({0, 'a'}), 4, R"("")"},
    };
    for (const LeafCase& c : cases) {
        CreateWriterDocument(&writer_);
        CExactBuffer memory(c.bytes, c.size);
        Publish(MakeVar(c.type, c.size, memory.data.get(), "w"));
        EXPECT_EQ(1, CallAddFromSymbol(&writer_, "v", memory.data.get())) << c.what;
        EXPECT_EQ(std::string("{\"v\":") + c.json + "}", WriterDocumentText(&writer_)) << c.what;
    }
}

TEST_F(DatatypeTest, MembersOfOneNameAreAllKept) {
    int16_t a = 1, b = 2;
    Publish(MakeVar(TYPE3_USERDEF, 4, &a, "st",
                    {MakeVar(TYPE3_INT, 2, &a, "n"), MakeVar(TYPE3_INT, 2, &b, "n")}));
    EXPECT_EQ(1, CallAddFromSymbol(&writer_, "k", &a));
    EXPECT_EQ(1, CallAddFromSymbol(&writer_, "k", &a));
    EXPECT_EQ(R"({"k":{"n":1,"n":2},"k":{"n":1,"n":2}})", WriterDocumentText(&writer_));
}

TEST_F(DatatypeTest, KeyIsTakenUpToItsTerminator) {
    int16_t a = 9;
    Publish(MakeVar(TYPE3_INT, 2, &a, "a"));
    const char key[] = "k\0ignored";
    EXPECT_EQ(1, CallAddFromSymbol(&writer_, key, &a));
    EXPECT_EQ(1, CallAddFromSymbol(&writer_, "", &a));
    EXPECT_EQ(R"({"k":9,"":9})", WriterDocumentText(&writer_));
}
