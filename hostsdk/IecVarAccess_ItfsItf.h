/* Host SDK stand-in: the records of the IEC variable access interface. */
#ifndef IECVARACCESS_ITFSITF_H
#define IECVARACCESS_ITFSITF_H

#include "CmpStd.h"

#ifdef __cplusplus
extern "C" {
#endif

/* IEC type classes as the host reports them; stored as a 32-bit value. */
typedef enum {
    TYPE3_BOOL = 0,
    TYPE3_BIT = 1,
    TYPE3_BYTE = 2,
    TYPE3_WORD = 3,
    TYPE3_DWORD = 4,
    TYPE3_LWORD = 5,
    TYPE3_SINT = 6,
    TYPE3_INT = 7,
    TYPE3_DINT = 8,
    TYPE3_LINT = 9,
    TYPE3_USINT = 10,
    TYPE3_UINT = 11,
    TYPE3_UDINT = 12,
    TYPE3_ULINT = 13,
    TYPE3_REAL = 14,
    TYPE3_LREAL = 15,
    TYPE3_STRING = 16,
    TYPE3_WSTRING = 17,
    TYPE3_TIME = 18,
    TYPE3_DATE = 19,
    TYPE3_DATEANDTIME = 20,
    TYPE3_TIMEOFDAY = 21,
    TYPE3_POINTER = 22,
    TYPE3_REFERENCE = 23,
    TYPE3_SUBRANGE = 24,
    TYPE3_ENUM = 25,
    TYPE3_ARRAY = 26,
    TYPE3_PARAMS = 27,
    TYPE3_USERDEF = 28,
    TYPE3_NONE = 29,
    TYPE3_ANY = 30,
    TYPE3_ANYBIT = 31,
    TYPE3_ANYDATE = 32,
    TYPE3_ANYINT = 33,
    TYPE3_ANYNUM = 34,
    TYPE3_ANYREAL = 35,
    TYPE3_LAZY = 36,
    TYPE3_LTIME = 37,
    TYPE3_BITCONST = 38,
    TYPE3_UXINT = 39,
    TYPE3_XWORD = 40,
    TYPE3_XINT = 41,
    TYPE3_XSRTING = 42,
    TYPE3_VARLENARRAY = 43,
    TYPE3_ANYSTRING = 44,
    TYPE3_VECTOR = 45,
    TYPE3_LDATE = 46,
    TYPE3_LDATEANDTIME = 47,
    TYPE3_LTIMEOFDAY = 48,
    TYPE3_INTERFACE = 49,
    TYPE3_MAX_TYPE = 50
} TypeClass3;

/* The host's per-lookup record; its contents are private to the host. */
typedef struct tagVariableInformationStruct3 {
    RTS_UI64 opaque[11];
} VariableInformationStruct3;

typedef struct tagArrayDimension {
    RTS_I32 MinRange;
    RTS_I32 MaxRange;
} ArrayDimension;

typedef struct tagTypeDescAsUnion {
    TypeClass3 _typeClass;
    union {
        struct {
            RTS_I16 _iDimensions;
            ArrayDimension _Dimension[3];
        } _array;
        struct {
            RTS_I32 _iComponents;
            RTS_HANDLE* _Components; /* caller-provided array of member handles */
        } _struct;
    } _union;
} TypeDescAsUnion;

/* Node kinds reported by IecVarAccGetNodeType. */
#define IECVARACC_NODE_BRANCH 4892   /* 0x131C: a branch of the symbol browser */
#define IECVARACC_NODE_VARIABLE 1549 /* 0x060D: a variable */

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(TypeClass3) == 4, "TypeClass3 is stored as 32 bits");
static_assert(sizeof(VariableInformationStruct3) == 88, "VariableInformationStruct3 is 88 bytes");
static_assert(alignof(VariableInformationStruct3) == 8, "VariableInformationStruct3 is aligned 8");
static_assert(sizeof(ArrayDimension) == 8, "ArrayDimension is 8 bytes");
static_assert(sizeof(TypeDescAsUnion) == 40, "TypeDescAsUnion is 40 bytes");
static_assert(offsetof(TypeDescAsUnion, _union) == 8, "TypeDescAsUnion layout");
static_assert(offsetof(TypeDescAsUnion, _union._array._iDimensions) == 8, "TypeDescAsUnion layout");
static_assert(offsetof(TypeDescAsUnion, _union._array._Dimension) == 12, "TypeDescAsUnion layout");
static_assert(offsetof(TypeDescAsUnion, _union._array._Dimension[1]) == 20, "TypeDescAsUnion layout");
static_assert(offsetof(TypeDescAsUnion, _union._array._Dimension[2]) == 28, "TypeDescAsUnion layout");
static_assert(offsetof(TypeDescAsUnion, _union._struct._iComponents) == 8, "TypeDescAsUnion layout");
static_assert(offsetof(TypeDescAsUnion, _union._struct._Components) == 16, "TypeDescAsUnion layout");
#endif

#endif /* IECVARACCESS_ITFSITF_H */
