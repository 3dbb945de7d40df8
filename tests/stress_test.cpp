// Stress: eight IEC tasks call every method of the writer block (on four instances) and
// of the datatype block through the external functions, while a host thread posts the
// reset and download events that start, stop and restart symbol loads of an application
// of 100000 nodes. Bounded in time and in calls; a watchdog aborts the process with a
// message when a task, the host thread or the loader stops making progress, so a stuck
// loader or a deadlock fails the test instead of hanging it.
//
// What must hold:
// - Every whole text a task reads, and every document at the end, parses as JSON.
// - No key-value add is lost. Every key-value add (the five key-value methods, key-null
//   and variable to JSON) carries a key of its own: a letter, the task and a sequence
//   number. The document an instance holds at the end was made at one moment, its last
//   reset; a key-value add appends while the document exists, so of one task's adds to
//   one instance exactly those after that moment are in it: a suffix of the task's adds
//   in call order. A missing member before a present one of the same task fails, so does
//   a member in another instance's document, a member twice, a member whose value is not
//   the one added, and a variable-to-JSON call that returned FALSE yet left a member.
//   Key-then-value pairs of several tasks on one instance share its pending member;
//   their members only have to be well formed. Nesting runs on an instance of each
//   task's own and must give its exact text.
// - Variable-to-JSON output is whole: an array element gives its own values, the shared
//   structure one of the values some task wrote whole (JSON to variable holds the index
//   lock for the whole write, variable to JSON for the whole read).
// - Every JSON-to-variable call with a malformed text returns FALSE, and the log holds
//   exactly one "Json error" for each of them.
// - After every stop the loader has been joined and no variable-information record is
//   open; the host saw no misuse of its records; the log holds only the refusals and
//   event and loader lines that concurrency explains.
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "SimEventManager.h"
#include "ZentrikAppEvents.h"
#include "frame/HostImports.h"
#include "support/ApplicationFixture.h"
#include "support/LargeApplications.h"
#include "support/WriterCalls.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr int kTasks = 8;
constexpr int kWriters = 4;
// The tasks stop at whichever bound comes first. The sanitizers slow every call down
// several times, so their builds make fewer calls in about the same time.
constexpr auto kRunTime = seconds(3);
constexpr uint32_t kMaxCallsPerTask = kSanitized ? 40000 : 400000;
// A load of the whole application takes well under a second plainly and a few seconds
// under ThreadSanitizer; far beyond that the loader is stuck.
constexpr auto kLoadTimeout = seconds(60);
constexpr auto kHangLimit = seconds(240);
constexpr size_t kMaxFailuresPerThread = 5;

constexpr int kBigElements = 12499;  // 8 nodes each: element, 4 members, 3 elements of v
constexpr int kSampledElements = 64;

const char* const kDeclarations = R"(
    TYPE ST_Item :
    STRUCT
        a : DINT;
        b : LREAL := 1.5;
        s : STRING(15) := 'item';
        v : ARRAY[0..2] OF INT := [1, 2, 3];
    END_STRUCT
    END_TYPE
    TYPE ST_Shared :
    STRUCT
        id : DINT := -1;
        name : STRING(15) := 'init';
        vals : ARRAY[0..2] OF INT;
        ratio : REAL := 0.25;
        flag : BOOL;
        w : WSTRING(10) := "init";
    END_STRUCT
    END_TYPE
    VAR_GLOBAL
        big : ARRAY[1..12499] OF ST_Item;
        shared : ST_Shared;
    END_VAR
)";
// A load walks about 100,000 declared members besides the array, which costs it one
// element: loads take as long as the host takes for those.
std::string Declarations() { return ManyMembersDeclarations(10) + kDeclarations; }

const char* const kSharedInitial =
    R"({"id":-1,"name":"init","vals":[0,0,0],"ratio":0.25,"flag":false,"w":"init"})";

// Compact text of a JSON value; the canonical form both sides of a comparison take.
std::string Text(const rapidjson::Value& value) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value.Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

// The canonical form of a JSON text; "" when it does not parse.
std::string Canonical(const std::string& text) {
    rapidjson::Document document;
    document.Parse(text.c_str());
    return document.HasParseError() ? std::string() : Text(document);
}

// The object task t writes into `shared` (the JSON-to-variable text is {"shared": it}).
std::string SharedValueOfTask(int t) {
    char text[160];
    std::snprintf(text, sizeof(text),
                  R"({"id":%d,"name":"task %d","vals":[%d,%d,%d],"ratio":%d.5,"flag":%s,"w":"w\u00e9%d"})", t,
                  t, t, -t, t * 100, t, t % 2 == 1 ? "true" : "false", t);
    return text;
}

// Malformed texts: every one must be refused with "Json error".
const char* const kMalformed[] = {
    R"({"shared":{"id":1,}})",     R"({"shared":)", R"({"shared":{"id":1}} x)", "", R"({'shared':{}})",
    R"({"shared":{"ratio":NaN}})",
};

// What the tasks and the host thread share, set up before they start.
struct StressWorld {
    fb_jsonsaxwriter_struct writers[kWriters] = {};
    void* shared = nullptr;
    std::vector<void*> elements;            // sampled elements of big
    std::vector<std::string> elementTexts;  // their expected JSON values
    std::set<std::string> sharedTexts;      // every whole value `shared` may hold
    Clock::time_point deadline;
    std::atomic<bool> stop{false};  // a thread failed hard: everyone ends
    std::atomic<int> tasksRunning{kTasks};
};

