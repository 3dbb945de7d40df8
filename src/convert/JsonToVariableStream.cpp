// JSON to variable: one pass over the text (or a document's value) notes each leaf's
// value, a second pass over the notes writes them. The rules are in
// JsonToVariableStream.h.
#include "convert/JsonToVariableStream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "convert/TypeClassTable.h"
#include "json/JsonEvents.h"
#include "json/Numbers.h"

namespace {

// Up to this many members an object marks its members given a value in one word.
constexpr size_t kMaskedMembers = 64;

// Up to this many members a structure's member is searched from its start; beyond,
// through its names sorted once per object. Structures of up to kMaskedMembers members
// whose layout a Stage meets again are matched through a plan of the layout instead, as
// long as the Stage has met no more than kPlannedLayouts layouts.
constexpr size_t kScannedMembers = 16;
constexpr size_t kPlannedLayouts = 64;

// A live start of an array, read from the text (not replayed from the tape).
constexpr size_t kLive = SIZE_MAX;
// An array of 2 or 3 dimensions whose nested lists are not of its shape.
constexpr int kListsRefused = -1;

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
// double, whose exact value the text may have to tell), a document's value, or from
// kNumberRead on a number read already, kNumberRead plus the kind the document's parser
// gives it. A string that held no escape is kWholeString: it holds no zero byte.
enum EStagedKind : uint8_t {
    kNull,
    kFalse,
    kTrue,
    kString,
    kWholeString,
    kNumberText,
    kDocumentValue,
    kNumberRead
};

// A class as a note keeps it: classes from 255 up, none of the table's, stay none of them.
uint8_t StagedClass(TypeClass3 type) {
    return static_cast<uint8_t>(std::min(static_cast<unsigned>(type), 255u));
}

// The kind of the value at i of a tape, as a report names it.
const char* TapedKind(const CJsonEventTape& tape, size_t i) {
    switch (tape[i].kind) {
        case ETapedEvent::kNull:
            return FoundKind(CJsonValue());
        case ETapedEvent::kFalse:
        case ETapedEvent::kTrue:
            return FoundKind(CJsonValue(true));
        case ETapedEvent::kNumber:
            return FoundKind(tape.IsDouble(i) ? CJsonValue(0.5) : CJsonValue(0));
        case ETapedEvent::kString:
            return FoundKind(CJsonValue(rapidjson::kStringType));
        case ETapedEvent::kValue:
            return FoundKind(*tape[i].value);
        case ETapedEvent::kStartObject:
            return kFoundObject;
        default:
            return kFoundArray;
    }
}

// The value a note stands for, as a document holds it (made in `made` unless the note is
// a document's value), and the exact value of a number whose double does not tell it
// (null when there is none). taken: the taken text; exact: StageValue's numbers.
const CJsonValue& NotedValue(const CJsonToVariableStream::CStagedLeaf& leaf, const char* taken,
                             const CExactNumbers* exactNumbers, CJsonValue& made, CExactNumber& exact,
                             const CExactNumber*& exactOut) {
    exactOut = nullptr;
    switch (leaf.kind) {
        case kNull:
            break;
        case kFalse:
        case kTrue:
            made.SetBool(leaf.kind == kTrue);
            break;
        case kWholeString:
        case kString:
            made.SetString(rapidjson::StringRef(taken + leaf.text.offset, leaf.text.length));
            break;
        case kNumberText: {
            // A whole double: its text tells whether its double holds it exactly.
            const char* const text = taken + leaf.text.offset;
            made.SetDouble(DecimalValue(text, leaf.text.length));
            if (WholeDoubleNeedsExact(made.GetDouble(), text, leaf.text.length, exact)) {
                exactOut = &exact;
            }
            break;
        }
        case kDocumentValue:
            if (exactNumbers != nullptr && leaf.value->IsDouble()) {
                exactOut = exactNumbers->find(leaf.value);
            }
            return *leaf.value;
        case kNumberRead + CJsonNumber::kUint:
            made.SetUint(static_cast<unsigned>(leaf.magnitude));
            break;
        case kNumberRead + CJsonNumber::kUint64:
            made.SetUint64(leaf.magnitude);
            break;
        case kNumberRead + CJsonNumber::kInt:
            made.SetInt(static_cast<int>(-static_cast<int64_t>(leaf.magnitude)));
            break;
        case kNumberRead + CJsonNumber::kInt64:
            made.SetInt64(static_cast<int64_t>(~leaf.magnitude + 1));
            break;
        default:  // kNumberRead + CJsonNumber::kDouble
            made.SetDouble(leaf.number);
            break;
    }
    return made;
}

}  // namespace

