// CVariable: a node of the variable tree.
#include "var/Variable.h"

CVariable::CVariable() = default;

CVariable::~CVariable() {
    symbol_nodename_.clear();
    childVec_.clear();
}

void CVariable::AddChild(const std::shared_ptr<CVariable>& pVariable) { childVec_.push_back(pVariable); }

std::shared_ptr<CVariable> CVariable::Clone() {
    auto copy = std::make_shared<CVariable>();
    copy->varType_ = varType_;
    copy->size_ = size_;
    copy->var_addr_ = var_addr_;
    copy->symbol_nodename_ = symbol_nodename_;
    if (bounds_) {
        copy->bounds_.reset(new CArrayBounds(*bounds_));
    }
    copy->childVec_.reserve(childVec_.size());
    for (const std::shared_ptr<CVariable>& child : childVec_) {
        copy->childVec_.push_back(child->Clone());
    }
    return copy;
}