enum class AddKind {
    Writer,           // a key-value writer method: appended exactly when a document exists
    DatatypeAdded,    // variable to JSON that returned TRUE
    DatatypeRefused,  // variable to JSON that returned FALSE: must never appear
};

struct KeyedAdd {
    uint32_t seq;
    AddKind kind;
    bool shared;           // the value is `shared`: any of StressWorld::sharedTexts
    std::string expected;  // otherwise its canonical text
};

// Where a sequence number of a task went: the writer instance and the index into that
// instance's list of keyed adds; writer = -1 for calls that added no keyed member.
struct SeqPlace {
    int writer = -1;
    size_t index = 0;
};

// One task's own record of what it did; read by the test thread after the join.
struct TaskRecord {
    std::vector<KeyedAdd> adds[kWriters];
    // kept[w][i]: how many of the first i adds to writer w may be in its document (all
    // but the refused variable-to-JSON calls).
    std::vector<uint32_t> kept[kWriters] = {{0}, {0}, {0}, {0}};
    std::vector<SeqPlace> places;  // by sequence number
    uint64_t calls = 0;
    uint64_t parsedTexts = 0;
    uint64_t checkedMembers = 0;
    uint64_t datatypeAdded = 0;
    uint64_t datatypeRefused = 0;
    uint64_t setWritten = 0;
    uint64_t malformedSent = 0;
    std::vector<std::string> failures;

    void fail(const std::string& what) {
        if (failures.size() < kMaxFailuresPerThread) {
            failures.push_back(what);
        }
    }
};

// A keyed member of one task found in a document.
struct FoundMember {
    size_t index;  // into the task's adds to that document's writer
    const rapidjson::Value* value;
    std::string name;
};

// The task, the letter and the sequence number of a member name ("t3_1207"); false for a
// name no task gave.
bool ParseMemberName(const rapidjson::Value& name, char& letter, int& task, uint32_t& seq) {
    unsigned number = 0;
    if (std::sscanf(name.GetString(), "%c%d_%u", &letter, &task, &number) != 3 || task < 0 ||
        task >= kTasks) {
        return false;
    }
    seq = number;
    return true;
}

// What is wrong with the keyed members `found` of one task in a document of writer w that
// was read after every add in `record`; "" when nothing is. Each member must be there at
// most once, with the value it was added with, never for a refused call, and together
// they must be a suffix of the task's adds to w: those after the document's last reset.
std::string CheckAddsOfTask(const TaskRecord& record, int w, std::vector<FoundMember>& found,
                            const std::set<std::string>& sharedTexts) {
    if (found.empty()) {
        return std::string();
    }
    const std::vector<KeyedAdd>& adds = record.adds[w];
    std::sort(found.begin(), found.end(),
              [](const FoundMember& a, const FoundMember& b) { return a.index < b.index; });
    for (size_t i = 0; i < found.size(); ++i) {
        const KeyedAdd& add = adds[found[i].index];
        if (i > 0 && found[i].index == found[i - 1].index) {
            return found[i].name + " is in the document twice";
        }
        if (add.kind == AddKind::DatatypeRefused) {
            return found[i].name + ": the call returned FALSE, yet the member is in the document";
        }
        const std::string value = Text(*found[i].value);
        if (add.shared ? sharedTexts.count(value) == 0 : value != add.expected) {
            return found[i].name + " holds " + value + ", not the value added" +
                   (add.shared ? " (no whole value of shared)" : ": " + add.expected);
        }
    }
    const std::vector<uint32_t>& kept = record.kept[w];
    const size_t first = found.front().index;
    if (found.size() != kept[adds.size()] - kept[first]) {
        size_t next = 0;
        for (size_t i = first; i < adds.size(); ++i) {
            if (adds[i].kind == AddKind::DatatypeRefused) {
                continue;
            }
            if (next >= found.size() || found[next].index != i) {
                return "add " + std::to_string(adds[i].seq) + " is lost: an earlier add of the task (" +
                       found.front().name + ") is in the document";
            }
            ++next;
        }
    }
    return std::string();
}

// Aborts the process with a message when the test has not finished in time: a stuck
// loader or a deadlock would otherwise hang it.
class CWatchdog {
   public:
    explicit CWatchdog(seconds limit) : thread_([this, limit] { watch(limit); }) {}
    ~CWatchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    void phase(const char* what) {
        std::lock_guard<std::mutex> lock(mutex_);
        phase_ = what;
    }

   private:
    void watch(seconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr,
                         "stress test: no end after %lld s in phase '%s': a task, the host thread or the "
                         "loader is stuck\n",
                         static_cast<long long>(limit.count()), phase_);
            std::abort();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;            // GUARDED_BY(mutex_)
    const char* phase_ = "setup";  // GUARDED_BY(mutex_)
    std::thread thread_;
};

// ---- one IEC task ------------------------------------------------------------------------

// One IEC task: picks calls of both blocks at random (seeded by its number), keeps its
// own record of every keyed add and checks every whole text it reads against that record.
// Runs on its own thread; touches only its record and, read-only, the world.
class CStressTask {
   public:
    CStressTask(int task, StressWorld& world, TaskRecord& record)
        : task_(task), world_(world), record_(record), rng_(7919u * static_cast<unsigned>(task) + 17u) {}

