// Address index: every node of a load's trees, found by the address of its data.
//
// Writes run root by root and, within a tree, in post-order, each replacing what an
// earlier write stored under the same address: an enclosing node wins over everything
// inside it, and among nodes of which none encloses another the later one wins. The
// entry of a root holds the walk's own node; every other entry holds a deep copy, so
// entries share no node. Only the loader thread writes; mtx is held for one entry at a
// time, and readers wait for bDownloadDone before they look.
#include "var/DomDriverMgr.h"

void CDomDriverMgr::MapAll() {
    for (const std::shared_ptr<CVariable>& root : p_vec_vars) {
        MapSingle(root);
    }
    p_vec_vars.clear();
}

void CDomDriverMgr::MapSingle(std::shared_ptr<CVariable> pVar) {
    for (const std::shared_ptr<CVariable>& child : pVar->childVec_) {
        MapSingle(child->Clone());
    }
    AddToMap(pVar);
}

void CDomDriverMgr::AddToMap(const std::shared_ptr<CVariable>& pVar) {
    // The replaced entry is dropped after the lock is released: freeing a large
    // subtree is no work to do under the index lock.
    std::shared_ptr<CVariable> replaced;
    std::lock_guard<std::mutex> lock(mtx);
    std::shared_ptr<CVariable>& entry = map_addr_vars[pVar->var_addr_];
    replaced.swap(entry);
    entry = pVar;
}
