// CSymbolLoader: loads the application's symbols into the symbol index on a real-time
// thread of its own, "ReLoadSym".
//
// A load takes the published index away (calls are refused as loading from then on),
// walks the application (CSymbolWalk), builds the index of what the walk found beside
// and publishes it with the ready flag in one step under the index's lock.
//
// Ownership: the loader owns its walk and the walk's roots until a load hands them to the
// index; the index it publishes into is the manager's and outlives it.
//
// Threads: BeginLoad, EndLoad, DropRoots and SetScheduling run on the host's event path,
// which the frame serialises; they alone touch thrd_. The walk runs on the loader thread,
// which alone touches the roots while it is alive. Status, LoadCompleted and
// PrepareOnlineChange may be called from any thread. Stopping combines the cooperative
// stop request, which the walk tests before every host call, with deferred
// cancellation; the join makes EndLoad return only after the loader has ended.
#ifndef SYMBOLS_SYMBOLLOADER_H
#define SYMBOLS_SYMBOLLOADER_H

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "symbols/SymbolIndex.h"
#include "symbols/SymbolWalk.h"

class CSymbolLoader {
   public:
    // What the loader is doing, as far as another thread can tell.
    struct CStatus {
        bool threadStarted = false;  // a loader thread was started and has not been joined
        bool stopRequested = false;  // the walk makes no further host call
        bool onlineChange = false;   // an online change is announced and not yet taken up
        bool loadCompleted = false;  // the last walk reached the application
        bool indexReady = false;     // a complete index is published
        size_t roots = 0;            // roots of a walk not (yet) handed to the index
        int32_t priority = 0;        // SCHED_FIFO priority of the next loader thread
        int32_t processor = 0;       // its processor; negative: not pinned
    };

    explicit CSymbolLoader(CSymbolIndex& index) : index_(index) {}
    ~CSymbolLoader();
    CSymbolLoader(const CSymbolLoader&) = delete;
    CSymbolLoader& operator=(const CSymbolLoader&) = delete;

    // Event path. BeginLoad stops a loader that still runs, then starts a new one.
    // EndLoad stops and joins the loader, clears the flags and empties the index.
    void BeginLoad();
    void EndLoad();
    // Drops the roots of an interrupted walk, unless a loader thread owns them.
    void DropRoots();
    // The scheduling of loader threads started from now on (30 and 0 unless set).
    void SetScheduling(int32_t priority, int32_t processor);

    // One complete load on the calling thread (the loader thread runs it).
    void Load();

    bool LoadCompleted() const { return loadCompleted_.load(); }
    void PrepareOnlineChange() { bOnlineChange_.store(true); }
    CStatus Status() const;

   private:
    static void* ThreadRoutine(void* argc);
    void SleepEvent() {}

    CSymbolIndex& index_;
    pthread_t thrd_ = 0;  // the loader thread; event path only
    std::atomic<bool> threadStarted_{false};

    std::atomic<bool> bDownloadFinish_{false};  // stop request for the loader
    std::atomic<bool> bOnlineChange_{false};
    std::atomic<bool> loadCompleted_{false};  // the last walk reached the application

    // Owned by the loader thread while one is alive (thrd_ != 0).
    CSymbolWalk walk_{bDownloadFinish_, bOnlineChange_};

    std::atomic<int32_t> load_SchedPriority_{30};  // SCHED_FIFO priority of the loader thread
    std::atomic<int32_t> load_SchedAffinity_{0};   // processor of the loader thread; negative: not pinned
};

#endif  // SYMBOLS_SYMBOLLOADER_H
