// The texts the component writes to the host log, with their log class and info id: one
// enum and one table, the contract README's "Host log messages" lists. Every log call of
// the component names its text here; none is spelt out elsewhere.
//
// Constant; any thread.
#ifndef FRAME_LOGTEXTS_H
#define FRAME_LOGTEXTS_H

#include <cstddef>
#include <cstdint>

enum class ELogText : uint8_t {
    // Refused calls (class 4, info id 10).
    kNoDocument,
    kNoPendingKey,
    kKeyInArray,
    kStartNeedsKey,
    kNoObjectToEnd,
    kNoArrayToEnd,
    kMemoryCap,
    kInvalidArgument,
    kVariablesLoading,
    kNoVariable,
    kJsonError,
    kOutOfMemory,
    kCallFailed,
    // The loader (class 1, info id 0).
    kLoadStart,
    kLoadEnd,
    kThreadCreateFailed,
    kNoRealTimePriority,
    kThreadCancelFailed,
    kThreadJoinFailed,
    // Events (class 1, info id 10).
    kPrepareReset,
    kResetDone,
    kResetDoneBeginLoad,
    kBeginLoad,
    kDeleteAll,
    // Hooks (class 1, info id 0).
    kNoEventOpen,
    kNoUnregisterCallback,
    kNoEventClose,
    kCount
};

struct CLogText {
    const char* text;  // a printf format where the entry carries values
    int logClass;
    uint32_t infoId;
};

constexpr int kLogClassInfo = 1;
constexpr int kLogClassError = 4;
constexpr uint32_t kLogInfoIdGeneral = 0;  // hooks and the loader
constexpr uint32_t kLogInfoIdCalls = 10;   // events, refused writer and datatype calls

extern const CLogText g_logTexts[static_cast<size_t>(ELogText::kCount)];

inline const CLogText& LogEntry(ELogText id) { return g_logTexts[static_cast<size_t>(id)]; }
inline const char* LogText(ELogText id) { return LogEntry(id).text; }

#endif  // FRAME_LOGTEXTS_H
