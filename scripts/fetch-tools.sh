#!/usr/bin/env bash
# Puts the tools the application drives (scrcpy, adb and scrcpy-server, with scrcpy's LICENSE when
# the archive has one) into DEST, default build/tools, where the build takes them from. They come
# from scrcpy's static release for this machine, pinned below by version and SHA-256.
#
# Usage: scripts/fetch-tools.sh [DEST]
#
# DEST changes only as a whole: the archive is downloaded to a temporary file and its checksum
# checked before anything is unpacked, and a complete set replaces DEST in one rename. A DEST that
# already holds this version is left alone, without a download.
#
# Moving to a newer scrcpy: scrcpy's doc/linux.md and doc/macos.md publish each archive's name and
# SHA-256; change the version and the three checksums below.
#
# For this script's own tests only, SONAVEL_TOOLS_BASE_URL replaces the release address and
# SONAVEL_TOOLS_SHA256 the expected checksum.
set -euo pipefail

version=4.1
base_url=${SONAVEL_TOOLS_BASE_URL:-https://github.com/Genymobile/scrcpy/releases/download/v$version}
root=$(cd "$(dirname "$0")/.." && pwd)
dest=${1:-$root/build/tools}

fail() {
    echo "fetch-tools: $*" >&2
    exit 1
}

case "$(uname -s) $(uname -m)" in
    "Linux x86_64")
        platform=linux-x86_64
        sha256=ad56ae8bfeedf41e824945c11dbf55fcb092b3e615b9b486f48a50e30d389635 ;;
    "Darwin arm64")
        platform=macos-aarch64
        sha256=20fd47c9014dd5e0fa77091f3cb7adbda8445a360c4584aeaa0150b5b3988ff3 ;;
    "Darwin x86_64")
        platform=macos-x86_64
        sha256=ee2a7223bc8dbdc4f482db1134bcf441178dafb833492b71ca4c22090c58ce72 ;;
    *)
        fail "scrcpy $version has no static build for $(uname -s) $(uname -m)." \
             "Get scrcpy 2.5 or newer with its scrcpy-server and an adb (a package or a build" \
             "of your own), put the three in one folder and configure with" \
             "-DSONAVEL_TOOLS_DIR=/path/to/that/folder" ;;
esac
sha256=${SONAVEL_TOOLS_SHA256:-$sha256}
folder=scrcpy-$platform-v$version
archive=$folder.tar.gz
url=$base_url/$archive
tools=(scrcpy adb scrcpy-server)
# The stamp names the checksum too, so pinning another archive replaces the tools.
stamp="$archive $sha256"

holds_tools() {
    local tool
    for tool in "${tools[@]}"; do
        [ -f "$1/$tool" ] || return 1
    done
}

if holds_tools "$dest" && [ "$(cat "$dest/VERSION" 2>/dev/null)" = "$stamp" ]; then
    echo "fetch-tools: $dest already holds scrcpy $version"
    exit 0
fi

# The work folder sits beside DEST so that the final rename stays on one file system.
parent=$(dirname "$dest")
mkdir -p "$parent"
work=$(mktemp -d "$parent/.fetch-tools.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "fetch-tools: downloading $url"
progress=(--silent --show-error)
if [ -t 2 ]; then progress=(--progress-bar); fi
# The connect timeout covers the name lookup too, so a machine without a network gives up in
# seconds; the speed limit ends a transfer that stalls without capping a slow one that moves.
curl --fail --location "${progress[@]}" --connect-timeout 15 --speed-limit 1024 --speed-time 20 \
     --output "$work/$archive" "$url" ||
    fail "download of $url failed; $dest is unchanged"

if command -v sha256sum >/dev/null; then
    actual=$(sha256sum "$work/$archive")
else
    actual=$(shasum -a 256 "$work/$archive")
fi
actual=${actual%% *}
[ "$actual" = "$sha256" ] ||
    fail "$archive has SHA-256 $actual, expected $sha256; $dest is unchanged"

mkdir "$work/unpacked" "$work/new"
tar -xzf "$work/$archive" -C "$work/unpacked" || fail "cannot unpack $archive; $dest is unchanged"
for tool in "${tools[@]}"; do
    [ -f "$work/unpacked/$folder/$tool" ] ||
        fail "$archive holds no $folder/$tool; $dest is unchanged"
    cp "$work/unpacked/$folder/$tool" "$work/new/"
done
if [ -f "$work/unpacked/$folder/LICENSE" ]; then
    cp "$work/unpacked/$folder/LICENSE" "$work/new/"
fi
chmod 755 "$work/new/scrcpy" "$work/new/adb"
chmod 644 "$work/new/scrcpy-server"
echo "$stamp" >"$work/new/VERSION"

# An interruption between the two renames would otherwise lose the old DEST with the work folder.
trap '' INT TERM HUP
if [ -e "$dest" ] || [ -L "$dest" ]; then
    mv "$dest" "$work/old"
fi
if ! mv "$work/new" "$dest"; then
    if [ -e "$work/old" ] || [ -L "$work/old" ]; then mv "$work/old" "$dest"; fi
    fail "cannot put the tools into $dest; it is unchanged"
fi
echo "fetch-tools: scrcpy $version's scrcpy, adb and scrcpy-server are in $dest"
