// The simulated application as the component sees it: the seventeen IecVarAcc
// functions taken from the simulated host's function table.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "CmpIecVarAccessItf.h"
#include "SimApplication.h"
#include "SimHost.h"

namespace {

// The host functions, looked up by name as the component imports them.
struct VarAcc {
    template <typename T>
    static T get(const char* name) {
        return reinterpret_cast<T>(CSimHost::instance().function(name));
    }
    PF_IECVARACC_GET_FIRST_INTERFACE firstInterface =
        get<PF_IECVARACC_GET_FIRST_INTERFACE>("IecVarAccGetFirstInterface");
    PF_IECVARACC_GET_APPLICATION_NAME appName =
        get<PF_IECVARACC_GET_APPLICATION_NAME>("IecVarAccGetApplicationName");
    PF_IECVARACC_BROWSE_GET_ROOT root = get<PF_IECVARACC_BROWSE_GET_ROOT>("IecVarAccBrowseGetRoot");
    PF_IECVARACC_BROWSE_DOWN down = get<PF_IECVARACC_BROWSE_DOWN>("IecVarAccBrowseDown");
    PF_IECVARACC_BROWSE_GET_NEXT next = get<PF_IECVARACC_BROWSE_GET_NEXT>("IecVarAccBrowseGetNext");
    PF_IECVARACC_GET_NODE_FULL_PATH fullPath =
        get<PF_IECVARACC_GET_NODE_FULL_PATH>("IecVarAccGetNodeFullPath");
    PF_IECVARACC_GET_NODE_TYPE nodeType = get<PF_IECVARACC_GET_NODE_TYPE>("IecVarAccGetNodeType");
    PF_IECVARACC_INIT_VAR_INFO initVarInfo = get<PF_IECVARACC_INIT_VAR_INFO>("IecVarAccInitVarInfo");
    PF_IECVARACC_EXIT_VAR_INFO exitVarInfo = get<PF_IECVARACC_EXIT_VAR_INFO>("IecVarAccExitVarInfo");
    PF_IECVARACC_GET_NODE3 getNode3 = get<PF_IECVARACC_GET_NODE3>("IecVarAccGetNode3");
    PF_IECVARACC_GET_NODE getNode = get<PF_IECVARACC_GET_NODE>("IecVarAccGetNode");
    PF_IECVARACC_GET_SIZE3 size3 = get<PF_IECVARACC_GET_SIZE3>("IecVarAccGetSize3");
    PF_IECVARACC_GET_TYPE_CLASS3 typeClass3 = get<PF_IECVARACC_GET_TYPE_CLASS3>("IecVarAccGetTypeClass3");
    PF_IECVARACC_GET_ADDRESS3 address3 = get<PF_IECVARACC_GET_ADDRESS3>("IecVarAccGetAddress3");
    PF_IECVARACC_GET_NODE_NAME nodeName = get<PF_IECVARACC_GET_NODE_NAME>("IecVarAccGetNodeName");
    PF_IECVARACC_GET_TYPE_NODE3 typeNode3 = get<PF_IECVARACC_GET_TYPE_NODE3>("IecVarAccGetTypeNode3");
    PF_IECVARACC_GET_TYPE_DESC typeDesc = get<PF_IECVARACC_GET_TYPE_DESC>("IecVarAccGetTypeDesc");
};

const char* const kLine = R"(
    TYPE E_Mode : (IDLE, RUN := 4, FAULT); END_TYPE
    TYPE ST_Axis :
    STRUCT
        pos : LREAL := 1.5;
        mode : E_Mode := RUN;
        name : STRING(10);
    END_STRUCT
    END_TYPE
    TYPE ST_Line :
    STRUCT
        id : INT;
        axis : ARRAY[0..1, 0..2] OF ST_Axis;
    END_STRUCT
    END_TYPE
    TYPE T_Row : ARRAY[1..2] OF INT; END_TYPE
    VAR_GLOBAL
        counter : DINT := 42;
        lines : ARRAY[1..3] OF ST_Line;
        neg : ARRAY[-2..1] OF BOOL;
        cube : ARRAY[0..1, -1..0, 2..3] OF BYTE;
        four : ARRAY[0..1, 0..1, 0..1, 1..2] OF INT;
        rows : ARRAY[0..1] OF T_Row;
        p : POINTER TO ST_Axis;
        r : REFERENCE TO INT;
        ws : WSTRING(5);
        lt : LTIME;
    END_VAR
    PROGRAM Main VAR label : WSTRING(10) := "ok"; END_VAR END_PROGRAM
)";

class SimApplicationTest : public ::testing::Test {
   protected:
    void SetUp() override {
        CSimHost::instance().resetFunctions();
        app().stop();
        app().resetFaults();
        app().clearHostErrors();
        app().forgetVarInfoRecords();
        app().resetCallCounts();
    }
    void TearDown() override {
        EXPECT_EQ(0u, app().openVarInfoRecords());
        app().resetFaults();
        app().setFreedoms(CSimFreedoms());
        app().stop();
    }
    static CSimApplication& app() { return CSimApplication::instance(); }

    RTS_HANDLE iface() { return acc.firstInterface(nullptr); }

    // A lookup with its own record, as the component makes one.
    RTS_HANDLE lookup(const std::string& name, RTS_RESULT* result = nullptr) {
        VariableInformationStruct3 info;
        EXPECT_EQ(ERR_OK, acc.initVarInfo(&info, sizeof(info)));
        RTS_HANDLE hInterface = RTS_INVALID_HANDLE;
        RTS_RESULT r = -1;
        RTS_HANDLE node = acc.getNode3(name.c_str(), &hInterface, &info, &r);
        EXPECT_EQ(ERR_OK, acc.exitVarInfo(&info));
        if (result != nullptr) *result = r;
        return node;
    }

