// The state of the writer block's instances: one CJsonWriter per fb_jsonsaxwriter
// instance, held in a CWriterInstances map.
//
// CJsonWriter owns one instance's document (a root object), its stack of open
// containers, its pending member, its number format (decimal places) and value format
// (SetFormat's bits), the text of its last read-out and its own mutex. Every public operation takes that
// mutex for its whole length and nothing else, so the work of one instance never waits on the work of
// another. Refusals come back as texts (CWriterOutcome) that the caller logs after it has released every
// lock.
//
// Memory: the document's values live in the instance's CDocumentPool, charged to a
// budget of the memory cap; the read-out text, at most the cap long (a longer one is
// refused), in a buffer of its own, so one instance holds at most twice the cap (three
// times for the moment the text's buffer grows). Everything is kept from
// one cycle to the next: a reset rewinds the pool and gives back only what the cycle
// that ended did not use, so a cycle of the same shape as the last takes nothing from the
// heap. A refused call (a failed allocation included) leaves the document and its
// memory as they were.
//
// CWriterInstances maps the address of an instance record to its shared CJsonWriter
// (a CInstanceTable): a find never waits, and an insert or a drop waits only for the
// finds in flight; a call keeps the state it found by its shared pointer and works on it
// afterwards. So no call waits for another instance's work, neither for a long read-out
// nor for the first call of a new instance or a clear(); a state dropped by clear()
// lives on until the calls still holding it return.
//
// Nothing here recurses on the depth of a document: containers are opened and closed
// through an explicit stack, the text is written by an iterative serialiser, and the
// document's pool allocator frees its values without walking them.
#ifndef WRITER_JSONWRITER_H
#define WRITER_JSONWRITER_H

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "json/DocumentLimits.h"
#include "json/JsonMemory.h"
#include "json/JsonOutput.h"
#include "json/JsonParse.h"
#include "sync/InstanceTable.h"
#include "sync/Locks.h"

// What a writer operation did: done, or refused with the text to log (null when the
// refusal is silent, as for a key-value add on an instance without a document).
struct CWriterOutcome {
    bool done = false;
    const char* refusal = nullptr;
};

// The stacks a parse into a writer document uses, kept by the instance from one parse to
// the next and charged to its budget.
struct CParseStacks {
    explicit CParseStacks(CMemoryBudget* budget) : document(budget), parser(budget), text(budget) {}
    CRetainedBlock document;  // the values of open containers while they are parsed
    CRetainedBlock parser;    // the parser's own states
    CRetainedBlock text;      // the text's copy, which the parser reads in place
};

// A value to be put into a writer document. Make runs under the instance's lock with
// the document's allocator, so the value is built in place and never copied again. It
// may throw std::bad_alloc (memory refused); the instance then refuses the call.
class CJsonValueSource {
   public:
    virtual ~CJsonValueSource() = default;
    // Makes the value into `out` in the forms of `format`, the instance's format when the
    // value is added: null, or the refusal text, and then nothing is added. `stacks`
    // serve a value that is parsed from a text.
    virtual const char* Make(CJsonDocument::AllocatorType& allocator, uint32_t format, CJsonValue& out,
                             CParseStacks& stacks) = 0;
};

// A value source made of a callable `const char* (Allocator&, uint32_t format, CJsonValue&)`.
template <typename Function>
class CJsonValueFromFunction : public CJsonValueSource {
   public:
    explicit CJsonValueFromFunction(Function function) : function_(function) {}
    const char* Make(CJsonDocument::AllocatorType& allocator, uint32_t format, CJsonValue& out,
                     CParseStacks&) override {
        return function_(allocator, format, out);
    }

   private:
    Function function_;
};

template <typename Function>
CJsonValueFromFunction<Function> MakeJsonValueSource(Function function) {
    return CJsonValueFromFunction<Function>(function);
}

// A value that is taken as sent once it is made (a variable's changes: the caller's copy
// of what was sent follows it), and that may turn out to be nothing. The writer runs Make
// only once the document has room for the value, so that nothing refuses the add after
// Make. It may throw std::bad_alloc (memory refused); the instance then refuses the call.
class CJsonChangeSource {
   public:
    virtual ~CJsonChangeSource() = default;
    // Makes the value into `out` in the forms of `format`: null, or the refusal text.
    // made: false when there is nothing to add; then nothing is added and the add is done.
    virtual const char* Make(CJsonDocument::AllocatorType& allocator, uint32_t format, CJsonValue& out,
                             bool& made) = 0;
};

