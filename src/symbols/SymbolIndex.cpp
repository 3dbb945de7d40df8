// Address index: every node of a load's trees, found by the address of its data; and
// how the index and the roots are dropped.
//
// Writes run root by root and, within a tree, in post-order, each replacing what an
// earlier write stored under the same address: an enclosing node wins over everything
// inside it, and among nodes of which none encloses another the later one wins.
// Entries share the walk's own nodes instead of copying subtrees: once indexed, a tree
// is only read, so one node serves its own entry and those of all its enclosing nodes,
// and the memory a node takes does not depend on its depth. Only the loader thread
// writes; mtx_ is held exclusively for one entry at a time, and readers wait for
// bDownloadDone_ before they look.
#include "symbols/SymbolIndex.h"

#include <cstdint>

namespace {

size_t CountNodes(const CVariable& var) {
    size_t nodes = 1;
    for (const std::shared_ptr<CVariable>& child : var.childVec_) {
        nodes += child ? CountNodes(*child) : 0;
    }
    return nodes;
}

}  // namespace

void CSymbolIndex::MapAll() {
    // One bucket per node at most, allocated once instead of grown by doubling.
    size_t nodes = 0;
    for (const std::shared_ptr<CVariable>& root : p_vec_vars_) {
        nodes += CountNodes(*root);
    }
    {
        CExclusiveLock<CIndexLock> lock(mtx_);
        map_addr_vars_.reserve(nodes);
    }
    for (const std::shared_ptr<CVariable>& root : p_vec_vars_) {
        MapSingle(root, root->var_addr_);
    }
    p_vec_vars_.clear();
}

void CSymbolIndex::MapSingle(const std::shared_ptr<CVariable>& pVar, const void* root) {
    // The tree is final from here on: no room is kept for children that never come.
    pVar->childVec_.shrink_to_fit();
    for (const std::shared_ptr<CVariable>& child : pVar->childVec_) {
        MapSingle(child, root);
    }
    AddToMap(pVar, root);
}

void CSymbolIndex::AddToMap(const std::shared_ptr<CVariable>& pVar, const void* root) {
    // The replaced reference is dropped after the lock is released. (It is a node of
    // the same trees, which stay alive through their roots, but freeing is no work to
    // do under the index lock.)
    std::shared_ptr<CVariable> replaced;
    CExclusiveLock<CIndexLock> lock(mtx_);
    CIndexEntry& entry = map_addr_vars_[pVar->var_addr_];
    replaced.swap(entry.node);
    entry.node = pVar;
    entry.root = root;
}

void CSymbolIndex::Publish(const std::shared_ptr<CVariable>& root) {
    MapSingle(root, root->var_addr_);
    bDownloadDone_.store(true);
}

CSymbolIndex::addr_vars CSymbolIndex::Entries() {
    addr_vars entries;
    CSharedLock<CIndexLock> lock(mtx_);
    for (const auto& entry : map_addr_vars_) {
        entries.emplace(entry.first, entry.second.node);
    }
    return entries;
}

std::shared_ptr<CVariable> CSymbolIndex::Find(const void* address) {
    CSharedLock<CIndexLock> lock(mtx_);
    const auto found = map_addr_vars_.find(const_cast<void*>(address));
    return found == map_addr_vars_.end() ? nullptr : found->second.node;
}

const CIndexLock* CSymbolIndex::LockOf(const void* address) {
    CSharedLock<CIndexLock> lock(mtx_);
    const auto found = map_addr_vars_.find(const_cast<void*>(address));
    return found == map_addr_vars_.end() ? nullptr : &variableLock(found->second.root);
}

CIndexLock& CSymbolIndex::variableLock(const void* addr) {
    // Variables start at least 2 bytes apart mostly; mixing the higher bits in spreads
    // neighbouring variables over the locks.
    const uintptr_t bits = reinterpret_cast<uintptr_t>(addr);
    return variableLocks_[((bits >> 3) ^ (bits >> 11) ^ (bits >> 19)) % kVariableLocks];
}

size_t CSymbolIndex::Size() {
    CSharedLock<CIndexLock> lock(mtx_);
    return map_addr_vars_.size();
}

void CSymbolIndex::DropRoots() {
    // A live loader thread owns the root list until it is joined; a loader that has
    // finished its load has already emptied it.
    if (thrd_ == 0) {
        p_vec_vars_.clear();
    }
}

void CSymbolIndex::DropIndex() {
    std::unordered_map<void*, CIndexEntry> dropped;  // the nodes are freed after the lock is released
    CExclusiveLock<CIndexLock> lock(mtx_);
    dropped.swap(map_addr_vars_);
}

// Nothing in the component runs this: the manager lives until the process ends.
CSymbolIndex::~CSymbolIndex() {
    DropRoots();
    DropIndex();
}
