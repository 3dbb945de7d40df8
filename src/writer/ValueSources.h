// The values a writer instance is given to add, each as a CJsonValueSource that makes
// its JSON value with the document's allocator under the instance's lock: a typed scalar
// of the writer's value methods, a raw JSON text, bytes as base64 or hex.
//
// A source lives on the stack of one call and reads the caller's memory; it holds no lock
// and allocates only from the allocator Make is given.
#ifndef WRITER_VALUESOURCES_H
#define WRITER_VALUESOURCES_H

#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>

#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "convert/TypeClassTable.h"
#include "json/JsonMemory.h"
#include "writer/JsonWriter.h"

// One value of the writer block's value methods (AddDint, AddKeyLreal, ...), typed by the
// method that takes it, and the source of its JSON value: it becomes JSON through the
// type-class table row of its class, in the writer methods' forms of the writer's format
// (BOOL as 1 or 0 unless BOOL_LITERALS). A few words, made on the stack of one call.
class CWriterScalar : public CJsonValueSource {
   public:
    static CWriterScalar Bool(RTS_IEC_BOOL value) { return CWriterScalar(TYPE3_BOOL, &value, sizeof(value)); }
    static CWriterScalar Dint(RTS_IEC_DINT value) { return CWriterScalar(TYPE3_DINT, &value, sizeof(value)); }
    static CWriterScalar Udint(RTS_IEC_UDINT value) {
        return CWriterScalar(TYPE3_UDINT, &value, sizeof(value));
    }
    static CWriterScalar Lint(RTS_IEC_LINT value) { return CWriterScalar(TYPE3_LINT, &value, sizeof(value)); }
    static CWriterScalar Real(RTS_IEC_REAL value) { return CWriterScalar(TYPE3_REAL, &value, sizeof(value)); }
    static CWriterScalar Lreal(RTS_IEC_LREAL value) {
        return CWriterScalar(TYPE3_LREAL, &value, sizeof(value));
    }
    // Seconds since 1970-01-01 00:00:00.
    static CWriterScalar DateTime(RTS_IEC_DATE_AND_TIME value) {
        return CWriterScalar(TYPE3_DATEANDTIME, &value, sizeof(value));
    }
    // A zero-terminated text; null is a missing argument.
    static CWriterScalar String(const RTS_IEC_STRING* text);
    static CWriterScalar Null() { return CWriterScalar(TYPE3_NONE, nullptr, 0); }

    // A string whose pointer is null.
    bool missing() const { return isString_ && text_ == nullptr; }
    const char* Make(CJsonAllocator& allocator, uint32_t format, CJsonValue& out, CParseStacks& stacks) override;

   private:
    CWriterScalar(TypeClass3 type, const void* value, uint32_t size);

    const CTypeClassRow* row_;
    bool isString_ = false;
    bool isNull_ = false;
    const char* text_ = nullptr;   // a string's text
    uint32_t size_ = 0;            // bytes of the value (a string's with its terminator)
    unsigned char value_[8] = {};  // a number's bytes
};

// A JSON text that must be an object or an array, parsed by the component's strict
// parser straight into the document's allocator (strings copied), so the value is
// moved into place, never copied. The parse takes its memory from the instance's
// budget and stops at the cap.
class CRawSource : public CJsonValueSource {
   public:
    CRawSource(const char* text, EJsonContainer kind);
    const char* Make(CJsonAllocator& allocator, uint32_t format, CJsonValue& out, CParseStacks& stacks) override;

   private:
    const char* text_;
    size_t length_;
    EJsonContainer kind_;
};

// Bytes as a string: base64 of RFC 4648 with padding, or upper-case hex digit pairs.
class CBytesSource : public CJsonValueSource {
   public:
    CBytesSource(const RTS_IEC_BYTE* bytes, size_t count, bool hex)
        : bytes_(bytes), count_(count), hex_(hex) {}
    const char* Make(CJsonAllocator& allocator, uint32_t format, CJsonValue& out, CParseStacks& stacks) override;

   private:
    const RTS_IEC_BYTE* bytes_;
    size_t count_;
    bool hex_;
};

#endif  // WRITER_VALUESOURCES_H