// A change source made of a callable
// `const char* (Allocator&, uint32_t format, CJsonValue&, bool& made)`.
template <typename Function>
class CJsonChangeFromFunction : public CJsonChangeSource {
   public:
    explicit CJsonChangeFromFunction(Function function) : function_(function) {}
    const char* Make(CJsonDocument::AllocatorType& allocator, uint32_t format, CJsonValue& out,
                     bool& made) override {
        return function_(allocator, format, out, made);
    }

   private:
    Function function_;
};

template <typename Function>
CJsonChangeFromFunction<Function> MakeJsonChangeSource(Function function) {
    return CJsonChangeFromFunction<Function>(function);
}

enum class EJsonContainer { kObject, kArray };

// What a read-out of a writer's text found.
enum class EWriterRead { kDone, kNoDocument, kMemory };

class CJsonWriter {
   public:
    // memoryCap: the bytes the document may hold at most, and its text's length.
    explicit CJsonWriter(size_t memoryCap = kDocumentMemoryCap);
    CJsonWriter(const CJsonWriter&) = delete;
    CJsonWriter& operator=(const CJsonWriter&) = delete;

    // Gives the instance a new empty root object; ends every open container and the
    // pending member. The decimal places and the format stay. Memory beyond what the
    // last cycle used is given back.
    void Reset();

    // Appends (key, null) to the innermost open object. With makePending the member
    // becomes the pending one that the next value call fills.
    CWriterOutcome AddKey(const char* key, bool makePending);
    // Appends (key, value) to the innermost open object.
    CWriterOutcome AddMember(const char* key, CJsonValueSource& source);
    // In an array: appends the value as an element. In an object: fills the pending
    // member where it stands and ends the pending state.
    CWriterOutcome AddValue(CJsonValueSource& source);
    // A variable's value: a member (key, value) of the innermost open object, or an
    // element of the innermost open array (the key is not used). The pending member
    // stays pending.
    CWriterOutcome AddVariable(const char* key, CJsonValueSource& source);
    // As AddVariable, for a value that is taken as sent once it is made: the room for the
    // member (or element) and its name are taken first, so a made value is always added;
    // a source that makes nothing adds nothing (the room stays for the next add), and a
    // refused add leaves the document and its memory as they were.
    CWriterOutcome AddChanges(const char* key, CJsonChangeSource& source);

    // Opens a container where a value goes (pending member or array element).
    CWriterOutcome Start(EJsonContainer kind);
    // Closes the innermost open container when it is of that kind (never the root).
    CWriterOutcome End(EJsonContainer kind);

    bool SetDecimalPlaces(int places);
    int DecimalPlaces();
    // The format the values added from now on take; its PRETTY bit applies to the next
    // read-out. REQUIRES: only bits the writer knows (the caller checks them).
    void SetFormat(uint32_t format);
    uint32_t Format();

    // Calls consume(text, length, change) with the document's text while the instance is
    // locked; the text is written once per change of the document. `change` is the
    // number of the document's current state: it moves with every change.
    template <typename Consumer>
    EWriterRead Read(Consumer consume) {
        CExclusiveLock<CMutex> lock(mutex_);
        if (!hasDocument_) {
            return EWriterRead::kNoDocument;
        }
        if (!RefreshText()) {
            return EWriterRead::kMemory;
        }
        consume(text_.GetString(), text_.GetSize(), change_);
        return EWriterRead::kDone;
    }

    // The read-outs of the text.
    // Into a STRING field of fieldSize bytes: at most fieldSize - 1 bytes, terminated.
    EWriterRead CopyTextCut(char* field, size_t fieldSize);
    EWriterRead TextLength(size_t& length);
    // The text's bytes and its terminator, at most size of them: nothing beyond them is
    // read, whatever size the caller gives for its buffer.
    EWriterRead CopyText(void* buffer, size_t size);
    // The part of the text from byte `offset`: at most size - 1 bytes, never ending inside
    // a UTF-8 character, then a terminator (size > 0). copied: the bytes of the part (0
    // at or past the end, or when the character at offset does not fit); length: the
    // whole text's; change: the number of the document's state.
    EWriterRead CopyTextPart(size_t offset, char* buffer, size_t size, size_t& copied, size_t& length,
                             uint32_t& change);

