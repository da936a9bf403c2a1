#!/usr/bin/env bash
# Pictures of the real windows for people to look at (the ones README.md shows).
#   scripts/screenshot.sh [DIR]     (default DIR: assets/screenshots/)
# Builds the picture tool if needed, shows the program's windows under a virtual X display (Xvfb)
# with a small window manager (openbox), which draws the title bars of the dialog and the box
# from the captions the windows carry, and writes into DIR:
#   main-window.png       the main window in backup mode with a proposed archive name
#   main-restore.png      the main window in restore mode after a failed connection test
#   progress-backup.png   the progress window as a backup sets it up
#   progress-restore.png  the progress window as a restore sets it up
#   folder-dialog.png     the folder-selection dialog of the browse button
#   message-box.png       the warning box of a start whose connection test failed
# BUILD_DIR picks the build directory (default build/, configured like scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

out="${1:-assets/screenshots}"
build="${BUILD_DIR:-build}"

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target dm_screenshots >/dev/null

for tool in xvfb-run openbox; do
  command -v "$tool" >/dev/null || { echo "screenshot: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
mkdir -p "$out"
out="$(cd "$out" && pwd)"
# The real X11 platform plug-in, not the offscreen one the tests use; the window manager starts
# first and is stopped when the pictures are taken.
env -u QT_QPA_PLATFORM QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 \
  xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    openbox --sm-disable >/dev/null 2>&1 &
    wm=$!
    sleep 1
    status=0
    "$0" "$1" || status=$?
    kill "$wm" 2>/dev/null || true
    exit $status' "$build/bin/dm_screenshots" "$out"
