// Component frame: the entry point the host calls, the import of host services by
// name, the registration of the external IEC functions, the subscription to the host's
// application events and the event actions.
#include "RV5072_Zentrik/RV5072_Zentrik.h"

#include <mutex>

#include "CmpItf.h"
#include "RV5072_Zentrik/HostImports.h"
#include "RV5072_Zentrik/ZentrikVersion.h"
#include "var/DomDriverMgr.h"

namespace {

constexpr RTS_UI32 kComponentVersion = ZENTRIK_COMPONENT_VERSION;
constexpr RTS_UI32 kExternalFunctionVersion = 0x01000101;
constexpr CMPID kEventProviderId = 2;
constexpr RTS_UI32 kHookSubscribe = 4;
constexpr RTS_UI32 kHookUnsubscribe = 12;
constexpr RTS_RESULT kErrNoRegisterFunction = 3;
constexpr RTS_RESULT kErrMissingEventFunction = 1;

// Host component-manager entry points kept from the initialisation record.
PF_REGISTER_API s_pfCMRegisterAPI = nullptr;
PF_REGISTER_API2 s_pfCMRegisterAPI2 = nullptr;
PF_GET_API s_pfCMGetAPI = nullptr;
PF_GET_API2 s_pfCMGetAPI2 = nullptr;
PF_CALL_HOOK s_pfCMCallHook = nullptr;
PF_REGISTER_CLASS s_pfCMRegisterClass = nullptr;
PF_CREATE_INSTANCE_CM s_pfCMCreateInstance = nullptr;

struct ImportEntry {
    const char* name;
    RTS_VOID_FCTPTR* slot;
    int options;  // 2: optional, result ignored; 0: required
};

// The host functions in import order. The first six are optional.
const ImportEntry s_imports[] = {
    {"LogAdd", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogAdd), 2},
    {"CMUtlMemCpy", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfCMUtlMemCpy), 2},
    {"SysFileWrite", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfSysFileWrite), 2},
    {"SysFileRead", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfSysFileRead), 2},
    {"SysFileClose", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfSysFileClose), 2},
    {"SysFileOpen", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfSysFileOpen), 2},
    {"LogGetEntry", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogGetEntry), 0},
    {"LogGetNextEntry", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogGetNextEntry), 0},
    {"LogGetFirstEntry", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogGetFirstEntry), 0},
    {"LogGetNextLogger", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogGetNextLogger), 0},
    {"LogFormatCsvMessage", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogFormatCsvMessage), 0},
    {"LogFormatTimestamp", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogFormatTimestamp), 0},
    {"LogConvertTimestamp", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogConvertTimestamp), 0},
    {"LogGetFirstLogger", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogGetFirstLogger), 0},
    {"LogGetName", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogGetName), 0},
    {"LogGetEntryByQueueIndex", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogGetEntryByQueueIndex), 0},
    {"LogGetEntryByIndex", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogGetEntryByIndex), 0},
    {"LogUnregisterBackend", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogUnregisterBackend), 0},
    {"LogDumpEntries", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogDumpEntries), 0},
    {"LogDumpAll", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogDumpAll), 0},
    {"LogAdd3Arg", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogAdd3Arg), 0},
    {"LogAdd2Arg", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogAdd2Arg), 0},
    {"LogAddArg", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogAddArg), 0},
    {"LogAdd3", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogAdd3), 0},
    {"LogAdd2", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogAdd2), 0},
    {"LogGetFilter2", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogGetFilter2), 0},
    {"LogGetFilter", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogGetFilter), 0},
    {"LogSetFilter", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogSetFilter), 0},
    {"LogEnable", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogEnable), 0},
    {"LogGetOptions", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogGetOptions), 0},
    {"LogDelete", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogDelete), 0},
    {"LogClose", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogClose), 0},
    {"LogOpen", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfLogOpen), 0},
    {"IecVarAccBrowseGetNext2", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccBrowseGetNext2), 0},
    {"IecVarAccBrowseDown2", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccBrowseDown2), 0},
    {"IecVarAccExitVarInfo", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccExitVarInfo), 0},
    {"IecVarAccGetTypeName", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetTypeName), 0},
    {"IecVarAccGetAddress3", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetAddress3), 0},
    {"IecVarAccGetAccessRights2", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetAccessRights2), 0},
    {"IecVarAccGetTypeClass3", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetTypeClass3), 0},
    {"IecVarAccGetSize3", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetSize3), 0},
    {"IecVarAccGetNodeFullPath3", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetNodeFullPath3), 0},
    {"IecVarAccInitVarInfo", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccInitVarInfo), 0},
    {"AppGetFirstApp", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfAppGetFirstApp), 0},
    {"AppGetAreaOffsetByAddress", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfAppGetAreaOffsetByAddress), 0},
    {"AppGetApplicationByAreaAddress", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfAppGetApplicationByAreaAddress),
     0},
    {"IecTaskGetByIndex", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecTaskGetByIndex), 0},
    {"IecTaskGetCurrent", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecTaskGetCurrent), 0},
    {"IecTaskGetHandle", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecTaskGetHandle), 0},
    {"IecTaskGetDesc", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecTaskGetDesc), 0},
    {"IecTaskGetNext", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecTaskGetNext), 0},
    {"IecTaskGetFirst", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecTaskGetFirst), 0},
    {"IecTaskUnregisterSlotCallbacks", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecTaskUnregisterSlotCallbacks),
     0},
    {"IecTaskUnregisterSlotCallback", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecTaskUnregisterSlotCallback),
     0},
    {"IecTaskRegisterSlotCallback", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecTaskRegisterSlotCallback), 0},
    {"IecTaskRegisterSlotCallbacks", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecTaskRegisterSlotCallbacks), 0},
    {"EventUnregisterCallbackFunction",
     reinterpret_cast<RTS_VOID_FCTPTR*>(&pfEventUnregisterCallbackFunction), 0},
    {"EventRegisterCallbackFunction", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfEventRegisterCallbackFunction),
     0},
    {"EventPost", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfEventPost), 0},
    {"EventClose", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfEventClose), 0},
    {"EventOpen", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfEventOpen), 0},
    {"AppReleaseForceValue", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfAppReleaseForceValue), 0},
    {"AppAddForceValue", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfAppAddForceValue), 0},
    {"IecVarAccBrowseGetRoot", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccBrowseGetRoot), 0},
    {"IecVarAccGetTypeClass", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetTypeClass), 0},
    {"IecVarAccGetTypeDesc", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetTypeDesc), 0},
    {"IecVarAccGetNodeName", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetNodeName), 0},
    {"IecVarAccGetNodeType", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetNodeType), 0},
    {"IecVarAccGetTypeNode3", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetTypeNode3), 0},
    {"IecVarAccSetValue3", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccSetValue3), 0},
    {"IecVarAccGetValue3", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetValue3), 0},
    {"IecVarAccGetSize", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetSize), 0},
    {"IecVarAccGetAddress2", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetAddress2), 0},
    {"IecVarAccGetNode3", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetNode3), 0},
    {"IecVarAccGetAccessRights", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetAccessRights), 0},
    {"IecVarAccBrowseGetNext", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccBrowseGetNext), 0},
    {"IecVarAccGetValue", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetValue), 0},
    {"IecVarAccSetValue", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccSetValue), 0},
    {"IecVarAccBrowseDown", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccBrowseDown), 0},
    {"IecVarAccGetNode", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetNode), 0},
    {"IecVarAccGetNodeName3", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetNodeName3), 0},
    {"IecVarAccGetNodeName4", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetNodeName4), 0},
    {"IecVarAccGetNodeFullPath", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetNodeFullPath), 0},
    {"IecVarAccGetApplicationName", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetApplicationName), 0},
    {"IecVarAccGetNextInterface", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetNextInterface), 0},
    {"IecVarAccGetFirstInterface", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecVarAccGetFirstInterface), 0},
    {"SysMemFreeData", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfSysMemFreeData), 0},
    {"SysMemAllocData", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfSysMemAllocData), 0},
    {"SysOutPrintf", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfSysOutPrintf), 0},
    {"SysTimeRtcHighResGet", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfSysTimeRtcHighResGet), 0},
    {"SysTimeGetMs", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfSysTimeGetMs), 0},
};
static_assert(sizeof(s_imports) / sizeof(s_imports[0]) == kImportedHostFunctions,
              "91 imported host functions");

