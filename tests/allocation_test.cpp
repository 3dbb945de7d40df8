// Heap calls of the blocks' operations, counted by this binary's own global operator new
// (and, outside the sanitizers, malloc and its family): a failed allocation at every
// point of a parsing or adding call is a refusal that leaves the document and the
// variables as they were, and a cycle that repeats the last one's shape and sizes makes
// no heap call at all.
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "support/DatatypeSupport.h"
#include "support/ReaderCalls.h"
#include "support/WriterCalls.h"
#include "var/DomDriverMgr.h"
#include "convert/JsonToVariableStates.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZENTRIK_SANITIZED 1
#endif

namespace {

std::atomic<long> s_calls{0};       // heap calls since the counter was last cleared
std::atomic<long> s_failAt{0};      // the call (from 1) that fails; 0: none fails
std::atomic<bool> s_failed{false};  // the armed call failed

// True when this heap call is the one to fail.
bool Fails() {
    const long call = s_calls.fetch_add(1) + 1;
    if (call == s_failAt.load()) {
        s_failed = true;
        return true;
    }
    return false;
}

void* Allocate(size_t size) {
    if (Fails()) {
        return nullptr;
    }
    return std::malloc(size == 0 ? 1 : size);
}

// Runs `call` with the Nth heap call from now failing; true when it did fail.
bool RunFailingAt(long n, const std::function<void()>& call) {
    s_failed = false;
    s_calls = 0;
    s_failAt = n;
    call();
    s_failAt = 0;
    return s_failed;
}

// Heap calls `call` makes.
long HeapCalls(const std::function<void()>& call) {
    s_calls = 0;
    call();
    return s_calls.load();
}

volatile sig_atomic_t s_trapped = 0;  // system calls the child's filter trapped

// A system call the filter trapped: counted, and failed with ENOSYS.
void CountTrappedCall(int, siginfo_t*, void* context) {
    s_trapped = s_trapped + 1;
    static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RAX] = -ENOSYS;
}

// What `times` more runs of cycle do, measured in a child process after two runs there
// (which make the child's own copies of the pages the cycle writes): the system calls
// they make, each trapped by a seccomp filter and counted, and their page faults.
struct CSteadyCounts {
    long installed = 0;  // 1: counted; 0: the kernel refused the filter
    long systemCalls = -1;
    long pageFaults = -1;
};

CSteadyCounts CountInChild(const std::function<void()>& cycle, int times) {
    CSteadyCounts counts;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        ADD_FAILURE() << "no pipe";
        return counts;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        alarm(60);  // a cycle that hangs on a failed call ends the child
        cycle();
        cycle();
        struct sigaction action {};
        action.sa_sigaction = CountTrappedCall;
        action.sa_flags = SA_SIGINFO;
        sigaction(SIGSYS, &action, nullptr);
        // Every call traps but those the count itself makes afterwards.
        sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_getrusage, 4, 0),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_rt_sigreturn, 3, 0),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_write, 2, 0),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_exit_group, 1, 0),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        sock_fprog program{static_cast<unsigned short>(sizeof(filter) / sizeof(filter[0])), filter};
        CSteadyCounts measured;
        rusage before{};
        rusage after{};
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
            prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0) {
            getrusage(RUSAGE_SELF, &before);
            for (int i = 0; i < times; ++i) {
                cycle();
            }
            getrusage(RUSAGE_SELF, &after);
            measured.installed = 1;
            measured.systemCalls = s_trapped;
            measured.pageFaults = (after.ru_minflt - before.ru_minflt) + (after.ru_majflt - before.ru_majflt);
        }
        const ssize_t written = write(pipeEnds[1], &measured, sizeof(measured));
        _exit(written == sizeof(measured) ? 0 : 1);
    }
    close(pipeEnds[1]);
    const ssize_t got = read(pipeEnds[0], &counts, sizeof(counts));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(got == sizeof(counts) && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the counting child failed, status " << status;
    return counts;
}

}  // namespace

// The replacements take their memory from malloc and give it back to free. Where GCC
// inlines a delete into the code of a new (optimised sanitizer builds), it takes the
// pair for a mismatch; it is none.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(size_t size) {
    void* memory = Allocate(size);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, size_t) noexcept { std::free(memory); }

