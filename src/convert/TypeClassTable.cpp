// The rows of the type-class table and the conversions they point to.
//
// Reads and writes go straight to application memory with memcpy, so alignment does
// not matter. A leaf is never read or written beyond its class's natural width nor
// beyond the size the host reported for it (EncodeLeaf and DecodeLeaf check that before
// a row's function runs).
#include "convert/TypeClassTable.h"

#include <cmath>
#include <cstring>
#include <type_traits>

#include "convert/Iso8601.h"
#include "convert/LeafSchemas.h"
#include "json/NumberText.h"
#include "json/Numbers.h"
#include "json/Utf8.h"

namespace {

typedef CJsonValue Value;

template <typename T>
T Load(const void* address) {
    T value;
    std::memcpy(&value, address, sizeof(T));
    return value;
}

template <typename T>
void Store(void* address, T value) {
    std::memcpy(address, &value, sizeof(T));
}

// Units of the time classes: 10^-scale seconds.
constexpr int kSeconds = 0;
constexpr int kMilliseconds = 3;
constexpr int kNanoseconds = 9;
constexpr int64_t kMillisecondsPerDay = 86400000;
constexpr int64_t kNanosecondsPerDay = 86400000000000;

// ---- memory to JSON --------------------------------------------------------------

Value EncodeNull(const void*, uint32_t, ValueForm, CJsonAllocator&) { return Value(); }

// Strings up to this length are held in the value itself (RapidJSON's short strings on
// x86-64); longer ones are copied into the document's memory.
constexpr size_t kHeldInValue = 13;

// A string value of a copy of the text. A long text is copied by hand and the value
// refers to the copy: RapidJSON's own copy stores the value's flags, takes the memory and
// then reads the flags' word back to put the pointer beside them, a read that waits for
// the store still in flight (a third of an ISO 8601 leaf's time). The document's memory
// is never given back piece by piece, so a copied text needs no flag that says so.
Value Text(const char* text, size_t length, CJsonAllocator& allocator) {
    if (length <= kHeldInValue) {
        return Value(text, static_cast<rapidjson::SizeType>(length), allocator);
    }
    char* copy = static_cast<char*>(allocator.Malloc(length + 1));
    if (length <= 32) {
        CopyShortRun(copy, text, length);  // a call to memcpy costs more than these texts' copy
    } else {
        std::memcpy(copy, text, length);
    }
    copy[length] = '\0';
    return Value(rapidjson::StringRef(copy, static_cast<rapidjson::SizeType>(length)));
}

// An integer as JSON's int or unsigned (up to 4 bytes) or 64-bit integer; a 64-bit one
// as a string of its decimal value in the INT64_STRINGS form.
template <typename T>
Value IntegerValue(T value, ValueForm form, CJsonAllocator& allocator) {
    if (sizeof(T) == 8) {
        if ((form & kFormInt64Strings) != 0) {
            char digits[kNumberTextMax];
            const char* end = std::is_signed<T>::value ? WriteInt64(static_cast<int64_t>(value), digits)
                                                       : WriteUint64(static_cast<uint64_t>(value), digits);
            return Text(digits, static_cast<size_t>(end - digits), allocator);
        }
        return std::is_signed<T>::value ? Value(static_cast<int64_t>(value))
                                        : Value(static_cast<uint64_t>(value));
    }
    return std::is_signed<T>::value ? Value(static_cast<int>(value)) : Value(static_cast<unsigned>(value));
}

// Any non-zero byte is TRUE; the byte is not taken as a C++ bool, which must hold 0 or 1.
// As a number (the writer's form) it is the byte's own value, signed as RTS_IEC_BOOL is.
Value EncodeBool(const void* address, uint32_t, ValueForm form, CJsonAllocator&) {
    const unsigned char byte = Load<unsigned char>(address);
    if (form & kFormBoolAsNumber) {
        return Value(static_cast<int>(static_cast<signed char>(byte)));
    }
    return Value(byte != 0);
}

template <typename T>
Value EncodeInteger(const void* address, uint32_t, ValueForm form, CJsonAllocator& allocator) {
    return IntegerValue(Load<T>(address), form, allocator);
}

// Bit strings: signed, or unsigned in the UNSIGNED_BITS form.
template <typename Signed>
Value EncodeBits(const void* address, uint32_t, ValueForm form, CJsonAllocator& allocator) {
    typedef typename std::make_unsigned<Signed>::type Unsigned;
    if ((form & kFormUnsignedBits) != 0) {
        return IntegerValue(Load<Unsigned>(address), form, allocator);
    }
    return IntegerValue(Load<Signed>(address), form, allocator);
}

// The widened single, or in the SHORT_REALS form the double nearest to its shortest
// decimal (which the serialiser then writes as that decimal).
Value EncodeReal(const void* address, uint32_t, ValueForm form, CJsonAllocator&) {
    const float value = Load<float>(address);
    if ((form & kFormShortReals) != 0) {
        return Value(ShortestFloatAsDouble(value));
    }
    return Value(static_cast<double>(value));
}

Value EncodeLreal(const void* address, uint32_t, ValueForm, CJsonAllocator&) {
    return Value(Load<double>(address));
}

// Bytes up to the first zero byte, or all size bytes when there is none.
Value EncodeString(const void* address, uint32_t size, ValueForm, CJsonAllocator& allocator) {
    const char* text = static_cast<const char*>(address);
    const void* end = std::memchr(text, 0, size);
    const size_t length = end == nullptr ? size : static_cast<size_t>(static_cast<const char*>(end) - text);
    return Text(text, length, allocator);
}

// The UTF-8 form is made in a buffer the calling thread keeps (it grows to the longest
// WSTRING the thread encoded), so a steady cycle takes nothing from the heap for it.
Value EncodeWstring(const void* address, uint32_t size, ValueForm, CJsonAllocator& allocator) {
    static thread_local std::string text;
    text.clear();
    Utf16ToUtf8(address, size, text);
    return Text(text.data(), text.size(), allocator);
}

// TIME: signed milliseconds, or an ISO 8601 duration.
Value EncodeTime(const void* address, uint32_t, ValueForm form, CJsonAllocator& allocator) {
    const int32_t value = Load<int32_t>(address);
    if ((form & kFormIso8601) != 0) {
        char text[kIsoTextMax];
        return Text(text, WriteIsoDuration(value, kMilliseconds, text), allocator);
    }
    return Value(value);
}

// DATE (seconds since 1970 at midnight) and DATE_AND_TIME (seconds since 1970): unsigned,
// or an ISO 8601 date (a date and time for a DATE that is not at midnight).
template <bool kDate>
Value EncodeDate(const void* address, uint32_t, ValueForm form, CJsonAllocator& allocator) {
    const uint32_t value = Load<uint32_t>(address);
    if ((form & kFormIso8601) != 0) {
        char text[kIsoTextMax];
        return Text(text, WriteIsoDateTime(value, kSeconds, kDate, text), allocator);
    }
    return Value(value);
}

// TIME_OF_DAY: unsigned milliseconds since midnight, or an ISO 8601 time of day (a value
// of a day or more, which no time of day is, stays a number).
Value EncodeTimeOfDay(const void* address, uint32_t, ValueForm form, CJsonAllocator& allocator) {
    const uint32_t value = Load<uint32_t>(address);
    if ((form & kFormIso8601) != 0 && value < kMillisecondsPerDay) {
        char text[kIsoTextMax];
        return Text(text, WriteIsoTimeOfDay(value, kMilliseconds, text), allocator);
    }
    return Value(value);
}

// ENUM and SUBRANGE: null, or in the NUMERIC_ENUMS form the signed integer of the node's
// bytes (a node of another size stays null).
Value EncodeEnumeration(const void* address, uint32_t size, ValueForm form, CJsonAllocator& allocator) {
    if ((form & kFormNumericEnums) == 0) {
        return Value();
    }
    switch (size) {
        case 1:
            return IntegerValue(Load<int8_t>(address), form, allocator);
        case 2:
            return IntegerValue(Load<int16_t>(address), form, allocator);
        case 4:
            return IntegerValue(Load<int32_t>(address), form, allocator);
        case 8:
            return IntegerValue(Load<int64_t>(address), form, allocator);
        default:
            return Value();
    }
}

// The long time classes, signed 64-bit nanoseconds: null, or in the LONG_TIMES form the
// integer (a string in the INT64_STRINGS form) or, with ISO_8601 too, the text.
enum class ELongTime { kDuration, kDate, kDateAndTime, kTimeOfDay };

template <ELongTime kClass>
Value EncodeLongTime(const void* address, uint32_t, ValueForm form, CJsonAllocator& allocator) {
    if ((form & kFormLongTimes) == 0) {
        return Value();
    }
    const int64_t value = Load<int64_t>(address);
    if ((form & kFormIso8601) != 0) {
        char text[kIsoTextMax];
        switch (kClass) {
            case ELongTime::kDuration:
                return Text(text, WriteIsoDuration(value, kNanoseconds, text), allocator);
            case ELongTime::kDate:
            case ELongTime::kDateAndTime:
                return Text(text, WriteIsoDateTime(value, kNanoseconds, kClass == ELongTime::kDate, text),
                            allocator);
            case ELongTime::kTimeOfDay:
                if (value >= 0 && value < kNanosecondsPerDay) {
                    return Text(text, WriteIsoTimeOfDay(value, kNanoseconds, text), allocator);
                }
                break;
        }
    }
    return IntegerValue(value, form, allocator);
}

// ---- JSON to memory --------------------------------------------------------------

CLeafWrite Written() {
    CLeafWrite result;
    result.outcome = CLeafWrite::kWritten;
    return result;
}

CLeafWrite Refused(CLeafWrite::Outcome outcome) {
    CLeafWrite result;
    result.outcome = outcome;
    return result;
}

CLeafWrite DecodeNever(void*, uint32_t, const Value&, const CExactNumber*, bool) {
    return Refused(CLeafWrite::kNeverWritten);
}

CLeafWrite DecodeBool(void* address, uint32_t, const Value& value, const CExactNumber*, bool) {
    if (!value.IsBool()) {
        return Refused(CLeafWrite::kWrongKind);
    }
    Store<uint8_t>(address, value.GetBool() ? 1 : 0);
    return Written();
}

// A JSON number taken by its value (WholeOfValue): kWritten when whole and within 64
// bits (signed or unsigned), kWrongKind for a value that is no number.
CLeafWrite::Outcome WholeOfNumber(const Value& value, const CExactNumber* exact, CWhole& whole) {
    switch (WholeOfValue(value, exact, whole)) {
        case EWholeValue::kWhole:
            return CLeafWrite::kWritten;
        case EWholeValue::kNotWhole:
            return CLeafWrite::kNotWhole;
        case EWholeValue::kBeyond:
            return CLeafWrite::kOutOfRange;
        case EWholeValue::kNoNumber:
            break;
    }
    return CLeafWrite::kWrongKind;
}

// A string of a decimal integer ("-12", "18446744073709551615"): an optional minus, then
// digits only. kMalformed for any other text, kOutOfRange beyond 64 bits.
CLeafWrite::Outcome WholeOfDecimal(const char* text, size_t length, CWhole& whole) {
    size_t at = length > 0 && text[0] == '-' ? 1 : 0;
    if (at == length) {
        return CLeafWrite::kMalformed;
    }
    whole.negative = at == 1;
    whole.magnitude = 0;
    for (; at < length; ++at) {
        const unsigned digit = static_cast<unsigned>(text[at] - '0');
        if (digit > 9) {
            return CLeafWrite::kMalformed;
        }
        if (whole.magnitude > (UINT64_MAX - digit) / 10) {
            // Still a decimal integer: every remaining byte must be a digit too.
            while (++at < length) {
                if (static_cast<unsigned>(text[at] - '0') > 9) {
                    return CLeafWrite::kMalformed;
                }
            }
            return CLeafWrite::kOutOfRange;
        }
        whole.magnitude = whole.magnitude * 10 + digit;
    }
    whole.negative = whole.negative && whole.magnitude != 0;
    return CLeafWrite::kWritten;
}

bool IsDecimalText(const Value& value) {
    const char* text = value.GetString();
    const size_t length = value.GetStringLength();
    size_t at = length > 0 && text[0] == '-' ? 1 : 0;
    if (at == length) {
        return false;
    }
    for (; at < length; ++at) {
        if (static_cast<unsigned>(text[at] - '0') > 9) {
            return false;
        }
    }
    return true;
}

// An integer of the width of Stored. The low bytes of the value are stored (two's
// complement): 300 into a USINT is 44. Below 8 bytes the value must lie within 32 bits
// as a signed integer, as for every class before 4-byte unsigned values were taken; a
// 4-byte class takes the whole signed and unsigned range of its width, an 8-byte class
// that of 64 bits and also a string of a decimal integer (the INT64_STRINGS form), so
// every value the encoder gives is written back unchanged. kLowest and kHighest bound
// the values the class holds without wrapping (bit strings take both the signed and the
// unsigned form). Numbers count by their value: 5.0 and 5e0 are 5, 7.5 is refused.
template <typename Stored, int64_t kLowest, uint64_t kHighest>
CLeafWrite DecodeInteger(void* address, uint32_t, const Value& value, const CExactNumber* exact,
                         bool detail) {
    CWhole whole;
    CLeafWrite::Outcome outcome = WholeOfNumber(value, exact, whole);
    if (outcome == CLeafWrite::kWrongKind && sizeof(Stored) == 8 && value.IsString()) {
        outcome = WholeOfDecimal(value.GetString(), value.GetStringLength(), whole);
    }
    if (outcome != CLeafWrite::kWritten) {
        return Refused(outcome);
    }
    if (!IntegerFits(sizeof(Stored), whole.negative, whole.magnitude)) {
        return Refused(CLeafWrite::kOutOfRange);
    }
    Store<Stored>(address, static_cast<Stored>(whole.negative ? ~whole.magnitude + 1 : whole.magnitude));
    CLeafWrite result = Written();
    if (detail) {
        result.wrapped =
            whole.negative ? -static_cast<__int128>(whole.magnitude) < kLowest : whole.magnitude > kHighest;
    }
    return result;
}

// Every number, as the nearest double (an integer too), as long as the class holds it:
// a single within its range (it then rounds to single precision), a double finite.
CLeafWrite DecodeReal(void* address, uint32_t, const Value& value, const CExactNumber*, bool) {
    if (!value.IsNumber()) {
        return Refused(CLeafWrite::kWrongKind);
    }
    const double d = value.GetDouble();
    if (!SingleHolds(d)) {
        return Refused(CLeafWrite::kOutOfRange);
    }
    Store<float>(address, static_cast<float>(d));
    return Written();
}

CLeafWrite DecodeLreal(void* address, uint32_t, const Value& value, const CExactNumber*, bool) {
    if (!value.IsNumber()) {
        return Refused(CLeafWrite::kWrongKind);
    }
    const double d = value.GetDouble();
    if (!std::isfinite(d)) {
        return Refused(CLeafWrite::kOutOfRange);  // a text beyond the range of doubles
    }
    Store<double>(address, d);
    return Written();
}

// The bytes of a JSON string before its first zero byte (an IEC string ends there).
size_t BeforeZero(const Value& value, bool& cutAtZero) {
    const char* text = value.GetString();
    const void* zero = std::memchr(text, 0, value.GetStringLength());
    cutAtZero = zero != nullptr;
    return zero == nullptr ? value.GetStringLength()
                           : static_cast<size_t>(static_cast<const char*>(zero) - text);
}

// A string takes what fits before its terminator, never part of a character, up to a
// zero byte it holds; the bytes after the terminator are left as they are. A node
// without room for the terminator (STRING of 0 bytes, WSTRING under 2) is never written.
CLeafWrite DecodeString(void* address, uint32_t size, const Value& value, const CExactNumber*, bool) {
    if (size < 1) {
        return Refused(CLeafWrite::kNeverWritten);
    }
    if (!value.IsString()) {
        return Refused(CLeafWrite::kWrongKind);
    }
    CLeafWrite result = Written();
    const size_t length = BeforeZero(value, result.cutAtZero);
    const size_t kept = FitUtf8(value.GetString(), length, size - 1);
    std::memcpy(address, value.GetString(), kept);
    static_cast<char*>(address)[kept] = '\0';
    result.cut = kept < length;
    result.bytes = static_cast<uint32_t>(kept);
    return result;
}

CLeafWrite DecodeWstring(void* address, uint32_t size, const Value& value, const CExactNumber*, bool) {
    if (size < 2) {
        return Refused(CLeafWrite::kNeverWritten);
    }
    if (!value.IsString()) {
        return Refused(CLeafWrite::kWrongKind);
    }
    CLeafWrite result = Written();
    const size_t length = BeforeZero(value, result.cutAtZero);
    const size_t units = Utf8ToUtf16(value.GetString(), length, address, size, result.cut);
    result.bytes = static_cast<uint32_t>(2 * units);
    return result;
}

// The ISO 8601 forms a time class reads, by what its value counts.
enum class EIsoForm { kDuration, kTimeOfDay, kDateTime };

// The time classes: a number as the integer class of their width does (DecodeInteger),
// an 8-byte class also a string of a decimal integer; and an ISO 8601 text of the class's
// form whose value, in units of 10^-kScale seconds, lies within kIsoLowest..kIsoHighest
// (which no text wraps).
template <typename Stored, int64_t kLowest, uint64_t kHighest, EIsoForm kForm, int kScale, int64_t kIsoLowest,
          int64_t kIsoHighest>
CLeafWrite DecodeTime(void* address, uint32_t size, const Value& value, const CExactNumber* exact,
                      bool detail) {
    if (!value.IsString() || (sizeof(Stored) == 8 && IsDecimalText(value))) {
        return DecodeInteger<Stored, kLowest, kHighest>(address, size, value, exact, detail);
    }
    __int128 count = 0;
    EIsoRead read = EIsoRead::kMalformed;
    switch (kForm) {
        case EIsoForm::kDuration:
            read = ReadIsoDuration(value.GetString(), value.GetStringLength(), kScale, count);
            break;
        case EIsoForm::kTimeOfDay:
            read = ReadIsoTimeOfDay(value.GetString(), value.GetStringLength(), kScale, count);
            break;
        case EIsoForm::kDateTime:
            read = ReadIsoDateTime(value.GetString(), value.GetStringLength(), kScale, count);
            break;
    }
    switch (read) {
        case EIsoRead::kRead:
            break;
        case EIsoRead::kMalformed:
            return Refused(CLeafWrite::kMalformed);
        case EIsoRead::kTooFine:
            return Refused(CLeafWrite::kTooFine);
        case EIsoRead::kOutOfRange:
            return Refused(CLeafWrite::kOutOfRange);
    }
    if (count < kIsoLowest || count > kIsoHighest) {
        return Refused(CLeafWrite::kOutOfRange);
    }
    Store<Stored>(address, static_cast<Stored>(count));
    return Written();
}

// ENUM and SUBRANGE: a whole number within the signed or the unsigned range of the
// node's 1, 2, 4 or 8 bytes (8 bytes: also a string of one); nothing wraps.
CLeafWrite DecodeEnumeration(void* address, uint32_t size, const Value& value, const CExactNumber* exact,
                             bool) {
    if (size != 1 && size != 2 && size != 4 && size != 8) {
        return Refused(CLeafWrite::kNeverWritten);
    }
    CWhole whole;
    CLeafWrite::Outcome outcome = WholeOfNumber(value, exact, whole);
    if (outcome == CLeafWrite::kWrongKind && size == 8 && value.IsString()) {
        outcome = WholeOfDecimal(value.GetString(), value.GetStringLength(), whole);
    }
    if (outcome != CLeafWrite::kWritten) {
        return Refused(outcome);
    }
    const unsigned bits = 8 * size;
    const uint64_t mostPositive = bits == 64 ? UINT64_MAX : (uint64_t(1) << bits) - 1;
    if (whole.negative ? whole.magnitude > uint64_t(1) << (bits - 1) : whole.magnitude > mostPositive) {
        return Refused(CLeafWrite::kOutOfRange);
    }
    const uint64_t stored = whole.negative ? ~whole.magnitude + 1 : whole.magnitude;
    std::memcpy(address, &stored, size);  // the low bytes: the controller is little-endian
    return Written();
}

// ---- the rows --------------------------------------------------------------------

constexpr const char* kBoolean = "a boolean";
constexpr const char* kWhole = "a whole number";
constexpr const char* kWholeOrString = "a whole number or a string of one";
constexpr const char* kNumber = "a number";
constexpr const char* kString = "a string";
constexpr const char* kDecimal = "a decimal integer";

// A class the component reads as null and never writes.
constexpr CTypeClassRow NullRow(const char* name) {
    return CTypeClassRow{name, 0, false, kWhole, nullptr, nullptr, 0, 0, EncodeNull, DecodeNever, NullSchema};
}

// An integer class of T's width: lowest..highest held without wrapping.
template <typename T, int64_t kLowest, uint64_t kHighest>
constexpr CTypeClassRow IntegerRow(const char* name, bool bits) {
    typedef typename std::make_unsigned<T>::type Stored;
    return CTypeClassRow{name,
                         sizeof(T),
                         std::is_signed<T>::value && !bits,
                         sizeof(T) == 8 ? kWholeOrString : kWhole,
                         sizeof(T) == 8 ? kDecimal : nullptr,
                         nullptr,
                         kLowest,
                         kHighest,
                         bits ? EncodeBits<typename std::make_signed<T>::type> : EncodeInteger<T>,
                         DecodeInteger<Stored, kLowest, kHighest>,
                         bits ? BitsSchema<typename std::make_signed<T>::type> : IntegerSchema<T>,
                         ELeafShape::kInteger};
}

}  // namespace

