// The compiler of the declaration language: resolves type names, lays types and
// variables out, checks and encodes initial values and writes them into memory. Also
// the entry points SimDeclCompiler.h declares.
#include "SimDeclCompiler.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <deque>
#include <unordered_set>

#include "SimDeclSyntax.h"
#include "SimNames.h"

namespace sim_decl {

namespace {

struct SElementary {
    const char* name;  // canonical name
    TypeClass3 typeClass;
    uint32_t size;
};

const std::unordered_map<std::string, SElementary>& ElementaryTypes() {
    static const std::unordered_map<std::string, SElementary> table = {
        {"BOOL", {"BOOL", TYPE3_BOOL, 1}},
        {"BYTE", {"BYTE", TYPE3_BYTE, 1}},
        {"WORD", {"WORD", TYPE3_WORD, 2}},
        {"DWORD", {"DWORD", TYPE3_DWORD, 4}},
        {"LWORD", {"LWORD", TYPE3_LWORD, 8}},
        {"SINT", {"SINT", TYPE3_SINT, 1}},
        {"INT", {"INT", TYPE3_INT, 2}},
        {"DINT", {"DINT", TYPE3_DINT, 4}},
        {"LINT", {"LINT", TYPE3_LINT, 8}},
        {"USINT", {"USINT", TYPE3_USINT, 1}},
        {"UINT", {"UINT", TYPE3_UINT, 2}},
        {"UDINT", {"UDINT", TYPE3_UDINT, 4}},
        {"ULINT", {"ULINT", TYPE3_ULINT, 8}},
        {"REAL", {"REAL", TYPE3_REAL, 4}},
        {"LREAL", {"LREAL", TYPE3_LREAL, 8}},
        {"TIME", {"TIME", TYPE3_TIME, 4}},
        {"LTIME", {"LTIME", TYPE3_LTIME, 8}},
        {"DATE", {"DATE", TYPE3_DATE, 4}},
        {"DATE_AND_TIME", {"DATE_AND_TIME", TYPE3_DATEANDTIME, 4}},
        {"DT", {"DATE_AND_TIME", TYPE3_DATEANDTIME, 4}},
        {"TIME_OF_DAY", {"TIME_OF_DAY", TYPE3_TIMEOFDAY, 4}},
        {"TOD", {"TIME_OF_DAY", TYPE3_TIMEOFDAY, 4}},
        {"LDATE", {"LDATE", TYPE3_LDATE, 8}},
        {"LDATE_AND_TIME", {"LDATE_AND_TIME", TYPE3_LDATEANDTIME, 8}},
        {"LDT", {"LDATE_AND_TIME", TYPE3_LDATEANDTIME, 8}},
        {"LTIME_OF_DAY", {"LTIME_OF_DAY", TYPE3_LTIMEOFDAY, 8}},
        {"LTOD", {"LTIME_OF_DAY", TYPE3_LTIMEOFDAY, 8}},
    };
    return table;
}

// ---------------------------------------------------------------------------------
// Values

struct SIntRange {
    bool isSigned;
    unsigned bits;
};

bool IntegerRange(TypeClass3 tc, SIntRange& range) {
    switch (tc) {
        case TYPE3_BYTE:
            range = {false, 8};
            return true;
        case TYPE3_WORD:
            range = {false, 16};
            return true;
        case TYPE3_DWORD:
            range = {false, 32};
            return true;
        case TYPE3_LWORD:
            range = {false, 64};
            return true;
        case TYPE3_USINT:
            range = {false, 8};
            return true;
        case TYPE3_UINT:
            range = {false, 16};
            return true;
        case TYPE3_UDINT:
            range = {false, 32};
            return true;
        case TYPE3_ULINT:
            range = {false, 64};
            return true;
        case TYPE3_SINT:
            range = {true, 8};
            return true;
        case TYPE3_INT:
            range = {true, 16};
            return true;
        case TYPE3_DINT:
            range = {true, 32};
            return true;
        case TYPE3_LINT:
            range = {true, 64};
            return true;
        default:
            return false;
    }
}

// Whether value lies within the range of an integer type of that width and signedness.
bool WithinRange(int64_t value, SIntRange range) {
    if (range.isSigned) {
        const __int128 limit = static_cast<__int128>(1) << (range.bits - 1);
        return value >= -limit && value < limit;
    }
    return value >= 0 && (range.bits == 64 || static_cast<uint64_t>(value) < (uint64_t(1) << range.bits));
}

// Fails on bounds given the wrong way round (an array dimension, a subrange).
void CheckBoundsOrder(const CTypeSpec::Dim& dim) {
    if (dim.lo > dim.hi) {
        Fail(dim.pos,
             "lower bound " + std::to_string(dim.lo) + " exceeds upper bound " + std::to_string(dim.hi));
    }
}

std::string LittleEndian(uint64_t value, size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// Reads a run of decimal digits (at least one, at most maxDigits) at s[at].
bool ReadNumber(const std::string& s, size_t& at, size_t maxDigits, uint64_t& value,
                size_t* count = nullptr) {
    size_t begin = at;
    value = 0;
    while (at < s.size() && IsDigit(s[at]) && at - begin < maxDigits) value = value * 10 + (s[at++] - '0');
    if (count != nullptr) *count = at - begin;
    return at > begin && (at >= s.size() || !IsDigit(s[at]));
}

}  // namespace

// "1H30M", "500MS", "1.5S": descending units, a fraction only on the last one.
static unsigned __int128 ParseDuration(const std::string& body, SPos pos) {
    static const std::pair<const char*, uint64_t> kUnits[] = {
        {"D", 86400000000000ull}, {"H", 3600000000000ull}, {"M", 60000000000ull}, {"S", 1000000000ull},
        {"MS", 1000000ull},       {"US", 1000ull},         {"NS", 1ull}};
    unsigned __int128 total = 0;
    size_t at = 0;
    int lastRank = -1;
    bool fractionSeen = false;
    if (body.empty()) Fail(pos, "empty duration");
    while (at < body.size()) {
        if (fractionSeen) Fail(pos, "only the last unit of a duration may have a fraction");
        uint64_t whole = 0, frac = 0;
        size_t fracDigits = 0;
        if (!ReadNumber(body, at, 18, whole)) Fail(pos, "malformed duration");
        if (at < body.size() && body[at] == '.') {
            ++at;
            if (!ReadNumber(body, at, 18, frac, &fracDigits)) Fail(pos, "malformed duration");
            fractionSeen = true;
        }
        size_t unitBegin = at;
        while (at < body.size() && body[at] >= 'A' && body[at] <= 'Z') ++at;
        std::string unit = body.substr(unitBegin, at - unitBegin);
        int rank = -1;
        for (int i = 0; i < 7; ++i) {
            if (unit == kUnits[i].first) rank = i;
        }
        if (rank < 0) Fail(pos, "unknown duration unit '" + unit + "' (use d, h, m, s, ms, us, ns)");
        if (rank <= lastRank) Fail(pos, "duration units must go from days down to nanoseconds");
        lastRank = rank;
        unsigned __int128 unitNs = kUnits[rank].second;
        total += static_cast<unsigned __int128>(whole) * unitNs;
        if (fracDigits > 0) {
            unsigned __int128 scale = 1;
            for (size_t i = 0; i < fracDigits; ++i) scale *= 10;
            unsigned __int128 part = static_cast<unsigned __int128>(frac) * unitNs;
            if (part % scale != 0) Fail(pos, "duration finer than a nanosecond");
            total += part / scale;
        }
        if (total > static_cast<unsigned __int128>(UINT64_MAX)) Fail(pos, "duration out of range");
    }
    return total;
}

std::string EncodeTemporal(const CLiteral& lit, TypeClass3 tc, const std::string& typeName) {
    const char* expected = tc == TYPE3_TIME           ? "a T# literal"
                           : tc == TYPE3_LTIME        ? "an LTIME# or T# literal"
                           : tc == TYPE3_DATE         ? "a D# literal"
                           : tc == TYPE3_DATEANDTIME  ? "a DT# literal"
                           : tc == TYPE3_TIMEOFDAY    ? "a TOD# literal"
                           : tc == TYPE3_LDATE        ? "an LD# literal"
                           : tc == TYPE3_LDATEANDTIME ? "an LDT# literal"
                                                      : "an LTOD# literal";
    if (lit.kind != CLiteral::Kind::Typed)
        Fail(lit.pos, std::string("expected ") + expected + " for " + typeName);
    const std::string& p = lit.prefix;
    bool duration = p == "T" || p == "TIME" || p == "LT" || p == "LTIME";
    bool ok = (tc == TYPE3_TIME && (p == "T" || p == "TIME")) || (tc == TYPE3_LTIME && duration) ||
              (tc == TYPE3_DATE && (p == "D" || p == "DATE")) ||
              (tc == TYPE3_DATEANDTIME && (p == "DT" || p == "DATE_AND_TIME")) ||
              (tc == TYPE3_TIMEOFDAY && (p == "TOD" || p == "TIME_OF_DAY")) ||
              (tc == TYPE3_LDATE && (p == "LD" || p == "LDATE")) ||
              (tc == TYPE3_LDATEANDTIME && (p == "LDT" || p == "LDATE_AND_TIME")) ||
              (tc == TYPE3_LTIMEOFDAY && (p == "LTOD" || p == "LTIME_OF_DAY"));
    if (!ok) Fail(lit.pos, std::string("expected ") + expected + " for " + typeName);
    std::string body;
    for (char c : lit.text) {
        if (c != '_') body.push_back(Upper(c));
    }
    if (duration) {
        // A negative duration is stored in two's complement, as the signed value the
        // component reads (TIME as a signed 32-bit count of milliseconds).
        const bool negative = !body.empty() && body[0] == '-';
        unsigned __int128 ns = ParseDuration(negative ? body.substr(1) : body, lit.pos);
        if (tc == TYPE3_TIME) {
            if (ns % 1000000 != 0) Fail(lit.pos, "TIME has a resolution of one millisecond");
            uint64_t ms = static_cast<uint64_t>(ns / 1000000);
            if (ns / 1000000 > (negative ? uint64_t(1) << 31 : UINT32_MAX)) {
                Fail(lit.pos, "duration out of range for TIME");
            }
            return LittleEndian(negative ? ~ms + 1 : ms, 4);
        }
        if (ns > (negative ? uint64_t(1) << 63 : UINT64_MAX))
            Fail(lit.pos, "duration out of range for LTIME");
        uint64_t bits = static_cast<uint64_t>(ns);
        return LittleEndian(negative ? ~bits + 1 : bits, 8);
    }
    // The long classes count nanoseconds, the others seconds (dates) or milliseconds
    // (times of day).
    const bool wide = tc == TYPE3_LDATE || tc == TYPE3_LDATEANDTIME || tc == TYPE3_LTIMEOFDAY;
    const bool hasDate =
        tc == TYPE3_DATE || tc == TYPE3_DATEANDTIME || tc == TYPE3_LDATE || tc == TYPE3_LDATEANDTIME;
    const bool hasClock = tc == TYPE3_DATEANDTIME || tc == TYPE3_TIMEOFDAY || tc == TYPE3_LDATEANDTIME ||
                          tc == TYPE3_LTIMEOFDAY;
    const size_t fractionDigits = tc == TYPE3_TIMEOFDAY ? 3 : wide ? 9 : 0;
    size_t at = 0;
    int64_t seconds = 0;
    uint64_t fraction = 0;  // in units of 10^-fractionDigits seconds
    if (hasDate) {
        uint64_t y = 0, m = 0, d = 0;
        bool good = ReadNumber(body, at, 4, y) && at < body.size() && body[at++] == '-' &&
                    ReadNumber(body, at, 2, m) && at < body.size() && body[at++] == '-' &&
                    ReadNumber(body, at, 2, d);
        static const unsigned kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
        if (!good || y < 1970 || m < 1 || m > 12 || d < 1 || d > kDays[m - 1] ||
            (m == 2 && d == 29 && !leap)) {
            Fail(lit.pos, "malformed or impossible date '" + lit.text + "'");
        }
        seconds = DaysFromCivil(static_cast<int64_t>(y), static_cast<unsigned>(m), static_cast<unsigned>(d)) *
                  86400;
        if (hasClock) {
            if (at >= body.size() || body[at++] != '-') {
                Fail(lit.pos, std::string("expected ") + p + "#yyyy-mm-dd-hh:mm:ss");
            }
        } else if (at != body.size()) {
            Fail(lit.pos, "malformed date '" + lit.text + "'");
        }
    }
    if (hasClock) {
        uint64_t h = 0, mi = 0, s = 0;
        size_t digits = 0;
        bool good = ReadNumber(body, at, 2, h) && at < body.size() && body[at++] == ':' &&
                    ReadNumber(body, at, 2, mi) && at < body.size() && body[at++] == ':' &&
                    ReadNumber(body, at, 2, s);
        if (good && at < body.size() && body[at] == '.' && fractionDigits > 0) {
            ++at;
            good = ReadNumber(body, at, fractionDigits, fraction, &digits);
            for (size_t i = digits; i < fractionDigits; ++i) fraction *= 10;
        }
        if (!good || at != body.size() || h > 23 || mi > 59 || s > 59) {
            Fail(lit.pos, "malformed time of day '" + lit.text + "'");
        }
        seconds += static_cast<int64_t>(h * 3600 + mi * 60 + s);
    }
    if (wide) {
        if (seconds > INT64_MAX / 1000000000 - 1) Fail(lit.pos, "date out of range for " + typeName);
        return LittleEndian(static_cast<uint64_t>(seconds) * 1000000000u + fraction, 8);
    }
    if (tc == TYPE3_TIMEOFDAY) return LittleEndian(static_cast<uint64_t>(seconds) * 1000 + fraction, 4);
    if (seconds > static_cast<int64_t>(UINT32_MAX)) Fail(lit.pos, "date out of range for " + typeName);
    return LittleEndian(static_cast<uint64_t>(seconds), 4);
}

namespace {

// Turns parsed declarations into the model's types and variables: resolves type names
// (in any order, refusing a type that contains itself), lays types and variables out,
// and checks and encodes initial values. One use, one thread.
class CCompiler {
   public:
    CCompiler(CSimModel& model, std::vector<CTypeDecl>& decls, uint32_t arrayPadding)
        : model_(model), decls_(decls), arrayPadding_(arrayPadding) {}

