// JSON to variable: writes a parsed JSON value into a variable of the application, member
// by member and element by element, each leaf through its row of the type-class table.
// What does not match leaves the part of the variable it was meant for unwritten.
//
// Stateless; runs on the calling task. REQUIRES: the caller holds the symbol index
// shared and the variable's lock exclusively for the whole call.
#ifndef CONVERT_JSONTOVARIABLE_H
#define CONVERT_JSONTOVARIABLE_H

#include <rapidjson/document.h>

#include "convert/SymbolWriteReport.h"
#include "json/ExactNumbers.h"
#include "json/JsonMemory.h"
#include "symbols/VariableView.h"

// Writes into var: with root, the member of root named after the variable (a root that
// is not an object holds none); without, value itself. exact, when given, holds the
// exact values of the text's numbers whose doubles cannot tell them. With report, also
// counts what was written, skipped, missing and unknown and keeps the first problem
// (report is filled from its current state: the caller starts it empty).
void WriteVariable(const CJsonValue* root, const CJsonValue* value, CVariableView var,
                   CSymbolWriteReport* report, const CExactNumbers* exact = nullptr);

#endif  // CONVERT_JSONTOVARIABLE_H
