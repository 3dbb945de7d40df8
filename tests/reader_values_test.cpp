// The reader block's reads: paths, kinds and sizes, the exact conversions, and the
// copies of strings, member names and raw JSON into the caller's buffers.
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "support/ComponentFixture.h"
#include "support/ReaderCalls.h"
#include "support/WriterCalls.h"
#include "var/DomDriverMgr.h"

namespace {

class ReaderValuesTest : public ComponentTest {
   protected:
    // Parses text into the instance; fails the test when it is refused.
    void Load(const std::string& text) {
        const fb_jsonreader_parse_struct p = reader_.parse(text);
        ASSERT_EQ(1, p.Parse) << text << ": " << p.sError;
    }

    CReaderCalls reader_;
};

// The example document of RFC 6901, section 5.
const char* const kPointerExample = R"({
    "foo": ["bar", "baz"], "": 0, "a/b": 1, "c%d": 2, "e^f": 3, "g|h": 4,
    "i\\j": 5, "k\"l": 6, " ": 7, "m~n": 8})";

TEST_F(ReaderValuesTest, PointersOfTheRfcExamplesFindTheirValues) {
    Load(kPointerExample);
    const struct {
        const char* path;
        const char* raw;
    } cases[] = {
        {"", R"({"foo":["bar","baz"],"":0,"a/b":1,"c%d":2,"e^f":3,"g|h":4,"i\\j":5,"k\"l":6," ":7,"m~n":8})"},
        {"/foo", R"(["bar","baz"])"},
        {"/foo/0", R"("bar")"},
        {"/", "0"},
        {"/a~1b", "1"},
        {"/c%d", "2"},
        {"/e^f", "3"},
        {"/g|h", "4"},
        {"/i\\j", "5"},
        {"/k\"l", "6"},
        {"/ ", "7"},
        {"/m~0n", "8"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.raw, reader_.raw(c.path)) << "path '" << c.path << "'";
    }
}

TEST_F(ReaderValuesTest, MalformedAndDanglingPathsFindNothing) {
    Load(R"({"foo":["bar","baz"],"a":{"b":1},"a":{"b":2},"~1":"tilde one","/":"slash","":{"":"empty"}})");
    const struct {
        const char* path;
        const char* raw;  // "<none>": nothing found
    } cases[] = {
        {"/a/b", "1"},               // the first of two members with one name
        {"/~01", R"("tilde one")"},  // ~01 is "~1", not "/"
        {"/~1", R"("slash")"},
        {"//", R"("empty")"},   // empty names
        {"foo", "<none>"},      // no leading slash
        {"#/foo", "<none>"},    // URI fragment form
        {"/foo/2", "<none>"},   // beyond the array
        {"/foo/-", "<none>"},   // the element after the last
        {"/foo/01", "<none>"},  // leading zero
        {"/foo/+1", "<none>"},
        {"/foo/-1", "<none>"},
        {"/foo/", "<none>"},            // empty index
        {"/foo/4294967296", "<none>"},  // beyond 32 bits
        {"/foo/99999999999999999999999", "<none>"},
        {"/foo/0/x", "<none>"},  // into a string
        {"/a/b/c", "<none>"},    // into a number
        {"/a~2b", "<none>"},     // ~ followed by neither 0 nor 1
        {"/m~", "<none>"},
        {"/missing", "<none>"},
        {"/A", "<none>"},  // names compare byte for byte
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.raw, reader_.raw(c.path)) << "path '" << c.path << "'";
    }
    EXPECT_EQ(0, reader_.kind(nullptr));
    EXPECT_EQ(-1, reader_.size(nullptr));
}

TEST_F(ReaderValuesTest, WithoutADocumentNothingIsFound) {
    EXPECT_EQ(0, reader_.kind(""));  // never parsed
    Load("[1]");
    ASSERT_EQ(6, reader_.kind(""));
    EXPECT_EQ(0, reader_.parse("[1,").Parse);
    EXPECT_EQ(0, reader_.kind(""));  // a failed parse drops the document
    Load("[1]");
    CDomDriverMgr::instance()->clear();
    EXPECT_EQ(0, reader_.kind(""));
    EXPECT_EQ("<none>", reader_.raw(""));
    EXPECT_TRUE(logTexts().empty());
}

