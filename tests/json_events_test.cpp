// The component's one reader of JSON text, with RapidJSON as the oracle (JsonOracle.h):
// on every text of the conformance suite and of the fuzz corpus the same verdict, offset
// and reason, through the events and through both kinds of document; documents that hold
// what the text says, number by number from its own spelling; edges of the grammar;
// depth on a task's stack; decimals as strtod reads them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "json/JsonEvents.h"
#include "json/JsonParse.h"
#include "support/ConformanceSuite.h"
#include "support/JsonOracle.h"

namespace {

// Takes every event, and every key of plain characters ahead, as JSON to variable does.
struct CEventCounter {
    bool Null() { return ++events; }
    bool Bool(bool) { return ++events; }
    bool Number(const CNumberSpelling&) { return ++events; }
    bool String(char*, size_t) { return ++events; }
    bool Key(char*, size_t) { return ++events; }
    size_t KeyAhead(const char* key) {
        size_t length = 0;
        while (key[length] != '"' && key[length] != '\\' && static_cast<unsigned char>(key[length]) >= 0x20) {
            ++length;
        }
        return key[length] == '"' ? length + 1 : 0;
    }
    bool StartObject() { return ++events; }
    bool EndObject() { return ++events; }
    bool StartArray() { return ++events; }
    bool EndArray() { return ++events; }
    size_t events = 0;
};

json_oracle::CVerdict VerdictOf(bool accepted, size_t offset, const char* reason) {
    json_oracle::CVerdict verdict;
    verdict.accepted = accepted;
    verdict.offset = accepted ? 0 : offset;
    verdict.reason = accepted ? "" : reason;
    return verdict;
}

// The events of the text up to its first zero byte, without a byte order mark, as JSON
// to variable reads it.
json_oracle::CVerdict EventVerdict(const std::string& bytes) {
    size_t mark = 0;
    const std::string text = json_oracle::TextOf(bytes, mark);
    std::vector<char> copy(text.begin(), text.end());
    copy.resize(copy.size() + 1 + kJsonTextPadding, '\0');
    std::vector<char> open;
    CEventCounter counter;
    const CJsonRead read = ReadJsonEvents(copy.data(), open, counter);
    EXPECT_NE(EJsonEvents::kStopped, read.outcome);
    const bool parsed = read.outcome == EJsonEvents::kParsed;
    return VerdictOf(parsed, mark + static_cast<size_t>(read.at - copy.data()), JsonFaultText(read.fault));
}

// A document of the component, with the memory it keeps.
struct CParsed {
    CParsed(const std::string& bytes, EJsonStrings strings) {
        CJsonParseError error;
        parsed = ParseJson(bytes.data(), bytes.size(), document, CJsonParseMemory{text, frames}, strings,
                           &error, &exact);
        verdict = VerdictOf(parsed, error.offset, error.reason);
    }
    CRetainedBlock text;
    CRetainedBlock frames;
    CJsonDocument document;
    CExactNumbers exact;
    bool parsed = false;
    json_oracle::CVerdict verdict;
};

std::string Describe(const json_oracle::CVerdict& v) {
    return v.accepted ? "accepted" : "refused at " + std::to_string(v.offset) + ": " + v.reason;
}

// Compares the component's document with the model of the same text, value by value
// (without recursion: texts nest deep): kinds, strings and names, and every number with
// what its own spelling says: an integer kind for an integer of 64 bits, else the double
// strtod reads; a note of its exact value exactly where its double cannot tell it.
void ExpectSameValues(const CParsed& ours, const json_oracle::CModel& model, const std::string& name) {
    std::vector<std::pair<const CJsonValue*, const rapidjson::Value*>> pending{
        {&ours.document, &model.root()}};
    size_t failures = 0;
    const auto fail = [&](const std::string& what) {
        if (++failures <= 3) {
            ADD_FAILURE() << name << ": " << what;
        }
    };
    while (!pending.empty() && failures == 0) {
        const CJsonValue& v = *pending.back().first;
        const rapidjson::Value& m = *pending.back().second;
        pending.pop_back();
        if (m.IsString() && model.IsNumber(m)) {
            const std::string spelling = model.SpellingOf(m);
            if (!v.IsNumber()) {
                fail(spelling + " is no number");
                continue;
            }
            if (json_oracle::IntegerSpelling(spelling)) {
                __int128 whole = 0;
                json_oracle::WholeOf(spelling, whole);
                const __int128 got = v.IsUint64()  ? __int128(v.GetUint64())
                                     : v.IsInt64() ? __int128(v.GetInt64())
                                                   : -1;
                if (v.IsDouble() || got != whole || v.IsInt() != (whole >= INT32_MIN && whole <= INT32_MAX) ||
                    v.IsUint() != (whole >= 0 && whole <= UINT32_MAX)) {
                    fail(spelling + " is not the integer of its kind");
                }
                continue;
            }
            const double expected = json_oracle::Strtod(spelling);
            const double got = v.IsDouble() ? v.GetDouble() : 0.0;
            if (!v.IsDouble() || std::memcmp(&expected, &got, sizeof(double)) != 0) {
                fail(spelling + " is not the double strtod reads");
                continue;
            }
            __int128 whole = __int128{1} << 100;  // stays so beyond 20 digits
            const json_oracle::EWhole kind = json_oracle::WholeOf(spelling, whole);
            const __int128 magnitude = whole < 0 ? -whole : whole;
            const bool fits = kind != json_oracle::EWhole::kNotWhole && magnitude <= __int128{UINT64_MAX};
            const bool misstated =
                std::trunc(expected) == expected &&
                (kind == json_oracle::EWhole::kNotWhole ||
                 (std::fabs(expected) >= 0x1p53 && expected >= -0x1p63 && expected <= 0x1p64));
            const CExactNumber* exact = ours.exact.find(&v);
            if (misstated != (exact != nullptr) ||
                (exact != nullptr &&
                 (exact->whole != (kind != json_oracle::EWhole::kNotWhole) || exact->fits != fits ||
                  (fits && __int128{exact->magnitude} != magnitude)))) {
                fail(spelling + (exact != nullptr ? " noted otherwise" : " not noted"));
            }
            continue;
        }
        if (v.GetType() != m.GetType()) {
            fail("kinds differ");
        } else if (m.IsString()) {
            if (std::string(v.GetString(), v.GetStringLength()) !=
                std::string(m.GetString(), m.GetStringLength())) {
                fail("strings differ");
            }
        } else if (m.IsArray()) {
            if (v.Size() != m.Size()) {
                fail("sizes differ");
                continue;
            }
            for (rapidjson::SizeType i = 0; i < m.Size(); ++i) {
                pending.emplace_back(&v[i], &m[i]);
            }
        } else if (m.IsObject()) {
            if (v.MemberCount() != m.MemberCount()) {
                fail("member counts differ");
                continue;
            }
            for (rapidjson::SizeType i = 0; i < m.MemberCount(); ++i) {
                const auto& ourMember = v.MemberBegin()[i];
                const auto& modelMember = m.MemberBegin()[i];
                if (std::string(ourMember.name.GetString(), ourMember.name.GetStringLength()) !=
                    std::string(modelMember.name.GetString(), modelMember.name.GetStringLength())) {
                    fail("names differ");
                }
                pending.emplace_back(&ourMember.value, &modelMember.value);
            }
        }
    }
}

// Every text of the suite and the fuzz corpus.
std::vector<SuiteText> Texts() {
    std::vector<SuiteText> texts = ReadConformanceSuite();
    EXPECT_EQ(318u, texts.size());
    const std::vector<SuiteText> corpus = ReadFuzzCorpusTexts();
    EXPECT_GT(corpus.size(), 40u);
    texts.insert(texts.end(), corpus.begin(), corpus.end());
    return texts;
}

}  // namespace

