// JSON to variable: SetSymbolFromJson over hand-built variable trees.
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/DatatypeSupport.h"

namespace {

// One leaf member "v" of a structure "st": the JSON value written to it and the bytes
// the leaf holds afterwards. The leaf's memory is exactly size bytes on the heap,
// filled with 0xA5 before the call (so "unchanged" is that fill).
struct WriteCase {
    const char* what;
    TypeClass3 type;
    uint32_t size;
    const char* json;
    std::vector<unsigned char> expected;
};

std::vector<unsigned char> Fill(size_t size) { return std::vector<unsigned char>(size, 0xA5); }

void RunWriteCases(const std::vector<WriteCase>& cases) {
    for (const WriteCase& c : cases) {
        std::unique_ptr<unsigned char[]> memory(new unsigned char[c.size]);
        std::memset(memory.get(), 0xA5, c.size);
        int32_t anchor = 0;  // the structure's own address
        Publish(MakeVar(TYPE3_USERDEF, 4, &anchor, "st", {MakeVar(c.type, c.size, memory.get(), "v")}));
        const std::string text = std::string(R"({"st":{"v":)") + c.json + "}}";
        EXPECT_EQ(1, CallSetFromJson(text, &anchor)) << c.what;
        EXPECT_EQ(Hex(c.expected.data(), c.expected.size()), Hex(memory.get(), c.size))
            << c.what << ": " << text;
    }
}

}  // namespace

TEST_F(DatatypeTest, MembersAreWrittenByName) {
    struct {
        int16_t a;
        char s[11];
    } st{};
    Publish(MakeVar(TYPE3_USERDEF, sizeof(st), &st, "st",
                    {MakeVar(TYPE3_INT, 2, &st.a, "a"), MakeVar(TYPE3_STRING, 11, st.s, "s")}));
    EXPECT_EQ(1, CallSetFromJson(R"({"st":{"a":7,"s":"hello"}})", &st));
    EXPECT_EQ(7, st.a);
    EXPECT_STREQ("hello", st.s);
    EXPECT_TRUE(LogRecords().empty());
}

