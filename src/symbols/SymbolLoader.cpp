// The loader thread: starting it, stopping it, and one load.
#include "symbols/SymbolLoader.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <limits>

#include "frame/HostImports.h"
#include "utils/comm.h"

// Entry of the loader thread; argc is the loader.
void* CSymbolLoader::ThreadRoutine(void* argc) {
    CSymbolLoader* loader = static_cast<CSymbolLoader*>(argc);
    // Named by itself before any work, so every host call of the load already comes
    // from "ReLoadSym".
    pthread_setname_np(pthread_self(), "ReLoadSym");
    const int32_t processor = loader->load_SchedAffinity_.load();
    if (processor >= 0) {
        SetAffinity(0, static_cast<unsigned int>(processor));
    }
    try {
        loader->Load();
    } catch (const std::exception&) {
        // No memory for the walk's nodes or the index: the load ends without an index,
        // and calls are refused as loading until the next load. (A cancellation's unwind
        // is no std::exception and passes.)
    }
    return nullptr;
}

void CSymbolLoader::BeginLoad() {
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
    priority.sched_priority = load_SchedPriority_.load();
    pthread_attr_setschedparam(&attributes, &priority);

    pthread_t thread = 0;
    threadStarted_ = true;  // before the thread runs, so that it sees itself started
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
        threadStarted_ = false;
        ZentrikLog(ELogText::kThreadCreateFailed, error);
        return;
    }
    thrd_ = thread;
}

void CSymbolLoader::EndLoad() {
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
            index_.DropIndex();
            return;
        }
        bDownloadFinish_ = false;
        index_.Withdraw();
        bOnlineChange_ = false;
        loadCompleted_ = false;
        // Roots of an interrupted walk: the loader is gone, so they are ours to drop,
        // and a later load must never index them.
        walk_.DropRoots();
        thrd_ = 0;
        threadStarted_ = false;
        return;
    }
    index_.DropIndex();
}

void CSymbolLoader::DropRoots() {
    // A live loader thread owns the root list until it is joined; a loader that has
    // finished its load has already handed it over.
    if (thrd_ == 0) {
        walk_.DropRoots();
    }
}

void CSymbolLoader::SetScheduling(int32_t priority, int32_t processor) {
    load_SchedPriority_ = priority;
    load_SchedAffinity_ = processor;
}

CSymbolLoader::CStatus CSymbolLoader::Status() const {
    CStatus status;
    status.threadStarted = threadStarted_.load();
    status.stopRequested = bDownloadFinish_.load();
    status.onlineChange = bOnlineChange_.load();
    status.loadCompleted = loadCompleted_.load();
    status.indexReady = index_.Ready();
    status.roots = walk_.RootCount();
    status.priority = load_SchedPriority_.load();
    status.processor = load_SchedAffinity_.load();
    return status;
}

// Nothing in the component runs this: the manager lives until the process ends.
CSymbolLoader::~CSymbolLoader() { DropRoots(); }

void CSymbolLoader::Load() {
    SleepEvent();
    if (bDownloadFinish_) {
        return;
    }
    index_.Withdraw();  // the last load's trees, freed after the lock is released
    bOnlineChange_ = false;
    ZentrikLog(ELogText::kLoadStart);
    loadCompleted_ = walk_.Run();
    if (bDownloadFinish_) {
        // Stopped: the walk may have left out any part of the application. Nothing is
        // published, so calls stay refused as loading; the stop drops the roots.
        return;
    }
    // Published, and so ready, before the end line: whoever has seen the end line finds
    // the index.
    index_.PublishRoots(walk_.TakeRoots());
    const size_t symbols = index_.Size();
    ZentrikLog(ELogText::kLoadEnd, loadCompleted_ ? 1 : 0,
               static_cast<int>(std::min<size_t>(symbols, std::numeric_limits<int>::max())));
}
