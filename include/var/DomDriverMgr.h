// CDomDriverMgr: the one object that holds all state of the component.
//
// It owns the state of every writer instance (CWriterInstances: each instance's
// document, pending member, open containers and number format), the variable tree
// built from the host's symbols, the address index over it, and the loader thread and
// its flags. Every external IEC function and every host event reaches it through
// instance(); it is created on first use and never destroyed. The writer operations
// are a thin facade over CWriterInstances that logs refusals.
//
// Threads: IEC task threads (external functions), host event threads (load start,
// stop, clear) and the loader thread "ReLoadSym".
// Locks: the writer states have their own (see var/JsonWriter.h); mtx guards the
// address index. Where both are held, the writer instance's lock is taken first. No
// host call, no log call and no sleep happens while any is held.
//
// The operations live in source files named after their subsystem: core and clear,
// writer documents, symbol walk, address index, loader thread, variable <-> JSON.
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

    std::mutex mtx;
    addr_vars map_addr_vars;           // GUARDED_BY(mtx)
    int32_t load_SchedPriority_ = 30;  // SCHED_FIFO priority of the loader thread
    int32_t load_SchedAffinity_ = 0;   // processor of the loader thread; negative: not pinned

    // The single instance, created on first use from whichever thread comes first.
    static CDomDriverMgr* instance();

    bool loadCompletedState();
    void PrepareOnlineChange();
    void loadConfig();

    // Drops every writer instance's state (document, pending member, decimal places),
    // the address index and the roots of the tree. Leaves the loader thread, its flags and the scheduling
    // fields alone.
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
    void traverseJson(const rapidjson::Value& value, const CVariable& var,
                      rapidjson::Document::AllocatorType& allocator, const std::string& key);

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

    CWriterInstances writers_;  // every writer instance's state, under its own locks
};

#endif  // VAR_DOMDRIVERMGR_H
