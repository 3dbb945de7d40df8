// Tests of the console logger: line formats of both forms, level names and colours,
// threshold, the cut of long messages, and whole lines under concurrent logging.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "utils/log.h"

namespace {

const char kYellow[] = "\x1b[33m";
const char kWhite[] = "\x1b[37m";
const char kGreen[] = "\x1b[32m";
const size_t kStampLength = 23;  // "YYYY-MM-DD hh:mm:ss.mmm"

// Everything the call writes to file descriptor 1.
std::string CaptureStdout(const std::function<void()>& call) {
    std::fflush(stdout);
    std::FILE* sink = std::tmpfile();
    if (sink == nullptr) return "<no temporary file>";
    int saved = dup(1);
    dup2(fileno(sink), 1);
    call();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string text;
    std::rewind(sink);
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof(chunk), sink)) != 0) text.append(chunk, got);
    std::fclose(sink);
    return text;
}

// True when text starts with a time stamp "YYYY-MM-DD hh:mm:ss.mmm".
bool StartsWithStamp(const std::string& text) {
    static const char kShape[] = "9999-99-99 99:99:99.999";  // 9: any digit
    if (text.size() < kStampLength) return false;
    for (size_t i = 0; i < kStampLength; ++i) {
        if (kShape[i] == '9' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != kShape[i]) {
            return false;
        }
    }
    return true;
}

// The line without its leading time stamp, after checking the stamp's shape.
std::string WithoutStamp(const std::string& line) {
    if (!StartsWithStamp(line)) {
        ADD_FAILURE() << "no time stamp at the start of: " << line;
        return line;
    }
    return line.substr(kStampLength);
}

std::string KernelThreadId() { return std::to_string(static_cast<unsigned int>(syscall(SYS_gettid))); }

std::string PthreadValue() {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%x",
                  static_cast<unsigned int>(static_cast<uintptr_t>(pthread_self())));
    return text;
}

class ConsoleLog : public ::testing::Test {
   protected:
    void TearDown() override { SetLogLevel(0); }
};

const int kAllLevels[] = {-1, 0, 1, 2, 3, 4, 8, 16, 32, 256};

TEST_F(ConsoleLog, LevelNamesAndColours) {
    struct Case {
        int level;
        const char* name;
        int colour;
    } cases[] = {
        {0, "TRACE", 1},   {1, "DEBUG", 1},     {2, "INFO", 1},      {4, "WARNING", 1},
        {8, "ERROR", 0},   {16, "CRITICAL", 1}, {32, "NOTICE", 1},   {256, "COMM", 1},
        {3, "UNKNOWN", 1}, {-1, "UNKNOWN", 1},  {512, "UNKNOWN", 1},
    };
    for (const Case& c : cases) {
        int colour = 7;
        EXPECT_STREQ(c.name, GetLogLevelStr(c.level, &colour)) << "level " << c.level;
        EXPECT_EQ(c.colour, colour) << "level " << c.level;
        EXPECT_STREQ(c.name, GetLogLevelStr(c.level, nullptr)) << "level " << c.level;
    }
}

TEST_F(ConsoleLog, LocatedLine) {
    struct Case {
        int level;
        const char* file;
        const char* fun;
        const char* expected_prefix;  // after the stamp, up to the thread id
    } cases[] = {
        {8, "src/plc/io.cpp", "Poll", " \x1b[31m[libqor,ERROR,io.cpp,Poll,"},
        {0, "main.cpp", "main", " \x1b[33m[libqor,TRACE,main.cpp,main,"},
        {1, "/abs/dir/x.cc", "f", " \x1b[33m[libqor,DEBUG,x.cc,f,"},
        {2, "a.cpp", "f", " \x1b[33m[libqor,INFO,a.cpp,f,"},
        {4, "a.cpp", "f", " \x1b[33m[libqor,WARNING,a.cpp,f,"},
        {16, "a.cpp", "f", " \x1b[33m[libqor,CRITICAL,a.cpp,f,"},
        {32, "a.cpp", "f", " \x1b[33m[libqor,NOTICE,a.cpp,f,"},
        {256, "a.cpp", "f", " \x1b[33m[libqor,COMM,a.cpp,f,"},
        {3, "a.cpp", "f", " \x1b[33m[libqor,UNKNOWN,a.cpp,f,"},
        {2, "dir/", "f", " \x1b[33m[libqor,INFO,,f,"},
        {2, nullptr, nullptr, " \x1b[33m[libqor,INFO,,,"},
    };
    for (const Case& c : cases) {
        std::string tid;
        std::string out = CaptureStdout([&] {
            tid = KernelThreadId();
            utils_log_message(c.level, c.file, c.fun, 117, "value %d of %s", 42, "pump");
        });
        std::string expected =
            std::string(c.expected_prefix) + "117," + tid + kWhite + "]:value 42 of pump\n";
        EXPECT_EQ(expected, WithoutStamp(out)) << "level " << c.level;
    }
}