    void compile(std::vector<CVarDecl>& vars) {
        for (size_t i = 0; i < decls_.size(); ++i) {
            declIndex_[ToUpper(decls_[i].name)] = i;
            decls_[i].shell = newType();
            decls_[i].shell->name = decls_[i].name;
        }
        for (CTypeDecl& decl : decls_) layout(decl, decl.pos);

        uint64_t offset = 0;
        for (CVarDecl& var : vars) {
            const CSimType* type = resolve(*var.typeSpec);
            CSimVariable v;
            v.name = var.name;
            v.type = type;
            v.branch = var.branch;
            if (var.init) v.init = encode(*var.init, type);
            offset = (offset + type->align - 1) / type->align * type->align;
            if (type->size > kSimMaxMemory - offset) Fail(var.pos, "the application's memory exceeds 1 GiB");
            v.offset = offset;
            offset += type->size;
            model_.variables.push_back(std::move(v));
        }
        model_.memorySize = offset;

        // Pointer and reference targets need not be laid out when the pointer is, so a
        // structure may point to itself; they are resolved once everything else is.
        while (!pendingTargets_.empty()) {
            auto [type, typeSpec] = pendingTargets_.front();
            pendingTargets_.pop_front();
            type->target = resolve(*typeSpec);
        }
        for (auto& [copy, original] : targetCopies_) copy->target = original->target;
    }