    void run() {
        while (!world_.stop && record_.calls < kMaxCallsPerTask && Clock::now() < world_.deadline) {
            const int w = pick(kWriters);
            const int action = pick(100);
            if (action < 1) {
                reset(w);
            } else if (action < 31) {
                keyValueAdd(w);
            } else if (action < 46) {
                keyThenValue(w);
            } else if (action < 52) {
                valueAlone(w);
            } else if (action < 58) {
                readDocument(w);
            } else if (action < 64) {
                readLengthAndCopy(w);
            } else if (action < 70) {
                otherWriterMethod(w);
            } else if (action < 85) {
                variableToJson(w);
            } else {
                jsonToVariable();
            }
            // A document that grew large is started afresh, so reads stay short.
            if (action >= 52 && action < 64 && lastLength_ > 32 * 1024) {
                reset(w);
            }
        }
        --world_.tasksRunning;
    }

   private:
    int pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }
    fb_jsonsaxwriter_struct* writer(int w) { return &world_.writers[w]; }

    // A fresh key of this task: letter, task, sequence number.
    std::string key(char letter, uint32_t& seq) {
        seq = static_cast<uint32_t>(record_.places.size());
        record_.places.emplace_back();
        return letter + std::to_string(task_) + "_" + std::to_string(seq);
    }

    void keep(int w, uint32_t seq, AddKind kind, bool shared, std::string expected) {
        record_.places[seq] = SeqPlace{w, record_.adds[w].size()};
        record_.adds[w].push_back(KeyedAdd{seq, kind, shared, std::move(expected)});
        record_.kept[w].push_back(record_.kept[w].back() + (kind == AddKind::DatatypeRefused ? 0 : 1));
    }

    void reset(int w) {
        ++record_.calls;
        fb_jsonsaxwriter_resetdocument_struct p{writer(w), 0};
        fb_jsonsaxwriter__resetdocument(&p);
        if (p.ResetDocument != 1) {
            record_.fail("resetdocument wrote " + std::to_string(p.ResetDocument));
        }
    }

    void keyValueAdd(int w) {
        ++record_.calls;
        uint32_t seq = 0;
        switch (pick(6)) {
            case 0: {
                std::string k = key('t', seq);
                std::string value = "v\"" + std::to_string(seq) + "\t\\/";
                fb_jsonsaxwriter_addkeystring_struct p{writer(w), &k[0], &value[0]};
                fb_jsonsaxwriter__addkeystring(&p);
                keep(w, seq, AddKind::Writer, false,
                     Text(rapidjson::Value(rapidjson::StringRef(value.data(), value.size()))));
                break;
            }
            case 1: {
                std::string k = key('t', seq);
                const RTS_IEC_BOOL value = static_cast<RTS_IEC_BOOL>(seq % 2);
                fb_jsonsaxwriter_addkeybool_struct p{writer(w), &k[0], value};
                fb_jsonsaxwriter__addkeybool(&p);
                keep(w, seq, AddKind::Writer, false, std::to_string(value));
                break;
            }
            case 2: {
                std::string k = key('t', seq);
                const RTS_IEC_DINT value = (task_ % 2 == 0 ? 1 : -1) * static_cast<RTS_IEC_DINT>(seq);
                fb_jsonsaxwriter_addkeynumber_struct p{writer(w), &k[0], value};
                fb_jsonsaxwriter__addkeynumber(&p);
                keep(w, seq, AddKind::Writer, false, std::to_string(value));
                break;
            }
            case 3: {
                std::string k = key('t', seq);
                const RTS_IEC_LREAL value = seq + 0.25;
                fb_jsonsaxwriter_addkeylreal_struct p{writer(w), &k[0], value};
                fb_jsonsaxwriter__addkeylreal(&p);
                keep(w, seq, AddKind::Writer, false, Text(rapidjson::Value(value)));
                break;
            }
            case 4: {
                std::string k = key('t', seq);
                const RTS_IEC_DATE_AND_TIME value = 1700000000u + seq;
                fb_jsonsaxwriter_addkeydatetime_struct p{writer(w), &k[0], value};
                fb_jsonsaxwriter__addkeydatetime(&p);
                keep(w, seq, AddKind::Writer, false, std::to_string(value));
                break;
            }
            default: {
                std::string k = key('n', seq);
                fb_jsonsaxwriter_addkeynull_struct p{writer(w), &k[0]};
                fb_jsonsaxwriter__addkeynull(&p);
                keep(w, seq, AddKind::Writer, false, "null");
                break;
            }
        }
    }

    // A key call, then one value call, mostly on the same instance.
    void keyThenValue(int w) {
        ++record_.calls;
        uint32_t seq = 0;
        std::string k = key('k', seq);
        fb_jsonsaxwriter_addkey_struct p{writer(w), &k[0]};
        fb_jsonsaxwriter__addkey(&p);
        valueAlone(pick(4) == 0 ? pick(kWriters) : w);
    }

    void valueAlone(int w) {
        ++record_.calls;
        switch (pick(9)) {
            case 0: {
                std::string value = "pending \x01 of " + std::to_string(task_);
                fb_jsonsaxwriter_addstring_struct p{writer(w), &value[0]};
                fb_jsonsaxwriter__addstring(&p);
                break;
            }
            case 1: {
                fb_jsonsaxwriter_addbool_struct p{writer(w), 1};
                fb_jsonsaxwriter__addbool(&p);
                break;
            }
            case 2: {
                fb_jsonsaxwriter_adddint_struct p{writer(w), -task_};
                fb_jsonsaxwriter__adddint(&p);
                break;
            }
            case 3: {
                fb_jsonsaxwriter_addudint_struct p{writer(w), 4294967295u};
                fb_jsonsaxwriter__addudint(&p);
                break;
            }
            case 4: {
                fb_jsonsaxwriter_addlint_struct p{writer(w), -9000000000000000000LL};
                fb_jsonsaxwriter__addlint(&p);
                break;
            }
            case 5: {
                fb_jsonsaxwriter_addreal_struct p{writer(w), 0.1f};
                fb_jsonsaxwriter__addreal(&p);
                break;
            }
            case 6: {
                fb_jsonsaxwriter_addlreal_struct p{writer(w), 1e300};
                fb_jsonsaxwriter__addlreal(&p);
                break;
            }
            case 7: {
                fb_jsonsaxwriter_adddatetime_struct p{writer(w), 60};
                fb_jsonsaxwriter__adddatetime(&p);
                break;
            }
            default: {
                fb_jsonsaxwriter_addnull_struct p{writer(w)};
                fb_jsonsaxwriter__addnull(&p);
                break;
            }
        }
    }

    // A whole text of writer w's document, read after every add this task made: it must
    // parse, and this task's members in it must be what CheckAddsOfTask demands.
    void checkWholeText(int w, const char* text, const char* how) {
        ++record_.parsedTexts;
        rapidjson::Document document;
        document.Parse(text);
        if (document.HasParseError() || !document.IsObject()) {
            record_.fail(std::string(how) +
                         " read a text that is not a JSON object: " + std::string(text).substr(0, 200));
            return;
        }
        std::vector<FoundMember> found;
        for (const rapidjson::Value::Member& member : document.GetObject()) {
            char letter = 0;
            int task = 0;
            uint32_t seq = 0;
            if (!ParseMemberName(member.name, letter, task, seq)) {
                record_.fail(std::string(how) + ": a member no task added: " + member.name.GetString());
                continue;
            }
            if (task != task_ || letter == 'k') {
                continue;  // another task's adds are that task's to check; pending members are shared
            }
            const SeqPlace place = seq < record_.places.size() ? record_.places[seq] : SeqPlace{};
            if (place.writer != w) {
                record_.fail(std::string(how) + ": " + member.name.GetString() +
                             " in the document of writer " + std::to_string(w));
                continue;
            }
            found.push_back(FoundMember{place.index, &member.value, member.name.GetString()});
        }
        record_.checkedMembers += found.size();
        const std::string wrong = CheckAddsOfTask(record_, w, found, world_.sharedTexts);
        if (!wrong.empty()) {
            record_.fail(std::string(how) + " of writer " + std::to_string(w) + ": " + wrong);
        }
    }

    void readDocument(int w) {
        ++record_.calls;
        fb_jsonsaxwriter_getdocument_struct p;
        std::memset(&p, 0, sizeof(p));
        p.pInstance = writer(w);
        p.hrErrorCode = 4321;
        fb_jsonsaxwriter__getdocument(&p);
        if (p.hrErrorCode != 4321) {
            record_.fail("getdocument wrote hrErrorCode");
        }
        const size_t length = strnlen(p.GetDocument, sizeof(p.GetDocument));
        if (length == sizeof(p.GetDocument)) {
            record_.fail("GetDocument is not terminated");
        } else if (length > 0 && length < sizeof(p.GetDocument) - 1) {
            checkWholeText(w, p.GetDocument, "getdocument");  // a longer text is cut
        }
    }

    void readLengthAndCopy(int w) {
        ++record_.calls;
        fb_jsonsaxwriter_getdocumentlength_struct length{writer(w), 0, 4321};
        fb_jsonsaxwriter__getdocumentlength(&length);
        // Another task may change the document between the two calls: a text that grew
        // fills the buffer without its terminator, one that shrank arrives whole.
        std::vector<char> buffer(length.GetDocumentLength + 1, '#');
        fb_jsonsaxwriter_copydocument_struct copy{writer(w), buffer.data(), length.GetDocumentLength + 1, 7,
                                                  4321};
        fb_jsonsaxwriter__copydocument(&copy);
        if (length.hrErrorCode != 4321 || copy.hrErrorCode != 4321) {
            record_.fail("getdocumentlength or copydocument wrote hrErrorCode");
        }
        if (copy.CopyDocument > 1) {
            record_.fail("CopyDocument is " + std::to_string(copy.CopyDocument));
        }
        lastLength_ = length.GetDocumentLength;
        if (copy.CopyDocument == 1 && std::memchr(buffer.data(), 0, buffer.size()) != nullptr) {
            checkWholeText(w, buffer.data(), "copydocument");
        }
    }

    // Nesting on the task's own instance, where a balanced sequence gives a known text;
    // the other value methods on shared instances (each fills a pending member or is
    // refused); the decimal places, never changed from their default on shared instances.
    void otherWriterMethod(int w) {
        ++record_.calls;
        switch (pick(8)) {
            case 0: {
                fb_jsonsaxwriter_resetdocument_struct reset{&own_, 0};
                fb_jsonsaxwriter__resetdocument(&reset);
                char key[] = "n";
                fb_jsonsaxwriter_addkey_struct addKey{&own_, key};
                fb_jsonsaxwriter__addkey(&addKey);
                fb_jsonsaxwriter_startarray_struct startArray{&own_, 7};
                fb_jsonsaxwriter__startarray(&startArray);
                RTS_IEC_BYTE bytes[3] = {1, 2, static_cast<RTS_IEC_BYTE>(task_)};
                fb_jsonsaxwriter_addhexbinary_struct hex{&own_, bytes, 3};
                fb_jsonsaxwriter__addhexbinary(&hex);
                fb_jsonsaxwriter_startobject_struct startObject{&own_, 7};
                fb_jsonsaxwriter__startobject(&startObject);
                std::string name = "t";
                fb_jsonsaxwriter_addkeynumber_struct number{&own_, &name[0], task_};
                fb_jsonsaxwriter__addkeynumber(&number);
                fb_jsonsaxwriter_endobject_struct endObject{&own_, 7};
                fb_jsonsaxwriter__endobject(&endObject);
                fb_jsonsaxwriter_endarray_struct endArray{&own_, 7};
                fb_jsonsaxwriter__endarray(&endArray);
                fb_jsonsaxwriter_endobject_struct endRoot{&own_, 7};
                fb_jsonsaxwriter__endobject(&endRoot);  // the root is never closed
                fb_jsonsaxwriter_getdocument_struct text{};
                text.pInstance = &own_;
                fb_jsonsaxwriter__getdocument(&text);
                char hexText[3];
                std::snprintf(hexText, sizeof(hexText), "%02X", task_);
                const std::string expected =
                    std::string(R"({"n":["0102)") + hexText + R"(",{"t":)" + std::to_string(task_) + "}]}";
                // A host event may clear every document between the calls; the text is
                // then whatever part was built after it, and the sequence is not judged.
                if (startArray.StartArray == 1 && startObject.StartObject == 1 && endObject.EndObject == 1 &&
                    endArray.EndArray == 1 && text.GetDocument[0] != '\0') {
                    if (endRoot.EndObject != 0 || expected != text.GetDocument) {
                        record_.fail(std::string("nested document ") + text.GetDocument);
                    }
                }
                break;
            }
            case 1: {
                char raw[] = "{\"raw\":[1,{\"x\":null}]}";
                fb_jsonsaxwriter_addrawobject_struct p{writer(w), raw};
                fb_jsonsaxwriter__addrawobject(&p);
                break;
            }
            case 2: {
                char raw[] = "[1,2]";
                fb_jsonsaxwriter_addrawarray_struct p{writer(w), raw};
                fb_jsonsaxwriter__addrawarray(&p);
                break;
            }
            case 3: {
                RTS_IEC_BYTE bytes[3] = {1, 2, 3};
                fb_jsonsaxwriter_addbase64_struct p{writer(w), bytes, 3};
                fb_jsonsaxwriter__addbase64(&p);
                break;
            }
            case 4: {
                RTS_IEC_BYTE bytes[3] = {1, 2, 3};
                fb_jsonsaxwriter_addhexbinary_struct p{writer(w), bytes, 3};
                fb_jsonsaxwriter__addhexbinary(&p);
                break;
            }
            case 5: {
                fb_jsonsaxwriter_getmaxdecimalplaces_struct p{writer(w), -77};
                fb_jsonsaxwriter__getmaxdecimalplaces(&p);
                if (p.GetMaxDecimalPlaces != 324) {
                    record_.fail("GetMaxDecimalPlaces is " + std::to_string(p.GetMaxDecimalPlaces));
                }
                break;
            }
            case 6: {
                fb_jsonsaxwriter_setmaxdecimalplaces_struct p{writer(w), 324, 0xBEEF};
                fb_jsonsaxwriter__setmaxdecimalplaces(&p);
                if (p.SetMaxDecimalPlaces != 1) {
                    record_.fail("SetMaxDecimalPlaces is " + std::to_string(p.SetMaxDecimalPlaces));
                }
                break;
            }
            default: {
                fb_jsonsaxwriter_main_struct p{writer(w)};
                fb_jsonsaxwriter__main(&p);
                fb_jsonreadwritedatatype_struct block{};
                fb_jsonreadwritedatatype_main_struct q{&block};
                fb_jsonreadwritedatatype__main(&q);
                break;
            }
        }
    }

    void variableToJson(int w) {
        ++record_.calls;
        uint32_t seq = 0;
        std::string k = key('d', seq);
        const bool shared = pick(3) == 0;
        const int element = pick(kSampledElements);
        fb_jsonreadwritedatatype_struct block{};
        char datatype[] = "ST_Item";
        fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct p;
        std::memset(&p, 0, sizeof(p));
        p.pInstance = &block;
        p.fbWriter = writer(w);
        p.sKey = &k[0];
        p.sDatatype = datatype;
        p.pData = static_cast<RTS_IEC_UDINT*>(shared ? world_.shared : world_.elements[element]);
        p.AddJsonKeyValueFromSymbol = 77;
        p.hrErrorCode = 4321;
        fb_jsonreadwritedatatype__addjsonkeyvaluefromsymbol(&p);
        if (p.hrErrorCode != 4321 || (p.AddJsonKeyValueFromSymbol != 0 && p.AddJsonKeyValueFromSymbol != 1)) {
            record_.fail("addjsonkeyvaluefromsymbol: result " + std::to_string(p.AddJsonKeyValueFromSymbol) +
                         ", hrErrorCode " + std::to_string(p.hrErrorCode));
        }
        const bool added = p.AddJsonKeyValueFromSymbol == 1;
        (added ? record_.datatypeAdded : record_.datatypeRefused) += 1;
        keep(w, seq, added ? AddKind::DatatypeAdded : AddKind::DatatypeRefused, shared,
             shared ? std::string() : world_.elementTexts[element]);
    }

    void jsonToVariable() {
        ++record_.calls;
        const bool malformed = pick(5) == 0;
        std::string text = malformed ? kMalformed[pick(sizeof(kMalformed) / sizeof(kMalformed[0]))]
                                     : R"({"shared":)" + SharedValueOfTask(task_) + "}";
        fb_jsonreadwritedatatype_struct block{};
        fb_jsonreadwritedatatype_setsymbolfromjson_struct p;
        std::memset(&p, 0, sizeof(p));
        p.pInstance = &block;
        p.pJson = &text[0];
        p.nSize = static_cast<RTS_IEC_UDINT>(text.size());
        p.pData = static_cast<RTS_IEC_UDINT*>(world_.shared);
        p.SetSymbolFromJson = 77;
        p.hrErrorCode = 4321;
        fb_jsonreadwritedatatype__setsymbolfromjson(&p);
        if (p.hrErrorCode != 4321 || (p.SetSymbolFromJson != 0 && p.SetSymbolFromJson != 1)) {
            record_.fail("setsymbolfromjson: result " + std::to_string(p.SetSymbolFromJson));
        }
        if (malformed) {
            ++record_.malformedSent;
            if (p.SetSymbolFromJson != 0) {
                record_.fail("setsymbolfromjson took the malformed text " + text);
            }
        } else {
            record_.setWritten += p.SetSymbolFromJson;
        }
    }

    const int task_;
    StressWorld& world_;
    TaskRecord& record_;
    fb_jsonsaxwriter_struct own_{};  // an instance only this task uses
    std::mt19937 rng_;
    RTS_IEC_UDINT lastLength_ = 0;
};

