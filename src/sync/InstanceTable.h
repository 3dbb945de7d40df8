// The states of a block's instances, by the address of the instance record: one table
// per block kind (the writer's, the reader's), shared by every task that calls the
// block.
//
// The entries sit in one array ordered by address: a find is a binary search over a few
// entries under a shared hold of a CSharedCounterLock, which a hash table's division for
// its bucket would take longer than. A find hands out the state's shared pointer, so the
// caller works on the state after the lock is released and a state dropped meanwhile
// lives on until its last caller returns. New states are made before the table is held
// exclusively, and states leave it to be freed after the lock: the exclusive holds are
// one insert (which now and then grows the array), one erase or one swap.
#ifndef SYNC_INSTANCETABLE_H
#define SYNC_INSTANCETABLE_H

#include <algorithm>
#include <cstddef>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "sync/Locks.h"

template <typename Key, typename State>
class CInstanceTable {
   public:
    typedef std::shared_ptr<State> StatePtr;

    CInstanceTable() = default;
    CInstanceTable(const CInstanceTable&) = delete;
    CInstanceTable& operator=(const CInstanceTable&) = delete;

    // The instance's state; null when it has none. The pointer is assigned, not copied
    // into place: a copy stores the pointer pair whole and reads its count's address back
    // from the bytes just stored.
    StatePtr Find(Key instance) const {
        StatePtr state;
        CSharedLock<CSharedCounterLock> lock(mutex_);
        const typename Table::const_iterator found = LowerBound(instance);
        if (found != entries_.end() && found->first == instance) {
            state = found->second;
        }
        return state;
    }

    // The instance's state, `made` when it has none yet; another task's, when it added
    // one first.
    StatePtr Insert(Key instance, StatePtr made) {
        StatePtr state;
        {
            CExclusiveLock<CSharedCounterLock> lock(mutex_);
            const typename Table::const_iterator place = LowerBound(instance);
            if (place != entries_.end() && place->first == instance) {
                state = place->second;
            } else {
                entries_.insert(place, Entry(instance, made));
                state = std::move(made);
            }
        }
        return state;  // a state that lost the race is freed here, after the lock
    }

    // Drops the instance's entry when it holds `state` and keep(state) is false, decided
    // under the exclusive hold.
    template <typename Keep>
    void EraseUnless(Key instance, const StatePtr& state, Keep keep) {
        StatePtr dropped;
        {
            CExclusiveLock<CSharedCounterLock> lock(mutex_);
            const typename Table::const_iterator found = LowerBound(instance);
            if (found != entries_.end() && found->first == instance && found->second == state &&
                !keep(*state)) {
                dropped = found->second;
                entries_.erase(found);
            }
        }
        // `dropped` is freed here, after the lock (unless a caller still holds it).
    }

    // Drops every entry. Waits only for the finds in flight.
    void Clear() {
        Table dropped;
        {
            CExclusiveLock<CSharedCounterLock> lock(mutex_);
            dropped.swap(entries_);
        }
        // The states are freed here, after the lock (or by the last call still using one).
    }

    size_t Size() const {
        CSharedLock<CSharedCounterLock> lock(mutex_);
        return entries_.size();
    }

    // True when no call holds the table's lock (a snapshot, for checks).
    bool Idle() const { return mutex_.Idle(); }

   private:
    typedef std::pair<Key, StatePtr> Entry;
    typedef std::vector<Entry> Table;

    typename Table::const_iterator LowerBound(Key instance) const REQUIRES_SHARED(mutex_) {
        return std::lower_bound(entries_.begin(), entries_.end(), instance, [](const Entry& entry, Key key) {
            return std::less<Key>()(entry.first, key);
        });
    }

    mutable CSharedCounterLock mutex_;
    Table entries_ GUARDED_BY(mutex_);
};

#endif  // SYNC_INSTANCETABLE_H
