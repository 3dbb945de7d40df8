// The tree-walking interpreter of Structured Text programs: binding of names to the
// application's memory and of calls to block methods and standard functions, values
// and their IEC types, statements and the call records of the component's blocks.
#include "StInterpreter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <list>
#include <stdexcept>

#include "SimApplication.h"
#include "SimDeclSyntax.h"
#include "SimNames.h"
#include "StValue.h"

using st::ApplyBinary;
using st::Convert;
using st::Decimal;
using st::EBound;
using st::EOp;
using st::IntInfo;
using st::ReadScalar;
using st::SArg;
using st::SExpr;
using st::SIntInfo;
using st::SPos;
using st::SStmt;
using st::SValue;
using st::TypeByName;
using st::TypeName;
using st::Wrap;
using st::WriteScalar;

namespace {

using sim_decl::Fail;

enum class EFunction {
    Adr,
    Sizeof,
    Len,
    Concat,
    Left,
    Right,
    Mid,
    Find,
    Min,
    Max,
    Abs,
    Limit,
    Trunc,
    Convert
};

struct SFunction {
    const char* name;
    EFunction id;
    size_t minArgs;
    size_t maxArgs;
};
const SFunction kFunctions[] = {
    {"ADR", EFunction::Adr, 1, 1},     {"SIZEOF", EFunction::Sizeof, 1, 1},
    {"LEN", EFunction::Len, 1, 1},     {"CONCAT", EFunction::Concat, 2, 64},
    {"LEFT", EFunction::Left, 2, 2},   {"RIGHT", EFunction::Right, 2, 2},
    {"MID", EFunction::Mid, 3, 3},     {"FIND", EFunction::Find, 2, 2},
    {"MIN", EFunction::Min, 2, 64},    {"MAX", EFunction::Max, 2, 64},
    {"ABS", EFunction::Abs, 1, 1},     {"LIMIT", EFunction::Limit, 3, 3},
    {"TRUNC", EFunction::Trunc, 1, 1},
};
constexpr int kConvertFunction = sizeof(kFunctions) / sizeof(kFunctions[0]);

enum class EFlow { Normal, Exit, Return };

}  // namespace

class CStInterpreter::CImpl {
   public:
    CImpl(st::SProgram& program, std::string branch, const std::vector<SStMethod>& methods,
          const std::vector<SStConstant>& constants, IStExternalCalls& calls)
        : program_(program),
          branch_(std::move(branch)),
          methods_(methods),
          constants_(constants),
          calls_(calls) {}

    void bind() {
        std::vector<std::string> variables = app().topLevelVariables();
        for (const std::string& full : variables) {
            globals_[ToUpper(full.substr(full.rfind('.') + 1))].push_back(full);
        }
        bindBlock(program_.body, 0);
    }

    void runCycle() {
        statements_ = 0;
        execBlock(program_.body);
    }

   private:
    static CSimApplication& app() { return CSimApplication::instance(); }

    // --- binding ---------------------------------------------------------------------

    void bindBlock(std::vector<SStmt>& list, int loops) {
        for (SStmt& stmt : list) bindStmt(stmt, loops);
    }

    void bindStmt(SStmt& stmt, int loops) {
        switch (stmt.kind) {
            case SStmt::Kind::Assign:
                bindPlace(*stmt.target, "the left of ':='");
                bindValue(*stmt.value);
                break;
            case SStmt::Kind::Call:
                bindExpr(*stmt.value, false);
                break;
            case SStmt::Kind::If:
                for (auto& [condition, body] : stmt.branches) {
                    bindValue(*condition);
                    bindBlock(body, loops);
                }
                bindBlock(stmt.elseBody, loops);
                break;
            case SStmt::Kind::For: {
                bindPlace(*stmt.target, "the FOR loop's variable");
                SIntInfo info;
                if (stmt.target->type->kind != CSimType::Kind::Elementary ||
                    !IntInfo(ScalarClass(stmt.target->type), info)) {
                    Fail(stmt.target->pos, "the FOR loop's variable must be of an integer type");
                }
                bindValue(*stmt.value);
                bindValue(*stmt.to);
                if (stmt.by) bindValue(*stmt.by);
                bindBlock(stmt.body, loops + 1);
                break;
            }
            case SStmt::Kind::While:
            case SStmt::Kind::Repeat:
                bindValue(*stmt.value);
                bindBlock(stmt.body, loops + 1);
                break;
            case SStmt::Kind::Case:
                bindValue(*stmt.value);
                for (st::SCaseArm& arm : stmt.arms) {
                    for (auto& [lo, hi] : arm.labels) {
                        bindValue(*lo);
                        if (hi) bindValue(*hi);
                    }
                    bindBlock(arm.body, loops);
                }
                bindBlock(stmt.elseBody, loops);
                break;
            case SStmt::Kind::Exit:
                if (loops == 0) Fail(stmt.pos, "EXIT outside a loop");
                break;
            case SStmt::Kind::Return:
            case SStmt::Kind::Empty:
                break;
        }
    }

