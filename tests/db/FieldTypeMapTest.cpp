// The way from an ODBC column type through the ADO type to the field type, for the types the
// stand-in cannot produce as well as the ones it can.

#include <gtest/gtest.h>

#include "db/FieldTypeMap.h"
#include "db/OdbcApi.h"
#include "db/OdbcText.h"

using namespace db;

TEST(FieldTypeMap, OdbcTypesReachTheirFieldTypes) {
  struct Case {
    short sql;
    std::int64_t size;
    int precision, scale;
    TFieldType expected;
  };
  const Case cases[] = {
      {SQL_INTEGER, 10, 0, 0, TFieldType::ftInteger},      {SQL_SMALLINT, 5, 0, 0, TFieldType::ftSmallint},
      {SQL_TINYINT, 3, 0, 0, TFieldType::ftSmallint},      {SQL_BIGINT, 19, 0, 0, TFieldType::ftLargeint},
      {SQL_BIT, 1, 0, 0, TFieldType::ftBoolean},           {SQL_DOUBLE, 15, 0, 0, TFieldType::ftFloat},
      {SQL_FLOAT, 15, 0, 0, TFieldType::ftFloat},          {SQL_REAL, 7, 0, 0, TFieldType::ftSingle},
      {SQL_NUMERIC, 9, 9, 0, TFieldType::ftInteger},       {SQL_NUMERIC, 10, 10, 0, TFieldType::ftBCD},
      {SQL_NUMERIC, 1, 1, 0, TFieldType::ftInteger},       {SQL_NUMERIC, 9, 9, 2, TFieldType::ftBCD},
      {SQL_DECIMAL, 5, 5, 0, TFieldType::ftInteger},       {SQL_DECIMAL, 18, 18, 2, TFieldType::ftBCD},
      {SQL_TYPE_TIMESTAMP, 26, 0, 6, TFieldType::ftDateTime}, {SQL_TYPE_DATE, 10, 0, 0, TFieldType::ftDate},
      {SQL_TYPE_TIME, 8, 0, 0, TFieldType::ftTime},        {SQL_VARCHAR, 50, 0, 0, TFieldType::ftString},
      {SQL_CHAR, 6, 0, 0, TFieldType::ftFixedChar},        {SQL_WVARCHAR, 50, 0, 0, TFieldType::ftWideString},
      {SQL_WCHAR, 1, 0, 0, TFieldType::ftWideString},   {SQL_LONGVARCHAR, 8190, 0, 0, TFieldType::ftMemo},
      {SQL_WLONGVARCHAR, 8190, 0, 0, TFieldType::ftWideMemo}, {SQL_BINARY, 16, 0, 0, TFieldType::ftBytes},
      {SQL_VARBINARY, 255, 0, 0, TFieldType::ftVarBytes},  {SQL_LONGVARBINARY, 0, 0, 0, TFieldType::ftBlob},
      {SQL_GUID, 36, 0, 0, TFieldType::ftGuid},
      // Long data that a driver describes as variable with an unknown or huge size.
      {SQL_VARBINARY, 0, 0, 0, TFieldType::ftBlob},        {SQL_VARBINARY, 1073741823, 0, 0, TFieldType::ftBlob},
      {SQL_WVARCHAR, 0, 0, 0, TFieldType::ftWideMemo},     {SQL_VARCHAR, 100000, 0, 0, TFieldType::ftMemo},
      // Anything else is kept as text rather than dropped.
      {SQL_INTERVAL_DAY, 10, 0, 0, TFieldType::ftWideString}};
  for (const Case& c : cases) {
    const TFieldType got = FieldTypeForAdo(AdoTypeForSql(c.sql, c.size), c.precision, c.scale);
    EXPECT_STREQ(FieldTypeName(got), FieldTypeName(c.expected)) << "SQL type " << c.sql << " size " << c.size;
  }
  EXPECT_EQ(FieldTypeForAdo(AdoType::adInteger, 10, 0, true), TFieldType::ftAutoInc);
  EXPECT_EQ(FieldTypeForAdo(AdoType::adCurrency, 19, 4), TFieldType::ftBCD);
  EXPECT_EQ(FieldTypeForAdo(AdoType::adDate, 0, 0), TFieldType::ftDateTime);
  EXPECT_EQ(FieldTypeForAdo(AdoType::adBSTR, 0, 0), TFieldType::ftWideString);
}

TEST(OdbcText, Utf16RoundTripKeepsCharactersOutsideTheBasicPlane) {
  for (const std::string text : {"", "ascii", "单元格", "😀𠀀 mixed ü", "\t\r\n"}) {
    const std::u16string wide = Utf8ToUtf16(text);
    EXPECT_EQ(Utf16ToUtf8(wide), text);
  }
  EXPECT_EQ(Utf8ToUtf16("😀").size(), 2u);
  for (const std::string bad : {"\xff", "\xc3", "\xe5\x8d", "\xed\xa0\x80", "\xc0\xaf"})
    EXPECT_THROW(Utf8ToUtf16(bad), std::invalid_argument) << bad;
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xef\xbf\xbd");
}
