#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every test; then the same
# test suite under ThreadSanitizer and under AddressSanitizer with UndefinedBehaviorSanitizer,
# each in its own build folder; last, every fuzzer for a minute (scripts/fuzz.sh).
# `scripts/test.sh --quick` stops after the plain run.
# A stage that fails ends the run; its times and the names of its failed tests are printed first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/test-ratio.sh

jobs=$(nproc)
summary=()
finish() {
    local rc=$?
    if [ ${#summary[@]} -gt 0 ]; then
        printf 'test.sh: %s\n' "${summary[@]}"
    fi
    [ "$rc" -eq 0 ] && echo "test.sh: every stage passed" || echo "test.sh: FAILED (exit $rc)"
}
trap finish EXIT
# Stopped from outside, the run must not end as a success.
trap 'exit 130' INT
trap 'exit 143' TERM

run_suite() {
    local dir=$1 start=$SECONDS rc=0
    shift
    cmake -S . -B "$dir" -G Ninja -DSONAVEL_WARNINGS_AS_ERRORS=ON "$@" || rc=$?
    [ "$rc" -eq 0 ] && { cmake --build "$dir" -j "$jobs" || rc=$?; }
    local built=$SECONDS
    if [ "$rc" -ne 0 ]; then
        summary+=("$dir: build FAILED after $((built - start)) s")
        return "$rc"
    fi
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" || rc=$?
    local line="$dir built in $((built - start)) s, tested in $((SECONDS - built)) s;"
    line+=" load average $(cut -d' ' -f1-3 /proc/loadavg)"
    if [ "$rc" -ne 0 ]; then
        local failed
        failed=$(cut -d: -f2 "$dir/Testing/Temporary/LastTestsFailed.log" 2>/dev/null | paste -sd' ')
        line+=" FAILED: ${failed:-see above}"
    fi
    summary+=("$line")
    echo "test.sh: $line"
    return "$rc"
}

run_suite build/test -DCMAKE_BUILD_TYPE=Debug
if [ "${1:-}" = "--quick" ]; then
    exit 0
fi
run_suite build/tsan -DCMAKE_BUILD_TYPE=Debug -DSONAVEL_SANITIZER=thread
run_suite build/asan -DCMAKE_BUILD_TYPE=Debug -DSONAVEL_SANITIZER=address
start=$SECONDS
rc=0
scripts/fuzz.sh || rc=$?
summary+=("fuzzers ran in $((SECONDS - start)) s$([ "$rc" -eq 0 ] || echo ", FAILED")")
echo "test.sh: ${summary[-1]}"
exit "$rc"
