// The component's entry point: the one function a host looks up by name.
#ifndef RV5072_ZENTRIK_RV5072_ZENTRIK_H
#define RV5072_ZENTRIK_RV5072_ZENTRIK_H

#include "CmpItf.h"
#include "RV5072_Zentrik/RV5072_ZentrikItf.h"

extern "C" ZENTRIK_EXPORT int ComponentEntry(INIT_STRUCT* pInitStruct);

#endif  // RV5072_ZENTRIK_RV5072_ZENTRIK_H
