// Counted heap memory, the document pool and the retained stack block.
#include "json/JsonMemory.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kAlignment = 8;
// The first chunk's size; later chunks grow with the pool (a quarter of what it holds,
// at most kLargestChunk), so a large document takes few chunks and a small one little memory.
constexpr size_t kFirstChunk = 4 * 1024;
constexpr size_t kLargestChunk = 16 * 1024 * 1024;

size_t Aligned(size_t size) { return (size + kAlignment - 1) & ~(kAlignment - 1); }

}  // namespace

struct CPoolChunk {
    CPoolChunk* next;
    size_t capacity;  // bytes after the header
    char* data() { return reinterpret_cast<char*>(this) + Aligned(sizeof(CPoolChunk)); }
};

void* CMemoryBudget::Take(size_t bytes) {
    if (bytes > room()) {
        throw CMemoryRefused(false);
    }
    void* memory = ::operator new(bytes, std::nothrow);
    if (memory == nullptr) {
        throw CMemoryRefused(true);
    }
    held_ += bytes;
    return memory;
}

void CMemoryBudget::Give(void* memory, size_t bytes) {
    if (memory != nullptr) {
        ::operator delete(memory);
        held_ -= bytes;
    }
}

CDocumentPool::CDocumentPool(CMemoryBudget* budget) : budget_(budget ? budget : &ownBudget_) {}

CDocumentPool::~CDocumentPool() {
    Rewind();
    Trim(0);
}

void* CDocumentPool::Bump(size_t size) {
    void* memory = current_->data() + used_;
    used_ += size;
    return memory;
}

void CDocumentPool::AddChunk(size_t size) {
    size_t capacity = std::max(size, std::min(kLargestChunk, std::max(kFirstChunk, capacity_ / 4)));
    const size_t header = Aligned(sizeof(CPoolChunk));
    // Near the end of the budget a chunk takes only what is left, as long as that holds
    // the request.
    if (capacity + header > budget_->room() && size + header <= budget_->room()) {
        capacity = (budget_->room() - header) & ~(kAlignment - 1);
    }
    CPoolChunk* chunk = static_cast<CPoolChunk*>(budget_->Take(capacity + header));
    chunk->capacity = capacity;
    if (current_ == nullptr) {
        chunk->next = first_;
        first_ = chunk;
    } else {
        chunk->next = current_->next;
        current_->next = chunk;
        before_ += current_->capacity;
    }
    capacity_ += capacity;
    current_ = chunk;
    used_ = 0;
}

void* CDocumentPool::Malloc(size_t size) {
    if (size == 0) {
        return nullptr;
    }
    size = Aligned(size);
    if (current_ != nullptr && size <= current_->capacity - used_) {
        return Bump(size);
    }
    CPoolChunk* next = current_ == nullptr ? first_ : current_->next;
    if (next != nullptr && size <= next->capacity) {
        if (current_ != nullptr) {
            before_ += current_->capacity;
        }
        current_ = next;
        used_ = 0;
        return Bump(size);
    }
    AddChunk(size);
    return Bump(size);
}

void* CDocumentPool::Realloc(void* original, size_t originalSize, size_t newSize) {
    if (original == nullptr) {
        return Malloc(newSize);
    }
    if (newSize == 0) {
        return nullptr;
    }
    originalSize = Aligned(originalSize);
    newSize = Aligned(newSize);
    if (originalSize >= newSize) {
        return original;
    }
    // The last block handed out grows in place when its chunk has room.
    if (current_ != nullptr && static_cast<char*>(original) + originalSize == current_->data() + used_ &&
        newSize - originalSize <= current_->capacity - used_) {
        used_ += newSize - originalSize;
        return original;
    }
    void* moved = Malloc(newSize);
    std::memcpy(moved, original, originalSize);
    return moved;
}

void CDocumentPool::RewindTo(const Position& position) {
    current_ = position.chunk;
    used_ = position.used;
    before_ = position.before;
}

void CDocumentPool::Trim(size_t keep) {
    CPoolChunk** link = &first_;
    size_t kept = 0;
    while (*link != nullptr && kept < keep) {
        kept += (*link)->capacity;
        link = &(*link)->next;
    }
    CPoolChunk* chunk = *link;
    *link = nullptr;
    while (chunk != nullptr) {
        CPoolChunk* next = chunk->next;
        capacity_ -= chunk->capacity;
        budget_->Give(chunk, chunk->capacity + Aligned(sizeof(CPoolChunk)));
        chunk = next;
    }
}

void CDocumentPool::TrimUnused(size_t capacity) {
    CPoolChunk** link = current_ == nullptr ? &first_ : &current_->next;
    while (*link != nullptr && capacity_ > capacity) {
        CPoolChunk* chunk = *link;
        *link = chunk->next;
        capacity_ -= chunk->capacity;
        budget_->Give(chunk, chunk->capacity + Aligned(sizeof(CPoolChunk)));
    }
}

void* CRetainedBlock::Realloc(void* original, size_t originalSize, size_t newSize) {
    if (newSize <= capacity_) {
        return block_;
    }
    const bool keep = original != nullptr && original == block_ && originalSize > 0;
    if (!keep) {
        Trim(0);
        block_ = budget_->Take(newSize);
        capacity_ = newSize;
        return block_;
    }
    // The bytes to keep are copied: the budget sees both blocks for that moment.
    void* grown = budget_->Take(newSize);
    std::memcpy(grown, block_, std::min(originalSize, capacity_));
    budget_->Give(block_, capacity_);
    block_ = grown;
    capacity_ = newSize;
    return block_;
}

void CRetainedBlock::Trim(size_t keep) {
    if (capacity_ > keep) {
        budget_->Give(block_, capacity_);
        block_ = nullptr;
        capacity_ = 0;
    }
}

void CTextBuffer::Grow(size_t count) {
    const size_t needed = size_ + count;
    if (needed > limit_ + 1) {
        throw CMemoryRefused(false);
    }
    const size_t capacity = std::min(std::max(needed, capacity_ + capacity_ / 2 + 256), limit_ + 1);
    try {
        data_ = static_cast<char*>(block_.Realloc(data_, size_, capacity));
    } catch (const std::bad_alloc&) {
        if (block_.Capacity() == 0) {
            data_ = nullptr;  // an empty text's block went back before the larger one was refused
            capacity_ = 0;
        }
        throw;
    }
    capacity_ = capacity;
}

void CTextBuffer::Release(size_t keep) {
    size_ = 0;
    if (block_.Capacity() > keep) {
        block_.Trim(keep);
        data_ = nullptr;
        capacity_ = 0;
    }
}
