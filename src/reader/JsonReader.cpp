// Reader block state: parsed texts, the per-instance documents and the map of
// instances, and the conversions of a found value for the block's reads.
#include "reader/JsonReader.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace {

// Why a text is refused for its size.
const char* const kTooLarge = "The document exceeds the memory cap.";

// True when `d` holds an integral value in [low, high]; both bounds are exact doubles.
bool IntegralWithin(double d, double low, double high) { return d >= low && d <= high && std::trunc(d) == d; }

}  // namespace

CParsedJson::CParsedJson(size_t length) : length_(length), text_(new char[length + 1]) {}

std::shared_ptr<const CParsedJson> CParsedJson::Parse(const char* text, size_t size, CJsonParseError& error,
                                                      size_t memoryCap) {
    // The end is found before the copy is made, so that a program that passes the size of
    // a large buffer holding a short text gets a copy of the text's size.
    const void* zero = std::memchr(text, 0, size);
    const size_t length = zero == nullptr ? size : static_cast<size_t>(static_cast<const char*>(zero) - text);
    if (length >= memoryCap) {
        error.offset = 0;
        error.reason = kTooLarge;
        return nullptr;
    }
    std::shared_ptr<CParsedJson> parsed(new CParsedJson(length));
    std::memcpy(parsed->text_.get(), text, length);
    parsed->text_[length] = '\0';
    if (!ParseJson(parsed->text_.get(), length, parsed->document_, true, &error, &parsed->exact_)) {
        return nullptr;
    }
    if (parsed->memoryUsed() > memoryCap) {
        error.offset = 0;
        error.reason = kTooLarge;
        return nullptr;
    }
    return parsed;
}

size_t CParsedJson::memoryUsed() const {
    // Capacity: what the pool took from the heap, used or not. Counting it whole keeps a
    // document from holding more than the cap however its chunks are filled.
    return length_ + 1 + const_cast<rapidjson::Document&>(document_).GetAllocator().Capacity();
}

std::shared_ptr<const CParsedJson> CJsonReader::document() const {
    CExclusiveLock<CMutex> lock(mtx_);
    return document_;
}

void CJsonReader::setDocument(std::shared_ptr<const CParsedJson> document) {
    {
        CExclusiveLock<CMutex> lock(mtx_);
        document_.swap(document);
    }
    document.reset();  // the replaced document, freed without the lock
}

std::shared_ptr<CJsonReader> CReaderInstances::find(const void* instance) const {
    CSharedLock<CSharedCounterLock> lock(mtx_);
    const instance_map::const_iterator found = readers_.find(instance);
    return found == readers_.end() ? nullptr : found->second;
}

std::shared_ptr<CJsonReader> CReaderInstances::findOrAdd(const void* instance) {
    std::shared_ptr<CJsonReader> reader = find(instance);
    if (reader) {
        return reader;
    }
    std::shared_ptr<CJsonReader> created(new CJsonReader());
    CExclusiveLock<CSharedCounterLock> lock(mtx_);
    // Another task may have added the instance between the two locks; the first wins.
    return readers_.emplace(instance, std::move(created)).first->second;
}

std::shared_ptr<const CParsedJson> CReaderInstances::documentOf(const void* instance) const {
    const std::shared_ptr<CJsonReader> reader = find(instance);
    return reader ? reader->document() : nullptr;
}

void CReaderInstances::clear() {
    instance_map dropped;
    {
        CExclusiveLock<CSharedCounterLock> lock(mtx_);
        dropped.swap(readers_);
    }
    // `dropped` goes here, after the lock: the documents are freed without it.
}

ReaderKind KindOf(const rapidjson::Value* value) {
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

int32_t SizeOf(const rapidjson::Value* value) {
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

bool ToDint(const rapidjson::Value& value, int32_t& out) {
    if (value.IsInt()) {
        out = value.GetInt();
        return true;
    }
    if (value.IsDouble() && IntegralWithin(value.GetDouble(), -2147483648.0, 2147483647.0)) {
        out = static_cast<int32_t>(value.GetDouble());
        return true;
    }
    return false;  // not a number, a fraction, or beyond the range (wider integers too)
}

bool ToLint(const rapidjson::Value& value, int64_t& out) {
    if (value.IsInt64()) {
        out = value.GetInt64();
        return true;
    }
    // 2^63 itself is an exact double but beyond LINT: the upper bound is the double below
    // it, 2^63 - 1024.
    if (value.IsDouble() &&
        IntegralWithin(value.GetDouble(), -9223372036854775808.0, 9223372036854774784.0)) {
        out = static_cast<int64_t>(value.GetDouble());
        return true;
    }
    return false;
}

bool ToLreal(const rapidjson::Value& value, double& out) {
    if (!value.IsNumber()) {
        return false;
    }
    // GetDouble of a 64-bit integer converts to the nearest double. A text beyond the
    // range of doubles was parsed as infinite: no LREAL holds it.
    const double d = value.GetDouble();
    if (!std::isfinite(d)) {
        return false;
    }
    out = d;
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
