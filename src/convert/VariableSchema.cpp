// The schema of a variable, walked through CVariableView.
#include "convert/VariableSchema.h"

#include <string>

#include "convert/LeafSchemas.h"
#include "convert/VariableToJson.h"

namespace {

typedef CJsonValue Value;

Value Literal(const char* text) { return Value(rapidjson::StringRef(text)); }

// The class as description: "DINT", "STRING(80)", "WSTRING(20)".
Value ClassDescription(CVariableView leaf, const CTypeClassRow& row, CJsonAllocator& allocator) {
    std::string text = row.name != nullptr ? row.name : "unknown class";
    if (leaf.type() == TYPE3_STRING && leaf.size() >= 1) {
        text += "(" + std::to_string(leaf.size() - 1) + ")";
    } else if (leaf.type() == TYPE3_WSTRING && leaf.size() >= 2) {
        text += "(" + std::to_string(leaf.size() / 2 - 1) + ")";
    }
    return Value(text.data(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

// A leaf as EncodeLeaf writes it: null without memory or below its class's width.
Value LeafSchema(CVariableView leaf, CJsonAllocator& allocator, ValueForm form) {
    const CTypeClassRow& row = TypeClassRow(leaf.type());
    Value schema = leaf.address() == nullptr || leaf.size() < row.width
                       ? NullSchema(leaf.size(), form, allocator)
                       : row.schema(leaf.size(), form, allocator);
    schema.AddMember(Literal("description"), ClassDescription(leaf, row, allocator), allocator);
    return schema;
}

// Lets the schema accept null as well: a member or element the walk could not describe
// is written as null.
void AlsoNull(Value& schema, CJsonAllocator& allocator) {
    Value::MemberIterator type = schema.FindMember("type");
    if (type == schema.MemberEnd()) {
        return;  // already accepts every kind
    }
    if (type->value.IsString()) {
        if (std::string(type->value.GetString()) == "null") {
            return;
        }
        Value kinds(rapidjson::kArrayType);
        kinds.PushBack(type->value, allocator);
        type->value = kinds;
    }
    for (const Value& kind : type->value.GetArray()) {
        if (std::string(kind.GetString()) == "null") {
            return;
        }
    }
    type->value.PushBack(Literal("null"), allocator);
}

// {"type": "array", "minItems": count, "maxItems": count, "items": items}
Value ArrayOf(size_t count, Value& items, CJsonAllocator& allocator) {
    Value schema(rapidjson::kObjectType);
    schema.AddMember(Literal("type"), Literal("array"), allocator);
    schema.AddMember(Literal("minItems"), Value(static_cast<uint64_t>(count)), allocator);
    schema.AddMember(Literal("maxItems"), Value(static_cast<uint64_t>(count)), allocator);
    schema.AddMember(Literal("items"), items, allocator);
    return schema;
}

// Every element has one layout, so one items schema describes them all: the first
// element's, with null allowed when some element has no node (written as null).
Value ArraySchema(CVariableView var, CJsonAllocator& allocator, ValueForm form) {
    const size_t count = var.childCount();
    CVariableView first(nullptr);
    bool someMissing = false;
    for (size_t i = 0; i < count; ++i) {
        const CVariableView element = var.child(i);
        if (!element) {
            someMissing = true;
        } else if (!first) {
            first = element;
        }
    }
    Value items = first ? VariableSchema(first, allocator, form) : NullSchema(0, form, allocator);
    if (someMissing) {
        AlsoNull(items, allocator);
    }
    if (!WrittenAsNestedArrays(var, form)) {
        return ArrayOf(count, items, allocator);
    }
    // Innermost first: the last dimension's arrays hold the elements.
    for (size_t d = var.dimensionCount(); d-- > 1;) {
        items = ArrayOf(var.extent(d), items, allocator);
    }
    return ArrayOf(var.extent(0), items, allocator);
}

// Every member the text writes, required; no other member.
Value StructureSchema(CVariableView var, CJsonAllocator& allocator, ValueForm form) {
    Value properties(rapidjson::kObjectType);
    Value required(rapidjson::kArrayType);
    for (size_t i = 0; i < var.childCount(); ++i) {
        const CVariableView member = var.child(i);
        if (!member) {
            continue;  // not written
        }
        const CVariableName name = member.name();
        properties.AddMember(Value(name.data(), static_cast<rapidjson::SizeType>(name.size()), allocator),
                             VariableSchema(member, allocator, form), allocator);
        required.PushBack(Value(name.data(), static_cast<rapidjson::SizeType>(name.size()), allocator),
                          allocator);
    }
    Value schema(rapidjson::kObjectType);
    schema.AddMember(Literal("type"), Literal("object"), allocator);
    schema.AddMember(Literal("properties"), properties, allocator);
    if (!required.Empty()) {  // draft 4 takes no empty list
        schema.AddMember(Literal("required"), required, allocator);
    }
    schema.AddMember(Literal("additionalProperties"), Value(false), allocator);
    return schema;
}

}  // namespace

CJsonValue VariableSchema(CVariableView var, CJsonAllocator& allocator, ValueForm form) {
    if (var.isLeaf()) {
        return LeafSchema(var, allocator, form);
    }
    if (var.type() == TYPE3_ARRAY) {
        return ArraySchema(var, allocator, form);
    }
    return StructureSchema(var, allocator, form);
}