int ImportFunctions(void) {
    for (const ImportEntry& entry : s_imports) {
        RTS_RESULT result = s_pfCMGetAPI2(const_cast<char*>(entry.name), entry.slot, entry.options, 0, 0);
        if (entry.options == 0 && result != ERR_OK) {
            return result;
        }
    }
    return ERR_OK;
}

#define ZENTRIK_EXTERNAL(function, signature) \
    { reinterpret_cast<RTS_VOID_FCTPTR>(&function), #function, signature, kExternalFunctionVersion }

// The external IEC functions, in the order the host registers them.
const CMP_EXT_FUNCTION_REF s_ExternalsTable[] = {
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__copydocument, 0x7708c064),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__startarray, 0x5b236286),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__addkeynull, 0x97f6ee68),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__addbase64, 0x83defcbb),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__addbool, 0x88b2acde),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__main, 0x3e6a9120),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__addkeydatetime, 0xfd106e52),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__getdocumentlength, 0xc53d5752),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__addrawobject, 0x44fdc263),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__getmaxdecimalplaces, 0x0d0a492f),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__addlreal, 0xd47e4a6e),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__resetdocument, 0x59d1a064),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__addkeystring, 0x8023271b),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__addrawarray, 0xd2551867),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__adddint, 0xf8086f23),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__getdocument, 0x7cd6fdbf),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__addkeybool, 0x9a65032e),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__addkeynumber, 0x63a742cd),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__setmaxdecimalplaces, 0xf0820bbe),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__adddatetime, 0x91bc2515),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__addreal, 0x5132f67d),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__addnull, 0x7c214a68),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__addkeylreal, 0xf8ab4c71),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__addkey, 0x9d2e57e8),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__addlint, 0x1c46aeb7),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__startobject, 0xdca9b391),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__addhexbinary, 0x25edef67),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__addudint, 0x48d15ea2),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__endobject, 0x810ceb26),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__addstring, 0x490f5ff2),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__endarray, 0x43f5777a),
    ZENTRIK_EXTERNAL(fb_jsonreadwritedatatype__addjsonkeyvaluefromsymbol, 0x0600e1cd),
    ZENTRIK_EXTERNAL(fb_jsonreadwritedatatype__setsymbolfromjson, 0x61d106d2),
    ZENTRIK_EXTERNAL(fb_jsonreadwritedatatype__main, 0x66ad0380),
    // Signature: the CRC-32 (IEEE 802.3) of the function's name.
    ZENTRIK_EXTERNAL(fb_jsonreadwritedatatype__setsymbolfromjsonreport, 0xb337aca7),
    // The reader block. Signature of each: the CRC-32 (IEEE 802.3, as zlib's crc32) of
    // the function's name.
    ZENTRIK_EXTERNAL(fb_jsonreader__main, 0x5a0e5bea),
    ZENTRIK_EXTERNAL(fb_jsonreader__parse, 0xd8300cd9),
    ZENTRIK_EXTERNAL(fb_jsonreader__getkind, 0x832b8838),
    ZENTRIK_EXTERNAL(fb_jsonreader__getsize, 0x4f2f108b),
    ZENTRIK_EXTERNAL(fb_jsonreader__getbool, 0xed6e0273),
    ZENTRIK_EXTERNAL(fb_jsonreader__getdint, 0xc6ff880a),
    ZENTRIK_EXTERNAL(fb_jsonreader__getlint, 0x034ba0e5),
    ZENTRIK_EXTERNAL(fb_jsonreader__getlreal, 0xfa9d46c2),
    ZENTRIK_EXTERNAL(fb_jsonreader__getstring, 0xf86f3c5e),
    ZENTRIK_EXTERNAL(fb_jsonreader__getmembername, 0xee046f00),
    ZENTRIK_EXTERNAL(fb_jsonreader__getraw, 0x48223562),
    ZENTRIK_EXTERNAL(fb_jsonreader__tovariable, 0x66111eb4),
    {nullptr, "", 0, 0},
};
static_assert(sizeof(s_ExternalsTable) / sizeof(s_ExternalsTable[0]) == 48,
              "47 external functions and the end row");

