// libFuzzer target: any byte string as a TableFile, as a restore meets it inside an archive: the
// schema check, then the load and a walk over every row, twice. Whatever loads must also come
// back unchanged through the writer. A crash, a sanitizer report, an exception other than a
// table-file error, a row count that does not match the rows served, or a difference after
// writing stops the run.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "db/DbRowSource.h"
#include "db/TableFileError.h"
#include "db/TableFileReader.h"
#include "db/TableFileWriter.h"

namespace {

struct Scratch {
  std::string root;
  Scratch() {
    const char* base = std::getenv("DM_FUZZ_DIR");
    std::string tmpl = std::string(base ? base : (std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp")) + "/dmfuzz-XXXXXX";
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    root = tmpl;
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
};

std::vector<db::DbRow> ReadAllRows(db::TableFileReader& reader) {
  std::vector<db::DbRow> rows;
  db::DbRow row;
  while (reader.Fetch(row)) {
    for (std::size_t i = 0; i < row.values.size(); ++i)
      if (row.nulls[i]) row.values[i].clear();
    rows.push_back(row);
  }
  if (static_cast<std::int64_t>(rows.size()) != reader.RowCount()) {
    std::fprintf(stderr, "RowCount %lld, rows served %zu\n", static_cast<long long>(reader.RowCount()), rows.size());
    std::abort();
  }
  return rows;
}

bool SameRows(const std::vector<db::DbRow>& a, const std::vector<db::DbRow>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t r = 0; r < a.size(); ++r)
    if (a[r].values != b[r].values || a[r].nulls != b[r].nulls) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Scratch scratch;
  const std::string input = scratch.root + "/input.xml";
  const std::string copy = scratch.root + "/copy.xml";
  {
    std::ofstream out(input, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  try {
    db::ReadTableFileSchema(input);
  } catch (const db::ETableFileError&) {
  }
  std::vector<db::DbColumn> columns;
  std::vector<db::DbRow> rows;
  try {
    db::TableFileReader reader(input);
    columns = reader.Columns();
    rows = ReadAllRows(reader);
    reader.Restart();
    if (!SameRows(ReadAllRows(reader), rows)) {
      std::fprintf(stderr, "a second walk served other rows\n");
      std::abort();
    }
  } catch (const db::ETableFileError&) {
    return 0;
  }
  // What was read is written and read back: the same names and the same characters.
  {
    db::TableFileWriter writer(copy, columns);
    for (const auto& row : rows) writer.WriteRow(row);
    writer.Finish();
  }
  db::TableFileReader again(copy);
  bool same = again.Columns().size() == columns.size() && SameRows(ReadAllRows(again), rows);
  for (std::size_t i = 0; same && i < columns.size(); ++i) same = again.Columns()[i].name == columns[i].name;
  if (!same) {
    std::fprintf(stderr, "the written copy reads back differently\n");
    std::abort();
  }
  return 0;
}
