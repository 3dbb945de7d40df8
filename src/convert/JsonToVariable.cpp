// JSON to variable: one JSON value written into one variable of the application, leaf
// by leaf through the type-class table, optionally with a report of what was written.
//
// The walk recurses along the variable tree, whose depth is the nesting of the
// application's types, and looks into the JSON value only where the tree leads. It
// reaches members and elements only through CVariableView. The caller holds the index
// shared and the variable's lock exclusively.
//
// The walk is one template with two instances: the plain one writes and nothing else;
// the reporting one also counts what it wrote, skipped, missed and did not know, and
// keeps the first problem with its path.
//
// Members are matched to a structure's members (or an array's element names) in time
// that grows with n + m, or n log n: in the order of the structure while the object
// follows it, through a sorted index of the object's names once it does not.
#include "convert/JsonToVariable.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "convert/TypeClassTable.h"
#include "json/Utf8.h"

namespace {

typedef CJsonValue Value;

// Up to this many members an object is searched from its start; beyond, through an index.
constexpr rapidjson::SizeType kScannedMembers = 16;

// Whether a member name is the length bytes at text. Names are mostly short: they are
// compared in place rather than through a call.
inline bool SameName(const Value& name, const char* text, size_t length) {
    if (name.GetStringLength() != length) {
        return false;
    }
    const char* own = name.GetString();
    if (length > 16) {
        return std::memcmp(own, text, length) == 0;
    }
    for (size_t i = 0; i < length; ++i) {
        if (own[i] != text[i]) {
            return false;
        }
    }
    return true;
}

std::string_view NameOf(const Value& name) {
    return std::string_view(name.GetString(), name.GetStringLength());
}

// The index of the first member of object whose name is the length bytes at name,
// compared byte for byte; -1 when object has no such member. REQUIRES: object is one.
long ScanForMember(const Value& object, const char* name, size_t length) {
    const Value::ConstMemberIterator begin = object.MemberBegin();
    const Value::ConstMemberIterator end = object.MemberEnd();
    for (Value::ConstMemberIterator member = begin; member != end; ++member) {
        if (SameName(member->name, name, length)) {
            return static_cast<long>(member - begin);
        }
    }
    return -1;
}

// The members of one JSON object by name. Small objects are scanned; a larger one is
// sorted once by (name, position) on the first look-up, so each look-up is a binary
// search and finds the first member of a name. The sorted names go on top of `stack`,
// shared with the objects nested in this one, whose walks take theirs off again before
// this one looks again. Lives on the stack of one object's walk.
typedef std::vector<std::pair<std::string_view, rapidjson::SizeType>> MemberNames;
class CMemberIndex {
   public:
    CMemberIndex(const Value& object, MemberNames& stack) : object_(object), stack_(stack) {}
    ~CMemberIndex() {
        if (built_) {
            stack_.resize(base_);
        }
    }
    CMemberIndex(const CMemberIndex&) = delete;
    CMemberIndex& operator=(const CMemberIndex&) = delete;

    long find(const std::string& name) {
        if (object_.MemberCount() <= kScannedMembers) {
            return ScanForMember(object_, name.data(), name.size());
        }
        if (!built_) {
            base_ = stack_.size();
            built_ = true;
            for (rapidjson::SizeType i = 0; i < object_.MemberCount(); ++i) {
                stack_.emplace_back(NameOf(object_.MemberBegin()[i].name), i);
            }
            std::sort(stack_.begin() + static_cast<ptrdiff_t>(base_), stack_.end());
        }
        const std::string_view key(name);
        const auto begin = stack_.begin() + static_cast<ptrdiff_t>(base_);
        const auto found = std::lower_bound(begin, stack_.end(), std::make_pair(key, rapidjson::SizeType{0}));
        return found != stack_.end() && found->first == key ? static_cast<long>(found->second) : -1;
    }

