// The symbol walk: browse order, names formed for members and elements, arrays kept as
// their first element, leaves, unknown names, NULL names, failing records and a stop in
// the middle of a walk.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "support/ApplicationFixture.h"
#include "symbols/VariableView.h"

namespace {

using Peer = CDomDriverMgrTestPeer;

class SymbolWalk : public ApplicationTest {
   protected:
    void TearDown() override {
        Peer::roots().clear();
        Peer::downloadFinish() = false;
        ApplicationTest::TearDown();
    }

    // Walks the running application on the test thread and returns the roots as trees
    // with a node for every element (Peer::Materialize).
    CSymbolIndex::vec_vars walk() {
        Peer::roots().clear();
        EXPECT_TRUE(Peer::DumpAll());
        CSymbolIndex::vec_vars roots;
        for (const std::shared_ptr<CVariable>& root : Peer::roots()) {
            roots.push_back(Peer::Materialize(CVariableView(*root)));
        }
        return roots;
    }

    // The node must stand for the application's variable `fullName`: same address,
    // size and type class, so the walk formed the right name for it.
    void expectNode(const std::shared_ptr<CVariable>& node, const std::string& fullName) {
        ASSERT_NE(nullptr, node) << fullName;
        EXPECT_EQ(static_cast<void*>(app().address(fullName)), node->var_addr_) << fullName;
        EXPECT_EQ(app().size(fullName), node->size_) << fullName;
        EXPECT_EQ(app().typeClass(fullName), node->varType_) << fullName;
    }

    void expectChildren(const std::shared_ptr<CVariable>& node, const std::vector<std::string>& fullNames) {
        ASSERT_EQ(fullNames.size(), node->childVec_.size());
        for (size_t i = 0; i < fullNames.size(); ++i) {
            expectNode(node->childVec_[i], fullNames[i]);
        }
    }
};

TEST_F(SymbolWalk, RootsInBrowseOrderWithMembersAndElements) {
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
    CSymbolIndex::vec_vars roots = walk();
    ASSERT_EQ(3u, roots.size());
    expectNode(roots[0], "App.Globals.i");
    EXPECT_EQ("i", roots[0]->symbol_nodename_);
    EXPECT_TRUE(roots[0]->childVec_.empty());
    expectNode(roots[1], "App.Globals.s");
    EXPECT_EQ("s", roots[1]->symbol_nodename_);
    expectChildren(roots[1], {"App.Globals.s.x", "App.Globals.s.y"});
    EXPECT_EQ("x", roots[1]->childVec_[0]->symbol_nodename_);
    EXPECT_EQ("y", roots[1]->childVec_[1]->symbol_nodename_);
    expectNode(roots[2], "App.Prog.r");
    expectChildren(roots[2], {"App.Prog.r[0]", "App.Prog.r[1]"});
}

TEST_F(SymbolWalk, ElementNamesForOneToThreeDimensions) {
    app().start(R"(
        VAR_GLOBAL
            a : ARRAY[1..3] OF INT;
            n : ARRAY[-1..1] OF DINT;
            g : ARRAY[0..1, 0..2] OF INT;
            c : ARRAY[0..1, -1..0, 2..3] OF BYTE;
        END_VAR
    )");
    CSymbolIndex::vec_vars roots = walk();
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
        const CVariableView view(*roots[r]);
        ASSERT_EQ(bounds[r].size(), view.dimensionCount()) << r;
        for (size_t d = 0; d < bounds[r].size(); ++d) {
            EXPECT_EQ(bounds[r][d].first, view.lowestIndex(d)) << r << "," << d;
            EXPECT_EQ(static_cast<size_t>(bounds[r][d].second - bounds[r][d].first + 1), view.extent(d))
                << r << "," << d;
        }
        EXPECT_EQ(0u, view.child(0).dimensionCount()) << r;
    }
}

TEST_F(SymbolWalk, FourDimensionsAndEveryOtherClassStayLeaves) {
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
    CSymbolIndex::vec_vars roots = walk();
    ASSERT_EQ(26u, roots.size());
    EXPECT_EQ(TYPE3_ARRAY, roots[0]->varType_);
    for (const std::shared_ptr<CVariable>& root : roots) {
        EXPECT_TRUE(root->childVec_.empty()) << root->symbol_nodename_;
        EXPECT_NE(nullptr, root->var_addr_) << root->symbol_nodename_;
    }
}