    std::string pathOf(RTS_HANDLE node) {
        char buffer[256];
        RTS_RESULT result = -1;
        acc.fullPath(iface(), node, buffer, sizeof(buffer), &result);
        return result == ERR_OK ? buffer : "<" + std::to_string(result) + ">";
    }

    VarAcc acc;
};

TEST_F(SimApplicationTest, WithoutApplicationEverythingFails) {
    RTS_RESULT result = ERR_OK;
    EXPECT_EQ(RTS_INVALID_HANDLE, acc.firstInterface(&result));
    EXPECT_EQ(kSimErrNoApplication, result);
    EXPECT_EQ(RTS_INVALID_HANDLE, acc.firstInterface(nullptr));
    char name[256];
    EXPECT_NE(ERR_OK, acc.appName(RTS_INVALID_HANDLE, name, sizeof(name)));
    EXPECT_EQ(RTS_INVALID_HANDLE, lookup("App.Globals.counter", &result));
    EXPECT_EQ(kSimErrNoApplication, result);
    EXPECT_EQ(RTS_INVALID_HANDLE, acc.root(RTS_INVALID_HANDLE, &result));
    EXPECT_NE(ERR_OK, result);
}

TEST_F(SimApplicationTest, InterfaceAndApplicationName) {
    app().start(kLine);
    RTS_RESULT result = -1;
    RTS_HANDLE hInterface = acc.firstInterface(&result);
    EXPECT_EQ(ERR_OK, result);
    EXPECT_NE(RTS_INVALID_HANDLE, hInterface);
    EXPECT_NE(nullptr, hInterface);
    char name[256] = "";
    EXPECT_EQ(ERR_OK, acc.appName(hInterface, name, sizeof(name)));
    EXPECT_STREQ("App", name);
    EXPECT_EQ(kSimErrBufferTooSmall, acc.appName(hInterface, name, 3));
    EXPECT_EQ(kSimErrInvalidHandle, acc.appName(RTS_INVALID_HANDLE, name, sizeof(name)));
}

// Walks the browse tree the way the component does and lists "kind path" lines.
std::vector<std::string> BrowseAll(VarAcc& acc, RTS_HANDLE hInterface) {
    std::vector<std::string> lines;
    RTS_RESULT result = -1;
    std::function<void(RTS_HANDLE)> walk = [&](RTS_HANDLE node) {
        for (RTS_HANDLE child = acc.down(hInterface, node, &result); result == ERR_OK;
             child = acc.next(hInterface, child, &result)) {
            char path[256];
            RTS_RESULT r = -1;
            acc.fullPath(hInterface, child, path, sizeof(path), &r);
            RTS_UI16 kind = acc.nodeType(hInterface, child, &r);
            lines.push_back(std::to_string(kind) + " " + path);
            RTS_RESULT saved = result;
            if (kind == IECVARACC_NODE_BRANCH) walk(child);
            result = saved;
        }
    };
    walk(acc.root(hInterface, &result));
    return lines;
}

TEST_F(SimApplicationTest, BrowseTreeFollowsDeclarationOrder) {
    app().start(R"(
        VAR top : INT; END_VAR
        VAR_GLOBAL a : INT; END_VAR
        FOLDER Line
            VAR_GLOBAL speed : REAL; END_VAR
            FOLDER Cell PROGRAM Robot VAR q : INT; END_VAR END_PROGRAM END_FOLDER
            PROGRAM Empty END_PROGRAM
            VAR direct : BOOL; END_VAR
        END_FOLDER
        PROGRAM Main VAR label : WSTRING(10); END_VAR VAR_OUTPUT done : BOOL; END_VAR END_PROGRAM
        VAR_GLOBAL b : BOOL; END_VAR
        FOLDER line VAR_GLOBAL late : INT; END_VAR END_FOLDER
    )");
    const std::vector<std::string> expected = {
        "1549 App.top",
        "4892 App.Globals",
        "1549 App.Globals.a",
        "1549 App.Globals.b",
        "4892 App.Line",
        "4892 App.Line.Globals",
        "1549 App.Line.Globals.speed",
        "1549 App.Line.Globals.late",
        "4892 App.Line.Cell",
        "4892 App.Line.Cell.Robot",
        "1549 App.Line.Cell.Robot.q",
        "4892 App.Line.Empty",
        "1549 App.Line.direct",
        "4892 App.Main",
        "1549 App.Main.label",
        "1549 App.Main.done",
    };
    EXPECT_EQ(expected, BrowseAll(acc, iface()));
    const std::vector<std::string> variables = {"App.top",
                                                "App.Globals.a",
                                                "App.Globals.b",
                                                "App.Line.Globals.speed",
                                                "App.Line.Globals.late",
                                                "App.Line.Cell.Robot.q",
                                                "App.Line.direct",
                                                "App.Main.label",
                                                "App.Main.done"};
    EXPECT_EQ(variables, app().topLevelVariables());

    RTS_RESULT result = -1;
    RTS_HANDLE rootNode = acc.root(iface(), &result);
    EXPECT_EQ(kSimNodeKindRoot, acc.nodeType(iface(), rootNode, &result));
    EXPECT_EQ("App", pathOf(rootNode));
    EXPECT_EQ(RTS_INVALID_HANDLE, acc.next(iface(), rootNode, &result));
    EXPECT_EQ(kSimErrNoMoreNodes, result);
    // A branch without children: browsing down fails, and so does the path of what it gave.
    RTS_HANDLE empty = lookup("App.Line.Empty");
    EXPECT_EQ(IECVARACC_NODE_BRANCH, acc.nodeType(iface(), empty, &result));
    RTS_HANDLE nothing = acc.down(iface(), empty, &result);
    EXPECT_EQ(kSimErrNoMoreNodes, result);
    char path[256];
    acc.fullPath(iface(), nothing, path, sizeof(path), &result);
    EXPECT_EQ(kSimErrInvalidHandle, result);
    // A variable has no browse children.
    acc.down(iface(), lookup("App.top"), &result);
    EXPECT_EQ(kSimErrNoMoreNodes, result);
}