TEST_F(DatatypeTest, TextsOfAnotherShapeWriteNothingAndSucceed) {
    struct Vars {
        int16_t a;
        char s[6];
        int16_t arr[3];
        struct {
            int16_t x;
        } pts[2];
        int16_t grid[2][2];
    };
    struct Case {
        const char* what;
        const char* json;
        const char* expected;  // a s arr pts grid after the call, from a, s = "", zeros
    };
    const std::vector<Case> cases = {
        {"another variable name", R"({"other":{"a":7}})", "0||0,0,0|0,0|0,0,0,0"},
        {"root member is an array", R"({"st":[7]})", "0||0,0,0|0,0|0,0,0,0"},
        {"root member is a number", R"({"st":7})", "0||0,0,0|0,0|0,0,0,0"},
        {"root is an array", R"([{"st":{"a":7}}])", "0||0,0,0|0,0|0,0,0,0"},
        {"names are case-sensitive", R"({"st":{"A":7}})", "0||0,0,0|0,0|0,0,0,0"},
        {"extra members are ignored", R"({"st":{"zz":1,"a":7,"q":[1]},"x":2})", "7||0,0,0|0,0|0,0,0,0"},
        {"7.0 for an INT is 7", R"({"st":{"a":7.0}})", "7||0,0,0|0,0|0,0,0,0"},
        {"7.5 for an INT", R"({"st":{"a":7.5}})", "0||0,0,0|0,0|0,0,0,0"},
        {"a string for an INT", R"({"st":{"a":"7"}})", "0||0,0,0|0,0|0,0,0,0"},
        {"a number for a STRING", R"({"st":{"s":7}})", "0||0,0,0|0,0|0,0,0,0"},
        {"the first of two members of one name", R"({"st":{"a":1,"a":2}})", "1||0,0,0|0,0|0,0,0,0"},
        {"STRING(5) takes five bytes", R"({"st":{"s":"abcdefgh"}})", "0|abcde|0,0,0|0,0|0,0,0,0"},
        {"array of three", R"({"st":{"arr":[1,2,3]}})", "0||1,2,3|0,0|0,0,0,0"},
        {"array of two: none written", R"({"st":{"arr":[1,2]}})", "0||0,0,0|0,0|0,0,0,0"},
        {"array of four: none written", R"({"st":{"arr":[1,2,3,4]}})", "0||0,0,0|0,0|0,0,0,0"},
        {"empty array", R"({"st":{"arr":[]}})", "0||0,0,0|0,0|0,0,0,0"},
        {"array given as object", R"({"st":{"arr":{"[0]":1}}})", "0||0,0,0|0,0|0,0,0,0"},
        {"elements of the wrong kind stay", R"({"st":{"arr":[1,"x",3.5]}})", "0||1,0,0|0,0|0,0,0,0"},
        {"array of structures", R"({"st":{"pts":[{"x":5},{"x":6}]}})", "0||0,0,0|5,6|0,0,0,0"},
        {"structure element of the wrong kind stays", R"({"st":{"pts":[7,{"x":6}]}})",
         "0||0,0,0|0,6|0,0,0,0"},
        {"two-dimensional array is flat", R"({"st":{"grid":[1,2,3,4]}})", "0||0,0,0|0,0|1,2,3,4"},
        {"nested arrays are not written", R"({"st":{"grid":[[1,2],[3,4]]}})", "0||0,0,0|0,0|0,0,0,0"},
        {"array of structures of another length", R"({"st":{"pts":[{"x":5}],"a":3}})",
         "3||0,0,0|0,0|0,0,0,0"},
    };
    for (const Case& c : cases) {
        Vars v{};
        std::vector<VarPtr> arr, pts, grid;
        for (int i = 0; i < 3; ++i) {
            arr.push_back(MakeVar(TYPE3_INT, 2, &v.arr[i], "[" + std::to_string(i) + "]"));
        }
        for (auto& p : v.pts) {
            pts.push_back(MakeVar(TYPE3_USERDEF, 2, &p, "[p]", {MakeVar(TYPE3_INT, 2, &p.x, "x")}));
        }
        for (int i = 0; i < 4; ++i) {
            grid.push_back(MakeVar(TYPE3_INT, 2, &v.grid[i / 2][i % 2], "[g]"));
        }
        Publish(
            MakeVar(TYPE3_USERDEF, sizeof(v), &v, "st",
                    {MakeVar(TYPE3_INT, 2, &v.a, "a"), MakeVar(TYPE3_STRING, 6, v.s, "s"),
                     MakeVar(TYPE3_ARRAY, 6, v.arr, "arr", arr), MakeVar(TYPE3_ARRAY, 4, v.pts, "pts", pts),
                     MakeVar(TYPE3_ARRAY, 8, v.grid, "grid", grid)}));
        EXPECT_EQ(1, CallSetFromJson(c.json, &v)) << c.what;
        char got[160];
        snprintf(got, sizeof(got), "%d|%.6s|%d,%d,%d|%d,%d|%d,%d,%d,%d", v.a, v.s, v.arr[0], v.arr[1],
                 v.arr[2], v.pts[0].x, v.pts[1].x, v.grid[0][0], v.grid[0][1], v.grid[1][0], v.grid[1][1]);
        EXPECT_EQ(c.expected, std::string(got)) << c.what;
    }
    EXPECT_TRUE(LogRecords().empty());
}

TEST_F(DatatypeTest, VariableAtTheAddressDecidesWhatIsLookedFor) {
    // An array variable takes a JSON array of exactly its length, or an object whose
    // members are named as its elements.
    int16_t arr[2] = {0, 0};
    Publish(MakeVar(TYPE3_ARRAY, 4, arr, "arr",
                    {MakeVar(TYPE3_INT, 2, &arr[0], "[0]"), MakeVar(TYPE3_INT, 2, &arr[1], "[1]")}));
    EXPECT_EQ(1, CallSetFromJson(R"({"arr":[1,2,3]})", arr));
    EXPECT_EQ(0, arr[0]);
    EXPECT_EQ(0, arr[1]);
    EXPECT_EQ(1, CallSetFromJson(R"({"arr":[1,2]})", arr));
    EXPECT_EQ(1, arr[0]);
    EXPECT_EQ(2, arr[1]);
    EXPECT_EQ(1, CallSetFromJson(R"({"arr":{"[1]":5,"[0]":4}})", arr));
    EXPECT_EQ(4, arr[0]);
    EXPECT_EQ(5, arr[1]);

    // A scalar variable takes the value under its name.
    int16_t n = 3;
    Publish(MakeVar(TYPE3_INT, 2, &n, "n"));
    EXPECT_EQ(1, CallSetFromJson(R"({"n":{"n":9}})", &n));
    EXPECT_EQ(3, n);
    EXPECT_EQ(1, CallSetFromJson(R"({"n":9})", &n));
    EXPECT_EQ(9, n);
    EXPECT_TRUE(LogRecords().empty());
}

