// CComm, CTimestamp, CStringHelper, CFileHelper and SetAffinity.
#include "utils/comm.h"

#include <errno.h>
#include <sched.h>
#include <strings.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

// MD5 message digest, RFC 1321. Fed in pieces of any size; Final pads and yields the
// 16-byte digest.
class CMd5 {
   public:
    void Update(const uint8_t* data, size_t len) {
        size_t used = static_cast<size_t>(bytes_ % 64);
        bytes_ += len;
        if (used != 0) {
            size_t take = std::min(len, 64 - used);
            std::memcpy(block_ + used, data, take);
            data += take;
            len -= take;
            if (used + take < 64) return;
            Transform(block_);
        }
        for (; len >= 64; data += 64, len -= 64) Transform(data);
        if (len != 0) std::memcpy(block_, data, len);
    }

    void Final(uint8_t digest[16]) {
        uint64_t bits = bytes_ * 8;
        static const uint8_t kPad[64] = {0x80};
        size_t used = static_cast<size_t>(bytes_ % 64);
        Update(kPad, used < 56 ? 56 - used : 120 - used);
        uint8_t length[8];
        for (int i = 0; i < 8; ++i) length[i] = static_cast<uint8_t>(bits >> (8 * i));
        Update(length, 8);
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<uint8_t>(state_[i] >> (8 * j));
        }
    }

   private:
    static uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

    void Transform(const uint8_t* p) {
        // Per-round shift amounts and the constants floor(abs(sin(i + 1)) * 2^32).
        static const int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
        static const uint32_t kSine[64] = {
            0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
            0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
            0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
            0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
            0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
            0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
            0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
            0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
        uint32_t x[16];
        for (int i = 0; i < 16; ++i) {
            x[i] = static_cast<uint32_t>(p[4 * i]) | static_cast<uint32_t>(p[4 * i + 1]) << 8 |
                   static_cast<uint32_t>(p[4 * i + 2]) << 16 | static_cast<uint32_t>(p[4 * i + 3]) << 24;
        }
        uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
        for (int i = 0; i < 64; ++i) {
            uint32_t f;
            int g;
            switch (i / 16) {
                case 0:
                    f = (b & c) | (~b & d);
                    g = i;
                    break;
                case 1:
                    f = (d & b) | (~d & c);
                    g = (5 * i + 1) % 16;
                    break;
                case 2:
                    f = b ^ c ^ d;
                    g = (3 * i + 5) % 16;
                    break;
                default:
                    f = c ^ (b | ~d);
                    g = (7 * i) % 16;
                    break;
            }
            uint32_t rotated = Rotl(a + f + kSine[i] + x[g], kShift[i / 16][i % 4]);
            a = d;
            d = c;
            c = b;
            b += rotated;
        }
        state_[0] += a;
        state_[1] += b;
        state_[2] += c;
        state_[3] += d;
    }

    uint32_t state_[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    uint64_t bytes_ = 0;  // message length so far
    uint8_t block_[64];   // the unfinished block
};

std::string DigestText(CMd5& md5) {
    uint8_t digest[16];
    md5.Final(digest);
    static const char kHex[] = "0123456789abcdef";
    std::string text(32, '0');
    for (int i = 0; i < 16; ++i) {
        text[2 * i] = kHex[digest[i] >> 4];
        text[2 * i + 1] = kHex[digest[i] & 0x0f];
    }
    return text;
}

std::mutex s_process_name_mutex;
char szProcessName[1024] = {0};  // GUARDED_BY(s_process_name_mutex) until filled, read-only after

}  // namespace

// ---- CComm --------------------------------------------------------------------------

CComm::CComm() {}
CComm::~CComm() {}

int CComm::Sleep(int ms) {
    if (ms <= 0) return 0;
    struct timespec remaining;
    remaining.tv_sec = ms / 1000;
    remaining.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    struct timespec request;
    do {
        request = remaining;
    } while (nanosleep(&request, &remaining) != 0 && errno == EINTR);
    return 0;
}

std::string CComm::GetCurrentTimeMs() {
    struct timeval now;
    gettimeofday(&now, nullptr);
    struct tm local;
    std::memset(&local, 0, sizeof(local));
    time_t seconds = now.tv_sec;
    localtime_r(&seconds, &local);
    char text[64];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(now.tv_usec / 1000));
    return text;
}

std::string CComm::HexDumpBuf(const char* buf, int len) {
    std::string text;
    if (buf == nullptr || len <= 0) return text;
    static const char kHex[] = "0123456789abcdef";
    text.reserve(static_cast<size_t>(len) * 5);
    for (int i = 0; i < len; ++i) {
        unsigned char byte = static_cast<unsigned char>(buf[i]);
        if (i != 0) text += ' ';
        text += '0';
        text += 'x';
        text += kHex[byte >> 4];
        text += kHex[byte & 0x0f];
    }
    return text;
}

std::string CComm::HexDumpBuf(float value) {
    char bytes[sizeof(value)];
    std::memcpy(bytes, &value, sizeof(value));
    return HexDumpBuf(bytes, sizeof(bytes));
}