struct LookupCase {
    const char* name;
    size_t size;
    TypeClass3 typeClass;
    const char* nodeName;
};

TEST_F(SimApplicationTest, EveryNameFormResolves) {
    app().start(kLine);
    const LookupCase cases[] = {
        {"App.Globals.counter", 4, TYPE3_DINT, "counter"},
        {"App.Globals.lines", 3 * 152, TYPE3_ARRAY, "lines"},
        {"App.Globals.lines[2]", 152, TYPE3_USERDEF, "lines[2]"},
        {"App.Globals.lines[2].id", 2, TYPE3_INT, "id"},
        {"App.Globals.lines[2].axis", 6 * 24, TYPE3_ARRAY, "axis"},
        {"App.Globals.lines[2].axis[0,1]", 24, TYPE3_USERDEF, "axis[0,1]"},
        {"App.Globals.lines[2].axis[1,2].pos", 8, TYPE3_LREAL, "pos"},
        {"App.Globals.lines[3].axis[1,0].mode", 2, TYPE3_ENUM, "mode"},
        {"App.Globals.lines[1].axis[0,0].name", 11, TYPE3_STRING, "name"},
        {"App.Globals.neg[-2]", 1, TYPE3_BOOL, "neg[-2]"},
        {"App.Globals.neg[-1]", 1, TYPE3_BOOL, "neg[-1]"},
        {"App.Globals.neg[1]", 1, TYPE3_BOOL, "neg[1]"},
        {"App.Globals.cube[1,-1,3]", 1, TYPE3_BYTE, "cube[1,-1,3]"},
        {"App.Globals.four[1,0,1,2]", 2, TYPE3_INT, "four[1,0,1,2]"},
        {"App.Globals.rows[1]", 4, TYPE3_ARRAY, "rows[1]"},
        {"App.Globals.rows[1][2]", 2, TYPE3_INT, "rows[1][2]"},
        {"App.Globals.p", 8, TYPE3_POINTER, "p"},
        {"App.Globals.r", 8, TYPE3_REFERENCE, "r"},
        {"App.Globals.ws", 12, TYPE3_WSTRING, "ws"},
        {"App.Globals.lt", 8, TYPE3_LTIME, "lt"},
        {"App.Main.label", 22, TYPE3_WSTRING, "label"},
        {"app.GLOBALS.Lines[2].AXIS[0,1].Pos", 8, TYPE3_LREAL, "pos"},
    };
    for (const LookupCase& c : cases) {
        SCOPED_TRACE(c.name);
        VariableInformationStruct3 info;
        ASSERT_EQ(ERR_OK, acc.initVarInfo(&info, sizeof(info)));
        RTS_HANDLE hInterface = RTS_INVALID_HANDLE;
        RTS_RESULT result = -1;
        RTS_HANDLE node = acc.getNode3(c.name, &hInterface, &info, &result);
        ASSERT_EQ(ERR_OK, result);
        EXPECT_EQ(iface(), hInterface);
        EXPECT_EQ(IECVARACC_NODE_VARIABLE, acc.nodeType(hInterface, node, &result));
        EXPECT_EQ(c.size, acc.size3(hInterface, node, &info, &result));
        EXPECT_EQ(c.typeClass, acc.typeClass3(hInterface, node, &info, &result));
        RTS_UI8* address = acc.address3(hInterface, node, &info, &result);
        EXPECT_EQ(app().address(c.name), address);
        ASSERT_NE(nullptr, acc.nodeName(hInterface, node, &result));
        EXPECT_STREQ(c.nodeName, acc.nodeName(hInterface, node, &result));
        RTS_UINTPTR offset = 0;
        RTS_HANDLE hInterface1 = RTS_INVALID_HANDLE;
        EXPECT_EQ(node, acc.getNode(c.name, &offset, &hInterface1, &result));
        EXPECT_EQ(ERR_OK, result);
        EXPECT_EQ(static_cast<RTS_UINTPTR>(address - app().memory()), offset);
        EXPECT_EQ(ERR_OK, acc.exitVarInfo(&info));
    }
    // Elements and members lie where the layout puts them.
    EXPECT_EQ(app().address("App.Globals.lines") + 152 + 8 + 24,
              app().address("App.Globals.lines[2].axis[0,1]"));
    EXPECT_EQ(app().address("App.Globals.cube") + 7, app().address("App.Globals.cube[1,0,3]"));
    EXPECT_EQ(1.5, *reinterpret_cast<double*>(app().address("App.Globals.lines[3].axis[1,2].pos")));
}

