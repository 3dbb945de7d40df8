/* Interface of the libzentrik external IEC functions: the parameter records of the function
 * blocks fb_jsonsaxwriter and fb_jsonreadwritedatatype, laid out as the IEC compiler lays them
 * out on a 64-bit target, and the external functions that take them. */
#ifndef RV5072_ZENTRIKITF_H
#define RV5072_ZENTRIKITF_H

#include <stddef.h>

#include "CmpStd.h"

#if defined(__GNUC__)
#define ZENTRIK_EXPORT __attribute__((visibility("default")))
#else
#define ZENTRIK_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The bits of a writer instance's format (fb_jsonsaxwriter's SetFormat and GetFormat),
 * with the names and values iec/fb_jsonsaxwriter.st declares. */
#define ZENTRIK_FORMAT_NUMERIC_ENUMS 0x0001u /* ENUM and SUBRANGE as integers */
#define ZENTRIK_FORMAT_LONG_TIMES 0x0002u    /* LTIME, LDATE, LDT, LTOD as 64-bit nanoseconds */
#define ZENTRIK_FORMAT_SHORT_REALS 0x0004u   /* REAL in its shortest decimal: 0.1, not 0.10000000149011612 */
#define ZENTRIK_FORMAT_ISO_8601 0x0008u      /* durations, times and dates as ISO 8601 texts */
#define ZENTRIK_FORMAT_INT64_STRINGS 0x0010u /* 64-bit integers as strings of their decimal value */
#define ZENTRIK_FORMAT_BOOL_LITERALS 0x0020u /* AddBool and AddKeyBool write true / false */
#define ZENTRIK_FORMAT_NESTED_ARRAYS 0x0040u /* arrays of 2 or 3 dimensions as nested arrays */
#define ZENTRIK_FORMAT_UNSIGNED_BITS 0x0080u /* BYTE, WORD, DWORD, LWORD as unsigned */
#define ZENTRIK_FORMAT_PRETTY 0x0100u        /* the text indented, one member or element per line */
#define ZENTRIK_FORMAT_READABLE 0x00EFu      /* every bit but INT64_STRINGS and PRETTY */
#define ZENTRIK_FORMAT_BITS 0x01FFu          /* every bit a format may hold */

/* The kinds of value fb_jsonreader's GetKind gives, with the names iec/fb_jsonreader.st
 * declares. */
#define ZENTRIK_KIND_NOTHING 0 /* nothing found at the path, or no document */
#define ZENTRIK_KIND_NULL 1
#define ZENTRIK_KIND_BOOLEAN 2
#define ZENTRIK_KIND_INTEGER 3 /* a number without fraction or exponent within 64 bits */
#define ZENTRIK_KIND_REAL 4    /* any other number */
#define ZENTRIK_KIND_STRING 5
#define ZENTRIK_KIND_ARRAY 6
#define ZENTRIK_KIND_OBJECT 7

/* Instance of the writer block. The component uses only its address. */
typedef struct tagfb_jsonsaxwriter_struct {
    void* __VFTABLEPOINTER;
    RTS_IEC_UINT initStatus;
} fb_jsonsaxwriter_struct;

/* Instance of the datatype block. The component uses only its address. */
typedef struct tagfb_jsonreadwritedatatype_struct {
    void* __VFTABLEPOINTER;
    RTS_IEC_UINT initStatus;
} fb_jsonreadwritedatatype_struct;

typedef struct tagfb_jsonsaxwriter_main_struct {
    fb_jsonsaxwriter_struct* pInstance;
} fb_jsonsaxwriter_main_struct;

typedef struct tagfb_jsonsaxwriter_addkey_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_STRING* key;
} fb_jsonsaxwriter_addkey_struct;

typedef struct tagfb_jsonsaxwriter_addkeynull_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_STRING* key;
} fb_jsonsaxwriter_addkeynull_struct;

typedef struct tagfb_jsonsaxwriter_addstring_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_STRING* value;
} fb_jsonsaxwriter_addstring_struct;

typedef struct tagfb_jsonsaxwriter_addbool_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_BOOL value;
} fb_jsonsaxwriter_addbool_struct;

typedef struct tagfb_jsonsaxwriter_adddint_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_DINT value;
} fb_jsonsaxwriter_adddint_struct;

typedef struct tagfb_jsonsaxwriter_addudint_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_UDINT value;
} fb_jsonsaxwriter_addudint_struct;

