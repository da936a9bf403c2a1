#!/usr/bin/env bash
# Pictures of the real windows for people to look at.
#   scripts/screenshot.sh [DIR]     (default DIR: screenshots/)
# Builds the picture tool if needed, shows the main window and the progress window under a
# virtual X display (Xvfb) and writes into DIR:
#   main-backup.png       the main window in backup mode with a proposed archive name
#   main-restore.png      the main window in restore mode after a failed connection test
#   progress-backup.png   the progress window as a backup sets it up
#   progress-restore.png  the progress window as a restore sets it up
#   folder-dialog.png     the folder-selection dialog of the browse button
# BUILD_DIR picks the build directory (default build/, configured like scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

out="${1:-screenshots}"
build="${BUILD_DIR:-build}"

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target dm_screenshots >/dev/null

command -v xvfb-run >/dev/null || { echo "screenshot: xvfb-run is missing (apt-get install xvfb xauth)" >&2; exit 1; }
mkdir -p "$out"
# The real X11 platform plug-in, not the offscreen one the tests use.
env -u QT_QPA_PLATFORM QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1280x800x24" "$build/bin/dm_screenshots" "$out"
