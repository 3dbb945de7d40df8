/* Host SDK stand-in: the host logger. */
#ifndef CMPLOGITF_H
#define CMPLOGITF_H

#include "CmpStd.h"

#ifdef __cplusplus
extern "C" {
#endif

/* pszInfo is a printf format; its arguments follow. */
typedef RTS_RESULT (*PF_LOG_ADD)(RTS_HANDLE hLogger, CMPID CmpId, int iClassID, RTS_RESULT iErrorID,
                                 RTS_UI32 iInfoID, const char* pszInfo, ...);

#ifdef __cplusplus
}
#endif

#define LOG_INFO 1
#define LOG_ERROR 4

#endif /* CMPLOGITF_H */
