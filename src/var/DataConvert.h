// DataConverter: stateless conversions between raw IEC memory and JSON values,
// chosen by the IEC type class of a leaf of the variable tree.
#ifndef VAR_DATACONVERT_H
#define VAR_DATACONVERT_H

#include <rapidjson/document.h>

#include <cstdint>
#include <cstring>

#include "IecVarAccess_ItfsItf.h"

class DataConverter {
   public:
    // Reads a value of type T from application memory, whatever its alignment.
    template <typename T>
    static T convert(const void* addr) {
        T value;
        std::memcpy(&value, addr, sizeof(T));
        return value;
    }

    // The JSON value of the leaf at addr (size_ bytes of type class type); strings are
    // copied into allocator, the receiving document's allocator.
    static rapidjson::Value AddToJson(const TypeClass3& type, void* addr, const uint32_t& size,
                                      rapidjson::Document::AllocatorType& allocator);

    // What writing one leaf did.
    struct CLeafWrite {
        enum Outcome {
            kWritten,      // written; see wrapped and cut
            kWrongKind,    // the leaf's class does not take this kind of JSON value
            kOutOfRange,   // an integer beyond the 32 or 64 bits the class takes
            kNeverWritten  // a class, or a node without memory, that is never written
        };
        Outcome outcome = kNeverWritten;
        bool wrapped = false;  // an integer that the leaf's width does not hold
        bool cut = false;      // a string that did not fit whole
        uint32_t bytes = 0;    // for a cut string: the bytes written before the terminator
    };

    // Writes the JSON scalar value into the leaf at addr when the leaf's class accepts
    // that kind of value; otherwise leaves the memory alone.
    static void JsonValueConvert(const TypeClass3& type, void* addr, const uint32_t& size,
                                 const rapidjson::Value& value);
    // The same write, saying what it did.
    static CLeafWrite JsonValueWrite(const TypeClass3& type, void* addr, const uint32_t& size,
                                     const rapidjson::Value& value);

    // How many of the first `length` bytes of UTF-8 `text` fit into `room` bytes without
    // splitting a character: the cut moves back to the start of a character that would
    // not fit whole. Bytes that are not well-formed UTF-8 are cut where they fall.
    static size_t FitUtf8(const char* text, size_t length, size_t room);
};

#endif  // VAR_DATACONVERT_H
