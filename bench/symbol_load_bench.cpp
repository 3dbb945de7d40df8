// Symbol load: how a load grows with the application, for 10^3 to 10^6 nodes (variables,
// members and elements), in two shapes:
// - flat: one ARRAY OF INT;
// - nested four levels deep: an array of structures, each holding an array of structures
//   of scalars (ARRAY OF ST_Outer; ST_Outer: id, inner : ARRAY[1..10] OF ST_Inner;
//   ST_Inner: v, w), 33 nodes per outer element;
// the applications of the load targets, each under every runtime setting the simulated
// host offers (elements named by the array's name and indices, by indices alone, by full
// path or not at all; members without names; arrays with padding between elements):
// - "target": ARRAY[0..9999999] OF LREAL beside ARRAY[1..100000] OF a structure of six
//   members (10,700,002 variables, members and elements);
// - "million": ARRAY[0..999999] OF LREAL;
// - "mixed": ARRAY[0..99999] OF LREAL beside ARRAY[1..10000] OF the structure;
// and two applications of declared variables and members only, for the index memory per
// declared node: 30,000 top-level LREAL variables ("scalars"), 2,000 structures nested
// four levels deep, 9 nodes each ("structs").
//
// Lookups, in the target application: the address of an element (of either array) or of a
// member of an element, and the address of a top-level variable, each found as a datatype
// call finds it (WithVariable: the index lock, the lookup, the variable's lock), 4,096
// addresses per iteration in a random order.
// One iteration is one complete load (walk, index, publication) run by LoadSymbols on the
// benchmark thread instead of the loader thread, so that scheduling does not enter the
// time; the index of the previous load is emptied outside the timed part. The
// application's own node records are made by a first load before the timing, as a real
// host has them from its download.
//
// Printed after the table, per shape and size: the time of one load and nodes per second;
// the resident growth over one load (the previous index freed and the heap trimmed before);
// the host's share of a load, measured apart: three loads with every one of the
// seventeen host functions wrapped by a timer (less the cost of reading the clock)
// against three loads without, run alternately; the host calls per node; the index's memory per node,
// measured by counting the bytes of every allocation (this binary replaces the global operator new and
// delete): what emptying the index frees, and the peak above the start while the load builds trees and
// copies.
//
// The shapes' sizes are element counts: arrays cost a load one element, so every size
// loads in microseconds (the node columns still count every element). Where the
// runtime's answers make arrays be walked element by element, a node costs about 180
// bytes and a million take a few hundred megabytes.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "CmpIecVarAccessItf.h"
#include "SimApplication.h"
#include "SimHost.h"
#include "support/BenchRatio.h"
#include "support/LargeApplications.h"
#include "var/DomDriverMgr.h"

// ---- allocation counting --------------------------------------------------------------------

