// The component's one JSON parser: strict (RFC 8259: no comments, no trailing commas,
// no NaN or Infinity, exactly one root value), iterative (the parser's stack lives on
// the heap, so a deeply nested text never deepens the calling task's stack) and exact
// (every number is converted from its text as the C library's strtod does, so every
// double the component writes out reads back as the same double).
//
// Kinds are RapidJSON's: a number without fraction or exponent is an integer of the
// narrowest kind that holds it (a double beyond 64 bits), any other a double, infinite
// when its text lies beyond the range of doubles. Strings are not checked for UTF-8.
// A UTF-8 byte order mark at the start is skipped (RFC 8259 lets a parser ignore it;
// files saved by common Windows editors carry one); offsets still count its bytes.
//
// Stateless and reentrant; runs on the calling thread.
#ifndef JSON_JSONPARSE_H
#define JSON_JSONPARSE_H

#include <rapidjson/document.h>

#include <cstddef>

#include "json/ExactNumbers.h"

// Where and why a text was refused.
struct CJsonParseError {
    size_t offset = 0;        // byte offset of the fault in the text
    const char* reason = "";  // RapidJSON's English text for the fault
};

// Parses the `length` bytes at `text` into `document`. `text` must be followed by a
// zero byte (text[length] == 0); a zero byte inside the text ends it there.
// inSitu: the parse works in `text` itself and the document's strings point into it,
// so `text` must outlive the document; otherwise strings are copied into the
// document's allocator and `text` is left alone. On failure `document` holds no value
// that may be used and `error`, when given, says where and why. `exact`, when given,
// receives the exact values of the numbers whose doubles cannot tell them.
bool ParseJson(char* text, size_t length, rapidjson::Document& document, bool inSitu,
               CJsonParseError* error = nullptr, CExactNumbers* exact = nullptr);

#endif  // JSON_JSONPARSE_H
