// Variable changes: what of a variable changed since a copy of it that the caller keeps
// as last sent, as the JSON merge patch (RFC 7396) that turns the value sent then into
// today's, and the copy brought up to what the patch sends.
//
// A leaf is compared with the copy's bytes at its own offset:
// - REAL and LREAL: equal bytes have not changed; different bytes have when the deadband
//   is 0, when either value is not finite, or when the values differ by more than it;
// - STRING: the bytes up to and including the first zero byte (all when there is none);
//   WSTRING: the code units up to and including the first zero unit;
// - every other class: its bytes, whatever the deadband;
// - a leaf that variable to JSON writes as null in every form never changes, nor does one
//   it cannot read (no memory, smaller than its class) or one outside the variable's bytes.
// A structure gives an object of its changed members (a member structure with changes
// nests, one without is left out); an array with a changed leaf anywhere inside is sent
// whole, as RFC 7396 replaces arrays; a leaf is sent as it is. Every value is what
// VariableToJson writes for it in the given form; a key frame is VariableToJson's whole
// text.
//
// Stateless apart from a list of the sent parts that each thread keeps from one call to the
// next (so a steady cycle takes nothing from the heap); runs on the calling task. The walk
// recurses along the variable tree, as VariableToJson does. REQUIRES: the caller holds the
// symbol index shared and the variable's lock (shared at least).
#ifndef CONVERT_VARIABLECHANGES_H
#define CONVERT_VARIABLECHANGES_H

#include <cstddef>
#include <cstdint>

#include "convert/TypeClassTable.h"
#include "json/JsonMemory.h"
#include "symbols/VariableView.h"

// The caller's copy of a variable as last sent, and what a call is to do with it.
struct CLastSent {
    unsigned char* copy = nullptr;  // the caller's copy: a variable of the same type
    uint32_t size = 0;              // its bytes; must be the variable's size
    double deadband = 0;            // of REAL and LREAL leaves, 0 or more
    bool keyFrame = false;          // send the whole value
};

// The patch of var against last.copy into `out` (strings and names copied into allocator),
// in the given form. Returns null, or the refusal text for arguments that do not fit the
// variable (no copy, another size, a negative or NaN deadband). made: whether there is a
// value to send (something changed, or a key frame); changed: the leaves that changed.
// When made, the copy holds the bytes of what `out` sends (for an array the whole array,
// for a key frame the whole variable) and keeps its bytes elsewhere; else it is untouched.
// Memory refused (std::bad_alloc) leaves the copy untouched.
const char* VariableChanges(CVariableView var, const CLastSent& last, CJsonAllocator& allocator,
                            ValueForm form, CJsonValue& out, bool& made, uint32_t& changed);

#endif  // CONVERT_VARIABLECHANGES_H