    void bindValue(SExpr& e) { bindExpr(e, true); }

    void bindPlace(SExpr& e, const char* what) {
        bindExpr(e, true);
        if (!isPlace(e)) Fail(e.pos, std::string(what) + " must be a variable");
    }

    // The class a program's values of the type have: an enumeration's, a subrange's base's,
    // else the type's own.
    static TypeClass3 ScalarClass(const CSimType* type) {
        if (type->kind == CSimType::Kind::Enum) return TYPE3_ENUM;
        if (type->typeClass == TYPE3_SUBRANGE && type->base != nullptr) return type->base->typeClass;
        return type->typeClass;
    }

    static bool isPlace(const SExpr& e) {
        return e.bound == EBound::Variable || e.bound == EBound::Member || e.bound == EBound::Element;
    }

    // The block whose instance type is `type`, or nullptr.
    const char* blockOf(const CSimType* type) const {
        if (type == nullptr || type->kind != CSimType::Kind::Struct) return nullptr;
        for (const SStMethod& m : methods_) {
            if (CSimNameEqual()(m.block, type->name)) return m.block;
        }
        return nullptr;
    }

    // A name the program uses: its own variable, else a top-level variable of the
    // application of that name. Returns false when there is none.
    bool resolveName(SExpr& e) {
        std::string own = branch_ + "." + e.text;
        try {
            e.type = app().type(own);
            e.address = app().address(own);
            e.bound = EBound::Variable;
            return true;
        } catch (const std::out_of_range&) {
        }
        auto found = globals_.find(ToUpper(e.text));
        if (found == globals_.end()) return false;
        if (found->second.size() > 1) {
            Fail(e.pos, "'" + e.text + "' is ambiguous: " + found->second[0] + " or " + found->second[1]);
        }
        e.type = app().type(found->second[0]);
        e.address = app().address(found->second[0]);
        e.bound = EBound::Variable;
        return true;
    }

    // A named constant of the component: the name becomes a typed value.
    bool resolveConstant(SExpr& e) {
        for (const SStConstant& constant : constants_) {
            if (CSimNameEqual()(constant.name, e.text)) {
                e.kind = SExpr::Kind::Typed;
                e.integer = constant.value;
                e.conversionTarget = constant.type;
                return true;
            }
        }
        return false;
    }

    void bindExpr(SExpr& e, bool asValue) {
        switch (e.kind) {
            case SExpr::Kind::Integer:
            case SExpr::Kind::Real:
            case SExpr::Kind::String:
            case SExpr::Kind::Bool:
                return;
            case SExpr::Kind::WString:
                Fail(e.pos, "WSTRING values are not supported in statements");
            case SExpr::Kind::Typed:
                bindTyped(e);
                return;
            case SExpr::Kind::Name:
                if (!resolveName(e) && !resolveConstant(e)) Fail(e.pos, "unknown variable '" + e.text + "'");
                return;
            case SExpr::Kind::Member:
                bindMember(e);
                return;
            case SExpr::Kind::Index:
                bindIndex(e);
                return;
            case SExpr::Kind::Call:
                bindCall(e, asValue);
                return;
            case SExpr::Kind::Unary:
                bindValue(*e.operands[0]);
                return;
            case SExpr::Kind::Binary:
                bindValue(*e.operands[0]);
                bindValue(*e.operands[1]);
                return;
        }
    }

