// The syntax tree of the declaration language as the parser (SimDeclParser.cpp) builds
// it and the compiler (SimDeclCompiler.cpp) turns it into the model: types and initial
// values as written, before names are resolved, types laid out and values checked.
#ifndef SIM_SIMDECLSYNTAX_H
#define SIM_SIMDECLSYNTAX_H

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "SimDeclLexer.h"

namespace sim_decl {

// Nesting limits, so that no declaration text can exhaust the stack.
constexpr int kMaxInitDepth = 32;
constexpr int kMaxNesting = 64;
constexpr uint64_t kMaxStringLength = 1 << 20;

// An initial value as written, before it is checked against a type.
struct CLiteral {
    enum class Kind { Integer, Real, String, WString, Typed, Name, List, Struct };
    Kind kind = Kind::Integer;
    SPos pos;
    bool negative = false;
    uint64_t integer = 0;
    std::string text;    // Real: digits; String: bytes; Typed: body; Name: the name
    std::string prefix;  // Typed: prefix; Name: qualifier
    std::u16string wide;
    uint64_t repeat = 1;  // as an item of a List
    std::string member;   // as an item of a Struct
    SPos memberPos;
    std::vector<CLiteral> items;
};

// A type as written in a declaration, before it is resolved and laid out.
struct CTypeSpec {
    enum class Kind { Named, String, WString, Array, Pointer, Reference, Struct, Enum, Subrange };
    struct Dim {
        int64_t lo;
        int64_t hi;
        SPos pos;
    };
    struct Field {
        std::string name;
        SPos pos;
        std::shared_ptr<CTypeSpec> typeSpec;
        std::shared_ptr<CLiteral> init;
    };
    struct EnumItem {
        std::string name;
        SPos pos;
        bool hasValue = false;
        int64_t value = 0;
    };
    Kind kind = Kind::Named;
    SPos pos;
    std::string name;      // Named; Subrange: the base type
    uint64_t length = 80;  // String, WString
    SPos lengthPos;
    std::vector<Dim> dims;           // Array; Subrange: one, the bounds
    std::shared_ptr<CTypeSpec> sub;  // Array element; Pointer and Reference target
    std::vector<Field> fields;
    std::vector<EnumItem> items;
    const CSimType* resolved = nullptr;  // shared by every name of one declaration
};

struct CTypeDecl {
    std::string name;
    SPos pos;
    std::shared_ptr<CTypeSpec> typeSpec;
    std::shared_ptr<CLiteral> init;
    CSimType* shell = nullptr;
    int state = 0;  // 0 not laid out, 1 being laid out, 2 done
};

struct CVarDecl {
    std::string name;
    SPos pos;
    std::shared_ptr<CTypeSpec> typeSpec;
    std::shared_ptr<CLiteral> init;
    uint32_t branch = 0;
};

// A function block: its instance type and the record type of its body and of each
// method, as indices into SParsedDeclarations::types.
struct CBlockDecl {
    std::string name;
    size_t instance = 0;
    size_t body = 0;
    std::vector<std::pair<std::string, size_t>> methods;
};

// What the parser collects from one text.
struct SParsedDeclarations {
    std::vector<CTypeDecl> types;
    std::vector<CVarDecl> vars;
    std::vector<CBlockDecl> blocks;
};

// Parses declaration text: returns the type and variable declarations and adds the
// browse branches to `model`. Throws CSimDeclError at the first error.
SParsedDeclarations ParseDeclarations(const std::string& text, CSimModel& model);

// The bytes of a typed literal (T#, LTIME#, D#, DT#, TOD# and their long forms LD#, LDT#,
// LTOD#) as a value of the temporal type class tc (TIME, LTIME, DATE, DATE_AND_TIME,
// TIME_OF_DAY, LDATE, LDATE_AND_TIME, LTIME_OF_DAY); typeName names the type in messages.
// Throws CSimDeclError at the literal's position.
std::string EncodeTemporal(const CLiteral& lit, TypeClass3 tc, const std::string& typeName);

// Whether an upper-case name is an elementary type (BOOL, INT, DT, ...).
bool IsElementaryTypeName(const std::string& upper);

}  // namespace sim_decl

#endif  // SIM_SIMDECLSYNTAX_H