   private:
    const Value& object_;
    MemberNames& stack_;
    bool built_ = false;
    size_t base_ = 0;  // where this object's sorted names start on the stack
};

// The names of a structure's members (or an array's elements), for asking whether a
// JSON member names one: scanned for a few, sorted once for more into `sorted`, whose
// strings are reused from one use to the next.
class CChildNames {
   public:
    CChildNames(CVariableView var, std::vector<std::string>& sorted) : var_(var), sorted_(sorted) {}

    bool contains(const Value& name) {
        if (var_.childCount() <= kScannedMembers) {
            for (size_t i = 0; i < var_.childCount(); ++i) {
                const CVariableView child = var_.child(i);
                if (child && SameName(name, child.name().data(), child.name().size())) {
                    return true;
                }
            }
            return false;
        }
        if (!built_) {
            built_ = true;
            for (size_t i = 0; i < var_.childCount(); ++i) {
                const CVariableView child = var_.child(i);
                if (!child) {
                    continue;
                }
                const CVariableName childName = child.name();  // an element's name is formed
                if (count_ < sorted_.size()) {
                    sorted_[count_].assign(childName.str());
                } else {
                    sorted_.emplace_back(childName.str());
                }
                ++count_;
            }
            std::sort(sorted_.begin(), sorted_.begin() + static_cast<ptrdiff_t>(count_));
        }
        const auto end = sorted_.begin() + static_cast<ptrdiff_t>(count_);
        const std::string_view key = NameOf(name);
        const auto found = std::lower_bound(sorted_.begin(), end, key,
                                            [](const std::string& a, std::string_view b) { return a < b; });
        return found != end && *found == key;
    }

   private:
    CVariableView var_;
    std::vector<std::string>& sorted_;
    bool built_ = false;
    size_t count_ = 0;  // names of this use at the front of sorted_
};

const char* FoundKind(const Value& value) {
    switch (value.GetType()) {
        case rapidjson::kNullType:
            return "null";
        case rapidjson::kFalseType:
        case rapidjson::kTrueType:
            return "a boolean";
        case rapidjson::kObjectType:
            return "an object";
        case rapidjson::kArrayType:
            return "an array";
        case rapidjson::kStringType:
            return "a string";
        default:
            return value.IsDouble() ? "a number with a fraction or an exponent" : "an integer";
    }
}

// Pieces of a report's problem, appended to it in place. A number is written as an
// integer's digits, a whole number's digits from its exact value, any other finite number
// in its shortest decimal ("7.5", "1e+39"); a string is quoted with its first 64 bytes
// (never part of a character).
struct CNumberPiece {
    const Value& value;
    const CExactNumber* exact;
};
struct CQuotedPiece {
    const Value& value;
};
struct CCountPiece {
    size_t count;
};

void Append(std::string& text, const char* piece) { text.append(piece); }
void Append(std::string& text, const std::string& piece) { text.append(piece); }
void Append(std::string& text, CCountPiece piece) {
    char digits[24];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof(digits), piece.count);
    text.append(digits, end.ptr);
}
void Append(std::string& text, const CNumberPiece& piece) {
    const Value& value = piece.value;
    char digits[40];
    char* end = digits;
    if (value.IsUint64()) {
        end = std::to_chars(digits, digits + sizeof(digits), value.GetUint64()).ptr;
    } else if (value.IsInt64()) {
        end = std::to_chars(digits, digits + sizeof(digits), value.GetInt64()).ptr;
    } else if (piece.exact != nullptr && piece.exact->whole && piece.exact->fits) {
        if (piece.exact->negative && piece.exact->magnitude != 0) {
            *end++ = '-';
        }
        end = std::to_chars(end, digits + sizeof(digits), piece.exact->magnitude).ptr;
    } else {
        end = std::to_chars(digits, digits + sizeof(digits), value.GetDouble()).ptr;
    }
    text.append(digits, end);
}
void Append(std::string& text, const CQuotedPiece& piece) {
    const size_t length = piece.value.GetStringLength();
    const size_t kept = FitUtf8(piece.value.GetString(), length, 64);
    text.append("\"").append(piece.value.GetString(), kept).append(kept < length ? "...\"" : "\"");
}