    void bindTyped(SExpr& e) {
        static const std::pair<const char*, TypeClass3> kPrefixes[] = {
            {"T", TYPE3_TIME},           {"TIME", TYPE3_TIME},
            {"LT", TYPE3_LTIME},         {"LTIME", TYPE3_LTIME},
            {"D", TYPE3_DATE},           {"DATE", TYPE3_DATE},
            {"DT", TYPE3_DATEANDTIME},   {"DATE_AND_TIME", TYPE3_DATEANDTIME},
            {"TOD", TYPE3_TIMEOFDAY},    {"TIME_OF_DAY", TYPE3_TIMEOFDAY},
            {"LD", TYPE3_LDATE},         {"LDATE", TYPE3_LDATE},
            {"LDT", TYPE3_LDATEANDTIME}, {"LDATE_AND_TIME", TYPE3_LDATEANDTIME},
            {"LTOD", TYPE3_LTIMEOFDAY},  {"LTIME_OF_DAY", TYPE3_LTIMEOFDAY}};
        TypeClass3 tc = TYPE3_NONE;
        for (const auto& [prefix, type] : kPrefixes) {
            if (e.prefix == prefix) tc = type;
        }
        sim_decl::CLiteral literal;
        literal.kind = sim_decl::CLiteral::Kind::Typed;
        literal.pos = e.pos;
        literal.prefix = e.prefix;
        literal.text = e.text;
        std::string bytes = sim_decl::EncodeTemporal(literal, tc, TypeName(tc));
        uint64_t bits = 0;
        std::memcpy(&bits, bytes.data(), bytes.size());
        e.integer = bits;
        e.conversionTarget = tc;
    }

    void bindMember(SExpr& e) {
        SExpr& object = *e.operands[0];
        bindPlace(object, "the left of '.'");
        if (const char* block = blockOf(object.type)) {
            for (const SStMethod& m : methods_) {
                if (!CSimNameEqual()(m.block, block)) continue;
                for (const SStParam& p : m.params) {
                    if (p.role == EStRole::Output && CSimNameEqual()(p.name, e.text)) {
                        e.bound = EBound::Output;
                        e.param = &p;
                        return;
                    }
                }
            }
            Fail(e.pos, std::string(block) + " has no output '" + e.text + "'");
        }
        if (object.type->kind != CSimType::Kind::Struct) {
            Fail(e.pos, "'" + e.text + "': " + object.type->name + " is not a structure");
        }
        auto found = object.type->memberIndex.find(e.text);
        if (found == object.type->memberIndex.end()) {
            Fail(e.pos, object.type->name + " has no member '" + e.text + "'");
        }
        const CSimMember& member = object.type->members[found->second];
        e.bound = EBound::Member;
        e.type = member.type;
        e.offset = member.offset;
    }

    void bindIndex(SExpr& e) {
        SExpr& object = *e.operands[0];
        bindPlace(object, "the left of '['");
        if (object.type->kind != CSimType::Kind::Array) Fail(e.pos, object.type->name + " is not an array");
        if (e.operands.size() - 1 != object.type->dims.size()) {
            Fail(e.pos,
                 object.type->name + " takes " + std::to_string(object.type->dims.size()) + " indices");
        }
        for (size_t i = 1; i < e.operands.size(); ++i) bindValue(*e.operands[i]);
        e.bound = EBound::Element;
        e.type = object.type->element;
    }

    void bindCall(SExpr& e, bool asValue) {
        SExpr& callee = *e.operands[0];
        const char* block = nullptr;
        std::string method;
        if (callee.kind == SExpr::Kind::Member) {
            bindPlace(*callee.operands[0], "the left of '.'");
            block = blockOf(callee.operands[0]->type);
            if (block == nullptr) {
                Fail(callee.pos, "'" + callee.operands[0]->type->name + "' has no methods (only " +
                                     "the component's blocks are called here)");
            }
            method = callee.text;
        } else if (callee.kind == SExpr::Kind::Name && resolveName(callee)) {
            block = blockOf(callee.type);
            if (block == nullptr) Fail(callee.pos, "'" + callee.text + "' is not a function block instance");
        } else if (callee.kind == SExpr::Kind::Name) {
            bindFunction(e, callee.text, asValue);
            return;
        } else {
            Fail(callee.pos, "this cannot be called");
        }
        for (const SStMethod& m : methods_) {
            if (CSimNameEqual()(m.block, block) && CSimNameEqual()(m.method, method)) e.method = &m;
        }
        if (e.method == nullptr) Fail(callee.pos, std::string(block) + " has no method '" + method + "'");
        e.bound = EBound::Method;
        bool hasResult = false;
        for (const SStParam& p : e.method->params) hasResult = hasResult || p.role == EStRole::Result;
        if (asValue && !hasResult) {
            Fail(callee.pos, std::string(block) + (method.empty() ? "" : "." + method) + " gives no value");
        }
        bindMethodArguments(e);
    }

