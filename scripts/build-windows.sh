#!/usr/bin/env bash
# Cross-builds the window-free libraries, DataMigration.exe with its Windows API front end (no Qt
# there), dmptool.exe and their test suites for 64-bit Windows with MinGW-w64 into build-windows/.
# scripts/test-windows.sh runs the suites under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-windows
jobs="${DM_JOBS:-$(nproc)}"
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/MinGW-w64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDM_WITH_QT=OFF -DDM_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j "$jobs"
