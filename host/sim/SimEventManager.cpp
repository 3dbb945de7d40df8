#include "SimEventManager.h"

#include <algorithm>

CSimEventManager& CSimEventManager::instance() {
    static CSimEventManager manager;
    return manager;
}

void CSimEventManager::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    // Events stay allocated so that handles a component still holds never dangle.
    for (std::unique_ptr<Event>& event : events_) {
        event->open = false;
        event->callbacks.clear();
    }
    openFailures_.clear();
    registerFailures_.clear();
    closeCalls_.clear();
    unregisterCalls_.clear();
    openCalls_.clear();
}

CSimEventManager::Event* CSimEventManager::find(RTS_HANDLE handle) {
    for (std::unique_ptr<Event>& event : events_) {
        if (event.get() == handle) {
            return event.get();
        }
    }
    return nullptr;
}

size_t CSimEventManager::post(EVENTID eventId) {
    std::vector<std::pair<PFEVENTCALLBACKFUNCTION, CMPID>> callbacks;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::unique_ptr<Event>& event : events_) {
            if (event->open && event->id == eventId) {
                for (PFEVENTCALLBACKFUNCTION callback : event->callbacks) {
                    callbacks.emplace_back(callback, event->provider);
                }
            }
        }
    }
    // Callbacks run without the manager's lock: they may take their time and post again.
    for (auto& [callback, provider] : callbacks) {
        EventParam param{};
        param.EventId = eventId;
        param.CmpIdProvider = provider;
        callback(&param);
    }
    return callbacks.size();
}

void CSimEventManager::failOpen(EVENTID eventId, RTS_RESULT result, bool returnHandle) {
    std::lock_guard<std::mutex> lock(mutex_);
    openFailures_[eventId] = {result, returnHandle};
}

void CSimEventManager::failRegister(EVENTID eventId, RTS_RESULT result) {
    std::lock_guard<std::mutex> lock(mutex_);
    registerFailures_[eventId] = result;
}

size_t CSimEventManager::openEvents() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<size_t>(std::count_if(
        events_.begin(), events_.end(), [](const std::unique_ptr<Event>& event) { return event->open; }));
}

size_t CSimEventManager::registeredCallbacks() {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t count = 0;
    for (std::unique_ptr<Event>& event : events_) {
        count += event->open ? event->callbacks.size() : 0;
    }
    return count;
}

std::vector<RTS_HANDLE> CSimEventManager::closeCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return closeCalls_;
}

std::vector<RTS_HANDLE> CSimEventManager::unregisterCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return unregisterCalls_;
}

std::vector<EVENTID> CSimEventManager::openCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return openCalls_;
}

RTS_HANDLE CSimEventManager::EventOpen(EVENTID eventId, CMPID cmpIdProvider, RTS_RESULT* pResult) {
    CSimEventManager& self = instance();
    std::lock_guard<std::mutex> lock(self.mutex_);
    self.openCalls_.push_back(eventId);
    auto failure = self.openFailures_.find(eventId);
    bool handOut = true;
    RTS_RESULT result = ERR_OK;
    if (failure != self.openFailures_.end()) {
        result = failure->second.result;
        handOut = failure->second.returnHandle;
    }
    if (pResult != nullptr) {
        *pResult = result;
    }
    if (!handOut) {
        return RTS_INVALID_HANDLE;
    }
    self.events_.push_back(std::make_unique<Event>(Event{eventId, cmpIdProvider, true, {}}));
    return self.events_.back().get();
}

RTS_RESULT CSimEventManager::EventRegisterCallbackFunction(RTS_HANDLE hEvent,
                                                           PFEVENTCALLBACKFUNCTION pfCallback, int) {
    CSimEventManager& self = instance();
    std::lock_guard<std::mutex> lock(self.mutex_);
    Event* event = self.find(hEvent);
    if (event == nullptr || !event->open) {
        return kSimErrUnknownEvent;
    }
    auto failure = self.registerFailures_.find(event->id);
    if (failure != self.registerFailures_.end()) {
        return failure->second;
    }
    event->callbacks.push_back(pfCallback);
    return ERR_OK;
}

RTS_RESULT CSimEventManager::EventUnregisterCallbackFunction(RTS_HANDLE hEvent,
                                                             PFEVENTCALLBACKFUNCTION pfCallback) {
    CSimEventManager& self = instance();
    std::lock_guard<std::mutex> lock(self.mutex_);
    self.unregisterCalls_.push_back(hEvent);
    Event* event = self.find(hEvent);
    if (event == nullptr || !event->open) {
        return kSimErrUnknownEvent;
    }
    auto it = std::find(event->callbacks.begin(), event->callbacks.end(), pfCallback);
    if (it == event->callbacks.end()) {
        return kSimErrUnknownEvent;
    }
    event->callbacks.erase(it);
    return ERR_OK;
}

RTS_RESULT CSimEventManager::EventClose(RTS_HANDLE hEvent) {
    CSimEventManager& self = instance();
    std::lock_guard<std::mutex> lock(self.mutex_);
    self.closeCalls_.push_back(hEvent);
    Event* event = self.find(hEvent);
    if (event == nullptr || !event->open) {
        return kSimErrUnknownEvent;
    }
    event->open = false;
    event->callbacks.clear();
    return ERR_OK;
}
