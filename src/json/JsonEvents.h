// A JSON text read as a stream of events, in place, with nothing built: for a caller that
// acts on each value as it passes (JSON to variable) and needs no document.
//
// The grammar and its verdicts are those of the component's parser (JsonParse.h) with
// numbers beyond the range of doubles taken: strict RFC 8259 (no comments, no trailing
// commas, no NaN or Infinity, one root value and only whitespace after it), no lone
// surrogate in a \u escape, strings not checked for UTF-8, any number of JSON's grammar
// taken whatever its length. Iterative: the open containers live in the caller's stack
// (on the heap), so a deeply nested text never deepens the calling task's stack.
//
// Strings are unescaped in place: a string's event receives its bytes inside the text,
// which the caller keeps until it is done with them. The byte after them tells whether
// the string held an escape (ReadString): only one that did can hold a zero byte.
// Numbers arrive as their text with their digits read on the way (CNumberSpelling),
// marked when their spelling is long.
//
// Stateless and reentrant; runs on the calling thread.
#ifndef JSON_JSONEVENTS_H
#define JSON_JSONEVENTS_H

#include <rapidjson/encodings.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

enum class EJsonEvents {
    kParsed,   // the whole text is one JSON value and every event was taken
    kRefused,  // the text is no JSON text; the events up to the fault were delivered
    kStopped   // a handler's event returned false
};

// A number as the reader met it: its text and, for the usual spellings, its decimal
// digits, read on the way (the document's parser makes the same value of them,
// ReadJsonNumber in JsonParse.h).
struct CNumberSpelling {
    const char* text;
    size_t length;
    uint64_t digits;  // the digits from the first that is not zero, as one integer
    int significant;  // how many those are
    long scale;       // the value is digits * 10^scale
    bool negative;
    bool integer;       // neither fraction nor exponent
    bool read;          // the fields above hold the value: at most 19 significant digits
                        // and an exponent of at most three digits
    bool longSpelling;  // an exponent of three digits or more, or 300 characters or more:
                        // only such a number can lie beyond the range of doubles
};

