#!/usr/bin/env bash
# What of the macOS bundle can be checked on any machine: the Info.plist the build writes (read
# back as a property list) and the icon it names (listed with icnsutils' icns2png). INFO_PLIST,
# ICNS and SONAVEL_VERSION come from CTest.
set -euo pipefail
if ! command -v python3 >/dev/null || ! command -v icns2png >/dev/null; then
    echo "SKIP: needs python3 and icns2png (icnsutils)"
    exit 77
fi

python3 - "${INFO_PLIST:?}" "${SONAVEL_VERSION:?}" "$(basename "${ICNS:?}")" <<'PY'
import plistlib, re, sys
path, version, icon = sys.argv[1:]
with open(path, "rb") as f:
    plist = plistlib.load(f)
expected = {
    "CFBundleExecutable": "Sonavel",
    "CFBundleIdentifier": "org.sonavel.Sonavel",
    "CFBundlePackageType": "APPL",
    "CFBundleShortVersionString": version,
    "CFBundleVersion": version,
    "CFBundleIconFile": icon,
}
wrong = [f"{k}={plist.get(k)!r}, not {v!r}" for k, v in expected.items() if plist.get(k) != v]
minimum = plist.get("LSMinimumSystemVersion", "")
if not re.fullmatch(r"\d+(\.\d+){0,2}", minimum):
    wrong.append(f"LSMinimumSystemVersion={minimum!r}")
if wrong:
    sys.exit("FAIL: Info.plist: " + "; ".join(wrong))
PY

# The sizes Finder and the Dock draw, up to 512 points at twice the pixels.
listing=$(icns2png -l "$ICNS") || { echo "FAIL: icns2png cannot read $ICNS" >&2; exit 1; }
for size in 16x16 32x32 128x128 256x256 512x512 1024x1024; do
    grep -q " $size 32-bit icon" <<<"$listing" || {
        echo "FAIL: $ICNS has no $size image:" >&2
        echo "$listing" >&2
        exit 1
    }
done
echo "PASS"
