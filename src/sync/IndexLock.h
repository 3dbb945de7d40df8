// CIndexLock: the reader-writer lock of the address index.
//
// Datatype calls hold it shared for as long as they use an indexed node, so calls from
// several tasks run side by side; the loader's emptying and filling and clear() hold it
// exclusively. Writers are preferred: once a writer waits, new readers wait behind it,
// so a stream of overlapping calls from several tasks cannot hold back a reload for
// ever. A thread must not take it shared twice (a writer arriving in between would
// deadlock it), which the datatype calls never do.
//
// Meets the standard's SharedMutex requirements, so std::unique_lock, std::lock_guard
// and std::shared_lock work with it. A failing lock throws std::system_error, as
// std::shared_mutex does.
#ifndef SYNC_INDEXLOCK_H
#define SYNC_INDEXLOCK_H

#include <pthread.h>

#include <system_error>

#include "sync/ThreadAnnotations.h"

class CAPABILITY("shared_mutex") CIndexLock {
   public:
    CIndexLock() {
        pthread_rwlockattr_t attributes;
        pthread_rwlockattr_init(&attributes);
        pthread_rwlockattr_setkind_np(&attributes, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
        pthread_rwlock_init(&lock_, &attributes);
        pthread_rwlockattr_destroy(&attributes);
    }
    ~CIndexLock() { pthread_rwlock_destroy(&lock_); }
    CIndexLock(const CIndexLock&) = delete;
    CIndexLock& operator=(const CIndexLock&) = delete;

    void lock() ACQUIRE() { Check(pthread_rwlock_wrlock(&lock_)); }
    bool try_lock() TRY_ACQUIRE(true) { return pthread_rwlock_trywrlock(&lock_) == 0; }
    void unlock() RELEASE() { pthread_rwlock_unlock(&lock_); }

    void lock_shared() ACQUIRE_SHARED() { Check(pthread_rwlock_rdlock(&lock_)); }
    bool try_lock_shared() TRY_ACQUIRE_SHARED(true) { return pthread_rwlock_tryrdlock(&lock_) == 0; }
    void unlock_shared() RELEASE_SHARED() { pthread_rwlock_unlock(&lock_); }

   private:
    static void Check(int error) {
        if (error != 0) {
            throw std::system_error(error, std::system_category(), "index lock");
        }
    }

    pthread_rwlock_t lock_;
};

#endif  // SYNC_INDEXLOCK_H
