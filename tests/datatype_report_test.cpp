// SetSymbolFromJsonReport: the same writes, result and log as SetSymbolFromJson, and
// what was written, what was not and why. Also the rules every variable follows when
// it takes back its own text: a top-level scalar or array, arrays of arrays, and
// strings cut only between characters.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/DatatypeSupport.h"
#include "var/DomDriverMgr.h"

namespace {

struct Report {
    RTS_IEC_BOOL result = 7;
    uint32_t written = 0, skipped = 0, unknown = 0, errorOffset = 0, missing = 0;
    std::string problem;
};

// fb_jsonreadwritedatatype__setsymbolfromjsonreport with a record whose outputs hold
// leftovers of an earlier call.
Report CallReport(const std::string& text, void* pData) {
    fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct record;
    std::memset(&record, 0x5A, sizeof(record));
    record.pInstance = nullptr;
    record.pJson = const_cast<char*>(text.data());
    record.nSize = static_cast<RTS_IEC_UDINT>(text.size());
    record.pData = static_cast<RTS_IEC_UDINT*>(pData);
    fb_jsonreadwritedatatype__setsymbolfromjsonreport(&record);
    Report report;
    report.result = record.SetSymbolFromJsonReport;
    report.written = record.nWritten;
    report.skipped = record.nSkipped;
    report.unknown = record.nUnknown;
    report.errorOffset = record.nErrorOffset;
    report.missing = record.nMissing;
    EXPECT_NE(nullptr, std::memchr(record.sProblem, 0, sizeof(record.sProblem))) << "sProblem not terminated";
    report.problem.assign(record.sProblem, strnlen(record.sProblem, sizeof(record.sProblem)));
    return report;
}

#pragma pack(push, 1)
struct Point {
    int32_t x;
};
struct Station {
    int16_t speed;
    char name[6];  // STRING(5)
    Point arr[3];
    uint8_t flag;
};
#pragma pack(pop)

class DatatypeReport : public DatatypeTest {
   protected:
    void SetUp() override {
        DatatypeTest::SetUp();
        std::vector<VarPtr> points;
        for (int i = 0; i < 3; ++i) {
            const std::string element = "arr[" + std::to_string(i) + "]";
            points.push_back(MakeVar(TYPE3_USERDEF, 4, &st_.arr[i], element,
                                     {MakeVar(TYPE3_DINT, 4, &st_.arr[i].x, "x")}));
        }
        root_ = MakeVar(
            TYPE3_USERDEF, sizeof(st_), &st_, "st",
            {MakeVar(TYPE3_INT, 2, &st_.speed, "speed"), MakeVar(TYPE3_STRING, 6, st_.name, "name"),
             MakeVar(TYPE3_ARRAY, 12, st_.arr, "arr", points), MakeVar(TYPE3_BOOL, 1, &st_.flag, "flag")});
        Publish(root_);
    }
    // st's memory as text, to compare what the plain and the reporting call wrote.
    std::string Memory() const { return Hex(reinterpret_cast<const unsigned char*>(&st_), sizeof(st_)); }

