#pragma once
// Where the rows of an open query come from: a database cursor or a TableFile. Both are walked
// forward, one row at a time, so memory does not grow with the number of rows.

#include <cstdint>
#include <string>
#include <vector>

#include "db/DbColumn.h"

namespace db {

// One row in the AsString form of its columns; binary values as raw bytes.
struct DbRow {
  std::vector<std::string> values;
  std::vector<unsigned char> nulls;  // 1 = NULL

  void Reset(std::size_t columns) {
    values.resize(columns);
    nulls.assign(columns, 1);
  }
};

class DbRowSource {
 public:
  virtual ~DbRowSource() = default;

  virtual const std::vector<DbColumn>& Columns() const = 0;
  // Reads the next row into `row`; false at the end.
  virtual bool Fetch(DbRow& row) = 0;
  // Positions before the first row again.
  virtual void Restart() = 0;
  // Number of rows, or -1 when it is not known without reading them all.
  virtual std::int64_t RowCount() const = 0;
};

}  // namespace db
