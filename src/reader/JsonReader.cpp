// Reader block state: parsed texts, the per-instance documents and the map of
// instances, and the conversions of a found value for the block's reads.
#include "reader/JsonReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "json/Utf8.h"

CDocumentRef::~CDocumentRef() {
    if (state_) {
        state_->release(document_);
    }
}

std::shared_ptr<const CParsedJson> CJsonReader::document() const {
    CExclusiveLock<CMutex> lock(mtx_);
    return document_;
}

void CJsonReader::release(std::shared_ptr<const CParsedJson>& document) {
    std::shared_ptr<const CParsedJson> released;
    {
        CExclusiveLock<CMutex> lock(mtx_);
        released.swap(document);
    }
    // Freed here, after the lock, when the instance let go of it meanwhile.
}

void CJsonReader::setDocument(std::shared_ptr<const CParsedJson> document) {
    {
        CExclusiveLock<CMutex> lock(mtx_);
        document_.swap(document);
        if (document && !spare_) {
            spare_.swap(document);
        }
    }
    document.reset();  // the replaced document, freed without the lock
}

bool CJsonReader::parse(const char* text, size_t size, CJsonParseError& error) {
    CExclusiveLock<CMutex> parsing(parseMtx_);
    std::shared_ptr<const CParsedJson> target;
    {
        CExclusiveLock<CMutex> lock(mtx_);
        // Reads give their holds back under this lock: a count of one is final.
        if (spare_ && spare_.use_count() == 1) {
            target.swap(spare_);
        }
    }
    if (!target) {
        target = std::make_shared<CParsedJson>();
    }
    // Nobody else holds the target: it is written here, and shared only once parsed.
    const bool parsed = const_cast<CParsedJson&>(*target).Reparse(text, size, error);
    std::shared_ptr<const CParsedJson> dropped;
    {
        CExclusiveLock<CMutex> lock(mtx_);
        dropped.swap(document_);
        if (parsed) {
            document_.swap(target);
            spare_.swap(dropped);  // the replaced document is the next parse's
        } else {
            spare_.swap(target);  // holds nothing now, and keeps its memory for the next parse
        }
    }
    return parsed;  // whatever was dropped is freed here, after the lock
}

std::shared_ptr<CJsonReader> CReaderInstances::find(const void* instance) const {
    return readers_.Find(instance);
}

std::shared_ptr<CJsonReader> CReaderInstances::findOrAdd(const void* instance) {
    std::shared_ptr<CJsonReader> reader = readers_.Find(instance);
    if (reader) {
        return reader;
    }
    // Another task may add the instance meanwhile; the first wins.
    return readers_.Insert(instance, std::make_shared<CJsonReader>());
}

void CReaderInstances::forgetIfEmpty(const void* instance, const std::shared_ptr<CJsonReader>& state) {
    if (state->document()) {
        return;
    }
    // A parse of another task may have stored a document meanwhile: then it stays.
    readers_.EraseUnless(instance, state, [](const CJsonReader& reader) { return bool(reader.document()); });
    // The state and its spare are freed after the lock.
}

CDocumentRef CReaderInstances::documentOf(const void* instance) const {
    std::shared_ptr<CJsonReader> reader = find(instance);
    if (!reader) {
        return CDocumentRef();
    }
    std::shared_ptr<const CParsedJson> document = reader->document();
    return CDocumentRef(std::move(reader), std::move(document));
}

void CReaderInstances::clear() { readers_.Clear(); }

ReaderKind KindOf(const CJsonValue* value) {
    if (value == nullptr) {
        return kReaderKindNone;
    }
    switch (value->GetType()) {
        case rapidjson::kNullType:
            return kReaderKindNull;
        case rapidjson::kFalseType:
        case rapidjson::kTrueType:
            return kReaderKindBool;
        case rapidjson::kStringType:
            return kReaderKindString;
        case rapidjson::kArrayType:
            return kReaderKindArray;
        case rapidjson::kObjectType:
            return kReaderKindObject;
        case rapidjson::kNumberType:
            break;
    }
    // The parser makes an integer of every number without fraction or exponent that
    // fits 64 bits, a double of every other.
    return value->IsInt64() || value->IsUint64() ? kReaderKindInteger : kReaderKindReal;
}

int32_t SizeOf(const CJsonValue* value) {
    size_t size = 0;
    if (value != nullptr && value->IsArray()) {
        size = value->Size();
    } else if (value != nullptr && value->IsObject()) {
        size = value->MemberCount();
    } else {
        return -1;
    }
    return size > static_cast<size_t>(std::numeric_limits<int32_t>::max())
               ? std::numeric_limits<int32_t>::max()
               : static_cast<int32_t>(size);
}

bool ToDint(const CJsonValue& value, const CExactNumber* exact, int32_t& out) {
    CWhole whole;
    if (WholeOfValue(value, exact, whole) != EWholeValue::kWhole ||
        whole.magnitude > (whole.negative ? uint64_t{1} << 31 : uint64_t{INT32_MAX})) {
        return false;  // not a number, not whole, or beyond the range
    }
    out = static_cast<int32_t>(whole.negative ? ~whole.magnitude + 1 : whole.magnitude);
    return true;
}

bool ToLint(const CJsonValue& value, const CExactNumber* exact, int64_t& out) {
    CWhole whole;
    if (WholeOfValue(value, exact, whole) != EWholeValue::kWhole ||
        whole.magnitude > (whole.negative ? uint64_t{1} << 63 : uint64_t{INT64_MAX})) {
        return false;
    }
    out = static_cast<int64_t>(whole.negative ? ~whole.magnitude + 1 : whole.magnitude);
    return true;
}

bool ToLreal(const CJsonValue& value, double& out) {
    if (!value.IsNumber()) {
        return false;
    }
    // GetDouble of a 64-bit integer converts to the nearest double; a number beyond the
    // range of doubles never makes it into a document.
    out = value.GetDouble();
    return true;
}

bool CopyStringOut(const char* text, size_t length, char* buffer, uint32_t size) {
    if (size == 0) {
        return false;
    }
    const void* zero = std::memchr(text, 0, length);
    const size_t visible =
        zero == nullptr ? length : static_cast<size_t>(static_cast<const char*>(zero) - text);
    const size_t n = FitUtf8(text, visible, size - 1u);
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
    return n == length;
}
