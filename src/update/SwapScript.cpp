#include "update/SwapScript.h"

#include <QFileInfo>
#include <QStringList>

namespace pinlark::SwapScript {

namespace {

QString shellQuoted(const QString& value) {
    QString quoted = value;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

} // namespace

QString helpersAside(const QString& app) {
    return QFileInfo(app).absolutePath() + QLatin1String("/.Pinlark-swap");
}

QString text(const QString& app, const QString& staged, const QString& work, qint64 pid,
             const QString& bundleIdentifier) {
    const QString backup = QFileInfo(app).absolutePath() + QLatin1String("/.Pinlark-previous.app");
    QStringList lines{
        QStringLiteral("#!/bin/sh"),
        QStringLiteral(
            "# Pinlark's update swap, written by Installer and run detached after the app exits."),
        QStringLiteral("#"),
        QStringLiteral("# The only part of updating that cannot be undone is done here, so it is "
                       "written to be"),
        QStringLiteral(
            "# undoable: the old bundle is kept until the new one has been seen running."),
        QStringLiteral("set -u"),
        QString(),
        QStringLiteral("APP=") + shellQuoted(app),
        QStringLiteral("NEW=") + shellQuoted(staged),
        QStringLiteral("BACKUP=") + shellQuoted(backup),
        QStringLiteral("WORK=") + shellQuoted(work),
        QStringLiteral("HELPERS=") + shellQuoted(helpersAside(app)),
        QStringLiteral("PID=") + QString::number(pid),
        QStringLiteral("EXE=\"$APP/Contents/MacOS/Pinlark\""),
        QString(),
        QStringLiteral("say() { echo \"[$(date '+%H:%M:%S')] $*\"; }"),
        QString(),
        QStringLiteral("# Every way of giving up ends the same: this machine is told not to try "
                       "this again, the old"),
        QStringLiteral("# version runs (started here unless it still does), and the helpers "
                       "go. The log stays."),
        QStringLiteral("give_up() {"),
        QStringLiteral("  \"$HELPERS/defaults\" write ") + shellQuoted(bundleIdentifier) +
            QStringLiteral(" otaFailed -bool YES || say \"could not record the failure\""),
        QStringLiteral(
            "  if [ \"$1\" = start ]; then \"$HELPERS/open\" \"$APP\" || say \"could not "
            "start the old version\"; fi"),
        QStringLiteral("  rm -rf \"$HELPERS\""),
        QStringLiteral("  exit 1"),
        QStringLiteral("}"),
        QString(),
        QStringLiteral("# True while a process runs the new build's executable, this very file: "
                       "/proc/PID/exe and"),
        QStringLiteral("# $EXE are compared by device and inode, so no path is read as a "
                       "pattern. Leaves the"),
        QStringLiteral("# processes' ids in $found."),
        QStringLiteral("running() {"),
        QStringLiteral("  found="),
        QStringLiteral("  for proc in /proc/[0-9]*; do"),
        QStringLiteral(
            "    if [ \"$proc/exe\" -ef \"$EXE\" ]; then found=\"$found ${proc#/proc/}\"; fi"),
        QStringLiteral("  done"),
        QStringLiteral("  [ -n \"$found\" ]"),
        QStringLiteral("}"),
        QString(),
        QStringLiteral("# Stage 1: wait for the app to exit. It terminated itself the moment it "
                       "spawned this"),
        QStringLiteral("# script, so this is a formality; if it is somehow still up after about "
                       "ten seconds"),
        QStringLiteral("# (100 checks 0.1 seconds apart), do nothing at all, which is the safe "
                       "outcome. No swap"),
        QStringLiteral("# ever happens under a running executable."),
        QStringLiteral("i=0"),
        QStringLiteral("while kill -0 \"$PID\" 2>/dev/null; do"),
        QStringLiteral("  i=$((i + 1))"),
        QStringLiteral("  if [ \"$i\" -gt 100 ]; then say \"app is still running, leaving it "
                       "alone\"; give_up running; fi"),
        QStringLiteral("  sleep 0.1"),
        QStringLiteral("done"),
        QString(),
        QStringLiteral("# Stage 2: move the old bundle aside by rename, inside its own folder."),
        QStringLiteral("rm -rf \"$BACKUP\""),
        QStringLiteral("if ! mv \"$APP\" \"$BACKUP\"; then say \"could not move the old bundle "
                       "aside\"; give_up start; fi"),
        QString(),
        QStringLiteral("# Stage 3: copy the new bundle in with ditto rather than a move: the "
                       "staging folder can lie"),
        QStringLiteral("# on another volume, where a move is a copy anyway, and ditto copies "
                       "what the seal covers"),
        QStringLiteral("# and nothing more: no extended attributes, no set-id bits, nothing "
                       "others may write."),
        QStringLiteral("if ! \"$HELPERS/ditto\" \"$NEW\" \"$APP\"; then"),
        QStringLiteral("  say \"install failed, restoring\""),
        QStringLiteral("  rm -rf \"$APP\"; mv \"$BACKUP\" \"$APP\""),
        QStringLiteral("  give_up start"),
        QStringLiteral("fi"),
        QString(),
        QStringLiteral("# Stage 4: start the new build. This is why the script exists: nothing "
                       "inside the app can"),
        QStringLiteral("# watch its own replacement launch, and if anything refuses the new "
                       "build, nothing inside"),
        QStringLiteral("# the app can put the old one back. Wait up to 30 seconds (60 checks, "
                       "0.5 seconds apart)"),
        QStringLiteral("# for a process running the new executable."),
        QStringLiteral("\"$HELPERS/open\" \"$APP\" || say \"open returned an error\""),
        QStringLiteral("alive=0"),
        QStringLiteral("i=0"),
        QStringLiteral("while [ \"$i\" -lt 60 ]; do"),
        QStringLiteral("  if running; then alive=1; break; fi"),
        QStringLiteral("  i=$((i + 1))"),
        QStringLiteral("  sleep 0.5"),
        QStringLiteral("done"),
        QString(),
        QStringLiteral("# Stage 4b: the new build must still be running ten seconds later (ten "
                       "checks, one second"),
        QStringLiteral("# apart). open returns as soon as the app has started, so a build that "
                       "dies on its first"),
        QStringLiteral("# instruction looks healthy at the first check; asking only once would "
                       "declare victory"),
        QStringLiteral("# over a process that had already exited and throw the backup away."),
        QStringLiteral("if [ \"$alive\" = 1 ]; then"),
        QStringLiteral("  j=0"),
        QStringLiteral("  while [ \"$j\" -lt 10 ]; do"),
        QStringLiteral("    sleep 1"),
        QStringLiteral("    if ! running; then alive=0; say \"it started and then exited\"; "
                       "break; fi"),
        QStringLiteral("    j=$((j + 1))"),
        QStringLiteral("  done"),
        QStringLiteral("fi"),
        QString(),
        QStringLiteral("if [ \"$alive\" = 1 ]; then"),
        QStringLiteral("  say \"updated\""),
        QStringLiteral("  rm -rf \"$BACKUP\" \"$WORK\" \"$HELPERS\""),
        QStringLiteral("  exit 0"),
        QStringLiteral("fi"),
        QString(),
        QStringLiteral("# Stage 5: no process started, or one started and did not stay. Put the "
                       "old bundle back"),
        QStringLiteral("# exactly as it was, tell this machine not to try again, and start the "
                       "old version so the"),
        QStringLiteral("# menu bar returns on the version it had. The staging folder stays: its "
                       "log is the only"),
        QStringLiteral("# account of what happened, and temporary files are cleared soon "
                       "enough."),
        QStringLiteral("# Whatever still runs the new executable is stopped first, asked to end "
                       "and after five"),
        QStringLiteral("# seconds made to, so that nothing keeps running from a deleted bundle "
                       "beside the old"),
        QStringLiteral("# version. $found holds process ids only, split into words on purpose."),
        QStringLiteral("say \"the new build is not running — rolling back\""),
        QStringLiteral("if running; then"),
        QStringLiteral("  say \"stopping the new build\""),
        QStringLiteral("  kill $found 2>/dev/null"),
        QStringLiteral("  i=0"),
        QStringLiteral("  while running && [ \"$i\" -lt 50 ]; do i=$((i + 1)); sleep 0.1; done"),
        QStringLiteral("  if running; then kill -s KILL $found 2>/dev/null; fi"),
        QStringLiteral("fi"),
        QStringLiteral("rm -rf \"$APP\""),
        QStringLiteral("mv \"$BACKUP\" \"$APP\""),
        QStringLiteral("give_up start"),
    };
    return lines.join(QLatin1Char('\n'));
}

} // namespace pinlark::SwapScript
