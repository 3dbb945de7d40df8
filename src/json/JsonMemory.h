// The memory of the JSON values the component keeps for function block instances, and
// the types of those values.
//
// - CMemoryBudget: the bytes one instance (or one parse) may take from the heap, and what
//   it holds now. Every allocator below charges it before it takes memory and refunds it
//   when it gives memory back, so a document can never hold more than its budget,
//   whatever the text or the adds ask for.
// - CDocumentPool: the allocator of a document's values (RapidJSON's Allocator concept).
//   Hands out memory from a list of chunks it keeps; Rewind() and RewindTo() start
//   handing out again from an earlier position without freeing anything, so a document
//   that is rebuilt every cycle takes nothing from the heap once its chunks are there.
//   Trim() gives back the chunks beyond a size.
// - CRetainedBlock: the allocator of one RapidJSON stack (a parser's stack, a document's
//   stack while it is parsed, a text buffer): one block that grows on demand and is kept
//   across uses.
//
// Memory that cannot be had, over the budget or from the heap, is refused by throwing
// CMemoryRefused (a std::bad_alloc). RapidJSON assumes its allocators never fail; the
// exception leaves its code through its own scope guards before any null pointer is
// used, and the component catches it where the call is refused. Nothing here is
// thread-safe: each object belongs to one instance and is used under that instance's
// lock, or to one parse on one thread.
#ifndef JSON_JSONMEMORY_H
#define JSON_JSONMEMORY_H

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "json/DocumentLimits.h"

// Memory was refused: over the budget, or the heap had none left.
class CMemoryRefused : public std::bad_alloc {
   public:
    explicit CMemoryRefused(bool heapExhausted) : heapExhausted_(heapExhausted) {}
    const char* what() const noexcept override { return "memory refused"; }
    // The heap had no memory (rather than the budget no room).
    bool heapExhausted() const { return heapExhausted_; }

   private:
    bool heapExhausted_;
};

class CMemoryBudget {
   public:
    explicit CMemoryBudget(size_t limit = kDocumentMemoryCap) : limit_(limit) {}
    CMemoryBudget(const CMemoryBudget&) = delete;
    CMemoryBudget& operator=(const CMemoryBudget&) = delete;

    // Heap memory of `bytes` charged to the budget; throws CMemoryRefused (nothing
    // charged) when the budget or the heap has no room for it.
    void* Take(size_t bytes);
    // Gives back memory that Take returned, with its size.
    void Give(void* memory, size_t bytes);

    size_t held() const { return held_; }
    size_t limit() const { return limit_; }
    // Bytes that may still be taken.
    size_t room() const { return limit_ - held_; }

   private:
    const size_t limit_;
    size_t held_ = 0;
};

// A standard allocator whose memory is charged to a budget: a container of it throws
// CMemoryRefused when the budget (or the heap) has no room.
template <typename T>
class CBudgetAllocator {
   public:
    typedef T value_type;
    explicit CBudgetAllocator(CMemoryBudget* budget) : budget_(budget) {}
    template <typename U>
    CBudgetAllocator(const CBudgetAllocator<U>& other) : budget_(other.budget()) {}

    T* allocate(size_t count) { return static_cast<T*>(budget_->Take(count * sizeof(T))); }
    void deallocate(T* memory, size_t count) { budget_->Give(memory, count * sizeof(T)); }
    CMemoryBudget* budget() const { return budget_; }

    friend bool operator==(const CBudgetAllocator& a, const CBudgetAllocator& b) {
        return a.budget_ == b.budget_;
    }
    friend bool operator!=(const CBudgetAllocator& a, const CBudgetAllocator& b) {
        return a.budget_ != b.budget_;
    }

   private:
    CMemoryBudget* budget_;
};

struct CPoolChunk;  // one chunk of a CDocumentPool (JsonMemory.cpp)

class CDocumentPool {
   public:
    static const bool kNeedFree = false;

    // budget: charged for every chunk; null: a budget of the pool's own at the memory cap.
    explicit CDocumentPool(CMemoryBudget* budget = nullptr);
    ~CDocumentPool();
    CDocumentPool(const CDocumentPool&) = delete;
    CDocumentPool& operator=(const CDocumentPool&) = delete;

    // RapidJSON's Allocator concept. Memory is never freed one block at a time.
    void* Malloc(size_t size);
    void* Realloc(void* original, size_t originalSize, size_t newSize);
    static void Free(void*) {}

    // A position in the pool: RewindTo(position) gives up everything handed out since,
    // keeping its chunks for what is handed out next. Valid as long as nothing handed out
    // after the position is still used.
    struct Position {
        CPoolChunk* chunk;
        size_t used;
        size_t before;
    };
    Position Here() const { return Position{current_, used_, before_}; }
    void RewindTo(const Position& position);
    void Rewind() { RewindTo(Position{nullptr, 0, 0}); }

    // Bytes handed out since the last rewind (the chunks passed, whole, and the current
    // chunk's used part).
    size_t Used() const { return before_ + used_; }
    // Bytes of the chunks held.
    size_t Capacity() const { return capacity_; }
    // Gives back the chunks beyond those that together hold `keep` bytes. Only right after
    // Rewind(): nothing handed out may be in use.
    void Trim(size_t keep);
    // Gives back chunks after the current one (none of them in use) while the pool holds
    // more than `capacity` bytes.
    void TrimUnused(size_t capacity);

