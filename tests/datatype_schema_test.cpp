// The JSON Schema of a variable (AddJsonSchemaFromSymbol), checked by RapidJSON's own
// validator: the text AddJsonKeyValueFromSymbol writes of the variable in the writer's
// format validates, whatever the variable holds; texts broken in each way a consumer
// must catch do not; and the schema uses only the keywords whose meaning draft 4 and
// draft 2020-12 share.
#include <rapidjson/document.h>
#include <rapidjson/schema.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cfloat>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/DatatypeSupport.h"
#include "support/RuntimeFixture.h"

namespace {

class SchemaTest : public RuntimeTest {};

// A variable of every class, and arrays and structures of them.
const char* const kApplication = R"(
    TYPE E_Mode : (OFF, ON := 5); END_TYPE
    TYPE ST_P : STRUCT x : INT; on : BOOL; s : STRING(3); END_STRUCT END_TYPE
    VAR_GLOBAL
        b : BOOL; by : BYTE; w : WORD; dw : DWORD; lw : LWORD;
        si : SINT; i : INT; di : DINT; li : LINT; usi : USINT; ui : UINT; udi : UDINT; uli : ULINT;
        r : REAL; lr : LREAL; s : STRING(3); ws : WSTRING(2);
        t : TIME; lt : LTIME; d : DATE; ld : LDATE; stamp : DT; lstamp : LDT; clock : TOD; lclock : LTOD;
        e : E_Mode; sub : INT(-10..10);
        list : ARRAY[1..3] OF INT;
        grid : ARRAY[0..1, 0..2] OF SINT;
        cube : ARRAY[1..2, 0..1, -1..1] OF LTIME;
        rows : ARRAY[0..1] OF ARRAY[0..1] OF BOOL;
        p : ST_P;
        ps : ARRAY[0..1] OF ST_P;
    END_VAR
)";

const char* const kVariables[] = {"b",    "by",   "w",    "dw",    "lw",     "si",    "i",      "di", "li",
                                  "usi",  "ui",   "udi",  "uli",   "r",      "lr",    "s",      "ws", "t",
                                  "lt",   "d",    "ld",   "stamp", "lstamp", "clock", "lclock", "e",  "sub",
                                  "list", "grid", "cube", "rows",  "p",      "ps"};

constexpr uint32_t kNumericEnums = ZENTRIK_FORMAT_NUMERIC_ENUMS;
constexpr uint32_t kLongTimes = ZENTRIK_FORMAT_LONG_TIMES;
constexpr uint32_t kIso = ZENTRIK_FORMAT_ISO_8601;
constexpr uint32_t kInt64Strings = ZENTRIK_FORMAT_INT64_STRINGS;
constexpr uint32_t kNested = ZENTRIK_FORMAT_NESTED_ARRAYS;
constexpr uint32_t kUnsignedBits = ZENTRIK_FORMAT_UNSIGNED_BITS;
constexpr uint32_t kReadable = ZENTRIK_FORMAT_READABLE;

const uint32_t kFormats[] = {0,
                             kReadable,
                             kReadable | kInt64Strings,
                             ZENTRIK_FORMAT_BITS,
                             kNumericEnums | kLongTimes | kInt64Strings,
                             kLongTimes | kIso};

// What a leaf is filled with: every byte 0, 0x7F or 0xFF (REAL: +FLT_MAX, -FLT_MAX and
// NaN), or random bits (times of day within the day).
enum class EFill { kZero, kHigh, kOnes, kRandom };

// Fills every leaf below node; strings take as many characters as they hold: STRING 'x',
// WSTRING 'é' (two bytes in UTF-8, one unit).
void Fill(const SeenNode& seen, EFill fill, std::mt19937_64& random) {
    for (const SeenNode& child : seen.children) {
        Fill(child, fill, random);
    }
    if (!seen.children.empty()) {
        return;
    }
    struct {
        TypeClass3 varType_;
        uint32_t size_;
        void* var_addr_;
    } node{seen.type, seen.size, seen.address};
    unsigned char* memory = static_cast<unsigned char*>(node.var_addr_);
    const int byte = fill == EFill::kZero ? 0x00 : fill == EFill::kHigh ? 0x7F : 0xFF;
    std::memset(memory, byte, node.size_);
    if (fill == EFill::kRandom) {
        for (uint32_t i = 0; i < node.size_; ++i) {
            memory[i] = static_cast<unsigned char>(random());
        }
    }
    if (node.varType_ == TYPE3_STRING) {
        std::memset(memory, fill == EFill::kZero ? 0 : 'x', node.size_ - 1);
        memory[node.size_ - 1] = 0;
    } else if (node.varType_ == TYPE3_WSTRING) {
        for (uint32_t unit = 0; unit + 1 < node.size_ / 2; ++unit) {
            memory[2 * unit] = fill == EFill::kZero ? 0 : 0xE9;
            memory[2 * unit + 1] = 0;
        }
        memory[node.size_ - 2] = memory[node.size_ - 1] = 0;
    } else if (node.varType_ == TYPE3_REAL && fill != EFill::kRandom && fill != EFill::kZero) {
        const float value = fill == EFill::kHigh ? FLT_MAX : -FLT_MAX;
        std::memcpy(memory, &value, sizeof(value));
    } else if (fill == EFill::kRandom &&
               (node.varType_ == TYPE3_TIMEOFDAY || node.varType_ == TYPE3_LTIMEOFDAY)) {
        const uint64_t day = node.varType_ == TYPE3_TIMEOFDAY ? 86400000ull : 86400000000000ull;
        const uint64_t value = random() % day;
        std::memcpy(memory, &value, node.size_);
    }
}

