// The seventeen IecVarAcc host functions of the simulated host, as the component
// imports them by name. Each counts the call, runs the before-call hook, and hands
// over to the process-wide application.
#include "CmpIecVarAccessItf.h"
#include "SimApplication.h"

namespace {

// Indices into CSimApplication::hostFunctionNames().
enum : size_t {
#define IEC_VAR_ACCESS_FUNCTION(name, prototype) k##name,
#include "IecVarAccessFunctions.def"
#undef IEC_VAR_ACCESS_FUNCTION
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
#define IEC_VAR_ACCESS_FUNCTION(name, prototype) {k##name, Generic<prototype>(SimIecVarAcc##name)},
#include "IecVarAccessFunctions.def"
#undef IEC_VAR_ACCESS_FUNCTION
};

}  // namespace

void SimInstallVarAccessFunctions(std::map<std::string, RTS_VOID_FCTPTR>& table) {
    for (const SEntry& entry : s_entries)
        table[CSimApplication::hostFunctionNames()[entry.index]] = entry.function;
}
