// UTF-8 in the component: every check, repair, cut and conversion of text that is meant
// to be UTF-8 but may not be (JSON strings are not checked by the parser, and STRING
// memory holds whatever the application put there).
//
// One policy for bytes that are not UTF-8 on their way out as text: each is read as a
// Windows-1252 character (RepairUtf8), so a text that leaves the component is always
// valid. Into WSTRING memory, a byte that starts no valid sequence becomes U+FFFD.
//
// Stateless; any thread.
#ifndef JSON_UTF8_H
#define JSON_UTF8_H

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint32_t kReplacementCharacter = 0xFFFD;

// True when the `length` bytes at `text` are valid UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF).
bool IsValidUtf8(const char* text, size_t length);

// Appends `text` to `out` with every byte that is not part of valid UTF-8 replaced by
// its Windows-1252 character in UTF-8 (U+FFFD for 0x81, 0x8D, 0x8F, 0x90, 0x9D).
void RepairUtf8(const char* text, size_t length, std::string& out);

// How many of the first `length` bytes of UTF-8 `text` fit into `room` bytes without
// splitting a character: the cut moves back to the start of a character that would
// not fit whole. Bytes that are not well-formed UTF-8 are cut where they fall.
size_t FitUtf8(const char* text, size_t length, size_t room);

// Appends the UTF-8 form of a code point (at most U+10FFFF, no surrogate).
void AppendUtf8(uint32_t codePoint, std::string& out);

// Decodes the character at text[pos] (length bytes in all) and moves pos past it. A
// byte that does not start a complete, shortest-form sequence of a scalar value gives
// U+FFFD and is passed alone.
uint32_t DecodeUtf8(const unsigned char* text, size_t length, size_t& pos);

// UTF-16 code units in native order (WSTRING memory of `size` bytes) to UTF-8, appended
// to `out`: up to the first zero unit or the last whole unit; an unpaired surrogate
// gives U+FFFD.
void Utf16ToUtf8(const void* units, uint32_t size, std::string& out);

// UTF-8 text into WSTRING memory of `size` bytes: at most size/2 - 1 code units, a
// surrogate pair never split, then a zero unit. Returns the code units written; `cut`
// tells whether some of the text did not fit. REQUIRES: size >= 2.
size_t Utf8ToUtf16(const char* text, size_t length, void* units, uint32_t size, bool& cut);

#endif  // JSON_UTF8_H