#ifndef ZENTRIK_SANITIZED
// The C allocator's calls are counted too (never failed: the component takes its memory
// through operator new).
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void __libc_free(void*);
extern "C" void* malloc(size_t size) {
    s_calls.fetch_add(1);
    return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) {
    s_calls.fetch_add(1);
    return __libc_calloc(count, size);
}
extern "C" void* realloc(void* memory, size_t size) {
    s_calls.fetch_add(1);
    return __libc_realloc(memory, size);
}
extern "C" void free(void* memory) { __libc_free(memory); }
#endif

namespace {

class AllocationTest : public DatatypeTest {};

// A raw text whose parse takes memory at many points: strings, nesting, numbers of
// every kind.
std::string RawArray() {
    std::string text = "[";
    for (int i = 0; i < 200; ++i) {
        text += std::string(i ? "," : "") + R"({"n":)" + std::to_string(i) + R"(,"s":"text \u00e9 )" +
                std::string(static_cast<size_t>(i), 'x') + R"(","a":[1.5,-2,true,null]})";
    }
    return text + "]";
}

// Each writer add, with a failure injected at every heap call it makes: refused (or done
// when the failure was not reached), and a refused call leaves the document's text as it
// was and the instance usable.
TEST_F(AllocationTest, AFailedAllocationAnywhereInAWriterAddRefusesItAndChangesNothing) {
    // Every argument is made before the failures are armed: only the component's own heap
    // calls are counted.
    std::string raw = RawArray();
    std::string rawObject = R"({"raw":)" + raw + "}";
    std::string longText(100000, 'v');
    std::string key = "k";
    const std::vector<std::pair<const char*, std::function<void(CWriterCalls&)>>> adds = {
        {"AddRawArray",
         [&](CWriterCalls& w) {
             fb_jsonsaxwriter_addrawarray_struct p{w.instance(), &raw[0]};
             fb_jsonsaxwriter__addrawarray(&p);
         }},
        {"AddRawObject",
         [&](CWriterCalls& w) {
             fb_jsonsaxwriter_addrawobject_struct p{w.instance(), &rawObject[0]};
             fb_jsonsaxwriter__addrawobject(&p);
         }},
        {"AddKeyString",
         [&](CWriterCalls& w) {
             fb_jsonsaxwriter_addkeystring_struct p{w.instance(), &key[0], &longText[0]};
             fb_jsonsaxwriter__addkeystring(&p);
         }},
        {"AddBase64",
         [&](CWriterCalls& w) {
             fb_jsonsaxwriter_addbase64_struct p{w.instance(), reinterpret_cast<RTS_IEC_BYTE*>(&longText[0]),
                                                 static_cast<RTS_IEC_DINT>(longText.size())};
             fb_jsonsaxwriter__addbase64(&p);
         }},
        {"StartArray",
         [](CWriterCalls& w) {
             fb_jsonsaxwriter_startarray_struct p{w.instance(), 0};
             fb_jsonsaxwriter__startarray(&p);
         }},
    };
    long injected = 0;
    for (const auto& [name, add] : adds) {
        SCOPED_TRACE(name);
        // Try 0 counts the add's heap calls; try n fails the nth. Every try starts without
        // the memory an instance keeps, so each one makes the calls the count saw.
        long calls = 0;
        for (long n = 0; n <= calls; ++n) {
            CDomDriverMgr::instance()->clear();
            CWriterCalls writer;
            writer.reset();
            writer.addKeyNumber("before", 1);
            writer.addKey("pending");
            // The text of the document before the add, made and kept before the failure.
            const std::string before = writer.text();
            CSimHost::instance().clearLog();
            if (n == 0) {
                calls = HeapCalls([&] { add(writer); });
                EXPECT_NE(before, writer.text());
                continue;
            }
            if (!RunFailingAt(n, [&] { add(writer); })) {
                EXPECT_NE(before, writer.text()) << "heap call " << n << " is not one that can fail";
                continue;
            }
            ++injected;
            EXPECT_EQ(before, writer.text()) << "failure at heap call " << n;
            writer.addNull();  // the pending member is still pending
            EXPECT_EQ(R"({"before":1,"pending":null})", writer.text());
        }
    }
    EXPECT_GT(injected, 0);
    RecordProperty("injected", static_cast<int>(injected));
}