TEST_F(ReaderValuesTest, KindsAndSizes) {
    Load(R"({"null":null,"t":true,"f":false,"zero":0,"neg":-5,"u64":18446744073709551615,
             "i64min":-9223372036854775808,"beyondU64":18446744073709551616,
             "belowI64":-9223372036854775809,"oneDotZero":1.0,"exp":1e2,"s":"abc",
             "empty":[],"three":[1,[2],{}],"obj":{"a":1,"a":2},"eobj":{}})");
    const struct {
        const char* path;
        RTS_IEC_DINT kind;
        RTS_IEC_DINT size;
    } cases[] = {
        {"/null", 1, -1},     {"/t", 2, -1},          {"/f", 2, -1},      {"/zero", 3, -1},
        {"/neg", 3, -1},      {"/u64", 3, -1},        {"/i64min", 3, -1}, {"/beyondU64", 4, -1},
        {"/belowI64", 4, -1}, {"/oneDotZero", 4, -1}, {"/exp", 4, -1},    {"/s", 5, -1},
        {"/empty", 6, 0},     {"/three", 6, 3},       {"/three/1", 6, 1}, {"/three/2", 7, 0},
        {"/obj", 7, 2},       {"/eobj", 7, 0},        {"", 7, 16},        {"/none", 0, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.kind, reader_.kind(c.path)) << c.path;
        EXPECT_EQ(c.size, reader_.size(c.path)) << c.path;
    }
}

TEST_F(ReaderValuesTest, NumbersConvertOnlyWhenExact) {
    const RTS_IEC_DINT d0 = 77;
    const RTS_IEC_LINT l0 = 77;
    const RTS_IEC_LREAL r0 = 77.5;
    const struct {
        const char* json;
        bool dintOk;
        RTS_IEC_DINT dint;
        bool lintOk;
        RTS_IEC_LINT lint;
        bool lrealOk;
        RTS_IEC_LREAL lreal;
    } cases[] = {
        {"2147483647", true, 2147483647, true, 2147483647, true, 2147483647.0},
        {"-2147483648", true, INT32_MIN, true, INT32_MIN, true, -2147483648.0},
        {"2147483648", false, d0, true, 2147483648LL, true, 2147483648.0},
        {"-2147483649", false, d0, true, -2147483649LL, true, -2147483649.0},
        {"3000000000", false, d0, true, 3000000000LL, true, 3e9},
        {"5.0", true, 5, true, 5, true, 5.0},
        {"1e2", true, 100, true, 100, true, 100.0},
        {"-0.0", true, 0, true, 0, true, -0.0},
        {"2147483647.0", true, 2147483647, true, 2147483647, true, 2147483647.0},
        {"2147483648.0", false, d0, true, 2147483648LL, true, 2147483648.0},
        {"5.5", false, d0, false, l0, true, 5.5},
        {"-0.5", false, d0, false, l0, true, -0.5},
        {"9223372036854775807", false, d0, true, INT64_MAX, true, 9223372036854775808.0},
        {"-9223372036854775808", false, d0, true, INT64_MIN, true, -9223372036854775808.0},
        {"9223372036854775808", false, d0, false, l0, true, 9223372036854775808.0},
        {"18446744073709551615", false, d0, false, l0, true, 18446744073709551616.0},
        {"9.223372036854775808e18", false, d0, false, l0, true, 9223372036854775808.0},  // 2^63
        {"9223372036854774784.0", false, d0, true, 9223372036854774784LL, true, 9223372036854774784.0},
        {"-9.223372036854775808e18", false, d0, true, INT64_MIN, true, -9223372036854775808.0},
        {"1e19", false, d0, false, l0, true, 1e19},
        // Integers beyond 2^53 go to the nearest double (ties to even); LINT keeps them.
        {"9007199254740993", false, d0, true, 9007199254740993LL, true, 9007199254740992.0},
        {"9007199254740995", false, d0, true, 9007199254740995LL, true, 9007199254740996.0},
        {"-9007199254740993", false, d0, true, -9007199254740993LL, true, -9007199254740992.0},
        {"4.9e-324", false, d0, false, l0, true, 4.9e-324},  // the least subnormal
        {"1.7976931348623157e308", false, d0, false, l0, true, 1.7976931348623157e308},
        {"\"true\"", false, d0, false, l0, false, r0},
        {"\"5\"", false, d0, false, l0, false, r0},
        {"null", false, d0, false, l0, false, r0},
        {"[5]", false, d0, false, l0, false, r0},
    };
    for (const auto& c : cases) {
        Load(std::string("{\"v\":") + c.json + "}");
        const ReaderScalar<RTS_IEC_DINT> dint = reader_.getDint("/v", d0);
        EXPECT_EQ(c.dintOk ? 1 : 0, dint.ok) << c.json;
        EXPECT_EQ(c.dint, dint.value) << c.json;
        const ReaderScalar<RTS_IEC_LINT> lint = reader_.getLint("/v", l0);
        EXPECT_EQ(c.lintOk ? 1 : 0, lint.ok) << c.json;
        EXPECT_EQ(c.lint, lint.value) << c.json;
        const ReaderScalar<RTS_IEC_LREAL> lreal = reader_.getLreal("/v", r0);
        EXPECT_EQ(c.lrealOk ? 1 : 0, lreal.ok) << c.json;
        EXPECT_EQ(c.lreal, lreal.value) << c.json;
        EXPECT_EQ(std::signbit(c.lreal), std::signbit(lreal.value)) << c.json;
        const ReaderScalar<RTS_IEC_BOOL> flag = reader_.getBool("/v", 9);
        EXPECT_EQ(0, flag.ok) << c.json;
        EXPECT_EQ(9, flag.value) << c.json;
    }
    // Nothing found leaves the value too.
    EXPECT_EQ(0, reader_.getDint("/none", d0).ok);
    EXPECT_EQ(d0, reader_.getDint("/none", d0).value);
}

