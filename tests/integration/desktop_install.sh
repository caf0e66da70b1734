#!/usr/bin/env bash
# Installs the "desktop" component of the build in $1 under a scratch prefix and checks what a
# desktop sees: an entry that desktop-file-validate accepts, that starts the bundle's executable
# with the link (%u), offers the app for http and https links, and names an icon that is there.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" --component desktop >/dev/null
entry=$prefix/share/applications/app.pinlark.Pinlark.desktop
desktop-file-validate "$entry"
grep -qE "^Exec=\"$prefix/.+/Pinlark\\.app/Contents/MacOS/Pinlark\" %u$" "$entry"
grep -qxF "MimeType=x-scheme-handler/http;x-scheme-handler/https;" "$entry"
icon=$(sed -n 's/^Icon=//p' "$entry")
test -s "$prefix/share/icons/hicolor/scalable/apps/$icon.svg"
test -s "$prefix/share/icons/hicolor/symbolic/apps/$icon-symbolic.svg"
