// Writer documents: reset, the text output (number forms, string escapes, non-finite
// numbers), and the three output fields and their limits.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <future>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "json/JsonOutput.h"
#include "json/Utf8.h"
#include "support/ComponentFixture.h"
#include "support/WriterCalls.h"
#include "var/DomDriverMgr.h"
#include "writer/JsonWriter.h"

namespace {

class WriterOutput : public ComponentTest {};

const std::string kNoDocument = RefusalRecord("The JSON object does not exist.");
const std::string kInvalid = RefusalRecord("Invalid argument");
constexpr RTS_IEC_UINT kCallerErrorCode = 0xBEEF;

// The text as getdocument writes it into the STRING(255) field.
std::string GetDocumentField(CWriterCalls& writer) {
    fb_jsonsaxwriter_getdocument_struct p;
    std::memset(&p, '#', sizeof(p));
    p.pInstance = writer.instance();
    p.hrErrorCode = kCallerErrorCode;
    fb_jsonsaxwriter__getdocument(&p);
    EXPECT_EQ(kCallerErrorCode, p.hrErrorCode);
    const void* end = std::memchr(p.GetDocument, '\0', sizeof(p.GetDocument));
    if (end == nullptr) {
        ADD_FAILURE() << "GetDocument not terminated";
        return std::string();
    }
    return std::string(p.GetDocument);
}

TEST_F(WriterOutput, ResetGivesAnEmptyObject) {
    CWriterCalls writer;
    fb_jsonsaxwriter_resetdocument_struct reset{writer.instance(), 7};
    fb_jsonsaxwriter__resetdocument(&reset);  // first reset creates the document
    EXPECT_EQ(1u, reset.ResetDocument);
    EXPECT_EQ("{}", GetDocumentField(writer));
    EXPECT_EQ(2u, writer.length());

    char buffer[4] = {'#', '#', '#', '#'};
    fb_jsonsaxwriter_copydocument_struct copy{writer.instance(), buffer, 3, 0, kCallerErrorCode};
    fb_jsonsaxwriter__copydocument(&copy);
    EXPECT_EQ(1u, copy.CopyDocument);
    EXPECT_EQ(0, std::memcmp(buffer, "{}\0#", 4));
    EXPECT_EQ(kCallerErrorCode, copy.hrErrorCode);

    writer.addKeyNumber("a", 1);
    writer.addKey("b");
    EXPECT_EQ(1u, writer.reset());  // a reset of a filled document empties it
    EXPECT_EQ("{}", writer.text());
    EXPECT_TRUE(DescribedLog().empty());
}

TEST_F(WriterOutput, ReadsWithoutDocumentLeaveTheFieldsAlone) {
    CWriterCalls writer;

    fb_jsonsaxwriter_getdocument_struct get;
    std::memset(&get, '#', sizeof(get));
    get.pInstance = writer.instance();
    fb_jsonsaxwriter_getdocument_struct before = get;
    fb_jsonsaxwriter__getdocument(&get);
    EXPECT_EQ(0, std::memcmp(&before, &get, sizeof(get)));

    fb_jsonsaxwriter_getdocumentlength_struct length{writer.instance(), 1234, kCallerErrorCode};
    fb_jsonsaxwriter__getdocumentlength(&length);
    EXPECT_EQ(0u, length.GetDocumentLength);
    EXPECT_EQ(kCallerErrorCode, length.hrErrorCode);

    char buffer[8] = "#######";
    fb_jsonsaxwriter_copydocument_struct copy{writer.instance(), buffer, sizeof(buffer), 1, kCallerErrorCode};
    fb_jsonsaxwriter__copydocument(&copy);
    EXPECT_EQ(0u, copy.CopyDocument);
    EXPECT_STREQ("#######", buffer);
    EXPECT_EQ(kCallerErrorCode, copy.hrErrorCode);

    EXPECT_EQ((std::vector<std::string>{kNoDocument, kNoDocument, kNoDocument}), DescribedLog());
}

TEST_F(WriterOutput, NumbersHaveTheirShortestForm) {
    struct Case {
        const char* name;
        std::function<void(CWriterCalls&)> fill;  // fills the pending key "v"
        const char* value;
    };
    const std::vector<Case> cases = {
        {"2.0", [](CWriterCalls& w) { w.addLreal(2.0); }, "2.0"},
        {"0.1", [](CWriterCalls& w) { w.addLreal(0.1); }, "0.1"},
        {"1e21", [](CWriterCalls& w) { w.addLreal(1e21); }, "1e21"},
        {"1e20", [](CWriterCalls& w) { w.addLreal(1e20); }, "100000000000000000000.0"},
        {"1e-6", [](CWriterCalls& w) { w.addLreal(0.000001); }, "0.000001"},
        {"1e-7", [](CWriterCalls& w) { w.addLreal(1e-7); }, "1e-7"},
        {"-0.0", [](CWriterCalls& w) { w.addLreal(-0.0); }, "-0.0"},
        {"largest double", [](CWriterCalls& w) { w.addLreal(std::numeric_limits<double>::max()); },
         "1.7976931348623157e308"},
        {"smallest denormal", [](CWriterCalls& w) { w.addLreal(std::numeric_limits<double>::denorm_min()); },
         "5e-324"},
        {"REAL 0.1", [](CWriterCalls& w) { w.addReal(0.1f); }, "0.10000000149011612"},
        {"REAL 3.0", [](CWriterCalls& w) { w.addReal(3.0f); }, "3.0"},
        {"DINT minimum", [](CWriterCalls& w) { w.addDint(std::numeric_limits<int32_t>::min()); },
         "-2147483648"},
        {"UDINT maximum", [](CWriterCalls& w) { w.addUdint(std::numeric_limits<uint32_t>::max()); },
         "4294967295"},
        {"LINT minimum", [](CWriterCalls& w) { w.addLint(std::numeric_limits<int64_t>::min()); },
         "-9223372036854775808"},
        {"LINT maximum", [](CWriterCalls& w) { w.addLint(std::numeric_limits<int64_t>::max()); },
         "9223372036854775807"},
        {"LINT one above DINT", [](CWriterCalls& w) { w.addLint(2147483648LL); }, "2147483648"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CWriterCalls writer;
        writer.reset();
        writer.addKey("v");
        c.fill(writer);
        EXPECT_EQ(std::string(R"({"v":)") + c.value + "}", writer.text());
    }
    EXPECT_TRUE(DescribedLog().empty());
}

// NaN and the infinities become null and the rest of the document follows.
TEST_F(WriterOutput, NonFiniteNumbersAreWrittenAsNull) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        std::function<void(CWriterCalls&)> calls;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"LREAL NaN",
         [nan](CWriterCalls& w) {
             w.addKey("v");
             w.addLreal(nan);
         },
         R"({"v":null})"},
        {"key-LREAL +Inf in the middle",
         [inf](CWriterCalls& w) {
             w.addKeyNumber("a", 1);
             w.addKeyLreal("v", inf);
             w.addKeyNumber("b", 2);
         },
         R"({"a":1,"v":null,"b":2})"},
        {"key-LREAL -Inf", [inf](CWriterCalls& w) { w.addKeyLreal("v", -inf); }, R"({"v":null})"},
        {"REAL NaN",
         [](CWriterCalls& w) {
             w.addKey("r");
             w.addReal(std::numeric_limits<float>::quiet_NaN());
             w.addKeyLreal("x", 1.5);
         },
         R"({"r":null,"x":1.5})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CWriterCalls writer;
        writer.reset();
        c.calls(writer);
        EXPECT_EQ(c.text, writer.text());
        EXPECT_EQ(c.text, GetDocumentField(writer));
        EXPECT_EQ(std::strlen(c.text), writer.length());
    }
}

