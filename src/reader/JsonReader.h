// State of the reader block fb_jsonreader: the parsed text of each instance, and the
// reads a control program makes of it by path.
//
// CParsedJson is one parsed text: the instance's own copy of the text and the document
// parsed from it in place (its strings point into the copy), with all the memory they
// take charged to one budget of the memory cap. It does not change while it is shared:
// any number of threads may read it without a lock; it is shared by shared_ptr. Once no
// read holds it any more its instance parses the next text into it, reusing its memory
// (up to what the last parse into it used), so a task that parses texts of one size
// every cycle takes nothing from the heap.
//
// CJsonReader is one block instance: the document it holds now, or none, and the spare
// document the next parse goes into. A parse fills the spare without the instance's
// lock (parses of one instance are serialised by a lock of their own) and only swaps it
// in under the lock; a read takes the lock just long enough to copy the pointer. So a
// read never sees half a document, and a parse and a read on one instance wait on each
// other for a pointer exchange at most.
//
// CReaderInstances maps the instance records (known only by their address) to their
// CJsonReader, under a reader-writer lock held for one map operation: finding an
// instance shares it with every other find; only the first parse of an instance, the
// forgetting of an instance whose parse failed (it holds no document, so nothing of it is
// kept) and clear() take it alone. No work on an instance's document happens under this
// lock.
//
// Nothing here logs or calls the host; documents are freed after the locks are released.
#ifndef READER_JSONREADER_H
#define READER_JSONREADER_H

#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "json/DocumentLimits.h"
#include "json/JsonMemory.h"
#include "json/JsonParse.h"
#include "sync/InstanceTable.h"
#include "sync/Locks.h"

class CParsedJson {
   public:
    // An empty document (root null) whose parses may hold `memoryCap` bytes at most.
    explicit CParsedJson(size_t memoryCap = kDocumentMemoryCap);
    CParsedJson(const CParsedJson&) = delete;
    CParsedJson& operator=(const CParsedJson&) = delete;

    // A new document of the first `size` bytes at `text`; null when the text is refused,
    // `error` then says where and why (see Reparse).
    static std::shared_ptr<const CParsedJson> Parse(const char* text, size_t size, CJsonParseError& error,
                                                    size_t memoryCap = kDocumentMemoryCap);

    // Parses the first `size` bytes at `text`, up to the first zero byte among them, into
    // this document, reusing its memory; nobody may read it meanwhile. False when the text
    // is refused; `error` then says where and why, and the document holds nothing. A text
    // is refused too when the document would hold more than the cap: the text's copy, the
    // values and the parser's stacks together (a text as long as the cap before it is
    // copied). Memory beyond what a refused parse found is given back; whether a text
    // fits does not depend on the texts parsed into the document before.
    bool Reparse(const char* text, size_t size, CJsonParseError& error);

    const CJsonValue& root() const { return document_; }
    // The exact values of the numbers whose doubles cannot tell them (for ToVariable).
    const CExactNumbers& exactNumbers() const { return exact_; }
    // The exact value of a number of this document whose double cannot tell it; null for
    // every other value.
    const CExactNumber* exactOf(const CJsonValue& value) const {
        return value.IsDouble() ? exact_.find(&value) : nullptr;
    }

    // Bytes the document held at most during its last parse.
    size_t memoryUsed() const { return peak_; }
    // Bytes it holds now (for checks).
    size_t memoryHeld() const { return budget_.held(); }

   private:
    // One parse into the memory held now: on refusal, what it took beyond that is given
    // back.
    bool ParseKeepingMemory(const char* text, size_t length, CJsonParseError& error);

    CMemoryBudget budget_;
    CRetainedBlock text_;  // the text and its terminator; the document's strings live here
    CDocumentPool pool_;
    CRetainedBlock documentStack_;
    CRetainedBlock frames_;  // the open containers while the text is read
    CJsonDocument document_;
    CExactNumbers exact_{&budget_};  // its notes count within the cap
    size_t used_ = 0;                // pool bytes the last parse used
    size_t peak_ = 0;
};

class CJsonReader;

// A read's hold on an instance's document: the document stays as it is while held. The
// hold is given back under the instance's lock, so the instance sees for certain when
// nobody reads a document any more and may parse the next text into it.
class CDocumentRef {
   public:
    CDocumentRef() = default;
    CDocumentRef(std::shared_ptr<CJsonReader> state, std::shared_ptr<const CParsedJson> document)
        : state_(std::move(state)), document_(std::move(document)) {}
    CDocumentRef(CDocumentRef&&) = default;
    CDocumentRef(const CDocumentRef&) = delete;
    CDocumentRef& operator=(const CDocumentRef&) = delete;
    ~CDocumentRef();