// The component registers no interfaces: the table holds only the end row.
const CMP_EXT_FUNCTION_REF s_ItfTable[] = {
    {nullptr, "", 0, 0},
};

// The subscribed host events; slot i of s_eventHandles belongs to s_eventIds[i].
const EVENTID s_eventIds[] = {0x10001, 0x10002, 0x10003, 0x10004, 0x10005, 0x10006,
                              0x10007, 0x10008, 0x10009, 0x1000A, 0x1000C, 0x1000D,
                              0x1000E, 0x1000F, 0x10022, 0x10023, 0x10030, 0x10031};
constexpr size_t kEventCount = sizeof(s_eventIds) / sizeof(s_eventIds[0]);
static_assert(kEventCount == 18, "18 subscribed events");
RTS_HANDLE s_eventHandles[kEventCount] = {
    RTS_INVALID_HANDLE, RTS_INVALID_HANDLE, RTS_INVALID_HANDLE, RTS_INVALID_HANDLE, RTS_INVALID_HANDLE,
    RTS_INVALID_HANDLE, RTS_INVALID_HANDLE, RTS_INVALID_HANDLE, RTS_INVALID_HANDLE, RTS_INVALID_HANDLE,
    RTS_INVALID_HANDLE, RTS_INVALID_HANDLE, RTS_INVALID_HANDLE, RTS_INVALID_HANDLE, RTS_INVALID_HANDLE,
    RTS_INVALID_HANDLE, RTS_INVALID_HANDLE, RTS_INVALID_HANDLE};