// The keywords a schema may use: each means the same in draft 4 and draft 2020-12.
const std::set<std::string> kKeywords = {"type",    "properties", "required", "additionalProperties",
                                         "items",   "minItems",   "maxItems", "minimum",
                                         "maximum", "maxLength",  "pattern",  "enum",
                                         "format",  "description"};

// The first keyword of schema outside kKeywords (or a required list that draft 4 does
// not take), with its path; "" when there is none.
std::string ForeignKeyword(const rapidjson::Value& schema, const std::string& path) {
    for (const auto& member : schema.GetObject()) {
        const std::string name = member.name.GetString();
        if (kKeywords.count(name) == 0) {
            return path + "/" + name;
        }
        if (name == "required" && member.value.Empty()) {
            return path + "/required (empty)";
        }
        if (name == "items") {
            const std::string inner = ForeignKeyword(member.value, path + "/items");
            if (!inner.empty()) {
                return inner;
            }
        }
        if (name == "properties") {
            for (const auto& property : member.value.GetObject()) {
                const std::string inner =
                    ForeignKeyword(property.value, path + "/" + property.name.GetString());
                if (!inner.empty()) {
                    return inner;
                }
            }
        }
    }
    return std::string();
}

std::string Compact(const rapidjson::Value& value) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value.Accept(writer);
    return buffer.GetString();
}

// The member "v" of a writer's text.
rapidjson::Document MemberV(const std::string& text) {
    rapidjson::Document document;
    document.Parse(text.c_str());
    EXPECT_FALSE(document.HasParseError()) << text;
    rapidjson::Document member;
    if (!document.HasParseError() && document.HasMember("v")) {
        member.CopyFrom(document["v"], member.GetAllocator());
    }
    return member;
}

// The schema or the value of the variable named, as a writer in format writes it.
rapidjson::Document Added(const std::string& name, uint32_t format, bool schema) {
    CWriterCalls writer;
    EXPECT_EQ(1u, writer.setFormat(format));
    EXPECT_EQ(1u, writer.reset());
    void* address = CSimApplication::instance().address("App.Globals." + name);
    EXPECT_EQ(1, schema ? CallAddSchemaFromSymbol(writer.instance(), "v", address)
                        : CallAddFromSymbol(writer.instance(), "v", address));
    return MemberV(writer.text());
}

// Whether value validates against schema; why not in why.
bool Validates(const rapidjson::Document& schema, const rapidjson::Value& value, std::string& why) {
    rapidjson::SchemaDocument compiled(schema);
    rapidjson::SchemaValidator validator(compiled);
    if (value.Accept(validator)) {
        return true;
    }
    rapidjson::StringBuffer where;
    validator.GetInvalidDocumentPointer().StringifyUriFragment(where);
    why = std::string(validator.GetInvalidSchemaKeyword()) + " at " + where.GetString();
    return false;
}

}  // namespace

