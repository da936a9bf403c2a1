#!/usr/bin/env bash
# The migration benchmark, one command:
#   bench/migration/run.sh [ROWS]      (default 1000000 rows of rptreportdata)
# Builds, seeds the source with ROWS rows, runs build/bin/migration_bench, and seeds the default
# sample data again afterwards (also when the bench fails).
set -euo pipefail
cd "$(dirname "$0")/../.."
rows="${1:-1000000}"
build="${DM_BENCH_BUILD:-build}"

scripts/install-deps.sh
if [ "$build" = build ]; then scripts/build.sh >/dev/null; else cmake --build "$build" --target migration_bench >/dev/null; fi
scripts/dbenv.sh start
trap 'scripts/dbenv.sh seed >/dev/null' EXIT
echo "seeding $rows rows ..."
scripts/dbenv.sh seed --rows "$rows"

work="$(mktemp -d /tmp/dm-migration-bench-XXXXXX)"
export DM_SOURCE_DIR="$PWD" ODBCSYSINI="$PWD/.dbenv/odbc" QT_QPA_PLATFORM=offscreen
status=0
"$build/bin/migration_bench" "$work" || status=$?
rm -rf "$work"
exit $status
