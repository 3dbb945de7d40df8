// CDomDriverMgr: the one object that holds all state of the component.
//
// It owns the state of every writer instance (CWriterInstances: each instance's
// document, pending member, open containers and number format), the parsed text of
// every reader instance (CReaderInstances), the variable tree built from the host's
// symbols, the address index over it, and the loader thread and its flags. Every
// external IEC function and every host event reaches it through instance(); it is
// created on first use and never destroyed. The writer and reader operations are thin
// facades that log refusals.
//
// Threads: IEC task threads (external functions), host event threads (load start,
// stop, clear) and the loader thread "ReLoadSym".
// Locks: the writer and reader states have their own (var/JsonWriter.h,
// var/JsonReader.h); mtx, a reader-writer lock, guards the address index. Datatype
// calls hold mtx shared while they use a node, so calls on different variables run side
// by side; the loader's emptying and filling and clear() hold it exclusively. Under it,
// a call holds the lock of its variable's memory (variableLock): shared to read,
// exclusively to write. Locks are taken in the order writer instance, mtx, variable
// lock. No host call, no log call and no sleep happens while any is held.
//
// Indexed nodes are shared, not copied: every entry points into the trees the walk
// built, which nobody changes once they are indexed.
//
// The operations live in source files named after their subsystem: core and clear,
// writer documents, symbol walk, address index, loader thread, variable <-> JSON,
// reader block.
#ifndef VAR_DOMDRIVERMGR_H
#define VAR_DOMDRIVERMGR_H

#include <pthread.h>
#include <rapidjson/document.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "CmpStd.h"
#include "IecVarAccess_ItfsItf.h"
#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "var/JsonReader.h"
#include "var/IndexLock.h"
#include "var/SymbolWriteReport.h"
#include "var/JsonWriter.h"
#include "var/Variable.h"

// Mode of a writer add. The add engine acts on ADD_KEY_VALUE and ADD_VALUE only.
enum AddType {
    ADD_KEY = 0,
    ADD_KEY_VALUE = 1,
    ADD_VALUE = 2,
    ADD_START_OBJECT = 3,
    ADD_END_OBJECT = 4,
    ADD_START_ARRAY = 5,
    ADD_END_ARRAY = 6,
};

class CDomDriverMgr {
   public:
    typedef std::unordered_map<void*, std::shared_ptr<CVariable>> addr_vars;
    typedef std::vector<std::shared_ptr<CVariable>> vec_vars;

    CIndexLock mtx;
    addr_vars map_addr_vars;           // GUARDED_BY(mtx)
    int32_t load_SchedPriority_ = 30;  // SCHED_FIFO priority of the loader thread
    int32_t load_SchedAffinity_ = 0;   // processor of the loader thread; negative: not pinned

    // The lock of the variable's memory at addr, for datatype calls: held shared while a
    // call reads the variable, exclusively while one writes it, so two calls on one
    // variable never interleave (a reader gets one whole value) while calls on different
    // variables run side by side. One of a fixed set of locks chosen by the address, so
    // two variables may rarely share one and then take turns for one call.
    // REQUIRES: mtx held shared (taken after it).
    CIndexLock& variableLock(const void* addr);

    // The single instance, created on first use from whichever thread comes first.
    static CDomDriverMgr* instance();

    bool loadCompletedState();
    void PrepareOnlineChange();
    void loadConfig();

    // Drops every writer instance's state (document, pending member, decimal places),
    // the address index and the roots of the tree. Leaves the loader thread, its flags and
    // the scheduling fields alone. Every reader instance loses its document too.
    void clear();

    // Writer documents and the add engine.
    bool addkey_to_jason(fb_jsonsaxwriter_struct* pJsonWrite, char* key);
    bool addKeyNull(fb_jsonsaxwriter_struct* p, char* key);
    bool add_key_value_to_jason(void* pVoid, const TypeClass3& type, const AddType& add_type);

    // Nesting, raw JSON texts, binary data and the number format of a writer instance.
    bool startContainer(fb_jsonsaxwriter_struct* p, EJsonContainer kind);
    bool endContainer(fb_jsonsaxwriter_struct* p, EJsonContainer kind);
    bool addRawJson(fb_jsonsaxwriter_struct* p, char* rawJson, EJsonContainer kind);
    bool addBytes(fb_jsonsaxwriter_struct* p, const RTS_IEC_BYTE* pBytes, RTS_IEC_DINT nBytes, bool hex);
    bool setMaxDecimalPlaces(fb_jsonsaxwriter_struct* p, RTS_IEC_DINT places);
    RTS_IEC_DINT getMaxDecimalPlaces(fb_jsonsaxwriter_struct* p);