// Every variable's own text, with its leaves at zero, at their highest and lowest bit
// patterns and at random, validates against the variable's schema in each format; each
// schema keeps to the shared keywords.
TEST_P(SchemaTest, OwnTextValidatesInEveryFormat) {
    app().start(kApplication);
    loadSymbols();
    host().clearLog();
    std::mt19937_64 random(19);
    for (const char* name : kVariables) {
        const std::unique_ptr<SeenNode> node = indexed(std::string("App.Globals.") + name);
        ASSERT_NE(nullptr, node) << name;
        for (const uint32_t format : kFormats) {
            SCOPED_TRACE(std::string(name) + " in format " + std::to_string(format));
            const rapidjson::Document schema = Added(name, format, true);
            ASSERT_TRUE(schema.IsObject());
            EXPECT_EQ("", ForeignKeyword(schema, "")) << Compact(schema);
            for (const EFill fill :
                 {EFill::kZero, EFill::kHigh, EFill::kOnes, EFill::kRandom, EFill::kRandom, EFill::kRandom}) {
                Fill(*node, fill, random);
                const rapidjson::Document value = Added(name, format, false);
                std::string why;
                EXPECT_TRUE(Validates(schema, value, why))
                    << Compact(value) << " against " << Compact(schema) << ": " << why;
            }
        }
    }
    const std::vector<std::string> log = DescribedLog();
    EXPECT_TRUE(log.empty()) << log.front();
}

