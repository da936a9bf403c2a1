#!/usr/bin/env bash
# Pictures of the Windows program's real windows under Wine, for people to look at (README.md shows
# them beside the Linux ones):
#   scripts/screenshot-windows.sh [DIR]     (default DIR: assets/screenshots/windows/)
# Runs DataMigration.exe (scripts/build-windows.sh builds it) through autopilot.exe on a virtual X
# display with a window manager (openbox, which draws the title bars of the dialog and the box), in
# a Wine prefix of its own, against the stand-in databases (started and seeded here, seeded again
# afterwards, stopped again when they were not running). Writes into DIR:
#   message-box.png       the warning box of a start whose connection test failed (no driver)
#   main-window.png       the main window in backup mode with a proposed archive name
#   folder-dialog.png     the folder-selection dialog of the browse button
#   progress-backup.png   the progress window of a backup
#   main-restore.png      the main window in restore mode with the archive chosen
#   progress-restore.png  the progress window of a restore
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-windows
out="${1:-assets/screenshots/windows}"
[ -f "$dir/bin/autopilot.exe" ] || scripts/build-windows.sh
mkdir -p "$out"
out="$(cd "$out" && pwd)"
started=0
if ! scripts/dbenv.sh status >/dev/null 2>&1; then scripts/dbenv.sh start >/dev/null; started=1; fi
work="$(mktemp -d /tmp/dm-windows-shots-XXXXXX)"
cleanup() {
  scripts/dbenv.sh seed >/dev/null 2>&1 || true
  [ "$started" = 1 ] && scripts/dbenv.sh stop >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
scripts/dbenv.sh seed >/dev/null
mkdir -p "$work/no-drivers" "$work/down" "$work/backup" "$work/restore" "$work/archive"
export WINEPREFIX="$PWD/$dir/wineprefix-shots" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=zh_CN.UTF-8
rm -rf "$WINEPREFIX"
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  dir="$1" work="$2" odbc="$3"
  openbox --sm-disable >/dev/null 2>&1 &
  wm=$!
  wineboot --init </dev/null >/dev/null 2>&1
  sleep 1
  w() { winepath -w "$1"; }
  pilot() { wine "$dir/bin/autopilot.exe" "$@" </dev/null 2>&1 | tr -d "\r"; }
  ODBCSYSINI="$work/no-drivers" pilot backup "$(w "$work/archive")" --screenshots "$(w "$work/down")" || true
  ODBCSYSINI="$odbc" pilot backup "$(w "$work/archive")" --screenshots "$(w "$work/backup")"
  archive="$(ls "$work"/archive/*bak.dmp | head -1)"
  ODBCSYSINI="$odbc" pilot restore "$(w "$archive")" --answer yes --screenshots "$(w "$work/restore")"
  wineserver -k 2>/dev/null
  kill "$wm" 2>/dev/null || true' _ "$dir" "$work" "$PWD/.dbenv/odbc"
cp "$work/down/message-box.png" "$out/"
cp "$work/backup/main-window.png" "$work/backup/folder-dialog.png" "$work/backup/progress-backup.png" "$out/"
cp "$work/restore/main-restore.png" "$work/restore/progress-restore.png" "$out/"
ls "$out"