    Station st_{};
    VarPtr root_;
};

TEST_F(DatatypeReport, EveryKindOfProblemIsCountedAndTheFirstIsNamed) {
    const std::string good = R"("speed":7,"name":"pump","arr":[{"x":1},{"x":2},{"x":3}],"flag":true)";
    const struct {
        std::string text;
        uint32_t written, skipped, missing, unknown;
        std::string problem;
    } cases[] = {
        {"{\"st\":{" + good + "}}", 6, 0, 0, 0, ""},
        {R"({"st":{"speed":7,"name":"pump","arr":[{"x":1},{"x":2},{"x":"3"}],"flag":true}})", 5, 1, 0, 0,
         "st.arr[2].x: expected a whole number, found a string"},
        {R"({"st":{"speed":7,"name":"pump","arr":[{"x":1},{"x":2}],"flag":true}})", 3, 3, 0, 0,
         "st.arr: 2 elements given, 3 expected"},
        {R"({"st":{"speed":70000,"name":"pump","arr":[{"x":1},{"x":2},{"x":3}],"flag":true}})", 6, 0, 0, 0,
         "st.speed: 70000 wrapped to 4464"},
        {R"({"st":{"speed":70000.0,"name":"pump","arr":[{"x":1},{"x":2},{"x":3}],"flag":true}})", 6, 0, 0, 0,
         "st.speed: 70000 wrapped to 4464"},
        {R"({"st":{"speed":7,"name":"abcdefgh","arr":[{"x":1},{"x":2},{"x":3}],"flag":true}})", 6, 0, 0, 0,
         "st.name: cut to 5 bytes"},
        {R"({"st":{"speed":7,"name":"ab\u0000cd","arr":[{"x":1},{"x":2},{"x":3}],"flag":true}})", 6, 0, 0, 0,
         "st.name: cut at an embedded zero"},
        {"{\"st\":{" + good + ",\"Speed\":1}}", 6, 0, 0, 1, "st.Speed: unknown member"},
        // A wrongly cased member: missing, and unknown; the unknown member is the problem.
        {R"({"st":{"Speed":7,"name":"pump","arr":[{"x":1},{"x":2},{"x":3}],"flag":true}})", 5, 0, 1, 1,
         "st.Speed: unknown member"},
        {R"({"st":{"speed":7,"name":"pump","arr":{"x":1},"flag":1}})", 2, 4, 0, 0,
         "st.arr: expected an array, found an object"},
        {R"({"st":{"speed":7,"name":"pump","arr":[5,{"x":2,"y":0},{"x":3}],"flag":true}})", 5, 1, 0, 1,
         "st.arr[0]: expected an object, found an integer"},
        {R"({"st":{"speed":5000000000,"name":"pump","arr":[{"x":1},{"x":2},{"x":3}],"flag":0}})", 4, 2, 0, 0,
         "st.speed: 5000000000 is out of the range of INT"},
        {R"({"st":{"speed":7.5,"name":null,"arr":[{"x":1},{"x":2},{"x":3}],"flag":true}})", 4, 2, 0, 0,
         "st.speed: 7.5 is not a whole number"},
        // Members of the root object other than the variable's own are not counted.
        {R"({"other":1,"st":{"speed":7,"name":"pump","arr":[{"x":1},{"x":2},{"x":3}],"flag":true}})", 6, 0, 0,
         0, ""},
        {R"({"ST":{"speed":7}})", 0, 0, 6, 0, "st: missing"},
        {R"({"st":{"name":"pump"}})", 1, 0, 5, 0, "st.speed: missing"},
        {R"({"st":[1]})", 0, 6, 0, 0, "st: expected an object, found an array"},
        {R"([{"st":{}}])", 0, 6, 0, 0, "st: expected an object holding \"st\", found an array"},
        // Two members of one name: the first is written, the second is not unknown.
        {"{\"st\":{" + good + ",\"speed\":9}}", 6, 0, 0, 0, ""},
    };
    for (const auto& c : cases) {
        st_ = Station{};
        ASSERT_EQ(1, CallSetFromJson(c.text, &st_)) << c.text;
        const std::string plain = Memory();
        st_ = Station{};
        const Report report = CallReport(c.text, &st_);
        EXPECT_EQ(1, report.result) << c.text;
        EXPECT_EQ(plain, Memory()) << "the report call wrote something else: " << c.text;
        EXPECT_EQ(c.problem, report.problem) << c.text;
        EXPECT_EQ(c.written, report.written) << c.text;
        EXPECT_EQ(c.skipped, report.skipped) << c.text;
        EXPECT_EQ(c.missing, report.missing) << c.text;
        EXPECT_EQ(c.unknown, report.unknown) << c.text;
        EXPECT_EQ(0u, report.errorOffset) << c.text;
    }
    EXPECT_TRUE(LogRecords().empty());
}

// A partial update (the usual delta message) mentions a few members: the leaves it leaves
// out are counted apart, and the problem is the first real one in the variable's order,
// not the first member left out.
TEST_F(DatatypeReport, ADeltaMessageNamesItsFirstRealProblem) {
    struct Delta {
        int16_t before;  // not in the text
        int16_t speed;
        float setpoint;
        int16_t counts[4];
        int16_t after[8];  // not in the text
    } d{};
    std::vector<VarPtr> counts, after;
    for (int i = 0; i < 4; ++i) {
        counts.push_back(MakeVar(TYPE3_INT, 2, &d.counts[i], "counts[" + std::to_string(i) + "]"));
    }
    for (int i = 0; i < 8; ++i) {
        after.push_back(MakeVar(TYPE3_INT, 2, &d.after[i], "after[" + std::to_string(i) + "]"));
    }
    Publish(MakeVar(
        TYPE3_USERDEF, sizeof(d), &d, "d",
        {MakeVar(TYPE3_INT, 2, &d.before, "before"), MakeVar(TYPE3_INT, 2, &d.speed, "speed"),
         MakeVar(TYPE3_REAL, 4, &d.setpoint, "setpoint"), MakeVar(TYPE3_ARRAY, 8, d.counts, "counts", counts),
         MakeVar(TYPE3_ARRAY, 16, d.after, "after", after)}));
    const Report report = CallReport(R"({"d":{"setpoint":20,"counts":[1,2],"speed":70000}})", &d);
    EXPECT_EQ(1, report.result);
    EXPECT_EQ("d.speed: 70000 wrapped to 4464", report.problem);
    EXPECT_EQ(2u, report.written);  // speed (wrapped) and setpoint (20 is 20.0)
    EXPECT_EQ(4u, report.skipped);  // the array of two given for four
    EXPECT_EQ(9u, report.missing);  // before and the eight of after
    EXPECT_EQ(0u, report.unknown);
    EXPECT_EQ(20.0f, d.setpoint);
    // Only missing members: then the first of them is named.
    const Report partial = CallReport(R"({"d":{"speed":1}})", &d);
    EXPECT_EQ("d.before: missing", partial.problem);
    EXPECT_EQ(14u, partial.missing);
    EXPECT_EQ(0u, partial.skipped);
}

TEST_F(DatatypeReport, RefusalsGiveTheSameResultAndLogAsThePlainCall) {
    const struct {
        std::string text;
        void* pData;
        bool loading;
        std::string problem;
    } cases[] = {
        {R"({"st":{}})", reinterpret_cast<char*>(&st_) + 1, false, "Variable does not exist"},
        {R"({"st":{}})", &st_, true, "Variables are being loaded. Please execute later."},
    };
    for (const auto& c : cases) {
        if (c.loading) {
            CDomDriverMgr::instance()->index().Withdraw();  // as a load in progress
        } else if (!CDomDriverMgr::instance()->index().Ready()) {
            Publish(root_);
        }
        host().clearLog();
        EXPECT_EQ(0, CallSetFromJson(c.text, c.pData));
        const std::vector<std::string> plainLog = LogRecords();
        host().clearLog();
        const Report report = CallReport(c.text, c.pData);
        EXPECT_EQ(0, report.result);
        EXPECT_EQ(c.problem, report.problem);
        EXPECT_EQ(std::vector<std::string>{RefusalRecord(c.problem)}, LogRecords());
        EXPECT_EQ(plainLog, LogRecords());
        EXPECT_EQ(0u, report.written + report.skipped + report.unknown + report.errorOffset);
    }
}

TEST_F(DatatypeReport, ParseErrorsOfTheSuiteGiveTheirOffsetAndReason) {
    const std::string directory = std::string(ZENTRIK_SHARED_DIR) + "/data/jsontestsuite/test_parsing";
    size_t refused = 0;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("n_", 0) != 0) {
            continue;
        }
        std::ifstream file(entry.path(), std::ios::binary);
        std::ostringstream bytes;
        bytes << file.rdbuf();
        const std::string text = bytes.str();
        host().clearLog();
        const Report report = CallReport(text, &st_);
        if (report.result == 1) {
            continue;  // valid before its first zero byte; the parsing suite covers it
        }
        ++refused;
        EXPECT_EQ(std::vector<std::string>{RefusalRecord("Json error")}, LogRecords()) << name;
        const std::string prefix = "JSON text at byte " + std::to_string(report.errorOffset) + ": ";
        EXPECT_EQ(prefix, report.problem.substr(0, prefix.size())) << name;
        EXPECT_GT(report.problem.size(), prefix.size()) << name << ": no reason";
        EXPECT_LE(report.errorOffset, text.size()) << name;
    }
    EXPECT_GT(refused, 150u);
    // Where the fault is, for a few plain cases.
    const struct {
        std::string text;
        uint32_t offset;
        std::string problem;
    } cases[] = {
        {"", 0, "JSON text at byte 0: The document is empty."},
        {R"({"st":{"speed":1,}})", 17, "JSON text at byte 17: Missing a name for object member."},
        {R"({"st":{}} x)", 10,
         "JSON text at byte 10: The document root must not be followed by other values."},
    };
    for (const auto& c : cases) {
        const Report report = CallReport(c.text, &st_);
        EXPECT_EQ(0, report.result) << c.text;
        EXPECT_EQ(c.offset, report.errorOffset) << c.text;
        EXPECT_EQ(c.problem, report.problem) << c.text;
    }
}

