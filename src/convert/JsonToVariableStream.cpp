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
#include "json/JsonEvents.h"
#include "json/Numbers.h"

namespace {

// Up to this many members a structure marks its members given a value in one word.
constexpr size_t kMaskedMembers = 64;

// Up to this many members a structure's member is searched from its start; beyond,
// through its names sorted once per object. Structures of up to kMaskedMembers members
// whose layout a Stage meets again are matched through a plan of the layout instead, as
// long as the Stage has met no more than kPlannedLayouts layouts.
constexpr size_t kScannedMembers = 16;
constexpr size_t kPlannedLayouts = 64;

// The first eight bytes at text, of which the length bytes (up to eight) are kept and the
// rest cleared. REQUIRES: eight bytes are readable at text.
uint64_t HeadWord(const char* text, size_t length) {
    uint64_t word;
    std::memcpy(&word, text, sizeof(word));
    return length >= 8 ? word : word & ((uint64_t{1} << (8 * length)) - 1);
}

// The bytes of a name of length bytes (below eight) and its closing quote, in a word.
uint64_t QuotedMask(size_t length) {
    return length >= 7 ? ~uint64_t{0} : (uint64_t{1} << (8 * (length + 1))) - 1;
}

// A note's kind: a literal, a string (its text), a number kept as its text (a whole
// double, whose exact value the text may have to tell), or from kNumberRead on a number
// read already, kNumberRead plus the kind the document's parser gives it. A string that
// held no escape is kWholeString: it holds no zero byte.
enum EStagedKind : uint8_t { kNull, kFalse, kTrue, kString, kWholeString, kNumberText, kNumberRead };

// A class as a note keeps it: classes from 255 up, none of the table's, stay none of them.
uint8_t StagedClass(TypeClass3 type) {
    return static_cast<uint8_t>(std::min(static_cast<unsigned>(type), 255u));
}

}  // namespace

// The reader's events, followed along the variable tree. Lives on the stack of one Stage.
class CStreamHandler {
   public:
    typedef CJsonToVariableStream::COpen COpen;
    typedef CJsonToVariableStream::CStagedLeaf CStagedLeaf;
    typedef CJsonToVariableStream::CMemberPlan CMemberPlan;
    typedef CJsonToVariableStream::CPlanned CPlanned;

    CStreamHandler(CJsonToVariableStream& stream, CVariableView var) : s_(stream), var_(var) {}

    bool needsDocument() const { return needsDocument_; }

    bool Null() {
        noteFor(kNull);
        return true;
    }
    bool Bool(bool b) {
        noteFor(b ? kTrue : kFalse);
        return true;
    }
    bool Number(const CNumberSpelling& spelling) {
        CStagedLeaf* const leaf = noteFor(kNumberText);
        if (leaf == nullptr) {
            return true;
        }
        // Read now, while the text is at hand; a whole double keeps its text, which the
        // write into an integer may need for the exact value (a REAL or an LREAL takes
        // the double whatever it is).
        const CJsonNumber number = ReadJsonNumber(spelling);
        if (number.kind == CJsonNumber::kDouble) {
            const ELeafShape shape = TypeClassRow(static_cast<TypeClass3>(leaf->type)).shape;
            if (shape != ELeafShape::kDouble && shape != ELeafShape::kSingle && IsWholeDouble(number.value)) {
                noteText(*leaf, spelling.text, spelling.length);
                return true;
            }
            leaf->number = number.value;
        } else {
            leaf->magnitude = number.magnitude;
        }
        leaf->kind = static_cast<uint8_t>(kNumberRead + number.kind);
        return true;
    }
    bool String(char* text, size_t length) {
        // After the bytes of a string that held no escape stands its closing quote.
        CStagedLeaf* const leaf = noteFor(text[length] == '"' ? kWholeString : kString);
        if (leaf != nullptr) {
            noteText(*leaf, text, length);
        }
        return true;
    }

