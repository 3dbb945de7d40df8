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
#include "json/Numbers.h"

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
    // does not tell its value. Inline: every number with a fraction of every parse
    // passes here.
    void noteDouble(double value, const char* text, size_t length) {
        const size_t place = doubles_++;
        if (IsWholeDouble(value)) {
            noteWholeDouble(place, value, text, length);
        }
    }
    // After a parse that succeeded: ties the notes to the values of the document (one
    // walk of it, without recursion, only when something was noted). Throws
    // CMemoryRefused when the budget has no room for the walk or the entries.
    void bind(const CJsonValue& root);
    void clear();
    // Clears the table and gives back the memory its notes kept.
    void release();

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
