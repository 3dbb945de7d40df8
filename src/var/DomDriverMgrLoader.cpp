// Loader thread: one load of the application's symbols on a real-time thread of its
// own, "ReLoadSym". A load empties the address index, walks the application, indexes
// what the walk found and then marks the index ready (bDownloadDone).
//
// BeginLoadSymbols and EndLoadSymbols run on the host's event path, which the frame
// serialises; thrd_ is touched only there. Stopping combines the cooperative stop
// request, which the walk tests before every host call, with deferred cancellation;
// the join makes EndLoadSymbols return only after the loader has ended.
#include <pthread.h>
#include <sched.h>

#include <mutex>
#include <shared_mutex>

#include "RV5072_Zentrik/HostImports.h"
#include "utils/comm.h"
#include "var/DomDriverMgr.h"

namespace {

// Entry of the loader thread; argc is the manager.
void* ThreadRoutine(void* argc) {
    CDomDriverMgr* manager = static_cast<CDomDriverMgr*>(argc);
    // Named by itself before any work, so every host call of the load already comes
    // from "ReLoadSym".
    pthread_setname_np(pthread_self(), "ReLoadSym");
    if (manager->load_SchedAffinity_ >= 0) {
        SetAffinity(0, static_cast<unsigned int>(manager->load_SchedAffinity_));
    }
    manager->LoadSymbols();
    return nullptr;
}

}  // namespace

void CDomDriverMgr::BeginLoadSymbols() {
    if (thrd_ != 0) {
        EndLoadSymbols();  // at most one loader thread exists
    }
    bDownloadFinish = false;

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setinheritsched(&attributes, PTHREAD_EXPLICIT_SCHED);
    pthread_attr_setschedpolicy(&attributes, SCHED_FIFO);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_JOINABLE);
    sched_param priority{};
    priority.sched_priority = load_SchedPriority_;
    pthread_attr_setschedparam(&attributes, &priority);

    pthread_t thread = 0;
    const int error = pthread_create(&thread, &attributes, ThreadRoutine, this);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        // No load runs: bDownloadDone stays false, so the datatype calls keep
        // reporting that variables are being loaded.
        ZentrikLog(kLogClassInfo, kLogInfoIdGeneral, "pthread_create failed: %d", error);
        return;
    }
    thrd_ = thread;
}

void CDomDriverMgr::EndLoadSymbols() {
    if (thrd_ != 0) {
        bDownloadFinish = true;
        int error = pthread_cancel(thrd_);
        if (error != 0) {
            ZentrikLog(kLogClassInfo, kLogInfoIdGeneral, "pthread_cancel failed: %d", error);
        }
        error = pthread_join(thrd_, nullptr);
        if (error != 0) {
            ZentrikLog(kLogClassInfo, kLogInfoIdGeneral, "pthread_join failed: %d", error);
        }
        bDownloadFinish = false;
        bDownloadDone = false;
        bOnlineChange = false;
        loadCompleted = false;
        // Roots of an interrupted walk: the loader is gone, so they are ours to drop,
        // and a later load must never index them.
        p_vec_vars.clear();
        thrd_ = 0;
    }
    addr_vars dropped;  // freed after the lock is released
    std::lock_guard<CIndexLock> lock(mtx);
    dropped.swap(map_addr_vars);
}

void CDomDriverMgr::LoadSymbols() {
    SleepEvent();
    if (bDownloadFinish) {
        return;
    }
    bDownloadDone = false;
    bOnlineChange = false;
    {
        addr_vars dropped;  // the last load's trees, freed after the lock is released
        std::lock_guard<CIndexLock> lock(mtx);
        dropped.swap(map_addr_vars);
    }
    ZentrikLog(kLogClassInfo, kLogInfoIdGeneral, "LoadSymbols start");
    loadCompleted = DumpAll();
    MapAll();
    size_t symbols = 0;
    {
        std::shared_lock<CIndexLock> lock(mtx);
        symbols = map_addr_vars.size();
    }
    // Ready before the end line, so whoever has seen the end line finds the index.
    bDownloadDone = true;
    ZentrikLog(kLogClassInfo, kLogInfoIdGeneral, "LoadSymbols end load complete:%d, symbols size: %d",
               loadCompleted ? 1 : 0, static_cast<int>(symbols));
}
