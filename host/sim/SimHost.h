// CSimHost: a small controller runtime that loads the component the way a real host
// does. It serves host functions by name (CMGetAPI2 over a table of every function
// the component imports), records the tables the component registers, and records
// every log entry. Host functions are plain C function pointers, so they reach their
// state through the one process-wide instance.
//
// Tests may remove a name from the table (the lookup then fails with a code the test
// chooses) or replace a function; resetFunctions() restores the defaults.
#ifndef SIM_SIMHOST_H
#define SIM_SIMHOST_H

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CmpItf.h"
#include "CmpLogItf.h"
#include "CmpStd.h"

// One entry of the host log.
struct SimLogRecord {
    CMPID cmpId;
    int logClass;
    RTS_RESULT errorId;
    RTS_UI32 infoId;
    std::string text;
    // When the host recorded the entry: judges a wait by when the component logged,
    // not by when the waiting thread got to look.
    std::chrono::steady_clock::time_point at{};

    // "cmp=0x17d22002 class=4 error=0 info=10 text=..." for readable test failures.
    std::string describe() const;
};

// One call of CMGetAPI2, as the host saw it.
struct SimImportCall {
    std::string name;
    int options;
    RTS_UI32 signature;
    RTS_UI32 version;
};

// One call of CMRegisterAPI.
struct SimRegisteredTable {
    const CMP_EXT_FUNCTION_REF* table;
    RTS_UINTPTR dummy;
    int externalLibrary;
    RTS_UI32 cmpId;
};

class CSimHost {
   public:
    static CSimHost& instance();

    // The names of all host functions the component imports, in import order.
    static const std::vector<std::string>& importedNames();

    // --- function table ---
    void resetFunctions();
    void removeFunction(const std::string& name, RTS_RESULT failureCode);
    void replaceFunction(const std::string& name, RTS_VOID_FCTPTR function);
    RTS_VOID_FCTPTR function(const std::string& name);
    RTS_RESULT getApi(const char* name, RTS_VOID_FCTPTR* function, int options, RTS_UI32 signature,
                      RTS_UI32 version);
    std::vector<SimImportCall> importCalls();
    void clearImportCalls();

    // --- registrations ---
    RTS_RESULT registerApi(const CMP_EXT_FUNCTION_REF* table, RTS_UINTPTR dummy, int externalLibrary,
                           RTS_UI32 cmpId);
    std::vector<SimRegisteredTable> registeredTables();
    void setRegisterResult(RTS_RESULT result);  // what CMRegisterAPI answers; 0 by default

    // --- logger ---
    void addLog(CMPID cmpId, int logClass, RTS_RESULT errorId, RTS_UI32 infoId, const std::string& text);
    std::vector<SimLogRecord> logRecords();
    std::vector<std::string> logTexts();
    size_t countLog(const std::string& text);
    void clearLog();
    // Waits until the log holds at least `occurrences` entries whose text starts with
    // `prefix`. Returns false on timeout instead of hanging.
    bool waitForLog(const std::string& prefix, size_t occurrences, std::chrono::milliseconds timeout);
    // Echo every new entry to a stream as it is recorded (the command-line host's stderr).
    void setLogEcho(FILE* stream);
    // Called with every new entry once it is recorded, on the thread that logs it and
    // with no lock of the host held (tests: act at the moment the component logs).
    // Null removes it.
    typedef std::function<void(const SimLogRecord&)> LogHook;
    void setLogHook(LogHook hook);

    // --- component life cycle ---
    // Fills an initialisation record with this host's component-manager functions.
    void fillInitStruct(INIT_STRUCT& init);
    // Calls the component's entry with a fresh record and keeps what it filled in.
    int loadComponent(int (*entry)(INIT_STRUCT*));
    INIT_STRUCT& component() { return init_; }
    RTS_RESULT importFunctions();
    RTS_RESULT exportFunctions();
    RTS_RESULT callHook(RTS_UI32 hook);

   private:
    CSimHost();

    std::mutex tableMutex_;
    std::map<std::string, RTS_VOID_FCTPTR> functions_;  // GUARDED_BY(tableMutex_)
    std::map<std::string, RTS_RESULT> removed_;         // GUARDED_BY(tableMutex_)
    std::vector<SimImportCall> importCalls_;            // GUARDED_BY(tableMutex_)
    std::vector<SimRegisteredTable> registered_;        // GUARDED_BY(tableMutex_)
    RTS_RESULT registerResult_ = ERR_OK;                // GUARDED_BY(tableMutex_)

    std::mutex logMutex_;
    std::condition_variable logChanged_;
    std::vector<SimLogRecord> log_;           // GUARDED_BY(logMutex_)
    FILE* logEcho_ = nullptr;                 // GUARDED_BY(logMutex_)
    std::shared_ptr<const LogHook> logHook_;  // GUARDED_BY(logMutex_)

    INIT_STRUCT init_{};
};

// Result codes of this host.
constexpr RTS_RESULT kSimErrNotFound = 0x10;  // CMGetAPI2: unknown name

#endif  // SIM_SIMHOST_H