const CTypeClassRow g_typeClassRows[kTypeClassCount] = {
    // name, width, signed, read from, strings read, their unit, lowest, highest, encode, decode, schema,
    // shape (kOther when left out)
    {"BOOL", 1, false, kBoolean, nullptr, nullptr, 0, 1, EncodeBool, DecodeBool, BoolSchema,
     ELeafShape::kBoolean},
    {"BIT", 1, false, kWhole, nullptr, nullptr, INT8_MIN, UINT8_MAX, EncodeInteger<int8_t>,
     DecodeInteger<uint8_t, INT8_MIN, UINT8_MAX>, IntegerSchema<int8_t>, ELeafShape::kInteger},
    IntegerRow<int8_t, INT8_MIN, UINT8_MAX>("BYTE", true),
    IntegerRow<int16_t, INT16_MIN, UINT16_MAX>("WORD", true),
    IntegerRow<int32_t, INT32_MIN, UINT32_MAX>("DWORD", true),
    IntegerRow<int64_t, INT64_MIN, UINT64_MAX>("LWORD", true),
    IntegerRow<int8_t, INT8_MIN, INT8_MAX>("SINT", false),
    IntegerRow<int16_t, INT16_MIN, INT16_MAX>("INT", false),
    IntegerRow<int32_t, INT32_MIN, INT32_MAX>("DINT", false),
    IntegerRow<int64_t, INT64_MIN, INT64_MAX>("LINT", false),
    IntegerRow<uint8_t, 0, UINT8_MAX>("USINT", false),
    IntegerRow<uint16_t, 0, UINT16_MAX>("UINT", false),
    IntegerRow<uint32_t, 0, UINT32_MAX>("UDINT", false),
    IntegerRow<uint64_t, 0, UINT64_MAX>("ULINT", false),
    {"REAL", 4, true, kNumber, nullptr, nullptr, 0, 0, EncodeReal, DecodeReal, RealSchema,
     ELeafShape::kSingle},
    {"LREAL", 8, true, kNumber, nullptr, nullptr, 0, 0, EncodeLreal, DecodeLreal, LrealSchema,
     ELeafShape::kDouble},
    {"STRING", 0, false, kString, nullptr, nullptr, 0, 0, EncodeString, DecodeString, StringSchema,
     ELeafShape::kString},
    {"WSTRING", 0, false, kString, nullptr, nullptr, 0, 0, EncodeWstring, DecodeWstring, WstringSchema},
    {"TIME", 4, true, "a whole number or an ISO 8601 duration", "an ISO 8601 duration", "a millisecond",
     INT32_MIN, UINT32_MAX, EncodeTime,
     DecodeTime<uint32_t, INT32_MIN, UINT32_MAX, EIsoForm::kDuration, kMilliseconds, INT32_MIN, INT32_MAX>,
     TimeSchema, ELeafShape::kInteger},
    {"DATE", 4, false, "a whole number or an ISO 8601 date", "an ISO 8601 date", "a second", 0, UINT32_MAX,
     EncodeDate<true>, DecodeTime<uint32_t, 0, UINT32_MAX, EIsoForm::kDateTime, kSeconds, 0, UINT32_MAX>,
     DateSchema, ELeafShape::kInteger},
    {"DATE_AND_TIME", 4, false, "a whole number or an ISO 8601 date and time", "an ISO 8601 date and time",
     "a second", 0, UINT32_MAX, EncodeDate<false>,
     DecodeTime<uint32_t, 0, UINT32_MAX, EIsoForm::kDateTime, kSeconds, 0, UINT32_MAX>, DateAndTimeSchema,
     ELeafShape::kInteger},
    {"TIME_OF_DAY", 4, false, "a whole number or an ISO 8601 time of day", "an ISO 8601 time of day",
     "a millisecond", 0, UINT32_MAX, EncodeTimeOfDay,
     DecodeTime<uint32_t, 0, UINT32_MAX, EIsoForm::kTimeOfDay, kMilliseconds, 0, kMillisecondsPerDay - 1>,
     TimeOfDaySchema, ELeafShape::kInteger},
    NullRow("POINTER"),
    NullRow("REFERENCE"),
    {"SUBRANGE", 0, true, kWhole, kDecimal, nullptr, INT64_MIN, UINT64_MAX, EncodeEnumeration,
     DecodeEnumeration, EnumerationSchema},
    {"ENUM", 0, true, kWhole, kDecimal, nullptr, INT64_MIN, UINT64_MAX, EncodeEnumeration, DecodeEnumeration,
     EnumerationSchema},
    NullRow("ARRAY"),
    NullRow("PARAMS"),
    NullRow("USERDEF"),
    NullRow("NONE"),
    NullRow("ANY"),
    NullRow("ANYBIT"),
    NullRow("ANYDATE"),
    NullRow("ANYINT"),
    NullRow("ANYNUM"),
    NullRow("ANYREAL"),
    NullRow("LAZY"),
    {"LTIME", 8, true, "a whole number, a string of one or an ISO 8601 duration",
     "a decimal integer or an ISO 8601 duration", "a nanosecond", INT64_MIN, UINT64_MAX,
     EncodeLongTime<ELongTime::kDuration>,
     DecodeTime<uint64_t, INT64_MIN, UINT64_MAX, EIsoForm::kDuration, kNanoseconds, INT64_MIN, INT64_MAX>,
     LongTimeSchema, ELeafShape::kInteger},
    NullRow("BITCONST"),
    NullRow("UXINT"),
    NullRow("XWORD"),
    NullRow("XINT"),
    NullRow("XSTRING"),
    NullRow("VARLENARRAY"),
    NullRow("ANYSTRING"),
    NullRow("VECTOR"),
    {"LDATE", 8, true, "a whole number, a string of one or an ISO 8601 date",
     "a decimal integer or an ISO 8601 date", "a nanosecond", INT64_MIN, UINT64_MAX,
     EncodeLongTime<ELongTime::kDate>,
     DecodeTime<uint64_t, INT64_MIN, UINT64_MAX, EIsoForm::kDateTime, kNanoseconds, INT64_MIN, INT64_MAX>,
     LongDateSchema, ELeafShape::kInteger},
    {"LDATE_AND_TIME", 8, true, "a whole number, a string of one or an ISO 8601 date and time",
     "a decimal integer or an ISO 8601 date and time", "a nanosecond", INT64_MIN, UINT64_MAX,
     EncodeLongTime<ELongTime::kDateAndTime>,
     DecodeTime<uint64_t, INT64_MIN, UINT64_MAX, EIsoForm::kDateTime, kNanoseconds, INT64_MIN, INT64_MAX>,
     LongDateAndTimeSchema, ELeafShape::kInteger},
    {"LTIME_OF_DAY", 8, true, "a whole number, a string of one or an ISO 8601 time of day",
     "a decimal integer or an ISO 8601 time of day", "a nanosecond", INT64_MIN, UINT64_MAX,
     EncodeLongTime<ELongTime::kTimeOfDay>,
     DecodeTime<uint64_t, INT64_MIN, UINT64_MAX, EIsoForm::kTimeOfDay, kNanoseconds, 0,
                kNanosecondsPerDay - 1>,
     LongTimeOfDaySchema, ELeafShape::kInteger},
    NullRow("INTERFACE"),
};

const CTypeClassRow g_unknownTypeClassRow = NullRow(nullptr);

bool IsWritableClass(TypeClass3 type) { return TypeClassRow(type).decode != DecodeNever; }

bool IsAlwaysNullClass(TypeClass3 type) { return TypeClassRow(type).encode == EncodeNull; }

std::string StoredIntegerText(TypeClass3 type, const void* address) {
    const CTypeClassRow& row = TypeClassRow(type);
    switch (row.width) {
        case 1:
            return row.isSigned ? std::to_string(Load<int8_t>(address))
                                : std::to_string(Load<uint8_t>(address));
        case 2:
            return row.isSigned ? std::to_string(Load<int16_t>(address))
                                : std::to_string(Load<uint16_t>(address));
        case 8:
            return row.isSigned ? std::to_string(Load<int64_t>(address))
                                : std::to_string(Load<uint64_t>(address));
        default:
            return row.isSigned ? std::to_string(Load<int32_t>(address))
                                : std::to_string(Load<uint32_t>(address));
    }
}
