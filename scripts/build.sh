#!/usr/bin/env bash
# Configures and builds one configuration.
#   scripts/build.sh            -> build/      (normal, RelWithDebInfo)
#   scripts/build.sh asan       -> build-asan/ (AddressSanitizer + UndefinedBehaviorSanitizer)
set -euo pipefail
cd "$(dirname "$0")/.."
kind="${1:-normal}"
case "$kind" in
  normal) dir=build; flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan)   dir=build-asan; flags=(-DCMAKE_BUILD_TYPE=Debug -DDM_SANITIZE=ON -DDM_BUILD_BENCH=OFF) ;;
  *) echo "usage: $0 [normal|asan]" >&2; exit 2 ;;
esac
jobs="${DM_JOBS:-$(nproc)}"
cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$dir" -j "$jobs"
