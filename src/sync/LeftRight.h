// CLeftRight: a value that any number of threads read without ever waiting, and that
// writers change one at a time.
//
// Two copies of the value: readers read the active one, the writer changes the other,
// makes it the active one, waits until the readers of the first copy have left and
// makes the same change to it. A reader announces itself on one of two counters and
// reads whichever copy is active; it never blocks and never spins, whatever a writer
// does meanwhile. Only the last reader to leave a counter a writer waits for wakes that
// writer (one lock and one notify, the rare case). Writers wait for readers, never the
// other way round, and never spin: a writer of higher priority blocks until the readers
// it waits for have left.
//
// A read must be short (it delays writers) and must not read the value after it returns.
// A change is applied twice, once to each copy, and must do the same to both.
#ifndef SYNC_LEFTRIGHT_H
#define SYNC_LEFTRIGHT_H

#include <atomic>
#include <condition_variable>
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
        readers_[version].fetch_add(1, std::memory_order_seq_cst);
        struct CLeave {
            const CLeftRight& self;
            int version;
            ~CLeave() { self.Leave(version); }
        } leave{*this, version};
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
        if (readers_[0].load() != 0 || readers_[1].load() != 0 || !writerMutex_.try_lock()) {
            return false;
        }
        writerMutex_.unlock();
        return true;
    }

   private:
    void Leave(int version) const {
        if (readers_[version].fetch_sub(1, std::memory_order_seq_cst) == 1 &&
            waiting_[version].load(std::memory_order_seq_cst)) {
            std::lock_guard<std::mutex> lock(leftMutex_);
            left_.notify_all();
        }
    }

    void WaitUntilLeft(int version) {
        if (readers_[version].load(std::memory_order_seq_cst) == 0) {
            return;
        }
        std::unique_lock<std::mutex> lock(leftMutex_);
        waiting_[version].store(true, std::memory_order_seq_cst);
        left_.wait(lock, [&] { return readers_[version].load(std::memory_order_seq_cst) == 0; });
        waiting_[version].store(false, std::memory_order_seq_cst);
    }

    Value copies_[2] = {};
    std::atomic<int> active_{0};
    std::atomic<int> version_{0};
    mutable std::atomic<int> readers_[2] = {};
    mutable std::atomic<bool> waiting_[2] = {};
    mutable std::mutex writerMutex_;
    mutable std::mutex leftMutex_;
    mutable std::condition_variable left_;
};

#endif  // SYNC_LEFTRIGHT_H
