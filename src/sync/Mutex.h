// Lock types the thread-safety analysis understands: a mutex, a reader-writer mutex
// and the scoped holders that take a lock for one block. They wrap the standard types
// and add nothing at run time; the annotations let Clang check every GUARDED_BY member
// and every REQUIRES function of the component.
#ifndef SYNC_MUTEX_H
#define SYNC_MUTEX_H

#include <mutex>
#include <shared_mutex>

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

class CAPABILITY("shared_mutex") CSharedMutex {
   public:
    CSharedMutex() = default;
    CSharedMutex(const CSharedMutex&) = delete;
    CSharedMutex& operator=(const CSharedMutex&) = delete;

    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }
    void lock_shared() ACQUIRE_SHARED() { mutex_.lock_shared(); }
    void unlock_shared() RELEASE_SHARED() { mutex_.unlock_shared(); }

   private:
    std::shared_mutex mutex_;
};

// Holds `mutex` exclusively from construction to destruction. Works with every lock
// type here that has lock() and unlock().
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

#endif  // SYNC_MUTEX_H
