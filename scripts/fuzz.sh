#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and UndefinedBehaviorSanitizer)
# and runs each one for a while, starting from its kept inputs in fuzz/corpus/<name>/.
#   scripts/fuzz.sh [seconds per target]      default 60
# Fails when a target finds an input that crashes or fails one of its checks. The
# input is then in build/fuzz/artifacts/<name>/; to keep it as a regression case, copy it
# into fuzz/corpus/<name>/ (fuzz_regression_test runs every file there).
# New inputs a run finds go to build/fuzz/corpus/<name>/, never into the source tree.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
ZENTRIK_WITH_CLANG=1 scripts/install-deps.sh

build="build/fuzz"
CC=clang CXX=clang++ cmake -S . -B "$build" -DZENTRIK_FUZZ=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_targets

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"

passed=0
failed=0
for source in fuzz/*_fuzzer.cpp; do
    target="$(basename "$source" .cpp)"
    name="${target%_fuzzer}"
    found="$build/corpus/$name"
    artifacts="$build/artifacts/$name"
    mkdir -p "$found" "$artifacts" "fuzz/corpus/$name"
    echo "== $target: ${seconds}s"
    # The first folder receives what the run finds; the kept inputs are read only.
    if ! "$build/fuzz/$target" "$found" "fuzz/corpus/$name" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
        -artifact_prefix="$artifacts/" -print_final_stats=1 >"$build/$name.log" 2>&1; then
        tail -n 60 "$build/$name.log"
        echo "FAILED: $target (input in $artifacts/)" >&2
        failed=$((failed + 1))
    else
        grep -E "^(Done|stat::new_units_added)" "$build/$name.log" || true
        passed=$((passed + 1))
    fi
done
echo "fuzz: $passed passed, $failed failed"
((failed == 0))
