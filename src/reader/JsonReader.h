// State of the reader block fb_jsonreader: the parsed text of each instance, and the
// reads a control program makes of it by path.
//
// CParsedJson is one parsed text: the instance's own copy of the text and the document
// parsed from it in place (its strings point into the copy). It never changes once
// built, so any number of threads may read it without a lock; it is shared by
// shared_ptr and freed when the last reader lets go of it.
//
// CJsonReader is one block instance: the document it holds now, or none. A parse
// builds a new CParsedJson without any lock and only swaps it in under the instance's
// lock; a read takes the lock just long enough to copy the pointer. So a read never sees
// half a document, and a parse and a read on one instance wait on each other for a
// pointer exchange at most.
//
// CReaderInstances maps the instance records (known only by their address) to their
// CJsonReader, under a reader-writer lock: finding an instance shares the lock with
// every other find; only the first parse of an instance and clear() take it alone, for
// one map operation. No work on an instance's document happens under this lock.
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
#include <unordered_map>

#include "json/DocumentLimits.h"
#include "json/JsonParse.h"
#include "sync/Locks.h"

class CParsedJson {
   public:
    // Parses the first `size` bytes at `text`, up to the first zero byte among them,
    // into a new document. Null when the text is refused; `error` then says where and
    // why. A document is refused too when it would hold more than `memoryCap` bytes: the
    // text's copy and the memory its values take from the heap (the allocator's
    // capacity) together. A text as long as the cap is refused before it is copied.
    static std::shared_ptr<const CParsedJson> Parse(const char* text, size_t size, CJsonParseError& error,
                                                    size_t memoryCap = kDocumentMemoryCap);

    const rapidjson::Value& root() const { return document_; }
    // The exact values of the numbers whose doubles cannot tell them (for ToVariable).
    const CExactNumbers& exactNumbers() const { return exact_; }

    // Bytes the document holds: its text's copy and its values' memory.
    size_t memoryUsed() const;

    CParsedJson(const CParsedJson&) = delete;
    CParsedJson& operator=(const CParsedJson&) = delete;

   private:
    // Room for a text of `length` bytes and its terminator.
    explicit CParsedJson(size_t length);

    size_t length_;                 // bytes of the text, without the terminator
    std::unique_ptr<char[]> text_;  // the text and its terminator; the document's strings live here
    rapidjson::Document document_;
    CExactNumbers exact_;
};

class CJsonReader {
   public:
    CJsonReader() = default;
    CJsonReader(const CJsonReader&) = delete;
    CJsonReader& operator=(const CJsonReader&) = delete;

    // The document the instance holds now; null when it has none.
    std::shared_ptr<const CParsedJson> document() const;

    // Makes `document` (null: none) the instance's document. The one it replaces is
    // freed here, after the lock is released, unless a read still holds it.
    void setDocument(std::shared_ptr<const CParsedJson> document);

   private:
    mutable CMutex mtx_;
    std::shared_ptr<const CParsedJson> document_ GUARDED_BY(mtx_);
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

    // The document the instance holds now; null when it has none.
    std::shared_ptr<const CParsedJson> documentOf(const void* instance) const;

    // Forgets every instance. Reads still running keep the documents they hold until
    // they return; a parse still running stores into a state no longer reachable.
    void clear();

   private:
    typedef std::unordered_map<const void*, std::shared_ptr<CJsonReader>> instance_map;

    mutable CSharedCounterLock mtx_;
    instance_map readers_ GUARDED_BY(mtx_);
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
ReaderKind KindOf(const rapidjson::Value* value);

// Elements of an array, members of an object, -1 for anything else or null.
int32_t SizeOf(const rapidjson::Value* value);

// Exact conversions: true and the value only when `value` converts without wrapping or
// rounding (an integer, or a number with an integral value, within the type's range; for
// LREAL any finite number, to the nearest double). False leaves `out` alone.
bool ToDint(const rapidjson::Value& value, int32_t& out);
bool ToLint(const rapidjson::Value& value, int64_t& out);
bool ToLreal(const rapidjson::Value& value, double& out);

// Copies the `length` bytes at `text` as a zero-terminated string into `buffer` of
// `size` bytes: at most size - 1 bytes, cut back so that no UTF-8 character is split,
// then a zero byte. The bytes end at a zero byte inside the text too (an IEC STRING
// cannot hold one). True when the whole text was copied: it fit and held no zero byte.
// Size 0 writes nothing and gives false.
bool CopyStringOut(const char* text, size_t length, char* buffer, uint32_t size);

#endif  // READER_JSONREADER_H
