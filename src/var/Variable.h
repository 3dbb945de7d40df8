// CVariable: one node of the variable tree built from the host's symbol table.
//
// A node stands for one variable, one structure member or one array element. It
// records what the host reported for it and holds its members or elements by value in
// childVec_, one block per node; a tree is owned by whoever holds its root (the walk
// while it builds it, then the published address index). No link goes from a node to
// its parent except the plain pointer array_ of an element that lays out a whole array,
// so a tree never has cycles of ownership. Only the loader thread builds and links nodes;
// after the address index has been published, IEC tasks only read them.
//
// Memory: a node is 80 bytes and no allocation of its own (its name has one only when it
// is longer than the string's own room); a node with children holds one block for them.
// Nodes never move once a tree is built; while one is built, a list that grows moves its
// nodes and links them again.
//
// An array keeps its elements in one of two ways. Mostly it keeps one: the first
// element, walked with everything below it, lays out every element, and element i lies
// i * stride bytes after it (IEC arrays are contiguous); CVariableView turns it into the
// element asked for, named by the pattern the host's names of the elements follow. An
// array whose host answers do not fit that arithmetic keeps a node for each element, as
// do hand-built trees.
#ifndef VAR_VARIABLE_H
#define VAR_VARIABLE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "IecVarAccess_ItfsItf.h"

class CVariable;

// The members or elements of a node, by value, in the order they were made, in one
// block with room for a given count.
class CVariableList {
   public:
    CVariableList() = default;
    ~CVariableList();
    CVariableList(const CVariableList& other);  // a deep copy, linked on its own
    CVariableList& operator=(const CVariableList& other);
    CVariableList(CVariableList&& other) noexcept;
    CVariableList& operator=(CVariableList&& other) noexcept;

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    inline CVariable& operator[](size_t i);
    inline const CVariable& operator[](size_t i) const;
    inline CVariable& back();
    CVariable* begin() { return items_; }
    inline CVariable* end();
    const CVariable* begin() const { return items_; }
    inline const CVariable* end() const;

    // Room for count nodes. The nodes there are moved into the new block and their links
    // made again; references to them are no longer valid.
    void reserve(size_t count);
    // A fresh node at the end; the room doubles when there is none left.
    CVariable& emplace_back();
    void pop_back();
    void clear();

   private:
    CVariable* items_ = nullptr;
    uint32_t size_ = 0;
    uint32_t capacity_ = 0;
};

class CVariable {
   public:
    CVariable();
    ~CVariable();
    // A deep copy of a node and its subtree, linked on its own (it shares nothing with
    // the node it was made from).
    CVariable(const CVariable& other);
    CVariable& operator=(const CVariable& other);
    // Moving keeps the links inside the subtree.
    CVariable(CVariable&& other) noexcept;
    CVariable& operator=(CVariable&& other) noexcept;

    // Appends a copy of the node and its subtree.
    void AddChild(const CVariable& child);
    void AddChild(const std::shared_ptr<CVariable>& child) { AddChild(*child); }

    // A deep copy under shared ownership, for trees built by hand.
    std::shared_ptr<CVariable> Clone() const;

    // Makes an array keep its one child as the layout of all its elements, each `stride`
    // bytes after the one before: links the child to this array and every array inside
    // the child that keeps one element to this one. REQUIRES: bounds_ set, exactly one
    // child, bounds_->elements elements of stride bytes.
    void KeepOneElement(uint64_t stride) noexcept;
    // Whether this array keeps one element as the layout of all.
    bool KeepsOneElement() const { return bounds_ != nullptr && bounds_->stride != 0; }
    // Appends the indices of the element `linear` (0 for the first, the last index varying
    // fastest) as the host writes them: "[2]", "[1,-1]", "[0,1,2]". REQUIRES: bounds_ set.
    void AppendIndices(std::string& out, uint64_t linear) const;

    // A fresh node is a leaf at the null address, so a node the host did not
    // resolve is never expanded and never found by a real variable's address.
    TypeClass3 varType_ = TYPE3_NONE;
    uint32_t size_ = 0;  // the host reports pointer width; stored cut to 32 bits
    void* var_addr_ = nullptr;
    std::string symbol_nodename_;  // the node's own name, not its full path
    CVariableList childVec_;

    // The bounds of an array's dimensions (1 to 3, first index first) as the host
    // declares them, and how its elements are kept; null for every other node and for an
    // array the walk kept as a leaf. The last index varies fastest. Held apart so that a
    // node that is not an array pays one pointer for it.
    struct CBounds {
        int32_t lowest;
        int32_t highest;
    };
    struct CArrayBounds {
        size_t count = 0;  // dimensions, 1 to 3
        CBounds dimension[3] = {};
        uint64_t elements = 0;  // the product of the dimensions' extents
        // 0: the elements are childVec_, one node each. Otherwise childVec_[0] lays out
        // every element and element i starts i * stride bytes after it.
        uint64_t stride = 0;
        // The nearest array around this one that keeps one element, whose layout holds
        // this array; null when there is none. Elements of this array lie at a shift that
        // adds this one's to its enclosing arrays': their names are formed from all of them.
        const CVariable* enclosing = nullptr;
        // How the elements of an array that keeps one element are named, as the host
        // named the first one: namePrefix, the element's indices ("[2]", "[1,0]"),
        // nameSuffix; with prefixAfterEnclosing, namePrefix follows the name of the
        // element of `enclosing` that holds this array ("m[3]" for "m[3][1]").
        std::string namePrefix;
        std::string nameSuffix;
        bool prefixAfterEnclosing = false;
    };
    std::unique_ptr<CArrayBounds> bounds_;
    // Set on the one element that lays out an array which keeps one element: that array.
    const CVariable* array_ = nullptr;

   private:
    friend class CVariableList;
    // Links this node's layout again after it was copied or moved.
    void Relink() noexcept;
};

CVariable& CVariableList::operator[](size_t i) { return items_[i]; }
const CVariable& CVariableList::operator[](size_t i) const { return items_[i]; }
CVariable& CVariableList::back() { return items_[size_ - 1]; }
CVariable* CVariableList::end() { return items_ + size_; }
const CVariable* CVariableList::end() const { return items_ + size_; }

#endif  // VAR_VARIABLE_H
