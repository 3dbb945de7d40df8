// The type-class table: for each IEC type class (TypeClass3, 0..49) one row that says
// how a value of the class sits in memory and how it becomes JSON and back. Variable to
// JSON, JSON to variable, the write report and the writer's value methods all go
// through it; a new value form is a new option bit and a new entry of the rows, never a
// switch of its own.
//
// The table is a constant array of plain rows, indexed by the class, with function
// pointers for the conversions: consulted per leaf in the walks, it allocates nothing
// but the strings of the values it makes. Stateless; any thread.
//
// Memory to JSON takes the form bits of the writer's format: each row's encoder looks
// at the bits that concern its class and nothing else, so form 0 costs what it always
// did. JSON to memory takes every form any format writes, whatever the bits.
#ifndef CONVERT_TYPECLASSTABLE_H
#define CONVERT_TYPECLASSTABLE_H

#include <rapidjson/document.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "IecVarAccess_ItfsItf.h"
#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "json/JsonMemory.h"
#include "json/Numbers.h"

typedef CJsonDocument::AllocatorType CJsonAllocator;

// Options of an encoding, a bit set. The low bits are the writer block's format bits
// (SetFormat), with the values iec/ declares; 0 is a variable's own form.
typedef uint32_t ValueForm;
constexpr ValueForm kFormVariable = 0;
// ENUM and SUBRANGE as the signed integer of their 1, 2, 4 or 8 bytes.
constexpr ValueForm kFormNumericEnums = ZENTRIK_FORMAT_NUMERIC_ENUMS;
// LTIME, LDATE, LDATE_AND_TIME and LTIME_OF_DAY as signed 64-bit nanoseconds.
constexpr ValueForm kFormLongTimes = ZENTRIK_FORMAT_LONG_TIMES;
// REAL in the shortest decimal that reads back as the same single-precision value.
constexpr ValueForm kFormShortReals = ZENTRIK_FORMAT_SHORT_REALS;
// Durations, times of day, dates and date-times as ISO 8601 texts.
constexpr ValueForm kFormIso8601 = ZENTRIK_FORMAT_ISO_8601;
// Every 64-bit integer as a string of its decimal value.
constexpr ValueForm kFormInt64Strings = ZENTRIK_FORMAT_INT64_STRINGS;
// The writer's own BOOL methods write true / false.
constexpr ValueForm kFormBoolLiterals = ZENTRIK_FORMAT_BOOL_LITERALS;
// Arrays of 2 or 3 dimensions as nested arrays.
constexpr ValueForm kFormNestedArrays = ZENTRIK_FORMAT_NESTED_ARRAYS;
// BYTE, WORD, DWORD and LWORD as unsigned.
constexpr ValueForm kFormUnsignedBits = ZENTRIK_FORMAT_UNSIGNED_BITS;
// The text indented, one member or element per line (applied when the text is written).
constexpr ValueForm kFormPretty = ZENTRIK_FORMAT_PRETTY;
// Every bit a writer's format may hold.
constexpr ValueForm kFormBits = ZENTRIK_FORMAT_BITS;
// Internal: BOOL as the number 1 or 0 instead of true or false (the writer's own BOOL
// methods without BOOL_LITERALS). Outside the bits a program may set.
constexpr ValueForm kFormBoolAsNumber = 1u << 16;

// The form the writer's value methods (AddBool, AddLint, ...) give their values in a
// writer of that format.
inline ValueForm WriterMethodsForm(uint32_t format) {
    return (format & kFormBoolLiterals) != 0 ? format : format | kFormBoolAsNumber;
}

// What writing one JSON value into one leaf did.
struct CLeafWrite {
    enum Outcome {
        kWritten,      // written; see wrapped and the cuts
        kWrongKind,    // the leaf's class does not take this kind of JSON value
        kOutOfRange,   // a value beyond the range the class takes
        kNotWhole,     // a number with a fraction that is not zero, for a class of whole values
        kTooFine,      // a text finer than the class holds (PT0.0005S for TIME)
        kMalformed,    // a string that is not in a text form the class takes
        kNeverWritten  // a class, or a node without memory, that is never written
    };
    Outcome outcome = kNeverWritten;
    bool wrapped = false;    // an integer that the leaf's width does not hold
    bool cut = false;        // a string that did not fit whole
    bool cutAtZero = false;  // a string that holds a zero byte: written up to it
    uint32_t bytes = 0;      // for a cut string: the bytes written before the terminator
};

