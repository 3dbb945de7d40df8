// DataConverter: one leaf of the variable tree to a JSON scalar and back.
//
// Reads and writes go straight to application memory with memcpy, so alignment does
// not matter. A leaf is never read or written beyond its class's natural width nor
// beyond the size the host reported for it; a leaf too small for its class, or one at
// the null address (a node the host did not resolve), reads as null and is never
// written.
#include "var/DataConvert.h"

#include <string>

namespace {

typedef rapidjson::Document::AllocatorType Allocator;

constexpr uint32_t kReplacementCharacter = 0xFFFD;

template <typename T>
void Store(void* addr, T value) {
    std::memcpy(addr, &value, sizeof(T));
}

// Appends the UTF-8 form of a code point (at most U+10FFFF, no surrogate).
void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Decodes one UTF-8 sequence at text[pos] (len bytes in all) and advances pos past it.
// A byte that does not start a complete, shortest-form sequence of a scalar value
// gives U+FFFD and is skipped alone.
uint32_t DecodeUtf8(const unsigned char* text, size_t len, size_t& pos) {
    const unsigned char lead = text[pos];
    size_t count = 0;
    uint32_t cp = 0;
    uint32_t min = 0;
    if (lead < 0x80) {
        ++pos;
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        count = 1, cp = lead & 0x1F, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        count = 2, cp = lead & 0x0F, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        count = 3, cp = lead & 0x07, min = 0x10000;
    } else {
        ++pos;
        return kReplacementCharacter;
    }
    if (len - pos <= count) {
        ++pos;
        return kReplacementCharacter;
    }
    for (size_t i = 1; i <= count; ++i) {
        const unsigned char next = text[pos + i];
        if ((next & 0xC0) != 0x80) {
            ++pos;
            return kReplacementCharacter;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return kReplacementCharacter;
    }
    pos += count + 1;
    return cp;
}

// WSTRING memory (UTF-16 code units, native order) to UTF-8: up to the first zero
// unit or the last whole unit within size bytes; an unpaired surrogate gives U+FFFD.
std::string Utf16ToUtf8(const void* addr, uint32_t size) {
    const unsigned char* bytes = static_cast<const unsigned char*>(addr);
    const size_t units = size / 2;
    std::string out;
    for (size_t i = 0; i < units; ++i) {
        const uint16_t unit = DataConverter::convert<uint16_t>(bytes + 2 * i);
        if (unit == 0) {
            break;
        }
        uint32_t cp = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            const uint16_t low = DataConverter::convert<uint16_t>(bytes + 2 * (i + 1));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((static_cast<uint32_t>(unit) - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacementCharacter;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

// A JSON string (UTF-8, not validated by the parser) into WSTRING memory of size
// bytes: at most size/2 - 1 code units, a surrogate pair never split, then a zero unit.
// Returns the code units written; cut tells whether some of the text did not fit.
// REQUIRES: size >= 2.
size_t Utf8ToUtf16(const char* text, size_t len, void* addr, uint32_t size, bool& cut) {
    unsigned char* bytes = static_cast<unsigned char*>(addr);
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
    const size_t room = size / 2 - 1;
    size_t written = 0;
    size_t pos = 0;
    cut = false;
    while (pos < len) {
        const uint32_t cp = DecodeUtf8(in, len, pos);
        if (cp < 0x10000) {
            if (written + 1 > room) {
                cut = true;
                break;
            }
            Store<uint16_t>(bytes + 2 * written++, static_cast<uint16_t>(cp));
        } else {
            if (written + 2 > room) {
                cut = true;
                break;
            }
            const uint32_t v = cp - 0x10000;
            Store<uint16_t>(bytes + 2 * written++, static_cast<uint16_t>(0xD800 + (v >> 10)));
            Store<uint16_t>(bytes + 2 * written++, static_cast<uint16_t>(0xDC00 + (v & 0x3FF)));
        }
    }
    Store<uint16_t>(bytes + 2 * written, 0);
    return written;
}

// Bytes a scalar class occupies in memory; 0 for the string classes, whose size is
// the node's own, and for classes that have no scalar form.
uint32_t NaturalWidth(TypeClass3 type) {
    switch (type) {
        case TYPE3_BOOL:
        case TYPE3_BIT:
        case TYPE3_BYTE:
        case TYPE3_SINT:
        case TYPE3_USINT:
            return 1;
        case TYPE3_WORD:
        case TYPE3_INT:
        case TYPE3_UINT:
            return 2;
        case TYPE3_DWORD:
        case TYPE3_DINT:
        case TYPE3_UDINT:
        case TYPE3_TIME:
        case TYPE3_DATE:
        case TYPE3_DATEANDTIME:
        case TYPE3_TIMEOFDAY:
        case TYPE3_REAL:
            return 4;
        case TYPE3_LWORD:
        case TYPE3_LINT:
        case TYPE3_ULINT:
        case TYPE3_LREAL:
            return 8;
        default:
            return 0;
    }
}

// Bytes of the UTF-8 sequence that lead byte starts; 0 for a byte that starts none.
size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 0;
}

typedef DataConverter::CLeafWrite CLeafWrite;

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

// An integer of width bytes. The low bytes of the value are stored (two's complement):
// 300 into a USINT is 44. Below 8 bytes the value must be a 32-bit integer, as for every
// class before 4-byte unsigned values were taken; a 4-byte class takes the whole signed
// and unsigned range of its width, an 8-byte class that of 64 bits, so every value
// AddToJson gives is written back unchanged. lowest and highest bound the values the
// class holds without wrapping (bit strings take both the signed and the unsigned form,
// since AddToJson reads some of them signed).
template <bool kDetail, typename Stored>
CLeafWrite WriteInteger(void* addr, const rapidjson::Value& value, int64_t lowest, uint64_t highest) {
    const bool wide = sizeof(Stored) == 8;
    bool negative = false;
    uint64_t magnitude = 0;
    if (sizeof(Stored) < 4    ? value.IsInt()
        : sizeof(Stored) == 4 ? (value.IsInt() || value.IsUint())
                              : (value.IsInt64() || value.IsUint64())) {
        if (value.IsUint64()) {
            magnitude = value.GetUint64();
        } else {
            negative = true;
            magnitude = static_cast<uint64_t>(value.GetInt64());
        }
    } else {
        if (!kDetail) {
            return CLeafWrite();
        }
        const bool integer = !wide && (value.IsInt64() || value.IsUint64());
        return Refused(integer ? CLeafWrite::kOutOfRange : CLeafWrite::kWrongKind);
    }
    Store<Stored>(addr, static_cast<Stored>(magnitude));
    CLeafWrite result = Written();
    if (kDetail) {
        const int64_t signedValue = static_cast<int64_t>(magnitude);
        result.wrapped = negative ? signedValue < lowest : magnitude > highest;
    }
    return result;
}

template <bool kDetail>
CLeafWrite WriteLeaf(TypeClass3 type, void* addr, uint32_t size, const rapidjson::Value& value) {
    if (addr == nullptr || size < NaturalWidth(type)) {
        return Refused(CLeafWrite::kNeverWritten);
    }
    switch (type) {
        case TYPE3_BOOL:
            if (!value.IsBool()) {
                return Refused(CLeafWrite::kWrongKind);
            }
            Store<uint8_t>(addr, value.GetBool() ? 1 : 0);
            return Written();
        case TYPE3_BIT:
        case TYPE3_BYTE:
            return WriteInteger<kDetail, uint8_t>(addr, value, INT8_MIN, UINT8_MAX);
        case TYPE3_SINT:
            return WriteInteger<kDetail, uint8_t>(addr, value, INT8_MIN, INT8_MAX);
        case TYPE3_USINT:
            return WriteInteger<kDetail, uint8_t>(addr, value, 0, UINT8_MAX);
        case TYPE3_WORD:
            return WriteInteger<kDetail, uint16_t>(addr, value, INT16_MIN, UINT16_MAX);
        case TYPE3_INT:
            return WriteInteger<kDetail, uint16_t>(addr, value, INT16_MIN, INT16_MAX);
        case TYPE3_UINT:
            return WriteInteger<kDetail, uint16_t>(addr, value, 0, UINT16_MAX);
        case TYPE3_DWORD:
        case TYPE3_TIME:
        case TYPE3_DATE:
        case TYPE3_DATEANDTIME:
        case TYPE3_TIMEOFDAY:
            return WriteInteger<kDetail, uint32_t>(addr, value, INT32_MIN, UINT32_MAX);
        case TYPE3_DINT:
            return WriteInteger<kDetail, uint32_t>(addr, value, INT32_MIN, INT32_MAX);
        case TYPE3_UDINT:
            return WriteInteger<kDetail, uint32_t>(addr, value, 0, UINT32_MAX);
        case TYPE3_LWORD:
            return WriteInteger<kDetail, uint64_t>(addr, value, INT64_MIN, UINT64_MAX);
        case TYPE3_LINT:
            return WriteInteger<kDetail, uint64_t>(addr, value, INT64_MIN, INT64_MAX);
        case TYPE3_ULINT:
            return WriteInteger<kDetail, uint64_t>(addr, value, 0, UINT64_MAX);
        // Only numbers written with a fraction or an exponent (or too large for 64
        // bits) are held as doubles; a plain integer is not taken for a REAL.
        case TYPE3_REAL:
            if (!value.IsDouble()) {
                return Refused(CLeafWrite::kWrongKind);
            }
            Store<float>(addr, static_cast<float>(value.GetDouble()));
            return Written();
        case TYPE3_LREAL:
            if (!value.IsDouble()) {
                return Refused(CLeafWrite::kWrongKind);
            }
            Store<double>(addr, value.GetDouble());
            return Written();
        // A string takes what fits before its terminator, never part of a character;
        // the bytes after the terminator are left as they are. A node without room for
        // the terminator (STRING of 0 bytes, WSTRING under 2) is never written.
        case TYPE3_STRING: {
            if (size < 1) {
                return Refused(CLeafWrite::kNeverWritten);
            }
            if (!value.IsString()) {
                return Refused(CLeafWrite::kWrongKind);
            }
            const size_t length = value.GetStringLength();
            const size_t len = DataConverter::FitUtf8(value.GetString(), length, size - 1);
            std::memcpy(addr, value.GetString(), len);
            static_cast<char*>(addr)[len] = '\0';
            CLeafWrite result = Written();
            result.cut = len < length;
            result.bytes = static_cast<uint32_t>(len);
            return result;
        }
        case TYPE3_WSTRING: {
            if (size < 2) {
                return Refused(CLeafWrite::kNeverWritten);
            }
            if (!value.IsString()) {
                return Refused(CLeafWrite::kWrongKind);
            }
            CLeafWrite result = Written();
            const size_t units =
                Utf8ToUtf16(value.GetString(), value.GetStringLength(), addr, size, result.cut);
            result.bytes = static_cast<uint32_t>(2 * units);
            return result;
        }
        default:
            return Refused(CLeafWrite::kNeverWritten);
    }
}

}  // namespace

rapidjson::Value DataConverter::AddToJson(const TypeClass3& type, void* addr, const uint32_t& size,
                                          Allocator& allocator) {
    if (addr == nullptr || size < NaturalWidth(type)) {
        return rapidjson::Value();
    }
    switch (type) {
        case TYPE3_BOOL:
            // Any non-zero byte is TRUE; the byte is not taken as a C++ bool, which
            // must hold 0 or 1.
            return rapidjson::Value(convert<unsigned char>(addr) != 0);
        case TYPE3_BIT:
        case TYPE3_BYTE:
        case TYPE3_SINT:
            return rapidjson::Value(static_cast<int>(convert<signed char>(addr)));
        case TYPE3_WORD:
        case TYPE3_INT:
            return rapidjson::Value(static_cast<int>(convert<short>(addr)));
        case TYPE3_DWORD:
        case TYPE3_DINT:
        case TYPE3_TIME:
        case TYPE3_DATE:
        case TYPE3_DATEANDTIME:
        case TYPE3_TIMEOFDAY:
            return rapidjson::Value(convert<int>(addr));
        case TYPE3_LWORD:
        case TYPE3_LINT:
            return rapidjson::Value(static_cast<int64_t>(convert<long>(addr)));
        case TYPE3_USINT:
            return rapidjson::Value(static_cast<unsigned>(convert<unsigned char>(addr)));
        case TYPE3_UINT:
            return rapidjson::Value(static_cast<unsigned>(convert<unsigned short>(addr)));
        case TYPE3_UDINT:
            return rapidjson::Value(convert<unsigned int>(addr));
        case TYPE3_ULINT:
            return rapidjson::Value(static_cast<uint64_t>(convert<unsigned long>(addr)));
        case TYPE3_REAL:
            return rapidjson::Value(static_cast<double>(convert<float>(addr)));
        case TYPE3_LREAL:
            return rapidjson::Value(convert<double>(addr));
        case TYPE3_STRING: {
            const void* end = std::memchr(addr, 0, size);
            const size_t len =
                end == nullptr
                    ? size
                    : static_cast<size_t>(static_cast<const char*>(end) - static_cast<const char*>(addr));
            return rapidjson::Value(static_cast<const char*>(addr), static_cast<rapidjson::SizeType>(len),
                                    allocator);
        }
        case TYPE3_WSTRING: {
            const std::string text = Utf16ToUtf8(addr, size);
            return rapidjson::Value(text.data(), static_cast<rapidjson::SizeType>(text.size()), allocator);
        }
        default:
            return rapidjson::Value();
    }
}

void DataConverter::JsonValueConvert(const TypeClass3& type, void* addr, const uint32_t& size,
                                     const rapidjson::Value& value) {
    WriteLeaf<false>(type, addr, size, value);
}

DataConverter::CLeafWrite DataConverter::JsonValueWrite(const TypeClass3& type, void* addr,
                                                        const uint32_t& size, const rapidjson::Value& value) {
    return WriteLeaf<true>(type, addr, size, value);
}

size_t DataConverter::FitUtf8(const char* text, size_t length, size_t room) {
    if (length <= room) {
        return length;
    }
    // text[room] is the first byte left out. When it continues a character, that
    // character starts at most three bytes before it; drop it whole if it starts in the
    // part kept.
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    size_t start = room;
    while (start > 0 && room - start < 3 && (bytes[start] & 0xC0) == 0x80) {
        --start;
    }
    if (start < room && start + SequenceLength(bytes[start]) > room) {
        return start;
    }
    return room;
}