// Leaves of the subtree of var (var itself when it has no children).
uint32_t CountLeaves(CVariableView var) {
    if (var.isLeaf()) {
        return 1;
    }
    uint32_t leaves = 0;
    for (size_t i = 0; i < var.childCount(); ++i) {
        const CVariableView child = var.child(i);
        leaves += child ? CountLeaves(child) : 0;
    }
    return leaves;
}

// The extents of an array of 2 or 3 dimensions whose elements are all there; false for
// any other node.
bool NestedShape(CVariableView var, size_t extents[3], size_t& dimensions) {
    dimensions = var.dimensionCount();
    if (dimensions < 2) {
        return false;
    }
    size_t elements = 1;
    for (size_t d = 0; d < dimensions; ++d) {
        extents[d] = var.extent(d);
        elements *= extents[d];
    }
    return elements == var.childCount();
}

// Writes one JSON value into one variable by the rules of its node: a leaf takes a
// value its class takes; a structure an object, member by member, the first member of
// each name; an array a JSON array of exactly its element count, element by element, a
// multi-dimensional one also nested arrays of exactly its shape (and, for the variable
// itself, also an object whose members are named as the host names the elements).
// Whatever does not match leaves the part of the variable it was meant for unwritten.
// Lives on the stack of one call.
template <bool kReport>
class CVariableWriter {
   public:
    CVariableWriter(CSymbolWriteReport* report, const CExactNumbers* exact, CJsonToVariableScratch& scratch)
        : report_(report),
          exact_(exact != nullptr && !exact->empty() ? exact : nullptr),
          scratch_(scratch),
          path_(scratch.path),
          firstMissing_(scratch.firstMissing) {
        path_.clear();
        firstMissing_.clear();
        scratch_.matched.clear();
        scratch_.memberNames.clear();
    }

    // The variable itself; source is the JSON value given for it, null when none.
    void writeVariable(const Value* source, CVariableView var) {
        if (kReport) {
            path_.assign(var.name().str());
        }
        write(source, var, true);
        finish();
    }

    // A text whose root is not an object holds no member for the variable.
    void rootNotAnObject(const Value& root, CVariableView var) {
        if (kReport) {
            path_.assign(var.name().str());
            skip(var, "expected an object holding \"", var.name().str(), "\", found ", FoundKind(root));
        }
    }

   private:
    void write(const Value* source, CVariableView var, bool isVariable) {
        if (source == nullptr) {
            if (kReport) {
                missing(var);
            }
            return;
        }
        if (var.isLeaf()) {
            writeLeaf(*source, var);
            return;
        }
        if (var.type() == TYPE3_ARRAY) {
            if (source->IsArray()) {
                writeElements(*source, var);
            } else if (isVariable && source->IsObject()) {
                writeMembers(*source, var, true);
            } else if (kReport) {
                skip(var, "expected an array, found ", FoundKind(*source));
            }
            return;
        }
        if (source->IsObject()) {
            writeMembers(*source, var, false);
        } else if (kReport) {
            skip(var, "expected an object, found ", FoundKind(*source));
        }
    }

