// Lookup of a value inside a JSON document by a JSON Pointer (RFC 6901), in its
// string form: "" is the whole document, "/a/0/b" member "b" of element 0 of member
// "a"; in a reference token "~1" stands for '/' and "~0" for '~'.
//
// - A member is found by its name compared byte for byte (escapes decoded); of several
//   members with one name the first counts.
// - An array element is named by a decimal index without leading zeros ("0", "17");
//   "-" (the element after the last), a sign, leading zeros or an index beyond the
//   array find nothing.
// - A path that does not start with '/' (other than ""), a '~' followed by anything but
//   '0' or '1', or a token that leads into a scalar finds nothing. The URI fragment form
//   ("#/a") is not taken: it is malformed here.
//
// The walk is iterative and allocates nothing. Stateless and reentrant.
#ifndef JSON_JSONPOINTER_H
#define JSON_JSONPOINTER_H

#include <rapidjson/document.h>

#include "json/JsonMemory.h"

// The value `path` names inside `root`; null when it names none or path is null.
const CJsonValue* FindByPointer(const CJsonValue& root, const char* path);

#endif  // JSON_JSONPOINTER_H
