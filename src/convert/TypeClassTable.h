// The type-class table: for each IEC type class (TypeClass3, 0..49) one row that says
// how a value of the class sits in memory and how it becomes JSON and back. Variable to
// JSON, JSON to variable, the write report and the writer's value methods all go
// through it; a new value form is a new option bit and a new entry of the rows, never a
// switch of its own.
//
// The table is a constant array of plain rows, indexed by the class, with function
// pointers for the conversions: consulted per leaf in the walks, it allocates nothing.
// Stateless; any thread.
#ifndef CONVERT_TYPECLASSTABLE_H
#define CONVERT_TYPECLASSTABLE_H

#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "IecVarAccess_ItfsItf.h"
#include "json/JsonMemory.h"

typedef CJsonDocument::AllocatorType CJsonAllocator;

// Options of an encoding, a bit set. 0 is a variable's own form.
typedef uint32_t ValueForm;
constexpr ValueForm kFormVariable = 0;
// BOOL as the number 1 or 0 instead of true or false.
constexpr ValueForm kFormBoolAsNumber = 1u << 0;
// DATE, DATE_AND_TIME and TIME_OF_DAY as unsigned 32-bit numbers instead of signed.
constexpr ValueForm kFormDatesUnsigned = 1u << 1;
// The forms of the writer block's own value methods (AddBool, AddDateTime, ...).
constexpr ValueForm kFormWriterMethods = kFormBoolAsNumber | kFormDatesUnsigned;

// The kinds of JSON value a class is written as.
enum class EJsonKind : uint8_t { kNull, kBoolean, kInteger, kReal, kString };

// What writing one JSON value into one leaf did.
struct CLeafWrite {
    enum Outcome {
        kWritten,      // written; see wrapped and cut
        kWrongKind,    // the leaf's class does not take this kind of JSON value
        kOutOfRange,   // an integer beyond the 32 or 64 bits the class takes
        kNeverWritten  // a class, or a node without memory, that is never written
    };
    Outcome outcome = kNeverWritten;
    bool wrapped = false;  // an integer that the leaf's width does not hold
    bool cut = false;      // a string that did not fit whole
    uint32_t bytes = 0;    // for a cut string: the bytes written before the terminator
};

struct CTypeClassRow {
    const char* name;  // the class as reports name it: "DINT"
    // Bytes of a value in memory; 0 for the string classes (the node's size counts) and
    // for classes that hold no value the component reads.
    uint32_t width;
    bool isSigned;         // values count as signed (integers: the report's value, the bounds)
    EJsonKind written;     // what a value is written as in form 0 (kNull: always null)
    const char* expected;  // the JSON values it takes when read, as the report says it
    int64_t lowest;        // integers: the values held without wrapping
    uint64_t highest;
    // Memory to JSON. REQUIRES: address not null, size >= width.
    CJsonValue (*encode)(const void* address, uint32_t size, ValueForm form, CJsonAllocator& allocator);
    // JSON to memory when the value is of a kind the class takes; else the memory stays.
    // With detail, wrapped and cut are filled and an integer beyond range is told from a
    // value of the wrong kind. REQUIRES: address not null, size >= width.
    CLeafWrite (*decode)(void* address, uint32_t size, const CJsonValue& value, bool detail);
};

constexpr size_t kTypeClassCount = TYPE3_MAX_TYPE;

extern const CTypeClassRow g_typeClassRows[kTypeClassCount];
// The row of a class outside 0..49: no name, written as null, never written.
extern const CTypeClassRow g_unknownTypeClassRow;

inline const CTypeClassRow& TypeClassRow(TypeClass3 type) {
    return static_cast<unsigned>(type) < kTypeClassCount ? g_typeClassRows[type] : g_unknownTypeClassRow;
}

// The JSON value of the leaf at address (size bytes of class type); strings are copied
// into allocator. A leaf at the null address or smaller than its class is null.
inline CJsonValue EncodeLeaf(TypeClass3 type, const void* address, uint32_t size, ValueForm form,
                             CJsonAllocator& allocator) {
    const CTypeClassRow& row = TypeClassRow(type);
    if (address == nullptr || size < row.width) {
        return CJsonValue();
    }
    return row.encode(address, size, form, allocator);
}

// Writes value into the leaf at address when its class takes that kind of value. A leaf
// at the null address or smaller than its class is never written.
inline CLeafWrite DecodeLeaf(TypeClass3 type, void* address, uint32_t size, const CJsonValue& value,
                             bool detail) {
    const CTypeClassRow& row = TypeClassRow(type);
    if (address == nullptr || size < row.width) {
        return CLeafWrite();
    }
    return row.decode(address, size, value, detail);
}

// Whether the class is ever written from JSON (its row has a decoder).
bool IsWritableClass(TypeClass3 type);

// The integer value of the leaf at address as its class counts it, signed or unsigned.
// REQUIRES: an integer class, address holds width bytes.
std::string StoredIntegerText(TypeClass3 type, const void* address);

#endif  // CONVERT_TYPECLASSTABLE_H