   private:
    CSimType* newType() {
        model_.types.push_back(std::make_unique<CSimType>());
        CSimType* type = model_.types.back().get();
        type->id = static_cast<uint32_t>(model_.types.size() - 1);
        return type;
    }

    static std::string Describe(const CSimType* type) { return type->name; }

    void layout(CTypeDecl& decl, SPos usedAt) {
        if (decl.state == 2) return;
        if (decl.state == 1) Fail(usedAt, "type '" + decl.name + "' contains itself");
        if (layoutDepth_ >= kMaxNesting) Fail(usedAt, "types nested too deeply");
        ++layoutDepth_;
        decl.state = 1;
        CSimType* shell = decl.shell;
        CTypeSpec& typeSpec = *decl.typeSpec;
        if (typeSpec.kind == CTypeSpec::Kind::Struct) {
            shell->kind = CSimType::Kind::Struct;
            shell->typeClass = TYPE3_USERDEF;
            uint64_t offset = 0;
            uint32_t align = 1;
            for (CTypeSpec::Field& field : typeSpec.fields) {
                CSimMember member;
                member.name = field.name;
                member.type = resolve(*field.typeSpec);
                offset = (offset + member.type->align - 1) / member.type->align * member.type->align;
                member.offset = offset;
                if (member.type->size > kSimMaxMemory - offset)
                    Fail(field.pos, "structure larger than 1 GiB");
                offset += member.type->size;
                align = std::max(align, member.type->align);
                if (field.init) member.init = encode(*field.init, member.type);
                shell->hasDefaults = shell->hasDefaults || member.init || member.type->hasDefaults;
                member.handleIndex = static_cast<uint32_t>(model_.typeMembers.size());
                model_.typeMembers.push_back({shell, static_cast<uint32_t>(shell->members.size())});
                shell->members.push_back(std::move(member));
            }
            shell->align = align;
            shell->size = (offset + align - 1) / align * align;
            shell->buildMemberIndex();
        } else if (typeSpec.kind == CTypeSpec::Kind::Enum) {
            shell->kind = CSimType::Kind::Enum;
            shell->typeClass = TYPE3_ENUM;
            shell->size = 2;
            shell->align = 2;
            shell->enumName = decl.name;
            int64_t next = 0;
            for (const CTypeSpec::EnumItem& item : typeSpec.items) {
                int64_t value = item.hasValue ? item.value : next;
                if (value > INT16_MAX) Fail(item.pos, "enumeration value out of range for INT");
                shell->enumValues.push_back({item.name, static_cast<int16_t>(value)});
                next = value + 1;
            }
            shell->hasDefaults = shell->enumValues.front().second != 0;
        } else {
            const CSimType* target = resolve(typeSpec);
            std::string name = shell->name;
            uint32_t id = shell->id;
            *shell = *target;  // an alias is a copy of its type under a name of its own
            shell->name = name;
            shell->id = id;
            if (shell->kind == CSimType::Kind::Struct) shell->buildMemberIndex();
            if (shell->kind == CSimType::Kind::Pointer || shell->kind == CSimType::Kind::Reference) {
                targetCopies_.push_back({shell, target});
            }
        }
        if (decl.init) {
            shell->ownInit = encode(*decl.init, shell);
            shell->hasDefaults = true;
        }
        decl.state = 2;
        --layoutDepth_;
    }

