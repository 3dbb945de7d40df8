// zentrik-host as a user runs it: the built program with the built library, its exit
// codes, its messages, events that start loads, and JSON texts of any size from a file
// or from standard input.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/schema.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "RV5072_Zentrik/ZentrikVersion.h"
#include "support/HostProcess.h"
#include "support/LargeApplications.h"

namespace {

using RunResult = HostRunResult;

std::string ReadAll(const std::string& path) { return ReadWholeFile(path); }
void WriteAll(const std::string& path, const std::string& text) { WriteWholeFile(path, text); }

size_t Count(const std::string& text, const std::string& what) {
    size_t found = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++found;
    return found;
}

// A scratch directory with the application file every case uses.
class ZentrikHost : public ScratchDirectoryTest {
   protected:
    void SetUp() override {
        ScratchDirectoryTest::SetUp();
        WriteAll(path("cell.st"), kCellApplication);
    }
};

TEST_F(ZentrikHost, EveryErrorEndsWithItsMessageAndExitCode) {
    WriteAll(path("empty.st"), "");
    WriteAll(path("comments.st"), "(* nothing declared *)\n// still nothing\n");
    WriteAll(path("typo.st"), "VAR_GLOBAL x : INTT; END_VAR\n");
    WriteAll(path("big.st"), ManyMembersDeclarations(20));
    WriteAll(path("broken.json"), R"({"cell":{"count":)");
    std::string app = path("cell.st");
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string message;
    };
    std::vector<Case> cases = {
        // usage errors: nothing is loaded, nothing is run
        {{}, 2, "zentrik-host: no application file given"},
        {{"--bogus", app}, 2, "zentrik-host: unknown option --bogus"},
        {{"--lib"}, 2, "zentrik-host: --lib needs a value"},
        {{"--timeout", "soon", app},
         2,
         "zentrik-host: --timeout needs a positive number of seconds, not soon"},
        {{"--timeout", "0", app}, 2, "--timeout needs a positive number of seconds"},
        {{"--format", "readible", app},
         2,
         "zentrik-host: --format takes names of format bits (readable, iso_8601, ...) or a number, not "
         "readible"},
        {{"--format", "0x200", app},
         2,
         "zentrik-host: --format 0x200 holds bits no format has (at most 16#01FF)"},
        {{app, "frobnicate"},
         2,
         "zentrik-host: unknown command frobnicate (zentrik-host --help shows the usage)"},
        {{"run", path("p.st"), "--print", "x"},
         2,
         "zentrik-host: the first argument is the application's declarations, then the commands: "
         "zentrik-host "
         "APP.st run " +
             path("p.st") + " --print x (zentrik-host --help shows the usage)"},
        {{app, "print", "--bogus"}, 2, "zentrik-host: unknown option --bogus"},
        {{app, "run"},
         2,
         "zentrik-host: run: missing operand (run PROGRAM.st [--cycles N] [--print NAME]...)"},
        {{app, "run", path("p.st"), "--cycles", "0"}, 2, "--cycles needs a positive whole number, not 0"},
        {{app, "run", path("p.st"), "--print"}, 2, "--print: missing operand (--print NAME)"},
        {{app, "write", "cell"},
         2,
         "zentrik-host: write: missing operand (write [--report] NAME JSON|@FILE|-)"},
        {{app, "write", "--report", "cell"}, 2, "zentrik-host: write: missing operand"},
        {{app, "parse", "[1]", "get"}, 2, "zentrik-host: get: missing operand (get PATH)"},
        {{app, "raw"}, 2, "zentrik-host: raw: missing operand (raw PATH)"},
        {{app, "schema"}, 2, "zentrik-host: schema: missing operand (schema NAME)"},
        {{app, "parse", "-", "write", "cell", "-"}, 2, "standard input can be read only once"},
        {{app, "event"}, 2, "zentrik-host: event: missing operand"},
        {{app, "event", "warm-start"}, 2, "zentrik-host: unknown event warm-start"},
        {{app, "event", "-5"}, 2, "zentrik-host: unknown event -5"},
        {{app, "print", "write", "cell", "-", "write", "cell", "-"},
         2,
         "zentrik-host: standard input can be read only once"},
        // the application file
        {{path("missing.st")},
         1,
         "zentrik-host: cannot read " + path("missing.st") + ": No such file or directory"},
        {{dir_}, 1, "zentrik-host: cannot read " + dir_ + ": it is a directory"},
        {{path("empty.st")}, 1, "declares no variables (--allow-empty runs an application without any)"},
        {{path("comments.st")}, 1, "declares no variables"},
        {{path("typo.st")}, 1, "typo.st: line 1, column 16: unknown type 'INTT'"},
        // the component
        {{"--lib", path("nolib.so"), app}, 1, "zentrik-host: cannot load the component: "},
        {{"--timeout", "0.001", path("big.st")},
         1,
         "zentrik-host: the symbol load did not finish within 0.001 s (--timeout SECONDS sets the limit)"},
        {{"--log", path("no/such/dir.log"), app}, 1, "zentrik-host: cannot write the log to "},
        // commands
        {{app, "print", "nosuch"}, 1, "zentrik-host: unknown variable nosuch in " + app},
        {{app, "print", "cell.nosuch"}, 1, "zentrik-host: unknown variable cell.nosuch in " + app},
        {{app, "schema", "nosuch"}, 1, "zentrik-host: unknown variable nosuch in " + app},
        {{app, "run", path("nothere.st")}, 1, "zentrik-host: cannot read " + path("nothere.st")},
        {{app, "write", "cell", "{\"cell\":"},
         1,
         "zentrik-host: the component refused to write App.Globals.cell: Json error (JSON text at byte 8: "
         "Invalid value.)"},
        {{app, "write", "cell", "@" + path("broken.json")},
         1,
         "refused to write App.Globals.cell: Json error"},
        {{app, "write", "cell", "@" + path("nothere.json")}, 1, "cannot read " + path("nothere.json")},
        {{app, "write", "cell", "@" + dir_}, 1, "cannot read " + dir_ + ": it is a directory"},
        {{app, "event", "prepare-reset", "print"},
         1,
         "zentrik-host: the component refused to read App.Globals.cell: Variables are being loaded. Please "
         "execute "
         "later. (no symbols are loaded; post reset-done or download-done)"},
        {{app, "event", "delete-all", "print", "cell"}, 1, "Variables are being loaded"},
        // the reader
        {{"--version", "--lib", path("nolib.so")}, 1, "zentrik-host: cannot load the component: "},
        {{app, "parse", "[1,2"},
         1,
         "zentrik-host: the text does not parse: at byte 4: Missing a comma or ']' after an array element."},
        {{app, "parse", ""}, 1, "the text does not parse: at byte 0: The document is empty."},
        {{app, "parse", "@" + path("nothere.json")}, 1, "cannot read " + path("nothere.json")},
        {{app, "get", "/a"}, 1, "zentrik-host: no text is parsed (parse one first"},
        {{app, "parse", "[1]", "event", "prepare-reset", "raw", ""}, 1, "no text is parsed"},
        {{app, "parse", "[1,2", "get", ""}, 1, "the text does not parse"},  // no later command runs
        {{app, "parse", R"({"a":1})", "raw", "/b"}, 1, "zentrik-host: nothing at '/b'"},
        {{app, "parse", R"({"a":1})", "get", "a"},
         1,
         "nothing at 'a' (a JSON Pointer starts with '/': '/a')"},
        {{app, "parse", R"({"a":1})", "raw", "a/b"},
         1,
         "nothing at 'a/b' (a JSON Pointer starts with '/': '/a/b')"},
        {{app, "parse", R"({"a":[1]})", "get", "/a"}, 1, "the value at '/a' is an array; raw prints it"},
        {{app, "parse", R"({"a":{}})", "get", "/a"},
         1,
         "is an object; raw prints it, size counts its members"},
        {{app, "parse", R"({"a":"x\u0000y"})", "get", "/a"}, 1, "the string at '/a' holds a zero byte"},
    };
    if (geteuid() != 0) {  // root reads every file
        WriteAll(path("locked.st"), "VAR_GLOBAL x : INT; END_VAR\n");
        chmod(path("locked.st").c_str(), 0);
        cases.push_back({{path("locked.st")}, 1, "cannot read " + path("locked.st") + ": Permission denied"});
    }
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& arg : c.args) shown += " " + arg;
        RunResult result = run(c.args);
        EXPECT_EQ(c.exitCode, result.exitCode) << shown << "\n" << result.err;
        EXPECT_NE(std::string::npos, result.err.find(c.message)) << shown << "\n" << result.err;
        EXPECT_EQ("", result.out) << shown;
        EXPECT_EQ(1u, Count(result.err, "zentrik-host: ")) << shown << ": one line per error\n" << result.err;
        EXPECT_EQ('\n', result.err.empty() ? '\0' : result.err.back()) << shown;
        if (c.exitCode == 2) {
            EXPECT_NE(std::string::npos, result.err.find("--help")) << shown;
            EXPECT_EQ(1u, Count(result.err, "\n")) << shown << ": loaded before the check\n" << result.err;
        }
    }
}

