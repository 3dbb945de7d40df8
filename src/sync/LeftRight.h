// CLeftRight: a value that any number of threads read without ever waiting, and that
// writers change one at a time.
//
// Two copies of the value: readers read the active one, the writer changes the other,
// makes it the active one, waits until the readers of the first copy have left and
// makes the same change to it. A reader announces itself on one of two counters and
// reads whichever copy is active; it never blocks and never spins, whatever a writer
// does meanwhile. Writers wait for readers, never the other way round: a writer looks
// for a few microseconds, then sleeps until the last reader to leave wakes it (one lock
// and one notify in that reader, the rare case), so a writer of higher priority never
// keeps the readers it waits for from finishing.
//
// A read must be short (it delays writers) and must not read the value after it returns.
// A change is applied twice, once to each copy, and must do the same to both.
#ifndef SYNC_LEFTRIGHT_H
#define SYNC_LEFTRIGHT_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>

template <typename Value>
class CLeftRight {
   public:
    CLeftRight() = default;
    CLeftRight(const CLeftRight&) = delete;
    CLeftRight& operator=(const CLeftRight&) = delete;

    // read(const Value&), with the active copy; returns what read returns.
    template <typename ReadFunction>
    auto Read(ReadFunction read) const {
        const int version = version_.load(std::memory_order_seq_cst);
        CReaderCount& readers = readers_[version][ReaderSlot()];
        readers.count.fetch_add(1, std::memory_order_seq_cst);
        struct CLeave {
            const CLeftRight& self;
            CReaderCount& readers;
            int version;
            ~CLeave() { self.Leave(readers, version); }
        } leave{*this, readers, version};
        return read(copies_[active_.load(std::memory_order_seq_cst)]);
    }

    // change(Value&) on each copy in turn, the inactive one first; returns what the second
    // application returns. Writers take turns.
    template <typename ChangeFunction>
    auto Write(ChangeFunction change) {
        std::lock_guard<std::mutex> writer(writerMutex_);
        const int active = active_.load(std::memory_order_seq_cst);
        change(copies_[1 - active]);
        active_.store(1 - active, std::memory_order_seq_cst);
        // Readers that may still read the old copy entered under either version: new ones
        // enter under the other version from here on, and both are drained in turn.
        const int version = version_.load(std::memory_order_seq_cst);
        WaitUntilLeft(1 - version);
        version_.store(1 - version, std::memory_order_seq_cst);
        WaitUntilLeft(version);
        return change(copies_[active]);
    }

    // True when no reader and no writer is inside (a snapshot, for checks).
    bool Idle() const {
        if (Inside(0) || Inside(1) || !writerMutex_.try_lock()) {
            return false;
        }
        writerMutex_.unlock();
        return true;
    }

   private:
    // The readers that entered under one version, counted in one of several slots, each
    // a cache line of its own: a task counts itself in the slot of its thread, so that the
    // reads of two tasks do not pass one line back and forth between their processors.
    // The two versions count on separate lines: a writer waiting for the readers of one
    // version looks at lines that the readers entering meanwhile (under the other) do not
    // write, so its looks do not take the line from under every read.
    struct alignas(64) CReaderCount {
        std::atomic<int> count{0};
    };
    static constexpr size_t kReaderSlots = 16;

    static size_t ReaderSlot() {
        static std::atomic<size_t> s_next{0};
        thread_local const size_t t_slot = s_next.fetch_add(1, std::memory_order_relaxed) % kReaderSlots;
        return t_slot;
    }

    bool Inside(int version) const {
        for (const CReaderCount& readers : readers_[version]) {
            if (readers.count.load(std::memory_order_seq_cst) != 0) {
                return true;
            }
        }
        return false;
    }

    void Leave(CReaderCount& readers, int version) const {
        if (readers.count.fetch_sub(1, std::memory_order_seq_cst) == 1 &&
            waiting_[version].load(std::memory_order_seq_cst)) {
            std::lock_guard<std::mutex> lock(leftMutex_);
            left_.notify_all();
        }
    }

    void WaitUntilLeft(int version) {
        // A read takes tens of nanoseconds: the writer looks again for a few microseconds
        // before it sleeps, so that the reader leaving need not wake it (a system call in
        // the reader's task). Bounded, so a writer of higher priority on the reader's
        // processor soon sleeps and lets the reader finish.
        for (int look = 0; look < kLooksBeforeSleeping; ++look) {
            if (!Inside(version)) {
                return;
            }
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
        std::unique_lock<std::mutex> lock(leftMutex_);
        waiting_[version].store(true, std::memory_order_seq_cst);
        left_.wait(lock, [&] { return !Inside(version); });
        waiting_[version].store(false, std::memory_order_seq_cst);
    }

    static constexpr int kLooksBeforeSleeping = 32;

    // What every read reads and only a write changes, on one line of its own where the
    // copies fit: a write moves the line to the writer's processor, and a read after it
    // then brings the version, the active copy's index and the copy in one transfer
    // rather than two.
    alignas(64) std::atomic<int> active_{0};
    std::atomic<int> version_{0};
    mutable std::atomic<bool> waiting_[2] = {};
    Value copies_[2] = {};
    mutable CReaderCount readers_[2][kReaderSlots];
    alignas(64) mutable std::mutex writerMutex_;
    mutable std::mutex leftMutex_;
    mutable std::condition_variable left_;
};

#endif  // SYNC_LEFTRIGHT_H
