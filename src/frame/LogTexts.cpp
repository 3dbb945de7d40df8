// The table of host log texts, in the order of ELogText.
#include "frame/LogTexts.h"

const CLogText g_logTexts[static_cast<size_t>(ELogText::kCount)] = {
    {"The JSON object does not exist.", kLogClassError, kLogInfoIdCalls},
    {"Add value mode and don't have key", kLogClassError, kLogInfoIdCalls},
    {"Key not allowed in an array", kLogClassError, kLogInfoIdCalls},
    {"Object or array in an object needs a key first", kLogClassError, kLogInfoIdCalls},
    {"No open object to end", kLogClassError, kLogInfoIdCalls},
    {"No open array to end", kLogClassError, kLogInfoIdCalls},
    {"Document memory limit reached", kLogClassError, kLogInfoIdCalls},
    {"Invalid argument", kLogClassError, kLogInfoIdCalls},
    {"Variables are being loaded. Please execute later.", kLogClassError, kLogInfoIdCalls},
    {"Variable does not exist", kLogClassError, kLogInfoIdCalls},
    {"Json error", kLogClassError, kLogInfoIdCalls},
    {"LoadSymbols start", kLogClassInfo, kLogInfoIdGeneral},
    {"LoadSymbols end load complete:%d, symbols size: %d", kLogClassInfo, kLogInfoIdGeneral},
    {"pthread_create failed: %d", kLogClassInfo, kLogInfoIdGeneral},
    {"pthread_cancel failed: %d", kLogClassInfo, kLogInfoIdGeneral},
    {"pthread_join failed: %d", kLogClassInfo, kLogInfoIdGeneral},
    {"prepareResetFunction in, load completed state: %d, clearSymbols:%d", kLogClassInfo, kLogInfoIdCalls},
    {"ResetDoneFunction in, load completed state: %d, BeginLoadSymbols:%d", kLogClassInfo, kLogInfoIdCalls},
    {"ResetDoneFunction BeginLoadSymbols", kLogClassInfo, kLogInfoIdCalls},
    {"BeginLoadSymbols", kLogClassInfo, kLogInfoIdCalls},
    {"delAllAppCallBack", kLogClassInfo, kLogInfoIdCalls},
    {"Check event open function function failed", kLogClassInfo, kLogInfoIdGeneral},
    {"Check unregister callback function failed", kLogClassInfo, kLogInfoIdGeneral},
    {"Check event close function failed", kLogClassInfo, kLogInfoIdGeneral},
};
