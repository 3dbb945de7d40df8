// The component's JSON parser into documents (JsonEvents.h reads the same grammar as a
// stream of events): strict (RFC 8259: no comments, no trailing commas, no NaN or
// Infinity, exactly one root value, no lone surrogate in a \u escape),
// iterative (the parser's stacks live on the heap, so a deeply nested text never
// deepens the calling task's stack), exact (every number is converted from its text as
// the C library's strtod does, so every double the component writes out reads back as
// the same double) and bounded (every byte it takes is charged to the document's
// budget; a text that needs more is refused, never half parsed).
//
// Kinds are RapidJSON's: a number without fraction or exponent is an integer of the
// narrowest kind that holds it (a double beyond 64 bits), any other a double. A number
// is taken whatever its spelling as long as its value is within the range of doubles
// (`0e400` is 0.0; a 1 followed by a million zeros and `e-1000000` is 1.0); one beyond
// it is refused ("Number too big to be stored in double."), unless the options take it
// as infinite. Strings are not checked for UTF-8. A UTF-8 byte order mark at the start
// is skipped (RFC 8259 lets a parser ignore it; files saved by common Windows editors
// carry one); offsets still count its bytes.
//
// Stateless and reentrant; runs on the calling thread.
#ifndef JSON_JSONPARSE_H
#define JSON_JSONPARSE_H

#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>

#include "json/ExactNumbers.h"
#include "json/JsonEvents.h"
#include "json/JsonMemory.h"

// A number of JSON's grammar as the parser makes it: without fraction or exponent, an
// integer of the narrowest of RapidJSON's kinds that holds it; any other (and an integer
// beyond 64 bits) the double strtod reads from its text, infinite beyond the range of
// doubles.
struct CJsonNumber {
    enum EKind { kUint, kUint64, kInt, kInt64, kDouble };
    EKind kind;
    uint64_t magnitude;  // integers: the absolute value
    double value;        // kDouble
};
CJsonNumber ReadJsonNumber(const char* text, size_t length);
// The kind the parser gives a whole number of that sign and magnitude (at most 2^63 when
// negative).
inline CJsonNumber WholeJsonNumber(bool negative, uint64_t magnitude) {
    if (!negative) {
        return CJsonNumber{magnitude <= UINT32_MAX ? CJsonNumber::kUint : CJsonNumber::kUint64, magnitude, 0.0};
    }
    return CJsonNumber{magnitude <= uint64_t(1) << 31 ? CJsonNumber::kInt : CJsonNumber::kInt64, magnitude, 0.0};
}
// The double of a decimal the event reader read on the way (number.read, not
// number.integer).
double DecimalOfSpelling(const CNumberSpelling& number);

// The same number as the event reader met it, from the digits it read on the way where
// it read them. Inline: JSON to variable makes one per number of its text.
inline CJsonNumber ReadJsonNumber(const CNumberSpelling& number) {
    if (!number.read) {
        return ReadJsonNumber(number.text, number.length);
    }
    if (!number.integer) {
        return CJsonNumber{CJsonNumber::kDouble, 0, DecimalOfSpelling(number)};
    }
    if (!number.negative || number.digits <= uint64_t(1) << 63) {
        return WholeJsonNumber(number.negative, number.digits);
    }
    return ReadJsonNumber(number.text, number.length);  // below the range of 64 bits
}

// The double strtod reads from a number of JSON's grammar (an exponent may carry a '+'),
// infinite beyond the range of doubles. A number of at most 15 significant digits scaled
// by at most 10^22 is computed directly: the digits and the power are doubles held
// exactly, so one multiplication or division rounds as strtod does. One of up to 19
// digits scaled by at most 10^27 is computed in extended precision where the machine has
// it, except where that cannot tell the nearest double.
double DecimalValue(const char* text, size_t length);

// Where and why a text was refused.
struct CJsonParseError {
    size_t offset = 0;        // byte offset of the fault in the text
    const char* reason = "";  // RapidJSON's English text for the fault, or kJsonMemoryRefused
};

// The reason of a parse refused for memory (offset 0).
extern const char* const kJsonMemoryRefused;

struct CJsonParseOptions {
    // A number beyond the range of doubles is taken as an infinite double instead of
    // refusing the text (JSON to variable, which reports such a value for its leaf).
    bool infiniteBeyondRange = false;
};

// Parses the `length` bytes at `text` into `document`; a zero byte inside them ends the
// text there. The document's pool and its stack take the values' memory;
// `parserStack` is the parser's own stack (charged to the budget of the caller's choice).
// insitu: null, and the strings are copied into the document's pool; otherwise a buffer
// of length + 1 bytes that receives the text and is parsed in place: the document's
// strings then point into it, so it must outlive the document.
// On failure (a refused text, or memory refused) `document` holds no value that may be
// used and `error`, when given, says where and why. `exact`, when given, receives the
// exact values of the numbers whose doubles cannot tell them. Throws nothing.
bool ParseJson(const char* text, size_t length, CJsonDocument& document, CRetainedBlock& parserStack,
               char* insitu, const CJsonParseOptions& options, CJsonParseError* error = nullptr,
               CExactNumbers* exact = nullptr);

#endif  // JSON_JSONPARSE_H
