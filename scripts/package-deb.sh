#!/usr/bin/env bash
# Makes sonavel_<version>_<arch>.deb from a Release build, compiled with Debian's hardening flags
# (dpkg-buildflags), and prints its path. `scripts/package-deb.sh [build folder] [cmake options]`;
# the folder defaults to build/release. The package bundles the tools of build/tools when
# scripts/fetch-tools.sh has filled it, or of a folder given with -DSONAVEL_TOOLS_DIR=...;
# otherwise its resources folder links to Debian's adb, and it depends on the adb package.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
dir=${1:-build/release}
[ $# -gt 0 ] && shift

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# CMake takes no CPPFLAGS: the preprocessor's flags go with the compiler's.
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" "$@"
cmake --build "$dir" -j "$(nproc)"
rm -f "$dir"/sonavel_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$PWD/$dir"/sonavel_*.deb
