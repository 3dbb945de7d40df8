// Test support for the writer block: one block instance driven through the external
// functions with real parameter records, and the host log records a refused writer
// call leaves.
#ifndef TESTS_SUPPORT_WRITERCALLS_H
#define TESTS_SUPPORT_WRITERCALLS_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "SimHost.h"
#include "frame/HostImports.h"

// One fb_jsonsaxwriter instance. The instance record lives inside this object, so its
// address (the key of its document) stays fixed; the object is neither copied nor moved.
// Strings are handed over in buffers that die when the call returns, so a component
// that kept a caller's pointer instead of copying would be caught.
class CWriterCalls {
   public:
    CWriterCalls() = default;
    CWriterCalls(const CWriterCalls&) = delete;
    CWriterCalls& operator=(const CWriterCalls&) = delete;

    fb_jsonsaxwriter_struct* instance() { return &instance_; }

    // Returns what the call wrote into ResetDocument.
    RTS_IEC_UINT reset() {
        fb_jsonsaxwriter_resetdocument_struct p{&instance_, 0};
        fb_jsonsaxwriter__resetdocument(&p);
        return p.ResetDocument;
    }

    void addKey(std::string key) {
        fb_jsonsaxwriter_addkey_struct p{&instance_, &key[0]};
        fb_jsonsaxwriter__addkey(&p);
    }
    void addKeyNull(std::string key) {
        fb_jsonsaxwriter_addkeynull_struct p{&instance_, &key[0]};
        fb_jsonsaxwriter__addkeynull(&p);
    }
    void addString(std::string value) {
        fb_jsonsaxwriter_addstring_struct p{&instance_, &value[0]};
        fb_jsonsaxwriter__addstring(&p);
    }
    void addBool(RTS_IEC_BOOL value) {
        fb_jsonsaxwriter_addbool_struct p{&instance_, value};
        fb_jsonsaxwriter__addbool(&p);
    }
    void addDint(RTS_IEC_DINT value) {
        fb_jsonsaxwriter_adddint_struct p{&instance_, value};
        fb_jsonsaxwriter__adddint(&p);
    }
    void addUdint(RTS_IEC_UDINT value) {
        fb_jsonsaxwriter_addudint_struct p{&instance_, value};
        fb_jsonsaxwriter__addudint(&p);
    }
    void addLint(RTS_IEC_LINT value) {
        fb_jsonsaxwriter_addlint_struct p{&instance_, value};
        fb_jsonsaxwriter__addlint(&p);
    }
    void addReal(RTS_IEC_REAL value) {
        fb_jsonsaxwriter_addreal_struct p{&instance_, value};
        fb_jsonsaxwriter__addreal(&p);
    }
    void addLreal(RTS_IEC_LREAL value) {
        fb_jsonsaxwriter_addlreal_struct p{&instance_, value};
        fb_jsonsaxwriter__addlreal(&p);
    }
    void addDateTime(RTS_IEC_DATE_AND_TIME value) {
        fb_jsonsaxwriter_adddatetime_struct p{&instance_, value};
        fb_jsonsaxwriter__adddatetime(&p);
    }
    void addNull() {
        fb_jsonsaxwriter_addnull_struct p{&instance_};
        fb_jsonsaxwriter__addnull(&p);
    }
    void addKeyString(std::string key, std::string value) {
        fb_jsonsaxwriter_addkeystring_struct p{&instance_, &key[0], &value[0]};
        fb_jsonsaxwriter__addkeystring(&p);
    }
    void addKeyBool(std::string key, RTS_IEC_BOOL value) {
        fb_jsonsaxwriter_addkeybool_struct p{&instance_, &key[0], value};
        fb_jsonsaxwriter__addkeybool(&p);
    }
    void addKeyNumber(std::string key, RTS_IEC_DINT value) {
        fb_jsonsaxwriter_addkeynumber_struct p{&instance_, &key[0], value};
        fb_jsonsaxwriter__addkeynumber(&p);
    }
    void addKeyLreal(std::string key, RTS_IEC_LREAL value) {
        fb_jsonsaxwriter_addkeylreal_struct p{&instance_, &key[0], value};
        fb_jsonsaxwriter__addkeylreal(&p);
    }
    void addKeyDateTime(std::string key, RTS_IEC_DATE_AND_TIME value) {
        fb_jsonsaxwriter_addkeydatetime_struct p{&instance_, &key[0], value};
        fb_jsonsaxwriter__addkeydatetime(&p);
    }

