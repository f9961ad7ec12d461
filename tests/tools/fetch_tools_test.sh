#!/usr/bin/env bash
# scripts/fetch-tools.sh against a loopback HTTP server that serves archives of stand-in tools,
# then the build's choice of the folder it fills. CMAKE_COMMAND and CMAKE_MAKE_PROGRAM name the
# CMake and Ninja that configure a scratch project around the resources folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
fetch=$root/scripts/fetch-tools.sh

case "$(uname -s) $(uname -m)" in
    "Linux x86_64") platform=linux-x86_64 ;;
    "Darwin arm64") platform=macos-aarch64 ;;
    "Darwin x86_64") platform=macos-x86_64 ;;
    *) echo "SKIP: no pinned scrcpy archive for this machine"; exit 77 ;;
esac
version=$(sed -n 's/^version=//p' "$fetch")
folder=scrcpy-$platform-v$version
archive=$folder.tar.gz

tmp=$(mktemp -d "${TMPDIR:-/tmp}/fetch-tools-test.XXXXXX")
server=""
stop_server() {
    if [ -n "$server" ]; then
        kill "$server" 2>/dev/null || true
        wait "$server" 2>/dev/null || true
        server=""
    fi
}
trap 'stop_server; rm -rf "$tmp"' EXIT
fail() {
    echo "FAIL: $*" >&2
    cat "$tmp/out" "$tmp/err" >&2 2>/dev/null || true
    exit 1
}
sha() {
    if command -v sha256sum >/dev/null; then sha256sum "$1"; else shasum -a 256 "$1"; fi | cut -c1-64
}
# Contents, modes and times of every entry: what "left untouched" means.
snapshot() { tar -cf - -C "$1" . | cksum; }

# The stand-ins are plain files: the fetcher must make scrcpy and adb executable itself.
mkdir -p "$tmp/full/$folder" "$tmp/partial/$folder" "$tmp/other" "$tmp/served"
for f in scrcpy adb scrcpy-server LICENSE; do echo "stand-in $f" >"$tmp/full/$folder/$f"; done
for f in scrcpy adb scrcpy-server; do echo "other $f" >"$tmp/other/$f"; done
cp "$tmp/full/$folder"/{scrcpy,adb,LICENSE} "$tmp/partial/$folder/"
tar -czf "$tmp/full.tar.gz" -C "$tmp/full" "$folder"
tar -czf "$tmp/partial.tar.gz" -C "$tmp/partial" "$folder"
cp "$tmp/full.tar.gz" "$tmp/served/$archive"
good=$(sha "$tmp/full.tar.gz")

# While a file named TRUNCATE is served too, a download announces the archive's full length and
# ends after a few bytes.
python3 - "$tmp/served" "$tmp/port" 2>"$tmp/access.log" <<'EOF' &
import functools, http.server, os, sys
class Handler(http.server.SimpleHTTPRequestHandler):
    def copyfile(self, source, output):
        if os.path.exists(os.path.join(self.directory, "TRUNCATE")):
            output.write(source.read(64))
        else:
            super().copyfile(source, output)
httpd = http.server.HTTPServer(("127.0.0.1", 0), functools.partial(Handler, directory=sys.argv[1]))
with open(sys.argv[2] + ".new", "w") as f:
    f.write(str(httpd.server_address[1]))
os.rename(sys.argv[2] + ".new", sys.argv[2])
httpd.serve_forever()
EOF
server=$!
for _ in $(seq 300); do [ -s "$tmp/port" ] && break; sleep 0.1; done
[ -s "$tmp/port" ] || fail "the loopback server did not start"
SONAVEL_TOOLS_BASE_URL=http://127.0.0.1:$(cat "$tmp/port")
export SONAVEL_TOOLS_BASE_URL no_proxy=127.0.0.1 NO_PROXY=127.0.0.1
url=$SONAVEL_TOOLS_BASE_URL/$archive
dest=$tmp/dest
fetch_with() { SONAVEL_TOOLS_SHA256=$1 "$fetch" "$dest" >"$tmp/out" 2>"$tmp/err"; }
downloads() { grep -c "GET /$archive" "$tmp/access.log" || true; }

fetch_with "$good" || fail "a good archive was refused"
for f in scrcpy adb scrcpy-server LICENSE; do
    cmp -s "$tmp/full/$folder/$f" "$dest/$f" || fail "$f was not installed"
done
[ -x "$dest/scrcpy" ] || fail "scrcpy is not executable"
[ -x "$dest/adb" ] || fail "adb is not executable"
fetch_with "$good" || fail "a second run failed"
[ "$(downloads)" = 1 ] || fail "not one download for two runs"

# From here DEST holds an older version, so each run below downloads, and each must fail and
# leave DEST as it is.
echo older >"$dest/VERSION"
kept=$(snapshot "$dest")
expect_refused() { # what, expected checksum, a text the error message must hold
    if fetch_with "$2"; then fail "$1: accepted"; fi
    [ "$(snapshot "$dest")" = "$kept" ] || fail "$1: DEST changed"
    grep -qF -- "$3" "$tmp/err" || fail "$1: the message lacks '$3'"
}
wrong=0000000000000000000000000000000000000000000000000000000000000000
expect_refused "wrong checksum" "$wrong" "$wrong"
grep -qF "$good" "$tmp/err" || fail "wrong checksum: the message lacks the archive's checksum"
touch "$tmp/served/TRUNCATE"
expect_refused "truncated download" "$good" "$url"
rm "$tmp/served/TRUNCATE"
cp "$tmp/partial.tar.gz" "$tmp/served/$archive"
expect_refused "archive without scrcpy-server" "$(sha "$tmp/partial.tar.gz")" scrcpy-server
stop_server
expect_refused "server down" "$good" "$url"

# The build takes build/tools beside its sources when given no folder, and a given one first.
project=$tmp/project
mkdir -p "$project/build"
cp -Rp "$dest" "$project/build/tools"
ln -s "$root/resources" "$project/resources"
cat >"$project/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(Scratch NONE)
set(SONAVEL_TOOLS_DIR "" CACHE PATH "")
set(SONAVEL_RESOURCES_DIR "${CMAKE_BINARY_DIR}/share/sonavel")
add_custom_target(sonavel)
add_subdirectory(resources)
EOF
cmake=${CMAKE_COMMAND:-cmake}
built=$project/out/share/sonavel
build_resources() {
    "$cmake" -S "$project" -B "$project/out" -G Ninja \
        -DCMAKE_MAKE_PROGRAM="${CMAKE_MAKE_PROGRAM:-ninja}" "$@" >"$tmp/out" 2>"$tmp/err" &&
        "$cmake" --build "$project/out" --target sonavel_resources >>"$tmp/out" 2>>"$tmp/err"
}
build_resources || fail "the scratch build failed"
for f in scrcpy adb scrcpy-server; do
    cmp -s "$dest/$f" "$built/$f" || fail "the build did not take build/tools/$f"
done
build_resources -DSONAVEL_TOOLS_DIR="$tmp/other" || fail "the scratch build failed"
for f in scrcpy adb scrcpy-server; do
    cmp -s "$tmp/other/$f" "$built/$f" || fail "the build did not take the given $f"
done
echo "PASS"