TEST_F(SimApplicationTest, MalformedAndUnknownNamesAreRefused) {
    app().start(kLine);
    const char* const names[] = {
        "App.Globals.nope",
        "App.Globals.neg[2]",
        "App.Globals.neg[-3]",
        "App.Globals.neg[01]",
        "App.Globals.neg[ 1]",
        "App.Globals.neg[+1]",
        "App.Globals.neg[-0]",
        "App.Globals.neg[1",
        "App.Globals.neg[1]]",
        "App.Globals.neg[]",
        "App.Globals.neg[0,0]",
        "App.Globals.cube[1,0]",
        "App.Globals.neg[2147483648]",
        "App.Globals.counter.x",
        "App.Globals.counter[0]",
        "App.Globals.lines[1].",
        "App.Globals.lines[1]..id",
        "App.Globals.lines[1].axis[0]",
        "App.Globals.lines.id",
        "Other.Globals.counter",
        "App.Globals.counter ",
        "App..Globals.counter",
        "App.Globals[0]",
        "App.Nothing.counter",
        "",
        "App.Globals.four[0,0,0,0]",
        "App.Globals.rows[1,2]",
    };
    for (const char* name : names) {
        SCOPED_TRACE(name);
        RTS_RESULT result = ERR_OK;
        EXPECT_EQ(RTS_INVALID_HANDLE, lookup(name, &result));
        EXPECT_EQ(kSimErrUnknownName, result);
        RTS_UINTPTR offset = 0;
        RTS_HANDLE hInterface = nullptr;
        EXPECT_EQ(RTS_INVALID_HANDLE, acc.getNode(name, &offset, &hInterface, &result));
        EXPECT_EQ(kSimErrUnknownName, result);
        EXPECT_EQ(RTS_INVALID_HANDLE, hInterface);
    }
    RTS_RESULT result = ERR_OK;
    EXPECT_EQ(RTS_INVALID_HANDLE, acc.getNode3(nullptr, nullptr, nullptr, &result));
    EXPECT_EQ(kSimErrInvalidParameter, result);
}

TEST_F(SimApplicationTest, BranchesResolveButAreNoVariables) {
    app().start(kLine);
    RTS_RESULT result = -1;
    RTS_HANDLE globals = lookup("App.Globals", &result);
    ASSERT_EQ(ERR_OK, result);
    EXPECT_EQ(IECVARACC_NODE_BRANCH, acc.nodeType(iface(), globals, &result));
    EXPECT_EQ(0u, acc.size3(iface(), globals, nullptr, &result));
    EXPECT_EQ(kSimErrNotAVariable, result);
    EXPECT_EQ(TYPE3_NONE, acc.typeClass3(iface(), globals, nullptr, &result));
    EXPECT_EQ(nullptr, acc.address3(iface(), globals, nullptr, &result));
    EXPECT_EQ(RTS_INVALID_HANDLE, acc.typeNode3(iface(), globals, nullptr, &result));
    EXPECT_STREQ("Globals", acc.nodeName(iface(), globals, &result));
    EXPECT_EQ(kSimNodeKindRoot, acc.nodeType(iface(), lookup("App"), &result));
}

TEST_F(SimApplicationTest, HandlesAreStableAndMadeOncePerNode) {
    app().start(kLine);
    RTS_HANDLE first = lookup("App.Globals.lines[2].axis[1,1].pos");
    size_t nodes = app().nodeCount();
    EXPECT_EQ(first, lookup("App.Globals.lines[2].axis[1,1].pos"));
    EXPECT_EQ(first, lookup("APP.GLOBALS.LINES[2].AXIS[1,1].POS"));
    EXPECT_EQ(nodes, app().nodeCount());
    // The parent nodes on the way were made too, and are found again.
    lookup("App.Globals.lines[2].axis[1,1]");
    EXPECT_EQ(nodes, app().nodeCount());
    lookup("App.Globals.lines[2].axis[1,1].mode");
    EXPECT_EQ(nodes + 1, app().nodeCount());
    EXPECT_EQ("App.Globals.lines[2].axis[1,1].pos", pathOf(first));
    EXPECT_EQ("App.Globals.rows[0][1]", pathOf(lookup("App.Globals.rows[0][1]")));
    EXPECT_EQ("App.Globals.neg[-1]", pathOf(lookup("App.Globals.neg[-1]")));
}

TEST_F(SimApplicationTest, HandlesOfAnEarlierApplicationAreRefused) {
    app().start(kLine);
    RTS_HANDLE oldInterface = iface();
    RTS_HANDLE oldNode = lookup("App.Globals.counter");
    app().start(kLine);
    RTS_RESULT result = ERR_OK;
    EXPECT_NE(oldInterface, iface());
    EXPECT_EQ(0u, acc.size3(oldInterface, oldNode, nullptr, &result));
    EXPECT_EQ(kSimErrInvalidHandle, result);
    EXPECT_EQ(0u, acc.size3(iface(), oldNode, nullptr, &result));
    EXPECT_EQ(kSimErrInvalidHandle, result);
    EXPECT_EQ(nullptr, acc.nodeName(iface(), nullptr, &result));
    EXPECT_EQ(kSimErrInvalidHandle, result);
    app().stop();
    EXPECT_EQ(0u, acc.size3(oldInterface, oldNode, nullptr, &result));
    EXPECT_EQ(kSimErrNoApplication, result);
}

TEST_F(SimApplicationTest, NamesHandedOutStayReadableAcrossOneStop) {
    app().start(kLine);
    RTS_RESULT result = -1;
    const char* element = acc.nodeName(iface(), lookup("App.Globals.rows[1][2]"), &result);
    const char* member = acc.nodeName(iface(), lookup("App.Globals.lines[1].id"), &result);
    app().stop();  // a loader may still be copying the names it was just given
    EXPECT_STREQ("rows[1][2]", element);
    EXPECT_STREQ("id", member);
    app().start("VAR_GLOBAL other : INT := 9; END_VAR");
    EXPECT_STREQ("rows[1][2]", element);
    EXPECT_EQ((std::vector<std::string>{"App.Globals.other"}), app().topLevelVariables());
    EXPECT_EQ(RTS_INVALID_HANDLE, lookup("App.Globals.counter", &result));
    EXPECT_EQ(kSimErrUnknownName, result);
}

