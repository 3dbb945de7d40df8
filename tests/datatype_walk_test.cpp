// JSON to variable through its three entry points: SetSymbolFromJson, its report and the
// reader's ToVariable write the same for every shape a variable takes (structures in any
// member order, arrays of one to three dimensions given flat or nested lists, arrays of
// arrays, the variable itself given an object of its elements), and the report says the
// same of each, whatever the order the text gives its members in.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/ApplicationFixture.h"
#include "support/DatatypeSupport.h"
#include "support/ReaderCalls.h"
#include "support/WriterCalls.h"

namespace {

const char* const kShapes = R"(
    TYPE ST_P : STRUCT x : DINT; y : INT; END_STRUCT END_TYPE
    VAR_GLOBAL
        st : ST_P;
        list : ARRAY[1..3] OF INT;
        grid : ARRAY[0..1, 0..2] OF INT;
        cube : ARRAY[0..1, 0..1, 0..1] OF SINT;
        col : ARRAY[0..2, 0..0] OF INT;
        pts : ARRAY[0..1, 0..1] OF ST_P;
        aoa : ARRAY[0..1] OF ARRAY[0..1] OF INT;
        garr : ARRAY[0..1, 0..1] OF ARRAY[0..1] OF INT;
    END_VAR
)";

class DatatypeWalkTest : public ApplicationTest {
   protected:
    // The variable as AddJsonKeyValueFromSymbol writes it in format 0 (flat lists).
    std::string Text(const std::string& name) {
        CWriterCalls writer;
        writer.reset();
        EXPECT_EQ(1, CallAddFromSymbol(writer.instance(), "v", app().address("App.Globals." + name)));
        return writer.text();
    }
    void Zero(const std::string& name) {
        std::memset(app().address("App.Globals." + name), 0, app().size("App.Globals." + name));
    }
};

struct Reported {
    RTS_IEC_BOOL result;
    uint32_t written, skipped, missing, unknown;
    std::string problem;
};

Reported CallReport(const std::string& text, void* pData) {
    fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct record{};
    std::string copy = text;
    record.pJson = &copy[0];
    record.nSize = static_cast<RTS_IEC_UDINT>(copy.size());
    record.pData = static_cast<RTS_IEC_UDINT*>(pData);
    record.SetSymbolFromJsonReport = 7;
    fb_jsonreadwritedatatype__setsymbolfromjsonreport(&record);
    return Reported{record.SetSymbolFromJsonReport,
                    record.nWritten,
                    record.nSkipped,
                    record.nMissing,
                    record.nUnknown,
                    record.sProblem};
}

