// JSON to variable: the one walk that writes a JSON value into a variable of the
// application. The text is read once, as a stream of events (JsonEvents.h), and each
// value the variable takes is noted with the leaf it goes to; only when the whole text
// has proved to be JSON, and every note is made, are the noted values written, so a text
// that is no JSON, a refusal for memory or a failed allocation at any point writes
// nothing. A value of a document (the reader's ToVariable) is given to the same walk as
// its events (JsonEventTape.h).
//
// The rules, followed event by event:
// - a leaf takes a value its class takes, and nothing from an object or an array;
// - a structure takes an object, member by member, the first member of each name;
// - an array takes a JSON array of exactly its element count, element by element (the
//   notes of one of another count are taken back at its end); one of 2 or 3 dimensions
//   also nested arrays of exactly its shape, and the variable itself, an array, also an
//   object whose members are named as the host names its elements;
// - whatever does not match leaves the part of the variable it was meant for unwritten.
// An array of 2 or 3 dimensions is read whole before it is written: whether its lists
// are flat or nested, and of its shape, is known at their end. Its events are kept on a
// tape and given again once it is read.
//
// With a report (JsonToVariableReport.h), the same walk also tells the report every
// value it meets: the report is an observer that neither writes nor changes a write.
//
// Use: TakeText (no lock needed), then Stage with the symbol index held shared, then,
// when the stage succeeded, Commit with the variable's lock held exclusively and the same
// index still held. The memory (the text's copy, the containers, the notes, the tape, the
// report's) is kept from one call to the next within the memory cap, so a call like the
// last takes nothing from the heap. Used by one call at a time, on the calling thread.
#ifndef CONVERT_JSONTOVARIABLESTREAM_H
#define CONVERT_JSONTOVARIABLESTREAM_H

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "convert/JsonToVariableReport.h"
#include "json/ExactNumbers.h"
#include "json/JsonEventTape.h"
#include "json/JsonMemory.h"
#include "symbols/VariableView.h"

class CJsonToVariableStream {
   public:
    enum class EOutcome {
        kStaged,         // the text is JSON and its writes are noted for Commit
        kNotJson,        // the text is no JSON text: nothing to write
        kMemoryRefused,  // the memory cap had no room
        kOutOfMemory     // the heap had no memory
    };
    // Where and why the text was refused, for kNotJson of a text that was taken.
    struct CFault {
        size_t offset = 0;        // of the fault, counting a byte order mark
        const char* reason = "";  // RapidJSON's English text for it
    };

    CJsonToVariableStream();
    CJsonToVariableStream(const CJsonToVariableStream&) = delete;
    CJsonToVariableStream& operator=(const CJsonToVariableStream&) = delete;

    // Copies the first `length` bytes at text, up to the first zero byte among them and
    // without a leading UTF-8 byte order mark. False when memory was refused, for the cap
    // or by the heap (textRefusal).
    bool TakeText(const char* text, size_t length);
    EOutcome textRefusal() const { return textRefusal_; }
    // Reads the taken text, whose root must be an object, for its member named after var
    // (the first of that name) and notes what it writes into var. Writes nothing. With
    // report, also fills it (from zero) as the walk goes; its counts and problem are of
    // no use unless the stage succeeded.
    EOutcome Stage(CVariableView var, CSymbolWriteReport* report = nullptr);
    // Notes what value, a value of a document, writes into var, as Stage notes a text
    // whose root object holds value under var's own name. exact: the exact values of the
    // document's numbers whose doubles cannot tell them (null when it has none). value and
    // its document must stay as they are until Commit.
    EOutcome StageValue(const CJsonValue& value, const CExactNumbers* exact, CVariableView var);
    // Reads the taken text for whether it is JSON, and nothing else: kStaged when it is
    // (there is nothing to commit), kNotJson with the fault when it is not.
    EOutcome Check();
    // Writes what the last stage noted. REQUIRES: it returned kStaged, the index it saw is
    // still held and the variable's lock is held exclusively. Takes no memory.
    void Commit();
    // Gives back memory beyond what a text like the last one needs.
    void Trim();
    // Gives back all the memory it keeps, as a new stream holds none.
    void Release();
    size_t memoryHeld() const { return budget_.held(); }
    // The fault of the text the last Stage refused.
    const CFault& fault() const { return fault_; }