TEST_F(DatatypeReport, ProblemIsCutAtACharacterBoundaryWithin255Bytes) {
    // "st.x" + characters + ": unknown member": ASCII fills the 255 bytes exactly; a
    // 2-, 3- or 4-byte character that would straddle the end is left out whole.
    const struct {
        std::string piece;
        size_t expected;
    } cases[] = {{"a", 255}, {"\xC3\xA9", 254}, {"\xE2\x82\xAC", 253}, {"\xF0\x9F\x98\x80", 252}};
    for (const auto& c : cases) {
        std::string name = "x";
        while (name.size() < 300) {
            name += c.piece;
        }
        const Report report =
            CallReport(R"({"st":{"speed":7,"name":"pump","arr":[{"x":1},{"x":2},{"x":3}],"flag":true,")" +
                           name + R"(":1}})",
                       &st_);
        EXPECT_EQ(1u, report.unknown);
        EXPECT_EQ(c.expected, report.problem.size()) << c.piece;
        EXPECT_EQ(("st." + name).substr(0, c.expected), report.problem);
    }
}

TEST_F(DatatypeReport, TypeClassesThatAreNeverWrittenAreSkipped) {
    struct {
        void* p;
        int32_t e;
    } v{nullptr, 3};
    Publish(MakeVar(TYPE3_USERDEF, sizeof(v), &v, "v",
                    {MakeVar(TYPE3_POINTER, 8, &v.p, "p"), MakeVar(TYPE3_ENUM, 4, &v.e, "e")}));
    const Report report = CallReport(R"({"v":{"p":1,"e":2}})", &v);
    EXPECT_EQ(1, report.result);
    EXPECT_EQ(1u, report.written);  // an enumeration takes its integer
    EXPECT_EQ(1u, report.skipped);
    EXPECT_EQ("v.p: type class POINTER is never written", report.problem);
    EXPECT_EQ(2, v.e);
}

