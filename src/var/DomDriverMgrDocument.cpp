// Writer documents: reset, and the text output of a document (whole text into a
// STRING(255), its length, or a copy into the caller's buffer). The text is written
// once per change of the document and read under the instance's own lock only.
#include <algorithm>
#include <cstring>

#include "frame/HostImports.h"
#include "var/DomDriverMgr.h"

bool CDomDriverMgr::resetDocument(fb_jsonsaxwriter_struct* p) {
    writers_.With(p, true, [](CJsonWriter& writer) { writer.Reset(); });
    return true;
}

bool CDomDriverMgr::getDocument(fb_jsonsaxwriter_getdocument_struct* p) {
    bool read = false;
    writers_.With(p->pInstance, false, [p, &read](CJsonWriter& writer) {
        read = writer.Read([p](const char* text, size_t length) {
            // The field is a STRING(255): a longer text is cut to its first 255 bytes so
            // the field always stays terminated.
            const size_t count = std::min(length, sizeof(p->GetDocument) - 1);
            std::memcpy(p->GetDocument, text, count);
            p->GetDocument[count] = '\0';
        });
    });
    if (!read) {
        LogRefusedCall("The JSON object does not exist.");
    }
    return read;
}

bool CDomDriverMgr::getDocumentLength(fb_jsonsaxwriter_struct* p, size_t& length) {
    bool read = false;
    writers_.With(p, false, [&length, &read](CJsonWriter& writer) {
        read = writer.Read([&length](const char*, size_t size) { length = size; });
    });
    if (!read) {
        LogRefusedCall("The JSON object does not exist.");
    }
    return read;
}

bool CDomDriverMgr::copyDocument(fb_jsonsaxwriter_copydocument_struct* p) {
    if (p->pDoc == nullptr && p->nDoc > 0) {
        LogRefusedCall("Invalid argument");
        return false;
    }
    bool read = false;
    writers_.With(p->pInstance, false, [p, &read](CJsonWriter& writer) {
        read = writer.Read([p](const char* text, size_t length) {
            // The text holds its bytes and a terminator; nothing beyond them is read,
            // whatever size the caller gives for its buffer.
            const size_t count = std::min<size_t>(p->nDoc, length + 1);
            if (count > 0) {
                std::memcpy(p->pDoc, text, count);
            }
        });
    });
    if (!read) {
        LogRefusedCall("The JSON object does not exist.");
    }
    return read;
}
