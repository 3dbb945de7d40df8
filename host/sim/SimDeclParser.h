// The declaration language of the simulated application, and the model it compiles to.
//
// A subset of IEC 61131-3 structured-text declarations (keywords and names are
// case-insensitive; comments are (* ... *), nestable, and // to the end of a line):
//
//   TYPE name : <type> [:= <init>]; ... END_TYPE       alias of any type
//   TYPE name : STRUCT m : <type> [:= <init>]; ... END_STRUCT [;] END_TYPE
//   TYPE name : (A [:= n], B, C) [:= <value>]; END_TYPE  enumeration, 2 bytes like INT
//   VAR_GLOBAL [CONSTANT|RETAIN|PERSISTENT] a, b : <type> [:= <init>]; ... END_VAR
//   PROGRAM name { VAR|VAR_INPUT|VAR_OUTPUT ... END_VAR } END_PROGRAM
//   FOLDER name { items } END_FOLDER                  a nested browse branch
//   VAR ... END_VAR                                   outside a program: variables placed
//                                                     directly in the enclosing branch
//   FUNCTION_BLOCK name { VAR_INPUT|VAR_OUTPUT|VAR_IN_OUT|VAR ... END_VAR }
//     { METHOD name [: <type>] { VAR_INPUT|VAR_OUTPUT|VAR_IN_OUT [CONSTANT]|VAR ... END_VAR }
//       END_METHOD } END_FUNCTION_BLOCK
//                                                     a function block: a structure type
//                                                     (the virtual function table pointer,
//                                                     then its own parameters) and the call
//                                                     record of its body and of each method
//
// A UTF-8 byte order mark at the start of the text is skipped.
//
// <type>: BOOL BYTE WORD DWORD LWORD SINT INT DINT LINT USINT UINT UDINT ULINT REAL
// LREAL TIME LTIME DATE DATE_AND_TIME (DT) TIME_OF_DAY (TOD) LDATE LDATE_AND_TIME (LDT)
// LTIME_OF_DAY (LTOD), a subrange of an integer type INT(0..100) (class SUBRANGE, laid
// out as its base type), STRING[(n)] and
// WSTRING[(n)] (n defaults to 80; `[n]` is accepted too), POINTER TO <type>,
// REFERENCE TO <type>, ARRAY[a..b {, c..d}] OF <type> (one to four dimensions,
// signed bounds, lower <= upper), or the name of a declared type (types may be
// used before their declaration; a structure may not contain itself by value).
//
// <init>: integers (-12, 1_000, 16#FF, 8#17, 2#1010), reals (1.5, -2.5E3), TRUE/FALSE,
// 'string' and "wstring" with $-escapes ($$ $' $" $L $N $P $R $T $hh, and $hhhh in a
// wstring), enumeration values (RUN, E_Mode.RUN or E_Mode#RUN), T#1h2m3s4ms / T#-5s /
// TIME#500MS / LTIME#1us, D#2024-01-31, DT#2024-01-31-12:30:00, TOD#12:30:15.250,
// LD#2024-01-31, LDT#2024-01-31-12:30:00.123456789, LTOD#12:30:15.123456789;
// arrays [1, 2, 3(0)] (flat over all elements, n(x) repeats x n times, missing
// elements keep their defaults); structures (a := 1, b := 'x').
//
// Browse tree and names: the application is `App`. Every VAR_GLOBAL block of one
// branch lands in that branch's child branch `Globals` (App.Globals.counter), a
// program is a branch of its own (App.Main.label), a folder is a branch that holds
// further items (FOLDER Line ... VAR_GLOBAL x ... gives App.Line.Globals.x). Folders
// of the same name in one branch are merged; every other name may be used once per
// branch (case-insensitively). Browse order is the order of first appearance.
//
// Layout on the 64-bit target: each elementary type aligned to its own size (BOOL 1;
// STRING(n) n+1 bytes aligned 1, WSTRING(n) 2(n+1) bytes aligned 2; pointers and
// references 8; enumerations 2; TIME, DATE, DT, TOD 4; LTIME, LDATE, LDT, LTOD 8; a
// subrange as its base type); a structure aligned
// to its largest member and padded to a multiple of that; arrays packed with the
// element's size as stride (unless the compiler is asked for padding between elements),
// last index fastest. Variables follow each other in one
// block in declaration order, each aligned to its type.
//
// Errors throw CSimDeclError with "line L, column C: what is wrong" (columns count
// bytes from 1). Nothing is guessed: an unknown type, a duplicate name, bad bounds,
// a value out of range or a missing END_... is an error.
#ifndef SIM_SIMDECLPARSER_H
#define SIM_SIMDECLPARSER_H

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "IecVarAccess_ItfsItf.h"

