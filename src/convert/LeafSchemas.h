// The JSON Schemas of leaf values: for each form a row of the type-class table encodes a
// value in, the schema that every value so encoded validates against and that values
// beyond the class (another JSON kind, an integer outside the class's range, a longer
// string, a text not in the ISO 8601 form written) fail. They are the table's schema
// column; the rows point to these functions.
//
// Only keywords whose meaning is the same in JSON Schema draft 4 and draft 2020-12:
// type (a name or a list of names), minimum, maximum, maxLength and pattern (anchored,
// in the subset of regular expressions that every validator reads).
//
// Stateless; any thread. Each returns a new object whose strings live in allocator.
#ifndef CONVERT_LEAFSCHEMAS_H
#define CONVERT_LEAFSCHEMAS_H

#include <cstdint>
#include <limits>
#include <type_traits>

#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "json/JsonMemory.h"

typedef CJsonDocument::AllocatorType CJsonAllocator;
typedef uint32_t ValueForm;

// A leaf that is always null.
CJsonValue NullSchema(uint32_t size, ValueForm form, CJsonAllocator& allocator);
// BOOL: true or false (or the byte's signed value where the form writes BOOL as a number).
CJsonValue BoolSchema(uint32_t size, ValueForm form, CJsonAllocator& allocator);
// An integer within lowest..highest; a 64-bit one (wide) a decimal string in the
// INT64_STRINGS form.
CJsonValue IntegerRangeSchema(int64_t lowest, uint64_t highest, bool wide, ValueForm form,
                              CJsonAllocator& allocator);
// REAL (single precision, or null for NaN and the infinities) and LREAL.
CJsonValue RealSchema(uint32_t size, ValueForm form, CJsonAllocator& allocator);
CJsonValue LrealSchema(uint32_t size, ValueForm form, CJsonAllocator& allocator);
// STRING and WSTRING of size bytes: at most as many characters as the node holds bytes
// (STRING) or UTF-16 units (WSTRING) before its terminator.
CJsonValue StringSchema(uint32_t size, ValueForm form, CJsonAllocator& allocator);
CJsonValue WstringSchema(uint32_t size, ValueForm form, CJsonAllocator& allocator);
// The time classes in their forms: TIME, DATE, DATE_AND_TIME, TIME_OF_DAY and the long
// classes LTIME, LDATE, LDATE_AND_TIME, LTIME_OF_DAY.
CJsonValue TimeSchema(uint32_t size, ValueForm form, CJsonAllocator& allocator);
CJsonValue DateSchema(uint32_t size, ValueForm form, CJsonAllocator& allocator);
CJsonValue DateAndTimeSchema(uint32_t size, ValueForm form, CJsonAllocator& allocator);
CJsonValue TimeOfDaySchema(uint32_t size, ValueForm form, CJsonAllocator& allocator);
CJsonValue LongTimeSchema(uint32_t size, ValueForm form, CJsonAllocator& allocator);
CJsonValue LongDateSchema(uint32_t size, ValueForm form, CJsonAllocator& allocator);
CJsonValue LongDateAndTimeSchema(uint32_t size, ValueForm form, CJsonAllocator& allocator);
CJsonValue LongTimeOfDaySchema(uint32_t size, ValueForm form, CJsonAllocator& allocator);
// ENUM and SUBRANGE: null, or the signed integer of the node's 1, 2, 4 or 8 bytes.
CJsonValue EnumerationSchema(uint32_t size, ValueForm form, CJsonAllocator& allocator);

// The integer of type T.
template <typename T>
CJsonValue IntegerSchema(uint32_t, ValueForm form, CJsonAllocator& allocator) {
    return IntegerRangeSchema(std::numeric_limits<T>::min(), std::numeric_limits<T>::max(), sizeof(T) == 8,
                              form, allocator);
}

// A bit string of Signed's width: signed, or unsigned in the UNSIGNED_BITS form.
template <typename Signed>
CJsonValue BitsSchema(uint32_t size, ValueForm form, CJsonAllocator& allocator) {
    typedef typename std::make_unsigned<Signed>::type Unsigned;
    return (form & ZENTRIK_FORMAT_UNSIGNED_BITS) != 0 ? IntegerSchema<Unsigned>(size, form, allocator)
                                                      : IntegerSchema<Signed>(size, form, allocator);
}

#endif  // CONVERT_LEAFSCHEMAS_H