// ---- the host ----------------------------------------------------------------------------

// The host's event thread: posts download, reset-done and the three stop events at
// random, sometimes waiting for a load to be published so the tasks find the variables.
// The only thread that posts events; writes only its own record.
class CStressHost {
   public:
    CStressHost(StressWorld& world, TaskRecord& record) : world_(world), record_(record), rng_(4242u) {}

    void run() {
        while (!world_.stop && world_.tasksRunning > 0) {
            switch (static_cast<int>(rng_() % 8)) {
                case 0:
                case 1:
                    post(kEventDownloadDone);
                    pause(milliseconds(rng_() % 60));  // mostly a stop in the middle of the walk
                    break;
                case 2:
                    post(kEventDownloadDone);
                    waitForLoad();
                    pause(milliseconds(20 + rng_() % 60));  // the tasks find the variables
                    break;
                case 3:
                    post(kEventResetDone);
                    if (rng_() % 2 == 0) {
                        waitForLoad();
                    }
                    pause(milliseconds(rng_() % 40));
                    break;
                case 4:
                    stopEvent(kEventPrepareReset);
                    break;
                case 5:
                    stopEvent(kEventPrepareDelete);
                    break;
                default:
                    stopEvent(kEventDeleteAllApps);
                    break;
            }
        }
    }