// The schema of a variable in a format with patterns, with a failure injected at each of
// the heap calls a first add makes: refused with the document as it was, or (where kept
// memory spared the call) added.
TEST_F(AllocationTest, AFailedAllocationAnywhereInASchemaAddRefusesIt) {
    struct {
        int64_t big;
        int32_t time;
        int32_t list[3];
    } st{};
    std::vector<VarPtr> elements;
    for (int i = 0; i < 3; ++i) {
        elements.push_back(MakeVar(TYPE3_DINT, 4, &st.list[i], "[" + std::to_string(i) + "]"));
    }
    Publish(MakeVar(TYPE3_USERDEF, sizeof(st), &st, "st",
                    {MakeVar(TYPE3_LINT, 8, &st.big, "big"), MakeVar(TYPE3_TIME, 4, &st.time, "time"),
                     MakeVar(TYPE3_ARRAY, sizeof(st.list), st.list, "list", elements)}));
    const uint32_t format = ZENTRIK_FORMAT_READABLE | ZENTRIK_FORMAT_INT64_STRINGS;
    long calls = 0;
    {
        CWriterCalls writer;
        writer.reset();
        ASSERT_EQ(1u, writer.setFormat(format));
        calls = HeapCalls([&] { EXPECT_EQ(1, CallAddSchemaFromSymbol(writer.instance(), "schema", &st)); });
    }
    long injected = 0;
    for (long n = 1; n <= calls; ++n) {
        CWriterCalls writer;
        writer.reset();
        ASSERT_EQ(1u, writer.setFormat(format));
        writer.addKeyNumber("before", 1);
        const std::string before = writer.text();
        RTS_IEC_BOOL added = 0;
        if (RunFailingAt(n, [&] { added = CallAddSchemaFromSymbol(writer.instance(), "schema", &st); })) {
            ++injected;
            EXPECT_EQ(0, added) << "failure at heap call " << n;
            EXPECT_EQ(before, writer.text()) << "failure at heap call " << n;
        } else {
            EXPECT_EQ(1, added) << n;
            EXPECT_NE(before, writer.text()) << n;
        }
    }
    EXPECT_GE(injected, 10);
    RecordProperty("injected", static_cast<int>(injected));
}

// The changes of a variable, with a failure injected at each heap call a first add makes
// (each try on a thread of its own, which keeps nothing from an earlier try): refused with
// the document and the copy as they were, or added with the copy following the patch.
TEST_F(AllocationTest, AFailedAllocationAnywhereInAChangesAddRefusesItAndKeepsTheCopy) {
    struct {
        int32_t a;
        char s[40];
        int32_t list[3];
    } st{7, "a text longer than a short string", {1, 2, 3}};
    // Every try starts without the memory the component keeps for the writer instance.
    const auto fresh = [&] {
        CDomDriverMgr::instance()->clear();
        std::vector<VarPtr> elements;
        for (int i = 0; i < 3; ++i) {
            elements.push_back(MakeVar(TYPE3_DINT, 4, &st.list[i], "[" + std::to_string(i) + "]"));
        }
        Publish(MakeVar(TYPE3_USERDEF, sizeof(st), &st, "st",
                        {MakeVar(TYPE3_DINT, 4, &st.a, "a"), MakeVar(TYPE3_STRING, 40, st.s, "s"),
                         MakeVar(TYPE3_ARRAY, sizeof(st.list), st.list, "list", elements)}));
    };
    const std::string patch = R"({"st":{"a":7,"s":"a text longer than a short string","list":[1,2,3]}})";
    long injected = 0;
    long calls = 0;
    for (long n = 0; n <= calls; ++n) {
        fresh();
        CWriterCalls writer;
        writer.reset();  // the document's memory is taken by the add
        const std::string before = writer.text();
        std::vector<unsigned char> sent(sizeof(st), 0);
        CChangesResult result{};
        bool failed = false;
        std::thread task([&] {
            const auto add = [&] {
                result = CallAddChangesFromSymbol(writer.instance(), "st", &st, sent.data(),
                                                  static_cast<RTS_IEC_UDINT>(sent.size()), 0, false);
            };
            if (n == 0) {
                calls = HeapCalls(add);
            } else {
                failed = RunFailingAt(n, add);
            }
        });
        task.join();
        if (failed && result.added == 0) {
            ++injected;
            EXPECT_EQ(before, writer.text()) << "failure at heap call " << n;
            EXPECT_EQ(std::vector<unsigned char>(sizeof(st), 0), sent) << "failure at heap call " << n;
            continue;
        }
        EXPECT_EQ(1, result.added) << n;
        EXPECT_EQ(3u + 2u, result.changed) << n;
        EXPECT_EQ(patch, writer.text()) << n;
        EXPECT_EQ(0, std::memcmp(sent.data(), &st, sizeof(st))) << n;
    }
    EXPECT_GE(injected, 2);
    RecordProperty("injected", static_cast<int>(injected));
}

