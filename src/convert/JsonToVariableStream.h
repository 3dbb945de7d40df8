// JSON to variable without a document: the text is read once, as a stream of events
// (JsonEvents.h), and each value the variable takes is noted with the leaf it goes to;
// only when the whole text has proved to be JSON are the noted values written. The
// writes are those of WriteVariable without a report (JsonToVariable.h): the same leaves
// get the same bytes, and nothing is written when the text is no JSON.
//
// Shapes the stream does not follow are left to the document's walk: a stage says so
// (kNeedsDocument) and writes nothing. They are an array of 2 or 3 dimensions given a
// JSON array (flat or nested lists), and an array variable given an object of its
// elements' names.
//
// Use: TakeText (no lock needed), then Stage with the symbol index held shared, then,
// when the stage succeeded, Commit with the variable's lock held exclusively and the same
// index still held. The memory (the text's copy, the containers, the noted writes) is
// kept from one call to the next within the memory cap, so a call like the last takes
// nothing from the heap. Used by one call at a time, on the calling thread.
#ifndef CONVERT_JSONTOVARIABLESTREAM_H
#define CONVERT_JSONTOVARIABLESTREAM_H

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "json/JsonMemory.h"
#include "symbols/VariableView.h"

class CJsonToVariableStream {
   public:
    enum class EOutcome {
        kStaged,         // the text is JSON and its writes are noted for Commit
        kNotJson,        // the text is no JSON text: nothing to write
        kNeedsDocument,  // a shape the stream does not follow: the document's walk writes it
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
    // (the first of that name) and notes what it writes into var. Writes nothing.
    EOutcome Stage(CVariableView var);
    // Writes what the last Stage noted. REQUIRES: it returned kStaged, the index it saw is
    // still held and the variable's lock is held exclusively.
    void Commit();
    // Gives back memory beyond what a text like the last one needs.
    void Trim();
    // Gives back all the memory it keeps, as a new stream holds none.
    void Release();
    size_t memoryHeld() const { return budget_.held(); }
    // The fault of the text the last Stage refused.
    const CFault& fault() const { return fault_; }

    // One leaf's value as noted: its place, the JSON value's kind and its text, or for a
    // number read already its value. 24 bytes: a large text makes as many notes as it has
    // leaves, written and read once each.
    struct CStagedLeaf {
        void* address;
        union {
            struct {
                uint32_t offset;  // of the value's text in the taken text
                uint32_t length;  // of the value's text
            } text;
            uint64_t magnitude;  // an integer's absolute value
            double number;       // a double's value
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
        size_t takenBase;    // structures of over 64 members: where their members' marks start
        size_t namesBase;    // structures: where its sorted member names start, once sorted
        size_t planBase;     // structures: where its members' plan starts; kNoPlan when none
        char* address;       // planned structures: where the structure lies
        size_t next;         // structures: the member expected next; arrays: elements so far
        uint64_t takenMask;  // structures of up to 64 members: those given a value
        uint32_t planned;    // planned structures: their members
        bool isArray;
        bool namesSorted;

        // Made where the stack keeps it (emplace_back): one made aside and copied whole
        // would be read back while its bytes are still being stored, a stall for every
        // container of the text.
        COpen(CVariableView var, size_t stagedMark, size_t takenBase, size_t namesBase, size_t planBase,
              char* address, uint32_t planned, bool isArray)
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
              namesSorted(false) {}
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
    friend class CStreamHandler;
};

#endif  // CONVERT_JSONTOVARIABLESTREAM_H
