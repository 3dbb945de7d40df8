// The address index: every address resolved as an index with a node per element would
// resolve it (the outermost node winning where addresses coincide, else the later one),
// arrays kept as one element and found by arithmetic under every runtime, the count of
// resolvable addresses, the lock of the top-level variable, and no entry surviving into
// the next load.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/RuntimeFixture.h"

namespace {

// What an index resolves at every byte of the application's memory and one past its end:
// the whole subtree found (names, classes, sizes, offsets) and the lock a call there
// takes, locks told apart by the order they were first met in, so that two indexes
// compare.
class CAddressMap {
   public:
    std::map<size_t, std::string> of(CSymbolIndex& index) {
        std::map<size_t, std::string> found;
        locks_.clear();
        uint8_t* memory = CSimApplication::instance().memory();
        for (size_t offset = 0; offset <= CSimApplication::instance().memorySize(); ++offset) {
            std::string text;
            index.Inspect(memory + offset, [&](CVariableView view) { text = describe(view); });
            if (!text.empty()) {
                found[offset] = text + " lock " + std::to_string(lockNumber(index.LockOf(memory + offset)));
            }
        }
        return found;
    }

   private:
    std::string describe(CVariableView view) {
        const void* address = view.address();
        std::string text = view.name().str() + ":" + std::to_string(view.type()) + ":" +
                           std::to_string(view.size()) + "@" +
                           (address == nullptr ? std::string("null")
                                               : std::to_string(static_cast<const uint8_t*>(address) -
                                                                CSimApplication::instance().memory()));
        if (!view.isLeaf()) {
            text += "{";
            for (size_t i = 0; i < view.childCount(); ++i) {
                text += (i > 0 ? "," : "") + describe(view.child(i));
            }
            text += "}";
        }
        return text;
    }
    size_t lockNumber(const CIndexLock* lock) {
        const auto known = locks_.emplace(lock, locks_.size());
        return known.first->second;
    }

