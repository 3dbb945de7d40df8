// AddJsonChangesFromSymbol over a declared application: what counts as a change, the
// merge patch it appends, the copy that follows what was sent, the refusals, a replica
// that applies every patch with SetSymbolFromJson, and calls beside writes of the same
// variable by another task.
#include <rapidjson/document.h>

#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/ApplicationFixture.h"
#include "support/DatatypeSupport.h"
#include "support/WriterCalls.h"

namespace {

const char* const kApplication = R"(
    TYPE E_Mode : (IDLE, RUN := 5); END_TYPE
    TYPE ST_Axis : STRUCT pos : LREAL; speed : REAL; on : BOOL; END_STRUCT END_TYPE
    TYPE ST_Point : STRUCT x : DINT; y : REAL; END_STRUCT END_TYPE
    TYPE ST_Cell :
    STRUCT
        temp : REAL; level : LREAL; count : DINT; bits : WORD; ready : BOOL;
        t : TIME; stamp : DT; mode : E_Mode;
        name : STRING(7); label : WSTRING(4);
        axis : ST_Axis;
        v : ARRAY[0..2] OF INT;
        grid : ARRAY[1..2, 1..3] OF INT;
        cube : ARRAY[0..1, 0..1, 0..1] OF SINT;
        pts : ARRAY[0..1] OF ST_Point;
    END_STRUCT
    END_TYPE
    TYPE ST_Link : STRUCT p : POINTER TO DINT; n : INT; END_STRUCT END_TYPE
    VAR_GLOBAL
        cell : ST_Cell;
        r : REAL;
        arr : ARRAY[0..3] OF REAL;
        link : ST_Link;
    END_VAR
    PROGRAM Remote VAR cell : ST_Cell; END_VAR END_PROGRAM
    PROGRAM Sent VAR cell : ST_Cell; END_VAR END_PROGRAM
)";

// A variable of the application and the caller's copy of it, written member by member:
// now() the variable, then() the copy, both() the two.
class CEdit {
   public:
    CEdit(uint8_t* variable, unsigned char* copy, std::string name)
        : variable_(variable), copy_(copy), name_(std::move(name)) {}

    template <typename T>
    void now(const std::string& member, T value) {
        std::memcpy(at(member, variable_), &value, sizeof(T));
    }
    template <typename T>
    void then(const std::string& member, T value) {
        std::memcpy(at(member, copy_), &value, sizeof(T));
    }
    template <typename T>
    void both(const std::string& member, T value) {
        now(member, value);
        then(member, value);
    }
    void nowBytes(const std::string& member, const std::string& bytes) {
        std::memcpy(at(member, variable_), bytes.data(), bytes.size());
    }
    void thenBytes(const std::string& member, const std::string& bytes) {
        std::memcpy(at(member, copy_), bytes.data(), bytes.size());
    }

   private:
    // The member's place in `base`, found by its offset in the variable.
    unsigned char* at(const std::string& member, unsigned char* base) {
        const std::string full =
            "App.Globals." + name_ + (member.empty() || member[0] == '[' ? member : "." + member);
        return base + (CSimApplication::instance().address(full) - variable_);
    }

    uint8_t* variable_;
    unsigned char* copy_;
    std::string name_;
};

