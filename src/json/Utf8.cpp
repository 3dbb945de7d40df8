// The UTF-8 module: validation, repair as Windows-1252, cuts at character boundaries,
// and UTF-16 both ways. Code points are encoded by RapidJSON's UTF8 encoder.
#include "json/Utf8.h"

#include <rapidjson/encodings.h>

#include <cstring>

namespace {

// Code points of the Windows-1252 bytes 0x80 to 0x9F; 0 where the code page has none.
// 0xA0 to 0xFF are the Latin-1 code points of the same number.
const uint16_t s_cp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// Length of the valid UTF-8 sequence that starts at text[0] (text[0] >= 0x80), or 0
// when the bytes there are not one (RFC 3629, table 3-7 of Unicode).
size_t ValidSequenceLength(const unsigned char* text, size_t available) {
    const unsigned char lead = text[0];
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // no overlong forms
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (available < length || text[1] < low || text[1] > high) {
        return 0;
    }
    for (size_t i = 2; i < length; ++i) {
        if (text[i] < 0x80 || text[i] > 0xBF) {
            return 0;
        }
    }
    return length;
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

// RapidJSON's output stream concept over a std::string.
struct CStringOut {
    typedef char Ch;
    std::string& text;
    void Put(char c) { text.push_back(c); }
};

uint16_t LoadUnit(const unsigned char* bytes) {
    uint16_t unit;
    std::memcpy(&unit, bytes, sizeof(unit));
    return unit;
}

void StoreUnit(unsigned char* bytes, uint32_t unit) {
    const uint16_t value = static_cast<uint16_t>(unit);
    std::memcpy(bytes, &value, sizeof(value));
}

}  // namespace

bool IsValidUtf8(const char* text, size_t length) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    // All ASCII, the common case: OR every byte together, eight at a time, with no branch
    // per byte, and test the high bits once.
    uint64_t any = 0;
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, sizeof(word));
        any |= word;
    }
    for (; i < length; ++i) {
        any |= bytes[i];
    }
    if ((any & 0x8080808080808080ull) == 0) {
        return true;
    }
    i = 0;
    while (i < length) {
        if (bytes[i] < 0x80) {
            ++i;
            continue;
        }
        const size_t sequence = ValidSequenceLength(bytes + i, length - i);
        if (sequence == 0) {
            return false;
        }
        i += sequence;
    }
    return true;
}

void RepairUtf8(const char* text, size_t length, std::string& out) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    out.reserve(out.size() + length + length / 2);
    size_t i = 0;
    while (i < length) {
        const unsigned char byte = bytes[i];
        if (byte < 0x80) {
            out.push_back(static_cast<char>(byte));
            ++i;
            continue;
        }
        const size_t sequence = ValidSequenceLength(bytes + i, length - i);
        if (sequence != 0) {
            out.append(text + i, sequence);
            i += sequence;
            continue;
        }
        uint32_t codePoint = byte;
        if (byte < 0xA0) {
            codePoint = s_cp1252High[byte - 0x80];
            if (codePoint == 0) {
                codePoint = 0xFFFD;
            }
        }
        AppendUtf8(codePoint, out);
        ++i;
    }
}

size_t FitUtf8(const char* text, size_t length, size_t room) {
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

void AppendUtf8(uint32_t codePoint, std::string& out) {
    CStringOut stream{out};
    rapidjson::UTF8<char>::Encode(stream, codePoint);
}

uint32_t DecodeUtf8(const unsigned char* text, size_t length, size_t& pos) {
    const unsigned char lead = text[pos];
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    const size_t sequence = ValidSequenceLength(text + pos, length - pos);
    if (sequence == 0) {
        ++pos;
        return kReplacementCharacter;
    }
    uint32_t codePoint = lead & (0x7F >> sequence);
    for (size_t i = 1; i < sequence; ++i) {
        codePoint = (codePoint << 6) | (text[pos + i] & 0x3F);
    }
    pos += sequence;
    return codePoint;
}

void Utf16ToUtf8(const void* units, uint32_t size, std::string& out) {
    const unsigned char* bytes = static_cast<const unsigned char*>(units);
    const size_t count = size / 2;
    for (size_t i = 0; i < count; ++i) {
        const uint16_t unit = LoadUnit(bytes + 2 * i);
        if (unit == 0) {
            break;
        }
        uint32_t codePoint = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count) {
            const uint16_t low = LoadUnit(bytes + 2 * (i + 1));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                codePoint = 0x10000 + ((static_cast<uint32_t>(unit) - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (codePoint >= 0xD800 && codePoint <= 0xDFFF) {
            codePoint = kReplacementCharacter;
        }
        AppendUtf8(codePoint, out);
    }
}

size_t Utf8ToUtf16(const char* text, size_t length, void* units, uint32_t size, bool& cut) {
    unsigned char* bytes = static_cast<unsigned char*>(units);
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
    const size_t room = size / 2 - 1;
    size_t written = 0;
    size_t pos = 0;
    cut = false;
    while (pos < length) {
        const uint32_t codePoint = DecodeUtf8(in, length, pos);
        const size_t needed = codePoint < 0x10000 ? 1 : 2;
        if (written + needed > room) {
            cut = true;
            break;
        }
        if (needed == 1) {
            StoreUnit(bytes + 2 * written++, codePoint);
        } else {
            const uint32_t v = codePoint - 0x10000;
            StoreUnit(bytes + 2 * written++, 0xD800 + (v >> 10));
            StoreUnit(bytes + 2 * written++, 0xDC00 + (v & 0x3FF));
        }
    }
    StoreUnit(bytes + 2 * written, 0);
    return written;
}
