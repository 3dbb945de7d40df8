// The one way a JSON value held by the component becomes text: the bytes RapidJSON's
// Writer writes with write flags 0, compact, members in document order. Into a
// StringBuffer, and indented text, through RapidJSON's writers; compact text into the
// component's text buffer through a writer of the same bytes without their stack of
// levels (the walk below knows each value's place).
//
// What differs from handing the value to Writer through Value::Accept:
// - a double that is NaN or infinite is written as null and the rest of the value
//   follows, where the bare Writer would stop in the middle and leave invalid JSON;
// - every string (member names and values) leaves as UTF-8: valid UTF-8 passes
//   unchanged, any other byte is read as a Windows-1252 character (the five bytes that
//   code page leaves undefined become U+FFFD), so the text is always valid JSON;
// - doubles may be rounded to a number of decimal places (JsonOutputOptions), and
//   written in their shortest decimal (JsonOutputOptions::shortestDecimals);
// - the text may be indented (JsonOutputOptions::pretty);
// - the walk keeps its own stack instead of recursing, so the depth of the value
//   never decides the depth of the call stack.
//
// Stateless; the caller owns the value and the buffer and must keep the value from
// changing while it is written (a writer document: hold its instance's lock).
#ifndef JSON_JSONOUTPUT_H
#define JSON_JSONOUTPUT_H

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>

#include <cstddef>
#include <string>
#include <vector>

#include "json/JsonMemory.h"

// Decimal places that leave every double in its shortest round-trip form (RapidJSON's
// own default): no double needs more places to be told apart from its neighbours.
constexpr int kDefaultDecimalPlaces = 324;

// Memory the serialiser reuses from one text to the next: its stack of open containers,
// RapidJSON's writers' stack of levels and the copy of a string whose bytes are repaired.
// Belongs to one caller at a time.
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
    CRetainedBlock levels;
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

// Appends the compact text of `value` to `buffer`. The buffer's text stays
// terminated (StringBuffer::GetString) and GetSize() counts its bytes.
void SerializeDocument(const CJsonValue& value, rapidjson::StringBuffer& buffer);
void SerializeDocument(const CJsonValue& value, rapidjson::StringBuffer& buffer,
                       const JsonOutputOptions& options);
// The same into a component text buffer, with memory reused from `scratch`: nothing is
// taken from the heap when the buffer and the scratch are large enough already.
void SerializeDocument(const CJsonValue& value, CTextBuffer& buffer, const JsonOutputOptions& options,
                       CJsonOutputScratch& scratch);
// The compact text of `value` (default options) into `buffer` of `size` bytes with its
// terminator when it fits; otherwise nothing is written. Returns the text's length.
size_t SerializeInto(const CJsonValue& value, char* buffer, size_t size, CJsonOutputScratch& scratch);

// `value` rounded to `places` digits after the point, to nearest, halves away from zero,
// by its exact decimal value (1.005 is a little below 1.005 and gives 1.0 at 2 places).
// Non-finite values, and every value for places >= kDefaultDecimalPlaces, come back
// as they are; a value that rounds to zero gives +0.0.
double RoundToDecimalPlaces(double value, int places);

// The same for `value`'s shortest decimal: rounded to nearest, halves away from zero, as
// a decimal (0.345 gives 0.35 at 2 places although the double 0.345 lies below it).
double RoundShortestToDecimalPlaces(double value, int places);

// The shortest decimal of a finite double in RapidJSON's layout, into out (at least 32
// bytes); returns its length.
size_t WriteShortestDouble(double value, char* out);

#endif  // JSON_JSONOUTPUT_H