    const CSimType* interned(const std::string& key, CSimType::Kind kind, TypeClass3 tc, uint64_t size,
                             uint32_t align, uint32_t length) {
        auto found = interned_.find(key);
        if (found != interned_.end()) return found->second;
        CSimType* type = newType();
        type->kind = kind;
        type->typeClass = tc;
        type->name = key;
        type->size = size;
        type->align = align;
        type->length = length;
        interned_[key] = type;
        return type;
    }

    const CSimType* resolve(CTypeSpec& typeSpec) {
        if (typeSpec.resolved == nullptr) typeSpec.resolved = resolveNew(typeSpec);
        return typeSpec.resolved;
    }

    const CSimType* resolveNew(CTypeSpec& typeSpec) {
        switch (typeSpec.kind) {
            case CTypeSpec::Kind::Named: {
                std::string upper = ToUpper(typeSpec.name);
                auto elementary = ElementaryTypes().find(upper);
                if (elementary != ElementaryTypes().end()) {
                    const SElementary& e = elementary->second;
                    return interned(e.name, CSimType::Kind::Elementary, e.typeClass, e.size, e.size, 0);
                }
                auto found = declIndex_.find(upper);
                if (found == declIndex_.end()) Fail(typeSpec.pos, "unknown type '" + typeSpec.name + "'");
                layout(decls_[found->second], typeSpec.pos);
                return decls_[found->second].shell;
            }
            case CTypeSpec::Kind::String:
                return interned("STRING(" + std::to_string(typeSpec.length) + ")", CSimType::Kind::String,
                                TYPE3_STRING, typeSpec.length + 1, 1, static_cast<uint32_t>(typeSpec.length));
            case CTypeSpec::Kind::WString:
                return interned("WSTRING(" + std::to_string(typeSpec.length) + ")", CSimType::Kind::WString,
                                TYPE3_WSTRING, 2 * (typeSpec.length + 1), 2,
                                static_cast<uint32_t>(typeSpec.length));
            case CTypeSpec::Kind::Array: {
                if (typeSpec.dims.size() > 4)
                    Fail(typeSpec.dims[4].pos, "an array has at most four dimensions");
                const CSimType* element = resolve(*typeSpec.sub);
                CSimType* type = newType();
                type->kind = CSimType::Kind::Array;
                type->typeClass = TYPE3_ARRAY;
                type->element = element;
                type->align = element->align;
                type->hasDefaults = element->hasDefaults;
                type->name = "ARRAY[";
                uint64_t count = 1;
                for (const CTypeSpec::Dim& dim : typeSpec.dims) {
                    CheckBoundsOrder(dim);
                    uint64_t extent = static_cast<uint64_t>(dim.hi - dim.lo + 1);
                    if (count > kSimMaxMemory / extent) Fail(dim.pos, "array larger than 1 GiB");
                    count *= extent;
                    type->dims.push_back({static_cast<RTS_I32>(dim.lo), static_cast<RTS_I32>(dim.hi)});
                    if (type->dims.size() > 1) type->name += ",";
                    type->name += std::to_string(dim.lo) + ".." + std::to_string(dim.hi);
                }
                type->stride = element->size;
                if (arrayPadding_ != 0) {
                    type->stride = (element->size + arrayPadding_ + element->align - 1) / element->align *
                                   element->align;
                }
                if (count > kSimMaxMemory / type->stride) Fail(typeSpec.pos, "array larger than 1 GiB");
                type->count = count;
                type->size = count * type->stride;
                type->name += "] OF " + element->name;
                return type;
            }
            case CTypeSpec::Kind::Subrange: {
                const std::string upper = ToUpper(typeSpec.name);
                const auto elementary = ElementaryTypes().find(upper);
                SIntRange range{};
                if (elementary == ElementaryTypes().end() ||
                    !IntegerRange(elementary->second.typeClass, range)) {
                    Fail(typeSpec.pos, "a subrange needs an integer type, not " + typeSpec.name);
                }
                const CTypeSpec::Dim& bounds = typeSpec.dims[0];
                CheckBoundsOrder(bounds);
                const CSimType* base = interned(elementary->second.name, CSimType::Kind::Elementary,
                                                elementary->second.typeClass, elementary->second.size,
                                                elementary->second.size, 0);
                const std::string name = std::string(base->name) + "(" + std::to_string(bounds.lo) + ".." +
                                         std::to_string(bounds.hi) + ")";
                if (!WithinRange(bounds.lo, range) || !WithinRange(bounds.hi, range)) {
                    Fail(bounds.pos, "the bounds of " + name + " lie beyond " + base->name);
                }
                auto found = interned_.find(name);
                if (found != interned_.end()) return found->second;
                CSimType* type = newType();
                type->kind = CSimType::Kind::Elementary;
                type->typeClass = TYPE3_SUBRANGE;
                type->name = name;
                type->size = base->size;
                type->align = base->align;
                type->base = base;
                type->lowest = bounds.lo;
                type->highest = bounds.hi;
                // A fresh value is the lower bound when zero lies outside the range.
                type->hasDefaults = bounds.lo > 0 || bounds.hi < 0;
                if (type->hasDefaults) {
                    auto init = std::make_shared<CSimInit>();
                    init->bytes = LittleEndian(static_cast<uint64_t>(bounds.lo), type->size);
                    type->ownInit = init;
                }
                interned_[name] = type;
                return type;
            }
            case CTypeSpec::Kind::Pointer:
            case CTypeSpec::Kind::Reference: {
                CSimType* type = newType();
                bool pointer = typeSpec.kind == CTypeSpec::Kind::Pointer;
                type->kind = pointer ? CSimType::Kind::Pointer : CSimType::Kind::Reference;
                type->typeClass = pointer ? TYPE3_POINTER : TYPE3_REFERENCE;
                type->size = 8;
                type->align = 8;
                type->name =
                    std::string(pointer ? "POINTER TO " : "REFERENCE TO ") + SpelledSpec(*typeSpec.sub);
                pendingTargets_.push_back({type, typeSpec.sub.get()});
                return type;
            }
            default:
                Fail(typeSpec.pos, "a structure or enumeration must be declared in a TYPE block");
        }
    }

