// Loader thread: one load of the application's symbols on a real-time thread of its
// own, "ReLoadSym". A load takes the published index away (calls are refused as loading
// from then on), walks the application, builds the index of what the walk found beside
// and publishes it with the ready flag (bDownloadDone_) in one step under the lock.
//
// BeginLoad and EndLoad run on the host's event path, which the frame
// serialises; thrd_ is touched only there. Stopping combines the cooperative stop
// request, which the walk tests before every host call, with deferred cancellation;
// the join makes EndLoad return only after the loader has ended.
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <limits>

#include "frame/HostImports.h"
#include "symbols/SymbolIndex.h"
#include "utils/comm.h"

// Entry of the loader thread; argc is the index.
void* CSymbolIndex::ThreadRoutine(void* argc) {
    CSymbolIndex* index = static_cast<CSymbolIndex*>(argc);
    // Named by itself before any work, so every host call of the load already comes
    // from "ReLoadSym".
    pthread_setname_np(pthread_self(), "ReLoadSym");
    if (index->load_SchedAffinity_ >= 0) {
        SetAffinity(0, static_cast<unsigned int>(index->load_SchedAffinity_));
    }
    try {
        index->Load();
    } catch (const std::exception&) {
        // No memory for the walk's nodes or the index: the load ends without an index,
        // and calls are refused as loading until the next load. (A cancellation's unwind
        // is no std::exception and passes.)
    }
    return nullptr;
}

// Called at the start of every load and whenever the walk sees an online change.
void CSymbolIndex::SleepEvent() {}

void CSymbolIndex::BeginLoad() {
    if (thrd_ != 0) {
        EndLoad();  // at most one loader thread exists
    }
    bDownloadFinish_ = false;

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setinheritsched(&attributes, PTHREAD_EXPLICIT_SCHED);
    pthread_attr_setschedpolicy(&attributes, SCHED_FIFO);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_JOINABLE);
    sched_param priority{};
    priority.sched_priority = load_SchedPriority_;
    pthread_attr_setschedparam(&attributes, &priority);

    pthread_t thread = 0;
    int error = pthread_create(&thread, &attributes, ThreadRoutine, this);
    pthread_attr_destroy(&attributes);
    if (error == EPERM) {
        // The process may not use real-time scheduling (no CAP_SYS_NICE, RLIMIT_RTPRIO
        // too low). A load at the default policy is slower under load but correct;
        // without it the datatype block would refuse every call for the process's life.
        // Explicit SCHED_OTHER, so the loader never takes over the policy of the thread
        // that starts it.
        ZentrikLog(ELogText::kNoRealTimePriority, error);
        pthread_attr_init(&attributes);
        pthread_attr_setinheritsched(&attributes, PTHREAD_EXPLICIT_SCHED);
        pthread_attr_setschedpolicy(&attributes, SCHED_OTHER);
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_JOINABLE);
        sched_param standard{};
        pthread_attr_setschedparam(&attributes, &standard);
        error = pthread_create(&thread, &attributes, ThreadRoutine, this);
        pthread_attr_destroy(&attributes);
    }
    if (error != 0) {
        // No load runs: bDownloadDone_ stays false, so the datatype calls keep
        // reporting that variables are being loaded.
        ZentrikLog(ELogText::kThreadCreateFailed, error);
        return;
    }
    thrd_ = thread;
}

void CSymbolIndex::EndLoad() {
    if (thrd_ != 0) {
        bDownloadFinish_ = true;
        int error = pthread_cancel(thrd_);
        if (error != 0) {
            ZentrikLog(ELogText::kThreadCancelFailed, error);
        }
        error = pthread_join(thrd_, nullptr);
        if (error != 0) {
            ZentrikLog(ELogText::kThreadJoinFailed, error);
            // The loader may still run: it keeps its roots, the stop request stays set
            // and thrd_ stays, so the next stop tries the join again. The index is
            // still emptied; the loader only ever takes its lock to write.
            DropIndex();
            return;
        }
        bDownloadFinish_ = false;
        bDownloadDone_ = false;
        bOnlineChange_ = false;
        loadCompleted_ = false;
        // Roots of an interrupted walk: the loader is gone, so they are ours to drop,
        // and a later load must never index them.
        p_vec_vars_.clear();
        thrd_ = 0;
    }
    DropIndex();
}

void CSymbolIndex::Load() {
    SleepEvent();
    if (bDownloadFinish_) {
        return;
    }
    Replace(nullptr, false);  // the last load's trees, freed after the lock is released
    bOnlineChange_ = false;
    Reached(ELoadStep::kEmptied);
    ZentrikLog(ELogText::kLoadStart);
    loadCompleted_ = DumpAll();
    if (bDownloadFinish_) {
        // Stopped: the walk may have left out any part of the application. Nothing is
        // published, so calls stay refused as loading; the stop drops the roots.
        return;
    }
    // Published, and so ready, before the end line: whoever has seen the end line finds
    // the index.
    MapAll();
    Reached(ELoadStep::kPublished);
    const size_t symbols = Size();
    ZentrikLog(ELogText::kLoadEnd, loadCompleted_ ? 1 : 0,
               static_cast<int>(std::min<size_t>(symbols, std::numeric_limits<int>::max())));
}