TEST_F(ZentrikHost, AUsageErrorLateInTheCommandsRunsNoneOfThem) {
    WriteAll(path("log.txt"), "");
    RunResult result =
        run({"--log", path("log.txt"), path("cell.st"), "print", "event", "reset-done", "oops"});
    EXPECT_EQ(2, result.exitCode);
    EXPECT_EQ("", result.out);
    EXPECT_EQ("", ReadAll(path("log.txt")));
}

TEST_F(ZentrikHost, EventsThatStartALoadAreWaitedFor) {
    const std::string expected = R"({"App.Globals.cell":{"count":1,"label":"start","limits":[0.0,0.0]}})"
                                 "\n";
    struct Case {
        std::vector<std::string> commands;
        size_t loads;  // LoadSymbols end lines in the log, the start-up load included
    };
    const std::vector<Case> cases = {
        {{"event", "prepare-reset", "event", "reset-done", "print"}, 2},
        {{"event", "0x10005", "event", "0x10006", "print"}, 2},
        {{"event", "delete-all", "event", "download-done", "print"}, 2},
        {{"event", "download-done", "event", "download-done", "print"}, 3},
        {{"event", "reset-done", "print"}, 1},  // a load has completed: reset-done does nothing
        {{"event", "prepare-delete", "event", "reset-done", "print"}, 2},
        {{"reload", "reload", "print"}, 3},
        {{"event", "0x10001", "print"}, 1},  // subscribed and ignored
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {path("cell.st")};
        args.insert(args.end(), c.commands.begin(), c.commands.end());
        RunResult result = run(args);
        EXPECT_EQ(0, result.exitCode) << c.commands[1] << "\n" << result.err;
        EXPECT_EQ(expected, result.out) << c.commands[1];
        EXPECT_EQ(c.loads, Count(result.err, "text=LoadSymbols end load complete:1")) << c.commands[1];
    }
}