    bool Key(char* text, size_t length) {
        if (skipped_ != 0) {
            return true;
        }
        COpen& open = s_.open_.back();
        pending_ = CVariableView(nullptr);
        pendingLeaf_ = CJsonToVariableStream::kNoPlan;
        if (!open.var) {
            // The root object: the first member named after the variable is the variable.
            if (!rootFound_ && var_.nameIs(text, length)) {
                rootFound_ = true;
                pending_ = var_;
            }
            return true;
        }
        if (open.planBase != CJsonToVariableStream::kNoPlan) {
            return plannedKey(open, text, length);
        }
        const long i = findMember(open, text, length);
        if (i >= 0 && takeMember(open, static_cast<size_t>(i))) {
            open.next = static_cast<size_t>(i) + 1;
            pending_ = open.var.child(static_cast<size_t>(i));
        }
        return true;
    }

    // The key expected next in a planned structure, seen in the text before it is read:
    // members mostly come in the structure's order, so most keys are taken by comparing
    // the text with the expected name and its closing quote, a word at a time.
    size_t KeyAhead(const char* key) {
        if (skipped_ != 0 || s_.open_.empty()) {
            return 0;
        }
        COpen& open = s_.open_.back();
        if (open.planBase == CJsonToVariableStream::kNoPlan || open.next >= open.planned) {
            return 0;
        }
        const CMemberPlan* const plan = s_.plans_.data() + open.planBase;
        const CMemberPlan& member = plan[open.next];
        uint64_t word;
        std::memcpy(&word, key, sizeof(word));  // the text is padded
        if (member.length < 8) {
            // The name and its quote in one word; a name that is no plain text has none.
            if (member.quoted == 0 || (word & QuotedMask(member.length)) != member.quoted) {
                return 0;
            }
        } else if (member.quoted == 0 || word != member.head ||
                   static_cast<size_t>(key - s_.text_.data()) + member.length > s_.length_ ||
                   std::memcmp(s_.planNames_.data() + member.tail, key + 8, member.length - 8) != 0 ||
                   key[member.length] != '"') {
            // A text that ends before the name would is never read beyond its end. The name
            // is compared here rather than through matches(): with that call this function
            // grows past what the compiler inlines into the reader's loop, and a call for
            // every key cost 4 % of a large text.
            return 0;
        }
        pending_ = CVariableView(nullptr);
        pendingLeaf_ = CJsonToVariableStream::kNoPlan;
        takePlanned(open, plan, open.next);
        return member.length + 1;
    }

