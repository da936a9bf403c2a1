#include "db/OdbcResultSet.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "db/DbConnection.h"
#include "db/DbError.h"
#include "db/FieldTypeMap.h"
#include "db/OdbcApi.h"
#include "db/OdbcText.h"

namespace db {

namespace {

constexpr OdbcHandle::Kind kStmt = OdbcHandle::kStmt;

template <typename Float>
void AppendFloat(Float v, std::string& out) {
  if (std::isnan(v)) { out = "NaN"; return; }
  if (std::isinf(v)) { out = v > 0 ? "Infinity" : "-Infinity"; return; }
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v);  // shortest text that reads back exactly
  out.assign(buf, res.ptr);
}

void Put2(char* p, unsigned v) {
  p[0] = static_cast<char>('0' + (v / 10) % 10);
  p[1] = static_cast<char>('0' + v % 10);
}

// "yyyy-MM-dd"
void AppendDate(int year, unsigned month, unsigned day, std::string& out) {
  char buf[16];
  int n = std::snprintf(buf, sizeof buf, "%04d-", year);
  Put2(buf + n, month);
  buf[n + 2] = '-';
  Put2(buf + n + 3, day);
  out.append(buf, static_cast<std::size_t>(n) + 5);
}

// " hh:mm:ss[.fraction]" with the fraction's trailing zeros dropped
void AppendTime(unsigned h, unsigned m, unsigned s, unsigned long nanos, std::string& out) {
  char buf[24];
  buf[0] = ' ';
  Put2(buf + 1, h);
  buf[3] = ':';
  Put2(buf + 4, m);
  buf[6] = ':';
  Put2(buf + 7, s);
  std::size_t len = 9;
  if (nanos > 0 && nanos < 1000000000UL) {
    buf[len++] = '.';
    unsigned long div = 100000000UL;
    while (nanos > 0) {
      buf[len++] = static_cast<char>('0' + nanos / div);
      nanos %= div;
      div /= 10;
    }
  }
  out.append(buf, len);
}

}  // namespace


namespace {

// A new statement on the connection with the command time-out, and the text run on it.
OdbcHandle ExecDirect(TDbConnection& connection, std::u16string& text) {
  OdbcHandle stmt(kStmt, connection.NativeHandle());
  void* h = stmt.get();
  // A driver without query time-outs keeps working without one.
  SQLSetStmtAttrW(h, SQL_ATTR_QUERY_TIMEOUT,
                  reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(connection.CommandTimeout > 0 ? connection.CommandTimeout : 0)),
                  SQL_IS_UINTEGER);
  SQLRETURN rc = SQLExecDirectW(h, reinterpret_cast<SQLWCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size()));
  OdbcCheck(rc, kStmt, h, "SQLExecDirect", true);
  return stmt;
}

std::u16string CommandToUtf16(const std::string& text) {
  try {
    return Utf8ToUtf16(text);
  } catch (const std::exception&) {
    throw EDatabaseError("The command text is not valid UTF-8 text");
  }
}

}  // namespace

OdbcResultSet::OdbcResultSet(TDbConnection& connection, const std::string& text) : connection_(connection) {
  text_ = CommandToUtf16(text);
  Run();
  Describe();
}

OdbcResultSet::~OdbcResultSet() {
  if (session_.expired()) stmt_.release();
}

void* OdbcResultSet::Statement() const {
  if (session_.expired()) throw EDatabaseError("Operation is not allowed when the connection is closed");
  return stmt_.get();
}

void OdbcResultSet::Run() {
  finished_ = false;
  if (session_.expired()) stmt_.release();
  stmt_.reset();
  session_ = connection_.Session();
  stmt_ = ExecDirect(connection_, text_);
  void* h = stmt_.get();
  SQLSMALLINT count = 0;
  OdbcCheck(SQLNumResultCols(h, &count), kStmt, h, "SQLNumResultCols");
  // In a batch the rows come from the first statement that produces any.
  while (count == 0) {
    SQLRETURN rc = SQLMoreResults(h);
    if (OdbcCheck(rc, kStmt, h, "SQLMoreResults", true) == SQL_NO_DATA) break;
    OdbcCheck(SQLNumResultCols(h, &count), kStmt, h, "SQLNumResultCols");
  }
}