TEST_F(SimApplicationTest, FullPathIsBoundedByTheBuffer) {
    app().start(kLine);
    RTS_HANDLE node = lookup("App.Globals.counter");
    char path[20];
    std::memset(path, 'x', sizeof(path));
    RTS_RESULT result = -1;
    EXPECT_EQ(path, acc.fullPath(iface(), node, path, 20, &result));
    EXPECT_EQ(ERR_OK, result);
    EXPECT_STREQ("App.Globals.counter", path);
    std::memset(path, 'x', sizeof(path));
    EXPECT_EQ(nullptr, acc.fullPath(iface(), node, path, 19, &result));
    EXPECT_EQ(kSimErrBufferTooSmall, result);
    EXPECT_STREQ("App.Globals.counte", path);
    EXPECT_EQ('x', path[19]);
}

TEST_F(SimApplicationTest, TypeDescriptionsOfArraysAndStructures) {
    app().start(kLine);
    struct ArrayCase {
        const char* name;
        RTS_I16 dimensions;
        ArrayDimension ranges[3];
    };
    const ArrayCase arrays[] = {
        {"App.Globals.neg", 1, {{-2, 1}, {0, 0}, {0, 0}}},
        {"App.Globals.lines[1].axis", 2, {{0, 1}, {0, 2}, {0, 0}}},
        {"App.Globals.cube", 3, {{0, 1}, {-1, 0}, {2, 3}}},
        {"App.Globals.four", 4, {{0, 1}, {0, 1}, {0, 1}}},
        {"App.Globals.rows[0]", 1, {{1, 2}, {0, 0}, {0, 0}}},
    };
    RTS_RESULT result = -1;
    for (const ArrayCase& c : arrays) {
        SCOPED_TRACE(c.name);
        RTS_HANDLE typeNode = acc.typeNode3(iface(), lookup(c.name), nullptr, &result);
        ASSERT_EQ(ERR_OK, result);
        TypeDescAsUnion desc;
        std::memset(&desc, 0, sizeof(desc));
        ASSERT_EQ(ERR_OK, acc.typeDesc(iface(), typeNode, &desc));
        EXPECT_EQ(TYPE3_ARRAY, desc._typeClass);
        EXPECT_EQ(c.dimensions, desc._union._array._iDimensions);
        for (int d = 0; d < 3; ++d) {
            EXPECT_EQ(c.ranges[d].MinRange, desc._union._array._Dimension[d].MinRange) << d;
            EXPECT_EQ(c.ranges[d].MaxRange, desc._union._array._Dimension[d].MaxRange) << d;
        }
    }

    // A structure: the count first, then the member handles, whose names are the members'.
    RTS_HANDLE typeNode = acc.typeNode3(iface(), lookup("App.Globals.lines[1].axis[0,0]"), nullptr, &result);
    TypeDescAsUnion desc;
    std::memset(&desc, 0, sizeof(desc));
    ASSERT_EQ(ERR_OK, acc.typeDesc(iface(), typeNode, &desc));
    EXPECT_EQ(TYPE3_USERDEF, desc._typeClass);
    ASSERT_EQ(3, desc._union._struct._iComponents);
    std::vector<RTS_HANDLE> members(3, nullptr);
    desc._union._struct._Components = members.data();
    ASSERT_EQ(ERR_OK, acc.typeDesc(iface(), typeNode, &desc));
    std::vector<std::string> names;
    for (RTS_HANDLE member : members) {
        const char* name = acc.nodeName(iface(), member, &result);
        names.push_back(name != nullptr ? name : "<null>");
    }
    EXPECT_EQ((std::vector<std::string>{"pos", "mode", "name"}), names);
    // Too small an array is refused instead of overrun.
    desc._union._struct._iComponents = 2;
    EXPECT_EQ(kSimErrBufferTooSmall, acc.typeDesc(iface(), typeNode, &desc));
    EXPECT_EQ(3, desc._union._struct._iComponents);

    // Any other type gives its class.
    typeNode = acc.typeNode3(iface(), lookup("App.Globals.counter"), nullptr, &result);
    std::memset(&desc, 0, sizeof(desc));
    EXPECT_EQ(ERR_OK, acc.typeDesc(iface(), typeNode, &desc));
    EXPECT_EQ(TYPE3_DINT, desc._typeClass);
    EXPECT_EQ(kSimErrInvalidHandle, acc.typeDesc(iface(), lookup("App.Globals.counter"), &desc));
}

