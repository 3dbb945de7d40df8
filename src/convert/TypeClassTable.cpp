// The rows of the type-class table and the conversions they point to.
//
// Reads and writes go straight to application memory with memcpy, so alignment does
// not matter. A leaf is never read or written beyond its class's natural width nor
// beyond the size the host reported for it (EncodeLeaf and DecodeLeaf check that before
// a row's function runs).
#include "convert/TypeClassTable.h"

#include <cstring>

#include "json/Utf8.h"

namespace {

typedef CJsonValue Value;

template <typename T>
T Load(const void* address) {
    T value;
    std::memcpy(&value, address, sizeof(T));
    return value;
}

template <typename T>
void Store(void* address, T value) {
    std::memcpy(address, &value, sizeof(T));
}

// ---- memory to JSON --------------------------------------------------------------

Value EncodeNull(const void*, uint32_t, ValueForm, CJsonAllocator&) { return Value(); }

// Any non-zero byte is TRUE; the byte is not taken as a C++ bool, which must hold 0 or 1.
// As a number (the writer's form) it is the byte's own value, signed as RTS_IEC_BOOL is.
Value EncodeBool(const void* address, uint32_t, ValueForm form, CJsonAllocator&) {
    const unsigned char byte = Load<unsigned char>(address);
    if (form & kFormBoolAsNumber) {
        return Value(static_cast<int>(static_cast<signed char>(byte)));
    }
    return Value(byte != 0);
}

// Integers of 1, 2 or 4 bytes as JSON's int or unsigned, 8 bytes as 64-bit.
template <typename T>
Value EncodeInteger(const void* address, uint32_t, ValueForm, CJsonAllocator&) {
    const T value = Load<T>(address);
    if (sizeof(T) == 8) {
        return std::is_signed<T>::value ? Value(static_cast<int64_t>(value))
                                        : Value(static_cast<uint64_t>(value));
    }
    return std::is_signed<T>::value ? Value(static_cast<int>(value)) : Value(static_cast<unsigned>(value));
}

// DATE, DATE_AND_TIME and TIME_OF_DAY: raw IEC values (DATE_AND_TIME is seconds since
// 1970-01-01 00:00:00), signed unless the form asks for unsigned.
Value EncodeDate(const void* address, uint32_t size, ValueForm form, CJsonAllocator& allocator) {
    if (form & kFormDatesUnsigned) {
        return EncodeInteger<uint32_t>(address, size, form, allocator);
    }
    return EncodeInteger<int32_t>(address, size, form, allocator);
}

Value EncodeReal(const void* address, uint32_t, ValueForm, CJsonAllocator&) {
    return Value(static_cast<double>(Load<float>(address)));
}

Value EncodeLreal(const void* address, uint32_t, ValueForm, CJsonAllocator&) {
    return Value(Load<double>(address));
}

// Bytes up to the first zero byte, or all size bytes when there is none.
Value EncodeString(const void* address, uint32_t size, ValueForm, CJsonAllocator& allocator) {
    const char* text = static_cast<const char*>(address);
    const void* end = std::memchr(text, 0, size);
    const size_t length = end == nullptr ? size : static_cast<size_t>(static_cast<const char*>(end) - text);
    return Value(text, static_cast<rapidjson::SizeType>(length), allocator);
}

// The UTF-8 form is made in a buffer the calling thread keeps (it grows to the longest
// WSTRING the thread encoded), so a steady cycle takes nothing from the heap for it.
Value EncodeWstring(const void* address, uint32_t size, ValueForm, CJsonAllocator& allocator) {
    static thread_local std::string text;
    text.clear();
    Utf16ToUtf8(address, size, text);
    return Value(text.data(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

// ---- JSON to memory --------------------------------------------------------------

CLeafWrite Written() {
    CLeafWrite result;
    result.outcome = CLeafWrite::kWritten;
    return result;
}

CLeafWrite Refused(CLeafWrite::Outcome outcome) {
    CLeafWrite result;
    result.outcome = outcome;
    return result;
}

CLeafWrite DecodeNever(void*, uint32_t, const Value&, bool) { return Refused(CLeafWrite::kNeverWritten); }

CLeafWrite DecodeBool(void* address, uint32_t, const Value& value, bool) {
    if (!value.IsBool()) {
        return Refused(CLeafWrite::kWrongKind);
    }
    Store<uint8_t>(address, value.GetBool() ? 1 : 0);
    return Written();
}

// An integer of the width of Stored. The low bytes of the value are stored (two's
// complement): 300 into a USINT is 44. Below 8 bytes the value must be a 32-bit integer,
// as for every class before 4-byte unsigned values were taken; a 4-byte class takes the
// whole signed and unsigned range of its width, an 8-byte class that of 64 bits, so every
// value the encoder gives is written back unchanged. kLowest and kHighest bound the
// values the class holds without wrapping (bit strings take both the signed and the
// unsigned form, since they are written signed).
template <typename Stored, int64_t kLowest, uint64_t kHighest>
inline CLeafWrite DecodeInteger(void* address, uint32_t, const Value& value, bool detail) {
    const bool wide = sizeof(Stored) == 8;
    bool negative = false;
    uint64_t magnitude = 0;
    if (sizeof(Stored) < 4    ? value.IsInt()
        : sizeof(Stored) == 4 ? (value.IsInt() || value.IsUint())
                              : (value.IsInt64() || value.IsUint64())) {
        if (value.IsUint64()) {
            magnitude = value.GetUint64();
        } else {
            negative = true;
            magnitude = static_cast<uint64_t>(value.GetInt64());
        }
    } else {
        if (!detail) {
            return CLeafWrite();
        }
        const bool integer = !wide && (value.IsInt64() || value.IsUint64());
        return Refused(integer ? CLeafWrite::kOutOfRange : CLeafWrite::kWrongKind);
    }
    Store<Stored>(address, static_cast<Stored>(magnitude));
    CLeafWrite result = Written();
    if (detail) {
        const int64_t signedValue = static_cast<int64_t>(magnitude);
        result.wrapped = negative ? signedValue < kLowest : magnitude > kHighest;
    }
    return result;
}

// Only numbers written with a fraction or an exponent (or too large for 64 bits) are
// held as doubles; a plain integer is not taken for a REAL.
CLeafWrite DecodeReal(void* address, uint32_t, const Value& value, bool) {
    if (!value.IsDouble()) {
        return Refused(CLeafWrite::kWrongKind);
    }
    Store<float>(address, static_cast<float>(value.GetDouble()));
    return Written();
}

CLeafWrite DecodeLreal(void* address, uint32_t, const Value& value, bool) {
    if (!value.IsDouble()) {
        return Refused(CLeafWrite::kWrongKind);
    }
    Store<double>(address, value.GetDouble());
    return Written();
}

// A string takes what fits before its terminator, never part of a character; the bytes
// after the terminator are left as they are. A node without room for the terminator
// (STRING of 0 bytes, WSTRING under 2) is never written.
CLeafWrite DecodeString(void* address, uint32_t size, const Value& value, bool) {
    if (size < 1) {
        return Refused(CLeafWrite::kNeverWritten);
    }
    if (!value.IsString()) {
        return Refused(CLeafWrite::kWrongKind);
    }
    const size_t length = value.GetStringLength();
    const size_t kept = FitUtf8(value.GetString(), length, size - 1);
    std::memcpy(address, value.GetString(), kept);
    static_cast<char*>(address)[kept] = '\0';
    CLeafWrite result = Written();
    result.cut = kept < length;
    result.bytes = static_cast<uint32_t>(kept);
    return result;
}

CLeafWrite DecodeWstring(void* address, uint32_t size, const Value& value, bool) {
    if (size < 2) {
        return Refused(CLeafWrite::kNeverWritten);
    }
    if (!value.IsString()) {
        return Refused(CLeafWrite::kWrongKind);
    }
    CLeafWrite result = Written();
    const size_t units = Utf8ToUtf16(value.GetString(), value.GetStringLength(), address, size, result.cut);
    result.bytes = static_cast<uint32_t>(2 * units);
    return result;
}

// ---- the rows --------------------------------------------------------------------

constexpr const char* kBoolean = "a boolean";
constexpr const char* kInteger = "an integer";
constexpr const char* kReal = "a number with a fraction or an exponent";
constexpr const char* kString = "a string";

// A class the component reads as null and never writes.
constexpr CTypeClassRow NullRow(const char* name) {
    return CTypeClassRow{name, 0, false, EJsonKind::kNull, kInteger, 0, 0, EncodeNull, DecodeNever};
}

}  // namespace

const CTypeClassRow g_typeClassRows[kTypeClassCount] = {
    // name, width, signed, written as, read from, lowest, highest, encode, decode
    {"BOOL", 1, false, EJsonKind::kBoolean, kBoolean, 0, 1, EncodeBool, DecodeBool},
    {"BIT", 1, false, EJsonKind::kInteger, kInteger, INT8_MIN, UINT8_MAX, EncodeInteger<int8_t>,
     DecodeInteger<uint8_t, INT8_MIN, UINT8_MAX>},
    {"BYTE", 1, false, EJsonKind::kInteger, kInteger, INT8_MIN, UINT8_MAX, EncodeInteger<int8_t>,
     DecodeInteger<uint8_t, INT8_MIN, UINT8_MAX>},
    {"WORD", 2, false, EJsonKind::kInteger, kInteger, INT16_MIN, UINT16_MAX, EncodeInteger<int16_t>,
     DecodeInteger<uint16_t, INT16_MIN, UINT16_MAX>},
    {"DWORD", 4, false, EJsonKind::kInteger, kInteger, INT32_MIN, UINT32_MAX, EncodeInteger<int32_t>,
     DecodeInteger<uint32_t, INT32_MIN, UINT32_MAX>},
    {"LWORD", 8, false, EJsonKind::kInteger, kInteger, INT64_MIN, UINT64_MAX, EncodeInteger<int64_t>,
     DecodeInteger<uint64_t, INT64_MIN, UINT64_MAX>},
    {"SINT", 1, true, EJsonKind::kInteger, kInteger, INT8_MIN, INT8_MAX, EncodeInteger<int8_t>,
     DecodeInteger<uint8_t, INT8_MIN, INT8_MAX>},
    {"INT", 2, true, EJsonKind::kInteger, kInteger, INT16_MIN, INT16_MAX, EncodeInteger<int16_t>,
     DecodeInteger<uint16_t, INT16_MIN, INT16_MAX>},
    {"DINT", 4, true, EJsonKind::kInteger, kInteger, INT32_MIN, INT32_MAX, EncodeInteger<int32_t>,
     DecodeInteger<uint32_t, INT32_MIN, INT32_MAX>},
    {"LINT", 8, true, EJsonKind::kInteger, kInteger, INT64_MIN, INT64_MAX, EncodeInteger<int64_t>,
     DecodeInteger<uint64_t, INT64_MIN, INT64_MAX>},
    {"USINT", 1, false, EJsonKind::kInteger, kInteger, 0, UINT8_MAX, EncodeInteger<uint8_t>,
     DecodeInteger<uint8_t, 0, UINT8_MAX>},
    {"UINT", 2, false, EJsonKind::kInteger, kInteger, 0, UINT16_MAX, EncodeInteger<uint16_t>,
     DecodeInteger<uint16_t, 0, UINT16_MAX>},
    {"UDINT", 4, false, EJsonKind::kInteger, kInteger, 0, UINT32_MAX, EncodeInteger<uint32_t>,
     DecodeInteger<uint32_t, 0, UINT32_MAX>},
    {"ULINT", 8, false, EJsonKind::kInteger, kInteger, 0, UINT64_MAX, EncodeInteger<uint64_t>,
     DecodeInteger<uint64_t, 0, UINT64_MAX>},
    {"REAL", 4, true, EJsonKind::kReal, kReal, 0, 0, EncodeReal, DecodeReal},
    {"LREAL", 8, true, EJsonKind::kReal, kReal, 0, 0, EncodeLreal, DecodeLreal},
    {"STRING", 0, false, EJsonKind::kString, kString, 0, 0, EncodeString, DecodeString},
    {"WSTRING", 0, false, EJsonKind::kString, kString, 0, 0, EncodeWstring, DecodeWstring},
    {"TIME", 4, true, EJsonKind::kInteger, kInteger, INT32_MIN, UINT32_MAX, EncodeInteger<int32_t>,
     DecodeInteger<uint32_t, INT32_MIN, UINT32_MAX>},
    {"DATE", 4, false, EJsonKind::kInteger, kInteger, INT32_MIN, UINT32_MAX, EncodeDate,
     DecodeInteger<uint32_t, INT32_MIN, UINT32_MAX>},
    {"DATE_AND_TIME", 4, false, EJsonKind::kInteger, kInteger, INT32_MIN, UINT32_MAX, EncodeDate,
     DecodeInteger<uint32_t, INT32_MIN, UINT32_MAX>},
    {"TIME_OF_DAY", 4, false, EJsonKind::kInteger, kInteger, INT32_MIN, UINT32_MAX, EncodeDate,
     DecodeInteger<uint32_t, INT32_MIN, UINT32_MAX>},
    NullRow("POINTER"),
    NullRow("REFERENCE"),
    NullRow("SUBRANGE"),
    NullRow("ENUM"),
    NullRow("ARRAY"),
    NullRow("PARAMS"),
    NullRow("USERDEF"),
    NullRow("NONE"),
    NullRow("ANY"),
    NullRow("ANYBIT"),
    NullRow("ANYDATE"),
    NullRow("ANYINT"),
    NullRow("ANYNUM"),
    NullRow("ANYREAL"),
    NullRow("LAZY"),
    NullRow("LTIME"),
    NullRow("BITCONST"),
    NullRow("UXINT"),
    NullRow("XWORD"),
    NullRow("XINT"),
    NullRow("XSTRING"),
    NullRow("VARLENARRAY"),
    NullRow("ANYSTRING"),
    NullRow("VECTOR"),
    NullRow("LDATE"),
    NullRow("LDATE_AND_TIME"),
    NullRow("LTIME_OF_DAY"),
    NullRow("INTERFACE"),
};

const CTypeClassRow g_unknownTypeClassRow = NullRow(nullptr);

bool IsWritableClass(TypeClass3 type) { return TypeClassRow(type).decode != DecodeNever; }

std::string StoredIntegerText(TypeClass3 type, const void* address) {
    const CTypeClassRow& row = TypeClassRow(type);
    switch (row.width) {
        case 1:
            return row.isSigned ? std::to_string(Load<int8_t>(address))
                                : std::to_string(Load<uint8_t>(address));
        case 2:
            return row.isSigned ? std::to_string(Load<int16_t>(address))
                                : std::to_string(Load<uint16_t>(address));
        case 8:
            return row.isSigned ? std::to_string(Load<int64_t>(address))
                                : std::to_string(Load<uint64_t>(address));
        default:
            return row.isSigned ? std::to_string(Load<int32_t>(address))
                                : std::to_string(Load<uint32_t>(address));
    }
}
