// Variable to JSON, walked through CVariableView.
#include "convert/VariableToJson.h"

#include <cstring>
#include <new>

namespace {

// Appends a member named `name` to the object and gives the place of its value, null
// until the caller makes it there. The name is copied into the document's memory and
// the member refers to that copy: RapidJSON's own copy of a string stores the value's
// flags and then reads them back with the pointer beside them, or copies a short name
// into the value, both slower here. The value is best made in place too (placement new
// of a returned value): a value made aside and then copied whole would be read back
// while its bytes are still being stored, which stalls the processor once for every
// member.
CJsonValue& AppendMember(CJsonValue& object, CVariableName name, CJsonAllocator& allocator) {
    const rapidjson::SizeType length = static_cast<rapidjson::SizeType>(name.size());
    char* copy = static_cast<char*>(allocator.Malloc(length + 1u));
    std::memcpy(copy, name.data(), length);
    copy[length] = '\0';
    CJsonValue copied(rapidjson::StringRef(copy, length));
    CJsonValue null;
    object.AddMember(copied, null, allocator);
    return object.MemberEnd()[-1].value;
}

// Appends element i of the variable `array` to the JSON array `to`, whose room was
// reserved. The value is made where the array holds it: one made aside and copied in
// would be read back whole while its bytes are still being stored, which stalls the
// processor once for every element.
void AppendElement(CJsonValue& to, CVariableView array, size_t i, CJsonAllocator& allocator, ValueForm form) {
    CJsonValue null;
    to.PushBack(null, allocator);
    const CVariableView child = array.child(i);
    if (child) {
        new (&to[to.Size() - 1]) CJsonValue(VariableToJson(child, allocator, form));
    }
}

// An array of 2 or 3 dimensions as nested arrays, first index outermost: element
// (i, j, k) is child (i * extent(1) + j) * extent(2) + k, the last index varying fastest.
// REQUIRES: the extents multiply to the child count.
CJsonValue NestedArray(CVariableView var, CJsonAllocator& allocator, ValueForm form) {
    const size_t dimensions = var.dimensionCount();
    const size_t rows = var.extent(0);
    const size_t columns = var.extent(1);
    const size_t depth = dimensions == 3 ? var.extent(2) : 1;
    CJsonValue outer(rapidjson::kArrayType);
    outer.Reserve(static_cast<rapidjson::SizeType>(rows), allocator);
    size_t next = 0;
    for (size_t i = 0; i < rows; ++i) {
        CJsonValue row(rapidjson::kArrayType);
        row.Reserve(static_cast<rapidjson::SizeType>(columns), allocator);
        for (size_t j = 0; j < columns; ++j) {
            if (dimensions == 2) {
                AppendElement(row, var, next++, allocator, form);
                continue;
            }
            CJsonValue column(rapidjson::kArrayType);
            column.Reserve(static_cast<rapidjson::SizeType>(depth), allocator);
            for (size_t k = 0; k < depth; ++k) {
                AppendElement(column, var, next++, allocator, form);
            }
            row.PushBack(column, allocator);
        }
        outer.PushBack(row, allocator);
    }
    return outer;
}

// Up to this many members, an array of structures of leaves is written from a plan.
constexpr size_t kPlannedMembers = 32;

// One member of a structure of leaves, as every element of an array that keeps one
// element as the layout of all has it: element i's member lies i * stride bytes after
// the first element's.
struct CPlannedMember {
    const char* name;
    size_t length;
    TypeClass3 type;
    char* address;  // in the first element; null for a member the host did not resolve
    uint32_t size;
};

// Writes an array whose elements are structures of leaves laid out by one element as the
// generic walk writes it, without walking each element's members again: their names,
// classes, sizes and places are taken once from the first element. False, with nothing
// made, for any other array.
bool WritePlannedArray(CVariableView var, CJsonAllocator& allocator, ValueForm form, CJsonValue& array) {
    const uint64_t stride = var.elementStride();
    const size_t count = var.childCount();
    if (stride == 0 || count == 0) {
        return false;
    }
    const CVariableView first = var.child(0);
    if (first.isLeaf() || first.type() == TYPE3_ARRAY || first.childCount() > kPlannedMembers) {
        return false;
    }
    CPlannedMember plan[kPlannedMembers];
    size_t members = 0;
    for (size_t j = 0; j < first.childCount(); ++j) {
        const CVariableView member = first.child(j);
        if (!member) {
            continue;  // written by no walk
        }
        if (!member.isLeaf()) {
            return false;
        }
        const CVariableName name = member.name();  // a member's own name, kept by the index
        plan[members++] = CPlannedMember{name.data(), name.size(), member.type(),
                                         static_cast<char*>(member.address()), member.size()};
    }
    array.SetArray();
    array.Reserve(static_cast<rapidjson::SizeType>(count), allocator);
    // Each element's object is made where the array keeps it: one made aside would be
    // copied whole while its member count is still being stored.
    for (size_t i = 0; i < count; ++i) {
        CJsonValue null;
        array.PushBack(null, allocator);
        CJsonValue& object = array[array.Size() - 1];
        object.SetObject();
        const uint64_t shift = i * stride;
        for (size_t j = 0; j < members; ++j) {
            const CPlannedMember& member = plan[j];
            CJsonValue value =
                EncodeLeaf(member.type, member.address == nullptr ? nullptr : member.address + shift,
                           member.size, form, allocator);
            CJsonValue name(member.name, static_cast<rapidjson::SizeType>(member.length), allocator);
            object.AddMember(name, value, allocator);
        }
    }
    return true;
}

// A structure as an object, its members in order. Its one return lets the object be
// made in the caller's place: returned from a function with other returns, it would be
// built aside and copied whole, read back while its member count is still being stored.
CJsonValue StructureToJson(CVariableView var, CJsonAllocator& allocator, ValueForm form) {
    const size_t count = var.childCount();
    CJsonValue object(rapidjson::kObjectType);
    for (size_t i = 0; i < count; ++i) {
        const CVariableView child = var.child(i);
        if (!child) {
            continue;
        }
        // A leaf member is encoded here, without a call for it. The value is made where
        // the member holds it; the null there needs no destruction.
        CJsonValue& member = AppendMember(object, child.name(), allocator);
        new (&member) CJsonValue(
            child.isLeaf() ? EncodeLeaf(child.type(), child.address(), child.size(), form, allocator)
                           : VariableToJson(child, allocator, form));
    }
    return object;
}

}  // namespace