// BOOL takes only true and false; REAL and LREAL take every number within their range.
TEST_F(DatatypeTest, BoolTakesItsLiteralsAndRealsTakeEveryNumber) {
    const float five = 5.0f;
    const std::vector<WriteCase> cases = {
        {"true", TYPE3_BOOL, 1, "true", Bytes({1})},
        {"false", TYPE3_BOOL, 1, "false", Bytes({0})},
        {"1 for a BOOL", TYPE3_BOOL, 1, "1", Fill(1)},
        {"string for a BOOL", TYPE3_BOOL, 1, R"("true")", Fill(1)},
        {"null for a BOOL", TYPE3_BOOL, 1, "null", Fill(1)},
        {"BOOL in 0 bytes", TYPE3_BOOL, 0, "true", {}},
        {"5.0 for a REAL", TYPE3_REAL, 4, "5.0", BytesOf<float>(five)},
        {"5e0 for a REAL", TYPE3_REAL, 4, "5e0", BytesOf<float>(five)},
        {"5 for a REAL", TYPE3_REAL, 4, "5", BytesOf<float>(five)},
        {"REAL rounds to single", TYPE3_REAL, 4, "0.1", BytesOf<float>(0.1f)},
        {"REAL beyond single range", TYPE3_REAL, 4, "1e39", Fill(4)},
        {"REAL at the top of its range", TYPE3_REAL, 4, "-3.4028235e38", BytesOf<float>(-3.4028235e38f)},
        {"REAL -0.0", TYPE3_REAL, 4, "-0.0", BytesOf<float>(-0.0f)},
        {"integer beyond 64 bits is a double", TYPE3_REAL, 4, "18446744073709551616",
         BytesOf<float>(18446744073709551616.0f)},
        {"LREAL", TYPE3_LREAL, 8, "-2.5e-300", BytesOf<double>(-2.5e-300)},
        {"LREAL from a plain integer", TYPE3_LREAL, 8, "3", BytesOf<double>(3.0)},
        {"LREAL nearest to a 64-bit integer", TYPE3_LREAL, 8, "9007199254740993",
         BytesOf<double>(9007199254740992.0)},
        // A zero written with an exponent far from 0 is still zero (an exact decimal
        // conversion that skips the zero case would normalise a zero significand).
        {"zero with a large exponent", TYPE3_LREAL, 8, "0e55", BytesOf<double>(0.0)},
        {"zero with a fraction and a large exponent", TYPE3_LREAL, 8, "0.000e300", BytesOf<double>(0.0)},
        {"negative zero with a large exponent", TYPE3_LREAL, 8, "-0e100", BytesOf<double>(-0.0)},
        {"zero with a small exponent", TYPE3_LREAL, 8, "0.0e-30", BytesOf<double>(0.0)},
        {"REAL zero with a large exponent", TYPE3_REAL, 4, "0e40", BytesOf<float>(0.0f)},
        {"LREAL underflows to zero", TYPE3_LREAL, 8, "1e-400", BytesOf<double>(0.0)},
        {"LREAL nearest to a long decimal", TYPE3_LREAL, 8,
         "2.22507385850720113605740979670913197593481954635164564e-308",
         BytesOf<double>(2.2250738585072011e-308)},
        {"REAL in 2 bytes", TYPE3_REAL, 2, "1.5", Fill(2)},
        {"LREAL in 7 bytes", TYPE3_LREAL, 7, "1.5", Fill(7)},
        {"no JSON form: POINTER", TYPE3_POINTER, 8, "5", Fill(8)},
        {"ENUM takes its integer", TYPE3_ENUM, 4, "5", BytesOf<int32_t>(5)},
        {"LTIME takes its nanoseconds", TYPE3_LTIME, 8, "5", BytesOf<int64_t>(5)},
    };
    RunWriteCases(cases);
}