    void writeLeaf(const Value& source, CVariableView var) {
        const CExactNumber* exact = exact_ != nullptr && source.IsDouble() ? exact_->find(&source) : nullptr;
        const CLeafWrite result = DecodeLeaf(var.type(), var.address(), var.size(), source, exact, kReport);
        if (!kReport) {
            return;
        }
        const CTypeClassRow& row = TypeClassRow(var.type());
        if (result.outcome == CLeafWrite::kWritten) {
            ++report_->written;
            if (!wantProblem()) {
                return;
            }
            if (result.wrapped) {
                problem(CNumberPiece{source, exact}, " wrapped to ",
                        StoredIntegerText(var.type(), var.address()));
            } else if (result.cut) {
                problem("cut to ", CCountPiece{result.bytes}, " bytes");
            } else if (result.cutAtZero) {
                problem("cut at an embedded zero");
            }
            return;
        }
        ++report_->skipped;
        if (!wantProblem()) {
            return;
        }
        switch (result.outcome) {
            case CLeafWrite::kWritten:
                return;
            case CLeafWrite::kWrongKind:
                problem("expected ", row.expected, ", found ", FoundKind(source));
                return;
            case CLeafWrite::kOutOfRange:
                if (source.IsString()) {
                    problem(CQuotedPiece{source}, " is out of the range of ", row.name);
                } else if (exact != nullptr && !exact->fits) {
                    problem("a number beyond 64 bits is out of the range of ", row.name);
                } else {
                    problem(CNumberPiece{source, exact}, " is out of the range of ", row.name);
                }
                return;
            case CLeafWrite::kNotWhole:
                if (exact != nullptr) {
                    problem("the number is not a whole number");  // its double is, but its text is not
                } else {
                    problem(CNumberPiece{source, exact}, " is not a whole number");
                }
                return;
            case CLeafWrite::kTooFine:
                problem(CQuotedPiece{source}, " is finer than ", row.unit);
                return;
            case CLeafWrite::kMalformed:
                problem(CQuotedPiece{source}, " is not ", row.textForm);
                return;
            case CLeafWrite::kNeverWritten:
                if (!IsWritableClass(var.type())) {
                    problem(std::string("type class ") +
                            (row.name != nullptr ? std::string(row.name) : std::to_string(var.type())) +
                            " is never written");
                } else {
                    problem("no memory of its type to write to");
                }
                return;
        }
    }

    // REQUIRES: source is an array. A flat list of every element, or nested arrays of
    // exactly the array's shape.
    void writeElements(const Value& source, CVariableView var) {
        const size_t count = var.childCount();
        size_t extents[3] = {0, 0, 0};
        size_t dimensions = 0;
        const bool shaped = NestedShape(var, extents, dimensions);
        // Nested when the outer list has the first extent and is not the flat list itself.
        // The two have one length when every other extent is 1: then the list is nested
        // when each of its values is a list of one (of one) and, for elements that are
        // arrays themselves, the value inside is a list too.
        bool nested = shaped && source.Size() == extents[0] && extents[0] != count;
        if (shaped && source.Size() == extents[0] && extents[0] == count && count > 0) {
            nested = true;
            for (rapidjson::SizeType i = 0; i < source.Size() && nested; ++i) {
                const Value& row = source[i];
                nested = row.IsArray() && row.Size() == 1 &&
                         (dimensions == 2 || (row[0].IsArray() && row[0].Size() == 1));
            }
            const CVariableView first = var.child(0);
            nested = nested && (!first || first.type() != TYPE3_ARRAY ||
                                (dimensions == 2 ? source[0][0] : source[0][0][0]).IsArray());
        }
        if (nested) {
            writeNested(source, var, extents, dimensions);
            return;
        }
        if (source.Size() != count) {
            if (kReport) {
                if (!shaped) {
                    skip(var, CCountPiece{source.Size()}, " elements given, ", CCountPiece{count},
                         " expected");
                } else if (dimensions == 2) {
                    skip(var, CCountPiece{source.Size()}, " elements given, ", CCountPiece{count},
                         " expected (or ", CCountPiece{extents[0]}, " nested arrays of ",
                         CCountPiece{extents[1]}, ")");
                } else {
                    skip(var, CCountPiece{source.Size()}, " elements given, ", CCountPiece{count},
                         " expected (or ", CCountPiece{extents[0]}, " nested arrays of ",
                         CCountPiece{extents[1]}, " of ", CCountPiece{extents[2]}, ")");
                }
            }
            return;
        }
        for (rapidjson::SizeType i = 0; i < source.Size(); ++i) {
            const CVariableView child = var.child(i);
            if (child) {
                const size_t mark = enterElement(var, child, i);
                write(&source[i], child, false);
                leave(mark);
            }
        }
    }