    void bindMethodArguments(SExpr& e) {
        const SStMethod& m = *e.method;
        std::vector<const SStParam*> given;
        size_t positional = 0;
        for (SArg& arg : e.args) {
            const SStParam* param = nullptr;
            if (arg.name.empty()) {
                size_t seen = 0;
                for (const SStParam& p : m.params) {
                    if (p.role != EStRole::Input && p.role != EStRole::InOut) continue;
                    if (seen++ == positional) param = &p;
                }
                ++positional;
                if (param == nullptr) Fail(arg.pos, "too many arguments for " + methodName(m));
            } else {
                for (const SStParam& p : m.params) {
                    if (CSimNameEqual()(p.name, arg.name) && p.role != EStRole::Result) param = &p;
                }
                if (param == nullptr) Fail(arg.pos, methodName(m) + " has no parameter '" + arg.name + "'");
                if (arg.output != (param->role == EStRole::Output)) {
                    Fail(arg.pos,
                         std::string("'") + param->name + "' is " +
                             (param->role == EStRole::Output ? "an output: use '=>'" : "an input: use ':='"));
                }
            }
            if (std::find(given.begin(), given.end(), param) != given.end()) {
                Fail(arg.pos, std::string("'") + param->name + "' is given twice");
            }
            given.push_back(param);
            arg.param = param;
            if (arg.output) {
                bindPlace(*arg.value, "an output's target");
            } else {
                bindValue(*arg.value);
            }
        }
        for (const SStParam& p : m.params) {
            if (p.role == EStRole::InOut && std::find(given.begin(), given.end(), &p) == given.end()) {
                Fail(e.pos, methodName(m) + " needs '" + p.name + "'");
            }
        }
    }

    static std::string methodName(const SStMethod& m) {
        return std::string(m.block) + (m.method[0] != '\0' ? std::string(".") + m.method : "");
    }

    void bindFunction(SExpr& e, const std::string& name, bool asValue) {
        std::string upper = ToUpper(name);
        size_t minArgs = 1, maxArgs = 1;
        for (int i = 0; i < kConvertFunction; ++i) {
            if (upper == kFunctions[i].name) {
                e.function = i;
                minArgs = kFunctions[i].minArgs;
                maxArgs = kFunctions[i].maxArgs;
            }
        }
        size_t split = upper.find("_TO_");
        if (e.function < 0 && split != std::string::npos && TypeByName(upper.substr(0, split)) >= 0 &&
            TypeByName(upper.substr(split + 4)) >= 0) {
            e.function = kConvertFunction;
            e.conversionTarget = TypeByName(upper.substr(split + 4));
        }
        if (e.function < 0) Fail(e.pos, "unknown variable or function '" + name + "'");
        (void)asValue;  // every function gives a value; as a statement it is dropped
        e.bound = EBound::Function;
        if (e.args.size() < minArgs || e.args.size() > maxArgs) {
            Fail(e.pos, upper + " takes " + std::to_string(minArgs) +
                            (maxArgs == minArgs ? ""
                             : maxArgs > 3      ? " or more"
                                                : " to " + std::to_string(maxArgs)) +
                            (minArgs == 1 && maxArgs == 1 ? " argument" : " arguments"));
        }
        for (SArg& arg : e.args) {
            if (!arg.name.empty()) Fail(arg.pos, upper + " takes its arguments by position");
            if (e.function < kConvertFunction && (kFunctions[e.function].id == EFunction::Adr ||
                                                  kFunctions[e.function].id == EFunction::Sizeof)) {
                bindPlace(*arg.value, (upper + "'s argument").c_str());
            } else {
                bindValue(*arg.value);
            }
        }
    }

    // --- evaluation ------------------------------------------------------------------

    uint8_t* placeAddress(SExpr& e) {
        switch (e.bound) {
            case EBound::Variable:
                return e.address;
            case EBound::Member:
                return placeAddress(*e.operands[0]) + e.offset;
            case EBound::Element: {
                SExpr& object = *e.operands[0];
                uint8_t* base = placeAddress(object);
                uint64_t linear = 0;
                for (size_t d = 0; d < object.type->dims.size(); ++d) {
                    const ArrayDimension& dim = object.type->dims[d];
                    SValue index = eval(*e.operands[d + 1]);
                    if (index.kind != SValue::Kind::Int) {
                        Fail(e.operands[d + 1]->pos, "an index must be an integer, not " + index.describe());
                    }
                    if (index.n < dim.MinRange || index.n > dim.MaxRange) {
                        Fail(e.operands[d + 1]->pos,
                             "index " + Decimal(index.n) + " is outside " + object.type->name);
                    }
                    linear = linear * static_cast<uint64_t>(int64_t(dim.MaxRange) - dim.MinRange + 1) +
                             static_cast<uint64_t>(static_cast<int64_t>(index.n) - dim.MinRange);
                }
                return base + linear * object.type->stride;
            }
            default:
                Fail(e.pos, "not a variable");
        }
    }

