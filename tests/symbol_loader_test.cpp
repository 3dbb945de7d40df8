// The loader thread: its life cycle, scheduling, pinning and name, stops in the
// middle of a walk, and a failing thread creation.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "support/ApplicationFixture.h"

namespace {

using Peer = CDomDriverMgrTestPeer;
using std::chrono::seconds;

// True when this process may start a thread under SCHED_FIFO at priority 30: the calling
// thread holds CAP_SYS_NICE, or RLIMIT_RTPRIO allows that priority.
bool RealTimePermitted() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct capabilities[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, capabilities) == 0 &&
        (capabilities[CAP_TO_INDEX(CAP_SYS_NICE)].effective & CAP_TO_MASK(CAP_SYS_NICE)) != 0) {
        return true;
    }
    rlimit limit{};
    return getrlimit(RLIMIT_RTPRIO, &limit) == 0 && (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= 30);
}

// Runs body on a thread that may not use real-time scheduling, whatever the test
// process may: CAP_SYS_NICE leaves that thread's effective set (capabilities belong to a
// thread) and the process's RLIMIT_RTPRIO is 0 until body returns.
void WithoutRealTimePermission(const std::function<void()>& body) {
    rlimit saved{};
    ASSERT_EQ(0, getrlimit(RLIMIT_RTPRIO, &saved));
    rlimit none = saved;
    none.rlim_cur = 0;
    ASSERT_EQ(0, setrlimit(RLIMIT_RTPRIO, &none));
    std::thread unprivileged([&body] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct capabilities[_LINUX_CAPABILITY_U32S_3] = {};
        ASSERT_EQ(0, syscall(SYS_capget, &header, capabilities));
        capabilities[CAP_TO_INDEX(CAP_SYS_NICE)].effective &= ~CAP_TO_MASK(CAP_SYS_NICE);
        ASSERT_EQ(0, syscall(SYS_capset, &header, capabilities));
        ASSERT_FALSE(RealTimePermitted());
        body();
    });
    unprivileged.join();
    EXPECT_EQ(0, setrlimit(RLIMIT_RTPRIO, &saved));
}

// What the loader thread saw of itself, taken inside a host call of its walk.
struct LoaderSelf {
    std::mutex mutex;
    bool seen = false;
    char name[32] = {0};
    int policy = -1;
    int priority = -1;
    cpu_set_t cpus;
};

class SymbolLoader : public ApplicationTest {
   protected:
    void TearDown() override {
        Peer::schedPriority() = 30;
        Peer::schedAffinity() = 0;
        ApplicationTest::TearDown();
    }
    void observeLoader(LoaderSelf& self) {
        app().setBeforeCallHook([&self](const char* function) {
            if (std::string(function) != "IecVarAccGetFirstInterface") {
                return;
            }
            std::lock_guard<std::mutex> lock(self.mutex);
            pthread_getname_np(pthread_self(), self.name, sizeof(self.name));
            sched_param param{};
            pthread_getschedparam(pthread_self(), &self.policy, &param);
            self.priority = param.sched_priority;
            CPU_ZERO(&self.cpus);
            sched_getaffinity(0, sizeof(self.cpus), &self.cpus);
            self.seen = true;
        });
    }
    size_t endLines() {
        size_t count = 0;
        for (const std::string& text : logTexts()) {
            count += text.rfind("LoadSymbols end", 0) == 0 ? 1 : 0;
        }
        return count;
    }
};