void OdbcResultSet::Describe() {
  void* h = Statement();
  SQLSMALLINT count = 0;
  OdbcCheck(SQLNumResultCols(h, &count), kStmt, h, "SQLNumResultCols");
  columns_.clear();
  fetchers_.clear();
  std::u16string name(256, u'\0');
  for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
    SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    for (;;) {
      OdbcCheck(SQLDescribeColW(h, i, reinterpret_cast<SQLWCHAR*>(name.data()), static_cast<SQLSMALLINT>(name.size()),
                                &nameLength, &sqlType, &size, &digits, &nullable),
                kStmt, h, "SQLDescribeCol");
      if (static_cast<std::size_t>(nameLength) < name.size()) break;
      name.resize(static_cast<std::size_t>(nameLength) + 1);
    }
    DbColumn c;
    c.name = Utf16ToUtf8(std::u16string_view(name.data(), static_cast<std::size_t>(nameLength)));
    c.nullable = nullable != SQL_NO_NULLS;
    c.size = static_cast<std::int64_t>(size > static_cast<SQLULEN>(INT64_MAX) ? 0 : size);
    bool autoIncrement = false;
    if (sqlType == SQL_INTEGER || sqlType == SQL_NUMERIC || sqlType == SQL_DECIMAL) {
      SQLLEN flag = SQL_FALSE;
      if (SQL_SUCCEEDED(SQLColAttributeW(h, i, SQL_DESC_AUTO_UNIQUE_VALUE, nullptr, 0, nullptr, &flag)))
        autoIncrement = flag == SQL_TRUE;
    }
    const AdoType ado = AdoTypeForSql(sqlType, c.size);
    if (sqlType == SQL_NUMERIC || sqlType == SQL_DECIMAL) {
      c.precision = static_cast<int>(size);
      c.scale = digits;
    } else if (sqlType == SQL_TYPE_TIMESTAMP || sqlType == SQL_TYPE_TIME) {
      c.scale = digits;
    }
    c.type = FieldTypeForAdo(ado, c.precision, c.scale, autoIncrement);

    Fetcher f = Fetcher::Wide;
    switch (c.type) {
      case TFieldType::ftSmallint:
      case TFieldType::ftInteger:
      case TFieldType::ftWord:
      case TFieldType::ftAutoInc:
      case TFieldType::ftLargeint: f = Fetcher::Integer; break;
      case TFieldType::ftBoolean: f = Fetcher::Bit; break;
      case TFieldType::ftFloat: f = Fetcher::Double; break;
      case TFieldType::ftSingle: f = Fetcher::Real; break;
      case TFieldType::ftBCD:
      case TFieldType::ftFMTBcd:
      case TFieldType::ftCurrency:
      case TFieldType::ftGuid:
      case TFieldType::ftTime: f = Fetcher::Ascii; break;
      case TFieldType::ftBytes:
      case TFieldType::ftVarBytes:
      case TFieldType::ftBlob: f = Fetcher::Binary; break;
      case TFieldType::ftDate: f = Fetcher::Date; break;
      case TFieldType::ftDateTime:
      case TFieldType::ftTimeStamp: f = Fetcher::Timestamp; break;
      default: f = Fetcher::Wide; break;
    }
    columns_.push_back(std::move(c));
    fetchers_.push_back(f);
  }
}

void OdbcResultSet::Restart() {
  Run();
  Describe();
}

bool OdbcResultSet::Fetch(DbRow& row) {
  if (columns_.empty() || finished_) return false;
  void* h = Statement();
  SQLRETURN rc = SQLFetch(h);
  if (OdbcCheck(rc, kStmt, h, "SQLFetch", true) == SQL_NO_DATA) {
    // Close the cursor at once: a driver that reads through a server-side cursor holds a
    // transaction open for it, which must not outlive the rows.
    SQLFreeStmt(h, SQL_CLOSE);
    finished_ = true;
    return false;
  }
  if (row.values.size() != columns_.size()) row.Reset(columns_.size());
  for (std::size_t i = 0; i < columns_.size(); ++i) ReadColumn(i, row);
  return true;
}

template <typename Buffer>
static bool ReadInParts(void* h, SQLUSMALLINT col, SQLSMALLINT cType, Buffer& buffer) {
  using Unit = typename Buffer::value_type;
  const std::size_t terminator = cType == SQL_C_BINARY ? 0 : 1;  // in units
  buffer.clear();
  std::size_t chunk = 256;  // units
  for (;;) {
    const std::size_t old = buffer.size();
    buffer.resize(old + chunk);
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(h, col, cType, buffer.data() + old, static_cast<SQLLEN>(chunk * sizeof(Unit)), &indicator);
    if (rc == SQL_NO_DATA) {  // every part was read already
      buffer.resize(old);
      return true;
    }
    OdbcCheck(rc, kStmt, h, "SQLGetData");
    if (indicator == SQL_NULL_DATA) {
      buffer.clear();
      return false;
    }
    const std::size_t room = chunk - terminator;
    const bool truncated = rc == SQL_SUCCESS_WITH_INFO &&
                           (indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) / sizeof(Unit) > room);
    if (!truncated) {
      buffer.resize(old + static_cast<std::size_t>(indicator) / sizeof(Unit));
      return true;
    }
    // A driver may stop short of the room (not to split a character); the terminator tells.
    std::size_t filled = room;
    if (terminator) {
      filled = 0;
      while (filled < room && buffer[old + filled] != Unit{0}) ++filled;
    }
    buffer.resize(old + filled);
    if (indicator != SQL_NO_TOTAL) {
      chunk = static_cast<std::size_t>(indicator) / sizeof(Unit) - filled + terminator;
    } else {
      chunk = std::max<std::size_t>(chunk * 2, 4096);
    }
  }
}

