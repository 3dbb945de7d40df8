// The address index: every node found by its address, the outermost node winning,
// deep copies that share no node, and no entry surviving into the next load.
#include <gtest/gtest.h>

#include <functional>
#include <set>

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

TEST_F(SymbolIndex, EveryDistinctAddressIsIndexedWithACompleteSubtreeOfItsOwn) {
    app().start(R"(
        TYPE ST_Pair : STRUCT x : INT; y : INT; END_STRUCT END_TYPE
        VAR_GLOBAL grid : ARRAY[0..1, 0..1] OF ST_Pair; flag : BOOL; END_VAR
    )");
    loadSymbols();
    // grid (= grid[0,0] = grid[0,0].x), grid[0,0].y, 3 more elements with 2 members each
    // (element = its x), and flag.
    EXPECT_EQ(1u + 1u + 3u * 2u + 1u, manager()->map_addr_vars.size());
    std::set<const CVariable*> seen;
    std::function<void(const CVariable&)> collect = [&](const CVariable& node) {
        EXPECT_TRUE(seen.insert(&node).second) << "a node is shared between entries";
        for (const std::shared_ptr<CVariable>& child : node.childVec_) {
            collect(*child);
        }
    };
    for (auto& [address, node] : manager()->map_addr_vars) {
        EXPECT_EQ(address, node->var_addr_);
        collect(*node);
    }
    EXPECT_EQ(13u, CountNodes(*indexed("App.Globals.grid")));  // the array, 4 elements, 8 members
}

TEST_F(SymbolIndex, NoEntrySurvivesIntoTheNextLoad) {
    app().start("VAR_GLOBAL a : INT; b : ARRAY[0..1] OF INT; END_VAR");
    loadSymbols();
    ASSERT_NE(nullptr, indexed("App.Globals.a"));
    void* oldAddress = app().address("App.Globals.a");

    app().start("VAR_GLOBAL z : LREAL; END_VAR");  // a new application
    loadSymbols();
    std::lock_guard<std::mutex> lock(manager()->mtx);
    EXPECT_EQ(1u, manager()->map_addr_vars.size());
    auto entry = manager()->map_addr_vars.begin();
    EXPECT_EQ(TYPE3_LREAL, entry->second->varType_);
    if (oldAddress != entry->first) {
        EXPECT_EQ(0u, manager()->map_addr_vars.count(oldAddress));
    }
}

TEST_F(SymbolIndex, ALoadWithoutVariablesPublishesAnEmptyIndex) {
    app().start("VAR_GLOBAL END_VAR");
    loadSymbols();
    EXPECT_TRUE(Peer::downloadDone());
    EXPECT_TRUE(manager()->map_addr_vars.empty());
    EXPECT_EQ("LoadSymbols end load complete:1, symbols size: 0", logTexts().back());
}

TEST_F(SymbolIndex, NodesTheHostDidNotResolveAreIndexedAtTheNullAddress) {
    app().start(R"(
        TYPE ST_Pair : STRUCT x : INT; y : INT; END_STRUCT END_TYPE
        VAR_GLOBAL s : ST_Pair; END_VAR
    )");
    app().pretendUnknown("App.Globals.s.y");
    loadSymbols();
    std::lock_guard<std::mutex> lock(manager()->mtx);
    ASSERT_EQ(1u, manager()->map_addr_vars.count(nullptr));
    EXPECT_EQ(TYPE3_NONE, manager()->map_addr_vars[nullptr]->varType_);
}

}  // namespace
