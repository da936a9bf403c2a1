#pragma once
// The field types a result set's columns carry, with the names the import and the TableFile use.

namespace db {

enum class TFieldType {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftGuid,
  ftTimeStamp,
  ftFMTBcd,
  ftFixedWideChar,
  ftWideMemo,
  ftSingle
};

// "ftInteger", "ftBlob", ...; "ftUnknown" for values outside the enumeration.
const char* FieldTypeName(TFieldType type);

// Field types whose values are raw bytes (AsString hands the bytes over one by one).
bool IsBinaryField(TFieldType type);

}  // namespace db
