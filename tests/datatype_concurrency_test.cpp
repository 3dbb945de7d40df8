// Several IEC tasks converting while the address index is emptied and refilled, as a
// restarted symbol load does: a call sees the whole index of one load or is refused.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/ApplicationFixture.h"
#include "support/DatatypeSupport.h"
#include "support/WriterCalls.h"
#include "var/DomDriverMgr.h"

namespace {

struct Source {
    int32_t id;
    char name[12];
};

struct Target {
    int32_t id;
    char name[12];
};

VarPtr SourceTree(Source& s) {
    return MakeVar(TYPE3_USERDEF, sizeof(s), &s, "src",
                   {MakeVar(TYPE3_DINT, 4, &s.id, "id"), MakeVar(TYPE3_STRING, 12, s.name, "name")});
}

VarPtr TargetTree(Target& t) {
    return MakeVar(TYPE3_USERDEF, sizeof(t), &t, "dst",
                   {MakeVar(TYPE3_DINT, 4, &t.id, "id"), MakeVar(TYPE3_STRING, 12, t.name, "name")});
}

// One load: the index taken away with the flag, then the roots published one by one
// (each publication replaces the index whole and raises the flag).
void Reload(const std::vector<VarPtr>& roots) {
    CDomDriverMgr::instance()->index().Withdraw();
    for (const VarPtr& root : roots) {
        Publish(root);
    }
}

size_t MemberCount(const std::string& text, const std::string& key) {
    size_t count = 0;
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace

TEST_F(DatatypeTest, TasksConvertWhileTheIndexIsReloaded) {
    Source source{42, "pump"};
    // Each writing task has a variable of its own: calls on different variables run side
    // by side, and two calls writing one variable at once would interleave their members
    // as any two unsynchronised writers of it do.
    Target targets[2] = {{0, ""}, {0, ""}};
    const std::vector<VarPtr> roots = {SourceTree(source), TargetTree(targets[0]), TargetTree(targets[1])};
    Reload(roots);

    fb_jsonsaxwriter_struct writers[2]{};
    for (auto& writer : writers) {
        CreateWriterDocument(&writer);
    }
    const int kCalls = 2000;  // per task
    std::atomic<int> running{4};
    std::atomic<int> added[2] = {{0}, {0}};
    std::atomic<int> written[2] = {{0}, {0}};
    std::atomic<int> bad{0};

    std::thread loader([&] {
        while (running > 0) {
            Reload(roots);
            std::this_thread::sleep_for(std::chrono::microseconds(50));  // let the tasks in
        }
    });
    std::vector<std::thread> tasks;
    for (int t = 0; t < 2; ++t) {
        tasks.emplace_back([&, t] {
            for (int call = 0; call < kCalls; ++call) {
                const RTS_IEC_BOOL result = CallAddFromSymbol(&writers[t], "src", &source);
                added[t] += result;
                bad += result > 1;
            }
            --running;
        });
    }
    for (int t = 0; t < 2; ++t) {
        tasks.emplace_back([&, t] {
            const std::string text = R"({"dst":{"id":)" + std::to_string(100 + t) + R"(,"name":"task)" +
                                     std::to_string(t) + R"("}})";
            for (int call = 0; call < kCalls; ++call) {
                const RTS_IEC_BOOL result = CallSetFromJson(text, &targets[t]);
                written[t] += result;
                bad += result > 1;
            }
            --running;
        });
    }
    loader.join();
    for (std::thread& task : tasks) {
        task.join();
    }

    EXPECT_EQ(0, bad.load());
    // Every successful add appended one whole member to its own writer's document.
    for (int t = 0; t < 2; ++t) {
        const std::string text = WriterDocumentText(&writers[t]);
        EXPECT_EQ(static_cast<size_t>(added[t]), MemberCount(text, R"("src":{"id":42,"name":"pump"})"));
        EXPECT_EQ(static_cast<size_t>(added[t]), MemberCount(text, R"("src")"));
    }
    for (int t = 0; t < 2; ++t) {
        if (written[t] > 0) {
            EXPECT_EQ(100 + t, targets[t].id);
            EXPECT_EQ("task" + std::to_string(t), std::string(targets[t].name));
        }
    }
    // The only refusals a reload can cause.
    const std::set<std::string> allowed = {RefusalRecord("Variables are being loaded. Please execute later."),
                                           RefusalRecord("Variable does not exist")};
    for (const std::string& record : LogRecords()) {
        EXPECT_EQ(1u, allowed.count(record)) << record;
    }
    // With the load complete again, both directions succeed.
    host().clearLog();
    EXPECT_EQ(1, CallAddFromSymbol(&writers[0], "src", &source));
    EXPECT_EQ(1, CallSetFromJson(R"({"dst":{"id":7}})", &targets[0]));
    EXPECT_EQ(7, targets[0].id);
    EXPECT_TRUE(LogRecords().empty());
}

