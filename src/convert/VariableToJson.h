// Variable to JSON: the JSON value of a variable of the application, made from its
// memory leaf by leaf through the type-class table. A structure is an object of its
// members in declaration order, an array one flat array of its elements (every element
// of a multi-dimensional array in memory order; nested arrays, first index outermost,
// in the NESTED_ARRAYS form), a leaf its class's value in the given form.
//
// Stateless; runs on the calling task. The walk recurses along the variable tree, whose
// depth is the nesting of the application's types. REQUIRES: the caller holds the symbol
// index shared and the variable's lock (shared at least).
#ifndef CONVERT_VARIABLETOJSON_H
#define CONVERT_VARIABLETOJSON_H

#include <rapidjson/document.h>

#include "convert/TypeClassTable.h"
#include "json/JsonMemory.h"
#include "symbols/VariableView.h"

// Strings and names are copied into allocator, the receiving document's.
CJsonValue VariableToJson(CVariableView var, CJsonAllocator& allocator, ValueForm form = kFormVariable);

// Whether VariableToJson writes the array var as nested arrays in that form: the form asks
// for it, it has 2 or 3 dimensions, and its extents multiply to its element count.
bool WrittenAsNestedArrays(CVariableView var, ValueForm form);

#endif  // CONVERT_VARIABLETOJSON_H
