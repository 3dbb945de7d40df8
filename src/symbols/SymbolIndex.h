// CSymbolIndex: the application's variables, found by the address of their data.
//
// It holds the address index a load published (CAddressIndex) and hands it out to the
// datatype calls through WithVariable. The loader (CSymbolLoader) takes the published
// index away at the start of a load, builds the new one of its walk's trees beside and
// publishes it whole.
//
// Ownership: the published CAddressIndex owns its trees. Nobody changes a tree once it
// is indexed.
//
// Threads: Withdraw, PublishRoots and Publish run on the loader thread or the event path;
// WithVariable on any IEC task; Inspect, Size and the like anywhere.
// Locks: mtx_, a reader-writer lock, guards the published index and goes with the ready
// flag: a load takes the index away and clears the flag under it exclusively, and
// publishes the complete new index and sets the flag under it exclusively, so a call,
// which tests the flag and looks up under it shared, sees the whole previous index, the
// whole new one, or none (and is refused). Under it, a call holds the lock of its
// variable's memory: shared to read, exclusively to write. That lock is chosen by the
// top-level variable that holds the node found, so a member, an element and the variable
// itself take the same one and a read of a member never sees half of a write of its
// structure. Callers may hold a writer instance's lock first; the order is writer
// instance, mtx_, variable lock. No host call, no log call and no sleep happens while any
// of them is held.
#ifndef SYMBOLS_SYMBOLINDEX_H
#define SYMBOLS_SYMBOLINDEX_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "frame/LogTexts.h"
#include "symbols/AddressIndex.h"
#include "symbols/VariableView.h"
#include "sync/Locks.h"
#include "sync/ThreadAnnotations.h"
#include "var/Variable.h"

class CSymbolIndex {
   public:
    typedef CAddressIndex::CRoots vec_vars;

    CSymbolIndex() = default;
    ~CSymbolIndex();
    CSymbolIndex(const CSymbolIndex&) = delete;
    CSymbolIndex& operator=(const CSymbolIndex&) = delete;

    // Takes the published index away and clears the ready flag: calls are refused as
    // loading until the next publication. The previous index is freed after the lock is
    // released.
    void Withdraw() EXCLUDES(mtx_) { Replace(nullptr, false); }
    // Builds the index of roots (a load's trees, in walk order) and publishes it with the
    // ready flag set.
    void PublishRoots(vec_vars roots) EXCLUDES(mtx_);
    // Empties the index and leaves the ready flag as it is.
    void DropIndex() EXCLUDES(mtx_);
    // Whether a complete index is published (a call may find its variable).
    bool Ready() const { return bDownloadDone_.load(); }

    // Runs use(CVariableView) on what pData resolves to, with the index held shared and
    // the variable's lock held, shared unless `write`. Returns null when use ran, else the
    // refusal: no complete index is published, or no variable starts at pData.
    template <typename Use>
    const char* WithVariable(const void* pData, bool write, Use use) EXCLUDES(mtx_) {
        CSharedLock<CIndexLock> indexLock(mtx_);
        CAddressIndex::CFound found;
        if (const char* refusal = findVariable(pData, found)) {
            return refusal;
        }
        CIndexLock& memory = variableLock(found.root);
        if (write) {
            CExclusiveLock<CIndexLock> memoryLock(memory);
            use(CVariableView(found.node, found.shift));
        } else {
            CSharedLock<CIndexLock> memoryLock(memory);
            use(CVariableView(found.node, found.shift));
        }
        return nullptr;
    }

    // Like WithVariable(pData, true, ...) in two steps: stage(CVariableView) with the
    // index held shared and no variable lock, then, when it returned true, write(the same
    // view) under the variable's lock held exclusively, the index still held. For a write
    // whose preparation reads no memory of the variable and need not keep its readers
    // waiting.
    template <typename Stage, typename Write>
    const char* WithVariableStaged(const void* pData, Stage stage, Write write) EXCLUDES(mtx_) {
        CSharedLock<CIndexLock> indexLock(mtx_);
        CAddressIndex::CFound found;
        if (const char* refusal = findVariable(pData, found)) {
            return refusal;
        }
        const CVariableView var(found.node, found.shift);
        if (stage(var)) {
            CExclusiveLock<CIndexLock> memoryLock(variableLock(found.root));
            write(var);
        }
        return nullptr;
    }

    // Runs use(CVariableView) on what address resolves to in the published index, the
    // null address included and whatever the ready flag says, with the index held shared;
    // false when nothing is found there. For checks of the index (tests, benchmarks).
    template <typename Use>
    bool Inspect(const void* address, Use use) EXCLUDES(mtx_) {
        CSharedLock<CIndexLock> indexLock(mtx_);
        CAddressIndex::CFound found;
        if (index_ == nullptr || !index_->Find(address, found)) {
            return false;
        }
        use(CVariableView(found.node, found.shift));
        return true;
    }

    // Indexes the tree below root after the roots published so far, as a load indexes
    // each of its roots, and marks the index complete: for a tree built by hand (tests,
    // benchmarks).
    void Publish(const std::shared_ptr<CVariable>& root) EXCLUDES(mtx_);
    // Runs use(CVariableView) on each root of the published index, in walk order, with
    // the index held shared; false without an index. For checks of the index.
    template <typename Use>
    bool InspectRoots(Use use) EXCLUDES(mtx_) {
        CSharedLock<CIndexLock> indexLock(mtx_);
        if (index_ == nullptr) {
            return false;
        }
        for (const CVariable& root : index_->Roots()) {
            use(CVariableView(root));
        }
        return true;
    }
    // True when no call holds the index (tests: a call logs only after its locks are
    // released).
    bool Idle() EXCLUDES(mtx_) {
        if (!mtx_.try_lock()) {
            return false;
        }
        mtx_.unlock();
        return true;
    }
    // The distinct addresses the published index resolves, elements included; 0 without one.
    size_t Size() EXCLUDES(mtx_);
    // The lock a call on the variable at address takes: its top-level variable's. Null
    // when no variable starts there.
    const CIndexLock* LockOf(const void* address) EXCLUDES(mtx_);

   private:
    // The lock of the variable's memory at addr. One of a fixed set of locks chosen by
    // the address, so two variables may rarely share one and then take turns.
    CIndexLock& variableLock(const void* addr);

    // The node of the published index at pData; null when found, else the refusal: no
    // complete index is published, or no variable starts at pData.
    const char* findVariable(const void* pData, CAddressIndex::CFound& found) REQUIRES_SHARED(mtx_) {
        // Tested under the lock: the flag and the index change together under it.
        if (!bDownloadDone_.load()) {
            return LogText(ELogText::kVariablesLoading);
        }
        // Nodes the host did not resolve sit at the null address; a null pointer from
        // a program must never reach them.
        if (pData == nullptr || index_ == nullptr || !index_->Find(pData, found)) {
            return LogText(ELogText::kNoVariable);
        }
        return nullptr;
    }

    // Replaces the published index by `built` (null: none) and sets the ready flag to
    // `ready`, both under the lock; the previous index is freed after it is released.
    void Replace(std::unique_ptr<const CAddressIndex> built, bool ready) EXCLUDES(mtx_);

    CIndexLock mtx_;
    std::unique_ptr<const CAddressIndex> index_ GUARDED_BY(mtx_);

    static constexpr size_t kVariableLocks = 256;
    CIndexLock variableLocks_[kVariableLocks];  // taken after mtx_

    // The address index is complete and may be read; changed under mtx_ with index_.
    std::atomic<bool> bDownloadDone_{false};
};

#endif  // SYMBOLS_SYMBOLINDEX_H