namespace {

class ReloadDuringCalls : public ApplicationTest {};

}  // namespace

// The real loader thread empties and refills the index, and clear() empties it, while
// tasks convert: calls hold the index shared and never see a node freed under them.
TEST_F(ReloadDuringCalls, TasksConvertWhileTheLoaderRunsAgainAndAgain) {
    app().start(R"(
        TYPE ST_Rec : STRUCT id : DINT; name : STRING(11); vals : ARRAY[0..3] OF INT; END_STRUCT END_TYPE
        VAR_GLOBAL src : ST_Rec; dst : ST_Rec; rep : ST_Rec; END_VAR
    )");
    loadSymbols();
    void* src = app().address("App.Globals.src");
    void* dst = app().address("App.Globals.dst");
    void* rep = app().address("App.Globals.rep");  // each writing task has its own variable
    CWriterCalls writers[2];
    for (CWriterCalls& writer : writers) {
        ASSERT_EQ(1u, writer.reset());
    }
    std::atomic<int> running{4};
    std::atomic<int> bad{0};
    std::vector<std::thread> tasks;
    for (int t = 0; t < 2; ++t) {
        tasks.emplace_back([&, t] {
            for (int call = 0; call < 300; ++call) {
                bad += CallAddFromSymbol(writers[t].instance(), "src", src) > 1;
            }
            --running;
        });
    }
    tasks.emplace_back([&] {
        for (int call = 0; call < 300; ++call) {
            bad += CallSetFromJson(R"({"dst":{"id":5,"name":"x","vals":[1,2,3,4]}})", dst) > 1;
        }
        --running;
    });
    tasks.emplace_back([&] {
        std::string text = R"({"rep":{"id":6,"vals":[1,2]}})";
        for (int call = 0; call < 300; ++call) {
            fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct record{};
            record.pJson = &text[0];
            record.nSize = static_cast<RTS_IEC_UDINT>(text.size());
            record.pData = static_cast<RTS_IEC_UDINT*>(rep);
            fb_jsonreadwritedatatype__setsymbolfromjsonreport(&record);
            const std::string problem(record.sProblem);
            if (record.SetSymbolFromJsonReport == 1) {
                bad += problem != "rep.vals: 2 elements given, 4 expected" || record.nWritten != 1 ||
                       record.nSkipped != 4 || record.nMissing != 1;
            } else {
                bad += problem != "Variable does not exist" &&
                       problem != "Variables are being loaded. Please execute later.";
            }
        }
        --running;
    });
    int loads = 0;
    while (running > 0) {
        manager()->BeginLoadSymbols();
        if (++loads % 4 == 0) {
            manager()->EndLoadSymbols();
            manager()->clear();
            for (CWriterCalls& writer : writers) {
                writer.reset();
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (std::thread& task : tasks) {
        task.join();
    }
    EXPECT_EQ(0, bad.load());
    // The loop may have left a load running: stopped first, so that the load below is the
    // one whose end is awaited (a running load could end and be counted in its place).
    manager()->EndLoadSymbols();
    loadSymbols();
    host().clearLog();
    EXPECT_EQ(1, CallSetFromJson(R"({"dst":{"id":9}})", dst));
    int32_t id = 0;
    std::memcpy(&id, dst, sizeof(id));
    EXPECT_EQ(9, id);
}

namespace {

const char* const kReloadedApplication = R"(
    TYPE ST_Big : STRUCT x : DINT; y : DINT; END_STRUCT END_TYPE
    VAR_GLOBAL big : ST_Big; arr : ARRAY[1..3] OF ST_Big; END_VAR
)";

// What a call on a variable gives: "refused: " and the log text (only "refused" when the
// log is shared with other tasks), or the JSON text of the variable
// (AddJsonKeyValueFromSymbol), or "written" (SetSymbolFromJson, the value read back).
class CReloadProbe {
   public:
    CReloadProbe(CSimApplication& app, const std::string& name, bool readsLog = true)
        : name_(name), readsLog_(readsLog) {
        address_ = app.address("App.Globals." + name);
        int32_t x = 11;
        int32_t y = 22;
        std::memcpy(address_, &x, sizeof(x));
        std::memcpy(address_ + 4, &y, sizeof(y));
    }

    std::string add() {
        CWriterCalls writer;
        writer.reset();
        clearLog();
        if (CallAddFromSymbol(writer.instance(), "v", address_) != 1) {
            return refusal();
        }
        return writer.text();
    }

    std::string set() {
        clearLog();
        if (CallSetFromJson("{\"" + name_ + "\":{\"x\":11,\"y\":22}}", address_) != 1) {
            return refusal();
        }
        int32_t values[2] = {0, 0};
        std::memcpy(values, address_, sizeof(values));
        return values[0] == 11 && values[1] == 22 ? "written" : "not written";
    }

   private:
    void clearLog() {
        if (readsLog_) {
            CSimHost::instance().clearLog();
        }
    }
    std::string refusal() {
        if (!readsLog_) {
            return "refused: ";
        }
        const std::vector<std::string> texts = CSimHost::instance().logTexts();
        return "refused: " + (texts.empty() ? std::string("(no log)") : texts.back());
    }

    std::string name_;
    bool readsLog_;
    uint8_t* address_;
};

const char* const kComplete = R"({"v":{"x":11,"y":22}})";
const std::string kLoadingText = "Variables are being loaded. Please execute later.";
const std::string kLoading = "refused: " + kLoadingText;

}  // namespace

// A load paused at every step the host sees, each host call of its walk and each of its
// log lines: calls on a structure and on an element at that moment are refused as
// loading until the new index is published whole, and see all of it from then on; never
// a part (the first member at the structure's address, no variable at all).
TEST_F(ReloadDuringCalls, ACallSeesTheWholeIndexOfOneLoadOrIsRefused) {
    app().start(kReloadedApplication);
    loadSymbols();
    std::vector<CReloadProbe> probes = {CReloadProbe(app(), "big"), CReloadProbe(app(), "arr[2]")};
    for (CReloadProbe& probe : probes) {
        ASSERT_EQ(kComplete, probe.add());
        ASSERT_EQ("written", probe.set());
    }

    // The hooks run on the loader thread, between two steps of its load: the calls they
    // make come exactly there.
    std::vector<std::string> seen;
    auto callAt = [&](const std::string& step) {
        for (CReloadProbe& probe : probes) {
            seen.push_back(step + ": " + probe.add());
            seen.push_back(step + ": " + probe.set());
        }
    };
    // The hooks run on the loader thread: the start line comes once the previous index is
    // taken away, the end line once the new one is published.
    std::atomic<bool> ended{false};
    host().setLogHook([&](const SimLogRecord& record) {
        if (record.text == "LoadSymbols start") {
            callAt("emptied");
        } else if (record.text.rfind("LoadSymbols end", 0) == 0) {
            callAt("published");
            ended = true;
        }
    });
    app().setBeforeCallHook([&](const char* function) { callAt(std::string("walk ") + function); });
    host().clearLog();
    manager()->BeginLoadSymbols();
    for (int i = 0; i < 60000 && !ended; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    manager()->EndLoadSymbols();  // joins the loader: every hook has run
    host().setLogHook(nullptr);
    app().setBeforeCallHook(nullptr);
    ASSERT_TRUE(ended.load()) << "the load did not end";

    size_t walkSteps = 0;
    for (const std::string& outcome : seen) {
        const std::string step = outcome.substr(0, outcome.find(": "));
        const std::string result = outcome.substr(outcome.find(": ") + 2);
        walkSteps += step.rfind("walk ", 0) == 0 ? 1 : 0;
        if (step == "published") {
            EXPECT_TRUE(result == kComplete || result == "written") << outcome;
        } else {
            EXPECT_EQ(kLoading, result) << outcome;
        }
    }
    EXPECT_GT(walkSteps, 10u) << "the calls ran inside the walk";
    EXPECT_EQ(4u, std::count_if(seen.begin(), seen.end(),
                                [](const std::string& o) { return o.rfind("published: ", 0) == 0; }));
}

// The real loader thread loads again and again while tasks read and write a structure
// and an element of an array: every call gives the whole value or is refused as loading.
TEST_F(ReloadDuringCalls, ReloadsWhileTasksCallGiveWholeValuesOrLoadingRefusals) {
    app().start(kReloadedApplication);
    loadSymbols();
    CReloadProbe big(app(), "big", false);
    CReloadProbe element(app(), "arr[3]", false);
    std::atomic<bool> loading{true};
    std::atomic<int> whole{0};
    std::atomic<int> refused{0};
    std::atomic<int> bad{0};
    auto classify = [&](const std::string& result, const char* expected) {
        if (result == expected) {
            ++whole;
        } else if (result.rfind("refused: ", 0) == 0) {
            ++refused;  // the log is shared by all tasks: its texts are checked at the end
        } else {
            ++bad;
        }
    };
    host().clearLog();
    std::vector<std::thread> tasks;
    for (CReloadProbe* probe : {&big, &element}) {
        tasks.emplace_back([&, probe] {
            while (loading) {
                classify(probe->add(), kComplete);
                classify(probe->set(), "written");
            }
        });
    }
    for (int load = 0; load < 40; ++load) {
        manager()->BeginLoadSymbols();  // stops the previous loader, done or not
        std::this_thread::sleep_for(std::chrono::microseconds(200 * (load % 8)));
    }
    loadSymbols();
    loading = false;
    for (std::thread& task : tasks) {
        task.join();
    }
    EXPECT_EQ(0, bad.load());
    EXPECT_GT(whole.load(), 0);
    for (const std::string& text : logTexts()) {
        EXPECT_TRUE(text.rfind("LoadSymbols ", 0) == 0 || text == kLoadingText ||
                    text.find("SCHED_FIFO refused") != std::string::npos)
            << text;
    }
}

// A call holds the index shared: another task's call on another variable goes through
// while it is held, and so does the reporting call.
TEST_F(DatatypeTest, CallsDoNotWaitForEachOtherOnTheIndex) {
    Source source{42, "pump"};
    Target target{0, ""};
    Publish(SourceTree(source));
    Publish(TargetTree(target));
    // A call in flight on another task: it holds the index shared until released.
    std::promise<void> holding;
    std::promise<void> release;
    std::thread inFlight([&] {
        CDomDriverMgr::instance()->index().Inspect(&source, [&](CVariableView) {
            holding.set_value();
            release.get_future().wait();
        });
    });
    holding.get_future().wait();
    std::promise<std::pair<int, int>> results;
    std::future<std::pair<int, int>> done = results.get_future();
    std::thread task([&] {
        const int set = CallSetFromJson(R"({"dst":{"id":7}})", &target);
        const int add = CallAddFromSymbol(&writer_, "src", &source);
        results.set_value({set, add});
    });
    const bool finished = done.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    release.set_value();
    inFlight.join();
    task.join();
    ASSERT_TRUE(finished) << "a call waited for another call's hold of the index";
    EXPECT_EQ(std::make_pair(1, 1), done.get());
    EXPECT_EQ(7, target.id);
}

namespace {

class WholeValues : public ApplicationTest {};

// Member s of the text last written, as a JSON member value: all one letter or torn.
bool AllOneLetter(const std::string& text) {
    const size_t open = text.find(":\"");
    const size_t close = text.rfind('"');
    if (open == std::string::npos || close <= open + 2) {
        return false;
    }
    const char letter = text[open + 2];
    return text.find_first_not_of(letter, open + 2) == close;
}

}  // namespace

// One task writes a whole structure again and again with texts of all 'a' and all 'b';
// another reads out one member of it. The member shares the lock of the structure that
// holds it, so every value read is whole: never part 'a' and part 'b'. (Bounded by a
// count of reads, not by time; under ThreadSanitizer an unguarded read is a race too.)
TEST_F(WholeValues, AMemberReadWhileItsStructureIsWrittenIsNeverTorn) {
    app().start(R"(
        TYPE ST_Big : STRUCT a : DINT; pad : STRING(4096); s : STRING(60000); END_STRUCT END_TYPE
        VAR_GLOBAL big : ST_Big; END_VAR
    )");
    loadSymbols();
    void* big = app().address("App.Globals.big");
    void* member = app().address("App.Globals.big.s");
    ASSERT_NE(big, member);
    const std::string texts[2] = {R"({"big":{"a":1,"pad":"","s":")" + std::string(60000, 'a') + "\"}}",
                                  R"({"big":{"a":2,"pad":"","s":")" + std::string(60000, 'b') + "\"}}"};
    ASSERT_EQ(1, CallSetFromJson(texts[0], big));
    std::atomic<bool> reading{true};
    std::atomic<int> writes{0};
    std::thread writer([&] {
        for (int i = 0; reading.load(); ++i) {
            writes += CallSetFromJson(texts[i % 2], big);
        }
    });
    const int kReads = 600;
    int read = 0;
    int torn = 0;
    CWriterCalls out;
    for (int i = 0; i < kReads; ++i) {
        out.reset();
        if (CallAddFromSymbol(out.instance(), "s", member) != 1) {
            continue;
        }
        ++read;
        torn += AllOneLetter(out.text()) ? 0 : 1;
    }
    reading = false;
    writer.join();
    std::printf("torn values: %d in %d reads beside %d writes\n", torn, read, writes.load());
    EXPECT_EQ(kReads, read);
    EXPECT_GT(writes.load(), 0);
    EXPECT_EQ(0, torn);
}
