#!/usr/bin/env bash
# Makes the Debian package of the Linux desktop program:
#   scripts/package-deb.sh            -> dist/datamigration_<version>_amd64.deb, then runs lintian on it
# DataMigration, dmptool and autopilot go to /usr/bin, a desktop entry (with the program's Chinese
# name) and its icon to /usr/share. The version is the project's (CMakeLists.txt), as the programs'
# --version prints it. The programs come from BUILD_DIR (default build/, made by scripts/build.sh
# when missing); the dependencies are the Debian packages that hold the libraries they load, plus
# unixODBC and the CJK font. Exits non-zero when the build, the package or lintian fails (lintian
# warnings are printed, only errors fail).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build="${BUILD_DIR:-build}"
[ -x "$build/bin/DataMigration" ] && [ -x "$build/bin/dmptool" ] && [ -x "$build/bin/autopilot" ] ||
  scripts/build.sh normal >/dev/null

version="$("$build/bin/dmptool" --version | awk '{print $2}')"
[ -n "$version" ] || { echo "package-deb: no version from dmptool --version" >&2; exit 1; }
pkg=datamigration
root="$(mktemp -d /tmp/datamigration-deb-XXXXXX)"
trap 'rm -rf "$root"' EXIT
mkdir -p dist "$root/DEBIAN" "$root/usr/bin" "$root/usr/share/applications" \
  "$root/usr/share/icons/hicolor/256x256/apps" "$root/usr/share/doc/$pkg"

for program in DataMigration dmptool autopilot; do
  install -m 0755 "$build/bin/$program" "$root/usr/bin/$program"
  strip --strip-unneeded --remove-section=.comment --remove-section=.note "$root/usr/bin/$program"
done
install -m 0644 assets/icon.png "$root/usr/share/icons/hicolor/256x256/apps/$pkg.png"

cat >"$root/usr/share/applications/$pkg.desktop" <<DESKTOP
[Desktop Entry]
Type=Application
Name=DataMigration
Name[zh_CN]=数据迁移工具
GenericName=Report data migration
GenericName[zh_CN]=Norvale数据迁移工具（V3.1-V4.0）
Comment=Moves the Norvale report data from a V3.1 database to a V4.0 database
Comment[zh_CN]=将Norvale V3.1数据库的报表数据迁移到V4.0数据库
Exec=DataMigration
Icon=$pkg
Terminal=false
Categories=Office;Database;
DESKTOP
desktop-file-validate "$root/usr/share/applications/$pkg.desktop"

cat >"$root/usr/share/doc/$pkg/copyright" <<COPYRIGHT
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: DataMigration
Source: the DataMigration project

Files: *
Copyright: 2026 the DataMigration developers
License: proprietary
 All rights reserved. Distributed to the sites that run the Norvale report tables.
COPYRIGHT
{
  echo "$pkg ($version) unstable; urgency=low"
  echo
  echo "  * Package of DataMigration $version."
  echo
  echo " -- DataMigration developers <datamigration@norvale.example.com>  $(date -R -d @"${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}")"
} | gzip -9n >"$root/usr/share/doc/$pkg/changelog.gz"
chmod 0644 "$root/usr/share/doc/$pkg/copyright" "$root/usr/share/doc/$pkg/changelog.gz"

# The packages that hold the shared libraries the programs load, at their installed versions.
depends="$(
  for program in "$root"/usr/bin/*; do ldd "$program"; done | awk '/=> \//{print $3}' | sort -u |
    while read -r lib; do
      owner="$(dpkg -S "$(readlink -f "$lib")" 2>/dev/null || dpkg -S "$lib" 2>/dev/null || true)"
      owner="${owner%%:*}"
      [ -n "$owner" ] || continue
      echo "$owner (>= $(dpkg-query -W -f='${Version}' "$owner" | sed 's/-[^-]*$//'))"
    done | sort -u | paste -sd, | sed 's/,/, /g'
)"
[ -n "$depends" ] || { echo "package-deb: no library dependencies found" >&2; exit 1; }
size="$(du -sk --exclude=DEBIAN "$root" | cut -f1)"
cat >"$root/DEBIAN/control" <<CONTROL
Package: $pkg
Version: $version
Architecture: amd64
Maintainer: DataMigration developers <datamigration@norvale.example.com>
Installed-Size: $size
Depends: $depends, unixodbc, fonts-wqy-zenhei
Recommends: odbc-postgresql
Section: database
Priority: optional
Homepage: https://localhost/datamigration
Description: moves Norvale report data from V3.1 to V4.0
 DataMigration backs up the report tables of a Norvale V3.1 installation
 into one password-protected archive and restores such an archive into a
 Norvale V4.0 database, through the KingbaseES ODBC drivers. dmptool packs,
 checks and unpacks such archives from the command line, and checks an
 archive against a target before and after a restore.
CONTROL

deb="dist/${pkg}_${version}_amd64.deb"
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "package-deb: $deb"
# Errors fail the package; warnings and notes are shown (the programs have no manual pages yet).
lintian --tag-display-limit 0 --fail-on error "$deb"
echo "package-deb: lintian found no errors"
