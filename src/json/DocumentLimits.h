// Limits shared by every JSON document the component keeps for a function block
// instance (a writer's document, a reader's parsed text).
#ifndef JSON_DOCUMENTLIMITS_H
#define JSON_DOCUMENTLIMITS_H

#include <cstddef>

#ifndef ZENTRIK_DOCUMENT_MEMORY_CAP
#define ZENTRIK_DOCUMENT_MEMORY_CAP (256u * 1024u * 1024u)
#endif

// Bytes one document may hold at most. A cyclic task that adds without ever resetting
// must not take the controller's memory: an add or a parse beyond this is refused.
// Set at build time with the CMake cache variable ZENTRIK_DOCUMENT_MEMORY_CAP.
constexpr size_t kDocumentMemoryCap = static_cast<size_t>(ZENTRIK_DOCUMENT_MEMORY_CAP);

#endif  // JSON_DOCUMENTLIMITS_H
