// Manager: variables of the application to JSON and JSON texts into variables.
//
// Both directions find the variable by its exact address in the address index and
// walk its node and subtree. The walks recurse along the variable tree, whose depth is
// the nesting of the application's types; the depth of a JSON text never drives
// recursion (it is parsed iteratively and only looked into where the tree leads).
// Refusals are logged after the manager's locks are released.
#include <cstring>
#include <memory>
#include <string>

#include "RV5072_Zentrik/HostImports.h"
#include "var/DataConvert.h"
#include "var/DomDriverMgr.h"
#include "var/JsonParse.h"

namespace {

// The member key of object value, compared byte for byte with its length; the first
// of several members of that name. Null when value is not an object or has no such
// member.
const rapidjson::Value* FindMember(const rapidjson::Value& value, const std::string& key) {
    if (!value.IsObject()) {
        return nullptr;
    }
    const rapidjson::Value name(
        rapidjson::StringRef(key.data(), static_cast<rapidjson::SizeType>(key.size())));
    const rapidjson::Value::ConstMemberIterator member = value.FindMember(name);
    return member == value.MemberEnd() ? nullptr : &member->value;
}

}  // namespace

bool CDomDriverMgr::addJsonKeyValueFromSymbol(fb_jsonsaxwriter_struct* pJsonWrite, void* pData, char* key) {
    if (key == nullptr) {
        LogRefusedCall("Invalid argument");
        return false;
    }
    // The variable's value, made under the writer instance's lock: null when it was
    // made, else the refusal.
    auto source = MakeJsonValueSource([&](rapidjson::Document::AllocatorType& allocator,
                                          rapidjson::Value& value) -> const char* {
        if (!bDownloadDone.load()) {
            return "Variables are being loaded. Please execute later.";
        }
        std::lock_guard<std::mutex> indexLock(mtx);
        // Nodes the host did not resolve sit at the null address; a null pointer from
        // a program must never reach them.
        const addr_vars::iterator found = pData == nullptr ? map_addr_vars.end() : map_addr_vars.find(pData);
        if (found == map_addr_vars.end() || !found->second) {
            return "Variable does not exist";
        }
        const std::shared_ptr<CVariable> var = found->second;
        value = loadJson(*var, allocator);
        return nullptr;
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

bool CDomDriverMgr::setSymbolFromJson(char* pJson, const uint32_t& size, void* pData) {
    if (pJson == nullptr) {
        LogRefusedCall("Json error");
        return false;
    }
    // The text is the first size bytes, up to the first zero byte among them. It is
    // parsed before any lock is taken, in a copy of its own, in place: strings and
    // numbers are read where they stand in the copy, none is copied again. (A plain
    // stream: the encoded stream behind Parse(str, length) would skip a byte order mark,
    // even a truncated one, where strict JSON has none.)
    const void* zero = std::memchr(pJson, 0, size);
    const size_t length =
        zero == nullptr ? size : static_cast<size_t>(static_cast<const char*>(zero) - pJson);
    const std::unique_ptr<char[]> text(new char[length + 1]);
    std::memcpy(text.get(), pJson, length);
    text[length] = '\0';
    rapidjson::Document document;  // its strings point into text
    const bool parsed = ParseJson(text.get(), length, document, true);
    if (!parsed) {
        LogRefusedCall("Json error");
        return false;
    }
    if (!bDownloadDone.load()) {
        LogRefusedCall("Variables are being loaded. Please execute later.");
        return false;
    }
    bool found = false;
    {
        std::lock_guard<std::mutex> indexLock(mtx);
        const addr_vars::iterator entry = pData == nullptr ? map_addr_vars.end() : map_addr_vars.find(pData);
        if (entry != map_addr_vars.end() && entry->second) {
            found = true;
            const CVariable& var = *entry->second;
            const rapidjson::Value* root = FindMember(document, var.symbol_nodename_);
            if (root != nullptr && root->IsObject()) {
                for (const std::shared_ptr<CVariable>& child : var.childVec_) {
                    if (child) {
                        traverseJson(*root, *child, document.GetAllocator(), child->symbol_nodename_);
                    }
                }
            }
        }
    }
    if (!found) {
        LogRefusedCall("Variable does not exist");
        return false;
    }
    return true;
}

// REQUIRES: mtx held (var belongs to the address index).
void CDomDriverMgr::traverseJson(const rapidjson::Value& value, const CVariable& var,
                                 rapidjson::Document::AllocatorType& allocator, const std::string& key) {
    if (var.childVec_.empty()) {
        // A scalar element of an array is the JSON element itself; any other leaf is
        // looked up by its name.
        const rapidjson::Value* source = key.empty() ? &value : FindMember(value, key);
        if (source != nullptr) {
            DataConverter::JsonValueConvert(var.varType_, var.var_addr_, var.size_, *source);
        }
        return;
    }
    if (var.varType_ == TYPE3_ARRAY) {
        // Element i goes to child i, and only when the lengths agree: a list of another
        // length is not the array's, so none of it is written.
        const rapidjson::Value* array = FindMember(value, key);
        if (array == nullptr || !array->IsArray() || array->Size() == 0 ||
            array->Size() != var.childVec_.size()) {
            return;
        }
        for (rapidjson::SizeType i = 0; i < array->Size(); ++i) {
            if (var.childVec_[i]) {
                traverseJson((*array)[i], *var.childVec_[i], allocator, std::string());
            }
        }
        return;
    }
    // A structure: by its name, or, as an element of an array, the JSON element itself.
    const rapidjson::Value* object = key.empty() ? &value : FindMember(value, key);
    if (object == nullptr || (!key.empty() && !object->IsObject())) {
        return;
    }
    for (const std::shared_ptr<CVariable>& child : var.childVec_) {
        if (child) {
            traverseJson(*object, *child, allocator, child->symbol_nodename_);
        }
    }
}
