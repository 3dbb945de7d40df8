// The component's blocks as a Structured Text program calls them: one row per method
// (and per body), with its external function and its call record's fields taken from
// RV5072_ZentrikItf.h (offsets and sizes) and their IEC types and parts as iec/
// declares them; and the component's named constants, with their values from the same
// header. A new method or constant is one row here; a test checks every row against the
// declarations in iec/.
//
// Header-only: included by the programs that load the component (zentrik-host, tests),
// which see the component's interface header.
#ifndef SIM_STCOMPONENTMETHODS_H
#define SIM_STCOMPONENTMETHODS_H

#include <cstddef>
#include <vector>

#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "StInterpreter.h"

// clang-format off
#define ZK_ST_PARAM(field, type, role) \
    SStParam{#field, offsetof(R, field), sizeof(static_cast<R*>(nullptr)->field), type, role, nullptr}
#define ZK_BUFFER(field, extent) \
    SStParam{#field, offsetof(R, field), sizeof(static_cast<R*>(nullptr)->field), TYPE3_POINTER, EStRole::Input, #extent}
#define ZK_IN(field, type) ZK_ST_PARAM(field, type, EStRole::Input)
#define ZK_INOUT(field) ZK_ST_PARAM(field, TYPE3_STRING, EStRole::InOut)
#define ZK_RESULT(field, type) ZK_ST_PARAM(field, type, EStRole::Result)
#define ZK_OUT(field, type) ZK_ST_PARAM(field, type, EStRole::Output)
// One row: block, method as programs spell it, the external function's suffix, the fields.
#define ZK_METHOD(block, method, lower, ...)                                                  \
    [] {                                                                                      \
        using R = block##_##lower##_struct;                                                   \
        return SStMethod{#block, method, #block "__" #lower, sizeof(R), {__VA_ARGS__}};       \
    }()
// clang-format on

inline const std::vector<SStMethod>& StComponentMethods() {
    static const std::vector<SStMethod> methods = {
        ZK_METHOD(fb_jsonsaxwriter, "", main),
        ZK_METHOD(fb_jsonsaxwriter, "ResetDocument", resetdocument, ZK_RESULT(ResetDocument, TYPE3_UINT)),
        ZK_METHOD(fb_jsonsaxwriter, "AddKeyString", addkeystring, ZK_INOUT(key), ZK_INOUT(value)),
        ZK_METHOD(fb_jsonsaxwriter, "AddKeyBool", addkeybool, ZK_INOUT(key), ZK_IN(value, TYPE3_BOOL)),
        ZK_METHOD(fb_jsonsaxwriter, "AddKeyNumber", addkeynumber, ZK_INOUT(key), ZK_IN(value, TYPE3_DINT)),
        ZK_METHOD(fb_jsonsaxwriter, "AddKeyLreal", addkeylreal, ZK_INOUT(key), ZK_IN(value, TYPE3_LREAL)),
        ZK_METHOD(fb_jsonsaxwriter, "AddKeyDateTime", addkeydatetime, ZK_INOUT(key),
                  ZK_IN(value, TYPE3_DATEANDTIME)),
        ZK_METHOD(fb_jsonsaxwriter, "AddKeyNull", addkeynull, ZK_INOUT(key)),
        ZK_METHOD(fb_jsonsaxwriter, "AddKey", addkey, ZK_INOUT(key)),
        ZK_METHOD(fb_jsonsaxwriter, "AddString", addstring, ZK_INOUT(value)),
        ZK_METHOD(fb_jsonsaxwriter, "AddBool", addbool, ZK_IN(value, TYPE3_BOOL)),
        ZK_METHOD(fb_jsonsaxwriter, "AddDint", adddint, ZK_IN(value, TYPE3_DINT)),
        ZK_METHOD(fb_jsonsaxwriter, "AddUdint", addudint, ZK_IN(value, TYPE3_UDINT)),
        ZK_METHOD(fb_jsonsaxwriter, "AddLint", addlint, ZK_IN(value, TYPE3_LINT)),
        ZK_METHOD(fb_jsonsaxwriter, "AddReal", addreal, ZK_IN(value, TYPE3_REAL)),
        ZK_METHOD(fb_jsonsaxwriter, "AddLreal", addlreal, ZK_IN(value, TYPE3_LREAL)),
        ZK_METHOD(fb_jsonsaxwriter, "AddDateTime", adddatetime, ZK_IN(value, TYPE3_DATEANDTIME)),
        ZK_METHOD(fb_jsonsaxwriter, "AddNull", addnull),
        ZK_METHOD(fb_jsonsaxwriter, "GetDocument", getdocument, ZK_RESULT(GetDocument, TYPE3_STRING),
                  ZK_OUT(hrErrorCode, TYPE3_UINT)),
        ZK_METHOD(fb_jsonsaxwriter, "GetDocumentLength", getdocumentlength,
                  ZK_RESULT(GetDocumentLength, TYPE3_UDINT), ZK_OUT(hrErrorCode, TYPE3_UINT)),
        ZK_METHOD(fb_jsonsaxwriter, "CopyDocument", copydocument, ZK_BUFFER(pDoc, nDoc),
                  ZK_IN(nDoc, TYPE3_UDINT), ZK_RESULT(CopyDocument, TYPE3_UDINT),
                  ZK_OUT(hrErrorCode, TYPE3_UINT)),
        ZK_METHOD(fb_jsonsaxwriter, "CopyDocumentPart", copydocumentpart, ZK_IN(nOffset, TYPE3_UDINT),
                  ZK_BUFFER(pDoc, nDoc), ZK_IN(nDoc, TYPE3_UDINT), ZK_RESULT(CopyDocumentPart, TYPE3_UDINT),
                  ZK_OUT(nLength, TYPE3_UDINT), ZK_OUT(nChange, TYPE3_UDINT)),
        ZK_METHOD(fb_jsonsaxwriter, "StartObject", startobject, ZK_RESULT(StartObject, TYPE3_UINT)),
        ZK_METHOD(fb_jsonsaxwriter, "EndObject", endobject, ZK_RESULT(EndObject, TYPE3_UINT)),
        ZK_METHOD(fb_jsonsaxwriter, "StartArray", startarray, ZK_RESULT(StartArray, TYPE3_UINT)),
        ZK_METHOD(fb_jsonsaxwriter, "EndArray", endarray, ZK_RESULT(EndArray, TYPE3_UINT)),
        ZK_METHOD(fb_jsonsaxwriter, "AddRawObject", addrawobject, ZK_INOUT(rawJson)),
        ZK_METHOD(fb_jsonsaxwriter, "AddRawArray", addrawarray, ZK_INOUT(rawJson)),
        ZK_METHOD(fb_jsonsaxwriter, "AddBase64", addbase64, ZK_BUFFER(pBytes, nBytes),
                  ZK_IN(nBytes, TYPE3_DINT)),
        ZK_METHOD(fb_jsonsaxwriter, "AddHexBinary", addhexbinary, ZK_BUFFER(pBytes, nBytes),
                  ZK_IN(nBytes, TYPE3_DINT)),
        ZK_METHOD(fb_jsonsaxwriter, "GetMaxDecimalPlaces", getmaxdecimalplaces,
                  ZK_RESULT(GetMaxDecimalPlaces, TYPE3_DINT)),
        ZK_METHOD(fb_jsonsaxwriter, "SetMaxDecimalPlaces", setmaxdecimalplaces,
                  ZK_IN(decimalPlaces, TYPE3_DINT), ZK_RESULT(SetMaxDecimalPlaces, TYPE3_UINT)),
        ZK_METHOD(fb_jsonsaxwriter, "SetFormat", setformat, ZK_IN(nFormat, TYPE3_DWORD),
                  ZK_RESULT(SetFormat, TYPE3_UINT)),
        ZK_METHOD(fb_jsonsaxwriter, "GetFormat", getformat, ZK_RESULT(GetFormat, TYPE3_DWORD)),

        ZK_METHOD(fb_jsonreadwritedatatype, "", main),
        ZK_METHOD(fb_jsonreadwritedatatype, "AddJsonKeyValueFromSymbol", addjsonkeyvaluefromsymbol,
                  ZK_IN(fbWriter, TYPE3_POINTER), ZK_INOUT(sKey), ZK_INOUT(sDatatype),
                  ZK_IN(nData, TYPE3_UDINT), ZK_IN(pData, TYPE3_POINTER),
                  ZK_RESULT(AddJsonKeyValueFromSymbol, TYPE3_BOOL), ZK_OUT(hrErrorCode, TYPE3_UINT)),
        ZK_METHOD(fb_jsonreadwritedatatype, "AddJsonSchemaFromSymbol", addjsonschemafromsymbol,
                  ZK_IN(fbWriter, TYPE3_POINTER), ZK_INOUT(sKey), ZK_INOUT(sDatatype),
                  ZK_IN(nData, TYPE3_UDINT), ZK_IN(pData, TYPE3_POINTER),
                  ZK_RESULT(AddJsonSchemaFromSymbol, TYPE3_BOOL), ZK_OUT(hrErrorCode, TYPE3_UINT)),
        ZK_METHOD(fb_jsonreadwritedatatype, "AddJsonChangesFromSymbol", addjsonchangesfromsymbol,
                  ZK_IN(fbWriter, TYPE3_POINTER), ZK_INOUT(sKey), ZK_IN(pData, TYPE3_POINTER),
                  ZK_BUFFER(pLast, nLast), ZK_IN(nLast, TYPE3_UDINT), ZK_IN(fDeadband, TYPE3_LREAL),
                  ZK_IN(bKeyFrame, TYPE3_BOOL), ZK_RESULT(AddJsonChangesFromSymbol, TYPE3_BOOL),
                  ZK_OUT(hrErrorCode, TYPE3_UINT), ZK_OUT(nChanged, TYPE3_UDINT)),
        ZK_METHOD(fb_jsonreadwritedatatype, "SetSymbolFromJson", setsymbolfromjson,
                  ZK_IN(pJson, TYPE3_POINTER), ZK_IN(nSize, TYPE3_UDINT), ZK_IN(pData, TYPE3_POINTER),
                  ZK_IN(nData, TYPE3_UDINT), ZK_RESULT(SetSymbolFromJson, TYPE3_BOOL),
                  ZK_OUT(hrErrorCode, TYPE3_UINT)),
        ZK_METHOD(fb_jsonreadwritedatatype, "SetSymbolFromJsonReport", setsymbolfromjsonreport,
                  ZK_IN(pJson, TYPE3_POINTER), ZK_IN(nSize, TYPE3_UDINT), ZK_IN(pData, TYPE3_POINTER),
                  ZK_IN(nData, TYPE3_UDINT), ZK_RESULT(SetSymbolFromJsonReport, TYPE3_BOOL),
                  ZK_OUT(nWritten, TYPE3_UDINT), ZK_OUT(nSkipped, TYPE3_UDINT), ZK_OUT(nUnknown, TYPE3_UDINT),
                  ZK_OUT(nErrorOffset, TYPE3_UDINT), ZK_OUT(sProblem, TYPE3_STRING),
                  ZK_OUT(nMissing, TYPE3_UDINT)),

        ZK_METHOD(fb_jsonreader, "", main),
        ZK_METHOD(fb_jsonreader, "Parse", parse, ZK_IN(pJson, TYPE3_POINTER), ZK_IN(nSize, TYPE3_UDINT),
                  ZK_RESULT(Parse, TYPE3_BOOL), ZK_OUT(nErrorOffset, TYPE3_UDINT),
                  ZK_OUT(sError, TYPE3_STRING)),
        ZK_METHOD(fb_jsonreader, "GetKind", getkind, ZK_INOUT(sPath), ZK_RESULT(GetKind, TYPE3_DINT)),
        ZK_METHOD(fb_jsonreader, "GetSize", getsize, ZK_INOUT(sPath), ZK_RESULT(GetSize, TYPE3_DINT)),
        ZK_METHOD(fb_jsonreader, "GetBool", getbool, ZK_INOUT(sPath), ZK_RESULT(GetBool, TYPE3_BOOL),
                  ZK_OUT(bValue, TYPE3_BOOL)),
        ZK_METHOD(fb_jsonreader, "GetDint", getdint, ZK_INOUT(sPath), ZK_RESULT(GetDint, TYPE3_BOOL),
                  ZK_OUT(diValue, TYPE3_DINT)),
        ZK_METHOD(fb_jsonreader, "GetLint", getlint, ZK_INOUT(sPath), ZK_RESULT(GetLint, TYPE3_BOOL),
                  ZK_OUT(liValue, TYPE3_LINT)),
        ZK_METHOD(fb_jsonreader, "GetLreal", getlreal, ZK_INOUT(sPath), ZK_RESULT(GetLreal, TYPE3_BOOL),
                  ZK_OUT(lrValue, TYPE3_LREAL)),
        ZK_METHOD(fb_jsonreader, "GetString", getstring, ZK_INOUT(sPath), ZK_BUFFER(pBuffer, nBuffer),
                  ZK_IN(nBuffer, TYPE3_UDINT), ZK_RESULT(GetString, TYPE3_BOOL),
                  ZK_OUT(nLength, TYPE3_UDINT)),
        ZK_METHOD(fb_jsonreader, "GetMemberName", getmembername, ZK_INOUT(sPath), ZK_IN(nIndex, TYPE3_UDINT),
                  ZK_BUFFER(pBuffer, nBuffer), ZK_IN(nBuffer, TYPE3_UDINT),
                  ZK_RESULT(GetMemberName, TYPE3_BOOL), ZK_OUT(nLength, TYPE3_UDINT)),
        ZK_METHOD(fb_jsonreader, "GetRaw", getraw, ZK_INOUT(sPath), ZK_BUFFER(pBuffer, nBuffer),
                  ZK_IN(nBuffer, TYPE3_UDINT), ZK_RESULT(GetRaw, TYPE3_BOOL), ZK_OUT(nLength, TYPE3_UDINT)),
        ZK_METHOD(fb_jsonreader, "ToVariable", tovariable, ZK_INOUT(sPath), ZK_IN(pData, TYPE3_POINTER),
                  ZK_RESULT(ToVariable, TYPE3_BOOL)),
    };
    return methods;
}

// The named constants of the blocks, as iec/ declares them: the format bits of
// fb_jsonsaxwriter (DWORD) and the kinds fb_jsonreader's GetKind gives (DINT).
inline const std::vector<SStConstant>& StComponentConstants() {
    static const std::vector<SStConstant> constants = {
        {"NUMERIC_ENUMS", TYPE3_DWORD, ZENTRIK_FORMAT_NUMERIC_ENUMS},
        {"LONG_TIMES", TYPE3_DWORD, ZENTRIK_FORMAT_LONG_TIMES},
        {"SHORT_REALS", TYPE3_DWORD, ZENTRIK_FORMAT_SHORT_REALS},
        {"ISO_8601", TYPE3_DWORD, ZENTRIK_FORMAT_ISO_8601},
        {"INT64_STRINGS", TYPE3_DWORD, ZENTRIK_FORMAT_INT64_STRINGS},
        {"BOOL_LITERALS", TYPE3_DWORD, ZENTRIK_FORMAT_BOOL_LITERALS},
        {"NESTED_ARRAYS", TYPE3_DWORD, ZENTRIK_FORMAT_NESTED_ARRAYS},
        {"UNSIGNED_BITS", TYPE3_DWORD, ZENTRIK_FORMAT_UNSIGNED_BITS},
        {"PRETTY", TYPE3_DWORD, ZENTRIK_FORMAT_PRETTY},
        {"READABLE", TYPE3_DWORD, ZENTRIK_FORMAT_READABLE},
        {"JSON_NOTHING", TYPE3_DINT, ZENTRIK_KIND_NOTHING},
        {"JSON_NULL", TYPE3_DINT, ZENTRIK_KIND_NULL},
        {"JSON_BOOLEAN", TYPE3_DINT, ZENTRIK_KIND_BOOLEAN},
        {"JSON_INTEGER", TYPE3_DINT, ZENTRIK_KIND_INTEGER},
        {"JSON_REAL", TYPE3_DINT, ZENTRIK_KIND_REAL},
        {"JSON_STRING", TYPE3_DINT, ZENTRIK_KIND_STRING},
        {"JSON_ARRAY", TYPE3_DINT, ZENTRIK_KIND_ARRAY},
        {"JSON_OBJECT", TYPE3_DINT, ZENTRIK_KIND_OBJECT},
    };
    return constants;
}

#undef ZK_METHOD
#undef ZK_OUT
#undef ZK_RESULT
#undef ZK_INOUT
#undef ZK_IN
#undef ZK_BUFFER
#undef ZK_ST_PARAM

#endif  // SIM_STCOMPONENTMETHODS_H
