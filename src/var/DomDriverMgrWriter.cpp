// Writer add engine and the writer's other methods: members appended to an instance's
// document in one call with key and value, or as a key call followed by one value call
// that fills the pending member; nesting; raw JSON texts; base64 and hex binary; the
// number format. The rules of where a value goes live in CJsonWriter; this file turns
// parameter records into values and logs refusals once every lock is released.
#include <cstring>

#include "frame/HostImports.h"
#include "var/DataConvert.h"
#include "var/DomDriverMgr.h"
#include "json/JsonParse.h"

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
        case TYPE3_STRING: {
            const char* text = DataConverter::convert<const RTS_IEC_STRING*>(field);
            return rapidjson::Value(text, static_cast<rapidjson::SizeType>(std::strlen(text)), allocator);
        }
        default:
            return rapidjson::Value();  // TYPE3_NONE: null
    }
}

// A STRING value is passed by pointer; every other value sits in the record itself.
bool ValuePointerMissing(TypeClass3 type, const char* field) {
    return type == TYPE3_STRING && DataConverter::convert<const RTS_IEC_STRING*>(field) == nullptr;
}

// The value of a parameter record's field.
class CFieldSource : public CJsonValueSource {
   public:
    CFieldSource(TypeClass3 type, const char* field) : type_(type), field_(field) {}
    size_t Bytes() const override {
        return type_ == TYPE3_STRING ? std::strlen(DataConverter::convert<const RTS_IEC_STRING*>(field_)) : 0;
    }
    const char* Make(rapidjson::Document::AllocatorType& allocator, rapidjson::Value& out) override {
        out = ConvertField(type_, field_, allocator);
        return nullptr;
    }

   private:
    TypeClass3 type_;
    const char* field_;
};

// A JSON text that must be an object or an array, parsed by the component's strict
// parser straight into the document's allocator (strings copied), so the value is
// moved into place, never copied.
class CRawSource : public CJsonValueSource {
   public:
    CRawSource(char* text, EJsonContainer kind) : text_(text), length_(std::strlen(text)), kind_(kind) {}
    size_t Bytes() const override { return length_; }
    const char* Make(rapidjson::Document::AllocatorType& allocator, rapidjson::Value& out) override {
        rapidjson::Document parsed(&allocator);
        if (!ParseJson(text_, length_, parsed, false)) {
            return "Json error";
        }
        if (kind_ == EJsonContainer::kObject ? !parsed.IsObject() : !parsed.IsArray()) {
            return "Invalid argument";
        }
        out.Swap(parsed);
        return nullptr;
    }

   private:
    char* text_;
    size_t length_;
    EJsonContainer kind_;
};

// Bytes as a string: base64 of RFC 4648 with padding, or upper-case hex digit pairs.
class CBytesSource : public CJsonValueSource {
   public:
    CBytesSource(const RTS_IEC_BYTE* bytes, size_t count, bool hex)
        : bytes_(bytes), count_(count), hex_(hex) {}
    size_t Bytes() const override { return hex_ ? 2 * count_ : 4 * ((count_ + 2) / 3); }
    const char* Make(rapidjson::Document::AllocatorType& allocator, rapidjson::Value& out) override {
        static const char kHex[] = "0123456789ABCDEF";
        static const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const size_t length = Bytes();
        char* text = static_cast<char*>(allocator.Malloc(length + 1));
        char* p = text;
        if (hex_) {
            for (size_t i = 0; i < count_; ++i) {
                *p++ = kHex[bytes_[i] >> 4];
                *p++ = kHex[bytes_[i] & 0x0F];
            }
        } else {
            size_t i = 0;
            for (; i + 3 <= count_; i += 3) {
                const uint32_t group =
                    (uint32_t{bytes_[i]} << 16) | (uint32_t{bytes_[i + 1]} << 8) | bytes_[i + 2];
                *p++ = kBase64[(group >> 18) & 0x3F];
                *p++ = kBase64[(group >> 12) & 0x3F];
                *p++ = kBase64[(group >> 6) & 0x3F];
                *p++ = kBase64[group & 0x3F];
            }
            if (i < count_) {
                const bool two = i + 1 < count_;
                const uint32_t group =
                    (uint32_t{bytes_[i]} << 16) | (two ? uint32_t{bytes_[i + 1]} << 8 : 0u);
                *p++ = kBase64[(group >> 18) & 0x3F];
                *p++ = kBase64[(group >> 12) & 0x3F];
                *p++ = two ? kBase64[(group >> 6) & 0x3F] : '=';
                *p++ = '=';
            }
        }
        *p = '\0';
        // The characters live in the document's pool as long as the document does.
        out.SetString(rapidjson::StringRef(text, static_cast<rapidjson::SizeType>(length)));
        return nullptr;
    }

