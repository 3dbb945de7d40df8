// Every text the component writes, held against a recorded corpus: writer documents of
// every value method, variables of every class in every format, compact and indented,
// at several decimal places, schemas, and the reader's raw texts of parsed documents.
// The corpus (tests/data/output_corpus.txt) holds the bytes as the component wrote them
// when it was recorded; a change of any text shows here as the case that changed.
//
// ZENTRIK_RECORD_OUTPUT_CORPUS=1 writes the corpus afresh from the build under test
// instead of comparing; a recorded change must be one that was meant.
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/ApplicationFixture.h"
#include "support/DatatypeSupport.h"
#include "support/ReaderCalls.h"
#include "support/WriterCalls.h"

namespace {

const std::string kCorpusPath = std::string(ZENTRIK_SOURCE_DIR) + "/tests/data/output_corpus.txt";

const char* const kApplication = R"(
    TYPE E_Mode : (OFF, ON := 5); END_TYPE
    TYPE ST_P : STRUCT x : INT; on : BOOL; s : STRING(12); r : REAL; END_STRUCT END_TYPE
    TYPE ST_Deep : STRUCT p : ST_P; list : ARRAY[0..1] OF ST_P; empty : ARRAY[0..0] OF INT; END_STRUCT END_TYPE
    VAR_GLOBAL
        b : BOOL; by : BYTE; w : WORD; dw : DWORD; lw : LWORD;
        si : SINT; i : INT; di : DINT; li : LINT; usi : USINT; ui : UINT; udi : UDINT; uli : ULINT;
        e : E_Mode; sub : INT(-10..10);
        reals : ARRAY[0..21] OF REAL;
        lreals : ARRAY[0..25] OF LREAL;
        times : ARRAY[0..7] OF TIME;
        ltimes : ARRAY[0..6] OF LTIME;
        clocks : ARRAY[0..3] OF TOD;
        lclocks : ARRAY[0..2] OF LTOD;
        dates : ARRAY[0..3] OF DATE;
        ldates : ARRAY[0..2] OF LDATE;
        stamps : ARRAY[0..4] OF DT;
        lstamps : ARRAY[0..6] OF LDT;
        texts : ARRAY[0..7] OF STRING(24);
        wtexts : ARRAY[0..2] OF WSTRING(6);
        grid : ARRAY[0..1, 0..2] OF SINT;
        cube : ARRAY[1..2, 0..1, -1..1] OF INT;
        rows : ARRAY[0..1] OF ARRAY[0..1] OF BOOL;
        deep : ST_Deep;
    END_VAR
)";

const char* const kVariables[] = {"b",     "by",     "w",      "dw",      "lw",     "si",     "i",
                                  "di",    "li",     "usi",    "ui",      "udi",    "uli",    "e",
                                  "sub",   "reals",  "lreals", "times",   "ltimes", "clocks", "lclocks",
                                  "dates", "ldates", "stamps", "lstamps", "texts",  "wtexts", "grid",
                                  "cube",  "rows",   "deep"};

const float kReals[] = {0.1f,
                        -0.0f,
                        0.33f,
                        512924647424.0f,
                        123456792.0f,
                        16777216.0f,
                        FLT_MAX,
                        -FLT_MAX,
                        FLT_MIN,
                        std::numeric_limits<float>::denorm_min(),
                        1e-7f,
                        1.005f,
                        0.345f,
                        2.5e-7f,
                        3.14159265f,
                        1e10f,
                        7e22f,
                        -1.5f,
                        std::numeric_limits<float>::quiet_NaN(),
                        std::numeric_limits<float>::infinity(),
                        100.0f,
                        0.0f};

const double kLreals[] = {0.1,
                          -0.0,
                          1e21,
                          1e20,
                          1e22,
                          1e-7,
                          1e-6,
                          0.000001234,
                          5e-324,
                          DBL_MAX,
                          -DBL_MIN,
                          0.12517789,
                          1.005,
                          0.345,
                          2.5e-7,
                          0.129,
                          -2.5,
                          9007199254740993.0,
                          123456.789,
                          1e300,
                          1e-300,
                          std::numeric_limits<double>::quiet_NaN(),
                          -std::numeric_limits<double>::infinity(),
                          0.5,
                          1234567890123.0625,
                          0.0};

