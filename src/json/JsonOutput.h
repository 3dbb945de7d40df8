// The one way a JSON value held by the component becomes text (writer documents,
// variables and schemas in them, the reader's raw texts): the bytes RapidJSON's Writer
// writes with write flags 0, compact, members in document order, or those of its
// PrettyWriter indented by two spaces, written by one walk of the component's own.
//
// What differs from handing the value to RapidJSON's writers:
// - a double that is NaN or infinite is written as null and the rest of the value
//   follows, where those writers would stop in the middle and leave invalid JSON;
// - every string (member names and values) leaves as UTF-8: valid UTF-8 passes
//   unchanged, any other byte is read as a Windows-1252 character (the five bytes that
//   code page leaves undefined become U+FFFD), so the text is always valid JSON;
// - doubles may be rounded to a number of decimal places (JsonOutputOptions), and
//   written in their shortest decimal (JsonOutputOptions::shortestDecimals); the number
//   texts are those of json/NumberText.h;
// - the walk keeps its own stack instead of recursing, so the depth of the value
//   never decides the depth of the call stack.
//
// Stateless; the caller owns the value and the buffer and must keep the value from
// changing while it is written (a writer document: hold its instance's lock).
#ifndef JSON_JSONOUTPUT_H
#define JSON_JSONOUTPUT_H

#include <rapidjson/document.h>

#include <cstddef>
#include <string>
#include <vector>

#include "json/JsonMemory.h"
#include "json/NumberText.h"

// Memory the serialiser reuses from one text to the next: its stack of open containers,
// the copy of a string whose bytes are repaired and the window through which a text goes
// into a caller's buffer. Belongs to one caller at a time.
struct CJsonOutputScratch {
    CJsonOutputScratch() = default;
    CJsonOutputScratch(const CJsonOutputScratch&) = delete;
    CJsonOutputScratch& operator=(const CJsonOutputScratch&) = delete;

    struct OpenContainer {
        const CJsonValue* value;
        rapidjson::SizeType next;  // index of its next member or element
    };
    std::vector<OpenContainer> open;
    std::string repaired;
    std::vector<char> window;
};

struct JsonOutputOptions {
    // Every double is rounded to nearest, halves away from zero, at this many digits
    // after the point, then written in the shortest form that reads back as the rounded
    // value. 0 to kDefaultDecimalPlaces; the default rounds nothing.
    int maxDecimalPlaces = kDefaultDecimalPlaces;
    // Strings leave as valid UTF-8. False writes their bytes as they are; only for
    // measuring what the check costs, never for a text that leaves the component.
    bool repairUtf8 = true;
    // Every double is written from its shortest decimal (the fewest digits that read
    // back as the same double), laid out as RapidJSON lays out its own (2.0, 0.1, 1e21,
    // 1e-7), and decimal places round that decimal, halves away from zero. RapidJSON's
    // own digits are shortest for almost every double but not all (0.12517789 gives
    // 0.12517789000000002), and a REAL's shortest decimal held as a double must come out
    // as that decimal. False: RapidJSON's digits, rounded from the double's exact value.
    bool shortestDecimals = false;
    // Two spaces per level, one member or element per line, "key": value; empty
    // containers stay {} and []. False: compact.
    bool pretty = false;
};

// Appends the text of `value` to `buffer`, with memory reused from `scratch`: nothing is
// taken from the heap when the buffer and the scratch are large enough already. Throws
// CMemoryRefused when the buffer reaches its limit.
void SerializeDocument(const CJsonValue& value, CTextBuffer& buffer, const JsonOutputOptions& options,
                       CJsonOutputScratch& scratch);
// The compact text of `value` (default options) into `buffer` of `size` bytes with its
// terminator when it fits; otherwise nothing is written. Returns the text's length.
size_t SerializeInto(const CJsonValue& value, char* buffer, size_t size, CJsonOutputScratch& scratch);
// The text of `value` as a string, in memory of its own (for tools and tests).
std::string JsonText(const CJsonValue& value, const JsonOutputOptions& options = JsonOutputOptions());

#endif  // JSON_JSONOUTPUT_H
