// The writer's format (SetFormat, GetFormat): a setting of the instance, taken only with
// known bits; the forms each value takes when it is added; PRETTY and SHORT_REALS when
// the text is read out.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "support/ComponentFixture.h"
#include "support/DatatypeSupport.h"
#include "support/WriterCalls.h"
#include "var/DomDriverMgr.h"

namespace {

class WriterFormat : public ComponentTest {};

const std::string kInvalid = RefusalRecord("Invalid argument");

}  // namespace

// Like the decimal places: usable before the first reset, kept across resets, back to 0
// when a host event clears the component. A value with any bit not listed is refused
// and the format stays.
TEST_F(WriterFormat, FormatBelongsToTheInstanceAndTakesOnlyKnownBits) {
    CWriterCalls a;
    CWriterCalls b;
    EXPECT_EQ(0u, a.format());
    EXPECT_EQ(1u, a.setFormat(ZENTRIK_FORMAT_READABLE));
    EXPECT_EQ(ZENTRIK_FORMAT_READABLE, a.format());
    a.reset();
    EXPECT_EQ(ZENTRIK_FORMAT_READABLE, a.format());
    EXPECT_EQ(0u, b.format());
    EXPECT_EQ(1u, b.setFormat(ZENTRIK_FORMAT_BITS));
    EXPECT_EQ(ZENTRIK_FORMAT_BITS, b.format());
    EXPECT_TRUE(DescribedLog().empty());

    size_t refused = 0;
    for (uint32_t bit = ZENTRIK_FORMAT_BITS + 1; bit != 0; bit <<= 1) {
        for (uint32_t with : {0u, ZENTRIK_FORMAT_READABLE}) {
            EXPECT_EQ(0u, a.setFormat(bit | with)) << bit;
            EXPECT_EQ(ZENTRIK_FORMAT_READABLE, a.format()) << bit;
            ++refused;
        }
    }
    EXPECT_EQ(0u, a.setFormat(0xFFFFFFFFu));
    EXPECT_EQ(std::vector<std::string>(refused + 1, kInvalid), DescribedLog());
    EXPECT_EQ(1u, a.setFormat(0));
    EXPECT_EQ(0u, a.format());

    CDomDriverMgr::instance()->clear();  // host events drop the format with the document
    EXPECT_EQ(0u, b.format());
    EXPECT_EQ(0u, b.length());  // and setting it gave no document
}

// Each value takes the forms of the format in force when it is added; the writer's own
// BOOL, LINT, REAL and DATE_AND_TIME methods follow their bits, the others never change.
TEST_F(WriterFormat, EachValueTakesTheFormatInForceWhenItIsAdded) {
    const struct {
        bool keyed;                              // a key-value call, else a value for the pending key
        std::function<void(CWriterCalls&)> add;  // adds the member "v"
        const char* plain;                       // in format 0
        const char* formatted;                   // with every bit but PRETTY
    } cases[] = {
        {false, [](CWriterCalls& w) { w.addBool(1); }, "1", "true"},
        {false, [](CWriterCalls& w) { w.addBool(0); }, "0", "false"},
        {true, [](CWriterCalls& w) { w.addKeyBool("v", 1); }, "1", "true"},
        {false, [](CWriterCalls& w) { w.addLint(-9007199254740993LL); }, "-9007199254740993",
         "\"-9007199254740993\""},
        {false, [](CWriterCalls& w) { w.addReal(0.1f); }, "0.10000000149011612", "0.1"},
        {false, [](CWriterCalls& w) { w.addDateTime(2208988800u); }, "2208988800",
         "\"2040-01-01T00:00:00Z\""},
        {true, [](CWriterCalls& w) { w.addKeyDateTime("v", 0); }, "0", "\"1970-01-01T00:00:00Z\""},
        {false, [](CWriterCalls& w) { w.addDint(-7); }, "-7", "-7"},
        {false, [](CWriterCalls& w) { w.addUdint(4294967295u); }, "4294967295", "4294967295"},
        {false, [](CWriterCalls& w) { w.addLreal(0.1); }, "0.1", "0.1"},
        {true, [](CWriterCalls& w) { w.addKeyNumber("v", 12); }, "12", "12"},
        {false, [](CWriterCalls& w) { w.addString("07:35:00"); }, "\"07:35:00\"", "\"07:35:00\""},
    };
    for (const auto& c : cases) {
        CWriterCalls writer;
        writer.reset();
        for (uint32_t format : {0u, ZENTRIK_FORMAT_BITS & ~ZENTRIK_FORMAT_PRETTY}) {
            ASSERT_EQ(1u, writer.setFormat(format));
            if (!c.keyed) {
                writer.addKey("v");
            }
            c.add(writer);
        }
        const std::string text = writer.text();
        EXPECT_EQ("{\"v\":" + std::string(c.plain) + ",\"v\":" + c.formatted + "}", text);
        // A later format changes no value added before it.
        ASSERT_EQ(1u, writer.setFormat(0));
        EXPECT_EQ(text, writer.text());
    }
    EXPECT_TRUE(DescribedLog().empty());
}

