// The address index: every node found by its address, the outermost node winning,
// entries that share the walk's nodes, and no entry surviving into the next load.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <vector>

#include "support/ApplicationFixture.h"

namespace {

using Peer = CDomDriverMgrTestPeer;

class SymbolIndex : public ApplicationTest {};

size_t CountNodes(const CVariable& node) {
    size_t count = 1;
    for (const std::shared_ptr<CVariable>& child : node.childVec_) {
        count += CountNodes(*child);
    }
    return count;
}

TEST_F(SymbolIndex, OutermostNodeWinsWhereAddressesCoincide) {
    app().start(R"(
        TYPE ST_Pair : STRUCT x : INT; y : INT; END_STRUCT END_TYPE
        VAR_GLOBAL
            s : ST_Pair;
            arr : ARRAY[0..2] OF ST_Pair;
        END_VAR
    )");
    loadSymbols();
    EXPECT_TRUE(Peer::roots().empty());

    std::shared_ptr<CVariable> structure = indexed("App.Globals.s.x");  // same address as s
    ASSERT_NE(nullptr, structure);
    EXPECT_EQ(TYPE3_USERDEF, structure->varType_);
    EXPECT_EQ(2u, structure->childVec_.size());

    std::shared_ptr<CVariable> array = indexed("App.Globals.arr[0].x");  // arr, arr[0] and arr[0].x
    ASSERT_NE(nullptr, array);
    EXPECT_EQ(TYPE3_ARRAY, array->varType_);

    std::shared_ptr<CVariable> second = indexed("App.Globals.arr[1]");
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(TYPE3_USERDEF, second->varType_);
    ASSERT_EQ(2u, second->childVec_.size());
    EXPECT_EQ(static_cast<void*>(app().address("App.Globals.arr[1].y")), second->childVec_[1]->var_addr_);

    std::shared_ptr<CVariable> member = indexed("App.Globals.arr[2].y");
    ASSERT_NE(nullptr, member);
    EXPECT_EQ(TYPE3_INT, member->varType_);
    EXPECT_TRUE(member->childVec_.empty());
}

TEST_F(SymbolIndex, EveryDistinctAddressIsIndexedByTheWalksOwnNodeWithItsCompleteSubtree) {
    app().start(R"(
        TYPE ST_Pair : STRUCT x : INT; y : INT; END_STRUCT END_TYPE
        VAR_GLOBAL grid : ARRAY[0..1, 0..1] OF ST_Pair; flag : BOOL; END_VAR
    )");
    loadSymbols();
    // grid (= grid[0,0] = grid[0,0].x), grid[0,0].y, 3 more elements with 2 members each
    // (element = its x), and flag.
    EXPECT_EQ(1u + 1u + 3u * 2u + 1u, Peer::indexSize());
    std::shared_ptr<CVariable> grid = indexed("App.Globals.grid");
    ASSERT_NE(nullptr, grid);
    EXPECT_EQ(13u, CountNodes(*grid));  // the array, 4 elements, 8 members
    // Every node of the tree exists once: the entries point into the root's tree.
    std::set<const CVariable*> inTree;
    std::function<void(const CVariable&)> collect = [&](const CVariable& node) {
        EXPECT_TRUE(inTree.insert(&node).second) << "a node appears twice in one tree";
        for (const std::shared_ptr<CVariable>& child : node.childVec_) {
            collect(*child);
        }
    };
    collect(*grid);
    for (auto& [address, node] : Peer::indexEntries()) {
        EXPECT_EQ(address, node->var_addr_);
        if (node->varType_ != TYPE3_BOOL) {
            EXPECT_EQ(1u, inTree.count(node.get())) << "an entry holds a copy instead of the walk's node";
        }
    }
    EXPECT_EQ(grid->childVec_[3].get(), indexed("App.Globals.grid[1,1]").get());
    EXPECT_EQ(grid->childVec_[3]->childVec_[1].get(), indexed("App.Globals.grid[1,1].y").get());
}

// Hand-built trees indexed as a load indexes the walk's roots: where addresses
// coincide, the enclosing node wins, else the later one in member, element and root
// order; every entry is the node itself with its children.
TEST_F(SymbolIndex, TieBreaksAtOneAddressOnHandBuiltTrees) {
    char memory[64] = {};
    auto node = [&memory](TypeClass3 type, int offset, const char* name,
                          std::vector<std::shared_ptr<CVariable>> children = {}) {
        auto var = std::make_shared<CVariable>();
        var->varType_ = type;
        var->size_ = 2;
        var->var_addr_ = memory + offset;
        var->symbol_nodename_ = name;
        var->childVec_ = std::move(children);
        return var;
    };
    // s: members a and b both at offset 8 (the later, b, wins), s itself at 0 with c.
    std::shared_ptr<CVariable> a = node(TYPE3_INT, 8, "a");
    std::shared_ptr<CVariable> b = node(TYPE3_INT, 8, "b");
    std::shared_ptr<CVariable> c = node(TYPE3_INT, 0, "c");
    std::shared_ptr<CVariable> s = node(TYPE3_USERDEF, 0, "s", {c, a, b});
    // arr at 16: elements at 16 and 18, the first a structure whose member is at 16 too;
    // a third element at 18 as well (the later, arr[2], wins).
    std::shared_ptr<CVariable> e0m = node(TYPE3_INT, 16, "x");
    std::shared_ptr<CVariable> e0 = node(TYPE3_USERDEF, 16, "arr[0]", {e0m});
    std::shared_ptr<CVariable> e1 = node(TYPE3_INT, 18, "arr[1]");
    std::shared_ptr<CVariable> e2 = node(TYPE3_INT, 18, "arr[2]");
    std::shared_ptr<CVariable> arr = node(TYPE3_ARRAY, 16, "arr", {e0, e1, e2});
    // Two roots at 32: the later one wins.
    std::shared_ptr<CVariable> first = node(TYPE3_INT, 32, "first");
    std::shared_ptr<CVariable> later = node(TYPE3_INT, 32, "later");

    CSymbolIndex index;  // an index of its own, filled root by root as a load fills it
    for (const std::shared_ptr<CVariable>& root : {s, arr, first, later}) {
        index.Publish(root);
    }
    const CSymbolIndex::addr_vars entries = index.Entries();
    const struct {
        int offset;
        const CVariable* expected;
    } cases[] = {{0, s.get()}, {8, b.get()}, {16, arr.get()}, {18, e2.get()}, {32, later.get()}};
    EXPECT_EQ(5u, entries.size());
    for (const auto& expected : cases) {
        auto entry = entries.find(memory + expected.offset);
        ASSERT_NE(entries.end(), entry) << "offset " << expected.offset;
        EXPECT_EQ(expected.expected, entry->second.get()) << "offset " << expected.offset;
    }
    ASSERT_EQ(3u, arr->childVec_.size());
    EXPECT_EQ(e0m.get(), arr->childVec_[0]->childVec_[0].get());
    EXPECT_EQ(3u, s->childVec_.size());
}

// A call on a member or an element takes the lock of the top-level variable that holds
// it, so a read of a part never runs inside a write of the whole.
TEST(SymbolIndexLocks, APartTakesTheLockOfItsTopLevelVariable) {
    char memory[4096] = {};
    auto node = [&memory](TypeClass3 type, int offset,
                          std::vector<std::shared_ptr<CVariable>> children = {}) {
        auto var = std::make_shared<CVariable>();
        var->varType_ = type;
        var->size_ = 2;
        var->var_addr_ = memory + offset;
        var->childVec_ = std::move(children);
        return var;
    };
    CSymbolIndex index;
    index.Publish(node(TYPE3_USERDEF, 0, {node(TYPE3_INT, 0), node(TYPE3_INT, 1024), node(TYPE3_INT, 3000)}));
    index.Publish(node(TYPE3_ARRAY, 3072, {node(TYPE3_INT, 3072), node(TYPE3_INT, 3074)}));
    const CIndexLock* structure = index.LockOf(memory);
    ASSERT_NE(nullptr, structure);
    EXPECT_EQ(structure, index.LockOf(memory + 1024));
    EXPECT_EQ(structure, index.LockOf(memory + 3000));
    EXPECT_EQ(index.LockOf(memory + 3072), index.LockOf(memory + 3074));
    EXPECT_EQ(nullptr, index.LockOf(memory + 2));
}

TEST_F(SymbolIndex, NoEntrySurvivesIntoTheNextLoad) {
    app().start("VAR_GLOBAL a : INT; b : ARRAY[0..1] OF INT; END_VAR");
    loadSymbols();
    ASSERT_NE(nullptr, indexed("App.Globals.a"));
    void* oldAddress = app().address("App.Globals.a");

    app().start("VAR_GLOBAL z : LREAL; END_VAR");  // a new application
    loadSymbols();
    const CSymbolIndex::addr_vars entries = Peer::indexEntries();
    ASSERT_EQ(1u, entries.size());
    auto entry = entries.begin();
    EXPECT_EQ(TYPE3_LREAL, entry->second->varType_);
    if (oldAddress != entry->first) {
        EXPECT_EQ(0u, entries.count(oldAddress));
    }
}

TEST_F(SymbolIndex, ALoadWithoutVariablesPublishesAnEmptyIndex) {
    app().start("VAR_GLOBAL END_VAR");
    loadSymbols();
    EXPECT_TRUE(Peer::downloadDone());
    EXPECT_EQ(0u, Peer::indexSize());
    EXPECT_EQ("LoadSymbols end load complete:1, symbols size: 0", logTexts().back());
}

TEST_F(SymbolIndex, NodesTheHostDidNotResolveAreIndexedAtTheNullAddress) {
    app().start(R"(
        TYPE ST_Pair : STRUCT x : INT; y : INT; END_STRUCT END_TYPE
        VAR_GLOBAL s : ST_Pair; END_VAR
    )");
    app().pretendUnknown("App.Globals.s.y");
    loadSymbols();
    const std::shared_ptr<CVariable> unresolved = Peer::indexed(nullptr);
    ASSERT_NE(nullptr, unresolved);
    EXPECT_EQ(TYPE3_NONE, unresolved->varType_);
}

// A node that holds one child twice clones into a tree of its own: two separate
// copies of the child, each with the child's own data and subtree.
TEST(VariableClone, ANodeHoldingTheSameChildTwiceGetsTwoCopies) {
    char memory[8] = {};
    auto leaf = std::make_shared<CVariable>();
    leaf->varType_ = TYPE3_INT;
    leaf->size_ = 2;
    leaf->var_addr_ = memory + 4;
    leaf->symbol_nodename_ = "x";
    auto child = std::make_shared<CVariable>();
    child->varType_ = TYPE3_USERDEF;
    child->var_addr_ = memory + 4;
    child->symbol_nodename_ = "c";
    child->AddChild(leaf);
    auto parent = std::make_shared<CVariable>();
    parent->varType_ = TYPE3_ARRAY;
    parent->var_addr_ = memory;
    parent->symbol_nodename_ = "p";
    parent->AddChild(child);
    parent->AddChild(child);

    std::shared_ptr<CVariable> copy = parent->Clone();
    ASSERT_EQ(2u, copy->childVec_.size());
    EXPECT_NE(copy->childVec_[0].get(), copy->childVec_[1].get());
    for (const std::shared_ptr<CVariable>& cloned : copy->childVec_) {
        EXPECT_NE(child.get(), cloned.get());
        EXPECT_EQ("c", cloned->symbol_nodename_);
        EXPECT_EQ(memory + 4, cloned->var_addr_);
        ASSERT_EQ(1u, cloned->childVec_.size());
        EXPECT_NE(leaf.get(), cloned->childVec_[0].get());
        EXPECT_EQ("x", cloned->childVec_[0]->symbol_nodename_);
    }
    copy->childVec_[0]->symbol_nodename_ = "changed";
    EXPECT_EQ("c", copy->childVec_[1]->symbol_nodename_);
    EXPECT_EQ("c", child->symbol_nodename_);
}

}  // namespace
