// The simulated host's component manager and logger.
#include "SimHost.h"

#include <cstdarg>
#include <cstring>

#include "SimApplication.h"
#include "SimEventManager.h"

namespace {

const CMPID kNoComponent = 0;

// Stands in for every host function the component imports but never calls.
void SimUnusedHostFunction(void) {}

extern "C" RTS_RESULT SimLogAdd(RTS_HANDLE, CMPID cmpId, int classId, RTS_RESULT errorId, RTS_UI32 infoId,
                                const char* info, ...) {
    char text[4096];
    va_list args;
    va_start(args, info);
    vsnprintf(text, sizeof(text), info != nullptr ? info : "", args);
    va_end(args);
    CSimHost::instance().addLog(cmpId, classId, errorId, infoId, text);
    return ERR_OK;
}

extern "C" RTS_RESULT SimCMGetAPI2(char* name, RTS_VOID_FCTPTR* function, int options, RTS_UI32 signature,
                                   RTS_UI32 version) {
    return CSimHost::instance().getApi(name, function, options, signature, version);
}

extern "C" RTS_RESULT SimCMRegisterAPI(const CMP_EXT_FUNCTION_REF* table, RTS_UINTPTR dummy,
                                       int externalLibrary, RTS_UI32 cmpId) {
    return CSimHost::instance().registerApi(table, dummy, externalLibrary, cmpId);
}

}  // namespace

std::string SimLogRecord::describe() const {
    char head[96];
    snprintf(head, sizeof(head), "cmp=0x%x class=%d error=%d info=%u text=", cmpId, logClass, errorId,
             infoId);
    return head + text;
}

CSimHost& CSimHost::instance() {
    static CSimHost host;
    return host;
}

CSimHost::CSimHost() { resetFunctions(); }

const std::vector<std::string>& CSimHost::importedNames() {
    static const std::vector<std::string> names = {
#define ZENTRIK_HOST_IMPORT(name, prototype, options) #name,
#include "ZentrikHostImports.def"
#undef ZENTRIK_HOST_IMPORT
    };
    return names;
}

void CSimHost::resetFunctions() {
    std::lock_guard<std::mutex> lock(tableMutex_);
    functions_.clear();
    removed_.clear();
    for (const std::string& name : importedNames()) {
        functions_[name] = SimUnusedHostFunction;
    }
    functions_["LogAdd"] = reinterpret_cast<RTS_VOID_FCTPTR>(&SimLogAdd);
    functions_["EventOpen"] = reinterpret_cast<RTS_VOID_FCTPTR>(&CSimEventManager::EventOpen);
    functions_["EventRegisterCallbackFunction"] =
        reinterpret_cast<RTS_VOID_FCTPTR>(&CSimEventManager::EventRegisterCallbackFunction);
    functions_["EventUnregisterCallbackFunction"] =
        reinterpret_cast<RTS_VOID_FCTPTR>(&CSimEventManager::EventUnregisterCallbackFunction);
    functions_["EventClose"] = reinterpret_cast<RTS_VOID_FCTPTR>(&CSimEventManager::EventClose);
    SimInstallVarAccessFunctions(functions_);
    registerResult_ = ERR_OK;
}

void CSimHost::removeFunction(const std::string& name, RTS_RESULT failureCode) {
    std::lock_guard<std::mutex> lock(tableMutex_);
    functions_.erase(name);
    removed_[name] = failureCode;
}

void CSimHost::replaceFunction(const std::string& name, RTS_VOID_FCTPTR function) {
    std::lock_guard<std::mutex> lock(tableMutex_);
    functions_[name] = function;
    removed_.erase(name);
}

RTS_VOID_FCTPTR CSimHost::function(const std::string& name) {
    std::lock_guard<std::mutex> lock(tableMutex_);
    auto it = functions_.find(name);
    return it == functions_.end() ? nullptr : it->second;
}

RTS_RESULT CSimHost::getApi(const char* name, RTS_VOID_FCTPTR* function, int options, RTS_UI32 signature,
                            RTS_UI32 version) {
    std::lock_guard<std::mutex> lock(tableMutex_);
    importCalls_.push_back({name != nullptr ? name : "", options, signature, version});
    if (name == nullptr || function == nullptr) {
        return kSimErrNotFound;
    }
    auto it = functions_.find(name);
    if (it == functions_.end()) {
        auto removed = removed_.find(name);
        return removed != removed_.end() ? removed->second : kSimErrNotFound;
    }
    *function = it->second;
    return ERR_OK;
}