typedef struct tagfb_jsonsaxwriter_addlint_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_LINT value;
} fb_jsonsaxwriter_addlint_struct;

typedef struct tagfb_jsonsaxwriter_addreal_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_REAL value;
} fb_jsonsaxwriter_addreal_struct;

typedef struct tagfb_jsonsaxwriter_addlreal_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_LREAL value;
} fb_jsonsaxwriter_addlreal_struct;

typedef struct tagfb_jsonsaxwriter_adddatetime_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_DATE_AND_TIME value;
} fb_jsonsaxwriter_adddatetime_struct;

typedef struct tagfb_jsonsaxwriter_addnull_struct {
    fb_jsonsaxwriter_struct* pInstance;
} fb_jsonsaxwriter_addnull_struct;

typedef struct tagfb_jsonsaxwriter_addkeystring_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_STRING* key;
    RTS_IEC_STRING* value;
} fb_jsonsaxwriter_addkeystring_struct;

typedef struct tagfb_jsonsaxwriter_addkeybool_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_STRING* key;
    RTS_IEC_BOOL value;
} fb_jsonsaxwriter_addkeybool_struct;

typedef struct tagfb_jsonsaxwriter_addkeynumber_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_STRING* key;
    RTS_IEC_DINT value;
} fb_jsonsaxwriter_addkeynumber_struct;

typedef struct tagfb_jsonsaxwriter_addkeylreal_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_STRING* key;
    RTS_IEC_LREAL value;
} fb_jsonsaxwriter_addkeylreal_struct;

typedef struct tagfb_jsonsaxwriter_addkeydatetime_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_STRING* key;
    RTS_IEC_DATE_AND_TIME value;
} fb_jsonsaxwriter_addkeydatetime_struct;

typedef struct tagfb_jsonsaxwriter_resetdocument_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_UINT ResetDocument;
} fb_jsonsaxwriter_resetdocument_struct;

typedef struct tagfb_jsonsaxwriter_getdocument_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_STRING GetDocument[256];
    RTS_IEC_UINT hrErrorCode;
} fb_jsonsaxwriter_getdocument_struct;

typedef struct tagfb_jsonsaxwriter_getdocumentlength_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_UDINT GetDocumentLength;
    RTS_IEC_UINT hrErrorCode;
} fb_jsonsaxwriter_getdocumentlength_struct;

typedef struct tagfb_jsonsaxwriter_copydocument_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_STRING* pDoc;
    RTS_IEC_UDINT nDoc;
    RTS_IEC_UDINT CopyDocument;
    RTS_IEC_UINT hrErrorCode;
} fb_jsonsaxwriter_copydocument_struct;

typedef struct tagfb_jsonsaxwriter_copydocumentpart_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_UDINT nOffset;
    RTS_IEC_BYTE* pDoc;
    RTS_IEC_UDINT nDoc;
    RTS_IEC_UDINT CopyDocumentPart;
    RTS_IEC_UDINT nLength;
    RTS_IEC_UDINT nChange;
} fb_jsonsaxwriter_copydocumentpart_struct;

typedef struct tagfb_jsonsaxwriter_startobject_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_UINT StartObject;
} fb_jsonsaxwriter_startobject_struct;

typedef struct tagfb_jsonsaxwriter_endobject_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_UINT EndObject;
} fb_jsonsaxwriter_endobject_struct;

typedef struct tagfb_jsonsaxwriter_startarray_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_UINT StartArray;
} fb_jsonsaxwriter_startarray_struct;

typedef struct tagfb_jsonsaxwriter_endarray_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_UINT EndArray;
} fb_jsonsaxwriter_endarray_struct;

typedef struct tagfb_jsonsaxwriter_addrawobject_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_STRING* rawJson;
} fb_jsonsaxwriter_addrawobject_struct;

typedef struct tagfb_jsonsaxwriter_addrawarray_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_STRING* rawJson;
} fb_jsonsaxwriter_addrawarray_struct;

typedef struct tagfb_jsonsaxwriter_addbase64_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_BYTE* pBytes;
    RTS_IEC_DINT nBytes;
} fb_jsonsaxwriter_addbase64_struct;

typedef struct tagfb_jsonsaxwriter_addhexbinary_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_BYTE* pBytes;
    RTS_IEC_DINT nBytes;
} fb_jsonsaxwriter_addhexbinary_struct;

typedef struct tagfb_jsonsaxwriter_getmaxdecimalplaces_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_DINT GetMaxDecimalPlaces;
} fb_jsonsaxwriter_getmaxdecimalplaces_struct;

