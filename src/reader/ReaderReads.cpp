// The reader block's reads into the caller's record fields and buffers.
#include "reader/ReaderReads.h"

#include <rapidjson/stringbuffer.h>

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

const rapidjson::Value* FindInDocument(const std::shared_ptr<const CParsedJson>& document, const char* path) {
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

bool ReadString(const rapidjson::Value* value, char* buffer, uint32_t size, uint32_t& length) {
    if (value == nullptr || !value->IsString()) {
        ClearBuffer(buffer, size);
        length = 0;
        return false;
    }
    length = ClampedLength(value->GetStringLength());
    return CopyStringOut(value->GetString(), value->GetStringLength(), buffer, size);
}

const rapidjson::Value* MemberName(const rapidjson::Value* object, uint32_t index) {
    if (object != nullptr && object->IsObject() && index < object->MemberCount()) {
        return &object->MemberBegin()[index].name;
    }
    return nullptr;
}

bool ReadRaw(const rapidjson::Value* value, char* buffer, uint32_t size, uint32_t& length) {
    if (value == nullptr) {
        ClearBuffer(buffer, size);
        length = 0;
        return false;
    }
    rapidjson::StringBuffer text;
    SerializeDocument(*value, text);
    length = ClampedLength(text.GetSize());
    if (text.GetSize() >= size) {
        ClearBuffer(buffer, size);
        return false;
    }
    std::memcpy(buffer, text.GetString(), text.GetSize() + 1);
    return true;
}
