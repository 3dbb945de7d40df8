// Memory the address index holds, counted from the allocations it frees (this test
// binary replaces the global operator new and delete): none per array element when
// arrays keep one element, and a budget per declared variable or member however deep it
// sits, since entries share the walk's nodes instead of copying subtrees.
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "support/ApplicationFixture.h"
#include "support/LargeApplications.h"

namespace {

std::atomic<int64_t> s_liveBytes{0};

void* CountedAllocation(size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    s_liveBytes.fetch_add(static_cast<int64_t>(malloc_usable_size(p)), std::memory_order_relaxed);
    return p;
}

void CountedRelease(void* p) {
    if (p != nullptr) {
        s_liveBytes.fetch_sub(static_cast<int64_t>(malloc_usable_size(p)), std::memory_order_relaxed);
        std::free(p);
    }
}

}  // namespace

void* operator new(size_t size) { return CountedAllocation(size); }
void* operator new[](size_t size) { return CountedAllocation(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return CountedAllocation(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    try {
        return CountedAllocation(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept { CountedRelease(p); }
void operator delete[](void* p) noexcept { CountedRelease(p); }
void operator delete(void* p, size_t) noexcept { CountedRelease(p); }
void operator delete[](void* p, size_t) noexcept { CountedRelease(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { CountedRelease(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { CountedRelease(p); }

namespace {

class SymbolIndexMemory : public ApplicationTest {
   protected:
    // Loads the application and returns the bytes that emptying its index frees, per node.
    double indexBytesPerNode(const std::string& declaration, size_t nodes,
                             const std::vector<std::string>& renamed = {}) {
        app().start(declaration);
        for (const std::string& name : renamed) {
            app().renameNode(name, "odd");
        }
        loadSymbols();
        const int64_t before = s_liveBytes.load();
        index().DropIndex();
        return static_cast<double>(before - s_liveBytes.load()) / static_cast<double>(nodes);
    }
};

// Declared variables and members: at most 180 bytes a node, top-level or four levels
// deep; and an array whose host answers do not fit the arithmetic, walked element by
// element, costs no more per element node.
TEST_F(SymbolIndexMemory, BytesPerNodeStayWithinTheBudgetAtAnyDepth) {
    const double flat = indexBytesPerNode(ScalarVariablesDeclarations(30000), 30000);
    const double deep = indexBytesPerNode(NestedStructuresDeclarations(2000), 2000 * kNestedStructureNodes);
    // 4001 nodes: the array and its elements, the last named against the pattern.
    const double walked = indexBytesPerNode("VAR_GLOBAL flat : ARRAY[1..4000] OF INT; END_VAR", 4001,
                                            {"App.Globals.flat[4000]"});
    RecordProperty("top_level", std::to_string(flat));
    RecordProperty("nested", std::to_string(deep));
    RecordProperty("walked_elements", std::to_string(walked));
    EXPECT_LE(flat, 180.0);
    EXPECT_LE(deep, 180.0);
    EXPECT_LE(walked, 180.0);
    EXPECT_GT(flat, 32.0) << "the counting missed the index's allocations";
    EXPECT_GT(walked, 32.0) << "the counting missed the index's allocations";
}

// The same declared variables and members with arrays of 10 and of 100,000 elements:
// the index takes the same memory, and what it takes per declared node is of the order
// of a node per element's.
TEST_F(SymbolIndexMemory, ArraysCostNoMemoryPerElement) {
    const auto declare = [](int elements) {
        const std::string count = std::to_string(elements);
        return "TYPE ST_Inner : STRUCT v : INT; w : ARRAY[1..4] OF REAL; END_STRUCT END_TYPE\n"
               "TYPE ST_Outer : STRUCT id : DINT; inner : ARRAY[1..10] OF ST_Inner; END_STRUCT END_TYPE\n"
               "VAR_GLOBAL reals : ARRAY[0.." +
               count + "] OF LREAL; grid : ARRAY[1..3, 1.." + count + "] OF ST_Outer; m : ARRAY[1.." + count +
               "] OF ARRAY[0..2] OF INT; END_VAR";
    };
    // Declared: reals, reals[0]; grid, its element, id, inner, inner's element, v, w, w[1];
    // m, m[1], m[1][0].
    const size_t declared = 2 + 8 + 3;
    const double few = indexBytesPerNode(declare(10), declared);
    const double many = indexBytesPerNode(declare(100000), declared);
    RecordProperty("bytes_per_declared_node", std::to_string(few));
    EXPECT_NEAR(few, many, 4.0) << "bytes per declared node, 10 against 100,000 elements";
    EXPECT_GT(few, 64.0) << "the counting missed the index's allocations";
    EXPECT_LE(few, 400.0);
}

}  // namespace