TEST_F(DatatypeTest, IntegersAreWrittenWithinTheRangeOfTheirWidth) {
    const std::vector<WriteCase> cases = {
        // 1- and 2-byte classes: any DINT, its low bytes.
        {"300 into USINT", TYPE3_USINT, 1, "300", Bytes({44})},
        {"-1 into BYTE", TYPE3_BYTE, 1, "-1", Bytes({0xFF})},
        {"-128 into SINT", TYPE3_SINT, 1, "-128", Bytes({0x80})},
        {"1 into BIT", TYPE3_BIT, 1, "1", Bytes({1})},
        {"2147483647 into USINT", TYPE3_USINT, 1, "2147483647", Bytes({0xFF})},
        {"2147483648 into USINT", TYPE3_USINT, 1, "2147483648", Fill(1)},
        {"-2147483649 into SINT", TYPE3_SINT, 1, "-2147483649", Fill(1)},
        {"65537 into UINT", TYPE3_UINT, 2, "65537", BytesOf<uint16_t>(1)},
        {"-2147483648 into INT", TYPE3_INT, 2, "-2147483648", BytesOf<uint16_t>(0)},
        {"-2 into WORD", TYPE3_WORD, 2, "-2", BytesOf<uint16_t>(0xFFFE)},
        {"INT in 1 byte", TYPE3_INT, 1, "1", Fill(1)},
        {"INT in 3 bytes: two written", TYPE3_INT, 3, "258", Bytes({2, 1, 0xA5})},
        // 4-byte classes: -2147483648 to 4294967295, the low 32 bits.
        {"4294967295 into UDINT", TYPE3_UDINT, 4, "4294967295", BytesOf<uint32_t>(0xFFFFFFFF)},
        {"-1 into UDINT", TYPE3_UDINT, 4, "-1", BytesOf<uint32_t>(0xFFFFFFFF)},
        {"4294967296 into UDINT", TYPE3_UDINT, 4, "4294967296", Fill(4)},
        {"-2147483648 into DINT", TYPE3_DINT, 4, "-2147483648", BytesOf<int32_t>(INT32_MIN)},
        {"-2147483649 into DINT", TYPE3_DINT, 4, "-2147483649", Fill(4)},
        {"4294967295 into DWORD", TYPE3_DWORD, 4, "4294967295", BytesOf<uint32_t>(0xFFFFFFFF)},
        {"3000000000 into TIME", TYPE3_TIME, 4, "3000000000", BytesOf<uint32_t>(3000000000u)},
        {"3000000000 into DATE", TYPE3_DATE, 4, "3000000000", BytesOf<uint32_t>(3000000000u)},
        {"4000000000 into DATE_AND_TIME", TYPE3_DATEANDTIME, 4, "4000000000", BytesOf<uint32_t>(4000000000u)},
        {"86399999 into TIME_OF_DAY", TYPE3_TIMEOFDAY, 4, "86399999", BytesOf<uint32_t>(86399999)},
        {"DINT in 3 bytes", TYPE3_DINT, 3, "1", Fill(3)},
        // 8-byte classes: anything that fits 64 bits, signed or unsigned.
        {"LINT min", TYPE3_LINT, 8, "-9223372036854775808", BytesOf<int64_t>(INT64_MIN)},
        {"LINT 5 fills the upper bytes", TYPE3_LINT, 8, "5", BytesOf<int64_t>(5)},
        {"LINT -5", TYPE3_LINT, 8, "-5", BytesOf<int64_t>(-5)},
        {"ULINT max", TYPE3_ULINT, 8, "18446744073709551615", BytesOf<uint64_t>(~0ull)},
        {"ULINT beyond 64 bits", TYPE3_ULINT, 8, "18446744073709551616", Fill(8)},
        {"LINT below 64 bits", TYPE3_LINT, 8, "-9223372036854775809", Fill(8)},
        {"LWORD -1", TYPE3_LWORD, 8, "-1", BytesOf<uint64_t>(~0ull)},
        {"ULINT in 4 bytes", TYPE3_ULINT, 4, "1", Fill(4)},
        // Numbers by their value: a whole number however written; never a fraction, never
        // another kind (a string only for the 64-bit classes).
        {"7.0 into INT", TYPE3_INT, 2, "7.0", BytesOf<int16_t>(7)},
        {"1e2 into DINT", TYPE3_DINT, 4, "1e2", BytesOf<int32_t>(100)},
        {"1.0 into LINT", TYPE3_LINT, 8, "1.0", BytesOf<int64_t>(1)},
        {"9007199254740993.0 into LINT", TYPE3_LINT, 8, "9007199254740993.0",
         BytesOf<int64_t>(9007199254740993)},
        {"7.5 into INT", TYPE3_INT, 2, "7.5", Fill(2)},
        {"string into LINT", TYPE3_LINT, 8, R"("-12")", BytesOf<int64_t>(-12)},
        {"true into USINT", TYPE3_USINT, 1, "true", Fill(1)},
        {"string into UDINT", TYPE3_UDINT, 4, R"("1")", Fill(4)},
        {"-0 into INT", TYPE3_INT, 2, "-0", BytesOf<uint16_t>(0)},
    };
    RunWriteCases(cases);
}

