// The reader block's reads into the caller's record fields and buffers.
#include "reader/ReaderReads.h"

#include <algorithm>
#include <cstring>

#include "json/JsonOutput.h"
#include "json/JsonPointer.h"

namespace {

// Empties the caller's buffer when there is room for the terminator.
void ClearBuffer(char* buffer, uint32_t size) {
    if (size > 0) {
        buffer[0] = '\0';
    }
}

}  // namespace

const CJsonValue* FindInDocument(const CDocumentRef& document, const char* path) {
    return document ? FindByPointer(document->root(), path) : nullptr;
}

uint32_t ClampedLength(size_t length) { return static_cast<uint32_t>(std::min<size_t>(length, UINT32_MAX)); }

void StoreParseOutcome(bool parsed, const CJsonParseError& failure, uint32_t& errorOffset, char* error) {
    errorOffset = parsed ? 0 : ClampedLength(failure.offset);
    const char* reason = parsed ? "" : failure.reason;
    const size_t n = std::min(std::strlen(reason), kReaderErrorField - 1);
    std::memcpy(error, reason, n);
    error[n] = '\0';
}

bool ReadString(const CJsonValue* value, char* buffer, uint32_t size, uint32_t& length) {
    if (value == nullptr || !value->IsString()) {
        ClearBuffer(buffer, size);
        length = 0;
        return false;
    }
    length = ClampedLength(value->GetStringLength());
    return CopyStringOut(value->GetString(), value->GetStringLength(), buffer, size);
}

const CJsonValue* MemberName(const CJsonValue* object, uint32_t index) {
    if (object != nullptr && object->IsObject() && index < object->MemberCount()) {
        return &object->MemberBegin()[index].name;
    }
    return nullptr;
}

bool ReadRaw(const CJsonValue* value, char* buffer, uint32_t size, uint32_t& length) {
    if (value == nullptr) {
        ClearBuffer(buffer, size);
        length = 0;
        return false;
    }
    // Each task keeps the serialiser's memory for its next read-out (as much as the
    // deepest value it wrote needs).
    thread_local CJsonOutputScratch s_scratch;
    const size_t written = SerializeInto(*value, buffer, size, s_scratch);
    length = ClampedLength(written);
    if (written >= size) {
        ClearBuffer(buffer, size);
        return false;
    }
    return true;
}