    static std::string SpelledSpec(const CTypeSpec& typeSpec) {
        switch (typeSpec.kind) {
            case CTypeSpec::Kind::Named:
                return typeSpec.name;
            case CTypeSpec::Kind::String:
                return "STRING(" + std::to_string(typeSpec.length) + ")";
            case CTypeSpec::Kind::WString:
                return "WSTRING(" + std::to_string(typeSpec.length) + ")";
            case CTypeSpec::Kind::Pointer:
                return "POINTER TO " + SpelledSpec(*typeSpec.sub);
            case CTypeSpec::Kind::Reference:
                return "REFERENCE TO " + SpelledSpec(*typeSpec.sub);
            case CTypeSpec::Kind::Array: {
                std::string out = "ARRAY[";
                for (size_t i = 0; i < typeSpec.dims.size(); ++i) {
                    out += (i ? "," : "") + std::to_string(typeSpec.dims[i].lo) + ".." +
                           std::to_string(typeSpec.dims[i].hi);
                }
                return out + "] OF " + SpelledSpec(*typeSpec.sub);
            }
            default:
                return "?";
        }
    }

    // --- initial values ---

    std::shared_ptr<const CSimInit> encode(const CLiteral& lit, const CSimType* type) {
        auto init = std::make_shared<CSimInit>();
        switch (type->kind) {
            case CSimType::Kind::Array: {
                if (lit.kind != CLiteral::Kind::List) {
                    Fail(lit.pos, "expected an array value [...] for " + Describe(type));
                }
                init->kind = CSimInit::Kind::List;
                uint64_t total = 0;
                for (const CLiteral& item : lit.items) {
                    if (item.repeat > type->count - total) {
                        Fail(item.pos, "too many initial values for " + Describe(type) + " (" +
                                           std::to_string(type->count) + " elements)");
                    }
                    total += item.repeat;
                    init->items.push_back({item.repeat, encode(item, type->element)});
                }
                return init;
            }
            case CSimType::Kind::Struct: {
                if (lit.kind != CLiteral::Kind::Struct) {
                    Fail(lit.pos, "expected a structure value (member := value, ...) for " + Describe(type));
                }
                init->kind = CSimInit::Kind::Struct;
                std::unordered_set<uint32_t> seen;
                for (const CLiteral& item : lit.items) {
                    auto found = type->memberIndex.find(item.member);
                    if (found == type->memberIndex.end()) {
                        Fail(item.memberPos, "'" + item.member + "' is not a member of " + Describe(type));
                    }
                    if (!seen.insert(found->second).second) {
                        Fail(item.memberPos, "member '" + item.member + "' is given twice");
                    }
                    init->members.push_back({found->second, encode(item, type->members[found->second].type)});
                }
                return init;
            }
            case CSimType::Kind::Pointer:
            case CSimType::Kind::Reference:
                Fail(lit.pos, "a pointer or reference takes no initial value");
            default:
                init->kind = CSimInit::Kind::Bytes;
                init->bytes = encodeScalar(lit, type);
                return init;
        }
    }

