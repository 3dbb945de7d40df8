// The states of a block's instances, by the address of the instance record: one table
// per block kind (the writer's, the reader's), shared by every task that calls the
// block.
//
// The entries sit in one array ordered by address: a find is a binary search over a few
// entries, which a hash table's division for its bucket would take longer than. The
// array is a CLeftRight: a find never waits, whatever another instance's reset, a new
// instance or a clear does to the table meanwhile; those take turns and wait for the
// finds in flight. A find hands out the state's shared pointer, so the caller works on
// the state after its read and a state dropped meanwhile lives on until its last caller
// returns. New states are made before the table is written, and states leave it to be
// freed after the write: a write is one insert (which now and then grows the arrays),
// one erase or one swap, on each of the two copies.
#ifndef SYNC_INSTANCETABLE_H
#define SYNC_INSTANCETABLE_H

#include <algorithm>
#include <cstddef>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "sync/LeftRight.h"

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
        entries_.Read([&](const Table& entries) {
            const typename Table::const_iterator found = LowerBound(entries, instance);
            if (found != entries.end() && found->first == instance) {
                state = found->second;
            }
            return 0;
        });
        return state;
    }

    // The instance's state, `made` when it has none yet; another task's, when it added
    // one first.
    StatePtr Insert(Key instance, StatePtr made) {
        StatePtr state;
        entries_.Write([&](Table& entries) {
            const typename Table::const_iterator place = LowerBound(entries, instance);
            if (place != entries.end() && place->first == instance) {
                state = place->second;
            } else {
                entries.insert(place, Entry(instance, made));
                state = made;
            }
            return 0;
        });
        return state;  // a state that lost the race is freed with `made`, after the write
    }

    // Drops the instance's entry when it holds `state` and keep(state) is false, decided
    // once, while the table is written.
    template <typename Keep>
    void EraseUnless(Key instance, const StatePtr& state, Keep keep) {
        StatePtr dropped;
        int decided = -1;  // -1: not yet; 0: kept; 1: dropped
        entries_.Write([&](Table& entries) {
            const typename Table::const_iterator found = LowerBound(entries, instance);
            if (decided < 0) {
                decided = found != entries.end() && found->first == instance && found->second == state &&
                                  !keep(*state)
                              ? 1
                              : 0;
            }
            if (decided == 1) {
                dropped = found->second;
                entries.erase(found);
            }
            return 0;
        });
        // `dropped` is freed here, after the write (unless a caller still holds it).
    }

    // Drops every entry. Waits only for the finds in flight.
    void Clear() {
        Table dropped[2];
        int copy = 0;
        entries_.Write([&](Table& entries) {
            dropped[copy++].swap(entries);
            return 0;
        });
        // The states are freed here, after the write (or by the last call still using one).
    }

    size_t Size() const {
        return entries_.Read([](const Table& entries) { return entries.size(); });
    }

    // True when no call is inside the table (a snapshot, for checks).
    bool Idle() const { return entries_.Idle(); }

   private:
    typedef std::pair<Key, StatePtr> Entry;
    typedef std::vector<Entry> Table;

    static typename Table::const_iterator LowerBound(const Table& entries, Key instance) {
        return std::lower_bound(entries.begin(), entries.end(), instance, [](const Entry& entry, Key key) {
            return std::less<Key>()(entry.first, key);
        });
    }

    CLeftRight<Table> entries_;
};

#endif  // SYNC_INSTANCETABLE_H
