// Values of Structured Text expressions: their types, memory, operators and conversions.
#include "StValue.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "SimDeclLexer.h"

namespace st {

using sim_decl::Fail;

namespace {

// The elementary types by name, for conversions (INT_TO_STRING) and messages.
struct STypeName {
    const char* name;
    TypeClass3 tc;
};
const STypeName kTypeNames[] = {
    {"BOOL", TYPE3_BOOL},
    {"BYTE", TYPE3_BYTE},
    {"WORD", TYPE3_WORD},
    {"DWORD", TYPE3_DWORD},
    {"LWORD", TYPE3_LWORD},
    {"SINT", TYPE3_SINT},
    {"INT", TYPE3_INT},
    {"DINT", TYPE3_DINT},
    {"LINT", TYPE3_LINT},
    {"USINT", TYPE3_USINT},
    {"UINT", TYPE3_UINT},
    {"UDINT", TYPE3_UDINT},
    {"ULINT", TYPE3_ULINT},
    {"REAL", TYPE3_REAL},
    {"LREAL", TYPE3_LREAL},
    {"STRING", TYPE3_STRING},
    {"TIME", TYPE3_TIME},
    {"LTIME", TYPE3_LTIME},
    {"DATE", TYPE3_DATE},
    {"DT", TYPE3_DATEANDTIME},
    {"DATE_AND_TIME", TYPE3_DATEANDTIME},
    {"TOD", TYPE3_TIMEOFDAY},
    {"TIME_OF_DAY", TYPE3_TIMEOFDAY},
    {"LDATE", TYPE3_LDATE},
    {"LDT", TYPE3_LDATEANDTIME},
    {"LDATE_AND_TIME", TYPE3_LDATEANDTIME},
    {"LTOD", TYPE3_LTIMEOFDAY},
    {"LTIME_OF_DAY", TYPE3_LTIMEOFDAY},
};

const char* OpName(EOp op) {
    static const char* const kNames[] = {"OR", "XOR", "AND", "=", "<>", "<",   "<=", ">",
                                         ">=", "+",   "-",   "*", "/",  "MOD", "-",  "NOT"};
    return kNames[static_cast<int>(op)];
}

template <typename T>
SValue Compare(EOp op, const T& a, const T& b) {
    switch (op) {
        case EOp::Eq:
            return SValue::Bool(a == b);
        case EOp::Ne:
            return SValue::Bool(!(a == b));
        case EOp::Lt:
            return SValue::Bool(a < b);
        case EOp::Le:
            return SValue::Bool(a < b || a == b);
        case EOp::Gt:
            return SValue::Bool(b < a);
        default:
            return SValue::Bool(b < a || a == b);
    }
}

bool IsComparison(EOp op) { return op >= EOp::Eq && op <= EOp::Ge; }

SValue IntegerBinary(EOp op, const SValue& a, const SValue& b, SPos pos) {
    if (IsComparison(op)) return Compare(op, a.n, b.n);
    SIntInfo ia{}, ib{};
    bool typedA = !a.literal && IntInfo(a.type, ia);
    bool typedB = !b.literal && IntInfo(b.type, ib);
    TypeClass3 type = TYPE3_NONE;
    SIntInfo info{};
    if (typedA && (!typedB || ia.bits >= ib.bits)) {
        type = a.type;
        info = ia;
    } else if (typedB) {
        type = b.type;
        info = ib;
    }
    __int128 n = 0;
    switch (op) {
        case EOp::Add:
            n = a.n + b.n;
            break;
        case EOp::Sub:
            n = a.n - b.n;
            break;
        case EOp::Mul:
            // Operands hold at most 64 bits, their product up to 128: wrap it unsigned,
            // the low bits are what the type keeps.
            if (__builtin_mul_overflow(a.n, b.n, &n)) {
                if (type == TYPE3_NONE) Fail(pos, "the constant is beyond 64 bits");
                n = static_cast<__int128>(static_cast<unsigned __int128>(a.n) *
                                          static_cast<unsigned __int128>(b.n));
            }
            break;
        case EOp::Div:
        case EOp::Mod:
            if (b.n == 0) Fail(pos, "division by zero");
            n = op == EOp::Div ? a.n / b.n : a.n % b.n;
            break;
        case EOp::And:
            n = a.n & b.n;
            break;
        case EOp::Or:
            n = a.n | b.n;
            break;
        case EOp::Xor:
            n = a.n ^ b.n;
            break;
        default:
            break;
    }
    SValue v = SValue::Int(n, type);
    if (type == TYPE3_NONE) {
        v.literal = true;
        if (n > static_cast<__int128>(UINT64_MAX) || n < static_cast<__int128>(INT64_MIN)) {
            Fail(pos, "the constant is beyond 64 bits");
        }
    } else {
        v.n = Wrap(n, info);
    }
    return v;
}

}  // namespace

bool IntInfo(TypeClass3 tc, SIntInfo& info) {
    switch (tc) {
        case TYPE3_SINT:
            info = {8, true};
            return true;
        case TYPE3_USINT:
        case TYPE3_BYTE:
            info = {8, false};
            return true;
        case TYPE3_INT:
        case TYPE3_ENUM:
            info = {16, true};
            return true;
        case TYPE3_UINT:
        case TYPE3_WORD:
            info = {16, false};
            return true;
        case TYPE3_DINT:
        case TYPE3_TIME:
            info = {32, true};
            return true;
        case TYPE3_UDINT:
        case TYPE3_DWORD:
        case TYPE3_DATE:
        case TYPE3_DATEANDTIME:
        case TYPE3_TIMEOFDAY:
            info = {32, false};
            return true;
        case TYPE3_LINT:
        case TYPE3_LTIME:
        case TYPE3_LDATE:
        case TYPE3_LDATEANDTIME:
        case TYPE3_LTIMEOFDAY:
            info = {64, true};
            return true;
        case TYPE3_ULINT:
        case TYPE3_LWORD:
            info = {64, false};
            return true;
        default:
            return false;
    }
}

__int128 Wrap(__int128 n, SIntInfo info) {
    unsigned __int128 mask = (static_cast<unsigned __int128>(1) << info.bits) - 1;
    unsigned __int128 bits = static_cast<unsigned __int128>(n) & mask;
    if (info.isSigned && (bits >> (info.bits - 1)) != 0) {
        return static_cast<__int128>(bits) - (static_cast<__int128>(1) << info.bits);
    }
    return static_cast<__int128>(bits);
}

int TypeByName(const std::string& upper) {
    for (const STypeName& t : kTypeNames) {
        if (upper == t.name) return t.tc;
    }
    return -1;
}

const char* TypeName(TypeClass3 tc) {
    for (const STypeName& t : kTypeNames) {
        if (t.tc == tc) return t.name;
    }
    return tc == TYPE3_POINTER ? "POINTER" : tc == TYPE3_ENUM ? "an enumeration" : "?";
}

std::string Decimal(__int128 n) {
    if (n == 0) return "0";
    bool negative = n < 0;
    unsigned __int128 u = negative ? -static_cast<unsigned __int128>(n) : static_cast<unsigned __int128>(n);
    std::string out;
    while (u != 0) {
        out.insert(out.begin(), static_cast<char>('0' + static_cast<int>(u % 10)));
        u /= 10;
    }
    return negative ? "-" + out : out;
}

SValue ReadScalar(const uint8_t* at, TypeClass3 tc, size_t size, SPos pos) {
    SIntInfo info;
    if (tc == TYPE3_BOOL) return SValue::Bool(*at != 0);
    if (tc == TYPE3_REAL) {
        float f;
        std::memcpy(&f, at, 4);
        return SValue::Real(f, TYPE3_REAL);
    }
    if (tc == TYPE3_LREAL) {
        double d;
        std::memcpy(&d, at, 8);
        return SValue::Real(d, TYPE3_LREAL);
    }
    if (tc == TYPE3_STRING) {
        return SValue::String(
            std::string(reinterpret_cast<const char*>(at), strnlen(reinterpret_cast<const char*>(at), size)));
    }
    if (tc == TYPE3_POINTER) {
        uint8_t* p;
        std::memcpy(&p, at, sizeof(p));
        return SValue::Pointer(p);
    }
    if (IntInfo(tc, info)) {
        uint64_t bits = 0;
        std::memcpy(&bits, at, static_cast<size_t>(info.bits / 8));
        return SValue::Int(Wrap(bits, info), tc);
    }
    Fail(pos, std::string("values of type ") + TypeName(tc) + " are not supported in statements");
}

void WriteScalar(uint8_t* at, TypeClass3 tc, const SValue& v, SPos pos, const std::string& what) {
    SIntInfo info;
    auto refuse = [&]() {
        Fail(pos, what + " takes " +
                      (tc == TYPE3_BOOL ? std::string("a BOOL") : std::string("a ") + TypeName(tc)) +
                      ", not " + v.describe());
    };
    if (tc == TYPE3_BOOL) {
        if (v.kind != SValue::Kind::Bool) refuse();
        *at = v.b ? 1 : 0;
    } else if (tc == TYPE3_REAL || tc == TYPE3_LREAL) {
        double d = 0;
        if (v.kind == SValue::Kind::Int) {
            d = static_cast<double>(v.n);
        } else if (v.kind == SValue::Kind::Real) {
            d = v.r;
        } else {
            refuse();
        }
        if (tc == TYPE3_REAL) {
            float f = static_cast<float>(d);
            std::memcpy(at, &f, 4);
        } else {
            std::memcpy(at, &d, 8);
        }
    } else if (tc == TYPE3_POINTER) {
        uint8_t* p = nullptr;
        if (v.kind == SValue::Kind::Pointer) {
            p = v.p;
        } else if (!(v.kind == SValue::Kind::Int && v.literal && v.n == 0)) {
            refuse();
        }
        std::memcpy(at, &p, sizeof(p));
    } else if (IntInfo(tc, info)) {
        if (v.kind == SValue::Kind::Real) {
            Fail(pos, what + " takes a " + TypeName(tc) + ", not " + v.describe() +
                          " (convert it, e.g. with " + "LREAL_TO_" + TypeName(tc) + ")");
        }
        if (v.kind != SValue::Kind::Int) refuse();
        uint64_t bits = static_cast<uint64_t>(Wrap(v.n, info));
        std::memcpy(at, &bits, static_cast<size_t>(info.bits / 8));
    } else {
        Fail(pos, what + ": values of type " + TypeName(tc) + " are not supported in statements");
    }
}

SValue ApplyBinary(EOp op, const SValue& a, const SValue& b, SPos pos) {
    using K = SValue::Kind;
    auto refuse = [&]() -> SValue {
        Fail(pos,
             std::string("'") + OpName(op) + "' does not apply to " + a.describe() + " and " + b.describe());
    };
    if (a.kind == K::Bool && b.kind == K::Bool) {
        switch (op) {
            case EOp::And:
                return SValue::Bool(a.b && b.b);
            case EOp::Or:
                return SValue::Bool(a.b || b.b);
            case EOp::Xor:
                return SValue::Bool(a.b != b.b);
            case EOp::Eq:
                return SValue::Bool(a.b == b.b);
            case EOp::Ne:
                return SValue::Bool(a.b != b.b);
            default:
                return refuse();
        }
    }
    if (a.kind == K::String && b.kind == K::String) {
        if (!IsComparison(op)) return refuse();
        return Compare(op, a.s, b.s);
    }
    if ((a.kind == K::Pointer || b.kind == K::Pointer) && (op == EOp::Eq || op == EOp::Ne)) {
        auto address = [&](const SValue& v) -> uintptr_t {
            if (v.kind == K::Pointer) return reinterpret_cast<uintptr_t>(v.p);
            if (v.kind == K::Int && v.literal && v.n == 0) return 0;
            refuse();
            return 0;
        };
        return Compare(op, address(a), address(b));
    }
    if (a.kind == K::Int && b.kind == K::Int) return IntegerBinary(op, a, b, pos);
    if ((a.kind == K::Int || a.kind == K::Real) && (b.kind == K::Int || b.kind == K::Real)) {
        double x = a.kind == K::Int ? static_cast<double>(a.n) : a.r;
        double y = b.kind == K::Int ? static_cast<double>(b.n) : b.r;
        if (IsComparison(op)) return Compare(op, x, y);
        // REAL only when no operand is a typed LREAL
        bool single = (a.kind == K::Real && !a.literal && a.type == TYPE3_REAL &&
                       !(b.kind == K::Real && !b.literal && b.type == TYPE3_LREAL)) ||
                      (b.kind == K::Real && !b.literal && b.type == TYPE3_REAL &&
                       !(a.kind == K::Real && !a.literal && a.type == TYPE3_LREAL));
        TypeClass3 type = single ? TYPE3_REAL : TYPE3_LREAL;
        switch (op) {
            case EOp::Add:
                return SValue::Real(x + y, type);
            case EOp::Sub:
                return SValue::Real(x - y, type);
            case EOp::Mul:
                return SValue::Real(x * y, type);
            case EOp::Div:
                return SValue::Real(x / y, type);
            default:
                return refuse();
        }
    }
    return refuse();
}

SValue Convert(const SValue& v, TypeClass3 target, SPos pos) {
    using K = SValue::Kind;
    SIntInfo info;
    if (target == TYPE3_BOOL) {
        if (v.kind == K::Bool) return v;
        if (v.kind == K::Int) return SValue::Bool(v.n != 0);
        if (v.kind == K::Real) return SValue::Bool(v.r != 0);
    } else if (target == TYPE3_STRING) {
        if (v.kind == K::Bool) return SValue::String(v.b ? "TRUE" : "FALSE");
        SIntInfo source;
        if (v.kind == K::Int &&
            (v.literal ||
             (IntInfo(v.type, source) && v.type != TYPE3_TIME && v.type != TYPE3_LTIME &&
              v.type != TYPE3_DATE && v.type != TYPE3_DATEANDTIME && v.type != TYPE3_TIMEOFDAY &&
              v.type != TYPE3_LDATE && v.type != TYPE3_LDATEANDTIME && v.type != TYPE3_LTIMEOFDAY))) {
            return SValue::String(Decimal(v.n));
        }
        if (v.kind == K::Real) {
            char text[64];
            auto end = v.type == TYPE3_REAL
                           ? std::to_chars(text, text + sizeof(text), static_cast<float>(v.r))
                           : std::to_chars(text, text + sizeof(text), v.r);
            return SValue::String(std::string(text, end.ptr));
        }
        if (v.kind == K::String) return v;
    } else if (target == TYPE3_REAL || target == TYPE3_LREAL) {
        if (v.kind == K::Int) return SValue::Real(static_cast<double>(v.n), target);
        if (v.kind == K::Real) return SValue::Real(v.r, target);
        if (v.kind == K::Bool) return SValue::Real(v.b ? 1 : 0, target);
        if (v.kind == K::String) return SValue::Real(std::strtod(v.s.c_str(), nullptr), target);
    } else if (IntInfo(target, info)) {
        if (v.kind == K::Int) return SValue::Int(Wrap(v.n, info), target);
        if (v.kind == K::Bool) return SValue::Int(v.b ? 1 : 0, target);
        if (v.kind == K::Real) {
            if (!std::isfinite(v.r) || std::fabs(v.r) >= 1.8e19) {
                Fail(pos, "the number is beyond the range of " + std::string(TypeName(target)));
            }
            return SValue::Int(Wrap(static_cast<__int128>(std::llround(v.r)), info), target);
        }
        if (v.kind == K::String)
            return SValue::Int(Wrap(std::strtoll(v.s.c_str(), nullptr, 10), info), target);
    }
    Fail(pos, std::string("cannot convert ") + v.describe() + " to " + TypeName(target));
}

}  // namespace st