TEST_F(ZentrikHost, LogGoesToStderrToAFileOrNowhere) {
    RunResult plain = run({path("cell.st"), "print", "cell"});
    EXPECT_EQ(0, plain.exitCode);
    EXPECT_EQ(1u, Count(plain.err, "text=LoadSymbols end load complete:1, symbols size: "));

    RunResult quiet = run({"--quiet", path("cell.st"), "print", "cell"});
    EXPECT_EQ(0, quiet.exitCode);
    EXPECT_EQ("", quiet.err);
    EXPECT_EQ(plain.out, quiet.out);

    RunResult logged = run({"--log", path("host.log"), path("cell.st"), "event", "prepare-reset", "print"});
    EXPECT_EQ(1, logged.exitCode);
    EXPECT_EQ(std::string::npos, logged.err.find("[host log]"));
    std::string log = ReadAll(path("host.log"));
    EXPECT_EQ(1u, Count(log, "text=prepareResetFunction in, load completed state: 1, clearSymbols:0"));
    EXPECT_EQ(1u,
              Count(log, "class=4 error=0 info=10 text=Variables are being loaded. Please execute later."));
}

TEST_F(ZentrikHost, ApplicationFilesAsEditorsWriteThem) {
    WriteAll(path("bom.st"), "\xEF\xBB\xBFVAR_GLOBAL speed : INT := 7; END_VAR\r\n");
    RunResult marked = run({"--quiet", path("bom.st")});
    EXPECT_EQ(0, marked.exitCode) << marked.err;
    EXPECT_EQ("{\"App.Globals.speed\":7}\n", marked.out);

    WriteAll(path("types-only.st"), "TYPE ST_A : STRUCT a : INT; END_STRUCT END_TYPE\n");
    RunResult empty = run({"--quiet", "--allow-empty", path("types-only.st")});
    EXPECT_EQ(0, empty.exitCode) << empty.err;
    EXPECT_EQ("{}\n", empty.out);
}

