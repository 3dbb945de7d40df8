#!/usr/bin/env bash
# Builds libzentrik and runs every test.
#   scripts/test.sh           plain build
#   scripts/test.sh asan      AddressSanitizer with UndefinedBehaviorSanitizer
#   scripts/test.sh tsan      ThreadSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."

variant="${1:-plain}"
case "$variant" in
    plain) sanitize="" ;;
    asan) sanitize="address" ;;
    tsan) sanitize="thread" ;;
    *) echo "unknown variant '$variant' (plain, asan or tsan)" >&2; exit 2 ;;
esac

scripts/install-deps.sh
build="build/$variant"
jobs="$(nproc)"
cmake -S . -B "$build" -DZENTRIK_SANITIZE="$sanitize" >/dev/null
cmake --build "$build" -j "$jobs"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:${TSAN_OPTIONS:-}"
ctest --test-dir "$build" --output-on-failure -j "$jobs"
