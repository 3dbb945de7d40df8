// CExactNumbers: what a parsed text's numbers hold where their doubles cannot say.
//
// A number written with a fraction or an exponent is parsed into the nearest double.
// For an integer leaf of a variable that is not enough: 9007199254740993.0 becomes the
// double 9007199254740992, and 1.0000000000000000001 the whole double 1. So while a text
// is parsed, each double whose value is whole is held against its text: when the text is
// not a whole number, or is one of 2^53 and more (where doubles skip whole numbers), the
// number is noted with its exact value. Numbers whose double tells the truth, the great
// majority, cost one test and are not noted.
//
// Filled by one parse (ParseJson) on the parsing thread, then only read: a finished table
// may be read by any number of threads, as its document may.
#ifndef JSON_EXACTNUMBERS_H
#define JSON_EXACTNUMBERS_H

#include "json/JsonMemory.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

// The value of a number's text as an integer leaf takes it.
struct CExactNumber {
    bool whole = false;     // the text's value is a whole number
    bool negative = false;  // whole and below zero
    bool fits = false;      // whole and its magnitude below 2^64
    uint64_t magnitude = 0;
};

// The value of a number in JSON's grammar, `length` bytes at `text`, exactly.
CExactNumber ExactNumberOfText(const char* text, size_t length);

class CExactNumbers {
   public:
    // The exact value of a number of the document whose double does not tell it; null
    // for every other value.
    const CExactNumber* find(const CJsonValue* value) const;
    bool empty() const { return entries_.empty(); }

    // While parsing, for every double made, in text order: notes it when its double
    // does not tell its value.
    void noteDouble(double value, const char* text, size_t length);
    // After a parse that succeeded: ties the notes to the values of the document (one
    // walk of it, without recursion, only when something was noted).
    void bind(const CJsonValue& root);
    void clear();

   private:
    size_t doubles_ = 0;                                  // doubles made so far in the parse
    std::vector<std::pair<size_t, CExactNumber>> noted_;  // by the double's place in the text
    std::vector<std::pair<const CJsonValue*, CExactNumber>> entries_;  // by address, sorted
};

#endif  // JSON_EXACTNUMBERS_H
