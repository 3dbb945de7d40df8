/* Host SDK stand-in: scalar types shared by every host interface.
 * Written from the host interface contract of this project; a build against the
 * vendor's SDK replaces this folder and nothing else. */
#ifndef CMPSTD_H
#define CMPSTD_H

#include <stddef.h>
#include <stdint.h>

typedef int8_t RTS_I8;
typedef uint8_t RTS_UI8;
typedef int16_t RTS_I16;
typedef uint16_t RTS_UI16;
typedef int32_t RTS_I32;
typedef uint32_t RTS_UI32;
typedef int64_t RTS_I64;
typedef uint64_t RTS_UI64;
typedef size_t RTS_SIZE;
typedef uintptr_t RTS_UINTPTR;

typedef RTS_I32 RTS_RESULT;
#define ERR_OK 0

typedef void* RTS_HANDLE;
#define RTS_INVALID_HANDLE ((RTS_HANDLE)(~(RTS_UINTPTR)0))

typedef RTS_UI32 CMPID;
typedef RTS_UI32 CLASSID;
typedef RTS_UI32 EVENTID;

typedef void (*RTS_VOID_FCTPTR)(void);

typedef struct tagIBase IBase;

#include "SysInternalLibItf.h"

#endif /* CMPSTD_H */
