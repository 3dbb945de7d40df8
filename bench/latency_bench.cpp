// Latency of a controller's cycle, as cyclictest reports a real-time path: the same cycle
// run a million times in a row (--cycles=N to change), each timed alone, with p50, p99,
// p99.99 and the maximum, beside an empty loop of the same length timed the same way:
// - the small message (one machine's state, ten members of ten classes, about 250 bytes)
//   to JSON: ResetDocument, AddJsonKeyValueFromSymbol, GetDocumentLength, CopyDocument;
// - the small message from JSON: SetSymbolFromJson of that text;
// - the small message by exception: ResetDocument, AddJsonChangesFromSymbol, read-out, with
//   a counter that changes every cycle, a level that drifts through a deadband (sent every
//   tenth cycle) and a key frame every 600th cycle (once a minute in a task of 100 ms).
// The process runs under SCHED_FIFO and with its memory locked (mlockall) where it is
// allowed them, and says which; blocks of cycles alternate with pauses as long (see
// kBlock). Google Benchmark's arguments (those scripts/bench.sh
// gives) are taken and have no effect.
#include <benchmark/benchmark.h>
#include <sched.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "SimApplication.h"
#include "SimHost.h"
#include "support/BenchRatio.h"
#include "support/SmallMessage.h"
#include "var/DomDriverMgr.h"

namespace {

const std::string kDeclarations = std::string(kMachineStateType) + R"(
    VAR_GLOBAL
        machine : ST_MachineState;
        sent : ST_MachineState;
    END_VAR
)";

// The real-time priority asked for, as cyclictest's usual one.
constexpr int kPriority = 80;

struct CMachine {
    uint8_t* at = nullptr;
    size_t size = 0;
    uint32_t* partsProduced = nullptr;
    float* fillLevel = nullptr;
    uint8_t* sent = nullptr;
    std::string text;  // {"machine":{...}} as the component writes it
};

CMachine s_machine;
fb_jsonsaxwriter_struct s_writer;
fb_jsonreadwritedatatype_struct s_block;
char s_key[] = "machine";
char s_datatype[] = "ST_MachineState";
char s_out[1024];
RTS_IEC_UDINT s_length = 0;

bool ReadOut() {
    fb_jsonsaxwriter_getdocumentlength_struct length{&s_writer, 0, 0};
    fb_jsonsaxwriter__getdocumentlength(&length);
    fb_jsonsaxwriter_copydocument_struct copy{&s_writer, s_out, sizeof(s_out), 0, 0};
    fb_jsonsaxwriter__copydocument(&copy);
    s_length = length.GetDocumentLength;
    return copy.CopyDocument != 0;
}

void Reset() {
    fb_jsonsaxwriter_resetdocument_struct reset{&s_writer, 0};
    fb_jsonsaxwriter__resetdocument(&reset);
}

bool ToJson() {
    Reset();
    fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct p{};
    p.pInstance = &s_block;
    p.fbWriter = &s_writer;
    p.sKey = s_key;
    p.sDatatype = s_datatype;
    p.pData = reinterpret_cast<RTS_IEC_UDINT*>(s_machine.at);
    fb_jsonreadwritedatatype__addjsonkeyvaluefromsymbol(&p);
    return ReadOut() && p.AddJsonKeyValueFromSymbol != 0;
}

bool FromJson() {
    fb_jsonreadwritedatatype_setsymbolfromjson_struct p{};
    p.pInstance = &s_block;
    p.pJson = &s_machine.text[0];
    p.nSize = static_cast<RTS_IEC_UDINT>(s_machine.text.size());
    p.pData = reinterpret_cast<RTS_IEC_UDINT*>(s_machine.at);
    fb_jsonreadwritedatatype__setsymbolfromjson(&p);
    return p.SetSymbolFromJson != 0;
}

bool ByException(uint32_t cycle) {
    *s_machine.partsProduced += 1;
    *s_machine.fillLevel += 0.0011f;
    Reset();
    fb_jsonreadwritedatatype_addjsonchangesfromsymbol_struct p{};
    p.pInstance = &s_block;
    p.fbWriter = &s_writer;
    p.sKey = s_key;
    p.pData = reinterpret_cast<RTS_IEC_UDINT*>(s_machine.at);
    p.pLast = s_machine.sent;
    p.nLast = static_cast<RTS_IEC_UDINT>(s_machine.size);
    p.fDeadband = 0.01;
    p.bKeyFrame = cycle % 600 == 0 ? 1 : 0;
    fb_jsonreadwritedatatype__addjsonchangesfromsymbol(&p);
    return ReadOut() && p.AddJsonChangesFromSymbol != 0;
}

struct CFigures {
    double p50 = 0, p99 = 0, p9999 = 0, max = 0;
};

// Cycles run back to back in blocks of this many, each block followed by a pause as long
// as it ran: under SCHED_FIFO the kernel stops a thread that takes more than 95 % of a
// second (sched_rt_runtime_us) for the rest of it, a stop that is no latency of the cycle.
constexpr size_t kBlock = 10000;

