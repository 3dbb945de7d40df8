// The symbol walk: browse order, names formed for members and elements, arrays kept as
// their first element, leaves, unknown names, NULL names and failing records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/RuntimeFixture.h"
#include "symbols/VariableView.h"

namespace {

class SymbolWalk : public RuntimeTest {
   protected:
    // Loads the running application and returns the roots of the index it published.
    std::vector<SeenNode> walk() {
        loadSymbols();
        return roots();
    }

    // The node must stand for the application's variable `fullName`: same address,
    // size and type class, so the walk formed the right name for it.
    void expectNode(const SeenNode& node, const std::string& fullName) {
        EXPECT_EQ(static_cast<void*>(app().address(fullName)), node.address) << fullName;
        EXPECT_EQ(app().size(fullName), node.size) << fullName;
        EXPECT_EQ(app().typeClass(fullName), node.type) << fullName;
    }

    void expectChildren(const SeenNode& node, const std::vector<std::string>& fullNames) {
        ASSERT_EQ(fullNames.size(), node.children.size());
        for (size_t i = 0; i < fullNames.size(); ++i) {
            expectNode(node.children[i], fullNames[i]);
        }
    }
};

TEST_P(SymbolWalk, RootsInBrowseOrderWithMembersAndElements) {
    app().start(R"(
        TYPE ST_Pair : STRUCT x : INT; y : REAL; END_STRUCT END_TYPE
        VAR_GLOBAL
            i : INT := 5;
            s : ST_Pair;
        END_VAR
        PROGRAM Prog
        VAR
            r : ARRAY[0..1] OF BOOL;
        END_VAR
        END_PROGRAM
    )");
    const std::vector<SeenNode> roots = walk();
    ASSERT_EQ(3u, roots.size());
    expectNode(roots[0], "App.Globals.i");
    EXPECT_EQ("i", roots[0].name);
    EXPECT_TRUE(roots[0].children.empty());
    expectNode(roots[1], "App.Globals.s");
    EXPECT_EQ("s", roots[1].name);
    expectChildren(roots[1], {"App.Globals.s.x", "App.Globals.s.y"});
    EXPECT_EQ("x", roots[1].children[0].name);
    EXPECT_EQ("y", roots[1].children[1].name);
    expectNode(roots[2], "App.Prog.r");
    expectChildren(roots[2], {"App.Prog.r[0]", "App.Prog.r[1]"});
}

TEST_P(SymbolWalk, ElementNamesForOneToThreeDimensions) {
    app().start(R"(
        VAR_GLOBAL
            a : ARRAY[1..3] OF INT;
            n : ARRAY[-1..1] OF DINT;
            g : ARRAY[0..1, 0..2] OF INT;
            c : ARRAY[0..1, -1..0, 2..3] OF BYTE;
        END_VAR
    )");
    const std::vector<SeenNode> roots = walk();
    ASSERT_EQ(4u, roots.size());
    expectChildren(roots[0], {"App.Globals.a[1]", "App.Globals.a[2]", "App.Globals.a[3]"});
    expectChildren(roots[1], {"App.Globals.n[-1]", "App.Globals.n[0]", "App.Globals.n[1]"});
    expectChildren(roots[2], {"App.Globals.g[0,0]", "App.Globals.g[0,1]", "App.Globals.g[0,2]",
                              "App.Globals.g[1,0]", "App.Globals.g[1,1]", "App.Globals.g[1,2]"});
    expectChildren(roots[3], {"App.Globals.c[0,-1,2]", "App.Globals.c[0,-1,3]", "App.Globals.c[0,0,2]",
                              "App.Globals.c[0,0,3]", "App.Globals.c[1,-1,2]", "App.Globals.c[1,-1,3]",
                              "App.Globals.c[1,0,2]", "App.Globals.c[1,0,3]"});
    // The bounds as declared, first dimension first, and the extents the views give.
    const std::vector<std::vector<std::pair<int32_t, int32_t>>> bounds = {
        {{1, 3}}, {{-1, 1}}, {{0, 1}, {0, 2}}, {{0, 1}, {-1, 0}, {2, 3}}};
    for (size_t r = 0; r < roots.size(); ++r) {
        EXPECT_EQ(bounds[r], roots[r].bounds) << r;
        EXPECT_TRUE(roots[r].children[0].bounds.empty()) << r;
    }
}

TEST_P(SymbolWalk, FourDimensionsAndEveryOtherClassStayLeaves) {
    app().start(R"(
        TYPE E_Mode : (IDLE := 0, RUN); END_TYPE
        VAR_GLOBAL
            four : ARRAY[0..1, 0..1, 0..1, 0..1] OF INT;
            text : STRING(10);
            wide : WSTRING(4);
            ptr : POINTER TO INT;
            ref : REFERENCE TO INT;
            mode : E_Mode;
            t : TIME; lt : LTIME; d : DATE; dt1 : DT; tod1 : TOD;
            b : BOOL; by : BYTE; w : WORD; dw : DWORD; lw : LWORD;
            si : SINT; i : INT; di : DINT; li : LINT; usi : USINT; ui : UINT; udi : UDINT; uli : ULINT;
            r : REAL; lr : LREAL;
        END_VAR
    )");
    const std::vector<SeenNode> roots = walk();
    ASSERT_EQ(26u, roots.size());
    EXPECT_EQ(TYPE3_ARRAY, roots[0].type);
    for (const SeenNode& root : roots) {
        EXPECT_TRUE(root.children.empty()) << root.name;
        EXPECT_NE(nullptr, root.address) << root.name;
    }
}

TEST_P(SymbolWalk, NestedStructuresAndArraysToAnyDepth) {
    app().start(R"(
        TYPE ST_Axis : STRUCT pos : LREAL; limits : ARRAY[0..1] OF REAL; END_STRUCT END_TYPE
        TYPE ST_Cell : STRUCT axis : ARRAY[0..1, 0..1] OF ST_Axis; id : INT; END_STRUCT END_TYPE
        VAR_GLOBAL lines : ARRAY[1..2] OF ST_Cell; END_VAR
    )");
    const std::vector<SeenNode> roots = walk();
    ASSERT_EQ(1u, roots.size());
    expectChildren(roots[0], {"App.Globals.lines[1]", "App.Globals.lines[2]"});
    const SeenNode& cell = roots[0].children[1];
    expectChildren(cell, {"App.Globals.lines[2].axis", "App.Globals.lines[2].id"});
    const SeenNode& axis = cell.children[0].children[1];
    expectNode(axis, "App.Globals.lines[2].axis[0,1]");
    expectChildren(axis, {"App.Globals.lines[2].axis[0,1].pos", "App.Globals.lines[2].axis[0,1].limits"});
    expectChildren(axis.children[1],
                   {"App.Globals.lines[2].axis[0,1].limits[0]", "App.Globals.lines[2].axis[0,1].limits[1]"});
}

TEST_P(SymbolWalk, BranchesInsideBranchesAreWalkedCompletely) {
    app().start(R"(
        FOLDER Line
            FOLDER Cell
                VAR_GLOBAL deep : INT; END_VAR
            END_FOLDER
            VAR_GLOBAL after : INT; END_VAR
        END_FOLDER
        VAR_GLOBAL top : INT; END_VAR
    )");
    const std::vector<SeenNode> roots = walk();
    ASSERT_EQ(3u, roots.size());
    expectNode(roots[0], "App.Line.Cell.Globals.deep");
    expectNode(roots[1], "App.Line.Globals.after");
    expectNode(roots[2], "App.Globals.top");
}

TEST_P(SymbolWalk, UnknownNamesAndOtherNodeKindsLeaveFreshNodes) {
    app().start(R"(
        TYPE ST_Pair : STRUCT x : INT; y : INT; END_STRUCT END_TYPE
        VAR_GLOBAL s : ST_Pair; hidden : INT; other : INT; END_VAR
    )");
    app().pretendUnknown("App.Globals.s.y");
    app().overrideNodeType("App.Globals.other", 0x0777);  // neither branch nor variable: passed over
    const std::vector<SeenNode> roots = walk();
    ASSERT_EQ(2u, roots.size());
    ASSERT_EQ(2u, roots[0].children.size());
    expectNode(roots[0].children[0], "App.Globals.s.x");
    const SeenNode& unknown = roots[0].children[1];
    EXPECT_EQ(TYPE3_NONE, unknown.type);
    EXPECT_EQ(0u, unknown.size);
    EXPECT_EQ(nullptr, unknown.address);
    EXPECT_EQ("", unknown.name);
    expectNode(roots[1], "App.Globals.hidden");
}

// A node the host gives no name is named by the last part of the name it was looked up
// by: a variable and a member by their own name, an element by its indices. A member
// whose type description gives no name cannot be looked up: it stays unresolved.
TEST_P(SymbolWalk, NodesWithoutANameAreNamedByTheirFullName) {
    app().start(R"(
        TYPE ST_Pair : STRUCT x : INT; y : INT; END_STRUCT END_TYPE
        VAR_GLOBAL s : ST_Pair; v : INT; t : ST_Pair; r : ARRAY[1..2] OF ST_Pair; END_VAR
    )");
    for (const char* name : {"App.Globals.v", "App.Globals.t.y", "App.Globals.r[1]", "App.Globals.r[2]"}) {
        app().setNullNodeName(name);
    }
    app().setNullNodeName("ST_Pair.x");  // the member handle: its formed name is "App.Globals.s."
    const std::vector<SeenNode> roots = walk();
    ASSERT_EQ(4u, roots.size());
    ASSERT_EQ(2u, roots[0].children.size());
    EXPECT_EQ(nullptr, roots[0].children[0].address);
    EXPECT_EQ("", roots[0].children[0].name);
    expectNode(roots[0].children[1], "App.Globals.s.y");
    expectNode(roots[1], "App.Globals.v");
    EXPECT_EQ("v", roots[1].name);
    ASSERT_EQ(2u, roots[2].children.size());
    expectNode(roots[2].children[1], "App.Globals.t.y");
    EXPECT_EQ("y", roots[2].children[1].name);
    ASSERT_EQ(2u, roots[3].children.size());
    EXPECT_EQ("[1]", roots[3].children[0].name);
    EXPECT_EQ("[2]", roots[3].children[1].name);
}

TEST_P(SymbolWalk, FailingRecordDropsTheRootBeingBuilt) {
    app().start(R"(
        TYPE ST_Pair : STRUCT x : INT; y : INT; END_STRUCT END_TYPE
        VAR_GLOBAL first : INT; s : ST_Pair; last : INT; END_VAR
    )");
    // first: one record; s: one in its lookup, one for its type, one for x; y's fails.
    app().failInitVarInfoFrom(5);
    const std::vector<SeenNode> roots = walk();
    ASSERT_EQ(1u, roots.size());  // s is dropped, and every later record fails too
    expectNode(roots[0], "App.Globals.first");
    EXPECT_EQ(0u, app().openVarInfoRecords());
}

// An array keeps its first element, walked with everything below it, as the layout of
// all; the host is asked about the first and the last element only.
TEST_P(SymbolWalk, AnArrayKeepsItsFirstElementAsTheLayoutOfAll) {
    app().start(R"(
        TYPE ST_Pair : STRUCT x : INT; y : ARRAY[0..3] OF REAL; END_STRUCT END_TYPE
        VAR_GLOBAL big : ARRAY[1..20000] OF ST_Pair; END_VAR
    )");
    const size_t nodesBefore = app().nodeCount();
    loadSymbols();
    // big, big[1], x, y, y[0], y[1], y[3], big[10000], big[20000] and the application's own
    // browse nodes: the first element is walked, a middle one and the last looked up.
    EXPECT_LE(app().nodeCount() - nodesBefore, 12u);
    bool inspected = index().Inspect(app().address("App.Globals.big"), [&](CVariableView big) {
        EXPECT_EQ(20000u, big.childCount());
        EXPECT_EQ(app().address("App.Globals.big[2]") - app().address("App.Globals.big[1]"),
                  big.elementStride());
        EXPECT_EQ(app().address("App.Globals.big[1].y[1]") - app().address("App.Globals.big[1].y[0]"),
                  big.child(0).child(1).elementStride());
        const CVariableView element = big.child(19999).child(1).child(2);
        EXPECT_EQ(ComponentName("App.Globals.big[20000].y[2]"), element.name());
        EXPECT_EQ(static_cast<void*>(app().address("App.Globals.big[20000].y[2]")), element.address());
        EXPECT_EQ(ComponentName("App.Globals.big[20000]"), big.child(19999).name());
    });
    EXPECT_TRUE(inspected);
}

ZENTRIK_UNDER_EVERY_RUNTIME(SymbolWalk);

}  // namespace