// What each new text form says when it does not fit its leaf.
TEST_F(DatatypeReport, RefusedValuesSayWhy) {
    struct {
        int32_t t;    // TIME
        uint32_t dt;  // DATE_AND_TIME
        int64_t li;   // LINT
        float r;      // REAL
        double lr;    // LREAL
        int16_t e;    // ENUM
    } v{};
    Publish(MakeVar(TYPE3_USERDEF, sizeof(v), &v, "v",
                    {MakeVar(TYPE3_TIME, 4, &v.t, "t"), MakeVar(TYPE3_DATEANDTIME, 4, &v.dt, "dt"),
                     MakeVar(TYPE3_LINT, 8, &v.li, "li"), MakeVar(TYPE3_REAL, 4, &v.r, "r"),
                     MakeVar(TYPE3_LREAL, 8, &v.lr, "lr"), MakeVar(TYPE3_ENUM, 2, &v.e, "e")}));
    const struct {
        const char* member;
        const char* json;
        const char* problem;
    } cases[] = {
        {"t", "\"PT0.0005S\"", "v.t: \"PT0.0005S\" is finer than a millisecond"},
        {"t", "\"5 s\"", "v.t: \"5 s\" is not an ISO 8601 duration"},
        {"t", "\"PT596H32M\"", "v.t: \"PT596H32M\" is out of the range of TIME"},
        {"dt", "\"2106-02-08\"", "v.dt: \"2106-02-08\" is out of the range of DATE_AND_TIME"},
        {"dt", "\"2026-12-08T07:35:00\"", "v.dt: \"2026-12-08T07:35:00\" is not an ISO 8601 date and time"},
        {"dt", "true", "v.dt: expected a whole number or an ISO 8601 date and time, found a boolean"},
        {"li", "\"12a\"", "v.li: \"12a\" is not a decimal integer"},
        {"li", "1.0000000000000000001", "v.li: the number is not a whole number"},
        {"li", "-9223372036854775809.0", "v.li: -9223372036854775809 is out of the range of LINT"},
        {"li", "1e30", "v.li: 1e+30 is out of the range of LINT"},
        {"r", "1e39", "v.r: 1e+39 is out of the range of REAL"},
        {"e", "70000", "v.e: 70000 is out of the range of ENUM"},
    };
    for (const auto& c : cases) {
        const Report report = CallReport(std::string("{\"v\":{\"") + c.member + "\":" + c.json + "}}", &v);
        EXPECT_EQ(c.problem, report.problem) << c.json;
        EXPECT_EQ(0u, report.written) << c.json;
        EXPECT_EQ(1u, report.skipped) << c.json;
        EXPECT_EQ(5u, report.missing) << c.json;
    }
    EXPECT_EQ(0, v.t);
    EXPECT_EQ(0u, v.dt);
    EXPECT_EQ(0, v.li);
    EXPECT_EQ(0.0f, v.r);
    EXPECT_EQ(0.0, v.lr);
    EXPECT_EQ(0, v.e);
}