float Nan(uint32_t payload) {
    const uint32_t bits = 0x7FC00000u | payload;
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

class ChangesTest : public ApplicationTest {
   protected:
    void SetUp() override {
        ApplicationTest::SetUp();
        app().start(kApplication);
        loadSymbols();
        writer_.reset();
        host().clearLog();
    }

    uint8_t* variable(const std::string& name) { return app().address("App.Globals." + name); }
    uint32_t size(const std::string& name) {
        return static_cast<uint32_t>(app().size("App.Globals." + name));
    }
    // The variable and a copy of it, both zero.
    std::vector<unsigned char> zeroed(const std::string& name) {
        std::memset(variable(name), 0, size(name));
        return std::vector<unsigned char>(size(name), 0);
    }
    CChangesResult changes(const std::string& name, std::vector<unsigned char>& copy, double deadband,
                           bool keyFrame = false) {
        return CallAddChangesFromSymbol(writer_.instance(), "c", variable(name), copy.data(),
                                        static_cast<RTS_IEC_UDINT>(copy.size()), deadband, keyFrame);
    }
    // The text AddJsonKeyValueFromSymbol gives for the variable at address, under "c", in
    // the format.
    std::string wholeText(void* address, uint32_t format = 0) {
        CWriterCalls whole;
        whole.setFormat(format);
        whole.reset();
        EXPECT_EQ(1, CallAddFromSymbol(whole.instance(), "c", address));
        return whole.text();
    }

    CWriterCalls writer_;
};

struct RuleCase {
    const char* what;
    const char* variable;
    std::function<void(CEdit&)> edit;  // from a variable and a copy that are both zero
    double deadband;
    const char* patch;  // the document after the call: "{}" when nothing was appended
    uint32_t changed;
};

TEST_F(ChangesTest, EachRuleOfWhatChangedAndWhatIsSent) {
    const float kMax = FLT_MAX;
    const float kInf = std::numeric_limits<float>::infinity();
    const std::vector<RuleCase> cases = {
        {"nothing changed", "cell", [](CEdit&) {}, 0, "{}", 0},
        {"REAL, no deadband", "cell", [](CEdit& e) { e.now("temp", 20.5f); }, 0, R"({"c":{"temp":20.5}})", 1},
        {"REAL by the deadband exactly", "cell", [](CEdit& e) { e.now("temp", 0.5f); }, 0.5, "{}", 0},
        {"REAL by more than the deadband", "cell", [](CEdit& e) { e.now("temp", 0.5f); }, 0.49,
         R"({"c":{"temp":0.5}})", 1},
        {"REAL fall beyond the deadband", "cell",
         [](CEdit& e) {
             e.then("temp", 3.0f);
             e.now("temp", 1.0f);
         },
         1.5, R"({"c":{"temp":1.0}})", 1},
        {"-0.0 against 0.0", "cell", [](CEdit& e) { e.now("temp", -0.0f); }, 0, R"({"c":{"temp":-0.0}})", 1},
        {"-0.0 against 0.0 within a deadband", "cell", [](CEdit& e) { e.now("temp", -0.0f); }, 0.001, "{}",
         0},
        {"NaN against the same NaN", "cell", [](CEdit& e) { e.both("temp", Nan(1)); }, 0, "{}", 0},
        {"NaN against another NaN", "cell",
         [](CEdit& e) {
             e.now("temp", Nan(1));
             e.then("temp", Nan(2));
         },
         1e300, R"({"c":{"temp":null}})", 1},
        {"NaN against a number", "cell",
         [](CEdit& e) {
             e.now("temp", Nan(0));
             e.then("temp", 1.0f);
         },
         1e300, R"({"c":{"temp":null}})", 1},
        {"infinity against the largest REAL", "cell",
         [&](CEdit& e) {
             e.now("temp", kInf);
             e.then("temp", kMax);
         },
         1e300, R"({"c":{"temp":null}})", 1},
        {"LREAL, no deadband", "cell", [](CEdit& e) { e.now("level", 0.25); }, 0, R"({"c":{"level":0.25}})",
         1},
        {"LREAL by the deadband exactly", "cell", [](CEdit& e) { e.now("level", 0.25); }, 0.25, "{}", 0},
        {"LREAL difference beyond the doubles", "cell",
         [](CEdit& e) {
             e.now("level", 1e308);
             e.then("level", -1e308);
         },
         1e300, R"({"c":{"level":1e308}})", 1},
        {"DINT whatever the deadband", "cell", [](CEdit& e) { e.now("count", int32_t{8}); }, 100,
         R"({"c":{"count":8}})", 1},
        {"WORD", "cell", [](CEdit& e) { e.now("bits", uint16_t{0xFFFF}); }, 0, R"({"c":{"bits":-1}})", 1},
        {"BOOL", "cell", [](CEdit& e) { e.now("ready", uint8_t{1}); }, 0, R"({"c":{"ready":true}})", 1},
        {"TIME", "cell", [](CEdit& e) { e.now("t", int32_t{1000}); }, 0, R"({"c":{"t":1000}})", 1},
        {"ENUM, written as null in format 0", "cell", [](CEdit& e) { e.now("mode", int16_t{5}); }, 0,
         R"({"c":{"mode":null}})", 1},
        {"STRING bytes after the terminator", "cell",
         [](CEdit& e) {
             e.nowBytes("name", std::string("ab\0xyz", 6));
             e.thenBytes("name", std::string("ab\0qrs", 6));
         },
         0, "{}", 0},
        {"STRING longer by one", "cell",
         [](CEdit& e) {
             e.nowBytes("name", std::string("abc\0", 4));
             e.thenBytes("name", std::string("ab\0\0", 4));
         },
         0, R"({"c":{"name":"abc"}})", 1},
        {"STRING without a terminator", "cell",
         [](CEdit& e) {
             e.nowBytes("name", "abcdefgh");
             e.thenBytes("name", "abcdefgX");
         },
         0, R"({"c":{"name":"abcdefgh"}})", 1},
        {"WSTRING units after the zero unit", "cell",
         [](CEdit& e) {
             e.nowBytes("label", std::string("h\0i\0\0\0x\0", 8));
             e.thenBytes("label", std::string("h\0i\0\0\0y\0", 8));
         },
         0, "{}", 0},
        {"WSTRING unit", "cell", [](CEdit& e) { e.nowBytes("label", std::string("h\0i\0", 4)); }, 0,
         R"({"c":{"label":"hi"}})", 1},
        {"member of a member structure", "cell", [](CEdit& e) { e.now("axis.speed", 1.5f); }, 0,
         R"({"c":{"axis":{"speed":1.5}}})", 1},
        {"member structure without changes left out", "cell",
         [](CEdit& e) {
             e.both("axis.pos", 4.0);
             e.now("axis.on", uint8_t{1});
             e.now("count", int32_t{-2});
         },
         0, R"({"c":{"count":-2,"axis":{"on":true}}})", 2},
        {"array element: the whole array", "cell", [](CEdit& e) { e.now("v[1]", int16_t{5}); }, 0,
         R"({"c":{"v":[0,5,0]}})", 1},
        {"two elements", "cell",
         [](CEdit& e) {
             e.now("v[0]", int16_t{1});
             e.now("v[2]", int16_t{2});
         },
         0, R"({"c":{"v":[1,0,2]}})", 2},
        {"2 dimensions", "cell", [](CEdit& e) { e.now("grid[2,3]", int16_t{9}); }, 0,
         R"({"c":{"grid":[0,0,0,0,0,9]}})", 1},
        {"3 dimensions", "cell", [](CEdit& e) { e.now("cube[1,1,1]", int8_t{-1}); }, 0,
         R"({"c":{"cube":[0,0,0,0,0,0,0,-1]}})", 1},
        {"array of structures", "cell", [](CEdit& e) { e.now("pts[1].y", 0.5f); }, 0,
         R"({"c":{"pts":[{"x":0,"y":0.0},{"x":0,"y":0.5}]}})", 1},
        {"changes in member order", "cell",
         [](CEdit& e) {
             e.now("pts[0].x", int32_t{3});
             e.now("temp", 2.0f);
         },
         0, R"({"c":{"temp":2.0,"pts":[{"x":3,"y":0.0},{"x":0,"y":0.0}]}})", 2},
        {"a pointer never changes", "link", [](CEdit& e) { e.now("p", uint64_t{0x1234}); }, 0, "{}", 0},
        {"beside a pointer", "link",
         [](CEdit& e) {
             e.now("p", uint64_t{0x1234});
             e.now("n", int16_t{3});
         },
         0, R"({"c":{"n":3}})", 1},
        {"top-level leaf", "r", [](CEdit& e) { e.now("", 1.5f); }, 0, R"({"c":1.5})", 1},
        {"top-level leaf within the deadband", "r", [](CEdit& e) { e.now("", 1.5f); }, 2, "{}", 0},
        {"top-level array", "arr", [](CEdit& e) { e.now("[2]", 0.25f); }, 0, R"({"c":[0.0,0.0,0.25,0.0]})",
         1},
        {"top-level array, one element within the deadband", "arr",
         [](CEdit& e) {
             e.now("[0]", 0.5f);
             e.now("[3]", 2.0f);
         },
         1, R"({"c":[0.5,0.0,0.0,2.0]})", 1},
    };
    for (const RuleCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<unsigned char> copy = zeroed(c.variable);
        CEdit edit(variable(c.variable), copy.data(), c.variable);
        c.edit(edit);
        writer_.reset();
        const CChangesResult result = changes(c.variable, copy, c.deadband);
        EXPECT_EQ(1, result.added);
        EXPECT_EQ(c.changed, result.changed);
        EXPECT_EQ(c.patch, writer_.text());
    }
    EXPECT_TRUE(DescribedLog().empty());
}

// Every leaf changed: the patch is the whole text AddJsonKeyValueFromSymbol writes in the
// writer's format; a key frame is that text whatever changed.
TEST_F(ChangesTest, LeavesAreWrittenAsAddJsonKeyValueFromSymbolWritesThemInEveryFormat) {
    const uint32_t formats[] = {0, ZENTRIK_FORMAT_READABLE,
                                ZENTRIK_FORMAT_NESTED_ARRAYS | ZENTRIK_FORMAT_ISO_8601,
                                ZENTRIK_FORMAT_SHORT_REALS | ZENTRIK_FORMAT_PRETTY, ZENTRIK_FORMAT_BITS};
    std::mt19937 random(36);
    uint8_t* cell = variable("cell");
    for (uint32_t format : formats) {
        SCOPED_TRACE("format " + std::to_string(format));
        for (uint32_t i = 0; i < size("cell"); ++i) {
            cell[i] = static_cast<uint8_t>(random());
        }
        std::vector<unsigned char> copy(cell, cell + size("cell"));
        for (unsigned char& byte : copy) {
            byte = static_cast<unsigned char>(~byte);  // every leaf differs
        }
        const std::string whole = wholeText(cell, format);
        writer_.setFormat(format);
        for (bool keyFrame : {false, true}) {
            writer_.reset();
            std::vector<unsigned char> differing = copy;
            EXPECT_EQ(1, changes("cell", differing, 0, keyFrame).added);
            EXPECT_EQ(whole, writer_.text()) << "key frame " << keyFrame;
        }
        writer_.reset();
        std::vector<unsigned char> same(cell, cell + size("cell"));
        const CChangesResult result = changes("cell", same, 0, true);
        EXPECT_EQ(0u, result.changed);
        EXPECT_EQ(whole, writer_.text()) << "key frame of an unchanged variable";
    }
}

TEST_F(ChangesTest, ThePatchGoesWhereAVariableGoes) {
    std::vector<unsigned char> copy = zeroed("cell");
    CEdit(variable("cell"), copy.data(), "cell").now("count", int32_t{4});
    writer_.addKeyNumber("before", 1);
    writer_.addKey("pending");
    std::vector<unsigned char> first = copy;
    EXPECT_EQ(1, changes("cell", first, 0).added);
    writer_.addDint(7);  // still pending
    writer_.addKey("k");
    writer_.startArray();
    std::vector<unsigned char> second = copy;
    EXPECT_EQ(1, changes("cell", second, 0).added);
    EXPECT_EQ(1, changes("cell", second, 0).added);  // nothing changed since: nothing added
    writer_.endArray();
    EXPECT_EQ(R"({"before":1,"pending":7,"c":{"count":4},"k":[{"count":4}]})", writer_.text());
}

struct Step {
    float temp;
    int32_t count;
    const char* patch;
    uint32_t changed;
    float sentTemp;  // the copy's temp afterwards
};

// A value drifting within the deadband is sent once it has moved by more than the
// deadband from what was sent; a leaf not sent keeps its last-sent bytes.
TEST_F(ChangesTest, TheCopyFollowsWhatWasSent) {
    std::vector<unsigned char> copy = zeroed("cell");
    CEdit edit(variable("cell"), copy.data(), "cell");
    const std::vector<Step> steps = {
        {0.4f, 0, "{}", 0, 0.0f},
        {0.8f, 0, "{}", 0, 0.0f},
        {1.2f, 0, R"({"c":{"temp":1.2000000476837159}})", 1, 1.2f},
        {1.6f, 1, R"({"c":{"count":1}})", 1, 1.2f},
        {2.3f, 1, R"({"c":{"temp":2.299999952316284}})", 1, 2.3f},
        {1.2f, 1, R"({"c":{"temp":1.2000000476837159}})", 1, 1.2f},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.temp);
        edit.now("temp", step.temp);
        edit.now("count", step.count);
        writer_.reset();
        const CChangesResult result = changes("cell", copy, 1.0);
        EXPECT_EQ(step.changed, result.changed);
        EXPECT_EQ(step.patch, writer_.text());
        std::vector<unsigned char> expected(size("cell"), 0);
        CEdit want(variable("cell"), expected.data(), "cell");
        want.then("temp", step.sentTemp);
        want.then("count", step.count);
        EXPECT_EQ(Hex(expected.data(), expected.size()), Hex(copy.data(), copy.size()));
    }

    // An array goes whole, the element within the deadband too; a key frame copies every
    // byte, those after a string's terminator too, and counts the leaves that changed.
    std::vector<unsigned char> arrayCopy = zeroed("arr");
    CEdit(variable("arr"), arrayCopy.data(), "arr").now("[0]", 0.5f);
    CEdit(variable("arr"), arrayCopy.data(), "arr").now("[3]", 2.0f);
    EXPECT_EQ(1u, changes("arr", arrayCopy, 1.0).changed);
    EXPECT_EQ(0, std::memcmp(arrayCopy.data(), variable("arr"), arrayCopy.size()));
    edit.nowBytes("name", std::string("ab\0junk", 7));
    edit.now("temp", 1.5f);
    EXPECT_EQ(1u, changes("cell", copy, 1.0, true).changed);
    EXPECT_EQ(0, std::memcmp(copy.data(), variable("cell"), copy.size()));
}

