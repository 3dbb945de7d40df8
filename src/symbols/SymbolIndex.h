// CSymbolIndex: the application's variables, found by the address of their data, and
// the loader thread that builds them.
//
// A load runs on a real-time thread of its own, "ReLoadSym": it empties the address
// index, walks the host's symbol table into trees of CVariable nodes (one root per
// top-level variable), indexes every node of those trees and marks the index ready.
// Datatype calls use the index through WithVariable.
//
// Ownership: the index owns the roots while a load builds them and the nodes through
// the index entries afterwards. Indexed nodes are shared, not copied: every entry
// points into the trees the walk built, which nobody changes once they are indexed.
//
// Threads: BeginLoad, EndLoad and Clear run on the host's event path, which the frame
// serialises; they alone touch thrd_. The walk and the indexing run on the loader
// thread, which alone touches the roots while it is alive (thrd_ != 0). WithVariable
// runs on any IEC task.
// Locks: mtx_, a reader-writer lock, guards the index. Datatype calls hold it shared
// while they use a node; the loader's emptying and filling and Clear hold it
// exclusively. Under it, a call holds the lock of its variable's memory: shared to
// read, exclusively to write. That lock is chosen by the top-level variable that holds
// the node found, so a member, an element and the variable itself take the same one and
// a read of a member never sees half of a write of its structure. Callers may hold a writer instance's lock
// first; the order is writer instance, mtx_, variable lock. No host call, no log call and no sleep happens
// while any of them is held.
#ifndef SYMBOLS_SYMBOLINDEX_H
#define SYMBOLS_SYMBOLINDEX_H

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "CmpStd.h"
#include "IecVarAccess_ItfsItf.h"
#include "frame/LogTexts.h"
#include "symbols/VariableView.h"
#include "sync/Locks.h"
#include "sync/ThreadAnnotations.h"
#include "var/Variable.h"

class CSymbolIndex {
   public:
    // The index as seen from outside: each address and the node found there.
    typedef std::unordered_map<void*, std::shared_ptr<CVariable>> addr_vars;
    typedef std::vector<std::shared_ptr<CVariable>> vec_vars;

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

    // Runs use(CVariableView) on the node at pData with the index held shared and the
    // variable's lock held, shared unless `write`. Returns null when use ran, else the
    // refusal: the index is not complete, or no variable starts at pData.
    template <typename Use>
    const char* WithVariable(const void* pData, bool write, Use use) EXCLUDES(mtx_) {
        if (!bDownloadDone_.load()) {
            return LogText(ELogText::kVariablesLoading);
        }
        CSharedLock<CIndexLock> indexLock(mtx_);
        // Nodes the host did not resolve sit at the null address; a null pointer from
        // a program must never reach them.
        const auto found =
            pData == nullptr ? map_addr_vars_.end() : map_addr_vars_.find(const_cast<void*>(pData));
        if (found == map_addr_vars_.end() || !found->second.node) {
            return LogText(ELogText::kNoVariable);
        }
        const CVariable& var = *found->second.node;
        CIndexLock& memory = variableLock(found->second.root);
        if (write) {
            CExclusiveLock<CIndexLock> memoryLock(memory);
            use(CVariableView(var));
        } else {
            CSharedLock<CIndexLock> memoryLock(memory);
            use(CVariableView(var));
        }
        return nullptr;
    }

    // Indexes the tree below root as a load indexes each of its roots, and marks the
    // index complete: for a tree built by hand (tests, benchmarks).
    void Publish(const std::shared_ptr<CVariable>& root) EXCLUDES(mtx_);
    // A copy of the index, taken under its lock; the node at address, or null.
    addr_vars Entries() EXCLUDES(mtx_);
    std::shared_ptr<CVariable> Find(const void* address) EXCLUDES(mtx_);
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
                     RTS_HANDLE hTypeNode);
    bool ExpandStructure(const std::shared_ptr<CVariable>& pVar, const char* szName, RTS_HANDLE hInterface,
                         RTS_HANDLE hTypeNode);
    bool LoadNode(const std::shared_ptr<CVariable>& pVariable, const char* szName);

    // Address index (loader thread only).
    void MapAll() EXCLUDES(mtx_);
    // root: the address of the top-level variable whose tree holds pVar.
    void MapSingle(const std::shared_ptr<CVariable>& pVar, const void* root) EXCLUDES(mtx_);
    void AddToMap(const std::shared_ptr<CVariable>& pVar, const void* root) EXCLUDES(mtx_);

    // An indexed node and the address of its top-level variable, which picks its lock.
    struct CIndexEntry {
        std::shared_ptr<CVariable> node;
        const void* root = nullptr;
    };

    CIndexLock mtx_;
    std::unordered_map<void*, CIndexEntry> map_addr_vars_ GUARDED_BY(mtx_);

    static constexpr size_t kVariableLocks = 256;
    CIndexLock variableLocks_[kVariableLocks];  // taken after mtx_

    // Roots of the tree while a load builds them. Owned by the loader thread while one
    // is alive (thrd_ != 0); emptied by the load's indexing step.
    vec_vars p_vec_vars_;
    pthread_t thrd_ = 0;  // the loader thread; event path only

    std::atomic<bool> bDownloadFinish_{false};  // stop request for the loader
    std::atomic<bool> bDownloadDone_{false};    // the address index is complete
    std::atomic<bool> bOnlineChange_{false};
    std::atomic<bool> loadCompleted_{false};  // the last walk reached the application

    int32_t load_SchedPriority_ = 30;  // SCHED_FIFO priority of the loader thread
    int32_t load_SchedAffinity_ = 0;   // processor of the loader thread; negative: not pinned
};

#endif  // SYMBOLS_SYMBOLINDEX_H
