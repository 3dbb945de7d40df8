#!/usr/bin/env bash
# Measures the benchmark suites and writes their figures as one table into
# bench/README.md, between the lines <!-- figures:begin --> and <!-- figures:end -->.
#   scripts/bench-table.sh                   every suite, 5 processes each
#   scripts/bench-table.sh writer reader     these suites; the other rows stay as they are
#   scripts/bench-table.sh -p 6 datatype     6 processes per suite
#   scripts/bench-table.sh --kept            no run: the output scripts/bench.sh kept in
#                                            build/bench/<suite>.txt (one process each)
#   scripts/bench-table.sh --stdout ...      print the table, leave bench/README.md alone
# Each row is one figure: a ratio of a suite's summary (component against its baseline,
# measured in the same process), a throughput or latency ratio, or a load's time and
# index memory. Its figure is the median over the processes, its spread the lowest and
# the highest process, beside the median of the ratios of the fastest repetitions; the
# verdict compares the median with the target. Every row carries when it was taken and
# the machine's load average then: on a shared machine the spread says more than one run.
set -euo pipefail
cd "$(dirname "$0")/.."

processes=5
kept=0
to_stdout=0
suites=()
while (($# > 0)); do
    case "$1" in
        -p | --processes) processes="${2:?-p needs a number}"; shift 2 ;;
        --kept) kept=1; shift ;;
        --stdout) to_stdout=1; shift ;;
        -h | --help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        -*) echo "bench-table: unknown option $1" >&2; exit 2 ;;
        *) suites+=("$1"); shift ;;
    esac