    bool StartObject() {
        if (skipped_ != 0) {
            ++skipped_;
            return true;
        }
        if (s_.open_.empty()) {
            s_.open_.emplace_back(CVariableView(nullptr), 0, 0, 0, CJsonToVariableStream::kNoPlan, nullptr, 0,
                                  false);
            return true;
        }
        if (pendingLeaf_ != CJsonToVariableStream::kNoPlan) {
            pendingLeaf_ = CJsonToVariableStream::kNoPlan;  // a leaf takes no object
            ++skipped_;
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
        const size_t plan = members <= kMaskedMembers ? planOf(target) : CJsonToVariableStream::kNoPlan;
        s_.open_.emplace_back(target, s_.staged_.size(), s_.taken_.size(), s_.names_.size(), plan,
                              static_cast<char*>(target.address()), static_cast<uint32_t>(members), false);
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
        if (pendingLeaf_ != CJsonToVariableStream::kNoPlan) {
            pendingLeaf_ = CJsonToVariableStream::kNoPlan;  // a leaf takes no array
            ++skipped_;
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
        s_.open_.emplace_back(target, s_.staged_.size(), 0, 0, CJsonToVariableStream::kNoPlan, nullptr, 0,
                              true);
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
    // The note of the scalar value that begins now, of the kind given; null when the
    // value goes to no leaf.
    CStagedLeaf* noteFor(uint8_t kind) {
        if (skipped_ != 0 || s_.open_.empty()) {
            return nullptr;  // a root that is no object holds no member for the variable
        }
        if (pendingLeaf_ != CJsonToVariableStream::kNoPlan) {
            const CMemberPlan& member = s_.plans_[pendingLeaf_];
            pendingLeaf_ = CJsonToVariableStream::kNoPlan;
            CStagedLeaf& leaf = s_.staged_.emplace_back();
            leaf.address = pendingAddress_;
            leaf.size = member.size;
            leaf.type = member.type;
            leaf.kind = kind;
            return &leaf;
        }
        const CVariableView target = nextTarget();
        if (!target || !target.isLeaf()) {
            return nullptr;
        }
        // Filled in place: a note made on the stack and copied stalls on its partial stores.
        CStagedLeaf& leaf = s_.staged_.emplace_back();
        leaf.address = target.address();
        leaf.size = target.size();
        leaf.type = StagedClass(target.type());
        leaf.kind = kind;
        return &leaf;
    }

    void noteText(CStagedLeaf& leaf, const char* text, size_t length) const {
        // The taken text is at most a UDINT's count of bytes long.
        leaf.text.offset = static_cast<uint32_t>(text - s_.text_.data());
        leaf.text.length = static_cast<uint32_t>(length);
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

    // A key of a planned structure: matched, marked and noted from the plan alone; the
    // structure's node is touched only for a member that is no leaf.
    bool plannedKey(COpen& open, const char* text, size_t length) {
        const CMemberPlan* const plan = s_.plans_.data() + open.planBase;
        const uint64_t head = HeadWord(text, length);
        size_t i = open.next;
        if (i >= open.planned || !matches(plan[i], text, length, head)) {
            for (i = 0; i < open.planned && !matches(plan[i], text, length, head); ++i) {
            }
            if (i == open.planned) {
                return true;  // no member of that name
            }
        }
        takePlanned(open, plan, i);
        return true;
    }

    // Member i of open's planned structure named by the key just met.
    void takePlanned(COpen& open, const CMemberPlan* plan, size_t i) {
        const uint64_t bit = uint64_t{1} << i;
        if ((open.takenMask & bit) != 0) {
            return;  // the member took its value from the first of its name
        }
        open.takenMask |= bit;
        open.next = i + 1;
        if (plan[i].leaf) {
            pendingLeaf_ = open.planBase + i;
            pendingAddress_ = plan[i].placed ? open.address + plan[i].offset : nullptr;
        } else {
            pending_ = open.var.child(i);
        }
    }

    bool matches(const CMemberPlan& member, const char* text, size_t length, uint64_t head) const {
        return member.length == length && member.head == head &&
               (length <= 8 || std::memcmp(s_.planNames_.data() + member.tail, text + 8, length - 8) == 0);
    }

    // Where the plan of the structure's layout starts in plans_, made on its second
    // object; kNoPlan before, and for layouts met after kPlannedLayouts others. Every
    // element of an array that keeps one element shares its layout, so a large array plans
    // it once.
    size_t planOf(CVariableView structure) {
        const CVariable* const layout = structure.layout();
        if (lastPlanned_ != nullptr && lastPlanned_->layout == layout && lastPlanned_->again) {
            return lastPlanned_->base;
        }
        CPlanned* met = nullptr;
        for (CPlanned& planned : s_.planned_) {
            if (planned.layout == layout) {
                met = &planned;
                break;
            }
        }
        if (met == nullptr) {
            if (s_.planned_.size() < kPlannedLayouts) {
                s_.planned_.reserve(kPlannedLayouts);  // lastPlanned_ points into it
                s_.planned_.push_back(CPlanned{layout, CJsonToVariableStream::kNoPlan, false});
                lastPlanned_ = &s_.planned_.back();
            }
            return CJsonToVariableStream::kNoPlan;
        }
        lastPlanned_ = met;
        if (met->again) {
            return met->base;
        }
        met->again = true;
        // Members are placed by their distance from the structure, the same for every
        // element that shares the layout; a structure without an address is not planned.
        const char* const address = static_cast<const char*>(structure.address());
        const size_t base = address != nullptr ? s_.plans_.size() : CJsonToVariableStream::kNoPlan;
        const size_t count = address != nullptr ? structure.childCount() : 0;
        for (size_t i = 0; i < count; ++i) {
            const CVariableView member = structure.child(i);
            if (!member) {
                s_.plans_.push_back(
                    CMemberPlan{0, 0, 0, CJsonToVariableStream::kNoMember, 0, 0, 0, false, false});
                continue;
            }
            const CVariableName name = member.name();
            uint64_t head = 0;
            std::memcpy(&head, name.data(), std::min<size_t>(name.size(), 8));
            // A name of plain text is found ahead: as its bytes with the closing quote.
            const bool plain = std::none_of(name.data(), name.data() + name.size(), [](char c) {
                return c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20;
            });
            const uint64_t quoted = !plain            ? 0
                                    : name.size() < 8 ? head | (uint64_t{'"'} << (8 * name.size()))
                                                      : 1;
            const size_t tail = s_.planNames_.size();
            if (name.size() > 8) {
                s_.planNames_.insert(s_.planNames_.end(), name.data() + 8, name.data() + name.size());
            }
            const char* const place = static_cast<const char*>(member.address());
            s_.plans_.push_back(CMemberPlan{head, quoted, tail, static_cast<uint32_t>(name.size()),
                                            member.size(), place != nullptr ? place - address : 0,
                                            StagedClass(member.type()), member.isLeaf(), place != nullptr});
        }
        met->base = base;
        return base;
    }

    CJsonToVariableStream& s_;
    const CVariableView var_;
    const CPlanned* lastPlanned_ = nullptr;  // the layout met last
    // The planned leaf the value after the last key goes to, and its address.
    size_t pendingLeaf_ = CJsonToVariableStream::kNoPlan;
    void* pendingAddress_ = nullptr;
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
      names_(CBudgetAllocator<std::pair<std::string_view, size_t>>(&budget_)),
      plans_(CBudgetAllocator<CMemberPlan>(&budget_)),
      planned_(CBudgetAllocator<CPlanned>(&budget_)),
      planNames_(CBudgetAllocator<char>(&budget_)) {}

bool CJsonToVariableStream::TakeText(const char* text, size_t length) {
    const void* zero = std::memchr(text, 0, length);
    if (zero != nullptr) {
        length = static_cast<size_t>(static_cast<const char*>(zero) - text);
    }
    // A whole UTF-8 byte order mark is skipped; a part of one is no JSON.
    mark_ = length >= 3 && text[0] == '\xEF' && text[1] == '\xBB' && text[2] == '\xBF' ? 3 : 0;
    text += mark_;
    length -= mark_;
    hasText_ = false;
    // The buffer only grows: a resize to a shorter text and back would fill the bytes
    // in between with zeros each time.
    try {
        if (text_.size() < length + 1 + kTextPadding) {
            text_.resize(length + 1 + kTextPadding);
        }
    } catch (const CMemoryRefused& refused) {
        textRefusal_ = refused.heapExhausted() ? EOutcome::kOutOfMemory : EOutcome::kMemoryRefused;
        return false;
    } catch (const std::bad_alloc&) {
        textRefusal_ = EOutcome::kOutOfMemory;
        return false;
    }
    std::memcpy(text_.data(), text, length);
    std::memset(text_.data() + length, 0, 1 + kTextPadding);
    length_ = length;
    hasText_ = true;
    return true;
}

CJsonToVariableStream::EOutcome CJsonToVariableStream::Stage(CVariableView var) {
    open_.clear();
    staged_.clear();
    taken_.clear();
    names_.clear();
    plans_.clear();
    planned_.clear();
    planNames_.clear();
    fault_ = CFault();
    if (!hasText_) {
        return EOutcome::kNotJson;
    }
    CStreamHandler handler(*this, var);
    CJsonRead read{EJsonEvents::kRefused, EJsonFault::kNone, text_.data()};
    try {
        read = ReadJsonEvents(text_.data(), containers_, handler);
    } catch (const CMemoryRefused& refused) {
        staged_.clear();
        return refused.heapExhausted() ? EOutcome::kOutOfMemory : EOutcome::kMemoryRefused;
    } catch (const std::bad_alloc&) {
        staged_.clear();
        return EOutcome::kOutOfMemory;
    }
    if (read.outcome == EJsonEvents::kRefused) {
        fault_.offset = mark_ + static_cast<size_t>(read.at - text_.data());
        fault_.reason = JsonFaultText(read.fault);
    }
    switch (read.outcome) {
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
            case kWholeString:
                if (WriteWholeString(static_cast<TypeClass3>(leaf.type), leaf.address, leaf.size,
                                     taken + leaf.text.offset, leaf.text.length)) {
                    continue;
                }
                [[fallthrough]];  // the decoder writes it, as any string
            case kString:
                value.SetString(rapidjson::StringRef(taken + leaf.text.offset, leaf.text.length));
                break;
            case kNumberText: {
                // A whole double: its text tells whether its double holds it exactly.
                const char* const text = taken + leaf.text.offset;
                value.SetDouble(DecimalValue(text, leaf.text.length));
                hasExact = WholeDoubleNeedsExact(value.GetDouble(), text, leaf.text.length, exact);
                break;
            }
            case kNumberRead + CJsonNumber::kUint:
                value.SetUint(static_cast<unsigned>(leaf.magnitude));
                break;
            case kNumberRead + CJsonNumber::kUint64:
                value.SetUint64(leaf.magnitude);
                break;
            case kNumberRead + CJsonNumber::kInt:
                value.SetInt(static_cast<int>(-static_cast<int64_t>(leaf.magnitude)));
                break;
            case kNumberRead + CJsonNumber::kInt64:
                value.SetInt64(static_cast<int64_t>(~leaf.magnitude + 1));
                break;
            default:  // kNumberRead + CJsonNumber::kDouble
                value.SetDouble(leaf.number);
                break;
        }
        WriteLeaf(static_cast<TypeClass3>(leaf.type), leaf.address, leaf.size, value,
                  hasExact ? &exact : nullptr);
    }
}

void CJsonToVariableStream::Trim() {
    const size_t keep = 2 * (length_ + 1 + kTextPadding) + 4096;
    if (text_.capacity() > keep) {
        Kept<char>(CBudgetAllocator<char>(&budget_)).swap(text_);
        hasText_ = false;
    }
    if (staged_.capacity() * sizeof(CStagedLeaf) > 2 * staged_.size() * sizeof(CStagedLeaf) + 4096) {
        Kept<CStagedLeaf>(CBudgetAllocator<CStagedLeaf>(&budget_)).swap(staged_);
    }
}

void CJsonToVariableStream::Release() {
    hasText_ = false;
    length_ = 0;
    Kept<char>(CBudgetAllocator<char>(&budget_)).swap(text_);
    Kept<char>(CBudgetAllocator<char>(&budget_)).swap(containers_);
    Kept<COpen>(CBudgetAllocator<COpen>(&budget_)).swap(open_);
    Kept<CStagedLeaf>(CBudgetAllocator<CStagedLeaf>(&budget_)).swap(staged_);
    Kept<char>(CBudgetAllocator<char>(&budget_)).swap(taken_);
    Kept<std::pair<std::string_view, size_t>>(CBudgetAllocator<std::pair<std::string_view, size_t>>(&budget_))
        .swap(names_);
    Kept<CMemberPlan>(CBudgetAllocator<CMemberPlan>(&budget_)).swap(plans_);
    Kept<CPlanned>(CBudgetAllocator<CPlanned>(&budget_)).swap(planned_);
    Kept<char>(CBudgetAllocator<char>(&budget_)).swap(planNames_);
}