const int32_t kTimes[] = {0, 1500, 3723004, -5000, 90000000, INT32_MIN, INT32_MAX, 1};
const int64_t kLtimes[] = {0, 1500000000, -1, INT64_MIN, INT64_MAX, 90061001002003, 60000000000};
const uint32_t kClocks[] = {0, 27300250, 86399999, 86400000};
const int64_t kLclocks[] = {27300250000001, 86399999999999, 86400000000000};
const uint32_t kDates[] = {0, 1796688000, 951782400, 4294944000u};
const int64_t kLdates[] = {1796688000000000000, 1796688000000000001, -86400000000000};
const uint32_t kStamps[] = {0, 1796715300, 4294967295u, 951825600, 2208988800u};
const int64_t kLstamps[] = {1796715300500000000, INT64_MIN, INT64_MAX,         -1,
                            951782400000000000,  0,         -62135596800000000};
// Quotes, backslashes, control characters, a slash, valid UTF-8, bytes that are no UTF-8
// (Windows-1252 characters and the five it leaves undefined), a lone continuation byte,
// a truncated sequence, an overlong form and an encoded surrogate.
const char* const kTexts[] = {"plain",
                              "q\"b\\s/",
                              "\b\f\n\r\t\x01\x1f\x7f",
                              "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80",
                              "\x80\xE4\xFC\x81\x8D\x8F\x90\x9D",
                              "a\xBF"
                              "b\xE2\x82",
                              "\xC0\xAF\xED\xA0\x80",
                              ""};
const uint16_t kWtexts[][3] = {{0x00E9, 0x0041, 0}, {0xD83D, 0xDE00, 0}, {0xDC00, 0x0022, 0}};

struct CCorpusEntry {
    std::string name;
    std::string text;
};

// name, byte count, then the bytes, one entry after another.
std::vector<CCorpusEntry> ReadCorpus(const std::string& path) {
    std::vector<CCorpusEntry> entries;
    std::ifstream file(path, std::ios::binary);
    std::string header;
    while (std::getline(file, header)) {
        const size_t space = header.rfind(' ');
        if (header.compare(0, 3, "== ") != 0 || space == std::string::npos || space < 3) {
            ADD_FAILURE() << "corpus header not understood: " << header;
            break;
        }
        CCorpusEntry entry;
        entry.name = header.substr(3, space - 3);
        const size_t length = std::stoul(header.substr(space + 1));
        entry.text.resize(length);
        file.read(&entry.text[0], static_cast<std::streamsize>(length));
        file.get();  // the line feed after the bytes
        entries.push_back(entry);
    }
    return entries;
}

void WriteCorpus(const std::string& path, const std::vector<CCorpusEntry>& entries) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    for (const CCorpusEntry& entry : entries) {
        file << "== " << entry.name << ' ' << entry.text.size() << '\n' << entry.text << '\n';
    }
}

class OutputCorpus : public ApplicationTest {
   protected:
    template <typename T, size_t N>
    void Fill(const std::string& name, const T (&values)[N]) {
        uint8_t* memory = app().address("App.Globals." + name);
        ASSERT_NE(nullptr, memory) << name;
        ASSERT_EQ(sizeof(values), app().size("App.Globals." + name)) << name;
        std::memcpy(memory, values, sizeof(values));
    }

