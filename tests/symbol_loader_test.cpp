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
#include "support/LargeApplications.h"

namespace {

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
        manager()->loader().SetScheduling(30, 0);
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
        EXPECT_TRUE(loader().indexReady);
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
        manager()->loader().SetScheduling(30, affinity);
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
    EXPECT_TRUE(loader().threadStarted);
    EXPECT_EQ(2u, endLines());
    // The first thread was joined: no cancel or join failure was logged.
    for (const std::string& text : logTexts()) {
        EXPECT_EQ(std::string::npos, text.find("failed")) << text;
    }
    EXPECT_EQ(1u, index().Size());
}

TEST_F(SymbolLoader, EndWithoutALoaderOnlyEmptiesTheIndex) {
    app().start("VAR_GLOBAL a : INT; END_VAR");
    loadSymbols();
    manager()->EndLoadSymbols();
    host().clearLog();
    index().Publish(std::make_shared<CVariable>());
    manager()->EndLoadSymbols();
    EXPECT_TRUE(logTexts().empty());
    EXPECT_TRUE(loader().indexReady);  // the flags stay as they are
    EXPECT_EQ(0u, index().Size());
}

// A stop requested while the walk is inside a host call in the middle of its second
// root: no further host call, nothing published, the roots made so far dropped, every
// record released; the next load indexes its own walk only.
TEST_F(SymbolLoader, StopInTheMiddleOfAWalkDropsItsRootsAndLeavesNoRecordOpen) {
    app().start(ManyMembersDeclarations(2));
    std::atomic<int> lookups{0};
    std::atomic<bool> reached{false};
    std::atomic<size_t> rootsAtStop{0};
    app().setBeforeCallHook([&](const char* function) {
        if (std::string(function) == "IecVarAccGetNode" && ++lookups == 12000) {
            rootsAtStop = manager()->loader().Status().roots;
            reached = true;
            while (!manager()->loader().Status().stopRequested) {
                std::this_thread::yield();
            }
        }
    });
    manager()->BeginLoadSymbols();
    for (int i = 0; i < 60000 && !reached; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(reached.load());
    manager()->EndLoadSymbols();
    EXPECT_EQ(1u, rootsAtStop.load()) << "the first root of 10,101 nodes was made";
    EXPECT_EQ(12000, lookups.load()) << "a host call after the stop";
    const CSymbolLoader::CStatus status = loader();
    EXPECT_FALSE(status.threadStarted);
    EXPECT_FALSE(status.stopRequested);
    EXPECT_EQ(0u, status.roots);
    EXPECT_FALSE(status.indexReady);
    EXPECT_FALSE(manager()->loadCompletedState());
    EXPECT_EQ(0u, index().Size());
    EXPECT_EQ(0u, app().openVarInfoRecords());
    EXPECT_EQ(0u, endLines()) << "a stopped load logs no end line";

    app().setBeforeCallHook(nullptr);
    app().start("VAR_GLOBAL only : INT; END_VAR");
    loadSymbols();
    EXPECT_EQ(1u, index().Size());
}

TEST_F(SymbolLoader, CancellationInsideAHostCallReleasesEveryRecord) {
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer does not follow the forced unwind of a thread cancellation: its
    // stack bookkeeping during the unwind aborts the process now and then (a CHECK in
    // its own runtime, not a report about this code). The test runs in the plain and
    // the ThreadSanitizer builds.
    GTEST_SKIP() << "thread cancellation unwinding is not supported by AddressSanitizer";
#endif
    app().start("VAR_GLOBAL first : INT; END_VAR\n" + ManyMembersDeclarations(1));
    // A host call that is a cancellation point and never returns on its own: the
    // loader can only leave it through the cancellation's forced unwind.
    std::atomic<int> lookups{0};
    std::atomic<bool> parked{false};
    manager()->loader().SetScheduling(30, -1);  // the parked loader spins: keep it off the test's processor
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
    EXPECT_GE(app().openVarInfoRecords(), 2u);  // the walk is inside a nested variable
    manager()->EndLoadSymbols();
    EXPECT_EQ(0u, app().openVarInfoRecords());
    EXPECT_EQ(0u, loader().roots);
    EXPECT_FALSE(loader().threadStarted);
    for (const std::string& text : logTexts()) {
        EXPECT_EQ(std::string::npos, text.find("failed")) << text;
    }
}

TEST_F(SymbolLoader, StopsRepeatedlyAtAnyMoment) {
    app().start(ManyMembersDeclarations(2));  // a walk of many host calls
    for (int round = 0; round < 20; ++round) {
        manager()->BeginLoadSymbols();
        std::this_thread::sleep_for(std::chrono::microseconds(round * 700));
        manager()->EndLoadSymbols();
        ASSERT_EQ(0u, app().openVarInfoRecords()) << "round " << round;
        ASSERT_EQ(0u, loader().roots);
    }
    loadSymbols();
    EXPECT_TRUE(loader().indexReady);
}

TEST_F(SymbolLoader, LoadWithoutApplicationNameReportsIncomplete) {
    app().start("VAR_GLOBAL a : INT; END_VAR");
    app().failApplicationName();
    loadSymbols();
    EXPECT_EQ("LoadSymbols end load complete:0, symbols size: 0", logTexts().back());
    EXPECT_TRUE(loader().indexReady);
    EXPECT_TRUE(roots().empty());
    EXPECT_FALSE(manager()->loadCompletedState());
}

TEST_F(SymbolLoader, FailingThreadCreationRunsNoLoadAndSaysWhy) {
    app().start("VAR_GLOBAL a : INT; END_VAR");
    manager()->loader().SetScheduling(1000, 0);  // outside the range of SCHED_FIFO
    manager()->BeginLoadSymbols();
    EXPECT_FALSE(loader().threadStarted);
    EXPECT_FALSE(loader().indexReady);
    std::vector<SimLogRecord> log = host().logRecords();
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("cmp=0x17d22002 class=1 error=0 info=0 text=pthread_create failed: 22", log[0].describe());
}

}  // namespace

