#include "support/DatatypeSupport.h"

#include <rapidjson/stringbuffer.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "json/JsonOutput.h"
#include "var/DomDriverMgr.h"

ByteVector Bytes(std::initializer_list<int> bytes) {
    ByteVector out;
    for (int b : bytes) {
        out.push_back(static_cast<unsigned char>(b));
    }
    return out;
}

ByteVector Units(std::initializer_list<uint16_t> utf16) {
    ByteVector out;
    for (uint16_t unit : utf16) {
        out.push_back(static_cast<unsigned char>(unit & 0xFF));
        out.push_back(static_cast<unsigned char>(unit >> 8));
    }
    return out;
}

std::string Hex(const unsigned char* bytes, size_t size) {
    std::string out;
    char two[4];
    for (size_t i = 0; i < size; ++i) {
        snprintf(two, sizeof(two), "%02X ", bytes[i]);
        out += two;
    }
    return out;
}

VarPtr MakeVar(TypeClass3 type, uint32_t size, void* addr, const std::string& name,
               const std::vector<VarPtr>& children) {
    auto node = std::make_shared<CVariable>();
    node->varType_ = type;
    node->size_ = size;
    node->var_addr_ = addr;
    node->symbol_nodename_ = name;
    for (const VarPtr& child : children) {
        node->AddChild(child);
    }
    return node;
}

void Publish(const VarPtr& node) { CDomDriverMgr::instance()->index().Publish(node); }

void CreateWriterDocument(fb_jsonsaxwriter_struct* writer) {
    fb_jsonsaxwriter_resetdocument_struct record{writer, 0};
    fb_jsonsaxwriter__resetdocument(&record);
    ASSERT_EQ(1, record.ResetDocument);
}

std::string WriterDocumentText(fb_jsonsaxwriter_struct* writer) {
    std::string text = "<no document>";
    CDomDriverMgr::instance()->writers().With(writer, false, [&text](CJsonWriter& document) {
        document.Read([&text](const char* bytes, size_t length, uint32_t) { text.assign(bytes, length); });
    });
    return text;
}

namespace {

// Either external of the two with one record layout, called with a full record.
template <typename Record, typename Result>
RTS_IEC_BOOL CallFromSymbol(void (*external)(Record*), Result Record::*result,
                            fb_jsonsaxwriter_struct* writer, const char* key, void* pData) {
    fb_jsonreadwritedatatype_struct block{};
    char datatype[] = "WRONG TYPE NAME";
    Record record;
    std::memset(&record, 0xA5, sizeof(record));
    record.pInstance = &block;
    record.fbWriter = writer;
    record.sKey = const_cast<char*>(key);
    record.sDatatype = datatype;
    record.nData = 7;  // not the variable's size: must not matter
    record.pData = static_cast<RTS_IEC_UDINT*>(pData);
    record.*result = 77;
    record.hrErrorCode = 1234;
    external(&record);
    EXPECT_EQ(1234, record.hrErrorCode);
    EXPECT_TRUE(record.*result == 0 || record.*result == 1) << int(record.*result);
    return record.*result;
}

}  // namespace

RTS_IEC_BOOL CallAddFromSymbol(fb_jsonsaxwriter_struct* writer, const char* key, void* pData) {
    return CallFromSymbol(
        fb_jsonreadwritedatatype__addjsonkeyvaluefromsymbol,
        &fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct::AddJsonKeyValueFromSymbol, writer, key,
        pData);
}

RTS_IEC_BOOL CallAddSchemaFromSymbol(fb_jsonsaxwriter_struct* writer, const char* key, void* pData) {
    return CallFromSymbol(fb_jsonreadwritedatatype__addjsonschemafromsymbol,
                          &fb_jsonreadwritedatatype_addjsonschemafromsymbol_struct::AddJsonSchemaFromSymbol,
                          writer, key, pData);
}

CChangesResult CallAddChangesFromSymbol(fb_jsonsaxwriter_struct* writer, const char* key, void* pData,
                                        void* pLast, RTS_IEC_UDINT nLast, double deadband, bool keyFrame) {
    fb_jsonreadwritedatatype_struct block{};
    fb_jsonreadwritedatatype_addjsonchangesfromsymbol_struct record;
    std::memset(&record, 0xA5, sizeof(record));
    record.pInstance = &block;
    record.fbWriter = writer;
    record.sKey = const_cast<char*>(key);
    record.pData = static_cast<RTS_IEC_UDINT*>(pData);
    record.pLast = static_cast<RTS_IEC_BYTE*>(pLast);
    record.nLast = nLast;
    record.fDeadband = deadband;
    record.bKeyFrame = keyFrame ? 1 : 0;
    record.AddJsonChangesFromSymbol = 77;
    record.hrErrorCode = 1234;
    record.nChanged = 77;
    fb_jsonreadwritedatatype__addjsonchangesfromsymbol(&record);
    EXPECT_EQ(1234, record.hrErrorCode);
    EXPECT_TRUE(record.AddJsonChangesFromSymbol == 0 || record.AddJsonChangesFromSymbol == 1)
        << int(record.AddJsonChangesFromSymbol);
    return CChangesResult{record.AddJsonChangesFromSymbol, record.nChanged};
}

RTS_IEC_BOOL CallSetFromJson(const char* text, RTS_IEC_UDINT nSize, void* pData) {
    fb_jsonreadwritedatatype_struct block{};
    fb_jsonreadwritedatatype_setsymbolfromjson_struct record;
    std::memset(&record, 0xA5, sizeof(record));
    record.pInstance = &block;
    record.pJson = const_cast<char*>(text);
    record.nSize = nSize;
    record.pData = static_cast<RTS_IEC_UDINT*>(pData);
    record.nData = 3;  // not the variable's size: must not matter
    record.SetSymbolFromJson = 77;
    record.hrErrorCode = 1234;
    fb_jsonreadwritedatatype__setsymbolfromjson(&record);
    EXPECT_EQ(1234, record.hrErrorCode);
    EXPECT_TRUE(record.SetSymbolFromJson == 0 || record.SetSymbolFromJson == 1)
        << int(record.SetSymbolFromJson);
    return record.SetSymbolFromJson;
}

RTS_IEC_BOOL CallSetFromJson(const std::string& text, void* pData) {
    return CallSetFromJson(text.data(), static_cast<RTS_IEC_UDINT>(text.size()), pData);
}

void DatatypeTest::SetUp() {
    ComponentTest::SetUp();
    // Each test starts as a fresh component does: no load completed yet.
    CDomDriverMgr::instance()->index().Withdraw();
    CreateWriterDocument(&writer_);
}

std::vector<std::string> DatatypeTest::LogRecords() { return DescribedLog(); }