typedef struct tagfb_jsonsaxwriter_setmaxdecimalplaces_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_DINT decimalPlaces;
    RTS_IEC_UINT SetMaxDecimalPlaces;
} fb_jsonsaxwriter_setmaxdecimalplaces_struct;

typedef struct tagfb_jsonsaxwriter_setformat_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_DWORD nFormat;  /* input: the format bits */
    RTS_IEC_UINT SetFormat; /* output: 1 when taken, 0 when refused */
} fb_jsonsaxwriter_setformat_struct;

typedef struct tagfb_jsonsaxwriter_getformat_struct {
    fb_jsonsaxwriter_struct* pInstance;
    RTS_IEC_DWORD GetFormat; /* output: the instance's format */
} fb_jsonsaxwriter_getformat_struct;

typedef struct tagfb_jsonreadwritedatatype_main_struct {
    fb_jsonreadwritedatatype_struct* pInstance;
} fb_jsonreadwritedatatype_main_struct;

typedef struct tagfb_jsonreadwritedatatype_setsymbolfromjson_struct {
    fb_jsonreadwritedatatype_struct* pInstance;
    RTS_IEC_STRING* pJson;          /* input: the JSON text */
    RTS_IEC_UDINT nSize;            /* input: number of bytes of pJson to take */
    RTS_IEC_UDINT* pData;           /* input: address of the variable to write */
    RTS_IEC_UDINT nData;            /* input, not used */
    RTS_IEC_BOOL SetSymbolFromJson; /* output */
    RTS_IEC_UINT hrErrorCode;       /* never written */
} fb_jsonreadwritedatatype_setsymbolfromjson_struct;

typedef struct tagfb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct {
    fb_jsonreadwritedatatype_struct* pInstance;
    fb_jsonsaxwriter_struct* fbWriter;      /* input: the writer whose document receives the member */
    RTS_IEC_STRING* sKey;                   /* input: the member name */
    RTS_IEC_STRING* sDatatype;              /* input, not used */
    RTS_IEC_UDINT nData;                    /* input, not used */
    RTS_IEC_UDINT* pData;                   /* input: address of the variable to read */
    RTS_IEC_BOOL AddJsonKeyValueFromSymbol; /* output */
    RTS_IEC_UINT hrErrorCode;               /* never written */
} fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct;

typedef struct tagfb_jsonreadwritedatatype_addjsonschemafromsymbol_struct {
    fb_jsonreadwritedatatype_struct* pInstance;
    fb_jsonsaxwriter_struct* fbWriter;    /* input: the writer whose document receives the schema */
    RTS_IEC_STRING* sKey;                 /* input: the member name */
    RTS_IEC_STRING* sDatatype;            /* input, not used */
    RTS_IEC_UDINT nData;                  /* input, not used */
    RTS_IEC_UDINT* pData;                 /* input: address of the variable described */
    RTS_IEC_BOOL AddJsonSchemaFromSymbol; /* output */
    RTS_IEC_UINT hrErrorCode;             /* never written */
} fb_jsonreadwritedatatype_addjsonschemafromsymbol_struct;

typedef struct tagfb_jsonreadwritedatatype_addjsonchangesfromsymbol_struct {
    fb_jsonreadwritedatatype_struct* pInstance;
    fb_jsonsaxwriter_struct* fbWriter;     /* input: the writer whose document receives the member */
    RTS_IEC_STRING* sKey;                  /* input: the member name */
    RTS_IEC_UDINT* pData;                  /* input: address of the variable to read */
    RTS_IEC_BYTE* pLast;                   /* input: the caller's copy of the variable as last sent */
    RTS_IEC_UDINT nLast;                   /* input: the copy's size in bytes */
    RTS_IEC_LREAL fDeadband;               /* input: deadband of REAL and LREAL leaves, 0 or more */
    RTS_IEC_BOOL bKeyFrame;                /* input: send the whole value */
    RTS_IEC_BOOL AddJsonChangesFromSymbol; /* output */
    RTS_IEC_UINT hrErrorCode;              /* never written */
    RTS_IEC_UDINT nChanged;                /* output: the leaves that changed */
} fb_jsonreadwritedatatype_addjsonchangesfromsymbol_struct;