// The reader commands on one parsed text: values as the typed methods read them, kinds,
// sizes and the compact text, by JSON Pointer paths; a new parse replaces the text.
TEST_F(ZentrikHost, ReaderCommandsAnswerByPath) {
    const std::string envelope =
        R"({"status":"ok","data":{"count":2,"orders":[{"id":"A-17","qty":5,"price":9.5},)"
        R"({"id":"B-3","qty":12,"price":1e1}]},"a/b":{"~":"t\u00e9"},"big":18446744073709551615,)"
        R"("neg":-9223372036854775808,"tiny":-2.5e-300,"on":false,"none":null,"e":"","u":"\u20ac"})";
    WriteAll(path("envelope.json"), envelope);
    struct Case {
        std::vector<std::string> commands;
        std::string out;
    };
    const std::vector<Case> cases = {
        {{"get", "/data/orders/1/id", "get", "/data/orders/0/qty", "get", "/data/count"}, "B-3\n5\n2\n"},
        {{"get", "/data/orders/0/price", "get", "/data/orders/1/price", "get", "/tiny"},
         "9.5\n10.0\n-2.5e-300\n"},
        {{"get", "/big", "get", "/neg"}, "18446744073709551615\n-9223372036854775808\n"},
        {{"get", "/on", "get", "/none", "get", "/e", "get", "/u"}, "false\nnull\n\n\xE2\x82\xAC\n"},
        {{"get", "/a~1b/~0"}, "t\xC3\xA9\n"},
        {{"kind", "", "kind", "/none", "kind", "/on", "kind", "/big", "kind", "/tiny", "kind", "/e", "kind",
          "/data/orders", "kind", "/data/orders/2", "kind", "/data/orders/01"},
         "object\nnull\nboolean\ninteger\nreal\nstring\narray\nnothing\nnothing\n"},
        {{"size", "/data/orders", "size", "/data", "size", "/data/count", "size", "/missing"},
         "2\n2\n-1\n-1\n"},
        {{"raw", "/data/orders/1", "raw", "/u"},
         R"({"id":"B-3","qty":12,"price":10.0})"
         "\n\"\xE2\x82\xAC\"\n"},
        {{"parse", "[7]", "raw", "", "kind", "/data"}, "[7]\nnothing\n"},
    };
    for (const std::string& source : {std::string("@") + path("envelope.json"), std::string("-")}) {
        for (const Case& c : cases) {
            std::vector<std::string> args = {"--quiet", path("cell.st"), "parse", source};
            args.insert(args.end(), c.commands.begin(), c.commands.end());
            RunResult result = run(args, path("envelope.json"));
            EXPECT_EQ(0, result.exitCode) << source << " " << c.commands[1] << "\n" << result.err;
            EXPECT_EQ(c.out, result.out) << source << " " << c.commands[1];
        }
    }
}

// write --report prints the counts and the first problem as one JSON object, and ends
// with the exit status write gives without it.
TEST_F(ZentrikHost, WriteReportPrintsWhatHappened) {
    struct Case {
        std::vector<std::string> commands;
        int exitCode;
        std::string out;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"write", "--report", "cell", R"({"cell":{"count":7,"label":"x\"y","limits":[1.5,2.5]}})", "print"},
         0,
         R"({"result":true,"nWritten":4,"nSkipped":0,"nMissing":0,"nUnknown":0,"nErrorOffset":0,"sProblem":""})"
         "\n"
         R"({"App.Globals.cell":{"count":7,"label":"x\"y","limits":[1.5,2.5]}})"
         "\n",
         ""},
        {{"write", "--report", "cell", R"({"cell":{"count":"7","limits":[1.5],"Label":"q"}})"},
         3,
         R"({"result":true,"nWritten":0,"nSkipped":3,"nMissing":1,"nUnknown":1,"nErrorOffset":0,)"
         R"("sProblem":"cell.count: expected a whole number, found a string"})"
         "\n",
         "zentrik-host: nothing was written to App.Globals.cell: cell.count: expected a whole number, found "
         "a "
         "string\n"},
        {{"write", "--report", "cell", R"({"cell":{"label":"a\"b\\c\td\u00e9f_too_long_for_twenty"}})"},
         3,
         R"({"result":true,"nWritten":1,"nSkipped":0,"nMissing":3,"nUnknown":0,"nErrorOffset":0,)"
         R"("sProblem":"cell.label: cut to 20 bytes"})"
         "\n",
         "zentrik-host: App.Globals.cell was not written as given: cell.label: cut to 20 bytes\n"},
        {{"write", "--report", "cell", R"({"cell":{"count":)"},
         1,
         R"({"result":false,"nWritten":0,"nSkipped":0,"nMissing":0,"nUnknown":0,"nErrorOffset":17,)"
         R"("sProblem":"JSON text at byte 17: Invalid value."})"
         "\n",
         "zentrik-host: the component refused to write App.Globals.cell: Json error"},
        {{"event", "prepare-reset", "write", "--report", "cell", "{}", "print"},
         1,
         R"({"result":false,"nWritten":0,"nSkipped":0,"nMissing":0,"nUnknown":0,"nErrorOffset":0,)"
         R"("sProblem":"Variables are being loaded. Please execute later."})"
         "\n",
         "refused to write App.Globals.cell: Variables are being loaded"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--quiet", path("cell.st")};
        args.insert(args.end(), c.commands.begin(), c.commands.end());
        RunResult result = run(args);
        EXPECT_EQ(c.exitCode, result.exitCode) << c.commands[3] << "\n" << result.err;
        EXPECT_EQ(c.out, result.out) << c.commands[3];
        EXPECT_NE(std::string::npos, result.err.find(c.err)) << c.commands[3] << "\n" << result.err;
    }
}