    uint64_t loadsWaitedFor() const { return loads_; }
    uint64_t events() const { return events_; }

   private:
    void post(EVENTID id) {
        ++events_;
        if (CSimEventManager::instance().post(id) != 1) {
            fail("event " + std::to_string(id) + " reached no callback");
        }
    }

    // The three stop events join the loader before they return: no record may be open.
    void stopEvent(EVENTID id) {
        post(id);
        const size_t open = CSimApplication::instance().openVarInfoRecords();
        if (open != 0) {
            fail(std::to_string(open) + " variable-information records open after event " +
                 std::to_string(id));
        }
        pause(milliseconds(rng_() % 10));
    }

    // Only this thread posts events, so once a load was started, the index is complete
    // exactly when the loader has published it.
    void waitForLoad() {
        const Clock::time_point limit = Clock::now() + kLoadTimeout;
        while (!CDomDriverMgr::instance()->index().Ready()) {
            if (Clock::now() > limit) {
                fail("the loader did not finish a load within " + std::to_string(kLoadTimeout.count()) +
                     " s");
                return;
            }
            std::this_thread::sleep_for(milliseconds(1));
        }
        ++loads_;
    }

    void pause(milliseconds time) {
        const Clock::time_point until = Clock::now() + time;
        while (!world_.stop && world_.tasksRunning > 0 && Clock::now() < until) {
            std::this_thread::sleep_for(milliseconds(1));
        }
    }

