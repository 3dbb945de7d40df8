// The simulated application's declaration language: layout, type classes, initial
// values and declaration errors, seen through the application's tool interface.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "SimApplication.h"
#include "SimDeclCompiler.h"

namespace {

class SimDeclTest : public ::testing::Test {
   protected:
    void SetUp() override { app().stop(); }
    void TearDown() override { app().stop(); }
    static CSimApplication& app() { return CSimApplication::instance(); }

    // Offset of a variable or member in the application's block.
    static size_t offsetOf(const std::string& name) {
        return static_cast<size_t>(app().address(name) - app().memory());
    }
    template <typename T>
    static T read(const std::string& name) {
        T value;
        std::memcpy(&value, app().address(name), sizeof(T));
        return value;
    }
};

struct LayoutCase {
    const char* name;
    size_t size;
    TypeClass3 typeClass;
};

TEST_F(SimDeclTest, ElementaryTypesHaveTheirSizeAndClass) {
    app().start(R"(
        VAR_GLOBAL
            b : BOOL; by : BYTE; w : WORD; dw : DWORD; lw : LWORD;
            si : SINT; i : INT; di : DINT; li : LINT;
            usi : USINT; ui : UINT; udi : UDINT; uli : ULINT;
            r : REAL; lr : LREAL;
            s : STRING; s10 : STRING(10); s3 : STRING[3];
            ws : WSTRING; ws10 : WSTRING(10);
            t : TIME; lt : LTIME; d : DATE; dt1 : DATE_AND_TIME; dt2 : DT; tod1 : TIME_OF_DAY; tod2 : TOD;
            p : POINTER TO INT; ref : REFERENCE TO LREAL;
        END_VAR)");
    const LayoutCase cases[] = {
        {"b", 1, TYPE3_BOOL},          {"by", 1, TYPE3_BYTE},        {"w", 2, TYPE3_WORD},
        {"dw", 4, TYPE3_DWORD},        {"lw", 8, TYPE3_LWORD},       {"si", 1, TYPE3_SINT},
        {"i", 2, TYPE3_INT},           {"di", 4, TYPE3_DINT},        {"li", 8, TYPE3_LINT},
        {"usi", 1, TYPE3_USINT},       {"ui", 2, TYPE3_UINT},        {"udi", 4, TYPE3_UDINT},
        {"uli", 8, TYPE3_ULINT},       {"r", 4, TYPE3_REAL},         {"lr", 8, TYPE3_LREAL},
        {"s", 81, TYPE3_STRING},       {"s10", 11, TYPE3_STRING},    {"s3", 4, TYPE3_STRING},
        {"ws", 162, TYPE3_WSTRING},    {"ws10", 22, TYPE3_WSTRING},  {"t", 4, TYPE3_TIME},
        {"lt", 8, TYPE3_LTIME},        {"d", 4, TYPE3_DATE},         {"dt1", 4, TYPE3_DATEANDTIME},
        {"dt2", 4, TYPE3_DATEANDTIME}, {"tod1", 4, TYPE3_TIMEOFDAY}, {"tod2", 4, TYPE3_TIMEOFDAY},
        {"p", 8, TYPE3_POINTER},       {"ref", 8, TYPE3_REFERENCE},
    };
    for (const LayoutCase& c : cases) {
        std::string name = std::string("App.Globals.") + c.name;
        SCOPED_TRACE(name);
        EXPECT_EQ(c.size, app().size(name));
        EXPECT_EQ(c.typeClass, app().typeClass(name));
        // Each elementary type is aligned to its own size; strings to their character.
        size_t align = c.typeClass == TYPE3_STRING ? 1 : c.typeClass == TYPE3_WSTRING ? 2 : c.size;
        EXPECT_EQ(0u, offsetOf(name) % align);
    }
}

TEST_F(SimDeclTest, StructuresAlignToTheirLargestMemberAndPad) {
    app().start(R"(
        TYPE ST_Mixed : STRUCT b : BOOL; l : LREAL; w : WORD; END_STRUCT END_TYPE
        TYPE ST_Small : STRUCT b : BYTE; w : WORD; c : BYTE; END_STRUCT END_TYPE
        TYPE ST_Text : STRUCT s : STRING(2); w : WSTRING(1); END_STRUCT END_TYPE
        TYPE ST_Outer : STRUCT flag : BOOL; inner : ST_Small; tail : BOOL; END_STRUCT END_TYPE
        TYPE E_Mode : (A, B); END_TYPE
        TYPE ST_Ptr : STRUCT m : E_Mode; p : POINTER TO ST_Ptr; END_STRUCT END_TYPE
        VAR_GLOBAL
            first : BOOL;
            mixed : ST_Mixed;
            small : ST_Small;
            text : ST_Text;
            outer : ST_Outer;
            ptr : ST_Ptr;
            rows : ARRAY[1..3] OF ST_Mixed;
            grid : ARRAY[0..1, 0..2] OF INT;
        END_VAR)");
    struct OffsetCase {
        const char* name;
        size_t offset;  // relative to the enclosing variable
        size_t size;
        const char* base;
    };
    const OffsetCase cases[] = {
        {"mixed", 8, 24, "first"},   {"mixed.b", 0, 1, "mixed"},     {"mixed.l", 8, 8, "mixed"},
        {"mixed.w", 16, 2, "mixed"}, {"small", 32, 6, "first"},      {"small.w", 2, 2, "small"},
        {"small.c", 4, 1, "small"},  {"text", 38, 8, "first"},       {"text.w", 4, 4, "text"},
        {"outer", 46, 10, "first"},  {"outer.inner", 2, 6, "outer"}, {"outer.tail", 8, 1, "outer"},
        {"ptr", 56, 16, "first"},    {"ptr.p", 8, 8, "ptr"},         {"rows", 72, 72, "first"},
        {"rows[2]", 24, 24, "rows"}, {"rows[3].w", 64, 2, "rows"},   {"grid", 144, 12, "first"},
        {"grid[0,2]", 4, 2, "grid"}, {"grid[1,0]", 6, 2, "grid"},    {"grid[1,2]", 10, 2, "grid"},
    };
    for (const OffsetCase& c : cases) {
        std::string name = std::string("App.Globals.") + c.name;
        SCOPED_TRACE(name);
        EXPECT_EQ(c.offset, offsetOf(name) - offsetOf(std::string("App.Globals.") + c.base));
        EXPECT_EQ(c.size, app().size(name));
    }
    EXPECT_EQ(0u, offsetOf("App.Globals.first"));
    EXPECT_EQ(156u, app().memorySize());
    EXPECT_EQ(TYPE3_USERDEF, app().typeClass("App.Globals.mixed"));
    EXPECT_EQ(TYPE3_ARRAY, app().typeClass("App.Globals.rows"));
    EXPECT_EQ(TYPE3_ENUM, app().typeClass("App.Globals.ptr.m"));
    EXPECT_EQ("ARRAY[0..1,0..2] OF INT", app().typeName("App.Globals.grid"));
}

TEST_F(SimDeclTest, AliasesAreTheirTypeUnderANewName) {
    app().start(R"(
        TYPE T_Name : STRING(40); END_TYPE
        TYPE T_Row : ARRAY[1..2] OF INT; END_TYPE
        TYPE T_Matrix : ARRAY[0..1] OF T_Row; END_TYPE
        TYPE T_Speed : REAL := 2.5; END_TYPE
        VAR_GLOBAL n : T_Name; m : T_Matrix; v : T_Speed; END_VAR)");
    EXPECT_EQ(41u, app().size("App.Globals.n"));
    EXPECT_EQ(TYPE3_STRING, app().typeClass("App.Globals.n"));
    EXPECT_EQ(8u, app().size("App.Globals.m"));
    EXPECT_EQ(TYPE3_ARRAY, app().typeClass("App.Globals.m[1]"));
    EXPECT_EQ(6u, offsetOf("App.Globals.m[1][2]") - offsetOf("App.Globals.m"));
    EXPECT_EQ(2.5f, read<float>("App.Globals.v"));
}

TEST_F(SimDeclTest, TypesMayBeUsedBeforeTheirDeclaration) {
    app().start(R"(
        VAR_GLOBAL line : ST_Line; END_VAR
        TYPE ST_Line : STRUCT head : ST_Node; state : E_State := B; END_STRUCT END_TYPE
        TYPE ST_Node : STRUCT next : POINTER TO ST_Node; value : DINT := 7; END_STRUCT END_TYPE
        TYPE E_State : (A, B); END_TYPE)");
    EXPECT_EQ(7, read<int32_t>("App.Globals.line.head.value"));
    EXPECT_EQ(1, read<int16_t>("App.Globals.line.state"));
}

TEST_F(SimDeclTest, ScalarInitialValuesAreWrittenAtStart) {
    app().start(R"(
        TYPE E_Mode : (IDLE := 0, RUN, FAULT := -3, LAST); END_TYPE
        VAR_GLOBAL
            i : INT := -12; by : BYTE := 16#FF; w : WORD := 2#1010_1010; d8 : DINT := 8#777;
            big : DINT := 1_000_000; lmin : LINT := -9223372036854775808; ul : ULINT := 18446744073709551615;
            si : SINT := -128;
            b : BOOL := TRUE; bf : BOOL := FALSE; b1 : BOOL := 1;
            r : REAL := -2.5E3; lr : LREAL := 12.5; lri : LREAL := 3;
            m1 : E_Mode := RUN; m2 : E_Mode := E_Mode.FAULT; m3 : E_Mode := E_Mode#LAST;
            t1 : TIME := T#1h2m3s4ms; t2 : TIME := TIME#500MS; t3 : TIME := t#1.5s;
            lt : LTIME := LTIME#1us; lt2 : LTIME := T#2d; tn : TIME := T#-24d20h31m23s648ms; ltn : LTIME := LT#-1ns;
            dd : DATE := D#1970-01-02; dt1 : DT := DT#2024-02-29-12:30:05;
            tod1 : TOD := TOD#12:30:15.25;
        END_VAR)");
    EXPECT_EQ(-12, read<int16_t>("App.Globals.i"));
    EXPECT_EQ(0xFF, read<uint8_t>("App.Globals.by"));
    EXPECT_EQ(0xAA, read<uint16_t>("App.Globals.w"));
    EXPECT_EQ(0777, read<int32_t>("App.Globals.d8"));
    EXPECT_EQ(1000000, read<int32_t>("App.Globals.big"));
    EXPECT_EQ(INT64_MIN, read<int64_t>("App.Globals.lmin"));
    EXPECT_EQ(UINT64_MAX, read<uint64_t>("App.Globals.ul"));
    EXPECT_EQ(-128, read<int8_t>("App.Globals.si"));
    EXPECT_EQ(1, read<int8_t>("App.Globals.b"));
    EXPECT_EQ(0, read<int8_t>("App.Globals.bf"));
    EXPECT_EQ(1, read<int8_t>("App.Globals.b1"));
    EXPECT_EQ(-2500.0f, read<float>("App.Globals.r"));
    EXPECT_EQ(12.5, read<double>("App.Globals.lr"));
    EXPECT_EQ(3.0, read<double>("App.Globals.lri"));
    EXPECT_EQ(INT32_MIN, read<int32_t>("App.Globals.tn"));
    EXPECT_EQ(-1, read<int64_t>("App.Globals.ltn"));
    EXPECT_EQ(1, read<int16_t>("App.Globals.m1"));
    EXPECT_EQ(-3, read<int16_t>("App.Globals.m2"));
    EXPECT_EQ(-2, read<int16_t>("App.Globals.m3"));
    EXPECT_EQ(3723004u, read<uint32_t>("App.Globals.t1"));
    EXPECT_EQ(500u, read<uint32_t>("App.Globals.t2"));
    EXPECT_EQ(1500u, read<uint32_t>("App.Globals.t3"));
    EXPECT_EQ(1000u, read<uint64_t>("App.Globals.lt"));
    EXPECT_EQ(2ull * 86400 * 1000000000, read<uint64_t>("App.Globals.lt2"));
    EXPECT_EQ(86400u, read<uint32_t>("App.Globals.dd"));
    EXPECT_EQ(1709209805u, read<uint32_t>("App.Globals.dt1"));
    EXPECT_EQ(45015250u, read<uint32_t>("App.Globals.tod1"));
}

// The long date and time classes take 8 bytes of nanoseconds; a subrange is laid out as
// its base type, reports class SUBRANGE and starts at its lower bound when 0 lies outside.
TEST_F(SimDeclTest, LongDatesAndSubrangesHaveTheirLayoutAndValues) {
    app().start(R"(
        TYPE T_Percent : INT(0..100) := 50; END_TYPE
        VAR_GLOBAL
            pad : BYTE;
            day : LDATE := LD#2024-02-29;
            stamp : LDT := LDT#2026-12-08-07:35:00.123456789;
            stamp2 : LDATE_AND_TIME := LDATE_AND_TIME#1970-01-01-00:00:01;
            clock : LTOD := LTOD#07:35:00.25;
            clock2 : LTIME_OF_DAY;
            pct : INT(0..100) := 42;
            shifted : SINT(5..9);
            wide : LINT(-9223372036854775808..0);
            named : T_Percent;
        END_VAR)");
    const LayoutCase cases[] = {
        {"day", 8, TYPE3_LDATE},        {"stamp", 8, TYPE3_LDATEANDTIME}, {"stamp2", 8, TYPE3_LDATEANDTIME},
        {"clock", 8, TYPE3_LTIMEOFDAY}, {"clock2", 8, TYPE3_LTIMEOFDAY},  {"pct", 2, TYPE3_SUBRANGE},
        {"shifted", 1, TYPE3_SUBRANGE}, {"wide", 8, TYPE3_SUBRANGE},      {"named", 2, TYPE3_SUBRANGE},
    };
    for (const LayoutCase& c : cases) {
        const std::string name = std::string("App.Globals.") + c.name;
        EXPECT_EQ(c.size, app().size(name)) << name;
        EXPECT_EQ(c.typeClass, app().typeClass(name)) << name;
        EXPECT_EQ(0u, offsetOf(name) % c.size) << name;
    }
    EXPECT_EQ(1709164800000000000, read<int64_t>("App.Globals.day"));
    EXPECT_EQ(1796715300123456789, read<int64_t>("App.Globals.stamp"));
    EXPECT_EQ(1000000000, read<int64_t>("App.Globals.stamp2"));
    EXPECT_EQ(27300250000000, read<int64_t>("App.Globals.clock"));
    EXPECT_EQ(0, read<int64_t>("App.Globals.clock2"));
    EXPECT_EQ(42, read<int16_t>("App.Globals.pct"));
    EXPECT_EQ(5, read<int8_t>("App.Globals.shifted"));
    EXPECT_EQ(0, read<int64_t>("App.Globals.wide"));
    EXPECT_EQ(50, read<int16_t>("App.Globals.named"));

    const struct {
        const char* text;
        const char* message;
    } errors[] = {
        {"VAR_GLOBAL x : INT(5..1); END_VAR", "line 1, column 20: lower bound 5 exceeds upper bound 1"},
        {"VAR_GLOBAL x : SINT(0..200); END_VAR",
         "line 1, column 21: the bounds of SINT(0..200) lie beyond SINT"},
        {"VAR_GLOBAL x : REAL(0..1); END_VAR",
         "line 1, column 16: a subrange needs an integer type, not REAL"},
        {"VAR_GLOBAL x : INT(0..100) := 101; END_VAR",
         "line 1, column 31: value 101 out of range for INT(0..100)"},
        {"VAR_GLOBAL x : LDATE := D#2024-01-01; END_VAR",
         "line 1, column 25: expected an LD# literal for LDATE"},
        {"VAR_GLOBAL x : LTOD := LTOD#07:35:00.1234567891; END_VAR",
         "line 1, column 24: malformed time of day '07:35:00.1234567891'"},
    };
    for (const auto& c : errors) {
        try {
            SimCompileDeclarations(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const CSimDeclError& error) {
            EXPECT_EQ(c.message, std::string(error.what()));
        }
    }
}

TEST_F(SimDeclTest, StringInitialValuesAreZeroTerminatedAndEscaped) {
    app().start(
        u8R"(
        VAR_GLOBAL
            s : STRING(12) := 'it$'s $$5$N$41';
            full : STRING(3) := 'abc';
            ws : WSTRING(10) := "é€😀$"$0041";
            empty : STRING(4) := '';
        END_VAR)");
    const char expected[] = "it's $5\nA";
    EXPECT_EQ(0, std::memcmp(expected, app().address("App.Globals.s"), sizeof(expected)));
    EXPECT_EQ(0, std::memcmp("abc", app().address("App.Globals.full"), 4));
    const uint16_t wide[] = {0x00E9, 0x20AC, 0xD83D, 0xDE00, '"', 'A', 0};
    EXPECT_EQ(0, std::memcmp(wide, app().address("App.Globals.ws"), sizeof(wide)));
    EXPECT_EQ(0, app().address("App.Globals.empty")[0]);
}

TEST_F(SimDeclTest, StructureAndArrayValuesCombineWithTypeDefaults) {
    app().start(R"(
        TYPE E_Mode : (IDLE := 5, RUN); END_TYPE
        TYPE ST_Axis :
        STRUCT
            pos : LREAL := 12.5;
            enabled : BOOL := TRUE;
            name : STRING(20) := 'x-axis';
            limits : ARRAY[0..1] OF REAL;
            mode : E_Mode;
        END_STRUCT
        END_TYPE
        VAR_GLOBAL
            axes : ARRAY[1..3] OF ST_Axis := [(pos := 1.0), 2((name := 'b', limits := [-1.0, 1.0]))];
            counts : ARRAY[0..5] OF INT := [1, 2, 2(7)];
            plain : ST_Axis;
            modes : ARRAY[0..1] OF E_Mode;
        END_VAR)");
    EXPECT_EQ(1.0, read<double>("App.Globals.axes[1].pos"));
    EXPECT_STREQ("x-axis", reinterpret_cast<char*>(app().address("App.Globals.axes[1].name")));
    EXPECT_EQ(12.5, read<double>("App.Globals.axes[2].pos"));
    EXPECT_STREQ("b", reinterpret_cast<char*>(app().address("App.Globals.axes[3].name")));
    EXPECT_EQ(-1.0f, read<float>("App.Globals.axes[3].limits[0]"));
    EXPECT_EQ(1, read<int8_t>("App.Globals.axes[3].enabled"));
    EXPECT_EQ(5, read<int16_t>("App.Globals.axes[3].mode"));
    const int16_t counts[] = {1, 2, 7, 7, 0, 0};
    EXPECT_EQ(0, std::memcmp(counts, app().address("App.Globals.counts"), sizeof(counts)));
    EXPECT_EQ(12.5, read<double>("App.Globals.plain.pos"));
    EXPECT_EQ(5, read<int16_t>("App.Globals.modes[1]"));
}

TEST_F(SimDeclTest, CommentsAndKeywordCaseAreAccepted) {
    app().start(R"(
        (* outer (* nested *) still a comment *)
        type e_x : (a, b); end_type  // lower-case keywords
        var_global
            X : int := 3; (* between *) y : e_x := B;
        end_var
        Program Main Var z : dInt; End_Var End_Program)");
    EXPECT_EQ(3, read<int16_t>("App.Globals.x"));
    EXPECT_EQ(1, read<int16_t>("app.globals.Y"));
    EXPECT_EQ(4u, app().size("APP.MAIN.Z"));
}

struct ErrorCase {
    const char* text;
    const char* message;
};

TEST_F(SimDeclTest, DeclarationErrorsNameLineColumnAndCause) {
    const ErrorCase cases[] = {
        {"VAR_GLOBAL\n  x : ST_Missing;\nEND_VAR", "line 2, column 7: unknown type 'ST_Missing'"},
        {"VAR_GLOBAL x : INT; X : DINT; END_VAR",
         "line 1, column 21: 'X' is already declared in App.Globals"},
        {"VAR_GLOBAL x : INT; END_VAR\nVAR_GLOBAL x : INT; END_VAR",
         "line 2, column 12: 'x' is already declared in App.Globals"},
        {"VAR_GLOBAL a : ARRAY[5..3] OF INT; END_VAR",
         "line 1, column 22: lower bound 5 exceeds upper bound 3"},
        {"VAR_GLOBAL a : ARRAY[0..1,0..1,0..1,0..1,0..1] OF INT; END_VAR",
         "line 1, column 42: an array has at most four dimensions"},
        {"VAR_GLOBAL a : ARRAY[0..2147483648] OF INT; END_VAR",
         "line 1, column 25: an array bound out of range"},
        {"VAR_GLOBAL a : ARRAY[0..1073741824] OF BYTE; END_VAR",
         "line 1, column 22: array larger than 1 GiB"},
        {"VAR_GLOBAL\n  x : INT;\n", "line 3, column 1: expected END_VAR, found end of text"},
        {"TYPE S : STRUCT a : INT;\nEND_TYPE", "line 2, column 1: expected END_STRUCT, found 'END_TYPE'"},
        {"VAR_GLOBAL x : INT;\nEND_TYPE", "line 2, column 1: expected END_VAR, found 'END_TYPE'"},
        {"TYPE T : INT;", "line 1, column 14: expected END_TYPE, found end of text"},
        {"TYPE S : STRUCT a : INT; b : BOOL; a : REAL; END_STRUCT END_TYPE",
         "line 1, column 36: member 'a' is declared twice"},
        {"TYPE S : STRUCT END_STRUCT END_TYPE", "line 1, column 10: a structure needs at least one member"},
        {"TYPE S : STRUCT me : S; END_STRUCT END_TYPE", "line 1, column 22: type 'S' contains itself"},
        {"TYPE A : INT; END_TYPE TYPE a : DINT; END_TYPE", "line 1, column 29: type 'a' is already declared"},
        {"(* never closed\nVAR_GLOBAL END_VAR", "line 1, column 1: unterminated comment"},
        {"VAR_GLOBAL s : STRING(3) := 'abcd'; END_VAR",
         "line 1, column 29: string of 4 characters does not fit STRING(3)"},
        {"VAR_GLOBAL s : STRING := 'abc\n'; END_VAR", "line 1, column 26: unterminated string"},
        {"VAR_GLOBAL s : STRING := 'a$Qb'; END_VAR",
         "line 1, column 28: invalid escape in a string; use $$ for '$'"},
        {"VAR_GLOBAL s : WSTRING := 'abc'; END_VAR",
         "line 1, column 27: expected a \"wstring\" for WSTRING(80)"},
        {"VAR_GLOBAL s : STRING(0); END_VAR", "line 1, column 23: string length must be 1 to 1048576"},
        {"VAR_GLOBAL x : SINT := 128; END_VAR", "line 1, column 24: value 128 out of range for SINT"},
        {"VAR_GLOBAL x : UINT := -1; END_VAR", "line 1, column 24: value -1 out of range for UINT"},
        {"VAR_GLOBAL x : INT := 1.5; END_VAR", "line 1, column 23: expected an integer for INT"},
        {"VAR_GLOBAL x : LINT := 99999999999999999999; END_VAR",
         "line 1, column 24: integer literal too large"},
        {"VAR_GLOBAL x : REAL := 1E39; END_VAR", "line 1, column 24: value out of range for REAL"},
        {"VAR_GLOBAL x : BOOL := 2; END_VAR", "line 1, column 24: expected TRUE or FALSE for BOOL"},
        {"TYPE E : (A, B); END_TYPE VAR_GLOBAL x : E := C; END_VAR",
         "line 1, column 47: 'C' is not a value of E"},
        {"TYPE E : (A, B, A); END_TYPE", "line 1, column 17: enumeration value 'A' is declared twice"},
        {"VAR_GLOBAL x : ARRAY[0..1] OF INT := [1, 2, 3]; END_VAR",
         "line 1, column 45: too many initial values for ARRAY[0..1] OF INT (2 elements)"},
        {"TYPE S : STRUCT a : INT; END_STRUCT END_TYPE VAR_GLOBAL x : S := (b := 1); END_VAR",
         "line 1, column 67: 'b' is not a member of S"},
        {"VAR_GLOBAL p : POINTER TO INT := 0; END_VAR",
         "line 1, column 34: a pointer or reference takes no initial value"},
        {"VAR_GLOBAL t : TIME := T#1s500us; END_VAR",
         "line 1, column 24: TIME has a resolution of one millisecond"},
        {"VAR_GLOBAL t : TIME := T#-24d20h31m23s649ms; END_VAR",
         "line 1, column 24: duration out of range for TIME"},
        {"VAR_GLOBAL t : TIME := T#-; END_VAR", "line 1, column 24: empty duration"},
        {"VAR_GLOBAL t : TIME := T#1m1h; END_VAR",
         "line 1, column 24: duration units must go from days down to nanoseconds"},
        {"VAR_GLOBAL d : DATE := D#2023-02-29; END_VAR",
         "line 1, column 24: malformed or impossible date '2023-02-29'"},
        {"VAR_GLOBAL d : DATE := T#1s; END_VAR", "line 1, column 24: expected a D# literal for DATE"},
        {"VAR_GLOBAL of : INT; END_VAR",
         "line 1, column 12: 'of' is a reserved word and cannot be used as a variable name"},
        {"VAR_GLOBAL x : INT END_VAR", "line 1, column 20: expected ';', found 'END_VAR'"},
        {"VAR_GLOBAL x : INT; END_VAR END_PROGRAM",
         "line 1, column 29: expected TYPE, VAR_GLOBAL, VAR, PROGRAM, FOLDER or FUNCTION_BLOCK, found "
         "'END_PROGRAM'"},
        {"PROGRAM P END_PROGRAM\nPROGRAM p END_PROGRAM", "line 2, column 9: 'p' is already declared in App"},
        {"VAR Globals : INT; END_VAR VAR_GLOBAL END_VAR",
         "line 1, column 28: 'Globals' is already declared in App"},
        {"FOLDER F PROGRAM P VAR x : INT; END_VAR",
         "line 1, column 40: expected VAR, VAR_INPUT, VAR_OUTPUT or END_PROGRAM, found end of text"},
        {"FOLDER F VAR_GLOBAL END_VAR", "line 1, column 28: expected END_FOLDER, found end of text"},
        {"VAR_GLOBAL x : INT := 12abc; END_VAR", "line 1, column 23: malformed number"},
        {"VAR_GLOBAL x : INT := 16#FG; END_VAR", "line 1, column 23: malformed number"},
        {"VAR_GLOBAL x : INT; END_VAR ?", "line 1, column 29: unexpected character '?'"},
        {"VAR_GLOBAL x : STRUCT a : INT; END_STRUCT; END_VAR",
         "line 1, column 16: a structure must be declared in a TYPE block"},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            SimCompileDeclarations(c.text);
            ADD_FAILURE() << "accepted";
        } catch (const CSimDeclError& error) {
            EXPECT_EQ(c.message, std::string(error.what()));
        }
    }
}

TEST_F(SimDeclTest, NestingIsBoundedInsteadOfExhaustingTheStack) {
    std::string arrays = "VAR_GLOBAL x : ";
    for (int i = 0; i < 100; ++i) arrays += "ARRAY[0..0] OF ";
    arrays += "INT; END_VAR";
    std::string folders;
    for (int i = 0; i < 100; ++i) folders += "FOLDER F ";
    // Each alias names the next one, declared later: laying out T0 goes 100 deep.
    std::string aliases = "TYPE T100 : INT; END_TYPE\n";
    for (int i = 0; i < 100; ++i) {
        aliases += "TYPE T" + std::to_string(i) + " : T" + std::to_string(i + 1) + "; END_TYPE\n";
    }
    aliases += "VAR_GLOBAL x : T0; END_VAR";
    for (const std::string& text : {arrays, folders, aliases}) {
        try {
            SimCompileDeclarations(text);
            ADD_FAILURE() << "accepted: " << text.substr(0, 60);
        } catch (const CSimDeclError& error) {
            EXPECT_NE(std::string::npos, std::string(error.what()).find("nested too deeply")) << error.what();
        }
    }
    // Within the limits, deep nesting works.
    app().start("VAR_GLOBAL x : ARRAY[0..0] OF ARRAY[1..1] OF ARRAY[2..2] OF POINTER TO INT; END_VAR");
    EXPECT_EQ(TYPE3_POINTER, app().typeClass("App.Globals.x[0][1][2]"));
}

TEST_F(SimDeclTest, ErrorCarriesLineAndColumn) {
    try {
        SimCompileDeclarations("VAR_GLOBAL\n\tx : Nope;\nEND_VAR");
        FAIL() << "accepted";
    } catch (const CSimDeclError& error) {
        EXPECT_EQ(2, error.line());
        EXPECT_EQ(6, error.column());
    }
}

TEST_F(SimDeclTest, FailedStartLeavesTheRunningApplication) {
    app().start("VAR_GLOBAL x : INT := 5; END_VAR");
    EXPECT_THROW(app().start("VAR_GLOBAL y : Nope; END_VAR"), CSimDeclError);
    ASSERT_TRUE(app().running());
    EXPECT_EQ(5, read<int16_t>("App.Globals.x"));
}

TEST_F(SimDeclTest, PlantExampleStarts) {
    std::ifstream file(ZENTRIK_SOURCE_DIR "/examples/plant.st");
    ASSERT_TRUE(file.good());
    std::stringstream text;
    text << file.rdbuf();
    app().start(text.str());
    const std::vector<std::string> expected = {
        "App.Globals.lineState",    "App.Globals.lineSpeed",    "App.Globals.shiftStart",
        "App.Globals.recipe",       "App.Globals.stations",     "App.Globals.pallet",
        "App.Globals.operatorNote", "App.Globals.temperatures", "App.Globals.palletiser",
        "App.Main.cycleCount",      "App.Main.lastFault",       "App.Main.heartbeat",
        "App.Main.uptime",          "App.Main.activeAxis"};
    EXPECT_EQ(expected, app().topLevelVariables());
    EXPECT_EQ(2, read<int16_t>("App.Globals.lineState"));
    EXPECT_STREQ("Sparkling water 0.33 l", reinterpret_cast<char*>(app().address("App.Globals.recipe")));
    EXPECT_EQ(412.5, read<double>("App.Globals.stations[2].axis.position"));
    EXPECT_EQ(0, read<int16_t>("App.Globals.stations[3].axis.mode"));
    EXPECT_EQ(2, read<int16_t>("App.Globals.stations[1].axis.mode"));
    EXPECT_EQ(1200.0, read<double>("App.Globals.stations[1].axis.limits[1]"));
    EXPECT_EQ(1500u, read<uint32_t>("App.Globals.stations[2].cycleTime"));
    EXPECT_EQ(19.0f, read<float>("App.Globals.temperatures[0]"));
    EXPECT_EQ(1, read<uint8_t>("App.Globals.pallet[1,1]"));
    EXPECT_EQ(0, read<uint8_t>("App.Globals.pallet[1,2]"));
}

}  // namespace