    std::map<const CIndexLock*, size_t> locks_;
};

size_t NodeCount(const SeenNode& node) {
    size_t count = 1;
    for (const SeenNode& child : node.children) {
        count += NodeCount(child);
    }
    return count;
}

class SymbolIndex : public RuntimeTest {
   protected:
    uint64_t lookups() { return app().callCount("IecVarAccGetNode"); }  // one per node looked up
};

// Every array kind, loaded, against an index of reference trees made from the simulated
// application's model with a node for every element: at every address the same subtree,
// names and lock, and the same count of addresses. First, middle and last elements, one
// past the end, members of elements and addresses inside values are all among the bytes
// compared. Where the host's answers fit the arithmetic, the load looks up fewer names
// than there are nodes; where they do not, it walks element by element.
TEST_P(SymbolIndex, ElementsFoundByArithmeticMatchANodePerElementReference) {
    const struct {
        const char* what;
        const char* declarations;
        bool keepsOneElement;  // the host's answers fit the arithmetic
        const char* unknown;   // a name the host pretends not to know, or ""
        const char* renamed;   // a node the host names "odd", or ""
    } cases[] = {
        {"one dimension", "VAR_GLOBAL a : ARRAY[1..5] OF INT; n : ARRAY[-2..2] OF DINT; END_VAR", true, "",
         ""},
        {"two and three dimensions",
         "VAR_GLOBAL g : ARRAY[0..2, 1..3] OF INT; c : ARRAY[0..1, -1..1, 2..4] OF BYTE; END_VAR", true, "",
         ""},
        {"arrays of arrays",
         "VAR_GLOBAL m : ARRAY[1..3] OF ARRAY[0..2] OF INT; "
         "mm : ARRAY[0..1] OF ARRAY[0..1, 0..1] OF ARRAY[1..2] OF SINT; END_VAR",
         true, "", ""},
        {"arrays of structures",
         "TYPE ST_Pair : STRUCT x : INT; y : REAL; END_STRUCT END_TYPE "
         "VAR_GLOBAL recs : ARRAY[1..4] OF ST_Pair; grid : ARRAY[0..1, 0..2] OF ST_Pair; END_VAR",
         true, "", ""},
        {"structures holding arrays, arrays of them",
         "TYPE ST_Axis : STRUCT pos : LREAL; limits : ARRAY[0..1] OF REAL; END_STRUCT END_TYPE "
         "TYPE ST_Cell : STRUCT axis : ARRAY[0..1, 0..1] OF ST_Axis; id : INT; END_STRUCT END_TYPE "
         "VAR_GLOBAL lines : ARRAY[1..3] OF ST_Cell; cell : ST_Cell; END_VAR",
         true, "", ""},
        {"an array first in its structure, at the structure's address",
         "TYPE ST_Head : STRUCT vals : ARRAY[0..2] OF INT; tail : INT; END_STRUCT END_TYPE "
         "VAR_GLOBAL heads : ARRAY[0..2] OF ST_Head; END_VAR",
         true, "", ""},
        {"strings of an odd size, arrays of one element",
         "TYPE ST_One : STRUCT v : INT; END_STRUCT END_TYPE "
         "VAR_GLOBAL texts : ARRAY[0..3] OF STRING(5); one : ARRAY[7..7] OF ST_One; "
         "ones : ARRAY[1..3] OF ARRAY[0..0] OF INT; END_VAR",
         true, "", ""},
        {"the host does not know the last element", "VAR_GLOBAL a : ARRAY[1..5] OF INT; END_VAR", false,
         "App.Globals.a[5]", ""},
        {"the host does not know a member of the first element",
         "TYPE ST_Pair : STRUCT x : INT; y : REAL; END_STRUCT END_TYPE "
         "VAR_GLOBAL recs : ARRAY[1..4] OF ST_Pair; END_VAR",
         false, "App.Globals.recs[1].y", ""},
        {"the last element's name does not fit the pattern", "VAR_GLOBAL a : ARRAY[1..5] OF INT; END_VAR",
         false, "", "App.Globals.a[5]"},
        {"a middle element's name does not fit the pattern",
         "VAR_GLOBAL a : ARRAY[1..5] OF ARRAY[0..1] OF INT; END_VAR", false, "", "App.Globals.a[3]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        app().start(c.declarations);
        std::set<std::string> unknown;
        if (*c.unknown != '\0') {
            app().pretendUnknown(c.unknown);
            unknown.insert(c.unknown);
        }
        if (*c.renamed != '\0') {
            app().renameNode(c.renamed, "odd");
        }
        app().resetCallCounts();
        loadSymbols();
        CAddressMap map;
        const std::map<size_t, std::string> loaded = map.of(index());

        CSymbolIndex reference;
        size_t nodes = 0;
        for (const std::string& variable : app().topLevelVariables()) {
            const std::shared_ptr<CVariable> tree = ReferenceTree(variable, unknown);
            reference.Publish(tree);
            nodes += NodeCount(Seen(CVariableView(*tree)));
        }
        EXPECT_EQ(map.of(reference), loaded);
        EXPECT_EQ(reference.Size(), index().Size());
        // The count is of the addresses resolved: those of the memory, and the null
        // address where the host left a node unresolved.
        EXPECT_EQ(loaded.size() + (indexedAt(nullptr) != nullptr ? 1 : 0), index().Size());
        if (c.keepsOneElement) {
            EXPECT_LT(lookups(), nodes) << "the arrays were walked element by element";
        } else {
            EXPECT_GE(lookups(), nodes);
        }
        app().resetFaults();
    }
}

// However many elements: the same host calls, the same index memory in nodes.
TEST_P(SymbolIndex, AnArrayCostsTheHostCallsOfOneElement) {
    const char* const type =
        "TYPE ST_Rec : STRUCT id : DINT; vals : ARRAY[0..3] OF INT; name : STRING(7); END_STRUCT END_TYPE ";
    uint64_t calls[2] = {0, 0};
    size_t counts[2] = {0, 0};
    const int elements[2] = {3, 30000};
    for (int i = 0; i < 2; ++i) {
        app().start(std::string(type) + "VAR_GLOBAL recs : ARRAY[1.." + std::to_string(elements[i]) +
                    "] OF ST_Rec; END_VAR");
        app().resetCallCounts();
        loadSymbols();
        for (const std::string& function : CSimApplication::hostFunctionNames()) {
            calls[i] += app().callCount(function);
        }
        counts[i] = index().Size();
    }
    EXPECT_EQ(calls[0], calls[1]);
    // Per element: its own address (= id, and the array's for the first), vals (= vals[0]),
    // the three vals beyond the first, name.
    EXPECT_EQ(3u * 6u, counts[0]);
    EXPECT_EQ(30000u * 6u, counts[1]);
    EXPECT_EQ("LoadSymbols end load complete:1, symbols size: 180000", logTexts().back());
}

TEST_P(SymbolIndex, OutermostNodeWinsWhereAddressesCoincide) {
    app().start(R"(
        TYPE ST_Pair : STRUCT x : INT; y : INT; END_STRUCT END_TYPE
        VAR_GLOBAL
            s : ST_Pair;
            arr : ARRAY[0..2] OF ST_Pair;
        END_VAR
    )");
    loadSymbols();
    EXPECT_EQ(0u, loader().roots);

    const std::unique_ptr<SeenNode> structure = indexed("App.Globals.s.x");  // same address as s
    ASSERT_NE(nullptr, structure);
    EXPECT_EQ(TYPE3_USERDEF, structure->type);
    EXPECT_EQ(2u, structure->children.size());

    const std::unique_ptr<SeenNode> array = indexed("App.Globals.arr[0].x");  // arr, arr[0] and arr[0].x
    ASSERT_NE(nullptr, array);
    EXPECT_EQ(TYPE3_ARRAY, array->type);
    EXPECT_EQ("arr", array->name);

    const std::unique_ptr<SeenNode> second = indexed("App.Globals.arr[1]");
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(TYPE3_USERDEF, second->type);
    EXPECT_EQ(ComponentName("App.Globals.arr[1]"), second->name);
    ASSERT_EQ(2u, second->children.size());
    EXPECT_EQ(static_cast<void*>(app().address("App.Globals.arr[1].y")), second->children[1].address);

    const std::unique_ptr<SeenNode> member = indexed("App.Globals.arr[2].y");
    ASSERT_NE(nullptr, member);
    EXPECT_EQ(TYPE3_INT, member->type);
    EXPECT_EQ("y", member->name);
    EXPECT_TRUE(member->children.empty());
    EXPECT_EQ(nullptr, indexedAt(app().address("App.Globals.arr[2].y") + 2)) << "one past the last element";
}

ZENTRIK_UNDER_EVERY_RUNTIME(SymbolIndex);

class SymbolIndexLoads : public ApplicationTest {};

// Hand-built trees indexed as a load indexes the walk's roots: where addresses
// coincide, the enclosing node wins, else the later one in member, element and root
// order; every address resolves to the node itself with its children.
TEST(SymbolIndexTrees, TieBreaksAtOneAddressOnHandBuiltTrees) {
    char memory[64] = {};
    auto node = [&memory](TypeClass3 type, int offset, const char* name,
                          std::vector<std::shared_ptr<CVariable>> children = {}) {
        auto var = std::make_shared<CVariable>();
        var->varType_ = type;
        var->size_ = 2;
        var->var_addr_ = memory + offset;
        var->symbol_nodename_ = name;
        for (const std::shared_ptr<CVariable>& child : children) {
            var->AddChild(child);
        }
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
    const struct {
        int offset;
        const char* name;
        size_t children;
    } cases[] = {{0, "s", 3}, {8, "b", 0}, {16, "arr", 3}, {18, "arr[2]", 0}, {32, "later", 0}};
    EXPECT_EQ(5u, index.Size());
    for (const auto& expected : cases) {
        std::string name;
        size_t children = 99;
        ASSERT_TRUE(index.Inspect(memory + expected.offset,
                                  [&](CVariableView view) {
                                      name = view.name();
                                      children = view.childCount();
                                      EXPECT_EQ(static_cast<void*>(memory + expected.offset), view.address());
                                  }))
            << "offset " << expected.offset;
        EXPECT_EQ(expected.name, name) << "offset " << expected.offset;
        EXPECT_EQ(expected.children, children) << "offset " << expected.offset;
    }
    EXPECT_FALSE(index.Inspect(memory + 2, [](CVariableView) {}));
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
        for (const std::shared_ptr<CVariable>& child : children) {
            var->AddChild(child);
        }
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

TEST_F(SymbolIndexLoads, NoEntrySurvivesIntoTheNextLoad) {
    app().start("VAR_GLOBAL a : INT; b : ARRAY[0..1] OF INT; END_VAR");
    loadSymbols();
    ASSERT_NE(nullptr, indexed("App.Globals.a"));
    void* oldElement = app().address("App.Globals.b[1]");

    app().start("VAR_GLOBAL z : LREAL; END_VAR");  // a new application
    loadSymbols();
    EXPECT_EQ(1u, index().Size());
    const std::unique_ptr<SeenNode> z = indexed("App.Globals.z");
    ASSERT_NE(nullptr, z);
    EXPECT_EQ(TYPE3_LREAL, z->type);
    if (oldElement != app().address("App.Globals.z")) {
        EXPECT_EQ(nullptr, indexedAt(oldElement));
    }
}

TEST_F(SymbolIndexLoads, ALoadWithoutVariablesPublishesAnEmptyIndex) {
    app().start("VAR_GLOBAL END_VAR");
    loadSymbols();
    EXPECT_TRUE(loader().indexReady);
    EXPECT_EQ(0u, index().Size());
    EXPECT_EQ("LoadSymbols end load complete:1, symbols size: 0", logTexts().back());
}

TEST_F(SymbolIndexLoads, NodesTheHostDidNotResolveAreIndexedAtTheNullAddress) {
    app().start(R"(
        TYPE ST_Pair : STRUCT x : INT; y : INT; END_STRUCT END_TYPE
        VAR_GLOBAL s : ST_Pair; END_VAR
    )");
    app().pretendUnknown("App.Globals.s.y");
    loadSymbols();
    const std::unique_ptr<SeenNode> unresolved = indexedAt(nullptr);
    ASSERT_NE(nullptr, unresolved);
    EXPECT_EQ(TYPE3_NONE, unresolved->type);
}

// A copy of a tree shares no node with it: the children come in the same order, and a
// change to either leaves the other as it was.
TEST(VariableCopy, ACopySharesNothingWithItsTree) {
    char memory[8] = {};
    CVariable parent;
    parent.varType_ = TYPE3_USERDEF;
    parent.var_addr_ = memory;
    for (const char* name : {"a", "b", "c"}) {
        CVariable child;
        child.varType_ = TYPE3_INT;
        child.size_ = 2;
        child.var_addr_ = memory + 2 * parent.childVec_.size();
        child.symbol_nodename_ = name;
        parent.AddChild(child);
    }
    const std::shared_ptr<CVariable> copy = parent.Clone();
    ASSERT_EQ(3u, copy->childVec_.size());
    copy->childVec_[1].symbol_nodename_ = "changed";
    parent.childVec_[2].var_addr_ = nullptr;
    const std::vector<std::string> names = {"a", "changed", "c"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(names[i], copy->childVec_[i].symbol_nodename_);
        EXPECT_EQ(memory + 2 * i, copy->childVec_[i].var_addr_);
        EXPECT_NE(&parent.childVec_[i], &copy->childVec_[i]);
    }
    EXPECT_EQ("b", parent.childVec_[1].symbol_nodename_);
}

// A clone of an array that keeps one element keeps one too, linked to the copy: its
// elements come out of the copy with their own addresses and names.
TEST_F(SymbolIndexLoads, ACloneOfAnArrayKeptAsOneElementHandsOutItsElements) {
    app().start("VAR_GLOBAL m : ARRAY[1..3] OF ARRAY[0..1] OF INT; END_VAR");
    loadSymbols();
    std::shared_ptr<CVariable> copy;
    index().InspectRoots([&copy](CVariableView root) { copy = root.layout()->Clone(); });
    ASSERT_NE(nullptr, copy);
    manager()->EndLoadSymbols();  // the walked tree is gone; the copy stands on its own
    ASSERT_TRUE(copy->KeepsOneElement());
    const CVariableView element = CVariableView(*copy).child(2).child(1);
    EXPECT_EQ("m[3][1]", element.name());
    EXPECT_EQ(static_cast<void*>(app().address("App.Globals.m[3][1]")), element.address());
}

}  // namespace