// A variable at the top level takes its own text: a scalar its value, an array a JSON
// array of exactly its element count or (as before) an object with its elements' names,
// an array of arrays nested JSON arrays.
TEST_F(DatatypeReport, TopLevelScalarsAndArraysTakeTheirOwnText) {
    int16_t counter = 0;
    int16_t arr[3] = {0, 0, 0};
    int16_t grid[2][2] = {{0, 0}, {0, 0}};
    Publish(MakeVar(TYPE3_INT, 2, &counter, "counter"));
    Publish(MakeVar(TYPE3_ARRAY, 6, arr, "arr",
                    {MakeVar(TYPE3_INT, 2, &arr[0], "arr[1]"), MakeVar(TYPE3_INT, 2, &arr[1], "arr[2]"),
                     MakeVar(TYPE3_INT, 2, &arr[2], "arr[3]")}));
    Publish(MakeVar(TYPE3_ARRAY, 8, grid, "m",
                    {MakeVar(TYPE3_ARRAY, 4, grid[0], "m[0]",
                             {MakeVar(TYPE3_INT, 2, &grid[0][0], "m[0][0]"),
                              MakeVar(TYPE3_INT, 2, &grid[0][1], "m[0][1]")}),
                     MakeVar(TYPE3_ARRAY, 4, grid[1], "m[1]",
                             {MakeVar(TYPE3_INT, 2, &grid[1][0], "m[1][0]"),
                              MakeVar(TYPE3_INT, 2, &grid[1][1], "m[1][1]")})}));
    auto state = [&] {
        return std::to_string(counter) + "|" + std::to_string(arr[0]) + "," + std::to_string(arr[1]) + "," +
               std::to_string(arr[2]) + "|" + std::to_string(grid[0][0]) + "," + std::to_string(grid[0][1]) +
               "," + std::to_string(grid[1][0]) + "," + std::to_string(grid[1][1]);
    };
    const struct {
        std::string text;
        void* pData;
        std::string state;
        uint32_t written, skipped, unknown;
        std::string problem;
    } cases[] = {
        {R"({"counter":5})", &counter, "5|0,0,0|0,0,0,0", 1, 0, 0, ""},
        {R"({"counter":"5"})", &counter, "0|0,0,0|0,0,0,0", 0, 1, 0,
         "counter: expected a whole number, found a string"},
        {R"({"counter":{"counter":5}})", &counter, "0|0,0,0|0,0,0,0", 0, 1, 0,
         "counter: expected a whole number, found an object"},
        {R"({"arr":[1,2,3]})", arr, "0|1,2,3|0,0,0,0", 3, 0, 0, ""},
        {R"({"arr":[1,2]})", arr, "0|0,0,0|0,0,0,0", 0, 3, 0, "arr: 2 elements given, 3 expected"},
        {R"({"arr":{"arr[3]":9,"arr[1]":7,"x":1}})", arr, "0|7,0,9|0,0,0,0", 2, 0, 1,
         "arr.x: unknown member"},
        {R"({"arr":{"arr[3]":9,"arr[1]":7}})", arr, "0|7,0,9|0,0,0,0", 2, 0, 0, "arr[2]: missing"},
        {R"({"m":[[1,2],[3,4]]})", grid, "0|0,0,0|1,2,3,4", 4, 0, 0, ""},
        {R"({"m":[[1,2],[3]]})", grid, "0|0,0,0|1,2,0,0", 2, 2, 0, "m[1]: 1 elements given, 2 expected"},
        {R"({"m":[[1,2],5]})", grid, "0|0,0,0|1,2,0,0", 2, 2, 0, "m[1]: expected an array, found an integer"},
    };
    for (const auto& c : cases) {
        counter = 0;
        std::memset(arr, 0, sizeof(arr));
        std::memset(grid, 0, sizeof(grid));
        EXPECT_EQ(1, CallSetFromJson(c.text, c.pData)) << c.text;
        EXPECT_EQ(c.state, state()) << c.text;
        counter = 0;
        std::memset(arr, 0, sizeof(arr));
        std::memset(grid, 0, sizeof(grid));
        const Report report = CallReport(c.text, c.pData);
        EXPECT_EQ(1, report.result) << c.text;
        EXPECT_EQ(c.state, state()) << c.text;
        EXPECT_EQ(c.problem, report.problem) << c.text;
        EXPECT_EQ(c.written, report.written) << c.text;
        EXPECT_EQ(c.skipped, report.skipped) << c.text;
        EXPECT_EQ(c.unknown, report.unknown) << c.text;
    }
    EXPECT_TRUE(LogRecords().empty());
}

