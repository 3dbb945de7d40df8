/* Host SDK stand-in: the IEC elementary types as the runtime stores them. */
#ifndef SYSINTERNALLIBITF_H
#define SYSINTERNALLIBITF_H

#include <stdint.h>

typedef int8_t RTS_IEC_BOOL; /* 0 or 1 */
typedef uint8_t RTS_IEC_BYTE;
typedef uint8_t RTS_IEC_USINT;
typedef int8_t RTS_IEC_SINT;
typedef uint16_t RTS_IEC_WORD;
typedef uint16_t RTS_IEC_UINT;
typedef int16_t RTS_IEC_INT;
typedef uint32_t RTS_IEC_DWORD;
typedef uint32_t RTS_IEC_UDINT;
typedef uint32_t RTS_IEC_DATE_AND_TIME;
typedef uint32_t RTS_IEC_TIME;
typedef int32_t RTS_IEC_DINT;
typedef int64_t RTS_IEC_LINT;
typedef uint64_t RTS_IEC_LWORD;
typedef uint64_t RTS_IEC_ULINT;
typedef float RTS_IEC_REAL;
typedef double RTS_IEC_LREAL;
typedef char RTS_IEC_STRING;     /* a STRING is a zero-terminated run of these */
typedef uint16_t RTS_IEC_WSTRING; /* a WSTRING is a zero-terminated run of UTF-16 code units */

#endif /* SYSINTERNALLIBITF_H */
