#pragma once
// Reads a TableFile as a row source, as ADO reads it: values keep every character as it stands in
// the file (TAB, CR and LF included), the file may be UTF-8 or UTF-16, and a recordset saved
// with pending changes shows its updated rows with their current values, then its unchanged
// rows (among them an update that holds only its original), then its inserted rows (deleted rows
// are not shown). Opening reads the whole file once
// to check it and count its rows, so that a malformed or truncated file fails before any row is
// served and RecordCount is known; the rows are then read again, one at a time, as they are
// walked. Failures name the file, the line and the column.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/DbRowSource.h"

namespace db {

// The columns of a TableFile as its schema describes them, without reading its rows: a quick
// check that a file will load and what it will insert into. Raises ETableFileError.
std::vector<DbColumn> ReadTableFileSchema(const std::string& path);

class TableFileReader : public DbRowSource {
 public:
  // Raises ETableFileError for a missing, unreadable, malformed, truncated or foreign file.
  explicit TableFileReader(const std::string& path);
  ~TableFileReader() override;

  const std::vector<DbColumn>& Columns() const override;
  bool Fetch(DbRow& row) override;
  void Restart() override;
  std::int64_t RowCount() const override;
  // Unpaired surrogates of a UTF-16 file, which have no UTF-8 form: each is read as U+FFFD, as
  // for text read from the database.
  std::int64_t ReplacedCharacters() const;

 private:
  friend std::vector<DbColumn> ReadTableFileSchema(const std::string& path);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace db