// Expands a variable the way the component does: type description, then each member
// or element by the name formed for it. Lists every name with its type class.
void Expand(VarAcc& acc, RTS_HANDLE hInterface, const std::string& name, std::vector<std::string>& out) {
    VariableInformationStruct3 info;
    ASSERT_EQ(ERR_OK, acc.initVarInfo(&info, sizeof(info)));
    RTS_HANDLE hIf = RTS_INVALID_HANDLE;
    RTS_RESULT result = -1;
    RTS_HANDLE node = acc.getNode3(name.c_str(), &hIf, &info, &result);
    ASSERT_EQ(ERR_OK, result) << name;
    EXPECT_EQ(hInterface, hIf);
    TypeClass3 tc = acc.typeClass3(hIf, node, &info, &result);
    out.push_back(name + " " + std::to_string(tc));
    TypeDescAsUnion desc;
    std::memset(&desc, 0, sizeof(desc));
    RTS_HANDLE typeNode = acc.typeNode3(hIf, node, &info, &result);
    if (tc == TYPE3_ARRAY && acc.typeDesc(hIf, typeNode, &desc) == ERR_OK &&
        desc._union._array._iDimensions <= 3) {
        ArrayDimension d[3] = {desc._union._array._Dimension[0], {0, 0}, {0, 0}};
        if (desc._union._array._iDimensions > 1) d[1] = desc._union._array._Dimension[1];
        if (desc._union._array._iDimensions > 2) d[2] = desc._union._array._Dimension[2];
        for (int i = d[0].MinRange; i <= d[0].MaxRange; ++i) {
            for (int j = d[1].MinRange; j <= d[1].MaxRange; ++j) {
                for (int k = d[2].MinRange; k <= d[2].MaxRange; ++k) {
                    char element[512];
                    switch (desc._union._array._iDimensions) {
                        case 1:
                            snprintf(element, sizeof(element), "%s[%d]", name.c_str(), i);
                            break;
                        case 2:
                            snprintf(element, sizeof(element), "%s[%d,%d]", name.c_str(), i, j);
                            break;
                        default:
                            snprintf(element, sizeof(element), "%s[%d,%d,%d]", name.c_str(), i, j, k);
                    }
                    Expand(acc, hIf, element, out);
                }
            }
        }
    } else if (tc == TYPE3_USERDEF) {
        acc.typeDesc(hIf, typeNode, &desc);
        std::vector<RTS_HANDLE> members(static_cast<size_t>(desc._union._struct._iComponents));
        desc._union._struct._Components = members.data();
        EXPECT_EQ(ERR_OK, acc.typeDesc(hIf, typeNode, &desc));
        for (RTS_HANDLE member : members)
            Expand(acc, hIf, name + "." + acc.nodeName(hIf, member, &result), out);
    }
    EXPECT_EQ(ERR_OK, acc.exitVarInfo(&info));
}

TEST_F(SimApplicationTest, ComponentStyleExpansionReachesEveryLeaf) {
    app().start(R"(
        TYPE ST_P : STRUCT x : INT; y : ARRAY[-1..0] OF BOOL; END_STRUCT END_TYPE
        VAR_GLOBAL s : ST_P; g : ARRAY[0..1, 1..2] OF ST_P; f : ARRAY[0..1,0..1,0..1,0..1] OF INT; END_VAR)");
    std::vector<std::string> names;
    Expand(acc, iface(), "App.Globals.s", names);
    Expand(acc, iface(), "App.Globals.f", names);
    const std::vector<std::string> expected = {"App.Globals.s 28",     "App.Globals.s.x 7",
                                               "App.Globals.s.y 26",   "App.Globals.s.y[-1] 0",
                                               "App.Globals.s.y[0] 0", "App.Globals.f 26"};
    EXPECT_EQ(expected, names);
    names.clear();
    Expand(acc, iface(), "App.Globals.g", names);
    EXPECT_EQ(1u + 4 * 5, names.size());
    EXPECT_EQ("App.Globals.g[1,2].y[0] 0", names.back());
}

TEST_F(SimApplicationTest, OpenRecordsAreCountedAndMisuseIsSeen) {
    app().start(kLine);
    VariableInformationStruct3 a, b;
    EXPECT_EQ(ERR_OK, acc.initVarInfo(&a, sizeof(a)));
    EXPECT_EQ(ERR_OK, acc.initVarInfo(&b, sizeof(b)));
    EXPECT_EQ(2u, app().openVarInfoRecords());
    EXPECT_EQ(ERR_OK, acc.exitVarInfo(&a));
    EXPECT_EQ(1u, app().openVarInfoRecords());
    EXPECT_TRUE(app().hostErrors().empty());

    EXPECT_EQ(kSimErrBadRecord, acc.exitVarInfo(&a));  // twice
    VariableInformationStruct3 never;
    std::memset(&never, 0, sizeof(never));
    EXPECT_EQ(kSimErrBadRecord, acc.exitVarInfo(&never));  // never prepared
    EXPECT_EQ(kSimErrInvalidParameter, acc.initVarInfo(&never, 80));
    RTS_RESULT result = -1;
    RTS_HANDLE hInterface = nullptr;
    acc.getNode3("App.Globals.counter", &hInterface, &never, &result);
    EXPECT_EQ(ERR_OK, result);
    EXPECT_EQ(1u, app().openVarInfoRecords());
    const std::vector<std::string> errors = {
        "IecVarAccExitVarInfo: record released without IecVarAccInitVarInfo, or twice",
        "IecVarAccExitVarInfo: record released without IecVarAccInitVarInfo, or twice",
        "IecVarAccInitVarInfo: record size 80",
        "IecVarAccGetNode3: record used without IecVarAccInitVarInfo",
    };
    EXPECT_EQ(errors, app().hostErrors());
    EXPECT_EQ(ERR_OK, acc.exitVarInfo(&b));
}

TEST_F(SimApplicationTest, InitVarInfoFailsFromTheNthCallOn) {
    app().start(kLine);
    app().failInitVarInfoFrom(3, 0x77);
    VariableInformationStruct3 records[5];
    std::vector<RTS_RESULT> results;
    for (VariableInformationStruct3& record : records)
        results.push_back(acc.initVarInfo(&record, sizeof(record)));
    EXPECT_EQ((std::vector<RTS_RESULT>{ERR_OK, ERR_OK, 0x77, 0x77, 0x77}), results);
    EXPECT_EQ(2u, app().openVarInfoRecords());
    EXPECT_EQ(ERR_OK, acc.exitVarInfo(&records[0]));
    EXPECT_EQ(ERR_OK, acc.exitVarInfo(&records[1]));
    app().failInitVarInfoFrom(0);
    EXPECT_EQ(ERR_OK, acc.initVarInfo(&records[2], sizeof(records[2])));
    EXPECT_EQ(ERR_OK, acc.exitVarInfo(&records[2]));
}

