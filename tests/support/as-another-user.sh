#!/bin/sh
# Runs a test program as an ordinary user made for the run, with a home of its own that goes with
# it: guards that compare owners, or ask whether a folder may be written, answer otherwise for
# root, who owns and may write whatever a test makes. Run unprivileged, it runs the program as it
# is.
#   tests/support/as-another-user.sh PROGRAM [ARGUMENT...]
set -eu
[ "$(id -u)" -eq 0 ] || exec "$@"

user=pinlark-as-$(printf '%s' "$1" | cksum | cut -d' ' -f1)
home=/home/$user
end() {
    pkill -KILL -u "$user" 2>/dev/null || true
    userdel "$user" 2>/dev/null || true
    rm -rf "$home"
}
end
trap end EXIT
useradd --system --no-create-home --home-dir "$home" --shell /usr/sbin/nologin "$user"
mkdir -p -m 700 "$home"
mkdir -m 700 "$home/run"
# The program is copied in: wherever the build tree lies, the user may not reach it.
program=$home/$(basename "$1")
cp "$1" "$program"
shift
chown -R "$user:" "$home"
status=0
runuser -u "$user" -- env HOME="$home" TMPDIR="$home/run" XDG_RUNTIME_DIR="$home/run" \
    XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_CACHE_HOME="$home/cache" \
    "$program" "$@" || status=$?
exit "$status"
