// CVariable: a node of the variable tree, and the list that holds a node's children.
#include "var/Variable.h"

#include <new>
#include <utility>

// ---- CVariableList ------------------------------------------------------------------

CVariableList::~CVariableList() { clear(); }

CVariableList::CVariableList(const CVariableList& other) {
    reserve(other.size_);
    for (const CVariable& node : other) {
        new (items_ + size_) CVariable(node);
        ++size_;
    }
}

CVariableList& CVariableList::operator=(const CVariableList& other) {
    if (this != &other) {
        CVariableList copy(other);
        *this = std::move(copy);
    }
    return *this;
}

CVariableList::CVariableList(CVariableList&& other) noexcept
    : items_(other.items_), size_(other.size_), capacity_(other.capacity_) {
    other.items_ = nullptr;
    other.size_ = 0;
    other.capacity_ = 0;
}

CVariableList& CVariableList::operator=(CVariableList&& other) noexcept {
    if (this != &other) {
        clear();
        items_ = other.items_;
        size_ = other.size_;
        capacity_ = other.capacity_;
        other.items_ = nullptr;
        other.size_ = 0;
        other.capacity_ = 0;
    }
    return *this;
}

void CVariableList::reserve(size_t count) {
    if (count <= capacity_) {
        return;
    }
    if (count > UINT32_MAX) {
        throw std::bad_alloc();
    }
    CVariable* moved = static_cast<CVariable*>(::operator new(count * sizeof(CVariable)));
    for (uint32_t i = 0; i < size_; ++i) {
        new (moved + i) CVariable(std::move(items_[i]));
        items_[i].~CVariable();
    }
    ::operator delete(items_);
    items_ = moved;
    capacity_ = static_cast<uint32_t>(count);
}

CVariable& CVariableList::emplace_back() {
    if (size_ == capacity_) {
        reserve(capacity_ == 0 ? 1 : size_t{capacity_} * 2);
    }
    CVariable* node = new (items_ + size_) CVariable();
    ++size_;
    return *node;
}

void CVariableList::pop_back() {
    --size_;
    items_[size_].~CVariable();
}

void CVariableList::clear() {
    while (size_ > 0) {
        pop_back();
    }
    ::operator delete(items_);
    items_ = nullptr;
    capacity_ = 0;
}

// ---- CVariable --------------------------------------------------------------------

CVariable::CVariable() = default;

CVariable::~CVariable() = default;

CVariable::CVariable(const CVariable& other)
    : varType_(other.varType_),
      size_(other.size_),
      var_addr_(other.var_addr_),
      symbol_nodename_(other.symbol_nodename_),
      childVec_(other.childVec_) {
    if (other.bounds_) {
        bounds_.reset(new CArrayBounds(*other.bounds_));
        bounds_->enclosing = nullptr;  // linked again by the copy of the array around it
    }
    Relink();
}

CVariable& CVariable::operator=(const CVariable& other) {
    if (this != &other) {
        CVariable copy(other);
        *this = std::move(copy);
    }
    return *this;
}

CVariable::CVariable(CVariable&& other) noexcept
    : varType_(other.varType_),
      size_(other.size_),
      var_addr_(other.var_addr_),
      symbol_nodename_(std::move(other.symbol_nodename_)),
      childVec_(std::move(other.childVec_)),
      bounds_(std::move(other.bounds_)),
      array_(other.array_) {
    Relink();
}

CVariable& CVariable::operator=(CVariable&& other) noexcept {
    if (this != &other) {
        varType_ = other.varType_;
        size_ = other.size_;
        var_addr_ = other.var_addr_;
        symbol_nodename_ = std::move(other.symbol_nodename_);
        childVec_ = std::move(other.childVec_);
        bounds_ = std::move(other.bounds_);
        array_ = other.array_;
        Relink();
    }
    return *this;
}

void CVariable::Relink() noexcept {
    if (KeepsOneElement() && childVec_.size() == 1) {
        KeepOneElement(bounds_->stride);
    }
}

void CVariable::AddChild(const CVariable& child) {
    if (childVec_.size() == 0) {
        childVec_.reserve(1);
    }
    CVariable& added = childVec_.emplace_back();
    added = child;
}

std::shared_ptr<CVariable> CVariable::Clone() const { return std::make_shared<CVariable>(*this); }

namespace {

// Names `array` as the enclosing array of every array inside node that keeps one element
// and lies inside no other such array. Recurses as deep as the application's types nest,
// as the walk that built the nodes did; it takes no memory, so that a move may run it.
void LinkInnerArrays(CVariable& node, const CVariable* array) noexcept {
    for (CVariable& child : node.childVec_) {
        if (child.KeepsOneElement()) {
            child.bounds_->enclosing = array;
        } else {
            LinkInnerArrays(child, array);
        }
    }
}

}  // namespace

void CVariable::KeepOneElement(uint64_t stride) noexcept {
    bounds_->stride = stride;
    CVariable& element = childVec_[0];
    element.array_ = this;
    if (element.KeepsOneElement()) {
        element.bounds_->enclosing = this;
    } else {
        LinkInnerArrays(element, this);
    }
}

void CVariable::AppendIndices(std::string& out, uint64_t linear) const {
    int64_t indices[3] = {0, 0, 0};
    for (size_t d = bounds_->count; d-- > 0;) {
        const CBounds& range = bounds_->dimension[d];
        const uint64_t extent = static_cast<uint64_t>(int64_t{range.highest} - range.lowest + 1);
        indices[d] = range.lowest + static_cast<int64_t>(linear % extent);
        linear /= extent;
    }
    out += '[';
    for (size_t d = 0; d < bounds_->count; ++d) {
        if (d > 0) {
            out += ',';
        }
        out += std::to_string(indices[d]);
    }
    out += ']';
}
