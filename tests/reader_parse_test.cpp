// The reader block's parse: its record, the refusals, the document it replaces and the
// memory cap; the JSON parsing test suite and deeply nested texts on an ordinary thread
// and on one whose stack is as small as an IEC task's (256 KiB).
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "reader/JsonReader.h"
#include "support/ComponentFixture.h"
#include "support/ConformanceSuite.h"
#include "support/ReaderCalls.h"
#include "support/WriterCalls.h"

namespace {

class ReaderParseTest : public ComponentTest {
   protected:
    // Every suite text through Parse: n_ refused with an offset inside the text and a
    // reason, y_ accepted with a document, i_ either, none crashing; nothing logged.
    void CheckSuite() {
        const std::vector<SuiteText> texts = ReadConformanceSuite();
        size_t refused = 0, accepted = 0;
        for (const SuiteText& text : texts) {
            const fb_jsonreader_parse_struct p = reader_.parse(text.bytes);
            // The text ends at its first zero byte.
            const size_t length = std::min(text.bytes.size(), std::strlen(text.bytes.c_str()));
            const bool mustRefuse = text.name[0] == 'n' && text.name != "n_multidigit_number_then_00.json";
            const bool mustAccept = text.name[0] == 'y' || text.name == "n_multidigit_number_then_00.json";
            if (p.Parse == 1) {
                ++accepted;
                EXPECT_FALSE(mustRefuse) << text.name;
                EXPECT_EQ(0u, p.nErrorOffset) << text.name;
                EXPECT_STREQ("", p.sError) << text.name;
                EXPECT_NE(0, reader_.kind("")) << text.name;
            } else {
                ++refused;
                EXPECT_EQ(0, p.Parse) << text.name;
                EXPECT_FALSE(mustAccept) << text.name << ": " << p.sError;
                EXPECT_LE(p.nErrorOffset, length) << text.name;
                EXPECT_NE(0u, std::strlen(p.sError)) << text.name;
                EXPECT_EQ(0, reader_.kind("")) << text.name;
            }
        }
        EXPECT_EQ(318u, texts.size()) << ConformanceSuiteDirectory();
        EXPECT_GE(refused, 187u);
        EXPECT_GE(accepted, 96u);
        EXPECT_TRUE(logTexts().empty());
    }

    // Texts nested 100000 levels deep, valid and not, read back by a path as deep.
    void CheckDeepNesting() {
        const size_t depth = 100000;
        const std::string arrays = Repeat("[", depth) + Repeat("]", depth);
        ASSERT_EQ(1, reader_.parse(arrays).Parse);
        const std::string path = Repeat("/0", depth - 1);
        EXPECT_EQ(6, reader_.kind(path.c_str()));
        EXPECT_EQ(0, reader_.size(path.c_str()));
        EXPECT_EQ(arrays, reader_.raw(""));
        const std::string objects = Repeat("{\"a\":", depth) + "1" + Repeat("}", depth);
        ASSERT_EQ(1, reader_.parse(objects).Parse);
        EXPECT_EQ(1, reader_.getDint(Repeat("/a", depth).c_str(), 0).value);
        EXPECT_EQ(0, reader_.parse(Repeat("[", depth)).Parse);
        EXPECT_EQ(0, reader_.parse(Repeat("{\"a\":", depth)).Parse);
        EXPECT_EQ(0, reader_.parse(arrays + "]").Parse);
    }

