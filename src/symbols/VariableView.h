// CVariableView: how the conversions see one node of the variable tree, and the only way
// they reach a node's members or elements.
//
// A view is a node and a shift: the node describes the layout (class, size, name,
// children), the shift moves its address. Today every view the index hands out has
// shift 0 and child(i) is the node's own child; the index may later keep one element
// node as the layout of a whole array and hand out the other elements as the same node
// shifted by a multiple of the element size, without the conversions changing.
//
// A view is a value of two words, made and dropped on the stack of one call. It is
// valid while the caller holds the index shared (the nodes live in the index).
#ifndef SYMBOLS_VARIABLEVIEW_H
#define SYMBOLS_VARIABLEVIEW_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "var/Variable.h"

class CVariableView {
   public:
    explicit CVariableView(const CVariable* node, ptrdiff_t shift = 0) : node_(node), shift_(shift) {}
    explicit CVariableView(const CVariable& node) : node_(&node), shift_(0) {}

    // False for a member or element the walk could not describe (no node).
    explicit operator bool() const { return node_ != nullptr; }

    TypeClass3 type() const { return node_->varType_; }
    uint32_t size() const { return node_->size_; }
    // The address of the value; null for a node the host did not resolve.
    void* address() const {
        return node_->var_addr_ == nullptr ? nullptr : static_cast<char*>(node_->var_addr_) + shift_;
    }
    // The node's own name, as the host gives it ("x" for a member, "arr[2]" for an element).
    const std::string& name() const { return node_->symbol_nodename_; }

    // Members of a structure, elements of an array, in order; 0 for a leaf.
    size_t childCount() const { return node_->childVec_.size(); }
    bool isLeaf() const { return node_->childVec_.empty(); }
    CVariableView child(size_t i) const { return CVariableView(node_->childVec_[i].get(), shift_); }

    // An array's dimensions (1 to 3; 0 for every other node), the first index of
    // dimension d and its element count (0 when its highest index is below its first).
    size_t dimensionCount() const { return node_->bounds_ ? node_->bounds_->count : 0; }
    int32_t lowestIndex(size_t d) const { return node_->bounds_->dimension[d].lowest; }
    size_t extent(size_t d) const {
        const CVariable::CBounds& b = node_->bounds_->dimension[d];
        return b.highest < b.lowest ? 0 : static_cast<size_t>(int64_t{b.highest} - b.lowest + 1);
    }

   private:
    const CVariable* node_;
    ptrdiff_t shift_;
};

#endif  // SYMBOLS_VARIABLEVIEW_H