// A text far beyond what one command-line argument can hold (128 KiB): a 10 MB
// document whose one known member sits after megabytes of members the variable lacks.
TEST_F(ZentrikHost, TenMegabyteTextsFromAFileAndFromStandardInput) {
    std::string filler;
    filler.reserve(10u << 20);
    for (int i = 0; filler.size() < (10u << 20); ++i) {
        filler += "\"unknown" + std::to_string(i) + "\":[" + std::to_string(i) + ",\"" +
                  std::string(40, 'x') + "\"],";
    }
    for (const char* label : {"file", "stdin"}) {
        std::string json = std::string("{\"cell\":{") + filler + "\"count\":42,\"label\":\"" + label +
                           "\",\"limits\":[1.5,2.5]}}";
        ASSERT_GT(json.size(), 10u << 20);
        WriteAll(path("big.json"), json);
        std::string source = std::string(label) == "file" ? "@" + path("big.json") : "-";
        RunResult result =
            run({"--quiet", path("cell.st"), "write", "cell", source, "print", "cell"}, path("big.json"));
        // Written, beside the members the variable does not have.
        EXPECT_EQ(3, result.exitCode) << label << ": " << result.err;
        EXPECT_EQ("zentrik-host: App.Globals.cell was not written as given: cell.unknown0: unknown member\n",
                  result.err);
        EXPECT_EQ(
            std::string(R"({"cell":{"count":42,"label":")") + label + R"(","limits":[1.5,2.5]}})" + "\n",
            result.out);
    }
}

}  // namespace

