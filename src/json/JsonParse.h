// The component's JSON documents, built from the events of its one reader (JsonEvents.h)
// into RapidJSON values on the component's pools: the grammar and the numbers are the
// reader's (strict RFC 8259, every number by its value, one beyond the range of doubles
// refused: "Number too big to be stored in double."). Iterative (the reader's stack and
// the document's live on the heap, so a deeply nested text never deepens the calling
// task's stack) and bounded (every byte it takes is charged to the document's budget; a
// text that needs more is refused, never half parsed).
//
// Kinds are RapidJSON's: a number without fraction or exponent is an integer of the
// narrowest kind that holds it (a double beyond 64 bits), any other a double. Strings are
// not checked for UTF-8. A UTF-8 byte order mark at the start is skipped (RFC 8259 lets a
// parser ignore it; files saved by common Windows editors carry one); offsets still count
// its bytes.
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

// Where and why a text was refused.
struct CJsonParseError {
    size_t offset = 0;         // byte offset of the fault in the text
    const char* reason = "";   // RapidJSON's English text for the fault, or kJsonMemoryRefused
    bool outOfMemory = false;  // refused for memory the heap did not have (not for the cap)
};

// The reason of a parse refused for memory (offset 0).
extern const char* const kJsonMemoryRefused;

// Zero bytes a text's copy holds after its terminator: the reader reads a number's
// digits and a key's first bytes eight at a time.
constexpr size_t kJsonTextPadding = 8;

// Where the strings of a parsed document live.
enum class EJsonStrings {
    kInCopy,  // in the text's copy: it must outlive the document and stay as it is
    kCopied   // in the document's allocator
};

// The memory of a parse besides its document's values, kept by its owner from one parse
// to the next within its budget: the text's copy, which the reader reads and unescapes in
// place, and the stack of the open containers.
struct CJsonParseMemory {
    CRetainedBlock& text;
    CRetainedBlock& frames;
};

// Parses the `length` bytes at `text` into `document`; a zero byte inside them ends the
// text there. The document's pool and its stack take the values' memory, `memory` the
// rest. On failure (a refused text, or memory refused) `document` holds no value that may
// be used and `error`, when given, says where and why. `exact`, when given, receives the
// exact values of the numbers whose doubles cannot tell them. Throws nothing.
bool ParseJson(const char* text, size_t length, CJsonDocument& document, CJsonParseMemory memory,
               EJsonStrings strings, CJsonParseError* error = nullptr, CExactNumbers* exact = nullptr);

#endif  // JSON_JSONPARSE_H