TEST_F(SymbolWalk, NestedStructuresAndArraysToAnyDepth) {
    app().start(R"(
        TYPE ST_Axis : STRUCT pos : LREAL; limits : ARRAY[0..1] OF REAL; END_STRUCT END_TYPE
        TYPE ST_Cell : STRUCT axis : ARRAY[0..1, 0..1] OF ST_Axis; id : INT; END_STRUCT END_TYPE
        VAR_GLOBAL lines : ARRAY[1..2] OF ST_Cell; END_VAR
    )");
    CSymbolIndex::vec_vars roots = walk();
    ASSERT_EQ(1u, roots.size());
    expectChildren(roots[0], {"App.Globals.lines[1]", "App.Globals.lines[2]"});
    std::shared_ptr<CVariable> cell = roots[0]->childVec_[1];
    expectChildren(cell, {"App.Globals.lines[2].axis", "App.Globals.lines[2].id"});
    std::shared_ptr<CVariable> axis = cell->childVec_[0]->childVec_[1];
    expectNode(axis, "App.Globals.lines[2].axis[0,1]");
    expectChildren(axis, {"App.Globals.lines[2].axis[0,1].pos", "App.Globals.lines[2].axis[0,1].limits"});
    expectChildren(axis->childVec_[1],
                   {"App.Globals.lines[2].axis[0,1].limits[0]", "App.Globals.lines[2].axis[0,1].limits[1]"});
}

TEST_F(SymbolWalk, BranchesInsideBranchesAreWalkedCompletely) {
    app().start(R"(
        FOLDER Line
            FOLDER Cell
                VAR_GLOBAL deep : INT; END_VAR
            END_FOLDER
            VAR_GLOBAL after : INT; END_VAR
        END_FOLDER
        VAR_GLOBAL top : INT; END_VAR
    )");
    CSymbolIndex::vec_vars roots = walk();
    ASSERT_EQ(3u, roots.size());
    expectNode(roots[0], "App.Line.Cell.Globals.deep");
    expectNode(roots[1], "App.Line.Globals.after");
    expectNode(roots[2], "App.Globals.top");
}

TEST_F(SymbolWalk, UnknownNamesAndOtherNodeKindsLeaveFreshNodes) {
    app().start(R"(
        TYPE ST_Pair : STRUCT x : INT; y : INT; END_STRUCT END_TYPE
        VAR_GLOBAL s : ST_Pair; hidden : INT; other : INT; END_VAR
    )");
    app().pretendUnknown("App.Globals.s.y");
    app().overrideNodeType("App.Globals.other", 0x0777);  // neither branch nor variable: passed over
    CSymbolIndex::vec_vars roots = walk();
    ASSERT_EQ(2u, roots.size());
    ASSERT_EQ(2u, roots[0]->childVec_.size());
    expectNode(roots[0]->childVec_[0], "App.Globals.s.x");
    const CVariable& unknown = *roots[0]->childVec_[1];
    EXPECT_EQ(TYPE3_NONE, unknown.varType_);
    EXPECT_EQ(0u, unknown.size_);
    EXPECT_EQ(nullptr, unknown.var_addr_);
    EXPECT_EQ("", unknown.symbol_nodename_);
    expectNode(roots[1], "App.Globals.hidden");
}

TEST_F(SymbolWalk, NullNodeNamesGiveEmptyNames) {
    app().start(R"(
        TYPE ST_Pair : STRUCT x : INT; y : INT; END_STRUCT END_TYPE
        VAR_GLOBAL s : ST_Pair; v : INT; END_VAR
    )");
    app().setNullNodeName("App.Globals.v");
    app().setNullNodeName("ST_Pair.x");  // the member handle: its formed name is "App.Globals.s."
    CSymbolIndex::vec_vars roots = walk();
    ASSERT_EQ(2u, roots.size());
    ASSERT_EQ(2u, roots[0]->childVec_.size());
    EXPECT_EQ(nullptr, roots[0]->childVec_[0]->var_addr_);
    expectNode(roots[0]->childVec_[1], "App.Globals.s.y");
    expectNode(roots[1], "App.Globals.v");
    EXPECT_EQ("", roots[1]->symbol_nodename_);
}