   private:
    const RTS_IEC_BYTE* bytes_;
    size_t count_;
    bool hex_;
};

// Logs the refusal of an outcome, if it carries one; returns whether it was done.
bool Logged(const CWriterOutcome& outcome) {
    if (outcome.refusal != nullptr) {
        LogRefusedCall(outcome.refusal);
    }
    return outcome.done;
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
    CWriterOutcome outcome{false, "The JSON object does not exist."};
    writers_.With(p, false, [&](CJsonWriter& writer) { outcome = writer.AddKey(key, makePending); });
    return Logged(outcome);
}

bool CDomDriverMgr::addValue(fb_jsonsaxwriter_struct* p, CJsonValueSource& source) {
    // Without a document there is no pending member either.
    CWriterOutcome outcome{false, "Add value mode and don't have key"};
    writers_.With(p, false, [&](CJsonWriter& writer) { outcome = writer.AddValue(source); });
    return Logged(outcome);
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
        CFieldSource source(type, field);
        CWriterOutcome outcome;  // no document: refused without a log entry
        writers_.With(instance, false, [&](CJsonWriter& writer) { outcome = writer.AddMember(key, source); });
        return Logged(outcome);
    }

    if (add_type == ADD_VALUE) {
        const char* field = record + kValueOffset;
        if (ValuePointerMissing(type, field)) {
            // Refused before the pending member is looked at, so it stays pending.
            LogRefusedCall("Invalid argument");
            return false;
        }
        if (!HasValueConversion(type)) {
            return false;
        }
        CFieldSource source(type, field);
        return addValue(instance, source);
    }

    return false;
}

bool CDomDriverMgr::startContainer(fb_jsonsaxwriter_struct* p, EJsonContainer kind) {
    CWriterOutcome outcome{false, "The JSON object does not exist."};
    writers_.With(p, false, [&](CJsonWriter& writer) { outcome = writer.Start(kind); });
    return Logged(outcome);
}

bool CDomDriverMgr::endContainer(fb_jsonsaxwriter_struct* p, EJsonContainer kind) {
    CWriterOutcome outcome{false, "The JSON object does not exist."};
    writers_.With(p, false, [&](CJsonWriter& writer) { outcome = writer.End(kind); });
    return Logged(outcome);
}

bool CDomDriverMgr::addRawJson(fb_jsonsaxwriter_struct* p, char* rawJson, EJsonContainer kind) {
    if (rawJson == nullptr) {
        LogRefusedCall("Invalid argument");
        return false;
    }
    CRawSource source(rawJson, kind);
    return addValue(p, source);
}

bool CDomDriverMgr::addBytes(fb_jsonsaxwriter_struct* p, const RTS_IEC_BYTE* pBytes, RTS_IEC_DINT nBytes,
                             bool hex) {
    if (nBytes < 0 || (pBytes == nullptr && nBytes > 0)) {
        LogRefusedCall("Invalid argument");
        return false;
    }
    CBytesSource source(pBytes, static_cast<size_t>(nBytes), hex);
    return addValue(p, source);
}

bool CDomDriverMgr::setMaxDecimalPlaces(fb_jsonsaxwriter_struct* p, RTS_IEC_DINT places) {
    if (places < 0 || places > kDefaultDecimalPlaces) {
        LogRefusedCall("Invalid argument");
        return false;
    }
    // The setting belongs to the instance from its first call on, document or not.
    bool taken = false;
    writers_.With(p, true, [&](CJsonWriter& writer) { taken = writer.SetDecimalPlaces(places); });
    return taken;
}

RTS_IEC_DINT CDomDriverMgr::getMaxDecimalPlaces(fb_jsonsaxwriter_struct* p) {
    RTS_IEC_DINT places = kDefaultDecimalPlaces;
    writers_.With(p, false, [&](CJsonWriter& writer) { places = writer.DecimalPlaces(); });
    return places;
}
