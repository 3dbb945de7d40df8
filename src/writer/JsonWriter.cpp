// Writer instance state: the nesting grammar, the pending member filled in place, the
// memory cap and the cached text of each instance's document.
#include "writer/JsonWriter.h"

#include <algorithm>
#include <cstring>

#include "frame/LogTexts.h"
#include "json/Utf8.h"

namespace {

// Open containers the stack has room for before it grows.
constexpr size_t kOpenContainers = 16;

CWriterOutcome Done() { return CWriterOutcome{true, nullptr}; }
CWriterOutcome Refused(const char* text) { return CWriterOutcome{false, text}; }
CWriterOutcome Refused(ELogText text) { return CWriterOutcome{false, LogText(text)}; }

CJsonValue CopiedString(const char* text, CJsonDocument::AllocatorType& allocator) {
    return CJsonValue(text, static_cast<rapidjson::SizeType>(std::strlen(text)), allocator);
}

// Appends (name, value) to an object of the document. RapidJSON raises an object's
// capacity before it asks for the memory to grow into: a growth refused (CMemoryRefused)
// would leave the object claiming room it has not got, and the next member would be
// written beyond its members. The object's own bytes are put back before the refusal goes
// on; name and value are not taken until the memory is there.
void AppendMember(CJsonValue& object, CJsonValue& name, CJsonValue& value, CDocumentPool& pool) {
    unsigned char before[sizeof(CJsonValue)];
    std::memcpy(before, static_cast<const void*>(&object), sizeof(before));
    try {
        object.AddMember(name, value, pool);
    } catch (...) {
        std::memcpy(static_cast<void*>(&object), before, sizeof(before));
        throw;
    }
}

}  // namespace

CJsonWriter::CJsonWriter(size_t memoryCap)
    : budget_(memoryCap),
      pool_(&budget_),
      stacks_(&budget_),
      document_(&pool_, 1024, &stacks_.document),
      textBudget_(2 * memoryCap + 2),
      textBlock_(&textBudget_),
      text_(textBlock_, memoryCap) {
    CExclusiveLock<CMutex> lock(mutex_);
    open_.reserve(kOpenContainers);
}

void CJsonWriter::Reset() {
    CExclusiveLock<CMutex> lock(mutex_);
    // The cycle that ends used this much: that much is kept for the next, the rest given
    // back. Nothing of the old document is used after the rewind.
    const size_t used = pool_.Used();
    pool_.Rewind();
    pool_.Trim(used);
    document_.SetObject();
    hasDocument_ = true;
    open_.clear();
    open_.push_back(&document_);
    pending_ = false;
    capLogged_ = false;
    // The text's buffer grows by half at a time: it is given back only when it holds more
    // than twice what the last cycle's text took.
    text_.Release(2 * (textUsed_ + 1) + 512);
    textUsed_ = 0;
    Changed();
}

CWriterOutcome CJsonWriter::MemoryRefusal() {
    if (capLogged_) {
        return Refused(nullptr);
    }
    capLogged_ = true;
    return Refused(ELogText::kMemoryCap);
}

template <typename Add>
CWriterOutcome CJsonWriter::Guarded(Add add) {
    const CDocumentPool::Position start = pool_.Here();
    const size_t capacity = pool_.Capacity();
    const size_t documentStack = stacks_.document.Capacity();
    const size_t parserStack = stacks_.parser.Capacity();
    const size_t parserText = stacks_.text.Capacity();
    CWriterOutcome outcome;
    try {
        outcome = add();
    } catch (const std::bad_alloc&) {
        outcome = MemoryRefusal();
    }
    if (!outcome.done) {
        // Nothing the add made is in the document: the pool hands it out again, and
        // memory the add took beyond what the instance held goes back to the heap.
        pool_.RewindTo(start);
        pool_.TrimUnused(capacity);
        stacks_.document.Trim(documentStack);
        stacks_.parser.Trim(parserStack);
        stacks_.text.Trim(parserText);
    }
    return outcome;
}

void CJsonWriter::Changed() {
    textCurrent_ = false;
    ++change_;
}

void CJsonWriter::Place(CJsonValue& value) {
    CJsonValue& innermost = Innermost();
    if (innermost.IsArray()) {
        innermost.PushBack(value, pool_);
    } else {
        innermost.MemberBegin()[pendingIndex_].value = value;  // moves
        pending_ = false;
    }
    Changed();
}

CWriterOutcome CJsonWriter::AddKey(const char* key, bool makePending) {
    CExclusiveLock<CMutex> lock(mutex_);
    if (!hasDocument_) {
        return Refused(ELogText::kNoDocument);
    }
    if (Innermost().IsArray()) {
        return Refused(ELogText::kKeyInArray);
    }
    return Guarded([&]() REQUIRES(mutex_) {
        // A member of the same name may exist already; the object then holds both.
        CJsonValue name = CopiedString(key, pool_);
        CJsonValue null;
        AppendMember(Innermost(), name, null, pool_);
        if (makePending) {
            pending_ = true;
            pendingIndex_ = Innermost().MemberCount() - 1;
        }
        Changed();
        return Done();
    });
}