// A variable added by the datatype block takes the format of the writer that receives it.
TEST_F(WriterFormat, VariablesTakeTheFormatOfTheirWriter) {
    struct {
        int16_t mode;    // ENUM
        uint8_t bits;    // BYTE
        int64_t ticks;   // LTIME
        uint32_t stamp;  // DATE_AND_TIME
    } v{2, 0xFF, 1500000000, 1796715300u};
    Publish(MakeVar(
        TYPE3_USERDEF, sizeof(v), &v, "v",
        {MakeVar(TYPE3_ENUM, 2, &v.mode, "mode"), MakeVar(TYPE3_BYTE, 1, &v.bits, "bits"),
         MakeVar(TYPE3_LTIME, 8, &v.ticks, "ticks"), MakeVar(TYPE3_DATEANDTIME, 4, &v.stamp, "stamp")}));
    const struct {
        uint32_t format;
        const char* text;
    } cases[] = {
        {0, R"({"v":{"mode":null,"bits":-1,"ticks":null,"stamp":1796715300}})"},
        {ZENTRIK_FORMAT_READABLE,
         R"({"v":{"mode":2,"bits":255,"ticks":"PT1.5S","stamp":"2026-12-08T07:35:00Z"}})"},
        {ZENTRIK_FORMAT_NUMERIC_ENUMS | ZENTRIK_FORMAT_LONG_TIMES | ZENTRIK_FORMAT_INT64_STRINGS,
         R"({"v":{"mode":2,"bits":-1,"ticks":"1500000000","stamp":1796715300}})"},
    };
    for (const auto& c : cases) {
        CWriterCalls writer;
        writer.reset();
        ASSERT_EQ(1u, writer.setFormat(c.format));
        ASSERT_EQ(1, CallAddFromSymbol(writer.instance(), "v", &v));
        EXPECT_EQ(c.text, writer.text()) << c.format;
    }
}

// PRETTY: two spaces per level, one member or element per line, "key": value, empty
// containers as {} and []; applied when the text is read out, to everything added.
TEST_F(WriterFormat, PrettyAppliesWhenTheTextIsReadOut) {
    CWriterCalls writer;
    writer.reset();
    writer.addKeyNumber("n", 1);
    writer.addKey("list");
    writer.startArray();
    writer.addDint(2);
    writer.startObject();
    writer.endObject();
    writer.startArray();
    writer.endArray();
    writer.addString("x");
    writer.endArray();
    writer.addKey("o");
    writer.startObject();
    writer.addKeyBool("b", 1);
    const std::string compact = R"({"n":1,"list":[2,{},[],"x"],"o":{"b":1}})";
    EXPECT_EQ(compact, writer.text());
    ASSERT_EQ(1u, writer.setFormat(ZENTRIK_FORMAT_PRETTY));
    const std::string pretty =
        "{\n"
        "  \"n\": 1,\n"
        "  \"list\": [\n"
        "    2,\n"
        "    {},\n"
        "    [],\n"
        "    \"x\"\n"
        "  ],\n"
        "  \"o\": {\n"
        "    \"b\": 1\n"
        "  }\n"
        "}";
    EXPECT_EQ(pretty, writer.text());
    EXPECT_EQ(pretty.size(), writer.length());
    ASSERT_EQ(1u, writer.setFormat(0));
    EXPECT_EQ(compact, writer.text());
    writer.reset();
    ASSERT_EQ(1u, writer.setFormat(ZENTRIK_FORMAT_PRETTY));
    EXPECT_EQ("{}", writer.text());
}

