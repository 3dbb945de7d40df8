// JSON to variable without a document: one pass over the text notes each leaf's value,
// a second pass over the notes writes them.
//
// The rules are WriteVariable's (JsonToVariable.cpp), followed event by event:
// - a leaf takes a value its class takes, and nothing from an object or an array;
// - a structure takes an object, member by member, the first member of each name;
// - an array takes a JSON array of exactly its element count, element by element: its
//   notes are taken back at the array's end when the count is another;
// - whatever does not match is skipped with everything inside it.
#include "convert/JsonToVariableStream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "convert/TypeClassTable.h"
#include "json/ExactNumbers.h"
#include "json/JsonEvents.h"
#include "json/JsonParse.h"

namespace {

// Up to this many members a structure marks its members given a value in one word.
constexpr size_t kMaskedMembers = 64;

// Up to this many members a structure's member is searched from its start; beyond,
// through its names sorted once per object.
constexpr size_t kScannedMembers = 16;

enum EStagedKind : uint8_t { kNull, kFalse, kTrue, kNumber, kString };

// The value of RapidJSON's kind the document's parser makes of the number.
CJsonValue ValueOfNumber(const CJsonNumber& number) {
    switch (number.kind) {
        case CJsonNumber::kUint:
            return CJsonValue(static_cast<unsigned>(number.magnitude));
        case CJsonNumber::kUint64:
            return CJsonValue(number.magnitude);
        case CJsonNumber::kInt:
            return CJsonValue(static_cast<int>(-static_cast<int64_t>(number.magnitude)));
        case CJsonNumber::kInt64:
            return CJsonValue(static_cast<int64_t>(~number.magnitude + 1));
        case CJsonNumber::kDouble:
            break;
    }
    return CJsonValue(number.value);
}

}  // namespace

// The reader's events, followed along the variable tree. Lives on the stack of one Stage.
class CStreamHandler {
   public:
    typedef CJsonToVariableStream::COpen COpen;
    typedef CJsonToVariableStream::CStagedLeaf CStagedLeaf;

    CStreamHandler(CJsonToVariableStream& stream, CVariableView var) : s_(stream), var_(var) {}

    bool needsDocument() const { return needsDocument_; }

    bool Null() { return scalar(kNull, nullptr, 0); }
    bool Bool(bool b) { return scalar(b ? kTrue : kFalse, nullptr, 0); }
    bool Number(const char* text, size_t length, bool longSpelling) {
        if (longSpelling) {
            // Whether a text of a number that may lie beyond doubles is JSON to the
            // component is the document parser's call: it takes some spellings of an
            // infinite value and refuses others.
            needsDocument_ = true;
            return false;
        }
        return scalar(kNumber, text, length);
    }
    bool String(char* text, size_t length) { return scalar(kString, text, length); }

    bool Key(char* text, size_t length) {
        if (skipped_ != 0) {
            return true;
        }
        COpen& open = s_.open_.back();
        pending_ = CVariableView(nullptr);
        if (!open.var) {
            // The root object: the first member named after the variable is the variable.
            if (!rootFound_ && var_.nameIs(text, length)) {
                rootFound_ = true;
                pending_ = var_;
            }
            return true;
        }
        const long i = findMember(open, text, length);
        if (i >= 0 && takeMember(open, static_cast<size_t>(i))) {
            pending_ = open.var.child(static_cast<size_t>(i));
            open.next = static_cast<size_t>(i) + 1;
        }
        return true;
    }

    bool StartObject() {
        if (skipped_ != 0) {
            ++skipped_;
            return true;
        }
        if (s_.open_.empty()) {
            s_.open_.push_back(COpen{CVariableView(nullptr), 0, 0, 0, 0, 0, false, false});
            return true;
        }
        const CVariableView target = nextTarget();
        if (!target || target.isLeaf()) {
            ++skipped_;
            return true;
        }
        if (target.type() == TYPE3_ARRAY) {
            // Only the variable itself (the root object's member) takes an object of its
            // elements' names.
            if (!s_.open_.back().var) {
                needsDocument_ = true;  // elements named as members
                return false;
            }
            ++skipped_;
            return true;
        }
        const size_t members = target.childCount();
        s_.open_.push_back(
            COpen{target, s_.staged_.size(), s_.taken_.size(), s_.names_.size(), 0, 0, false, false});
        if (members > kMaskedMembers) {
            s_.taken_.resize(s_.taken_.size() + members, 0);
        }
        return true;
    }