    SValue readPlace(SExpr& e) {
        uint8_t* at = placeAddress(e);
        const CSimType* type = e.type;
        switch (type->kind) {
            case CSimType::Kind::Elementary:
            case CSimType::Kind::Enum:
                return ReadScalar(at, ScalarClass(type), type->size, e.pos);
            case CSimType::Kind::String:
                return ReadScalar(at, TYPE3_STRING, type->size, e.pos);
            case CSimType::Kind::Pointer:
            case CSimType::Kind::Reference:
                return ReadScalar(at, TYPE3_POINTER, type->size, e.pos);
            case CSimType::Kind::WString:
                Fail(e.pos, "WSTRING values are not supported in statements");
            default:
                Fail(e.pos, "'" + type->name + "' is not a single value here");
        }
    }

    void writePlace(SExpr& target, const SValue& v, SPos pos) {
        uint8_t* at = placeAddress(target);
        const CSimType* type = target.type;
        std::string what = "'" + describePlace(target) + "'";
        switch (type->kind) {
            case CSimType::Kind::Elementary:
            case CSimType::Kind::Enum:
                WriteScalar(at, ScalarClass(type), v, pos, what);
                return;
            case CSimType::Kind::String: {
                if (v.kind != SValue::Kind::String) Fail(pos, what + " takes a STRING, not " + v.describe());
                size_t length = std::min<size_t>(v.s.size(), type->length);
                std::memcpy(at, v.s.data(), length);
                at[length] = '\0';
                return;
            }
            case CSimType::Kind::Pointer:
            case CSimType::Kind::Reference:
                WriteScalar(at, TYPE3_POINTER, v, pos, what);
                return;
            default:
                Fail(pos, what + " (" + type->name + ") takes only a variable of its own type");
        }
    }

    static std::string describePlace(const SExpr& e) {
        switch (e.kind) {
            case SExpr::Kind::Name:
                return e.text;
            case SExpr::Kind::Member:
                return describePlace(*e.operands[0]) + "." + e.text;
            case SExpr::Kind::Index:
                return describePlace(*e.operands[0]) + "[...]";
            default:
                return "?";
        }
    }

    SValue eval(SExpr& e) {
        switch (e.kind) {
            case SExpr::Kind::Integer: {
                SValue v = SValue::Int(e.integer, TYPE3_NONE);
                v.literal = true;
                return v;
            }
            case SExpr::Kind::Real: {
                double d = 0;
                std::from_chars(e.text.data(), e.text.data() + e.text.size(), d);
                SValue v = SValue::Real(d, TYPE3_LREAL);
                v.literal = true;
                return v;
            }
            case SExpr::Kind::String:
                return SValue::String(e.text);
            case SExpr::Kind::Bool:
                return SValue::Bool(e.integer != 0);
            case SExpr::Kind::Typed: {
                SIntInfo info;
                TypeClass3 tc = static_cast<TypeClass3>(e.conversionTarget);
                IntInfo(tc, info);
                return SValue::Int(Wrap(e.integer, info), tc);
            }
            case SExpr::Kind::Name:
            case SExpr::Kind::Index:
                return readPlace(e);
            case SExpr::Kind::Member:
                if (e.bound == EBound::Output) {
                    uint8_t* instance = placeAddress(*e.operands[0]);
                    auto found = outputs_.find({instance, ToUpper(e.param->name)});
                    if (found != outputs_.end()) return found->second;
                    std::vector<uint8_t> zero(e.param->size, 0);
                    return ReadScalar(zero.data(), e.param->type, e.param->size, e.pos);
                }
                return readPlace(e);
            case SExpr::Kind::Call:
                return e.bound == EBound::Method ? callMethod(e) : callFunction(e);
            case SExpr::Kind::Unary:
                return unary(e);
            case SExpr::Kind::Binary:
                return binary(e);
            case SExpr::Kind::WString:
                break;
        }
        Fail(e.pos, "not supported");
    }

    SValue unary(SExpr& e) {
        SValue v = eval(*e.operands[0]);
        if (e.op == EOp::Neg) {
            if (v.kind == SValue::Kind::Real) {
                v.r = -v.r;
                return v;
            }
            if (v.kind != SValue::Kind::Int) Fail(e.pos, "'-' does not apply to " + v.describe());
            v.n = -v.n;
            SIntInfo info;
            if (!v.literal && IntInfo(v.type, info)) v.n = Wrap(v.n, info);
            return v;
        }
        if (v.kind == SValue::Kind::Bool) return SValue::Bool(!v.b);
        SIntInfo info;
        if (v.kind == SValue::Kind::Int && !v.literal && IntInfo(v.type, info)) {
            v.n = Wrap(~v.n, info);
            return v;
        }
        Fail(e.pos, "NOT does not apply to " + v.describe());
    }