    void FillApplication() {
        const auto scalar = [this](const std::string& name, auto value) {
            uint8_t* memory = app().address("App.Globals." + name);
            ASSERT_NE(nullptr, memory) << name;
            std::memcpy(memory, &value, sizeof(value));
        };
        scalar("b", uint8_t{1});
        scalar("by", uint8_t{0xFF});
        scalar("w", uint16_t{0x8001});
        scalar("dw", uint32_t{0xFFFFFFFE});
        scalar("lw", uint64_t{0xFFFFFFFFFFFFFFFF});
        scalar("si", int8_t{-128});
        scalar("i", int16_t{32767});
        scalar("di", int32_t{INT32_MIN});
        scalar("li", int64_t{9007199254740993});
        scalar("usi", uint8_t{255});
        scalar("ui", uint16_t{65535});
        scalar("udi", uint32_t{4294967295u});
        scalar("uli", uint64_t{18446744073709551615u});
        scalar("e", int32_t{5});
        scalar("sub", int16_t{-7});
        Fill("reals", kReals);
        Fill("lreals", kLreals);
        Fill("times", kTimes);
        Fill("ltimes", kLtimes);
        Fill("clocks", kClocks);
        Fill("lclocks", kLclocks);
        Fill("dates", kDates);
        Fill("ldates", kLdates);
        Fill("stamps", kStamps);
        Fill("lstamps", kLstamps);
        uint8_t* texts = app().address("App.Globals.texts");
        for (size_t i = 0; i < sizeof(kTexts) / sizeof(kTexts[0]); ++i) {
            std::strcpy(reinterpret_cast<char*>(texts + 25 * i), kTexts[i]);
        }
        uint8_t* wtexts = app().address("App.Globals.wtexts");
        const size_t stride = app().size("App.Globals.wtexts") / 3;
        for (size_t i = 0; i < 3; ++i) {
            std::memcpy(wtexts + stride * i, kWtexts[i], sizeof(kWtexts[i]));
        }
        const int8_t grid[] = {1, -2, 3, -4, 5, -6};
        Fill("grid", grid);
        const int16_t cube[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
        Fill("cube", cube);
        const uint8_t rows[] = {1, 0, 0, 1};
        Fill("rows", rows);
        uint8_t* deep = app().address("App.Globals.deep");
        const auto member = [&](const std::string& path, const void* value, size_t size) {
            uint8_t* at = app().address("App.Globals.deep." + path);
            ASSERT_NE(nullptr, at) << path;
            ASSERT_LT(static_cast<size_t>(at - deep), app().size("App.Globals.deep")) << path;
            std::memcpy(at, value, size);
        };
        const int16_t x = -3;
        const float r = 0.2f;
        member("p.x", &x, sizeof(x));
        member("p.s", "p \"one\"", 8);
        member("p.r", &r, sizeof(r));
        member("list[1].s", "\xE4", 2);
    }

    // Every variable added under its own name to a writer in `format` at `places`.
    std::string Variables(uint32_t format, int places, bool schema) {
        CWriterCalls writer;
        EXPECT_EQ(1u, writer.setFormat(format));
        EXPECT_EQ(1u, writer.setMaxDecimalPlaces(places));
        EXPECT_EQ(1u, writer.reset());
        for (const char* name : kVariables) {
            void* address = app().address(std::string("App.Globals.") + name);
            EXPECT_EQ(1, schema ? CallAddSchemaFromSymbol(writer.instance(), name, address)
                                : CallAddFromSymbol(writer.instance(), name, address))
                << name;
        }
        return writer.text();
    }

    // A writer document of every value method and of nesting, in `format` at `places`.
    static std::string WriterValues(uint32_t format, int places) {
        CWriterCalls w;
        EXPECT_EQ(1u, w.setFormat(format));
        EXPECT_EQ(1u, w.setMaxDecimalPlaces(places));
        EXPECT_EQ(1u, w.reset());
        w.addKeyString("s", "tab\there \"q\" \\ \x01 \xE9t\xC3\xA9");
        w.addKeyString("k\n\"ey\"\x80", "");
        w.addKeyBool("t", 1);
        w.addKeyBool("f", 0);
        w.addKeyNumber("n", INT32_MIN);
        w.addKeyNull("z");
        for (const double d : kLreals) {
            w.addKeyLreal("d", d);
        }
        w.addKeyDateTime("dt", 4294967295u);
        w.addKey("a");
        w.startArray();
        for (const float f : kReals) {
            w.addReal(f);
        }
        w.addDint(-7);
        w.addUdint(4294967295u);
        w.addLint(INT64_MIN);
        w.addLint(INT64_MAX);
        w.addBool(1);
        w.addNull();
        w.addString("x");
        w.addDateTime(1796715300);
        w.addLreal(0.3);
        w.startObject();
        w.endObject();
        w.startArray();
        w.endArray();
        w.startObject();
        w.addKey("in");
        w.startArray();
        w.startArray();
        w.addDint(1);
        w.endArray();
        w.endArray();
        w.endObject();
        w.endArray();
        w.addKey("raw");
        w.addRawObject(R"({"n":[1,-0,1.5e300,-2E-5,12345678901234567890,-9223372036854775808,0.1,1e-400],)"
                       R"("s":"\u00e9\ud83d\ude00\"\\\/\b\f\n\r\t\u0001","e":{},"a":[],"x":"\u0080"})");
        w.addKey("rawArray");
        w.addRawArray("[[],[[]],{\"a\":{\"b\":[null,true,false]}},-1.0,100e-2]");
        w.addKey("b64");
        w.addBase64(std::string("\x00\xFF\x10hello", 8));
        w.addKey("hex");
        w.addHexBinary(std::string("\x00\xAB\x7F", 3));
        return w.text();
    }

