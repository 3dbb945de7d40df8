// Process-level helpers exported with libzentrik.so: sleeping, a local time stamp, byte
// and bit dumps, an MD5 digest, the process name, string splitting and trimming, a file
// existence test, a stop watch, and thread pinning.
//
// The component itself uses only the time stamp (through the console logger) and
// SetAffinity (on the loader thread); the rest is there for code linked against the
// library.
#ifndef UTILS_COMM_H
#define UTILS_COMM_H

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "export.h"  // beside this header, however the includer names it

// CComm: stateless helpers, all static. Every member is reentrant and may be called from
// any thread; GetProcessName fills its buffer once, under a lock of its own.
class UTILS_EXPORT CComm {
   public:
    CComm();
    ~CComm();

    // Sleeps ms milliseconds; a sleep cut short by a signal resumes for the remaining
    // time. Zero or a negative value returns at once. Always returns 0.
    static int Sleep(int ms);

    // Local time as "YYYY-MM-DD hh:mm:ss.mmm".
    static std::string GetCurrentTimeMs();

    // "0x01 0xab ...": each byte as 0x and two lower-case hex digits, one blank between.
    // A length of 0 or less, or a null buffer, gives "".
    static std::string HexDumpBuf(const char* buf, int len);
    // The value's bytes in memory order (least significant first on x86).
    static std::string HexDumpBuf(float value);
    static std::string HexDumpBuf(int16_t value);

    // The 8 bits, most significant first, a blank after each group of four: "1010 0101 ".
    static std::string BitDumpBuf(char value);

    // MD5 digest (RFC 1321) as 32 lower-case hex digits. A negative length, or a null
    // buffer with a positive length, gives "".
    static std::string GetMd5(uint8_t* data, int32_t len);
    static std::string GetMd5(std::string& data);
    // MD5 digest of a file's content; "" when the file cannot be opened or read.
    static std::string GetFileMd5(const char* path);

    // The executable's file name without directory and without anything from its first
    // '.' on ("/opt/rt/plcrun.bin" gives "plcrun"). Once found, the same buffer is
    // returned on every call; "" when /proc/self/exe cannot be read, and the next call
    // tries again.
    static const char* GetProcessName();
};

// CTimestamp: a stop watch. Owned by its user; not synchronised, one thread at a time.
// It runs on the monotonic clock, so a change of the wall clock never makes an elapsed
// time jump or go negative.
class UTILS_EXPORT CTimestamp {
   public:
    CTimestamp();  // starts the watch
    ~CTimestamp();

    void update();  // restarts the watch

    // Whole microseconds since the start (truncated).
    int64_t getElapsedTimeInMicroSec();
    // The microsecond count above, scaled to milliseconds or seconds.
    double getElapsedTimeInMilliSec();
    double getElapsedSecond();

   private:
    std::chrono::steady_clock::time_point m_begin;
};

// CStringHelper: stateless string helpers, all static and reentrant.
class UTILS_EXPORT CStringHelper {
   public:
    CStringHelper();
    ~CStringHelper();

    // The pieces of in_str between exact (case-sensitive) occurrences of pattern:
    // "a,,b" by "," gives "a", "", "b"; "" gives one empty piece; a pattern of several
    // characters is matched as a whole, left to right without overlap. An empty pattern
    // gives in_str as the one piece.
    static std::vector<std::string> StriSplit(std::string in_str, std::string pattern);

    // str without leading and trailing blanks, carriage returns and line feeds; tabs stay.
    static std::string Strtrim(std::string str);

    // Case-insensitive comparison with strcasecmp's result (negative, 0 or positive).
    // A null pointer sorts before every string and equal to another null pointer.
    static int StriCmp(const char* s1, const char* s2);
};

// CFileHelper: stateless file helpers, all static and reentrant.
class UTILS_EXPORT CFileHelper {
   public:
    CFileHelper();
    ~CFileHelper();

    // True when the path exists; permissions are not tested.
    static bool IsFileExist(const char* path);
};

// Pins the thread or process pid (0: the calling thread) to the one processor cpu. A cpu
// above 1023 leaves the mask empty, which the system refuses, so nothing is pinned. The
// system's answer is not reported: pinning is a placement wish, not a requirement.
UTILS_EXPORT void SetAffinity(int pid, unsigned int cpu);

#endif  // UTILS_COMM_H
