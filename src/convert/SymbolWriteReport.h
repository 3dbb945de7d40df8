// CSymbolWriteReport: what writing a JSON text into a variable did.
//
// Filled by the manager for the caller of one call on the caller's thread; owned by
// the caller.
#ifndef CONVERT_SYMBOLWRITEREPORT_H
#define CONVERT_SYMBOLWRITEREPORT_H

#include <cstdint>
#include <string>

struct CSymbolWriteReport {
    uint32_t written = 0;      // leaves written (a wrapped integer and a cut string included)
    uint32_t skipped = 0;      // leaves of the variable the text gave a value that was not written
    uint32_t unknown = 0;      // members of matched JSON objects that match no member there
    uint32_t errorOffset = 0;  // byte offset of a parse error in the text, else 0
    uint32_t missing = 0;      // leaves of the variable the text did not mention
    // The first problem met in the variable's order that is not a missing member (a
    // missing member only when there was nothing else), "PATH: REASON" with PATH from
    // the variable's own name down; a refusal's log text; empty when there was none.
    std::string problem;
};

#endif  // CONVERT_SYMBOLWRITEREPORT_H