TEST_F(SymbolWalk, FailingRecordDropsTheRootBeingBuilt) {
    app().start(R"(
        TYPE ST_Pair : STRUCT x : INT; y : INT; END_STRUCT END_TYPE
        VAR_GLOBAL first : INT; s : ST_Pair; last : INT; END_VAR
    )");
    // first: one record; s: one in its lookup, one for its type, one for x; y's fails.
    app().failInitVarInfoFrom(5);
    CSymbolIndex::vec_vars roots = walk();
    ASSERT_EQ(1u, roots.size());  // s is dropped, and every later record fails too
    expectNode(roots[0], "App.Globals.first");
    EXPECT_EQ(0u, app().openVarInfoRecords());
}

TEST_F(SymbolWalk, NoApplicationNameMeansNoWalk) {
    app().start("VAR_GLOBAL a : INT; END_VAR");
    app().failApplicationName();
    Peer::roots().clear();
    EXPECT_FALSE(Peer::DumpAll());
    EXPECT_TRUE(Peer::roots().empty());
    Peer::downloadFinish() = true;
    app().resetFaults();
    EXPECT_FALSE(Peer::DumpAll());  // a stop request before the walk
    EXPECT_TRUE(Peer::roots().empty());
}

// An array keeps its first element, walked with everything below it, as the layout of
// all; the host is asked about the first and the last element only.
TEST_F(SymbolWalk, AnArrayKeepsItsFirstElementAsTheLayoutOfAll) {
    app().start(R"(
        TYPE ST_Pair : STRUCT x : INT; y : ARRAY[0..3] OF REAL; END_STRUCT END_TYPE
        VAR_GLOBAL big : ARRAY[1..20000] OF ST_Pair; END_VAR
    )");
    const size_t nodesBefore = app().nodeCount();
    Peer::roots().clear();
    ASSERT_TRUE(Peer::DumpAll());
    ASSERT_EQ(1u, Peer::roots().size());
    const CVariable& big = *Peer::roots()[0];
    ASSERT_TRUE(big.KeepsOneElement());
    EXPECT_EQ(20000u, big.bounds_->elements);
    EXPECT_EQ(app().size("App.Globals.big[1]"), big.bounds_->stride);
    ASSERT_EQ(1u, big.childVec_.size());
    expectNode(big.childVec_[0], "App.Globals.big[1]");
    EXPECT_EQ(&big, big.childVec_[0]->array_);
    const CVariable& y = *big.childVec_[0]->childVec_[1];
    ASSERT_TRUE(y.KeepsOneElement());
    EXPECT_EQ(&big, y.bounds_->enclosing);
    // big, big[1], x, y, y[0], y[3], big[20000] and the application's own browse nodes.
    EXPECT_LE(app().nodeCount() - nodesBefore, 10u);

    const CVariableView element = CVariableView(big).child(19999).child(1).child(2);
    EXPECT_EQ("y[2]", element.name());
    EXPECT_EQ(static_cast<void*>(app().address("App.Globals.big[20000].y[2]")), element.address());
    EXPECT_EQ("big[20000]", CVariableView(big).child(19999).name());
    Peer::roots().clear();
}

TEST_F(SymbolWalk, StopInTheMiddleOfALargeArrayKeepsEarlierRootsOnly) {
    Peer::expandEveryElement() = true;  // element by element, as an array that does not fit
    app().start(R"(
        VAR_GLOBAL
            before : INT;
            big : ARRAY[1..20000] OF INT;
            after : INT;
        END_VAR
    )");
    std::atomic<int> lookups{0};
    app().setBeforeCallHook([&lookups](const char* function) {
        if (std::string(function) == "IecVarAccGetNode" && ++lookups == 500) {
            Peer::downloadFinish() = true;
        }
    });
    Peer::roots().clear();
    EXPECT_TRUE(Peer::DumpAll());  // the walk was reached, then cut short
    app().setBeforeCallHook(nullptr);
    CSymbolIndex::vec_vars roots = Peer::roots();
    ASSERT_EQ(1u, roots.size());
    expectNode(roots[0], "App.Globals.before");
    EXPECT_EQ(0u, app().openVarInfoRecords());
    // No host call follows the stop request.
    EXPECT_EQ(500, lookups.load());
}

}  // namespace
