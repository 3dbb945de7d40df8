// Variable to JSON, walked through CVariableView.
#include "convert/VariableToJson.h"

rapidjson::Value VariableToJson(CVariableView var, CJsonAllocator& allocator) {
    if (var.isLeaf()) {
        return EncodeLeaf(var.type(), var.address(), var.size(), kFormVariable, allocator);
    }
    const size_t count = var.childCount();
    if (var.type() == TYPE3_ARRAY) {
        // Every element of a multi-dimensional array is a direct child: one flat array.
        rapidjson::Value array(rapidjson::kArrayType);
        array.Reserve(static_cast<rapidjson::SizeType>(count), allocator);
        for (size_t i = 0; i < count; ++i) {
            const CVariableView child = var.child(i);
            rapidjson::Value element = child ? VariableToJson(child, allocator) : rapidjson::Value();
            array.PushBack(element, allocator);
        }
        return array;
    }
    rapidjson::Value object(rapidjson::kObjectType);
    for (size_t i = 0; i < count; ++i) {
        const CVariableView child = var.child(i);
        if (!child) {
            continue;
        }
        rapidjson::Value member = VariableToJson(child, allocator);
        rapidjson::Value name(child.name().data(), static_cast<rapidjson::SizeType>(child.name().size()),
                              allocator);
        object.AddMember(name, member, allocator);
    }
    return object;
}
