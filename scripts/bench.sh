#!/usr/bin/env bash
# Builds the benchmark suites optimised (Release, -O2) and runs each one; every suite
# prints its Google Benchmark table and then the cost per call of each component
# operation next to bare RapidJSON doing the same work, with the ratio.
#   scripts/bench.sh                     every suite, 10 repetitions, interleaved
#   scripts/bench.sh writer [args...]    one suite; further args go to Google Benchmark
# The output of each suite is also kept in build/bench/<suite>.txt.
set -euo pipefail
cd "$(dirname "$0")/.."

ZENTRIK_WITH_BENCH=1 scripts/install-deps.sh
build="build/bench"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DZENTRIK_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target benchmarks

suites=()
if (($# > 0)) && [[ "$1" != -* ]]; then
    suites=("$1")
    shift
else
    for source in bench/*_bench.cpp; do
        suites+=("$(basename "$source" _bench.cpp)")
    done
fi

for suite in "${suites[@]}"; do
    echo "== $suite"
    "$build/bench/${suite}_bench" --benchmark_repetitions=10 --benchmark_enable_random_interleaving=true \
        --benchmark_display_aggregates_only=true "$@" | tee "$build/$suite.txt"
done
