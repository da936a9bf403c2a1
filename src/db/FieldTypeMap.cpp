#include "db/FieldTypeMap.h"

#include "db/OdbcApi.h"

namespace db {

AdoType AdoTypeForSql(short sqlType, std::int64_t columnSize) {
  // A variable column whose size is unknown or beyond the short-column limit is long data: this
  // is how psqlODBC describes bytea (SQL_VARBINARY without a useful size), and it must be a blob.
  const bool unbounded = columnSize <= 0 || columnSize > kMaxShortColumnSize;
  switch (sqlType) {
    case SQL_BIT: return AdoType::adBoolean;
    case SQL_TINYINT: return AdoType::adTinyInt;
    case SQL_SMALLINT: return AdoType::adSmallInt;
    case SQL_INTEGER: return AdoType::adInteger;
    case SQL_BIGINT: return AdoType::adBigInt;
    case SQL_REAL: return AdoType::adSingle;
    case SQL_FLOAT:
    case SQL_DOUBLE: return AdoType::adDouble;
    case SQL_NUMERIC: return AdoType::adNumeric;
    case SQL_DECIMAL: return AdoType::adNumeric;
    case SQL_TYPE_DATE:
    case SQL_DATE: return AdoType::adDBDate;
    case SQL_TYPE_TIME:
    case SQL_TIME: return AdoType::adDBTime;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP: return AdoType::adDBTimeStamp;
    case SQL_CHAR: return AdoType::adChar;
    case SQL_VARCHAR: return unbounded ? AdoType::adLongVarChar : AdoType::adVarChar;
    case SQL_LONGVARCHAR: return AdoType::adLongVarChar;
    case SQL_WCHAR: return AdoType::adWChar;
    case SQL_WVARCHAR: return unbounded ? AdoType::adLongVarWChar : AdoType::adVarWChar;
    case SQL_WLONGVARCHAR: return AdoType::adLongVarWChar;
    case SQL_BINARY: return AdoType::adBinary;
    case SQL_VARBINARY: return unbounded ? AdoType::adLongVarBinary : AdoType::adVarBinary;
    case SQL_LONGVARBINARY: return AdoType::adLongVarBinary;
    case SQL_GUID: return AdoType::adGUID;
    default:
      // Intervals and driver-specific types: kept as text rather than dropped, so no column of a
      // backup is lost.
      return AdoType::adVarWChar;
  }
}

TFieldType FieldTypeForAdo(AdoType type, int precision, int scale, bool autoIncrement) {
  switch (type) {
    case AdoType::adInteger:
    case AdoType::adError:
    case AdoType::adUnsignedInt:
      return autoIncrement ? TFieldType::ftAutoInc : TFieldType::ftInteger;
    case AdoType::adNumeric:
      if (scale == 0 && precision > 0 && precision < 10) return autoIncrement ? TFieldType::ftAutoInc : TFieldType::ftInteger;
      return TFieldType::ftBCD;
    case AdoType::adDecimal:
    case AdoType::adVarNumeric:
    case AdoType::adCurrency: return TFieldType::ftBCD;
    case AdoType::adBinary: return TFieldType::ftBytes;
    case AdoType::adVarBinary: return TFieldType::ftVarBytes;
    case AdoType::adLongVarBinary: return TFieldType::ftBlob;
    case AdoType::adDate:
    case AdoType::adDBTimeStamp:
    case AdoType::adFileTime: return TFieldType::ftDateTime;
    case AdoType::adDBDate: return TFieldType::ftDate;
    case AdoType::adDBTime: return TFieldType::ftTime;
    case AdoType::adVarChar: return TFieldType::ftString;
    case AdoType::adChar: return TFieldType::ftFixedChar;
    case AdoType::adVarWChar:
    case AdoType::adWChar:  // wide text, fixed length or not, is one field type
    case AdoType::adBSTR: return TFieldType::ftWideString;
    case AdoType::adLongVarChar: return TFieldType::ftMemo;
    case AdoType::adLongVarWChar: return TFieldType::ftWideMemo;
    case AdoType::adSmallInt:
    case AdoType::adTinyInt: return TFieldType::ftSmallint;
    case AdoType::adUnsignedTinyInt:
    case AdoType::adUnsignedSmallInt: return TFieldType::ftWord;
    case AdoType::adBigInt:
    case AdoType::adUnsignedBigInt: return TFieldType::ftLargeint;
    case AdoType::adBoolean: return TFieldType::ftBoolean;
    case AdoType::adDouble: return TFieldType::ftFloat;
    // A single-precision column keeps its own field type, so its shortest text is that of a float
    // and not the longer one of the double the value widens to.
    case AdoType::adSingle: return TFieldType::ftSingle;
    case AdoType::adGUID: return TFieldType::ftGuid;
    case AdoType::adEmpty: break;
  }
  return TFieldType::ftUnknown;
}

}  // namespace db
