#!/usr/bin/env bash
# dmptool check against the stand-in target, end to end: the archive of a real backup of the seeded
# source (made by autopilot), checked before a restore (goes through; a dropped column stops it),
# damaged, and after the restore (all match; a deleted row is named). Seeds the stand-ins again at
# the end, whatever happened.
#   dmptool_check_test.sh BIN_DIR
set -uo pipefail
bin="$1"
repo="$(cd "$(dirname "$0")/../.." && pwd)"
psql() { "$repo/scripts/dbenv.sh" psql hy -q -v ON_ERROR_STOP=1 "$@"; }
work="$(mktemp -d /tmp/dmptool-check-test-XXXXXX)"
trap '"$repo/scripts/dbenv.sh" seed >/dev/null 2>&1; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# expect NAME EXIT PATTERN -- dmptool arguments: runs dmptool, checks its exit code and that its
# output holds PATTERN (an extended regular expression).
expect() {
  local name="$1" code="$2" pattern="$3"; shift 4
  local out rc=0
  out="$("$bin/dmptool" "$@" 2>&1)" || rc=$?
  [ "$rc" = "$code" ] || fail "$name: exit $rc, expected $code"$'\n'"$out"
  grep -Eq -- "$pattern" <<<"$out" || fail "$name: no line matches /$pattern/"$'\n'"$out"
}

export QT_QPA_PLATFORM=offscreen
"$bin/autopilot" backup "$work" >"$work/backup.out" 2>/dev/null || { cat "$work/backup.out"; echo "FAIL: backup"; exit 1; }
archive="$(ls "$work"/*bak.dmp)"
fingerprint() { psql -At -c "SELECT count(*) FROM information_schema.columns WHERE table_schema ILIKE 'dbo'"; }

expect "before, seeded target" 0 "restore would go through" -- check "$archive" --target hy
expect "before, no target" 0 "15 TableFiles" -- check "$archive"

columns="$(fingerprint)"
psql -c 'ALTER TABLE "DBO".rptreport DROP COLUMN creator'
expect "before, column dropped" 1 "creator" -- check "$archive" --target hy
[ "$(fingerprint)" = "$((columns - 1))" ] || fail "the check changed the target's columns"
"$repo/scripts/dbenv.sh" seed >/dev/null

head -c 2000 "$archive" >"$work/short.dmp"
expect "damaged archive" 3 "." -- check "$work/short.dmp"
expect "bad arguments" 2 "." -- check

"$bin/autopilot" restore "$archive" --answer yes >"$work/restore.out" 2>/dev/null || { cat "$work/restore.out"; fail "restore"; }
expect "after the restore" 0 "every table holds" -- check "$archive" --target hy --after
psql -c 'DELETE FROM "DBO".rptreport WHERE id = (SELECT min(id) FROM "DBO".rptreport)'
expect "after a deleted row" 1 "rptreport.*DIFFERS" -- check "$archive" --target hy --after

[ "$failures" = 0 ] && echo "dmptool check: all cases passed"
exit $((failures > 0))