typedef struct tagfb_jsonreadwritedatatype_setsymbolfromjsonreport_struct {
    fb_jsonreadwritedatatype_struct* pInstance;
    RTS_IEC_STRING* pJson;                /* input: the JSON text */
    RTS_IEC_UDINT nSize;                  /* input: number of bytes of pJson to take */
    RTS_IEC_UDINT* pData;                 /* input: address of the variable to write */
    RTS_IEC_UDINT nData;                  /* input, not used */
    RTS_IEC_BOOL SetSymbolFromJsonReport; /* output: what SetSymbolFromJson gives */
    RTS_IEC_UDINT nWritten;               /* output: leaves written */
    RTS_IEC_UDINT nSkipped;               /* output: leaves of the variable left unwritten */
    RTS_IEC_UDINT nUnknown;               /* output: JSON members that match no member */
    RTS_IEC_UDINT nErrorOffset;           /* output: byte offset of a parse error, else 0 */
    RTS_IEC_STRING sProblem[256];         /* output: the first problem, "" when none */
    RTS_IEC_UDINT nMissing;               /* output: leaves the text did not mention */
} fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct;
/* Instance of the reader block fb_jsonreader. The component uses only its address. */
typedef struct tagfb_jsonreader_struct {
    void* __VFTABLEPOINTER;
    RTS_IEC_UINT initStatus;
} fb_jsonreader_struct;

typedef struct tagfb_jsonreader_main_struct {
    fb_jsonreader_struct* pInstance;
} fb_jsonreader_main_struct;

typedef struct tagfb_jsonreader_parse_struct {
    fb_jsonreader_struct* pInstance;
    RTS_IEC_STRING* pJson;      /* input: the JSON text */
    RTS_IEC_UDINT nSize;        /* input: number of bytes of pJson to take */
    RTS_IEC_BOOL Parse;         /* output */
    RTS_IEC_UDINT nErrorOffset; /* output: byte offset of the fault, 0 on success */
    RTS_IEC_STRING sError[256]; /* output: why the text was refused, "" on success */
} fb_jsonreader_parse_struct;

typedef struct tagfb_jsonreader_getkind_struct {
    fb_jsonreader_struct* pInstance;
    RTS_IEC_STRING* sPath;
    RTS_IEC_DINT GetKind;
} fb_jsonreader_getkind_struct;

typedef struct tagfb_jsonreader_getsize_struct {
    fb_jsonreader_struct* pInstance;
    RTS_IEC_STRING* sPath;
    RTS_IEC_DINT GetSize;
} fb_jsonreader_getsize_struct;

typedef struct tagfb_jsonreader_getbool_struct {
    fb_jsonreader_struct* pInstance;
    RTS_IEC_STRING* sPath;
    RTS_IEC_BOOL GetBool;
    RTS_IEC_BOOL bValue;
} fb_jsonreader_getbool_struct;

typedef struct tagfb_jsonreader_getdint_struct {
    fb_jsonreader_struct* pInstance;
    RTS_IEC_STRING* sPath;
    RTS_IEC_BOOL GetDint;
    RTS_IEC_DINT diValue;
} fb_jsonreader_getdint_struct;

typedef struct tagfb_jsonreader_getlint_struct {
    fb_jsonreader_struct* pInstance;
    RTS_IEC_STRING* sPath;
    RTS_IEC_BOOL GetLint;
    RTS_IEC_LINT liValue;
} fb_jsonreader_getlint_struct;

typedef struct tagfb_jsonreader_getlreal_struct {
    fb_jsonreader_struct* pInstance;
    RTS_IEC_STRING* sPath;
    RTS_IEC_BOOL GetLreal;
    RTS_IEC_LREAL lrValue;
} fb_jsonreader_getlreal_struct;

typedef struct tagfb_jsonreader_getstring_struct {
    fb_jsonreader_struct* pInstance;
    RTS_IEC_STRING* sPath;
    RTS_IEC_STRING* pBuffer; /* input: the caller's buffer */
    RTS_IEC_UDINT nBuffer;   /* input: its size in bytes */
    RTS_IEC_BOOL GetString;  /* output */
    RTS_IEC_UDINT nLength;   /* output: byte length of the whole string */
} fb_jsonreader_getstring_struct;

typedef struct tagfb_jsonreader_getmembername_struct {
    fb_jsonreader_struct* pInstance;
    RTS_IEC_STRING* sPath;
    RTS_IEC_UDINT nIndex;       /* input: the member, from 0 */
    RTS_IEC_STRING* pBuffer;    /* input: the caller's buffer */
    RTS_IEC_UDINT nBuffer;      /* input: its size in bytes */
    RTS_IEC_BOOL GetMemberName; /* output */
    RTS_IEC_UDINT nLength;      /* output: byte length of the whole name */
} fb_jsonreader_getmembername_struct;