std::vector<SimImportCall> CSimHost::importCalls() {
    std::lock_guard<std::mutex> lock(tableMutex_);
    return importCalls_;
}

void CSimHost::clearImportCalls() {
    std::lock_guard<std::mutex> lock(tableMutex_);
    importCalls_.clear();
}

RTS_RESULT CSimHost::registerApi(const CMP_EXT_FUNCTION_REF* table, RTS_UINTPTR dummy, int externalLibrary,
                                 RTS_UI32 cmpId) {
    std::lock_guard<std::mutex> lock(tableMutex_);
    registered_.push_back({table, dummy, externalLibrary, cmpId});
    return registerResult_;
}

std::vector<SimRegisteredTable> CSimHost::registeredTables() {
    std::lock_guard<std::mutex> lock(tableMutex_);
    return registered_;
}

void CSimHost::setRegisterResult(RTS_RESULT result) {
    std::lock_guard<std::mutex> lock(tableMutex_);
    registerResult_ = result;
}

void CSimHost::addLog(CMPID cmpId, int logClass, RTS_RESULT errorId, RTS_UI32 infoId,
                      const std::string& text) {
    std::shared_ptr<const LogHook> hook;
    SimLogRecord record{cmpId, logClass, errorId, infoId, text, std::chrono::steady_clock::now()};
    {
        std::lock_guard<std::mutex> lock(logMutex_);
        log_.push_back(record);
        if (logEcho_ != nullptr) {
            fprintf(logEcho_, "[host log] %s\n", log_.back().describe().c_str());
            fflush(logEcho_);
        }
        hook = logHook_;
        logChanged_.notify_all();
    }
    if (hook) {
        (*hook)(record);
    }
}

void CSimHost::setLogHook(LogHook hook) {
    std::lock_guard<std::mutex> lock(logMutex_);
    logHook_ = hook ? std::make_shared<const LogHook>(std::move(hook)) : nullptr;
}

std::vector<SimLogRecord> CSimHost::logRecords() {
    std::lock_guard<std::mutex> lock(logMutex_);
    return log_;
}

std::vector<std::string> CSimHost::logTexts() {
    std::lock_guard<std::mutex> lock(logMutex_);
    std::vector<std::string> texts;
    for (const SimLogRecord& record : log_) {
        texts.push_back(record.text);
    }
    return texts;
}

size_t CSimHost::countLog(const std::string& text) {
    std::lock_guard<std::mutex> lock(logMutex_);
    size_t count = 0;
    for (const SimLogRecord& record : log_) {
        count += record.text == text ? 1 : 0;
    }
    return count;
}

void CSimHost::clearLog() {
    std::lock_guard<std::mutex> lock(logMutex_);
    log_.clear();
}

bool CSimHost::waitForLog(const std::string& prefix, size_t occurrences, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(logMutex_);
    return logChanged_.wait_for(lock, timeout, [&] {
        size_t count = 0;
        for (const SimLogRecord& record : log_) {
            count += record.text.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
        }
        return count >= occurrences;
    });
}

void CSimHost::setLogEcho(FILE* stream) {
    std::lock_guard<std::mutex> lock(logMutex_);
    logEcho_ = stream;
}

void CSimHost::fillInitStruct(INIT_STRUCT& init) {
    std::memset(&init, 0, sizeof(init));
    init.CmpId = kNoComponent;
    init.pfCMRegisterAPI = SimCMRegisterAPI;
    init.pfCMGetAPI2 = SimCMGetAPI2;
}

int CSimHost::loadComponent(int (*entry)(INIT_STRUCT*)) {
    fillInitStruct(init_);
    return entry(&init_);
}

RTS_RESULT CSimHost::importFunctions() { return init_.pfImportFunctions(); }

RTS_RESULT CSimHost::exportFunctions() { return init_.pfExportFunctions(); }

RTS_RESULT CSimHost::callHook(RTS_UI32 hook) { return init_.pfHookFunction(hook, 0, 0); }
