#include "support/BenchRatio.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>

#include "RV5072_Zentrik/RV5072_Zentrik.h"
#include "SimHost.h"

namespace {

// The console report, plus the CPU time per iteration of every benchmark in ns.
class CRatioReporter : public benchmark::ConsoleReporter {
   public:
    // Colours only on a terminal, so that a report kept in a file reads plainly.
    CRatioReporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) {
                continue;
            }
            const double ns =
                run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
            const std::string name = run.run_name.str();
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name == "median") {
                    medians_[name] = ns;
                }
            } else {
                singles_[name] = ns;
                const auto kept = fastest_.emplace(name, ns);
                if (ns < kept.first->second) {
                    kept.first->second = ns;
                }
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Median over the repetitions, or the one run there was.
    bool cpuNs(const std::string& name, double& ns) const {
        std::map<std::string, double>::const_iterator found = medians_.find(name);
        if (found == medians_.end()) {
            found = singles_.find(name);
            if (found == singles_.end()) {
                return false;
            }
        }
        ns = found->second;
        return true;
    }

    // The fastest repetition. On a shared machine the repetitions fall into fast and slow
    // phases, and the component's side slows more than the bare side in the slow ones:
    // the fastest repetitions compare the two without those phases.
    bool fastestNs(const std::string& name, double& ns) const {
        const std::map<std::string, double>::const_iterator found = fastest_.find(name);
        if (found == fastest_.end()) {
            return false;
        }
        ns = found->second;
        return true;
    }

   private:
    std::map<std::string, double> medians_;
    std::map<std::string, double> fastest_;
    std::map<std::string, double> singles_;
};

// "19.1 ns", "2361.7 us", "12.40 ms".
std::string FormatNs(double ns) {
    char text[32];
    if (ns < 1e5) {
        std::snprintf(text, sizeof(text), "%.1f ns", ns);
    } else if (ns < 1e8) {
        std::snprintf(text, sizeof(text), "%.1f us", ns / 1e3);
    } else {
        std::snprintf(text, sizeof(text), "%.2f ms", ns / 1e6);
    }
    return text;
}

}  // namespace

int RunBenchmarksWithRatios(int argc, char** argv, const std::vector<BenchPair>& pairs,
                            const std::function<void(const BenchTimeLookup&)>& after) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    CRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    if (after) {
        after([&reporter](const std::string& name, double& ns) { return reporter.cpuNs(name, ns); });
    }
    if (pairs.empty()) {
        return 0;
    }
    std::printf("\n%-48s %14s %14s %8s %8s  %s\n", "per call (median CPU time)", "component", "RapidJSON",
                "ratio", "fastest", "target");
    for (const BenchPair& pair : pairs) {
        double component = 0;
        double baseline = 0;
        if (!reporter.cpuNs(pair.component, component) || !reporter.cpuNs(pair.baseline, baseline)) {
            continue;  // filtered out
        }
        component /= pair.callsPerIteration;
        baseline /= pair.callsPerIteration;
        const double ratio = component / baseline;
        // "-" when the repetitions were not reported one by one (aggregates only).
        double fastestComponent = 0;
        double fastestBaseline = 0;
        char fastest[16] = "-";
        if (reporter.fastestNs(pair.component, fastestComponent) &&
            reporter.fastestNs(pair.baseline, fastestBaseline)) {
            std::snprintf(fastest, sizeof(fastest), "%.2fx", fastestComponent / fastestBaseline);
        }
        char target[32] = "-";
        if (pair.target > 0) {
            std::snprintf(target, sizeof(target), "%.2fx %s", pair.target,
                          ratio <= pair.target ? "met" : "MISSED");
        }
        std::printf("%-48s %14s %14s %7.2fx %8s  %s\n", pair.title.c_str(), FormatNs(component).c_str(),
                    FormatNs(baseline).c_str(), ratio, fastest, target);
    }
    return 0;
}

bool LoadComponentForBenchmarks() {
    CSimHost& host = CSimHost::instance();
    host.resetFunctions();
    host.loadComponent(ComponentEntry);
    return host.importFunctions() == ERR_OK;
}
