#!/usr/bin/env bash
# Runs the Windows test suites that scripts/build-windows.sh built, under Wine: in a fresh Wine
# prefix under build-windows/, without a display, with Wine's own diagnostics off; then checks
# dmptool.exe against the Linux dmptool (build/, from scripts/build.sh) and the other ZIP tools
# both ways (scripts/windows-interop.sh). Ends with the summary lines of both; exits non-zero when
# a suite or an interoperability check failed or did not run.
#
# The database suites reach the stand-in servers of scripts/dbenv.sh through Wine's odbc32 and this
# machine's unixODBC. They are started here when they do not run yet (and stopped again at the
# end), and seeded afresh either way: the suites before may have changed the data. Seeding drops
# both databases, so no other suite may use them meanwhile (scripts/test.sh runs this after the
# Linux suites).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-windows
[ -f "$dir/CTestTestfile.cmake" ] || { echo "test-windows: run scripts/build-windows.sh first" >&2; exit 2; }

export WINEPREFIX="$PWD/$dir/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
results="$dir/test-results"

# A prefix of its own for every run, so nothing left by an earlier run counts. Booting it without
# the Mono and Gecko installers (the overrides above) asks no questions.
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX" "$results"
mkdir -p "$results" "$WINEPREFIX"
# One server for the whole run (each program started alone would start and stop its own), ended
# with the run.
wineserver -p
started_db=0
cleanup() {
  wineserver -k 2>/dev/null || true
  if [ "$started_db" = 1 ]; then scripts/dbenv.sh stop >/dev/null || true; fi
}
trap cleanup EXIT
wineboot --init </dev/null >/dev/null 2>&1

if ! scripts/dbenv.sh status >/dev/null 2>&1; then
  scripts/dbenv.sh start >/dev/null
  started_db=1
fi
scripts/dbenv.sh seed >/dev/null

# Every test program writes its results as XML there (GoogleTest reads GTEST_OUTPUT).
export GTEST_OUTPUT="xml:$(winepath -w "$results")\\"
status=0
ctest --test-dir "$dir" --output-on-failure --timeout 900 -j "${DM_TEST_JOBS:-2}" </dev/null || status=1

# dmptool.exe against the Linux dmptool, Info-ZIP, 7z and python3's zipfile, both ways.
interop="$(scripts/windows-interop.sh </dev/null 2>&1)" || status=1

# The Windows front end's window tests need a display, which the run above has not: here they run
# again on a virtual X display, in a prefix of their own, and must pass without skipping.
windows="$(
  export WINEPREFIX="$PWD/$dir/wineprefix-display"
  unset GTEST_OUTPUT
  rm -rf "$WINEPREFIX"
  for exe in "$dir"/tests/win32_*.exe; do
    [ -e "$exe" ] || continue
    xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
      wineboot --init </dev/null >/dev/null 2>&1
      out="$(wine "$1" </dev/null 2>&1)"; rc=$?
      wineserver -k 2>/dev/null
      if [ $rc = 0 ] && grep -q "PASSED" <<<"$out" && ! grep -q "SKIPPED" <<<"$out"; then
        echo "window tests on a display: $(basename "$1") passed: $(grep -o "[0-9]* tests\? from [0-9]* test suites\? ran" <<<"$out")"
      else
        printf "%s\n" "$out"; echo "window tests on a display: $(basename "$1") FAILED"; exit 1
      fi' _ "$exe" || exit 1
  done
)" || status=1

