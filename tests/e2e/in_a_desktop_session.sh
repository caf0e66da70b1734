#!/usr/bin/env bash
# Runs a command as if inside someone's desktop session, one the tests must not lean on: a live
# X server on DISPLAY, a session bus, a WAYLAND_DISPLAY and a sway IPC socket nobody answers on,
# QT_QPA_PLATFORM=offscreen, a BROWSER that fails, and a desktop's name. Fails as the command
# does, or when something the command started is still running after it.
#   tests/e2e/in_a_desktop_session.sh COMMAND...
set -euo pipefail
session=$(mktemp -d)
chmod 700 "$session"
Xvfb -displayfd 3 -nolisten tcp -screen 0 800x600x24 3>"$session/display" 2>/dev/null &
xvfb=$!
dbus-daemon --session --fork --print-address=3 --print-pid=4 3>"$session/bus" 4>"$session/bus.pid"
trap 'kill "$xvfb" "$(cat "$session/bus.pid")" 2>/dev/null || true; rm -rf "$session"' EXIT
until [ -s "$session/display" ]; do sleep 0.1; done
# Sockets left by a compositor that has gone: their files are there, nothing listens.
python3 -c 'import socket, sys
for name in sys.argv[1:]: socket.socket(socket.AF_UNIX).bind(name)' \
    "$session/wayland-0" "$session/sway-ipc.0.1.sock"
export DISPLAY=:$(cat "$session/display") DBUS_SESSION_BUS_ADDRESS=$(cat "$session/bus") \
    XDG_RUNTIME_DIR=$session WAYLAND_DISPLAY=wayland-0 SWAYSOCK=$session/sway-ipc.0.1.sock \
    QT_QPA_PLATFORM=offscreen BROWSER=/bin/false XDG_CURRENT_DESKTOP=KDE \
    XDG_SESSION_TYPE=wayland
# Kept by every process the command starts (the end-to-end tests keep PINLARK_* variables).
export PINLARK_OUTER_SESSION=$session
status=0
"$@" || status=$?
# Nothing the command started may outlive it (a desktop portal started by a test's bus, say).
env -u PINLARK_OUTER_SESSION python3 - "PINLARK_OUTER_SESSION=$session" <<'END' || status=1
import os, sys
for pid in filter(str.isdigit, os.listdir("/proc")):
    try:
        with open(f"/proc/{pid}/environ", "rb") as f:
            found = sys.argv[1].encode() in f.read().split(b"\0")
        if found and int(pid) != os.getppid():
            sys.exit("still running: " + open(f"/proc/{pid}/cmdline").read().replace("\0", " "))
    except OSError:  # gone, or not ours to read
        pass
END
exit "$status"
