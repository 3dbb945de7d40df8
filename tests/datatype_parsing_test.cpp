// SetSymbolFromJson against the JSON parsing test suite and deeply nested texts, on an
// ordinary thread and on one whose stack is as small as an IEC task's (256 KiB).
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "support/ConformanceSuite.h"
#include "support/DatatypeSupport.h"

namespace {

// Texts that must be refused but whose first zero byte cuts them into valid JSON; the
// text before the zero is what counts.
const std::set<std::string> kValidBeforeTheirZero = {"n_multidigit_number_then_00.json"};

}  // namespace

class DatatypeParsingTest : public DatatypeTest {
   protected:
    void SetUp() override {
        DatatypeTest::SetUp();
        Publish(MakeVar(TYPE3_USERDEF, 2, &a_, "st", {MakeVar(TYPE3_INT, 2, &a_, "a")}));
    }

    // Every suite text through the external function: n_ refused as "Json error",
    // y_ accepted, i_ either, none of them crashing.
    void CheckSuite() {
        const std::vector<SuiteText> texts = ReadConformanceSuite();
        size_t refused = 0, accepted = 0, other = 0;
        for (const SuiteText& text : texts) {
            host().clearLog();
            const RTS_IEC_BOOL result = CallSetFromJson(text.bytes, &a_);
            const std::vector<std::string> log = LogRecords();
            const char kind = text.name[0];
            if (kind == 'n' && kValidBeforeTheirZero.count(text.name) == 0) {
                ++refused;
                EXPECT_EQ(0, result) << text.name;
                EXPECT_EQ(std::vector<std::string>{RefusalRecord("Json error")}, log) << text.name;
            } else if (kind == 'y' || kind == 'n') {
                ++accepted;
                EXPECT_EQ(1, result) << text.name;
                EXPECT_TRUE(log.empty()) << text.name << ": " << (log.empty() ? "" : log[0]);
            } else {
                ++other;
                EXPECT_TRUE(result == 1 ? log.empty()
                                        : log == std::vector<std::string>{RefusalRecord("Json error")})
                    << text.name;
            }
        }
        // The suite was found and read whole.
        EXPECT_EQ(318u, texts.size()) << ConformanceSuiteDirectory();
        EXPECT_EQ(187u, refused);
        EXPECT_EQ(96u, accepted);
        EXPECT_EQ(35u, other);
        for (const std::string& name : kValidBeforeTheirZero) {
            bool found = false;
            for (const SuiteText& text : texts) {
                found = found || (text.name == name && text.bytes.find('\0') != std::string::npos);
            }
            EXPECT_TRUE(found) << name << " should be in the suite and hold a zero byte";
        }
    }

    // Texts nested 100000 levels deep, valid and not.
    void CheckDeepNesting() {
        const size_t depth = 100000;
        const std::string arrays = Repeat("[", depth) + Repeat("]", depth);
        const std::string objects = Repeat("{\"a\":", depth) + "1" + Repeat("}", depth);
        struct {
            const char* what;
            std::string text;
            RTS_IEC_BOOL result;
        } cases[] = {
            {"arrays under the member", "{\"st\":{\"a\":" + arrays + "}}", 1},
            {"objects under the member", "{\"st\":" + objects + "}", 1},
            {"arrays as the root", arrays, 1},
            {"unclosed arrays", Repeat("[", depth), 0},
            {"unclosed objects", Repeat("{\"a\":", depth), 0},
            {"one bracket too many", "{\"st\":" + arrays + "]}", 0},
        };
        for (const auto& c : cases) {
            host().clearLog();
            a_ = 5;
            EXPECT_EQ(c.result, CallSetFromJson(c.text, &a_)) << c.what;
            EXPECT_EQ(5, a_) << c.what;  // no such text holds an INT for "a"
            EXPECT_EQ(c.result == 1 ? std::vector<std::string>{}
                                    : std::vector<std::string>{RefusalRecord("Json error")},
                      LogRecords())
                << c.what;
        }
    }

    int16_t a_ = 5;
};

TEST_F(DatatypeParsingTest, SuiteTextsAreJudgedByTheJsonGrammar) { CheckSuite(); }

TEST_F(DatatypeParsingTest, SuiteTextsAreJudgedOnATaskSizedStack) {
    RunOnStack(kTaskStack, [this] { CheckSuite(); });
}

TEST_F(DatatypeParsingTest, DeeplyNestedTextsAreHandledOnATaskSizedStack) {
    RunOnStack(kTaskStack, [this] { CheckDeepNesting(); });
}