    void fail(const std::string& what) {
        record_.fail("host: " + what);
        world_.stop = true;
    }

    StressWorld& world_;
    TaskRecord& record_;
    std::mt19937 rng_;
    uint64_t loads_ = 0;
    uint64_t events_ = 0;
};

// ---- the test ----------------------------------------------------------------------------

// The component in the simulated host with an application, subscribed to the host's
// events (hook 4) for the length of the test.
class Stress : public ApplicationTest {
   protected:
    void SetUp() override {
        ApplicationTest::SetUp();
        CSimEventManager::instance().reset();
        ASSERT_EQ(0, host().callHook(4));
    }
    void TearDown() override {
        host().callHook(12);
        CSimEventManager::instance().reset();
        ApplicationTest::TearDown();
    }

    // Starts a load through the host's download event and waits until it is published.
    void loadThroughEvent() {
        CSimEventManager::instance().post(kEventDownloadDone);
        const Clock::time_point limit = Clock::now() + kLoadTimeout;
        while (!CDomDriverMgr::instance()->index().Ready() && Clock::now() < limit) {
            std::this_thread::sleep_for(milliseconds(1));
        }
        ASSERT_TRUE(CDomDriverMgr::instance()->index().Ready()) << "the loader did not finish";
    }

    // The whole text of a writer's document through the external functions; false when
    // the instance has no document.
    static bool ReadWhole(fb_jsonsaxwriter_struct* writer, std::string& text) {
        fb_jsonsaxwriter_getdocumentlength_struct length{writer, 0, 0};
        fb_jsonsaxwriter__getdocumentlength(&length);
        std::vector<char> buffer(length.GetDocumentLength + 1, '#');
        fb_jsonsaxwriter_copydocument_struct copy{writer, buffer.data(), length.GetDocumentLength + 1, 0, 0};
        fb_jsonsaxwriter__copydocument(&copy);
        if (copy.CopyDocument != 1) {
            return false;
        }
        EXPECT_EQ('\0', buffer.back());
        text.assign(buffer.data(), length.GetDocumentLength);
        return true;
    }

