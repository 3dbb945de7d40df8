// Tests of the exported helpers: CComm, CTimestamp, CStringHelper, CFileHelper, SetAffinity.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "utils/comm.h"

namespace {

namespace fs = std::filesystem;

// A process started with this variable set reports GetProcessName, called by several
// threads at once as the process's first calls, one result a line, and exits before
// any test runs.
const char kNameProbe[] = "UTILS_COMM_NAME_PROBE";
const int kProbeThreads = 8;

struct CNameProbe {
    CNameProbe() {
        if (std::getenv(kNameProbe) == nullptr) return;
        std::atomic<int> ready{0};
        std::vector<std::string> names(kProbeThreads);
        std::vector<std::thread> threads;
        for (int i = 0; i < kProbeThreads; ++i) {
            threads.emplace_back([&, i] {
                ready.fetch_add(1);
                while (ready.load() < kProbeThreads) {
                }
                names[i] = CComm::GetProcessName();
            });
        }
        for (std::thread& t : threads) t.join();
        for (const std::string& name : names) std::printf("%s\n", name.c_str());
        std::fflush(stdout);
        _exit(0);
    }
} s_name_probe;

std::string OwnExecutable() { return fs::read_symlink("/proc/self/exe").string(); }

// A fresh directory beside the test executable, removed at the end of the test. Beside
// it, so that a hard link to the executable lies on the same file system.
class CScratchDir {
   public:
    CScratchDir() {
        path_ = fs::path(OwnExecutable()).parent_path() / ("utils_comm_scratch_" + std::to_string(getpid()));
        fs::remove_all(path_);
        fs::create_directory(path_);
    }
    ~CScratchDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

   private:
    fs::path path_;
};

std::string RunCommand(const std::string& command) {
    std::string output;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char chunk[256];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof(chunk), pipe)) != 0) output.append(chunk, got);
    pclose(pipe);
    return output;
}

std::vector<int> AllowedCpus(const cpu_set_t& mask) {
    std::vector<int> cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &mask)) cpus.push_back(cpu);
    }
    return cpus;
}

std::vector<int> CallingThreadCpus() {
    cpu_set_t mask;
    CPU_ZERO(&mask);
    EXPECT_EQ(0, sched_getaffinity(0, sizeof(mask), &mask));
    return AllowedCpus(mask);
}

// The processors a fresh thread may run on after calling SetAffinity(0, cpu).
std::vector<int> CpusOfFreshThreadAfterPinning(unsigned int cpu) {
    std::vector<int> cpus;
    std::thread([&] {
        SetAffinity(0, cpu);
        cpus = CallingThreadCpus();
    }).join();
    return cpus;
}

// ---- dumps ----------------------------------------------------------------------------

TEST(CommDump, HexDumpOfBytes) {
    const char bytes[] = {0x01, static_cast<char>(0xAB), static_cast<char>(0xFF), 0x00, 0x7f};
    struct Case {
        const char* buf;
        int len;
        const char* expected;
    } cases[] = {
        {bytes, 2, "0x01 0xab"}, {bytes, 5, "0x01 0xab 0xff 0x00 0x7f"},
        {bytes + 2, 1, "0xff"},  {bytes, 0, ""},
        {bytes, -1, ""},         {nullptr, 4, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, CComm::HexDumpBuf(c.buf, c.len)) << "length " << c.len;
    }
}

TEST(CommDump, HexDumpOfValuesInMemoryOrder) {
    EXPECT_EQ("0x00 0x00 0x80 0x3f", CComm::HexDumpBuf(1.0f));
    EXPECT_EQ("0x00 0x00 0x00 0xc0", CComm::HexDumpBuf(-2.0f));
    EXPECT_EQ("0x34 0x12", CComm::HexDumpBuf(static_cast<int16_t>(0x1234)));
    EXPECT_EQ("0xfe 0xff", CComm::HexDumpBuf(static_cast<int16_t>(-2)));
}