TEST_F(DatatypeTest, StringsTakeWhatFitsThenATerminator) {
    const std::vector<WriteCase> cases = {
        {"STRING(5) given eight bytes", TYPE3_STRING, 6, R"("abcdefgh")",
         Bytes({'a', 'b', 'c', 'd', 'e', 0})},
        {"bytes after the terminator stay", TYPE3_STRING, 6, R"("ab")",
         Bytes({'a', 'b', 0, 0xA5, 0xA5, 0xA5})},
        {"empty string", TYPE3_STRING, 3, R"("")", Bytes({0, 0xA5, 0xA5})},
        {"room for the terminator only", TYPE3_STRING, 1, R"("abc")", Bytes({0})},
        {"no room at all", TYPE3_STRING, 0, R"("abc")", {}},
        {"UTF-8 bytes are copied as they are", TYPE3_STRING, 4, "\"\xC3\xA9\"", Bytes({0xC3, 0xA9, 0, 0xA5})},
        {"escapes are decoded", TYPE3_STRING, 4, R"("\"\n")", Bytes({'"', '\n', 0, 0xA5})},
        // The escaped quotes leave a quote where the string's bytes end: still cut at its zero.
        {"a zero from an escape ends the string", TYPE3_STRING, 6, R"("\"\"\u0000")",
         Bytes({'"', '"', 0, 0xA5, 0xA5, 0xA5})},
        {"number for a STRING", TYPE3_STRING, 2, "1", Fill(2)},
        // WSTRING: UTF-8 to UTF-16, at most size/2 - 1 units, then a zero unit.
        {"WSTRING text", TYPE3_WSTRING, 10, "\"A\xC3\xA9\xE2\x82\xAC\"",
         Units({'A', 0xE9, 0x20AC, 0, 0xA5A5})},
        {"WSTRING escapes", TYPE3_WSTRING, 6, R"("\u00e9")", Units({0xE9, 0, 0xA5A5})},
        {"WSTRING pair", TYPE3_WSTRING, 6, "\"\xF0\x9D\x84\x9E\"", Units({0xD834, 0xDD1E, 0})},
        {"WSTRING escaped pair", TYPE3_WSTRING, 6, R"("\ud834\udd1e")", Units({0xD834, 0xDD1E, 0})},
        {"WSTRING cut", TYPE3_WSTRING, 6, R"("abc")", Units({'a', 'b', 0})},
        {"WSTRING pair not split", TYPE3_WSTRING, 6, "\"a\xF0\x9D\x84\x9E\"", Units({'a', 0, 0xA5A5})},
        {"WSTRING odd size", TYPE3_WSTRING, 5, R"("abc")", Bytes({'a', 0, 0, 0, 0xA5})},
        {"WSTRING of 2 bytes", TYPE3_WSTRING, 2, R"("abc")", Units({0})},
        {"WSTRING of 1 byte", TYPE3_WSTRING, 1, R"("abc")", Fill(1)},
        {"WSTRING of 0 bytes", TYPE3_WSTRING, 0, R"("abc")", {}},
        {"invalid byte", TYPE3_WSTRING, 8,
         "\"a\xFF"
         "b\"",
         Units({'a', 0xFFFD, 'b', 0})},
        {"truncated sequence", TYPE3_WSTRING, 8,
         "\"\xE2\x82"
         "b\"",
         Units({0xFFFD, 0xFFFD, 'b', 0})},
        {"overlong form", TYPE3_WSTRING, 6, "\"\xC0\xAF\"", Units({0xFFFD, 0xFFFD, 0})},
        {"encoded surrogate", TYPE3_WSTRING, 8, "\"\xED\xA0\x80\"", Units({0xFFFD, 0xFFFD, 0xFFFD, 0})},
        {"beyond U+10FFFF", TYPE3_WSTRING, 10, "\"\xF4\x90\x80\x80\"",
         Units({0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0})},
        {"sequence cut by the end of the text", TYPE3_WSTRING, 8, "\"a\xF0\x9D\"",
         Units({'a', 0xFFFD, 0xFFFD, 0})},
    };
    RunWriteCases(cases);
}