struct RefusalCase {
    const char* what;
    bool loading;
    bool document;
    bool nullKey;
    int address;  // 0 the variable, 1 inside it, 2 unknown
    bool nullCopy;
    int sizeShift;  // nLast - the variable's size
    double deadband;
    const char* message;
};

TEST_F(ChangesTest, RefusalsInOrderLeaveDocumentAndCopyAsTheyWere) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<RefusalCase> cases = {
        {"null key first", true, false, true, 2, true, 1, -1, "Invalid argument"},
        {"no document", true, false, false, 2, true, 1, -1, "The JSON object does not exist."},
        {"loading", true, true, false, 2, true, 1, -1, "Variables are being loaded. Please execute later."},
        {"unknown address", false, true, false, 2, true, 1, -1, "Variable does not exist"},
        {"inside the variable", false, true, false, 1, false, 0, 0, "Variable does not exist"},
        {"null copy", false, true, false, 0, true, 0, 0, "Invalid argument"},
        {"copy one byte short", false, true, false, 0, false, -1, 0, "Invalid argument"},
        {"copy one byte long", false, true, false, 0, false, 1, 0, "Invalid argument"},
        {"negative deadband", false, true, false, 0, false, 0, -0.001, "Invalid argument"},
        {"NaN deadband", false, true, false, 0, false, 0, nan, "Invalid argument"},
        {"minus infinity", false, true, false, 0, false, 0, -inf, "Invalid argument"},
    };
    CWriterCalls unreset;
    std::vector<unsigned char> copy = zeroed("cell");
    CEdit(variable("cell"), copy.data(), "cell").now("count", int32_t{4});
    copy.push_back(0xCC);  // room for the long copy
    const std::vector<unsigned char> before = copy;
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.loading) {
            manager()->EndLoadSymbols();
        }
        host().clearLog();
        writer_.reset();
        writer_.addKeyNumber("before", 1);
        CWriterCalls& writer = c.document ? writer_ : unreset;
        const std::string text = c.document ? writer.text() : "";
        uint8_t* cell = variable("cell");
        void* address = c.address == 0 ? cell : c.address == 1 ? cell + 1 : static_cast<void*>(&copy);
        const CChangesResult result = CallAddChangesFromSymbol(
            writer.instance(), c.nullKey ? nullptr : "c", address, c.nullCopy ? nullptr : copy.data(),
            static_cast<RTS_IEC_UDINT>(size("cell") + c.sizeShift), c.deadband, false);
        EXPECT_EQ(0, result.added);
        EXPECT_EQ(0u, result.changed);
        EXPECT_EQ(std::vector<std::string>{RefusalRecord(c.message)}, DescribedLog());
        EXPECT_EQ(before, copy);
        if (c.document) {
            EXPECT_EQ(text, writer.text());
        }
        if (c.loading) {
            loadSymbols();
        }
    }
    // The same copy is taken once the call fits: the change goes with it.
    writer_.reset();
    copy.pop_back();
    EXPECT_EQ(1u, changes("cell", copy, inf).changed);
    EXPECT_EQ(R"({"c":{"count":4}})", writer_.text());
}