// The loader runs under SCHED_FIFO where the process may use it, and at the default
// policy, after one log line, where it may not. Both rows run whatever the permissions
// of the test process: the second takes the permission away from the thread that starts
// the load, the first expects what the process's own permission gives.
TEST_F(SymbolLoader, RunsOnAPinnedThreadNamedReLoadSymRealTimeWherePermitted) {
    const std::string refused = "LoadSymbols runs without real-time priority: SCHED_FIFO refused: 1";
    for (bool denied : {false, true}) {
        SCOPED_TRACE(denied ? "real-time scheduling denied" : "the process's own permission");
        host().clearLog();
        app().start("VAR_GLOBAL a : INT; b : ARRAY[0..3] OF INT; END_VAR");
        LoaderSelf self;
        observeLoader(self);
        const bool realTime = !denied && RealTimePermitted();
        if (denied) {
            WithoutRealTimePermission([this] { loadSymbols(); });
        } else {
            loadSymbols();
        }
        std::lock_guard<std::mutex> lock(self.mutex);
        ASSERT_TRUE(self.seen);
        EXPECT_STREQ("ReLoadSym", self.name);
        EXPECT_EQ(realTime ? SCHED_FIFO : SCHED_OTHER, self.policy);
        EXPECT_EQ(realTime ? 30 : 0, self.priority);
        EXPECT_EQ(1, CPU_COUNT(&self.cpus));
        EXPECT_TRUE(CPU_ISSET(0, &self.cpus));

        std::vector<std::string> expected = {"LoadSymbols start",
                                             "LoadSymbols end load complete:1, symbols size: 5"};
        if (!realTime) {
            expected.insert(expected.begin(), refused);
        }
        EXPECT_EQ(expected, logTexts());
        for (const SimLogRecord& record : host().logRecords()) {
            EXPECT_EQ(1, record.logClass);
            EXPECT_EQ(0u, record.infoId);
        }
        EXPECT_TRUE(Peer::downloadDone());
        EXPECT_TRUE(manager()->loadCompletedState());
        manager()->EndLoadSymbols();
    }
}

TEST_F(SymbolLoader, PinningFollowsTheAffinityField) {
    app().start("VAR_GLOBAL a : INT; END_VAR");
    cpu_set_t own;
    sched_getaffinity(0, sizeof(own), &own);
    for (int affinity : {1, -1}) {
        LoaderSelf self;
        observeLoader(self);
        Peer::schedAffinity() = affinity;
        loadSymbols();
        std::lock_guard<std::mutex> lock(self.mutex);
        ASSERT_TRUE(self.seen);
        if (affinity >= 0) {
            EXPECT_EQ(1, CPU_COUNT(&self.cpus));
            EXPECT_TRUE(CPU_ISSET(affinity, &self.cpus));
        } else {
            EXPECT_TRUE(CPU_EQUAL(&own, &self.cpus)) << "a negative affinity must not pin";
        }
    }
}

TEST_F(SymbolLoader, BeginTwiceJoinsTheFirstLoaderBeforeTheSecond) {
    app().start("VAR_GLOBAL a : INT; END_VAR");
    loadSymbols();
    loadSymbols();
    EXPECT_NE(0u, static_cast<size_t>(Peer::loaderThread()));
    EXPECT_EQ(2u, endLines());
    // The first thread was joined: no cancel or join failure was logged.
    for (const std::string& text : logTexts()) {
        EXPECT_EQ(std::string::npos, text.find("failed")) << text;
    }
    EXPECT_EQ(1u, Peer::indexSize());
}

TEST_F(SymbolLoader, EndWithoutALoaderOnlyEmptiesTheIndex) {
    app().start("VAR_GLOBAL a : INT; END_VAR");
    loadSymbols();
    manager()->EndLoadSymbols();
    host().clearLog();
    Peer::PublishNode(std::make_shared<CVariable>());
    Peer::downloadDone() = true;
    manager()->EndLoadSymbols();
    EXPECT_TRUE(logTexts().empty());
    EXPECT_TRUE(Peer::downloadDone());  // the flags stay as they are
    EXPECT_EQ(0u, Peer::indexSize());
}