typedef struct tagfb_jsonreader_getraw_struct {
    fb_jsonreader_struct* pInstance;
    RTS_IEC_STRING* sPath;
    RTS_IEC_STRING* pBuffer; /* input: the caller's buffer */
    RTS_IEC_UDINT nBuffer;   /* input: its size in bytes */
    RTS_IEC_BOOL GetRaw;     /* output */
    RTS_IEC_UDINT nLength;   /* output: byte length of the text, without the terminator */
} fb_jsonreader_getraw_struct;

typedef struct tagfb_jsonreader_tovariable_struct {
    fb_jsonreader_struct* pInstance;
    RTS_IEC_STRING* sPath;
    RTS_IEC_UDINT* pData; /* input: address of the variable to write */
    RTS_IEC_BOOL ToVariable;
} fb_jsonreader_tovariable_struct;

ZENTRIK_EXPORT void fb_jsonsaxwriter__main(fb_jsonsaxwriter_main_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__addkey(fb_jsonsaxwriter_addkey_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__addkeynull(fb_jsonsaxwriter_addkeynull_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__addstring(fb_jsonsaxwriter_addstring_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__addbool(fb_jsonsaxwriter_addbool_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__adddint(fb_jsonsaxwriter_adddint_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__addudint(fb_jsonsaxwriter_addudint_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__addlint(fb_jsonsaxwriter_addlint_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__addreal(fb_jsonsaxwriter_addreal_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__addlreal(fb_jsonsaxwriter_addlreal_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__adddatetime(fb_jsonsaxwriter_adddatetime_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__addnull(fb_jsonsaxwriter_addnull_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__addkeystring(fb_jsonsaxwriter_addkeystring_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__addkeybool(fb_jsonsaxwriter_addkeybool_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__addkeynumber(fb_jsonsaxwriter_addkeynumber_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__addkeylreal(fb_jsonsaxwriter_addkeylreal_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__addkeydatetime(fb_jsonsaxwriter_addkeydatetime_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__resetdocument(fb_jsonsaxwriter_resetdocument_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__getdocument(fb_jsonsaxwriter_getdocument_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__getdocumentlength(fb_jsonsaxwriter_getdocumentlength_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__copydocument(fb_jsonsaxwriter_copydocument_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__copydocumentpart(fb_jsonsaxwriter_copydocumentpart_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__startobject(fb_jsonsaxwriter_startobject_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__endobject(fb_jsonsaxwriter_endobject_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__startarray(fb_jsonsaxwriter_startarray_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__endarray(fb_jsonsaxwriter_endarray_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__addrawobject(fb_jsonsaxwriter_addrawobject_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__addrawarray(fb_jsonsaxwriter_addrawarray_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__addbase64(fb_jsonsaxwriter_addbase64_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__addhexbinary(fb_jsonsaxwriter_addhexbinary_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__getmaxdecimalplaces(fb_jsonsaxwriter_getmaxdecimalplaces_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__setmaxdecimalplaces(fb_jsonsaxwriter_setmaxdecimalplaces_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__setformat(fb_jsonsaxwriter_setformat_struct* p);
ZENTRIK_EXPORT void fb_jsonsaxwriter__getformat(fb_jsonsaxwriter_getformat_struct* p);

ZENTRIK_EXPORT void fb_jsonreadwritedatatype__main(fb_jsonreadwritedatatype_main_struct* p);
ZENTRIK_EXPORT void fb_jsonreadwritedatatype__setsymbolfromjson(
    fb_jsonreadwritedatatype_setsymbolfromjson_struct* p);
ZENTRIK_EXPORT void fb_jsonreadwritedatatype__addjsonkeyvaluefromsymbol(
    fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct* p);
ZENTRIK_EXPORT void fb_jsonreadwritedatatype__addjsonschemafromsymbol(
    fb_jsonreadwritedatatype_addjsonschemafromsymbol_struct* p);
ZENTRIK_EXPORT void fb_jsonreadwritedatatype__setsymbolfromjsonreport(
    fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct* p);
ZENTRIK_EXPORT void fb_jsonreadwritedatatype__addjsonchangesfromsymbol(
    fb_jsonreadwritedatatype_addjsonchangesfromsymbol_struct* p);

ZENTRIK_EXPORT void fb_jsonreader__main(fb_jsonreader_main_struct* p);
ZENTRIK_EXPORT void fb_jsonreader__parse(fb_jsonreader_parse_struct* p);
ZENTRIK_EXPORT void fb_jsonreader__getkind(fb_jsonreader_getkind_struct* p);
ZENTRIK_EXPORT void fb_jsonreader__getsize(fb_jsonreader_getsize_struct* p);
ZENTRIK_EXPORT void fb_jsonreader__getbool(fb_jsonreader_getbool_struct* p);
ZENTRIK_EXPORT void fb_jsonreader__getdint(fb_jsonreader_getdint_struct* p);
ZENTRIK_EXPORT void fb_jsonreader__getlint(fb_jsonreader_getlint_struct* p);
ZENTRIK_EXPORT void fb_jsonreader__getlreal(fb_jsonreader_getlreal_struct* p);
ZENTRIK_EXPORT void fb_jsonreader__getstring(fb_jsonreader_getstring_struct* p);
ZENTRIK_EXPORT void fb_jsonreader__getmembername(fb_jsonreader_getmembername_struct* p);
ZENTRIK_EXPORT void fb_jsonreader__getraw(fb_jsonreader_getraw_struct* p);
ZENTRIK_EXPORT void fb_jsonreader__tovariable(fb_jsonreader_tovariable_struct* p);

#ifdef __cplusplus
}

static_assert(sizeof(fb_jsonsaxwriter_struct) == 16, "record layout");
static_assert(sizeof(fb_jsonreadwritedatatype_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_struct, initStatus) == 8, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_main_struct) == 8, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_addkey_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addkey_struct, key) == 8, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_addkeynull_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addkeynull_struct, key) == 8, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_addstring_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addstring_struct, value) == 8, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_addbool_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addbool_struct, value) == 8, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_adddint_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_adddint_struct, value) == 8, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_addudint_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addudint_struct, value) == 8, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_addlint_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addlint_struct, value) == 8, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_addreal_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addreal_struct, value) == 8, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_addlreal_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addlreal_struct, value) == 8, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_adddatetime_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_adddatetime_struct, value) == 8, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_addnull_struct) == 8, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_addkeystring_struct) == 24, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addkeystring_struct, key) == 8, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addkeystring_struct, value) == 16, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_addkeybool_struct) == 24, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addkeybool_struct, key) == 8, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addkeybool_struct, value) == 16, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_addkeynumber_struct) == 24, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addkeynumber_struct, key) == 8, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addkeynumber_struct, value) == 16, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_addkeylreal_struct) == 24, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addkeylreal_struct, key) == 8, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addkeylreal_struct, value) == 16, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_addkeydatetime_struct) == 24, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addkeydatetime_struct, key) == 8, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addkeydatetime_struct, value) == 16, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_resetdocument_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_resetdocument_struct, ResetDocument) == 8, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_getdocument_struct) == 272, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_getdocument_struct, GetDocument) == 8, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_getdocument_struct, hrErrorCode) == 264, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_getdocumentlength_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_getdocumentlength_struct, GetDocumentLength) == 8, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_getdocumentlength_struct, hrErrorCode) == 12, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_copydocument_struct) == 32, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_copydocument_struct, pDoc) == 8, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_copydocument_struct, nDoc) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_copydocument_struct, CopyDocument) == 20, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_copydocument_struct, hrErrorCode) == 24, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_copydocumentpart_struct) == 40, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_copydocumentpart_struct, nOffset) == 8, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_copydocumentpart_struct, pDoc) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_copydocumentpart_struct, nDoc) == 24, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_copydocumentpart_struct, CopyDocumentPart) == 28, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_copydocumentpart_struct, nLength) == 32, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_copydocumentpart_struct, nChange) == 36, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_startobject_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_startobject_struct, StartObject) == 8, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_endobject_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_endobject_struct, EndObject) == 8, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_startarray_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_startarray_struct, StartArray) == 8, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_endarray_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_endarray_struct, EndArray) == 8, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_addrawobject_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addrawobject_struct, rawJson) == 8, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_addrawarray_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addrawarray_struct, rawJson) == 8, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_addbase64_struct) == 24, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addbase64_struct, pBytes) == 8, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addbase64_struct, nBytes) == 16, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_addhexbinary_struct) == 24, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addhexbinary_struct, pBytes) == 8, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_addhexbinary_struct, nBytes) == 16, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_getmaxdecimalplaces_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_getmaxdecimalplaces_struct, GetMaxDecimalPlaces) == 8,
              "record layout");