TEST(JsonReader, VerdictsOffsetsAndReasonsAreRapidJsonsWithTheDecidedDeviations) {
    size_t refused = 0;
    size_t deviations = 0;
    for (const SuiteText& text : Texts()) {
        const json_oracle::CVerdict expected = json_oracle::Judge(text.bytes);
        const std::string want = Describe(expected);
        EXPECT_EQ(want, Describe(EventVerdict(text.bytes))) << text.name << " (events)";
        EXPECT_EQ(want, Describe(CParsed(text.bytes, EJsonStrings::kInCopy).verdict)) << text.name;
        EXPECT_EQ(want, Describe(CParsed(text.bytes, EJsonStrings::kCopied).verdict))
            << text.name << " (copied)";
        if (text.name[0] == 'y') {
            EXPECT_TRUE(expected.accepted) << text.name;
        }
        if (text.name[0] == 'n' && text.name != "n_multidigit_number_then_00.json") {  // it ends at its zero
            EXPECT_FALSE(expected.accepted) << text.name;
        }
        refused += expected.accepted ? 0 : 1;
        size_t mark = 0;
        rapidjson::Document plain;
        plain.Parse<rapidjson::kParseIterativeFlag>(json_oracle::TextOf(text.bytes, mark).c_str());
        deviations += plain.HasParseError() != !expected.accepted ? 1 : 0;
    }
    EXPECT_GT(refused, 200u);
    EXPECT_GT(deviations, 3u);  // the corpus holds every decided deviation
}

