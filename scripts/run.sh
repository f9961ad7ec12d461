#!/usr/bin/env bash
# Installs what is missing, builds Sonavel and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Returns at once when build/tools already holds the pinned tools. Offline, the build goes on
# with what the system has: Debian's adb, and no scrcpy to relay with.
scripts/fetch-tools.sh || echo "run.sh: no scrcpy tools fetched; building with the system's" >&2
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
cmake --build build/release
program=build/release/bin/sonavel
echo "run.sh: starting $program; to start it again without rebuilding, run $(pwd)/$program"
exec "$program" "$@"
