// The seventeen IecVarAcc host functions of the simulated host, as the component
// imports them by name. Each counts the call, runs the before-call hook, and hands
// over to the process-wide application.
#include "CmpIecVarAccessItf.h"
#include "SimApplication.h"

namespace {

// Indices into CSimApplication::hostFunctionNames().
enum : size_t {
    kGetFirstInterface,
    kGetApplicationName,
    kBrowseGetRoot,
    kBrowseDown,
    kBrowseGetNext,
    kGetNodeFullPath,
    kGetNodeType,
    kInitVarInfo,
    kExitVarInfo,
    kGetNode3,
    kGetNode,
    kGetSize3,
    kGetTypeClass3,
    kGetAddress3,
    kGetNodeName,
    kGetTypeNode3,
    kGetTypeDesc
};

CSimApplication& Enter(size_t function) {
    CSimApplication& app = CSimApplication::instance();
    app.beforeHostCall(function);
    return app;
}

extern "C" RTS_HANDLE SimIecVarAccGetFirstInterface(RTS_RESULT* pResult) {
    return Enter(kGetFirstInterface).hostGetFirstInterface(pResult);
}

extern "C" RTS_RESULT SimIecVarAccGetApplicationName(RTS_HANDLE hInterface, char* pszAppName,
                                                     RTS_SIZE nMaxLen) {
    return Enter(kGetApplicationName).hostGetApplicationName(hInterface, pszAppName, nMaxLen);
}

extern "C" RTS_HANDLE SimIecVarAccBrowseGetRoot(RTS_HANDLE hInterface, RTS_RESULT* pResult) {
    return Enter(kBrowseGetRoot).hostBrowseGetRoot(hInterface, pResult);
}

extern "C" RTS_HANDLE SimIecVarAccBrowseDown(RTS_HANDLE hInterface, RTS_HANDLE hNode, RTS_RESULT* pResult) {
    return Enter(kBrowseDown).hostBrowseDown(hInterface, hNode, pResult);
}

extern "C" RTS_HANDLE SimIecVarAccBrowseGetNext(RTS_HANDLE hInterface, RTS_HANDLE hNode,
                                                RTS_RESULT* pResult) {
    return Enter(kBrowseGetNext).hostBrowseGetNext(hInterface, hNode, pResult);
}

extern "C" char* SimIecVarAccGetNodeFullPath(RTS_HANDLE hInterface, RTS_HANDLE hNode, char* pszPath,
                                             RTS_SIZE nMaxLen, RTS_RESULT* pResult) {
    return Enter(kGetNodeFullPath).hostGetNodeFullPath(hInterface, hNode, pszPath, nMaxLen, pResult);
}

extern "C" RTS_UI16 SimIecVarAccGetNodeType(RTS_HANDLE hInterface, RTS_HANDLE hNode, RTS_RESULT* pResult) {
    return Enter(kGetNodeType).hostGetNodeType(hInterface, hNode, pResult);
}

extern "C" RTS_RESULT SimIecVarAccInitVarInfo(VariableInformationStruct3* pVarInfo, RTS_SIZE nSize) {
    return Enter(kInitVarInfo).hostInitVarInfo(pVarInfo, nSize);
}

extern "C" RTS_RESULT SimIecVarAccExitVarInfo(VariableInformationStruct3* pVarInfo) {
    return Enter(kExitVarInfo).hostExitVarInfo(pVarInfo);
}

extern "C" RTS_HANDLE SimIecVarAccGetNode3(const char* pszName, RTS_HANDLE* phInterface,
                                           VariableInformationStruct3* pVarInfo, RTS_RESULT* pResult) {
    return Enter(kGetNode3).hostGetNode3(pszName, phInterface, pVarInfo, pResult);
}

extern "C" RTS_HANDLE SimIecVarAccGetNode(const char* pszName, RTS_UINTPTR* pOffset, RTS_HANDLE* phInterface,
                                          RTS_RESULT* pResult) {
    return Enter(kGetNode).hostGetNode(pszName, pOffset, phInterface, pResult);
}

extern "C" RTS_SIZE SimIecVarAccGetSize3(RTS_HANDLE hInterface, RTS_HANDLE hNode,
                                         VariableInformationStruct3* pVarInfo, RTS_RESULT* pResult) {
    return Enter(kGetSize3).hostGetSize3(hInterface, hNode, pVarInfo, pResult);
}

extern "C" TypeClass3 SimIecVarAccGetTypeClass3(RTS_HANDLE hInterface, RTS_HANDLE hNode,
                                                VariableInformationStruct3* pVarInfo, RTS_RESULT* pResult) {
    return Enter(kGetTypeClass3).hostGetTypeClass3(hInterface, hNode, pVarInfo, pResult);
}

extern "C" RTS_UI8* SimIecVarAccGetAddress3(RTS_HANDLE hInterface, RTS_HANDLE hNode,
                                            VariableInformationStruct3* pVarInfo, RTS_RESULT* pResult) {
    return Enter(kGetAddress3).hostGetAddress3(hInterface, hNode, pVarInfo, pResult);
}

extern "C" char* SimIecVarAccGetNodeName(RTS_HANDLE hInterface, RTS_HANDLE hNode, RTS_RESULT* pResult) {
    return Enter(kGetNodeName).hostGetNodeName(hInterface, hNode, pResult);
}

extern "C" RTS_HANDLE SimIecVarAccGetTypeNode3(RTS_HANDLE hInterface, RTS_HANDLE hNode,
                                               VariableInformationStruct3* pVarInfo, RTS_RESULT* pResult) {
    return Enter(kGetTypeNode3).hostGetTypeNode3(hInterface, hNode, pVarInfo, pResult);
}

extern "C" RTS_RESULT SimIecVarAccGetTypeDesc(RTS_HANDLE hInterface, RTS_HANDLE hTypeNode,
                                              TypeDescAsUnion* pTypeDesc) {
    return Enter(kGetTypeDesc).hostGetTypeDesc(hInterface, hTypeNode, pTypeDesc);
}

// The table the install copies, checked against the host's prototypes.
struct SEntry {
    size_t index;
    RTS_VOID_FCTPTR function;
};

template <typename Prototype>
RTS_VOID_FCTPTR Generic(Prototype function) {
    return reinterpret_cast<RTS_VOID_FCTPTR>(function);
}

const SEntry s_entries[] = {
    {kGetFirstInterface, Generic<PF_IECVARACC_GET_FIRST_INTERFACE>(SimIecVarAccGetFirstInterface)},
    {kGetApplicationName, Generic<PF_IECVARACC_GET_APPLICATION_NAME>(SimIecVarAccGetApplicationName)},
    {kBrowseGetRoot, Generic<PF_IECVARACC_BROWSE_GET_ROOT>(SimIecVarAccBrowseGetRoot)},
    {kBrowseDown, Generic<PF_IECVARACC_BROWSE_DOWN>(SimIecVarAccBrowseDown)},
    {kBrowseGetNext, Generic<PF_IECVARACC_BROWSE_GET_NEXT>(SimIecVarAccBrowseGetNext)},
    {kGetNodeFullPath, Generic<PF_IECVARACC_GET_NODE_FULL_PATH>(SimIecVarAccGetNodeFullPath)},
    {kGetNodeType, Generic<PF_IECVARACC_GET_NODE_TYPE>(SimIecVarAccGetNodeType)},
    {kInitVarInfo, Generic<PF_IECVARACC_INIT_VAR_INFO>(SimIecVarAccInitVarInfo)},
    {kExitVarInfo, Generic<PF_IECVARACC_EXIT_VAR_INFO>(SimIecVarAccExitVarInfo)},
    {kGetNode3, Generic<PF_IECVARACC_GET_NODE3>(SimIecVarAccGetNode3)},
    {kGetNode, Generic<PF_IECVARACC_GET_NODE>(SimIecVarAccGetNode)},
    {kGetSize3, Generic<PF_IECVARACC_GET_SIZE3>(SimIecVarAccGetSize3)},
    {kGetTypeClass3, Generic<PF_IECVARACC_GET_TYPE_CLASS3>(SimIecVarAccGetTypeClass3)},
    {kGetAddress3, Generic<PF_IECVARACC_GET_ADDRESS3>(SimIecVarAccGetAddress3)},
    {kGetNodeName, Generic<PF_IECVARACC_GET_NODE_NAME>(SimIecVarAccGetNodeName)},
    {kGetTypeNode3, Generic<PF_IECVARACC_GET_TYPE_NODE3>(SimIecVarAccGetTypeNode3)},
    {kGetTypeDesc, Generic<PF_IECVARACC_GET_TYPE_DESC>(SimIecVarAccGetTypeDesc)},
};

}  // namespace

void SimInstallVarAccessFunctions(std::map<std::string, RTS_VOID_FCTPTR>& table) {
    for (const SEntry& entry : s_entries)
        table[CSimApplication::hostFunctionNames()[entry.index]] = entry.function;
}