    // REQUIRES: source holds extents[0] values, var has the extents. Every inner list is
    // checked before anything is written: one of the wrong kind or length writes nothing
    // of the array.
    void writeNested(const Value& source, CVariableView var, const size_t extents[3], size_t dimensions) {
        for (rapidjson::SizeType i = 0; i < source.Size(); ++i) {
            if (!innerFits(source[i], var, extents[1], i, -1)) {
                return;
            }
            for (rapidjson::SizeType j = 0; dimensions == 3 && j < source[i].Size(); ++j) {
                if (!innerFits(source[i][j], var, extents[2], i, static_cast<long>(j))) {
                    return;
                }
            }
        }
        size_t next = 0;
        for (rapidjson::SizeType i = 0; i < source.Size(); ++i) {
            for (rapidjson::SizeType j = 0; j < source[i].Size(); ++j) {
                if (dimensions == 2) {
                    writeElement(source[i][j], var, next++);
                    continue;
                }
                for (rapidjson::SizeType k = 0; k < source[i][j].Size(); ++k) {
                    writeElement(source[i][j][k], var, next++);
                }
            }
        }
    }

    // Whether an inner list of nested arrays is an array of `extent` values; if not, the
    // whole array is skipped for that reason, named at the list's place ("grid[1]",
    // "cube[1][2]": row i, and column j unless it is negative). The place is formed only
    // for a report.
    bool innerFits(const Value& inner, CVariableView var, size_t extent, rapidjson::SizeType i, long j) {
        if (inner.IsArray() && inner.Size() == extent) {
            return true;
        }
        if (kReport) {
            const size_t mark = path_.size();
            path_ += "[" + std::to_string(i) + "]";
            if (j >= 0) {
                path_ += "[" + std::to_string(j) + "]";
            }
            if (inner.IsArray()) {
                skip(var, CCountPiece{inner.Size()}, " elements given, ", CCountPiece{extent}, " expected");
            } else {
                skip(var, "expected an array, found ", FoundKind(inner));
            }
            path_.resize(mark);
        }
        return false;
    }

    void writeElement(const Value& source, CVariableView var, size_t i) {
        const CVariableView child = var.child(i);
        if (child) {
            const size_t mark = enterElement(var, child, i);
            write(&source, child, false);
            leave(mark);
        }
    }

    // REQUIRES: source is an object. Members are looked up by the children's names.
    // JSON members usually come in the order of the children: member i is tried first
    // for child i, and while every earlier child found its member at its own position,
    // a match there is the first member of that name (the children's names differ).
    void writeMembers(const Value& source, CVariableView var, bool elements) {
        const rapidjson::SizeType count = source.MemberCount();
        // This object's marks sit on top of those of the objects it is nested in.
        std::vector<char>& matched = scratch_.matched;
        const size_t base = matched.size();
        if (kReport) {
            matched.resize(base + count, 0);
        }
        CMemberIndex index(source, scratch_.memberNames);
        bool inOrder = true;
        for (size_t i = 0; i < var.childCount(); ++i) {
            const CVariableView child = var.child(i);
            if (!child) {
                inOrder = false;
                continue;
            }
            const CVariableName name = child.name();  // a node's own name is not copied
            long found = -1;
            if (inOrder && i < count) {
                if (SameName(source.MemberBegin()[i].name, name.data(), name.size())) {
                    found = static_cast<long>(i);
                }
            }
            if (found < 0) {
                inOrder = false;
                found = index.find(name.str());
            }
            const size_t mark = elements ? enterElement(var, child, i) : enterMember(name.str());
            if (found < 0) {
                write(nullptr, child, false);
            } else {
                if (kReport) {
                    matched[base + static_cast<size_t>(found)] = 1;
                }
                write(&source.MemberBegin()[found].value, child, false);
            }
            leave(mark);
        }
        if (kReport) {
            countUnknown(source, var, matched.data() + base);
            matched.resize(base);
        }
    }

