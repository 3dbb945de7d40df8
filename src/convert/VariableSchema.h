// The JSON Schema of a variable of the application: the contract of the text variable
// to JSON writes of it in a given form. The text VariableToJson makes of the variable in
// that form, whatever the variable holds, validates against it; a text with a member
// missing or unknown, an array of another length, a leaf of another JSON kind or beyond
// its class does not.
//
// A structure is an object schema with every member in properties and required and
// additionalProperties false; an array one array schema with minItems and maxItems its
// element count and one items schema (arrays of arrays inside it; NESTED_ARRAYS nests 2
// or 3 dimensions as the text does); a leaf its row's schema (TypeClassTable.h) with its
// class named in description. Only keywords whose meaning is the same in JSON Schema
// draft 4 and draft 2020-12.
//
// Stateless; runs on the calling task. The walk recurses along the variable tree, whose
// depth is the nesting of the application's types, and visits one element per array.
// REQUIRES: the caller holds the symbol index shared and the variable's lock.
#ifndef CONVERT_VARIABLESCHEMA_H
#define CONVERT_VARIABLESCHEMA_H

#include "convert/TypeClassTable.h"
#include "json/JsonMemory.h"
#include "symbols/VariableView.h"

// Names and patterns are copied into allocator, the receiving document's.
CJsonValue VariableSchema(CVariableView var, CJsonAllocator& allocator, ValueForm form = kFormVariable);

#endif  // CONVERT_VARIABLESCHEMA_H
