// Component frame: the entry point the host calls, the import of host services by
// name, and the component functions handed to the host.
#include "RV5072_Zentrik/RV5072_Zentrik.h"

#include "CmpItf.h"
#include "RV5072_Zentrik/HostImports.h"

namespace {

constexpr RTS_UI32 kComponentVersion = 0x03051200;

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
    {"AppGetApplicationByAreaAddress", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfAppGetApplicationByAreaAddress), 0},
    {"IecTaskGetByIndex", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecTaskGetByIndex), 0},
    {"IecTaskGetCurrent", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecTaskGetCurrent), 0},
    {"IecTaskGetHandle", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecTaskGetHandle), 0},
    {"IecTaskGetDesc", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecTaskGetDesc), 0},
    {"IecTaskGetNext", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecTaskGetNext), 0},
    {"IecTaskGetFirst", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecTaskGetFirst), 0},
    {"IecTaskUnregisterSlotCallbacks", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecTaskUnregisterSlotCallbacks), 0},
    {"IecTaskUnregisterSlotCallback", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecTaskUnregisterSlotCallback), 0},
    {"IecTaskRegisterSlotCallback", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecTaskRegisterSlotCallback), 0},
    {"IecTaskRegisterSlotCallbacks", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfIecTaskRegisterSlotCallbacks), 0},
    {"EventUnregisterCallbackFunction", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfEventUnregisterCallbackFunction), 0},
    {"EventRegisterCallbackFunction", reinterpret_cast<RTS_VOID_FCTPTR*>(&pfEventRegisterCallbackFunction), 0},
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
static_assert(sizeof(s_imports) / sizeof(s_imports[0]) == kImportedHostFunctions, "91 imported host functions");

int ImportFunctions(void) {
    for (const ImportEntry& entry : s_imports) {
        RTS_RESULT result = s_pfCMGetAPI2(const_cast<char*>(entry.name), entry.slot, entry.options, 0, 0);
        if (entry.options == 0 && result != ERR_OK) {
            return result;
        }
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
    pInitStruct->pfImportFunctions = ImportFunctions;
    pInitStruct->pfGetVersion = CmpGetVersion;
    pInitStruct->pfCreateInstance = CreateInstance;
    pInitStruct->pfDeleteInstance = DeleteInstance;
    s_pfCMRegisterAPI = pInitStruct->pfCMRegisterAPI;
    s_pfCMRegisterAPI2 = pInitStruct->pfCMRegisterAPI2;
    s_pfCMGetAPI = pInitStruct->pfCMGetAPI;
    s_pfCMGetAPI2 = pInitStruct->pfCMGetAPI2;
    s_pfCMCallHook = pInitStruct->pfCMCallHook;
    s_pfCMRegisterClass = pInitStruct->pfCMRegisterClass;
    s_pfCMCreateInstance = pInitStruct->pfCMCreateInstance;
    return ERR_OK;
}