// Parses with a failure at every heap call: the reader's Parse refuses the text and says
// "Out of memory", as a failed allocation, never that the text is no JSON.
TEST_F(AllocationTest, AFailedAllocationAnywhereInAParseRefusesIt) {
    std::string raw = RawArray();
    long injected = 0;
    long calls = 0;
    for (long n = 0; n <= calls; ++n) {
        CDomDriverMgr::instance()->clear();
        CReaderCalls reader;
        fb_jsonreader_parse_struct result{};
        const auto parse = [&] { result = reader.parseRaw(&raw[0], static_cast<RTS_IEC_UDINT>(raw.size())); };
        CSimHost::instance().clearLog();
        if (n == 0) {
            calls = HeapCalls(parse);
        } else if (RunFailingAt(n, parse)) {
            ++injected;
            EXPECT_EQ(0, result.Parse) << "failure at heap call " << n;
            EXPECT_STREQ("Out of memory", result.sError) << "failure at heap call " << n;
            EXPECT_EQ(std::vector<std::string>{"Out of memory"}, logTexts()) << "failure at heap call " << n;
            EXPECT_EQ("<none>", reader.raw(""));
            continue;
        }
        EXPECT_EQ(1, result.Parse) << n;
    }
    EXPECT_GE(injected, 2);
    RecordProperty("injected", static_cast<int>(injected));
}

