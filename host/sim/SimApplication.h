// CSimApplication: the simulated host's IEC application and its symbol access.
//
// One process-wide instance. start() compiles declaration text (SimDeclParser.h
// describes the language, the names and the memory layout), lays the variables out
// in one zero-filled block and writes their initial values; stop() takes the
// application away. The seventeen IecVarAcc host functions (SimVarAccess.cpp) serve
// the running application to the component: browsing (root, branches 4892,
// variables 1549), full paths, lookup of every full name the component forms
// (App.Globals.lines[2].axis[0,1].pos, negative indices, up to four dimensions),
// sizes, type classes, addresses, node names, type nodes and type descriptions.
// Without a running application they answer as a host without one does: invalid
// handles and non-zero results.
//
// Handles: a node handle stays valid for the life of its application; handles of an
// earlier application are recognised and refused. Members and elements get their node
// the first time their name is looked up (one small record per node, found again
// through its parent by member or element index, so a lookup costs the length of the
// name). An application taken away (by stop() or by a start() that replaces it) keeps
// its names and memory until the next one is taken away, so a pointer handed out just
// before a stop() is not left dangling at once.
//
// Node names (IecVarAccGetNodeName): "App" for the root, the branch or variable name,
// the member name, and for an element its parent's node name with the indices
// (`axis[0,1]`, `m[1][2]`). Member handles of a type description give the member name.
// Lookups are case-insensitive; reported names keep the declaration's spelling.
//
// The runtime's freedoms (CSimFreedoms): what a runtime may answer otherwise, chosen by
// a test before start(): element nodes named by their indices alone (`[0,1]`), by their
// full path (`App.Globals.axes[2]`) or not at all (NULL); member nodes without a name
// (NULL; the member handles of the type description still give it); and arrays laid out
// with padding between their elements, which the array's size holds.
//
// Test and tool side: memory access by full name, the top-level variables in browse
// order, the count of open variable-information records and the host errors the
// component caused (a release without a prepare, a double release, a record used
// unprepared), call counters per host function, and fault injection.
//
// Threads: every member may be called from any thread. Host calls run under mutex_
// (records under recordMutex_); the before-call hook runs before either is taken, so
// it may call stop() or anything else here.
#ifndef SIM_SIMAPPLICATION_H
#define SIM_SIMAPPLICATION_H

#include <array>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "CmpStd.h"
#include "IecVarAccess_ItfsItf.h"
#include "SimDeclParser.h"

// Number of variable-access host functions this application serves.
#define IEC_VAR_ACCESS_FUNCTION(name, prototype) +1
constexpr size_t kSimVarAccessFunctions = 0
#include "IecVarAccessFunctions.def"
    ;
#undef IEC_VAR_ACCESS_FUNCTION

// Result codes of the application's host functions.
constexpr RTS_RESULT kSimErrNoApplication = 0x20;     // no application is running
constexpr RTS_RESULT kSimErrInvalidHandle = 0x21;     // unknown, stale or wrong kind of handle
constexpr RTS_RESULT kSimErrUnknownName = 0x22;       // the name resolves to nothing
constexpr RTS_RESULT kSimErrBufferTooSmall = 0x23;    // a text or handle array does not fit
constexpr RTS_RESULT kSimErrNoMoreNodes = 0x24;       // no child, no next sibling
constexpr RTS_RESULT kSimErrInitFailed = 0x25;        // injected IecVarAccInitVarInfo failure
constexpr RTS_RESULT kSimErrBadRecord = 0x26;         // record released without a prepare
constexpr RTS_RESULT kSimErrInvalidParameter = 0x27;  // NULL buffer or record, wrong record size
constexpr RTS_RESULT kSimErrNotAVariable = 0x28;      // a variable query on the root or a branch
constexpr RTS_RESULT kSimErrInjected = 0x29;          // injected IecVarAccGetApplicationName failure

// Node kind of the browse root (branches and variables use IECVARACC_NODE_*).
constexpr RTS_UI16 kSimNodeKindRoot = 0x0001;

class CSimRunningApp;

// How a runtime names an element node (IecVarAccGetNodeName of `trend[5]`).
enum class ESimElementNames {
    kArrayAndIndices,  // its parent's node name and its indices: "trend[5]", "m[1][2]"
    kIndices,          // its indices alone: "[5]", "[2]"
    kFullPath,         // its full path: "App.Globals.trend[5]"
    kNone,             // no name: NULL
};

// What a runtime may answer otherwise than this host does by default.
struct CSimFreedoms {
    ESimElementNames elementNames = ESimElementNames::kArrayAndIndices;
    bool unnamedMembers = false;  // member nodes give NULL as their node name
    uint32_t arrayPadding = 0;    // bytes left between array elements (see SimCompileDeclarations)
};

