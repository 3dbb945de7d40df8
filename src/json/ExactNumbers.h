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

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "json/JsonMemory.h"

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
    // The notes' memory is charged to budget (null: a budget of its own at the memory cap);
    // a parse whose notes find no room is refused for memory.
    explicit CExactNumbers(CMemoryBudget* budget = nullptr)
        : budget_(budget != nullptr ? budget : &ownBudget_),
          noted_(Allocator<Note>(budget_)),
          entries_(Allocator<Entry>(budget_)),
          stack_(Allocator<const CJsonValue*>(budget_)) {}
    CExactNumbers(const CExactNumbers&) = delete;
    CExactNumbers& operator=(const CExactNumbers&) = delete;

    // The exact value of a number of the document whose double does not tell it; null
    // for every other value.
    const CExactNumber* find(const CJsonValue* value) const;
    bool empty() const { return entries_.empty(); }

    // While parsing, for every double made, in text order: notes it when its double
    // does not tell its value. Inline, and without a call to trunc, because every number
    // with a fraction of every parse passes here.
    void noteDouble(double value, const char* text, size_t length) {
        const size_t place = doubles_++;
        if (IsWholeDouble(value)) {
            noteWholeDouble(place, value, text, length);
        }
    }
    // Whether a double's value is whole (or beyond every range, where it says what its
    // text says). Inline, and without a call to trunc: below 2^52, adding and taking away
    // 2^52 rounds the magnitude to a whole number.
    static bool IsWholeDouble(double value) {
        const double magnitude = value < 0 ? -value : value;
        return magnitude < 0x1p52 ? (magnitude + 0x1p52) - 0x1p52 == magnitude
                                  : magnitude <= 1.7976931348623157e308;
    }
    // For a whole double made from the length bytes at text: true, with exact filled,
    // when the double does not tell the text's value (the table notes exactly these).
    static bool WholeDoubleNeedsExact(double value, const char* text, size_t length, CExactNumber& exact);
    // After a parse that succeeded: ties the notes to the values of the document (one
    // walk of it, without recursion, only when something was noted). Throws
    // CMemoryRefused when the budget has no room for the walk or the entries.
    void bind(const CJsonValue& root);
    void clear();

   private:
    void noteWholeDouble(size_t place, double value, const char* text, size_t length);

    template <typename T>
    using Allocator = CBudgetAllocator<T>;
    typedef std::pair<size_t, CExactNumber> Note;
    typedef std::pair<const CJsonValue*, CExactNumber> Entry;

    CMemoryBudget ownBudget_;
    CMemoryBudget* budget_;
    size_t doubles_ = 0;                                                  // doubles made so far in the parse
    std::vector<Note, Allocator<Note>> noted_;                            // by the double's place in the text
    std::vector<Entry, Allocator<Entry>> entries_;                        // by address, sorted
    std::vector<const CJsonValue*, Allocator<const CJsonValue*>> stack_;  // bind's walk, kept
};

#endif  // JSON_EXACTNUMBERS_H
