#!/usr/bin/env bash
# The Debian package, end to end on this machine (as root): made by scripts/package-deb.sh (which
# fails on any lintian error), installed with dpkg -i, the programs' --version run from /usr/bin
# against the project's version, the desktop entry and icon in place, removed with dpkg -r and
# nothing of it left behind.
set -euo pipefail
cd "$(dirname "$0")/../.."
[ "$(id -u)" = 0 ] || { echo "package test: skipped, installing needs root"; exit 0; }
scripts/package-deb.sh
version="$(sed -n 's/^project(DataMigration VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
deb="dist/datamigration_${version}_amd64.deb"
trap 'dpkg -r datamigration >/dev/null 2>&1 || true' EXIT
dpkg -i "$deb" >/dev/null
failures=0
check() { if ! eval "$2"; then echo "FAIL: $1" >&2; failures=$((failures + 1)); fi; }
check "dmptool --version" '[ "$(/usr/bin/dmptool --version)" = "dmptool $version" ]'
check "DataMigration --version" '[ "$(/usr/bin/DataMigration --version)" = "DataMigration $version" ]'
check "desktop entry with the Chinese name" 'grep -qx "Name\[zh_CN\]=数据迁移工具" /usr/share/applications/datamigration.desktop'
check "icon" '[ -f /usr/share/icons/hicolor/256x256/apps/datamigration.png ]'
files="$(dpkg -L datamigration | while read -r f; do [ -f "$f" ] && echo "$f"; done)"
dpkg -r datamigration >/dev/null
trap - EXIT
for f in $files; do check "$f removed" '[ ! -e "$f" ]'; done
check "package gone" '! dpkg-query -W -f="\${Status}" datamigration 2>/dev/null | grep -q "install ok installed"'
[ "$failures" = 0 ] && echo "package test: installed, ran --version ($version), removed cleanly"
exit $((failures > 0))
