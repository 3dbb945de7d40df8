// The host services the component imports by name: one pointer per host function,
// named pf followed by the function's name, null until the import fills it. Functions
// the component calls carry their real prototype; the others are kept as generic
// pointers. Also the one helper every component log message goes through.
#ifndef FRAME_HOSTIMPORTS_H
#define FRAME_HOSTIMPORTS_H

#include "CmpEventMgrItf.h"
#include "CmpIecVarAccessItf.h"
#include "CmpItf.h"
#include "CmpLogItf.h"
#include "CmpStd.h"

// Component id written to the host's initialisation record and passed with every
// registration and every log entry.
constexpr CMPID kZentrikCmpId = 0x17d22002;

#define ZENTRIK_HOST_IMPORT(name, prototype, options) extern prototype pf##name;
#include "ZentrikHostImports.def"
#undef ZENTRIK_HOST_IMPORT

// Number of host functions imported by name.
#define ZENTRIK_HOST_IMPORT(name, prototype, options) +1
constexpr int kImportedHostFunctions = 0
#include "ZentrikHostImports.def"
    ;
#undef ZENTRIK_HOST_IMPORT
static_assert(kImportedHostFunctions == 91, "91 imported host functions");

// Log classes and info ids of the component's messages.
constexpr int kLogClassInfo = 1;
constexpr int kLogClassError = 4;
constexpr RTS_UI32 kLogInfoIdGeneral = 0;  // hooks and the loader
constexpr RTS_UI32 kLogInfoIdCalls = 10;   // events, refused writer and datatype calls

// Writes one entry to the host log: null logger, the component id, error id 0. When the
// host offers no LogAdd (an optional import) nothing is logged.
template <typename... Args>
inline void ZentrikLog(int logClass, RTS_UI32 infoId, const char* format, Args... args) {
    PF_LOG_ADD logAdd = pfLogAdd;
    if (logAdd != nullptr) {
        logAdd(nullptr, kZentrikCmpId, logClass, 0, infoId, format, args...);
    }
}

// A refused writer or datatype call: class 4, info id 10.
inline void LogRefusedCall(const char* message) {
    ZentrikLog(kLogClassError, kLogInfoIdCalls, "%s", message);
}

#endif  // FRAME_HOSTIMPORTS_H
