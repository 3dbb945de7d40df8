// The component's one reader of JSON text: a text read as a stream of events, in place.
// Every parse runs it: a caller that acts on each value as it passes (JSON to variable)
// takes the events itself; one that needs a document has them built into one
// (JsonParse.h).
//
// The grammar: strict RFC 8259 (no comments, no trailing commas, no NaN or Infinity, one
// root value and only whitespace after it), no lone surrogate in a \u escape, strings
// not checked for UTF-8, a number taken whatever its spelling as long as its value,
// rounded to a double, is finite (Numbers.h). Iterative: the open containers live in the
// caller's stack (on the heap), so a deeply nested text never deepens the calling task's
// stack. A text that is refused says where and why (CJsonFault), with the offsets and
// reasons RapidJSON's iterative reader gives for the same text, but where the grammar
// differs from that reader's: a number is judged by its value (RapidJSON refuses `0e400`
// for its spelling and takes `1.8e308`) and refused where its grammar fails (RapidJSON
// refuses a long one for its length first), and a lone low surrogate is refused.
//
// Strings are unescaped in place: a string's event receives its bytes inside the text,
// which the caller keeps until it is done with them. The byte after them tells whether
// the string held an escape (ReadString): only one that did can hold a zero byte.
// Numbers arrive as their text with their digits read on the way (CNumberSpelling).
//
// Stateless and reentrant; runs on the calling thread.
#ifndef JSON_JSONEVENTS_H
#define JSON_JSONEVENTS_H

#include <rapidjson/encodings.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "json/Numbers.h"

enum class EJsonEvents {
    kParsed,   // the whole text is one JSON value and every event was taken
    kRefused,  // the text is no JSON text (see the fault); the events up to it were delivered
    kStopped   // a handler's event returned false
};

// Why a text is no JSON text.
enum class EJsonFault : uint8_t {
    kNone,
    kDocumentEmpty,
    kRootNotSingular,
    kValueInvalid,
    kMissName,
    kMissColon,
    kMissCommaOrCurlyBracket,
    kMissCommaOrSquareBracket,
    kInvalidHex,
    kSurrogateInvalid,
    kEscapeInvalid,
    kMissQuotationMark,
    kNumberTooBig,
    kMissFraction,
    kMissExponent
};

// The reason of a fault in RapidJSON's English, as the reader's Parse and the report
// give it.
inline const char* JsonFaultText(EJsonFault fault) {
    switch (fault) {
        case EJsonFault::kNone:
            break;
        case EJsonFault::kDocumentEmpty:
            return "The document is empty.";
        case EJsonFault::kRootNotSingular:
            return "The document root must not be followed by other values.";
        case EJsonFault::kValueInvalid:
            return "Invalid value.";
        case EJsonFault::kMissName:
            return "Missing a name for object member.";
        case EJsonFault::kMissColon:
            return "Missing a colon after a name of object member.";
        case EJsonFault::kMissCommaOrCurlyBracket:
            return "Missing a comma or '}' after an object member.";
        case EJsonFault::kMissCommaOrSquareBracket:
            return "Missing a comma or ']' after an array element.";
        case EJsonFault::kInvalidHex:
            return "Incorrect hex digit after \\u escape in string.";
        case EJsonFault::kSurrogateInvalid:
            return "The surrogate pair in string is invalid.";
        case EJsonFault::kEscapeInvalid:
            return "Invalid escape character in string.";
        case EJsonFault::kMissQuotationMark:
            return "Missing a closing quotation mark in string.";
        case EJsonFault::kNumberTooBig:
            return "Number too big to be stored in double.";
        case EJsonFault::kMissFraction:
            return "Miss fraction part in number.";
        case EJsonFault::kMissExponent:
            return "Miss exponent in number.";
    }
    return "";
}

// What reading a text came to; for a refused text, the character the fault stands at
// and why. Sixteen bytes: returned in registers, so the reader's loop keeps no pointer to
// a place for its fault.
struct CJsonRead {
    EJsonEvents outcome;
    EJsonFault fault;
    const char* at;
};

