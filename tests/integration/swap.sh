#!/bin/sh
# Pinlark's update swap, written by Installer and run detached after the app exits.
#
# The only part of updating that cannot be undone is done here, so it is written to be
# undoable: the old bundle is kept until the new one has been seen running.
set -u

APP='/Apps/it'\''s/Pinlark.app'
NEW='/tmp/w/unpacked/Pinlark.app'
BACKUP='/Apps/it'\''s/.Pinlark-previous.app'
WORK='/tmp/w'
PID=4242
EXE="$APP/Contents/MacOS/Pinlark"

say() { echo "[$(date '+%H:%M:%S')] $*"; }

# Stage 1: wait for the app to exit. It terminated itself the moment it spawned this
# script, so this is a formality; if it is somehow still up after about ten seconds
# (100 checks 0.1 seconds apart), do nothing at all, which is the safe outcome. No swap
# ever happens under a running executable.
i=0
while kill -0 "$PID" 2>/dev/null; do
  i=$((i + 1))
  if [ "$i" -gt 100 ]; then say "app is still running, leaving it alone"; exit 1; fi
  sleep 0.1
done

# Stage 2: move the old bundle aside by rename, inside its own folder.
rm -rf "$BACKUP"
if ! mv "$APP" "$BACKUP"; then say "could not move the old bundle aside"; exit 1; fi

# Stage 3: copy the new bundle in with ditto rather than a move: the staging folder can lie
# on another volume, and a move across volumes is a copy that drops extended attributes,
# which for a signed bundle means arriving with a broken seal.
if ! ditto "$NEW" "$APP"; then
  say "install failed, restoring"
  rm -rf "$APP"; mv "$BACKUP" "$APP"; open "$APP"
  exit 1
fi

# Stage 4: start the new build. This is why the script exists: nothing inside the app can
# watch its own replacement launch, and if anything refuses the new build, nothing inside
# the app can put the old one back. Wait up to 30 seconds (60 checks, 0.5 seconds apart)
# for a process whose command line contains the new executable's path.
open "$APP" || say "open returned an error"
alive=0
i=0
while [ "$i" -lt 60 ]; do
  if pgrep -f "$EXE" >/dev/null 2>&1; then alive=1; break; fi
  i=$((i + 1))
  sleep 0.5
done

# Stage 4b: the new build must still be running ten seconds later (ten checks, one second
# apart). open returns as soon as the app has started, so a build that dies on its first
# instruction looks healthy at the first check; asking only once would declare victory
# over a process that had already exited and throw the backup away.
if [ "$alive" = 1 ]; then
  j=0
  while [ "$j" -lt 10 ]; do
    sleep 1
    if ! pgrep -f "$EXE" >/dev/null 2>&1; then alive=0; say "it started and then exited"; break; fi
    j=$((j + 1))
  done
fi

if [ "$alive" = 1 ]; then
  say "updated"
  rm -rf "$BACKUP" "$WORK"
  exit 0
fi

# Stage 5: no process started, or one started and did not stay. Put the old bundle back
# exactly as it was, tell this machine not to try again, and start the old version so the
# menu bar returns on the version it had. The staging folder stays: its log is the only
# account of what happened, and temporary files are cleared soon enough.
say "the new build is not running — rolling back"
rm -rf "$APP"
mv "$BACKUP" "$APP"
defaults write 'app.pinlark.Pinlark' otaFailed -bool YES
open "$APP"
exit 1