// How a class writes the JSON values it takes as they are, when its decoder is one of the
// plain ones: WriteLeaf (numbers and literals) and WriteWholeString (strings) write those
// values themselves, without a call through the row.
enum class ELeafShape : uint8_t {
    kOther,    // only the row's decoder writes it
    kBoolean,  // true and false as 1 and 0 (BOOL)
    kInteger,  // numbers as an integer of `width` bytes (the integer and time classes)
    kSingle,   // every number, rounded to single precision (REAL)
    kDouble,   // every finite number (LREAL)
    kString    // a string up to a zero byte it holds, cut to the node (STRING)
};

struct CTypeClassRow {
    const char* name;  // the class as reports name it: "DINT"
    // Bytes of a value in memory; 0 for the string classes and the enumerations (the
    // node's size counts) and for classes that hold no value the component reads.
    uint32_t width;
    bool isSigned;         // values count as signed (integers: the report's value, the bounds)
    const char* expected;  // the JSON values it takes when read, as the report says it
    const char* textForm;  // the strings it takes, as the report says it (classes that take some)
    const char* unit;      // the finest step of its text forms (classes that take some)
    int64_t lowest;        // integers: the values held without wrapping
    uint64_t highest;
    // Memory to JSON in the given form. REQUIRES: address not null, size >= width.
    CJsonValue (*encode)(const void* address, uint32_t size, ValueForm form, CJsonAllocator& allocator);
    // JSON to memory when the value is one the class takes; else the memory stays. exact
    // is the exact value of a number whose double cannot tell it (null otherwise). With
    // detail, wrapped and cut are filled and a refusal says why. REQUIRES: address not
    // null, size >= width.
    CLeafWrite (*decode)(void* address, uint32_t size, const CJsonValue& value, const CExactNumber* exact,
                         bool detail);
    // The JSON Schema of the values encode gives in the given form for a node of size
    // bytes (LeafSchemas.h).
    CJsonValue (*schema)(uint32_t size, ValueForm form, CJsonAllocator& allocator);
    ELeafShape shape = ELeafShape::kOther;
};

constexpr size_t kTypeClassCount = TYPE3_MAX_TYPE;

extern const CTypeClassRow g_typeClassRows[kTypeClassCount];
// The row of a class outside 0..49: no name, written as null, never written.
extern const CTypeClassRow g_unknownTypeClassRow;

inline const CTypeClassRow& TypeClassRow(TypeClass3 type) {
    return static_cast<unsigned>(type) < kTypeClassCount ? g_typeClassRows[type] : g_unknownTypeClassRow;
}

// The JSON value of the leaf at address (size bytes of class type) in the given form;
// strings are copied into allocator. A leaf at the null address or smaller than its
// class is null.
inline CJsonValue EncodeLeaf(TypeClass3 type, const void* address, uint32_t size, ValueForm form,
                             CJsonAllocator& allocator) {
    const CTypeClassRow& row = TypeClassRow(type);
    if (address == nullptr || size < row.width) {
        return CJsonValue();
    }
    return row.encode(address, size, form, allocator);
}

// Writes value into the leaf at address when its class takes it. A leaf at the null
// address or smaller than its class is never written.
inline CLeafWrite DecodeLeaf(TypeClass3 type, void* address, uint32_t size, const CJsonValue& value,
                             const CExactNumber* exact, bool detail) {
    const CTypeClassRow& row = TypeClassRow(type);
    if (address == nullptr || size < row.width) {
        return CLeafWrite();
    }
    return row.decode(address, size, value, exact, detail);
}