# The Windows program end to end, driven from outside by autopilot.exe on a virtual display: a start
# with no driver to be had (ODBCSYSINI names an empty registry) must show the warning box as the
# window system shows it; then DataMigration.exe backs up the freshly seeded source through Wine's
# odbc32 and restores the archive into the target, and the Linux suite's comparison checks every
# target table value for value against the source.
endtoend="$(
  export WINEPREFIX="$PWD/$dir/wineprefix-display"
  unset GTEST_OUTPUT
  work="$(mktemp -d /tmp/dm-windows-e2e-XXXXXX)"
  mkdir -p "$work/no-drivers"
  scripts/dbenv.sh seed >/dev/null
  xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    dir="$1" work="$2" odbc="$3"
    wineboot --init </dev/null >/dev/null 2>&1
    pilot() { wine "$dir/bin/autopilot.exe" "$@" </dev/null 2>&1 | tr -d "\r"; return "${PIPESTATUS[0]}"; }
    folder="$(winepath -w "$work")"
    rc=0
    down="$(ODBCSYSINI="$work/no-drivers" pilot backup "$folder")" || true
    printf "%s\n" "$down" | sed "s/^/  database down: /"
    grep -qx "\[box\] 警告 | 数据库连接不成功，请检查数据库服务是否启动！ | style 48" <<<"$down" || { echo "FAILED: no warning box"; rc=1; }
    out="$(ODBCSYSINI="$odbc" pilot backup "$folder")" || { printf "%s\n" "$out"; echo "FAILED: backup"; rc=1; }
    printf "%s\n" "$out" | grep "^\[box\]" | sed "s/^/  backup: /"
    archive="$(ls "$work"/*bak.dmp 2>/dev/null | head -1)"
    if [ -n "$archive" ]; then
      out="$(ODBCSYSINI="$odbc" pilot restore "$(winepath -w "$archive")" --answer yes)" || { printf "%s\n" "$out"; echo "FAILED: restore"; rc=1; }
      printf "%s\n" "$out" | grep "^\[box\]" | sed "s/^/  restore: /"
    else
      echo "FAILED: no archive"; rc=1
    fi
    wineserver -k 2>/dev/null
    exit $rc' _ "$dir" "$work" "$PWD/.dbenv/odbc" || { rm -rf "$work"; exit 1; }
  rm -rf "$work"
  DM_COMPARE_TARGET=1 QT_QPA_PLATFORM=offscreen ODBCSYSINI="$PWD/.dbenv/odbc" DM_SOURCE_DIR="$PWD" \
    build/tests/MigrationProcedureTest --gtest_filter='*ATargetRestoredByTheWindowsProgram*' >"$results-compare.log" 2>&1 ||
    { cat "$results-compare.log"; echo "FAILED: the target differs from the source"; exit 1; }
  echo "  the 15 target tables hold exactly the source rows"
)" || status=1

python3 - "$results" "$(find "$dir" -name CTestTestfile.cmake -exec grep -ho '^add_test(\[=\[[^]]*' {} + | wc -l)" <<'PY' || status=1
import glob, sys
import xml.etree.ElementTree as ET
results, programs = sys.argv[1], int(sys.argv[2])
run = passed = failed = skipped = linux_only = 0
reports = sorted(glob.glob(results + "/*.xml"))
for report in reports:
    for case in ET.parse(report).getroot().iter("testcase"):
        if case.get("status") == "notrun":
            continue
        run += 1
        skip = case.find("skipped")
        if case.find("failure") is not None:
            failed += 1
        elif skip is not None or case.get("result") == "skipped":
            skipped += 1
            # The message is "file:line" and then the reason given to GTEST_SKIP.
            message = skip.get("message", "") if skip is not None else ""
            reason = " ".join(message.splitlines()[1:]).strip()
            if reason.startswith("Linux-only"):
                linux_only += 1
            print(f"  skipped {case.get('classname')}.{case.get('name')}: {reason}")
        else:
            passed += 1
print(f"windows: {len(reports)} of {programs} test programs reported, {run} tests run, {passed} passed, "
      f"{failed} failed, {skipped} skipped ({linux_only} Linux-only)")
sys.exit(0 if failed == 0 and len(reports) == programs else 1)
PY
printf '%s\n' "$interop"
printf '%s\n' "$windows"
echo "windows end to end (DataMigration.exe through autopilot.exe):"
printf '%s\n' "$endtoend"
exit $status