    bool EndObject() {
        if (skipped_ != 0) {
            --skipped_;
            return true;
        }
        const COpen& open = s_.open_.back();
        s_.taken_.resize(open.takenBase);
        s_.names_.resize(open.namesBase);
        s_.open_.pop_back();
        return true;
    }

    bool StartArray() {
        if (skipped_ != 0 || s_.open_.empty()) {
            ++skipped_;  // a root that is no object holds no member for the variable
            return true;
        }
        const CVariableView target = nextTarget();
        if (!target || target.isLeaf() || target.type() != TYPE3_ARRAY) {
            ++skipped_;
            return true;
        }
        if (target.dimensionCount() >= 2) {
            needsDocument_ = true;  // flat or nested lists
            return false;
        }
        s_.open_.push_back(COpen{target, s_.staged_.size(), 0, 0, 0, 0, true, false});
        return true;
    }

    bool EndArray() {
        if (skipped_ != 0) {
            --skipped_;
            return true;
        }
        const COpen& open = s_.open_.back();
        if (open.next != open.var.childCount()) {
            s_.staged_.resize(open.stagedMark);  // an array of another count is not written
        }
        s_.open_.pop_back();
        return true;
    }

   private:
    bool scalar(uint8_t kind, const char* text, size_t length) {
        if (skipped_ != 0 || s_.open_.empty()) {
            return true;  // a root that is no object holds no member for the variable
        }
        const CVariableView target = nextTarget();
        if (target && target.isLeaf()) {
            // Filled in place: a note made on the stack and copied stalls on its partial stores.
            CStagedLeaf& leaf = s_.staged_.emplace_back();
            leaf.address = target.address();
            leaf.size = target.size();
            leaf.length = static_cast<uint32_t>(length);
            // The taken text is at most a UDINT's count of bytes long.
            leaf.offset = static_cast<uint32_t>(text - s_.text_.data());
            // Classes from 255 up, none of the table's, stay none of them.
            leaf.type = static_cast<uint8_t>(std::min(static_cast<unsigned>(target.type()), 255u));
            leaf.kind = kind;
        }
        return true;
    }

    // Marks member i of open's structure as given a value; false when it already was.
    bool takeMember(COpen& open, size_t i) {
        if (open.var.childCount() <= kMaskedMembers) {
            const uint64_t bit = uint64_t{1} << i;
            const bool first = (open.takenMask & bit) == 0;
            open.takenMask |= bit;
            return first;
        }
        char& taken = s_.taken_[open.takenBase + i];
        const bool first = taken == 0;
        taken = 1;
        return first;
    }

    // The node the value that begins now goes to; no node when it goes nowhere.
    CVariableView nextTarget() {
        COpen& open = s_.open_.back();
        if (!open.isArray) {
            const CVariableView target = pending_;
            pending_ = CVariableView(nullptr);
            return target;
        }
        const size_t i = open.next++;
        return i < open.var.childCount() ? open.var.child(i) : CVariableView(nullptr);
    }

    // The index of the member of open's structure named by the length bytes at text; -1
    // when none is. Members usually come in the structure's order: the one after the last
    // found is tried first.
    long findMember(COpen& open, const char* text, size_t length) {
        const CVariableView var = open.var;
        const size_t count = var.childCount();
        if (open.next < count) {
            const CVariableView expected = var.child(open.next);
            if (expected && expected.nameIs(text, length)) {
                return static_cast<long>(open.next);
            }
        }
        if (count <= kScannedMembers) {
            for (size_t i = 0; i < count; ++i) {
                const CVariableView child = var.child(i);
                if (child && child.nameIs(text, length)) {
                    return static_cast<long>(i);
                }
            }
            return -1;
        }
        if (!open.namesSorted) {
            open.namesSorted = true;
            open.namesBase = s_.names_.size();
            for (size_t i = 0; i < count; ++i) {
                const CVariableView child = var.child(i);
                if (child) {
                    // A member's name is the node's own, which lives in the index the
                    // caller holds (only an element's name is formed).
                    const CVariableName name = child.name();
                    s_.names_.emplace_back(std::string_view(name.data(), name.size()), i);
                }
            }
            std::sort(s_.names_.begin() + static_cast<ptrdiff_t>(open.namesBase), s_.names_.end());
        }
        const std::string_view key(text, length);
        const auto begin = s_.names_.begin() + static_cast<ptrdiff_t>(open.namesBase);
        const auto found = std::lower_bound(begin, s_.names_.end(), std::make_pair(key, size_t{0}));
        return found != s_.names_.end() && found->first == key ? static_cast<long>(found->second) : -1;
    }