// RFC 7396: the patch applied to target.
void MergePatch(rapidjson::Value& target, const rapidjson::Value& patch,
                rapidjson::Document::AllocatorType& allocator) {
    if (!patch.IsObject()) {
        target.CopyFrom(patch, allocator);
        return;
    }
    if (!target.IsObject()) {
        target.SetObject();
    }
    for (const auto& member : patch.GetObject()) {
        if (member.value.IsNull()) {
            target.RemoveMember(member.name);
            continue;
        }
        auto found = target.FindMember(member.name);
        if (found == target.MemberEnd()) {
            rapidjson::Value name(member.name, allocator);
            rapidjson::Value value;
            MergePatch(value, member.value, allocator);
            target.AddMember(name, value, allocator);
        } else {
            MergePatch(found->value, member.value, allocator);
        }
    }
}

// One leaf of ST_Cell and how a random change of it is written.
struct RandomLeaf {
    const char* member;
    std::function<void(uint8_t*, std::mt19937&, double)> change;  // at the leaf, deadband
};

template <typename T>
std::function<void(uint8_t*, std::mt19937&, double)> RandomInteger(int64_t lowest, int64_t highest) {
    return [=](uint8_t* at, std::mt19937& random, double) {
        const T value = static_cast<T>(std::uniform_int_distribution<int64_t>(lowest, highest)(random));
        std::memcpy(at, &value, sizeof(T));
    };
}

