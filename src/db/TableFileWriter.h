#pragma once
// Writes a result set as a TableFile, row by row: the schema first, then one z:row per row.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/DbColumn.h"

namespace db {

struct DbRow;

class TableFileWriter {
 public:
  // Creates (truncates) the file and writes the schema. Raises ETableFileError.
  TableFileWriter(const std::string& path, const std::vector<DbColumn>& columns);
  // Without Finish the file is incomplete; it is removed then.
  ~TableFileWriter();
  TableFileWriter(const TableFileWriter&) = delete;
  TableFileWriter& operator=(const TableFileWriter&) = delete;

  void WriteRow(const DbRow& row);
  // Closes the document and the file; raises ETableFileError when anything could not be written.
  void Finish();

  // The attribute name each column's values are written under: the column name when it is a
  // plain XML name not taken by another column, otherwise "c<index>" (made unique).
  static std::vector<std::string> AttributeNames(const std::vector<DbColumn>& columns);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace db
