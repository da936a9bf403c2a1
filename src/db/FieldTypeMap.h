#pragma once
// How a database column gets its field type: the ODBC SQL type is first named by the ADO column
// type it corresponds to, and the ADO type then gives the field type, as the data-access layer the
// program was designed for does it.

#include <cstdint>

#include "db/FieldType.h"

namespace db {

// ADO DataTypeEnum values (the ones an ODBC result can produce).
enum class AdoType : int {
  adEmpty = 0, adSmallInt = 2, adInteger = 3, adSingle = 4, adDouble = 5, adCurrency = 6, adDate = 7,
  adBSTR = 8, adError = 10, adBoolean = 11, adDecimal = 14, adTinyInt = 16, adUnsignedTinyInt = 17,
  adUnsignedSmallInt = 18, adUnsignedInt = 19, adBigInt = 20, adUnsignedBigInt = 21, adFileTime = 64,
  adGUID = 72, adBinary = 128, adChar = 129, adWChar = 130, adNumeric = 131, adDBDate = 133,
  adDBTime = 134, adDBTimeStamp = 135, adVarNumeric = 139, adVarChar = 200, adLongVarChar = 201,
  adVarWChar = 202, adLongVarWChar = 203, adVarBinary = 204, adLongVarBinary = 205
};

// Columns wider than this are long data (memo / blob), as with the provider's 8000-character limit.
constexpr std::int64_t kMaxShortColumnSize = 8000;

// The ADO type for an ODBC SQL type (SQL_INTEGER, SQL_WVARCHAR, ...). `columnSize` is the ODBC
// column size (0 when the driver does not know it).
AdoType AdoTypeForSql(short sqlType, std::int64_t columnSize);

// The field type for an ADO type. NUMERIC with scale 0 and precision below 10 is an integer.
TFieldType FieldTypeForAdo(AdoType type, int precision, int scale, bool autoIncrement = false);

}  // namespace db
