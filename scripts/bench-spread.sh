#!/usr/bin/env bash
# Runs one benchmark suite as several separate processes and prints, for each row of its
# summary of ratios, the lowest, the median and the highest ratio over the processes.
#   scripts/bench-spread.sh <suite> [processes] [Google Benchmark args...]
#   scripts/bench-spread.sh datatype 16 --benchmark_filter='^datatype/small/'
# On a shared virtual machine the ratio of one process can lie far from another's: the
# component's side slows more than the bare side when the machine is busy elsewhere, and
# the slow phases last longer than one process. One run's ratio is then no figure; the
# spread over many runs is. Each process's ratios are the two its summary prints: of the
# median CPU times of its repetitions (run in random interleaving), and of the fastest
# repetitions, which leave the slow phases out. Both are spread out, in two tables.
set -euo pipefail
cd "$(dirname "$0")/.."

suite="${1:?usage: scripts/bench-spread.sh <suite> [processes] [benchmark args...]}"
shift
processes=12
if (($# > 0)) && [[ "$1" =~ ^[0-9]+$ ]]; then
    processes="$1"
    shift
fi

ZENTRIK_WITH_BENCH=1 scripts/install-deps.sh
build="build/bench"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DZENTRIK_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${suite}_bench"

ratios="$(mktemp)"
trap 'rm -f "$ratios"' EXIT
for ((run = 1; run <= processes; ++run)); do
    # The summary's rows: a title, the component's and RapidJSON's times with their
    # units, the ratio ("1.41x") and the fastest repetitions' ratio, then the target when
    # the row has one.
    "$build/bench/${suite}_bench" --benchmark_repetitions=10 --benchmark_min_time=0.02 \
        --benchmark_enable_random_interleaving=true "$@" 2>/dev/null |
        awk '/^per call \(median CPU time\)/ { rows = 1; next }
             rows && NF == 0 { rows = 0 }
             rows && NF >= 6 {
                 for (i = 1; i <= NF; ++i) if ($i ~ /^[0-9.]+x$/) break
                 if (i > NF || i < 6) next
                 title = $1
                 for (j = 2; j <= i - 5; ++j) title = title " " $j
                 fastest = $(i + 1)
                 sub(/x$/, "", $i)
                 sub(/x$/, "", fastest)
                 print title "\t" $i "\t" fastest
             }' >>"$ratios"
done

# One table per column of ratios: 2, the medians' ratio; 3, the fastest repetitions'.
spread() {
    printf "%-48s %8s %8s %8s\n" "$1 over $processes processes" lowest median highest
    awk -F'\t' -v column="$2" '{ print $1 "\t" $column }' "$ratios" | sort -t$'\t' -k1,1 -k2,2n |
        awk -F'\t' '
            function flush() {
                if (n > 0) printf "%-48s %7.2fx %7.2fx %7.2fx\n", title, v[1], v[int((n + 1) / 2)], v[n]
            }
            $1 != title { flush(); title = $1; n = 0 }
            { v[++n] = $2 }
            END { flush() }'
}
spread "ratio" 2
echo
spread "fastest repetitions' ratio" 3