// Texts broken in each way a consumer must catch, beside the valid texts at the edges:
// a member missing or unknown, another element count or shape, another JSON kind, an
// integer beyond its class, a string longer than the variable holds, an ISO 8601 text
// in another form or with a field out of range, a value where null is written.
TEST_P(SchemaTest, BrokenTextsDoNotValidate) {
    const struct {
        const char* name;
        uint32_t format;
        const char* text;  // the value of "v"
        bool valid;
    } cases[] = {
        // structures
        {"p", 0, R"({"x":1,"on":true,"s":"ab"})", true},
        {"p", 0, R"({"x":1,"on":true})", false},
        {"p", 0, R"({"x":1,"on":true,"s":"ab","y":2})", false},
        {"p", 0, R"([1,true,"ab"])", false},
        {"ps", 0, R"([{"x":1,"on":true,"s":""},{"x":2,"on":false,"s":""}])", true},
        {"ps", 0, R"([{"x":1,"on":true,"s":""},{"x":2,"on":false}])", false},
        // arrays
        {"list", 0, "[1,2,3]", true},
        {"list", 0, "[1,2]", false},
        {"list", 0, "[1,2,3,4]", false},
        {"list", 0, "[1,2,true]", false},
        {"grid", 0, "[1,2,3,4,5,6]", true},
        {"grid", 0, "[[1,2,3],[4,5,6]]", false},
        {"grid", kNested, "[[1,2,3],[4,5,6]]", true},
        {"grid", kNested, "[1,2,3,4,5,6]", false},
        {"grid", kNested, "[[1,2],[3,4],[5,6]]", false},
        {"grid", kNested, "[[1,2,3],[4,5,128]]", false},
        {"cube", kNested | kLongTimes, "[[[1,2,3],[4,5,6]],[[7,8,9],[10,11,12]]]", true},
        {"cube", kNested | kLongTimes, "[[[1,2,3],[4,5,6]],[[7,8,9],[10,11]]]", false},
        {"rows", kNested, "[[true,false],[false,true]]", true},
        {"rows", 0, "[true,false,false,true]", false},
        // kinds
        {"b", 0, "true", true},
        {"b", 0, "1", false},
        {"i", 0, "\"1\"", false},
        {"i", 0, "1.5", false},
        {"s", 0, "5", false},
        {"r", 0, "\"1.5\"", false},
        {"r", 0, "null", true},
        {"lr", 0, "1e300", true},
        // integer ranges by class and format
        {"i", 0, "32767", true},
        {"i", 0, "32768", false},
        {"i", 0, "-32769", false},
        {"usi", 0, "255", true},
        {"usi", 0, "-1", false},
        {"sub", kNumericEnums, "-32768", true},
        {"by", 0, "-128", true},
        {"by", 0, "255", false},
        {"by", kUnsignedBits, "255", true},
        {"by", kUnsignedBits, "-1", false},
        {"dw", kUnsignedBits, "4294967295", true},
        {"udi", 0, "4294967296", false},
        {"li", 0, "9223372036854775807", true},
        {"uli", 0, "18446744073709551615", true},
        {"uli", 0, "-1", false},
        {"stamp", 0, "4294967295", true},
        {"stamp", 0, "-1", false},
        {"t", 0, "-2147483648", true},
        {"t", 0, "2147483648", false},
        // 64-bit integers as strings
        {"li", kInt64Strings, "\"-9223372036854775808\"", true},
        {"li", kInt64Strings, "\"9223372036854775807\"", true},
        {"li", kInt64Strings, "\"0\"", true},
        {"li", kInt64Strings, "\"-9223372036854775809\"", false},
        {"li", kInt64Strings, "\"9223372036854775808\"", false},
        {"li", kInt64Strings, "\"9300000000000000000\"", false},
        {"li", kInt64Strings, "\"007\"", false},
        {"li", kInt64Strings, "\"-0\"", false},
        {"li", kInt64Strings, "\"1e3\"", false},
        {"li", kInt64Strings, "7", false},
        {"uli", kInt64Strings, "\"18446744073709551615\"", true},
        {"uli", kInt64Strings, "\"18446744073709551616\"", false},
        {"uli", kInt64Strings, "\"99999999999999999999\"", false},
        {"uli", kInt64Strings, "\"-1\"", false},
        {"lw", kInt64Strings | kUnsignedBits, "\"18446744073709551615\"", true},
        {"lw", kInt64Strings, "\"18446744073709551615\"", false},
        {"lt", kLongTimes | kInt64Strings, "\"-5\"", true},
        {"lt", kLongTimes | kInt64Strings, "5", false},
        // strings: at most the characters the variable holds
        {"s", 0, "\"abc\"", true},
        {"s", 0, "\"abcd\"", false},
        {"ws", 0, "\"\xC3\xA9\xC3\xA9\"", true},
        {"ws", 0, "\"\xC3\xA9\xC3\xA9\xC3\xA9\"", false},
        // REAL: a single's range
        {"r", 0, "3.4028234663852886e38", true},
        {"r", 0, "-3.5e38", false},
        {"r", ZENTRIK_FORMAT_SHORT_REALS, "3.4028235e38", true},
        // ISO 8601 forms as written
        {"t", kIso, "\"PT1H2M3.004S\"", true},
        {"t", kIso, "\"-PT5S\"", true},
        {"t", kIso, "\"PT0S\"", true},
        {"t", kIso, "\"PT25H\"", true},
        {"t", kIso, "\"PT1.500S\"", false},
        {"t", kIso, "\"PT60S\"", false},
        {"t", kIso, "\"PT0H5S\"", false},
        {"t", kIso, "\"P1D\"", false},
        {"t", kIso, "\"PT0.0001S\"", false},
        {"t", kIso, "1000", false},
        {"lt", kLongTimes | kIso, "\"PT0.000000001S\"", true},
        {"lt", kLongTimes | kIso, "\"PT0.0000000001S\"", false},
        {"d", kIso, "\"2026-12-08\"", true},
        {"d", kIso, "\"2026-12-08T07:35:00Z\"", true},
        {"d", kIso, "\"2026-13-08\"", false},
        {"d", kIso, "\"2026-12-08T07:35:00\"", false},
        {"stamp", kIso, "\"2106-02-07T06:28:15Z\"", true},
        {"stamp", kIso, "\"2026-12-08\"", false},
        {"stamp", kIso, "\"2026-12-08T07:35:00.5Z\"", false},
        {"stamp", kIso, "\"2026-12-08T07:35:00+01:00\"", false},
        {"stamp", kIso, "\"2026-12-32T07:35:00Z\"", false},
        {"clock", kIso, "\"07:35:00.25\"", true},
        {"clock", kIso, "\"24:00:00\"", false},
        {"clock", kIso, "\"7:35:00\"", false},
        {"clock", kIso, "86400000", true},
        {"clock", kIso, "1000", false},
        {"lclock", kLongTimes | kIso, "\"23:59:59.999999999\"", true},
        {"lclock", kLongTimes | kIso, "\"23:60:00\"", false},
        {"lclock", kLongTimes | kIso | kInt64Strings, "\"-1\"", true},
        {"lstamp", kLongTimes | kIso, "\"2262-04-11T23:47:16.854775807Z\"", true},
        {"lstamp", kLongTimes | kIso, "\"2262-04-11T23:47:16.8547758070Z\"", false},
        {"ld", kLongTimes | kIso, "\"1677-09-21\"", true},
        // leaves written as null take only null
        {"e", 0, "null", true},
        {"e", 0, "0", false},
        {"lt", 0, "null", true},
        {"lt", 0, "\"PT1S\"", false},
        {"e", kNumericEnums, "5", true},
        {"e", kNumericEnums, "null", false},
        {"e", kNumericEnums, "32768", false},
    };
    app().start(kApplication);
    loadSymbols();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " in format " + std::to_string(c.format) + ": " + c.text);
        const rapidjson::Document schema = Added(c.name, c.format, true);
        rapidjson::Document value;
        value.Parse(c.text);
        ASSERT_FALSE(value.HasParseError());
        std::string why;
        EXPECT_EQ(c.valid, Validates(schema, value, why)) << Compact(schema) << ": " << why;
    }
}

ZENTRIK_UNDER_EVERY_RUNTIME(SchemaTest);
