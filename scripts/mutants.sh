#!/usr/bin/env bash
# Plants faults one at a time and tells which tests catch each: for every patch (default: all of
# scripts/mutants/*.patch) it applies the patch to a scratch copy of the tree at the current
# commit, builds the plain Debug suite, runs it and reverts the patch. The unpatched suite runs
# first, so that a test failing without any fault (a flaky one) can be told apart.
# Usage: scripts/mutants.sh [patch...]
#   MUTANTS_TIMEOUT  seconds a single test may run (default 120)
#   MUTANTS_JOBS     build and ctest jobs (default 2)
# Logs go to build/mutants/logs/; the scratch tree and its build folder stay for the next run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$root/build/mutants
tree=$work/tree
build=$work/build
logs=$work/logs
timeout=${MUTANTS_TIMEOUT:-120}
jobs=${MUTANTS_JOBS:-2}

if [ $# -eq 0 ]; then
    set -- "$root"/scripts/mutants/*.patch
fi
patches=()
for patch; do
    patches+=("$(realpath "$patch")")
done

if [ ! -e "$tree/.git" ]; then
    git -C "$root" worktree add --detach "$tree" HEAD
fi
git -C "$tree" checkout -q --force --detach "$(git -C "$root" rev-parse HEAD)"
mkdir -p "$logs"

launcher=()
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root} CCACHE_NOHASHDIR=1
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DSONAVEL_WARNINGS_AS_ERRORS=ON "${launcher[@]}" >"$logs/configure.log"

# Prints "caught|failing tests" or "build failed|log" for the tree as it is now.
build_and_test() {
    local name=$1
    # Only what the suite runs: the benchmarks would relink for nothing.
    local targets
    targets=$(ninja -C "$build" -t targets all |
        grep -oE '^(test_[a-z0-9_]+|fake_tool|sim_phone|sonavel_resources|sonavel):' | tr -d ':' | sort -u)
    # shellcheck disable=SC2086
    if ! cmake --build "$build" -j "$jobs" --target $targets >"$logs/$name.build.log" 2>&1; then
        echo "BUILD FAILED|see $logs/$name.build.log"
        return
    fi
    # The suite allows each test 300 s; a fault that makes one hang should not cost that much.
    sed -i -E "s/TIMEOUT \"[0-9]+\"/TIMEOUT \"$timeout\"/" "$build/tests/CTestTestfile.cmake"
    rm -f "$build/Testing/Temporary/LastTestsFailed.log"
    ctest --test-dir "$build" -j "$jobs" --timeout "$timeout" \
        --output-on-failure >"$logs/$name.ctest.log" 2>&1 || true
    local failed=""
    if [ -s "$build/Testing/Temporary/LastTestsFailed.log" ]; then
        failed=$(cut -d: -f2- "$build/Testing/Temporary/LastTestsFailed.log" | paste -sd' ')
    fi
    echo "$([ -n "$failed" ] && echo yes || echo no)|$failed"
}

rows=()
start=$SECONDS
rows+=("(none: baseline)|$(build_and_test baseline)")
for patch in "${patches[@]}"; do
    name=$(basename "$patch" .patch)
    echo "== $name" >&2
    if git -C "$tree" apply "$patch"; then
        rows+=("$name|$(build_and_test "$name")")
    else
        rows+=("$name|PATCH DOES NOT APPLY|")
    fi
    git -C "$tree" checkout -q --force -- .
done

printf '\n%-52s | %-12s | %s\n' patch caught "failing tests"
for row in "${rows[@]}"; do
    IFS='|' read -r name caught failed <<<"$row"
    printf '%-52s | %-12s | %s\n' "$name" "$caught" "$failed"
done
echo "($((SECONDS - start)) s)"
