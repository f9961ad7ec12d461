#!/usr/bin/env bash
# Installs what is missing, builds Sonavel and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
cmake --build build/release
exec build/release/bin/sonavel "$@"
