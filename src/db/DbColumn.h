#pragma once
// What is known about one column of a result set: enough to map it to a field type and to write
// the column's description into a TableFile and read it back.

#include <cstdint>
#include <string>

#include "db/FieldType.h"

namespace db {

struct DbColumn {
  std::string name;
  TFieldType type = TFieldType::ftUnknown;
  // Characters for text, bytes for binary, digits for numbers (0 when unknown).
  std::int64_t size = 0;
  int precision = 0;
  int scale = 0;
  bool nullable = true;
};

}  // namespace db
