#!/usr/bin/env bash
# Renders the window's main states (English and Japanese, light and dark palettes) to PNG files,
# offscreen, for review: <state>-<en|ja>-<light|dark>.png.
# Usage: scripts/render_window.sh [build folder] [output folder]
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build}"
out="${2:-$build/window-pictures}"

# Japanese glyphs need a CJK font; Debian's IPA Gothic is small.
if ! fc-list | grep -qi "ipagothic\|noto sans cjk\|vl gothic"; then
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
    $SUDO apt-get install -y -qq --no-install-recommends fonts-ipafont-gothic
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug
fi
# The program draws the icons from the build's resources folder, which its target fills.
cmake --build "$build" --target render_window
QT_QPA_PLATFORM=offscreen "$build/devtools/render_window" "$out"