// Events that do nothing: reading a text with them only checks that it is JSON.
struct CJsonCheckOnly {
    bool Null() { return true; }
    bool Bool(bool) { return true; }
    bool Number(const CNumberSpelling&) { return true; }
    bool String(char*, size_t) { return true; }
    bool Key(const char*, size_t) { return true; }
    size_t KeyAhead(const char*) { return 0; }
    bool StartObject() { return true; }
    bool EndObject() { return true; }
    bool StartArray() { return true; }
    bool EndArray() { return true; }
};

namespace json_events {

using json_numbers::IsDigit;

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
// when the string is no JSON string, with `end` at the character where it fails (the
// text from there on is as it was: StringFault tells why). *end is the closing quote when
// the string held no escape, a zero byte when it did (the bytes it was unescaped from are
// spent). A fault in an escape stands at its backslash (for a surrogate pair, at the
// first one's).
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
            end = p;  // the text ends inside the string, or a control character stands in it
            return nullptr;
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
                    end = p;  // no hex digits, or a low surrogate that follows no high one
                    return nullptr;
                }
                if (codepoint >= 0xD800 && codepoint <= 0xDBFF) {
                    // A high surrogate: a \u escape of a low one must follow.
                    const long low = p[6] == '\\' && p[7] == 'u' ? Hex4(p + 8) : -1;
                    if (low < 0xDC00 || low > 0xDFFF) {
                        end = p;
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
                end = p;
                return nullptr;
        }
        p += 2;
    }
}

inline char* SkipWhitespace(char* p) {
    while (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t') {
        ++p;
    }
    return p;
}

// The refusal of a text at `at`. Out of the reader's loop, as the helpers below: a
// refused text is rare.
__attribute__((noinline, cold)) inline CJsonRead Refused(const char* at, EJsonFault fault) {
    return CJsonRead{EJsonEvents::kRefused, fault, at};
}

// The refusal of a string that ReadString found no JSON string at `at`.
__attribute__((noinline, cold)) inline CJsonRead StringRefused(const char* at) {
    if (*at != '\\') {
        return Refused(at, *at == '\0' ? EJsonFault::kMissQuotationMark : EJsonFault::kEscapeInvalid);
    }
    if (at[1] != 'u') {
        return Refused(at, EJsonFault::kEscapeInvalid);
    }
    const long unit = Hex4(at + 2);
    if (unit < 0) {
        return Refused(at, EJsonFault::kInvalidHex);
    }
    const bool highThenEscape = unit >= 0xD800 && unit <= 0xDBFF && at[6] == '\\' && at[7] == 'u';
    return Refused(
        at, highThenEscape && Hex4(at + 8) < 0 ? EJsonFault::kInvalidHex : EJsonFault::kSurrogateInvalid);
}

// The refusal of a literal that starts at p and is not `literal`: at the first character
// that differs.
__attribute__((noinline, cold)) inline CJsonRead LiteralRefused(const char* p, const char* literal) {
    size_t i = 1;
    while (literal[i] != '\0' && p[i] == literal[i]) {
        ++i;
    }
    return Refused(p + i, EJsonFault::kValueInvalid);
}

