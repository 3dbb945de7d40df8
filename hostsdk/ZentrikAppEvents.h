// The host's application events that the component subscribes to, shared by the
// component (subscription and callback) and the simulated host (which posts them).
#ifndef ZENTRIK_APP_EVENTS_H
#define ZENTRIK_APP_EVENTS_H

#include <cstddef>

#include "CmpStd.h"

// The five events that act on the component.
constexpr EVENTID kEventPrepareReset = 0x10005;
constexpr EVENTID kEventResetDone = 0x10006;
constexpr EVENTID kEventPrepareDelete = 0x10009;
constexpr EVENTID kEventDownloadDone = 0x1000A;
constexpr EVENTID kEventDeleteAllApps = 0x10030;

// Every subscribed event, in subscription order; the others arrive and are ignored.
// 0x1000B is not among them.
// clang-format off
inline constexpr EVENTID kSubscribedAppEvents[] = {
    0x10001, 0x10002, 0x10003, 0x10004, kEventPrepareReset, kEventResetDone,
    0x10007, 0x10008, kEventPrepareDelete, kEventDownloadDone, 0x1000C, 0x1000D,
    0x1000E, 0x1000F, 0x10022, 0x10023, kEventDeleteAllApps, 0x10031};
// clang-format on
inline constexpr size_t kSubscribedAppEventCount =
    sizeof(kSubscribedAppEvents) / sizeof(kSubscribedAppEvents[0]);
static_assert(kSubscribedAppEventCount == 18, "18 subscribed events");

#endif  // ZENTRIK_APP_EVENTS_H