// Whether an integer class of `width` bytes takes the whole number of the given sign and
// magnitude. A 4-byte class takes the signed and the unsigned range of its width, an
// 8-byte one that of 64 bits, a narrower one a signed 32-bit value (it stores the low
// bytes of the two's complement).
inline bool IntegerFits(size_t width, bool negative, uint64_t magnitude) {
    const uint64_t mostNegative = width == 8 ? uint64_t(1) << 63 : uint64_t(1) << 31;
    const uint64_t mostPositive = width == 8   ? UINT64_MAX
                                  : width == 4 ? uint64_t{UINT32_MAX}
                                               : uint64_t{INT32_MAX};
    return negative ? magnitude <= mostNegative : magnitude <= mostPositive;
}

// Whether a REAL holds the double: its magnitude is below the largest one that rounds to
// FLT_MAX rather than to infinity (false for NaN).
inline bool SingleHolds(double value) { return std::fabs(value) < 0x1.ffffffp+127; }

// DecodeLeaf without the detail, for a walk that writes many leaves: the integers, BOOL,
// REAL and LREAL are written here, inline, from the values their classes take as they
// are (integers, literals, doubles); every other value and class goes through the row.
// Writes the same bytes as DecodeLeaf.
inline void WriteLeaf(TypeClass3 type, void* address, uint32_t size, const CJsonValue& value,
                      const CExactNumber* exact) {
    const CTypeClassRow& row = TypeClassRow(type);
    if (address == nullptr || size < row.width) {
        return;
    }
    switch (row.shape) {
        case ELeafShape::kOther:
        case ELeafShape::kString:  // WriteWholeString, where the string holds no zero byte
            break;
        case ELeafShape::kBoolean:
            if (value.IsBool()) {
                *static_cast<uint8_t*>(address) = value.GetBool() ? 1 : 0;
                return;
            }
            break;
        case ELeafShape::kInteger: {
            // An integer of the kinds the parser gives: unsigned from zero up, signed below.
            if (!value.IsInt64() && !value.IsUint64()) {
                break;  // a double: whole or not, and exactly, is the decoder's to say
            }
            const bool negative = !value.IsUint64();
            const uint64_t magnitude =
                negative ? ~static_cast<uint64_t>(value.GetInt64()) + 1 : value.GetUint64();
            if (!IntegerFits(row.width, negative, magnitude)) {
                return;  // out of range: not written
            }
            const uint64_t stored = negative ? ~magnitude + 1 : magnitude;
            switch (row.width) {
                case 1:
                case 2:
                case 4:
                case 8:
                    std::memcpy(address, &stored, row.width);  // the low bytes (little endian)
                    return;
                default:
                    break;
            }
            break;
        }
        case ELeafShape::kSingle:
            if (value.IsNumber()) {
                const double d = value.GetDouble();
                if (SingleHolds(d)) {
                    const float single = static_cast<float>(d);
                    std::memcpy(address, &single, sizeof(single));
                }
                return;
            }
            break;
        case ELeafShape::kDouble:
            if (value.IsNumber()) {
                const double d = value.GetDouble();
                if (std::isfinite(d)) {
                    std::memcpy(address, &d, sizeof(d));
                }
                return;
            }
            break;
    }
    row.decode(address, size, value, exact, false);
}

// DecodeLeaf of a string known to hold no zero byte (the length bytes at text), without
// the detail, for a walk that writes many leaves: a STRING it fits whole is written here,
// inline; false, and nothing written, when the row's decoder must write it.
inline bool WriteWholeString(TypeClass3 type, void* address, uint32_t size, const char* text, size_t length) {
    if (TypeClassRow(type).shape != ELeafShape::kString || address == nullptr || length >= size) {
        return false;
    }
    // Most strings are short: copied by words that may overlap.
    char* const out = static_cast<char*>(address);
    if (length <= 32) {
        CopyShortRun(out, text, length);
    } else {
        std::memcpy(out, text, length);
    }
    out[length] = '\0';
    return true;
}

// Whether the class is ever written from JSON (its row has a decoder).
bool IsWritableClass(TypeClass3 type);
// Whether memory to JSON gives null for the class in every form (pointers, references,
// the classes the component does not read).
bool IsAlwaysNullClass(TypeClass3 type);

// The integer value of the leaf at address as its class counts it, signed or unsigned.
// REQUIRES: an integer class, address holds width bytes.
std::string StoredIntegerText(TypeClass3 type, const void* address);

#endif  // CONVERT_TYPECLASSTABLE_H
