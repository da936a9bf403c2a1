#!/usr/bin/env bash
# Interoperability of the Windows dmptool.exe (run under Wine) with the Linux dmptool and the
# other ZIP tools, both ways, on one folder of files that includes a Chinese (GBK) name, an empty
# file, a compressible TableFile and an incompressible one, all packed with a password:
#   - an archive packed by dmptool.exe is verified and extracted by the Linux dmptool, Info-ZIP
#     unzip -P, 7z and python3's zipfile;
#   - archives packed by the Linux dmptool, Info-ZIP zip -P and 7z are verified and extracted by
#     dmptool.exe.
# Every extracted file is compared byte for byte with its source. Prints one line per check and
# a summary line; exits non-zero when a check failed. scripts/test-windows.sh runs it in its Wine
# prefix; it needs build/bin/dmptool (scripts/build.sh) and build-windows/bin/dmptool.exe.
set -uo pipefail
cd "$(dirname "$0")/.."
linux="$PWD/build/bin/dmptool"
windows="$PWD/build-windows/bin/dmptool.exe"
for tool in "$linux" "$windows"; do
  [ -x "$tool" ] || { echo "interop: $tool is missing (build it first)"; exit 2; }
done
export WINEDEBUG=-all LC_ALL=C.UTF-8

work="$(mktemp -d "$PWD/build-windows/interop.XXXXXX")"
trap 'rm -rf "$work"' EXIT
password='Back-up 42#'
src="$work/src"
mkdir -p "$src/sub"
python3 - "$src" <<'PY'
import os, random, sys
src = sys.argv[1]
rows = "".join(f"<z:row ID='{i}' NAME='item{i % 977}' AMOUNT='{i * 37 % 10007}.25'/>\n" for i in range(6000))
open(os.path.join(src, "B01REPORT.xml"), "w").write(rows)
open(os.path.join(src, "报表数据.xml"), "w", encoding="utf-8").write("<z:row 名称='统计报表'/>\n" * 500)
open(os.path.join(src, "EMPTY.xml"), "w").close()
open(os.path.join(src, "sub", "random.bin"), "wb").write(random.Random(7).randbytes(700000))
PY

# Windows' name for a file of this machine (drive Z: maps the root).
win() { winepath -w "$1"; }

passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...: one line, ok or FAIL with the command's output
  local what="$1" out
  shift
  if out="$("$@" 2>&1)"; then
    passed=$((passed + 1))
    echo "  ok   $what"
  else
    failed=$((failed + 1))
    echo "  FAIL $what"
    printf '%s\n' "$out" | tail -5 | sed 's/^/         /'
  fi
}

# Every source file is found, under its own base name, somewhere below the extraction folder
# and holds the same bytes. Names written by tools that take the stored bytes as they are (GBK
# from Windows) are read as UTF-8 or else as GBK. With "oem", a non-ASCII name may have become
# another non-ASCII name (Info-ZIP unzip reads the names of archives made on Windows in the DOS
# code page 437): the file is then found by its bytes among the other non-ASCII names.
same_files() {
  python3 - "$src" "$1" "${2:-}" <<'PY'
import os, sys
src, out, oem = sys.argv[1].encode(), sys.argv[2].encode(), sys.argv[3] == "oem"
def name(raw):
    for encoding in ("utf-8", "gbk"):
        try:
            return raw.decode(encoding)
        except UnicodeDecodeError:
            pass
    return raw.decode("latin-1")
found = {}
for folder, _, files in os.walk(out):
    for f in files:
        found[name(f)] = open(os.path.join(folder, f), "rb").read()
problems = []
for folder, _, files in os.walk(src):
    for f in files:
        data = open(os.path.join(folder, f), "rb").read()
        if found.get(name(f)) == data:
            continue
        if oem and not f.isascii() and any(not n.isascii() and d == data for n, d in found.items()):
            continue
        problems.append(name(f))
if problems:
    sys.exit("differ or missing: " + ", ".join(problems))
PY
}

extract_with() {  # extract_with FOLDER COMMAND...: runs the command inside a fresh FOLDER
  local dir="$1"
  shift
  rm -rf "$dir" && mkdir -p "$dir" && (cd "$dir" && "$@")
}

python_reads() {  # python3's zipfile reads every entry (GBK names unless flagged UTF-8)
  python3 - "$1" "$password" "$2" <<'PY'
import os, sys, zipfile
archive, password, out = sys.argv[1], sys.argv[2].encode(), sys.argv[3]
with zipfile.ZipFile(archive, metadata_encoding="gbk") as z:
    for info in z.infolist():
        if info.is_dir():
            continue
        target = os.path.join(out, os.path.basename(info.filename))
        os.makedirs(out, exist_ok=True)
        open(target, "wb").write(z.read(info, pwd=password))
PY
}

# The checks that take several steps run in a child shell, which gets these.
export src password linux windows work
export -f same_files extract_with python_reads win

echo "interop: dmptool.exe under Wine and the Linux tools"
# Windows packs: a Windows path with drive letter and '\' separators.
check "dmptool.exe packs the folder" wine "$windows" --password "$password" pack "$(win "$src")" "$(win "$work/win.zip")"
check "Linux dmptool verifies it" "$linux" --password "$password" verify "$work/win.zip"
check "Linux dmptool extracts it, same bytes" \
  bash -c '"$linux" --password "$password" extract "$work/win.zip" "$work/o1" >/dev/null && same_files "$work/o1"'
check "unzip -t -P verifies it" unzip -t -P "$password" "$work/win.zip"
check "unzip -P extracts it, same bytes (its name of the GBK file through code page 437)" \
  bash -c 'extract_with "$work/o2" unzip -q -P "$password" "$work/win.zip" && same_files "$work/o2" oem'
check "7z t verifies it" 7z t -p"$password" "$work/win.zip"
check "7z x extracts it, same bytes" \
  bash -c 'extract_with "$work/o3" 7z x -y -p"$password" "$work/win.zip" && same_files "$work/o3"'
check "python3 zipfile reads it, same bytes" \
  bash -c 'python_reads "$work/win.zip" "$work/o4" && same_files "$work/o4"'

# Linux packs, Windows reads.
"$linux" --password "$password" pack "$src" "$work/linux.zip" >/dev/null
(cd "$src" && zip -q -r -P "$password" "$work/infozip.zip" .)
(cd "$src" && 7z a -tzip -p"$password" "$work/7z.zip" . >/dev/null)
for made in linux infozip 7z; do
  check "dmptool.exe verifies the $made archive" wine "$windows" --password "$password" verify "$(win "$work/$made.zip")"
  check "dmptool.exe extracts the $made archive, same bytes" \
    bash -c 'wine "$windows" --password "$password" extract "$(win "$work/$1.zip")" "$(win "$work/w-$1")" >/dev/null &&
             same_files "$work/w-$1"' - "$made"
done

echo "interop: $passed of $((passed + failed)) checks passed"
[ "$failed" = 0 ]
