// CDomDriverMgr: the one object every external IEC function and every host event
// reaches, through instance(); it is created on first use and never destroyed.
//
// It is a facade over parts that each own their state and locks: the writer instances
// (CWriterInstances, writer/JsonWriter.h), the reader instances (CReaderInstances,
// reader/JsonReader.h), the symbol index (CSymbolIndex, symbols/SymbolIndex.h) and its
// loader thread (CSymbolLoader, symbols/SymbolLoader.h). Each operation finds the part, calls it (the
// conversions of convert/ where a variable is involved) and logs the refusal once every
// lock is released. The manager itself holds no lock and no data of its own beyond the
// three parts, and no logic of the blocks' operations.
//
// Threads: IEC task threads (external functions), host event threads (load start,
// stop, clear) and the loader thread "ReLoadSym". Lock order across the parts: writer
// instance, then the index, then a variable's lock.
#ifndef VAR_DOMDRIVERMGR_H
#define VAR_DOMDRIVERMGR_H

#include <rapidjson/document.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "convert/SymbolWriteReport.h"
#include "convert/VariableChanges.h"
#include "json/JsonMemory.h"
#include "reader/JsonReader.h"
#include "symbols/SymbolIndex.h"
#include "symbols/SymbolLoader.h"
#include "convert/JsonToVariableStates.h"
#include "writer/JsonWriter.h"
#include "writer/ValueSources.h"

// Mode of a writer add of a scalar: a new member with its key, or the value where the
// next value goes (the pending member, or an element of an open array).
enum AddType {
    ADD_KEY_VALUE = 1,
    ADD_VALUE = 2,
};

class CDomDriverMgr {
   public:
    // The single instance, created on first use from whichever thread comes first.
    static CDomDriverMgr* instance();

    bool loadCompletedState();
    void PrepareOnlineChange();
    void loadConfig();

    // Drops every writer instance's state (document, pending member, decimal places),
    // the address index and the roots of the tree (unless a loader thread owns them).
    // Leaves the loader thread, its flags and the scheduling fields alone. Every reader
    // instance loses its document too.
    void clear();

    // Writer documents and the add engine.
    bool addkey_to_jason(fb_jsonsaxwriter_struct* pJsonWrite, char* key);
    bool addKeyNull(fb_jsonsaxwriter_struct* p, char* key);
    // A scalar of the writer's value methods: with ADD_KEY_VALUE a member (key, value) of
    // the innermost open object, with ADD_VALUE the value where the next value goes (key
    // not used).
    bool addScalar(fb_jsonsaxwriter_struct* p, const AddType& mode, const char* key, CWriterScalar value);

    // Nesting, raw JSON texts, binary data and the number format of a writer instance.
    bool startContainer(fb_jsonsaxwriter_struct* p, EJsonContainer kind);
    bool endContainer(fb_jsonsaxwriter_struct* p, EJsonContainer kind);
    bool addRawJson(fb_jsonsaxwriter_struct* p, char* rawJson, EJsonContainer kind);
    bool addBytes(fb_jsonsaxwriter_struct* p, const RTS_IEC_BYTE* pBytes, RTS_IEC_DINT nBytes, bool hex);
    bool setMaxDecimalPlaces(fb_jsonsaxwriter_struct* p, RTS_IEC_DINT places);
    // The instance's format (the bits of kFormBits); a value with any other bit is
    // refused and leaves the format as it was.
    bool setFormat(fb_jsonsaxwriter_struct* p, RTS_IEC_DWORD format);
    RTS_IEC_DWORD getFormat(fb_jsonsaxwriter_struct* p);
    RTS_IEC_DINT getMaxDecimalPlaces(fb_jsonsaxwriter_struct* p);

    // Document output and reset.
    bool resetDocument(fb_jsonsaxwriter_struct* p);
    bool getDocument(fb_jsonsaxwriter_getdocument_struct* p);
    bool getDocumentLength(fb_jsonsaxwriter_struct* p, size_t& length);
    bool copyDocument(fb_jsonsaxwriter_copydocument_struct* p);
    // The part of the text from nOffset into pDoc (see CJsonWriter::CopyTextPart); sets
    // nLength and nChange and returns the bytes copied. 0 when refused (outputs as they were).
    RTS_IEC_UDINT copyDocumentPart(fb_jsonsaxwriter_copydocumentpart_struct* p);

    // Loader thread. Begin and End run on the host's event path.
    void BeginLoadSymbols();
    void EndLoadSymbols();
    void LoadSymbols();  // one complete load; runs on the loader thread