TEST(JsonReader, DocumentsHoldWhatTheTextSays) {
    size_t compared = 0;
    for (const SuiteText& text : Texts()) {
        const json_oracle::CModel model(text.bytes);
        const CParsed inCopy(text.bytes, EJsonStrings::kInCopy);
        if (!inCopy.parsed || !model.parsed()) {
            continue;
        }
        ExpectSameValues(inCopy, model, text.name);
        ExpectSameValues(CParsed(text.bytes, EJsonStrings::kCopied), model, text.name + " (copied)");
        ++compared;
    }
    EXPECT_GT(compared, 120u);
}

// Edges of the grammar and the decided deviations from RapidJSON, with offset and reason.
TEST(JsonReader, EdgesOfTheGrammar) {
    const std::string longMalformed = "[1" + std::string(400, '0') + "e]";
    const struct {
        std::string text;
        const char* verdict;
    } cases[] = {
        {R"( {"a" : [1, -0.5e+3, true, false, null, "x", {}, []]} )", "accepted"},
        {R"(["\u00e9\ud83d\ude00\"\\\/\b\f\n\r\t\u0000"])", "accepted"},
        {"\xEF\xBB\xBF[]", "accepted"},
        {"[0e400,-0.0e-99999,1e-400,4.9e-324]", "accepted"},  // by value, not by spelling
        {"[1.7976931348623157e308]", "accepted"},
        {"[1,1.8e308]", "refused at 3: Number too big to be stored in double."},
        {"[-17976931348623159e292]", "refused at 1: Number too big to be stored in double."},
        {"[" + std::string(309, '9') + "]", "refused at 1: Number too big to be stored in double."},
        {longMalformed, "refused at 403: Miss exponent in number."},
        {"[208e18-4.9e-324]", "refused at 7: Missing a comma or ']' after an array element."},
        {R"([1,"a\udc00"])", "refused at 5: The surrogate pair in string is invalid."},
        {R"(["\ud83d"])", "refused at 2: The surrogate pair in string is invalid."},
        {R"(["\ud83d\u0041"])", "refused at 2: The surrogate pair in string is invalid."},
        {R"(["\ud83d\uzzzz"])", "refused at 2: Incorrect hex digit after \\u escape in string."},
        {"[\"\x01\"]", "refused at 2: Invalid escape character in string."},
        {"[\"abc", "refused at 5: Missing a closing quotation mark in string."},
        {"[1,]", "refused at 3: Invalid value."},
        {"{\"a\":1,}", "refused at 7: Missing a name for object member."},
        {"{\"a\" 1}", "refused at 5: Missing a colon after a name of object member."},
        {"{\"a\":1 \"b\"}", "refused at 7: Missing a comma or '}' after an object member."},
        {"[01]", "refused at 2: Missing a comma or ']' after an array element."},
        {"[1.]", "refused at 3: Miss fraction part in number."},
        {"[-]", "refused at 2: Invalid value."},
        {"[tru]", "refused at 4: Invalid value."},
        {"[1] [2]", "refused at 4: The document root must not be followed by other values."},
        {"  ", "refused at 2: The document is empty."},
        {"]", "refused at 0: The document is empty."},
        {"\xEF\xBB[]", "refused at 0: Invalid value."},
        {"\xEF\xBB\xBF[1,]", "refused at 6: Invalid value."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.verdict, Describe(json_oracle::Judge(c.text))) << c.text.substr(0, 40) << " (oracle)";
        EXPECT_EQ(c.verdict, Describe(CParsed(c.text, EJsonStrings::kInCopy).verdict))
            << c.text.substr(0, 40);
    }
}

