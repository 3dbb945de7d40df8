// Benchmark support: runs the registered benchmarks and prints, for each pair of a
// component operation and bare RapidJSON doing the same work, the cost per call of both
// and their ratio, against the pair's target where it has one.
//
// Every suite's main() registers its benchmarks (benchmark::RegisterBenchmark), names its
// pairs and hands over to RunBenchmarksWithRatios. The ratio uses the median CPU time of
// the repetitions (the single run without repetitions), so time the process spends
// preempted on a loaded machine counts less than wall-clock time would.
//
// Single-threaded: called once from main.
#ifndef BENCH_SUPPORT_BENCHRATIO_H
#define BENCH_SUPPORT_BENCHRATIO_H

#include <functional>
#include <string>
#include <vector>

// A component operation and its bare RapidJSON counterpart, by benchmark name.
struct BenchPair {
    std::string title;         // what one call does, for the summary
    std::string component;     // benchmark name of the component's side
    std::string baseline;      // benchmark name of the RapidJSON side
    double callsPerIteration;  // calls timed by one benchmark iteration (both sides)
    double target;             // the ratio to stay within; 0 when the pair has none
};

// The median CPU time per iteration of a benchmark that ran, in ns; false when it did
// not run (filtered out).
typedef std::function<bool(const std::string& name, double& ns)> BenchTimeLookup;

// Initialises Google Benchmark with the command line, runs the selected benchmarks, then
// prints the summary of the pairs whose both sides ran, and hands the times to `after`
// (when given) for a suite's own summary. Returns the exit status.
int RunBenchmarksWithRatios(int argc, char** argv, const std::vector<BenchPair>& pairs,
                            const std::function<void(const BenchTimeLookup&)>& after = nullptr);

// Loads the component into the simulated host (entry, then import of the host
// functions), as a controller loads it. Returns false when the import fails.
bool LoadComponentForBenchmarks();

#endif  // BENCH_SUPPORT_BENCHRATIO_H