namespace json_events {

inline bool IsDigit(char c) { return static_cast<unsigned>(c - '0') <= 9; }

inline int HexDigit(char c) {
    if (IsDigit(c)) {
        return c - '0';
    }
    const char lower = static_cast<char>(c | 0x20);
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// The four hex digits at p; -1 when they are not four hex digits.
inline long Hex4(const char* p) {
    long value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = HexDigit(p[i]);  // stops at the terminator: it is no hex digit
        if (digit < 0) {
            return -1;
        }
        value = value * 16 + digit;
    }
    return value;
}

// Where an unescaped character goes: the string's own bytes, behind the text being read.
struct CInPlaceOut {
    char*& next;
    void Put(char c) { *next++ = c; }
};

// The string whose opening quote stands before p, unescaped in place. Returns the
// character after the closing quote and sets [begin, end) to the string's bytes; null
// when the string is no JSON string. *end is the closing quote when the string held no
// escape, a zero byte when it did (the bytes it was unescaped from are spent).
inline char* ReadString(char* p, char*& begin, char*& end) {
    begin = p;
    // Most strings hold no escape: they are only scanned.
    while (*p != '"' && *p != '\\' && static_cast<unsigned char>(*p) >= 0x20) {
        ++p;
    }
    char* out = p;
    for (;;) {
        const char c = *p;
        if (c == '"') {
            end = out;
            if (out != p) {
                *out = '\0';
            }
            return p + 1;
        }
        if (static_cast<unsigned char>(c) < 0x20) {
            return nullptr;  // a control character, or the text ends inside the string
        }
        if (c != '\\') {
            *out++ = c;
            ++p;
            continue;
        }
        switch (p[1]) {
            case '"':
            case '\\':
            case '/':
                *out++ = p[1];
                break;
            case 'b':
                *out++ = '\b';
                break;
            case 'f':
                *out++ = '\f';
                break;
            case 'n':
                *out++ = '\n';
                break;
            case 'r':
                *out++ = '\r';
                break;
            case 't':
                *out++ = '\t';
                break;
            case 'u': {
                long codepoint = Hex4(p + 2);
                if (codepoint < 0 || (codepoint >= 0xDC00 && codepoint <= 0xDFFF)) {
                    return nullptr;  // a low surrogate that follows no high one
                }
                if (codepoint >= 0xD800 && codepoint <= 0xDBFF) {
                    // A high surrogate: a \u escape of a low one must follow.
                    if (p[6] != '\\' || p[7] != 'u') {
                        return nullptr;
                    }
                    const long low = Hex4(p + 8);
                    if (low < 0xDC00 || low > 0xDFFF) {
                        return nullptr;
                    }
                    codepoint = (((codepoint - 0xD800) << 10) | (low - 0xDC00)) + 0x10000;
                    p += 6;
                }
                CInPlaceOut sink{out};
                rapidjson::UTF8<char>::Encode(sink, static_cast<unsigned>(codepoint));
                p += 6;
                continue;
            }
            default:
                return nullptr;
        }
        p += 2;
    }
}

// Whether the eight characters at text are all digits; if so, value receives their value.
// REQUIRES: eight bytes are readable at text.
inline bool EightDigits(const char* text, uint64_t& value) {
    uint64_t word;
    std::memcpy(&word, text, sizeof(word));
    // Each byte is a digit when its high half is 3 and adding 6 keeps it there.
    if ((word & 0xF0F0F0F0F0F0F0F0) != 0x3030303030303030 ||
        ((word + 0x0606060606060606) & 0xF0F0F0F0F0F0F0F0) != 0x3030303030303030) {
        return false;
    }
    word -= 0x3030303030303030;
    // Pairs, then quadruples, then the whole (the first character is the lowest byte).
    word = word * 10 + (word >> 8);
    word = (((word & 0x000000FF000000FF) * (100 + (1000000ULL << 32))) +
            (((word >> 16) & 0x000000FF000000FF) * (1 + (10000ULL << 32)))) >>
           32;
    value = word;
    return true;
}

// The count of decimal digits of a value below 10^8, none for zero.
inline int SignificantDigits(uint64_t value) {
    return (value >= 1) + (value >= 10) + (value >= 100) + (value >= 1000) + (value >= 10000) +
           (value >= 100000) + (value >= 1000000) + (value >= 10000000);
}

// The end of the number of JSON's grammar that starts at p; null when there is none.
// Reads only the number's characters and the one after it.
inline char* NumberEnd(char* p) {
    p += *p == '-' ? 1 : 0;
    if (*p == '0') {
        ++p;
    } else if (IsDigit(*p)) {
        while (IsDigit(*++p)) {
        }
    } else {
        return nullptr;
    }
    if (*p == '.') {
        if (!IsDigit(*++p)) {
            return nullptr;
        }
        while (IsDigit(*++p)) {
        }
    }
    if (*p == 'e' || *p == 'E') {
        ++p;
        p += *p == '+' || *p == '-' ? 1 : 0;
        if (!IsDigit(*p)) {
            return nullptr;
        }
        while (IsDigit(*++p)) {
        }
    }
    return p;
}

// Up to this many significant digits a number's digits are read on the way: they fit in
// 64 bits.
constexpr long kReadDigits = 19;

// The number that starts at p; returns the character after it, null when there is no
// number of JSON's grammar there. Fills number as it goes: its digits are read while they
// are checked, so that the text of a number is gone over once. REQUIRES: eight bytes are
// readable at every character of the number and the one after it (a padded text).
// Always inline: called from the reader's loop for every number, where a call's saved
// registers and the spelling's round trip through memory cost as much as the reading.
__attribute__((always_inline)) inline char* ReadNumber(char* p, CNumberSpelling& number) {
    number.text = p;
    number.negative = *p == '-';
    p += number.negative ? 1 : 0;
    uint64_t digits = 0;
    uint64_t eight = 0;
    long significant = 0;  // digits from the first that is not zero
    if (*p == '0') {
        ++p;
    } else if (IsDigit(*p)) {
        const char* const first = p;
        while (EightDigits(p, eight)) {
            digits = digits * 100000000 + eight;
            p += 8;
        }
        for (; IsDigit(*p); ++p) {
            digits = digits * 10 + static_cast<unsigned>(*p - '0');
        }
        significant = p - first;
    } else {
        return nullptr;
    }
    long fraction = 0;
    bool integer = true;
    if (*p == '.') {
        integer = false;
        if (!IsDigit(*++p)) {
            return nullptr;
        }
        const char* const first = p;
        while (EightDigits(p, eight)) {
            digits = digits * 100000000 + eight;
            significant = significant == 0 ? SignificantDigits(eight) : significant + 8;
            p += 8;
        }
        for (; IsDigit(*p); ++p) {
            const unsigned digit = static_cast<unsigned>(*p - '0');
            digits = digits * 10 + digit;
            significant += significant != 0 || digit != 0 ? 1 : 0;
        }
        fraction = p - first;
    }
    long exponent = 0;
    long exponentDigits = 0;
    if (*p == 'e' || *p == 'E') {
        integer = false;
        ++p;
        const bool negative = *p == '-';
        if (*p == '+' || *p == '-') {
            ++p;
        }
        if (!IsDigit(*p)) {
            return nullptr;
        }
        const char* const first = p;
        for (; IsDigit(*p); ++p) {
            exponent = p - first < 3 ? exponent * 10 + (*p - '0') : exponent;
        }
        exponentDigits = p - first;
        exponent = negative ? -exponent : exponent;
    }
    number.length = static_cast<size_t>(p - number.text);
    number.digits = digits;
    number.significant = static_cast<int>(significant <= kReadDigits ? significant : kReadDigits + 1);
    number.scale = exponent - fraction;
    number.integer = integer;
    number.read = significant <= kReadDigits && exponentDigits <= 3;
    number.longSpelling = exponentDigits >= 3 || number.length >= 300;
    return p;
}

inline char* SkipWhitespace(char* p) {
    while (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t') {
        ++p;
    }
    return p;
}

}  // namespace json_events