// The elements of an array that keeps one element as the layout of all are matched
// through one plan of that layout from the second element on: every text must write
// exactly what the document's walk (the call with a report) writes, whatever the order,
// repetition or shape of the members, and names that share their first eight bytes.
TEST_F(DatatypeTest, ElementsOfOneLayoutAreWrittenAsTheDocumentWalkWritesThem) {
    struct Element {
        int32_t a;
        double temperature1, temperature2;
        struct {
            int16_t x;
        } nested;
        char s[8];
    };
    Element list[4];
    auto element = MakeVar(TYPE3_USERDEF, sizeof(Element), &list[0], "list[0]",
                           {MakeVar(TYPE3_DINT, 4, &list[0].a, "a"),
                            MakeVar(TYPE3_LREAL, 8, &list[0].temperature1, "temperature1"),
                            MakeVar(TYPE3_LREAL, 8, &list[0].temperature2, "temperature2"),
                            MakeVar(TYPE3_USERDEF, 2, &list[0].nested, "nested",
                                    {MakeVar(TYPE3_INT, 2, &list[0].nested.x, "x")}),
                            MakeVar(TYPE3_STRING, 8, list[0].s, "s")});
    auto array = MakeVar(TYPE3_ARRAY, sizeof(list), list, "list", {element});
    array->bounds_ = std::make_unique<CVariable::CArrayBounds>();
    array->bounds_->count = 1;
    array->bounds_->dimension[0] = {0, 3};
    array->bounds_->elements = 4;
    array->KeepOneElement(sizeof(Element));
    Publish(array);

    const std::string full = R"({"a":1,"temperature1":1.5,"temperature2":2.5,"nested":{"x":3},"s":"abc"})";
    const char* const texts[] = {
        // in order, then every member in reverse order, repeated and unknown
        R"([{"a":1,"temperature1":1.5,"temperature2":2.5,"nested":{"x":3},"s":"abc"},
            {"s":"x","nested":{"x":-3},"temperature2":-2,"temperature1":1e3,"a":-1},
            {"a":5,"a":6,"temperature":7,"temperature12":8,"temperature2":0.1,"b":{"a":9}},
            {"temperature2":4,"zz":[1,{"a":2}],"temperature1":3}])",
        // a leaf given an object or an array, a structure given a scalar, nulls and kinds
        // the leaves do not take
        R"([{"a":{"x":1},"temperature1":[2],"nested":5,"s":7},
            {"a":"8","temperature1":null,"temperature2":true,"nested":{"x":"9","y":10}},
            {"a":2.0,"temperature1":"1","nested":[],"s":"abcdefghij"},
            {"a":4294967296,"temperature2":1e400,"s":null}])",
        // elements of another count: nothing of them is written
        R"([{"a":1},{"a":2},{"a":3}])",
    };
    std::vector<std::string> cases(std::begin(texts), std::end(texts));
    cases.push_back("[" + full + "," + full + "," + full + "," + full + "]");
    cases.push_back("[" + full + R"(,{"a":1,"temperat)");  // ends inside a name expected ahead
    for (const std::string& elements : cases) {
        const std::string text = R"({"list":)" + elements + "}";
        std::memset(list, 0x5A, sizeof(list));
        fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct record{};
        record.pJson = const_cast<char*>(text.data());
        record.nSize = static_cast<RTS_IEC_UDINT>(text.size());
        record.pData = reinterpret_cast<RTS_IEC_UDINT*>(list);
        fb_jsonreadwritedatatype__setsymbolfromjsonreport(&record);
        const std::string walked = Hex(reinterpret_cast<const unsigned char*>(list), sizeof(list));
        std::memset(list, 0x5A, sizeof(list));
        EXPECT_EQ(record.SetSymbolFromJsonReport, CallSetFromJson(text, list)) << text;
        EXPECT_EQ(walked, Hex(reinterpret_cast<const unsigned char*>(list), sizeof(list))) << text;
    }
    // The first text wrote into every element, so the comparison above saw the writes.
    std::memset(list, 0, sizeof(list));
    ASSERT_EQ(1, CallSetFromJson(R"({"list":)" + std::string(texts[0]) + "}", list));
    EXPECT_EQ(1.5, list[0].temperature1);
    EXPECT_EQ(-3, list[1].nested.x);
    EXPECT_EQ(5, list[2].a);  // the first member of a name
    EXPECT_EQ(0.1, list[2].temperature2);
    EXPECT_EQ(3.0, list[3].temperature1);
    EXPECT_EQ(0, list[3].a);
}
