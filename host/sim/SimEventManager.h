// CSimEventManager: the simulated host's event manager. Components open events,
// register callbacks and close them again; a test or the command-line host posts an
// event, which runs every registered callback synchronously on the posting thread.
//
// Failure injection: the open or the callback registration of one event id can be made
// to fail with a chosen result code.
#ifndef SIM_SIMEVENTMANAGER_H
#define SIM_SIMEVENTMANAGER_H

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "CmpEventMgrItf.h"
#include "ZentrikAppEvents.h"

// The command-line host's names for the events that act on the component.
constexpr EVENTID kSimEventPrepareReset = kEventPrepareReset;
constexpr EVENTID kSimEventResetDone = kEventResetDone;
constexpr EVENTID kSimEventPrepareDelete = kEventPrepareDelete;
constexpr EVENTID kSimEventDownloadDone = kEventDownloadDone;
constexpr EVENTID kSimEventDeleteAllApps = kEventDeleteAllApps;

class CSimEventManager {
   public:
    static CSimEventManager& instance();

    // Forgets every event, callback, injected failure and recorded call.
    void reset();

    // Posts an event: every callback registered for it runs on the calling thread.
    // Returns how many callbacks ran.
    size_t post(EVENTID eventId);

    // The next opens of eventId fail with `result`; with `returnHandle` the failing
    // open still hands out a handle.
    void failOpen(EVENTID eventId, RTS_RESULT result, bool returnHandle = false);
    void failRegister(EVENTID eventId, RTS_RESULT result);

    size_t openEvents();           // opened and not yet closed
    size_t registeredCallbacks();  // over all events
    std::vector<RTS_HANDLE> closeCalls();
    std::vector<RTS_HANDLE> unregisterCalls();
    std::vector<EVENTID> openCalls();

    // The host functions, as the component imports them.
    static RTS_HANDLE EventOpen(EVENTID eventId, CMPID cmpIdProvider, RTS_RESULT* pResult);
    static RTS_RESULT EventRegisterCallbackFunction(RTS_HANDLE hEvent, PFEVENTCALLBACKFUNCTION pfCallback,
                                                    int bIec);
    static RTS_RESULT EventUnregisterCallbackFunction(RTS_HANDLE hEvent, PFEVENTCALLBACKFUNCTION pfCallback);
    static RTS_RESULT EventClose(RTS_HANDLE hEvent);

   private:
    struct Event {
        EVENTID id;
        CMPID provider;
        bool open;
        std::vector<PFEVENTCALLBACKFUNCTION> callbacks;
    };
    struct Failure {
        RTS_RESULT result;
        bool returnHandle;
    };

    Event* find(RTS_HANDLE handle);  // REQUIRES: mutex_ held

    std::mutex mutex_;
    std::vector<std::unique_ptr<Event>> events_;  // handles point into these; never freed
    std::map<EVENTID, Failure> openFailures_;
    std::map<EVENTID, RTS_RESULT> registerFailures_;
    std::vector<RTS_HANDLE> closeCalls_;
    std::vector<RTS_HANDLE> unregisterCalls_;
    std::vector<EVENTID> openCalls_;
};

// Result codes of the simulated event manager.
constexpr RTS_RESULT kSimErrUnknownEvent = 0x11;

#endif  // SIM_SIMEVENTMANAGER_H
