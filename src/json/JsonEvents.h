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
// which the caller keeps until it is done with them. Numbers arrive as their text, marked
// when their spelling is long (an exponent of three digits or more, or 300 characters or
// more): only such a number can lie beyond the range of doubles.
//
// Stateless and reentrant; runs on the calling thread.
#ifndef JSON_JSONEVENTS_H
#define JSON_JSONEVENTS_H

#include <rapidjson/encodings.h>

#include <cstddef>
#include <cstdint>

enum class EJsonEvents {
    kParsed,   // the whole text is one JSON value and every event was taken
    kRefused,  // the text is no JSON text; the events up to the fault were delivered
    kStopped   // a handler's event returned false
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
// when the string is no JSON string.
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

// The number that starts at p; returns the character after it, null when there is no
// number of JSON's grammar there. exponentDigits receives the digits of its exponent.
inline char* ReadNumber(char* p, size_t& exponentDigits) {
    exponentDigits = 0;
    if (*p == '-') {
        ++p;
    }
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
        if (*p == '+' || *p == '-') {
            ++p;
        }
        if (!IsDigit(*p)) {
            return nullptr;
        }
        char* const digits = p;
        while (IsDigit(*++p)) {
        }
        exponentDigits = static_cast<size_t>(p - digits);
    }
    return p;
}

inline char* SkipWhitespace(char* p) {
    while (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t') {
        ++p;
    }
    return p;
}

}  // namespace json_events

// Reads the zero-terminated `text` (changed in place) and calls the handler's events in
// the text's order:
//   bool Null(); bool Bool(bool); bool Number(const char* text, size_t length, bool longSpelling);
//   bool String(char* text, size_t length); bool Key(char* text, size_t length);
//   bool StartObject(); bool EndObject(); bool StartArray(); bool EndArray();
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
            char* const number = p;
            size_t exponentDigits = 0;
            p = ReadNumber(p, exponentDigits);
            if (p == nullptr) {
                return EJsonEvents::kRefused;
            }
            const size_t length = static_cast<size_t>(p - number);
            if (!handler.Number(number, length, exponentDigits >= 3 || length >= 300)) {
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
