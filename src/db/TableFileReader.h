#pragma once
// Reads a TableFile as a row source. Opening reads the whole file once to check it and count its
// rows, so that a malformed or truncated file fails before any row is served and RecordCount is
// known; the rows are then read again, one at a time, as they are walked.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/DbRowSource.h"

namespace db {

class TableFileReader : public DbRowSource {
 public:
  // Raises ETableFileError for a missing, unreadable, malformed, truncated or foreign file.
  explicit TableFileReader(const std::string& path);
  ~TableFileReader() override;

  const std::vector<DbColumn>& Columns() const override;
  bool Fetch(DbRow& row) override;
  void Restart() override;
  std::int64_t RowCount() const override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace db
