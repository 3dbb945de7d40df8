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
// CWriterInstances maps the address of an instance record to its CJsonWriter under a
// reader-writer lock (CSharedCounterLock): every call takes it shared while it works on
// the one state it found; it is taken exclusively only to insert a state made beforehand
// and by Clear(), which therefore waits for the calls in flight.
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
#include <unordered_map>
#include <vector>

#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "json/DocumentLimits.h"
#include "json/JsonOutput.h"
#include "sync/Locks.h"

// What a writer operation did: done, or refused with the text to log (null when the
// refusal is silent, as for a key-value add on an instance without a document).
struct CWriterOutcome {
    bool done = false;
    const char* refusal = nullptr;
};

// A value to be put into a writer document. Make runs under the instance's lock with
// the document's allocator, so the value is built in place and never copied again.
class CJsonValueSource {
   public:
    virtual ~CJsonValueSource() = default;
    // Bytes the value will copy into the document, known before it is made; checked
    // against the memory cap together with the key.
    virtual size_t Bytes() const { return 0; }
    // Makes the value into `out` in the forms of `format`, the instance's format when the
    // value is added: null, or the refusal text, and then nothing is added.
    virtual const char* Make(rapidjson::Document::AllocatorType& allocator, uint32_t format,
                             rapidjson::Value& out) = 0;
};

// A value source made of a callable `const char* (Allocator&, uint32_t format, rapidjson::Value&)`.
template <typename Function>
class CJsonValueFromFunction : public CJsonValueSource {
   public:
    explicit CJsonValueFromFunction(Function function) : function_(function) {}
    const char* Make(rapidjson::Document::AllocatorType& allocator, uint32_t format,
                     rapidjson::Value& out) override {
        return function_(allocator, format, out);
    }

   private:
    Function function_;
};

template <typename Function>
CJsonValueFromFunction<Function> MakeJsonValueSource(Function function) {
    return CJsonValueFromFunction<Function>(function);
}

enum class EJsonContainer { kObject, kArray };

class CJsonWriter {
   public:
    // memoryCap: the bytes the document may hold at most.
    explicit CJsonWriter(size_t memoryCap = kDocumentMemoryCap) : memoryCap_(memoryCap) {}
    CJsonWriter(const CJsonWriter&) = delete;
    CJsonWriter& operator=(const CJsonWriter&) = delete;

    // Gives the instance a new empty root object; ends every open container and the
    // pending member. The decimal places and the format stay.
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

    // Calls consume(text, length) with the document's text while the instance is
    // locked; the text is written once per change of the document. False when the
    // instance has no document.
    template <typename Consumer>
    bool Read(Consumer consume) {
        CExclusiveLock<CMutex> lock(mutex_);
        if (!document_) {
            return false;
        }
        RefreshText();
        consume(text_.GetString(), text_.GetSize());
        return true;
    }

    // The read-outs of the text; false when the instance has no document.
    // Into a STRING field of fieldSize bytes: at most fieldSize - 1 bytes, terminated.
    bool CopyTextCut(char* field, size_t fieldSize);
    bool TextLength(size_t& length);
    // The text's bytes and its terminator, at most size of them: nothing beyond them is
    // read, whatever size the caller gives for its buffer.
    bool CopyText(void* buffer, size_t size);

   private:
    rapidjson::Value& Innermost() REQUIRES(mutex_) { return *open_.back(); }
    // REQUIRES: mutex_ held. Done when `bytes` more fit under the cap, else the refusal
    // (its text only the first time per document).
    CWriterOutcome CheckMemory(size_t bytes) REQUIRES(mutex_);
    // REQUIRES: mutex_ held. Done when the document, with the value just made, still
    // fits under the cap.
    CWriterOutcome CheckMemoryAfter() REQUIRES(mutex_);
    // Makes the value from source with the document's allocator, then checks the memory
    // the value took (a parsed text or a variable can be larger than any estimate).
    CWriterOutcome MakeValue(CJsonValueSource& source, rapidjson::Value& value) REQUIRES(mutex_);
    // REQUIRES: mutex_ held. Puts `value` where a value goes in the innermost container.
    void Place(rapidjson::Value& value) REQUIRES(mutex_);
    void RefreshText() REQUIRES(mutex_);

    const size_t memoryCap_;
    CMutex mutex_;
    std::unique_ptr<rapidjson::Document> document_ GUARDED_BY(mutex_);  // null before the first reset
    std::vector<rapidjson::Value*> open_ GUARDED_BY(mutex_);            // open containers, root first
    bool pending_ GUARDED_BY(mutex_) = false;
    rapidjson::SizeType pendingIndex_ GUARDED_BY(mutex_) = 0;  // member of the innermost object
    bool capLogged_ GUARDED_BY(mutex_) = false;                // the cap refusal was logged
    size_t usedEstimate_ GUARDED_BY(mutex_) = 0;               // pool bytes, measured plus estimated since
    size_t usedMeasured_ GUARDED_BY(mutex_) = 0;               // pool bytes at the last measurement
    int decimalPlaces_ GUARDED_BY(mutex_) = kDefaultDecimalPlaces;
    uint32_t format_ GUARDED_BY(mutex_) = 0;
    bool textCurrent_ GUARDED_BY(mutex_) = false;  // text_ is the document's text
    rapidjson::StringBuffer text_ GUARDED_BY(mutex_);
};

class CWriterInstances {
   public:
    typedef std::unordered_map<fb_jsonsaxwriter_struct*, std::unique_ptr<CJsonWriter>> Map;

    // Calls action(state) with the instance's state, creating the state when create is
    // true and there is none. Returns false (action not called) when there is none.
    template <typename Action>
    bool With(fb_jsonsaxwriter_struct* instance, bool create, Action action) {
        for (;;) {
            {
                CSharedLock<CSharedCounterLock> lock(mutex_);
                const Map::iterator found = states_.find(instance);
                if (found != states_.end()) {
                    action(*found->second);
                    return true;
                }
            }
            if (!create) {
                return false;
            }
            Insert(instance);
        }
    }

    // Drops every state with its document; waits for the calls in flight.
    void Clear();
    size_t Size();

    // True when no call holds the map's lock (a snapshot, for checks).
    bool Idle() const { return mutex_.Idle(); }

   private:
    // Makes a state for instance, unless another task made one first. The state and its
    // map node are made before the map is taken exclusively, so the exclusive hold is one
    // insert; a node that lost the race is freed after the lock.
    void Insert(fb_jsonsaxwriter_struct* instance);

    CSharedCounterLock mutex_;
    Map states_ GUARDED_BY(mutex_);
};

#endif  // WRITER_JSONWRITER_H
