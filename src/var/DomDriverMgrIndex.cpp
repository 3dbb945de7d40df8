// Address index: every node of a load's trees, found by the address of its data.
//
// Writes run root by root and, within a tree, in post-order, each replacing what an
// earlier write stored under the same address: an enclosing node wins over everything
// inside it, and among nodes of which none encloses another the later one wins.
// Entries share the walk's own nodes instead of copying subtrees: once indexed, a tree
// is only read, so one node serves its own entry and those of all its enclosing nodes,
// and the memory a node takes does not depend on its depth. Only the loader thread
// writes; mtx is held exclusively for one entry at a time, and readers wait for
// bDownloadDone before they look.
#include <cstdint>

#include "var/DomDriverMgr.h"

namespace {

size_t CountNodes(const CVariable& var) {
    size_t nodes = 1;
    for (const std::shared_ptr<CVariable>& child : var.childVec_) {
        nodes += child ? CountNodes(*child) : 0;
    }
    return nodes;
}

}  // namespace

void CDomDriverMgr::MapAll() {
    // One bucket per node at most, allocated once instead of grown by doubling.
    size_t nodes = 0;
    for (const std::shared_ptr<CVariable>& root : p_vec_vars) {
        nodes += CountNodes(*root);
    }
    {
        std::lock_guard<CIndexLock> lock(mtx);
        map_addr_vars.reserve(nodes);
    }
    for (const std::shared_ptr<CVariable>& root : p_vec_vars) {
        MapSingle(root);
    }
    p_vec_vars.clear();
}

void CDomDriverMgr::MapSingle(std::shared_ptr<CVariable> pVar) {
    // The tree is final from here on: no room is kept for children that never come.
    pVar->childVec_.shrink_to_fit();
    for (const std::shared_ptr<CVariable>& child : pVar->childVec_) {
        MapSingle(child);
    }
    AddToMap(pVar);
}

void CDomDriverMgr::AddToMap(const std::shared_ptr<CVariable>& pVar) {
    // The replaced reference is dropped after the lock is released. (It is a node of
    // the same trees, which stay alive through their roots, but freeing is no work to
    // do under the index lock.)
    std::shared_ptr<CVariable> replaced;
    std::lock_guard<CIndexLock> lock(mtx);
    std::shared_ptr<CVariable>& entry = map_addr_vars[pVar->var_addr_];
    replaced.swap(entry);
    entry = pVar;
}

CIndexLock& CDomDriverMgr::variableLock(const void* addr) {
    // Variables start at least 2 bytes apart mostly; mixing the higher bits in spreads
    // neighbouring variables over the locks.
    const uintptr_t bits = reinterpret_cast<uintptr_t>(addr);
    return variableLocks_[((bits >> 3) ^ (bits >> 11) ^ (bits >> 19)) % kVariableLocks];
}