TEST_F(SimApplicationTest, UnknownNamesNullNamesAndNodeKindsCanBeInjected) {
    app().start(kLine);
    app().pretendUnknown("App.Globals.lines[1].axis[0,1].pos");
    app().setNullNodeName("App.Globals.counter");
    app().setNullNodeName("ST_Axis.mode");
    app().overrideNodeType("App.Globals.neg", 0x4711);
    RTS_RESULT result = ERR_OK;
    EXPECT_EQ(RTS_INVALID_HANDLE, lookup("app.globals.LINES[1].axis[0,1].pos", &result));
    EXPECT_EQ(kSimErrUnknownName, result);
    RTS_UINTPTR offset = 0;
    RTS_HANDLE hInterface = nullptr;
    acc.getNode("App.Globals.lines[1].axis[0,1].pos", &offset, &hInterface, &result);
    EXPECT_EQ(kSimErrUnknownName, result);
    lookup("App.Globals.lines[1].axis[0,1].mode", &result);
    EXPECT_EQ(ERR_OK, result);

    EXPECT_EQ(nullptr, acc.nodeName(iface(), lookup("App.Globals.counter"), &result));
    EXPECT_STREQ("lt", acc.nodeName(iface(), lookup("App.Globals.lt"), &result));
    RTS_HANDLE typeNode = acc.typeNode3(iface(), lookup("App.Globals.lines[1].axis[0,0]"), nullptr, &result);
    TypeDescAsUnion desc;
    std::memset(&desc, 0, sizeof(desc));
    RTS_HANDLE members[3];
    acc.typeDesc(iface(), typeNode, &desc);
    desc._union._struct._Components = members;
    ASSERT_EQ(ERR_OK, acc.typeDesc(iface(), typeNode, &desc));
    EXPECT_STREQ("pos", acc.nodeName(iface(), members[0], &result));
    EXPECT_EQ(nullptr, acc.nodeName(iface(), members[1], &result));

    EXPECT_EQ(0x4711, acc.nodeType(iface(), lookup("App.Globals.neg"), &result));
    EXPECT_EQ(IECVARACC_NODE_VARIABLE, acc.nodeType(iface(), lookup("App.Globals.neg[0]"), &result));

    app().resetFaults();
    EXPECT_NE(RTS_INVALID_HANDLE, lookup("App.Globals.lines[1].axis[0,1].pos"));
    EXPECT_STREQ("counter", acc.nodeName(iface(), lookup("App.Globals.counter"), &result));
}

// The runtime's freedoms: how element and member nodes are named, each setting against
// the same nodes (a null name shown as "NULL"); a renamed node keeps its name whatever
// the setting; the tool side tells what the host function gives.
TEST_F(SimApplicationTest, ElementAndMemberNamesFollowTheRuntimesFreedoms) {
    const char* const names[] = {"App.Globals.rows[1]",
                                 "App.Globals.rows[1][2]",
                                 "App.Globals.cube[1,-1,3]",
                                 "App.Globals.lines[2].axis[1,0]",
                                 "App.Globals.lines[2].axis[1,0].pos",
                                 "App.Globals.counter"};
    const struct {
        CSimFreedoms freedoms;
        std::vector<std::string> expected;
    } cases[] = {
        {{ESimElementNames::kArrayAndIndices, false, 0},
         {"rows[1]", "rows[1][2]", "cube[1,-1,3]", "axis[1,0]", "pos", "counter"}},
        {{ESimElementNames::kIndices, false, 0}, {"[1]", "[2]", "[1,-1,3]", "[1,0]", "pos", "counter"}},
        {{ESimElementNames::kFullPath, false, 0},
         {"App.Globals.rows[1]", "App.Globals.rows[1][2]", "App.Globals.cube[1,-1,3]",
          "App.Globals.lines[2].axis[1,0]", "pos", "counter"}},
        {{ESimElementNames::kNone, false, 0}, {"NULL", "NULL", "NULL", "NULL", "pos", "counter"}},
        {{ESimElementNames::kArrayAndIndices, true, 0},
         {"rows[1]", "rows[1][2]", "cube[1,-1,3]", "[1,0]", "NULL", "counter"}},
    };
    for (const auto& c : cases) {
        app().setFreedoms(c.freedoms);
        app().start(kLine);
        std::vector<std::string> given;
        std::vector<std::string> told;
        RTS_RESULT result = -1;
        for (const char* name : names) {
            const char* text = acc.nodeName(iface(), lookup(name), &result);
            EXPECT_EQ(ERR_OK, result) << name;
            given.push_back(text != nullptr ? text : "NULL");
            std::string tool;
            told.push_back(app().nodeName(name, tool) ? tool : "NULL");
        }
        EXPECT_EQ(c.expected, given);
        EXPECT_EQ(c.expected, told);
        app().renameNode("App.Globals.rows[1]", "odd");
        std::string renamed;
        EXPECT_TRUE(app().nodeName("App.Globals.rows[1]", renamed));
        EXPECT_EQ("odd", renamed);
        EXPECT_STREQ("odd", acc.nodeName(iface(), lookup("App.Globals.rows[1]"), &result));
        app().resetFaults();
    }
}

