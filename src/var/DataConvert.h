// DataConverter: stateless conversions between raw IEC memory and JSON values, chosen by
// the IEC type class of a leaf of the variable tree. The conversions themselves are the
// rows of the type-class table (convert/TypeClassTable.h); this class is their named
// entry for a variable's own form.
#ifndef VAR_DATACONVERT_H
#define VAR_DATACONVERT_H

#include <rapidjson/document.h>

#include <cstdint>
#include <cstring>

#include "IecVarAccess_ItfsItf.h"
#include "convert/TypeClassTable.h"
#include "json/JsonMemory.h"

class DataConverter {
   public:
    // Reads a value of type T from application memory, whatever its alignment.
    template <typename T>
    static T convert(const void* addr) {
        T value;
        std::memcpy(&value, addr, sizeof(T));
        return value;
    }

    // The JSON value of the leaf at addr (size bytes of type class type); strings are
    // copied into allocator, the receiving document's allocator.
    static CJsonValue AddToJson(const TypeClass3& type, void* addr, const uint32_t& size,
                                CJsonDocument::AllocatorType& allocator) {
        return EncodeLeaf(type, addr, size, kFormVariable, allocator);
    }

    typedef ::CLeafWrite CLeafWrite;

    // Writes the JSON scalar value into the leaf at addr when the leaf's class accepts
    // that kind of value; otherwise leaves the memory alone.
    static void JsonValueConvert(const TypeClass3& type, void* addr, const uint32_t& size,
                                 const CJsonValue& value) {
        DecodeLeaf(type, addr, size, value, nullptr, false);
    }
    // The same write, saying what it did.
    static CLeafWrite JsonValueWrite(const TypeClass3& type, void* addr, const uint32_t& size,
                                     const CJsonValue& value) {
        return DecodeLeaf(type, addr, size, value, nullptr, true);
    }
};

#endif  // VAR_DATACONVERT_H