    // Bytes the instance holds now: its document's memory and its text's (for checks).
    size_t MemoryHeld();

   private:
    CJsonValue& Innermost() REQUIRES(mutex_) { return *open_.back(); }
    // REQUIRES: mutex_ held. Runs one add: a refusal, memory refused included, gives up
    // every byte the add took and leaves the document as it was.
    template <typename Add>
    CWriterOutcome Guarded(Add add) REQUIRES(mutex_);
    // REQUIRES: mutex_ held. The refusal for memory (its text only the first time per
    // document).
    CWriterOutcome MemoryRefusal() REQUIRES(mutex_);
    // REQUIRES: mutex_ held. Grows the innermost container, where it is full, as an add
    // would grow it, so that the next add to it takes no memory.
    void MakeRoom() REQUIRES(mutex_);
    // REQUIRES: mutex_ held. Puts `value` where a value goes in the innermost container.
    void Place(CJsonValue& value) REQUIRES(mutex_);
    // REQUIRES: mutex_ held. The document changed: its text is stale.
    void Changed() REQUIRES(mutex_);
    // REQUIRES: mutex_ held. Makes text_ the document's text; false when its memory was
    // refused (no text is kept then).
    bool RefreshText() REQUIRES(mutex_);

    CMutex mutex_;
    CMemoryBudget budget_ GUARDED_BY(mutex_);  // the document's pool and its parse stacks
    CDocumentPool pool_ GUARDED_BY(mutex_);
    CParseStacks stacks_ GUARDED_BY(mutex_);
    CJsonDocument document_ GUARDED_BY(mutex_);  // the root object once hasDocument_
    bool hasDocument_ GUARDED_BY(mutex_) = false;
    std::vector<CJsonValue*> open_ GUARDED_BY(mutex_);  // open containers, root first
    bool pending_ GUARDED_BY(mutex_) = false;
    rapidjson::SizeType pendingIndex_ GUARDED_BY(mutex_) = 0;  // member of the innermost object
    bool capLogged_ GUARDED_BY(mutex_) = false;                // the cap refusal was logged
    int decimalPlaces_ GUARDED_BY(mutex_) = kDefaultDecimalPlaces;
    uint32_t format_ GUARDED_BY(mutex_) = 0;
    uint32_t change_ GUARDED_BY(mutex_) = 0;       // moves with every change of the document
    bool textCurrent_ GUARDED_BY(mutex_) = false;  // text_ is the document's text
    size_t textUsed_ GUARDED_BY(mutex_) = 0;       // bytes of the largest text since the reset
    CMemoryBudget textBudget_ GUARDED_BY(mutex_);
    CRetainedBlock textBlock_ GUARDED_BY(mutex_);
    CTextBuffer text_ GUARDED_BY(mutex_);
    CJsonOutputScratch scratch_ GUARDED_BY(mutex_);
};

class CWriterInstances {
   public:
    // Calls action(state) with the instance's state, creating the state when create is
    // true and there is none. Returns false (action not called) when there is none. The
    // table's lock is held only to find the state, never while action runs.
    template <typename Action>
    bool With(fb_jsonsaxwriter_struct* instance, bool create, Action action) {
        std::shared_ptr<CJsonWriter> state = states_.Find(instance);
        if (!state && create) {
            state = states_.Insert(instance, std::make_shared<CJsonWriter>());
        }
        if (!state) {
            return false;
        }
        action(*state);
        return true;
    }

    // Drops every state with its document. Waits only for the finds in flight; a call
    // still working on a dropped state finishes on it, and frees it.
    void Clear() { states_.Clear(); }
    size_t Size() const { return states_.Size(); }

    // True when no call holds the table's lock (a snapshot, for checks).
    bool Idle() const { return states_.Idle(); }

   private:
    CInstanceTable<fb_jsonsaxwriter_struct*, CJsonWriter> states_;
};

#endif  // WRITER_JSONWRITER_H
