// The console logger.
#include "utils/log.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "utils/comm.h"

// Threshold of the console log. Atomic so that SetLogLevel may run while other threads
// log; relaxed, since it orders nothing else.
std::atomic<int32_t> g_log_level{0};

namespace {

std::mutex s_log_mutex;  // serialises the printing of lines

// Terminal colours: red, yellow, white, green.
const char* const s_color[4] = {"\x1b[31m", "\x1b[33m", "\x1b[37m", "\x1b[32m"};
const int kColorWhite = 2;
const int kColorGreen = 3;

const int log_buff_size = 8192;

// Formats into the caller's buffer of log_buff_size bytes; longer text is cut.
void FormatMessage(char* message, const char* szFormat, va_list args) {
    message[0] = '\0';
    if (szFormat == nullptr || std::vsnprintf(message, log_buff_size, szFormat, args) < 0) message[0] = '\0';
}

}  // namespace

void SetLogLevel(int log_level) { g_log_level.store(log_level, std::memory_order_relaxed); }

const char* GetLogLevelStr(int nLogLevel, int* color_idx) {
    int color = 1;
    const char* name;
    switch (nLogLevel) {
        case 0:
            name = "TRACE";
            break;
        case 1:
            name = "DEBUG";
            break;
        case 2:
            name = "INFO";
            break;
        case 4:
            name = "WARNING";
            break;
        case 8:
            name = "ERROR";
            color = 0;
            break;
        case 16:
            name = "CRITICAL";
            break;
        case 32:
            name = "NOTICE";
            break;
        case 256:
            name = "COMM";
            break;
        default:
            name = "UNKNOWN";
            break;
    }
    if (color_idx != nullptr) *color_idx = color;
    return name;
}

void utils_log_message(int level, const char* file, const char* fun, int line, const char* szFormat, ...) {
    if (level < g_log_level.load(std::memory_order_relaxed)) return;

    char message[log_buff_size];
    va_list args;
    va_start(args, szFormat);
    FormatMessage(message, szFormat, args);
    va_end(args);

    if (file == nullptr) file = "";
    if (fun == nullptr) fun = "";
    const char* slash = std::strrchr(file, '/');
    const char* file_name = slash != nullptr ? slash + 1 : file;

    int color = 1;
    const char* level_name = GetLogLevelStr(level, &color);

    std::lock_guard<std::mutex> lock(s_log_mutex);
    unsigned int tid = static_cast<unsigned int>(syscall(SYS_gettid));
    std::string now = CComm::GetCurrentTimeMs();
    std::printf("%s %s[%s,%s,%s,%s,%d,%u%s]:%s\n", now.c_str(), s_color[color], "libqor", level_name,
                file_name, fun, line, tid, s_color[kColorWhite], message);
}

void utils_log_message(int level, const char* szFormat, ...) {
    if (level < g_log_level.load(std::memory_order_relaxed)) return;

    char message[log_buff_size];
    va_list args;
    va_start(args, szFormat);
    FormatMessage(message, szFormat, args);
    va_end(args);

    int color = 1;
    const char* level_name = GetLogLevelStr(level, &color);

    std::lock_guard<std::mutex> lock(s_log_mutex);
    unsigned int thread = static_cast<unsigned int>(static_cast<uintptr_t>(pthread_self()));
    std::string now = CComm::GetCurrentTimeMs();
    std::printf("%s %s[%s,%s]%s ,0x%x:%s\n", now.c_str(), s_color[kColorGreen], "libqor", level_name,
                s_color[kColorWhite], thread, message);
}