// A join that fails leaves a loader that may still run: its roots and its thread stay,
// and the stop request stays set for it. The loader thread stops its own load from a
// host call (as a host's event handler running on it would): joining itself fails with
// EDEADLK; it does so with cancellation disabled, so the cancel aimed at it waits.
TEST_F(SymbolLoader, FailedJoinKeepsTheLoaderThreadAndItsRoots) {
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer's runtime loses track of a thread that joins itself and aborts at
    // the next join. Runs plain and under ASan.
    GTEST_SKIP() << "a thread joining itself is not supported by ThreadSanitizer";
#endif
    app().start("VAR_GLOBAL first : INT; second : INT; END_VAR");
    std::atomic<bool> begun{false};
    std::atomic<bool> stopped{false};
    CSymbolLoader::CStatus during;
    app().setBeforeCallHook([&](const char* function) {
        // Once the first root is made, at the lookup of the second.
        if (stopped || std::string(function) != "IecVarAccGetNode3" || loader().roots != 1) {
            return;
        }
        while (!begun) {
            std::this_thread::yield();  // BeginLoadSymbols has noted the thread
        }
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);  // for the rest of the thread
        manager()->EndLoadSymbols();
        during = loader();
        stopped = true;
    });
    manager()->BeginLoadSymbols();
    begun = true;
    for (int i = 0; i < 60000 && !stopped; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(stopped.load());
    const std::vector<std::string> texts = logTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ("pthread_join failed: 35", texts.back());  // EDEADLK
    EXPECT_TRUE(during.threadStarted);
    EXPECT_EQ(1u, during.roots);
    EXPECT_TRUE(during.stopRequested);
    EXPECT_FALSE(during.indexReady);
    // The loader then ends its stopped load; a stop from the event path joins it.
    manager()->EndLoadSymbols();
    EXPECT_FALSE(loader().threadStarted);
    EXPECT_EQ(0u, loader().roots);
    EXPECT_FALSE(loader().stopRequested);
}

// An online change is taken up by the walk when it loads its next node, and forgotten
// by every new load before its walk begins.
TEST_F(SymbolLoader, OnlineChangeFlagIsClearedByTheWalkAndByTheLoad) {
    const struct {
        const char* what;
        const char* declarations;
        const char* announcedAt;  // the host call before which it is announced; null: before the load
        bool pending;             // still announced after the load
    } cases[] = {
        {"before the load", "VAR_GLOBAL a : INT; END_VAR", nullptr, false},
        {"during the walk, a node follows", "VAR_GLOBAL a : INT; b : INT; END_VAR", "IecVarAccGetNode3",
         false},
        {"after the last node", "VAR_GLOBAL a : INT; END_VAR", "IecVarAccGetNodeName", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        app().start(c.declarations);
        std::atomic<bool> announced{false};
        if (c.announcedAt == nullptr) {
            manager()->PrepareOnlineChange();
            EXPECT_TRUE(loader().onlineChange);
        } else {
            const std::string at = c.announcedAt;
            app().setBeforeCallHook([&, at](const char* function) {
                if (!announced && at == function) {
                    announced = true;
                    manager()->PrepareOnlineChange();
                }
            });
        }
        loadSymbols();
        app().setBeforeCallHook(nullptr);
        EXPECT_EQ(c.pending, loader().onlineChange);
        manager()->EndLoadSymbols();
    }
}
