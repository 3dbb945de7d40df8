// Whatever a runtime calls an element, lets a member go unnamed or pads its arrays, a
// control program sees what it sees under the runtime the simulated host models by
// default: the same texts, schemas, report paths, refusals and host calls. Only where
// a text names an element itself (a text written into an element) does the runtime's
// name for it count, and then that name is taken.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "support/DatatypeSupport.h"
#include "support/ReaderCalls.h"
#include "support/RuntimeFixture.h"
#include "support/WriterCalls.h"

namespace {

const char* const kApplication = R"(
    TYPE ST_Pair : STRUCT x : INT; y : LREAL; END_STRUCT END_TYPE
    TYPE ST_Cell : STRUCT id : DINT; axis : ARRAY[0..1, 0..1] OF ST_Pair; tag : STRING(3); END_STRUCT END_TYPE
    VAR_GLOBAL
        list : ARRAY[1..5] OF DINT := [1, 2, 3, 4, 5];
        grid : ARRAY[0..1, 1..3] OF INT := [1, 2, 3, 4, 5, 6];
        cube : ARRAY[0..1, -1..0, 2..3] OF BYTE;
        m : ARRAY[1..3] OF ARRAY[0..2] OF SINT;
        recs : ARRAY[1..4] OF ST_Pair;
        cells : ARRAY[0..2] OF ST_Cell;
        after : INT := 9;
    END_VAR
)";

// Places a datatype call is given: top-level variables, first, middle and last elements,
// elements of arrays of arrays and of arrays of structures, members of elements.
const char* const kPlaces[] = {"list",
                               "list[1]",
                               "list[3]",
                               "list[5]",
                               "grid",
                               "grid[1,2]",
                               "cube[1,0,3]",
                               "m",
                               "m[2]",
                               "m[3][2]",
                               "recs",
                               "recs[1]",
                               "recs[4]",
                               "recs[4].y",
                               "cells",
                               "cells[2].axis",
                               "cells[2].axis[1,0]",
                               "cells[2].axis[1,0].y",
                               "cells[1].tag",
                               "after"};

// An element's own name in a text, whatever the runtime calls it.
const char* const kElementName = "<element>";

// Two lists of observations, compared line by line so that a failure shows the lines.
void ExpectSame(const std::vector<std::string>& expected, const std::vector<std::string>& seen) {
    ASSERT_EQ(expected.size(), seen.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(expected[i], seen[i]);
    }
}

class RuntimeNaming : public RuntimeTest {
   protected:
    // Starts the application under the freedoms given and loads it; the renamed node,
    // when given, gets a name that fits no pattern.
    void load(const CSimFreedoms& freedoms, const char* renamed = nullptr) {
        manager()->EndLoadSymbols();
        app().setFreedoms(freedoms);
        app().resetFaults();
        app().start(kApplication);
        if (renamed != nullptr) {
            app().renameNode(renamed, "odd");
        }
        app().resetCallCounts();
        loadSymbols();
        lookups_ = app().callCount("IecVarAccGetNode");
    }

    static std::string full(const std::string& place) { return "App.Globals." + place; }

    // What the calls of a control program on the loaded application give, each as a text
    // in which the runtime's name of an element, where a text names one, reads
    // kElementName.
    std::vector<std::string> observe() {
        std::vector<std::string> seen;
        seen.push_back("lookups " + std::to_string(lookups_));
        for (const char* place : kPlaces) {
            void* address = app().address(full(place));
            for (const uint32_t format : {0u, ZENTRIK_FORMAT_READABLE, ZENTRIK_FORMAT_BITS}) {
                seen.push_back(std::string(place) + " " + std::to_string(format) + ": " +
                               added(address, format));
            }
            CWriterCalls writer;
            writer.reset();
            CallAddSchemaFromSymbol(writer.instance(), "v", address);
            seen.push_back(std::string(place) + " schema: " + writer.text());
        }
        // Inside members, and one past an array (where the next variable starts).
        for (uint8_t* address :
             {app().address(full("recs[2].y")) + 3, app().address(full("cells[2].axis[1,1].y")) + 4,
              app().address(full("list")) + app().size(full("list"))}) {
            host().clearLog();
            CWriterCalls writer;
            writer.reset();
            const int added = CallAddFromSymbol(writer.instance(), "v", address);
            seen.push_back("inside: " + std::to_string(added) + " " + writer.text() + " " +
                           (logTexts().empty() ? "" : logTexts().back()));
        }
        // Reports of texts into top-level arrays: the paths of the places they name.
        const struct {
            const char* variable;
            const char* text;
        } reports[] = {
            {"grid", R"({"grid":[[1,2,3],[4,5]]})"},
            {"recs", R"({"recs":[{},{},{"x":"a"},{}]})"},
            {"cells", R"({"cells":[{},{"axis":[[{},{}],[{},{"y":"b"}]]}]})"},
            {"m", R"({"m":[[1],[1,2,3]]})"},
            {"cube", R"({"cube":[[[1,2],[3,4]],[[5,6],[7,300]]]})"},
        };
        for (const auto& r : reports) {
            seen.push_back(std::string(r.text) + " -> " + reported(r.text, app().address(full(r.variable))));
        }
        // Texts into elements name the element as the runtime does.
        const struct {
            const char* place;
            const char* value;
        } elements[] = {{"recs[3]", R"({"x":7})"},
                        {"m[2]", "[7,8,9]"},
                        {"cells[1].axis[0,1]", R"({"x":7})"},
                        {"list[4]", "44"}};
        for (const auto& e : elements) {
            const char* place = e.place;
            const std::string value = e.value;
            const std::string name = ComponentName(full(place));
            void* address = app().address(full(place));
            const std::string before = added(address, 0);
            seen.push_back(std::string(place) + " named: " +
                           written("{\"" + name + "\":" + value + "}", address) + " " + added(address, 0));
            seen.push_back(std::string(place) +
                           " report: " + reported("{\"" + name + "\":\"bad\"}", address, name));
            seen.push_back(std::string(place) + " reader: " + read(R"({"e":)" + value + "}", "/e", address) +
                           " " + added(address, 0));
            written("{\"" + name + "\":" + before.substr(5, before.size() - 6) + "}", address);
        }
        return seen;
    }

