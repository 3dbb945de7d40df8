// The report of JSON to variable: counts, and the first problem in the variable's order.
#include "convert/JsonToVariableReport.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "convert/TypeClassTable.h"
#include "json/Utf8.h"

namespace {

// Pieces of a report's problem, appended to it in place. A number is written as an
// integer's digits, a whole number's digits from its exact value, any other finite number
// in its shortest decimal ("7.5", "1e+39"); a string is quoted with its first 64 bytes
// (never part of a character).
struct CNumberPiece {
    const CJsonValue& value;
    const CExactNumber* exact;
};
struct CQuotedPiece {
    const CJsonValue& value;
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
    const CJsonValue& value = piece.value;
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

template <typename... Pieces>
void Say(std::string& text, const Pieces&... pieces) {
    (Append(text, pieces), ...);
}

// The piece of a path that names child `index` of node: ".member", or for an element the
// indices as the host writes them ("[2]", "[1,0]"; an element of an array of arrays after
// the element that holds it), from the array's dimensions whatever the host names the
// element.
void AppendChild(std::string& text, CVariableView node, size_t index, bool elements) {
    const CVariableView child = node.child(index);
    const CVariableName childName = child.name();
    if (!elements) {
        text += '.';
        text += childName.str();
        return;
    }
    if (node.appendElementIndices(text, index)) {
        return;
    }
    // A tree without the array's dimensions: the host names an element after its array,
    // "arr[2]" below "arr".
    const CVariableName arrayName = node.name();
    const std::string& name = childName.str();
    const std::string& parent = arrayName.str();
    if (name.size() > parent.size() && name.compare(0, parent.size(), parent) == 0 &&
        name[parent.size()] == '[') {
        text.append(name, parent.size(), std::string::npos);
    } else if (!name.empty() && name[0] == '[') {
        text += name;
    } else {
        text += '[';
        Append(text, CCountPiece{index});
        text += ']';
    }
}

}  // namespace

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

const char* FoundKind(const CJsonValue& value) {
    switch (value.GetType()) {
        case rapidjson::kNullType:
            return "null";
        case rapidjson::kFalseType:
        case rapidjson::kTrueType:
            return "a boolean";
        case rapidjson::kObjectType:
            return kFoundObject;
        case rapidjson::kArrayType:
            return kFoundArray;
        case rapidjson::kStringType:
            return "a string";
        default:
            return value.IsDouble() ? "a number with a fraction or an exponent" : "an integer";
    }
}

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

CJsonToVariableReport::CJsonToVariableReport(CMemoryBudget* budget)
    : levels_(CBudgetAllocator<CLevel>(budget)),
      problemAt_(CBudgetAllocator<size_t>(budget)),
      missingAt_(CBudgetAllocator<size_t>(budget)),
      scratch_(CBudgetAllocator<char>(budget)),
      budget_(budget) {}

void CJsonToVariableReport::Begin(CSymbolWriteReport& out, CVariableView var) {
    out_ = &out;
    out.written = out.skipped = out.unknown = out.errorOffset = out.missing = 0;
    out.problem.clear();
    var_ = var;
    variable_.assign(var.name().str());
    levels_.clear();
    hasProblem_ = hasMissing_ = false;
    missing_.clear();
}

void CJsonToVariableReport::Open(CVariableView node, bool elements) {
    levels_.push_back(
        CLevel{node, 0, 0, elements, out_->written, out_->skipped, out_->unknown, out_->missing});
}

bool CJsonToVariableReport::Before(const Kept<size_t>& best, bool hasBest, size_t depth, size_t last) const {
    if (!hasBest) {
        return true;
    }
    for (size_t k = 0; k < depth; ++k) {
        if (k == best.size()) {
            return false;  // the kept place lies above this one
        }
        const size_t mine = k + 1 == depth ? last : levels_[k].index;
        if (mine != best[k]) {
            return mine < best[k];
        }
    }
    return depth < best.size();  // this place lies above the kept one
}

void CJsonToVariableReport::Keep(Kept<size_t>& best, size_t depth, size_t last) {
    best.clear();
    for (size_t k = 0; k < depth; ++k) {
        best.push_back(k + 1 == depth ? last : levels_[k].index);
    }
}

bool CJsonToVariableReport::Claim(size_t depth, size_t last) {
    if (!Before(problemAt_, hasProblem_, depth, last)) {
        return false;
    }
    Keep(problemAt_, depth, last);
    hasProblem_ = true;
    out_->problem.clear();
    return true;
}

void CJsonToVariableReport::AppendPath(std::string& text, size_t depth) const {
    text.append(variable_);
    for (size_t k = 0; k < depth; ++k) {
        AppendChild(text, levels_[k].node, levels_[k].index, levels_[k].elements);
    }
}

void* CJsonToVariableReport::Scratch(uint32_t size, const CJsonValue& value) {
    // Below a string's own, no class writes more than eight bytes; a STRING writes at most
    // its bytes and a terminator, a WSTRING a code unit per byte and a terminator.
    const size_t needed = value.IsString() ? std::max<size_t>(2 * size_t{value.GetStringLength()} + 2, 8) : 8;
    const size_t bytes = std::min<size_t>(size, needed);
    if (scratch_.size() < bytes) {
        scratch_.resize(bytes);
    }
    return scratch_.data();
}

void CJsonToVariableReport::Leaf(TypeClass3 type, void* address, uint32_t size, const CJsonValue& value,
                                 const CExactNumber* exact) {
    void* const trial = address != nullptr ? Scratch(size, value) : nullptr;
    const CLeafWrite result = DecodeLeaf(type, trial, size, value, exact, true);
    const size_t depth = currentDepth();
    const size_t last = currentIndex();
    const CTypeClassRow& row = TypeClassRow(type);
    if (result.outcome == CLeafWrite::kWritten) {
        ++out_->written;
        if ((!result.wrapped && !result.cut && !result.cutAtZero) || !Claim(depth, last)) {
            return;
        }
        std::string& text = out_->problem;
        AppendPath(text, depth);
        text.append(": ");
        if (result.wrapped) {
            Say(text, CNumberPiece{value, exact}, " wrapped to ", StoredIntegerText(type, trial));
        } else if (result.cut) {
            Say(text, "cut to ", CCountPiece{result.bytes}, " bytes");
        } else {
            Say(text, "cut at an embedded zero");
        }
        return;
    }
    ++out_->skipped;
    if (!Claim(depth, last)) {
        return;
    }
    std::string& text = out_->problem;
    AppendPath(text, depth);
    text.append(": ");
    switch (result.outcome) {
        case CLeafWrite::kWritten:
            return;
        case CLeafWrite::kWrongKind:
            Say(text, "expected ", row.expected, ", found ", FoundKind(value));
            return;
        case CLeafWrite::kOutOfRange:
            if (value.IsString()) {
                Say(text, CQuotedPiece{value}, " is out of the range of ", row.name);
            } else if (exact != nullptr && !exact->fits) {
                Say(text, "a number beyond 64 bits is out of the range of ", row.name);
            } else {
                Say(text, CNumberPiece{value, exact}, " is out of the range of ", row.name);
            }
            return;
        case CLeafWrite::kNotWhole:
            if (exact != nullptr) {
                Say(text, "the number is not a whole number");  // its double is, but its text is not
            } else {
                Say(text, CNumberPiece{value, exact}, " is not a whole number");
            }
            return;
        case CLeafWrite::kTooFine:
            Say(text, CQuotedPiece{value}, " is finer than ", row.unit);
            return;
        case CLeafWrite::kMalformed:
            Say(text, CQuotedPiece{value}, " is not ", row.textForm);
            return;
        case CLeafWrite::kNeverWritten:
            if (!IsWritableClass(type)) {
                if (row.name != nullptr) {
                    Say(text, "type class ", row.name, " is never written");
                } else {
                    Say(text, "type class ", CCountPiece{static_cast<size_t>(type)}, " is never written");
                }
            } else {
                Say(text, "no memory of its type to write to");
            }
            return;
    }
}

void CJsonToVariableReport::WrongKind(CVariableView node, const char* found) {
    out_->skipped += CountLeaves(node);
    const size_t depth = currentDepth();
    if (Claim(depth, currentIndex())) {
        AppendPath(out_->problem, depth);
        Say(out_->problem, ": expected ", node.type() == TYPE3_ARRAY ? "an array" : "an object", ", found ",
            found);
    }
}

void CJsonToVariableReport::NotAnObject(const char* found) {
    out_->skipped += CountLeaves(var_);
    if (Claim(0, 0)) {
        AppendPath(out_->problem, 0);
        Say(out_->problem, ": expected an object holding \"", variable_, "\", found ", found);
    }
}

void CJsonToVariableReport::Missing(CVariableView child) {
    out_->missing += CountLeaves(child);
    const size_t depth = currentDepth();
    const size_t last = currentIndex();
    if (Before(missingAt_, hasMissing_, depth, last)) {
        Keep(missingAt_, depth, last);
        hasMissing_ = true;
        missing_.clear();
        AppendPath(missing_, depth);
        missing_.append(": missing");
    }
}

void CJsonToVariableReport::Unknown(const char* name, size_t length) {
    ++out_->unknown;
    // After every child of the object's node, in the order of the text.
    const CLevel& level = levels_.back();
    const size_t depth = currentDepth();
    if (Claim(depth, level.node.childCount() + level.members - 1)) {
        std::string& text = out_->problem;
        AppendPath(text, depth - 1);
        text += '.';
        text.append(name, length);
        text.append(": unknown member");
    }
}

void CJsonToVariableReport::WrongCount(size_t given) {
    const CLevel& level = levels_.back();
    out_->written = level.written;
    out_->skipped = level.skipped + CountLeaves(level.node);
    out_->unknown = level.unknown;
    out_->missing = level.missing;
    const size_t depth = currentDepth() - 1;  // the array itself
    if (!Claim(depth, depth == 0 ? 0 : levels_[depth - 1].index)) {
        return;
    }
    const size_t count = level.node.childCount();
    size_t extents[3] = {0, 0, 0};
    size_t dimensions = 0;
    std::string& text = out_->problem;
    AppendPath(text, depth);
    Say(text, ": ", CCountPiece{given}, " elements given, ", CCountPiece{count}, " expected");
    if (NestedShape(level.node, extents, dimensions)) {
        Say(text, " (or ", CCountPiece{extents[0]}, " nested arrays of ", CCountPiece{extents[1]});
        if (dimensions == 3) {
            Say(text, " of ", CCountPiece{extents[2]});
        }
        text += ')';
    }
}

void CJsonToVariableReport::WrongList(CVariableView array, size_t row, long column, const char* found,
                                      size_t given, size_t expected) {
    out_->skipped += CountLeaves(array);
    const size_t depth = currentDepth();
    if (!Claim(depth, currentIndex())) {
        return;
    }
    std::string& text = out_->problem;
    AppendPath(text, depth);
    Say(text, "[", CCountPiece{row}, "]");
    if (column >= 0) {
        Say(text, "[", CCountPiece{static_cast<size_t>(column)}, "]");
    }
    if (found != nullptr) {
        Say(text, ": expected an array, found ", found);
    } else {
        Say(text, ": ", CCountPiece{given}, " elements given, ", CCountPiece{expected}, " expected");
    }
}

void CJsonToVariableReport::Finish() {
    if (!hasProblem_ && hasMissing_) {
        out_->problem.assign(missing_);
    }
}

void CJsonToVariableReport::Trim() {
    if (scratch_.capacity() > 4096) {
        Kept<char>(CBudgetAllocator<char>(budget_)).swap(scratch_);
    }
}

void CJsonToVariableReport::Release() {
    Kept<CLevel>(CBudgetAllocator<CLevel>(budget_)).swap(levels_);
    Kept<size_t>(CBudgetAllocator<size_t>(budget_)).swap(problemAt_);
    Kept<size_t>(CBudgetAllocator<size_t>(budget_)).swap(missingAt_);
    Kept<char>(CBudgetAllocator<char>(budget_)).swap(scratch_);
    std::string().swap(missing_);
}
