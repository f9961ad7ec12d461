#!/usr/bin/env bash
# Builds the libFuzzer targets in fuzz/ with clang++ into build/fuzz and runs each for a while
# (60 s unless FUZZ_SECONDS says otherwise). `scripts/fuzz.sh track_stream ip_probe` runs only
# those. Any crash, sanitizer report, input slower than 10 s or leak fails the run; the input that
# did it is kept in build/fuzz/artifacts/NAME/ and the fuzzer's output in build/fuzz/logs/NAME.log.
# Inputs the fuzzers find go to a temporary folder: the seeds in fuzz/corpus/ change only by hand.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
all=(device_listing track_stream battery_dump endpoint_maps ip_probe)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then targets=("${all[@]}"); fi

build=build/fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSONAVEL_FUZZ=ON \
    -DSONAVEL_WARNINGS_AS_ERRORS=ON -DCMAKE_CXX_COMPILER=clang++
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failed=()
for name in "${targets[@]}"; do
    seeds=fuzz/corpus/$name
    [ -d "$seeds" ] || { echo "fuzz: no seed folder $seeds" >&2; exit 2; }
    mkdir -p "$scratch/$name" "$build/artifacts/$name" "$build/logs"
    log=$build/logs/$name.log
    echo "fuzz: $name for ${seconds}s"
    status=0
    # The outer timeout only guards against the fuzzer itself getting stuck.
    timeout --kill-after=10 $((seconds + 120)) "$build/fuzz/fuzz_$name" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$name/" "$scratch/$name" "$seeds" >"$log" 2>&1 ||
        status=$?
    if [ "$status" -ne 0 ] || grep -qE 'ERROR: (Address|Leak|UndefinedBehavior)Sanitizer|runtime error:' "$log"; then
        echo "fuzz: $name FAILED (exit $status); see $log" >&2
        grep -E 'ERROR|runtime error|invariant broken|Test unit written' "$log" | head -20 >&2 || true
        failed+=("$name")
    else
        grep -E 'stat::number_of_executed_units|Done [0-9]+ runs' "$log" | tail -1 | sed "s/^/fuzz: $name: /"
    fi
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzz: failed: ${failed[*]}" >&2
    exit 1
fi
echo "fuzz: all ${#targets[@]} targets ran ${seconds}s clean"
