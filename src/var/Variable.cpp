// CVariable: a node of the variable tree.
#include "var/Variable.h"

CVariable::CVariable() = default;

CVariable::~CVariable() {
    symbol_nodename_.clear();
    childVec_.clear();
}

void CVariable::AddChild(const std::shared_ptr<CVariable>& pVariable) { childVec_.push_back(pVariable); }

std::shared_ptr<CVariable> CVariable::Clone() const {
    auto copy = std::make_shared<CVariable>();
    copy->varType_ = varType_;
    copy->size_ = size_;
    copy->var_addr_ = var_addr_;
    copy->symbol_nodename_ = symbol_nodename_;
    copy->childVec_.reserve(childVec_.size());
    for (const std::shared_ptr<CVariable>& child : childVec_) {
        copy->childVec_.push_back(child->Clone());
    }
    if (bounds_) {
        copy->bounds_.reset(new CArrayBounds(*bounds_));
        copy->bounds_->enclosing = nullptr;  // linked again by the copy of the array around it
        if (bounds_->stride != 0) {
            copy->bounds_->stride = 0;
            copy->KeepOneElement(bounds_->stride);
        }
    }
    return copy;
}

void CVariable::KeepOneElement(uint64_t stride) {
    bounds_->stride = stride;
    childVec_[0]->array_ = this;
    // The arrays inside the layout that keep one element of their own, outermost first:
    // below them, their own layouts already name them as the enclosing array. No
    // recursion: the walk goes as deep as the application's types nest.
    std::vector<CVariable*> pending{childVec_[0].get()};
    while (!pending.empty()) {
        CVariable* node = pending.back();
        pending.pop_back();
        if (node->KeepsOneElement()) {
            node->bounds_->enclosing = this;
            continue;
        }
        for (const std::shared_ptr<CVariable>& child : node->childVec_) {
            pending.push_back(child.get());
        }
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