// A named set of freedoms: the runtimes tests and benchmarks run the component under,
// the default one first, then each freedom alone, then several at once.
struct CSimRuntime {
    const char* name;
    CSimFreedoms freedoms;
};
const std::vector<CSimRuntime>& SimRuntimes();

class CSimApplication {
   public:
    static CSimApplication& instance();

    // The seventeen host function names, in the order of the call counters.
    static const std::vector<std::string>& hostFunctionNames();

    // --- the runtime's freedoms (kept across start/stop until changed; an application
    // takes those set when it starts) ---
    void setFreedoms(const CSimFreedoms& freedoms);
    CSimFreedoms freedoms();

    // --- life cycle ---
    // Compiles and starts the declared application in place of a running one. Throws
    // CSimDeclError (and leaves the running application as it was) on a bad declaration.
    void start(const std::string& declarations);
    void stop();
    bool running();

    // --- memory and symbols (throw std::out_of_range for an unknown name or no application) ---
    uint8_t* address(const std::string& fullName);
    size_t size(const std::string& fullName);
    TypeClass3 typeClass(const std::string& fullName);
    std::string typeName(const std::string& fullName);
    // The variable's type; it lives as long as the application's memory does.
    const CSimType* type(const std::string& fullName);
    uint8_t* memory();  // the block; nullptr without an application
    size_t memorySize();
    // Full paths of the top-level variables, in browse order (depth first).
    std::vector<std::string> topLevelVariables();
    // Nodes (root, branches, variables, members, elements) made so far.
    size_t nodeCount();
    // The node name IecVarAccGetNodeName gives for the node of fullName; false when it
    // gives NULL (injected NULL names included). Throws std::out_of_range as above.
    bool nodeName(const std::string& fullName, std::string& name);

    // --- variable-information records ---
    size_t openVarInfoRecords();
    // Misuses seen by the host: "IecVarAccExitVarInfo: ...", one text per misuse.
    std::vector<std::string> hostErrors();
    void clearHostErrors();
    void forgetVarInfoRecords();  // drops the bookkeeping of open records (test fixtures)

    // --- call counters (counted before the hook runs) ---
    uint64_t callCount(const std::string& functionName);
    void resetCallCounts();

    // --- fault injection (kept across start/stop until resetFaults) ---
    // Lookups (IecVarAccGetNode3, IecVarAccGetNode) of this full name fail as unknown.
    void pretendUnknown(const std::string& fullName);
    // IecVarAccGetNodeName returns NULL for the node of this full path, or for the
    // type-description member handle named "TYPE.member" (ST_Axis.pos).
    void setNullNodeName(const std::string& name);
    // IecVarAccGetNodeName gives `name` for the node of this full path.
    void renameNode(const std::string& fullName, const std::string& name);
    // IecVarAccGetNodeType reports `kind` for the node of this full path.
    void overrideNodeType(const std::string& fullName, RTS_UI16 kind);
    // The nth IecVarAccInitVarInfo call from now on, and every later one, fails with code
    // and opens no record. n = 0 switches the failure off.
    void failInitVarInfoFrom(uint64_t nthCall, RTS_RESULT code = kSimErrInitFailed);
    // IecVarAccGetApplicationName fails with code (0: answers normally).
    void failApplicationName(RTS_RESULT code = kSimErrInjected);
    // Called with the function name before every one of the seventeen host functions.
    void setBeforeCallHook(std::function<void(const char*)> hook);
    void resetFaults();

