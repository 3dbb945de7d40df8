// SValue: a value while a Structured Text expression is evaluated (StInterpreter), with
// its IEC type, and the operations on values: reading and writing them in memory,
// arithmetic, comparison and logic, and the *_TO_* conversions. Plain functions; any
// thread. Errors throw CSimDeclError at the given position.
#ifndef SIM_STVALUE_H
#define SIM_STVALUE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "IecVarAccess_ItfsItf.h"
#include "StSyntax.h"

namespace st {

// Width and signedness of the integer-like types (durations, dates and enumerations
// included: they are integers in memory).
struct SIntInfo {
    int bits;
    bool isSigned;
};

// Whether tc is an integer-like type (enumerations, durations and dates included); its
// width and signedness.
bool IntInfo(TypeClass3 tc, SIntInfo& info);
// n reduced to the range of a type of that width and signedness, as the type's memory keeps it.
__int128 Wrap(__int128 n, SIntInfo info);
// The type class of an elementary type's upper-case name (DINT, STRING, DT), or -1.
int TypeByName(const std::string& upper);
const char* TypeName(TypeClass3 tc);
std::string Decimal(__int128 n);

// A value while an expression is evaluated.
struct SValue {
    enum class Kind { None, Bool, Int, Real, String, Pointer };
    Kind kind = Kind::None;
    TypeClass3 type = TYPE3_NONE;  // Int: its type (TYPE3_NONE for an integer literal); Real: REAL or LREAL
    bool literal = false;          // an untyped literal takes the type of its partner
    bool b = false;
    __int128 n = 0;
    double r = 0;
    std::string s;
    uint8_t* p = nullptr;

    static SValue Bool(bool value) {
        SValue v;
        v.kind = Kind::Bool;
        v.type = TYPE3_BOOL;
        v.b = value;
        return v;
    }
    static SValue Int(__int128 value, TypeClass3 type) {
        SValue v;
        v.kind = Kind::Int;
        v.type = type;
        v.n = value;
        return v;
    }
    static SValue Real(double value, TypeClass3 type) {
        SValue v;
        v.kind = Kind::Real;
        v.type = type;
        v.r = type == TYPE3_REAL ? static_cast<double>(static_cast<float>(value)) : value;
        return v;
    }
    static SValue String(std::string value) {
        SValue v;
        v.kind = Kind::String;
        v.type = TYPE3_STRING;
        v.s = std::move(value);
        return v;
    }
    static SValue Pointer(uint8_t* address) {
        SValue v;
        v.kind = Kind::Pointer;
        v.type = TYPE3_POINTER;
        v.p = address;
        return v;
    }

    std::string describe() const {
        switch (kind) {
            case Kind::None:
                return "no value";
            case Kind::Bool:
                return "a BOOL";
            case Kind::Int:
                return literal ? "an integer" : std::string("a ") + TypeName(type);
            case Kind::Real:
                return literal ? "a real number" : std::string("a ") + TypeName(type);
            case Kind::String:
                return "a STRING";
            case Kind::Pointer:
                return "a POINTER";
        }
        return "?";
    }
};

// A value of type tc read from memory of `size` bytes (STRING: up to its first zero byte).
SValue ReadScalar(const uint8_t* at, TypeClass3 tc, size_t size, SPos pos);
// v stored as a value of type tc; `what` names the destination in messages.
void WriteScalar(uint8_t* at, TypeClass3 tc, const SValue& v, SPos pos, const std::string& what);
// a op b for the binary operators; an operator that does not apply to the operands is an error.
SValue ApplyBinary(EOp op, const SValue& a, const SValue& b, SPos pos);
// v converted to type target, as the conversion function <type>_TO_<target> does.
SValue Convert(const SValue& v, TypeClass3 target, SPos pos);

}  // namespace st

#endif  // SIM_STVALUE_H
