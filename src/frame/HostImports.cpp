// Storage of the imported host function pointers; the frame's import fills them.
#include "frame/HostImports.h"

#define ZENTRIK_HOST_IMPORT(name, prototype, options) prototype pf##name = nullptr;
#include "ZentrikHostImports.def"
#undef ZENTRIK_HOST_IMPORT
