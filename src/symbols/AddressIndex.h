// CAddressIndex: one load's variables, found by the address of their data.
//
// Built once from the roots of a walk, then only read: nothing changes it, so any number
// of threads may look up in it at once. CSymbolIndex owns the published one and hands
// it out under its lock; a new load builds a new one beside it.
//
// What an address resolves to is what an index holding every node of every tree under
// its own address would hold, the nodes written root by root and, within a tree, in
// post-order, each replacing what was stored under its address before: an enclosing
// node wins over everything inside it (a structure over its first member, an array over
// its first element), and among nodes of which none encloses another the later one wins
// (the later member, element or root). The answer is the node that lays the address out
// and the shift from its own address: for the elements of an array that keeps one
// element (Variable.h), and everything inside them, the layout element's nodes shifted.
//
// Held per node outside such arrays: one slot of 24 bytes in an open-addressing table
// of its address, at most half full (48 bytes a node). Per array that keeps one element:
// one range, and a table of the offsets of the nodes of its layout element. Nothing is
// held per element: memory grows with the declared variables and members, not with
// array sizes.
//
// Lookup: a hash probe; an address that no node outside arrays holds is then found among
// the ranges by a binary search, the element by division, and within the element by a
// binary search of its layout's offsets (again through ranges, for arrays inside).
#ifndef SYMBOLS_ADDRESSINDEX_H
#define SYMBOLS_ADDRESSINDEX_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_map>
#include <vector>

#include "var/Variable.h"

class CAddressIndex {
   public:
    // What an address resolves to: the node that lays it out, how far the address lies
    // from the node's own, and the address of the top-level variable that holds it.
    struct CFound {
        const CVariable* node = nullptr;
        ptrdiff_t shift = 0;
        const void* root = nullptr;
    };

    typedef std::deque<CVariable> CRoots;

    // Indexes the trees below roots, in their order, and owns them.
    explicit CAddressIndex(CRoots roots);
    ~CAddressIndex();
    CAddressIndex(const CAddressIndex&) = delete;
    CAddressIndex& operator=(const CAddressIndex&) = delete;

    // What address resolves to; false when no variable, member or element starts there.
    // Nodes the host did not resolve are found at the null address.
    bool Find(const void* address, CFound& found) const;

    // The distinct addresses Find resolves, elements included; counted from the layouts,
    // not element by element. An address that two overlapping arrays (a union's members,
    // variables placed on one another) both cover is counted once for each.
    size_t AddressCount() const { return addresses_; }

    const CRoots& Roots() const { return roots_; }

   private:
    struct CScope;
    struct CBuilder;

    // A node at an offset of its scope, and its place in the order of writes.
    struct CPoint {
        uintptr_t offset;
        const CVariable* node;
        uint64_t order;
    };
    // An array that keeps one element, at an offset of its scope: elements * stride bytes
    // from begin, each laid out by `layout`. Its place in the order of writes is the
    // array's own; everything inside its elements comes before it.
    struct CRange {
        uintptr_t begin;
        uintptr_t end;
        uintptr_t stride;
        uint64_t order;
        const CScope* layout;
        uint32_t root;            // the top-level variable's place in roots_ (ranges of the whole space only)
        const void* rootAddress;  // and its address
    };
    // The nodes of one layout element outside the arrays inside it that keep one element
    // (sorted by offset, one per offset: the last written), and those arrays (sorted by
    // begin, with the furthest end among each one and those before it).
    struct CScope {
        std::vector<CPoint> points;
        std::vector<CRange> ranges;
        std::vector<uintptr_t> reach;
    };
    // What a scope resolves at an offset: the node, and the order it is compared by.
    struct CHit {
        const CVariable* node = nullptr;
        uint64_t order = 0;
        uint32_t root = 0;
        const void* rootAddress = nullptr;
    };
    // A node outside arrays that keep one element, under its address: what the address
    // resolves to once the ranges are taken into account, and the place of the write that
    // put it there. An empty slot has no node.
    struct CSlot {
        const void* address;
        const CVariable* node;
        uint32_t root;   // the top-level variable's place in roots_
        uint32_t order;  // the write, numbered as the build visits the trees
    };

    // The slot of address: its own, or the empty one where it would go.
    const CSlot& SlotOf(const void* address) const;
    CSlot& SlotOf(const void* address) {
        return const_cast<CSlot&>(static_cast<const CAddressIndex&>(*this).SlotOf(address));
    }

    // The last written among the ranges of scope that resolve offset.
    static CHit FindInRanges(const CScope& scope, uintptr_t offset);
    // The last written among the points and ranges of scope at offset.
    static CHit FindInScope(const CScope& scope, uintptr_t offset);
    // Addresses a layout resolves in one element; memo holds each scope's once counted.
    static uint64_t CountScope(const CScope& scope, std::unordered_map<const CScope*, uint64_t>& memo);
    static void Order(CScope& scope);

    CRoots roots_;
    // Every address a node outside arrays that keep one element starts at.
    std::unique_ptr<CSlot[]> slots_;
    size_t capacity_ = 0;
    size_t points_ = 0;  // slots in use
    CScope whole_;       // the ranges of the whole address space; its points are points_
    std::vector<std::unique_ptr<CScope>> layouts_;
    size_t addresses_ = 0;
};

#endif  // SYMBOLS_ADDRESSINDEX_H