static_assert(sizeof(fb_jsonsaxwriter_setmaxdecimalplaces_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_setmaxdecimalplaces_struct, decimalPlaces) == 8, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_setmaxdecimalplaces_struct, SetMaxDecimalPlaces) == 12,
              "record layout");
static_assert(sizeof(fb_jsonsaxwriter_setformat_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_setformat_struct, nFormat) == 8, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_setformat_struct, SetFormat) == 12, "record layout");
static_assert(sizeof(fb_jsonsaxwriter_getformat_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonsaxwriter_getformat_struct, GetFormat) == 8, "record layout");
static_assert(sizeof(fb_jsonreadwritedatatype_main_struct) == 8, "record layout");
static_assert(sizeof(fb_jsonreadwritedatatype_setsymbolfromjson_struct) == 40, "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_setsymbolfromjson_struct, pJson) == 8, "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_setsymbolfromjson_struct, nSize) == 16, "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_setsymbolfromjson_struct, pData) == 24, "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_setsymbolfromjson_struct, nData) == 32, "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_setsymbolfromjson_struct, SetSymbolFromJson) == 36,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_setsymbolfromjson_struct, hrErrorCode) == 38,
              "record layout");
static_assert(sizeof(fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct) == 56, "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct, fbWriter) == 8,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct, sKey) == 16,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct, sDatatype) == 24,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct, nData) == 32,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct, pData) == 40,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct,
                       AddJsonKeyValueFromSymbol) == 48,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct, hrErrorCode) == 50,
              "record layout");