    CMemoryBudget& budget() { return *budget_; }

   private:
    void* Bump(size_t size);
    // A new chunk of at least `size` bytes, linked after the current one.
    void AddChunk(size_t size);

    CMemoryBudget ownBudget_;
    CMemoryBudget* budget_;
    CPoolChunk* first_ = nullptr;    // chunks in the order they are handed out
    CPoolChunk* current_ = nullptr;  // null: nothing handed out since the rewind
    size_t used_ = 0;                // bytes handed out from current_
    size_t before_ = 0;              // bytes of the chunks before current_
    size_t capacity_ = 0;
};

class CRetainedBlock {
   public:
    static const bool kNeedFree = false;

    // budget: charged for the block; null: a budget of its own at the memory cap.
    explicit CRetainedBlock(CMemoryBudget* budget = nullptr) : budget_(budget ? budget : &ownBudget_) {}
    ~CRetainedBlock() { Trim(0); }
    CRetainedBlock(const CRetainedBlock&) = delete;
    CRetainedBlock& operator=(const CRetainedBlock&) = delete;

    // RapidJSON's Allocator concept, for one stack at a time: the block is the stack's
    // memory whatever `original` says, grown (keeping its first originalSize bytes of
    // `original`, when that is the block) when the stack needs more. A block whose bytes
    // need not be kept is given back before the larger one is taken, so that the budget
    // never holds both: whether a use fits does not depend on the sizes of the uses before
    // it. When the larger block is refused, a block given back stays given back (Capacity
    // 0). Free does nothing: the block stays for the next use.
    void* Malloc(size_t size) { return Realloc(nullptr, 0, size); }
    void* Realloc(void* original, size_t originalSize, size_t newSize);
    static void Free(void*) {}

    size_t Capacity() const { return capacity_; }
    // Gives the block back when it holds more than `keep` bytes. Only while no stack uses it.
    void Trim(size_t keep);

   private:
    CMemoryBudget ownBudget_;
    CMemoryBudget* budget_;
    void* block_ = nullptr;
    size_t capacity_ = 0;
};

// The values, documents and texts of the component: RapidJSON's, over the allocators above.
typedef rapidjson::GenericValue<rapidjson::UTF8<>, CDocumentPool> CJsonValue;
typedef rapidjson::GenericDocument<rapidjson::UTF8<>, CDocumentPool, CRetainedBlock> CJsonDocument;

// The first and the last sizeof(Word) bytes of a run of sizeof(Word) to twice that.
template <typename Word>
inline void CopyOverlapping(char* to, const char* from, size_t count) {
    Word first;
    Word last;
    std::memcpy(&first, from, sizeof(Word));
    std::memcpy(&last, from + count - sizeof(Word), sizeof(Word));
    std::memcpy(to, &first, sizeof(Word));
    std::memcpy(to + count - sizeof(Word), &last, sizeof(Word));
}

// Copies a run of at most 32 bytes inline with loads that overlap within the run, where
// a call to memcpy costs more than the copy (a number's digits, a literal, a short
// string).
inline void CopyShortRun(char* to, const char* bytes, size_t count) {
    if (count >= 16) {
        CopyOverlapping<uint64_t>(to, bytes, 16);
        CopyOverlapping<uint64_t>(to + count - 16, bytes + count - 16, 16);
    } else if (count >= 8) {
        CopyOverlapping<uint64_t>(to, bytes, count);
    } else if (count >= 4) {
        CopyOverlapping<uint32_t>(to, bytes, count);
    } else if (count > 0) {
        to[0] = bytes[0];
        to[count / 2] = bytes[count / 2];
        to[count - 1] = bytes[count - 1];
    }
}

// A text being written (by the serialiser, JsonOutput.h), in a CRetainedBlock that it
// keeps from one text to the next. It holds at most `limit` bytes and its terminator:
// more is refused (CMemoryRefused). It grows by half its size at a time, never beyond
// that, so while it grows it holds at most twice the limit for a moment (the block's
// budget must allow that).
class CTextBuffer {
   public:
    CTextBuffer(CRetainedBlock& block, size_t limit) : block_(block), limit_(limit) {}
    CTextBuffer(const CTextBuffer&) = delete;
    CTextBuffer& operator=(const CTextBuffer&) = delete;

    // Room for `count` more bytes; throws CMemoryRefused when the budget has none.
    void Reserve(size_t count) {
        if (count > capacity_ - size_) {
            Grow(count);
        }
    }
    // The bytes that fit before the text must grow.
    size_t Room() const { return capacity_ - size_; }
    // Where the next byte goes, for a writer that fills room reserved before and then
    // says where it stopped (SetTail).
    char* Tail() { return data_ + size_; }
    void SetTail(char* tail) { size_ = static_cast<size_t>(tail - data_); }

    void Clear() { size_ = 0; }
    // The text, terminated.
    const char* GetString() {
        Reserve(1);
        data_[size_] = '\0';
        return data_;
    }
    size_t GetSize() const { return size_; }
    // Empties the text and gives its block back when it holds more than `keep` bytes.
    void Release(size_t keep);

   private:
    void Grow(size_t count);
    CRetainedBlock& block_;
    const size_t limit_;
    char* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

#endif  // JSON_JSONMEMORY_H
