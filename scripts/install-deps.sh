#!/usr/bin/env bash
# Installs what building, testing and packaging Sonavel needs on Debian 12, skipping what is
# already there. Every name is a real package, not a virtual one that another provides: dpkg-query
# reports a virtual name as not installed, and each run would install it again.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-multimedia-dev qt6-svg-dev
    adb
    dpkg-dev file icnsutils dbus
    curl ca-certificates coreutils tar gzip python3
    clang libclang-rt-14-dev
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