TEST_F(ReaderValuesTest, BooleansAreOnlyTrueAndFalse) {
    Load(R"({"t":true,"f":false,"one":1,"zero":0,"s":"true"})");
    const struct {
        const char* path;
        RTS_IEC_BOOL ok;
        RTS_IEC_BOOL value;
    } cases[] = {{"/t", 1, 1}, {"/f", 1, 0}, {"/one", 0, 9}, {"/zero", 0, 9}, {"/s", 0, 9}, {"/x", 0, 9}};
    for (const auto& c : cases) {
        const ReaderScalar<RTS_IEC_BOOL> got = reader_.getBool(c.path, 9);
        EXPECT_EQ(c.ok, got.ok) << c.path;
        EXPECT_EQ(c.value, got.value) << c.path;
    }
}

TEST_F(ReaderValuesTest, StringsFillTheBufferUpToACharacterBoundary) {
    // Expected buffers: the bytes, '\0' for the terminator, '#' for bytes left alone.
    // é: C3 A9; €: E2 82 AC; U+1F600: F0 9F 98 80.
    Load(R"({"ascii":"abcd","two":"a\u00e9","three":"a\u20ac","four":"a\ud83d\ude00",
             "zero":"ab\u0000cd","empty":"","n":5})");
    using std::string;
    const struct {
        const char* what;
        const char* path;
        RTS_IEC_UDINT nBuffer;
        RTS_IEC_BOOL ok;
        string buffer;
        RTS_IEC_UDINT length;
    } cases[] = {
        {"exact fit", "/ascii", 5, 1, string("abcd\0", 5), 4},
        {"one byte short", "/ascii", 4, 0, string("abc\0", 4), 4},
        {"room for the terminator only", "/ascii", 1, 0, string("\0", 1), 4},
        {"size query", "/ascii", 0, 0, "#", 4},
        {"two-byte character fits", "/two", 4, 1, string("a\xC3\xA9\0", 4), 3},
        {"cut inside a two-byte character", "/two", 3, 0, string("a\0#", 3), 3},
        {"three-byte character fits", "/three", 5, 1, string("a\xE2\x82\xAC\0", 5), 4},
        {"cut after the first of three bytes", "/three", 3, 0, string("a\0#", 3), 4},
        {"cut after the second of three bytes", "/three", 4, 0, string("a\0##", 4), 4},
        {"four-byte character fits", "/four", 6, 1, string("a\xF0\x9F\x98\x80\0", 6), 5},
        {"cut after one of four bytes", "/four", 3, 0, string("a\0#", 3), 5},
        {"cut after two of four bytes", "/four", 4, 0, string("a\0##", 4), 5},
        {"cut after three of four bytes", "/four", 5, 0, string("a\0###", 5), 5},
        {"cut before a character", "/four", 2, 0, string("a\0", 2), 5},
        {"a zero byte ends what is copied", "/zero", 10, 0, string("ab\0#######", 10), 5},
        {"a zero byte, buffer shorter", "/zero", 2, 0, string("a\0", 2), 5},
        {"empty string", "/empty", 1, 1, string("\0", 1), 0},
        {"empty string, size query", "/empty", 0, 0, "#", 0},
        {"not a string", "/n", 3, 0, string("\0##", 3), 0},
        {"nothing found", "/x", 3, 0, string("\0##", 3), 0},
        {"nothing found, size query", "/x", 0, 0, "#", 0},
    };
    for (const auto& c : cases) {
        const ReaderText got = reader_.getString(c.path, c.nBuffer);
        EXPECT_EQ(c.ok, got.ok) << c.what;
        EXPECT_EQ(c.buffer, got.buffer) << c.what;
        EXPECT_EQ(c.length, got.length) << c.what;
    }
    EXPECT_TRUE(logTexts().empty());
}