TEST_F(DatatypeWalkTest, EveryShapeIsWrittenAlikeThroughEveryEntryPoint) {
    app().start(kShapes);
    loadSymbols();
    host().clearLog();
    const struct {
        const char* name;
        const char* value;   // the variable's member of the text
        const char* memory;  // the variable afterwards, from zeroes, as format 0 writes it
        uint32_t written, skipped;
        const char* problem;
    } cases[] = {
        {"st", R"({"x":1,"y":2})", R"({"x":1,"y":2})", 2, 0, ""},
        {"st", R"({"y":2,"zz":[1],"x":1})", R"({"x":1,"y":2})", 2, 0, "st.zz: unknown member"},
        {"st", R"({"x":1,"x":5})", R"({"x":1,"y":0})", 1, 0, "st.y: missing"},
        {"st", R"({"y":"2","x":"1"})", R"({"x":0,"y":0})", 0, 2,
         "st.x: expected a whole number, found a string"},
        {"st", "[1,2]", R"({"x":0,"y":0})", 0, 2, "st: expected an object, found an array"},
        {"list", "[1,2,3]", "[1,2,3]", 3, 0, ""},
        {"list", R"([1,"x",3])", "[1,0,3]", 2, 1, "list[2]: expected a whole number, found a string"},
        {"list", R"(["x",2])", "[0,0,0]", 0, 3, "list: 2 elements given, 3 expected"},
        {"list", R"({"list[3]":9,"y":0,"list[1]":7})", "[7,0,9]", 2, 0, "list.y: unknown member"},
        {"grid", "[1,2,3,4,5,6]", "[1,2,3,4,5,6]", 6, 0, ""},
        {"grid", "[[1,2,3],[4,5,6]]", "[1,2,3,4,5,6]", 6, 0, ""},
        {"grid", "[[1,2,3],[4,5]]", "[0,0,0,0,0,0]", 0, 6, "grid[1]: 2 elements given, 3 expected"},
        {"grid", "[1,2]", "[0,0,0,0,0,0]", 0, 6, "grid[0]: expected an array, found an integer"},
        {"grid", "[[1,2,3],[4,5,6],[7,8,9]]", "[0,0,0,0,0,0]", 0, 6,
         "grid: 3 elements given, 6 expected (or 2 nested arrays of 3)"},
        {"grid", R"({"grid[1,2]":6,"grid[0,0]":1})", "[1,0,0,0,0,6]", 2, 0, "grid[0,1]: missing"},
        {"grid", R"([[1,"x",3],[4,5,6]])", "[1,0,3,4,5,6]", 5, 1,
         "grid[0,1]: expected a whole number, found a string"},
        {"cube", "[[[1,2],[3,4]],[[5,6],[7,8]]]", "[1,2,3,4,5,6,7,8]", 8, 0, ""},
        {"cube", "[1,2,3,4,5,6,7,8]", "[1,2,3,4,5,6,7,8]", 8, 0, ""},
        {"cube", "[[[1,2],[3]],[[5,6],[7,8]]]", "[0,0,0,0,0,0,0,0]", 0, 8,
         "cube[0][1]: 1 elements given, 2 expected"},
        // The outer list's own count comes first, then the lists inside it.
        {"cube", "[[[1,2],[3],[4,5]],[[5,6],[7,8]]]", "[0,0,0,0,0,0,0,0]", 0, 8,
         "cube[0]: 3 elements given, 2 expected"},
        // Every other extent 1: lists of one are nested, anything else is the flat list.
        {"col", "[[1],[2],[3]]", "[1,2,3]", 3, 0, ""},
        {"col", "[1,2,3]", "[1,2,3]", 3, 0, ""},
        {"col", "[[1],2,[3]]", "[0,2,0]", 1, 2, "col[0,0]: expected a whole number, found an array"},
        {"pts", R"([[{"x":1},{"y":2}],[{"x":3,"y":4},5]])",
         R"([{"x":1,"y":0},{"x":0,"y":2},{"x":3,"y":4},{"x":0,"y":0}])", 4, 2,
         "pts[1,1]: expected an object, found an integer"},
        {"aoa", "[[1,2],[3,4]]", "[[1,2],[3,4]]", 4, 0, ""},
        {"aoa", "[[1,2],[3]]", "[[1,2],[0,0]]", 2, 2, "aoa[1]: 1 elements given, 2 expected"},
        {"garr", "[[[1,2],[3,4]],[[5,6],[7,8]]]", "[[1,2],[3,4],[5,6],[7,8]]", 8, 0, ""},
        {"garr", "[[1,2],[3,4],[5,6],[7,8]]", "[[1,2],[3,4],[5,6],[7,8]]", 8, 0, ""},
        {"garr", "[[[1,2],[3,4]],[[5,6],[7]]]", "[[1,2],[3,4],[5,6],[0,0]]", 6, 2,
         "garr[1,1]: 1 elements given, 2 expected"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ": " + c.value);
        const std::string text = std::string("{\"") + c.name + "\":" + c.value + "}";
        const std::string expected = std::string("{\"v\":") + c.memory + "}";
        void* const address = app().address(std::string("App.Globals.") + c.name);

        Zero(c.name);
        EXPECT_EQ(1, CallSetFromJson(text, address));
        EXPECT_EQ(expected, Text(c.name)) << "SetSymbolFromJson";

        Zero(c.name);
        const Reported report = CallReport(text, address);
        EXPECT_EQ(1, report.result);
        EXPECT_EQ(expected, Text(c.name)) << "SetSymbolFromJsonReport";
        EXPECT_EQ(c.written, report.written);
        EXPECT_EQ(c.skipped, report.skipped);
        EXPECT_EQ(c.problem, report.problem);

        Zero(c.name);
        CReaderCalls reader;
        ASSERT_EQ(1, reader.parse(text).Parse);
        EXPECT_EQ(1, reader.toVariable((std::string("/") + c.name).c_str(), address));
        EXPECT_EQ(expected, Text(c.name)) << "ToVariable";
    }
    EXPECT_TRUE(logTexts().empty());
}

}  // namespace
