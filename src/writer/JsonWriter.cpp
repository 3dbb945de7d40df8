// Writer instance state: the nesting grammar, the pending member filled in place, the
// memory cap and the cached text of each instance's document.
#include "writer/JsonWriter.h"

#include <algorithm>
#include <cstring>

#include "frame/LogTexts.h"

namespace {

// Room a member or element takes besides its strings, with some slack for the growth
// of the container's storage.
constexpr size_t kSlotBytes = 64;
// Estimated growth after which a document's memory is measured again.
constexpr size_t kMeasureEvery = 64 * 1024;

CWriterOutcome Done() { return CWriterOutcome{true, nullptr}; }
CWriterOutcome Refused(const char* text) { return CWriterOutcome{false, text}; }
CWriterOutcome Refused(ELogText text) { return CWriterOutcome{false, LogText(text)}; }

rapidjson::Value CopiedString(const char* text, rapidjson::Document::AllocatorType& allocator) {
    return rapidjson::Value(text, static_cast<rapidjson::SizeType>(std::strlen(text)), allocator);
}

}  // namespace

void CJsonWriter::Reset() {
    // Built before and freed after the lock, so the lock covers only the exchange.
    std::unique_ptr<rapidjson::Document> document(new rapidjson::Document());
    document->SetObject();
    std::vector<rapidjson::Value*> open;
    open.reserve(16);
    {
        CExclusiveLock<CMutex> lock(mutex_);
        document_.swap(document);
        open_.swap(open);
        open_.push_back(document_.get());
        pending_ = false;
        capLogged_ = false;
        usedEstimate_ = usedMeasured_ = 0;
        textCurrent_ = false;
    }
}

CWriterOutcome CJsonWriter::CheckMemory(size_t bytes) {
    const size_t cap = memoryCap_;
    // Measuring walks the pool's chunks, so it is done only when the estimate comes
    // near the cap or has grown by a chunk's worth since the last measurement.
    if (usedEstimate_ > cap || bytes > cap - usedEstimate_ || usedEstimate_ - usedMeasured_ > kMeasureEvery) {
        usedMeasured_ = usedEstimate_ = document_->GetAllocator().Size();
    }
    if (usedEstimate_ <= cap && bytes <= cap - usedEstimate_) {
        usedEstimate_ += bytes;
        return Done();
    }
    if (capLogged_) {
        return Refused(nullptr);
    }
    capLogged_ = true;
    return Refused(ELogText::kMemoryCap);
}

CWriterOutcome CJsonWriter::CheckMemoryAfter() {
    // The value made may have taken more than was known before: measure.
    usedMeasured_ = usedEstimate_ = document_->GetAllocator().Size();
    return CheckMemory(0);
}

CWriterOutcome CJsonWriter::MakeValue(CJsonValueSource& source, rapidjson::Value& value) {
    const char* refusal = source.Make(document_->GetAllocator(), format_, value);
    if (refusal != nullptr) {
        return Refused(refusal);
    }
    return CheckMemoryAfter();
}

void CJsonWriter::Place(rapidjson::Value& value) {
    rapidjson::Value& innermost = Innermost();
    if (innermost.IsArray()) {
        innermost.PushBack(value, document_->GetAllocator());
    } else {
        innermost.MemberBegin()[pendingIndex_].value = value;  // moves
        pending_ = false;
    }
    textCurrent_ = false;
}

CWriterOutcome CJsonWriter::AddKey(const char* key, bool makePending) {
    CExclusiveLock<CMutex> lock(mutex_);
    if (!document_) {
        return Refused(ELogText::kNoDocument);
    }
    if (Innermost().IsArray()) {
        return Refused(ELogText::kKeyInArray);
    }
    const CWriterOutcome memory = CheckMemory(std::strlen(key) + kSlotBytes);
    if (!memory.done) {
        return memory;
    }
    rapidjson::Document::AllocatorType& allocator = document_->GetAllocator();
    // A member of the same name may exist already; the object then holds both.
    Innermost().AddMember(CopiedString(key, allocator), rapidjson::Value(), allocator);
    if (makePending) {
        pending_ = true;
        pendingIndex_ = Innermost().MemberCount() - 1;
    }
    textCurrent_ = false;
    return Done();
}

CWriterOutcome CJsonWriter::AddMember(const char* key, CJsonValueSource& source) {
    CExclusiveLock<CMutex> lock(mutex_);
    if (!document_) {
        return Refused(nullptr);  // key-value adds without a document leave no log entry
    }
    if (Innermost().IsArray()) {
        return Refused(ELogText::kKeyInArray);
    }
    const CWriterOutcome memory = CheckMemory(std::strlen(key) + source.Bytes() + kSlotBytes);
    if (!memory.done) {
        return memory;
    }
    rapidjson::Document::AllocatorType& allocator = document_->GetAllocator();
    rapidjson::Value value;
    const char* refusal = source.Make(allocator, format_, value);
    if (refusal != nullptr) {
        return Refused(refusal);
    }
    Innermost().AddMember(CopiedString(key, allocator), value, allocator);
    textCurrent_ = false;
    return Done();
}