static_assert(sizeof(fb_jsonreadwritedatatype_addjsonschemafromsymbol_struct) == 56, "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonschemafromsymbol_struct, fbWriter) == 8,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonschemafromsymbol_struct, sKey) == 16, "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonschemafromsymbol_struct, sDatatype) == 24,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonschemafromsymbol_struct, nData) == 32,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonschemafromsymbol_struct, pData) == 40,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonschemafromsymbol_struct, AddJsonSchemaFromSymbol) ==
                  48,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonschemafromsymbol_struct, hrErrorCode) == 50,
              "record layout");
static_assert(sizeof(fb_jsonreadwritedatatype_addjsonchangesfromsymbol_struct) == 64, "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonchangesfromsymbol_struct, fbWriter) == 8,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonchangesfromsymbol_struct, sKey) == 16,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonchangesfromsymbol_struct, pData) == 24,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonchangesfromsymbol_struct, pLast) == 32,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonchangesfromsymbol_struct, nLast) == 40,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonchangesfromsymbol_struct, fDeadband) == 48,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonchangesfromsymbol_struct, bKeyFrame) == 56,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonchangesfromsymbol_struct, AddJsonChangesFromSymbol) ==
                  57,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonchangesfromsymbol_struct, hrErrorCode) == 58,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_addjsonchangesfromsymbol_struct, nChanged) == 60,
              "record layout");
static_assert(sizeof(fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct) == 320, "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct, pJson) == 8, "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct, nSize) == 16,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct, pData) == 24,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct, nData) == 32,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct, SetSymbolFromJsonReport) ==
                  36,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct, nWritten) == 40,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct, nSkipped) == 44,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct, nUnknown) == 48,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct, nErrorOffset) == 52,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct, sProblem) == 56,
              "record layout");
static_assert(offsetof(fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct, nMissing) == 312,
              "record layout");
