// Test support for the datatype block: hand-built variable trees over test-owned
// memory, writer documents made the way a reset makes them, and calls through the
// block's external functions with real parameter records.
#ifndef TESTS_SUPPORT_DATATYPESUPPORT_H
#define TESTS_SUPPORT_DATATYPESUPPORT_H

#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "support/ComponentFixture.h"
#include "support/WriterCalls.h"
#include "var/Variable.h"

typedef std::shared_ptr<CVariable> VarPtr;
typedef std::vector<unsigned char> ByteVector;

// Memory images of application values, little-endian like the controller.
ByteVector Bytes(std::initializer_list<int> bytes);
ByteVector Units(std::initializer_list<uint16_t> utf16);  // WSTRING code units
template <typename T>
ByteVector BytesOf(T value) {
    ByteVector bytes(sizeof(T));
    std::memcpy(bytes.data(), &value, sizeof(T));
    return bytes;
}
// "0A FF ..." for readable comparisons of memory.
std::string Hex(const unsigned char* bytes, size_t size);

// A node of the given class over size bytes at addr, with children in order.
VarPtr MakeVar(TypeClass3 type, uint32_t size, void* addr, const std::string& name,
               const std::vector<VarPtr>& children = {});

// Puts the node into the address index and marks the load complete.
void Publish(const VarPtr& node);

// Resets the writer instance through fb_jsonsaxwriter__resetdocument: an empty root object.
void CreateWriterDocument(fb_jsonsaxwriter_struct* writer);

// The writer's document in the component's output form; "<no document>" when it has
// none. Unlike the writer's length and copy methods, it leaves no log entry.
std::string WriterDocumentText(fb_jsonsaxwriter_struct* writer);

// fb_jsonreadwritedatatype__addjsonkeyvaluefromsymbol with a full record; hrErrorCode
// goes in as 1234 and must come back unchanged.
RTS_IEC_BOOL CallAddFromSymbol(fb_jsonsaxwriter_struct* writer, const char* key, void* pData);
// The same for fb_jsonreadwritedatatype__addjsonschemafromsymbol.
RTS_IEC_BOOL CallAddSchemaFromSymbol(fb_jsonsaxwriter_struct* writer, const char* key, void* pData);

// What fb_jsonreadwritedatatype__addjsonchangesfromsymbol gave.
struct CChangesResult {
    RTS_IEC_BOOL added;
    RTS_IEC_UDINT changed;
};
// fb_jsonreadwritedatatype__addjsonchangesfromsymbol with a full record; hrErrorCode goes
// in as 1234 and must come back unchanged.
CChangesResult CallAddChangesFromSymbol(fb_jsonsaxwriter_struct* writer, const char* key, void* pData,
                                        void* pLast, RTS_IEC_UDINT nLast, double deadband, bool keyFrame);

// fb_jsonreadwritedatatype__setsymbolfromjson with nSize = text.size() (or the given
// size); hrErrorCode goes in as 1234 and must come back unchanged.
RTS_IEC_BOOL CallSetFromJson(const std::string& text, void* pData);
RTS_IEC_BOOL CallSetFromJson(const char* text, RTS_IEC_UDINT nSize, void* pData);

// Fixture: the component in the simulated host, the manager cleared, one writer
// instance with a document.
class DatatypeTest : public ComponentTest {
   protected:
    void SetUp() override;

    // Every host log record written since SetUp, described.
    std::vector<std::string> LogRecords();

    fb_jsonsaxwriter_struct writer_{};
};

#endif  // TESTS_SUPPORT_DATATYPESUPPORT_H
