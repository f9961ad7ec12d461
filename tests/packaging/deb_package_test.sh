#!/usr/bin/env bash
# Makes the Debian package from the build this test belongs to (cpack over the built tree: no
# second build), checks its fields and layout, unpacks it and runs the unpacked program offscreen:
# it must answer --version, run its event loop (a second launch is answered by the first) and
# quit normally on SIGTERM. CPACK_COMMAND, CPACK_CONFIG and SONAVEL_VERSION come from CTest.
set -euo pipefail

if [ "$(uname -s)" != Linux ] || ! command -v dpkg-deb >/dev/null ||
    ! command -v dpkg-shlibdeps >/dev/null || ! command -v file >/dev/null; then
    echo "SKIP: needs Linux with dpkg-deb, dpkg-shlibdeps (dpkg-dev) and file"
    exit 77
fi
version=${SONAVEL_VERSION:?}
arch=$(dpkg --print-architecture)

tmp=$(mktemp -d "${TMPDIR:-/tmp}/deb-package-test.XXXXXX")
app=""
adb_port=""
cleanup() {
    if [ -n "$app" ]; then
        kill -KILL "$app" 2>/dev/null || true
        wait "$app" 2>/dev/null || true
    fi
    # A bundled adb the program ran started a server on the private port: end it.
    if [ -n "$adb_port" ] && [ -x "$tmp/root/usr/share/sonavel/adb" ]; then
        "$tmp/root/usr/share/sonavel/adb" -P "$adb_port" kill-server >/dev/null 2>&1 || true
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    for log in "$tmp"/*.log; do
        [ -s "$log" ] && { echo "--- $log" >&2; tail -n 40 "$log" >&2; }
    done
    exit 1
}

"${CPACK_COMMAND:-cpack}" --config "${CPACK_CONFIG:?}" -G DEB -B "$tmp/out" \
    >"$tmp/cpack.log" 2>&1 || fail "cpack failed"
deb=$tmp/out/sonavel_${version}_${arch}.deb
[ -f "$deb" ] || fail "no $(basename "$deb") in: $(ls "$tmp/out")"

# Fields: the version of project(), libraries found by dpkg-shlibdeps, and adb as a dependency
# exactly when the package brings no adb of its own.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = sonavel ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)'"
depends=$(field Depends)
grep -q 'libqt6widgets6' <<<"$depends" || fail "Depends lacks Qt's libraries: '$depends'"
grep -q 'libc6' <<<"$depends" || fail "Depends lacks libc6: '$depends'"
dpkg-deb -c "$deb" >"$tmp/contents.log"
if grep -q ' \./usr/libexec/sonavel/adb$' "$tmp/contents.log"; then
    grep -qE '(^|, )adb($|[ ,])' <<<"$depends" && fail "bundles adb and still depends on it"
else
    grep -qE '(^|, )adb($|[ ,])' <<<"$depends" || fail "bundles no adb and does not depend on it"
fi

# Layout: the program, the resources folder, the desktop entry and icon, the licences, the
# Debian files; every entry owned by root.
for path in usr/bin/sonavel usr/share/sonavel/RARER_IDAZARI.txt \
    usr/share/sonavel/THIRD_PARTY_LICENSES.txt usr/share/sonavel/icons/sonavel.svg \
    usr/share/sonavel/sounds/alert.wav usr/share/applications/sonavel.desktop \
    usr/share/icons/hicolor/scalable/apps/sonavel.svg usr/share/doc/sonavel/copyright \
    usr/share/doc/sonavel/changelog.gz usr/share/man/man1/sonavel.1.gz; do
    grep -q " \./$path\$" "$tmp/contents.log" || fail "the package lacks /$path"
done
grep -q ' \./usr/share/sonavel/adb\( -> .*\)\?$' "$tmp/contents.log" ||
    fail "the resources folder has no adb"
if awk '$2 != "root/root"' "$tmp/contents.log" | grep -q .; then
    fail "entries not owned by root: $(awk '$2 != "root/root"' "$tmp/contents.log" | head -3)"
fi

dpkg -x "$deb" "$tmp/root"
resources=$tmp/root/usr/share/sonavel
grep -qx "Sonavel $version" "$resources/RARER_IDAZARI.txt" ||
    fail "the About text lacks the version"
for text in "GNU LESSER GENERAL PUBLIC LICENSE" "0. Additional Definitions." \
    "GNU GENERAL PUBLIC LICENSE" "15. Disclaimer of Warranty."; do
    grep -qF "$text" "$resources/THIRD_PARTY_LICENSES.txt" ||
        fail "THIRD_PARTY_LICENSES.txt lacks the LGPL's and GPL's texts ('$text')"
done
# Each tool is a relative link that resolves where the package puts it: into
# /usr/libexec/sonavel inside the package, or to a tool of this system.
for tool in adb scrcpy scrcpy-server; do
    link=$resources/$tool
    [ -L "$link" ] || continue
    target=$(readlink "$link")
    case $target in /*) fail "$tool links to the absolute $target" ;; esac
    case $target in
        ../../libexec/sonavel/*) [ -x "$tmp/root/usr/libexec/sonavel/$tool" ] ||
            fail "$tool links to $target, not in the package" ;;
        *) [ -e "$(realpath -m "/usr/share/sonavel/$target")" ] ||
            fail "$tool links to $target, not on this system" ;;
    esac
done
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$tmp/root/usr/share/applications/sonavel.desktop" ||
        fail "the desktop entry is not valid"
fi

# The unpacked program, offscreen, with its own runtime folder (the single-instance lock and
# socket), settings and adb server port.
mkdir -m 700 "$tmp/run" "$tmp/home"
adb_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])')
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$tmp/run HOME=$tmp/home \
    XDG_CONFIG_HOME=$tmp/home/.config ANDROID_ADB_SERVER_PORT=$adb_port
program=$tmp/root/usr/bin/sonavel
printed=$("$program" --version 2>"$tmp/version.log") || fail "--version failed"
[ "$printed" = "Sonavel $version" ] || fail "--version printed '$printed'"

"$program" >"$tmp/first.log" 2>&1 &
app=$!
for _ in $(seq 600); do
    [ -S "$tmp/run/sonavel.socket" ] && break
    kill -0 "$app" 2>/dev/null || fail "the program ended at start"
    sleep 0.1
done
[ -S "$tmp/run/sonavel.socket" ] || fail "the program did not start listening"
# Answered only from the first instance's event loop.
"$program" >"$tmp/second.log" 2>&1 || fail "a second launch was not answered by the first"
kill -0 "$app" 2>/dev/null || fail "the program ended after the second launch"
kill -TERM "$app"
status=0
wait "$app" || status=$?
app=""
[ "$status" = 0 ] || fail "the program exited with $status on SIGTERM"
echo "PASS: $(basename "$deb") ($(wc -l <"$tmp/contents.log") entries, Depends: $depends)"
