// Clang thread-safety annotations. With Clang and -Wthread-safety the compiler checks
// that guarded data is touched only under its lock and that functions marked as
// needing a lock are called with it held; with any other compiler they expand to
// nothing. The names follow the common Clang/Abseil spelling.
#ifndef SYNC_THREADANNOTATIONS_H
#define SYNC_THREADANNOTATIONS_H

#if defined(__clang__)
#define ZENTRIK_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ZENTRIK_THREAD_ANNOTATION(x)
#endif

// A type whose objects are locks.
#define CAPABILITY(x) ZENTRIK_THREAD_ANNOTATION(capability(x))
// A type whose objects hold a lock for their lifetime.
#define SCOPED_CAPABILITY ZENTRIK_THREAD_ANNOTATION(scoped_lockable)
// Data read and written only with the lock held (shared is enough to read).
#define GUARDED_BY(x) ZENTRIK_THREAD_ANNOTATION(guarded_by(x))
// The data a pointer points to is guarded by the lock.
#define PT_GUARDED_BY(x) ZENTRIK_THREAD_ANNOTATION(pt_guarded_by(x))
// Lock ordering: this lock is taken after (before) the named ones.
#define ACQUIRED_AFTER(...) ZENTRIK_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define ACQUIRED_BEFORE(...) ZENTRIK_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
// The caller holds the lock exclusively (shared) when it calls the function.
#define REQUIRES(...) ZENTRIK_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) ZENTRIK_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
// The function takes (releases) the lock and returns with it held (released).
#define ACQUIRE(...) ZENTRIK_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) ZENTRIK_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define RELEASE(...) ZENTRIK_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) ZENTRIK_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) ZENTRIK_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define TRY_ACQUIRE_SHARED(...) ZENTRIK_THREAD_ANNOTATION(try_acquire_shared_capability(__VA_ARGS__))
// The caller must not hold the lock (the function takes it itself).
#define EXCLUDES(...) ZENTRIK_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// The function returns a reference to the named lock.
#define RETURN_CAPABILITY(x) ZENTRIK_THREAD_ANNOTATION(lock_returned(x))
// Tells the analysis that the lock is held here (checked at run time elsewhere).
#define ASSERT_CAPABILITY(x) ZENTRIK_THREAD_ANNOTATION(assert_capability(x))
// Turns the analysis off for one function whose locking it cannot follow.
#define NO_THREAD_SAFETY_ANALYSIS ZENTRIK_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif  // SYNC_THREADANNOTATIONS_H
