// The component's JSON documents: the reader's events built into RapidJSON values, as
// RapidJSON builds its own documents from its reader.
#include "json/JsonParse.h"

#include <algorithm>
#include <cstring>
#include <new>

const char* const kJsonMemoryRefused = "The document exceeds the memory cap.";

namespace {

// The open containers of one parse, in a kept block: each frame holds whether its
// container is an array, and the values it holds so far. The reader pushes and pops the
// frames (JsonEvents.h); the builder counts the values into them.
class CFrameStack {
   public:
    explicit CFrameStack(CRetainedBlock& block) : block_(block) {}
    CFrameStack(const CFrameStack&) = delete;
    CFrameStack& operator=(const CFrameStack&) = delete;

    // The reader's stack of open containers.
    void clear() { size_ = 0; }
    bool empty() const { return size_ == 0; }
    void push_back(char kind) {
        if (size_ == capacity_) {
            Grow();
        }
        frames_[size_++] = kind == '[' ? kArray : 0;
    }
    char back() const { return (frames_[size_ - 1] & kArray) != 0 ? '[' : '{'; }
    void pop_back() { --size_; }

    // One more value in the innermost open container, if there is one.
    void CountValue() {
        if (size_ != 0) {
            frames_[size_ - 1] += kOneValue;
        }
    }
    // The values of the innermost open container.
    rapidjson::SizeType Count() const { return frames_[size_ - 1] / kOneValue; }

   private:
    static constexpr uint32_t kArray = 1;
    static constexpr uint32_t kOneValue = 2;

    void Grow() {
        const size_t capacity = std::max<size_t>(64, 2 * capacity_);
        frames_ = static_cast<uint32_t*>(
            block_.Realloc(frames_, size_ * sizeof(uint32_t), capacity * sizeof(uint32_t)));
        capacity_ = capacity;
    }

    CRetainedBlock& block_;
    uint32_t* frames_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// Builds a document from the reader's events through the document's own handler: values
// go onto its stack and become arrays and objects when their container ends. Lives on
// the stack of one parse.
class CDocumentBuilder {
   public:
    CDocumentBuilder(CJsonDocument& document, CFrameStack& frames, EJsonStrings strings, CExactNumbers* exact)
        : document_(document), frames_(frames), copy_(strings == EJsonStrings::kCopied), exact_(exact) {}

    bool Null() {
        frames_.CountValue();
        return document_.Null();
    }
    bool Bool(bool b) {
        frames_.CountValue();
        return document_.Bool(b);
    }
    bool Number(const CNumberSpelling& spelling) {
        frames_.CountValue();
        const CJsonNumber number = ReadJsonNumber(spelling);
        switch (number.kind) {
            case CJsonNumber::kUint:
                return document_.Uint(static_cast<unsigned>(number.magnitude));
            case CJsonNumber::kUint64:
                return document_.Uint64(number.magnitude);
            case CJsonNumber::kInt:
                return document_.Int(static_cast<int>(-static_cast<int64_t>(number.magnitude)));
            case CJsonNumber::kInt64:
                return document_.Int64(static_cast<int64_t>(~number.magnitude + 1));
            case CJsonNumber::kDouble:
                break;
        }
        if (exact_ != nullptr) {
            exact_->noteDouble(number.value, spelling.text, spelling.length);
        }
        return document_.Double(number.value);
    }
    // A string's bytes are terminated where they end in the text (its closing quote, or
    // the spent bytes of an escape), as a document's strings are.
    bool String(char* text, size_t length) {
        frames_.CountValue();
        text[length] = '\0';
        return document_.String(text, static_cast<rapidjson::SizeType>(length), copy_);
    }
    bool Key(char* text, size_t length) {
        text[length] = '\0';
        return document_.Key(text, static_cast<rapidjson::SizeType>(length), copy_);
    }
    size_t KeyAhead(const char*) { return 0; }
    bool StartObject() {
        frames_.CountValue();
        return document_.StartObject();
    }
    bool EndObject() { return document_.EndObject(frames_.Count()); }
    bool StartArray() {
        frames_.CountValue();
        return document_.StartArray();
    }
    bool EndArray() { return document_.EndArray(frames_.Count()); }

   private:
    CJsonDocument& document_;
    CFrameStack& frames_;
    const bool copy_;
    CExactNumbers* exact_;
};

// The refusal of a parse for memory: for the cap, or because the heap had none.
void MemoryRefused(CJsonParseError& error, bool outOfMemory) {
    error.offset = 0;
    error.reason = kJsonMemoryRefused;
    error.outOfMemory = outOfMemory;
}

}  // namespace

bool ParseJson(const char* text, size_t length, CJsonDocument& document, CJsonParseMemory memory,
               EJsonStrings strings, CJsonParseError* error, CExactNumbers* exact) {
    CJsonParseError local;
    CJsonParseError& failure = error != nullptr ? *error : local;
    failure = CJsonParseError();
    if (exact != nullptr) {
        exact->clear();
    }
    const void* zero = std::memchr(text, 0, length);
    if (zero != nullptr) {
        length = static_cast<size_t>(static_cast<const char*>(zero) - text);
    }
    // A whole UTF-8 byte order mark is skipped; a part of one is no JSON. Offsets still
    // count the mark's bytes.
    const size_t mark = length >= 3 && text[0] == '\xEF' && text[1] == '\xBB' && text[2] == '\xBF' ? 3 : 0;
    text += mark;
    length -= mark;
    CJsonRead read{EJsonEvents::kStopped, EJsonFault::kNone, nullptr};
    char* copy = nullptr;
    bool parsed = false;
    try {
        copy = static_cast<char*>(memory.text.Malloc(length + 1 + kJsonTextPadding));
        std::memcpy(copy, text, length);
        std::memset(copy + length, 0, 1 + kJsonTextPadding);
        CFrameStack frames(memory.frames);
        auto build = [&](CJsonDocument& target) {
            CDocumentBuilder builder(target, frames, strings, exact);
            read = ReadJsonEvents(copy, frames, builder);
            parsed = read.outcome == EJsonEvents::kParsed;
            return parsed;
        };
        document.Populate(build);
        if (parsed && exact != nullptr) {
            exact->bind(document);
        }
    } catch (const CMemoryRefused& refused) {
        MemoryRefused(failure, refused.heapExhausted());
        parsed = false;
    } catch (const std::bad_alloc&) {
        MemoryRefused(failure, true);
        parsed = false;
    }
    if (!parsed) {
        if (exact != nullptr) {
            exact->clear();
        }
        if (read.outcome == EJsonEvents::kRefused) {
            failure.offset = mark + static_cast<size_t>(read.at - copy);
            failure.reason = JsonFaultText(read.fault);
        }
    }
    return parsed;
}
