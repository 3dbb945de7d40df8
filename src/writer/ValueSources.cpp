// The writer's value sources: typed scalars through the type-class table, raw JSON texts
// through the strict parser, bytes as base64 or hex.
#include "writer/ValueSources.h"

#include <cstring>

#include "frame/LogTexts.h"
#include "json/JsonParse.h"

CWriterScalar::CWriterScalar(TypeClass3 type, const void* value, uint32_t size)
    : row_(&TypeClassRow(type)), isNull_(value == nullptr), size_(size) {
    if (value != nullptr) {
        std::memcpy(value_, value, size);
    }
}

CWriterScalar CWriterScalar::String(const RTS_IEC_STRING* text) {
    CWriterScalar scalar(TYPE3_STRING, nullptr, 0);
    scalar.isString_ = true;
    scalar.isNull_ = false;
    scalar.text_ = text;
    scalar.size_ = text == nullptr ? 0 : static_cast<uint32_t>(std::strlen(text) + 1);
    return scalar;
}

const char* CWriterScalar::Make(CJsonAllocator& allocator, uint32_t format, CJsonValue& out, CParseStacks&) {
    if (isNull_ || (isString_ && text_ == nullptr)) {
        out.SetNull();
    } else {
        out = row_->encode(isString_ ? static_cast<const void*>(text_) : value_, size_,
                           WriterMethodsForm(format), allocator);
    }
    return nullptr;
}

CRawSource::CRawSource(const char* text, EJsonContainer kind)
    : text_(text), length_(std::strlen(text)), kind_(kind) {}

const char* CRawSource::Make(CJsonAllocator& allocator, uint32_t, CJsonValue& out, CParseStacks& stacks) {
    CJsonDocument parsed(&allocator, 1024, &stacks.document);
    CJsonParseError error;
    if (!ParseJson(text_, length_, parsed, CJsonParseMemory{stacks.text, stacks.parser},
                   EJsonStrings::kCopied, &error)) {
        if (error.reason == kJsonMemoryRefused) {
            throw CMemoryRefused(error.outOfMemory);  // the instance refuses it as memory
        }
        return LogText(ELogText::kJsonError);
    }
    if (kind_ == EJsonContainer::kObject ? !parsed.IsObject() : !parsed.IsArray()) {
        return LogText(ELogText::kInvalidArgument);
    }
    out.Swap(parsed);
    return nullptr;
}

const char* CBytesSource::Make(CJsonAllocator& allocator, uint32_t, CJsonValue& out, CParseStacks&) {
    static const char kHex[] = "0123456789ABCDEF";
    static const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const size_t length = hex_ ? 2 * count_ : 4 * ((count_ + 2) / 3);
    char* text = static_cast<char*>(allocator.Malloc(length + 1));
    char* p = text;
    if (hex_) {
        for (size_t i = 0; i < count_; ++i) {
            *p++ = kHex[bytes_[i] >> 4];
            *p++ = kHex[bytes_[i] & 0x0F];
        }
    } else {
        size_t i = 0;
        for (; i + 3 <= count_; i += 3) {
            const uint32_t group =
                (uint32_t{bytes_[i]} << 16) | (uint32_t{bytes_[i + 1]} << 8) | bytes_[i + 2];
            *p++ = kBase64[(group >> 18) & 0x3F];
            *p++ = kBase64[(group >> 12) & 0x3F];
            *p++ = kBase64[(group >> 6) & 0x3F];
            *p++ = kBase64[group & 0x3F];
        }
        if (i < count_) {
            const bool two = i + 1 < count_;
            const uint32_t group = (uint32_t{bytes_[i]} << 16) | (two ? uint32_t{bytes_[i + 1]} << 8 : 0u);
            *p++ = kBase64[(group >> 18) & 0x3F];
            *p++ = kBase64[(group >> 12) & 0x3F];
            *p++ = two ? kBase64[(group >> 6) & 0x3F] : '=';
            *p++ = '=';
        }
    }
    *p = '\0';
    // The characters live in the document's pool as long as the document does.
    out.SetString(rapidjson::StringRef(text, static_cast<rapidjson::SizeType>(length)));
    return nullptr;
}