// The refusal of a value that starts at p and is none: at the root, a text that holds
// nothing there (its end, or a bracket, comma or colon) is empty; a number that fails its
// grammar fails where it does; anything else is no value.
__attribute__((noinline, cold)) inline CJsonRead ValueRefused(const char* p, bool root) {
    const char c = *p;
    if (root && (c == '\0' || c == ']' || c == '}' || c == ',' || c == ':')) {
        return Refused(p, EJsonFault::kDocumentEmpty);
    }
    json_numbers::ENumberFault why = json_numbers::ENumberFault::kNoDigit;
    const char* at = json_numbers::NumberFaultAt(p, why);
    return Refused(at, why == json_numbers::ENumberFault::kNoFraction   ? EJsonFault::kMissFraction
                       : why == json_numbers::ENumberFault::kNoExponent ? EJsonFault::kMissExponent
                                                                        : EJsonFault::kValueInvalid);
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
// (a std::vector<char> or alike, reused from call to call): each container's '{' or '['
// is pushed right after its Start event and popped right after its End event, so a
// handler may keep what it needs of a container beside it. Its growth may throw, which
// leaves this function.
template <typename Handler, typename Stack>
CJsonRead ReadJsonEvents(char* text, Stack& open, Handler& handler) {
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
                return CJsonRead{EJsonEvents::kStopped, EJsonFault::kNone, p};
            }
            open.push_back('{');
            p = SkipWhitespace(p + 1);
            if (*p == '}') {
                ++p;
                goto endObject;
            }
            goto key;
        case '[':
            if (!handler.StartArray()) {
                return CJsonRead{EJsonEvents::kStopped, EJsonFault::kNone, p};
            }
            open.push_back('[');
            p = SkipWhitespace(p + 1);
            if (*p == ']') {
                ++p;
                goto endArray;
            }
            goto value;
        case '"':
            p = ReadString(p + 1, begin, end);
            if (p == nullptr) {
                return StringRefused(end);
            }
            if (!handler.String(begin, static_cast<size_t>(end - begin))) {
                return CJsonRead{EJsonEvents::kStopped, EJsonFault::kNone, p};
            }
            goto after;
        case 't':
            if (p[1] != 'r' || p[2] != 'u' || p[3] != 'e') {
                return LiteralRefused(p, "true");
            }
            p += 4;
            if (!handler.Bool(true)) {
                return CJsonRead{EJsonEvents::kStopped, EJsonFault::kNone, p};
            }
            goto after;
        case 'f':
            if (p[1] != 'a' || p[2] != 'l' || p[3] != 's' || p[4] != 'e') {
                return LiteralRefused(p, "false");
            }
            p += 5;
            if (!handler.Bool(false)) {
                return CJsonRead{EJsonEvents::kStopped, EJsonFault::kNone, p};
            }
            goto after;
        case 'n':
            if (p[1] != 'u' || p[2] != 'l' || p[3] != 'l') {
                return LiteralRefused(p, "null");
            }
            p += 4;
            if (!handler.Null()) {
                return CJsonRead{EJsonEvents::kStopped, EJsonFault::kNone, p};
            }
            goto after;
        default: {
            CNumberSpelling number;
            char* const start = p;
            p = ReadNumber(p, number);
            if (p == nullptr) {
                return ValueRefused(start, open.empty());
            }
            if (BeyondDoubles(number)) {
                return Refused(start, EJsonFault::kNumberTooBig);
            }
            if (!handler.Number(number)) {
                return CJsonRead{EJsonEvents::kStopped, EJsonFault::kNone, p};
            }
            goto after;
        }
    }
key:
    // p stands on the first character of a member after the object's '{' or a ','.
    if (*p != '"') {
        return Refused(p, EJsonFault::kMissName);
    }
    if (const size_t taken = handler.KeyAhead(p + 1)) {
        // The key the handler expected, with its closing quote: taken without being read.
        p = SkipWhitespace(p + 1 + taken);
    } else {
        p = ReadString(p + 1, begin, end);
        if (p == nullptr) {
            return StringRefused(end);
        }
        if (!handler.Key(begin, static_cast<size_t>(end - begin))) {
            return CJsonRead{EJsonEvents::kStopped, EJsonFault::kNone, p};
        }
        p = SkipWhitespace(p);
    }
    if (*p != ':') {
        return Refused(p, EJsonFault::kMissColon);
    }
    ++p;
    goto value;
after:
    // A value ended: what follows it depends on the container it stands in.
    p = SkipWhitespace(p);
    if (open.empty()) {
        if (*p != '\0') {
            return Refused(p, EJsonFault::kRootNotSingular);
        }
        return CJsonRead{EJsonEvents::kParsed, EJsonFault::kNone, p};
    }
    if (open.back() == '{') {
        if (*p == ',') {
            p = SkipWhitespace(p + 1);
            goto key;
        }
        if (*p != '}') {
            return Refused(p, EJsonFault::kMissCommaOrCurlyBracket);
        }
        ++p;
        goto endObject;
    }
    if (*p == ',') {
        ++p;
        goto value;
    }
    if (*p != ']') {
        return Refused(p, EJsonFault::kMissCommaOrSquareBracket);
    }
    ++p;
endArray:
    if (!handler.EndArray()) {
        return CJsonRead{EJsonEvents::kStopped, EJsonFault::kNone, p};
    }
    open.pop_back();
    goto after;
endObject:
    if (!handler.EndObject()) {
        return CJsonRead{EJsonEvents::kStopped, EJsonFault::kNone, p};
    }
    open.pop_back();
    goto after;
}

#endif  // JSON_JSONEVENTS_H
