// CSymbolIndex: the application's variables, found by the address of their data, and
// the loader thread that builds them.
//
// A load runs on a real-time thread of its own, "ReLoadSym": it takes the published
// index away, walks the host's symbol table into trees of CVariable nodes (one root per
// top-level variable), builds a new address index of them beside (CAddressIndex) and
// publishes it whole. Datatype calls use the index through WithVariable.
//
// Ownership: the loader thread owns the roots while a load builds them; the published
// CAddressIndex owns them afterwards. Nobody changes a tree once it is indexed.
//
// Threads: BeginLoad, EndLoad and Clear run on the host's event path, which the frame
// serialises; they alone touch thrd_. The walk and the building of the index run on the
// loader thread, which alone touches the roots while it is alive (thrd_ != 0).
// WithVariable runs on any IEC task.
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

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "CmpStd.h"
#include "IecVarAccess_ItfsItf.h"
#include "frame/LogTexts.h"
#include "symbols/AddressIndex.h"
#include "symbols/VariableView.h"
#include "sync/Locks.h"
#include "sync/ThreadAnnotations.h"
#include "var/Variable.h"

class CSymbolIndex {
   public:
    typedef std::vector<std::shared_ptr<CVariable>> vec_vars;

    // The steps of a load, for the hook that tests observe a load by.
    enum class ELoadStep {
        kEmptied,    // the previous index is taken away; the walk follows
        kBuilt,      // the new index is built, not yet published
        kPublished,  // the new index is published and the flag set
    };

    CSymbolIndex() = default;
    ~CSymbolIndex();
    CSymbolIndex(const CSymbolIndex&) = delete;
    CSymbolIndex& operator=(const CSymbolIndex&) = delete;

    // Event path. BeginLoad stops a loader that still runs, then starts a new one.
    // EndLoad stops and joins the loader, clears the flags and empties the index.
    void BeginLoad() EXCLUDES(mtx_);
    void EndLoad() EXCLUDES(mtx_);
    // Drops the roots (unless a loader owns them) and then the index.
    void DropRoots();
    void DropIndex() EXCLUDES(mtx_);

    // One complete load; runs on the loader thread.
    void Load() EXCLUDES(mtx_);

    bool LoadCompleted() const { return loadCompleted_.load(); }
    void PrepareOnlineChange() { bOnlineChange_.store(true); }

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
    // The distinct addresses the published index resolves, elements included; 0 without one.
    size_t Size() EXCLUDES(mtx_);
    // The lock a call on the variable at address takes: its top-level variable's. Null
    // when no variable starts there.
    const CIndexLock* LockOf(const void* address) EXCLUDES(mtx_);

   private:
    // Tests of the loader observe its life cycle: the flags, the thread, the roots and
    // the walk's steps.
    friend class CDomDriverMgrTestPeer;

    static void* ThreadRoutine(void* argc);
    void SleepEvent();

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

    // Symbol walk (loader thread only). Every host call of the walk runs through Step:
    // false, and call() not run, when a stop was requested; false too when one came
    // during the call, so no caller looks at a host result after a stop.
    template <typename Call>
    bool Step(Call call);
    bool DumpAll();
    bool ExpandRoot(RTS_HANDLE hRootNode, RTS_HANDLE hInterface);
    bool ExpandTree(RTS_HANDLE hInterface, RTS_HANDLE hNode);
    bool ExpandNode(const std::shared_ptr<CVariable>& pParent, const std::shared_ptr<CVariable>& pVar,
                    const char* szName);
    bool ExpandArray(const std::shared_ptr<CVariable>& pVar, const char* szName, RTS_HANDLE hInterface,
                     RTS_HANDLE hTypeNode, RTS_SIZE arraySize);
    bool ExpandStructure(const std::shared_ptr<CVariable>& pVar, const char* szName, RTS_HANDLE hInterface,
                         RTS_HANDLE hTypeNode);
    // An array whose first element has been walked keeps it as the layout of all when
    // the host's answers fit the arithmetic; false when a stop came.
    bool KeepFirstElement(const std::shared_ptr<CVariable>& pVar, const char* szName, RTS_SIZE arraySize,
                          bool& kept);
    // fullSize, when given, receives the size the host reports, uncut.
    bool LoadNode(const std::shared_ptr<CVariable>& pVariable, const char* szName,
                  RTS_SIZE* fullSize = nullptr);

    // Builds the index of the walk's roots and publishes it (loader thread only).
    void MapAll() EXCLUDES(mtx_);
    // Replaces the published index by `built` (null: none) and sets the ready flag to
    // `ready`, both under the lock; the previous index is freed after it is released.
    void Replace(std::unique_ptr<const CAddressIndex> built, bool ready) EXCLUDES(mtx_);
    void Reached(ELoadStep step) {
        if (loadStepHook_) {
            loadStepHook_(step);
        }
    }

    CIndexLock mtx_;
    std::unique_ptr<const CAddressIndex> index_ GUARDED_BY(mtx_);

    static constexpr size_t kVariableLocks = 256;
    CIndexLock variableLocks_[kVariableLocks];  // taken after mtx_

    // Roots of the tree while a load builds them. Owned by the loader thread while one
    // is alive (thrd_ != 0); emptied by the load's indexing step.
    vec_vars p_vec_vars_;
    pthread_t thrd_ = 0;  // the loader thread; event path only

    std::atomic<bool> bDownloadFinish_{false};  // stop request for the loader
    std::atomic<bool> bDownloadDone_{false};    // the address index is complete; changed under mtx_ by loads
    std::atomic<bool> bOnlineChange_{false};
    std::atomic<bool> loadCompleted_{false};  // the last walk reached the application

    // Every array keeps a node per element, as one whose host answers do not fit the
    // arithmetic does (tests: the reference a compact index is compared with).
    std::atomic<bool> expandEveryElement_{false};
    // Called by the loader at each step of a load (tests: a load paused at a step while
    // calls run). Set only while no loader runs.
    std::function<void(ELoadStep)> loadStepHook_;

    int32_t load_SchedPriority_ = 30;  // SCHED_FIFO priority of the loader thread
    int32_t load_SchedAffinity_ = 0;   // processor of the loader thread; negative: not pinned
};

#endif  // SYMBOLS_SYMBOLINDEX_H
