#!/usr/bin/env bash
# What installing Pinlark does to a desktop, for the build in $1, in scratch folders in $2, a
# folder only the user and root can change. The "desktop" component under a
# scratch prefix: an entry that desktop-file-validate accepts, that starts the bundle's executable
# with the link (%u), declares no type it opens, and names an icon that is there. Then a fresh home
# whose only browser is a stand-in, installed for the system with the desktop database brought up
# to date as a package's trigger does, and no default recorded: a copy of the bundle started once
# from a folder of the user's own registers itself, and the browser stays the default for web
# links, and the launchers of GIO, KDE and xdg-utils start the entry written. A copy in a folder
# others may write registers nothing, and --doctor says why.
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d -p "$2")
app=
trap '[ -z "$app" ] || kill "$app" 2>/dev/null; rm -rf "$scratch"' EXIT

cmake --install "$build" --prefix "$scratch/prefix" --component desktop >/dev/null
entry=$scratch/prefix/share/applications/app.pinlark.Pinlark.desktop
desktop-file-validate "$entry"
grep -qE "^Exec=$scratch/prefix/.+/Pinlark\\.app/Contents/MacOS/Pinlark %u$" "$entry"
! grep -q "^MimeType=" "$entry"
icon=$(sed -n 's/^Icon=//p' "$entry")
test -s "$scratch/prefix/share/icons/hicolor/scalable/apps/$icon.svg"
test -s "$scratch/prefix/share/icons/hicolor/symbolic/apps/$icon-symbolic.svg"

home=$scratch/home
mkdir -p "$scratch/share/applications" "$home" "$scratch/etc" -m 700 "$scratch/run"
printf '#!/bin/sh\necho "$@" >>"%s/browsed"\n' "$scratch" >"$scratch/browser"
chmod 755 "$scratch/browser"
printf '[Desktop Entry]\nType=Application\nName=Browser\nExec=%s %%u\nMimeType=%s\n' \
    "$scratch/browser" "x-scheme-handler/http;x-scheme-handler/https;" \
    >"$scratch/share/applications/browser.desktop"
update-desktop-database "$scratch/share/applications"
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION BROWSER KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID \
    DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
export HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache \
    XDG_DATA_DIRS=$scratch/share XDG_CONFIG_DIRS=$scratch/etc XDG_RUNTIME_DIR=$scratch/run \
    QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1

# The stand-in is the default for web links, and another program's xdg-open reaches it. xdg-open
# hands a link to a desktop entry only where a display is named; it connects to none.
browser_is_default() {
    for scheme in http https; do
        test "$(xdg-mime query default x-scheme-handler/$scheme)" = browser.desktop
        grep -q "^Default application .*: browser.desktop$" <<<"$(gio mime x-scheme-handler/$scheme)"
    done
    DISPLAY=:65535 xdg-open https://example.org/
    test "$(tail -n 1 "$scratch/browsed")" = https://example.org/
}
browser_is_default

mkdir -p "$home/My Apps"
cp -a "$build/Pinlark.app" "$home/My Apps/"
bin="$home/My Apps/Pinlark.app/Contents/MacOS/Pinlark"
"$home/My Apps/Pinlark.app/Contents/Helpers/defaults" write app.pinlark.Pinlark origin \
    -string http://127.0.0.1:9
"$bin" 2>/dev/null &
app=$!
# Registering ends with the desktop database of the user's entries brought up to date.
for _ in $(seq 300); do
    [ ! -e "$home/data/applications/mimeinfo.cache" ] || break
    kill -0 "$app"
    sleep 0.1
done
kill "$app"
wait "$app" || true
app=
grep -q "^Exec=$home/data/app.pinlark.Pinlark/Pinlark %u$" \
    "$home/data/applications/app.pinlark.Pinlark.desktop"
browser_is_default

# The copy's path has a space, so the entry names it through a link, bare: the launchers of GIO,
# KDE and xdg-utils 1.1.3 (whose xdg-open takes quotes for part of a name) each start it with the
# link. xdg-open goes to Pinlark only where the user made it the handler for the scheme. The
# copy's executable is now a stand-in that logs the link.
printf '#!/bin/sh\necho "$@" >>"%s/started"\n' "$scratch" >"$bin"
printf '[Default Applications]\nx-scheme-handler/https=app.pinlark.Pinlark.desktop\n' \
    >"$home/config/mimeapps.list"
gio launch "$home/data/applications/app.pinlark.Pinlark.desktop" https://example.org/gio
# KDE reads its menu layout and service types in the system's folders.
XDG_CONFIG_DIRS=/etc/xdg XDG_DATA_DIRS=$scratch/share:/usr/share QT_QPA_PLATFORM=xcb \
    xvfb-run -a kstart5 --application app.pinlark.Pinlark --url https://example.org/kde 2>/dev/null
DISPLAY=:65535 xdg-open https://example.org/xdg
for _ in $(seq 100); do
    [ "$(cat "$scratch/started" 2>/dev/null | wc -l)" -lt 3 ] || break
    sleep 0.1
done
diff <(printf 'https://example.org/%s\n' gio kde xdg) <(sort "$scratch/started")

mkdir -m 777 "$scratch/shared"
cp -a "$build/Pinlark.app" "$scratch/shared/"
doctor=$("$scratch/shared/Pinlark.app/Contents/MacOS/Pinlark" --doctor)
grep -qF "app folder      shared: other users can change $scratch/shared, so Pinlark adds nothing" \
    <<<"$doctor"
grep -qF "updates         blocked: Other users of this computer can change $scratch/shared," \
    <<<"$doctor"
