#!/usr/bin/env bash
# Builds the benchmarks in one Release folder, build/bench, runs every one of them and prints the
# table of bench/README.md with this run's figures and the load average before and after.
# Each benchmark's whole output is kept in build/bench/results/<time>/<name>.txt.
# Takes about five minutes once built, most of it the cost at rest (two stretches of two minutes).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

dir=build/bench
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
# Only what the benchmarks run: the program itself (for the cost at rest), its resources folder
# with the icons and the real adb, and the fake tools, which the benchmarks' support library pulls in.
cmake --build "$dir" --target bench_run_adb bench_discovery_parse bench_relay_start \
    bench_responsiveness bench_scale bench_cost_at_rest sonavel sonavel_resources

out="$dir/results/$(date +%Y%m%d-%H%M%S)"
mkdir -p "$out"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
run() {
    local name=$1
    shift
    echo "bench.sh: $name $*" >&2
    "$dir/bench/$name" "$@" >"$out/$name.txt" 2>&1
}
run bench_run_adb 300
run bench_discovery_parse
run bench_relay_start 200
run bench_responsiveness 16 3
run bench_scale 7
run bench_cost_at_rest 120
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# The figure after a label in a benchmark's output: the first number that follows it.
after() {
    grep -m1 -F "$2" "$out/$1.txt" | awk -v k="$3" '{ print substr($0, index($0, k) + length(k)) }' |
        grep -oE '[0-9]+(\.[0-9]+)?' | head -1
}
# Field N of the line that starts with a label (a row of a printed table).
field() { grep -m1 "^$2" "$out/$1.txt" | sed "s/^$2//" | tr -d '|' | awk -v n="$3" '{print $n}'; }
# The cost at rest of one scenario: the ratio after start-up, and the adb processes of all kinds.
rest() {
    local block
    block=$(sed -n "/== $1,/,/^scrcpy launches\|^$/p" "$out/bench_cost_at_rest.txt")
    local ratio adb
    ratio=$(grep -m1 'from .* s to end' <<<"$block" | sed 's/.*end: *//' | cut -d' ' -f1)
    adb=$(grep -m1 '^  all ' <<<"$block" | awk '{print $2 "/" $4}')
    echo "$ratio, adb processes $adb"
}

cat <<EOF

| benchmark | goal | this run |
|---|---|---|
| \`bench_run_adb 300\`: runADB / bare spawn | ≤ 1.15 | $(after bench_run_adb 'ratio runADB/bare' 'bare:') |
| same, the calling thread's CPU per call: runADB / bare spawn | | $(after bench_run_adb 'caller CPU median' 'ratio') |
| \`bench_discovery_parse\`: listing / line split | ≤ 5 | $(after bench_discovery_parse 'parseDeviceListing' 'ratio') |
| same, 64-device track table / line split | ≤ 5 | $(after bench_discovery_parse 'track table' 'ratio') |
| \`bench_relay_start 200\`: relay start / bare QProcess start | ≤ 1.5 | $(after bench_relay_start 'ratio relay/bare QProcess' 'QProcess:') |
| \`bench_responsiveness 16 3\`: main-thread CPU, busiest gap after the first frame (ms) | ≤ 16 | $(after bench_responsiveness 'after the first frame' 'frame:') |
| same, while sixteen phones appear (ms) | ≤ 16 | $(field bench_responsiveness 'phones appear' 10) |
| same, start-up up to the first frame: busiest gap (ms) | | $(after bench_responsiveness 'up to the first frame' 'frame:') |
| same, p99 of the gap / baseline heartbeat | | $(after bench_responsiveness 'ratio to baseline' 'p99') |
| \`bench_scale 7\`: relay / direct at 1 phone | | $(field bench_scale '1 ' 3) |
| same, 4 phones | | $(field bench_scale '4 ' 3) |
| same, 16 phones | | $(field bench_scale '16 ' 3) |
| \`bench_cost_at_rest 120\`: no phone, after start-up / baseline | ≤ 2 | $(rest no-phone) |
| same, one phone relaying | ≤ 2 | $(rest one-phone) |

load average (1, 5, 15 min): $load_before before, $load_after after; outputs in $out
EOF
