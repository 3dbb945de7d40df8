// The reads of the reader block: a value found by its path in an instance's parsed
// document, given out into the caller's record fields and buffers. Stateless; runs on
// the calling task without a lock (a parsed document never changes). The caller checks
// the buffer arguments and logs refusals.
#ifndef READER_READERREADS_H
#define READER_READERREADS_H

#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "json/JsonMemory.h"
#include "json/JsonParse.h"
#include "reader/JsonReader.h"

// Bytes of the parse record's sError.
constexpr size_t kReaderErrorField = 256;

// The value at path (JSON Pointer) in document; null when there is no document or no
// such value. The document keeps the value alive.
const CJsonValue* FindInDocument(const CDocumentRef& document, const char* path);

// A length as a UDINT output, at most UINT32_MAX.
uint32_t ClampedLength(size_t length);

// The parse's outcome into the record: offset 0 and "" on success, else where and why
// (cut to fit error's kReaderErrorField bytes).
void StoreParseOutcome(bool parsed, const CJsonParseError& failure, uint32_t& errorOffset, char* error);

// The string value (or member name) into buffer of size bytes as CopyStringOut does,
// length its whole length. Not a string (or null): an empty buffer, length 0, false.
bool ReadString(const CJsonValue* value, char* buffer, uint32_t size, uint32_t& length);

// The name of member index of object; null when object is no object or has no such member.
const CJsonValue* MemberName(const CJsonValue* object, uint32_t index);

// The value's compact text into buffer, all or nothing (a cut JSON text is no JSON text);
// length the text's whole length. Null: an empty buffer, length 0, false.
bool ReadRaw(const CJsonValue* value, char* buffer, uint32_t size, uint32_t& length);

#endif  // READER_READERREADS_H
