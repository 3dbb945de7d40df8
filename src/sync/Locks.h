// Every lock type of the component, and the scope guards that hold them. The types
// carry Clang's thread-safety annotations (ThreadAnnotations.h), so the analysis checks
// every GUARDED_BY member and every REQUIRES function; they add nothing at run time.
//
// - CMutex: a plain mutex. One writer or reader instance's state; the frame's event
//   actions.
// - CIndexLock: a reader-writer lock that prefers writers. The symbol index, and the
//   locks of the application's variables.
// - CExclusiveLock, CSharedLock: hold one of them for one block.
#ifndef SYNC_LOCKS_H
#define SYNC_LOCKS_H

#include <pthread.h>

#include <mutex>
#include <system_error>

#include "sync/ThreadAnnotations.h"

class CAPABILITY("mutex") CMutex {
   public:
    CMutex() = default;
    CMutex(const CMutex&) = delete;
    CMutex& operator=(const CMutex&) = delete;

    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }

   private:
    std::mutex mutex_;
};

// Calls hold it shared for as long as they use what it guards, so calls from several
// tasks run side by side; the loader's emptying and filling and clear() hold the index's
// exclusively, and a writing call a variable's. Writers are preferred: once a writer
// waits, new readers wait behind it, so a stream of overlapping calls from several tasks
// cannot hold back a reload for ever. A thread must not take it shared twice (a writer
// arriving in between would deadlock it), which the calls never do.
//
// Meets the standard's SharedMutex requirements. A failing lock throws
// std::system_error, as std::shared_mutex does.
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

// Holds `mutex` exclusively from construction to destruction.
template <typename Mutex>
class SCOPED_CAPABILITY CExclusiveLock {
   public:
    explicit CExclusiveLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~CExclusiveLock() RELEASE() { mutex_.unlock(); }
    CExclusiveLock(const CExclusiveLock&) = delete;
    CExclusiveLock& operator=(const CExclusiveLock&) = delete;

   private:
    Mutex& mutex_;
};

// Holds `mutex` shared from construction to destruction.
template <typename Mutex>
class SCOPED_CAPABILITY CSharedLock {
   public:
    explicit CSharedLock(Mutex& mutex) ACQUIRE_SHARED(mutex) : mutex_(mutex) { mutex_.lock_shared(); }
    ~CSharedLock() RELEASE() { mutex_.unlock_shared(); }
    CSharedLock(const CSharedLock&) = delete;
    CSharedLock& operator=(const CSharedLock&) = delete;

   private:
    Mutex& mutex_;
};

#endif  // SYNC_LOCKS_H