TEST_F(SymbolLoader, StopInTheMiddleOfAWalkDropsItsRootsAndLeavesNoRecordOpen) {
    Peer::expandEveryElement() = true;  // a walk of many host calls, element by element
    app().start(R"(
        TYPE ST_Pair : STRUCT x : INT; y : ARRAY[0..3] OF INT; END_STRUCT END_TYPE
        VAR_GLOBAL
            first : INT;
            big : ARRAY[1..30000] OF ST_Pair;
        END_VAR
    )");
    std::atomic<int> lookups{0};
    app().setBeforeCallHook([&lookups](const char* function) {
        if (std::string(function) == "IecVarAccGetNode3") {
            ++lookups;
        }
    });
    manager()->BeginLoadSymbols();
    ASSERT_TRUE(host().waitForLog("LoadSymbols start", 1, seconds(20)));
    for (int i = 0; i < 20000 && lookups < 1000; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    manager()->EndLoadSymbols();
    EXPECT_EQ(0u, static_cast<size_t>(Peer::loaderThread()));
    EXPECT_TRUE(Peer::roots().empty());
    EXPECT_FALSE(Peer::downloadDone());
    EXPECT_FALSE(manager()->loadCompletedState());
    EXPECT_EQ(0u, Peer::indexSize());
    EXPECT_EQ(0u, app().openVarInfoRecords());

    // The next load indexes its own walk only.
    app().setBeforeCallHook(nullptr);
    app().start("VAR_GLOBAL only : INT; END_VAR");
    loadSymbols();
    EXPECT_EQ(1u, Peer::indexSize());
}

TEST_F(SymbolLoader, CancellationInsideAHostCallReleasesEveryRecord) {
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer does not follow the forced unwind of a thread cancellation: its
    // stack bookkeeping during the unwind aborts the process now and then (a CHECK in
    // its own runtime, not a report about this code). The test runs in the plain and
    // the ThreadSanitizer builds.
    GTEST_SKIP() << "thread cancellation unwinding is not supported by AddressSanitizer";
#endif
    Peer::expandEveryElement() = true;  // a walk of many host calls, element by element
    app().start(R"(
        TYPE ST_Inner : STRUCT v : ARRAY[0..3] OF INT; END_STRUCT END_TYPE
        TYPE ST_Outer : STRUCT inner : ARRAY[0..9] OF ST_Inner; END_STRUCT END_TYPE
        VAR_GLOBAL first : INT; nested : ARRAY[1..100] OF ST_Outer; END_VAR
    )");
    // A host call that is a cancellation point and never returns on its own: the
    // loader can only leave it through the cancellation's forced unwind.
    std::atomic<int> lookups{0};
    std::atomic<bool> parked{false};
    Peer::schedAffinity() = -1;  // the parked loader spins: keep it off the test's processor
    app().setBeforeCallHook([&](const char* function) {
        if (std::string(function) == "IecVarAccGetNode" && ++lookups == 300) {
            parked = true;
            for (;;) {
                pthread_testcancel();
                sched_yield();
            }
        }
    });
    manager()->BeginLoadSymbols();
    for (int i = 0; i < 20000 && !parked; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(parked.load());
    EXPECT_GT(app().openVarInfoRecords(), 2u);  // the walk is deep inside a nested variable
    manager()->EndLoadSymbols();
    EXPECT_EQ(0u, app().openVarInfoRecords());
    EXPECT_TRUE(Peer::roots().empty());
    EXPECT_EQ(0u, static_cast<size_t>(Peer::loaderThread()));
    for (const std::string& text : logTexts()) {
        EXPECT_EQ(std::string::npos, text.find("failed")) << text;
    }
}

TEST_F(SymbolLoader, StopsRepeatedlyAtAnyMoment) {
    Peer::expandEveryElement() = true;  // a walk of many host calls, element by element
    app().start(R"(
        TYPE ST_Pair : STRUCT x : INT; y : ARRAY[0..3] OF LREAL; END_STRUCT END_TYPE
        VAR_GLOBAL big : ARRAY[1..5000] OF ST_Pair; END_VAR
    )");
    for (int round = 0; round < 20; ++round) {
        manager()->BeginLoadSymbols();
        std::this_thread::sleep_for(std::chrono::microseconds(round * 700));
        manager()->EndLoadSymbols();
        ASSERT_EQ(0u, app().openVarInfoRecords()) << "round " << round;
        ASSERT_TRUE(Peer::roots().empty());
    }
    loadSymbols();
    EXPECT_TRUE(Peer::downloadDone());
}

TEST_F(SymbolLoader, LoadEnteredWithAStopRequestDoesNothing) {
    app().start("VAR_GLOBAL a : INT; END_VAR");
    Peer::downloadFinish() = true;
    manager()->LoadSymbols();
    Peer::downloadFinish() = false;
    EXPECT_TRUE(logTexts().empty());
    EXPECT_FALSE(Peer::downloadDone());
}

TEST_F(SymbolLoader, LoadWithoutApplicationNameReportsIncomplete) {
    app().start("VAR_GLOBAL a : INT; END_VAR");
    app().failApplicationName();
    loadSymbols();
    EXPECT_EQ("LoadSymbols end load complete:0, symbols size: 0", logTexts().back());
    EXPECT_TRUE(Peer::downloadDone());
    EXPECT_FALSE(manager()->loadCompletedState());
}

TEST_F(SymbolLoader, FailingThreadCreationRunsNoLoadAndSaysWhy) {
    app().start("VAR_GLOBAL a : INT; END_VAR");
    Peer::schedPriority() = 1000;  // outside the range of SCHED_FIFO
    manager()->BeginLoadSymbols();
    EXPECT_EQ(0u, static_cast<size_t>(Peer::loaderThread()));
    EXPECT_FALSE(Peer::downloadDone());
    std::vector<SimLogRecord> log = host().logRecords();
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("cmp=0x17d22002 class=1 error=0 info=0 text=pthread_create failed: 22", log[0].describe());
}

}  // namespace

// A join that fails leaves a loader that may still run: its roots and its thread stay,
// and the stop request stays set for it. Joining oneself fails with EDEADLK; the
// calling thread does it with cancellation disabled, so the cancel aimed at it waits.
TEST_F(SymbolLoader, FailedJoinKeepsTheLoaderThreadAndItsRoots) {
#if defined(__SANITIZE_THREAD__)
    // The join fails because the thread joins itself; ThreadSanitizer's runtime loses
    // track of that thread and aborts at the next join. Runs plain and under ASan.
    GTEST_SKIP() << "a thread joining itself is not supported by ThreadSanitizer";
#endif
    std::string failure;
    bool threadKept = false;
    size_t rootsKept = 0;
    bool stopKept = false;
    std::thread caller([&] {
        int oldState = 0;
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &oldState);
        Peer::loaderThread() = pthread_self();
        Peer::roots().push_back(std::make_shared<CVariable>());
        manager()->EndLoadSymbols();
        threadKept = pthread_equal(Peer::loaderThread(), pthread_self()) != 0;
        rootsKept = Peer::roots().size();
        stopKept = Peer::downloadFinish();
        // Hand-made state: undone before the thread ends.
        Peer::loaderThread() = 0;
        Peer::roots().clear();
        Peer::downloadFinish() = false;
    });
    caller.join();
    EXPECT_TRUE(threadKept);
    EXPECT_EQ(1u, rootsKept);
    EXPECT_TRUE(stopKept);
    const std::vector<std::string> texts = logTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ("pthread_join failed: 35", texts.back());  // EDEADLK
}

// An online change is taken up by the walk when it loads its next node, and forgotten
// by every new load before its walk begins.
TEST_F(SymbolLoader, OnlineChangeFlagIsClearedByTheWalkAndByTheLoad) {
    app().start("VAR_GLOBAL a : INT; END_VAR");
    manager()->PrepareOnlineChange();
    EXPECT_TRUE(Peer::onlineChange());
    EXPECT_TRUE(Peer::DumpAll());
    EXPECT_FALSE(Peer::onlineChange()) << "the walk";
    Peer::roots().clear();

    app().start("VAR_GLOBAL END_VAR");  // no node: only the load can clear it
    manager()->PrepareOnlineChange();
    Peer::DumpAll();
    EXPECT_TRUE(Peer::onlineChange());
    manager()->LoadSymbols();
    EXPECT_FALSE(Peer::onlineChange()) << "the load";
}
