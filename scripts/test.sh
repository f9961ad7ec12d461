#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every test; then the same
# test suite under ThreadSanitizer and under AddressSanitizer with UndefinedBehaviorSanitizer,
# each in its own build folder; last, every fuzzer for a minute (scripts/fuzz.sh).
# `scripts/test.sh --quick` stops after the plain run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/test-ratio.sh

jobs=$(nproc)
run_suite() {
    local dir=$1 start=$SECONDS
    shift
    cmake -S . -B "$dir" -G Ninja -DSONAVEL_WARNINGS_AS_ERRORS=ON "$@"
    cmake --build "$dir" -j "$jobs"
    local built=$SECONDS
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
    echo "test.sh: $dir built in $((built - start)) s, tested in $((SECONDS - built)) s;" \
        "load average $(cut -d' ' -f1-3 /proc/loadavg)"
}

run_suite build/test -DCMAKE_BUILD_TYPE=Debug
if [ "${1:-}" = "--quick" ]; then
    exit 0
fi
run_suite build/tsan -DCMAKE_BUILD_TYPE=Debug -DSONAVEL_SANITIZER=thread
run_suite build/asan -DCMAKE_BUILD_TYPE=Debug -DSONAVEL_SANITIZER=address
start=$SECONDS
scripts/fuzz.sh
echo "test.sh: fuzzers ran in $((SECONDS - start)) s"
