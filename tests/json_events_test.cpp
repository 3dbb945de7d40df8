// The stream reader of JSON texts against the component's document parser: the same
// verdict on every text of the conformance suite, and events that rebuild the same value.
#include <gtest/gtest.h>
#include <rapidjson/writer.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "json/JsonEvents.h"
#include "json/JsonParse.h"
#include "support/ConformanceSuite.h"

namespace {

// Writes the events back out as a text: strings re-escaped, numbers as they were spelt.
class CRewriter {
   public:
    bool Null() { return writer_.Null(); }
    bool Bool(bool b) { return writer_.Bool(b); }
    bool Number(const CNumberSpelling& number) {
        longSpellings_ += number.longSpelling ? 1 : 0;
        // The digits read on the way give the value the number's text gives.
        const CJsonNumber fromText = ReadJsonNumber(number.text, number.length);
        const CJsonNumber fromSpelling = ReadJsonNumber(number);
        if (fromText.kind != fromSpelling.kind || fromText.magnitude != fromSpelling.magnitude ||
            std::memcmp(&fromText.value, &fromSpelling.value, sizeof(double)) != 0) {
            ADD_FAILURE() << std::string(number.text, number.length) << " read otherwise on the way";
        }
        return writer_.RawValue(number.text, number.length, rapidjson::kNumberType);
    }
    bool String(char* text, size_t length) {
        return writer_.String(text, static_cast<rapidjson::SizeType>(length));
    }
    bool Key(char* text, size_t length) {
        return writer_.Key(text, static_cast<rapidjson::SizeType>(length));
    }
    // Takes every key of plain characters ahead, as a handler that expects it would.
    size_t KeyAhead(const char* key) {
        size_t length = 0;
        while (key[length] != '"' && key[length] != '\\' && static_cast<unsigned char>(key[length]) >= 0x20) {
            ++length;
        }
        if (key[length] != '"') {
            return 0;
        }
        writer_.Key(key, static_cast<rapidjson::SizeType>(length));
        return length + 1;
    }
    bool StartObject() { return writer_.StartObject(); }
    bool EndObject() { return writer_.EndObject(); }
    bool StartArray() { return writer_.StartArray(); }
    bool EndArray() { return writer_.EndArray(); }
    std::string text() const { return std::string(buffer_.GetString(), buffer_.GetSize()); }
    size_t longSpellings() const { return longSpellings_; }

   private:
    size_t longSpellings_ = 0;
    rapidjson::StringBuffer buffer_;
    rapidjson::Writer<rapidjson::StringBuffer> writer_{buffer_};
};

struct CReading {
    EJsonEvents verdict;
    std::string rewritten;
    size_t longSpellings;  // numbers marked as long
};

// The text up to its first zero byte, without a byte order mark, as the reader sees it.
CReading ReadEvents(const std::string& bytes) {
    std::string text = bytes.substr(0, bytes.find('\0'));
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text.erase(0, 3);
    }
    std::vector<char> copy(text.begin(), text.end());
    copy.resize(copy.size() + 9, '\0');  // terminated and padded, as the reader requires
    std::vector<char> open;
    CRewriter rewriter;
    const EJsonEvents verdict = ReadJsonEvents(copy.data(), open, rewriter);
    return CReading{verdict, rewriter.text(), rewriter.longSpellings()};
}

bool ParsedByDocument(const std::string& bytes, CJsonDocument& document) {
    CRetainedBlock parserStack;
    CJsonParseOptions options;
    options.infiniteBeyondRange = true;
    const std::string text = bytes.substr(0, bytes.find('\0'));
    return ParseJson(text.data(), text.size(), document, parserStack, nullptr, options);
}

std::string Serialized(const CJsonValue& value) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value.Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace

TEST(JsonEvents, SuiteVerdictsAndValuesAreTheDocumentParsers) {
    const std::vector<SuiteText> texts = ReadConformanceSuite();
    size_t compared = 0;
    for (const SuiteText& text : texts) {
        const CReading reading = ReadEvents(text.bytes);
        CJsonDocument document;
        const bool parsed = ParsedByDocument(text.bytes, document);
        const bool read = reading.verdict == EJsonEvents::kParsed;
        if (text.name[0] == 'y') {
            EXPECT_TRUE(read) << text.name;
        }
        if (parsed != read) {
            // Only a number of a long spelling may be taken by the reader and not by the
            // document parser (a value beyond doubles that RapidJSON refuses to read).
            EXPECT_TRUE(read && reading.longSpellings > 0)
                << text.name << ": reader " << read << ", parser " << parsed;
            continue;
        }
        if (!read) {
            continue;
        }
        ++compared;
        CJsonDocument again;
        ASSERT_TRUE(ParsedByDocument(reading.rewritten, again)) << text.name << ": " << reading.rewritten;
        // Compared as texts: RapidJSON's == does not hold for objects with a duplicate name.
        EXPECT_EQ(Serialized(document), Serialized(again))
            << text.name << ": events rebuilt " << reading.rewritten;
    }
    EXPECT_EQ(318u, texts.size());
    EXPECT_GT(compared, 100u);
}

TEST(JsonEvents, EdgesOfTheGrammar) {
    const struct {
        const char* text;
        bool parsed;
        const char* rewritten;
    } cases[] = {
        {R"( {"a" : [1, -0.5e+3, true, false, null, "x"]} )", true,
         R"({"a":[1,-0.5e+3,true,false,null,"x"]})"},
        {R"(["\u00e9\ud83d\ude00\"\\\/\b\f\n\r\t"])", true,
         "[\"\xC3\xA9\xF0\x9F\x98\x80\\\"\\\\/\\b\\f\\n\\r\\t\"]"},
        {R"(["\u0000"])", true, R"(["\u0000"])"},
        {R"(["\ude00"])", false, ""},        // a lone low surrogate
        {R"(["\ud83d"])", false, ""},        // a high one that no low one follows
        {R"(["\ud83d\u0041"])", false, ""},  // followed by no low one
        {"[\"\x01\"]", false, ""},           // a control character
        {"[1,]", false, ""},
        {"{\"a\":1,}", false, ""},
        {"[01]", false, ""},
        {"[1.]", false, ""},
        {"[.5]", false, ""},
        {"[1e]", false, ""},
        {"[-]", false, ""},
        {"[tru]", false, ""},
        {"[1] [2]", false, ""},
        {"", false, ""},
        {"  ", false, ""},
        {"{\"a\" 1}", false, ""},
        {"{1:1}", false, ""},
        {"[\"abc", false, ""},
    };
    for (const auto& c : cases) {
        const CReading reading = ReadEvents(c.text);
        EXPECT_EQ(c.parsed, reading.verdict == EJsonEvents::kParsed) << c.text;
        if (c.parsed) {
            EXPECT_EQ(c.rewritten, reading.rewritten) << c.text;
        }
    }
    // Numbers are taken whatever their length; those that may lie beyond doubles are marked.
    const struct {
        std::string text;
        size_t longSpellings;
    } numbers[] = {{"[1e99,1E+99,-1.5e-99,0.000001]", 0},
                   {"[1e999999999999]", 1},
                   {"[1e-300,2E+308,0e00]", 2},
                   {"[" + std::string(299, '1') + "]", 0},
                   {"[" + std::string(300, '1') + "]", 1},
                   {"[0." + std::string(298, '0') + "1]", 1},
                   // Integers at the edges of each kind, and decimals at the edge of 19
                   // digits read on the way (the rewriter compares their values).
                   {"[0,-0,4294967295,4294967296,-2147483648,-2147483649,9223372036854775807,"
                    "-9223372036854775808,-9223372036854775809,9999999999999999999,18446744073709551615,"
                    "18446744073709551616,-18446744073709551616,123456789012345678901234]",
                    0},
                   {"[0.0000000000000000000000000000001,1234567890.123456789,1234567890.1234567890,"
                    "0.1234567890123456789e-5,12345678901234567.89e2,1.5e-0,1.5e+00,-0.0e-1]",
                    0}};
    for (const auto& n : numbers) {
        const CReading reading = ReadEvents(n.text);
        EXPECT_EQ(EJsonEvents::kParsed, reading.verdict) << n.text;
        EXPECT_EQ(n.text, reading.rewritten);
        EXPECT_EQ(n.longSpellings, reading.longSpellings) << n.text;
    }
}

