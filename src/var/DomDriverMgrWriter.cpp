// Writer add engine: members appended to an instance's document, in one call with key
// and value, or as a key call followed by one value call that fills the pending key.
//
// The pending key (lastaddkey, isKeySet) is shared by every instance and task; it is
// read and written only while dom_mtx is held. Log entries of refusals are written
// after the lock is released.
#include <cstring>

#include "RV5072_Zentrik/HostImports.h"
#include "var/DataConvert.h"
#include "var/DomDriverMgr.h"

namespace {

// Where the value sits in the record handed to the engine: after pInstance and key in
// key-value mode, right after pInstance in value mode.
constexpr size_t kKeyOffset = 8;
constexpr size_t kKeyValueOffset = 16;
constexpr size_t kValueOffset = 8;

bool HasKeyValueConversion(TypeClass3 type) {
    switch (type) {
        case TYPE3_BOOL:
        case TYPE3_DWORD:
        case TYPE3_DINT:
        case TYPE3_LREAL:
        case TYPE3_STRING:
        case TYPE3_TIME:
        case TYPE3_DATE:
        case TYPE3_DATEANDTIME:
        case TYPE3_NONE:
        case TYPE3_ANYNUM:
            return true;
        default:
            return false;
    }
}

bool HasValueConversion(TypeClass3 type) {
    switch (type) {
        case TYPE3_BOOL:
        case TYPE3_DWORD:
        case TYPE3_DINT:
        case TYPE3_UDINT:
        case TYPE3_LINT:
        case TYPE3_REAL:
        case TYPE3_LREAL:
        case TYPE3_STRING:
        case TYPE3_TIME:
        case TYPE3_DATE:
        case TYPE3_DATEANDTIME:
        case TYPE3_NONE:
            return true;
        default:
            return false;
    }
}

// A copy of the terminated string `text`, allocated from the document's pool.
rapidjson::Value CopiedString(const char* text, rapidjson::Document::AllocatorType& allocator) {
    return rapidjson::Value(text, static_cast<rapidjson::SizeType>(std::strlen(text)), allocator);
}

// The JSON value of the record field at `field`, by type class. Only called for
// types that have a conversion in the mode at hand.
rapidjson::Value ConvertField(TypeClass3 type, const char* field,
                              rapidjson::Document::AllocatorType& allocator) {
    switch (type) {
        case TYPE3_BOOL:
            // BOOL is written as the number 1 or 0, never as true or false.
            return rapidjson::Value(static_cast<int>(DataConverter::convert<RTS_IEC_BOOL>(field)));
        case TYPE3_DWORD:
        case TYPE3_DINT:
        case TYPE3_ANYNUM:
            return rapidjson::Value(DataConverter::convert<RTS_IEC_DINT>(field));
        case TYPE3_UDINT:
        case TYPE3_TIME:
        case TYPE3_DATE:
        case TYPE3_DATEANDTIME:
            // Raw IEC value; DATE_AND_TIME is seconds since 1970-01-01 00:00:00.
            return rapidjson::Value(DataConverter::convert<RTS_IEC_UDINT>(field));
        case TYPE3_LINT:
            return rapidjson::Value(static_cast<int64_t>(DataConverter::convert<RTS_IEC_LINT>(field)));
        case TYPE3_REAL:
            return rapidjson::Value(static_cast<double>(DataConverter::convert<RTS_IEC_REAL>(field)));
        case TYPE3_LREAL:
            return rapidjson::Value(DataConverter::convert<RTS_IEC_LREAL>(field));
        case TYPE3_STRING:
            return CopiedString(DataConverter::convert<const RTS_IEC_STRING*>(field), allocator);
        default:
            return rapidjson::Value();  // TYPE3_NONE: null
    }
}

// A STRING value is passed by pointer; every other value sits in the record itself.
bool ValuePointerMissing(TypeClass3 type, const char* field) {
    return type == TYPE3_STRING && DataConverter::convert<const RTS_IEC_STRING*>(field) == nullptr;
}

}  // namespace

