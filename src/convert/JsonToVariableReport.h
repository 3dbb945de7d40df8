// CJsonToVariableReport: what writing a JSON text into a variable did, told by the walk
// (JsonToVariableStream.h) as it meets each value: the leaves written, skipped and
// missing, the members it did not know, and the first problem "PATH: REASON".
//
// The walk follows the text; the report speaks of the variable. Its first problem is the
// first in the variable's order: a member or element before the ones after it, a node
// before what lies below it, an object's unknown members after all its members, in the
// text's order. Each problem has its place in that order (the indices of the members and
// elements from the variable down), and a problem replaces the one kept only when its
// place comes first, so the text's order does not matter. A missing member is the
// problem only when there is no other.
//
// The walk tells the report the containers it opens for a node (Open, Close) and, in
// each, the member or element the next value goes to (At); every event names that place.
// An array whose elements turn out to be too few or too many is taken back (WrongCount):
// whatever was counted inside it is uncounted, and its own problem comes before any
// problem inside it.
//
// A leaf's outcome is found by writing the value into memory of the report's own, never
// into the variable: the report is made before the writes, and reads no variable memory.
// Memory of its own is charged to a budget and kept from one call to the next; the texts
// go to the CSymbolWriteReport it fills. Used by one call at a time, on its thread.
// REQUIRES for every call between Begin and Finish: the symbol index is held shared.
#ifndef CONVERT_JSONTOVARIABLEREPORT_H
#define CONVERT_JSONTOVARIABLEREPORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "convert/SymbolWriteReport.h"
#include "json/JsonMemory.h"
#include "json/Numbers.h"
#include "symbols/VariableView.h"

// The kind of a JSON value, as a report names what it found: "null", "a boolean", "an
// object", "an array", "a string", "an integer", "a number with a fraction or an exponent".
const char* FoundKind(const CJsonValue& value);
constexpr const char* kFoundObject = "an object";
constexpr const char* kFoundArray = "an array";

// The extents of the array var of 2 or 3 dimensions whose elements are all there: the
// walk and the report read its nested lists by them. False for any other node.
bool NestedShape(CVariableView var, size_t extents[3], size_t& dimensions);

// Leaves of the subtree of var (var itself when it has no children).
uint32_t CountLeaves(CVariableView var);

class CJsonToVariableReport {
   public:
    explicit CJsonToVariableReport(CMemoryBudget* budget);
    CJsonToVariableReport(const CJsonToVariableReport&) = delete;
    CJsonToVariableReport& operator=(const CJsonToVariableReport&) = delete;

    // Starts the report of a walk into var in out, counts at zero and no problem.
    void Begin(CSymbolWriteReport& out, CVariableView var);
    // The current place's node (a structure, or an array, whose children are then named
    // as elements) opens a container: the next places are its children.
    void Open(CVariableView node, bool elements);
    // The next value of the innermost container goes to its child `index`.
    void At(size_t index) { levels_.back().index = index; }
    // A key of the innermost object was met (its unknown members are told apart by it).
    void Member() { ++levels_.back().members; }
    void Close() { levels_.pop_back(); }

    // The current place is a leaf given value (exact: its exact value where the double
    // cannot tell it); address is the leaf's, type and size its class and bytes.
    void Leaf(TypeClass3 type, void* address, uint32_t size, const CJsonValue& value,
              const CExactNumber* exact);
    // The current place, a structure or an array, was given a value of another kind.
    void WrongKind(CVariableView node, const char* found);
    // The text's root is no object: it holds no member named after the variable.
    void NotAnObject(const char* found);
    // The current place, a child of the innermost container, was given no value.
    void Missing(CVariableView child);
    // A key of the innermost object names none of its node's children.
    void Unknown(const char* name, size_t length);
    // The innermost container, an array, held `given` values, not as many as it has
    // elements: everything counted inside it is taken back and its leaves are skipped.
    // Close follows.
    void WrongCount(size_t given);
    // The current place, an array of 2 or 3 dimensions given nested lists, is skipped for
    // the list at [row] (or [row][column], when column is not negative) that is no list
    // (found names what it is) or holds `given` values instead of `expected`.
    void WrongList(CVariableView array, size_t row, long column, const char* found, size_t given,
                   size_t expected);
    // Ends the report: the first missing member is the problem when there is no other.
    void Finish();

    // Gives back memory beyond a little, or all of it.
    void Trim();
    void Release();

   private:
    template <typename T>
    using Kept = std::vector<T, CBudgetAllocator<T>>;
    // One open container of a node: the node, the child the next value goes to, the keys
    // met so far (objects) and the counts when it opened (arrays take theirs back).
    struct CLevel {
        CVariableView node;
        size_t index;
        uint32_t members;
        bool elements;
        uint32_t written, skipped, unknown, missing;
    };

    // Whether the place given by the first `depth` levels' children, the last of them
    // `last` instead, comes before `best` in the variable's order (a node before what
    // lies below it); true when there is none. A tie is no precedence.
    bool Before(const Kept<size_t>& best, bool hasBest, size_t depth, size_t last) const;
    void Keep(Kept<size_t>& best, size_t depth, size_t last);
    // Claims the first problem for the place (depth, last) if it comes first: then the
    // problem text is emptied for the caller to write.
    bool Claim(size_t depth, size_t last);
    // Appends the path of the first `depth` levels' children to text, from the
    // variable's name.
    void AppendPath(std::string& text, size_t depth) const;
    size_t currentDepth() const { return levels_.size(); }
    size_t currentIndex() const { return levels_.empty() ? 0 : levels_.back().index; }
    // Memory for a leaf's trial write of value: enough for what any class writes from it.
    void* Scratch(uint32_t size, const CJsonValue& value);

    CSymbolWriteReport* out_ = nullptr;
    std::string variable_;  // the variable's name
    CVariableView var_{nullptr};
    Kept<CLevel> levels_;
    Kept<size_t> problemAt_;  // the place of the problem kept
    Kept<size_t> missingAt_;  // the place of the first missing member
    bool hasProblem_ = false;
    bool hasMissing_ = false;
    std::string missing_;  // its problem text
    Kept<char> scratch_;
    CMemoryBudget* budget_;
};

#endif  // CONVERT_JSONTOVARIABLEREPORT_H
