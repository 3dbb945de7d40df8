// The host services the component imports by name: one pointer per host function,
// named pf followed by the function's name, null until the import fills it. Functions
// the component calls carry their real prototype; the others are kept as generic
// pointers. Also the one helper every component log message goes through.
#ifndef RV5072_ZENTRIK_HOSTIMPORTS_H
#define RV5072_ZENTRIK_HOSTIMPORTS_H

#include "CmpEventMgrItf.h"
#include "CmpIecVarAccessItf.h"
#include "CmpItf.h"
#include "CmpLogItf.h"
#include "CmpStd.h"

// Component id written to the host's initialisation record and passed with every
// registration and every log entry.
constexpr CMPID kZentrikCmpId = 0x17d22002;

extern PF_LOG_ADD pfLogAdd;
extern RTS_VOID_FCTPTR pfCMUtlMemCpy;
extern RTS_VOID_FCTPTR pfSysFileWrite;
extern RTS_VOID_FCTPTR pfSysFileRead;
extern RTS_VOID_FCTPTR pfSysFileClose;
extern RTS_VOID_FCTPTR pfSysFileOpen;
extern RTS_VOID_FCTPTR pfLogGetEntry;
extern RTS_VOID_FCTPTR pfLogGetNextEntry;
extern RTS_VOID_FCTPTR pfLogGetFirstEntry;
extern RTS_VOID_FCTPTR pfLogGetNextLogger;
extern RTS_VOID_FCTPTR pfLogFormatCsvMessage;
extern RTS_VOID_FCTPTR pfLogFormatTimestamp;
extern RTS_VOID_FCTPTR pfLogConvertTimestamp;
extern RTS_VOID_FCTPTR pfLogGetFirstLogger;
extern RTS_VOID_FCTPTR pfLogGetName;
extern RTS_VOID_FCTPTR pfLogGetEntryByQueueIndex;
extern RTS_VOID_FCTPTR pfLogGetEntryByIndex;
extern RTS_VOID_FCTPTR pfLogUnregisterBackend;
extern RTS_VOID_FCTPTR pfLogDumpEntries;
extern RTS_VOID_FCTPTR pfLogDumpAll;
extern RTS_VOID_FCTPTR pfLogAdd3Arg;
extern RTS_VOID_FCTPTR pfLogAdd2Arg;
extern RTS_VOID_FCTPTR pfLogAddArg;
extern RTS_VOID_FCTPTR pfLogAdd3;
extern RTS_VOID_FCTPTR pfLogAdd2;
extern RTS_VOID_FCTPTR pfLogGetFilter2;
extern RTS_VOID_FCTPTR pfLogGetFilter;
extern RTS_VOID_FCTPTR pfLogSetFilter;
extern RTS_VOID_FCTPTR pfLogEnable;
extern RTS_VOID_FCTPTR pfLogGetOptions;
extern RTS_VOID_FCTPTR pfLogDelete;
extern RTS_VOID_FCTPTR pfLogClose;
extern RTS_VOID_FCTPTR pfLogOpen;
extern RTS_VOID_FCTPTR pfIecVarAccBrowseGetNext2;
extern RTS_VOID_FCTPTR pfIecVarAccBrowseDown2;
extern PF_IECVARACC_EXIT_VAR_INFO pfIecVarAccExitVarInfo;
extern RTS_VOID_FCTPTR pfIecVarAccGetTypeName;
extern PF_IECVARACC_GET_ADDRESS3 pfIecVarAccGetAddress3;
extern RTS_VOID_FCTPTR pfIecVarAccGetAccessRights2;
extern PF_IECVARACC_GET_TYPE_CLASS3 pfIecVarAccGetTypeClass3;
extern PF_IECVARACC_GET_SIZE3 pfIecVarAccGetSize3;
extern RTS_VOID_FCTPTR pfIecVarAccGetNodeFullPath3;
extern PF_IECVARACC_INIT_VAR_INFO pfIecVarAccInitVarInfo;
extern RTS_VOID_FCTPTR pfAppGetFirstApp;
extern RTS_VOID_FCTPTR pfAppGetAreaOffsetByAddress;
extern RTS_VOID_FCTPTR pfAppGetApplicationByAreaAddress;
extern RTS_VOID_FCTPTR pfIecTaskGetByIndex;
extern RTS_VOID_FCTPTR pfIecTaskGetCurrent;
extern RTS_VOID_FCTPTR pfIecTaskGetHandle;
extern RTS_VOID_FCTPTR pfIecTaskGetDesc;
extern RTS_VOID_FCTPTR pfIecTaskGetNext;
extern RTS_VOID_FCTPTR pfIecTaskGetFirst;
extern RTS_VOID_FCTPTR pfIecTaskUnregisterSlotCallbacks;
extern RTS_VOID_FCTPTR pfIecTaskUnregisterSlotCallback;
extern RTS_VOID_FCTPTR pfIecTaskRegisterSlotCallback;
extern RTS_VOID_FCTPTR pfIecTaskRegisterSlotCallbacks;
extern PF_EVENT_UNREGISTER_CALLBACK_FUNCTION pfEventUnregisterCallbackFunction;
extern PF_EVENT_REGISTER_CALLBACK_FUNCTION pfEventRegisterCallbackFunction;
extern RTS_VOID_FCTPTR pfEventPost;
extern PF_EVENT_CLOSE pfEventClose;
extern PF_EVENT_OPEN pfEventOpen;
extern RTS_VOID_FCTPTR pfAppReleaseForceValue;
extern RTS_VOID_FCTPTR pfAppAddForceValue;
extern PF_IECVARACC_BROWSE_GET_ROOT pfIecVarAccBrowseGetRoot;
extern RTS_VOID_FCTPTR pfIecVarAccGetTypeClass;
extern PF_IECVARACC_GET_TYPE_DESC pfIecVarAccGetTypeDesc;
extern PF_IECVARACC_GET_NODE_NAME pfIecVarAccGetNodeName;
extern PF_IECVARACC_GET_NODE_TYPE pfIecVarAccGetNodeType;
extern PF_IECVARACC_GET_TYPE_NODE3 pfIecVarAccGetTypeNode3;
extern RTS_VOID_FCTPTR pfIecVarAccSetValue3;
extern RTS_VOID_FCTPTR pfIecVarAccGetValue3;
extern RTS_VOID_FCTPTR pfIecVarAccGetSize;
extern RTS_VOID_FCTPTR pfIecVarAccGetAddress2;
extern PF_IECVARACC_GET_NODE3 pfIecVarAccGetNode3;
extern RTS_VOID_FCTPTR pfIecVarAccGetAccessRights;
extern PF_IECVARACC_BROWSE_GET_NEXT pfIecVarAccBrowseGetNext;
extern RTS_VOID_FCTPTR pfIecVarAccGetValue;
extern RTS_VOID_FCTPTR pfIecVarAccSetValue;
extern PF_IECVARACC_BROWSE_DOWN pfIecVarAccBrowseDown;
extern PF_IECVARACC_GET_NODE pfIecVarAccGetNode;
extern RTS_VOID_FCTPTR pfIecVarAccGetNodeName3;
extern RTS_VOID_FCTPTR pfIecVarAccGetNodeName4;
extern PF_IECVARACC_GET_NODE_FULL_PATH pfIecVarAccGetNodeFullPath;
extern PF_IECVARACC_GET_APPLICATION_NAME pfIecVarAccGetApplicationName;
extern RTS_VOID_FCTPTR pfIecVarAccGetNextInterface;
extern PF_IECVARACC_GET_FIRST_INTERFACE pfIecVarAccGetFirstInterface;
extern RTS_VOID_FCTPTR pfSysMemFreeData;
extern RTS_VOID_FCTPTR pfSysMemAllocData;
extern RTS_VOID_FCTPTR pfSysOutPrintf;
extern RTS_VOID_FCTPTR pfSysTimeRtcHighResGet;
extern RTS_VOID_FCTPTR pfSysTimeGetMs;

// Number of host functions imported by name.
constexpr int kImportedHostFunctions = 91;

// Log classes and info ids of the component's messages.
constexpr int kLogClassInfo = 1;
constexpr int kLogClassError = 4;
constexpr RTS_UI32 kLogInfoIdGeneral = 0;  // hooks and the loader
constexpr RTS_UI32 kLogInfoIdCalls = 10;   // events, refused writer and datatype calls

// Writes one entry to the host log: null logger, the component id, error id 0. When the
// host offers no LogAdd (an optional import) nothing is logged.
template <typename... Args>
inline void ZentrikLog(int logClass, RTS_UI32 infoId, const char* format, Args... args) {
    PF_LOG_ADD logAdd = pfLogAdd;
    if (logAdd != nullptr) {
        logAdd(nullptr, kZentrikCmpId, logClass, 0, infoId, format, args...);
    }
}

// A refused writer or datatype call: class 4, info id 10.
inline void LogRefusedCall(const char* message) { ZentrikLog(kLogClassError, kLogInfoIdCalls, "%s", message); }

#endif  // RV5072_ZENTRIK_HOSTIMPORTS_H