CWriterOutcome CJsonWriter::AddValue(CJsonValueSource& source) {
    CExclusiveLock<CMutex> lock(mutex_);
    if (!document_ || (Innermost().IsObject() && !pending_)) {
        return Refused(ELogText::kNoPendingKey);
    }
    const CWriterOutcome memory = CheckMemory(source.Bytes() + kSlotBytes);
    if (!memory.done) {
        return memory;
    }
    rapidjson::Value value;
    const CWriterOutcome made = MakeValue(source, value);
    if (!made.done) {
        return made;
    }
    Place(value);
    return Done();
}

CWriterOutcome CJsonWriter::AddVariable(const char* key, CJsonValueSource& source) {
    CExclusiveLock<CMutex> lock(mutex_);
    if (!document_) {
        return Refused(ELogText::kNoDocument);
    }
    const bool inArray = Innermost().IsArray();
    const CWriterOutcome memory = CheckMemory((inArray ? 0 : std::strlen(key)) + kSlotBytes);
    if (!memory.done) {
        return memory;
    }
    rapidjson::Value value;
    const CWriterOutcome made = MakeValue(source, value);
    if (!made.done) {
        return made;
    }
    rapidjson::Document::AllocatorType& allocator = document_->GetAllocator();
    if (inArray) {
        Innermost().PushBack(value, allocator);
    } else {
        // Appended after the pending member, whose index therefore stays right.
        Innermost().AddMember(CopiedString(key, allocator), value, allocator);
    }
    textCurrent_ = false;
    return Done();
}

CWriterOutcome CJsonWriter::Start(EJsonContainer kind) {
    CExclusiveLock<CMutex> lock(mutex_);
    if (!document_) {
        return Refused(ELogText::kNoDocument);
    }
    rapidjson::Value& innermost = Innermost();
    if (innermost.IsObject() && !pending_) {
        return Refused(ELogText::kStartNeedsKey);
    }
    const CWriterOutcome memory = CheckMemory(kSlotBytes);
    if (!memory.done) {
        return memory;
    }
    rapidjson::Value container(kind == EJsonContainer::kObject ? rapidjson::kObjectType
                                                               : rapidjson::kArrayType);
    rapidjson::Value* placed = nullptr;
    if (innermost.IsArray()) {
        innermost.PushBack(container, document_->GetAllocator());
        placed = &innermost[innermost.Size() - 1];
    } else {
        placed = &innermost.MemberBegin()[pendingIndex_].value;
        *placed = container;
        pending_ = false;
    }
    // The parent gets nothing new while this container is open, so the address stays.
    open_.push_back(placed);
    textCurrent_ = false;
    return Done();
}

CWriterOutcome CJsonWriter::End(EJsonContainer kind) {
    CExclusiveLock<CMutex> lock(mutex_);
    if (!document_) {
        return Refused(ELogText::kNoDocument);
    }
    const bool isObject = kind == EJsonContainer::kObject;
    if (open_.size() < 2 || Innermost().IsObject() != isObject) {
        return Refused(isObject ? ELogText::kNoObjectToEnd : ELogText::kNoArrayToEnd);
    }
    open_.pop_back();
    pending_ = false;
    return Done();
}

bool CJsonWriter::SetDecimalPlaces(int places) {
    if (places < 0 || places > kDefaultDecimalPlaces) {
        return false;
    }
    CExclusiveLock<CMutex> lock(mutex_);
    if (decimalPlaces_ != places) {
        decimalPlaces_ = places;
        textCurrent_ = false;
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
        textCurrent_ = false;  // PRETTY and SHORT_REALS change the read-out
    }
}

uint32_t CJsonWriter::Format() {
    CExclusiveLock<CMutex> lock(mutex_);
    return format_;
}

void CJsonWriter::RefreshText() {
    if (textCurrent_) {
        return;
    }
    text_.Clear();
    JsonOutputOptions options;
    options.maxDecimalPlaces = decimalPlaces_;
    options.pretty = (format_ & ZENTRIK_FORMAT_PRETTY) != 0;
    options.shortestDecimals = (format_ & ZENTRIK_FORMAT_SHORT_REALS) != 0;
    SerializeDocument(*document_, text_, options);
    textCurrent_ = true;
}

bool CJsonWriter::CopyTextCut(char* field, size_t fieldSize) {
    return Read([field, fieldSize](const char* text, size_t length) {
        const size_t count = std::min(length, fieldSize - 1);
        std::memcpy(field, text, count);
        field[count] = '\0';
    });
}

bool CJsonWriter::TextLength(size_t& length) {
    return Read([&length](const char*, size_t size) { length = size; });
}

bool CJsonWriter::CopyText(void* buffer, size_t size) {
    return Read([buffer, size](const char* text, size_t length) {
        const size_t count = std::min(size, length + 1);
        if (count > 0) {
            std::memcpy(buffer, text, count);
        }
    });
}

void CWriterInstances::Insert(fb_jsonsaxwriter_struct* instance) {
    Map made;
    made.emplace(instance, std::unique_ptr<CJsonWriter>(new CJsonWriter()));
    Map::insert_return_type inserted;
    {
        CExclusiveLock<CSharedCounterLock> lock(mutex_);
        inserted = states_.insert(made.extract(made.begin()));
    }
}

void CWriterInstances::Clear() {
    Map dropped;
    {
        CExclusiveLock<CSharedCounterLock> lock(mutex_);
        dropped.swap(states_);
    }
    // The documents are freed here, after the lock.
}

size_t CWriterInstances::Size() {
    CSharedLock<CSharedCounterLock> lock(mutex_);
    return states_.size();
}