    // Nesting: what the call wrote into its return field.
    RTS_IEC_UINT startObject() {
        fb_jsonsaxwriter_startobject_struct p{&instance_, 7};
        fb_jsonsaxwriter__startobject(&p);
        return p.StartObject;
    }
    RTS_IEC_UINT endObject() {
        fb_jsonsaxwriter_endobject_struct p{&instance_, 7};
        fb_jsonsaxwriter__endobject(&p);
        return p.EndObject;
    }
    RTS_IEC_UINT startArray() {
        fb_jsonsaxwriter_startarray_struct p{&instance_, 7};
        fb_jsonsaxwriter__startarray(&p);
        return p.StartArray;
    }
    RTS_IEC_UINT endArray() {
        fb_jsonsaxwriter_endarray_struct p{&instance_, 7};
        fb_jsonsaxwriter__endarray(&p);
        return p.EndArray;
    }
    void addRawObject(std::string text) {
        fb_jsonsaxwriter_addrawobject_struct p{&instance_, &text[0]};
        fb_jsonsaxwriter__addrawobject(&p);
    }
    void addRawArray(std::string text) {
        fb_jsonsaxwriter_addrawarray_struct p{&instance_, &text[0]};
        fb_jsonsaxwriter__addrawarray(&p);
    }
    void addBase64(std::string bytes) {
        fb_jsonsaxwriter_addbase64_struct p{&instance_, reinterpret_cast<RTS_IEC_BYTE*>(&bytes[0]),
                                            static_cast<RTS_IEC_DINT>(bytes.size())};
        fb_jsonsaxwriter__addbase64(&p);
    }
    void addHexBinary(std::string bytes) {
        fb_jsonsaxwriter_addhexbinary_struct p{&instance_, reinterpret_cast<RTS_IEC_BYTE*>(&bytes[0]),
                                               static_cast<RTS_IEC_DINT>(bytes.size())};
        fb_jsonsaxwriter__addhexbinary(&p);
    }
    // What setmaxdecimalplaces writes into SetMaxDecimalPlaces.
    RTS_IEC_UINT setMaxDecimalPlaces(RTS_IEC_DINT places) {
        fb_jsonsaxwriter_setmaxdecimalplaces_struct p{&instance_, places, 7};
        fb_jsonsaxwriter__setmaxdecimalplaces(&p);
        return p.SetMaxDecimalPlaces;
    }
    RTS_IEC_DINT maxDecimalPlaces() {
        fb_jsonsaxwriter_getmaxdecimalplaces_struct p{&instance_, -7};
        fb_jsonsaxwriter__getmaxdecimalplaces(&p);
        return p.GetMaxDecimalPlaces;
    }
    // What setformat writes into SetFormat.
    RTS_IEC_UINT setFormat(RTS_IEC_DWORD format) {
        fb_jsonsaxwriter_setformat_struct p{&instance_, format, 7};
        fb_jsonsaxwriter__setformat(&p);
        return p.SetFormat;
    }
    RTS_IEC_DWORD format() {
        fb_jsonsaxwriter_getformat_struct p{&instance_, 0xDEADBEEF};
        fb_jsonsaxwriter__getformat(&p);
        return p.GetFormat;
    }

    // What getdocumentlength writes into GetDocumentLength.
    RTS_IEC_UDINT length() {
        fb_jsonsaxwriter_getdocumentlength_struct p{&instance_, 0, 0};
        fb_jsonsaxwriter__getdocumentlength(&p);
        return p.GetDocumentLength;
    }

    // The whole text, read the way a control program reads a long document: length,
    // then a copy into a buffer of length + 1 bytes. Fails the test when the copy
    // does not report success or the text is not terminated where the length says.
    std::string text() {
        RTS_IEC_UDINT n = length();
        std::vector<char> buffer(n + 1, '#');
        fb_jsonsaxwriter_copydocument_struct p{&instance_, buffer.data(), n + 1, 0, 0};
        fb_jsonsaxwriter__copydocument(&p);
        EXPECT_EQ(1u, p.CopyDocument) << "copydocument refused";
        EXPECT_EQ('\0', buffer[n]) << "text not terminated at its length " << n;
        return std::string(buffer.data(), n);
    }

   private:
    fb_jsonsaxwriter_struct instance_{};
};

// The description of the log entry a refused writer call leaves: class 4, error id 0,
// info id 10, the component's id.
inline std::string RefusalRecord(const std::string& text) {
    return SimLogRecord{kZentrikCmpId, kLogClassError, 0, kLogInfoIdCalls, text}.describe();
}

// Every log entry recorded so far, described whole, for comparison with RefusalRecord.
inline std::vector<std::string> DescribedLog() {
    std::vector<std::string> described;
    for (const SimLogRecord& record : CSimHost::instance().logRecords()) {
        described.push_back(record.describe());
    }
    return described;
}

#endif  // TESTS_SUPPORT_WRITERCALLS_H