static_assert(sizeof(fb_jsonreader_struct) == 16, "record layout");
static_assert(offsetof(fb_jsonreader_struct, initStatus) == 8, "record layout");
static_assert(sizeof(fb_jsonreader_main_struct) == 8, "record layout");
static_assert(sizeof(fb_jsonreader_parse_struct) == 288, "record layout");
static_assert(offsetof(fb_jsonreader_parse_struct, pJson) == 8, "record layout");
static_assert(offsetof(fb_jsonreader_parse_struct, nSize) == 16, "record layout");
static_assert(offsetof(fb_jsonreader_parse_struct, Parse) == 20, "record layout");
static_assert(offsetof(fb_jsonreader_parse_struct, nErrorOffset) == 24, "record layout");
static_assert(offsetof(fb_jsonreader_parse_struct, sError) == 28, "record layout");
static_assert(sizeof(fb_jsonreader_getkind_struct) == 24, "record layout");
static_assert(offsetof(fb_jsonreader_getkind_struct, sPath) == 8, "record layout");
static_assert(offsetof(fb_jsonreader_getkind_struct, GetKind) == 16, "record layout");
static_assert(sizeof(fb_jsonreader_getsize_struct) == 24, "record layout");
static_assert(offsetof(fb_jsonreader_getsize_struct, sPath) == 8, "record layout");
static_assert(offsetof(fb_jsonreader_getsize_struct, GetSize) == 16, "record layout");
static_assert(sizeof(fb_jsonreader_getbool_struct) == 24, "record layout");
static_assert(offsetof(fb_jsonreader_getbool_struct, sPath) == 8, "record layout");
static_assert(offsetof(fb_jsonreader_getbool_struct, GetBool) == 16, "record layout");
static_assert(offsetof(fb_jsonreader_getbool_struct, bValue) == 17, "record layout");
static_assert(sizeof(fb_jsonreader_getdint_struct) == 24, "record layout");
static_assert(offsetof(fb_jsonreader_getdint_struct, sPath) == 8, "record layout");
static_assert(offsetof(fb_jsonreader_getdint_struct, GetDint) == 16, "record layout");
static_assert(offsetof(fb_jsonreader_getdint_struct, diValue) == 20, "record layout");
static_assert(sizeof(fb_jsonreader_getlint_struct) == 32, "record layout");
static_assert(offsetof(fb_jsonreader_getlint_struct, sPath) == 8, "record layout");
static_assert(offsetof(fb_jsonreader_getlint_struct, GetLint) == 16, "record layout");
static_assert(offsetof(fb_jsonreader_getlint_struct, liValue) == 24, "record layout");
static_assert(sizeof(fb_jsonreader_getlreal_struct) == 32, "record layout");
static_assert(offsetof(fb_jsonreader_getlreal_struct, sPath) == 8, "record layout");
static_assert(offsetof(fb_jsonreader_getlreal_struct, GetLreal) == 16, "record layout");
static_assert(offsetof(fb_jsonreader_getlreal_struct, lrValue) == 24, "record layout");
static_assert(sizeof(fb_jsonreader_getstring_struct) == 40, "record layout");
static_assert(offsetof(fb_jsonreader_getstring_struct, sPath) == 8, "record layout");
static_assert(offsetof(fb_jsonreader_getstring_struct, pBuffer) == 16, "record layout");
static_assert(offsetof(fb_jsonreader_getstring_struct, nBuffer) == 24, "record layout");
static_assert(offsetof(fb_jsonreader_getstring_struct, GetString) == 28, "record layout");
static_assert(offsetof(fb_jsonreader_getstring_struct, nLength) == 32, "record layout");
static_assert(sizeof(fb_jsonreader_getmembername_struct) == 48, "record layout");
static_assert(offsetof(fb_jsonreader_getmembername_struct, sPath) == 8, "record layout");
static_assert(offsetof(fb_jsonreader_getmembername_struct, nIndex) == 16, "record layout");
static_assert(offsetof(fb_jsonreader_getmembername_struct, pBuffer) == 24, "record layout");
static_assert(offsetof(fb_jsonreader_getmembername_struct, nBuffer) == 32, "record layout");
static_assert(offsetof(fb_jsonreader_getmembername_struct, GetMemberName) == 36, "record layout");
static_assert(offsetof(fb_jsonreader_getmembername_struct, nLength) == 40, "record layout");
static_assert(sizeof(fb_jsonreader_getraw_struct) == 40, "record layout");
static_assert(offsetof(fb_jsonreader_getraw_struct, sPath) == 8, "record layout");
static_assert(offsetof(fb_jsonreader_getraw_struct, pBuffer) == 16, "record layout");
static_assert(offsetof(fb_jsonreader_getraw_struct, nBuffer) == 24, "record layout");
static_assert(offsetof(fb_jsonreader_getraw_struct, GetRaw) == 28, "record layout");
static_assert(offsetof(fb_jsonreader_getraw_struct, nLength) == 32, "record layout");
static_assert(sizeof(fb_jsonreader_tovariable_struct) == 32, "record layout");
static_assert(offsetof(fb_jsonreader_tovariable_struct, sPath) == 8, "record layout");
static_assert(offsetof(fb_jsonreader_tovariable_struct, pData) == 16, "record layout");
static_assert(offsetof(fb_jsonreader_tovariable_struct, ToVariable) == 24, "record layout");
#endif

#endif /* RV5072_ZENTRIKITF_H */
