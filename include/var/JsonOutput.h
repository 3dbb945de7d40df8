// The one way a JSON value held by the component becomes text: RapidJSON's Writer
// over a StringBuffer, write flags 0, compact, members in document order, the
// default maximum of 324 decimal places.
//
// Two things differ from handing the value to Writer through Value::Accept:
// - a double that is NaN or infinite is written as null and the rest of the value
//   follows, where the bare Writer would stop in the middle and leave invalid JSON;
// - the walk keeps its own stack instead of recursing, so the depth of the value
//   (nested structures and arrays of application variables) never decides the
//   depth of the call stack.
//
// Stateless; the caller owns the value and the buffer and must keep the value from
// changing while it is written (the writer documents: hold dom_mtx).
#ifndef VAR_JSONOUTPUT_H
#define VAR_JSONOUTPUT_H

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>

// Appends the compact text of `value` to `buffer`. The buffer's text stays
// terminated (StringBuffer::GetString) and GetSize() counts its bytes.
void SerializeDocument(const rapidjson::Value& value, rapidjson::StringBuffer& buffer);

#endif  // VAR_JSONOUTPUT_H