CWriterOutcome CJsonWriter::AddMember(const char* key, CJsonValueSource& source) {
    CExclusiveLock<CMutex> lock(mutex_);
    if (!hasDocument_) {
        return Refused(nullptr);  // key-value adds without a document leave no log entry
    }
    if (Innermost().IsArray()) {
        return Refused(ELogText::kKeyInArray);
    }
    return Guarded([&]() REQUIRES(mutex_) {
        CJsonValue value;
        const char* refusal = source.Make(pool_, format_, value, stacks_);
        if (refusal != nullptr) {
            return Refused(refusal);
        }
        CJsonValue name = CopiedString(key, pool_);
        AppendMember(Innermost(), name, value, pool_);
        Changed();
        return Done();
    });
}

CWriterOutcome CJsonWriter::AddValue(CJsonValueSource& source) {
    CExclusiveLock<CMutex> lock(mutex_);
    if (!hasDocument_ || (Innermost().IsObject() && !pending_)) {
        return Refused(ELogText::kNoPendingKey);
    }
    return Guarded([&]() REQUIRES(mutex_) {
        CJsonValue value;
        const char* refusal = source.Make(pool_, format_, value, stacks_);
        if (refusal != nullptr) {
            return Refused(refusal);
        }
        Place(value);
        return Done();
    });
}

CWriterOutcome CJsonWriter::AddVariable(const char* key, CJsonValueSource& source) {
    CExclusiveLock<CMutex> lock(mutex_);
    if (!hasDocument_) {
        return Refused(ELogText::kNoDocument);
    }
    return Guarded([&]() REQUIRES(mutex_) {
        CJsonValue value;
        const char* refusal = source.Make(pool_, format_, value, stacks_);
        if (refusal != nullptr) {
            return Refused(refusal);
        }
        if (Innermost().IsArray()) {
            Innermost().PushBack(value, pool_);
        } else {
            // Appended after the pending member, whose index therefore stays right.
            CJsonValue name = CopiedString(key, pool_);
            AppendMember(Innermost(), name, value, pool_);
        }
        Changed();
        return Done();
    });
}

CWriterOutcome CJsonWriter::AddChanges(const char* key, CJsonChangeSource& source) {
    CExclusiveLock<CMutex> lock(mutex_);
    if (!hasDocument_) {
        return Refused(ELogText::kNoDocument);
    }
    // A refused add gives the container its own bytes back (its room as it was: a grown
    // room's old members are still where they were) and the pool all it handed out.
    const CDocumentPool::Position start = pool_.Here();
    const size_t capacity = pool_.Capacity();
    unsigned char container[sizeof(CJsonValue)];
    std::memcpy(container, static_cast<const void*>(&Innermost()), sizeof(container));
    const CWriterOutcome outcome = Guarded([&]() REQUIRES(mutex_) {
        MakeRoom();
        // Found empty, the changes keep the room, so that a cycle that finds nothing again
        // and again grows nothing again, and give back the key's copy.
        const CDocumentPool::Position afterRoom = pool_.Here();
        const bool inArray = Innermost().IsArray();
        CJsonValue name;
        if (!inArray) {
            name = CopiedString(key, pool_);
        }
        CJsonValue value;
        bool made = false;
        const char* refusal = source.Make(pool_, format_, value, made);
        if (refusal != nullptr) {
            return Refused(refusal);
        }
        if (!made) {
            pool_.RewindTo(afterRoom);
            return Done();
        }
        // Within the room made above: neither takes memory, so neither can fail.
        if (inArray) {
            Innermost().PushBack(value, pool_);
        } else {
            AppendMember(Innermost(), name, value, pool_);
        }
        Changed();
        return Done();
    });
    if (!outcome.done) {
        std::memcpy(static_cast<void*>(&Innermost()), container, sizeof(container));
        pool_.RewindTo(start);
        pool_.TrimUnused(capacity);
    }
    return outcome;
}

void CJsonWriter::MakeRoom() {
    CJsonValue& innermost = Innermost();
    if (innermost.IsArray()) {
        // As PushBack grows an array: 16 elements, then by half.
        const rapidjson::SizeType capacity = innermost.Capacity();
        if (innermost.Size() == capacity) {
            innermost.Reserve(capacity == 0 ? 16 : capacity + (capacity + 1) / 2, pool_);
        }
        return;
    }
    // An object's room cannot be reserved: a member added and taken away again grows it
    // as an add would, and leaves its members as they were.
    CJsonValue name(rapidjson::StringRef(""));
    CJsonValue null;
    AppendMember(innermost, name, null, pool_);
    innermost.RemoveMember(innermost.MemberEnd() - 1);
}

