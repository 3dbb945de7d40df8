// Reader block state: parsed texts, the per-instance documents and the map of
// instances, and the conversions of a found value for the block's reads.
#include "reader/JsonReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

CParsedJson::CParsedJson(size_t memoryCap)
    : budget_(memoryCap),
      text_(&budget_),
      pool_(&budget_),
      documentStack_(&budget_),
      frames_(&budget_),
      document_(&pool_, 1024, &documentStack_) {}

std::shared_ptr<const CParsedJson> CParsedJson::Parse(const char* text, size_t size, CJsonParseError& error,
                                                      size_t memoryCap) {
    std::shared_ptr<CParsedJson> parsed = std::make_shared<CParsedJson>(memoryCap);
    if (!parsed->Reparse(text, size, error)) {
        return nullptr;
    }
    return parsed;
}

bool CParsedJson::Reparse(const char* text, size_t size, CJsonParseError& error) {
    // The end is found before the copy is made, so that a program that passes the size of
    // a large buffer holding a short text gets a copy of the text's size.
    const void* zero = std::memchr(text, 0, size);
    const size_t length = zero == nullptr ? size : static_cast<size_t>(static_cast<const char*>(zero) - text);
    document_.SetNull();
    // Kept: what the last parse used, in the pool and for the text.
    pool_.Rewind();
    pool_.Trim(used_);
    if (text_.Capacity() > 2 * (length + 1) + 4096) {
        text_.Trim(0);
    }
    const size_t kept = budget_.held();
    if (ParseKeepingMemory(text, length, error)) {
        return true;
    }
    if (kept == 0 || error.outOfMemory || error.reason != kJsonMemoryRefused) {
        return false;
    }
    // Refused for the cap while it held memory kept from earlier parses: that memory is
    // given back and the text parsed as a new document parses it, so whether a text fits
    // the cap never depends on the texts before it.
    pool_.Trim(0);
    text_.Trim(0);
    documentStack_.Trim(0);
    frames_.Trim(0);
    exact_.release();
    return ParseKeepingMemory(text, length, error);
}

bool CParsedJson::ParseKeepingMemory(const char* text, size_t length, CJsonParseError& error) {
    const size_t heldBefore = budget_.held();
    const size_t poolCapacity = pool_.Capacity();
    const size_t textCapacity = text_.Capacity();
    const size_t documentStack = documentStack_.Capacity();
    const size_t frames = frames_.Capacity();
    const bool parsed = ParseJson(text, length, document_, CJsonParseMemory{text_, frames_},
                                  EJsonStrings::kInCopy, &error, &exact_);
    peak_ = std::max(budget_.held(), heldBefore);
    if (!parsed) {
        // Nothing of a refused text is kept beyond the memory held before.
        document_.SetNull();
        pool_.Rewind();
        pool_.TrimUnused(poolCapacity);
        text_.Trim(textCapacity);
        documentStack_.Trim(documentStack);
        frames_.Trim(frames);
        used_ = 0;
        return false;
    }
    used_ = pool_.Used();
    return true;
}

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
    size_t n = visible;
    if (n > size - 1u) {
        n = size - 1u;
        // Cut before a character whose bytes run past the cut. Looks at most three bytes
        // back, so a text that is not UTF-8 loses at most those.
        for (size_t back = 1; back <= 3 && back <= n; ++back) {
            const unsigned char c = static_cast<unsigned char>(text[n - back]);
            if ((c & 0xC0) == 0x80) {
                continue;  // a continuation byte: look further back for its lead
            }
            if (c >= 0xC0) {
                const size_t sequence = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
                if (back < sequence) {
                    n -= back;
                }
            }
            break;
        }
    }
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
    return n == length;
}