namespace {

std::atomic<int64_t> s_liveBytes{0};
std::atomic<int64_t> s_peakBytes{0};

void* CountedAllocation(size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    const int64_t live =
        s_liveBytes.fetch_add(static_cast<int64_t>(malloc_usable_size(p)), std::memory_order_relaxed) +
        static_cast<int64_t>(malloc_usable_size(p));
    int64_t peak = s_peakBytes.load(std::memory_order_relaxed);
    while (live > peak && !s_peakBytes.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
    return p;
}

void CountedRelease(void* p) {
    if (p != nullptr) {
        s_liveBytes.fetch_sub(static_cast<int64_t>(malloc_usable_size(p)), std::memory_order_relaxed);
        std::free(p);
    }
}

}  // namespace

void* operator new(size_t size) { return CountedAllocation(size); }
void* operator new[](size_t size) { return CountedAllocation(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return CountedAllocation(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    try {
        return CountedAllocation(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept { CountedRelease(p); }
void operator delete[](void* p) noexcept { CountedRelease(p); }
void operator delete(void* p, size_t) noexcept { CountedRelease(p); }
void operator delete[](void* p, size_t) noexcept { CountedRelease(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { CountedRelease(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { CountedRelease(p); }

namespace {

using Clock = std::chrono::steady_clock;

// ---- the host's own time ---------------------------------------------------------------------

std::atomic<int64_t> s_hostNs{0};
std::atomic<uint64_t> s_hostCalls{0};

// A host function wrapped by a timer: the simulated host's function `s_original` is
// called and the time inside it added to s_hostNs.
template <typename Function, int Index>
struct CTimedHostFunction;

template <typename Result, typename... Args, int Index>
struct CTimedHostFunction<Result (*)(Args...), Index> {
    static Result (*s_original)(Args...);
    static Result call(Args... args) {
        const Clock::time_point start = Clock::now();
        Result result = s_original(args...);
        s_hostNs.fetch_add(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count(),
                           std::memory_order_relaxed);
        s_hostCalls.fetch_add(1, std::memory_order_relaxed);
        return result;
    }
};
template <typename Result, typename... Args, int Index>
Result (*CTimedHostFunction<Result (*)(Args...), Index>::s_original)(Args...) = nullptr;

template <typename Function, int Index>
void Wrap(const char* name) {
    CSimHost& host = CSimHost::instance();
    CTimedHostFunction<Function, Index>::s_original = reinterpret_cast<Function>(host.function(name));
    host.replaceFunction(name, reinterpret_cast<RTS_VOID_FCTPTR>(&CTimedHostFunction<Function, Index>::call));
}

// Puts the timers around the seventeen functions (true) or takes them away (false); the
// component imports its functions again either way.
void TimeHostFunctions(bool on) {
    CSimHost& host = CSimHost::instance();
    if (on) {
        Wrap<PF_IECVARACC_GET_FIRST_INTERFACE, 0>("IecVarAccGetFirstInterface");
        Wrap<PF_IECVARACC_GET_APPLICATION_NAME, 1>("IecVarAccGetApplicationName");
        Wrap<PF_IECVARACC_BROWSE_GET_ROOT, 2>("IecVarAccBrowseGetRoot");
        Wrap<PF_IECVARACC_BROWSE_DOWN, 3>("IecVarAccBrowseDown");
        Wrap<PF_IECVARACC_BROWSE_GET_NEXT, 4>("IecVarAccBrowseGetNext");
        Wrap<PF_IECVARACC_GET_NODE_FULL_PATH, 5>("IecVarAccGetNodeFullPath");
        Wrap<PF_IECVARACC_GET_NODE_TYPE, 6>("IecVarAccGetNodeType");
        Wrap<PF_IECVARACC_INIT_VAR_INFO, 7>("IecVarAccInitVarInfo");
        Wrap<PF_IECVARACC_EXIT_VAR_INFO, 8>("IecVarAccExitVarInfo");
        Wrap<PF_IECVARACC_GET_NODE3, 9>("IecVarAccGetNode3");
        Wrap<PF_IECVARACC_GET_NODE, 10>("IecVarAccGetNode");
        Wrap<PF_IECVARACC_GET_SIZE3, 11>("IecVarAccGetSize3");
        Wrap<PF_IECVARACC_GET_TYPE_CLASS3, 12>("IecVarAccGetTypeClass3");
        Wrap<PF_IECVARACC_GET_ADDRESS3, 13>("IecVarAccGetAddress3");
        Wrap<PF_IECVARACC_GET_NODE_NAME, 14>("IecVarAccGetNodeName");
        Wrap<PF_IECVARACC_GET_TYPE_NODE3, 15>("IecVarAccGetTypeNode3");
        Wrap<PF_IECVARACC_GET_TYPE_DESC, 16>("IecVarAccGetTypeDesc");
    } else {
        host.resetFunctions();
    }
    host.importFunctions();
}

// What one clock reading costs: the timed interval of each wrapped call holds about one.
double ClockReadNs() {
    const int kReads = 1000000;
    const Clock::time_point start = Clock::now();
    Clock::time_point last = start;
    for (int i = 0; i < kReads; ++i) {
        last = Clock::now();
    }
    return std::chrono::duration<double, std::nano>(last - start).count() / kReads;
}

// ---- the applications ------------------------------------------------------------------------

constexpr int kNestedInner = 10;                         // ST_Inner elements per ST_Outer
constexpr size_t kNodesPerOuter = 3 + 3 * kNestedInner;  // element, id, inner, 10 x (element, v, w)

struct Shape {
    const char* name;
    // The declaration of an application of about `nodes` nodes; sets `actual` to its
    // exact node count.
    std::string (*declare)(size_t nodes, size_t& actual);
    const char* runtime = nullptr;  // the runtime setting's name; null: the default one
    CSimFreedoms freedoms = CSimFreedoms();
};

std::string DeclareFlat(size_t nodes, size_t& actual) {
    actual = nodes;
    return "VAR_GLOBAL a : ARRAY[1.." + std::to_string(nodes - 1) + "] OF INT; END_VAR";
}

std::string DeclareNested(size_t nodes, size_t& actual) {
    const size_t outer = std::max<size_t>(1, (nodes - 1 + kNodesPerOuter / 2) / kNodesPerOuter);
    actual = 1 + outer * kNodesPerOuter;
    return "TYPE ST_Inner : STRUCT v : INT; w : REAL; END_STRUCT END_TYPE\n"
           "TYPE ST_Outer : STRUCT id : DINT; inner : ARRAY[1.." +
           std::to_string(kNestedInner) +
           "] OF ST_Inner; END_STRUCT END_TYPE\n"
           "VAR_GLOBAL a : ARRAY[1.." +
           std::to_string(outer) + "] OF ST_Outer; END_VAR";
}

constexpr int kTargetReals = 10000000;     // ARRAY[0..9999999] OF LREAL
constexpr int kTargetStructures = 100000;  // ARRAY[1..100000] OF ST_Six
constexpr size_t kTargetNodes = 2 + kTargetReals + 7 * size_t{kTargetStructures};

// ARRAY[0..reals-1] OF LREAL, and ARRAY[1..structures] OF ST_Six beside when structures > 0.
std::string DeclareReals(int reals, int structures, size_t& actual) {
    actual = 1 + size_t(reals) + (structures > 0 ? 1 + 7 * size_t(structures) : 0);
    std::string text =
        "TYPE ST_Six : STRUCT id : DINT; temp : LREAL; level : REAL; count : UDINT; ok : BOOL; "
        "name : STRING(15); END_STRUCT END_TYPE\n"
        "VAR_GLOBAL reals : ARRAY[0.." +
        std::to_string(reals - 1) + "] OF LREAL;";
    if (structures > 0) {
        text += " recs : ARRAY[1.." + std::to_string(structures) + "] OF ST_Six;";
    }
    return text + " END_VAR";
}
std::string DeclareTarget(size_t, size_t& actual) {
    return DeclareReals(kTargetReals, kTargetStructures, actual);
}
std::string DeclareMillion(size_t, size_t& actual) { return DeclareReals(1000000, 0, actual); }
std::string DeclareMixed(size_t, size_t& actual) { return DeclareReals(100000, 10000, actual); }

std::string DeclareScalars(size_t, size_t& actual) {
    actual = 30000;
    return ScalarVariablesDeclarations(30000);
}

std::string DeclareStructs(size_t, size_t& actual) {
    actual = 2000 * kNestedStructureNodes;
    return NestedStructuresDeclarations(2000);
}

const Shape kShapes[] = {{"flat", DeclareFlat}, {"nested4", DeclareNested}};
const size_t kSizes[] = {1000, 10000, 100000, 1000000};
const Shape kTargetShape = {"target", DeclareTarget};
const Shape kDeclaredShapes[] = {{"scalars", DeclareScalars}, {"structs", DeclareStructs}};

// The load targets under every runtime setting of the simulated host.
std::vector<Shape> RuntimeShapes() {
    std::vector<Shape> shapes;
    for (const CSimRuntime& runtime : SimRuntimes()) {
        shapes.push_back({"target", DeclareTarget, runtime.name, runtime.freedoms});
        shapes.push_back({"million", DeclareMillion, runtime.name, runtime.freedoms});
        shapes.push_back({"mixed", DeclareMixed, runtime.name, runtime.freedoms});
    }
    return shapes;
}
const std::vector<Shape> kRuntimeShapes = RuntimeShapes();

// Every load benchmark registered, in the order of the summary.
std::vector<std::pair<const Shape*, size_t>> s_registered;

constexpr int kShareRounds = 3;
constexpr int kLookupsPerIteration = 4096;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// What was measured apart from the timed loads, per benchmark.
struct LoadFacts {
    size_t nodes = 0;
    size_t entries = 0;         // distinct indexed addresses
    int64_t indexBytes = 0;     // freed by emptying the index
    int64_t peakBytes = 0;      // above the start, while the load ran
    int64_t residentBytes = 0;  // resident growth over the load
    double hostShare = 0;       // of the host's own time in a load
    uint64_t hostCalls = 0;
};
std::map<std::string, LoadFacts> s_facts;
std::string s_running;  // the benchmark whose application runs

std::string BenchName(const Shape& shape, size_t nodes) {
    return std::string("symbol_load/") + shape.name + (nodes != 0 ? "/" + std::to_string(nodes) : "") +
           (shape.runtime != nullptr ? std::string("/") + shape.runtime : std::string());
}

// Resident memory of the process, in bytes.
int64_t ResidentBytes() {
    FILE* statm = std::fopen("/proc/self/statm", "r");
    long pages = 0;
    long resident = 0;
    if (statm != nullptr) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    return static_cast<int64_t>(resident) * sysconf(_SC_PAGESIZE);
}

// Starts the shape's application under its runtime setting.
void StartApplication(const Shape& shape, size_t nodes, size_t& actual) {
    CSimApplication& app = CSimApplication::instance();
    app.setFreedoms(shape.freedoms);
    app.start(shape.declare(nodes, actual));
}

CDomDriverMgr* Manager() { return CDomDriverMgr::instance(); }

size_t IndexEntries() { return CDomDriverMgr::instance()->index().Size(); }

// Starts the application and measures one load of it apart: memory, then host time.
LoadFacts Prepare(const Shape& shape, size_t nodes) {
    LoadFacts facts;
    Manager()->EndLoadSymbols();
    StartApplication(shape, nodes, facts.nodes);
    Manager()->LoadSymbols();  // the host makes its node records
    Manager()->EndLoadSymbols();

    malloc_trim(0);
    const int64_t resident = ResidentBytes();
    Manager()->LoadSymbols();
    facts.residentBytes = ResidentBytes() - resident;
    Manager()->EndLoadSymbols();

    const int64_t start = s_liveBytes.load();
    s_peakBytes.store(start);
    Manager()->LoadSymbols();
    facts.peakBytes = s_peakBytes.load() - start;
    facts.entries = IndexEntries();
    const int64_t loaded = s_liveBytes.load();
    Manager()->EndLoadSymbols();
    facts.indexBytes = loaded - s_liveBytes.load();

    // The host's share: loads with the timers around the host functions, and loads
    // without them right beside, so that both see the machine in the same state.
    const double clockNs = ClockReadNs();
    std::vector<double> plain;
    std::vector<double> host;
    for (int round = 0; round < kShareRounds; ++round) {
        const Clock::time_point begin = Clock::now();
        Manager()->LoadSymbols();
        plain.push_back(std::chrono::duration<double, std::nano>(Clock::now() - begin).count());
        Manager()->EndLoadSymbols();

        TimeHostFunctions(true);
        s_hostNs = 0;
        s_hostCalls = 0;
        Manager()->LoadSymbols();
        TimeHostFunctions(false);
        Manager()->EndLoadSymbols();
        facts.hostCalls = s_hostCalls.load();
        host.push_back(std::max(0.0, static_cast<double>(s_hostNs.load()) - clockNs * facts.hostCalls));
    }
    facts.hostShare = Median(host) / Median(plain);
    CSimHost::instance().clearLog();
    return facts;
}

void LoadBenchmark(benchmark::State& state, const Shape* shape, size_t nodes) {
    const std::string name = BenchName(*shape, nodes);
    if (s_facts.count(name) == 0) {
        s_facts[name] = Prepare(*shape, nodes);
    } else if (s_running != name) {
        // Repetitions run interleaved with other benchmarks, which start their own.
        size_t actual = 0;
        Manager()->EndLoadSymbols();
        StartApplication(*shape, nodes, actual);
        Manager()->LoadSymbols();
    }
    s_running = name;
    const LoadFacts& facts = s_facts[name];
    for (auto _ : state) {
        state.PauseTiming();
        Manager()->EndLoadSymbols();  // the previous index is not freed inside the timing
        state.ResumeTiming();
        Manager()->LoadSymbols();
    }
    if (IndexEntries() != facts.entries) {
        state.SkipWithError("the load indexed another number of addresses than the first one");
    }
    CSimHost::instance().clearLog();
    state.counters["nodes"] = static_cast<double>(facts.nodes);
    state.counters["nodes_per_s"] = benchmark::Counter(static_cast<double>(facts.nodes) * state.iterations(),
                                                       benchmark::Counter::kIsRate);
}

// Starts the target application and loads it, unless it runs already.
void RunTargetApplication() {
    const std::string name = BenchName(kTargetShape, kTargetNodes);
    if (s_running == name) {
        return;
    }
    size_t actual = 0;
    Manager()->EndLoadSymbols();
    StartApplication(kTargetShape, kTargetNodes, actual);
    Manager()->LoadSymbols();
    CSimHost::instance().clearLog();
    s_running = name;
}

// Addresses of elements and of members of elements of the target application (elements),
// or of its two top-level variables (variables), in a random order.
std::vector<void*> LookupAddresses(bool elements) {
    CSimApplication& app = CSimApplication::instance();
    static const char* const kMembers[] = {"id", "temp", "level", "count", "ok", "name"};
    std::mt19937 random(20);
    std::vector<void*> addresses;
    for (int i = 0; i < kLookupsPerIteration; ++i) {
        std::string name;
        if (!elements) {
            name = i % 2 == 0 ? "App.Globals.reals" : "App.Globals.recs";
        } else if (i % 3 == 0) {
            name = "App.Globals.reals[" + std::to_string(random() % kTargetReals) + "]";
        } else {
            name = "App.Globals.recs[" + std::to_string(1 + random() % kTargetStructures) + "]";
            if (i % 3 == 2) {
                name += std::string(".") + kMembers[random() % 6];
            }
        }
        addresses.push_back(app.address(name));
    }
    return addresses;
}

void LookupBenchmark(benchmark::State& state, bool elements) {
    RunTargetApplication();
    const std::vector<void*> addresses = LookupAddresses(elements);
    CSymbolIndex& index = CDomDriverMgr::instance()->index();
    uintptr_t sum = 0;
    size_t refused = 0;
    for (auto _ : state) {
        for (void* address : addresses) {
            refused += index.WithVariable(address, false, [&sum](CVariableView var) {
                sum += reinterpret_cast<uintptr_t>(var.address());
            }) != nullptr;
        }
    }
    benchmark::DoNotOptimize(sum);
    if (refused != 0) {
        state.SkipWithError("an address was not found");
    }
}

void PrintSummary(const BenchTimeLookup& times) {
    std::printf("\n%-8s %-16s %9s %12s %13s %11s %11s %13s %13s %13s %12s %10s\n", "shape", "runtime",
                "nodes", "load (ms)", "nodes/s", "host share", "host calls", "calls/node", "index B/node",
                "peak B/node", "index kB", "resident kB");
    for (const auto& registered : s_registered) {
        const Shape& shape = *registered.first;
        const std::string name = BenchName(shape, registered.second);
        double ns = 0;
        const auto found = s_facts.find(name);
        if (!times(name, ns) || found == s_facts.end()) {
            continue;
        }
        const LoadFacts& facts = found->second;
        const double nodes = static_cast<double>(facts.nodes);
        std::printf("%-8s %-16s %9zu %12.3f %13.0f %12.0f%% %11llu %11.4f %13.2f %13.2f %13.1f %12.1f\n",
                    shape.name, shape.runtime != nullptr ? shape.runtime : "default", facts.nodes, ns / 1e6,
                    nodes / (ns / 1e9), 100.0 * facts.hostShare,
                    static_cast<unsigned long long>(facts.hostCalls), facts.hostCalls / nodes,
                    facts.indexBytes / nodes, facts.peakBytes / nodes, facts.indexBytes / 1024.0,
                    facts.residentBytes / 1024.0);
    }
    std::printf(
        "(nodes: the variables, members and elements of the application; host share: the simulated "
        "host's own time inside its functions, from loads timed apart with and without timers around "
        "them; host calls of one load, and per node; index kB: what emptying the index frees; resident "
        "kB: the growth of the resident memory over one load)\n");
    // The load target, whatever the runtime: under 100 ms with under 1 MB of index.
    for (const Shape& shape : kRuntimeShapes) {
        double ns = 0;
        const std::string name = BenchName(shape, 0);
        const auto found = s_facts.find(name);
        if (std::string(shape.name) != "target" || !times(name, ns) || found == s_facts.end()) {
            continue;
        }
        const bool met = ns < 100e6 && found->second.indexBytes < (1 << 20);
        std::printf("target under %-16s %8.3f ms, %8.1f kB of index (100 ms, 1 MB: %s)\n", shape.runtime,
                    ns / 1e6, found->second.indexBytes / 1024.0, met ? "met" : "MISSED");
    }
    for (const char* lookup : {"symbol_lookup/element", "symbol_lookup/variable"}) {
        double ns = 0;
        if (times(lookup, ns)) {
            std::printf("%-24s %8.1f ns per lookup\n", lookup, ns / kLookupsPerIteration);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (!LoadComponentForBenchmarks()) {
        std::fprintf(stderr, "the component did not load into the simulated host\n");
        return 1;
    }
    for (const Shape& shape : kShapes) {
        for (size_t size : kSizes) {
            s_registered.emplace_back(&shape, size);
        }
    }
    for (const Shape& shape : kDeclaredShapes) {
        s_registered.emplace_back(&shape, 0);
    }
    for (const Shape& shape : kRuntimeShapes) {
        s_registered.emplace_back(&shape, 0);
    }
    for (const auto& registered : s_registered) {
        benchmark::RegisterBenchmark(BenchName(*registered.first, registered.second).c_str(), LoadBenchmark,
                                     registered.first, registered.second)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("symbol_lookup/element", LookupBenchmark, true)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("symbol_lookup/variable", LookupBenchmark, false)
        ->Unit(benchmark::kMicrosecond);
    // Repetitions run in order, never interleaved: interleaving would start another
    // application between two repetitions and leave the heap as the largest load left it,
    // which spreads the times of the small loads by half their value.
    std::vector<char*> args(argv, argv + argc);
    char inOrder[] = "--benchmark_enable_random_interleaving=false";
    args.push_back(inOrder);
    const int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    const int status = RunBenchmarksWithRatios(count, args.data(), {}, PrintSummary);
    CSimApplication::instance().stop();
    return status;
}