namespace {

// print writes in the format --format gives: names of the bits as iec/ declares them, in
// any case, joined by ',' or '+', or a number; what it prints, write takes back.
TEST_F(ZentrikHost, PrintWritesInTheFormatGiven) {
    WriteAll(path("forms.st"), R"(
        TYPE E_Mode : (IDLE, RUN, FAULT := 7); END_TYPE
        VAR_GLOBAL
            mode : E_Mode := FAULT;
            since : DT := DT#2026-12-08-07:35:00;
            ticks : LINT := 9007199254740993;
            grid : ARRAY[0..1, 0..1] OF BYTE := [1, 2, 3, 16#FF];
        END_VAR
    )");
    const struct {
        const char* format;
        std::string out;
    } cases[] = {
        {"0",
         R"({"App.Globals.mode":null,"App.Globals.since":1796715300,"App.Globals.ticks":9007199254740993,)"
         R"("App.Globals.grid":[1,2,3,-1]})"},
        {"readable", R"({"App.Globals.mode":7,"App.Globals.since":"2026-12-08T07:35:00Z",)"
                     R"("App.Globals.ticks":9007199254740993,"App.Globals.grid":[[1,2],[3,255]]})"},
        {"READABLE+int64_strings",
         R"({"App.Globals.mode":7,"App.Globals.since":"2026-12-08T07:35:00Z",)"
         R"("App.Globals.ticks":"9007199254740993","App.Globals.grid":[[1,2],[3,255]]})"},
        {"numeric_enums,16#0080", R"({"App.Globals.mode":7,"App.Globals.since":1796715300,)"
                                  R"("App.Globals.ticks":9007199254740993,"App.Globals.grid":[1,2,3,255]})"},
        {"264",
         "{\n  \"App.Globals.mode\": null,\n  \"App.Globals.since\": \"2026-12-08T07:35:00Z\",\n"
         "  \"App.Globals.ticks\": 9007199254740993,\n  \"App.Globals.grid\": [\n    1,\n    2,\n"
         "    3,\n    -1\n  ]\n}"},
    };
    for (const auto& c : cases) {
        const RunResult result = run({"--quiet", "--format", c.format, path("forms.st"), "print"});
        EXPECT_EQ(0, result.exitCode) << c.format << "\n" << result.err;
        EXPECT_EQ(c.out + "\n", result.out) << c.format;
    }
    // Every variable takes back what print wrote in any format.
    const RunResult readable =
        run({"--quiet", "--format", "readable+int64_strings", path("forms.st"), "print", "since"});
    ASSERT_EQ(0, readable.exitCode) << readable.err;
    WriteAll(path("since.json"), readable.out);
    const RunResult back = run({"--quiet", path("forms.st"), "write", "since", "{\"since\":0}", "write",
                                "since", "@" + path("since.json"), "print", "since"});
    EXPECT_EQ(0, back.exitCode) << back.err;
    EXPECT_EQ("{\"since\":1796715300}\n", back.out);
}

// schema NAME is the schema of what print NAME prints in the same format: that text
// validates, a text with a member missing or of another kind does not.
TEST_F(ZentrikHost, SchemaOfAVariableValidatesWhatPrintPrints) {
    const struct {
        const char* format;
        const char* broken;  // print's text, broken
    } cases[] = {
        {"0", R"({"cell":{"count":1,"label":"start"}})"},
        {"readable", R"({"cell":{"count":1,"label":"start","limits":[0.0,0.0],"extra":1}})"},
        {"readable+int64_strings", R"({"cell":{"count":"1","label":"start","limits":[0.0,0.0]}})"},
        {"0", R"({"other":{"count":1,"label":"start","limits":[0.0,0.0]}})"},
    };
    for (const auto& c : cases) {
        const RunResult schema = run({"--quiet", "--format", c.format, path("cell.st"), "schema", "cell"});
        const RunResult printed = run({"--quiet", "--format", c.format, path("cell.st"), "print", "cell"});
        ASSERT_EQ(0, schema.exitCode) << schema.err;
        ASSERT_EQ(0, printed.exitCode) << printed.err;
        rapidjson::Document schemaDocument;
        schemaDocument.Parse(schema.out.c_str());
        ASSERT_FALSE(schemaDocument.HasParseError()) << schema.out;
        const rapidjson::SchemaDocument compiled(schemaDocument);
        for (const auto& [text, valid] :
             {std::make_pair(printed.out, true), std::make_pair(std::string(c.broken), false)}) {
            rapidjson::Document document;
            document.Parse(text.c_str());
            ASSERT_FALSE(document.HasParseError()) << text;
            rapidjson::SchemaValidator validator(compiled);
            EXPECT_EQ(valid, document.Accept(validator))
                << c.format << ": " << text << " against " << schema.out;
        }
    }
}

// What print NAME writes, write NAME takes back; short names and members are matched
// without regard to case, and options may stand anywhere on the line.
TEST_F(ZentrikHost, PrintOfOneVariableIsWhatWriteTakesBack) {
    const std::string written = R"({"cell":{"count":9,"label":"z","limits":[1.5,2.5]}})";
    RunResult first = run({"--quiet", path("cell.st"), "write", "cell", written, "print", "cell"});
    ASSERT_EQ(0, first.exitCode) << first.err;
    EXPECT_EQ(written + "\n", first.out);
    WriteAll(path("printed.json"), first.out);
    RunResult back =
        run({path("cell.st"), "write", "CELL", "@" + path("printed.json"), "print", "Cell", "--quiet"});
    EXPECT_EQ(0, back.exitCode) << back.err;
    EXPECT_EQ(first.out, back.out);
    EXPECT_EQ("", back.err);

    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const std::vector<Case> cases = {
        {{path("cell.st"), "print", "app.globals.CELL.Label", "--quiet"}, "{\"label\":\"start\"}\n"},
        {{path("cell.st"), "--quiet", "print", "cell.LIMITS[1]"}, "{\"limits[1]\":0.0}\n"},
        {{path("cell.st"), "--quiet", "print", "cell.count"},  // starts where cell starts
         "{\"cell\":{\"count\":1,\"label\":\"start\",\"limits\":[0.0,0.0]}}\n"},
        {{path("cell.st"), "--quiet", "print", "cell.limits[0]"}, "{\"limits\":[0.0,0.0]}\n"},
        {{path("cell.st"), "write", "cell.limits", R"({"limits":[3.5,4.5]})", "--quiet", "print",
          "cell.limits"},
         "{\"limits\":[3.5,4.5]}\n"},
        {{"--timeout", "30", path("cell.st"), "print", "--timeout", "20", "cell.limits", "--quiet"},
         "{\"limits\":[0.0,0.0]}\n"},
        // part: bytes of what print prints, at most SIZE - 1 from OFFSET; empty at the end.
        {{path("cell.st"), "--quiet", "part", "cell", "0", "8"}, "{\"cell\"\n"},
        {{path("cell.st"), "--quiet", "part", "cell", "8", "6"}, "{\"cou\n"},
        {{path("cell.st"), "--quiet", "part", "cell", "54", "100"}, "}\n"},
        {{path("cell.st"), "--quiet", "part", "cell", "55", "100"}, "\n"},
    };
    for (const Case& c : cases) {
        RunResult result = run(c.args);
        EXPECT_EQ(0, result.exitCode) << c.args[2] << "\n" << result.err;
        EXPECT_EQ(c.out, result.out) << c.args[2];
        EXPECT_EQ("", result.err) << c.args[2];
    }
}

// write exits 0 only when every value the text names was written as given. Values it
// does not name are no problem; a value named but not written, cut or wrapped gives 3,
// with the first problem on stderr, and the commands after it still run.
TEST_F(ZentrikHost, WriteExitStatusSaysWhetherAllWasWrittenAsGiven) {
    const std::string nothing = "zentrik-host: nothing was written to App.Globals.cell: ";
    const std::string notAsGiven = "zentrik-host: App.Globals.cell was not written as given: ";
    struct Case {
        std::string json;
        int exitCode;
        std::string err;
        std::string count;  // cell.count as print shows it afterwards
    };
    const std::vector<Case> cases = {
        {R"({"cell":{"count":2,"label":"x","limits":[1.5,2.5]}})", 0, "", "2"},
        {R"({"cell":{"count":2}})", 0, "", "2"},  // a partial update
        {R"({"cell":{}})", 0, "", "1"},
        {R"({"cell":{"count":2},"meta":{"at":1}})", 0, "", "2"},  // other members of the root
        {R"({"cell":{"count":"2"}})", 3, nothing + "cell.count: expected a whole number, found a string\n",
         "1"},
        {R"({"cell":{"count":2.5}})", 3, nothing + "cell.count: 2.5 is not a whole number\n", "1"},
        {R"({"cell":{"limits":[1.5]}})", 3, nothing + "cell.limits: 1 elements given, 2 expected\n", "1"},
        {R"({"cell":[1]})", 3, nothing + "cell: expected an object, found an array\n", "1"},
        {R"({"other":{"count":2}})", 3, nothing + "the text's root object has no member \"cell\"\n", "1"},
        {R"({"cell":{"count":4294967295}})", 3, notAsGiven + "cell.count: 4294967295 wrapped to -1\n", "-1"},
        {R"({"cell":{"count":3,"label":"longer than twenty bytes"}})", 3,
         notAsGiven + "cell.label: cut to 20 bytes\n", "3"},
        {R"({"cell":{"count":3,"Count":4}})", 3, notAsGiven + "cell.Count: unknown member\n", "3"},
        {R"({"cell":{"count":"x","label":"y"}})", 3,
         notAsGiven + "cell.count: expected a whole number, found a string\n", "1"},
    };
    for (const Case& c : cases) {
        RunResult result = run({"--quiet", path("cell.st"), "write", "cell", c.json, "print", "cell"});
        EXPECT_EQ(c.exitCode, result.exitCode) << c.json;
        EXPECT_EQ(c.err, result.err) << c.json;
        EXPECT_EQ(0u, result.out.find("{\"cell\":{\"count\":" + c.count + ",")) << c.json << "\n"
                                                                                << result.out;
    }
    // A refusal later in the commands ends them with 1, whatever a write gave before.
    RunResult later =
        run({"--quiet", path("cell.st"), "write", "cell", R"({"cell":{"count":"2"}})", "write", "cell", "{"});
    EXPECT_EQ(1, later.exitCode) << later.err;
}

// --help lines up every option and command at one column and lists the exit statuses.
TEST_F(ZentrikHost, HelpAlignsItsRowsAndListsTheExitStatuses) {
    RunResult help = run({"--help"});
    ASSERT_EQ(0, help.exitCode);
    std::istringstream lines(help.out);
    std::string part;
    std::vector<std::string> statuses;
    size_t rows = 0;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line[0] != ' ') {
            part = line;
            continue;
        }
        if (part != "options:" && part != "commands:" && part != "exit status:") continue;
        if (line.size() < 3 || line[2] == ' ') continue;  // a help text's further line
        ++rows;
        if (part == "exit status:") statuses.push_back(line.substr(2, line.find(' ', 2) - 2));
        const size_t gap = line.find("  ", 2);
        if (gap == std::string::npos) continue;  // a synopsis on a line of its own
        EXPECT_EQ(28u, line.find_first_not_of(' ', gap)) << line;
    }
    EXPECT_GT(rows, 20u);
    EXPECT_EQ((std::vector<std::string>{"0", "1", "2", "3"}), statuses);
}