// Whether the array is written as nested arrays: the form asks for it, it has 2 or 3
// dimensions, and its elements are all there.
bool WrittenAsNestedArrays(CVariableView var, ValueForm form) {
    if ((form & kFormNestedArrays) == 0 || var.dimensionCount() < 2) {
        return false;
    }
    size_t elements = 1;
    for (size_t d = 0; d < var.dimensionCount(); ++d) {
        elements *= var.extent(d);
    }
    return elements == var.childCount();
}

CJsonValue VariableToJson(CVariableView var, CJsonAllocator& allocator, ValueForm form) {
    if (var.isLeaf()) {
        return EncodeLeaf(var.type(), var.address(), var.size(), form, allocator);
    }
    const size_t count = var.childCount();
    if (var.type() == TYPE3_ARRAY) {
        if (WrittenAsNestedArrays(var, form)) {
            return NestedArray(var, allocator, form);
        }
        // Every element of a multi-dimensional array is a direct child: one flat array.
        CJsonValue array(rapidjson::kArrayType);
        if (WritePlannedArray(var, allocator, form, array)) {
            return array;
        }
        array.Reserve(static_cast<rapidjson::SizeType>(count), allocator);
        for (size_t i = 0; i < count; ++i) {
            AppendElement(array, var, i, allocator, form);
        }
        return array;
    }
    return StructureToJson(var, allocator, form);
}