bool CDomDriverMgr::addkey_to_jason(fb_jsonsaxwriter_struct* pJsonWrite, char* key) {
    return addNullMember(pJsonWrite, key, true);
}

bool CDomDriverMgr::addKeyNull(fb_jsonsaxwriter_struct* p, char* key) { return addNullMember(p, key, false); }

bool CDomDriverMgr::addNullMember(fb_jsonsaxwriter_struct* p, char* key, bool makePending) {
    if (key == nullptr) {
        LogRefusedCall("Invalid argument");
        return false;
    }
    bool added = false;
    {
        std::lock_guard<std::mutex> lock(dom_mtx);
        fb_zentriks::iterator entry = map_zentrik_.find(p);
        if (entry != map_zentrik_.end()) {
            rapidjson::Document& document = *entry->second;
            if (makePending) {
                lastaddkey.assign(key);
                isKeySet = true;
            }
            // A member of the same name may exist already; the document then holds both.
            document.AddMember(CopiedString(key, document.GetAllocator()), rapidjson::Value(),
                               document.GetAllocator());
            added = true;
        }
    }
    if (!added) {
        LogRefusedCall("The JSON object does not exist.");
    }
    return added;
}

bool CDomDriverMgr::add_key_value_to_jason(void* pVoid, const TypeClass3& type, const AddType& add_type) {
    const char* record = static_cast<const char*>(pVoid);
    fb_jsonsaxwriter_struct* instance = DataConverter::convert<fb_jsonsaxwriter_struct*>(record);

    if (add_type == ADD_KEY_VALUE) {
        if (!HasKeyValueConversion(type)) {
            return false;
        }
        const char* key = DataConverter::convert<const char*>(record + kKeyOffset);
        const char* field = record + kKeyValueOffset;
        if (key == nullptr || ValuePointerMissing(type, field)) {
            LogRefusedCall("Invalid argument");
            return false;
        }
        std::lock_guard<std::mutex> lock(dom_mtx);
        fb_zentriks::iterator entry = map_zentrik_.find(instance);
        if (entry == map_zentrik_.end()) {
            return false;
        }
        rapidjson::Document& document = *entry->second;
        rapidjson::Document::AllocatorType& allocator = document.GetAllocator();
        document.AddMember(CopiedString(key, allocator), ConvertField(type, field, allocator), allocator);
        return true;
    }

    if (add_type == ADD_VALUE) {
        const char* field = record + kValueOffset;
        if (ValuePointerMissing(type, field)) {
            // Refused before the pending key is looked at, so it stays pending.
            LogRefusedCall("Invalid argument");
            return false;
        }
        bool keyWasSet = false;
        bool filled = false;
        {
            std::lock_guard<std::mutex> lock(dom_mtx);
            keyWasSet = isKeySet;
            if (keyWasSet) {
                // Every value call that finds a pending key ends the pending state,
                // whether or not it fills the member. lastaddkey keeps its text.
                isKeySet = false;
                fb_zentriks::iterator entry = map_zentrik_.find(instance);
                if (HasValueConversion(type) && entry != map_zentrik_.end()) {
                    rapidjson::Document& document = *entry->second;
                    rapidjson::Document::AllocatorType& allocator = document.GetAllocator();
                    rapidjson::Value::MemberIterator member = document.FindMember(
                        rapidjson::Value(rapidjson::StringRef(lastaddkey.data(), lastaddkey.size())));
                    if (member != document.MemberEnd()) {
                        // RemoveMember moves the object's last member into the gap; the
                        // filled member is then appended at the end.
                        document.RemoveMember(member);
                        rapidjson::Value name(lastaddkey.data(),
                                              static_cast<rapidjson::SizeType>(lastaddkey.size()), allocator);
                        document.AddMember(name, ConvertField(type, field, allocator), allocator);
                        filled = true;
                    }
                }
            }
        }
        if (!keyWasSet) {
            LogRefusedCall("Add value mode and don't have key");
        }
        return filled;
    }

    return false;
}