    std::string encodeScalar(const CLiteral& lit, const CSimType* type) {
        if (lit.kind == CLiteral::Kind::List || lit.kind == CLiteral::Kind::Struct) {
            Fail(lit.pos, "expected a single value for " + Describe(type));
        }
        SIntRange range{};
        if (type->kind == CSimType::Kind::Enum) return encodeEnum(lit, type);
        if (type->kind == CSimType::Kind::String) {
            if (lit.kind != CLiteral::Kind::String)
                Fail(lit.pos, "expected a 'string' for " + Describe(type));
            if (lit.text.size() > type->length) {
                Fail(lit.pos, "string of " + std::to_string(lit.text.size()) + " characters does not fit " +
                                  Describe(type));
            }
            std::string bytes = lit.text;
            bytes.resize(type->size, '\0');
            return bytes;
        }
        if (type->kind == CSimType::Kind::WString) {
            if (lit.kind != CLiteral::Kind::WString)
                Fail(lit.pos, "expected a \"wstring\" for " + Describe(type));
            if (lit.wide.size() > type->length) {
                Fail(lit.pos, "string of " + std::to_string(lit.wide.size()) + " characters does not fit " +
                                  Describe(type));
            }
            std::string bytes(type->size, '\0');
            std::memcpy(&bytes[0], lit.wide.data(), lit.wide.size() * 2);
            return bytes;
        }
        if (type->typeClass == TYPE3_BOOL) {
            if (lit.kind == CLiteral::Kind::Name && lit.prefix.empty()) {
                std::string upper = ToUpper(lit.text);
                if (upper == "TRUE") return std::string(1, '\1');
                if (upper == "FALSE") return std::string(1, '\0');
            }
            if (lit.kind == CLiteral::Kind::Integer && !lit.negative && lit.integer <= 1) {
                return std::string(1, static_cast<char>(lit.integer));
            }
            Fail(lit.pos, "expected TRUE or FALSE for BOOL");
        }
        if (type->typeClass == TYPE3_SUBRANGE) {
            if (lit.kind != CLiteral::Kind::Integer)
                Fail(lit.pos, "expected an integer for " + Describe(type));
            const __int128 value = lit.negative ? -static_cast<__int128>(lit.integer) : lit.integer;
            if (value < type->lowest || value > type->highest) {
                Fail(lit.pos, "value " + std::string(lit.negative ? "-" : "") + std::to_string(lit.integer) +
                                  " out of range for " + Describe(type));
            }
            return LittleEndian(static_cast<uint64_t>(value), type->size);
        }
        if (IntegerRange(type->typeClass, range)) {
            if (lit.kind != CLiteral::Kind::Integer)
                Fail(lit.pos, "expected an integer for " + Describe(type));
            uint64_t max = range.bits == 64 ? UINT64_MAX : (uint64_t(1) << range.bits) - 1;
            uint64_t limit =
                range.isSigned ? (lit.negative ? max / 2 + 1 : max / 2) : (lit.negative ? 0 : max);
            if (lit.integer > limit) {
                Fail(lit.pos, "value " + std::string(lit.negative ? "-" : "") + std::to_string(lit.integer) +
                                  " out of range for " + Describe(type));
            }
            uint64_t bits = lit.negative ? ~lit.integer + 1 : lit.integer;
            return LittleEndian(bits, type->size);
        }
        if (type->typeClass == TYPE3_REAL || type->typeClass == TYPE3_LREAL) {
            double value = 0;
            if (lit.kind == CLiteral::Kind::Integer) {
                value = static_cast<double>(lit.integer);
            } else if (lit.kind == CLiteral::Kind::Real) {
                auto [end, ec] = std::from_chars(lit.text.data(), lit.text.data() + lit.text.size(), value);
                if (ec != std::errc() || end != lit.text.data() + lit.text.size()) {
                    Fail(lit.pos, "value out of range for " + Describe(type));
                }
            } else {
                Fail(lit.pos, "expected a number for " + Describe(type));
            }
            if (lit.negative) value = -value;
            std::string bytes(type->size, '\0');
            if (type->typeClass == TYPE3_REAL) {
                if (std::fabs(value) > FLT_MAX) Fail(lit.pos, "value out of range for " + Describe(type));
                float f = static_cast<float>(value);
                std::memcpy(&bytes[0], &f, 4);
            } else {
                std::memcpy(&bytes[0], &value, 8);
            }
            return bytes;
        }
        return encodeTemporal(lit, type);
    }

