#!/usr/bin/env bash
# Builds the archive reader's libFuzzer target with clang (AddressSanitizer + UBSan) into
# build-fuzz/ and runs it for a bounded time over a seed corpus of small valid archives made by
# zip, 7z and python. Exits non-zero when the fuzzer finds a crash, a leak of the destination or
# an unexpected exception.
#   scripts/fuzz.sh            -> 60 seconds
#   DM_FUZZ_SECONDS=600 scripts/fuzz.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
out="$root/build-fuzz"
seconds="${DM_FUZZ_SECONDS:-60}"
cxx="${DM_FUZZ_CXX:-$(command -v clang++-14 || command -v clang++)}"
mkdir -p "$out/obj" "$out/seed" "$out/corpus"

flags=(-std=c++20 -g -O1 -fPIC -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
       -I"$root/src" $(pkg-config --cflags Qt6Core))
sources=(
  src/archive/ArchiveErrors.cpp src/archive/ArchiveReader.cpp src/archive/Crc32.cpp
  src/archive/DosDateTime.cpp src/archive/FileIo.cpp src/archive/ReadAhead.cpp src/archive/TEndCentral.cpp
  src/archive/TSortedZip.cpp src/archive/TZipHeaderInfo.cpp src/archive/ZipCrypto.cpp src/archive/ZipInput.cpp
  src/platform/Clock.cpp src/platform/CodePage.cpp src/platform/Dialogs.cpp
  src/platform/EventPump.cpp src/platform/FileSystem.cpp
  tests/archive/fuzz/ReaderFuzzer.cpp)
objects=()
for s in "${sources[@]}"; do
  o="$out/obj/$(echo "$s" | tr '/' '_').o"
  if [ ! -f "$o" ] || [ "$s" -nt "$o" ] || [ -n "$(find src/archive src/platform -name '*.h' -newer "$o" -print -quit)" ]; then
    "$cxx" "${flags[@]}" -c "$s" -o "$o"
  fi
  objects+=("$o")
done
"$cxx" -fsanitize=fuzzer,address,undefined "${objects[@]}" -o "$out/reader_fuzzer" -lz $(pkg-config --libs Qt6Core)

# Seed corpus: small archives of the kinds the reader meets.
if [ -z "$(ls -A "$out/seed")" ]; then
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/src/sub"
  printf '<z:row ID="1" NAME="a"/>\n%.0s' $(seq 1 20) > "$work/src/a.xml"
  printf 'b' > "$work/src/sub/b.txt"
  : > "$work/src/empty.txt"
  (cd "$work/src" && zip -q -r -P pw "$out/seed/zip_pw.zip" . \
    && zip -q -r -0 -P pw "$out/seed/zip_stored.zip" . \
    && zip -q -r -fd -P pw "$out/seed/zip_fd.zip" . \
    && zip -q -r "$out/seed/zip_plain.zip" . \
    && (cat a.xml | zip -q -P pw - - > "$out/seed/zip_stream.zip") \
    && 7z a -tzip -mem=ZipCrypto -ppw "$out/seed/7z_pw.zip" . > /dev/null \
    && python3 -c "import zipfile
z=zipfile.ZipFile('$out/seed/py.zip','w',zipfile.ZIP_DEFLATED)
z.write('a.xml'); z.writestr('s.txt','stored',zipfile.ZIP_STORED); z.comment=b'note'; z.close()")
  : > "$out/seed/empty.zip"
fi

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
cd "$out"
./reader_fuzzer -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
  -print_final_stats=1 corpus seed
