// CVariableView: how the conversions see one node of the variable tree, and the only way
// they reach a node's members or elements.
//
// A view is a node and a shift: the node describes the layout (class, size, children),
// the shift moves its address. An array that keeps one element as the layout of all
// (Variable.h) hands out element i as that element shifted by i times the element
// size; everything below the element is shifted with it. The element's name is formed
// by the pattern the host's names of the elements follow ("arr[5]", "[5]",
// "App.Globals.m[2][3]"), exactly as the host names the element.
//
// A view is a value of two words, made and dropped on the stack of one call. It is
// valid while the caller holds the index shared (the nodes live in the index).
#ifndef SYMBOLS_VARIABLEVIEW_H
#define SYMBOLS_VARIABLEVIEW_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>

#include "var/Variable.h"

// The name of a view: the node's own name, referred to, or the name formed for an
// element, held. Cheap to make for a node's own name (one pointer). Converts to
// std::string for whoever needs one; data() and size() read it without a copy.
class CVariableName {
   public:
    explicit CVariableName(const std::string& own) : own_(&own) {}
    explicit CVariableName(std::string&& formed) : own_(nullptr), formed_(std::move(formed)) {}

    // The text; valid while this object lives (and, for a node's own name, while the
    // index is held).
    const std::string& str() const { return own_ != nullptr ? *own_ : formed_; }
    const char* data() const { return str().data(); }
    size_t size() const { return str().size(); }
    bool empty() const { return str().empty(); }
    operator std::string() const { return str(); }

    friend bool operator==(const CVariableName& name, const std::string& text) { return name.str() == text; }
    friend bool operator==(const std::string& text, const CVariableName& name) { return name.str() == text; }
    friend bool operator==(const CVariableName& name, const char* text) { return name.str() == text; }
    friend bool operator==(const char* text, const CVariableName& name) { return name.str() == text; }
    friend bool operator!=(const CVariableName& name, const std::string& text) { return !(name == text); }
    friend bool operator!=(const CVariableName& name, const char* text) { return !(name == text); }
    friend std::string operator+(std::string text, const CVariableName& name) { return text += name.str(); }
    friend std::string operator+(const CVariableName& name, const std::string& text) {
        return name.str() + text;
    }
    friend std::string operator+(const CVariableName& name, const char* text) { return name.str() + text; }
    friend std::ostream& operator<<(std::ostream& out, const CVariableName& name) {
        return out << name.str();
    }

   private:
    const std::string* own_;  // null: the name is formed_
    std::string formed_;
};

class CVariableView {
   public:
    explicit CVariableView(const CVariable* node, ptrdiff_t shift = 0) : node_(node), shift_(shift) {}
    explicit CVariableView(const CVariable& node) : node_(&node), shift_(0) {}

    // False for a member or element the walk could not describe (no node).
    explicit operator bool() const { return node_ != nullptr; }

    // The node that describes the layout: one for every element of an array that keeps
    // one element, so views of the same layout share it.
    const CVariable* layout() const { return node_; }

    TypeClass3 type() const { return node_->varType_; }
    uint32_t size() const { return node_->size_; }
    // The address of the value; null for a node the host did not resolve.
    void* address() const {
        return node_->var_addr_ == nullptr ? nullptr : static_cast<char*>(node_->var_addr_) + shift_;
    }
    // The name as the host gives it ("x" for a member, "arr[2]" for an element).
    CVariableName name() const {
        return node_->array_ == nullptr ? CVariableName(node_->symbol_nodename_) : elementName();
    }

    // Whether the name is the length bytes at text; a node's own name is compared in
    // place, without a CVariableName (member names are matched for every JSON member).
    bool nameIs(const char* text, size_t length) const {
        if (node_->array_ != nullptr) {
            const CVariableName formed = elementName();
            return formed.size() == length && std::memcmp(formed.data(), text, length) == 0;
        }
        const std::string& own = node_->symbol_nodename_;
        if (own.size() != length) {
            return false;
        }
        for (size_t i = 0; i < length; ++i) {
            if (own[i] != text[i]) {
                return false;
            }
        }
        return true;
    }

    // Members of a structure, elements of an array, in order; 0 for a leaf.
    size_t childCount() const {
        const CVariable::CArrayBounds* bounds = node_->bounds_.get();
        return bounds != nullptr && bounds->stride != 0 ? static_cast<size_t>(bounds->elements)
                                                        : node_->childVec_.size();
    }
    bool isLeaf() const { return node_->childVec_.empty(); }
    CVariableView child(size_t i) const {
        const CVariable::CArrayBounds* bounds = node_->bounds_.get();
        if (bounds != nullptr && bounds->stride != 0) {
            return CVariableView(&node_->childVec_[0], shift_ + static_cast<ptrdiff_t>(i * bounds->stride));
        }
        return CVariableView(&node_->childVec_[i], shift_);
    }

    // For an array that keeps one element as the layout of all: the bytes from one
    // element to the next; 0 for every other node (its elements are nodes of their own).
    uint64_t elementStride() const {
        const CVariable::CArrayBounds* bounds = node_->bounds_.get();
        return bounds != nullptr ? bounds->stride : 0;
    }

    // Appends the indices of element i of this array as the host writes them ("[2]",
    // "[1,-1]"), whatever the host names the element; false, and nothing appended, for
    // a node without an array's dimensions.
    bool appendElementIndices(std::string& out, size_t i) const {
        if (!node_->bounds_) {
            return false;
        }
        node_->AppendIndices(out, i);
        return true;
    }

    // An array's dimensions (1 to 3; 0 for every other node), the first index of
    // dimension d and its element count (0 when its highest index is below its first).
    size_t dimensionCount() const { return node_->bounds_ ? node_->bounds_->count : 0; }
    int32_t lowestIndex(size_t d) const { return node_->bounds_->dimension[d].lowest; }
    size_t extent(size_t d) const {
        const CVariable::CBounds& b = node_->bounds_->dimension[d];
        return b.highest < b.lowest ? 0 : static_cast<size_t>(int64_t{b.highest} - b.lowest + 1);
    }

   private:
    // The name of an element of an array that keeps one element: its array's name and
    // its indices, found from the shift.
    CVariableName elementName() const;

    const CVariable* node_;
    ptrdiff_t shift_;
};

#endif  // SYMBOLS_VARIABLEVIEW_H
