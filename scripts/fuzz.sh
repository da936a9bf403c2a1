#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UBSan) into build-fuzz/ and runs each
# for a bounded time, sharing the time between them:
#   reader_fuzzer     the archive reader, over a seed corpus of small valid archives made by zip,
#                     7z and python (a crash, a leak of the destination or an unexpected exception
#                     stops it);
#   tablefile_fuzzer  the TableFile reader and writer, over the TableFile fixtures (a crash, an
#                     unexpected exception, a wrong row count or a copy that reads back otherwise
#                     stops it).
# Exits non-zero when either finds something.
#   scripts/fuzz.sh            -> 60 seconds in all
#   DM_FUZZ_SECONDS=600 scripts/fuzz.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
out="$root/build-fuzz"
seconds="${DM_FUZZ_SECONDS:-60}"
cxx="${DM_FUZZ_CXX:-$(command -v clang++-14 || command -v clang++)}"
mkdir -p "$out/obj" "$out/seed" "$out/corpus" "$out/tablefile-seed" "$out/tablefile-corpus"

flags=(-std=c++20 -g -O1 -fPIC -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
       -I"$root/src")
platform_sources=(src/platform/Clock.cpp src/platform/CodePagePosix.cpp src/platform/Dialogs.cpp
  src/platform/EventPump.cpp src/platform/EventThrottle.cpp src/platform/FileSystem.cpp
  src/platform/FileSystemPosix.cpp src/platform/TraceSink.cpp)
archive_sources=(
  src/archive/ArchiveErrors.cpp src/archive/ArchiveReader.cpp src/archive/Crc32.cpp
  src/archive/DosDateTime.cpp src/archive/FileIo.cpp src/archive/FileIoPosix.cpp src/archive/ReadAhead.cpp src/archive/TEndCentral.cpp
  src/archive/TSortedZip.cpp src/archive/TZipHeaderInfo.cpp src/archive/ZipCrypto.cpp src/archive/ZipInput.cpp
  tests/archive/fuzz/ReaderFuzzer.cpp)
tablefile_sources=(
  src/db/FieldType.cpp src/db/TableFileFormat.cpp src/db/TableFileInput.cpp src/db/TableFileReader.cpp
  src/db/TableFileTokenizer.cpp src/db/TableFileWriter.cpp
  tests/db/fuzz/TableFileReaderFuzzer.cpp)

# Compiles the sources that changed since their object (or when any header did); the objects go to
# the array `objects`.
compile() {
  local s o
  objects=()
  for s in "$@"; do
    o="$out/obj/$(echo "$s" | tr '/' '_').o"
    if [ ! -f "$o" ] || [ "$s" -nt "$o" ] || [ -n "$(find src -name '*.h' -newer "$o" -print -quit)" ]; then
      "$cxx" "${flags[@]}" -c "$s" -o "$o"
    fi
    objects+=("$o")
  done
}
compile "${platform_sources[@]}"
platform_objects=("${objects[@]}")
compile "${archive_sources[@]}"
"$cxx" -fsanitize=fuzzer,address,undefined "${platform_objects[@]}" "${objects[@]}" -o "$out/reader_fuzzer" -lz
compile "${tablefile_sources[@]}"
"$cxx" -fsanitize=fuzzer,address,undefined "${platform_objects[@]}" "${objects[@]}" -o "$out/tablefile_fuzzer"

# Seed corpus of the archive reader: small archives of the kinds it meets.
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
# Seed corpus of the TableFile reader: the fixtures (ADO's layouts, UTF-16, pending changes).
cp "$root"/tests/data/tablefiles/*.xml "$out/tablefile-seed/"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
cd "$out"
share=$(( seconds / 2 > 0 ? seconds / 2 : 1 ))
status=0
./reader_fuzzer -max_total_time="$share" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
  -print_final_stats=1 corpus seed || status=1
./tablefile_fuzzer -max_total_time="$share" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
  -dict="$root/tests/db/fuzz/TableFile.dict" -print_final_stats=1 tablefile-corpus tablefile-seed || status=1
exit $status