// A STRING never receives part of a UTF-8 character; a WSTRING keeps its UTF-16 rules.
TEST_F(DatatypeReport, StringsAreCutBetweenCharacters) {
    const struct {
        std::string given;
        std::string stored;
        std::string problem;
    } cases[] = {
        {"abcde", "abcde", ""},
        {"abcdefgh", "abcde", "s: cut to 5 bytes"},
        {"abcd\xC3\xA9", "abcd", "s: cut to 4 bytes"},      // 2-byte character across the end
        {"abcd\xE2\x82\xAC", "abcd", "s: cut to 4 bytes"},  // 3-byte, one byte in
        {"abc\xE2\x82\xAC", "abc", "s: cut to 3 bytes"},    // 3-byte, two bytes in
        {"a\xF0\x9F\x98\x80", "a\xF0\x9F\x98\x80", ""},     // 4-byte, fits exactly
        {"ab\xF0\x9F\x98\x80", "ab", "s: cut to 2 bytes"},  // 4-byte, three bytes in
        {"abcd\xE2\x82\xAC!", "abcd", "s: cut to 4 bytes"},
        {"\xC3\xA9\xC3\xA9\xC3\xA9", "\xC3\xA9\xC3\xA9", "s: cut to 4 bytes"},
        {"abcd\x80\x80\x80\x80", "abcd\x80", "s: cut to 5 bytes"},  // not UTF-8: cut where it falls
    };
    char s[6];
    Publish(MakeVar(TYPE3_STRING, 6, s, "s"));
    for (const auto& c : cases) {
        const std::string text = "{\"s\":\"" + c.given + "\"}";
        std::memset(s, 'X', sizeof(s));
        EXPECT_EQ(1, CallSetFromJson(text, s));
        EXPECT_EQ(c.stored, std::string(s)) << c.given;
        std::memset(s, 'X', sizeof(s));
        const Report report = CallReport(text, s);
        EXPECT_EQ(c.stored, std::string(s)) << c.given;
        EXPECT_EQ(c.problem, report.problem) << c.given;
    }
    uint16_t w[3];  // WSTRING(2)
    Publish(MakeVar(TYPE3_WSTRING, 6, w, "w"));
    const Report report = CallReport("{\"w\":\"a\xF0\x9F\x98\x80\"}", w);  // a surrogate pair never split
    EXPECT_EQ(uint16_t('a'), w[0]);
    EXPECT_EQ(0, w[1]);
    EXPECT_EQ("w: cut to 2 bytes", report.problem);
}

}  // namespace