TEST(CommDump, BitDumpMostSignificantFirst) {
    struct Case {
        unsigned char value;
        const char* expected;
    } cases[] = {
        {0xA5, "1010 0101 "}, {0x00, "0000 0000 "}, {0x80, "1000 0000 "},
        {0xFF, "1111 1111 "}, {0x01, "0000 0001 "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, CComm::BitDumpBuf(static_cast<char>(c.value))) << int(c.value);
    }
}

// ---- MD5 ------------------------------------------------------------------------------

struct Md5Case {
    std::string message;
    const char* digest;
};

std::vector<Md5Case> Md5Cases() {
    return {
        // RFC 1321, appendix A.5.
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        // Lengths around the padding and block boundaries (digests from md5sum).
        {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
        {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
        {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
        {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
        {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
        {std::string(127, 'a'), "020406e1d05cdc2aa287641f7ae2cc39"},
        {std::string(128, 'a'), "e510683b3f5ffe4093d021808bc6ff70"},
        {std::string("\x00\xff\x80", 3), "4fd64cb80c3f86e1e9d0f559af8b370f"},
    };
}

TEST(CommMd5, DigestsOfKnownMessages) {
    for (Md5Case c : Md5Cases()) {
        std::vector<uint8_t> bytes(c.message.begin(), c.message.end());
        EXPECT_EQ(c.digest, CComm::GetMd5(bytes.data(), static_cast<int32_t>(bytes.size())))
            << "length " << c.message.size();
        EXPECT_EQ(c.digest, CComm::GetMd5(c.message)) << "length " << c.message.size();
    }
}

TEST(CommMd5, InvalidBufferGivesEmptyText) {
    uint8_t byte = 'a';
    EXPECT_EQ("", CComm::GetMd5(&byte, -1));
    EXPECT_EQ("", CComm::GetMd5(nullptr, 3));
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", CComm::GetMd5(nullptr, 0));
}

TEST(CommMd5, FileDigest) {
    CScratchDir dir;
    struct Case {
        std::string content;
        const char* digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        // Larger than any read buffer, so the content arrives in several pieces.
        {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
    };
    for (const Case& c : cases) {
        fs::path file = dir.path() / "content.bin";
        std::ofstream(file, std::ios::binary | std::ios::trunc) << c.content;
        EXPECT_EQ(c.digest, CComm::GetFileMd5(file.c_str())) << "length " << c.content.size();
    }
}

TEST(CommMd5, UnreadableFileGivesEmptyText) {
    CScratchDir dir;
    EXPECT_EQ("", CComm::GetFileMd5((dir.path() / "missing.bin").c_str()));
    EXPECT_EQ("", CComm::GetFileMd5(dir.path().c_str()));  // a directory opens but does not read
    EXPECT_EQ("", CComm::GetFileMd5(nullptr));
}

// ---- time -----------------------------------------------------------------------------

TEST(CommTime, SleepOfZeroOrLessReturnsZero) {
    EXPECT_EQ(0, CComm::Sleep(0));
    EXPECT_EQ(0, CComm::Sleep(-1));
    EXPECT_EQ(0, CComm::Sleep(INT_MIN));
}

TEST(CommTime, SleepLastsAtLeastTheRequestedTime) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, CComm::Sleep(1020));  // whole seconds and a remainder
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                  .count(),
              1020);
}

void IgnoreSignal(int) {}

TEST(CommTime, SleepResumesAfterASignal) {
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = IgnoreSignal;  // no SA_RESTART: the signal interrupts nanosleep
    struct sigaction previous;
    ASSERT_EQ(0, sigaction(SIGUSR1, &action, &previous));

    std::atomic<bool> sleeping{false};
    std::atomic<bool> done{false};
    std::chrono::steady_clock::duration slept{};
    std::thread sleeper([&] {
        auto start = std::chrono::steady_clock::now();
        sleeping = true;
        CComm::Sleep(300);
        slept = std::chrono::steady_clock::now() - start;
        done = true;
    });
    while (!sleeping) std::this_thread::yield();
    for (int i = 0; i < 5 && !done; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        if (!done) pthread_kill(sleeper.native_handle(), SIGUSR1);
    }
    sleeper.join();
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(slept).count(), 300);
}

std::string LocalSecond(time_t t) {
    struct tm local;
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

TEST(CommTime, CurrentTimeIsLocalTimeWithMilliseconds) {
    std::string before = LocalSecond(std::time(nullptr));
    std::string stamp = CComm::GetCurrentTimeMs();
    std::string after = LocalSecond(std::time(nullptr));
    static const char kShape[] = "9999-99-99 99:99:99.999";  // 9: any digit
    ASSERT_EQ(std::strlen(kShape), stamp.size()) << stamp;
    for (size_t i = 0; i < stamp.size(); ++i) {
        if (kShape[i] == '9') {
            EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(stamp[i]))) << stamp;
        } else {
            EXPECT_EQ(kShape[i], stamp[i]) << stamp;
        }
    }
    // Same layout as the strftime texts, so the comparison is chronological.
    EXPECT_LE(before, stamp.substr(0, 19));
    EXPECT_GE(after, stamp.substr(0, 19));
}

TEST(CommTimestamp, ElapsedTimeGrowsAndRestarts) {
    CTimestamp watch;
    int64_t first = watch.getElapsedTimeInMicroSec();
    EXPECT_GE(first, 0);
    CComm::Sleep(5);
    int64_t second = watch.getElapsedTimeInMicroSec();
    EXPECT_GE(second, 5000);

    // The three units read the same clock: each lies between the microsecond readings
    // taken around it.
    int64_t low = watch.getElapsedTimeInMicroSec();
    double ms = watch.getElapsedTimeInMilliSec();
    double s = watch.getElapsedSecond();
    int64_t high = watch.getElapsedTimeInMicroSec();
    EXPECT_LE(low * 0.001, ms);
    EXPECT_GE(high * 0.001, ms);
    EXPECT_LE(low * 0.000001, s);
    EXPECT_GE(high * 0.000001, s);

    // After update the watch counts from then: less than a watch started before it.
    CTimestamp earlier;
    watch.update();
    int64_t restarted = watch.getElapsedTimeInMicroSec();
    EXPECT_LE(restarted, earlier.getElapsedTimeInMicroSec());
    EXPECT_LT(restarted, second);
}

// ---- process name ---------------------------------------------------------------------

TEST(CommProcessName, NameOfTheTestExecutable) {
    const char* name = CComm::GetProcessName();
    EXPECT_STREQ("utils_comm_test", name);
    EXPECT_EQ(name, CComm::GetProcessName());  // the same buffer every time
}

// Runs this executable under other file names, each process making its first calls from
// several threads at once.
TEST(CommProcessName, NameWithoutDirectoryAndSuffixFromConcurrentFirstCalls) {
    CScratchDir dir;
    struct Case {
        const char* file;
        const char* name;
    } cases[] = {{"plcrun.bin", "plcrun"}, {"plc.run.bin", "plc"}, {"plcrun", "plcrun"}};
    for (const Case& c : cases) {
        fs::path exe = dir.path() / c.file;
        std::error_code linked;
        fs::create_hard_link(OwnExecutable(), exe, linked);
        if (linked) fs::copy_file(OwnExecutable(), exe);
        std::string expected;
        for (int i = 0; i < kProbeThreads; ++i) expected += std::string(c.name) + "\n";
        EXPECT_EQ(expected, RunCommand(std::string(kNameProbe) + "=1 '" + exe.string() + "'")) << c.file;
    }
}

// ---- strings and files ----------------------------------------------------------------

TEST(StringHelper, SplitIntoPieces) {
    using Pieces = std::vector<std::string>;
    struct Case {
        std::string text;
        std::string pattern;
        Pieces pieces;
    } cases[] = {
        {"x.so", ".", {"x", "so"}},
        {"a,,b", ",", {"a", "", "b"}},
        {"abc", ",", {"abc"}},
        {"", ",", {""}},
        {",", ",", {"", ""}},
        {"a,b,", ",", {"a", "b", ""}},
        {"one::two:three", "::", {"one", "two:three"}},
        {"aXYbXYXYc", "XY", {"a", "b", "", "c"}},
        // A pattern whose head repeats its tail never swallows the text's last characters.
        {"aaa", "aa", {"", "a"}},
        {"xa", "aa", {"xa"}},
        {"abab", "aba", {"", "b"}},
        {"A.b", "a", {"A.b"}},  // the match is case-sensitive
        {"a,b", "", {"a,b"}},
        {"", "", {""}},
        {"/usr/bin/prog", "/", {"", "usr", "bin", "prog"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.pieces, CStringHelper::StriSplit(c.text, c.pattern))
            << "'" << c.text << "' by '" << c.pattern << "'";
    }
}

TEST(StringHelper, TrimBlanksAndLineEndsButNotTabs) {
    struct Case {
        const char* text;
        const char* trimmed;
    } cases[] = {
        {" \r\nvalue x \n", "value x"},
        {"\tvalue\t", "\tvalue\t"},
        {" \tvalue\t\r\n", "\tvalue\t"},
        {"value", "value"},
        {"", ""},
        {"   ", ""},
        {"\r\n \n", ""},
        {"a", "a"},
        {" a ", "a"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.trimmed, CStringHelper::Strtrim(c.text)) << "'" << c.text << "'";
    }
}

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(StringHelper, CompareIgnoringCase) {
    struct Case {
        const char* a;
        const char* b;
        int sign;
    } cases[] = {
        {"Hello", "hELLO", 0}, {"", "", 0},   {"abc", "ABD", -1}, {"b", "A", 1},     {"ab", "AB c", -1},
        {"abc", "AB", 1},      {"", "a", -1}, {nullptr, "a", -1}, {"a", nullptr, 1}, {nullptr, nullptr, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.sign, Sign(CStringHelper::StriCmp(c.a, c.b)))
            << (c.a ? c.a : "(null)") << " vs " << (c.b ? c.b : "(null)");
    }
}

TEST(FileHelper, ExistenceOnly) {
    CScratchDir dir;
    fs::path file = dir.path() / "locked.txt";
    std::ofstream(file) << "x";
    ASSERT_EQ(0, chmod(file.c_str(), 0));  // no permission at all: still exists
    EXPECT_TRUE(CFileHelper::IsFileExist(file.c_str()));
    EXPECT_TRUE(CFileHelper::IsFileExist(dir.path().c_str()));
    EXPECT_FALSE(CFileHelper::IsFileExist((dir.path() / "missing.txt").c_str()));
    EXPECT_FALSE(CFileHelper::IsFileExist(""));
    EXPECT_FALSE(CFileHelper::IsFileExist(nullptr));
}

// ---- affinity -------------------------------------------------------------------------

TEST(Affinity, PinsTheCallingThreadOnly) {
    std::vector<int> allowed = CallingThreadCpus();
    if (allowed.size() < 2) GTEST_SKIP() << "pinning is not observable with one processor";
    for (int cpu : allowed) {
        EXPECT_EQ(std::vector<int>{cpu}, CpusOfFreshThreadAfterPinning(static_cast<unsigned int>(cpu)))
            << "cpu " << cpu;
    }
    EXPECT_EQ(allowed, CallingThreadCpus());
}

TEST(Affinity, ProcessorBeyondTheMaskPinsNothing) {
    std::vector<int> allowed = CallingThreadCpus();
    for (unsigned int cpu : {1024u, 2048u, UINT_MAX}) {
        EXPECT_EQ(allowed, CpusOfFreshThreadAfterPinning(cpu)) << "cpu " << cpu;
    }
}

}  // namespace