TEST(JsonEvents, DeepNestingLivesInTheCallersStack) {
    RunOnStack(kTaskStack, [] {
        const size_t depth = 200000;
        EXPECT_EQ(EJsonEvents::kParsed, ReadEvents(Repeat("[", depth) + Repeat("]", depth)).verdict);
        EXPECT_EQ(EJsonEvents::kParsed,
                  ReadEvents(Repeat("{\"a\":", depth) + "1" + Repeat("}", depth)).verdict);
        EXPECT_EQ(EJsonEvents::kRefused, ReadEvents(Repeat("[", depth) + Repeat("]", depth - 1)).verdict);
    });
}

TEST(JsonNumbers, DecimalsAreWhatStrtodReads) {
    // Random decimals of 1 to 18 digits with 0 to 24 of them after the point, signed, and
    // the edges of the direct computation (15 digits, 22 fraction digits).
    std::mt19937_64 random(20261208);
    std::vector<std::string> texts = {"0.0",
                                      "-0.0",
                                      "0.1",
                                      "999999999999999.0",
                                      "0.999999999999999",
                                      "9999999999999999.0",
                                      "0.0000000000000000000001",
                                      "1.0000000000000000000001",
                                      "123456789012345.6",
                                      "0.000000000000000000000123"};
    for (int i = 0; i < 20000; ++i) {
        const int digits = 1 + static_cast<int>(random() % 18);
        std::string number = std::to_string(random() % 10 + (digits > 1 ? 1 : 0) % 10);
        for (int d = 1; d < digits; ++d) {
            number += static_cast<char>('0' + random() % 10);
        }
        const size_t point = random() % (number.size() + 8);
        if (point >= number.size()) {
            number = "0." + std::string(point - number.size(), '0') + number;
        } else {
            number.insert(number.size() - point, ".");
            if (number[0] == '.') {
                number.insert(0, "0");
            }
            while (number.size() > 2 && number[0] == '0' && number[1] != '.') {
                number.erase(0, 1);
            }
        }
        texts.push_back(random() % 2 ? "-" + number : number);
    }
    size_t wrong = 0;
    for (const std::string& text : texts) {
        ReadEvents(text);  // the rewriter fails a number read otherwise on the way
        const CJsonNumber number = ReadJsonNumber(text.data(), text.size());
        const double expected = std::strtod(text.c_str(), nullptr);
        if (number.kind != CJsonNumber::kDouble ||
            std::memcmp(&number.value, &expected, sizeof(double)) != 0) {
            if (++wrong <= 5) {
                ADD_FAILURE() << text << " read as " << number.value << ", strtod " << expected;
            }
        }
    }
    EXPECT_EQ(0u, wrong);
}

// Decimals of 15 to 20 significant digits with exponents, the range read in extended
// precision and its edges, and exact midpoints between two doubles and their neighbours,
// where rounding twice would go wrong: all read as strtod reads them.
TEST(JsonNumbers, LongDecimalsAndMidpointsAreWhatStrtodReads) {
    std::mt19937_64 random(20261209);
    std::vector<std::string> texts = {"9007199254740993.0", "9007199254740993e0", "9007199254740995.0",
                                      "1.7976931348623157e308", "4.9406564584124654e-324",
                                      "9999999999999999999e27", "1000000000000000000e-27",
                                      "1234567890123456789e-28", "0.1234567890123456789"};
    for (int i = 0; i < 20000; ++i) {
        const int digits = 15 + static_cast<int>(random() % 6);
        std::string number = std::to_string(1 + random() % 9);
        for (int d = 1; d < digits; ++d) {
            number += static_cast<char>('0' + random() % 10);
        }
        number.insert(1 + random() % digits, ".");
        const int exponent = static_cast<int>(random() % 71) - 35;
        texts.push_back((random() % 2 ? "-" : "") + number + "e" + std::to_string(exponent));
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
        ReadEvents(text);  // the rewriter fails a number read otherwise on the way
        const CJsonNumber number = ReadJsonNumber(text.data(), text.size());
        const double expected = std::strtod(text.c_str(), nullptr);
        if (number.kind != CJsonNumber::kDouble || std::memcmp(&number.value, &expected, sizeof(double)) != 0) {
            if (++wrong <= 5) {
                ADD_FAILURE() << text << " read as " << number.value << ", strtod " << expected;
            }
        }
    }
    EXPECT_EQ(0u, wrong);
}
