#!/usr/bin/env bash
# Installs every Debian package the project needs. Idempotent; prints nothing when all is present.
set -euo pipefail

PACKAGES=(
  g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev libjpeg62-turbo-dev
  qt6-translations-l10n libxcb1-dev
  zlib1g-dev
  unixodbc unixodbc-dev odbc-postgresql
  postgresql-15 postgresql-client-15
  fonts-wqy-zenhei xvfb xauth openbox
  zip unzip p7zip-full python3
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev libz-mingw-w64-dev googletest wine64 wine
  util-linux procps
  dpkg-dev lintian desktop-file-utils
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq >/dev/null
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
# The Debian cluster that postgresql-common creates on install is not used by the project.