TEST_F(WriterOutput, StringsAreEscaped) {
    struct Case {
        const char* name;
        std::string raw;
        std::string written;
    };
    const std::vector<Case> cases = {
        {"line feed, quote, tab", "a\nb\"c\td", R"(a\nb\"c\td)"},
        {"backslash", "a\\b", R"(a\\b)"},
        {"backspace, form feed, carriage return", "\b\f\r", R"(\b\f\r)"},
        {"other control bytes in upper-case hex", "\x01\x1f\x7f", "\\u0001\\u001F\x7f"},
        {"slash is not escaped", "a/b", "a/b"},
        {"valid UTF-8 passes unchanged", "\xE2\x82\xAC\xC3\xA4\xF0\x9F\x98\x80",
         "\xE2\x82\xAC\xC3\xA4\xF0\x9F\x98\x80"},
        {"other bytes are read as Windows-1252", "\xE2\x82\xAC\x80\xFE", "\xE2\x82\xAC\xE2\x82\xAC\xC3\xBE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CWriterCalls writer;
        writer.reset();
        writer.addKeyString(c.raw, c.raw);  // names and values alike
        EXPECT_EQ("{\"" + c.written + "\":\"" + c.written + "\"}", writer.text());
    }
}

// Strings are copied in runs of up to eight bytes: each byte to escape, and one that is
// not (0x20, 0x7F, 0x80 up), at every place of strings of every length up to several
// runs, comes out as RapidJSON's own writer escapes it.
TEST_F(WriterOutput, EveryPlaceOfABytesToEscapeIsEscaped) {
    const std::string bytes = std::string("\"\\\n\x01\x1f\x20\x7f", 7) + "\xC3\xA4";
    for (const char byte : bytes) {
        if (static_cast<unsigned char>(byte) == 0xA4) {
            continue;  // the second byte of the character above
        }
        for (size_t length = 0; length < 19; ++length) {
            for (size_t place = 0; place <= length; ++place) {
                std::string raw = std::string("abcdefghijklmnopqr").substr(0, length);
                raw.insert(place, 1, byte);
                if (static_cast<unsigned char>(byte) == 0xC3) {
                    raw.insert(place + 1, 1, '\xA4');  // the whole character
                }
                rapidjson::StringBuffer expected;
                rapidjson::Writer<rapidjson::StringBuffer> reference(expected);
                reference.String(raw.data(), static_cast<rapidjson::SizeType>(raw.size()));
                CWriterCalls writer;
                writer.reset();
                writer.addKeyString(raw, raw);  // as a name and as a value
                EXPECT_EQ(std::string("{") + expected.GetString() + ":" + expected.GetString() + "}",
                          writer.text())
                    << "byte " << static_cast<int>(static_cast<unsigned char>(byte)) << " at " << place
                    << " of " << length + 1;
            }
        }
    }
}

// GetDocument is a STRING(255): longer texts are cut to 255 bytes and terminated.
TEST_F(WriterOutput, GetDocumentHoldsAtMost255Bytes) {
    for (size_t textLength : {254u, 255u, 256u, 257u, 1000u}) {
        SCOPED_TRACE(textLength);
        CWriterCalls writer;
        writer.reset();
        writer.addKeyString("k", std::string(textLength - 8, 'x'));  // {"k":"..."}
        std::string text = writer.text();
        ASSERT_EQ(textLength, text.size());
        EXPECT_EQ(text.substr(0, 255), GetDocumentField(writer));
    }
}

TEST_F(WriterOutput, CopyNeverGoesBeyondTheTerminator) {
    CWriterCalls writer;
    writer.reset();
    writer.addKeyString("a", "xyz");
    const std::string text = R"({"a":"xyz"})";
    ASSERT_EQ(text, writer.text());
    const size_t n = text.size();

    struct Case {
        size_t nDoc;
        std::string copied;  // bytes at the start of the buffer; the rest stays '#'
    };
    const std::vector<Case> cases = {
        {0, ""}, {1, "{"}, {n, text}, {n + 1, text + '\0'}, {n + 2, text + '\0'}, {n + 40, text + '\0'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nDoc);
        std::vector<char> buffer(n + 64, '#');
        fb_jsonsaxwriter_copydocument_struct copy{writer.instance(), buffer.data(),
                                                  static_cast<RTS_IEC_UDINT>(c.nDoc), 0, kCallerErrorCode};
        fb_jsonsaxwriter__copydocument(&copy);
        EXPECT_EQ(1u, copy.CopyDocument);
        std::string expected = c.copied + std::string(buffer.size() - c.copied.size(), '#');
        EXPECT_EQ(expected, std::string(buffer.data(), buffer.size()));
    }
    EXPECT_TRUE(DescribedLog().empty());

    // A missing buffer: nothing to copy into unless nothing is asked for.
    fb_jsonsaxwriter_copydocument_struct none{writer.instance(), nullptr, 0, 7, kCallerErrorCode};
    fb_jsonsaxwriter__copydocument(&none);
    EXPECT_EQ(1u, none.CopyDocument);
    EXPECT_TRUE(DescribedLog().empty());
    fb_jsonsaxwriter_copydocument_struct refused{writer.instance(), nullptr, 5, 7, kCallerErrorCode};
    fb_jsonsaxwriter__copydocument(&refused);
    EXPECT_EQ(0u, refused.CopyDocument);
    EXPECT_EQ(kCallerErrorCode, refused.hrErrorCode);
    EXPECT_EQ(std::vector<std::string>{kInvalid}, DescribedLog());
}

// One CopyDocumentPart call into a buffer of nDoc bytes filled with '#' (and guard bytes
// after it): the bytes it returned, its record, and the buffer whole.
struct PartCall {
    fb_jsonsaxwriter_copydocumentpart_struct record;
    std::string buffer;
};
PartCall CopyPart(CWriterCalls& writer, size_t offset, size_t nDoc, bool nullBuffer = false) {
    PartCall call{{writer.instance(), static_cast<RTS_IEC_UDINT>(offset), nullptr,
                   static_cast<RTS_IEC_UDINT>(nDoc), 77, 88, 99},
                  std::string(nDoc + 8, '#')};
    call.record.pDoc = nullBuffer ? nullptr : reinterpret_cast<RTS_IEC_BYTE*>(&call.buffer[0]);
    fb_jsonsaxwriter__copydocumentpart(&call.record);
    return call;
}

// A text of 2-, 3- and 4-byte characters read in parts of every small size (and 4096
// bytes): each part valid UTF-8, cut only between characters, terminated, nothing written
// past the buffer, and the parts joined back give the text byte-exact.
TEST_F(WriterOutput, PartsOfEverySizeJoinBackToTheText) {
    CWriterCalls writer;
    writer.reset();
    std::string value;
    for (int i = 0; i < 700; ++i) {
        value += i % 3 == 0 ? "\xC3\xA4" : i % 3 == 1 ? "\xE2\x9C\x93" : "\xF0\x9F\x98\x80";
    }
    writer.addKeyString("k", value);
    const std::string text = writer.text();
    ASSERT_EQ(text.size(), writer.length());
    for (size_t nDoc : {1, 2, 3, 4, 5, 6, 7, 8, 4096}) {
        SCOPED_TRACE(nDoc);
        std::string joined;
        size_t offset = 0;
        uint32_t change = 0;
        for (int calls = 0; offset < text.size() && calls < 100000; ++calls) {
            const PartCall call = CopyPart(writer, offset, nDoc);
            const size_t copied = call.record.CopyDocumentPart;
            ASSERT_LE(copied, nDoc - 1);
            EXPECT_EQ(text.size(), call.record.nLength);
            EXPECT_EQ('\0', call.buffer[copied]);
            EXPECT_EQ(std::string(8, '#'), call.buffer.substr(nDoc));
            EXPECT_TRUE(IsValidUtf8(call.buffer.data(), copied));
            if (calls == 0) {
                change = call.record.nChange;
            }
            EXPECT_EQ(change, call.record.nChange);
            if (copied == 0) {  // the character at offset does not fit: only a buffer under 4 bytes
                ASSERT_LT(nDoc, 5u);
                break;
            }
            joined += call.buffer.substr(0, copied);
            offset += copied;
        }
        if (nDoc >= 5) {
            EXPECT_EQ(text, joined);
        } else {
            EXPECT_EQ(text.substr(0, joined.size()), joined);
        }
    }
    EXPECT_TRUE(DescribedLog().empty());
}

// nChange moves with every change of the document and stays between reads; offsets at,
// past and far past the end copy nothing but the terminator; refusals leave the outputs.
TEST_F(WriterOutput, PartsTellChangesEndsAndRefusals) {
    CWriterCalls writer;
    EXPECT_EQ(0u, CopyPart(writer, 0, 16).record.CopyDocumentPart);
    EXPECT_EQ(std::vector<std::string>{kNoDocument}, DescribedLog());
    CSimHost::instance().clearLog();
    writer.reset();
    const std::vector<std::function<void()>> changes = {
        [&] { writer.addKeyNumber("a", 1); },
        [&] { writer.addKey("b"); },
        [&] { writer.startArray(); },
        [&] { writer.addDint(2); },
        [&] { writer.endArray(); },
        [&] { writer.reset(); },
        [&] { writer.addKey("r"), writer.addRawObject("{}"); },
        [&] { writer.addKeyNull("c"); },
    };
    std::vector<uint32_t> seen = {CopyPart(writer, 0, 16).record.nChange};
    for (const auto& change : changes) {
        change();
        const uint32_t now = CopyPart(writer, 0, 16).record.nChange;
        EXPECT_EQ(now, CopyPart(writer, 3, 2).record.nChange);  // reading changes nothing
        EXPECT_NE(seen.back(), now) << seen.size();
        seen.push_back(now);
    }
    const size_t length = writer.length();
    for (size_t offset : {length, length + 1, size_t{0xFFFFFFFFu}}) {
        const PartCall call = CopyPart(writer, offset, 16);
        EXPECT_EQ(0u, call.record.CopyDocumentPart) << offset;
        EXPECT_EQ(length, call.record.nLength);
        EXPECT_EQ('\0', call.buffer[0]);
        EXPECT_EQ(std::string(23, '#'), call.buffer.substr(1));
    }
    EXPECT_TRUE(DescribedLog().empty());
    for (const PartCall& call : {CopyPart(writer, 0, 16, true), CopyPart(writer, 0, 0)}) {
        EXPECT_EQ(0u, call.record.CopyDocumentPart);
        EXPECT_EQ(88u, call.record.nLength);
        EXPECT_EQ(99u, call.record.nChange);
    }
    EXPECT_EQ(std::vector<std::string>(2, kInvalid), DescribedLog());
}

TEST_F(WriterOutput, ReadingDoesNotChangeTheDocument) {
    CWriterCalls writer;
    writer.reset();
    writer.addKeyNumber("a", 1);
    EXPECT_EQ(R"({"a":1})", writer.text());
    EXPECT_EQ(R"({"a":1})", GetDocumentField(writer));
    EXPECT_EQ(R"({"a":1})", writer.text());
    writer.addKeyNumber("b", 2);
    EXPECT_EQ(R"({"a":1,"b":2})", writer.text());
}

// The body and the ten methods without action leave their records, the document and
// the pending key exactly as they were, and log nothing.
// The serialiser also writes what only variables put into documents: nested containers,
// true and false, 64-bit numbers, non-finite numbers at any depth.
TEST(JsonOutput, WritesNestedValuesCompactly) {
    CJsonDocument document;
    document.Parse(R"({"a":[1,2.5,{"b":"c","e":[]}],"t":true,"f":false,"u":18446744073709551615,)"
                   R"("i":-9223372036854775808,"o":{},"n":null})");
    ASSERT_FALSE(document.HasParseError());
    document["a"][1].SetDouble(std::numeric_limits<double>::quiet_NaN());
    document["a"][2]["e"].PushBack(CJsonValue(-std::numeric_limits<double>::infinity()),
                                   document.GetAllocator());
    EXPECT_EQ(R"({"a":[1,null,{"b":"c","e":[null]}],"t":true,"f":false,"u":18446744073709551615,)"
              R"("i":-9223372036854775808,"o":{},"n":null})",
              JsonText(document));
    EXPECT_EQ("42", JsonText(CJsonValue(42)));
    EXPECT_EQ("{}", JsonText(CJsonValue(rapidjson::kObjectType)));
    EXPECT_EQ("-1.5e-7", JsonText(CJsonValue(-1.5e-7)));
}

// RapidJSON's writers are the oracle of the text of a document whose strings are valid
// UTF-8: compact (Writer) and indented (PrettyWriter, two spaces).
std::string RapidJsonText(const rapidjson::Document& document, bool pretty) {
    rapidjson::StringBuffer buffer;
    if (pretty) {
        rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
        writer.SetIndent(' ', 2);
        document.Accept(writer);
    } else {
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        document.Accept(writer);
    }
    return std::string(buffer.GetString(), buffer.GetSize());
}

// A document of many members and strings (escaped, long, repaired), and the same with its
// strings repaired beforehand, which RapidJSON writes as the component writes the first.
struct CStringsDocument {
    CJsonDocument component;
    rapidjson::Document repaired;

    CStringsDocument() {
        component.SetObject();
        repaired.SetObject();
        CJsonValue list(rapidjson::kArrayType);
        rapidjson::Value repairedList(rapidjson::kArrayType);
        for (int i = 0; i < 300; ++i) {
            const std::string name = "m" + std::to_string(i) + std::string(static_cast<size_t>(i % 23), 'x');
            std::string text(static_cast<size_t>(i % 41 + (i % 50 == 7 ? 3000 : 0)),
                             static_cast<char>('a' + i % 26));
            text += i % 3 == 0 ? "\xE4" : i % 3 == 1 ? "\n\"" : "";  // repaired, escaped, plain
            if (i % 100 == 5) {
                text += std::string(1500, '\x01') + "\xFC";  // six bytes a byte, then repaired
            }
            Add(name, text, i * 0.25, list, repairedList);
        }
        component.AddMember("list", list, component.GetAllocator());
        repaired.AddMember("list", repairedList, repaired.GetAllocator());
    }

    void Add(const std::string& name, const std::string& text, double number, CJsonValue& list,
             rapidjson::Value& repairedList) {
        CJsonDocument::AllocatorType& allocator = component.GetAllocator();
        component.AddMember(CJsonValue(name.c_str(), allocator), CJsonValue(text.c_str(), allocator),
                            allocator);
        list.PushBack(CJsonValue(text.c_str(), allocator), allocator).PushBack(number, allocator);
        std::string valid;
        RepairUtf8(text.data(), text.size(), valid);
        rapidjson::Document::AllocatorType& oracle = repaired.GetAllocator();
        repaired.AddMember(rapidjson::Value(name.c_str(), oracle), rapidjson::Value(valid.c_str(), oracle),
                           oracle);
        repairedList.PushBack(rapidjson::Value(valid.c_str(), oracle), oracle).PushBack(number, oracle);
    }
};

// A text that grows many times while it is written, compact and indented, in the
// component's text buffer and in a caller's buffer (through the window a long text takes
// there): RapidJSON's text of the repaired strings.
TEST(JsonOutput, ATextIsTheOraclesInEveryBuffer) {
    const CStringsDocument document;
    const std::string expected = RapidJsonText(document.repaired, false);
    ASSERT_GT(expected.size(), 40000u);
    EXPECT_EQ(expected, JsonText(document.component));
    JsonOutputOptions pretty;
    pretty.pretty = true;
    EXPECT_EQ(RapidJsonText(document.repaired, true), JsonText(document.component, pretty));

    CJsonOutputScratch scratch;
    const size_t length = expected.size();
    for (const size_t size : {length + 1, length + 100, length, size_t(1), size_t(0)}) {
        std::vector<char> buffer(size + 1, '#');
        EXPECT_EQ(length, SerializeInto(document.component, buffer.data(), size, scratch)) << size;
        const std::string wanted =
            size > length ? expected + '\0' + std::string(size - length - 1, '#') : std::string(size, '#');
        EXPECT_EQ(wanted + '#', std::string(buffer.data(), buffer.size())) << size;
    }
}

// Short texts into a caller's buffer: written whole with the terminator, or not at all.
TEST(JsonOutput, ACallersBufferTakesATextWholeOrNotAtAll) {
    CJsonDocument document;
    document.Parse(R"({"k":[1,"\u0001",{"":null}],"s":"\u00e4"})");
    ASSERT_FALSE(document.HasParseError());
    const std::string text = "{\"k\":[1,\"\\u0001\",{\"\":null}],\"s\":\"\xC3\xA4\"}";
    EXPECT_EQ(text, JsonText(document));
    CJsonOutputScratch scratch;
    for (size_t size = 0; size <= text.size() + 2; ++size) {
        std::vector<char> buffer(size + 1, '#');
        EXPECT_EQ(text.size(), SerializeInto(document, buffer.data(), size, scratch));
        const std::string wanted = size > text.size() ? text + '\0' + std::string(size - text.size() - 1, '#')
                                                      : std::string(size, '#');
        EXPECT_EQ(wanted + '#', std::string(buffer.data(), buffer.size())) << size;
    }
}

// Indented text, against PrettyWriter: empty and nested containers at every depth, a
// scalar root, members whose values are containers.
TEST(JsonOutput, IndentedTextIsPrettyWritersText) {
    const char* const texts[] = {
        "{}",
        "[]",
        "7",
        R"("s")",
        R"({"a":{},"b":[],"c":[[],{}],"d":{"e":{"f":[1,[2,[3]],{"g":null}]}}})",
        R"([{"a":1,"b":[true,false]},[[[]]],-0.5,"x\ty"])",
    };
    JsonOutputOptions pretty;
    pretty.pretty = true;
    for (const char* text : texts) {
        rapidjson::Document oracle;
        oracle.Parse(text);
        CJsonDocument document;
        document.Parse(text);
        ASSERT_FALSE(document.HasParseError()) << text;
        EXPECT_EQ(RapidJsonText(oracle, true), JsonText(document, pretty)) << text;
    }
}

// Depth of nesting does not decide the depth of the call stack.
TEST(JsonOutput, WritesDeepNestingWithoutRecursion) {
    constexpr int kDepth = 200000;
    CJsonDocument document;
    CJsonDocument::AllocatorType& allocator = document.GetAllocator();
    document.SetArray();
    CJsonValue* innermost = &document;
    for (int i = 1; i < kDepth; ++i) {
        innermost->PushBack(CJsonValue(rapidjson::kArrayType), allocator);
        innermost = &(*innermost)[0];
    }
    EXPECT_EQ(std::string(kDepth, '[') + std::string(kDepth, ']'), JsonText(document));
    CJsonOutputScratch scratch;
    std::vector<char> buffer(2 * kDepth + 1);
    EXPECT_EQ(2u * kDepth, SerializeInto(document, buffer.data(), buffer.size(), scratch));
    EXPECT_EQ(std::string(kDepth, '[') + std::string(kDepth, ']'), buffer.data());
}

// While one instance's read-out is held inside its consumer, another instance is made,
// filled and read, and clear() drops every state: none of it waits for the read-out, which
// then finishes on the state it holds. (A wait would hang the test.)
TEST(WriterInstances, NothingWaitsForAnotherInstancesReadOut) {
    CWriterInstances instances;
    fb_jsonsaxwriter_struct held{}, other{}, later{};
    auto number = [](int n) {
        return MakeJsonValueSource(
            [n](CJsonDocument::AllocatorType&, uint32_t, CJsonValue& out) -> const char* {
                out.SetInt(n);
                return nullptr;
            });
    };
    ASSERT_TRUE(instances.With(&held, true, [&](CJsonWriter& writer) {
        writer.Reset();
        auto one = number(1);
        EXPECT_TRUE(writer.AddMember("h", one).done);
    }));
    std::promise<void> entered, release;
    std::string seen;
    std::thread reading([&] {
        instances.With(&held, false, [&](CJsonWriter& writer) {
            writer.Read([&](const char* text, size_t length, uint32_t) {
                entered.set_value();
                release.get_future().wait();
                seen.assign(text, length);
            });
        });
    });
    entered.get_future().wait();
    for (fb_jsonsaxwriter_struct* instance : {&other, &later}) {
        size_t length = 0;
        EXPECT_TRUE(instances.With(instance, true, [&](CJsonWriter& writer) {
            writer.Reset();
            auto two = number(2);
            EXPECT_TRUE(writer.AddMember("o", two).done);
            EXPECT_EQ(EWriterRead::kDone, writer.TextLength(length));
        }));
        EXPECT_EQ(7u, length);
        if (instance == &other) {
            instances.Clear();
            EXPECT_EQ(0u, instances.Size());
            EXPECT_FALSE(instances.With(&held, false, [](CJsonWriter&) {}));
        }
    }
    EXPECT_EQ(1u, instances.Size());
    release.set_value();
    reading.join();
    EXPECT_EQ(R"({"h":1})", seen);
}

// A reset keeps what the cycle that ended used and gives back the rest; a refused add
// (beyond the cap) keeps nothing of what it took.
TEST(WriterMemory, AResetKeepsTheLastCyclesSizeAndARefusalKeepsNothing) {
    constexpr size_t kCap = 4 << 20;
    CJsonWriter writer(kCap);
    const std::string chunk(1000, 'x');
    auto chunkValue = [&] {
        return MakeJsonValueSource([&](CJsonDocument::AllocatorType& allocator, uint32_t, CJsonValue& out) {
            out.SetString(chunk.data(), static_cast<rapidjson::SizeType>(chunk.size()), allocator);
            return static_cast<const char*>(nullptr);
        });
    };
    auto cycle = [&](int members) {
        writer.Reset();
        for (int i = 0; i < members; ++i) {
            auto value = chunkValue();
            EXPECT_TRUE(writer.AddMember("m", value).done);
        }
        size_t length = 0;
        EXPECT_EQ(EWriterRead::kDone, writer.TextLength(length));
        return writer.MemoryHeld();
    };
    const size_t small = cycle(10);
    const size_t large = cycle(1000);
    EXPECT_GT(large, small + 1000 * chunk.size());
    EXPECT_GE(cycle(10), large);          // the large cycle's size is kept for one cycle more
    EXPECT_LE(cycle(10), small * 3 / 2);  // then only the small one's
    EXPECT_LE(cycle(10), small * 3 / 2);

    // Beyond the cap: each refused add leaves the memory held as it was.
    writer.Reset();
    size_t before = writer.MemoryHeld();
    int refused = 0;
    for (int i = 0; i < 10000 && refused < 3; ++i) {
        auto value = chunkValue();
        if (writer.AddMember("m", value).done) {
            before = writer.MemoryHeld();
        } else {
            ++refused;
            EXPECT_EQ(before, writer.MemoryHeld());
        }
    }
    EXPECT_EQ(3, refused);
    EXPECT_LE(before, kCap);
}

// Runs check(cap, writer) for a fresh writer with a reset document at every cap of a
// sweep from nothing to a few chunks of the document's pool.
void ForEveryCap(const std::function<void(size_t, CJsonWriter&)>& check) {
    for (size_t cap = 0; cap < 12000; cap += 8) {
        CJsonWriter writer(cap);
        writer.Reset();
        check(cap, writer);
    }
}

// At every cap, a member refused leaves its object whole. RapidJSON raises an object's
// room before it asks for the memory: a growth refused must not leave the object claiming
// room it has not got, or the next member is written beyond its members.
TEST(WriterMemory, AMemberRefusedAtTheCapLeavesItsObjectWhole) {
    const std::string longKey(20, 'k');
    int refused = 0;
    int compared = 0;
    ForEveryCap([&](size_t cap, CJsonWriter& writer) {
        std::string expected = "{";
        for (int i = 0; i < 40; ++i) {
            // Short keys are held in their values: only the object's growth takes memory.
            const std::string key = i % 3 == 2 ? longKey : "m" + std::to_string(i);
            if (writer.AddKey(key.c_str(), false).done) {
                expected += (expected.size() > 1 ? ",\"" : "\"") + key + "\":null";
            } else {
                ++refused;
            }
        }
        expected += "}";
        std::string text;
        const EWriterRead read =
            writer.Read([&text](const char* bytes, size_t length, uint32_t) { text.assign(bytes, length); });
        if (read == EWriterRead::kDone) {  // the text itself may be beyond a small cap
            ++compared;
            EXPECT_EQ(expected, text) << "cap " << cap;
        }
    });
    EXPECT_GT(refused, 100);
    EXPECT_GT(compared, 1000);
}

// At every cap, a change source that made its value (and so took it as sent) has it added:
// the room for the member and its key are taken before the value is made, so the add is
// refused before Make or not at all. A source that makes nothing adds nothing.
TEST(WriterMemory, AMadeChangeIsAlwaysAdded) {
    const std::string text(300, 'x');
    int refused = 0;
    int added = 0;
    ForEveryCap([&](size_t cap, CJsonWriter& writer) {
        // Sixteen members fill the root object's first room: the next member must grow it.
        bool filled = true;
        std::string expected = "{";
        for (int i = 0; i < 16 && filled; ++i) {
            filled = writer.AddKey("k", false).done;
            expected += i == 0 ? "\"k\":null" : ",\"k\":null";
        }
        if (!filled) {
            return;
        }
        for (bool make : {false, true}) {
            bool made = false;
            auto source = MakeJsonChangeSource(
                [&](CJsonDocument::AllocatorType& allocator, uint32_t, CJsonValue& out, bool& madeOut) {
                    out.SetString(text.data(), static_cast<rapidjson::SizeType>(text.size()), allocator);
                    made = madeOut = make;
                    return static_cast<const char*>(nullptr);
                });
            const size_t held = writer.MemoryHeld();
            const CWriterOutcome outcome = writer.AddChanges("changes", source);
            EXPECT_EQ(made, outcome.done && make) << "cap " << cap;
            if (!outcome.done) {
                ++refused;
                EXPECT_EQ(held, writer.MemoryHeld()) << "cap " << cap;
            } else if (make) {
                ++added;
                expected += ",\"changes\":\"" + text + "\"";
            }
        }
        std::string read;
        if (writer.Read([&read](const char* bytes, size_t length, uint32_t) {
                read.assign(bytes, length);
            }) == EWriterRead::kDone) {
            EXPECT_EQ(expected + "}", read) << "cap " << cap;
        }
    });
    EXPECT_GT(refused, 0);
    EXPECT_GT(added, 0);
}

}  // namespace
