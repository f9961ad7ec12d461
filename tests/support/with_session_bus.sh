#!/bin/sh
# Runs a test program inside a D-Bus session bus of its own (tests/support/session_bus.conf), so
# that what it posts never reaches the desktop the tests run on. Exit status 77 (skipped) when
# dbus-run-session is not installed (Debian's package "dbus").
if ! command -v dbus-run-session >/dev/null 2>&1; then
    echo "dbus-run-session not found: skipped"
    exit 77
fi
exec dbus-run-session --config-file="$(dirname "$0")/session_bus.conf" -- "$@"
