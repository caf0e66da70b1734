#!/bin/sh
# Prints a folder for the tests' own files that only the user and root can change, for the build
# tree $1: the tests install, register and update copies of Pinlark, which it does only in such a
# folder. That is the build tree itself where it lies in one; a build tree below a folder others
# can change (a clone under /tmp) keeps them in the user's cache folder instead.
set -eu
uid=$(id -u)

# Whether only the user and root can change $1 and every folder above it, as given and resolved.
private() {
    for path in "$1" "$(realpath "$1")"; do
        while :; do
            set -- $(stat -L -c '%u %a' "$path")
            [ "$1" = 0 ] || [ "$1" = "$uid" ] || return 1
            [ $((0$2 & 022)) = 0 ] || return 1
            [ "$path" = / ] && break
            path=$(dirname "$path")
        done
    done
}

build=$(cd "$1" && pwd)
if private "$build"; then
    echo "$build"
    exit 0
fi
cache=${XDG_CACHE_HOME:-$HOME/.cache}
place=$cache/pinlark-tests-$(printf %s "$build" | cksum | cut -d' ' -f1)
mkdir -p "$cache"
mkdir -p -m 700 "$place"
if ! private "$place"; then
    echo "private-place: neither $build nor $place is a folder only you can change" >&2
    exit 1
fi
echo "$place"
