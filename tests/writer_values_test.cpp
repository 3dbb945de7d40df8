// Writer values beyond plain scalars and the rules of the text: raw JSON texts, base64
// and hex binary, decimal places, the UTF-8 repair of strings, the memory cap, and
// clear() while other tasks read documents out.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <future>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/ComponentFixture.h"
#include "support/DatatypeSupport.h"
#include "support/WriterCalls.h"
#include "sync/InstanceTable.h"
#include "sync/LeftRight.h"
#include "var/DomDriverMgr.h"
#include "writer/ValueSources.h"

namespace {

class WriterValues : public ComponentTest {};

const std::string kNoKey = RefusalRecord("Add value mode and don't have key");
const std::string kInvalid = RefusalRecord("Invalid argument");
const std::string kJsonError = RefusalRecord("Json error");
const std::string kMemoryCap = RefusalRecord("Document memory limit reached");

// True when text is one JSON value that a strict parser accepts as valid UTF-8.
bool IsStrictUtf8Json(const std::string& text) {
    rapidjson::Document parsed;
    parsed.Parse<rapidjson::kParseValidateEncodingFlag>(text.c_str(), text.size());
    return !parsed.HasParseError();
}

// A raw text goes where a value goes; a refused one changes nothing, the pending member
// included.
TEST_F(WriterValues, RawJsonTexts) {
    struct Case {
        const char* name;
        std::function<void(CWriterCalls&)> add;  // called with the key "r" pending
        std::string text;
        std::vector<std::string> log;
    };
    const std::vector<Case> cases = {
        {"object",
         [](CWriterCalls& w) { w.addRawObject(R"( {"a":[1,{"b":null}],"s":"\u00e4\n"} )"); },
         R"({"r":{"a":[1,{"b":null}],"s":"ä\n"}})",
         {}},
        {"array",
         [](CWriterCalls& w) { w.addRawArray(R"([true,false,-0.5,1e2,"x",18446744073709551615])"); },
         R"({"r":[true,false,-0.5,100.0,"x",18446744073709551615]})",
         {}},
        {"empty containers", [](CWriterCalls& w) { w.addRawObject("{}"); }, R"({"r":{}})", {}},
        {"trailing comma",
         [](CWriterCalls& w) { w.addRawObject(R"({"a":1,})"); },
         R"({"r":null})",
         {kJsonError}},
        {"unclosed", [](CWriterCalls& w) { w.addRawArray("[1"); }, R"({"r":null})", {kJsonError}},
        {"two values", [](CWriterCalls& w) { w.addRawObject("{} {}"); }, R"({"r":null})", {kJsonError}},
        {"empty text", [](CWriterCalls& w) { w.addRawArray(""); }, R"({"r":null})", {kJsonError}},
        {"NaN", [](CWriterCalls& w) { w.addRawArray("[NaN]"); }, R"({"r":null})", {kJsonError}},
        {"array where an object is wanted",
         [](CWriterCalls& w) { w.addRawObject("[1]"); },
         R"({"r":null})",
         {kInvalid}},
        {"object where an array is wanted",
         [](CWriterCalls& w) { w.addRawArray("{}"); },
         R"({"r":null})",
         {kInvalid}},
        {"scalar", [](CWriterCalls& w) { w.addRawArray("1"); }, R"({"r":null})", {kInvalid}},
        {"null pointer",
         [](CWriterCalls& w) {
             fb_jsonsaxwriter_addrawobject_struct p{w.instance(), nullptr};
             fb_jsonsaxwriter__addrawobject(&p);
         },
         R"({"r":null})",
         {kInvalid}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CDomDriverMgr::instance()->clear();
        CWriterCalls writer;
        writer.reset();
        writer.addKey("r");
        host().clearLog();
        c.add(writer);
        EXPECT_EQ(c.log, DescribedLog());
        EXPECT_EQ(c.text, writer.text());
        // Refused: the member is still pending; done: the pending state is over.
        host().clearLog();
        writer.addKeyNumber("z", 0);
        writer.addDint(1);
        EXPECT_EQ(c.log.empty(), DescribedLog() == std::vector<std::string>{kNoKey}) << writer.text();
    }

    // Without a pending member at the root, a raw text is refused like any value.
    CDomDriverMgr::instance()->clear();
    host().clearLog();
    CWriterCalls writer;
    writer.reset();
    writer.addRawObject("{}");
    EXPECT_EQ(std::vector<std::string>{kNoKey}, DescribedLog());
    EXPECT_EQ("{}", writer.text());

    // A deep raw text is parsed, written and reset without recursion.
    constexpr int kDepth = 100000;
    writer.addKey("deep");
    writer.addRawArray(std::string(kDepth, '[') + std::string(kDepth, ']'));
    EXPECT_EQ(R"({"deep":)" + std::string(kDepth, '[') + std::string(kDepth, ']') + "}", writer.text());
    writer.reset();
}

TEST_F(WriterValues, Base64AndHexBinary) {
    struct Case {
        std::string bytes;
        std::string base64;
        std::string hex;
    };
    // The base64 column holds the test vectors of RFC 4648, section 10.
    const std::vector<Case> cases = {
        {"", "", ""},
        {"f", "Zg==", "66"},
        {"fo", "Zm8=", "666F"},
        {"foo", "Zm9v", "666F6F"},
        {"foob", "Zm9vYg==", "666F6F62"},
        {"fooba", "Zm9vYmE=", "666F6F6261"},
        {"foobar", "Zm9vYmFy", "666F6F626172"},
        {std::string("\x00\xFB\xFF", 3), "APv/", "00FBFF"},
        {std::string("\x0A\x1B\xFF\x00", 4), "Chv/AA==", "0A1BFF00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        CWriterCalls writer;
        writer.reset();
        writer.addKey("b");
        writer.addBase64(c.bytes);
        writer.addKey("h");
        writer.addHexBinary(c.bytes);
        EXPECT_EQ(R"({"b":")" + c.base64 + R"(","h":")" + c.hex + R"("})", writer.text());
    }
    EXPECT_TRUE(DescribedLog().empty());

    // A negative count, or no bytes behind a positive count: refused, nothing changes.
    CWriterCalls writer;
    writer.reset();
    writer.addKey("k");
    RTS_IEC_BYTE byte = 1;
    fb_jsonsaxwriter_addbase64_struct negative{writer.instance(), &byte, -1};
    fb_jsonsaxwriter__addbase64(&negative);
    fb_jsonsaxwriter_addhexbinary_struct missing{writer.instance(), nullptr, 1};
    fb_jsonsaxwriter__addhexbinary(&missing);
    EXPECT_EQ(std::vector<std::string>({kInvalid, kInvalid}), DescribedLog());
    fb_jsonsaxwriter_addhexbinary_struct none{writer.instance(), nullptr, 0};
    fb_jsonsaxwriter__addhexbinary(&none);  // fills the pending member with ""
    EXPECT_EQ(R"({"k":""})", writer.text());
}

// Rounding to nearest, halves away from zero, of the double's exact decimal value; the
// result in its shortest form. Integers stay integers.
TEST_F(WriterValues, DecimalPlacesRoundEveryDouble) {
    struct Case {
        int places;
        double value;
        const char* written;
    };
    const std::vector<Case> cases = {
        {2, 0.129, "0.13"},        {2, 1.005, "1.0"},   // the double is a little below 1.005
        {2, 2.5e-7, "0.0"},        {2, 0.125, "0.13"},  // an exact half goes away from zero
        {2, -0.125, "-0.13"},      {2, 0.375, "0.38"},
        {0, 2.5, "3.0"},           {0, -2.5, "-3.0"},
        {0, 0.5, "1.0"},           {0, 0.49999999999999994, "0.0"},
        {2, 0.0, "0.0"},           {2, -0.001, "0.0"},
        {2, -0.0, "0.0"},          {324, -0.0, "-0.0"},
        {2, 9.995, "9.99"},  // the double is a little below 9.995
        {2, 9.9951, "10.0"},       {3, 123456789.987654, "123456789.988"},
        {2, 1e300, "1e300"},       {2, -1.5e20, "-150000000000000000000.0"},
        {5, 1.0 / 3.0, "0.33333"}, {17, 0.1, "0.1"},
        {323, 5e-324, "0.0"},      {324, 5e-324, "5e-324"},
        {324, 0.1, "0.1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.places) + " places, " + c.written);
        CWriterCalls writer;
        ASSERT_EQ(1u, writer.setMaxDecimalPlaces(c.places));
        writer.reset();
        writer.addKeyLreal("v", c.value);
        EXPECT_EQ(std::string(R"({"v":)") + c.written + "}", writer.text());
    }

    // REAL, variables, raw texts: every double; integers stay as they are.
    CDomDriverMgr::instance()->clear();
    float real = 0.1f;
    Publish(MakeVar(TYPE3_REAL, 4, &real, "r"));
    CWriterCalls writer;
    writer.reset();
    writer.addKey("real");
    writer.addReal(0.1f);
    ASSERT_EQ(1, CallAddFromSymbol(writer.instance(), "var", &real));
    writer.addKey("raw");
    writer.addRawObject(R"({"x":1.23456,"i":7,"big":123456789012345678901})");
    writer.addKeyNumber("n", 12345);
    const std::string exact =
        R"({"real":0.10000000149011612,"var":0.10000000149011612,"raw":{"x":1.23456,"i":7,)"
        R"("big":123456789012345680000.0},"n":12345})";
    EXPECT_EQ(exact, writer.text());
    EXPECT_EQ(1u, writer.setMaxDecimalPlaces(2));
    EXPECT_EQ(R"({"real":0.1,"var":0.1,"raw":{"x":1.23,"i":7,"big":123456789012345680000.0},"n":12345})",
              writer.text());
    EXPECT_EQ(1u, writer.setMaxDecimalPlaces(324));
    EXPECT_EQ(exact, writer.text());
}

TEST_F(WriterValues, DecimalPlacesSettingBelongsToTheInstance) {
    CWriterCalls a;
    CWriterCalls b;
    EXPECT_EQ(324, a.maxDecimalPlaces());     // default, before any reset
    EXPECT_EQ(1u, a.setMaxDecimalPlaces(3));  // taken before the first reset
    EXPECT_EQ(3, a.maxDecimalPlaces());
    a.reset();
    EXPECT_EQ(3, a.maxDecimalPlaces());  // kept across resets
    EXPECT_EQ(324, b.maxDecimalPlaces());
    EXPECT_TRUE(DescribedLog().empty());

    for (RTS_IEC_DINT refused : {-1, 325, std::numeric_limits<RTS_IEC_DINT>::min()}) {
        EXPECT_EQ(0u, a.setMaxDecimalPlaces(refused));
        EXPECT_EQ(3, a.maxDecimalPlaces());
    }
    EXPECT_EQ(std::vector<std::string>(3, kInvalid), DescribedLog());
    EXPECT_EQ(1u, a.setMaxDecimalPlaces(0));
    EXPECT_EQ(0, a.maxDecimalPlaces());

    CDomDriverMgr::instance()->clear();  // host events drop the setting with the document
    EXPECT_EQ(324, a.maxDecimalPlaces());
    EXPECT_EQ(0u, a.length());  // and the setting alone gives no document
}

// Encodes a code point as UTF-8 (the test's own encoder, independent of the
// component's).
std::string Utf8(uint32_t codePoint) {
    std::string out;
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
    return out;
}

// Every byte value, alone in a key and a value, gives text that a strict UTF-8 JSON
// parser accepts; bytes 0x80 and above are their Windows-1252 characters.
TEST_F(WriterValues, EveryByteGivesValidUtf8) {
    // Windows-1252 0x80 to 0x9F; U+FFFD where the code page defines nothing.
    const uint32_t cp1252[32] = {
        0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
    };
    for (int byte = 0; byte <= 0xFF; ++byte) {
        SCOPED_TRACE(byte);
        const std::string raw = byte == 0 ? std::string() : std::string(1, static_cast<char>(byte));
        CWriterCalls writer;
        writer.reset();
        writer.addKeyString(raw + "k", "v" + raw);
        const std::string text = writer.text();
        ASSERT_TRUE(IsStrictUtf8Json(text)) << text;
        if (byte >= 0x80) {
            const std::string character = Utf8(byte < 0xA0 ? cp1252[byte - 0x80] : byte);
            EXPECT_EQ("{\"" + character + "k\":\"v" + character + "\"}", text);
        }
    }

    struct Case {
        const char* name;
        std::string raw;
        std::string written;
    };
    const std::vector<Case> cases = {
        {"0x80, 0xE4, 0xFC", "\x80\xE4\xFC", "€äü"},
        {"valid sequences of every length pass", "a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80", "aä€😀"},
        {"a character cut short", "x\xE2\x82", "xâ‚"},
        {"an overlong form", "\xC0\xAF", "À¯"},
        {"a surrogate", "\xED\xA0\x80", "í\xC2\xA0€"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", "ô\xEF\xBF\xBD€€"},
        {"the undefined bytes", "\x81\x8D\x8F\x90\x9D",
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CWriterCalls writer;
        writer.reset();
        writer.addKeyString(c.raw, c.raw);
        EXPECT_EQ("{\"" + c.written + "\":\"" + c.written + "\"}", writer.text());
    }

    // Strings from variables take the same path.
    CDomDriverMgr::instance()->clear();
    char text[4] = {'\xE4', '\x80', 'z', 0};
    Publish(MakeVar(TYPE3_STRING, 4, text, "s"));
    CWriterCalls writer;
    writer.reset();
    ASSERT_EQ(1, CallAddFromSymbol(writer.instance(), "s", text));
    EXPECT_EQ(R"({"s":"ä€z"})", writer.text());
}

// A document stops growing at the cap: adds beyond it are refused, with the text to log
// once until the next reset. The writer instance is built with a small cap of its own.
TEST(WriterInstance, MemoryCapRefusesAddsOncePerDocument) {
    constexpr size_t kCap = 256 * 1024;
    const char* const kMemoryCapText = "Document memory limit reached";
    CJsonWriter writer(kCap);
    auto text = [&writer] {
        std::string out;
        writer.Read([&out](const char* bytes, size_t length, uint32_t) { out.assign(bytes, length); });
        return out;
    };
    const std::string value(1000, 'v');
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        writer.Reset();
        std::vector<std::string> refusals;
        auto note = [&refusals](const CWriterOutcome& outcome) {
            if (outcome.refusal != nullptr) {
                refusals.push_back(outcome.refusal);
            }
        };
        CWriterScalar scalar = CWriterScalar::String(value.c_str());
        for (int i = 0; i < 1000; ++i) {
            note(writer.AddMember(("k" + std::to_string(i)).c_str(), scalar));
        }
        CWriterScalar late = CWriterScalar::String(value.c_str());
        EXPECT_FALSE(writer.AddMember("late", late).done);
        note(writer.AddKey("a", true));  // no further text to log
        const std::string raw = "[" + std::string(kCap, '1') + "]";
        CRawSource rawSource(raw.c_str(), EJsonContainer::kArray);
        EXPECT_FALSE(writer.AddValue(rawSource).done);
        const std::string bytes(100, 'x');
        CBytesSource base64(reinterpret_cast<const RTS_IEC_BYTE*>(bytes.data()), bytes.size(), false);
        note(writer.AddValue(base64));
        const std::string out = text();
        rapidjson::Document parsed;
        parsed.Parse(out.c_str(), out.size());
        ASSERT_FALSE(parsed.HasParseError());
        const int added = static_cast<int>(parsed.MemberCount());
        EXPECT_GT(added, 150);
        EXPECT_LT(added, 1000);
        EXPECT_LT(out.size(), kCap);
        EXPECT_FALSE(parsed.HasMember("late"));
        EXPECT_EQ(std::vector<std::string>{kMemoryCapText}, refusals);
    }
    // A single add larger than the cap, in a fresh document.
    writer.Reset();
    ASSERT_TRUE(writer.AddKey("r", true).done);
    const std::string raw = "[" + std::string(kCap / 2, '1') + "," + std::string(kCap / 2, '1') + "]";
    CRawSource rawSource(raw.c_str(), EJsonContainer::kArray);
    const CWriterOutcome outcome = writer.AddValue(rawSource);
    EXPECT_FALSE(outcome.done);
    EXPECT_STREQ(kMemoryCapText, outcome.refusal);
    CWriterScalar one = CWriterScalar::Dint(1);
    EXPECT_TRUE(writer.AddValue(one).done);  // the refused add left the member pending
    EXPECT_EQ(R"({"r":1})", text());
}

// The instances' map: a state made on first use, found again by its record, dropped by
// Clear().
TEST(WriterInstance, TheMapMakesFindsAndDropsStates) {
    CWriterInstances instances;
    fb_jsonsaxwriter_struct records[2]{};
    EXPECT_FALSE(instances.With(&records[0], false, [](CJsonWriter&) {}));
    CJsonWriter* made = nullptr;
    EXPECT_TRUE(instances.With(&records[0], true, [&made](CJsonWriter& writer) { made = &writer; }));
    CJsonWriter* found = nullptr;
    EXPECT_TRUE(instances.With(&records[0], true, [&found](CJsonWriter& writer) { found = &writer; }));
    EXPECT_EQ(made, found);
    EXPECT_TRUE(instances.With(&records[1], true, [](CJsonWriter&) {}));
    EXPECT_EQ(2u, instances.Size());
    EXPECT_TRUE(instances.Idle());
    instances.Clear();
    EXPECT_EQ(0u, instances.Size());
    EXPECT_FALSE(instances.With(&records[0], false, [](CJsonWriter&) {}));
}

// The table under both blocks' instances: whatever order instances arrive in, each finds
// its own state and no other; an existing state wins over a new one; an erase takes only
// the state it names, and only when it is not kept.
TEST(InstanceTable, EachInstanceFindsItsOwnStateInAnyOrderOfArrival) {
    int records[9] = {};
    const size_t arrival[9] = {4, 0, 8, 2, 6, 1, 7, 3, 5};
    CInstanceTable<const int*, int> table;
    for (size_t i : arrival) {
        const std::shared_ptr<int> made = std::make_shared<int>(static_cast<int>(i));
        EXPECT_EQ(made, table.Insert(&records[i], made));
    }
    const std::shared_ptr<int> second = table.Insert(&records[3], std::make_shared<int>(99));
    EXPECT_EQ(3, *second);  // the first state stays
    for (int i = 0; i < 9; ++i) {
        const std::shared_ptr<int> found = table.Find(&records[i]);
        ASSERT_TRUE(found) << i;
        EXPECT_EQ(i, *found);
    }
    int outside = 0;
    EXPECT_FALSE(table.Find(&outside));
    EXPECT_FALSE(table.Find(nullptr));
    const auto kept = [](const int&) { return true; };
    const auto notKept = [](const int&) { return false; };
    table.EraseUnless(&records[5], table.Find(&records[5]), kept);
    table.EraseUnless(&records[5], std::make_shared<int>(5), notKept);  // not the state held
    EXPECT_EQ(9u, table.Size());
    table.EraseUnless(&records[5], table.Find(&records[5]), notKept);
    EXPECT_FALSE(table.Find(&records[5]));
    EXPECT_EQ(6, *table.Find(&records[6]));
    EXPECT_EQ(8u, table.Size());
    table.Clear();
    EXPECT_EQ(0u, table.Size());
    EXPECT_FALSE(table.Find(&records[0]));
}

// A read of a CLeftRight never waits for a writer: while a write is held up inside its
// first change, reads go on and give the value as it was; once the write returns they
// give the new one.
TEST(LeftRight, ReadsGoOnWhileAWriteIsInProgress) {
    CLeftRight<int> value;
    std::promise<void> inside;
    std::promise<void> release;
    int changes = 0;
    std::thread writer([&] {
        value.Write([&](int& copy) {
            if (changes++ == 0) {
                inside.set_value();
                release.get_future().wait();
            }
            copy = 5;
            return 0;
        });
    });
    inside.get_future().wait();
    std::future<int> read =
        std::async(std::launch::async, [&] { return value.Read([](const int& v) { return v; }); });
    ASSERT_EQ(std::future_status::ready, read.wait_for(std::chrono::seconds(30)))
        << "a read waited for the writer";
    EXPECT_EQ(0, read.get());
    EXPECT_FALSE(value.Idle());
    release.set_value();
    writer.join();
    EXPECT_EQ(2, changes);
    EXPECT_EQ(5, value.Read([](const int& v) { return v; }));
    EXPECT_TRUE(value.Idle());
}

// clear() from a host event while tasks read long documents out: a read gives the whole
// text or is refused, and nothing is touched after it was freed.
TEST_F(WriterValues, ClearDuringLongReadOuts) {
    constexpr int kReaders = 3;
    CWriterCalls writers[kReaders];
    for (int cycle = 0; cycle < 4; ++cycle) {
        SCOPED_TRACE(cycle);
        for (CWriterCalls& w : writers) {
            w.reset();
            w.addKey("a");
            w.startArray();
            for (int i = 0; i < 20000; ++i) {
                w.addString("element " + std::to_string(i));
            }
        }
        const std::string expected = writers[0].text();
        std::atomic<bool> stop{false};
        std::atomic<int> whole{0};
        std::atomic<int> refused{0};
        std::atomic<int> other{0};
        std::vector<std::thread> readers;
        for (int r = 0; r < kReaders; ++r) {
            readers.emplace_back([&, r] {
                while (!stop.load()) {
                    fb_jsonsaxwriter_getdocumentlength_struct length{writers[r].instance(), 0, 0};
                    fb_jsonsaxwriter__getdocumentlength(&length);
                    std::vector<char> buffer(length.GetDocumentLength + 1, '#');
                    fb_jsonsaxwriter_copydocument_struct copy{writers[r].instance(), buffer.data(),
                                                              length.GetDocumentLength + 1, 0, 0};
                    fb_jsonsaxwriter__copydocument(&copy);
                    if (copy.CopyDocument == 0) {
                        ++refused;
                    } else if (std::string(buffer.data(), length.GetDocumentLength) == expected) {
                        ++whole;
                    } else {
                        ++other;
                    }
                }
            });
        }
        // The event comes once the readers have read whole texts (however loaded the
        // machine is), and while they go on reading.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (whole.load() < kReaders && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        CDomDriverMgr::instance()->clear();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        stop = true;
        for (std::thread& reader : readers) {
            reader.join();
        }
        EXPECT_GT(whole.load(), 0);
        EXPECT_GT(refused.load(), 0);
        EXPECT_EQ(0, other.load());
    }
}

}  // namespace
