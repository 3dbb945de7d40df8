// CVariable: one node of the variable tree built from the host's symbol table.
//
// A node stands for one variable, one structure member or one array element. It
// records what the host reported for it and owns its members or elements through
// childVec_. Nodes are always held through shared_ptr; there is no parent link, so a
// tree never has cycles. Only the loader thread builds and links nodes; after the
// address index has been published, IEC tasks only read them.
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
    std::shared_ptr<CVariable> Clone();

    // A fresh node is a leaf at the null address, so a node the host did not
    // resolve is never expanded and never found by a real variable's address.
    TypeClass3 varType_ = TYPE3_NONE;
    uint32_t size_ = 0;  // the host reports pointer width; stored cut to 32 bits
    void* var_addr_ = nullptr;
    std::string symbol_nodename_;  // the node's own name, not its full path
    std::vector<std::shared_ptr<CVariable>> childVec_;

    // The bounds of an array's dimensions (1 to 3, first index first) as the host
    // declares them; null for every other node and for an array the walk kept as a
    // leaf. Its elements are childVec_, the last index varying fastest. Held apart so
    // that a node that is not an array pays one pointer for it.
    struct CBounds {
        int32_t lowest;
        int32_t highest;
    };
    struct CArrayBounds {
        size_t count;  // dimensions, 1 to 3
        CBounds dimension[3];
    };
    std::unique_ptr<const CArrayBounds> bounds_;
};

#endif  // VAR_VARIABLE_H