void OdbcResultSet::ReadColumn(std::size_t i, DbRow& row) {
  void* h = stmt_.get();
  const auto col = static_cast<SQLUSMALLINT>(i + 1);
  std::string& out = row.values[i];
  unsigned char& isNull = row.nulls[i];
  SQLLEN indicator = 0;
  out.clear();
  switch (fetchers_[i]) {
    case Fetcher::Integer: {
      SQLBIGINT v = 0;
      OdbcCheck(SQLGetData(h, col, SQL_C_SBIGINT, &v, 0, &indicator), kStmt, h, "SQLGetData");
      if ((isNull = indicator == SQL_NULL_DATA)) return;
      char buf[24];
      auto res = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(v));
      out.assign(buf, res.ptr);
      return;
    }
    case Fetcher::Bit: {
      unsigned char v = 0;
      OdbcCheck(SQLGetData(h, col, SQL_C_BIT, &v, 0, &indicator), kStmt, h, "SQLGetData");
      if ((isNull = indicator == SQL_NULL_DATA)) return;
      out = v ? "True" : "False";
      return;
    }
    case Fetcher::Double: {
      double v = 0;
      OdbcCheck(SQLGetData(h, col, SQL_C_DOUBLE, &v, 0, &indicator), kStmt, h, "SQLGetData");
      if ((isNull = indicator == SQL_NULL_DATA)) return;
      AppendFloat(v, out);
      return;
    }
    case Fetcher::Real: {
      float v = 0;
      OdbcCheck(SQLGetData(h, col, SQL_C_FLOAT, &v, 0, &indicator), kStmt, h, "SQLGetData");
      if ((isNull = indicator == SQL_NULL_DATA)) return;
      AppendFloat(v, out);
      return;
    }
    case Fetcher::Date: {
      SQL_DATE_STRUCT v{};
      OdbcCheck(SQLGetData(h, col, SQL_C_TYPE_DATE, &v, sizeof v, &indicator), kStmt, h, "SQLGetData");
      if ((isNull = indicator == SQL_NULL_DATA)) return;
      AppendDate(v.year, v.month, v.day, out);
      return;
    }
    case Fetcher::Timestamp: {
      SQL_TIMESTAMP_STRUCT v{};
      OdbcCheck(SQLGetData(h, col, SQL_C_TYPE_TIMESTAMP, &v, sizeof v, &indicator), kStmt, h, "SQLGetData");
      if ((isNull = indicator == SQL_NULL_DATA)) return;
      AppendDate(v.year, v.month, v.day, out);
      AppendTime(v.hour, v.minute, v.second, v.fraction, out);
      return;
    }
    case Fetcher::Ascii:
    case Fetcher::Binary:
      isNull = !ReadInParts(h, col, fetchers_[i] == Fetcher::Binary ? SQL_C_BINARY : SQL_C_CHAR, out);
      return;
    case Fetcher::Wide: {
      std::u16string& wide = wide_;
      isNull = !ReadInParts(h, col, SQL_C_WCHAR, wide);
      if (!isNull) AppendUtf16AsUtf8(wide.data(), wide.size(), out);
      return;
    }
  }
}

void OdbcResultSet::Execute(TDbConnection& connection, const std::string& text) {
  std::u16string wide = CommandToUtf16(text);
  ExecuteDriverText(connection, wide);
}

std::u16string OdbcResultSet::DriverText(const std::string& text) { return CommandToUtf16(text); }

void OdbcResultSet::ExecuteDriverText(TDbConnection& connection, std::u16string& text) {
  OdbcHandle stmt = ExecDirect(connection, text);
  for (;;) {
    SQLRETURN rc = SQLMoreResults(stmt.get());
    if (OdbcCheck(rc, kStmt, stmt.get(), "SQLMoreResults", true) == SQL_NO_DATA) break;
  }
}

}  // namespace db
