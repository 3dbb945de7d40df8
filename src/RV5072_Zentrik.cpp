// Component frame: the entry point the host calls, the import of host services by
// name, the registration of the external IEC functions, the subscription to the host's
// application events and the event actions.
#include "RV5072_Zentrik/RV5072_Zentrik.h"

#include "CmpItf.h"
#include "RV5072_Zentrik/ZentrikVersion.h"
#include "ZentrikAppEvents.h"
#include "frame/CallGuard.h"
#include "frame/HostImports.h"
#include "sync/Locks.h"
#include "var/DomDriverMgr.h"

namespace {

constexpr RTS_UI32 kComponentVersion = ZENTRIK_COMPONENT_VERSION;
constexpr RTS_UI32 kExternalFunctionVersion = 0x01000101;
constexpr CMPID kEventProviderId = 2;
constexpr RTS_UI32 kHookSubscribe = 4;
constexpr RTS_UI32 kHookUnsubscribe = 12;
constexpr RTS_RESULT kErrNoRegisterFunction = 3;
constexpr RTS_RESULT kErrNoImportFunction = 3;
constexpr RTS_RESULT kErrMissingEventFunction = 1;

// The host's component-manager entry points the frame calls, kept from the
// initialisation record: the get-API function (imports) and the register-API function
// (exports). The record's other entry points are not used, so not kept.
PF_REGISTER_API s_pfCMRegisterAPI = nullptr;
PF_GET_API2 s_pfCMGetAPI2 = nullptr;

// Import options: an optional function's result is ignored, a missing required one ends
// the import with its result.
constexpr int kImportOptional = 2;
constexpr int kImportRequired = 0;

struct ImportEntry {
    const char* name;
    RTS_VOID_FCTPTR* slot;
    int options;
};

// The host functions in import order.
const ImportEntry s_imports[] = {
#define ZENTRIK_HOST_IMPORT(name, prototype, options) \
    {#name, reinterpret_cast<RTS_VOID_FCTPTR*>(&pf##name), options},
#include "ZentrikHostImports.def"
#undef ZENTRIK_HOST_IMPORT
};
static_assert(sizeof(s_imports) / sizeof(s_imports[0]) == kImportedHostFunctions,
              "one import entry per listed host function");

int ImportFunctions(void) {
    if (s_pfCMGetAPI2 == nullptr) {
        return kErrNoImportFunction;
    }
    for (const ImportEntry& entry : s_imports) {
        RTS_RESULT result = s_pfCMGetAPI2(const_cast<char*>(entry.name), entry.slot, entry.options, 0, 0);
        if (entry.options == kImportRequired && result != ERR_OK) {
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
    // The writer's format. Signature of each: the CRC-32 (IEEE 802.3) of the function's name.
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__setformat, 0xedb9a60c),
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__getformat, 0x1c95b571),
    // The schema of a variable. Signature: the CRC-32 (IEEE 802.3) of the function's name.
    ZENTRIK_EXTERNAL(fb_jsonreadwritedatatype__addjsonschemafromsymbol, 0x13b7a9e5),
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
    // Signature: the CRC-32 (IEEE 802.3) of the function's name.
    ZENTRIK_EXTERNAL(fb_jsonsaxwriter__copydocumentpart, 0xb030cbb4),
    // Signature: the CRC-32 (IEEE 802.3) of the function's name.
    ZENTRIK_EXTERNAL(fb_jsonreadwritedatatype__addjsonchangesfromsymbol, 0x9d2e6e8a),
    {nullptr, "", 0, 0},
};
static_assert(sizeof(s_ExternalsTable) / sizeof(s_ExternalsTable[0]) == 53,
              "52 external functions and the end row");

// The component registers no interfaces: the table holds only the end row.
const CMP_EXT_FUNCTION_REF s_ItfTable[] = {
    {nullptr, "", 0, 0},
};

// The subscribed host events; slot i of s_eventHandles belongs to s_eventIds[i].
constexpr const EVENTID (&s_eventIds)[kSubscribedAppEventCount] = kSubscribedAppEvents;
constexpr size_t kEventCount = kSubscribedAppEventCount;
RTS_HANDLE s_eventHandles[kEventCount] = {
    RTS_INVALID_HANDLE, RTS_INVALID_HANDLE, RTS_INVALID_HANDLE, RTS_INVALID_HANDLE, RTS_INVALID_HANDLE,
    RTS_INVALID_HANDLE, RTS_INVALID_HANDLE, RTS_INVALID_HANDLE, RTS_INVALID_HANDLE, RTS_INVALID_HANDLE,
    RTS_INVALID_HANDLE, RTS_INVALID_HANDLE, RTS_INVALID_HANDLE, RTS_INVALID_HANDLE, RTS_INVALID_HANDLE,
    RTS_INVALID_HANDLE, RTS_INVALID_HANDLE, RTS_INVALID_HANDLE};

// Serialises the event actions: a host that posts two events at once from two threads
// must not start two loaders or race on the loader's thread id.
CMutex s_eventMutex;

void EventAction(EventParam* pEventParam) {
    CExclusiveLock<CMutex> lock(s_eventMutex);
    CDomDriverMgr* manager = nullptr;
    switch (pEventParam->EventId) {
        case kEventPrepareReset: {
            manager = CDomDriverMgr::instance();
            const bool state = manager->loadCompletedState();
            ZentrikLog(ELogText::kPrepareReset, state ? 1 : 0, state ? 0 : 1);
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
            ZentrikLog(ELogText::kResetDone, state ? 1 : 0, state ? 0 : 1);
            if (!state) {
                ZentrikLog(ELogText::kResetDoneBeginLoad);
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
            ZentrikLog(ELogText::kBeginLoad);
            manager->BeginLoadSymbols();
            break;
        case kEventDeleteAllApps:
            manager = CDomDriverMgr::instance();
            ZentrikLog(ELogText::kDeleteAll);
            manager->EndLoadSymbols();
            break;
        default:
            break;
    }
}

// No exception leaves the host's callback: an action that fails is refused and logged.
void OnEventCallbackFunction(EventParam* pEventParam) {
    if (pEventParam == nullptr) {
        return;
    }
    GuardedCall([pEventParam] { EventAction(pEventParam); });
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
        ZentrikLog(ELogText::kNoEventOpen);
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
        ZentrikLog(ELogText::kNoUnregisterCallback);
        return kErrMissingEventFunction;
    }
    for (RTS_HANDLE handle : s_eventHandles) {
        pfEventUnregisterCallbackFunction(handle, OnEventCallbackFunction);
    }
    if (pfEventClose == nullptr) {
        ZentrikLog(ELogText::kNoEventClose);
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
    RTS_RESULT result = ERR_OK;
    GuardedCall([&result, ulHook] {
        if (ulHook == kHookSubscribe) {
            result = SubscribeEvents();
        } else if (ulHook == kHookUnsubscribe) {
            result = UnsubscribeEvents();
        }
    });
    return result;
}

RTS_UI32 CmpGetVersion(void) { return kComponentVersion; }

// The component offers no class instances.
IBase* CreateInstance(CLASSID, RTS_RESULT*) { return nullptr; }

RTS_RESULT DeleteInstance(IBase*) { return ERR_OK; }

}  // namespace

// Only stores pointers: nothing in it can throw.
extern "C" int ComponentEntry(INIT_STRUCT* pInitStruct) {
    pInitStruct->CmpId = kZentrikCmpId;
    pInitStruct->pfExportFunctions = ExportFunctions;
    pInitStruct->pfImportFunctions = ImportFunctions;
    pInitStruct->pfGetVersion = CmpGetVersion;
    pInitStruct->pfCreateInstance = CreateInstance;
    pInitStruct->pfDeleteInstance = DeleteInstance;
    pInitStruct->pfHookFunction = HookFunction;
    s_pfCMRegisterAPI = pInitStruct->pfCMRegisterAPI;
    s_pfCMGetAPI2 = pInitStruct->pfCMGetAPI2;
    return ERR_OK;
}
