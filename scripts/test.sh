#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the normal and the sanitizer configuration,
# starts the stand-in databases, runs all test suites on Qt's offscreen platform, cross-builds the
# Windows suites and runs them under Wine, makes the Debian package and installs and removes it,
# stops the stand-ins again. Exits non-zero on any
# failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen
export ODBCSYSINI="$PWD/.dbenv/odbc"

started_db=0
cleanup() {
  if [ "$started_db" = 1 ]; then scripts/dbenv.sh stop || true; fi
}
trap cleanup EXIT

if [ -x scripts/dbenv.sh ]; then
  scripts/dbenv.sh start
  started_db=1
  scripts/dbenv.sh seed
fi

status=0
for kind in normal asan; do
  dir=build; [ "$kind" = asan ] && dir=build-asan
  echo "== build ($kind) [${SECONDS}s]"
  scripts/build.sh "$kind"
  echo "== tests ($kind) [${SECONDS}s]"
  if ! ctest --test-dir "$dir" --output-on-failure --timeout 900 -j "${DM_TEST_JOBS:-1}"; then
    status=1
  fi
done

echo "== Windows build and tests (MinGW-w64, Wine) [${SECONDS}s]"
if ! { scripts/build-windows.sh && scripts/test-windows.sh && scripts/package-windows.sh; }; then
  status=1
fi

echo "== Debian package (build, lintian, install, remove) [${SECONDS}s]"
tests/package/package_test.sh || status=1

if [ -x scripts/fuzz.sh ]; then
  echo "== fuzz [${SECONDS}s]"
  scripts/fuzz.sh || status=1
fi

echo "== done [${SECONDS}s]"
exit $status