// JSON to variable through SetSymbolFromJson, its report and the reader's ToVariable, with
// a failure at every heap call each makes: the call is refused with "Out of memory" and
// the variable as it was, every byte of it, or (a failure after the writes, where a kept
// state is handed back) done whole; its result is always given. The text takes every
// kind of memory the walk takes: a structure of more members than are searched one by
// one, given in reverse order, an array of 2 dimensions given nested lists, an unknown
// member (the report's problem) and a large value beside the variable.
TEST_F(AllocationTest, AFailedAllocationAnywhereInJsonToVariableLeavesTheVariableWhole) {
    std::string raw = RawArray();
    struct {
        int16_t a;
        int8_t w[17];
        int16_t grid[2][2];
        char s[16];
    } st;
    std::string members;
    for (int i = 16; i >= 0; --i) {
        members += "\"w" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    }
    std::string text = R"({"other":)" + raw + R"(,"st":{"w":{)" + members +
                       R"("zz":1},"grid":[[1,2],[3,4]],"s":"new","a":7}})";
    const auto image = [&] { return Hex(reinterpret_cast<const unsigned char*>(&st), sizeof(st)); };
    const auto fresh = [&] {
        CDomDriverMgr::instance()->clear();
        std::vector<VarPtr> w, grid;
        for (int i = 0; i < 17; ++i) {
            w.push_back(MakeVar(TYPE3_SINT, 1, &st.w[i], "w" + std::to_string(i)));
        }
        for (int i = 0; i < 4; ++i) {
            grid.push_back(MakeVar(TYPE3_INT, 2, &st.grid[i / 2][i % 2],
                                   "grid[" + std::to_string(i / 2) + "," + std::to_string(i % 2) + "]"));
        }
        VarPtr gridNode = MakeVar(TYPE3_ARRAY, sizeof(st.grid), st.grid, "grid", grid);
        gridNode->bounds_ = std::make_unique<CVariable::CArrayBounds>();
        gridNode->bounds_->count = 2;
        gridNode->bounds_->dimension[0] = {0, 1};
        gridNode->bounds_->dimension[1] = {0, 1};
        gridNode->bounds_->elements = 4;
        Publish(
            MakeVar(TYPE3_USERDEF, sizeof(st), &st, "st",
                    {MakeVar(TYPE3_INT, 2, &st.a, "a"), MakeVar(TYPE3_USERDEF, sizeof(st.w), st.w, "w", w),
                     gridNode, MakeVar(TYPE3_STRING, sizeof(st.s), st.s, "s")}));
        std::memset(&st, 0x7E, sizeof(st));
        std::strcpy(st.s, "keep");
    };
    fresh();
    const std::string before = image();
    ASSERT_EQ(1, CallSetFromJson(text, &st));
    const std::string after = image();
    ASSERT_NE(before, after);

    char path[] = "/st";
    CReaderCalls reader;
    fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct report{};
    fb_jsonreadwritedatatype_setsymbolfromjson_struct plain{};
    fb_jsonreader_tovariable_struct toVariable{};
    const std::vector<std::pair<const char*, std::function<RTS_IEC_BOOL()>>> calls = {
        {"SetSymbolFromJson",
         [&] {
             plain = {nullptr,
                      &text[0],
                      static_cast<RTS_IEC_UDINT>(text.size()),
                      reinterpret_cast<RTS_IEC_UDINT*>(&st),
                      0,
                      7,
                      0};
             fb_jsonreadwritedatatype__setsymbolfromjson(&plain);
             return plain.SetSymbolFromJson;
         }},
        {"SetSymbolFromJsonReport",
         [&] {
             report.pJson = &text[0];
             report.nSize = static_cast<RTS_IEC_UDINT>(text.size());
             report.pData = reinterpret_cast<RTS_IEC_UDINT*>(&st);
             report.SetSymbolFromJsonReport = 7;
             fb_jsonreadwritedatatype__setsymbolfromjsonreport(&report);
             return report.SetSymbolFromJsonReport;
         }},
        {"ToVariable",
         [&] {
             toVariable = {reader.instance(), path, reinterpret_cast<RTS_IEC_UDINT*>(&st), 7};
             fb_jsonreader__tovariable(&toVariable);
             return toVariable.ToVariable;
         }},
    };
    long injected = 0;
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        long count = 0;
        for (long n = 0; n <= count; ++n) {
            fresh();
            ASSERT_EQ(1, reader.parse(text).Parse);
            CSimHost::instance().clearLog();
            RTS_IEC_BOOL result = 7;
            if (n == 0) {
                count = HeapCalls([&] { result = call(); });
            } else if (RunFailingAt(n, [&] { result = call(); })) {
                ++injected;
                if (result == 0) {
                    EXPECT_EQ(std::vector<std::string>{"Out of memory"}, logTexts())
                        << "failure at heap call " << n;
                    EXPECT_EQ(before, image()) << "failure at heap call " << n;
                    if (std::string(name) == "SetSymbolFromJsonReport") {
                        EXPECT_EQ(0u, report.nWritten + report.nSkipped + report.nMissing + report.nUnknown);
                        EXPECT_STREQ("Out of memory", report.sProblem);
                    }
                    continue;
                }
            }
            EXPECT_EQ(1, result) << "heap call " << n;
            EXPECT_EQ(after, image()) << "heap call " << n;
        }
    }
    EXPECT_GE(injected, 10);
    RecordProperty("injected", static_cast<int>(injected));
}

