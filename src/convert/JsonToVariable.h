// JSON to variable: writes a parsed JSON value into a variable of the application, member
// by member and element by element, each leaf through its row of the type-class table.
// What does not match leaves the part of the variable it was meant for unwritten.
//
// Stateless; runs on the calling task. REQUIRES: the caller holds the symbol index
// shared and the variable's lock exclusively for the whole call.
#ifndef CONVERT_JSONTOVARIABLE_H
#define CONVERT_JSONTOVARIABLE_H

#include <rapidjson/document.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "convert/SymbolWriteReport.h"
#include "json/ExactNumbers.h"
#include "json/JsonMemory.h"
#include "symbols/VariableView.h"

// Memory one WriteVariable uses beyond the stack: the report's path, the members an
// object's walk matched, the sorted names of large objects and structures. Kept by the
// caller from one call to the next, so that a call like the last one takes nothing from
// the heap. Used by one call at a time, on the calling thread.
struct CJsonToVariableScratch {
    std::string path;           // where the walk is, from the variable's name
    std::string firstMissing;   // the first missing member's problem
    std::vector<char> matched;  // per open object, whether each of its members was taken
    std::vector<std::pair<std::string_view, rapidjson::SizeType>> memberNames;  // per open object
    std::vector<std::string> childNames;  // one structure's or array's, while unknown members are counted
};

// Writes into var: with root, the member of root named after the variable (a root that
// is not an object holds none); without, value itself. exact, when given, holds the
// exact values of the text's numbers whose doubles cannot tell them. With report, also
// counts what was written, skipped, missing and unknown and keeps the first problem
// (report is filled from its current state: the caller starts it empty). scratch, when
// given, is the memory the walk reuses; without, it takes its own.
void WriteVariable(const CJsonValue* root, const CJsonValue* value, CVariableView var,
                   CSymbolWriteReport* report, const CExactNumbers* exact = nullptr,
                   CJsonToVariableScratch* scratch = nullptr);

#endif  // CONVERT_JSONTOVARIABLE_H