// A step of up to twice the deadband (of 1 without one) from where the value is.
template <typename T>
std::function<void(uint8_t*, std::mt19937&, double)> RandomReal() {
    return [](uint8_t* at, std::mt19937& random, double deadband) {
        T value;
        std::memcpy(&value, at, sizeof(T));
        const double reach = deadband > 0 ? 2 * deadband : 1;
        value = static_cast<T>(value + std::uniform_real_distribution<double>(-reach, reach)(random));
        std::memcpy(at, &value, sizeof(T));
    };
}

// Characters then a terminator, and bytes after it that must not count.
std::function<void(uint8_t*, std::mt19937&, double)> RandomText(size_t units, size_t unitSize) {
    return [=](uint8_t* at, std::mt19937& random, double) {
        const size_t length = std::uniform_int_distribution<size_t>(0, units)(random);
        for (size_t i = 0; i <= units; ++i) {
            const bool text = i < length;
            at[i * unitSize] = text ? static_cast<uint8_t>('a' + random() % 26) : 0;
            if (unitSize == 2) {
                at[i * unitSize + 1] = 0;
            }
            if (i > length) {
                at[i * unitSize] = static_cast<uint8_t>(random());  // after the terminator
            }
        }
    };
}

// A few hundred random changes: a replica that applies every patch with SetSymbolFromJson
// ends equal to the copy (and, without a deadband, to the source), and every patch turns
// what was sent before into what was sent after.
TEST_F(ChangesTest, AReplicaApplyingEveryPatchEndsEqualToWhatWasSent) {
    const std::vector<RandomLeaf> leaves = {
        {"temp", RandomReal<float>()},
        {"level", RandomReal<double>()},
        {"count", RandomInteger<int32_t>(INT32_MIN, INT32_MAX)},
        {"bits", RandomInteger<int16_t>(INT16_MIN, INT16_MAX)},
        {"ready", RandomInteger<uint8_t>(0, 1)},
        {"t", RandomInteger<int32_t>(-100000, 100000)},
        {"stamp", RandomInteger<uint32_t>(0, UINT32_MAX)},
        {"mode", RandomInteger<int16_t>(0, 5)},
        {"name", RandomText(7, 1)},
        {"label", RandomText(4, 2)},
        {"axis.pos", RandomReal<double>()},
        {"axis.speed", RandomReal<float>()},
        {"v[1]", RandomInteger<int16_t>(-5, 5)},
        {"grid[2,1]", RandomInteger<int16_t>(-5, 5)},
        {"cube[0,1,0]", RandomInteger<int8_t>(-5, 5)},
        {"pts[1].x", RandomInteger<int32_t>(-5, 5)},
        {"pts[0].y", RandomReal<float>()},
    };
    uint8_t* source = variable("cell");
    uint8_t* sent = app().address("App.Sent.cell");
    uint8_t* replica = app().address("App.Remote.cell");
    const uint32_t bytes = size("cell");
    writer_.setFormat(ZENTRIK_FORMAT_NUMERIC_ENUMS);
    std::mt19937 random(7396);
    for (double deadband : {0.0, 0.5}) {
        SCOPED_TRACE("deadband " + std::to_string(deadband));
        std::memset(source, 0, bytes);
        std::memset(sent, 0, bytes);
        std::memset(replica, 0, bytes);
        size_t patches = 0;
        for (int step = 0; step < 300; ++step) {
            for (int n = std::uniform_int_distribution<int>(0, 3)(random); n > 0; --n) {
                const RandomLeaf& leaf = leaves[random() % leaves.size()];
                leaf.change(app().address(std::string("App.Globals.cell.") + leaf.member), random, deadband);
            }
            rapidjson::Document before;
            before.Parse(wholeText(sent, ZENTRIK_FORMAT_NUMERIC_ENUMS).c_str());
            writer_.reset();
            const CChangesResult result = CallAddChangesFromSymbol(writer_.instance(), "cell", source, sent,
                                                                   bytes, deadband, step % 100 == 99);
            ASSERT_EQ(1, result.added) << step;
            const std::string patch = writer_.text();
            if (patch == "{}") {
                ASSERT_EQ(0u, result.changed) << step;
                continue;
            }
            ++patches;
            ASSERT_EQ(1, CallSetFromJson(patch, replica)) << patch;
            rapidjson::Document parsed;
            parsed.Parse(patch.c_str());
            MergePatch(before["c"], parsed["cell"], before.GetAllocator());
            rapidjson::Document after;
            after.Parse(wholeText(sent, ZENTRIK_FORMAT_NUMERIC_ENUMS).c_str());
            ASSERT_TRUE(before == after) << "step " << step << ": " << patch;
        }
        EXPECT_GT(patches, 100u);
        EXPECT_EQ(wholeText(sent, ZENTRIK_FORMAT_NUMERIC_ENUMS),
                  wholeText(replica, ZENTRIK_FORMAT_NUMERIC_ENUMS));
        if (deadband == 0) {
            EXPECT_EQ(wholeText(source, ZENTRIK_FORMAT_NUMERIC_ENUMS),
                      wholeText(replica, ZENTRIK_FORMAT_NUMERIC_ENUMS));
        }
    }
    EXPECT_TRUE(DescribedLog().empty());
}

