#!/usr/bin/env bash
# Runs the command "$@" in this checkout as if it lay in a folder that everyone may write, as a
# clone under /tmp does: in a mount namespace of its own, the checkout's parent folder is a fresh
# tmpfs of mode 1777 (sticky, as /tmp) that holds only the checkout. Needs root.
set -euo pipefail
checkout=$(cd "$(dirname "$0")/.." && pwd -P)
parent=$(dirname "$checkout")
if [[ $(id -u) -ne 0 || "$parent" == / ]]; then
    echo "in_a_shared_folder: needs root and a checkout that is not a folder of / itself" >&2
    exit 1
fi
exec unshare --mount --propagation private -- bash -euc '
    checkout=$1 parent=$2
    shift 2
    # The checkout is held open, not bound to a folder of its own: any such folder, as one
    # under /tmp when the checkout lies there, may be inside the parent the tmpfs covers.
    exec 3<"$checkout"
    mount -t tmpfs -o mode=1777 tmpfs "$parent"
    mkdir "$checkout"
    mount --no-canonicalize --bind /proc/self/fd/3 "$checkout"
    exec 3<&-
    cd "$checkout"
    "$@"' bash "$checkout" "$parent" "$@"
