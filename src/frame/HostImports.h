// The host services the component imports by name: one pointer per host function,
// named pf followed by the function's name, null until the import fills it. Functions
// the component calls carry their real prototype; the others are kept as generic
// pointers. Also the helpers every component log entry goes through.
#ifndef FRAME_HOSTIMPORTS_H
#define FRAME_HOSTIMPORTS_H

#include "CmpEventMgrItf.h"
#include "CmpIecVarAccessItf.h"
#include "CmpItf.h"
#include "CmpLogItf.h"
#include "CmpStd.h"
#include "frame/LogTexts.h"

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

// Writes one entry to the host log: null logger, the component id, error id 0, the
// entry's class, info id and text (a format for args). When the host offers no LogAdd
// (an optional import) nothing is logged. REQUIRES: no manager lock held.
template <typename... Args>
inline void ZentrikLog(ELogText id, Args... args) {
    PF_LOG_ADD logAdd = pfLogAdd;
    if (logAdd != nullptr) {
        const CLogText& entry = LogEntry(id);
        logAdd(nullptr, kZentrikCmpId, entry.logClass, 0, entry.infoId, entry.text, args...);
    }
}

// A refused writer, datatype or reader call: its text (one of the table's refusal texts)
// as an entry of class 4, info id 10.
inline void LogRefusedCall(const char* text) {
    PF_LOG_ADD logAdd = pfLogAdd;
    if (logAdd != nullptr) {
        logAdd(nullptr, kZentrikCmpId, kLogClassError, 0, kLogInfoIdCalls, "%s", text);
    }
}
inline void LogRefusedCall(ELogText id) { LogRefusedCall(LogText(id)); }

#endif  // FRAME_HOSTIMPORTS_H
