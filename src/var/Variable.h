// CVariable: one node of the variable tree built from the host's symbol table.
//
// A node stands for one variable, one structure member or one array element. It
// records what the host reported for it and owns its members or elements through
// childVec_. Nodes are always held through shared_ptr; no link goes from a node to its
// parent except the plain pointer array_ of an element that lays out a whole array, so
// a tree never has cycles of ownership. Only the loader thread builds and links nodes;
// after the address index has been published, IEC tasks only read them.
//
// An array keeps its elements in one of two ways. Mostly it keeps one: the first
// element, walked with everything below it, lays out every element, and element i lies
// i * stride bytes after it (IEC arrays are contiguous); CVariableView turns it into the
// element asked for, named by the pattern the host's names follow. An array whose host
// answers do not fit that arithmetic keeps a node for each element, as do hand-built
// trees.
#ifndef VAR_VARIABLE_H
#define VAR_VARIABLE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "IecVarAccess_ItfsItf.h"

class CVariable {
   public:
    CVariable();
    ~CVariable();

    // Appends a copy of the reference; the child is shared, not copied.
    void AddChild(const std::shared_ptr<CVariable>& pVariable);

    // Deep copy of this node and its whole subtree: shares no node with the original.
    std::shared_ptr<CVariable> Clone() const;

    // Makes an array keep its one child as the layout of all its elements, each `stride`
    // bytes after the one before: links the child to this array and every array inside
    // the child that keeps one element to this one. REQUIRES: bounds_ set, exactly one
    // child, bounds_->elements elements of stride bytes.
    void KeepOneElement(uint64_t stride);
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
    std::vector<std::shared_ptr<CVariable>> childVec_;

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
};

#endif  // VAR_VARIABLE_H