    SValue binary(SExpr& e) {
        SValue a = eval(*e.operands[0]);
        // AND and OR of BOOLs stop at the first operand that decides.
        if (a.kind == SValue::Kind::Bool && (e.op == EOp::And || e.op == EOp::Or) &&
            a.b == (e.op == EOp::Or)) {
            return a;
        }
        SValue b = eval(*e.operands[1]);
        return ApplyBinary(e.op, a, b, e.pos);
    }

    std::string argString(SArg& arg, const char* function) {
        SValue v = eval(*arg.value);
        if (v.kind != SValue::Kind::String) {
            Fail(arg.pos, std::string(function) + " takes a STRING here, not " + v.describe());
        }
        return v.s;
    }

    int64_t argInteger(SArg& arg, const char* function) {
        SValue v = eval(*arg.value);
        if (v.kind != SValue::Kind::Int) {
            Fail(arg.pos, std::string(function) + " takes an integer here, not " + v.describe());
        }
        return static_cast<int64_t>(v.n);
    }

    SValue callFunction(SExpr& e) {
        if (e.function == kConvertFunction) {
            return Convert(eval(*e.args[0].value), static_cast<TypeClass3>(e.conversionTarget),
                           e.args[0].pos);
        }
        const SFunction& f = kFunctions[e.function];
        std::vector<SArg>& args = e.args;
        switch (f.id) {
            case EFunction::Adr:
                return SValue::Pointer(placeAddress(*args[0].value));
            case EFunction::Sizeof:
                return SValue::Int(args[0].value->type->size, TYPE3_UDINT);
            case EFunction::Len:
                return SValue::Int(argString(args[0], f.name).size(), TYPE3_DINT);
            case EFunction::Concat: {
                std::string out;
                for (SArg& arg : args) out += argString(arg, f.name);
                return SValue::String(out);
            }
            case EFunction::Left:
            case EFunction::Right: {
                std::string s = argString(args[0], f.name);
                size_t n = static_cast<size_t>(
                    std::clamp<int64_t>(argInteger(args[1], f.name), 0, static_cast<int64_t>(s.size())));
                return SValue::String(f.id == EFunction::Left ? s.substr(0, n) : s.substr(s.size() - n));
            }
            case EFunction::Mid: {
                std::string s = argString(args[0], f.name);
                int64_t n = argInteger(args[1], f.name);
                int64_t at = argInteger(args[2], f.name);
                if (at < 1 || n < 0) return SValue::String("");
                size_t from = static_cast<size_t>(at - 1);
                return SValue::String(from >= s.size() ? "" : s.substr(from, static_cast<size_t>(n)));
            }
            case EFunction::Find: {
                std::string s = argString(args[0], f.name);
                size_t found = s.find(argString(args[1], f.name));
                return SValue::Int(found == std::string::npos ? 0 : static_cast<int64_t>(found) + 1,
                                   TYPE3_INT);
            }
            case EFunction::Min:
            case EFunction::Max: {
                SValue best = eval(*args[0].value);
                for (size_t i = 1; i < args.size(); ++i) {
                    SValue next = eval(*args[i].value);
                    EOp better = f.id == EFunction::Min ? EOp::Lt : EOp::Gt;
                    if (ApplyBinary(better, next, best, args[i].pos).b) best = next;
                }
                return best;
            }
            case EFunction::Abs: {
                SValue v = eval(*args[0].value);
                if (v.kind == SValue::Kind::Real) {
                    v.r = std::fabs(v.r);
                } else if (v.kind == SValue::Kind::Int) {
                    SIntInfo info;
                    v.n = v.n < 0 ? -v.n : v.n;
                    if (!v.literal && IntInfo(v.type, info)) v.n = Wrap(v.n, info);
                } else {
                    Fail(args[0].pos, "ABS takes a number, not " + v.describe());
                }
                return v;
            }
            case EFunction::Limit: {
                SValue low = eval(*args[0].value), in = eval(*args[1].value), high = eval(*args[2].value);
                if (ApplyBinary(EOp::Lt, in, low, args[1].pos).b) return low;
                if (ApplyBinary(EOp::Gt, in, high, args[1].pos).b) return high;
                return in;
            }
            case EFunction::Trunc: {
                SValue v = eval(*args[0].value);
                if (v.kind != SValue::Kind::Real) Fail(args[0].pos, "TRUNC takes a REAL or LREAL");
                return Convert(SValue::Real(std::trunc(v.r), v.type), TYPE3_DINT, args[0].pos);
            }
            case EFunction::Convert:
                break;
        }
        Fail(e.pos, "not supported");
    }

