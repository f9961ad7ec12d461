#!/usr/bin/env bash
# Remakes resources/Sonavel.icns, the macOS application icon, from resources/icons/sonavel.svg:
# run it after changing the SVG, and commit the result. Needs Debian's librsvg2-bin and icnsutils.
set -euo pipefail
cd "$(dirname "$0")/.."
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for size in 16 32 48 128 256 512 1024; do
    rsvg-convert -w "$size" -h "$size" resources/icons/sonavel.svg -o "$tmp/icon_$size.png"
done
png2icns resources/Sonavel.icns "$tmp"/icon_*.png >/dev/null
icns2png -l resources/Sonavel.icns
