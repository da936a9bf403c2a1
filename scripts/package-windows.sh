#!/usr/bin/env bash
# Makes the package for Windows users:
#   scripts/package-windows.sh        -> dist/DataMigration-<version>-win64.zip
# holding DataMigration.exe and dmptool.exe from build-windows/ (cross-built first by
# scripts/build-windows.sh when missing; both statically linked, they need nothing beside the
# system's DLLs) and README.txt in Chinese and English (assets/windows/README.txt, with Windows
# line ends and a byte-order mark so that Notepad shows it right). The version is the project's.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-windows
[ -f "$dir/bin/DataMigration.exe" ] && [ -f "$dir/bin/dmptool.exe" ] || scripts/build-windows.sh
version="$(sed -n 's/^project(DataMigration VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
[ -n "$version" ] || { echo "package-windows: no project version in CMakeLists.txt" >&2; exit 1; }
stage="$(mktemp -d /tmp/datamigration-win64-XXXXXX)"
trap 'rm -rf "$stage"' EXIT
name="DataMigration-$version-win64"
mkdir -p "$stage/$name" dist
cp "$dir/bin/DataMigration.exe" "$dir/bin/dmptool.exe" "$stage/$name/"
x86_64-w64-mingw32-strip "$stage/$name/"*.exe
{ printf '\xEF\xBB\xBF'; sed 's/$/\r/' assets/windows/README.txt; } >"$stage/$name/README.txt"
zip="$PWD/dist/$name.zip"
rm -f "$zip"
(cd "$stage" && zip -q -X -r "$zip" "$name")
# Every file a program of Windows' own can start: no DLL of the cross compiler may be needed.
for exe in DataMigration.exe dmptool.exe; do
  if x86_64-w64-mingw32-objdump -p "$stage/$name/$exe" | grep -i 'DLL Name' | grep -Eiq 'libstdc|libgcc|libwinpthread|zlib'; then
    echo "package-windows: $exe needs a DLL that is not the system's" >&2; exit 1
  fi
done
unzip -l "$zip"
echo "package-windows: dist/$name.zip"
