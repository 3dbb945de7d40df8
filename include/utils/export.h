// Marks the utilities libzentrik.so exports. The library is built with hidden visibility
// and a linker version script; only declarations carrying this mark are candidates for
// the script's list.
#ifndef UTILS_EXPORT_H
#define UTILS_EXPORT_H

#if defined(__GNUC__)
#define UTILS_EXPORT __attribute__((visibility("default")))
#else
#define UTILS_EXPORT
#endif

#endif  // UTILS_EXPORT_H