done
all_suites=()
for source in bench/*_bench.cpp; do
    all_suites+=("$(basename "$source" _bench.cpp)")
done
((${#suites[@]} > 0)) || suites=("${all_suites[@]}")
for suite in "${suites[@]}"; do
    [[ -f "bench/${suite}_bench.cpp" ]] || { echo "bench-table: no suite $suite" >&2; exit 2; }
done

build="build/bench"
if ((kept == 0)); then
    ZENTRIK_WITH_BENCH=1 scripts/install-deps.sh
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
        -DZENTRIK_BENCH=ON >/dev/null
    cmake --build "$build" -j "$(nproc)" --target benchmarks >/dev/null
fi

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

# The figures of one suite's output, one per line: figure, value, unit, fastest
# repetitions' ratio (or -), target (or -), and whether the value must stay at or below
# the target (<=) or reach it (>=).
figures() {
    awk -v OFS='\t' '
        function trim(s) { sub(/^ +/, "", s); sub(/ +$/, "", s); return s }
        /^per call \(median CPU time\)/ { part = "ratios"; next }
        /^short add .* latency/ { part = "latency"; next }
        /^two tasks on two variables/ { part = "tasks"; next }
        /^shape +(runtime +)?nodes/ { part = "loads"; next }
        NF == 0 { part = ""; next }
        part == "ratios" && NF >= 6 {
            for (i = 1; i <= NF; ++i) if ($i ~ /^[0-9.]+x$/) break
            if (i > NF || i < 6) next
            title = $1
            for (j = 2; j <= i - 5; ++j) title = title " " $j
            # An indented row measures its parent against another baseline.
            if (substr($0, 1, 2) == "  ") {
                sub(/^(the )?same,? /, "", title)
                title = parent ", " title
            } else {
                parent = title
            }
            ratio = $i; fastest = $(i + 1); target = $(i + 2)
            sub(/x$/, "", ratio); sub(/x$/, "", fastest); sub(/x$/, "", target)
            print title, ratio, "x", fastest, target, "<="
            next
        }
        part == "latency" && /^  p99 ratio/ {
            ratio = $3; target = $5; sub(/x$/, "", ratio); sub(/x.*$/, "", target)
            print "short add p99 " beside " against alone", ratio, "x", "-", target, "<="
            next
        }
        part == "latency" && /^  / {
            beside = $0; sub(/ +[0-9].*$/, "", beside); beside = trim(beside)
            next
        }
        /^cycle latency,/ { part = "cycles"; next }
        part == "cycles" && /^  / && NF >= 9 {
            title = $1
            for (j = 2; j <= NF - 8; ++j) title = title " " $j
            print "cycle latency p99, " title, $(NF - 5), "ns", "-", "-", "<="
            print "cycle latency p99.99, " title, $(NF - 3), "ns", "-", "-", "<="
            next
        }
        part == "tasks" && NF >= 6 && $NF ~ /^(met|MISSED)$/ {
            title = $1
            for (j = 2; j <= NF - 5; ++j) title = title " " $j
            ratio = $(NF - 2); target = $(NF - 1); sub(/x$/, "", ratio); sub(/x$/, "", target)
            print "two tasks on two variables, throughput against one: " title, ratio, "x", "-", target, ">="
            next
        }
        part == "loads" && /^\(/ { part = ""; next }
        part == "loads" && NF >= 12 {
            # shape, runtime (how the simulated host names elements), nodes, load ms, ..., host
            # calls ($7), ..., index B/node ($9), ..., index kB, resident kB.
            shape = ($1 == "target") ? "the target application" : $1
            # The sizes of one shape: the largest alone.
            if (($1 == "flat" || $1 == "nested4") && $3 + 0 < 1000000) next
            if ($2 != "default") {
                # Under the other namings only the target application: the same goals.
                if ($1 != "target") next
                shape = shape " named " $2
            }
            loadTarget = ($1 == "target") ? 100 : "-"
            indexTarget = ($1 == "target") ? 1024 : "-"
            print "symbol load, " shape " (" $3 " nodes)", $4, "ms", "-", loadTarget, "<="
            print "index memory, " shape " (" $3 " nodes)", $(NF - 1), "kB", "-", indexTarget, "<="
            if ($1 == "scalars" || $1 == "structs")
                print "index memory per declared node, " shape, $9, "B", "-", 180, "<="
            next
        }
        /^symbol_lookup\/[a-z_]+ +[0-9.]+ ns per lookup/ {
            print "lookup by address, " substr($1, 15), $2, "ns", "-", "-", "<="
        }
    ' "$@"
}

# The rows of one suite from the figures of its processes (a file per process).
rows() {
    local suite="$1" taken="$2"
    shift 2
    for output in "$@"; do
        figures "$output"
    done | awk -F'\t' -v suite="$suite" -v taken="$taken" '
        function number(v, unit) {
            if (unit == "x") return sprintf("%.2fx", v)
            if (unit == "ms") return sprintf("%.2f ms", v)
            if (unit == "kB") return sprintf("%.1f kB", v)
            return sprintf("%.1f %s", v, unit)
        }
        function sort(a, n,    i, j, t) {
            for (i = 2; i <= n; ++i)
                for (j = i; j > 1 && a[j - 1] > a[j]; --j) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
        }
        !($1 in seen) { seen[$1] = 1; order[++figures] = $1; unit[$1] = $3; target[$1] = $5; way[$1] = $6 }
        { values[$1, ++count[$1]] = $2 + 0; if ($4 != "-") fast[$1, ++fastCount[$1]] = $4 + 0 }
        END {
            for (f = 1; f <= figures; ++f) {
                name = order[f]; n = count[name]
                delete v
                for (i = 1; i <= n; ++i) v[i] = values[name, i]
                sort(v, n)
                median = v[int((n + 1) / 2)]
                spread = n > 1 ? number(v[1], unit[name]) " - " number(v[n], unit[name]) : "-"
                fastest = "-"
                if (fastCount[name] > 0) {
                    delete w
                    for (i = 1; i <= fastCount[name]; ++i) w[i] = fast[name, i]
                    sort(w, fastCount[name])
                    fastest = number(w[int((fastCount[name] + 1) / 2)], "x")
                }
                goal = "-"; verdict = "-"
                if (target[name] != "-" && target[name] != "") {
                    goal = (way[name] == ">=" ? "at least " : "at most ") number(target[name] + 0, unit[name])
                    met = way[name] == ">=" ? median >= target[name] + 0 : median <= target[name] + 0
                    verdict = met ? "met" : "**missed**"
                }
                printf "| %s | %s | %s | %s | %s | %s | %s | %s |\n", suite, name, number(median, unit[name]),
                       spread, fastest, goal, verdict, taken
            }
        }'
}

new_rows="$scratch/new.md"
: >"$new_rows"
for suite in "${suites[@]}"; do
    outputs=()
    if ((kept == 1)); then
        [[ -f "$build/$suite.txt" ]] || { echo "bench-table: no $build/$suite.txt; run scripts/bench.sh" >&2; exit 1; }
        outputs=("$build/$suite.txt")
        taken="$(date -u -r "$build/$suite.txt" '+%Y-%m-%d %H:%M UTC'), kept output"
    else
        taken="$(date -u '+%Y-%m-%d %H:%M UTC'), load $(cut -d' ' -f1 /proc/loadavg)"
        for ((run = 1; run <= processes; ++run)); do
            echo "bench-table: $suite, process $run of $processes" >&2
            "$build/bench/${suite}_bench" --benchmark_repetitions=10 --benchmark_min_time=0.02 \
                --benchmark_enable_random_interleaving=true >"$build/$suite.$run.txt" 2>/dev/null
            outputs+=("$build/$suite.$run.txt")
        done
    fi
    rows "$suite" "$taken" "${outputs[@]}" >>"$new_rows"
done

header='| suite | figure | median | spread over the processes | fastest repetitions | target | verdict | taken |
|---|---|---:|---:|---:|---|---|---|'
if ((to_stdout == 1)); then
    printf '%s\n' "$header"
    cat "$new_rows"
    exit 0
fi

# The table: the new rows of the suites just run, the kept rows of the others, in the
# order of the suites.
page=bench/README.md
grep -q '^<!-- figures:begin -->$' "$page" && grep -q '^<!-- figures:end -->$' "$page" ||
    { echo "bench-table: $page has no <!-- figures:begin --> ... <!-- figures:end --> lines" >&2; exit 1; }
old_rows="$scratch/old.md"
sed -n '/^<!-- figures:begin -->$/,/^<!-- figures:end -->$/p' "$page" | grep '^| [a-z_]* | ' |
    grep -v '^| suite |' >"$old_rows" || true
table="$scratch/table.md"
{
    printf '%s\n' "$header"
    for suite in "${all_suites[@]}"; do
        if printf '%s\n' "${suites[@]}" | grep -qx "$suite"; then
            grep "^| $suite | " "$new_rows" || true
        else
            grep "^| $suite | " "$old_rows" || true
        fi
    done
} >"$table"
awk -v table="$table" '
    /^<!-- figures:begin -->$/ { print; while ((getline line < table) > 0) print line; skip = 1; next }
    /^<!-- figures:end -->$/ { skip = 0 }
    !skip' "$page" >"$scratch/page.md"
cp "$scratch/page.md" "$page"
echo "bench-table: $(($(wc -l <"$table") - 2)) figures in $page" >&2