    // Variable <-> JSON.
    bool addJsonKeyValueFromSymbol(fb_jsonsaxwriter_struct* pJsonWrite, void* pData, char* key);
    // As addJsonKeyValueFromSymbol (same refusals and log entries), with the JSON Schema
    // of the variable in the writer's format as the value.
    bool addJsonSchemaFromSymbol(fb_jsonsaxwriter_struct* pJsonWrite, void* pData, char* key);
    // As addJsonKeyValueFromSymbol (same refusals and log entries, then "Invalid argument"
    // for a copy that does not fit), with the variable's changes since `last` as the value
    // (VariableChanges), and nothing added when nothing changed and no key frame is asked
    // for. changed: the leaves that changed (0 when refused). The copy follows what was
    // added; a refused call leaves it as it was.
    bool addJsonChangesFromSymbol(fb_jsonsaxwriter_struct* pJsonWrite, void* pData, char* key,
                                  const CLastSent& last, uint32_t& changed);
    bool setSymbolFromJson(char* pJson, const uint32_t& size, void* pData);
    // As setSymbolFromJson, with the same result and the same log entries, and says in
    // report what was written, what was not and why.
    bool setSymbolFromJsonReport(char* pJson, const uint32_t& size, void* pData, CSymbolWriteReport& report);
    // As setSymbolFromJsonReport, handing the report to out (when given) before it
    // returns: the report lives in memory kept for later calls, so a call like the last
    // one takes nothing from the heap.
    typedef std::function<void(const CSymbolWriteReport&)> ReportSink;
    bool setSymbolFromJsonReport(char* pJson, const uint32_t& size, void* pData, const ReportSink* out);
    // Writes value into the variable at pData as setSymbolFromJson writes a text whose
    // root object holds value under the variable's own name: same result, same log
    // entries (loading, no variable; "Out of memory" where memory failed, with nothing
    // written). exact: the exact values of the numbers of value's document whose doubles
    // cannot tell them. value's document must not change during the call.
    bool setSymbolFromValue(const CJsonValue& value, void* pData, const CExactNumbers* exact);

    // Reader block. Each operation finds the instance's document (none: nothing found)
    // and reads it without any of the manager's locks; refusals are logged last.
    // Parse: on success errorOffset 0 and error ""; error holds 256 bytes.
    bool readerParse(fb_jsonreader_struct* p, const char* pJson, uint32_t nSize, RTS_IEC_UDINT& errorOffset,
                     char* error);
    RTS_IEC_DINT readerGetKind(fb_jsonreader_struct* p, const char* path);
    RTS_IEC_DINT readerGetSize(fb_jsonreader_struct* p, const char* path);
    bool readerGetBool(fb_jsonreader_struct* p, const char* path, RTS_IEC_BOOL& value);
    bool readerGetDint(fb_jsonreader_struct* p, const char* path, RTS_IEC_DINT& value);
    bool readerGetLint(fb_jsonreader_struct* p, const char* path, RTS_IEC_LINT& value);
    bool readerGetLreal(fb_jsonreader_struct* p, const char* path, RTS_IEC_LREAL& value);
    bool readerGetString(fb_jsonreader_struct* p, const char* path, char* buffer, uint32_t size,
                         RTS_IEC_UDINT& length);
    bool readerGetMemberName(fb_jsonreader_struct* p, const char* path, uint32_t index, char* buffer,
                             uint32_t size, RTS_IEC_UDINT& length);
    bool readerGetRaw(fb_jsonreader_struct* p, const char* path, char* buffer, uint32_t size,
                      RTS_IEC_UDINT& length);
    bool readerToVariable(fb_jsonreader_struct* p, const char* path, void* pData);

    // The parts, for checks of their state (tests, benchmarks).
    CSymbolIndex& index() { return index_; }
    CSymbolLoader& loader() { return loader_; }
    CWriterInstances& writers() { return writers_; }
    CReaderInstances& readers() { return readers_; }

   private:
    CDomDriverMgr();
    ~CDomDriverMgr();

    static void getInstance();

    // Appends (key, null) to the innermost open object of p; with makePending, the
    // member becomes the pending one that the next value call fills.
    bool addNullMember(fb_jsonsaxwriter_struct* p, char* key, bool makePending);
    // Adds "key": describe(the variable at pData, in the writer's format) to the writer's
    // document; logs a refusal.
    bool addFromSymbol(fb_jsonsaxwriter_struct* pJsonWrite, void* pData, char* key,
                       CJsonValue (*describe)(CVariableView, CJsonAllocator&, ValueForm));
    // Puts a value where the next value goes in p's document; logs a refusal.
    bool addValue(fb_jsonsaxwriter_struct* p, CJsonValueSource& source);

    // Writes the text into the variable at pData (JsonToVariableStream.h), filling report
    // when given: null when written, else the refusal to log, with the report's problem
    // (and error offset) saying why. The caller holds none of the index's locks.
    const char* writeText(CJsonToVariableStream& stream, const char* pJson, uint32_t size, void* pData,
                          CSymbolWriteReport* report);
    // read() (a TakeText and a stage of the stream, or a stage alone), once more without
    // the stream's kept memory when the cap refused it with memory kept; then the stream
    // gives back what a call like this one does not need.
    template <typename Read>
    static CJsonToVariableStream::EOutcome readKeptOrFresh(CJsonToVariableStream& stream, Read read);

    static CDomDriverMgr* m_instance_;
    static std::once_flag m_once_;
    static std::atomic<CDomDriverMgr*> s_made_;  // m_instance_ once made

    CSymbolIndex index_;                    // the variables and their index
    CSymbolLoader loader_{index_};          // the loader thread that fills index_
    CReaderInstances readers_;              // the reader instances; locks of its own
    CWriterInstances writers_;              // every writer instance's state, under its own locks
    CJsonToVariableStates jsonToVariable_;  // the kept memory of JSON-to-variable calls
};

#endif  // VAR_DOMDRIVERMGR_H