// Reads the zero-terminated `text` (changed in place; at least eight readable bytes follow
// its terminator, as numbers are read eight digits at a time) and calls the handler's events in
// the text's order:
//   bool Null(); bool Bool(bool); bool Number(const CNumberSpelling&);
//   bool String(char* text, size_t length); bool Key(char* text, size_t length);
//   bool StartObject(); bool EndObject(); bool StartArray(); bool EndArray();
//   size_t KeyAhead(const char* key);
// KeyAhead sees a key before it is read, at the character after its opening quote: a
// handler that expects a key of plain characters (no quote, backslash or control
// character) there and finds it, followed by its closing quote, takes it as its Key event
// and returns its length plus one for the quote; otherwise 0, and the key is read and
// given to Key.
// An event that returns false stops the reading. `open` is the stack of open containers
// (a std::vector<char> or alike, reused from call to call); its growth may throw, which
// leaves this function.
template <typename Handler, typename Stack>
EJsonEvents ReadJsonEvents(char* text, Stack& open, Handler& handler) {
    using namespace json_events;
    open.clear();
    char* p = text;
    char* begin = nullptr;
    char* end = nullptr;
value:
    p = SkipWhitespace(p);
    switch (*p) {
        case '{':
            if (!handler.StartObject()) {
                return EJsonEvents::kStopped;
            }
            p = SkipWhitespace(p + 1);
            if (*p == '}') {
                ++p;
                if (!handler.EndObject()) {
                    return EJsonEvents::kStopped;
                }
                goto after;
            }
            open.push_back('{');
            goto key;
        case '[':
            if (!handler.StartArray()) {
                return EJsonEvents::kStopped;
            }
            p = SkipWhitespace(p + 1);
            if (*p == ']') {
                ++p;
                if (!handler.EndArray()) {
                    return EJsonEvents::kStopped;
                }
                goto after;
            }
            open.push_back('[');
            goto value;
        case '"':
            p = ReadString(p + 1, begin, end);
            if (p == nullptr) {
                return EJsonEvents::kRefused;
            }
            if (!handler.String(begin, static_cast<size_t>(end - begin))) {
                return EJsonEvents::kStopped;
            }
            goto after;
        case 't':
            if (p[1] != 'r' || p[2] != 'u' || p[3] != 'e') {
                return EJsonEvents::kRefused;
            }
            p += 4;
            if (!handler.Bool(true)) {
                return EJsonEvents::kStopped;
            }
            goto after;
        case 'f':
            if (p[1] != 'a' || p[2] != 'l' || p[3] != 's' || p[4] != 'e') {
                return EJsonEvents::kRefused;
            }
            p += 5;
            if (!handler.Bool(false)) {
                return EJsonEvents::kStopped;
            }
            goto after;
        case 'n':
            if (p[1] != 'u' || p[2] != 'l' || p[3] != 'l') {
                return EJsonEvents::kRefused;
            }
            p += 4;
            if (!handler.Null()) {
                return EJsonEvents::kStopped;
            }
            goto after;
        default: {
            CNumberSpelling number;
            p = ReadNumber(p, number);
            if (p == nullptr) {
                return EJsonEvents::kRefused;
            }
            if (!handler.Number(number)) {
                return EJsonEvents::kStopped;
            }
            goto after;
        }
    }
key:
    // p stands on the first character of a member after the object's '{' or a ','.
    if (*p != '"') {
        return EJsonEvents::kRefused;
    }
    if (const size_t taken = handler.KeyAhead(p + 1)) {
        // The key the handler expected, with its closing quote: taken without being read.
        p = SkipWhitespace(p + 1 + taken);
        if (*p != ':') {
            return EJsonEvents::kRefused;
        }
        ++p;
        goto value;
    }
    p = ReadString(p + 1, begin, end);
    if (p == nullptr) {
        return EJsonEvents::kRefused;
    }
    if (!handler.Key(begin, static_cast<size_t>(end - begin))) {
        return EJsonEvents::kStopped;
    }
    p = SkipWhitespace(p);
    if (*p != ':') {
        return EJsonEvents::kRefused;
    }
    ++p;
    goto value;
after:
    // A value ended: what follows it depends on the container it stands in.
    p = SkipWhitespace(p);
    if (open.empty()) {
        return *p == '\0' ? EJsonEvents::kParsed : EJsonEvents::kRefused;
    }
    if (open.back() == '{') {
        if (*p == ',') {
            p = SkipWhitespace(p + 1);
            goto key;
        }
        if (*p != '}') {
            return EJsonEvents::kRefused;
        }
        ++p;
        open.pop_back();
        if (!handler.EndObject()) {
            return EJsonEvents::kStopped;
        }
        goto after;
    }
    if (*p == ',') {
        ++p;
        goto value;
    }
    if (*p != ']') {
        return EJsonEvents::kRefused;
    }
    ++p;
    open.pop_back();
    if (!handler.EndArray()) {
        return EJsonEvents::kStopped;
    }
    goto after;
}

#endif  // JSON_JSONEVENTS_H
