// Manager: the reader block's operations. Each one takes the instance's current
// document from readers_ (a pointer copy under the instance's lock), then finds the
// value by its path and reads it with no lock held, so refusals can be logged at once.
#include <rapidjson/stringbuffer.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "frame/HostImports.h"
#include "var/DomDriverMgr.h"
#include "json/JsonOutput.h"
#include "json/JsonPointer.h"

namespace {

constexpr size_t kErrorField = 256;  // bytes of the parse record's sError

// The value at path in the document, or null; `document` keeps it alive.
const rapidjson::Value* Find(const std::shared_ptr<const CParsedJson>& document, const char* path) {
    return document ? FindByPointer(document->root(), path) : nullptr;
}

RTS_IEC_UDINT ClampedLength(size_t length) {
    return static_cast<RTS_IEC_UDINT>(std::min<size_t>(length, UINT32_MAX));
}

// A buffer of size bytes at buffer: null is refused unless size is 0.
bool BufferRefused(const char* buffer, uint32_t size) {
    if (buffer == nullptr && size > 0) {
        LogRefusedCall("Invalid argument");
        return true;
    }
    return false;
}

// Empties the caller's buffer when there is room for the terminator.
void ClearBuffer(char* buffer, uint32_t size) {
    if (size > 0) {
        buffer[0] = '\0';
    }
}

// The string value found, or nothing found: an empty buffer and length 0.
bool StringOut(const rapidjson::Value* value, char* buffer, uint32_t size, RTS_IEC_UDINT& length) {
    if (value == nullptr || !value->IsString()) {
        ClearBuffer(buffer, size);
        length = 0;
        return false;
    }
    length = ClampedLength(value->GetStringLength());
    return CopyStringOut(value->GetString(), value->GetStringLength(), buffer, size);
}

}  // namespace

bool CDomDriverMgr::readerParse(fb_jsonreader_struct* p, const char* pJson, uint32_t nSize,
                                RTS_IEC_UDINT& errorOffset, char* error) {
    if (pJson == nullptr && nSize > 0) {
        errorOffset = 0;
        std::strcpy(error, "Invalid argument");
        LogRefusedCall("Invalid argument");
        return false;  // the instance keeps its document
    }
    // Parsed before any lock; a failure is the caller's to report, so it is not logged.
    CJsonParseError failure;
    std::shared_ptr<const CParsedJson> document =
        CParsedJson::Parse(pJson == nullptr ? "" : pJson, nSize, failure);
    const bool parsed = document != nullptr;
    readers_.findOrAdd(p)->setDocument(std::move(document));
    errorOffset = parsed ? 0 : ClampedLength(failure.offset);
    const char* reason = parsed ? "" : failure.reason;
    const size_t n = std::min(std::strlen(reason), kErrorField - 1);
    std::memcpy(error, reason, n);
    error[n] = '\0';
    return parsed;
}

RTS_IEC_DINT CDomDriverMgr::readerGetKind(fb_jsonreader_struct* p, const char* path) {
    const std::shared_ptr<const CParsedJson> document = readers_.documentOf(p);
    return KindOf(Find(document, path));
}

RTS_IEC_DINT CDomDriverMgr::readerGetSize(fb_jsonreader_struct* p, const char* path) {
    const std::shared_ptr<const CParsedJson> document = readers_.documentOf(p);
    return SizeOf(Find(document, path));
}

bool CDomDriverMgr::readerGetBool(fb_jsonreader_struct* p, const char* path, RTS_IEC_BOOL& value) {
    const std::shared_ptr<const CParsedJson> document = readers_.documentOf(p);
    const rapidjson::Value* found = Find(document, path);
    if (found == nullptr || !found->IsBool()) {
        return false;
    }
    value = found->GetBool() ? 1 : 0;
    return true;
}

bool CDomDriverMgr::readerGetDint(fb_jsonreader_struct* p, const char* path, RTS_IEC_DINT& value) {
    const std::shared_ptr<const CParsedJson> document = readers_.documentOf(p);
    const rapidjson::Value* found = Find(document, path);
    return found != nullptr && ToDint(*found, value);
}

bool CDomDriverMgr::readerGetLint(fb_jsonreader_struct* p, const char* path, RTS_IEC_LINT& value) {
    const std::shared_ptr<const CParsedJson> document = readers_.documentOf(p);
    const rapidjson::Value* found = Find(document, path);
    int64_t converted = 0;
    if (found == nullptr || !ToLint(*found, converted)) {
        return false;
    }
    value = converted;
    return true;
}

bool CDomDriverMgr::readerGetLreal(fb_jsonreader_struct* p, const char* path, RTS_IEC_LREAL& value) {
    const std::shared_ptr<const CParsedJson> document = readers_.documentOf(p);
    const rapidjson::Value* found = Find(document, path);
    return found != nullptr && ToLreal(*found, value);
}

bool CDomDriverMgr::readerGetString(fb_jsonreader_struct* p, const char* path, char* buffer, uint32_t size,
                                    RTS_IEC_UDINT& length) {
    if (BufferRefused(buffer, size)) {
        return false;
    }
    const std::shared_ptr<const CParsedJson> document = readers_.documentOf(p);
    return StringOut(Find(document, path), buffer, size, length);
}

bool CDomDriverMgr::readerGetMemberName(fb_jsonreader_struct* p, const char* path, uint32_t index,
                                        char* buffer, uint32_t size, RTS_IEC_UDINT& length) {
    if (BufferRefused(buffer, size)) {
        return false;
    }
    const std::shared_ptr<const CParsedJson> document = readers_.documentOf(p);
    const rapidjson::Value* object = Find(document, path);
    const rapidjson::Value* name = nullptr;
    if (object != nullptr && object->IsObject() && index < object->MemberCount()) {
        name = &object->MemberBegin()[index].name;
    }
    return StringOut(name, buffer, size, length);
}

bool CDomDriverMgr::readerGetRaw(fb_jsonreader_struct* p, const char* path, char* buffer, uint32_t size,
                                 RTS_IEC_UDINT& length) {
    if (BufferRefused(buffer, size)) {
        return false;
    }
    const std::shared_ptr<const CParsedJson> document = readers_.documentOf(p);
    const rapidjson::Value* found = Find(document, path);
    if (found == nullptr) {
        ClearBuffer(buffer, size);
        length = 0;
        return false;
    }
    rapidjson::StringBuffer text;
    SerializeDocument(*found, text);
    length = ClampedLength(text.GetSize());
    if (text.GetSize() >= size) {
        ClearBuffer(buffer, size);  // all or nothing: a cut JSON text is no JSON text
        return false;
    }
    std::memcpy(buffer, text.GetString(), text.GetSize() + 1);
    return true;
}

bool CDomDriverMgr::readerToVariable(fb_jsonreader_struct* p, const char* path, void* pData) {
    const std::shared_ptr<const CParsedJson> document = readers_.documentOf(p);
    const rapidjson::Value* found = Find(document, path);
    return found != nullptr && setSymbolFromValue(*found, pData);
}
