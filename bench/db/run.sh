#!/usr/bin/env bash
# Builds the database benchmark in an optimised build and runs it against the stand-in source.
#   bench/db/run.sh                 measure rptreportdata as it is
#   bench/db/run.sh --seed          first reseed the source with 1 000 000 rows of rptreportdata
#                                   (scripts/dbenv.sh seed --rows 1000000: drops and refills ZOR and
#                                   STAT, so do not run it while other tests use the stand-ins)
#   bench/db/run.sh --scratch N     leave the seeded data alone: measure a private copy of
#                                   rptreportdata scaled to N rows (dmbench_rptreportdata), dropped after
set -euo pipefail
cd "$(dirname "$0")/../.."
build="${DM_BENCH_BUILD_DIR:-build-bench-db}"
args=()
scratch=""
case "${1:-}" in
  --seed) scripts/dbenv.sh seed --rows 1000000 >/dev/null 2>&1 ;;
  --scratch)
    rows="${2:?--scratch needs a row count}"
    scratch=dmbench_rptreportdata
    scripts/dbenv.sh psql bf -q -v ON_ERROR_STOP=1 >/dev/null <<SQL
DROP TABLE IF EXISTS $scratch;
CREATE TABLE $scratch (LIKE rptreportdata INCLUDING ALL);
INSERT INTO $scratch
  SELECT d.id + g * m.n, d.reportid, d.orgid, d.rowno, d.colno, d.cellvalue, d.celltext, d.ratio,
         d.updatetime + g * interval '1 minute', d.remark
  FROM rptreportdata d, (SELECT max(id) AS n FROM rptreportdata) m,
       generate_series(0, ($rows - 1) / (SELECT greatest(count(*), 1) FROM rptreportdata)) g
  ORDER BY 1 LIMIT $rows;
ANALYZE $scratch;
SQL
    trap 'scripts/dbenv.sh psql bf -q -c "DROP TABLE IF EXISTS $scratch" >/dev/null' EXIT
    args=(--table "$scratch")
    ;;
esac
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDM_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_db_export -j2 >/dev/null
export ODBCSYSINI="$PWD/.dbenv/odbc"
"$build/bin/bench_db_export" "${args[@]}"