    const CParsedJson* get() const { return document_.get(); }
    const CParsedJson* operator->() const { return document_.get(); }
    explicit operator bool() const { return document_ != nullptr; }

   private:
    std::shared_ptr<CJsonReader> state_;
    std::shared_ptr<const CParsedJson> document_;
};

class CJsonReader {
   public:
    CJsonReader() = default;
    CJsonReader(const CJsonReader&) = delete;
    CJsonReader& operator=(const CJsonReader&) = delete;

    // The document the instance holds now; null when it has none.
    std::shared_ptr<const CParsedJson> document() const;

    // Makes `document` (null: none) the instance's document. The one it replaces is
    // kept as the spare for the next parse when nobody reads it, else freed when the last
    // read lets go of it.
    void setDocument(std::shared_ptr<const CParsedJson> document);

    // Parses the text into the instance's spare document (a new one when it has none, or
    // when a read still holds it) and makes the result the instance's document: the
    // parsed one, or none when the text was refused. Returns whether it was parsed.
    bool parse(const char* text, size_t size, CJsonParseError& error);

    // Gives back a read's hold on a document (CDocumentRef).
    void release(std::shared_ptr<const CParsedJson>& document);

   private:
    CMutex parseMtx_;  // one parse of the instance at a time
    mutable CMutex mtx_;
    std::shared_ptr<const CParsedJson> document_ GUARDED_BY(mtx_);
    std::shared_ptr<const CParsedJson> spare_ GUARDED_BY(mtx_);
};

class CReaderInstances {
   public:
    CReaderInstances() = default;
    CReaderInstances(const CReaderInstances&) = delete;
    CReaderInstances& operator=(const CReaderInstances&) = delete;

    // The instance's state; null when it was never parsed since the last clear().
    std::shared_ptr<CJsonReader> find(const void* instance) const;

    // The instance's state, created empty on first use.
    std::shared_ptr<CJsonReader> findOrAdd(const void* instance);

    // Forgets the instance when its state is `state` and holds no document.
    void forgetIfEmpty(const void* instance, const std::shared_ptr<CJsonReader>& state);

    // The document the instance holds now, held for a read; empty when it has none.
    CDocumentRef documentOf(const void* instance) const;

    // Forgets every instance. Reads still running keep the documents they hold until
    // they return; a parse still running stores into a state no longer reachable.
    void clear();

   private:
    CInstanceTable<const void*, CJsonReader> readers_;
};

// What GetKind reports for a value (kReaderKindNone: nothing found).
enum ReaderKind : int32_t {
    kReaderKindNone = 0,
    kReaderKindNull = 1,
    kReaderKindBool = 2,
    kReaderKindInteger = 3,  // a number without fraction or exponent within 64 bits
    kReaderKindReal = 4,     // any other number
    kReaderKindString = 5,
    kReaderKindArray = 6,
    kReaderKindObject = 7,
};

// Kind of value; kReaderKindNone for null.
ReaderKind KindOf(const CJsonValue* value);

// Elements of an array, members of an object, -1 for anything else or null.
int32_t SizeOf(const CJsonValue* value);

// Exact conversions: true and the value only when `value` converts without wrapping or
// rounding (an integer, or a number whose value is whole, within the type's range, taken
// from `exact` where the document noted the exact value of its text; for LREAL any
// number, to the nearest double). False leaves `out` alone.
bool ToDint(const CJsonValue& value, const CExactNumber* exact, int32_t& out);
bool ToLint(const CJsonValue& value, const CExactNumber* exact, int64_t& out);
bool ToLreal(const CJsonValue& value, double& out);

// Copies the `length` bytes at `text` as a zero-terminated string into `buffer` of
// `size` bytes: at most size - 1 bytes, cut back so that no UTF-8 character is split,
// then a zero byte. The bytes end at a zero byte inside the text too (an IEC STRING
// cannot hold one). True when the whole text was copied: it fit and held no zero byte.
// Size 0 writes nothing and gives false.
bool CopyStringOut(const char* text, size_t length, char* buffer, uint32_t size);

#endif  // READER_JSONREADER_H