// Serialises the event actions: a host that posts two events at once from two threads
// must not start two loaders or race on the loader's thread id.
std::mutex s_eventMutex;

constexpr EVENTID kEventPrepareReset = 0x10005;
constexpr EVENTID kEventResetDone = 0x10006;
constexpr EVENTID kEventPrepareDelete = 0x10009;
constexpr EVENTID kEventDownloadDone = 0x1000A;
constexpr EVENTID kEventDeleteAllApps = 0x10030;

void OnEventCallbackFunction(EventParam* pEventParam) {
    if (pEventParam == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(s_eventMutex);
    CDomDriverMgr* manager = nullptr;
    switch (pEventParam->EventId) {
        case kEventPrepareReset: {
            manager = CDomDriverMgr::instance();
            const bool state = manager->loadCompletedState();
            ZentrikLog(kLogClassInfo, kLogInfoIdCalls,
                       "prepareResetFunction in, load completed state: %d, clearSymbols:%d", state ? 1 : 0,
                       state ? 0 : 1);
            // Always stopped, also after a completed load: that clears loadCompleted, so
            // the following reset-done event loads the symbols again, and clear() never
            // overlaps a loader that is still indexing.
            manager->EndLoadSymbols();
            manager->clear();
            break;
        }
        case kEventResetDone: {
            manager = CDomDriverMgr::instance();
            const bool state = manager->loadCompletedState();
            ZentrikLog(kLogClassInfo, kLogInfoIdCalls,
                       "ResetDoneFunction in, load completed state: %d, BeginLoadSymbols:%d", state ? 1 : 0,
                       state ? 0 : 1);
            if (!state) {
                ZentrikLog(kLogClassInfo, kLogInfoIdCalls, "ResetDoneFunction BeginLoadSymbols");
                manager->BeginLoadSymbols();
            }
            break;
        }
        case kEventPrepareDelete:
            manager = CDomDriverMgr::instance();
            manager->EndLoadSymbols();
            manager->clear();
            break;
        case kEventDownloadDone:
            manager = CDomDriverMgr::instance();
            ZentrikLog(kLogClassInfo, kLogInfoIdCalls, "BeginLoadSymbols");
            manager->BeginLoadSymbols();
            break;
        case kEventDeleteAllApps:
            manager = CDomDriverMgr::instance();
            ZentrikLog(kLogClassInfo, kLogInfoIdCalls, "delAllAppCallBack");
            manager->EndLoadSymbols();
            break;
        default:
            break;
    }
}

// Closes every open event slot after a failed subscription.
void CloseOpenEvents() {
    for (RTS_HANDLE& handle : s_eventHandles) {
        if (handle != RTS_INVALID_HANDLE) {
            pfEventClose(handle);
            handle = RTS_INVALID_HANDLE;
        }
    }
}

RTS_RESULT SubscribeEvents() {
    if (pfEventOpen == nullptr) {
        ZentrikLog(kLogClassInfo, kLogInfoIdGeneral, "Check event open function function failed");
        return kErrMissingEventFunction;
    }
    for (size_t i = 0; i < kEventCount; ++i) {
        RTS_RESULT result = ERR_OK;
        s_eventHandles[i] = pfEventOpen(s_eventIds[i], kEventProviderId, &result);
        if (result == ERR_OK && pfEventRegisterCallbackFunction != nullptr) {
            result = pfEventRegisterCallbackFunction(s_eventHandles[i], OnEventCallbackFunction, 0);
        }
        if (result != ERR_OK) {
            CloseOpenEvents();
            return result;
        }
    }
    return ERR_OK;
}

RTS_RESULT UnsubscribeEvents() {
    if (pfEventUnregisterCallbackFunction == nullptr) {
        ZentrikLog(kLogClassInfo, kLogInfoIdGeneral, "Check unregister callback function failed");
        return kErrMissingEventFunction;
    }
    for (RTS_HANDLE handle : s_eventHandles) {
        pfEventUnregisterCallbackFunction(handle, OnEventCallbackFunction);
    }
    if (pfEventClose == nullptr) {
        ZentrikLog(kLogClassInfo, kLogInfoIdGeneral, "Check event close function failed");
        return kErrMissingEventFunction;
    }
    for (RTS_HANDLE& handle : s_eventHandles) {
        pfEventClose(handle);
        handle = RTS_INVALID_HANDLE;
    }
    return ERR_OK;
}

int ExportFunctions(void) {
    if (s_pfCMRegisterAPI == nullptr) {
        return kErrNoRegisterFunction;
    }
    RTS_RESULT result = s_pfCMRegisterAPI(s_ExternalsTable, 0, 1, kZentrikCmpId);
    if (result != ERR_OK) {
        return result;
    }
    return s_pfCMRegisterAPI(s_ItfTable, 0, 0, kZentrikCmpId);
}

RTS_RESULT HookFunction(RTS_UI32 ulHook, RTS_UINTPTR, RTS_UINTPTR) {
    if (ulHook == kHookSubscribe) {
        return SubscribeEvents();
    }
    if (ulHook == kHookUnsubscribe) {
        return UnsubscribeEvents();
    }
    return ERR_OK;
}

RTS_UI32 CmpGetVersion(void) { return kComponentVersion; }

// The component offers no class instances.
IBase* CreateInstance(CLASSID, RTS_RESULT*) { return nullptr; }

RTS_RESULT DeleteInstance(IBase*) { return ERR_OK; }

}  // namespace

extern "C" int ComponentEntry(INIT_STRUCT* pInitStruct) {
    pInitStruct->CmpId = kZentrikCmpId;
    pInitStruct->pfExportFunctions = ExportFunctions;
    pInitStruct->pfImportFunctions = ImportFunctions;
    pInitStruct->pfGetVersion = CmpGetVersion;
    pInitStruct->pfCreateInstance = CreateInstance;
    pInitStruct->pfDeleteInstance = DeleteInstance;
    pInitStruct->pfHookFunction = HookFunction;
    s_pfCMRegisterAPI = pInitStruct->pfCMRegisterAPI;
    s_pfCMRegisterAPI2 = pInitStruct->pfCMRegisterAPI2;
    s_pfCMGetAPI = pInitStruct->pfCMGetAPI;
    s_pfCMGetAPI2 = pInitStruct->pfCMGetAPI2;
    s_pfCMCallHook = pInitStruct->pfCMCallHook;
    s_pfCMRegisterClass = pInitStruct->pfCMRegisterClass;
    s_pfCMCreateInstance = pInitStruct->pfCMCreateInstance;
    return ERR_OK;
}