    static std::string AddToFreshWriter(void* pData) {
        fb_jsonsaxwriter_struct writer{};
        fb_jsonsaxwriter_resetdocument_struct reset{&writer, 0};
        fb_jsonsaxwriter__resetdocument(&reset);
        fb_jsonreadwritedatatype_struct block{};
        char key[] = "x";
        fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct p{};
        p.pInstance = &block;
        p.fbWriter = &writer;
        p.sKey = key;
        p.pData = static_cast<RTS_IEC_UDINT*>(pData);
        fb_jsonreadwritedatatype__addjsonkeyvaluefromsymbol(&p);
        std::string text;
        if (p.AddJsonKeyValueFromSymbol != 1 || !ReadWhole(&writer, text)) {
            return "refused";
        }
        rapidjson::Document document;
        document.Parse(text.c_str());
        return document.HasParseError() || !document.HasMember("x") ? "bad text " + text
                                                                    : Text(document["x"]);
    }

    void CheckFinalDocument(int w, const StressWorld& world, std::vector<TaskRecord>& records);
    void CheckLog(const std::vector<TaskRecord>& records, size_t fullIndexSize);
};

// One instance's final document, read after every task has ended, against all records.
void Stress::CheckFinalDocument(int w, const StressWorld& world, std::vector<TaskRecord>& records) {
    std::string text;
    if (!ReadWhole(const_cast<fb_jsonsaxwriter_struct*>(&world.writers[w]), text)) {
        return;  // dropped by the last clear and not reset since: nothing can be lost in it
    }
    rapidjson::Document document;
    document.Parse(text.c_str());
    ASSERT_FALSE(document.HasParseError()) << "writer " << w << ": " << text.substr(0, 400);
    ASSERT_TRUE(document.IsObject());
    std::vector<std::vector<FoundMember>> found(kTasks);
    for (const rapidjson::Value::Member& member : document.GetObject()) {
        char letter = 0;
        int task = 0;
        uint32_t seq = 0;
        ASSERT_TRUE(ParseMemberName(member.name, letter, task, seq)) << member.name.GetString();
        ASSERT_LT(seq, records[task].places.size()) << member.name.GetString();
        if (letter == 'k') {
            continue;  // a pending member: null, or any value a value method gives it
        }
        const SeqPlace place = records[task].places[seq];
        ASSERT_EQ(w, place.writer) << member.name.GetString() << " is in the document of writer " << w;
        found[task].push_back(FoundMember{place.index, &member.value, member.name.GetString()});
    }
    for (int t = 0; t < kTasks; ++t) {
        EXPECT_EQ("", CheckAddsOfTask(records[t], w, found[t], world.sharedTexts)) << "writer " << w;
    }
}

void Stress::CheckLog(const std::vector<TaskRecord>& records, size_t fullIndexSize) {
    const std::set<std::string> refusals = {"The JSON object does not exist.",
                                            "Add value mode and don't have key",
                                            "Variables are being loaded. Please execute later.",
                                            "Variable does not exist",
                                            "Json error",
                                            "No open object to end"};
    const std::set<std::string> eventLines = {
        "prepareResetFunction in, load completed state: 0, clearSymbols:1",
        "prepareResetFunction in, load completed state: 1, clearSymbols:0",
        "ResetDoneFunction in, load completed state: 0, BeginLoadSymbols:1",
        "ResetDoneFunction in, load completed state: 1, BeginLoadSymbols:0",
        "ResetDoneFunction BeginLoadSymbols",
        "BeginLoadSymbols",
        "delAllAppCallBack"};
    uint64_t malformed = 0;
    for (const TaskRecord& record : records) {
        malformed += record.malformedSent;
    }
    size_t jsonErrors = 0;
    size_t unexpected = 0;
    for (const SimLogRecord& record : host().logRecords()) {
        bool allowed = false;
        if (record.logClass == kLogClassError && record.infoId == kLogInfoIdCalls) {
            allowed = refusals.count(record.text) == 1;
            jsonErrors += record.text == "Json error" ? 1 : 0;
        } else if (record.logClass == kLogClassInfo && record.infoId == kLogInfoIdCalls) {
            allowed = eventLines.count(record.text) == 1;
        } else if (record.logClass == kLogClassInfo && record.infoId == kLogInfoIdGeneral) {
            int complete = -1;  // 0 when a stop came before the walk began
            int size = -1;
            // The refusal line where the test process may not use real-time scheduling.
            allowed =
                record.text == "LoadSymbols start" ||
                record.text == "LoadSymbols runs without real-time priority: SCHED_FIFO refused: 1" ||
                (std::sscanf(record.text.c_str(), "LoadSymbols end load complete:%d, symbols size: %d",
                             &complete, &size) == 2 &&
                 (complete == 0 || complete == 1) && size >= 0 && static_cast<size_t>(size) <= fullIndexSize);
        }
        if (!allowed && ++unexpected <= kMaxFailuresPerThread) {
            ADD_FAILURE() << "unexpected log entry: " << record.describe();
        }
    }
    EXPECT_EQ(0u, unexpected);
    EXPECT_EQ(malformed, jsonErrors) << "one \"Json error\" for each malformed text, and no other";
}