    static std::string added(void* address, uint32_t format) {
        CWriterCalls writer;
        writer.setFormat(format);
        writer.reset();
        CallAddFromSymbol(writer.instance(), "v", address);
        return writer.text();
    }

    static std::string written(const std::string& text, void* address) {
        return std::to_string(CallSetFromJson(text, address));
    }

    // The report of text written into the variable at address: result, counts, problem
    // (the element's name, when given, read as kElementName).
    static std::string reported(const std::string& text, void* address, const std::string& element = "") {
        fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct record{};
        std::string json = text;
        record.pJson = &json[0];
        record.nSize = static_cast<RTS_IEC_UDINT>(json.size());
        record.pData = static_cast<RTS_IEC_UDINT*>(address);
        fb_jsonreadwritedatatype__setsymbolfromjsonreport(&record);
        std::string problem = record.sProblem;
        if (!element.empty() && problem.compare(0, element.size(), element) == 0) {
            problem.replace(0, element.size(), kElementName);
        }
        return std::to_string(record.SetSymbolFromJsonReport) + " written " +
               std::to_string(record.nWritten) + " skipped " + std::to_string(record.nSkipped) + " missing " +
               std::to_string(record.nMissing) + " " + problem;
    }

    static std::string read(const std::string& text, const char* path, void* address) {
        CReaderCalls reader;
        reader.parse(text);
        return std::to_string(reader.toVariable(path, address));
    }

    uint64_t lookups_ = 0;
};

TEST_P(RuntimeNaming, ControlProgramsSeeWhatTheyDoUnderTheDefaultRuntime) {
    load(GetParam().freedoms);
    const std::vector<std::string> seen = observe();
    load(CSimFreedoms());
    ExpectSame(observe(), seen);
}

// A text into an element takes the runtime's own name for it, as the runtime gives it:
// "[3]", "recs[3]", "App.Globals.recs[3]"; where it gives none, the element's indices.
TEST_P(RuntimeNaming, ATextIntoAnElementNamesItAsTheRuntimeDoes) {
    load(GetParam().freedoms);
    const ESimElementNames naming = GetParam().freedoms.elementNames;
    const std::string expected = naming == ESimElementNames::kArrayAndIndices ? "recs[3]"
                                 : naming == ESimElementNames::kFullPath      ? "App.Globals.recs[3]"
                                                                              : "[3]";
    void* address = app().address(full("recs[3]"));
    EXPECT_EQ(expected, ComponentName(full("recs[3]")));
    EXPECT_EQ("1", written("{\"" + expected + "\":{\"x\":12}}", address));
    EXPECT_EQ(R"({"v":{"x":12,"y":0.0}})", added(address, 0));
    EXPECT_EQ("1 written 0 skipped 0 missing 2 " + expected + ".z: unknown member",
              reported("{\"" + expected + "\":{\"z\":1}}", address));
    EXPECT_EQ("1 written 1 skipped 1 missing 0 " + expected + ".y: expected a number, found a string",
              reported("{\"" + expected + "\":{\"x\":1,\"y\":\"s\"}}", address));
}

// A runtime whose answers for one array fit no pattern: that array is walked element by
// element, and every other result stays the same.
TEST_P(RuntimeNaming, AnArrayWhoseNamesFitNoPatternIsWalkedWithTheSameResults) {
    load(GetParam().freedoms, "App.Globals.recs[4]");
    const uint64_t walked = lookups_;
    std::vector<std::string> seen = observe();
    load(GetParam().freedoms);
    EXPECT_GE(walked, lookups_ + 2) << "the array was not walked element by element";
    std::vector<std::string> kept = observe();
    seen.erase(seen.begin());
    kept.erase(kept.begin());
    ExpectSame(kept, seen);
}

ZENTRIK_UNDER_EVERY_RUNTIME(RuntimeNaming);

}  // namespace
