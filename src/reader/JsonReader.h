// State of the reader block fb_jsonreader: the parsed text of each instance, and the
// reads a control program makes of it by path.
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
#include "json/ParsedJson.h"
#include "sync/InstanceTable.h"
#include "sync/Locks.h"

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