// With SHORT_REALS every number is written from its shortest decimal and the decimal
// places round that decimal, halves away from zero; without it they round the double's
// exact value.
TEST_F(WriterFormat, DecimalPlacesRoundTheShortestDecimal) {
    const struct {
        uint32_t format;
        int places;
        std::function<void(CWriterCalls&)> add;
        const char* written;
    } cases[] = {
        {ZENTRIK_FORMAT_SHORT_REALS, 2, [](CWriterCalls& w) { w.addReal(0.345f); }, "0.35"},
        {0, 2, [](CWriterCalls& w) { w.addReal(0.345f); }, "0.34"},  // the single lies below 0.345
        {ZENTRIK_FORMAT_SHORT_REALS, 2, [](CWriterCalls& w) { w.addLreal(1.005); }, "1.01"},
        {0, 2, [](CWriterCalls& w) { w.addLreal(1.005); }, "1.0"},
        {ZENTRIK_FORMAT_SHORT_REALS, 2, [](CWriterCalls& w) { w.addLreal(9.995); }, "10.0"},
        {ZENTRIK_FORMAT_SHORT_REALS, 0, [](CWriterCalls& w) { w.addReal(-2.5f); }, "-3.0"},
        {ZENTRIK_FORMAT_SHORT_REALS, 1, [](CWriterCalls& w) { w.addReal(0.04f); }, "0.0"},
        {ZENTRIK_FORMAT_SHORT_REALS, 1, [](CWriterCalls& w) { w.addReal(-0.05f); }, "-0.1"},
        {ZENTRIK_FORMAT_SHORT_REALS, 3, [](CWriterCalls& w) { w.addLreal(1e21); }, "1e21"},
        // RapidJSON's digits for this double are not the shortest; SHORT_REALS writes the shortest.
        {0, 324, [](CWriterCalls& w) { w.addLreal(0.12517789); }, "0.12517789000000002"},
        {ZENTRIK_FORMAT_SHORT_REALS, 324, [](CWriterCalls& w) { w.addLreal(0.12517789); }, "0.12517789"},
        {ZENTRIK_FORMAT_SHORT_REALS, 324, [](CWriterCalls& w) { w.addReal(0.12517789f); }, "0.12517789"},
        {0, 324, [](CWriterCalls& w) { w.addLreal(16777216.0); }, "16777216.0"},
        {ZENTRIK_FORMAT_SHORT_REALS, 324, [](CWriterCalls& w) { w.addLreal(1e-7); }, "1e-7"},
    };
    for (const auto& c : cases) {
        CWriterCalls writer;
        ASSERT_EQ(1u, writer.setFormat(c.format));
        ASSERT_EQ(1u, writer.setMaxDecimalPlaces(c.places));
        writer.reset();
        writer.addKey("v");
        c.add(writer);
        EXPECT_EQ(std::string("{\"v\":") + c.written + "}", writer.text())
            << c.format << ", " << c.places << " places";
    }
}