TEST_F(Stress, TasksAndLoadsAtOnce) {
    CWatchdog watchdog(kHangLimit);
    app().start(Declarations());
    StressWorld world;
    world.shared = app().address("App.Globals.shared");
    std::mt19937 rng(99);
    for (int i = 0; i < kSampledElements; ++i) {
        const int index = 1 + static_cast<int>(rng() % kBigElements);
        const std::string name = "App.Globals.big[" + std::to_string(index) + "]";
        const int32_t a = 1000 + index;  // each sampled element tells itself apart
        std::memcpy(app().address(name + ".a"), &a, sizeof(a));
        world.elements.push_back(app().address(name));
        world.elementTexts.push_back(
            Canonical(R"({"a":)" + std::to_string(a) + R"(,"b":1.5,"s":"item","v":[1,2,3]})"));
    }
    world.sharedTexts.insert(Canonical(kSharedInitial));
    for (int t = 0; t < kTasks; ++t) {
        world.sharedTexts.insert(Canonical(SharedValueOfTask(t)));
    }

    // One full load first: the application is as large as it claims, and both directions
    // give exactly what they must.
    watchdog.phase("first load");
    const size_t nodesBefore = app().nodeCount();
    ASSERT_NO_FATAL_FAILURE(loadThroughEvent());
    EXPECT_GE(app().nodeCount() - nodesBefore, 100000u) << "nodes the walk looked up";
    size_t fullIndexSize = 0;
    { fullIndexSize = CDomDriverMgr::instance()->index().Size(); }
    ASSERT_EQ(world.elementTexts[0], AddToFreshWriter(world.elements[0]));
    ASSERT_EQ(Canonical(kSharedInitial), AddToFreshWriter(world.shared));
    for (fb_jsonsaxwriter_struct& writer : world.writers) {
        fb_jsonsaxwriter_resetdocument_struct reset{&writer, 0};
        fb_jsonsaxwriter__resetdocument(&reset);
    }
    host().clearLog();

    watchdog.phase("tasks and events");
    std::vector<TaskRecord> records(kTasks + 1);  // the last one is the host's
    world.deadline = Clock::now() + kRunTime;
    std::vector<std::thread> threads;
    for (int t = 0; t < kTasks; ++t) {
        threads.emplace_back([&world, &records, t] { CStressTask(t, world, records[t]).run(); });
    }
    CStressHost hostThread(world, records[kTasks]);
    threads.emplace_back([&hostThread] { hostThread.run(); });
    for (std::thread& thread : threads) {
        thread.join();
    }

    watchdog.phase("checks");
    uint64_t calls = 0;
    uint64_t parsed = 0;
    uint64_t checked = 0;
    uint64_t datatypeAdded = 0;
    uint64_t datatypeRefused = 0;
    uint64_t setWritten = 0;
    for (int t = 0; t <= kTasks; ++t) {
        for (const std::string& failure : records[t].failures) {
            ADD_FAILURE() << (t < kTasks ? "task " + std::to_string(t) + ": " : std::string()) << failure;
        }
        calls += records[t].calls;
        parsed += records[t].parsedTexts;
        checked += records[t].checkedMembers;
        datatypeAdded += records[t].datatypeAdded;
        datatypeRefused += records[t].datatypeRefused;
        setWritten += records[t].setWritten;
    }
    std::printf(
        "stress: %zu log entries; %llu calls by %d tasks, %llu whole texts parsed with %llu own members "
        "checked, variable to JSON %llu added / %llu refused, "
        "JSON to variable %llu written; host: %llu events, %llu loads waited for\n",
        host().logRecords().size(), static_cast<unsigned long long>(calls), kTasks,
        static_cast<unsigned long long>(parsed), static_cast<unsigned long long>(checked),
        static_cast<unsigned long long>(datatypeAdded), static_cast<unsigned long long>(datatypeRefused),
        static_cast<unsigned long long>(setWritten), static_cast<unsigned long long>(hostThread.events()),
        static_cast<unsigned long long>(hostThread.loadsWaitedFor()));
    // A run in which one kind of outcome never happened has not tested what it claims.
    EXPECT_GT(parsed, 0u);
    EXPECT_GT(checked, 0u);
    EXPECT_GT(datatypeAdded, 0u);
    EXPECT_GT(datatypeRefused, 0u);
    EXPECT_GT(setWritten, 0u);
    EXPECT_GT(hostThread.loadsWaitedFor(), 0u);

    for (int w = 0; w < kWriters; ++w) {
        CheckFinalDocument(w, world, records);
    }
    CheckLog(records, fullIndexSize);

    // After the storm, one more load: both directions work exactly, and the stop at the
    // end leaves no record open.
    watchdog.phase("final load");
    ASSERT_NO_FATAL_FAILURE(loadThroughEvent());
    EXPECT_EQ(1u, world.sharedTexts.count(AddToFreshWriter(world.shared)));
    EXPECT_EQ(world.elementTexts[5], AddToFreshWriter(world.elements[5]));
    std::string text = R"({"shared":)" + SharedValueOfTask(3) + "}";
    fb_jsonreadwritedatatype_struct block{};
    fb_jsonreadwritedatatype_setsymbolfromjson_struct set{};
    set.pInstance = &block;
    set.pJson = &text[0];
    set.nSize = static_cast<RTS_IEC_UDINT>(text.size());
    set.pData = static_cast<RTS_IEC_UDINT*>(world.shared);
    fb_jsonreadwritedatatype__setsymbolfromjson(&set);
    EXPECT_EQ(1, set.SetSymbolFromJson);
    EXPECT_EQ(Canonical(SharedValueOfTask(3)), AddToFreshWriter(world.shared));
    CSimEventManager::instance().post(kEventDeleteAllApps);
    EXPECT_EQ(0u, app().openVarInfoRecords());
    watchdog.phase("teardown");
}

}  // namespace
