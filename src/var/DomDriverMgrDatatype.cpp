// Manager: variables of the application to JSON.
//
// The variable is found by its exact address in the address index; its node and
// subtree are walked under the index lock, held shared. The walk recurses along the
// variable tree, whose depth is the nesting of the application's types. Refusals are
// logged after the manager's locks are released.
#include <cstring>
#include <memory>
#include <string>

#include "frame/HostImports.h"
#include "var/DataConvert.h"
#include "var/DomDriverMgr.h"

bool CDomDriverMgr::addJsonKeyValueFromSymbol(fb_jsonsaxwriter_struct* pJsonWrite, void* pData, char* key) {
    if (key == nullptr) {
        LogRefusedCall("Invalid argument");
        return false;
    }
    // The variable's value, made under the writer instance's lock: null when it was
    // made, else the refusal.
    auto source = MakeJsonValueSource(
        [&](rapidjson::Document::AllocatorType& allocator, rapidjson::Value& value) -> const char* {
            return index_.WithVariable(pData, false,
                                       [&](const CVariable& var) { value = loadJson(var, allocator); });
        });
    CWriterOutcome outcome{false, "The JSON object does not exist."};
    writers_.With(pJsonWrite, false, [&](CJsonWriter& writer) { outcome = writer.AddVariable(key, source); });
    if (outcome.refusal != nullptr) {
        LogRefusedCall(outcome.refusal);
    }
    return outcome.done;
}

rapidjson::Value CDomDriverMgr::loadJson(const CVariable& var,
                                         rapidjson::Document::AllocatorType& allocator) {
    if (var.childVec_.empty()) {
        return DataConverter::AddToJson(var.varType_, var.var_addr_, var.size_, allocator);
    }
    if (var.varType_ == TYPE3_ARRAY) {
        // Every element of a multi-dimensional array is a direct child: one flat array.
        rapidjson::Value array(rapidjson::kArrayType);
        array.Reserve(static_cast<rapidjson::SizeType>(var.childVec_.size()), allocator);
        for (const std::shared_ptr<CVariable>& child : var.childVec_) {
            rapidjson::Value element = child ? loadJson(*child, allocator) : rapidjson::Value();
            array.PushBack(element, allocator);
        }
        return array;
    }
    rapidjson::Value object(rapidjson::kObjectType);
    for (const std::shared_ptr<CVariable>& child : var.childVec_) {
        if (!child) {
            continue;
        }
        rapidjson::Value member = loadJson(*child, allocator);
        rapidjson::Value name(child->symbol_nodename_.data(),
                              static_cast<rapidjson::SizeType>(child->symbol_nodename_.size()), allocator);
        object.AddMember(name, member, allocator);
    }
    return object;
}