    CJsonToVariableStream& s_;
    const CVariableView var_;
    CVariableView pending_{nullptr};  // the member the value after the last key goes to
    size_t skipped_ = 0;              // containers open inside a value that goes nowhere
    bool rootFound_ = false;
    bool needsDocument_ = false;
};

CJsonToVariableStream::CJsonToVariableStream()
    : text_(CBudgetAllocator<char>(&budget_)),
      containers_(CBudgetAllocator<char>(&budget_)),
      open_(CBudgetAllocator<COpen>(&budget_)),
      staged_(CBudgetAllocator<CStagedLeaf>(&budget_)),
      taken_(CBudgetAllocator<char>(&budget_)),
      names_(CBudgetAllocator<std::pair<std::string_view, size_t>>(&budget_)) {}

bool CJsonToVariableStream::TakeText(const char* text, size_t length) {
    const void* zero = std::memchr(text, 0, length);
    if (zero != nullptr) {
        length = static_cast<size_t>(static_cast<const char*>(zero) - text);
    }
    // A whole UTF-8 byte order mark is skipped; a part of one is no JSON.
    if (length >= 3 && text[0] == '\xEF' && text[1] == '\xBB' && text[2] == '\xBF') {
        text += 3;
        length -= 3;
    }
    hasText_ = false;
    // The buffer only grows: a resize to a shorter text and back would fill the bytes
    // in between with zeros each time.
    try {
        if (text_.size() < length + 1) {
            text_.resize(length + 1);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::memcpy(text_.data(), text, length);
    text_[length] = '\0';
    length_ = length;
    hasText_ = true;
    return true;
}

CJsonToVariableStream::EOutcome CJsonToVariableStream::Stage(CVariableView var) {
    open_.clear();
    staged_.clear();
    taken_.clear();
    names_.clear();
    if (!hasText_) {
        return EOutcome::kNotJson;
    }
    CStreamHandler handler(*this, var);
    EJsonEvents read = EJsonEvents::kRefused;
    try {
        read = ReadJsonEvents(text_.data(), containers_, handler);
    } catch (const std::bad_alloc&) {
        staged_.clear();
        return EOutcome::kMemoryRefused;
    }
    switch (read) {
        case EJsonEvents::kParsed:
            return EOutcome::kStaged;
        case EJsonEvents::kStopped:
            staged_.clear();
            return handler.needsDocument() ? EOutcome::kNeedsDocument : EOutcome::kNotJson;
        case EJsonEvents::kRefused:
            break;
    }
    staged_.clear();
    return EOutcome::kNotJson;
}

void CJsonToVariableStream::Commit() {
    const char* const taken = text_.data();
    for (const CStagedLeaf& leaf : staged_) {
        const char* const text = taken + leaf.offset;
        // The value as the document's parser would have made it, and the exact value of a
        // number whose double does not tell it.
        CJsonValue value;
        CExactNumber exact;
        bool hasExact = false;
        switch (leaf.kind) {
            case kNull:
                break;
            case kFalse:
            case kTrue:
                value.SetBool(leaf.kind == kTrue);
                break;
            case kString:
                value.SetString(rapidjson::StringRef(text, leaf.length));
                break;
            default:
                value = ValueOfNumber(ReadJsonNumber(text, leaf.length));
                hasExact = value.IsDouble() && CExactNumbers::IsWholeDouble(value.GetDouble()) &&
                           CExactNumbers::WholeDoubleNeedsExact(value.GetDouble(), text, leaf.length, exact);
                break;
        }
        DecodeLeaf(static_cast<TypeClass3>(leaf.type), leaf.address, leaf.size, value,
                   hasExact ? &exact : nullptr, false);
    }
}

void CJsonToVariableStream::Trim() {
    const size_t keep = 2 * (length_ + 1) + 4096;
    if (text_.capacity() > keep) {
        Kept<char>(CBudgetAllocator<char>(&budget_)).swap(text_);
        hasText_ = false;
    }
    if (staged_.capacity() * sizeof(CStagedLeaf) > 2 * staged_.size() * sizeof(CStagedLeaf) + 4096) {
        Kept<CStagedLeaf>(CBudgetAllocator<CStagedLeaf>(&budget_)).swap(staged_);
    }
}