// get reads a number through GetLreal and prints it as the writer writes numbers: the
// same text raw gives for it.
TEST_F(ZentrikHost, GetPrintsNumbersAsTheWriterWritesThem) {
    const std::vector<std::string> numbers = {"1e21",
                                              "1e-7",
                                              "1e16",
                                              "0.000001",
                                              "123456.789",
                                              "-0.0",
                                              "1.5e300",
                                              "5e-324",
                                              "1e20",
                                              "-2.5e-300",
                                              "0.1",
                                              "1e-6",
                                              "12345678901234567890123.0",
                                              "9.5",
                                              "1E+2"};
    std::string json = "[";
    std::vector<std::string> args = {"--quiet", path("cell.st"), "parse", ""};
    for (size_t i = 0; i < numbers.size(); ++i) {
        json += (i ? "," : "") + numbers[i];
        for (const char* command : {"get", "raw"}) {
            args.push_back(command);
            args.push_back("/" + std::to_string(i));
        }
    }
    args[3] = json + "]";
    RunResult result = run(args);
    ASSERT_EQ(0, result.exitCode) << result.err;
    std::istringstream lines(result.out);
    for (const std::string& number : numbers) {
        std::string got, raw;
        std::getline(lines, got);
        std::getline(lines, raw);
        EXPECT_EQ(raw, got) << number;
        EXPECT_EQ(std::string::npos, got.find('+')) << number;
    }
    RunResult shown =
        run({"--quiet", path("cell.st"), "parse", "[1e21,1e-7,1e16]", "get", "/0", "get", "/1", "get", "/2"});
    EXPECT_EQ("1e21\n1e-7\n10000000000000000.0\n", shown.out);
}

