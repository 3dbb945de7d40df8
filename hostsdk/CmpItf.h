/* Host SDK stand-in: the component manager's records and entry points. */
#ifndef CMPITF_H
#define CMPITF_H

#include "CmpStd.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef int (*PF_EXPORT_FUNCTIONS)(void);
typedef int (*PF_IMPORT_FUNCTIONS)(void);
typedef RTS_UI32 (*PF_GET_VERSION)(void);
typedef IBase* (*PF_CREATE_INSTANCE)(CLASSID cid, RTS_RESULT* pResult);
typedef RTS_RESULT (*PF_DELETE_INSTANCE)(IBase* pIBase);
typedef RTS_RESULT (*PF_HOOK_FUNCTION)(RTS_UI32 ulHook, RTS_UINTPTR ulParam1, RTS_UINTPTR ulParam2);

struct tagCMP_EXT_FUNCTION_REF;
typedef RTS_RESULT (*PF_REGISTER_API)(const struct tagCMP_EXT_FUNCTION_REF* pExpTable, RTS_UINTPTR ulDummy,
                                      int bExternalLibrary, RTS_UI32 cmpId);
typedef RTS_RESULT (*PF_GET_API)(char* pszAPIName, RTS_VOID_FCTPTR* ppfAPIFunction, RTS_UI32 ulSignatureID);
typedef RTS_RESULT (*PF_CALL_HOOK)(RTS_UI32 ulHook, RTS_UINTPTR ulParam1, RTS_UINTPTR ulParam2, int bReverse);
typedef RTS_RESULT (*PF_REGISTER_CLASS)(CMPID cmpId, CLASSID classId);
typedef RTS_HANDLE (*PF_CREATE_INSTANCE_CM)(CLASSID classId, RTS_RESULT* pResult);
typedef RTS_RESULT (*PF_REGISTER_API2)(const char* pszAPIName, RTS_VOID_FCTPTR pfAPIFunction, int bExternalLibrary,
                                       RTS_UI32 ulSignatureID, RTS_UI32 ulVersion);
typedef RTS_RESULT (*PF_GET_API2)(char* pszAPIName, RTS_VOID_FCTPTR* ppfAPIFunction, int importOptions,
                                  RTS_UI32 ulSignatureID, RTS_UI32 ulVersion);
typedef RTS_RESULT (*PF_DELETE_INSTANCE2)(IBase* pIBase);

typedef struct tagINIT_STRUCT {
    CMPID CmpId;
    PF_EXPORT_FUNCTIONS pfExportFunctions;
    PF_IMPORT_FUNCTIONS pfImportFunctions;
    PF_GET_VERSION pfGetVersion;
    PF_CREATE_INSTANCE pfCreateInstance;
    PF_DELETE_INSTANCE pfDeleteInstance;
    PF_HOOK_FUNCTION pfHookFunction;
    PF_REGISTER_API pfCMRegisterAPI;
    PF_GET_API pfCMGetAPI;
    PF_CALL_HOOK pfCMCallHook;
    PF_REGISTER_CLASS pfCMRegisterClass;
    PF_CREATE_INSTANCE_CM pfCMCreateInstance;
    PF_REGISTER_API2 pfCMRegisterAPI2;
    PF_GET_API2 pfCMGetAPI2;
    PF_DELETE_INSTANCE2 pfCMDeleteInstance2;
} INIT_STRUCT;

typedef struct tagCMP_EXT_FUNCTION_REF {
    RTS_VOID_FCTPTR pfExtCall;
    const char* pszExtCallName;
    RTS_UI32 signature;
    RTS_UI32 version;
} CMP_EXT_FUNCTION_REF;

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#define CMPITF_STATIC_ASSERT static_assert
#else
#define CMPITF_STATIC_ASSERT _Static_assert
#endif
CMPITF_STATIC_ASSERT(sizeof(INIT_STRUCT) == 120, "INIT_STRUCT is 120 bytes");
CMPITF_STATIC_ASSERT(offsetof(INIT_STRUCT, pfExportFunctions) == 8, "INIT_STRUCT layout");
CMPITF_STATIC_ASSERT(offsetof(INIT_STRUCT, pfHookFunction) == 48, "INIT_STRUCT layout");
CMPITF_STATIC_ASSERT(offsetof(INIT_STRUCT, pfCMRegisterAPI) == 56, "INIT_STRUCT layout");
CMPITF_STATIC_ASSERT(offsetof(INIT_STRUCT, pfCMGetAPI) == 64, "INIT_STRUCT layout");
CMPITF_STATIC_ASSERT(offsetof(INIT_STRUCT, pfCMCallHook) == 72, "INIT_STRUCT layout");
CMPITF_STATIC_ASSERT(offsetof(INIT_STRUCT, pfCMRegisterAPI2) == 96, "INIT_STRUCT layout");
CMPITF_STATIC_ASSERT(offsetof(INIT_STRUCT, pfCMGetAPI2) == 104, "INIT_STRUCT layout");
CMPITF_STATIC_ASSERT(offsetof(INIT_STRUCT, pfCMDeleteInstance2) == 112, "INIT_STRUCT layout");
CMPITF_STATIC_ASSERT(sizeof(CMP_EXT_FUNCTION_REF) == 24, "CMP_EXT_FUNCTION_REF is 24 bytes");
CMPITF_STATIC_ASSERT(offsetof(CMP_EXT_FUNCTION_REF, pszExtCallName) == 8, "CMP_EXT_FUNCTION_REF layout");
CMPITF_STATIC_ASSERT(offsetof(CMP_EXT_FUNCTION_REF, signature) == 16, "CMP_EXT_FUNCTION_REF layout");
CMPITF_STATIC_ASSERT(offsetof(CMP_EXT_FUNCTION_REF, version) == 20, "CMP_EXT_FUNCTION_REF layout");

#endif /* CMPITF_H */
