/* The component's version, the one place it is set. The component reports it to the
 * host as 0xMMmmPPBB (major, minor, patch, build); the build system reads the same
 * four numbers for the shared library's version and soname (libzentrik.so.MAJOR) and
 * for the Debian package. */
#ifndef RV5072_ZENTRIKVERSION_H
#define RV5072_ZENTRIKVERSION_H

#define ZENTRIK_VERSION_MAJOR 3
#define ZENTRIK_VERSION_MINOR 5
#define ZENTRIK_VERSION_PATCH 18
#define ZENTRIK_VERSION_BUILD 0

#define ZENTRIK_COMPONENT_VERSION                                                                   \
    ((ZENTRIK_VERSION_MAJOR << 24) | (ZENTRIK_VERSION_MINOR << 16) | (ZENTRIK_VERSION_PATCH << 8) | \
     ZENTRIK_VERSION_BUILD)

#endif /* RV5072_ZENTRIKVERSION_H */