    // Members of source that no child of var took and that name no child (a second
    // member of a name is not unknown).
    void countUnknown(const Value& source, CVariableView var, const char* matched) {
        CChildNames names(var, scratch_.childNames);
        for (rapidjson::SizeType j = 0; j < source.MemberCount(); ++j) {
            if (matched[j]) {
                continue;
            }
            const Value& name = source.MemberBegin()[j].name;
            if (!names.contains(name)) {
                ++report_->unknown;
                if (wantProblem()) {
                    const size_t mark = enterMember(NameOf(name));
                    problem("unknown member");
                    leave(mark);
                }
            }
        }
    }

    // All leaves below var stay unwritten, for reason.
    template <typename... Pieces>
    void skip(CVariableView var, const Pieces&... reason) {
        report_->skipped += CountLeaves(var);
        if (wantProblem()) {
            problem(reason...);
        }
    }

    // The text does not mention var: its leaves are missing. Named only when nothing
    // else goes wrong (a partial update leaves most members out on purpose).
    void missing(CVariableView var) {
        report_->missing += CountLeaves(var);
        if (firstMissing_.empty()) {
            firstMissing_.assign(path_).append(": missing");
        }
    }

    void finish() {
        if (kReport && report_->problem.empty()) {
            report_->problem = firstMissing_;
        }
    }

    bool wantProblem() const { return kReport && report_->problem.empty(); }
    // "PATH: REASON", the reason's pieces appended in place.
    template <typename... Pieces>
    void problem(const Pieces&... reason) {
        std::string& text = report_->problem;
        text.assign(path_).append(": ");
        (Append(text, reason), ...);
    }

    // The path grows by ".member" or by the element's index as the host writes it
    // ("[2]", "[1,0]"); leave() takes it back to the mark enter*() returned.
    size_t enterMember(std::string_view name) {
        const size_t mark = path_.size();
        if (kReport) {
            path_ += '.';
            path_ += name;
        }
        return mark;
    }
    size_t enterElement(CVariableView array, CVariableView element, size_t index) {
        const size_t mark = path_.size();
        if (kReport && !array.appendElementIndices(path_, index)) {
            // A tree without the array's dimensions: the host names an element after its
            // array, "arr[2]" below "arr".
            const CVariableName elementName = element.name();
            const CVariableName arrayName = array.name();
            const std::string& name = elementName.str();
            const std::string& parent = arrayName.str();
            if (name.size() > parent.size() && name.compare(0, parent.size(), parent) == 0 &&
                name[parent.size()] == '[') {
                path_.append(name, parent.size(), std::string::npos);
            } else if (!name.empty() && name[0] == '[') {
                path_ += name;
            } else {
                path_ += '[' + std::to_string(index) + ']';
            }
        }
        return mark;
    }
    void leave(size_t mark) {
        if (kReport) {
            path_.resize(mark);
        }
    }

    CSymbolWriteReport* report_;
    const CExactNumbers* exact_;  // null when no number of the text needs it
    CJsonToVariableScratch& scratch_;
    std::string& path_;          // reporting only: where the walk is, from the variable's name
    std::string& firstMissing_;  // reporting only: the first missing member's problem
};

template <bool kReport>
void Write(const Value* root, const Value* value, CVariableView var, CSymbolWriteReport* report,
           const CExactNumbers* exact, CJsonToVariableScratch& scratch) {
    CVariableWriter<kReport> writer(report, exact, scratch);
    if (root == nullptr) {
        writer.writeVariable(value, var);
    } else if (root->IsObject()) {
        const long found = ScanForMember(*root, var.name().data(), var.name().size());
        writer.writeVariable(found < 0 ? nullptr : &root->MemberBegin()[found].value, var);
    } else {
        writer.rootNotAnObject(*root, var);
    }
}

}  // namespace

void WriteVariable(const CJsonValue* root, const CJsonValue* value, CVariableView var,
                   CSymbolWriteReport* report, const CExactNumbers* exact, CJsonToVariableScratch* scratch) {
    CJsonToVariableScratch own;
    CJsonToVariableScratch& used = scratch != nullptr ? *scratch : own;
    if (report == nullptr) {
        Write<false>(root, value, var, nullptr, exact, used);
    } else {
        Write<true>(root, value, var, report, exact, used);
    }
}
