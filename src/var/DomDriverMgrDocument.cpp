// Writer documents: reset, and the text output of a document (whole text into a
// STRING(255), its length, or a copy into the caller's buffer). Also the one
// serialiser every JSON text of the component goes through.
#include <rapidjson/writer.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "RV5072_Zentrik/HostImports.h"
#include "var/DomDriverMgr.h"
#include "var/JsonOutput.h"

namespace {

typedef rapidjson::Writer<rapidjson::StringBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>,
                          rapidjson::CrtAllocator, rapidjson::kWriteNoFlags>
    TextWriter;

// A container being written and the index of its next member or element.
struct OpenContainer {
    const rapidjson::Value* value;
    rapidjson::SizeType next;
};

// Writes a scalar, or opens a container and pushes it so the loop below writes its
// contents. Numbers take the same branch order as Value::Accept.
void WriteOrOpen(const rapidjson::Value& value, TextWriter& writer, std::vector<OpenContainer>& open) {
    switch (value.GetType()) {
        case rapidjson::kNullType:
            writer.Null();
            break;
        case rapidjson::kFalseType:
            writer.Bool(false);
            break;
        case rapidjson::kTrueType:
            writer.Bool(true);
            break;
        case rapidjson::kObjectType:
            writer.StartObject();
            open.push_back(OpenContainer{&value, 0});
            break;
        case rapidjson::kArrayType:
            writer.StartArray();
            open.push_back(OpenContainer{&value, 0});
            break;
        case rapidjson::kStringType:
            writer.String(value.GetString(), value.GetStringLength());
            break;
        case rapidjson::kNumberType:
            if (value.IsDouble()) {
                // Write flags 0 have no form for NaN and the infinities; the writer would
                // stop here and leave a cut text. null keeps the document valid.
                if (std::isfinite(value.GetDouble())) {
                    writer.Double(value.GetDouble());
                } else {
                    writer.Null();
                }
            } else if (value.IsInt()) {
                writer.Int(value.GetInt());
            } else if (value.IsUint()) {
                writer.Uint(value.GetUint());
            } else if (value.IsInt64()) {
                writer.Int64(value.GetInt64());
            } else {
                writer.Uint64(value.GetUint64());
            }
            break;
    }
}

// Writes the text of the instance's document into `buffer`, under dom_mtx. False
// when the instance has no document. The caller logs after this returns, so that no
// log call happens while the lock is held.
bool SerializeInstanceDocument(CDomDriverMgr& manager, fb_jsonsaxwriter_struct* instance,
                               rapidjson::StringBuffer& buffer) {
    std::lock_guard<std::mutex> lock(manager.dom_mtx);
    CDomDriverMgr::fb_zentriks::const_iterator entry = manager.map_zentrik_.find(instance);
    if (entry == manager.map_zentrik_.end()) {
        return false;
    }
    SerializeDocument(*entry->second, buffer);
    return true;
}

}  // namespace

void SerializeDocument(const rapidjson::Value& value, rapidjson::StringBuffer& buffer) {
    TextWriter writer(buffer);
    std::vector<OpenContainer> open;
    WriteOrOpen(value, writer, open);
    while (!open.empty()) {
        OpenContainer& top = open.back();
        const rapidjson::Value& container = *top.value;
        if (container.IsObject()) {
            if (top.next < container.MemberCount()) {
                const rapidjson::Value::Member& member = container.MemberBegin()[top.next++];
                writer.Key(member.name.GetString(), member.name.GetStringLength());
                WriteOrOpen(member.value, writer, open);  // may invalidate `top`
            } else {
                writer.EndObject(container.MemberCount());
                open.pop_back();
            }
        } else {
            if (top.next < container.Size()) {
                const rapidjson::Value& element = container[top.next++];
                WriteOrOpen(element, writer, open);  // may invalidate `top`
            } else {
                writer.EndArray(container.Size());
                open.pop_back();
            }
        }
    }
}

bool CDomDriverMgr::resetDocument(fb_jsonsaxwriter_struct* p) {
    // Build the new document before taking the lock and free the old one after
    // releasing it, so the lock covers only the exchange.
    std::unique_ptr<rapidjson::Document> document(new rapidjson::Document());
    document->SetObject();
    {
        std::lock_guard<std::mutex> lock(dom_mtx);
        map_zentrik_[p].swap(document);
    }
    return true;
}

bool CDomDriverMgr::getDocument(fb_jsonsaxwriter_getdocument_struct* p) {
    rapidjson::StringBuffer buffer;
    if (!SerializeInstanceDocument(*this, p->pInstance, buffer)) {
        LogRefusedCall("The JSON object does not exist.");
        return false;
    }
    // The field is a STRING(255): a longer text is cut to its first 255 bytes so the
    // field always stays terminated.
    const size_t count = std::min(buffer.GetSize(), sizeof(p->GetDocument) - 1);
    std::memcpy(p->GetDocument, buffer.GetString(), count);
    p->GetDocument[count] = '\0';
    return true;
}

bool CDomDriverMgr::getDocumentLength(fb_jsonsaxwriter_struct* p, size_t& length) {
    rapidjson::StringBuffer buffer;
    if (!SerializeInstanceDocument(*this, p, buffer)) {
        LogRefusedCall("The JSON object does not exist.");
        return false;
    }
    length = buffer.GetSize();
    return true;
}

bool CDomDriverMgr::copyDocument(fb_jsonsaxwriter_copydocument_struct* p) {
    if (p->pDoc == nullptr && p->nDoc > 0) {
        LogRefusedCall("Invalid argument");
        return false;
    }
    rapidjson::StringBuffer buffer;
    if (!SerializeInstanceDocument(*this, p->pInstance, buffer)) {
        LogRefusedCall("The JSON object does not exist.");
        return false;
    }
    // The text holds its bytes and a terminator; nothing beyond them is read, whatever
    // size the caller gives for its buffer.
    const size_t count = std::min<size_t>(p->nDoc, buffer.GetSize() + 1);
    if (count > 0) {
        std::memcpy(p->pDoc, buffer.GetString(), count);
    }
    return true;
}