// Runs `cycles` cycles, each timed alone into `latencies` (kept, touched before), and
// gives their percentiles; false when a cycle was refused.
bool Measure(const std::function<bool(uint32_t)>& cycle, std::vector<uint32_t>& latencies,
             CFigures& figures) {
    typedef std::chrono::steady_clock Clock;
    Clock::time_point blockStart = Clock::now();
    for (size_t i = 0; i < latencies.size(); ++i) {
        if (i % kBlock == kBlock - 1) {
            const Clock::time_point now = Clock::now();
            std::this_thread::sleep_for(now - blockStart);
            blockStart = Clock::now();
        }
        const Clock::time_point begin = Clock::now();
        const bool done = cycle(static_cast<uint32_t>(i));
        const Clock::time_point end = Clock::now();
        if (!done) {
            return false;
        }
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(end - begin).count();
        latencies[i] = static_cast<uint32_t>(std::min<int64_t>(ns, UINT32_MAX));
    }
    std::sort(latencies.begin(), latencies.end());
    const size_t n = latencies.size();
    figures.p50 = latencies[n / 2];
    figures.p99 = latencies[n * 99 / 100];
    figures.p9999 = latencies[n * 9999 / 10000];
    figures.max = latencies[n - 1];
    return true;
}

// Fills the machine's state and makes its text; empty when it worked, else why not.
std::string Prepare() {
    CSimApplication& app = CSimApplication::instance();
    app.start(kDeclarations);
    s_machine.at = app.address("App.Globals.machine");
    s_machine.size = app.size("App.Globals.machine");
    s_machine.sent = app.address("App.Globals.sent");
    s_machine.partsProduced = reinterpret_cast<uint32_t*>(app.address("App.Globals.machine.partsProduced"));
    s_machine.fillLevel = reinterpret_cast<float*>(app.address("App.Globals.machine.fillLevel"));
    const auto put = [&](const char* member, const void* value, size_t size) {
        std::memcpy(app.address(std::string("App.Globals.machine.") + member), value, size);
    };
    const int32_t id = 40417;
    const double setpoint = 182.35;
    const float level = 0.6875f;
    const uint8_t running = 1;
    const char name[] = "Line 4 / Station 12a";
    const uint32_t cycleTime = 1250;
    const uint32_t lastChange = 1765195200;
    const int16_t mode = -3;
    const uint32_t parts = 3912004;
    const int64_t energy = 81234567890123LL;
    put("machineId", &id, sizeof(id));
    put("setpointTemperature", &setpoint, sizeof(setpoint));
    put("fillLevel", &level, sizeof(level));
    put("running", &running, sizeof(running));
    put("operatorName", name, sizeof(name));
    put("cycleTime", &cycleTime, sizeof(cycleTime));
    put("lastChange", &lastChange, sizeof(lastChange));
    put("operatingMode", &mode, sizeof(mode));
    put("partsProduced", &parts, sizeof(parts));
    put("totalEnergyWh", &energy, sizeof(energy));
    CDomDriverMgr::instance()->LoadSymbols();  // on this thread: no loader to wait for
    if (!ToJson()) {
        return "AddJsonKeyValueFromSymbol refused the small message";
    }
    s_machine.text.assign(s_out, s_length);
    if (!FromJson()) {
        return "SetSymbolFromJson refused the small message";
    }
    return "";
}

std::string Permission(int result) {
    return result == 0 ? "taken" : std::string("refused (") + std::strerror(errno) + ")";
}

}  // namespace

int main(int argc, char** argv) {
    size_t cycles = 1000000;
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--cycles=", 9) == 0) {
            cycles = std::max<size_t>(1, std::strtoul(argv[i] + 9, nullptr, 10));
        } else {
            rest.push_back(argv[i]);
        }
    }
    int restCount = static_cast<int>(rest.size());
    benchmark::Initialize(&restCount, rest.data());
    if (benchmark::ReportUnrecognizedArguments(restCount, rest.data())) {
        return 2;
    }
    if (!LoadComponentForBenchmarks()) {
        std::fprintf(stderr, "the component did not load into the simulated host\n");
        return 1;
    }
    const std::string why = Prepare();
    if (!why.empty()) {
        std::fprintf(stderr, "set-up failed: %s\n", why.c_str());
        return 1;
    }
    CSimHost::instance().clearLog();
    const std::string locked = Permission(mlockall(MCL_CURRENT | MCL_FUTURE));
    sched_param priority{};
    priority.sched_priority = kPriority;
    const std::string fifo = Permission(sched_setscheduler(0, SCHED_FIFO, &priority));
    std::vector<uint32_t> latencies(cycles, 1);  // touched: no page fault while measuring

    struct CRow {
        const char* title;
        std::function<bool(uint32_t)> cycle;
    };
    const std::vector<CRow> rows = {
        {"empty loop", [](uint32_t) { return true; }},
        {"small message to JSON + read-out", [](uint32_t) { return ToJson(); }},
        {"small message JSON to variable", [](uint32_t) { return FromJson(); }},
        {"small message by exception + read-out", ByException},
    };
    std::printf("cycle latency, %zu cycles each; SCHED_FIFO %d: %s; mlockall: %s\n", cycles, kPriority,
                fifo.c_str(), locked.c_str());
    std::printf("%-40s %10s %10s %10s %10s\n", "cycle", "p50", "p99", "p99.99", "max");
    for (const CRow& row : rows) {
        ToJson();  // every cycle starts from a document that holds the message
        CFigures figures;
        if (!Measure(row.cycle, latencies, figures)) {
            std::fprintf(stderr, "%s: a cycle was refused\n", row.title);
            return 1;
        }
        std::printf("  %-38s %7.0f ns %7.0f ns %7.0f ns %7.0f ns\n", row.title, figures.p50, figures.p99,
                    figures.p9999, figures.max);
    }
    if (!CSimHost::instance().logRecords().empty()) {
        std::fprintf(stderr, "the component logged during the benchmark: %s\n",
                     CSimHost::instance().logTexts().front().c_str());
        return 1;
    }
    return 0;
}