CWriterOutcome CJsonWriter::Start(EJsonContainer kind) {
    CExclusiveLock<CMutex> lock(mutex_);
    if (!hasDocument_) {
        return Refused(ELogText::kNoDocument);
    }
    if (Innermost().IsObject() && !pending_) {
        return Refused(ELogText::kStartNeedsKey);
    }
    return Guarded([&]() REQUIRES(mutex_) {
        CJsonValue& innermost = Innermost();
        CJsonValue container(kind == EJsonContainer::kObject ? rapidjson::kObjectType
                                                             : rapidjson::kArrayType);
        if (open_.size() == open_.capacity()) {
            open_.reserve(open_.size() * 2);  // may throw: before anything changed
        }
        CJsonValue* placed = nullptr;
        if (innermost.IsArray()) {
            innermost.PushBack(container, pool_);
            placed = &innermost[innermost.Size() - 1];
        } else {
            placed = &innermost.MemberBegin()[pendingIndex_].value;
            *placed = container;
            pending_ = false;
        }
        // The parent gets nothing new while this container is open, so the address stays.
        open_.push_back(placed);
        Changed();
        return Done();
    });
}

CWriterOutcome CJsonWriter::End(EJsonContainer kind) {
    CExclusiveLock<CMutex> lock(mutex_);
    if (!hasDocument_) {
        return Refused(ELogText::kNoDocument);
    }
    const bool isObject = kind == EJsonContainer::kObject;
    if (open_.size() < 2 || Innermost().IsObject() != isObject) {
        return Refused(isObject ? ELogText::kNoObjectToEnd : ELogText::kNoArrayToEnd);
    }
    open_.pop_back();
    pending_ = false;
    ++change_;  // the text stays the same; the document's state does not
    return Done();
}

bool CJsonWriter::SetDecimalPlaces(int places) {
    if (places < 0 || places > kDefaultDecimalPlaces) {
        return false;
    }
    CExclusiveLock<CMutex> lock(mutex_);
    if (decimalPlaces_ != places) {
        decimalPlaces_ = places;
        Changed();
    }
    return true;
}

int CJsonWriter::DecimalPlaces() {
    CExclusiveLock<CMutex> lock(mutex_);
    return decimalPlaces_;
}

void CJsonWriter::SetFormat(uint32_t format) {
    CExclusiveLock<CMutex> lock(mutex_);
    if (format_ != format) {
        format_ = format;
        Changed();  // PRETTY and SHORT_REALS change the read-out
    }
}

uint32_t CJsonWriter::Format() {
    CExclusiveLock<CMutex> lock(mutex_);
    return format_;
}

bool CJsonWriter::RefreshText() {
    if (textCurrent_) {
        return true;
    }
    text_.Clear();
    JsonOutputOptions options;
    options.maxDecimalPlaces = decimalPlaces_;
    options.pretty = (format_ & ZENTRIK_FORMAT_PRETTY) != 0;
    options.shortestDecimals = (format_ & ZENTRIK_FORMAT_SHORT_REALS) != 0;
    try {
        SerializeDocument(document_, text_, options, scratch_);
        text_.GetString();  // room for the terminator
    } catch (const std::bad_alloc&) {
        // A text beyond its budget is not kept, nor the memory it took.
        text_.Release(0);
        return false;
    }
    textUsed_ = std::max(textUsed_, text_.GetSize());
    textCurrent_ = true;
    return true;
}

EWriterRead CJsonWriter::CopyTextCut(char* field, size_t fieldSize) {
    return Read([field, fieldSize](const char* text, size_t length, uint32_t) {
        const size_t count = std::min(length, fieldSize - 1);
        std::memcpy(field, text, count);
        field[count] = '\0';
    });
}

EWriterRead CJsonWriter::TextLength(size_t& length) {
    return Read([&length](const char*, size_t size, uint32_t) { length = size; });
}

EWriterRead CJsonWriter::CopyText(void* buffer, size_t size) {
    return Read([buffer, size](const char* text, size_t length, uint32_t) {
        const size_t count = std::min(size, length + 1);
        if (count > 0) {
            std::memcpy(buffer, text, count);
        }
    });
}

EWriterRead CJsonWriter::CopyTextPart(size_t offset, char* buffer, size_t size, size_t& copied,
                                      size_t& length, uint32_t& change) {
    return Read([&](const char* text, size_t textLength, uint32_t textChange) {
        length = textLength;
        change = textChange;
        copied = 0;
        if (offset < textLength && size > 0) {
            // The part ends before a character it would cut.
            const size_t count = FitUtf8(text + offset, textLength - offset, size - 1);
            std::memcpy(buffer, text + offset, count);
            copied = count;
        }
        if (size > 0) {
            buffer[copied] = '\0';
        }
    });
}

size_t CJsonWriter::MemoryHeld() {
    CExclusiveLock<CMutex> lock(mutex_);
    return budget_.held() + textBudget_.held();
}
