// The boundary of every entry into the component (an external function, the entry point,
// a host event callback): nothing thrown inside leaves it. An exception that reaches it is
// the refusal of that one call, logged once: "Out of memory" for a failed allocation,
// "Call failed" for anything else (a lock the system refused). What the call changed
// before is the part's own to undo; every part refuses a failed allocation itself and
// leaves its state as it was.
//
// Stateless; any thread.
#ifndef FRAME_CALLGUARD_H
#define FRAME_CALLGUARD_H

#include <new>

#include "frame/HostImports.h"
#include "frame/LogTexts.h"

template <typename Call>
void GuardedCall(Call call) noexcept {
    try {
        call();
    } catch (const std::bad_alloc&) {
        LogRefusedCall(ELogText::kOutOfMemory);
    } catch (...) {
        LogRefusedCall(ELogText::kCallFailed);
    }
}

#endif  // FRAME_CALLGUARD_H