    SValue callMethod(SExpr& e) {
        const SStMethod& m = *e.method;
        SExpr& callee = *e.operands[0];
        uint8_t* instance = placeAddress(callee.kind == SExpr::Kind::Member ? *callee.operands[0] : callee);
        std::vector<uint64_t> storage(m.recordSize / sizeof(uint64_t) + 1, 0);
        uint8_t* record = reinterpret_cast<uint8_t*>(storage.data());
        std::memcpy(record, &instance, sizeof(instance));
        std::list<std::string> copies;  // strings passed by address live until the call returns
        for (SArg& arg : e.args) {
            const SStParam& p = *arg.param;
            std::string what = std::string("'") + p.name + "'";
            if (p.role == EStRole::InOut) {
                uint8_t* address = nullptr;
                if (isPlace(*arg.value) && arg.value->type->kind == CSimType::Kind::String) {
                    address = placeAddress(*arg.value);
                } else {
                    SValue v = eval(*arg.value);
                    if (v.kind != SValue::Kind::String)
                        Fail(arg.pos, what + " takes a STRING, not " + v.describe());
                    copies.push_back(v.s);
                    address = reinterpret_cast<uint8_t*>(&copies.back()[0]);
                }
                std::memcpy(record + p.offset, &address, sizeof(address));
            } else if (p.role == EStRole::Input) {
                WriteScalar(record + p.offset, p.type, eval(*arg.value), arg.pos, what);
            }
        }
        checkExtents(m, record, e.pos);
        calls_.call(m.function, record);
        SValue result;
        for (const SStParam& p : m.params) {
            if (p.role == EStRole::Output) {
                outputs_[{instance, ToUpper(p.name)}] = ReadScalar(record + p.offset, p.type, p.size, e.pos);
            } else if (p.role == EStRole::Result) {
                result = ReadScalar(record + p.offset, p.type, p.size, e.pos);
            }
        }
        for (SArg& arg : e.args) {
            if (arg.output) writePlace(*arg.value, outputs_[{instance, ToUpper(arg.param->name)}], arg.pos);
        }
        return result;
    }

    // Buffers the call reads or writes lie within the application's memory.
    static void checkExtents(const SStMethod& m, const uint8_t* record, SPos pos) {
        CSimApplication& application = CSimApplication::instance();
        const uint8_t* begin = application.memory();
        const uint8_t* end = begin + application.memorySize();
        for (const SStParam& buffer : m.params) {
            if (buffer.extent == nullptr) continue;
            for (const SStParam& size : m.params) {
                if (std::strcmp(size.name, buffer.extent) != 0) continue;
                const uint8_t* at = ReadScalar(record + buffer.offset, TYPE3_POINTER, buffer.size, pos).p;
                SValue count = ReadScalar(record + size.offset, size.type, size.size, pos);
                if (count.n <= 0) continue;
                if (at == nullptr || at < begin || at > end || count.n > end - at) {
                    Fail(pos, std::string("the ") + Decimal(count.n) + " bytes of " + buffer.name + " (" +
                                  size.name + ") reach beyond the application's memory");
                }
            }
        }
    }

    // --- statements ------------------------------------------------------------------

    void count(SPos pos) {
        if (++statements_ > kMaxStatementsPerCycle) {
            Fail(pos, "the cycle ran more than " + std::to_string(kMaxStatementsPerCycle) +
                          " statements and was stopped (an endless loop?)");
        }
    }

    bool condition(SExpr& e) {
        SValue v = eval(e);
        if (v.kind != SValue::Kind::Bool) Fail(e.pos, "a condition must be a BOOL, not " + v.describe());
        return v.b;
    }

    EFlow execBlock(std::vector<SStmt>& list) {
        for (SStmt& stmt : list) {
            EFlow flow = exec(stmt);
            if (flow != EFlow::Normal) return flow;
        }
        return EFlow::Normal;
    }