    CReaderCalls reader_;
};

TEST_F(ReaderParseTest, SuccessAndRefusalFillTheRecord) {
    const struct {
        const char* what;
        std::string text;
        RTS_IEC_BOOL ok;
        RTS_IEC_UDINT offset;
        const char* error;
    } cases[] = {
        {"object", R"({"a":[1,2]})", 1, 0, ""},
        {"scalar root", "  7 ", 1, 0, ""},
        {"trailing comma", R"({"a":1,})", 0, 7, "Missing a name for object member."},
        {"unclosed array", "[1,2", 0, 4, "Missing a comma or ']' after an array element."},
        {"empty", "", 0, 0, "The document is empty."},
        {"two roots", "1 2", 0, 2, "The document root must not be followed by other values."},
        {"unclosed string", "[\"abc", 0, 5, "Missing a closing quotation mark in string."},
        {"bad escape", R"(["a\x"])", 0, 3, "Invalid escape character in string."},
        {"number beyond doubles", "[1e400]", 0, 1, "Number too big to be stored in double."},
        {"comment", "[1]//", 0, 3, "The document root must not be followed by other values."},
        {"NaN", "[NaN]", 0, 1, "Invalid value."},
        {"byte order mark", "\xEF\xBB\xBF[]", 1, 0, ""},
        {"byte order mark alone", "\xEF\xBB\xBF", 0, 3, "The document is empty."},
        {"part of a byte order mark", "\xEF\xBB[]", 0, 0, "Invalid value."},
        {"byte order mark, then a fault", "\xEF\xBB\xBF[1,]", 0, 6, "Invalid value."},
        {"cut at a zero byte", std::string("[1]\0garbage", 11), 1, 0, ""},
        {"zero byte inside", std::string("[1\0]", 4), 0, 2, "Missing a comma or ']' after an array element."},
    };
    for (const auto& c : cases) {
        const fb_jsonreader_parse_struct p = reader_.parse(c.text);
        EXPECT_EQ(c.ok, p.Parse) << c.what;
        EXPECT_EQ(c.offset, p.nErrorOffset) << c.what;
        EXPECT_STREQ(c.error, p.sError) << c.what;
    }
    EXPECT_TRUE(logTexts().empty());  // the caller has the error
}

TEST_F(ReaderParseTest, OnlyTheFirstNSizeBytesAreTheText) {
    char text[] = "[10,20]XYZ";
    EXPECT_EQ(1, reader_.parseRaw(text, 7).Parse);
    EXPECT_EQ("[10,20]", reader_.raw(""));
    EXPECT_EQ(0, reader_.parseRaw(text, 6).Parse);
    EXPECT_EQ(0, reader_.parseRaw(text, 8).Parse);
}

TEST_F(ReaderParseTest, ANewParseReplacesTheDocumentAndAFailedOneDropsIt) {
    CReaderCalls other;
    ASSERT_EQ(1, reader_.parse(R"({"v":1})").Parse);
    ASSERT_EQ(1, other.parse(R"({"v":2})").Parse);
    ASSERT_EQ(1, reader_.parse(R"({"w":3})").Parse);
    EXPECT_EQ(R"({"w":3})", reader_.raw(""));
    EXPECT_EQ(R"({"v":2})", other.raw(""));  // instances are apart
    EXPECT_EQ(0, reader_.parse("{").Parse);
    EXPECT_EQ("<none>", reader_.raw(""));
    EXPECT_EQ(R"({"v":2})", other.raw(""));
}

TEST_F(ReaderParseTest, ANullTextIsRefusedAndTheDocumentKept) {
    ASSERT_EQ(1, reader_.parse("[1]").Parse);
    const fb_jsonreader_parse_struct p = reader_.parseRaw(nullptr, 5);
    EXPECT_EQ(0, p.Parse);
    EXPECT_EQ(0u, p.nErrorOffset);
    EXPECT_STREQ("Invalid argument", p.sError);
    EXPECT_EQ(std::vector<std::string>{RefusalRecord("Invalid argument")}, DescribedLog());
    EXPECT_EQ("[1]", reader_.raw(""));
    // With nSize 0 a null text is the empty text.
    CSimHost::instance().clearLog();
    const fb_jsonreader_parse_struct empty = reader_.parseRaw(nullptr, 0);
    EXPECT_EQ(0, empty.Parse);
    EXPECT_STREQ("The document is empty.", empty.sError);
    EXPECT_TRUE(DescribedLog().empty());
    EXPECT_EQ("<none>", reader_.raw(""));
}

TEST(ReaderMemoryCap, DocumentsBeyondTheCapAreRefused) {
    // The cap is set around the measured use of one text: at it the text is taken, one
    // byte below it refused.
    const std::string text = "[" + Repeat("0,", 999) + "0]";
    CJsonParseError error;
    std::shared_ptr<const CParsedJson> unlimited = CParsedJson::Parse(text.data(), text.size(), error);
    ASSERT_NE(nullptr, unlimited);
    const size_t used = unlimited->memoryUsed();
    EXPECT_GT(used, text.size() + 1000 * 16);  // the copy and every value counted

    EXPECT_NE(nullptr, CParsedJson::Parse(text.data(), text.size(), error, used));
    // A short text in a buffer far larger than the cap: only the text counts.
    std::vector<char> buffer(4 * used, '\0');
    std::memcpy(buffer.data(), text.data(), text.size());
    EXPECT_NE(nullptr, CParsedJson::Parse(buffer.data(), buffer.size(), error, used));
    // Below the values' memory: refused, however the pool's chunks fall.
    error = CJsonParseError();
    EXPECT_EQ(nullptr, CParsedJson::Parse(text.data(), text.size(), error, text.size() + 1000 * 16));
    EXPECT_STREQ("The document exceeds the memory cap.", error.reason);
    EXPECT_EQ(0u, error.offset);
    // A text longer than the cap is refused before it is copied or parsed.
    error = CJsonParseError();
    EXPECT_EQ(nullptr, CParsedJson::Parse("[1] garbage", 11, error, 11));
    EXPECT_STREQ("The document exceeds the memory cap.", error.reason);
}

// Under a cap of 1 MiB, a text after another of any size and shape is taken exactly when
// a new document takes it: the memory kept from the earlier text never decides.
TEST(ReaderMemoryCap, WhetherATextFitsDoesNotDependOnTheTextsBefore) {
    const auto shape = [](int kind, size_t bytes) {
        static const char* const kPieces[] = {"\"x\",", "\"yyyyyyyyyyyyyyyyyyyyyyyyyyyyyy\",", "1234567.5,",
                                              "[[[0]]],"};
        if (kind == 0) {
            return "[\"" + std::string(bytes - 4, 'x') + "\"]";  // one long string
        }
        return "[" + Repeat(kPieces[kind], (bytes - 2) / std::strlen(kPieces[kind])) + "0]";
    };
    const size_t cap = 1 << 20;
    size_t taken = 0;
    size_t refused = 0;
    for (int before = 0; before < 4; ++before) {
        for (size_t beforeSize : {300000, 600000, 900000}) {
            const std::string first = shape(before, beforeSize);
            for (int after = 0; after < 4; ++after) {
                for (size_t afterSize : {200000, 450000, 600000, 800000}) {
                    const std::string second = shape(after, afterSize);
                    CParsedJson kept(cap);
                    CParsedJson fresh(cap);
                    CJsonParseError error;
                    kept.Reparse(first.data(), first.size(), error);
                    const bool afterFirst = kept.Reparse(second.data(), second.size(), error);
                    const bool alone = fresh.Reparse(second.data(), second.size(), error);
                    EXPECT_EQ(alone, afterFirst) << "shape " << after << " of " << afterSize
                                                 << " bytes after shape " << before << " of " << beforeSize;
                    (alone ? taken : refused) += 1;
                }
            }
        }
    }
    EXPECT_GT(taken, 40u);  // the table holds both fates
    EXPECT_GT(refused, 40u);
}

// The notes of numbers whose doubles misstate them count within the cap: whole numbers of
// 2^53 and more, each noted with its exact value, need more than their values alone.
TEST_F(ReaderParseTest, NotesOfExactNumbersCountWithinTheCap) {
    std::string plain = "[";
    std::string noted = "[";
    for (int i = 0; i < 20000; ++i) {
        plain += i ? ",1.5" : "1.5";  // 1.5 is what its double says
        noted += i ? ",1e18" : "1e18";
    }
    plain += "]";
    noted += "]";
    CJsonParseError error;
    const auto measured = CParsedJson::Parse(plain.data(), plain.size(), error, kDocumentMemoryCap);
    ASSERT_NE(nullptr, measured);
    const size_t cap = measured->memoryUsed() + noted.size() - plain.size() + 4096;
    EXPECT_NE(nullptr, CParsedJson::Parse(plain.data(), plain.size(), error, cap));
    error = CJsonParseError();
    EXPECT_EQ(nullptr, CParsedJson::Parse(noted.data(), noted.size(), error, cap));
    EXPECT_STREQ("The document exceeds the memory cap.", error.reason);
    const auto taken = CParsedJson::Parse(noted.data(), noted.size(), error, kDocumentMemoryCap);
    ASSERT_NE(nullptr, taken);
    EXPECT_GT(taken->memoryUsed(), cap);
}

// Verdicts at the edges of numbers and escapes, the same for the reader's Parse and the
// writer's raw adds: a number in range is taken whatever its spelling, one beyond double
// range is refused, and a lone surrogate of either half is refused.
TEST_F(ReaderParseTest, EdgeNumbersAndSurrogatesHaveOneVerdictEverywhere) {
    const std::string longOne = "[1" + Repeat("0", 10000000) + "e-10000000]";
    struct Case {
        std::string text;
        bool taken;
        double value;  // the first element's value, when taken and a number
    };
    const std::vector<Case> cases = {
        {"[0e400]", true, 0.0},
        {"[-0.0e-99999]", true, 0.0},
        {longOne, true, 1.0},
        {"[1.7976931348623157e308]", true, 1.7976931348623157e308},
        {"[1.8e308]", false, 0},
        {"[-1.8e308]", false, 0},
        {"[1e999999]", false, 0},
        {"[0e550e5]", false, 0},  // no number of JSON's grammar, however long its exponent
        {"[0e550.....]", false, 0},
        {R"(["\ud83d\ude00"])", true, 0},
        {R"(["\ud800"])", false, 0},
        {R"(["\udc00"])", false, 0},
        {R"(["\udc00\ud800"])", false, 0},
        {R"(["a\udfffb"])", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        const fb_jsonreader_parse_struct p = reader_.parse(c.text);
        EXPECT_EQ(c.taken ? 1 : 0, p.Parse) << p.sError;
        EXPECT_EQ(c.taken, std::strlen(p.sError) == 0) << p.sError;
        if (c.taken && c.text[1] != '"') {
            EXPECT_EQ(c.value, reader_.getLreal("/0", -1).value);
        }
        if (!c.taken) {
            EXPECT_NE(0u, std::strlen(p.sError));
            EXPECT_EQ(0, reader_.kind(""));
            EXPECT_EQ("<none>", reader_.raw(""));
        }
        CWriterCalls writer;
        writer.reset();
        writer.addKey("k");
        writer.addRawArray(c.text);
        EXPECT_EQ(c.taken, writer.text() != "{\"k\":null}") << writer.text().substr(0, 40);
    }
}

TEST_F(ReaderParseTest, SuiteTextsAreJudgedByTheJsonGrammar) { CheckSuite(); }

TEST_F(ReaderParseTest, SuiteTextsAreJudgedOnATaskSizedStack) {
    RunOnStack(kTaskStack, [this] { CheckSuite(); });
}

TEST_F(ReaderParseTest, DeeplyNestedTextsAreParsedAndReadOnATaskSizedStack) {
    RunOnStack(kTaskStack, [this] { CheckDeepNesting(); });
}

}  // namespace

// The instances' map: a state made on first use holds the document set on it; clear()
// forgets every instance while a read keeps the document it holds.
TEST(ReaderInstances, TheMapMakesFindsAndForgetsStates) {
    CReaderInstances instances;
    int records[2] = {};
    EXPECT_EQ(nullptr, instances.find(&records[0]));
    CJsonParseError error;
    std::shared_ptr<const CParsedJson> parsed = CParsedJson::Parse("[1]", 3, error);
    ASSERT_NE(nullptr, parsed);
    instances.findOrAdd(&records[0])->setDocument(parsed);
    EXPECT_EQ(instances.findOrAdd(&records[0]), instances.find(&records[0]));
    EXPECT_EQ(parsed.get(), instances.documentOf(&records[0]).get());
    EXPECT_EQ(nullptr, instances.documentOf(&records[1]).get());
    const CDocumentRef held = instances.documentOf(&records[0]);
    instances.clear();
    EXPECT_EQ(nullptr, instances.find(&records[0]));
    ASSERT_TRUE(held);
    EXPECT_EQ(1, SizeOf(&held->root()));
}
