#!/usr/bin/env bash
# The migration benchmark, one command:
#   bench/migration/run.sh [ROWS] [--bounds ROWS:BYTES,...]
# (default 1000000 rows of rptreportdata). Builds, seeds the source with ROWS rows, runs
# build/bin/migration_bench, and seeds the default sample data again afterwards (also when the
# bench fails). --bounds restores again once per bound of the multi-row INSERT statements and
# prints each import phase beside the one of the bound in force.
set -euo pipefail
cd "$(dirname "$0")/../.."
rows=1000000
while [ $# -gt 0 ]; do
  case "$1" in
    --bounds) export DM_INSERT_BOUNDS="$2"; shift 2 ;;
    *) rows="$1"; shift ;;
  esac
done
build="${DM_BENCH_BUILD:-build}"

scripts/install-deps.sh
if [ "$build" = build ]; then scripts/build.sh >/dev/null; else cmake --build "$build" --target migration_bench >/dev/null; fi
scripts/dbenv.sh start
trap 'scripts/dbenv.sh seed >/dev/null' EXIT
echo "seeding $rows rows ..."
scripts/dbenv.sh seed --rows "$rows"
# Vacuumed now rather than by the autovacuum of the freshly seeded rows in the middle of the
# measured backup and restore.
scripts/dbenv.sh psql bf -q -c 'VACUUM' >/dev/null

work="$(mktemp -d /tmp/dm-migration-bench-XXXXXX)"
export DM_SOURCE_DIR="$PWD" ODBCSYSINI="$PWD/.dbenv/odbc" QT_QPA_PLATFORM=offscreen
status=0
"$build/bin/migration_bench" "$work" || status=$?
rm -rf "$work"
exit $status
