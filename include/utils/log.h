// A levelled, coloured console logger exported with libzentrik.so for code linked against
// the library. The component itself logs only through the host's logger.
//
// Lines go to the process's standard output:
//   located form: "<time> <colour>[libqor,<LEVEL>,<file>,<function>,<line>,<tid><white>]:<message>"
//   short form:   "<time> <green>[libqor,<LEVEL>]<white> ,0x<thread>:<message>"
// The time is local, "YYYY-MM-DD hh:mm:ss.mmm". <tid> is the kernel thread id, <thread>
// the low 32 bits of pthread_self() in hex. ERROR lines of the located form are red, the
// other levels yellow; short-form lines are always green. A message is cut to 8191
// characters. Any thread may log; lines never interleave.
#ifndef UTILS_LOG_H
#define UTILS_LOG_H

#include "export.h"  // beside this header, however the includer names it

// Levels callers pass; the line shows the name in quotes.
//   0 "TRACE", 1 "DEBUG", 2 "INFO", 4 "WARNING", 8 "ERROR", 16 "CRITICAL", 32 "NOTICE",
//   256 "COMM", any other "UNKNOWN".

// Sets the threshold: a message is written only when its level is at least this value.
// The threshold starts at 0; any value is accepted.
UTILS_EXPORT void SetLogLevel(int log_level);

// Name of a level. Sets *color_idx to the index of the level's colour (0 red for ERROR,
// 1 yellow for every other level) unless color_idx is null.
UTILS_EXPORT const char* GetLogLevelStr(int nLogLevel, int* color_idx);

// Located form: the caller's source file (shown without its directories), function and
// line. szFormat and the arguments are printf's.
UTILS_EXPORT void utils_log_message(int level, const char* file, const char* fun, int line,
                                    const char* szFormat, ...) __attribute__((format(printf, 5, 6)));

// Short form.
UTILS_EXPORT void utils_log_message(int level, const char* szFormat, ...)
    __attribute__((format(printf, 2, 3)));

#endif  // UTILS_LOG_H