// Another task writes the variable whole, again and again (SetSymbolFromJson, under the
// variable's lock); every patch and key frame made meanwhile holds one whole value.
TEST_F(ChangesTest, CallsBesideWritesOfTheSameVariableSeeWholeValues) {
    std::vector<unsigned char> copy = zeroed("cell");
    uint8_t* cell = variable("cell");
    constexpr int kWrites = 3000;
    std::atomic<bool> done{false};
    std::thread other([cell, &done] {
        for (int k = 1; k <= kWrites; ++k) {
            const std::string n = std::to_string(k);
            const std::string text =
                R"({"cell":{"temp":)" + n + R"(,"level":)" + n + R"(,"count":)" + n + "}}";
            if (CallSetFromJson(text, cell) != 1) {
                ADD_FAILURE() << text;
                break;
            }
        }
        done = true;
    });
    int patches = 0;
    int last = 0;
    for (bool finished = false; !finished;) {
        finished = done.load();  // a last call after the last write
        const bool keyFrame = patches % 10 == 9;
        writer_.reset();
        ASSERT_EQ(1, changes("cell", copy, 0, keyFrame).added);
        const std::string text = writer_.text();
        if (text == "{}") {
            continue;
        }
        ++patches;
        rapidjson::Document parsed;
        parsed.Parse(text.c_str());
        const rapidjson::Value& value = parsed["c"];
        ASSERT_TRUE(value.HasMember("temp") && value.HasMember("level") && value.HasMember("count")) << text;
        const int count = value["count"].GetInt();
        EXPECT_EQ(count, value["temp"].GetDouble()) << text;
        EXPECT_EQ(count, value["level"].GetDouble()) << text;
        EXPECT_EQ(keyFrame ? value.MemberCount() : 3u, value.MemberCount()) << text;
        EXPECT_GE(count, last);
        last = count;
    }
    other.join();
    EXPECT_EQ(kWrites, last);
    EXPECT_GT(patches, 0);
}

}  // namespace