    // Document output and reset.
    bool resetDocument(fb_jsonsaxwriter_struct* p);
    bool getDocument(fb_jsonsaxwriter_getdocument_struct* p);
    bool getDocumentLength(fb_jsonsaxwriter_struct* p, size_t& length);
    bool copyDocument(fb_jsonsaxwriter_copydocument_struct* p);

    // Loader thread. Begin and End run on the host's event path.
    void BeginLoadSymbols();
    void EndLoadSymbols();
    void LoadSymbols();  // one complete load; runs on the loader thread

    // Variable <-> JSON.
    bool addJsonKeyValueFromSymbol(fb_jsonsaxwriter_struct* pJsonWrite, void* pData, char* key);
    bool setSymbolFromJson(char* pJson, const uint32_t& size, void* pData);
    // As setSymbolFromJson, with the same result and the same log entries, and says in
    // report what was written, what was not and why.
    bool setSymbolFromJsonReport(char* pJson, const uint32_t& size, void* pData, CSymbolWriteReport& report);
    // Writes value into the variable at pData as setSymbolFromJson writes a text whose
    // root object holds value under the variable's own name: same result, same log
    // entries (loading, no variable). report, when given, is filled as by
    // setSymbolFromJsonReport.
    bool setSymbolFromValue(const rapidjson::Value& value, void* pData, CSymbolWriteReport* report = nullptr);

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

   private:
    friend class CDomDriverMgrTestPeer;  // tests reach the walk and the loader state

    CDomDriverMgr();
    ~CDomDriverMgr();

    static void getInstance();
    void SleepEvent();

    // Appends (key, null) to the innermost open object of p; with makePending, the
    // member becomes the pending one that the next value call fills.
    bool addNullMember(fb_jsonsaxwriter_struct* p, char* key, bool makePending);
    // Puts a value where the next value goes in p's document; logs a refusal.
    bool addValue(fb_jsonsaxwriter_struct* p, CJsonValueSource& source);

    // Symbol walk (loader thread only).
    bool DumpAll();
    bool ExpandRoot(RTS_HANDLE hRootNode, RTS_HANDLE hInterface);
    bool ExpandTree(RTS_HANDLE hInterface, RTS_HANDLE hParentNode, RTS_HANDLE hNode);
    bool ExpandNode(const std::shared_ptr<CVariable>& pParent, const std::shared_ptr<CVariable>& pVar,
                    const char* szName);
    bool LoadNode(const std::shared_ptr<CVariable>& pVariable, const char* szName);

    // Address index (loader thread only).
    void MapAll();
    void MapSingle(std::shared_ptr<CVariable> pVar);
    void AddToMap(const std::shared_ptr<CVariable>& pVar);

    // Variable <-> JSON; the caller holds the locks.
    rapidjson::Value loadJson(const CVariable& var, rapidjson::Document::AllocatorType& allocator);
    // Writes into the variable at pData: the member of root named after the variable
    // when root is given, else value. Null when written, else the refusal to log.
    template <bool kReport>
    const char* writeSymbol(const rapidjson::Value* root, const rapidjson::Value* value, void* pData,
                            CSymbolWriteReport* report);

    // Roots of the tree while a load builds it. Owned by the loader thread while one
    // is alive (thrd_ != 0); emptied by the load's indexing step.
    vec_vars p_vec_vars;

    static CDomDriverMgr* m_instance_;
    static std::once_flag m_once_;

    std::atomic<bool> bDownloadFinish{false};  // stop request for the loader
    std::atomic<bool> bDownloadDone{false};    // the address index is complete
    std::atomic<bool> bOnlineChange{false};
    std::atomic<bool> loadCompleted{false};  // the last walk reached the application
    pthread_t thrd_ = 0;                     // the loader thread; event path only

    static constexpr size_t kVariableLocks = 256;
    CIndexLock variableLocks_[kVariableLocks];

    CReaderInstances readers_;  // the reader instances; locks of its own
    CWriterInstances writers_;  // every writer instance's state, under its own locks
};

#endif  // VAR_DOMDRIVERMGR_H