// A declaration error at a place in the text.
class CSimDeclError : public std::runtime_error {
   public:
    CSimDeclError(int line, int column, const std::string& what);
    int line() const { return line_; }
    int column() const { return column_; }

   private:
    int line_;
    int column_;
};

// Case-insensitive hashing and comparison of ASCII names.
struct CSimNameHash {
    size_t operator()(std::string_view name) const;
};
struct CSimNameEqual {
    bool operator()(std::string_view a, std::string_view b) const;
};
// Maps a name to an index; the keys view names owned elsewhere and must outlive the map.
using CSimNameIndex = std::unordered_map<std::string_view, uint32_t, CSimNameHash, CSimNameEqual>;

struct CSimType;

// An initial value, checked against its type and encoded when the declarations are
// compiled; written into memory when the application starts.
struct CSimInit {
    enum class Kind { Bytes, List, Struct };
    Kind kind = Kind::Bytes;
    std::string bytes;  // Bytes: the whole value, as many bytes as the type's size
    // List: (repeat count, element value), flat over the array's elements in order.
    std::vector<std::pair<uint64_t, std::shared_ptr<const CSimInit>>> items;
    // Struct: (member index, member value).
    std::vector<std::pair<uint32_t, std::shared_ptr<const CSimInit>>> members;
};

struct CSimMember {
    std::string name;
    const CSimType* type = nullptr;
    uint64_t offset = 0;
    std::shared_ptr<const CSimInit> init;  // the member's declared initial value, if any
    uint32_t handleIndex = 0;              // index into CSimModel::typeMembers
};

// One type of the application: an elementary type, a string, an enumeration, a
// structure, an array, a pointer or a reference. Immutable once compiled.
struct CSimType {
    enum class Kind { Elementary, String, WString, Enum, Struct, Array, Pointer, Reference };
    Kind kind = Kind::Elementary;
    TypeClass3 typeClass = TYPE3_NONE;
    std::string name;  // the declared name, or a spelled form such as ARRAY[1..3] OF INT
    uint64_t size = 0;
    uint32_t align = 1;
    uint32_t id = 0;  // index into CSimModel::types; the type node handle's index

    uint32_t length = 0;  // String, WString: characters without the terminator

    std::string enumName;  // Enum: the enumeration's own declared name
    std::vector<std::pair<std::string, int16_t>> enumValues;

    std::vector<CSimMember> members;  // Struct
    CSimNameIndex memberIndex;        // Struct: member name -> index into members

    std::vector<ArrayDimension> dims;  // Array: one to four
    const CSimType* element = nullptr;
    uint64_t count = 0;   // Array: number of elements
    uint64_t stride = 0;  // Array: bytes from one element to the next (the element's size unless padded)

    const CSimType* target = nullptr;  // Pointer, Reference

    // Elementary of class TYPE3_SUBRANGE: the integer type it narrows and its bounds.
    const CSimType* base = nullptr;
    int64_t lowest = 0;
    int64_t highest = 0;

    bool hasDefaults = false;                 // some byte of a fresh value is not zero
    std::shared_ptr<const CSimInit> ownInit;  // initial value given with an alias type

    void buildMemberIndex();
};

// A member of a structure type as the type description hands it out.
struct CSimTypeMember {
    const CSimType* type;  // the structure
    uint32_t member;       // index into its members
};

// A variable of the application (a top-level variable of the symbol browser).
struct CSimVariable {
    std::string name;
    const CSimType* type = nullptr;
    uint64_t offset = 0;  // in the application's memory block
    std::shared_ptr<const CSimInit> init;
    uint32_t branch = 0;  // index into CSimModel::branches
};

// A branch of the symbol browser; branches[0] is the application's root.
struct CSimBranch {
    struct Entry {
        bool isBranch;
        uint32_t index;  // into branches or variables
    };
    std::string name;
    uint32_t parent = 0;
    std::vector<Entry> children;  // in browse order
};

// A method of a function block and the record it is called with: pInstance (the
// instance's address), the inputs and in-outs (by address) in declaration order, the
// result named as the method, then the outputs; laid out as a structure.
struct CSimMethod {
    std::string name;
    const CSimType* record = nullptr;
};

struct CSimFunctionBlock {
    std::string name;
    const CSimType* instance = nullptr;  // the instance structure
    const CSimType* body = nullptr;      // the body's call record (pInstance alone)
    std::vector<CSimMethod> methods;     // in declaration order
};

// Everything the declarations describe: types, variables, browse tree and memory size.
struct CSimModel {
    std::vector<CSimFunctionBlock> functionBlocks;
    std::vector<std::unique_ptr<CSimType>> types;
    std::vector<CSimTypeMember> typeMembers;
    std::vector<CSimVariable> variables;
    std::vector<CSimBranch> branches;
    uint64_t memorySize = 0;
};

#endif  // SIM_SIMDECLPARSER_H
