// Writer add engine through the external functions: key-value members, the pending
// member filled in place by one value call, refusals and their log entries, the pending
// member of each instance, and several tasks adding at once.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "support/ComponentFixture.h"
#include "support/WriterCalls.h"
#include "var/DomDriverMgr.h"

namespace {

// A sequence of writer calls on one instance and what it must leave behind.
struct SequenceCase {
    const char* name;
    std::function<void(CWriterCalls&)> calls;
    std::string text;              // document text afterwards
    std::vector<std::string> log;  // whole log records, in order
};

class WriterAdd : public ComponentTest {
   protected:
    void RunTable(const std::vector<SequenceCase>& cases) {
        for (const SequenceCase& c : cases) {
            SCOPED_TRACE(c.name);
            CDomDriverMgr::instance()->clear();
            host().clearLog();
            CWriterCalls writer;
            ASSERT_EQ(1u, writer.reset());
            c.calls(writer);
            std::vector<std::string> log = DescribedLog();  // before the reads add nothing
            EXPECT_EQ(c.text, writer.text());
            EXPECT_EQ(c.log, log);
        }
    }
};

const std::string kNoKey = RefusalRecord("Add value mode and don't have key");
const std::string kNoDocument = RefusalRecord("The JSON object does not exist.");
const std::string kInvalid = RefusalRecord("Invalid argument");

TEST_F(WriterAdd, MembersAreAppendedInCallOrder) {
    RunTable({
        {"nothing added", [](CWriterCalls&) {}, "{}", {}},
        {"key then string",
         [](CWriterCalls& w) {
             w.addKey("a");
             w.addString("x");
         },
         R"({"a":"x"})",
         {}},
        {"two key-value calls",
         [](CWriterCalls& w) {
             w.addKeyString("a", "x");
             w.addKeyNumber("b", 3);
         },
         R"({"a":"x","b":3})",
         {}},
        {"second key is the one filled",
         [](CWriterCalls& w) {
             w.addKey("a");
             w.addKey("b");
             w.addDint(1);
         },
         R"({"a":null,"b":1})",
         {}},
        {"pending member is filled where it stands",
         [](CWriterCalls& w) {
             w.addKey("a");
             w.addKeyString("b", "y");
             w.addString("x");
         },
         R"({"a":"x","b":"y"})",
         {}},
        {"filled member from the middle of three",
         [](CWriterCalls& w) {
             w.addKeyNumber("p", 1);
             w.addKey("a");
             w.addKeyNumber("q", 2);
             w.addKeyNumber("r", 3);
             w.addDint(9);
         },
         R"({"p":1,"a":9,"q":2,"r":3})",
         {}},
        {"same key twice: the member of the last key call is filled",
         [](CWriterCalls& w) {
             w.addKey("a");
             w.addKey("a");
             w.addString("x");
         },
         R"({"a":null,"a":"x"})",
         {}},
        {"an earlier member of the same name is left alone",
         [](CWriterCalls& w) {
             w.addKeyNumber("a", 5);
             w.addKey("a");
             w.addString("x");
         },
         R"({"a":5,"a":"x"})",
         {}},
        {"duplicate key-value members stay",
         [](CWriterCalls& w) {
             w.addKeyString("a", "x");
             w.addKeyString("a", "x");
         },
         R"({"a":"x","a":"x"})",
         {}},
        {"key-null member", [](CWriterCalls& w) { w.addKeyNull("k"); }, R"({"k":null})", {}},
        {"empty key",
         [](CWriterCalls& w) {
             w.addKey("");
             w.addDint(5);
         },
         R"({"":5})",
         {}},
    });
}

// Each value call fills the pending key "v" with its own conversion; each key-value
// call adds "v" with its own. Number forms at the limits: writer_output_test.
TEST_F(WriterAdd, ValuesConvertByType) {
    struct Case {
        const char* name;
        std::function<void(CWriterCalls&)> add;
        const char* value;
    };
    const std::vector<Case> valueCalls = {
        {"BOOL TRUE is the number 1", [](CWriterCalls& w) { w.addBool(1); }, "1"},
        {"BOOL FALSE is the number 0", [](CWriterCalls& w) { w.addBool(0); }, "0"},
        {"DINT 1000", [](CWriterCalls& w) { w.addDint(1000); }, "1000"},
        {"DINT -1", [](CWriterCalls& w) { w.addDint(-1); }, "-1"},
        {"UDINT", [](CWriterCalls& w) { w.addUdint(7); }, "7"},
        {"LINT", [](CWriterCalls& w) { w.addLint(-7); }, "-7"},
        {"REAL", [](CWriterCalls& w) { w.addReal(0.5f); }, "0.5"},
        {"LREAL", [](CWriterCalls& w) { w.addLreal(2.5); }, "2.5"},
        {"DATE_AND_TIME is its raw seconds", [](CWriterCalls& w) { w.addDateTime(60); }, "60"},
        {"string", [](CWriterCalls& w) { w.addString("x"); }, R"("x")"},
        {"null", [](CWriterCalls& w) { w.addNull(); }, "null"},
    };
    const std::vector<Case> keyValueCalls = {
        {"key-BOOL FALSE", [](CWriterCalls& w) { w.addKeyBool("v", 0); }, "0"},
        {"key-BOOL TRUE", [](CWriterCalls& w) { w.addKeyBool("v", 1); }, "1"},
        {"key-number DINT minimum",
         [](CWriterCalls& w) { w.addKeyNumber("v", std::numeric_limits<int32_t>::min()); }, "-2147483648"},
        {"key-LREAL", [](CWriterCalls& w) { w.addKeyLreal("v", -0.25); }, "-0.25"},
        {"key-DATE_AND_TIME stays unsigned", [](CWriterCalls& w) { w.addKeyDateTime("v", 4294967295u); },
         "4294967295"},
        {"key-string", [](CWriterCalls& w) { w.addKeyString("v", ""); }, R"("")"},
        {"key-null", [](CWriterCalls& w) { w.addKeyNull("v"); }, "null"},
    };
    for (bool keyFirst : {true, false}) {
        for (const Case& c : keyFirst ? valueCalls : keyValueCalls) {
            SCOPED_TRACE(c.name);
            CWriterCalls writer;
            writer.reset();
            if (keyFirst) {
                writer.addKey("v");
            }
            c.add(writer);
            EXPECT_EQ(std::string(R"({"v":)") + c.value + "}", writer.text());
        }
    }
    EXPECT_TRUE(DescribedLog().empty());
}

TEST_F(WriterAdd, ValueCallWithoutPendingKeyIsRefused) {
    RunTable({
        {"value call with no key at all", [](CWriterCalls& w) { w.addDint(1); }, "{}", {kNoKey}},
        {"second value call after one key",
         [](CWriterCalls& w) {
             w.addKey("a");
             w.addKey("b");
             w.addDint(1);
             w.addDint(2);
         },
         R"({"a":null,"b":1})",
         {kNoKey}},
        {"key-null leaves no pending key",
         [](CWriterCalls& w) {
             w.addKeyNull("k");
             w.addString("x");
         },
         R"({"k":null})",
         {kNoKey}},
        {"key-value calls leave no pending key",
         [](CWriterCalls& w) {
             w.addKeyString("a", "x");
             w.addNull();
         },
         R"({"a":"x"})",
         {kNoKey}},
        {"key-null after a key: the earlier key is filled",
         [](CWriterCalls& w) {
             w.addKey("a");
             w.addKeyNull("k");
             w.addString("x");
         },
         R"({"a":"x","k":null})",
         {}},
        {"LINT and REAL end the pending state like DINT",
         [](CWriterCalls& w) {
             w.addKey("a");
             w.addLint(7);
             w.addReal(1.5f);
         },
         R"({"a":7})",
         {kNoKey}},
        {"key, reset, value: nothing added and the key is no longer pending",
         [](CWriterCalls& w) {
             w.addKey("a");
             w.reset();
             w.addString("x");
             w.addString("y");
         },
         "{}",
         {kNoKey, kNoKey}},
    });
}

// Without a reset an instance has no document: key calls log, key-value calls are
// silent, value calls log that no key is pending.
TEST_F(WriterAdd, InstanceWithoutDocumentRefusesAdds) {
    struct Case {
        const char* name;
        std::function<void(CWriterCalls&)> calls;
        std::vector<std::string> log;
    };
    const std::vector<Case> cases = {
        {"key", [](CWriterCalls& w) { w.addKey("a"); }, {kNoDocument}},
        {"key-null", [](CWriterCalls& w) { w.addKeyNull("a"); }, {kNoDocument}},
        {"key-string", [](CWriterCalls& w) { w.addKeyString("a", "x"); }, {}},
        {"key-bool", [](CWriterCalls& w) { w.addKeyBool("a", 1); }, {}},
        {"key-number", [](CWriterCalls& w) { w.addKeyNumber("a", 1); }, {}},
        {"key-lreal", [](CWriterCalls& w) { w.addKeyLreal("a", 1.0); }, {}},
        {"key-datetime", [](CWriterCalls& w) { w.addKeyDateTime("a", 1); }, {}},
        {"value without pending key", [](CWriterCalls& w) { w.addDint(1); }, {kNoKey}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CDomDriverMgr::instance()->clear();
        host().clearLog();
        CWriterCalls writer;
        c.calls(writer);
        EXPECT_EQ(c.log, DescribedLog());
        EXPECT_EQ(0u, writer.length());
        EXPECT_TRUE((CDomDriverMgr::instance()->writers().Size() == 0));
    }

    // A key pending on another instance is neither used nor ended.
    CDomDriverMgr::instance()->clear();
    CWriterCalls keyed;
    CWriterCalls unreset;
    keyed.reset();
    keyed.addKey("a");
    host().clearLog();
    unreset.addString("x");
    keyed.addString("y");
    EXPECT_EQ(std::vector<std::string>{kNoKey}, DescribedLog());
    EXPECT_EQ(R"({"a":"y"})", keyed.text());
}

// A key call on one instance and a value call on another: the other refuses, and the
// first keeps its pending member for its own value call.
TEST_F(WriterAdd, PendingMemberBelongsToItsInstance) {
    CWriterCalls a;
    CWriterCalls b;
    a.reset();
    b.reset();
    b.addKeyNumber("a", 1);
    b.addKeyNumber("z", 2);

    a.addKey("a");
    b.addString("x");
    EXPECT_EQ(R"({"a":null})", a.text());
    EXPECT_EQ(R"({"a":1,"z":2})", b.text());
    EXPECT_EQ(std::vector<std::string>{kNoKey}, DescribedLog());

    a.addString("late");
    EXPECT_EQ(R"({"a":"late"})", a.text());
    EXPECT_EQ(R"({"a":1,"z":2})", b.text());
}

// A null key or string pointer changes nothing, not even the pending key, and leaves
// exactly one "Invalid argument" entry.
TEST_F(WriterAdd, NullPointersAreRefusedAndChangeNothing) {
    struct Case {
        const char* name;
        std::function<void(fb_jsonsaxwriter_struct*)> call;
    };
    char value[] = "v";
    const std::vector<Case> cases = {
        {"addkey",
         [](fb_jsonsaxwriter_struct* i) {
             fb_jsonsaxwriter_addkey_struct p{i, nullptr};
             fb_jsonsaxwriter__addkey(&p);
         }},
        {"addkeynull",
         [](fb_jsonsaxwriter_struct* i) {
             fb_jsonsaxwriter_addkeynull_struct p{i, nullptr};
             fb_jsonsaxwriter__addkeynull(&p);
         }},
        {"addstring",
         [](fb_jsonsaxwriter_struct* i) {
             fb_jsonsaxwriter_addstring_struct p{i, nullptr};
             fb_jsonsaxwriter__addstring(&p);
         }},
        {"addkeystring null key",
         [&value](fb_jsonsaxwriter_struct* i) {
             fb_jsonsaxwriter_addkeystring_struct p{i, nullptr, value};
             fb_jsonsaxwriter__addkeystring(&p);
         }},
        {"addkeystring null value",
         [&value](fb_jsonsaxwriter_struct* i) {
             fb_jsonsaxwriter_addkeystring_struct p{i, value, nullptr};
             fb_jsonsaxwriter__addkeystring(&p);
         }},
        {"addkeybool",
         [](fb_jsonsaxwriter_struct* i) {
             fb_jsonsaxwriter_addkeybool_struct p{i, nullptr, 1};
             fb_jsonsaxwriter__addkeybool(&p);
         }},
        {"addkeynumber",
         [](fb_jsonsaxwriter_struct* i) {
             fb_jsonsaxwriter_addkeynumber_struct p{i, nullptr, 1};
             fb_jsonsaxwriter__addkeynumber(&p);
         }},
        {"addkeylreal",
         [](fb_jsonsaxwriter_struct* i) {
             fb_jsonsaxwriter_addkeylreal_struct p{i, nullptr, 1.0};
             fb_jsonsaxwriter__addkeylreal(&p);
         }},
        {"addkeydatetime",
         [](fb_jsonsaxwriter_struct* i) {
             fb_jsonsaxwriter_addkeydatetime_struct p{i, nullptr, 1};
             fb_jsonsaxwriter__addkeydatetime(&p);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CDomDriverMgr::instance()->clear();
        CWriterCalls writer;
        writer.reset();
        writer.addKey("p");
        host().clearLog();

        c.call(writer.instance());
        EXPECT_EQ(std::vector<std::string>{kInvalid}, DescribedLog());
        EXPECT_EQ(R"({"p":null})", writer.text());

        writer.addString("filled");  // the key is still pending
        EXPECT_EQ(R"({"p":"filled"})", writer.text());
        EXPECT_EQ(std::vector<std::string>{kInvalid}, DescribedLog());
    }
}

// The document keeps its own copies: the caller's buffers may change right after a call.
TEST_F(WriterAdd, StringsAreCopiedIntoTheDocument) {
    CWriterCalls writer;
    writer.reset();
    char name[] = "name";
    char value[] = "value";
    char pending[] = "pending";
    fb_jsonsaxwriter_addkeystring_struct keyString{writer.instance(), name, value};
    fb_jsonsaxwriter__addkeystring(&keyString);
    fb_jsonsaxwriter_addkey_struct keyOnly{writer.instance(), pending};
    fb_jsonsaxwriter__addkey(&keyOnly);
    std::strcpy(name, "NAME");
    std::strcpy(value, "VALUE");
    std::strcpy(pending, "PENDING");
    fb_jsonsaxwriter_adddint_struct fill{writer.instance(), 4};
    fb_jsonsaxwriter__adddint(&fill);
    EXPECT_EQ(R"({"name":"value","pending":4})", writer.text());
}

// Every typed scalar of the writer's methods adds in both modes with the same JSON form;
// a mode that is neither changes nothing and leaves the pending member pending.
TEST_F(WriterAdd, TypedScalarsAddInBothModesAndNoOtherMode) {
    CDomDriverMgr* manager = CDomDriverMgr::instance();
    CWriterCalls writer;
    const struct {
        CWriterScalar value;
        const char* text;
    } cases[] = {
        {CWriterScalar::Bool(1), "1"},
        {CWriterScalar::Dint(-7), "-7"},
        {CWriterScalar::Udint(4000000000u), "4000000000"},
        {CWriterScalar::Lint(-9000000000LL), "-9000000000"},
        {CWriterScalar::Real(0.5f), "0.5"},
        {CWriterScalar::Lreal(2.25), "2.25"},
        {CWriterScalar::DateTime(4000000000u), "4000000000"},
        {CWriterScalar::String("x"), R"("x")"},
        {CWriterScalar::Null(), "null"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        writer.reset();
        host().clearLog();
        EXPECT_TRUE(manager->addScalar(writer.instance(), ADD_KEY_VALUE, "k", c.value));
        writer.addKey("p");
        EXPECT_TRUE(manager->addScalar(writer.instance(), ADD_VALUE, nullptr, c.value));
        EXPECT_EQ(std::string(R"({"k":)") + c.text + R"(,"p":)" + c.text + "}", writer.text());
        EXPECT_TRUE(DescribedLog().empty());
    }

    writer.reset();
    writer.addKey("k");
    host().clearLog();
    EXPECT_FALSE(manager->addScalar(writer.instance(), static_cast<AddType>(0), "z", CWriterScalar::Dint(1)));
    writer.addDint(3);  // still pending
    EXPECT_EQ(R"({"k":3})", writer.text());
    EXPECT_TRUE(DescribedLog().empty());
}

// Eight tasks add to their own instances at once, each pairing key and value calls
// (every third member in one key-value call): no task takes another's pending member.
TEST_F(WriterAdd, ConcurrentTasksLoseNoMember) {
    constexpr int kTasks = 8;
    constexpr int kInstancesPerTask = 2;
    constexpr int kMembers = 1000;
    std::vector<std::unique_ptr<CWriterCalls>> writers;
    for (int i = 0; i < kTasks * kInstancesPerTask; ++i) {
        writers.emplace_back(new CWriterCalls());
        writers.back()->reset();
    }

    std::vector<std::thread> tasks;
    for (int t = 0; t < kTasks; ++t) {
        tasks.emplace_back([t, &writers] {
            for (int m = 0; m < kMembers; ++m) {
                for (int i = 0; i < kInstancesPerTask; ++i) {
                    CWriterCalls& w = *writers[t * kInstancesPerTask + i];
                    std::string key = "m" + std::to_string(m);
                    if ((m + t) % 3 != 0) {
                        w.addKey(key);
                        w.addDint(m);
                    } else {
                        w.addKeyNumber(key, m);
                    }
                    if (m % 50 == 0) {
                        w.length();  // reads interleave with adds
                    }
                }
            }
        });
    }
    for (std::thread& task : tasks) {
        task.join();
    }

    for (size_t i = 0; i < writers.size(); ++i) {
        SCOPED_TRACE(i);
        std::string text = writers[i]->text();
        rapidjson::Document parsed;
        parsed.Parse(text.c_str(), text.size());
        ASSERT_FALSE(parsed.HasParseError()) << text;
        ASSERT_TRUE(parsed.IsObject());
        ASSERT_EQ(static_cast<rapidjson::SizeType>(kMembers), parsed.MemberCount());
        for (int m = 0; m < kMembers; ++m) {
            const rapidjson::Value& member = parsed.MemberBegin()[m].value;
            EXPECT_EQ("m" + std::to_string(m), parsed.MemberBegin()[m].name.GetString());
            ASSERT_TRUE(member.IsInt());
            EXPECT_EQ(m, member.GetInt());
        }
    }
    EXPECT_TRUE(DescribedLog().empty());
}

}  // namespace