namespace {

// An object of many members in any order is matched as one in the variable's order: the
// first member of a name counts, a second is not unknown, and names that match nothing
// are counted.
TEST_F(DatatypeReport, ManyMembersAreMatchedByNameInAnyOrder) {
    constexpr int kMembers = 40;
    int16_t values[kMembers] = {};
    std::vector<VarPtr> members, elements;
    for (int i = 0; i < kMembers; ++i) {
        members.push_back(MakeVar(TYPE3_INT, 2, &values[i], "m" + std::to_string(i)));
    }
    int16_t list[kMembers] = {};
    for (int i = 0; i < kMembers; ++i) {
        elements.push_back(MakeVar(TYPE3_INT, 2, &list[i], "list[" + std::to_string(i) + "]"));
    }
    Publish(MakeVar(TYPE3_USERDEF, sizeof(values), values, "big", members));
    Publish(MakeVar(TYPE3_ARRAY, sizeof(list), list, "list", elements));
    std::string big = "{\"big\":{\"zz\":0";
    std::string array = "{\"list\":{\"zz\":0";
    for (int i = kMembers - 1; i >= 0; --i) {
        big += ",\"m" + std::to_string(i) + "\":" + std::to_string(i + 100);
        array += ",\"list[" + std::to_string(i) + "]\":" + std::to_string(i + 100);
    }
    big += ",\"m3\":-1,\"yy\":1}}";
    array += ",\"list[3]\":-1,\"yy\":1}}";
    for (const auto& [text, memory, name] :
         {std::make_tuple(big, values, "big"), std::make_tuple(array, list, "list")}) {
        std::memset(memory, 0, sizeof(values));
        const Report report = CallReport(text, memory);
        EXPECT_EQ(static_cast<uint32_t>(kMembers), report.written) << name;
        EXPECT_EQ(0u, report.skipped) << name;
        EXPECT_EQ(0u, report.missing) << name;
        EXPECT_EQ(2u, report.unknown) << name;
        EXPECT_EQ(std::string(name) + ".zz: unknown member", report.problem);
        for (int i = 0; i < kMembers; ++i) {
            EXPECT_EQ(i + 100, memory[i]) << name << " " << i;
        }
        std::memset(memory, 0, sizeof(values));
        EXPECT_EQ(1, CallSetFromJson(text, memory));
        EXPECT_EQ(103, memory[3]) << name;
    }
}

// The report takes every text SetSymbolFromJson takes: it builds no document, so a text
// whose document would not fit the memory cap (a member of eight million zeros beside the
// variable's) is written and reported on, not refused.
TEST_F(DatatypeReport, TakesEveryTextThePlainCallTakes) {
    struct {
        int16_t a;
    } v{0};
    Publish(MakeVar(TYPE3_USERDEF, sizeof(v), &v, "v", {MakeVar(TYPE3_INT, 2, &v.a, "a")}));
    std::string list(2 * (8u << 20) - 1, ',');  // 0,0,...,0
    for (size_t i = 0; i < list.size(); i += 2) {
        list[i] = '0';
    }
    const std::string text = R"({"v":{"a":5,"junk":[)" + list + "]}}";
    EXPECT_EQ(1, CallSetFromJson(text, &v));
    EXPECT_EQ(5, v.a);
    v.a = 0;
    const Report report = CallReport(text, &v);
    EXPECT_EQ(1, report.result);
    EXPECT_EQ(5, v.a);
    EXPECT_EQ(1u, report.written);
    EXPECT_EQ(1u, report.unknown);
    EXPECT_EQ("v.junk: unknown member", report.problem);
    EXPECT_TRUE(LogRecords().empty());
}

// Every parser of the component skips a leading UTF-8 byte order mark; offsets of a
// fault still count its three bytes.
TEST_F(DatatypeReport, AByteOrderMarkIsSkippedByEveryParser) {
    const std::string mark = "\xEF\xBB\xBF";
    EXPECT_EQ(1, CallSetFromJson(mark + R"({"st":{"speed":9}})", &st_));
    EXPECT_EQ(9, st_.speed);
    const Report report = CallReport(mark + R"({"st":{"speed":,}})", &st_);
    EXPECT_EQ(0, report.result);
    EXPECT_EQ(18u, report.errorOffset);  // the comma, after the mark's three bytes
    EXPECT_EQ("JSON text at byte 18: Invalid value.", report.problem);
    EXPECT_EQ(0, CallSetFromJson("\xEF\xBB" + std::string(R"({"st":{"speed":8}})"), &st_));  // part of a mark
    EXPECT_EQ(9, st_.speed);

    CWriterCalls writer;
    writer.reset();
    writer.addKey("raw");
    writer.addRawObject(mark + R"({"a":1})");
    EXPECT_EQ(R"({"raw":{"a":1}})", writer.text());
    const std::vector<std::string> log = DescribedLog();
    ASSERT_EQ(2u, log.size());  // the report's and the plain call's refusals
    EXPECT_EQ(RefusalRecord("Json error"), log[0]);
}

}  // namespace