    // One leaf's value as noted: its place, the JSON value's kind and its text, for a
    // number read already its value, or a document's value. 24 bytes: a large text makes
    // as many notes as it has leaves, written and read once each.
    struct CStagedLeaf {
        void* address;
        union {
            struct {
                uint32_t offset;  // of the value's text in the taken text
                uint32_t length;  // of the value's text
            } text;
            uint64_t magnitude;       // an integer's absolute value
            double number;            // a double's value
            const CJsonValue* value;  // a document's value
        };
        uint32_t size;
        uint8_t type;  // TypeClass3
        uint8_t kind;
    };
    static_assert(sizeof(CStagedLeaf) == 24, "a note is three words");
    // One open JSON container and the node it is written into.
    struct COpen {
        CVariableView var;   // the structure or array; no node when the container is the root object
        size_t stagedMark;   // noted leaves when it opened (an array of the wrong count takes its back)
        size_t takenBase;    // objects of over 64 members: where their members' marks start
        size_t namesBase;    // objects: where its sorted member names start, once sorted
        size_t planBase;     // structures: where its members' plan starts; kNoPlan when none
        char* address;       // planned structures: where the structure lies
        size_t next;         // objects: the member expected next; arrays: elements so far
        uint64_t takenMask;  // objects of up to 64 members: those given a value
        uint32_t planned;    // planned structures: their members
        bool isArray;
        bool namesSorted;
        bool elements;   // an object of the array's elements, by their names
        uint8_t lists;   // arrays given nested lists: the lists around each element
        uint8_t inList;  // of those, the ones open now

        // Made where the stack keeps it (emplace_back): one made aside and copied whole
        // would be read back while its bytes are still being stored, a stall for every
        // container of the text.
        COpen(CVariableView var, size_t stagedMark, size_t takenBase, size_t namesBase, size_t planBase,
              char* address, uint32_t planned, bool isArray, bool elements = false, uint8_t lists = 0)
            : var(var),
              stagedMark(stagedMark),
              takenBase(takenBase),
              namesBase(namesBase),
              planBase(planBase),
              address(address),
              next(0),
              takenMask(0),
              planned(planned),
              isArray(isArray),
              namesSorted(false),
              elements(elements),
              lists(lists),
              inList(0) {}
    };

    // One member of a structure as a key is matched against it: the name's first eight
    // bytes as a word (zeros beyond the name), the rest of it, and its length, kNoMember
    // when the member has no node and takes nothing.
    struct CMemberPlan {
        uint64_t head;
        // Names of plain text (no quote, backslash or control character), as found ahead
        // of reading the key: below eight bytes the name and its quote as a word, else 1;
        // 0 for other names.
        uint64_t quoted;
        size_t tail;  // where the name's bytes after its first eight are kept in planNames_
        uint32_t length;
        // A leaf member: its place in the structure, size and class, noted without its node.
        uint32_t size;
        ptrdiff_t offset;
        uint8_t type;
        bool leaf;
        bool placed;  // the member has an address
    };
    // The plan of one structure's layout: its members from plans_[base] on; kNoPlan until
    // a second object of the layout is met (a structure met once is matched without one).
    struct CPlanned {
        const CVariable* layout;
        size_t base;
        bool again;  // a second object of the layout was met
    };
    static constexpr size_t kNoPlan = SIZE_MAX;
    static constexpr uint32_t kNoMember = UINT32_MAX;
    // Zero bytes kept after the taken text: a key's first eight bytes are read as a word.
    static constexpr size_t kTextPadding = 8;

   private:
    template <typename T>
    using Kept = std::vector<T, CBudgetAllocator<T>>;

    // Empties what one stage leaves behind, keeping the memory.
    void Clear();
    // Runs work; a refusal for memory it throws becomes the outcome, with no note kept.
    template <typename Work>
    EOutcome Refusing(Work work);
    // Reads the taken text with the handler: kStaged when it is JSON, else why not.
    template <typename Handler>
    EOutcome ReadWith(Handler& handler);

    CMemoryBudget budget_;
    Kept<char> text_;       // the taken text, terminated; strings are unescaped in it
    size_t length_ = 0;     // of the taken text
    size_t mark_ = 0;       // bytes of the byte order mark before it
    bool hasText_ = false;  // the last TakeText succeeded
    EOutcome textRefusal_ = EOutcome::kMemoryRefused;  // why it did not
    CFault fault_;
    Kept<char> containers_;  // the reader's open containers
    Kept<COpen> open_;
    Kept<CStagedLeaf> staged_;
    Kept<char> taken_;  // per open structure, whether each member was given a value
    Kept<std::pair<std::string_view, size_t>> names_;
    Kept<CMemberPlan> plans_;  // the members of every structure layout planned in a Stage
    Kept<CPlanned> planned_;
    Kept<char> planNames_;
    Kept<char> elementNames_;  // an object of the elements: the elements' names, sorted in names_
    Kept<std::pair<size_t, size_t>> elementPlaces_;  // where each name starts there, and its element
    CJsonEventTape tape_;  // an array of 2 or 3 dimensions while it is read, or a document's value
    CJsonToVariableReport report_;
    const CExactNumbers* exact_ = nullptr;  // StageValue: the exact numbers of its document
    template <bool kReport>
    friend class CStreamHandler;
};

#endif  // CONVERT_JSONTOVARIABLESTREAM_H
