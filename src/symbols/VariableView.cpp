// Names of elements handed out by arithmetic.
//
// An element view is the layout element of its array shifted by the sum of one index
// times the element size per array that keeps one element around it, from the
// outermost in. Each of those arrays lies within one element of the array around it, so
// the indices come out of the shift by division from the outermost in. The element is
// named by the pattern its array learned from the host's names (Variable.h), which may
// start with the name of the element around it ("m[2][3]").
#include "symbols/VariableView.h"

#include <vector>

CVariableName CVariableView::elementName() const {
    // The arrays that keep one element around this view, innermost first.
    constexpr size_t kInline = 16;
    const CVariable* inlineChain[kInline];
    std::vector<const CVariable*> deepChain;
    size_t depth = 0;
    for (const CVariable* array = node_->array_; array != nullptr; array = array->bounds_->enclosing) {
        if (depth < kInline) {
            inlineChain[depth] = array;
        } else {
            if (deepChain.empty()) {
                deepChain.assign(inlineChain, inlineChain + kInline);
            }
            deepChain.push_back(array);
        }
        ++depth;
    }
    const CVariable* const* chain = depth <= kInline ? inlineChain : deepChain.data();
    uint64_t inlineIndices[kInline];
    std::vector<uint64_t> deepIndices(depth > kInline ? depth : 0);
    uint64_t* indices = depth <= kInline ? inlineIndices : deepIndices.data();

    // The element index in each array, from the outermost (chain[depth - 1]) in.
    uint64_t rest = static_cast<uint64_t>(shift_);
    for (size_t level = depth; level-- > 0;) {
        const uint64_t stride = chain[level]->bounds_->stride;
        indices[level] = rest / stride;
        rest -= indices[level] * stride;
    }

    // From the outermost array in: each names its element by its pattern, after the name
    // of the element around it where its pattern says so.
    std::string name;
    for (size_t level = depth; level-- > 0;) {
        const CVariable::CArrayBounds& bounds = *chain[level]->bounds_;
        if (!bounds.prefixAfterEnclosing) {
            name.clear();
        }
        name += bounds.namePrefix;
        chain[level]->AppendIndices(name, indices[level]);
        name += bounds.nameSuffix;
    }
    return CVariableName(std::move(name));
}