namespace {

// Whether `text` reads back as exactly `value` (the sign of zero included).
bool ReadsBackAs(const std::string& text, float value) {
    const float back = std::strtof(text.c_str(), nullptr);
    return std::memcmp(&back, &value, sizeof(value)) == 0;
}

// The fewest significant digits with which printf's nearest decimal reads back as value.
int FewestDigitsThatReadBack(float value) {
    for (int digits = 1; digits < 9; ++digits) {
        char text[48];
        std::snprintf(text, sizeof(text), "%.*e", digits - 1, static_cast<double>(value));
        if (ReadsBackAs(text, value)) {
            return digits;
        }
    }
    return 9;
}

// The significant digits of a number text: no sign, point, exponent or leading and
// trailing zeros.
int SignificantDigits(const std::string& text) {
    std::string digits;
    for (const char c : text.substr(0, text.find('e'))) {
        if (c >= '0' && c <= '9') {
            digits += c;
        }
    }
    const size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) {
        return 1;
    }
    return static_cast<int>(digits.find_last_not_of('0') - first + 1);
}

}  // namespace

// SHORT_REALS writes a REAL, from AddReal and from a REAL leaf alike, in the shortest
// digits that read back as the same single, in the layout of every double.
TEST_F(WriterFormat, ShortRealsAreTheShortestDigitsThatReadBack) {
    const struct {
        float value;
        const char* text;
    } cases[] = {
        {512924647424.0f, "512924650000.0"},  // 5.1292465e11: 8 digits, not the 12 of the single's value
        {123456792.0f, "123456790.0"},
        {16777216.0f, "16777216.0"},
        {8388609.0f, "8388609.0"},
        {0.1f, "0.1"},
        {0.33f, "0.33"},
        {1.25f, "1.25"},
        {3.125f, "3.125"},
        {123.456f, "123.456"},
        {1234567.9f, "1234567.9"},
        {0.099999994f, "0.099999994"},
        {10.0892105f, "10.0892105"},
        {3.14159265f, "3.1415927"},
        {1.00000012f, "1.0000001"},
        {1e10f, "10000000000.0"},
        {1e20f, "100000000000000000000.0"},
        {1e21f, "1e21"},
        {7e22f, "7e22"},
        {1e-10f, "1e-10"},
        {2.5e-7f, "2.5e-7"},
        {9.999999e-5f, "0.00009999999"},
        {FLT_MAX, "3.4028235e38"},
        {-FLT_MAX, "-3.4028235e38"},
        {FLT_MIN, "1.1754944e-38"},
        {1.17549421e-38f, "1.1754942e-38"},  // the largest subnormal
        {4.2e-39f, "4.2e-39"},
        {std::numeric_limits<float>::denorm_min(), "1e-45"},
        {-0.0f, "-0.0"},
        {0.0f, "0.0"},
    };
    float leaf = 0;
    Publish(MakeVar(TYPE3_REAL, sizeof(leaf), &leaf, "leaf"));
    std::vector<float> values;
    for (const auto& c : cases) {
        values.push_back(c.value);
    }
    for (int exponent = -45; exponent <= 38; ++exponent) {
        values.push_back(std::strtof(("1e" + std::to_string(exponent)).c_str(), nullptr));
    }
    for (size_t i = 0; i < values.size(); ++i) {
        const float value = values[i];
        CWriterCalls writer;
        ASSERT_EQ(1u, writer.setFormat(ZENTRIK_FORMAT_SHORT_REALS));
        writer.reset();
        writer.addKey("v");
        writer.addReal(value);
        leaf = value;
        ASSERT_EQ(1, CallAddFromSymbol(writer.instance(), "v", &leaf));
        const std::string document = writer.text();
        const size_t colon = document.find(':');
        const std::string text = document.substr(colon + 1, document.find(',') - colon - 1);
        EXPECT_EQ("{\"v\":" + text + ",\"v\":" + text + "}", document) << "the leaf and AddReal differ";
        if (i < sizeof(cases) / sizeof(cases[0])) {
            EXPECT_EQ(cases[i].text, text);
        }
        EXPECT_TRUE(ReadsBackAs(text, value)) << text;
        EXPECT_EQ(FewestDigitsThatReadBack(value), SignificantDigits(text)) << text;
        EXPECT_NE(std::string::npos, text.find_first_of(".e")) << text;
    }
}
