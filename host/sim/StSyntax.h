// The syntax tree of a Structured Text program as StParser builds it and
// StInterpreter binds and runs it. Binding fills the fields marked "bound": what a
// name, a member, an index or a call stands for in the running application.
#ifndef SIM_STSYNTAX_H
#define SIM_STSYNTAX_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SimDeclLexer.h"

struct SStMethod;
struct SStParam;

namespace st {

using sim_decl::SPos;

// Nesting of statements and expressions the parser takes: the interpreter walks the
// tree recursively, so a limit on the text's nesting is a limit on its stack.
constexpr int kMaxNesting = 100;
// Height of an expression's tree: a chain of operators (1 + 1 + ... + 1) nests too.
constexpr int kMaxExpressionHeight = 500;

enum class EOp {
    Or,
    Xor,
    And,
    Eq,
    Ne,
    Lt,
    Le,
    Gt,
    Ge,
    Add,
    Sub,
    Mul,
    Div,
    Mod,
    Neg,
    Not,
};

struct SExpr;
using PExpr = std::unique_ptr<SExpr>;

// An argument of a call: positional (name empty), `name := value` or `name => place`.
struct SArg {
    std::string name;
    SPos pos;
    bool output = false;
    PExpr value;
    const SStParam* param = nullptr;  // bound: the parameter of a block method
};

// What a bound name, member or call stands for.
enum class EBound {
    None,
    Variable,  // a place in the application's memory (Name: address; Member, Index: below)
    Member,    // a structure member: the object's place plus offset
    Element,   // an array element: the object's place plus the index times the stride
    Output,    // an output a block method gave for this instance (`fbReader.nLength`)
    Method,    // a call of a block method or of the block's body
    Function,  // a call of a standard function
};

struct SExpr {
    enum class Kind { Integer, Real, String, WString, Bool, Typed, Name, Member, Index, Call, Unary, Binary };
    Kind kind = Kind::Integer;
    SPos pos;
    uint64_t integer = 0;         // Integer; Bool: 0 or 1
    std::string text;             // Real: digits; String: bytes; Typed: body; Name, Member: the name
    std::string prefix;           // Typed: the upper-case prefix (T, DT, ...)
    EOp op = EOp::Add;            // Unary, Binary
    std::vector<PExpr> operands;  // Unary: 1; Binary: 2; Member: the object; Index: object, indices;
                                  // Call: the callee
    std::vector<SArg> args;       // Call
    int height = 1;               // of the tree below and including this node

    // bound
    EBound bound = EBound::None;
    uint8_t* address = nullptr;         // Variable
    const CSimType* type = nullptr;     // Variable, Member, Element: the place's type
    uint64_t offset = 0;                // Member
    const SStMethod* method = nullptr;  // Method
    const SStParam* param = nullptr;    // Output
    int function = -1;                  // Function: index into the interpreter's table
    int conversionTarget = -1;          // Function: a *_TO_* conversion's result type
};

struct SStmt;

struct SCaseArm {
    std::vector<std::pair<PExpr, PExpr>> labels;  // a value, or a range lo..hi (second set)
    std::vector<SStmt> body;
};

struct SStmt {
    enum class Kind { Assign, Call, If, For, While, Repeat, Case, Exit, Return, Empty };
    Kind kind = Kind::Empty;
    SPos pos;
    PExpr target;  // Assign: the place; For: the control variable
    PExpr value;   // Assign: the value; Call: the call; For: start; While, Repeat: condition; Case: selector
    PExpr to, by;  // For
    std::vector<std::pair<PExpr, std::vector<SStmt>>> branches;  // If: conditions with their bodies
    std::vector<SStmt> body;                                     // For, While, Repeat
    std::vector<SStmt> elseBody;                                 // If, Case
    std::vector<SCaseArm> arms;                                  // Case
};

// A parsed program file: `{TYPE ... END_TYPE} PROGRAM name {VAR ... END_VAR} statements
// END_PROGRAM`.
struct SProgram {
    std::string name;
    SPos namePos;
    // The file's declarations as the declaration language reads them: the file with its
    // statements blanked out (line breaks kept), so positions in it are the file's own.
    std::string declarations;
    std::vector<SStmt> body;
};

// Parses a program file; throws CSimDeclError with the line and column of the first
// error or unsupported construct.
SProgram ParseProgram(const std::string& text);

}  // namespace st

#endif  // SIM_STSYNTAX_H