    std::string encodeEnum(const CLiteral& lit, const CSimType* type) {
        if (lit.kind != CLiteral::Kind::Name) Fail(lit.pos, "expected a value name of " + Describe(type));
        if (!lit.prefix.empty() && !CSimNameEqual()(lit.prefix, type->enumName)) {
            Fail(lit.pos, "'" + lit.prefix + "' is not the enumeration " + type->enumName);
        }
        for (const auto& [name, value] : type->enumValues) {
            if (CSimNameEqual()(name, lit.text)) return LittleEndian(static_cast<uint16_t>(value), 2);
        }
        Fail(lit.pos, "'" + lit.text + "' is not a value of " + type->enumName);
    }

    std::string encodeTemporal(const CLiteral& lit, const CSimType* type) {
        return EncodeTemporal(lit, type->typeClass, type->name);
    }

    CSimModel& model_;
    std::vector<CTypeDecl>& decls_;
    uint32_t arrayPadding_;
    std::unordered_map<std::string, size_t> declIndex_;
    std::unordered_map<std::string, const CSimType*> interned_;
    std::deque<std::pair<CSimType*, CTypeSpec*>> pendingTargets_;
    std::vector<std::pair<CSimType*, const CSimType*>> targetCopies_;
    int layoutDepth_ = 0;
};

// ---------------------------------------------------------------------------------
// Writing initial values

void WriteInit(const CSimInit& init, const CSimType* type, uint8_t* at) {
    switch (init.kind) {
        case CSimInit::Kind::Bytes:
            std::memcpy(at, init.bytes.data(), init.bytes.size());
            break;
        case CSimInit::Kind::List: {
            uint64_t element = 0;
            for (const auto& [repeat, item] : init.items) {
                for (uint64_t r = 0; r < repeat; ++r, ++element) {
                    WriteInit(*item, type->element, at + element * type->stride);
                }
            }
            break;
        }
        case CSimInit::Kind::Struct:
            for (const auto& [member, item] : init.members) {
                WriteInit(*item, type->members[member].type, at + type->members[member].offset);
            }
            break;
    }
}

void WriteDefaults(const CSimType* type, uint8_t* at) {
    if (!type->hasDefaults) return;
    switch (type->kind) {
        case CSimType::Kind::Enum: {
            uint16_t first = static_cast<uint16_t>(type->enumValues.front().second);
            std::memcpy(at, &first, 2);
            break;
        }
        case CSimType::Kind::Struct:
            for (const CSimMember& member : type->members) {
                WriteDefaults(member.type, at + member.offset);
                if (member.init) WriteInit(*member.init, member.type, at + member.offset);
            }
            break;
        case CSimType::Kind::Array:
            for (uint64_t i = 0; i < type->count; ++i) WriteDefaults(type->element, at + i * type->stride);
            break;
        default:
            break;
    }
    if (type->ownInit) WriteInit(*type->ownInit, type, at);
}

}  // namespace

bool IsElementaryTypeName(const std::string& upper) { return ElementaryTypes().count(upper) != 0; }

}  // namespace sim_decl

CSimDeclError::CSimDeclError(int line, int column, const std::string& what)
    : std::runtime_error("line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + what),
      line_(line),
      column_(column) {}

size_t CSimNameHash::operator()(std::string_view name) const {
    uint64_t hash = 1469598103934665603ull;
    for (char c : name) {
        hash ^= static_cast<unsigned char>(Upper(c));
        hash *= 1099511628211ull;
    }
    return static_cast<size_t>(hash);
}

bool CSimNameEqual::operator()(std::string_view a, std::string_view b) const {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Upper(a[i]) != Upper(b[i])) return false;
    }
    return true;
}

