// Writer nesting: objects and arrays opened and closed method by method, in object and
// array contexts, with every refusal and its log record; read-outs while containers
// are open; variables added inside containers; very deep documents.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/ComponentFixture.h"
#include "support/DatatypeSupport.h"
#include "support/WriterCalls.h"
#include "var/DomDriverMgr.h"

namespace {

const std::string kNoKey = RefusalRecord("Add value mode and don't have key");
const std::string kNoDocument = RefusalRecord("The JSON object does not exist.");
const std::string kKeyInArray = RefusalRecord("Key not allowed in an array");
const std::string kStartNeedsKey = RefusalRecord("Object or array in an object needs a key first");
const std::string kNoObjectToEnd = RefusalRecord("No open object to end");
const std::string kNoArrayToEnd = RefusalRecord("No open array to end");

// Calls on one reset instance; `returns` collects the return fields of the nesting
// calls in order ("1" done, "0" refused), so a table states them with the text.
struct NestingCase {
    const char* name;
    std::function<void(CWriterCalls&, std::string&)> calls;
    std::string returns;
    std::string text;
    std::vector<std::string> log;
};

class WriterNesting : public ComponentTest {
   protected:
    void RunTable(const std::vector<NestingCase>& cases) {
        for (const NestingCase& c : cases) {
            SCOPED_TRACE(c.name);
            CDomDriverMgr::instance()->clear();
            host().clearLog();
            CWriterCalls writer;
            writer.reset();
            std::string returns;
            c.calls(writer, returns);
            std::vector<std::string> log = DescribedLog();
            EXPECT_EQ(c.returns, returns);
            EXPECT_EQ(c.text, writer.text());
            EXPECT_EQ(c.log, log);
        }
    }
};

// Shorthands that record the return field.
void SO(CWriterCalls& w, std::string& r) { r += std::to_string(w.startObject()); }
void EO(CWriterCalls& w, std::string& r) { r += std::to_string(w.endObject()); }
void SA(CWriterCalls& w, std::string& r) { r += std::to_string(w.startArray()); }
void EA(CWriterCalls& w, std::string& r) { r += std::to_string(w.endArray()); }

TEST_F(WriterNesting, ContainersInAnObjectFillThePendingMember) {
    RunTable({
        {"object under a key",
         [](CWriterCalls& w, std::string& r) {
             w.addKey("o");
             SO(w, r);
             w.addKeyNumber("a", 1);
             EO(w, r);
         },
         "11",
         R"({"o":{"a":1}})",
         {}},
        {"array under a key",
         [](CWriterCalls& w, std::string& r) {
             w.addKey("a");
             SA(w, r);
             w.addString("x");
             w.addDint(1);
             EA(w, r);
             w.addKeyNumber("after", 2);
         },
         "11",
         R"({"a":["x",1],"after":2})",
         {}},
        {"object holding an array of objects",
         [](CWriterCalls& w, std::string& r) {
             w.addKey("items");
             SA(w, r);
             for (int id = 1; id <= 2; ++id) {
                 SO(w, r);
                 w.addKeyNumber("id", id);
                 EO(w, r);
             }
             EA(w, r);
             w.addKeyNumber("n", 2);
         },
         "111111",
         R"({"items":[{"id":1},{"id":2}],"n":2})",
         {}},
        {"the user's guide example: an object holding an array of objects",
         [](CWriterCalls& w, std::string& r) {
             w.addKeyString("machine", "press 3");
             w.addKey("items");
             SA(w, r);
             for (int id : {17, 42}) {
                 SO(w, r);
                 w.addKeyNumber("id", id);
                 w.addKey("ok");
                 w.addBool(1);
                 EO(w, r);
             }
             EA(w, r);
             r += std::to_string(w.setMaxDecimalPlaces(2));
             w.addKeyLreal("temp", 21.456);
         },
         "1111111",
         R"({"machine":"press 3","items":[{"id":17,"ok":1},{"id":42,"ok":1}],"temp":21.46})",
         {}},
        {"inner object: key-value, key-null and pending fill as at the root",
         [](CWriterCalls& w, std::string& r) {
             w.addKey("o");
             SO(w, r);
             w.addKey("a");
             w.addKeyString("b", "y");
             w.addKeyNull("c");
             w.addString("x");
             EO(w, r);
         },
         "11",
         R"({"o":{"a":"x","b":"y","c":null}})",
         {}},
        {"start without a pending member is refused",
         [](CWriterCalls& w, std::string& r) {
             SO(w, r);
             SA(w, r);
             w.addKeyNull("k");  // a key-null member is never pending
             SO(w, r);
         },
         "000",
         R"({"k":null})",
         {kStartNeedsKey, kStartNeedsKey, kStartNeedsKey}},
        {"the root object is never closed, an object is not closed as an array",
         [](CWriterCalls& w, std::string& r) {
             EO(w, r);
             EA(w, r);
             w.addKey("o");
             SO(w, r);
             EA(w, r);
             EO(w, r);
             EO(w, r);
         },
         "001010",
         R"({"o":{}})",
         {kNoObjectToEnd, kNoArrayToEnd, kNoArrayToEnd, kNoObjectToEnd}},
        {"a start that succeeds ends the pending state",
         [](CWriterCalls& w, std::string& r) {
             w.addKey("a");
             w.addKey("b");
             SO(w, r);
             EO(w, r);
             w.addDint(1);
         },
         "11",
         R"({"a":null,"b":{}})",
         {kNoKey}},
        {"an end that succeeds ends the pending state",
         [](CWriterCalls& w, std::string& r) {
             w.addKey("o");
             SO(w, r);
             w.addKey("p");
             EO(w, r);
             w.addDint(1);
         },
         "11",
         R"({"o":{"p":null}})",
         {kNoKey}},
        {"a refused nesting call leaves the pending member pending",
         [](CWriterCalls& w, std::string& r) {
             w.addKey("a");
             EA(w, r);
             EO(w, r);
             w.addDint(1);
         },
         "00",
         R"({"a":1})",
         {kNoArrayToEnd, kNoObjectToEnd}},
        {"a reset ends every open container and the pending state",
         [](CWriterCalls& w, std::string& r) {
             w.addKey("o");
             SA(w, r);
             SA(w, r);
             w.reset();
             w.addDint(1);
             EA(w, r);
             w.addKeyNumber("root", 2);
         },
         "110",
         R"({"root":2})",
         {kNoKey, kNoArrayToEnd}},
    });
}

TEST_F(WriterNesting, ValuesInAnArrayAreAppendedAsElements) {
    RunTable({
        {"every value method appends one element",
         [](CWriterCalls& w, std::string& r) {
             w.addKey("a");
             SA(w, r);
             w.addString("x");
             w.addBool(1);
             w.addDint(-2);
             w.addUdint(4294967295u);
             w.addLint(-9007199254740993LL);
             w.addReal(1.5f);
             w.addLreal(0.25);
             w.addDateTime(60);
             w.addNull();
             w.addBase64("\x01\x02");
             w.addHexBinary("\x01\xAB");
             w.addRawObject(R"({"r":1})");
             w.addRawArray("[2]");
             EA(w, r);
         },
         "11",
         R"({"a":["x",1,-2,4294967295,-9007199254740993,1.5,0.25,60,null,"AQI=","01AB",{"r":1},[2]]})",
         {}},
        {"key, key-null and key-value methods are refused in an array",
         [](CWriterCalls& w, std::string& r) {
             w.addKey("a");
             SA(w, r);
             w.addKey("k");
             w.addKeyNull("k");
             w.addKeyString("k", "v");
             w.addKeyBool("k", 1);
             w.addKeyNumber("k", 1);
             w.addKeyLreal("k", 1.0);
             w.addKeyDateTime("k", 1);
             w.addDint(5);
         },
         "1",
         R"({"a":[5]})",
         {kKeyInArray, kKeyInArray, kKeyInArray, kKeyInArray, kKeyInArray, kKeyInArray, kKeyInArray}},
        {"containers in an array are elements; end closes only its own kind",
         [](CWriterCalls& w, std::string& r) {
             w.addKey("a");
             SA(w, r);
             SO(w, r);
             w.addKeyNumber("x", 1);
             EO(w, r);
             SA(w, r);
             EO(w, r);
             EA(w, r);
             SA(w, r);
             EA(w, r);
             EA(w, r);
             EA(w, r);
         },
         "1111011110",
         R"({"a":[{"x":1},[],[]]})",
         {kNoObjectToEnd, kNoArrayToEnd}},
    });
}

TEST_F(WriterNesting, InstanceWithoutDocumentRefusesNesting) {
    CWriterCalls writer;
    EXPECT_EQ(0u, writer.startObject());
    EXPECT_EQ(0u, writer.startArray());
    EXPECT_EQ(0u, writer.endObject());
    EXPECT_EQ(0u, writer.endArray());
    EXPECT_EQ(std::vector<std::string>(4, kNoDocument), DescribedLog());
}

// The document is a complete value at every moment: open containers read out closed,
// and later calls go on where they left off.
TEST_F(WriterNesting, ReadOutWhileContainersAreOpen) {
    CWriterCalls writer;
    writer.reset();
    writer.addKey("a");
    writer.startArray();
    EXPECT_EQ(R"({"a":[]})", writer.text());
    writer.addDint(1);
    writer.startObject();
    writer.addKey("k");
    EXPECT_EQ(R"({"a":[1,{"k":null}]})", writer.text());
    writer.addString("v");
    EXPECT_EQ(R"({"a":[1,{"k":"v"}]})", writer.text());
    writer.endObject();
    writer.addDint(2);
    EXPECT_EQ(R"({"a":[1,{"k":"v"},2]})", writer.text());
    EXPECT_TRUE(DescribedLog().empty());
}

// A variable added inside containers: a member of the innermost object, or an element
// of the innermost array whose key is not used.
TEST_F(WriterNesting, VariablesGoIntoTheInnermostContainer) {
    CDomDriverMgr::instance()->clear();
    int32_t dint = -5;
    Publish(MakeVar(TYPE3_DINT, 4, &dint, "v"));
    CWriterCalls writer;
    writer.reset();
    writer.addKey("o");
    writer.startObject();
    writer.addKey("pending");
    EXPECT_EQ(1, CallAddFromSymbol(writer.instance(), "x", &dint));
    writer.addDint(7);  // the pending member is still the one to fill
    writer.addKey("arr");
    writer.startArray();
    EXPECT_EQ(1, CallAddFromSymbol(writer.instance(), "unused", &dint));
    writer.endArray();
    writer.endObject();
    EXPECT_EQ(R"({"o":{"pending":7,"x":-5,"arr":[-5]}})", writer.text());
    EXPECT_TRUE(DescribedLog().empty());
}

// Built, read out and reset on a 256 KiB stack: nothing recurses on the depth.
TEST_F(WriterNesting, HundredThousandLevelsOnASmallStack) {
    constexpr int kLevels = 100000;
    CWriterCalls writer;
    struct Run {
        CWriterCalls* writer;
        std::string text;
        bool ok = true;
    } run{&writer, std::string(), true};
    auto body = [](void* argument) -> void* {
        Run& r = *static_cast<Run*>(argument);
        CWriterCalls& w = *r.writer;
        w.reset();
        w.addKey("d");
        w.startArray();
        for (int i = 1; i < kLevels; ++i) {
            r.ok = r.ok && w.startArray() == 1;
        }
        w.addDint(1);
        r.text = w.text();
        w.reset();
        r.ok = r.ok && w.text() == "{}";
        return nullptr;
    };
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    ASSERT_EQ(0, pthread_attr_setstacksize(&attributes, 256 * 1024));
    pthread_t thread;
    ASSERT_EQ(0, pthread_create(&thread, &attributes, body, &run));
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    EXPECT_TRUE(run.ok);
    EXPECT_EQ(R"({"d":)" + std::string(kLevels, '[') + "1" + std::string(kLevels, ']') + "}", run.text);
}

}  // namespace