// Padding between array elements: each element one stride after the one before, the
// stride the element's size and the padding rounded up to the element's alignment; the
// array's size holds every stride; initial values land in their elements.
TEST_F(SimApplicationTest, ArraysMayHoldPaddingBetweenTheirElements) {
    const char* const declarations = R"(
        TYPE ST_P : STRUCT x : LREAL; y : BYTE; END_STRUCT END_TYPE
        VAR_GLOBAL
            texts : ARRAY[0..2] OF STRING(5) := ['a', 'b', 'c'];
            ps : ARRAY[1..2] OF ST_P;
            m : ARRAY[0..1] OF ARRAY[0..1] OF INT := [[1, 2], [3, 4]];
        END_VAR
    )";
    const struct {
        uint32_t padding;
        size_t textStride;
        size_t pStride;
        size_t innerStride;
        size_t outerStride;
    } cases[] = {{0, 6, 16, 2, 4}, {4, 10, 24, 6, 16}};
    for (const auto& c : cases) {
        CSimFreedoms freedoms;
        freedoms.arrayPadding = c.padding;
        app().setFreedoms(freedoms);
        app().start(declarations);
        EXPECT_EQ(c.textStride,
                  app().address("App.Globals.texts[1]") - app().address("App.Globals.texts[0]"));
        EXPECT_EQ(3 * c.textStride, app().size("App.Globals.texts"));
        EXPECT_EQ(c.pStride, app().address("App.Globals.ps[2]") - app().address("App.Globals.ps[1]"));
        EXPECT_EQ(c.innerStride, app().address("App.Globals.m[1][1]") - app().address("App.Globals.m[1][0]"));
        EXPECT_EQ(c.outerStride, app().address("App.Globals.m[1]") - app().address("App.Globals.m[0]"));
        EXPECT_STREQ("c", reinterpret_cast<const char*>(app().address("App.Globals.texts[2]")));
        int16_t four = 0;
        std::memcpy(&four, app().address("App.Globals.m[1][1]"), sizeof(four));
        EXPECT_EQ(4, four);
        RTS_RESULT result = -1;
        EXPECT_EQ(3 * c.textStride, acc.size3(iface(), lookup("App.Globals.texts"), nullptr, &result));
    }
}

TEST_F(SimApplicationTest, ApplicationNameCanBeMadeToFail) {
    app().start(kLine);
    app().failApplicationName(0x55);
    char name[256];
    EXPECT_EQ(0x55, acc.appName(iface(), name, sizeof(name)));
    app().failApplicationName(ERR_OK);
    EXPECT_EQ(ERR_OK, acc.appName(iface(), name, sizeof(name)));
}

TEST_F(SimApplicationTest, HookSeesEveryCallFirstAndCountersCount) {
    app().start(kLine);
    std::vector<std::string> seen;
    app().setBeforeCallHook([&](const char* function) {
        // The hook runs before the call, with nothing locked: it may stop the application.
        seen.push_back(function);
        if (seen.size() == 3) app().stop();
    });
    RTS_RESULT result = -1;
    RTS_HANDLE hInterface = acc.firstInterface(&result);
    RTS_HANDLE rootNode = acc.root(hInterface, &result);
    EXPECT_EQ(ERR_OK, result);
    acc.down(hInterface, rootNode, &result);
    EXPECT_EQ(kSimErrNoApplication, result);
    EXPECT_EQ((std::vector<std::string>{"IecVarAccGetFirstInterface", "IecVarAccBrowseGetRoot",
                                        "IecVarAccBrowseDown"}),
              seen);
    EXPECT_EQ(1u, app().callCount("IecVarAccBrowseDown"));
    EXPECT_EQ(0u, app().callCount("IecVarAccGetTypeDesc"));
    app().resetCallCounts();
    EXPECT_EQ(0u, app().callCount("IecVarAccBrowseDown"));
}

TEST_F(SimApplicationTest, EveryFunctionIsInTheHostTableAndAnswersWithoutApplication) {
    for (const std::string& name : CSimApplication::hostFunctionNames()) {
        EXPECT_NE(nullptr, CSimHost::instance().function(name)) << name;
    }
    RTS_RESULT result = ERR_OK;
    char text[16];
    TypeDescAsUnion desc{};
    EXPECT_EQ(nullptr, acc.fullPath(nullptr, nullptr, text, sizeof(text), &result));
    EXPECT_EQ(kSimErrNoApplication, result);
    EXPECT_EQ(0, acc.nodeType(nullptr, nullptr, &result));
    EXPECT_EQ(nullptr, acc.nodeName(nullptr, nullptr, &result));
    EXPECT_EQ(kSimErrNoApplication, acc.typeDesc(nullptr, nullptr, &desc));
    EXPECT_EQ(RTS_INVALID_HANDLE, acc.typeNode3(nullptr, nullptr, nullptr, &result));
    EXPECT_EQ(kSimErrNoApplication, result);
}

TEST_F(SimApplicationTest, ConcurrentLookupsShareNodes) {
    app().start(R"(
        TYPE ST_E : STRUCT a : INT; b : REAL; END_STRUCT END_TYPE
        VAR_GLOBAL big : ARRAY[0..19999] OF ST_E; END_VAR)");
    std::vector<RTS_HANDLE> seen[2];
    std::atomic<bool> go{false};
    auto work = [&](int t) {
        while (!go.load()) std::this_thread::yield();
        for (int i = 0; i < 20000; ++i) {
            std::string name = "App.Globals.big[" + std::to_string(t == 0 ? i : 19999 - i) + "].b";
            RTS_RESULT result = -1;
            seen[t].push_back(acc.getNode3(name.c_str(), nullptr, nullptr, &result));
            app().address(name);
        }
    };
    std::thread a(work, 0), b(work, 1);
    go.store(true);
    a.join();
    b.join();
    for (int i = 0; i < 20000; ++i)
        ASSERT_EQ(seen[0][static_cast<size_t>(i)], seen[1][static_cast<size_t>(19999 - i)]);
    // root, branch, variable, 20000 elements, 20000 members
    EXPECT_EQ(3u + 40000, app().nodeCount());
}

}  // namespace