TEST_F(ConsoleLog, ShortLineIsAlwaysGreen) {
    struct Case {
        int level;
        const char* name;
    } cases[] = {{8, "ERROR"}, {0, "TRACE"}, {256, "COMM"}, {3, "UNKNOWN"}};
    for (const Case& c : cases) {
        std::string thread;
        std::string out = CaptureStdout([&] {
            thread = PthreadValue();
            utils_log_message(c.level, "%s=%u", "count", 7u);
        });
        std::string expected =
            std::string(" ") + kGreen + "[libqor," + c.name + "]" + kWhite + " ," + thread + ":count=7\n";
        EXPECT_EQ(expected, WithoutStamp(out)) << "level " << c.level;
    }
}

TEST_F(ConsoleLog, ThresholdComparesPlainNumbers) {
    for (int threshold : {0, 3, 8, 257, -5}) {
        SetLogLevel(threshold);
        for (int level : kAllLevels) {
            bool written = level >= threshold;
            std::string located = CaptureStdout([&] { utils_log_message(level, "f.cpp", "g", 1, "m"); });
            std::string short_form = CaptureStdout([&] { utils_log_message(level, "m"); });
            EXPECT_EQ(written, !located.empty()) << "threshold " << threshold << ", level " << level;
            EXPECT_EQ(written, !short_form.empty()) << "threshold " << threshold << ", level " << level;
        }
    }
}

TEST_F(ConsoleLog, LongMessageIsCutTo8191Characters) {
    std::string long_text(9000, 'x');
    long_text[8190] = 'L';  // the last character kept
    std::string kept = long_text.substr(0, 8191);

    std::string located =
        WithoutStamp(CaptureStdout([&] { utils_log_message(2, "a.cpp", "f", 1, "%s", long_text.c_str()); }));
    ASSERT_GT(located.size(), kept.size() + 1);
    EXPECT_EQ(":" + kept + "\n", located.substr(located.size() - kept.size() - 2));

    std::string short_form =
        WithoutStamp(CaptureStdout([&] { utils_log_message(2, "%s", long_text.c_str()); }));
    ASSERT_GT(short_form.size(), kept.size() + 1);
    EXPECT_EQ(":" + kept + "\n", short_form.substr(short_form.size() - kept.size() - 2));
}

TEST_F(ConsoleLog, ConcurrentLinesStayWhole) {
    const int kThreads = 8;
    const int kLines = 400;
    const size_t kBody = 300;
    // Every line a thread writes is known in advance apart from its time stamp; the
    // output must hold exactly these lines, each one whole.
    std::vector<std::vector<std::string>> expected(kThreads);
    std::string out = CaptureStdout([&] {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                std::string body(kBody, static_cast<char>('a' + t));
                std::string tid = KernelThreadId();
                std::string thread = PthreadValue();
                for (int i = 0; i < kLines; ++i) {
                    if (i % 2 == 0) {
                        utils_log_message(2, "w.cpp", "worker", i, "%s", body.c_str());
                        expected[t].push_back(std::string(" ") + kYellow + "[libqor,INFO,w.cpp,worker," +
                                              std::to_string(i) + "," + tid + kWhite + "]:" + body);
                    } else {
                        utils_log_message(2, "%s", body.c_str());
                        expected[t].push_back(std::string(" ") + kGreen + "[libqor,INFO]" + kWhite + " ," +
                                              thread + ":" + body);
                    }
                }
            });
        }
        for (std::thread& t : threads) t.join();
    });
    std::multiset<std::string> wanted;
    for (const std::vector<std::string>& lines : expected) wanted.insert(lines.begin(), lines.end());
    std::multiset<std::string> got;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) got.insert(WithoutStamp(line));
    EXPECT_EQ(wanted.size(), got.size());
    EXPECT_TRUE(wanted == got) << "the output holds lines no single call wrote";
}

}  // namespace