    EFlow exec(SStmt& stmt) {
        count(stmt.pos);
        switch (stmt.kind) {
            case SStmt::Kind::Assign:
                assign(stmt);
                return EFlow::Normal;
            case SStmt::Kind::Call:
                eval(*stmt.value);
                return EFlow::Normal;
            case SStmt::Kind::If:
                for (auto& [test, body] : stmt.branches) {
                    if (condition(*test)) return execBlock(body);
                }
                return execBlock(stmt.elseBody);
            case SStmt::Kind::For:
                return loopFor(stmt);
            case SStmt::Kind::While:
                while (condition(*stmt.value)) {
                    EFlow flow = execBlock(stmt.body);
                    if (flow == EFlow::Return) return flow;
                    if (flow == EFlow::Exit) break;
                    count(stmt.pos);
                }
                return EFlow::Normal;
            case SStmt::Kind::Repeat:
                for (;;) {
                    EFlow flow = execBlock(stmt.body);
                    if (flow == EFlow::Return) return flow;
                    if (flow == EFlow::Exit || condition(*stmt.value)) break;
                    count(stmt.pos);
                }
                return EFlow::Normal;
            case SStmt::Kind::Case:
                return caseOf(stmt);
            case SStmt::Kind::Exit:
                return EFlow::Exit;
            case SStmt::Kind::Return:
                return EFlow::Return;
            case SStmt::Kind::Empty:
                return EFlow::Normal;
        }
        return EFlow::Normal;
    }

    void assign(SStmt& stmt) {
        SExpr& target = *stmt.target;
        SExpr& value = *stmt.value;
        CSimType::Kind kind = target.type->kind;
        if (kind == CSimType::Kind::Struct || kind == CSimType::Kind::Array ||
            kind == CSimType::Kind::WString) {
            if (!isPlace(value) || value.type != target.type) {
                Fail(stmt.value->pos, "'" + describePlace(target) + "' (" + target.type->name +
                                          ") takes only a variable of its own type");
            }
            std::memmove(placeAddress(target), placeAddress(value), target.type->size);
            return;
        }
        writePlace(target, eval(value), stmt.value->pos);
    }

    EFlow loopFor(SStmt& stmt) {
        SExpr& control = *stmt.target;
        writePlace(control, eval(*stmt.value), stmt.value->pos);
        SValue end = eval(*stmt.to);
        SValue step = SValue::Int(1, TYPE3_NONE);
        step.literal = true;
        if (stmt.by) step = eval(*stmt.by);
        if (end.kind != SValue::Kind::Int || step.kind != SValue::Kind::Int) {
            Fail(stmt.pos, "FOR takes integer bounds and steps");
        }
        if (step.n == 0) Fail(stmt.by->pos, "a FOR loop's step must not be 0");
        for (;;) {
            SValue current = readPlace(control);
            if (step.n > 0 ? current.n > end.n : current.n < end.n) break;
            EFlow flow = execBlock(stmt.body);
            if (flow == EFlow::Return) return flow;
            if (flow == EFlow::Exit) break;
            current = readPlace(control);
            SIntInfo info;
            IntInfo(current.type, info);
            __int128 next = current.n + step.n;
            if (Wrap(next, info) != next) break;  // the variable cannot go past the end
            writePlace(control, SValue::Int(next, current.type), stmt.pos);
            count(stmt.pos);
        }
        return EFlow::Normal;
    }

    EFlow caseOf(SStmt& stmt) {
        SValue selector = eval(*stmt.value);
        if (selector.kind != SValue::Kind::Int) {
            Fail(stmt.value->pos, "CASE takes an integer, not " + selector.describe());
        }
        for (st::SCaseArm& arm : stmt.arms) {
            for (auto& [lo, hi] : arm.labels) {
                SValue low = eval(*lo);
                SValue high = hi ? eval(*hi) : low;
                if (low.kind != SValue::Kind::Int || high.kind != SValue::Kind::Int) {
                    Fail(lo->pos, "a CASE label must be an integer");
                }
                if (selector.n >= low.n && selector.n <= high.n) return execBlock(arm.body);
            }
        }
        return execBlock(stmt.elseBody);
    }

    st::SProgram& program_;
    std::string branch_;
    const std::vector<SStMethod>& methods_;
    const std::vector<SStConstant>& constants_;
    IStExternalCalls& calls_;
    std::map<std::string, std::vector<std::string>> globals_;  // upper-case own name -> full names
    std::map<std::pair<uint8_t*, std::string>, SValue>
        outputs_;  // (instance, upper-case output) -> last value
    uint64_t statements_ = 0;
};

CStInterpreter::CStInterpreter(st::SProgram& program, std::string programBranch,
                               const std::vector<SStMethod>& methods,
                               const std::vector<SStConstant>& constants, IStExternalCalls& calls)
    : impl_(new CImpl(program, std::move(programBranch), methods, constants, calls)) {}

CStInterpreter::~CStInterpreter() = default;

void CStInterpreter::bind() { impl_->bind(); }

void CStInterpreter::runCycle() { impl_->runCycle(); }