TEST_F(ReaderValuesTest, MemberNamesByIndex) {
    Load(R"({"first":1,"zweit\u00e9":2,"first":3,"a\u0000b":4,"o":{"x":{}},"arr":[{"y":0}]})");
    using std::string;
    const struct {
        const char* path;
        RTS_IEC_UDINT index;
        RTS_IEC_UDINT nBuffer;
        RTS_IEC_BOOL ok;
        string buffer;
        RTS_IEC_UDINT length;
    } cases[] = {
        {"", 0, 6, 1, string("first\0", 6), 5},
        {"", 1, 7, 0, string("zweit\0#", 7), 7},  // cut inside é
        {"", 1, 8, 1, string("zweit\xC3\xA9\0", 8), 7},
        {"", 2, 6, 1, string("first\0", 6), 5},  // duplicates are members of their own
        {"", 3, 4, 0, string("a\0##", 4), 3},
        {"", 5, 0, 0, "#", 3},
        {"", 6, 4, 0, string("\0###", 4), 0},  // beyond the last member
        {"/o", 0, 2, 1, string("x\0", 2), 1},
        {"/arr/0", 0, 2, 1, string("y\0", 2), 1},
        {"/arr", 0, 2, 0, string("\0#", 2), 0},  // an array has no names
        {"/first", 0, 2, 0, string("\0#", 2), 0},
    };
    for (const auto& c : cases) {
        const ReaderText got = reader_.getMemberName(c.path, c.index, c.nBuffer);
        EXPECT_EQ(c.ok, got.ok) << c.path << " #" << c.index << " in " << c.nBuffer;
        EXPECT_EQ(c.buffer, got.buffer) << c.path << " #" << c.index << " in " << c.nBuffer;
        EXPECT_EQ(c.length, got.length) << c.path << " #" << c.index << " in " << c.nBuffer;
    }
}

TEST_F(ReaderValuesTest, RawTextIsWholeOrNothing) {
    Load(
        R"({"a":[1,2.5,"x\u00e9\/",null,true,{"b":-0.0,"c":1E2}],"big":-1.7976931348623157e308,"esc":"\"\\\n\u0001"})");
    using std::string;
    const string a = R"([1,2.5,"x)"
                     "\xC3\xA9"
                     R"(/",null,true,{"b":-0.0,"c":100.0}])";
    EXPECT_EQ(a, reader_.raw("/a"));
    EXPECT_EQ("-1.7976931348623157e308", reader_.raw("/big"));
    EXPECT_EQ(R"("\"\\\n\u0001")", reader_.raw("/esc"));
    const RTS_IEC_UDINT n = static_cast<RTS_IEC_UDINT>(a.size());
    const struct {
        const char* what;
        RTS_IEC_UDINT nBuffer;
        RTS_IEC_BOOL ok;
        string buffer;
    } cases[] = {
        {"exact fit", n + 1, 1, a + string(1, '\0')},
        {"one byte short", n, 0, string(1, '\0') + string(n - 1, '#')},
        {"terminator only", 1, 0, string(1, '\0')},
        {"size query", 0, 0, "#"},
    };
    for (const auto& c : cases) {
        const ReaderText got = reader_.getRaw("/a", c.nBuffer);
        EXPECT_EQ(c.ok, got.ok) << c.what;
        EXPECT_EQ(c.buffer, got.buffer) << c.what;
        EXPECT_EQ(n, got.length) << c.what;
    }
    const ReaderText none = reader_.getRaw("/none", 3);
    EXPECT_EQ(0, none.ok);
    EXPECT_EQ(string("\0##", 3), none.buffer);
    EXPECT_EQ(0u, none.length);
    EXPECT_TRUE(logTexts().empty());
}

TEST_F(ReaderValuesTest, ANullBufferIsRefusedUnlessItsSizeIsZero) {
    Load(R"({"s":"abc","o":{"k":1}})");
    EXPECT_EQ(0, reader_.getString("/s", 4, true).ok);
    EXPECT_EQ(0, reader_.getMemberName("/o", 0, 4, true).ok);
    EXPECT_EQ(0, reader_.getRaw("/o", 8, true).ok);
    EXPECT_EQ(std::vector<std::string>(3, RefusalRecord("Invalid argument")), DescribedLog());
    CSimHost::instance().clearLog();
    // Size queries with a null buffer are fine.
    EXPECT_EQ(3u, reader_.getString("/s", 0, true).length);
    EXPECT_EQ(1u, reader_.getMemberName("/o", 0, 0, true).length);
    EXPECT_EQ(7u, reader_.getRaw("/o", 0, true).length);
    EXPECT_TRUE(DescribedLog().empty());
}

}  // namespace