TEST(JsonReader, DeepNestingLivesInTheCallersStack) {
    RunOnStack(kTaskStack, [] {
        const size_t depth = 200000;
        const std::string arrays = Repeat("[", depth) + Repeat("]", depth);
        EXPECT_EQ("accepted", Describe(EventVerdict(arrays)));
        EXPECT_EQ("accepted", Describe(EventVerdict(Repeat("{\"a\":", depth) + "1" + Repeat("}", depth))));
        EXPECT_EQ("refused at 399999: Missing a comma or ']' after an array element.",
                  Describe(EventVerdict(Repeat("[", depth) + Repeat("]", depth - 1))));
        const CParsed parsed(arrays, EJsonStrings::kInCopy);
        ASSERT_TRUE(parsed.parsed);
        const CJsonValue* inner = &parsed.document;
        for (size_t level = 1; level < depth && inner->IsArray() && inner->Size() == 1; ++level) {
            inner = &(*inner)[0];
        }
        EXPECT_TRUE(inner->IsArray() && inner->Empty());
    });
}

// Random decimals of 1 to 20 significant digits, with and without exponents, the range
// read in extended precision and its edges, and exact midpoints between two doubles and
// their neighbours (where rounding twice would go wrong): every one read as strtod reads
// it, through its text and through the digits the reader read on the way.
TEST(JsonNumbers, DecimalsAreWhatStrtodReads) {
    std::mt19937_64 random(20261208);
    std::vector<std::string> texts = {"0.0",
                                      "-0.0",
                                      "0.1",
                                      "999999999999999.0",
                                      "9999999999999999.0",
                                      "0.0000000000000000000001",
                                      "1.0000000000000000000001",
                                      "9007199254740993.0",
                                      "1.7976931348623157e308",
                                      "4.9406564584124654e-324",
                                      "2.4703282292062328e-324",
                                      "9999999999999999999e27",
                                      "1234567890123456789e-28",
                                      "0.1234567890123456789"};
    for (int i = 0; i < 20000; ++i) {
        const int digits = 1 + static_cast<int>(random() % 20);
        std::string number = std::to_string(1 + random() % 9);
        for (int d = 1; d < digits; ++d) {
            number += static_cast<char>('0' + random() % 10);
        }
        number.insert(1 + random() % digits, ".");
        if (number.back() == '.') {
            number += '0';
        }
        if (random() % 2) {
            number += "e" + std::to_string(static_cast<int>(random() % 71) - 35);
        }
        texts.push_back((random() % 2 ? "-" : "") + number);
    }
    for (int i = 0; i < 5000; ++i) {
        // An odd 54-bit significand lies halfway between two doubles; shifted, it stays so.
        const uint64_t midpoint = ((uint64_t{1} << 53) | (random() & ((uint64_t{1} << 53) - 1)) | 1)
                                  << (random() % 7);
        for (const uint64_t near : {midpoint - 1, midpoint, midpoint + 1}) {
            texts.push_back(std::to_string(near) + ".0");
            texts.push_back(std::to_string(near) + "e-" + std::to_string(random() % 28));
        }
    }
    size_t wrong = 0;
    for (const std::string& text : texts) {
        std::vector<char> padded(text.begin(), text.end());
        padded.resize(text.size() + 1 + kJsonTextPadding, '\0');
        CNumberSpelling spelling;
        ASSERT_NE(nullptr, ReadNumber(padded.data(), spelling)) << text;
        const double expected = json_oracle::Strtod(text);
        const CJsonNumber onTheWay = ReadJsonNumber(spelling);
        const double fromText = DecimalValue(text.data(), text.size());
        if (onTheWay.kind != CJsonNumber::kDouble ||
            std::memcmp(&onTheWay.value, &expected, sizeof(double)) != 0 ||
            std::memcmp(&fromText, &expected, sizeof(double)) != 0) {
            if (++wrong <= 5) {
                ADD_FAILURE() << text << " read as " << onTheWay.value << " and " << fromText << ", strtod "
                              << expected;
            }
        }
    }
    EXPECT_EQ(0u, wrong);
}
