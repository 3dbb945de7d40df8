/* Host SDK stand-in: the event manager. */
#ifndef CMPEVENTMGRITF_H
#define CMPEVENTMGRITF_H

#include "CmpStd.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct tagEventParam {
    EVENTID EventId;
    CMPID CmpIdProvider;
    RTS_UI16 usParamId;
    RTS_UI16 usVersion;
    void* pParameter;
    void* pUserParameter;
} EventParam;

typedef void (*PFEVENTCALLBACKFUNCTION)(EventParam* pEventParam);

typedef RTS_HANDLE (*PF_EVENT_OPEN)(EVENTID EventId, CMPID CmpIdProvider, RTS_RESULT* pResult);
typedef RTS_RESULT (*PF_EVENT_REGISTER_CALLBACK_FUNCTION)(RTS_HANDLE hEvent, PFEVENTCALLBACKFUNCTION pfCallback,
                                                          int bIec);
typedef RTS_RESULT (*PF_EVENT_UNREGISTER_CALLBACK_FUNCTION)(RTS_HANDLE hEvent, PFEVENTCALLBACKFUNCTION pfCallback);
typedef RTS_RESULT (*PF_EVENT_CLOSE)(RTS_HANDLE hEvent);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(EventParam) == 32, "EventParam is 32 bytes");
static_assert(offsetof(EventParam, CmpIdProvider) == 4, "EventParam layout");
static_assert(offsetof(EventParam, usParamId) == 8, "EventParam layout");
static_assert(offsetof(EventParam, usVersion) == 10, "EventParam layout");
static_assert(offsetof(EventParam, pParameter) == 16, "EventParam layout");
static_assert(offsetof(EventParam, pUserParameter) == 24, "EventParam layout");
#endif

#endif /* CMPEVENTMGRITF_H */