    // --- the host functions' bodies (SimVarAccess.cpp wraps them) ---
    void beforeHostCall(size_t functionIndex);
    RTS_HANDLE hostGetFirstInterface(RTS_RESULT* pResult);
    RTS_RESULT hostGetApplicationName(RTS_HANDLE hInterface, char* pszAppName, RTS_SIZE nMaxLen);
    RTS_HANDLE hostBrowseGetRoot(RTS_HANDLE hInterface, RTS_RESULT* pResult);
    RTS_HANDLE hostBrowseDown(RTS_HANDLE hInterface, RTS_HANDLE hNode, RTS_RESULT* pResult);
    RTS_HANDLE hostBrowseGetNext(RTS_HANDLE hInterface, RTS_HANDLE hNode, RTS_RESULT* pResult);
    char* hostGetNodeFullPath(RTS_HANDLE hInterface, RTS_HANDLE hNode, char* pszPath, RTS_SIZE nMaxLen,
                              RTS_RESULT* pResult);
    RTS_UI16 hostGetNodeType(RTS_HANDLE hInterface, RTS_HANDLE hNode, RTS_RESULT* pResult);
    RTS_RESULT hostInitVarInfo(VariableInformationStruct3* pVarInfo, RTS_SIZE nSize);
    RTS_RESULT hostExitVarInfo(VariableInformationStruct3* pVarInfo);
    RTS_HANDLE hostGetNode3(const char* pszName, RTS_HANDLE* phInterface,
                            VariableInformationStruct3* pVarInfo, RTS_RESULT* pResult);
    RTS_HANDLE hostGetNode(const char* pszName, RTS_UINTPTR* pOffset, RTS_HANDLE* phInterface,
                           RTS_RESULT* pResult);
    RTS_SIZE hostGetSize3(RTS_HANDLE hInterface, RTS_HANDLE hNode, VariableInformationStruct3* pVarInfo,
                          RTS_RESULT* pResult);
    TypeClass3 hostGetTypeClass3(RTS_HANDLE hInterface, RTS_HANDLE hNode,
                                 VariableInformationStruct3* pVarInfo, RTS_RESULT* pResult);
    RTS_UI8* hostGetAddress3(RTS_HANDLE hInterface, RTS_HANDLE hNode, VariableInformationStruct3* pVarInfo,
                             RTS_RESULT* pResult);
    char* hostGetNodeName(RTS_HANDLE hInterface, RTS_HANDLE hNode, RTS_RESULT* pResult);
    RTS_HANDLE hostGetTypeNode3(RTS_HANDLE hInterface, RTS_HANDLE hNode, VariableInformationStruct3* pVarInfo,
                                RTS_RESULT* pResult);
    RTS_RESULT hostGetTypeDesc(RTS_HANDLE hInterface, RTS_HANDLE hTypeNode, TypeDescAsUnion* pTypeDesc);

   private:
    CSimApplication();
    ~CSimApplication();

    // REQUIRES: mutex_ held. The running application whose interface is hInterface.
    CSimRunningApp* appFor(RTS_HANDLE hInterface, RTS_RESULT& result);
    // REQUIRES: mutex_ held.
    CSimRunningApp& runningOrThrow(const std::string& fullName);
    // Resolves a name for the host (lookup faults applied); REQUIRES: mutex_ held.
    RTS_HANDLE lookup(const char* pszName, RTS_HANDLE* phInterface, RTS_UINTPTR* pOffset,
                      RTS_RESULT* pResult);
    void hostError(const std::string& text);
    // Notes a record passed to a query that was never prepared or already released.
    void checkRecord(const VariableInformationStruct3* pVarInfo, const char* function);

    std::mutex mutex_;
    std::unique_ptr<CSimRunningApp> app_;         // GUARDED_BY(mutex_)
    std::unique_ptr<CSimRunningApp> retired_;     // GUARDED_BY(mutex_): the one stopped before
    uint32_t generation_ = 0;                     // GUARDED_BY(mutex_)
    std::set<std::string> unknownNames_;          // GUARDED_BY(mutex_), upper case
    std::set<std::string> nullNames_;             // GUARDED_BY(mutex_), upper case
    std::map<std::string, RTS_UI16> nodeTypes_;   // GUARDED_BY(mutex_), upper case
    std::map<std::string, std::string> renamed_;  // GUARDED_BY(mutex_), upper case
    // The name IecVarAccGetNodeName gives for node id, faults applied; REQUIRES: mutex_ held.
    const char* givenName(CSimRunningApp& app, uint32_t id);
    RTS_RESULT appNameResult_ = ERR_OK;  // GUARDED_BY(mutex_)
    CSimFreedoms freedoms_;              // GUARDED_BY(mutex_)

    std::mutex recordMutex_;
    std::set<uint64_t> openRecords_;       // GUARDED_BY(recordMutex_): serials of open records
    uint64_t nextSerial_ = 0;              // GUARDED_BY(recordMutex_)
    uint64_t initCalls_ = 0;               // GUARDED_BY(recordMutex_): since failInitVarInfoFrom
    uint64_t initFailFrom_ = 0;            // GUARDED_BY(recordMutex_)
    RTS_RESULT initFailCode_ = ERR_OK;     // GUARDED_BY(recordMutex_)
    std::vector<std::string> hostErrors_;  // GUARDED_BY(recordMutex_)

    std::mutex hookMutex_;
    std::atomic<bool> hasHook_{false};
    std::shared_ptr<const std::function<void(const char*)>> hook_;  // GUARDED_BY(hookMutex_)

    std::array<std::atomic<uint64_t>, kSimVarAccessFunctions> calls_{};
};

// Puts the seventeen IecVarAcc functions into a host function table (CSimHost).
void SimInstallVarAccessFunctions(std::map<std::string, RTS_VOID_FCTPTR>& table);

#endif  // SIM_SIMAPPLICATION_H