// The same cycle twice more after a first: the second and third make no heap call; and,
// run again and again, no system call and no page fault.
TEST_F(AllocationTest, ASteadyCycleMakesNoHeapCallNoSystemCallAndNoPageFault) {
#ifdef ZENTRIK_SANITIZED
    GTEST_SKIP() << "the sanitizers' allocator is their own";
#endif
    struct {
        int32_t a;
        double d[8];
        char s[32];
        char16_t w[48];
    } st{3, {1.5, 2.5}, "machine state", u"a WSTRING long enough to need the heap \u00e4"};
    std::vector<VarPtr> elements;
    for (int i = 0; i < 8; ++i) {
        elements.push_back(MakeVar(TYPE3_LREAL, 8, &st.d[i], "d[" + std::to_string(i) + "]"));
    }
    Publish(
        MakeVar(TYPE3_USERDEF, sizeof(st), &st, "st",
                {MakeVar(TYPE3_DINT, 4, &st.a, "a"), MakeVar(TYPE3_ARRAY, sizeof(st.d), st.d, "d", elements),
                 MakeVar(TYPE3_STRING, 32, st.s, "s"), MakeVar(TYPE3_WSTRING, sizeof(st.w), st.w, "w")}));
    CWriterCalls writer;
    CWriterCalls datatypeWriter;
    CReaderCalls reader;
    auto sent = st;  // the copy as last sent
    std::vector<char> buffer(1 << 16);
    std::string sKey = "st";
    const std::string received = R"({"id":"A-17","qty":5,"price":9.5,"tags":["a","b"],"ok":true})";
    char path[] = "/tags/1";
    char raw[64];
    std::vector<std::pair<const char*, std::function<void()>>> cycles = {
        {"writer",
         [&] {
             writer.reset();
             fb_jsonsaxwriter_addkeystring_struct s{writer.instance(), &sKey[0], &sKey[0]};
             fb_jsonsaxwriter__addkeystring(&s);
             fb_jsonsaxwriter_addkeynumber_struct n{writer.instance(), &sKey[0], 42};
             fb_jsonsaxwriter__addkeynumber(&n);
             fb_jsonsaxwriter_addkey_struct k{writer.instance(), &sKey[0]};
             fb_jsonsaxwriter__addkey(&k);
             fb_jsonsaxwriter_startarray_struct a{writer.instance(), 0};
             fb_jsonsaxwriter__startarray(&a);
             fb_jsonsaxwriter_addlreal_struct l{writer.instance(), 0.1};
             fb_jsonsaxwriter__addlreal(&l);
             fb_jsonsaxwriter_endarray_struct e{writer.instance(), 0};
             fb_jsonsaxwriter__endarray(&e);
             fb_jsonsaxwriter_getdocumentlength_struct g{writer.instance(), 0, 0};
             fb_jsonsaxwriter__getdocumentlength(&g);
             fb_jsonsaxwriter_copydocument_struct c{writer.instance(), buffer.data(), g.GetDocumentLength + 1,
                                                    0, 0};
             fb_jsonsaxwriter__copydocument(&c);
             fb_jsonsaxwriter_copydocumentpart_struct part{
                 writer.instance(), 3, reinterpret_cast<RTS_IEC_BYTE*>(buffer.data()), 8, 0, 0, 0};
             fb_jsonsaxwriter__copydocumentpart(&part);
         }},
        {"AddJsonKeyValueFromSymbol",
         [&] {
             datatypeWriter.reset();
             CallAddFromSymbol(datatypeWriter.instance(), "st", &st);
             fb_jsonsaxwriter_getdocumentlength_struct g{datatypeWriter.instance(), 0, 0};
             fb_jsonsaxwriter__getdocumentlength(&g);
             fb_jsonsaxwriter_copydocument_struct c{datatypeWriter.instance(), buffer.data(),
                                                    g.GetDocumentLength + 1, 0, 0};
             fb_jsonsaxwriter__copydocument(&c);
         }},
        {"reader",
         [&] {
             std::vector<char>& text = buffer;
             std::memcpy(text.data(), received.c_str(), received.size() + 1);
             fb_jsonreader_parse_struct p{};
             p.pInstance = reader.instance();
             p.pJson = text.data();
             p.nSize = static_cast<RTS_IEC_UDINT>(received.size());
             fb_jsonreader__parse(&p);
             fb_jsonreader_getkind_struct kind{reader.instance(), path, 0};
             fb_jsonreader__getkind(&kind);
             fb_jsonreader_getraw_struct r{reader.instance(), path, raw, sizeof(raw), 0, 0};
             fb_jsonreader__getraw(&r);
             fb_jsonreader_getstring_struct s{reader.instance(), path, raw, sizeof(raw), 0, 0};
             fb_jsonreader__getstring(&s);
         }},
    };
    // The changes of the same variable every cycle: with a leaf changed each time, as a
    // key frame, with nothing changed. The changed leaf takes two values of one digit by
    // turns: a count that grew would write its first three-digit number among the
    // counted cycles, and the code and tables that only such a number uses would then be
    // mapped in for the first time there.
    const struct {
        const char* name;
        bool change;
        bool keyFrame;
    } changeCycles[] = {{"AddJsonChangesFromSymbol", true, false},
                        {"AddJsonChangesFromSymbol, key frame", false, true},
                        {"AddJsonChangesFromSymbol, nothing changed", false, false}};
    for (const auto& c : changeCycles) {
        cycles.push_back({c.name, [&, c] {
                              st.a ^= c.change ? 1 : 0;
                              datatypeWriter.reset();
                              CallAddChangesFromSymbol(datatypeWriter.instance(), "st", &st, &sent,
                                                       sizeof(sent), 0.5, c.keyFrame);
                              fb_jsonsaxwriter_getdocumentlength_struct g{datatypeWriter.instance(), 0, 0};
                              fb_jsonsaxwriter__getdocumentlength(&g);
                              fb_jsonsaxwriter_copydocument_struct copy{
                                  datatypeWriter.instance(), buffer.data(), g.GetDocumentLength + 1, 0, 0};
                              fb_jsonsaxwriter__copydocument(&copy);
                          }});
    }
    // JSON to variable and its report: texts that write every leaf, that miss a member and
    // name an unknown one, and that give values of the wrong kind and length, each
    // repeated (the report's problem and path outgrow a short string's inline room). A
    // refused text is left out: the simulated host's log takes memory for its entry.
    std::string all = R"({"st":{"a":4,"d":[1,2,3,4,5,6,7,8],"s":"a state longer than sixteen bytes"}})";
    std::string partial = R"({"st":{"d":[0.5,1,2,3,4,5,6,7],"unknown member name":1}})";
    std::string wrong = R"({"st":{"a":"not a number at all, longer than sixteen","d":[1,2]}})";
    for (std::string* text : {&all, &partial, &wrong}) {
        cycles.push_back({"SetSymbolFromJson", [&st, text] {
                              fb_jsonreadwritedatatype_setsymbolfromjson_struct p{};
                              p.pJson = &(*text)[0];
                              p.nSize = static_cast<RTS_IEC_UDINT>(text->size());
                              p.pData = reinterpret_cast<RTS_IEC_UDINT*>(&st);
                              fb_jsonreadwritedatatype__setsymbolfromjson(&p);
                          }});
        cycles.push_back({"SetSymbolFromJsonReport", [&st, text] {
                              fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct p{};
                              p.pJson = &(*text)[0];
                              p.nSize = static_cast<RTS_IEC_UDINT>(text->size());
                              p.pData = reinterpret_cast<RTS_IEC_UDINT*>(&st);
                              fb_jsonreadwritedatatype__setsymbolfromjsonreport(&p);
                          }});
    }
    for (size_t i = 0; i < cycles.size(); ++i) {
        const auto& [name, cycle] = cycles[i];
        SCOPED_TRACE(std::string(name) + " (cycle " + std::to_string(i) + ")");
        cycle();  // the first cycle takes the memory
        cycle();  // the reader's spare document is made here
        EXPECT_EQ(0, HeapCalls(cycle));
        EXPECT_EQ(0, HeapCalls(cycle));
        const CSteadyCounts counts = CountInChild(cycle, 100);
        if (counts.installed == 0) {
            GTEST_SKIP() << "the kernel refused the seccomp filter that counts system calls";
        }
        EXPECT_EQ(0, counts.systemCalls);
        EXPECT_EQ(0, counts.pageFaults);
    }
}

// A state given back is the next call's, with what it holds; one taken before a clear is
// not kept when it comes back, and a clear gives up the kept ones.
TEST(JsonToVariableStates, KeepsGivenStatesUntilCleared) {
    CJsonToVariableStates states;
    std::unique_ptr<CJsonToVariableState> first = states.take();
    first->report.written = 7;
    states.give(std::move(first));
    std::unique_ptr<CJsonToVariableState> again = states.take();
    EXPECT_EQ(7u, again->report.written);
    std::unique_ptr<CJsonToVariableState> second = states.take();  // one is in use: a new one
    EXPECT_EQ(0u, second->report.written);
    second->report.written = 9;
    states.clear();
    states.give(std::move(again));  // taken before the clear
    EXPECT_EQ(0u, states.take()->report.written);
    states.give(std::move(second));
    EXPECT_EQ(0u, states.take()->report.written);
    std::unique_ptr<CJsonToVariableState> kept = states.take();
    kept->report.written = 3;
    states.give(std::move(kept));
    states.clear();
    EXPECT_EQ(0u, states.take()->report.written);
}

}  // namespace
