// Publication of the address index: a load's index is built beside the published one
// and replaces it whole under the lock, with the ready flag; how the index is dropped;
// what the index tells about itself.
#include "symbols/SymbolIndex.h"

#include <cstdint>

void CSymbolIndex::PublishRoots(vec_vars roots) {
    Replace(std::unique_ptr<const CAddressIndex>(new CAddressIndex(std::move(roots))), true);
}

void CSymbolIndex::Replace(std::unique_ptr<const CAddressIndex> built, bool ready) {
    {
        CExclusiveLock<CIndexLock> lock(mtx_);
        index_.swap(built);
        bDownloadDone_.store(ready);
    }
    // `built` now holds the previous index, freed here with the lock released.
}

void CSymbolIndex::Publish(const std::shared_ptr<CVariable>& root) {
    vec_vars roots;
    {
        CSharedLock<CIndexLock> lock(mtx_);
        if (index_ != nullptr) {
            roots = index_->Roots();
        }
    }
    roots.push_back(*root);
    Replace(std::unique_ptr<const CAddressIndex>(new CAddressIndex(std::move(roots))), true);
}

const CIndexLock* CSymbolIndex::LockOf(const void* address) {
    CSharedLock<CIndexLock> lock(mtx_);
    CAddressIndex::CFound found;
    if (index_ == nullptr || !index_->Find(address, found)) {
        return nullptr;
    }
    return &variableLock(found.root);
}

CIndexLock& CSymbolIndex::variableLock(const void* addr) {
    // Variables start at least 2 bytes apart mostly; mixing the higher bits in spreads
    // neighbouring variables over the locks.
    const uintptr_t bits = reinterpret_cast<uintptr_t>(addr);
    return variableLocks_[((bits >> 3) ^ (bits >> 11) ^ (bits >> 19)) % kVariableLocks];
}

size_t CSymbolIndex::Size() {
    CSharedLock<CIndexLock> lock(mtx_);
    return index_ != nullptr ? index_->AddressCount() : 0;
}

void CSymbolIndex::DropIndex() {
    std::unique_ptr<const CAddressIndex> dropped;  // the nodes are freed after the lock is released
    CExclusiveLock<CIndexLock> lock(mtx_);
    dropped.swap(index_);
}

// Nothing in the component runs this: the manager lives until the process ends.
CSymbolIndex::~CSymbolIndex() { DropIndex(); }