void CSimType::buildMemberIndex() {
    memberIndex.clear();
    for (size_t i = 0; i < members.size(); ++i) memberIndex[members[i].name] = static_cast<uint32_t>(i);
}

std::unique_ptr<CSimModel> SimCompileDeclarations(const std::string& text, uint32_t arrayPadding) {
    auto model = std::make_unique<CSimModel>();
    // A UTF-8 byte order mark, as some editors write it, is no part of the text.
    static const char kByteOrderMark[] = "\xEF\xBB\xBF";
    const std::string unmarked = text.compare(0, 3, kByteOrderMark) == 0 ? text.substr(3) : text;
    sim_decl::SParsedDeclarations parser = sim_decl::ParseDeclarations(unmarked, *model);
    sim_decl::CCompiler compiler(*model, parser.types, arrayPadding);
    compiler.compile(parser.vars);
    for (const sim_decl::CBlockDecl& block : parser.blocks) {
        CSimFunctionBlock compiled;
        compiled.name = block.name;
        compiled.instance = parser.types[block.instance].shell;
        compiled.body = parser.types[block.body].shell;
        for (const auto& [name, index] : block.methods) {
            compiled.methods.push_back({name, parser.types[index].shell});
        }
        model->functionBlocks.push_back(std::move(compiled));
    }
    return model;
}

void SimWriteInitialValues(const CSimModel& model, uint8_t* memory) {
    for (const CSimVariable& var : model.variables) {
        sim_decl::WriteDefaults(var.type, memory + var.offset);
        if (var.init) sim_decl::WriteInit(*var.init, var.type, memory + var.offset);
    }
}
