// Loader thread: one load of the application's symbols on a real-time thread of its
// own, "ReLoadSym". A load empties the address index, walks the application, indexes
// what the walk found and then marks the index ready (bDownloadDone_).
//
// BeginLoad and EndLoad run on the host's event path, which the frame
// serialises; thrd_ is touched only there. Stopping combines the cooperative stop
// request, which the walk tests before every host call, with deferred cancellation;
// the join makes EndLoad return only after the loader has ended.
#include <pthread.h>
#include <sched.h>

#include <cerrno>

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
    index->Load();
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
    bDownloadDone_ = false;
    bOnlineChange_ = false;
    DropIndex();  // the last load's trees, freed after the lock is released
    ZentrikLog(ELogText::kLoadStart);
    loadCompleted_ = DumpAll();
    MapAll();
    const size_t symbols = Size();
    // Ready before the end line, so whoever has seen the end line finds the index.
    bDownloadDone_ = true;
    ZentrikLog(ELogText::kLoadEnd, loadCompleted_ ? 1 : 0, static_cast<int>(symbols));
}
