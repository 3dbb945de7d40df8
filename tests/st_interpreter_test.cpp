// Structured Text programs run by zentrik-host: small programs with what --print shows
// after them, and constructs that are refused with the line and column of the error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/HostProcess.h"

namespace {

// A case's program: `PROGRAM P`, its VAR block on line 3, the body from line 5.
std::string Program(const std::string& vars, const std::string& body) {
    return "PROGRAM P\nVAR\n" + vars + "\nEND_VAR\n" + body + "\nEND_PROGRAM\n";
}

class StProgram : public ScratchDirectoryTest {
   protected:
    void SetUp() override {
        ScratchDirectoryTest::SetUp();
        WriteWholeFile(path("app.st"), kCellApplication);
    }

    HostRunResult runProgram(const std::string& text, const std::vector<std::string>& options) {
        WriteWholeFile(path("prog.st"), text);
        std::vector<std::string> args = {"--quiet", path("app.st"), "run", path("prog.st")};
        args.insert(args.end(), options.begin(), options.end());
        return run(args);
    }
};

TEST_F(StProgram, RunsStatementsExpressionsAndBlockCalls) {
    struct Case {
        const char* what;
        std::string vars;
        std::string body;
        std::vector<std::string> options;  // --cycles and --print
        std::string out;
    };
    const std::vector<Case> cases = {
        {"integer and real arithmetic, wrapping at the type's width",
         "a : INT := 32767; b : DINT; r : LREAL; u : USINT; q : REAL; big : ULINT := 18446744073709551615;",
         "a := a + 1; b := 7 / 2 + 7 MOD 3 * 10 - -2; r := 1 / 4.0 + 2; u := 300; q := 0.1;"
         "big := big * big;",
         {"--print", "a", "--print", "b", "--print", "r", "--print", "u", "--print", "q", "--print", "big"},
         "{\"a\":-32768}\n{\"b\":15}\n{\"r\":2.25}\n{\"u\":44}\n{\"q\":0.10000000149011612}\n{\"big\":1}\n"},
        {"comparisons, logic and bit operations",
         "x : BOOL; y : BOOL; w : WORD := 16#00FF;",
         "x := (3 < 4) AND NOT (2 = 3) XOR FALSE; y := 1.5 >= 2 OR 'abc' < 'abd'; w := NOT w AND 16#0F0F;",
         {"--print", "x", "--print", "y", "--print", "w"},
         "{\"x\":true}\n{\"y\":true}\n{\"w\":3840}\n"},
        {"string functions, and a STRING cut to its length",
         "s : STRING(20); n : DINT; t : STRING(5);",
         "s := CONCAT('ab', 'cd', 'ef'); n := LEN(s) * 10 + FIND(s, 'cd'); t := CONCAT(LEFT(s, 2), MID(s, 2, "
         "5));"
         "s := CONCAT(t, RIGHT('xyz', 2)); t := 'toolongvalue';",
         {"--print", "s", "--print", "n", "--print", "t"},
         "{\"s\":\"abefyz\"}\n{\"n\":63}\n{\"t\":\"toolo\"}\n"},
        {"conversions, MIN, MAX, ABS, LIMIT",
         "i : INT; s : STRING(20); r : REAL; d : DINT;",
         "i := DINT_TO_INT(70000); s := CONCAT(INT_TO_STRING(-5), BOOL_TO_STRING(TRUE));"
         "r := DINT_TO_REAL(3); d := LREAL_TO_DINT(2.5) + TRUNC(-2.7) + MIN(4, 2, 9) * MAX(1, 10) + ABS(-100)"
         " + LIMIT(0, 5000, 1000);",
         {"--print", "i", "--print", "s", "--print", "r", "--print", "d"},
         "{\"i\":4464}\n{\"s\":\"-5TRUE\"}\n{\"r\":3.0}\n{\"d\":1121}\n"},
        {"FOR with a step, WHILE with EXIT, REPEAT, CASE with ranges, RETURN",
         "i, n, k : DINT; c : STRING(10);",
         "FOR i := 10 TO 1 BY -3 DO n := n + i; END_FOR\n"
         "WHILE TRUE DO k := k + 1; IF k >= 5 THEN EXIT; END_IF END_WHILE\n"
         "REPEAT k := k * 2; UNTIL k > 30 END_REPEAT\n"
         "CASE n OF 1..9: c := 'small'; 20, 22: c := 'twenty'; ELSE c := 'other'; END_CASE\n"
         "IF k < 0 THEN c := 'negative'; ELSIF k = 40 THEN RETURN; ELSE c := 'else'; END_IF\n"
         "n := 0;",
         {"--print", "i", "--print", "n", "--print", "k", "--print", "c"},
         "{\"i\":-2}\n{\"n\":22}\n{\"k\":40}\n{\"c\":\"twenty\"}\n"},
        {"cycles keep the program's variables",
         "n : DINT;",
         "n := n + 1;",
         {"--cycles", "3", "--print", "n"},
         "{\"n\":3}\n"},
        {"the application's variables, their members and elements",
         "",
         "cell.count := cell.count * 2; cell.limits[1] := 2.5; cell.label := 'x';",
         {"--print", "cell"},
         "{\"cell\":{\"count\":2,\"label\":\"x\",\"limits\":[0.0,2.5]}}\n"},
        {"typed literals",
         "t : TIME; t2 : TIME := T#-5s; d : DT; dd : DATE; td : TOD;",
         "t := T#1s500ms + T#-2s; d := DT#2024-03-18-06:00:00; dd := D#1970-01-02; td := TOD#00:00:01.5;",
         {"--print", "t", "--print", "t2", "--print", "d", "--print", "dd", "--print", "td"},
         "{\"t\":-500}\n{\"t2\":-5000}\n{\"d\":1710741600}\n{\"dd\":86400}\n{\"td\":1500}\n"},
        {"block calls: results, positional and named arguments, outputs and instance outputs",
         "fbW : fb_jsonsaxwriter; fbR : fb_jsonreader; s : STRING(255); ok : BOOL; n : UDINT; v : DINT;"
         "b : ARRAY[0..2] OF BYTE := [16#0A, 16#1B, 16#FF];",
         "fbW.ResetDocument(); fbW.AddKey('a'); fbW.AddDint(value := -7); fbW.AddKey(key := 'h');"
         "fbW.AddHexBinary(pBytes := ADR(b), nBytes := 3); s := fbW.GetDocument();"
         "ok := fbR.Parse(pJson := ADR(s), nSize := LEN(s)) AND fbR.GetDint('/a', diValue => v);"
         "fbR.GetRaw(sPath := '/h', pBuffer := ADR(s), nBuffer := SIZEOF(s)); n := fbR.nLength;"
         "fbW(); fbR();",
         {"--print", "s", "--print", "ok", "--print", "n", "--print", "v"},
         "{\"s\":\"\\\"0A1BFF\\\"\"}\n{\"ok\":true}\n{\"n\":8}\n{\"v\":-7}\n"},
        {"the format constants of the writer, and the long date and time classes",
         "fbW : fb_jsonsaxwriter; s : STRING(255); f : DWORD; ok : UINT; bad : UINT;"
         "ld : LDT := LDT#2026-12-08-07:35:00.5; pct : INT(0..100) := 42; lt : LTOD;",
         "ok := fbW.SetFormat(nFormat := READABLE OR INT64_STRINGS); bad := fbW.SetFormat(16#0200);"
         "f := fbW.GetFormat(); lt := LTOD#07:35:00; fbW.ResetDocument(); fbW.AddKey('b');"
         "fbW.AddBool(TRUE); fbW.AddKey('n'); fbW.AddLint(7); s := fbW.GetDocument(); pct := pct + 1;",
         {"--print", "s", "--print", "f", "--print", "ok", "--print", "bad", "--print", "ld", "--print",
          "pct", "--print", "lt", "--format", "readable"},
         "{\"s\":\"{\\\"b\\\":true,\\\"n\\\":\\\"7\\\"}\"}\n{\"f\":255}\n{\"ok\":1}\n{\"bad\":0}\n"
         "{\"ld\":\"2026-12-08T07:35:00.5Z\"}\n{\"pct\":43}\n{\"lt\":\"07:35:00\"}\n"},
        {"the datatype block on program and application variables",
         "fbW : fb_jsonsaxwriter; fbD : fb_jsonreadwritedatatype; s : STRING(255); ok : BOOL;",
         "s := '{\"cell\":{\"count\":5}}';"
         "ok := fbD.SetSymbolFromJson(pJson := ADR(s), nSize := LEN(s), pData := ADR(cell));"
         "fbW.ResetDocument();"
         "ok := ok AND fbD.AddJsonKeyValueFromSymbol(fbWriter := ADR(fbW), sKey := 'c', sDatatype := '',"
         " pData := ADR(cell.label));"
         "fbW.CopyDocument(pDoc := ADR(s), nDoc := SIZEOF(s));",
         {"--print", "s", "--print", "ok"},
         "{\"s\":\"{\\\"c\\\":\\\"start\\\"}\"}\n{\"ok\":true}\n"},
    };
    for (const Case& c : cases) {
        HostRunResult result = runProgram(Program(c.vars, c.body), c.options);
        EXPECT_EQ(0, result.exitCode) << c.what << "\n" << result.err;
        EXPECT_EQ(c.out, result.out) << c.what;
    }
}

TEST_F(StProgram, RefusesWhatItDoesNotSupportAtItsLineAndColumn) {
    struct Case {
        std::string vars;
        std::string body;
        std::string error;  // after "prog.st: "
    };
    const std::string blocks =
        "x : DINT; arr : ARRAY[0..2] OF DINT; fbW : fb_jsonsaxwriter; fbR : fb_jsonreader;";
    const std::vector<Case> cases = {
        // the program's text
        {blocks, "x := 2 ** 3;", "line 5, column 8: '**' is not supported"},
        {blocks, "x := x^;", "line 5, column 7: dereferencing a pointer (^) is not supported"},
        {blocks, "JMP there;", "line 5, column 1: JMP is not supported"},
        {blocks, "there: x := 1;", "line 5, column 1: labels are not supported"},
        {blocks, "x := ;", "line 5, column 6: expected a value, found ';'"},
        {blocks, "x := \"wide\";", "line 5, column 6: WSTRING values are not supported in statements"},
        {blocks, "x := " + std::string(120, '(') + "1" + std::string(120, ')') + ";",
         "line 5, column 105: nested too deeply (at most 100 levels)"},
        {blocks,
         "x := 1" +
             [] {
                 std::string sum;
                 for (int i = 0; i < 600; ++i) sum += " + 1";
                 return sum;
             }() +
             ";",
         "line 5, column 2004: the expression is nested too deeply (at most 500 operations deep)"},
        {blocks, "EXIT;", "line 5, column 1: EXIT outside a loop"},
        {blocks, "IF x THEN x := 1;", "line 6, column 1: expected END_IF, found 'END_PROGRAM'"},
        {"x : INTT;", "", "line 3, column 5: unknown type 'INTT'"},
        // names, methods and arguments
        {blocks, "x := nosuch + 1;", "line 5, column 6: unknown variable 'nosuch'"},
        {blocks, "x := SQRT(4);", "line 5, column 6: unknown variable or function 'SQRT'"},
        {blocks, "fbW.NoSuch();", "line 5, column 5: fb_jsonsaxwriter has no method 'NoSuch'"},
        {blocks, "fbW.AddKeyString(key := 'a');",
         "line 5, column 5: fb_jsonsaxwriter.AddKeyString needs 'value'"},
        {blocks, "x := fbW.AddKey(key := 'a');", "line 5, column 10: fb_jsonsaxwriter.AddKey gives no value"},
        {blocks, "fbR.GetDint(sPath := '/a', diValue := x);",
         "line 5, column 28: 'diValue' is an output: use '=>'"},
        {blocks, "fbR.GetDint(sPath := '/a', nope := x);",
         "line 5, column 28: fb_jsonreader.GetDint has no parameter 'nope'"},
        {blocks, "x := fbR.nothing;", "line 5, column 10: fb_jsonreader has no output 'nothing'"},
        {blocks, "x := cell.nothing;", "line 5, column 11: ST_Cell has no member 'nothing'"},
        {blocks, "x := LEN('a', 'b');", "line 5, column 6: LEN takes 1 argument"},
        // at run time
        {blocks, "x := 1.5;",
         "line 5, column 6: 'x' takes a DINT, not a real number (convert it, e.g. with LREAL_TO_DINT)"},
        {blocks, "x := 3; arr[x] := 1;", "line 5, column 13: index 3 is outside ARRAY[0..2] OF DINT"},
        {blocks, "x := 1 / (x - x);", "line 5, column 8: division by zero"},
        {blocks, "fbR.GetRaw(sPath := '', pBuffer := ADR(x), nBuffer := 16#7FFFFFFF);",
         "line 5, column 5: the 2147483647 bytes of pBuffer (nBuffer) reach beyond the application's memory"},
        {blocks, "x := 18446744073709551615 * 18446744073709551615;",
         "line 5, column 27: the constant is beyond 64 bits"},
        {blocks, "IF x THEN x := 1; END_IF", "line 5, column 4: a condition must be a BOOL, not a DINT"},
        {blocks, "x := 'text';", "line 5, column 6: 'x' takes a DINT, not a STRING"},
    };
    for (const Case& c : cases) {
        HostRunResult result = runProgram(Program(c.vars, c.body), {});
        EXPECT_EQ(1, result.exitCode) << c.body;
        EXPECT_NE(std::string::npos, result.err.find("zentrik-host: " + path("prog.st") + ": " + c.error))
            << c.body << "\n"
            << result.err;
        EXPECT_EQ("", result.out) << c.body;
    }
}

}  // namespace
