// The kept memory of JSON-to-variable calls.
#include "convert/JsonToVariableStates.h"

#include <new>
#include <utility>

std::unique_ptr<CJsonToVariableState> CJsonToVariableStates::take() {
    std::unique_ptr<CJsonToVariableState> state;
    uint64_t generation = 0;
    {
        CExclusiveLock<CMutex> lock(mtx_);
        generation = generation_;
        if (!kept_.empty()) {
            state = std::move(kept_.back());
            kept_.pop_back();
        }
    }
    if (!state) {
        state = std::make_unique<CJsonToVariableState>();
    }
    state->generation = generation;
    return state;
}

void CJsonToVariableStates::give(std::unique_ptr<CJsonToVariableState> state) {
    if (!state) {
        return;
    }
    {
        CExclusiveLock<CMutex> lock(mtx_);
        if (state->generation == generation_) {
            try {
                kept_.push_back(std::move(state));
            } catch (const std::bad_alloc&) {
                // Not kept: freed below.
            }
        }
    }
    // A state not kept is freed here, after the lock.
}

void CJsonToVariableStates::clear() {
    std::vector<std::unique_ptr<CJsonToVariableState>> dropped;
    {
        CExclusiveLock<CMutex> lock(mtx_);
        ++generation_;
        dropped.swap(kept_);
    }
}
