// One parsed text: the instance's copy of it and the document parsed from it in place,
// all their memory charged to one budget.
#include "json/ParsedJson.h"

#include <cstring>

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
