// The memory of JSON-to-variable calls (the datatype block's and the reader's
// ToVariable), kept from one call to the next so that a task that writes texts of one
// shape every cycle takes nothing from the heap: the walk's (the text's copy, its notes,
// within a budget of the memory cap) and the report.
//
// CJsonToVariableStates keeps the states no call uses now. A call takes one (a kept one,
// or a new one when every kept one is in use, so calls of several tasks never wait on
// each other's work) and gives it back when it returns; there are never more states
// than calls that ran at one time. clear() gives back the kept ones, and a state taken
// before a clear() is freed when its call gives it back. The lock guards the list only
// and is held for a pop or a push; states are freed after it is released.
#ifndef CONVERT_JSONTOVARIABLESTATES_H
#define CONVERT_JSONTOVARIABLESTATES_H

#include <cstdint>
#include <memory>
#include <vector>

#include "convert/JsonToVariableStream.h"
#include "convert/SymbolWriteReport.h"
#include "sync/Locks.h"
#include "sync/ThreadAnnotations.h"

// One call's memory; used by that call alone.
struct CJsonToVariableState {
    CJsonToVariableStream stream;
    CSymbolWriteReport report;
    uint64_t generation = 0;  // of the list it was taken from
};

class CJsonToVariableStates {
   public:
    CJsonToVariableStates() = default;
    CJsonToVariableStates(const CJsonToVariableStates&) = delete;
    CJsonToVariableStates& operator=(const CJsonToVariableStates&) = delete;

    // A state for one call. Throws std::bad_alloc when a new one cannot be made.
    std::unique_ptr<CJsonToVariableState> take() EXCLUDES(mtx_);
    // Keeps the state for a later call, unless the list was cleared since it was taken.
    void give(std::unique_ptr<CJsonToVariableState> state) EXCLUDES(mtx_);
    // Frees every kept state.
    void clear() EXCLUDES(mtx_);

   private:
    CMutex mtx_;
    std::vector<std::unique_ptr<CJsonToVariableState>> kept_ GUARDED_BY(mtx_);
    uint64_t generation_ GUARDED_BY(mtx_) = 0;
};

#endif  // CONVERT_JSONTOVARIABLESTATES_H
