/* Host SDK stand-in: the IEC variable access functions the component calls. */
#ifndef CMPIECVARACCESSITF_H
#define CMPIECVARACCESSITF_H

#include "CmpStd.h"
#include "IecVarAccess_ItfsItf.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Every pResult may be written with a result code; 0 is success. */
typedef RTS_HANDLE (*PF_IECVARACC_GET_FIRST_INTERFACE)(RTS_RESULT* pResult); /* pResult may be NULL */
typedef RTS_RESULT (*PF_IECVARACC_GET_APPLICATION_NAME)(RTS_HANDLE hInterface, char* pszAppName, RTS_SIZE nMaxLen);
typedef RTS_HANDLE (*PF_IECVARACC_BROWSE_GET_ROOT)(RTS_HANDLE hInterface, RTS_RESULT* pResult);
typedef RTS_HANDLE (*PF_IECVARACC_BROWSE_DOWN)(RTS_HANDLE hInterface, RTS_HANDLE hNode, RTS_RESULT* pResult);
typedef RTS_HANDLE (*PF_IECVARACC_BROWSE_GET_NEXT)(RTS_HANDLE hInterface, RTS_HANDLE hNode, RTS_RESULT* pResult);
typedef char* (*PF_IECVARACC_GET_NODE_FULL_PATH)(RTS_HANDLE hInterface, RTS_HANDLE hNode, char* pszPath,
                                                  RTS_SIZE nMaxLen, RTS_RESULT* pResult);
typedef RTS_UI16 (*PF_IECVARACC_GET_NODE_TYPE)(RTS_HANDLE hInterface, RTS_HANDLE hNode, RTS_RESULT* pResult);
typedef RTS_RESULT (*PF_IECVARACC_INIT_VAR_INFO)(VariableInformationStruct3* pVarInfo, RTS_SIZE nSize);
typedef RTS_RESULT (*PF_IECVARACC_EXIT_VAR_INFO)(VariableInformationStruct3* pVarInfo);
typedef RTS_HANDLE (*PF_IECVARACC_GET_NODE3)(const char* pszName, RTS_HANDLE* phInterface,
                                             VariableInformationStruct3* pVarInfo, RTS_RESULT* pResult);
typedef RTS_HANDLE (*PF_IECVARACC_GET_NODE)(const char* pszName, RTS_UINTPTR* pOffset, RTS_HANDLE* phInterface,
                                            RTS_RESULT* pResult);
typedef RTS_SIZE (*PF_IECVARACC_GET_SIZE3)(RTS_HANDLE hInterface, RTS_HANDLE hNode,
                                           VariableInformationStruct3* pVarInfo, RTS_RESULT* pResult);
typedef TypeClass3 (*PF_IECVARACC_GET_TYPE_CLASS3)(RTS_HANDLE hInterface, RTS_HANDLE hNode,
                                                   VariableInformationStruct3* pVarInfo, RTS_RESULT* pResult);
typedef RTS_UI8* (*PF_IECVARACC_GET_ADDRESS3)(RTS_HANDLE hInterface, RTS_HANDLE hNode,
                                              VariableInformationStruct3* pVarInfo, RTS_RESULT* pResult);
typedef char* (*PF_IECVARACC_GET_NODE_NAME)(RTS_HANDLE hInterface, RTS_HANDLE hNode, RTS_RESULT* pResult);
typedef RTS_HANDLE (*PF_IECVARACC_GET_TYPE_NODE3)(RTS_HANDLE hInterface, RTS_HANDLE hNode,
                                                  VariableInformationStruct3* pVarInfo, RTS_RESULT* pResult);
typedef RTS_RESULT (*PF_IECVARACC_GET_TYPE_DESC)(RTS_HANDLE hInterface, RTS_HANDLE hTypeNode,
                                                 TypeDescAsUnion* pTypeDesc);

#ifdef __cplusplus
}
#endif

#endif /* CMPIECVARACCESSITF_H */
