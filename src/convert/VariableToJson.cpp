// Variable to JSON, walked through CVariableView.
#include "convert/VariableToJson.h"

CJsonValue VariableToJson(CVariableView var, CJsonAllocator& allocator) {
    if (var.isLeaf()) {
        return EncodeLeaf(var.type(), var.address(), var.size(), kFormVariable, allocator);
    }
    const size_t count = var.childCount();
    if (var.type() == TYPE3_ARRAY) {
        // Every element of a multi-dimensional array is a direct child: one flat array.
        CJsonValue array(rapidjson::kArrayType);
        array.Reserve(static_cast<rapidjson::SizeType>(count), allocator);
        for (size_t i = 0; i < count; ++i) {
            const CVariableView child = var.child(i);
            CJsonValue element = child ? VariableToJson(child, allocator) : CJsonValue();
            array.PushBack(element, allocator);
        }
        return array;
    }
    CJsonValue object(rapidjson::kObjectType);
    for (size_t i = 0; i < count; ++i) {
        const CVariableView child = var.child(i);
        if (!child) {
            continue;
        }
        CJsonValue member = VariableToJson(child, allocator);
        CJsonValue name(child.name().data(), static_cast<rapidjson::SizeType>(child.name().size()),
                        allocator);
        object.AddMember(name, member, allocator);
    }
    return object;
}