// The reader's events, followed along the variable tree; with kReport, each told to the
// report too. Lives on the stack of one Stage.
template <bool kReport>
class CStreamHandler {
   public:
    typedef CJsonToVariableStream::COpen COpen;
    typedef CJsonToVariableStream::CStagedLeaf CStagedLeaf;
    typedef CJsonToVariableStream::CMemberPlan CMemberPlan;
    typedef CJsonToVariableStream::CPlanned CPlanned;

    CStreamHandler(CJsonToVariableStream& stream, CVariableView var) : s_(stream), var_(var) {}

    // A document's value for the variable itself: as if a root object held it under the
    // variable's name (BeginValue, the value's events, EndValue).
    void BeginValue() {
        s_.open_.emplace_back(CVariableView(nullptr), 0, 0, 0, CJsonToVariableStream::kNoPlan, nullptr, 0,
                              false);
        rootFound_ = true;
        pending_ = var_;
    }
    void EndValue() { EndObject(); }

    bool Null() {
        if (skipped_ != 0) {
            return tape(ETapedEvent::kNull);
        }
        reportLeaf(noteFor(kNull, [] { return FoundKind(CJsonValue()); }));
        return true;
    }
    bool Bool(bool b) {
        if (skipped_ != 0) {
            return tape(b ? ETapedEvent::kTrue : ETapedEvent::kFalse);
        }
        reportLeaf(noteFor(b ? kTrue : kFalse, [] { return FoundKind(CJsonValue(true)); }));
        return true;
    }
    bool Number(const CNumberSpelling& spelling) {
        if (skipped_ != 0) {
            if (taping_) {
                s_.tape_.Number(const_cast<char*>(spelling.text));
            }
            return true;
        }
        CStagedLeaf* const leaf = noteFor(kNumberText, [&] {
            return FoundKind(ReadJsonNumber(spelling).kind == CJsonNumber::kDouble ? CJsonValue(0.5)
                                                                                   : CJsonValue(0));
        });
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
                reportLeaf(leaf);
                return true;
            }
            leaf->number = number.value;
        } else {
            leaf->magnitude = number.magnitude;
        }
        leaf->kind = static_cast<uint8_t>(kNumberRead + number.kind);
        reportLeaf(leaf);
        return true;
    }
    bool String(char* text, size_t length) {
        if (skipped_ != 0) {
            if (taping_) {
                s_.tape_.String(text, length);
            }
            return true;
        }
        // After the bytes of a string that held no escape stands its closing quote.
        CStagedLeaf* const leaf = noteFor(text[length] == '"' ? kWholeString : kString,
                                          [] { return FoundKind(CJsonValue(rapidjson::kStringType)); });
        if (leaf != nullptr) {
            noteText(*leaf, text, length);
            reportLeaf(leaf);
        }
        return true;
    }
    // A document's scalar (replayed from the tape only).
    bool Value(const CJsonValue& value) {
        if (skipped_ != 0) {
            return true;
        }
        CStagedLeaf* const leaf = noteFor(kDocumentValue, [&] { return FoundKind(value); });
        if (leaf != nullptr) {
            leaf->value = &value;
            reportLeaf(leaf);
        }
        return true;
    }

    bool Key(const char* text, size_t length) {
        if (skipped_ != 0) {
            if (taping_) {
                s_.tape_.Key(text, length);
            }
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
        if (kReport) {
            s_.report_.Member();
        }
        if (open.planBase != CJsonToVariableStream::kNoPlan) {
            return plannedKey(open, text, length);
        }
        const long i = findMember(open, text, length);
        if (i < 0) {
            if (kReport) {
                s_.report_.Unknown(text, length);
            }
            return true;
        }
        if (takeMember(open, static_cast<size_t>(i))) {
            open.next = static_cast<size_t>(i) + 1;
            pending_ = open.var.child(static_cast<size_t>(i));
            if (kReport) {
                s_.report_.At(static_cast<size_t>(i));
            }
        }
        return true;  // a second member of a name is not unknown
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
        if (kReport) {
            s_.report_.Member();
        }
        takePlanned(open, plan, open.next);
        return member.length + 1;
    }

    // A start inside a skipped value: counted (and taped while an array is taped).
    bool SkippedStart(ETapedEvent event) {
        if (skipped_ == 0) {
            return false;
        }
        if (taping_) {
            s_.tape_.Start(event);
        }
        ++skipped_;
        return true;
    }

    bool StartObject() {
        if (SkippedStart(ETapedEvent::kStartObject)) {
            return true;
        }
        if (s_.open_.empty()) {
            s_.open_.emplace_back(CVariableView(nullptr), 0, 0, 0, CJsonToVariableStream::kNoPlan, nullptr, 0,
                                  false);
            return true;
        }
        if (pendingLeaf_ != CJsonToVariableStream::kNoPlan) {
            reportPlannedContainer(rapidjson::kObjectType);  // a leaf takes no object
            pendingLeaf_ = CJsonToVariableStream::kNoPlan;
            ++skipped_;
            return true;
        }
        const CVariableView target = nextTarget();
        if (!target || target.isLeaf()) {
            reportContainer(target, rapidjson::kObjectType);
            ++skipped_;
            return true;
        }
        const bool elements = target.type() == TYPE3_ARRAY;
        if (elements && s_.open_.back().var) {
            // Only the variable itself (the root object's member) takes an object of its
            // elements' names.
            if (kReport) {
                s_.report_.WrongKind(target, kFoundObject);
            }
            ++skipped_;
            return true;
        }
        const size_t members = target.childCount();
        const size_t plan =
            !elements && members <= kMaskedMembers ? planOf(target) : CJsonToVariableStream::kNoPlan;
        s_.open_.emplace_back(target, s_.staged_.size(), s_.taken_.size(), s_.names_.size(), plan,
                              static_cast<char*>(target.address()), static_cast<uint32_t>(members), false,
                              elements);
        if (members > kMaskedMembers) {
            s_.taken_.resize(s_.taken_.size() + members, 0);
        }
        if (kReport) {
            s_.report_.Open(target, elements);
        }
        return true;
    }

    bool EndObject() {
        if (skipped_ != 0) {
            if (taping_) {
                s_.tape_.End();
            }
            --skipped_;
            return true;
        }
        const COpen& open = s_.open_.back();
        if (kReport) {
            reportMissing(open);
        }
        s_.taken_.resize(open.takenBase);
        s_.names_.resize(open.namesBase);
        s_.open_.pop_back();
        return true;
    }

    bool StartArray() { return StartArrayAt(kLive); }

    // A start of an array, read from the text (kLive) or replayed from the tape at `at`.
    bool StartArrayAt(size_t at) {
        if (SkippedStart(ETapedEvent::kStartArray)) {
            return true;
        }
        if (s_.open_.empty()) {
            if (kReport) {
                s_.report_.NotAnObject(kFoundArray);  // a root that is no object holds no member
            }
            ++skipped_;
            return true;
        }
        COpen& open = s_.open_.back();
        if (open.inList < open.lists) {
            ++open.inList;  // a list around elements, of the array's shape
            return true;
        }
        if (pendingLeaf_ != CJsonToVariableStream::kNoPlan) {
            reportPlannedContainer(rapidjson::kArrayType);  // a leaf takes no array
            pendingLeaf_ = CJsonToVariableStream::kNoPlan;
            ++skipped_;
            return true;
        }
        CVariableView target = taped_;
        if (target) {
            taped_ = CVariableView(nullptr);
        } else {
            target = nextTarget();
        }
        if (!target || target.isLeaf() || target.type() != TYPE3_ARRAY) {
            reportContainer(target, rapidjson::kArrayType);
            ++skipped_;
            return true;
        }
        size_t extents[3] = {0, 0, 0};
        size_t dimensions = 0;
        int lists = 0;
        if (NestedShape(target, extents, dimensions)) {
            if (at == kLive) {
                // Flat or nested, and of its shape, is known at its end: kept until then.
                taping_ = true;
                taped_ = target;
                s_.tape_.Clear();
                s_.tape_.Start(ETapedEvent::kStartArray);
                ++skipped_;
                return true;
            }
            lists = listsOf(target, at, extents, dimensions);
            if (lists == kListsRefused) {
                ++skipped_;
                return true;
            }
        }
        s_.open_.emplace_back(target, s_.staged_.size(), 0, 0, CJsonToVariableStream::kNoPlan, nullptr, 0,
                              true, false, static_cast<uint8_t>(lists));
        if (kReport) {
            s_.report_.Open(target, true);
        }
        return true;
    }

    bool EndArray() {
        if (skipped_ != 0) {
            if (!taping_) {
                --skipped_;
                return true;
            }
            s_.tape_.End();
            if (--skipped_ == 0) {
                // The array is read: given again, it is written as its lists say.
                taping_ = false;
                s_.tape_.Replay(*this, 0, s_.tape_.size());
            }
            return true;
        }
        COpen& open = s_.open_.back();
        if (open.inList != 0) {
            --open.inList;
            return true;
        }
        if (open.next != open.var.childCount()) {
            s_.staged_.resize(open.stagedMark);  // an array of another count is not written
            if (kReport) {
                s_.report_.WrongCount(open.next);
            }
        }
        if (kReport) {
            s_.report_.Close();
        }
        s_.open_.pop_back();
        return true;
    }

   private:
    // A literal inside a value that goes nowhere, or onto the tape.
    bool tape(ETapedEvent kind) {
        if (taping_) {
            s_.tape_.Literal(kind);
        }
        return true;
    }

    // The note of the scalar value that begins now, of the kind given; null when the
    // value goes to no leaf. found names the value's kind for the report (called only
    // there, where the value goes to no leaf).
    template <typename Found>
    CStagedLeaf* noteFor(uint8_t kind, Found found) {
        if (s_.open_.empty()) {
            if (kReport) {
                s_.report_.NotAnObject(found());  // a root that is no object holds no member
            }
            return nullptr;
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
            if (kReport && target) {
                s_.report_.WrongKind(target, found());
            }
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

    // Tells the report what the note's leaf was given.
    void reportLeaf(const CStagedLeaf* leaf) {
        if (!kReport || leaf == nullptr) {
            return;
        }
        CJsonValue made;
        CExactNumber exact;
        const CExactNumber* exactOut = nullptr;
        const CJsonValue& value = NotedValue(*leaf, s_.text_.data(), s_.exact_, made, exact, exactOut);
        s_.report_.Leaf(static_cast<TypeClass3>(leaf->type), leaf->address, leaf->size, value, exactOut);
    }

    // Tells the report that target, a leaf or a node of another kind, was given a
    // container of the type given (nothing for no node).
    void reportContainer(CVariableView target, rapidjson::Type type) {
        if (!kReport || !target) {
            return;
        }
        if (!target.isLeaf()) {
            s_.report_.WrongKind(target, type == rapidjson::kObjectType ? kFoundObject : kFoundArray);
            return;
        }
        const CJsonValue container(type);
        s_.report_.Leaf(target.type(), target.address(), target.size(), container, nullptr);
    }
    // The same for the planned leaf the last key named.
    void reportPlannedContainer(rapidjson::Type type) {
        if (!kReport) {
            return;
        }
        const CMemberPlan& member = s_.plans_[pendingLeaf_];
        const CJsonValue container(type);
        s_.report_.Leaf(static_cast<TypeClass3>(member.type), pendingAddress_, member.size, container,
                        nullptr);
    }

    // Tells the report the members of the object's node that were given no value (the
    // root object: the variable itself) and closes the node's container.
    void reportMissing(const COpen& open) {
        if (!open.var) {
            if (!rootFound_) {
                s_.report_.Missing(var_);
            }
            return;
        }
        const size_t count = open.var.childCount();
        for (size_t i = 0; i < count; ++i) {
            const bool taken = count <= kMaskedMembers ? (open.takenMask & (uint64_t{1} << i)) != 0
                                                       : s_.taken_[open.takenBase + i] != 0;
            if (!taken) {
                const CVariableView child = open.var.child(i);
                if (child) {
                    s_.report_.At(i);
                    s_.report_.Missing(child);
                }
            }
        }
        s_.report_.Close();
    }

    // Marks member i of open's object as given a value; false when it already was.
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
        if (i >= open.var.childCount()) {
            return CVariableView(nullptr);
        }
        if (kReport) {
            s_.report_.At(i);
        }
        return open.var.child(i);
    }

    // How target, an array of 2 or 3 dimensions, takes the array replayed at `at`: 0 as a
    // flat list of every element, or as nested lists of exactly its shape (the lists
    // around each element); kListsRefused for nested lists of another shape (told to the
    // report), which write nothing of the array. The outer list is nested when it has the
    // first extent and is not the flat list itself. The two have one length when every
    // other extent is 1: then the list is nested when each of its values is a list of one
    // (of one) and, for elements that are arrays themselves, the value inside is a list.
    int listsOf(CVariableView target, size_t at, const size_t extents[3], size_t dimensions) {
        const CJsonEventTape& tape = s_.tape_;
        const size_t count = target.childCount();
        const size_t end = tape[at].end;
        const bool outer = tape[at].count == extents[0];
        bool nested = outer && extents[0] != count;
        if (outer && extents[0] == count && count > 0) {
            nested = true;
            for (size_t row = at + 1; row < end && nested; row = tape.Next(row)) {
                nested = IsListOf(tape, row, 1) && (dimensions == 2 || IsListOf(tape, row + 1, 1));
            }
            const CVariableView first = target.child(0);
            nested = nested && (!first || first.type() != TYPE3_ARRAY ||
                                tape[at + dimensions].kind == ETapedEvent::kStartArray);
        }
        if (!nested) {
            return 0;
        }
        // Every inner list is checked before anything is written, in the text's order.
        size_t i = 0;
        for (size_t row = at + 1; row < end; row = tape.Next(row), ++i) {
            if (!listFits(target, row, extents[1], i, -1)) {
                return kListsRefused;
            }
            long j = 0;
            for (size_t column = row + 1; dimensions == 3 && column < tape[row].end;
                 column = tape.Next(column)) {
                if (!listFits(target, column, extents[2], i, j++)) {
                    return kListsRefused;
                }
            }
        }
        return static_cast<int>(dimensions) - 1;
    }

    static bool IsListOf(const CJsonEventTape& tape, size_t i, size_t count) {
        return tape[i].kind == ETapedEvent::kStartArray && tape[i].count == count;
    }

    // Whether the inner list at tape index i, list [row] or [row][column] of the nested
    // lists for target, is a list of `extent` values; if not, the report is told.
    bool listFits(CVariableView target, size_t i, size_t extent, size_t row, long column) {
        const CJsonEventTape& tape = s_.tape_;
        if (IsListOf(tape, i, extent)) {
            return true;
        }
        if (kReport) {
            const bool list = tape[i].kind == ETapedEvent::kStartArray;
            s_.report_.WrongList(target, row, column, list ? nullptr : TapedKind(tape, i), tape[i].count,
                                 extent);
        }
        return false;
    }

    // The index of the member (or element) of open's object named by the length bytes at
    // text; -1 when none is. Members usually come in the structure's order: the one after
    // the last found is tried first.
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
            if (open.elements) {
                sortElementNames(var);
            } else {
                for (size_t i = 0; i < count; ++i) {
                    const CVariableView child = var.child(i);
                    if (child) {
                        // A member's name is the node's own, which lives in the index the
                        // caller holds.
                        const CVariableName name = child.name();
                        s_.names_.emplace_back(std::string_view(name.data(), name.size()), i);
                    }
                }
            }
            std::sort(s_.names_.begin() + static_cast<ptrdiff_t>(open.namesBase), s_.names_.end());
        }
        const std::string_view key(text, length);
        const auto begin = s_.names_.begin() + static_cast<ptrdiff_t>(open.namesBase);
        const auto found = std::lower_bound(begin, s_.names_.end(), std::make_pair(key, size_t{0}));
        return found != s_.names_.end() && found->first == key ? static_cast<long>(found->second) : -1;
    }

    // The names of the elements of the array var into names_, for an object of them: an
    // element's name is formed, so the names are kept in elementNames_ while the object
    // is read (only the variable itself takes such an object: one per stage).
    void sortElementNames(CVariableView var) {
        s_.elementNames_.clear();
        s_.elementPlaces_.clear();
        for (size_t i = 0; i < var.childCount(); ++i) {
            const CVariableView child = var.child(i);
            if (child) {
                const CVariableName name = child.name();
                s_.elementPlaces_.emplace_back(s_.elementNames_.size(), i);
                s_.elementNames_.insert(s_.elementNames_.end(), name.data(), name.data() + name.size());
            }
        }
        const char* const names = s_.elementNames_.data();
        for (size_t k = 0; k < s_.elementPlaces_.size(); ++k) {
            const size_t from = s_.elementPlaces_[k].first;
            const size_t to =
                k + 1 < s_.elementPlaces_.size() ? s_.elementPlaces_[k + 1].first : s_.elementNames_.size();
            s_.names_.emplace_back(std::string_view(names + from, to - from), s_.elementPlaces_[k].second);
        }
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
                if (kReport) {
                    s_.report_.Unknown(text, length);  // no member of that name
                }
                return true;
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
        if (kReport) {
            s_.report_.At(i);
        }
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
    CVariableView taped_{nullptr};    // the array of 2 or 3 dimensions being kept, then given again
    size_t skipped_ = 0;              // containers open inside a value that goes nowhere, or is kept
    bool rootFound_ = false;
    bool taping_ = false;  // the events go onto the tape
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
      planNames_(CBudgetAllocator<char>(&budget_)),
      elementNames_(CBudgetAllocator<char>(&budget_)),
      elementPlaces_(CBudgetAllocator<std::pair<size_t, size_t>>(&budget_)),
      tape_(&budget_),
      report_(&budget_) {}

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

void CJsonToVariableStream::Clear() {
    open_.clear();
    staged_.clear();
    taken_.clear();
    names_.clear();
    plans_.clear();
    planned_.clear();
    planNames_.clear();
    tape_.Clear();
    fault_ = CFault();
    exact_ = nullptr;
}

template <typename Work>
CJsonToVariableStream::EOutcome CJsonToVariableStream::Refusing(Work work) {
    try {
        work();
    } catch (const CMemoryRefused& refused) {
        staged_.clear();
        return refused.heapExhausted() ? EOutcome::kOutOfMemory : EOutcome::kMemoryRefused;
    } catch (const std::bad_alloc&) {
        staged_.clear();
        return EOutcome::kOutOfMemory;
    }
    return EOutcome::kStaged;
}

template <typename Handler>
CJsonToVariableStream::EOutcome CJsonToVariableStream::ReadWith(Handler& handler) {
    CJsonRead read{EJsonEvents::kRefused, EJsonFault::kNone, text_.data()};
    const EOutcome outcome = Refusing([&] { read = ReadJsonEvents(text_.data(), containers_, handler); });
    if (outcome != EOutcome::kStaged) {
        return outcome;
    }
    if (read.outcome == EJsonEvents::kParsed) {
        return EOutcome::kStaged;
    }
    // No event stops the reading: the text was refused.
    fault_.offset = mark_ + static_cast<size_t>(read.at - text_.data());
    fault_.reason = JsonFaultText(read.fault);
    staged_.clear();
    return EOutcome::kNotJson;
}

CJsonToVariableStream::EOutcome CJsonToVariableStream::Stage(CVariableView var, CSymbolWriteReport* report) {
    Clear();
    if (!hasText_) {
        return EOutcome::kNotJson;
    }
    if (report == nullptr) {
        CStreamHandler<false> handler(*this, var);
        return ReadWith(handler);
    }
    EOutcome outcome = Refusing([&] { report_.Begin(*report, var); });
    if (outcome != EOutcome::kStaged) {
        return outcome;
    }
    CStreamHandler<true> handler(*this, var);
    outcome = ReadWith(handler);
    return outcome == EOutcome::kStaged ? Refusing([&] { report_.Finish(); }) : outcome;
}

CJsonToVariableStream::EOutcome CJsonToVariableStream::StageValue(const CJsonValue& value,
                                                                  const CExactNumbers* exact,
                                                                  CVariableView var) {
    Clear();
    exact_ = exact != nullptr && !exact->empty() ? exact : nullptr;
    return Refusing([&] {
        tape_.Value(value);
        CStreamHandler<false> handler(*this, var);
        handler.BeginValue();
        tape_.Replay(handler, 0, tape_.size());
        handler.EndValue();
    });
}

CJsonToVariableStream::EOutcome CJsonToVariableStream::Check() {
    Clear();
    if (!hasText_) {
        return EOutcome::kNotJson;
    }
    CJsonCheckOnly handler;
    return ReadWith(handler);
}

void CJsonToVariableStream::Commit() {
    const char* const taken = text_.data();
    for (const CStagedLeaf& leaf : staged_) {
        if (leaf.kind == kWholeString &&
            WriteWholeString(static_cast<TypeClass3>(leaf.type), leaf.address, leaf.size,
                             taken + leaf.text.offset, leaf.text.length)) {
            continue;  // otherwise the decoder writes it, as any string
        }
        CJsonValue made;
        CExactNumber exact;
        const CExactNumber* exactOut = nullptr;
        const CJsonValue& value = NotedValue(leaf, taken, exact_, made, exact, exactOut);
        WriteLeaf(static_cast<TypeClass3>(leaf.type), leaf.address, leaf.size, value, exactOut);
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
    tape_.Trim();
    report_.Trim();
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
    Kept<char>(CBudgetAllocator<char>(&budget_)).swap(elementNames_);
    Kept<std::pair<size_t, size_t>>(CBudgetAllocator<std::pair<size_t, size_t>>(&budget_))
        .swap(elementPlaces_);
    tape_.Release();
    report_.Release();
}