// Negative durations, the tool's version beside the component's, and the time limit of
// a load judged by when the component logged its end.
TEST_F(ZentrikHost, VersionsNegativeDurationsAndTheLoadTimeLimit) {
    const std::string version =
        std::to_string(ZENTRIK_VERSION_MAJOR) + "." + std::to_string(ZENTRIK_VERSION_MINOR) + "." +
        std::to_string(ZENTRIK_VERSION_PATCH) + "." + std::to_string(ZENTRIK_VERSION_BUILD);
    RunResult shown = run({"--version"});
    EXPECT_EQ(0, shown.exitCode) << shown.err;
    EXPECT_EQ(0u, shown.out.find("zentrik-host " + version + "\nlibzentrik " + version +
                                 " (component 0x17d22002, "))
        << shown.out;
    EXPECT_EQ(2u, Count(shown.out, "\n"));

    WriteAll(path("times.st"),
             "VAR_GLOBAL t : TIME := T#-5s; u : TIME := TIME#-1m1ms; lt : LTIME := LT#-2ms; END_VAR");
    RunResult times = run({"--quiet", path("times.st"), "print", "t", "print", "u"});
    EXPECT_EQ(0, times.exitCode) << times.err;
    EXPECT_EQ("{\"t\":-5000}\n{\"u\":-60001}\n", times.out);

    // 200,000 declared members take far longer than 20 ms to load, whenever this process
    // gets to look.
    WriteAll(path("big.st"), ManyMembersDeclarations(20));
    RunResult late = run({path("big.st"), "--timeout", "0.02"});
    EXPECT_EQ(1, late.exitCode);
    EXPECT_NE(std::string::npos, late.err.find("the symbol load did not finish within 0.02 s")) << late.err;
    EXPECT_EQ("", late.out);
}

}  // namespace