std::string CComm::HexDumpBuf(int16_t value) {
    char bytes[sizeof(value)];
    std::memcpy(bytes, &value, sizeof(value));
    return HexDumpBuf(bytes, sizeof(bytes));
}

std::string CComm::BitDumpBuf(char value) {
    unsigned char bits = static_cast<unsigned char>(value);
    std::string text;
    text.reserve(10);
    for (int i = 7; i >= 0; --i) {
        text += ((bits >> i) & 1) ? '1' : '0';
        if (i % 4 == 0) text += ' ';
    }
    return text;
}

std::string CComm::GetMd5(uint8_t* data, int32_t len) {
    if (len < 0 || (data == nullptr && len > 0)) return "";
    CMd5 md5;
    if (len > 0) md5.Update(data, static_cast<size_t>(len));
    return DigestText(md5);
}

std::string CComm::GetMd5(std::string& data) {
    CMd5 md5;
    md5.Update(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    return DigestText(md5);
}

std::string CComm::GetFileMd5(const char* path) {
    if (path == nullptr) return "";
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return "";
    // Streamed in chunks: no size limit and no copy of the whole file in memory.
    CMd5 md5;
    uint8_t chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof(chunk), file)) != 0) md5.Update(chunk, got);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return "";
    return DigestText(md5);
}

const char* CComm::GetProcessName() {
    std::lock_guard<std::mutex> lock(s_process_name_mutex);
    if (szProcessName[0] != '\0') return szProcessName;

    char path[1024] = {0};
    if (readlink("/proc/self/exe", path, sizeof(path) - 1) < 0) return "";
    std::vector<std::string> dirs = CStringHelper::StriSplit(path, "/");
    std::vector<std::string> parts = CStringHelper::StriSplit(dirs.back(), ".");
    // A name that would be empty leaves the buffer empty: the buffer handed out is
    // written only this once, and a failed look-up is retried by the next call.
    if (parts.front().empty()) return "";
    std::snprintf(szProcessName, sizeof(szProcessName), "%s", parts.front().c_str());
    return szProcessName;
}

// ---- CTimestamp -----------------------------------------------------------------------

CTimestamp::CTimestamp() : m_begin(std::chrono::steady_clock::now()) {}
CTimestamp::~CTimestamp() {}

void CTimestamp::update() { m_begin = std::chrono::steady_clock::now(); }

int64_t CTimestamp::getElapsedTimeInMicroSec() {
    auto elapsed = std::chrono::steady_clock::now() - m_begin;
    return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() / 1000);
}

double CTimestamp::getElapsedTimeInMilliSec() { return getElapsedTimeInMicroSec() * 0.001; }

double CTimestamp::getElapsedSecond() { return getElapsedTimeInMicroSec() * 0.000001; }

// ---- CStringHelper --------------------------------------------------------------------

CStringHelper::CStringHelper() {}
CStringHelper::~CStringHelper() {}

std::vector<std::string> CStringHelper::StriSplit(std::string in_str, std::string pattern) {
    std::vector<std::string> pieces;
    // An empty pattern occurs everywhere without advancing the search.
    if (pattern.empty()) {
        pieces.push_back(in_str);
        return pieces;
    }
    // The text after the last match is the last piece. The search runs over the text
    // alone: a copy of the pattern appended to close the last piece would let a pattern
    // whose head repeats its tail match across the text's end and drop the text's last
    // characters ("xa" split by "aa" would give "x").
    size_t pos = 0;
    for (;;) {
        size_t found = in_str.find(pattern, pos);
        if (found == std::string::npos) break;
        pieces.push_back(in_str.substr(pos, found - pos));
        pos = found + pattern.size();
    }
    pieces.push_back(in_str.substr(pos));
    return pieces;
}

std::string CStringHelper::Strtrim(std::string str) {
    static const char kBlank[] = " \r\n";
    size_t first = str.find_first_not_of(kBlank);
    if (first == std::string::npos) return "";
    size_t last = str.find_last_not_of(kBlank);
    return str.substr(first, last - first + 1);
}

int CStringHelper::StriCmp(const char* s1, const char* s2) {
    if (s1 == nullptr || s2 == nullptr) return (s1 != nullptr) - (s2 != nullptr);
    return strcasecmp(s1, s2);
}

// ---- CFileHelper ----------------------------------------------------------------------

CFileHelper::CFileHelper() {}
CFileHelper::~CFileHelper() {}

bool CFileHelper::IsFileExist(const char* path) { return path != nullptr && access(path, F_OK) == 0; }

// ---- SetAffinity ----------------------------------------------------------------------

void SetAffinity(int pid, unsigned int cpu) {
    static_assert(sizeof(cpu_set_t) == 128, "the mask covers 1024 processors");
    cpu_set_t mask;
    CPU_ZERO(&mask);
    if (cpu <= 1023) CPU_SET(cpu, &mask);
    sched_setaffinity(pid, sizeof(mask), &mask);
}