    std::vector<CCorpusEntry> Produce() {
        std::vector<CCorpusEntry> entries;
        const auto add = [&entries](const std::string& name, const std::string& text) {
            entries.push_back(CCorpusEntry{name, text});
        };
        const uint32_t formats[] = {0,
                                    ZENTRIK_FORMAT_NUMERIC_ENUMS,
                                    ZENTRIK_FORMAT_LONG_TIMES,
                                    ZENTRIK_FORMAT_SHORT_REALS,
                                    ZENTRIK_FORMAT_ISO_8601,
                                    ZENTRIK_FORMAT_ISO_8601 | ZENTRIK_FORMAT_LONG_TIMES,
                                    ZENTRIK_FORMAT_INT64_STRINGS | ZENTRIK_FORMAT_LONG_TIMES,
                                    ZENTRIK_FORMAT_BOOL_LITERALS,
                                    ZENTRIK_FORMAT_NESTED_ARRAYS,
                                    ZENTRIK_FORMAT_UNSIGNED_BITS,
                                    ZENTRIK_FORMAT_READABLE,
                                    ZENTRIK_FORMAT_BITS & ~ZENTRIK_FORMAT_PRETTY};
        for (const uint32_t format : formats) {
            for (const uint32_t pretty : {0u, static_cast<uint32_t>(ZENTRIK_FORMAT_PRETTY)}) {
                const std::string suffix = "/format-" + std::to_string(format | pretty);
                add("variables" + suffix, Variables(format | pretty, 324, false));
                add("schemas" + suffix, Variables(format | pretty, 324, true));
                add("writer" + suffix, WriterValues(format | pretty, 324));
            }
        }
        for (const int places : {0, 1, 2, 7, 17, 323}) {
            for (const uint32_t format :
                 {0u, static_cast<uint32_t>(ZENTRIK_FORMAT_SHORT_REALS),
                  static_cast<uint32_t>(ZENTRIK_FORMAT_SHORT_REALS | ZENTRIK_FORMAT_PRETTY)}) {
                const std::string suffix =
                    "/format-" + std::to_string(format) + "/places-" + std::to_string(places);
                add("variables" + suffix, Variables(format, places, false));
                add("writer" + suffix, WriterValues(format, places));
            }
        }
        const char* const documents[] = {
            R"({"a":[1,2.5,"x\u00e9\/",null,true,{"b":-0.0,"c":1E2}],"big":-1.7976931348623157e308,"esc":"\"\\\n\u0001"})",
            R"([0.1,1e21,1e-7,5e-324,2.2250738585072014e-308,0.12517789,18446744073709551615,-9223372036854775808,)"
            R"(9223372036854775808,-9223372036854775809,1.0,100,-0.0,0e5,123456789012345678901234567890])",
            "{\"bytes\":\"\x80\xE4\xC0\xAF\xED\xA0\x80\",\"\xFF\":\"\\u0000\",\"deep\":[[[[{\"\":[{}]}]]]]}",
            R"("just a string")",
            "-12.5e-3",
            R"({"e":{},"a":[],"s":"","u":"\ud834\udd1e\u2028\u007f"})",
        };
        int index = 0;
        for (const char* document : documents) {
            CReaderCalls reader;
            EXPECT_EQ(1, reader.parse(document).Parse) << document;
            const std::string name = "raw/" + std::to_string(index++);
            add(name, reader.raw(""));
            for (const char* path : {"/a", "/a/5", "/1", "/bytes", "/deep/0/0", "/u"}) {
                const std::string part = reader.raw(path);
                if (part != "<none>") {
                    add(name + path, part);
                }
            }
        }
        return entries;
    }
};

// Each text is what the corpus recorded, byte for byte.
TEST_F(OutputCorpus, EveryTextIsTheRecordedOne) {
    app().start(kApplication);
    loadSymbols();
    FillApplication();
    host().clearLog();
    const std::vector<CCorpusEntry> produced = Produce();
    const std::vector<std::string> log = DescribedLog();
    EXPECT_TRUE(log.empty()) << log.front();
    if (std::getenv("ZENTRIK_RECORD_OUTPUT_CORPUS") != nullptr) {
        WriteCorpus(kCorpusPath, produced);
        GTEST_SKIP() << "recorded " << produced.size() << " texts into " << kCorpusPath;
    }
    const std::vector<CCorpusEntry> recorded = ReadCorpus(kCorpusPath);
    ASSERT_EQ(recorded.size(), produced.size()) << "the corpus holds other cases than the test makes";
    for (size_t i = 0; i < recorded.size(); ++i) {
        EXPECT_EQ(recorded[i].name, produced[i].name);
        EXPECT_EQ(recorded[i].text, produced[i].text) << recorded[i].name;
    }
}

}  // namespace
