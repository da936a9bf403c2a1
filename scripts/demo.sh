#!/usr/bin/env bash
# The tool's main job against the local stand-in databases.
#
#   scripts/demo.sh
#
# Installs what is missing, builds, starts the two stand-in servers and fills the source with the
# sample data. With a display it opens the tool (build/bin/DataMigration). Without one (CI, a
# remote shell) it lets build/bin/autopilot do what a user would: a backup of the source into
# out/demo/, then a restore of that archive into the target, on Qt's offscreen platform; then it
# prints the 15 tables with their rows in the source (as the backup's queries select them) and in
# the target, and where the pictures of the windows and the trace are.
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$PWD"

scripts/install-deps.sh
echo "== build"
scripts/build.sh >/dev/null
echo "== stand-in databases"
scripts/dbenv.sh start
scripts/dbenv.sh seed
export ODBCSYSINI="$repo/.dbenv/odbc"

# A display counts when its X server answers.
have_display() {
  [ -n "${DISPLAY:-}" ] || return 1
  if command -v xdpyinfo >/dev/null 2>&1; then
    timeout 5 xdpyinfo >/dev/null 2>&1
  else
    local n="${DISPLAY#*:}"; n="${n%%.*}"
    [ -S "/tmp/.X11-unix/X$n" ]
  fi
}

if [ "${DM_DEMO_HEADLESS:-0}" != 1 ] && have_display; then
  echo "== opening DataMigration on $DISPLAY"
  exec build/bin/DataMigration
fi

out="$repo/out/demo"
shots="$repo/screenshots/demo"
rm -rf "$out" "$shots"
mkdir -p "$out" "$shots"
export QT_QPA_PLATFORM=offscreen

echo "== backup (autopilot, offscreen)"
status=0
build/bin/autopilot backup "$out" --screenshots "$shots/backup" 2>"$out/backup-trace.log" || status=$?
if [ "$status" != 0 ]; then
  echo "demo: the backup did not succeed (exit $status); trace in $out/backup-trace.log" >&2
  exit 1
fi
archive="$(ls "$out"/*bak.dmp)"

echo "== restore (autopilot, offscreen)"
build/bin/autopilot restore "$archive" --answer yes --screenshots "$shots/restore" \
  2>"$out/restore-trace.log" || status=$?
if [ "$status" != 0 ]; then
  echo "demo: the restore did not succeed (exit $status); trace in $out/restore-trace.log" >&2
  exit 1
fi

# Rows per table: in the source as the backup's query selects them, in the target as restored.
queries=(
  "rptreportdata|select *  from  rptreportdata|rptreportdata"
  "rptreport|select *  from  rptreport|rptreport"
  "rptsetreportcover|select *  from  rptsetreportcover|rptsetreportcover"
  "rptsingletmp|select *  from  rptsingletmp|rptsingletmp"
  "rptsingletmpcondition|select *  from  rptsingletmpcondition|rptsingletmpcondition"
  "rptcombinefetch|select *  from  rptcombinefetch|rptcombinefetch"
  "rptcombinefetchcondition|select *  from  rptcombinefetchcondition|rptcombinefetchcondition"
  "rptaddresslist|select *  from  rptaddresslist|rptaddresslist"
  "RPTTEMPLATECLASSVALID|select *  from  RPTTEMPLATECLASSVALID|RPTTEMPLATECLASSVALID"
  "T_ORG_SUMCLASS_NEW|select *  from  T_ORG_SUMCLASS_NEW|T_ORG_SUMCLASS_NEW"
  "T_ORG_SUMCLASS_ORG_NEW|select *  from  T_ORG_SUMCLASS_ORG_NEW|T_ORG_SUMCLASS_ORG_NEW"
  "RPTREPORTREMARK|select *  from  RPTREPORTREMARK|RPTREPORTREMARK"
  "B01REPORT|SELECT b0191,  b0140,  b0141,  b0142,  b0101 from  b01 where  b0140 <> 'XXX' AND (b0140 IS NOT NULL)  AND b0140 <> ''|B01REPORT"
  "RPTDURATION|select *  from  RPTDURATION|RPTDURATION"
  "T_RPT_DURATION|select *  from  T_RPT_DURATION|T_RPT_DURATION"
)
count() { scripts/dbenv.sh psql "$1" -X -q -At -c "select count(*) from ($2) q"; }

echo
printf '%-26s %10s %10s\n' "table" "source" "target"
printf '%-26s %10s %10s\n' "--------------------------" "----------" "----------"
for entry in "${queries[@]}"; do
  IFS='|' read -r name query target <<<"$entry"
  src="$(count bf "$query")"
  tgt="$(count hy "select * from $target")"
  note=""
  case "$name" in
    RPTDURATION|T_RPT_DURATION) note="  (the restore's fix-up adds one row)" ;;
  esac
  printf '%-26s %10s %10s%s\n' "$name" "$src" "$tgt" "$note"
done
echo
echo "archive:     $archive"
echo "screenshots: $shots/backup, $shots/restore"
echo "traces:      $out/backup-trace.log, $out/restore-trace.log"
