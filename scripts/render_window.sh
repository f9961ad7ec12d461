#!/usr/bin/env bash
# Renders the window's main states (English and Japanese) to PNG files, offscreen, for review.
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
# The icons are copied into the resources folder by the default target.
cmake --build "$build" --target sonavel_resources test_ui_pictures
mkdir -p "$out"
QT_QPA_PLATFORM=offscreen SONAVEL_PICTURES_DIR="$out" "$build/tests/test_ui_pictures" >/dev/null
ls "$out"/*.png
