// CStInterpreter: runs a Structured Text program (StSyntax.h) on the simulated
// application, as a controller's cyclic task runs its program.
//
// The program's variables are variables of the running application (its PROGRAM
// branch), so ADR gives an address the symbol index knows and the host can print them;
// a name the program does not declare is looked up among the application's top-level
// variables by its own name, then among the component's named constants. Block instances live in that memory
// too, and every call of a block's method or body goes through the component's external function with the
// call record laid out as a method's row in the table (SStMethod) says.
//
// Owned by its caller, used from one thread. The program's tree is bound (names,
// members, methods, functions resolved) once by bind(); runCycle() runs the body once.
// Errors, at binding or at run time, throw CSimDeclError with the line and column of
// the construct in the program file.
#ifndef SIM_STINTERPRETER_H
#define SIM_STINTERPRETER_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "IecVarAccess_ItfsItf.h"
#include "StSyntax.h"

// The part a parameter plays in a method's call record.
enum class EStRole {
    Input,   // by value (numbers, BOOL, pointers)
    InOut,   // by address (VAR_IN_OUT CONSTANT ... : STRING): a STRING variable's own address,
             // or a copy of any other STRING value
    Result,  // the method's result, named as the method
    Output,  // written by the call; read with `name => place` or as `instance.name`
};

// One field of a call record after pInstance.
struct SStParam {
    const char* name;
    size_t offset;
    size_t size;
    TypeClass3 type;  // BOOL, UINT, DINT, UDINT, LINT, REAL, LREAL, DATEANDTIME, POINTER, STRING
    EStRole role;
    // A POINTER whose call reads or writes exactly as many bytes as the parameter named
    // here gives: the interpreter refuses a call whose bytes would reach beyond the
    // application's memory, which a real controller would let the component overwrite.
    const char* extent = nullptr;
};

// One method of a block (or its body, with an empty method name) and its call record.
struct SStMethod {
    const char* block;     // the block's type name, as programs declare instances
    const char* method;    // "" for the body
    const char* function;  // the external function's registered name
    size_t recordSize;
    std::vector<SStParam> params;
};

// A named constant of the component (the format bits of the writer), as programs use it.
struct SStConstant {
    const char* name;
    TypeClass3 type;  // an integer type
    uint64_t value;
};

// Calls the component's external functions by name.
class IStExternalCalls {
   public:
    virtual ~IStExternalCalls() = default;
    virtual void call(const char* function, void* record) = 0;
};

class CStInterpreter {
   public:
    // programBranch: the full name of the program's branch (App.Report). Nothing is kept
    // of methods, constants and calls but the references: they must outlive the interpreter.
    CStInterpreter(st::SProgram& program, std::string programBranch, const std::vector<SStMethod>& methods,
                   const std::vector<SStConstant>& constants, IStExternalCalls& calls);
    ~CStInterpreter();

    // Resolves every name, member, method and function of the program against the
    // running application. Throws CSimDeclError at the first one that resolves to nothing.
    void bind();

    // Runs the body once; RETURN ends the cycle.
    void runCycle();

    // Statements one cycle may run before it is stopped as an endless loop.
    static constexpr uint64_t kMaxStatementsPerCycle = 50'000'000;

   private:
    class CImpl;
    std::unique_ptr<CImpl> impl_;
};

#endif  // SIM_STINTERPRETER_H
