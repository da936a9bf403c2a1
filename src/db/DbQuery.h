#pragma once
// A query object (qry1, qry2, qry3, qryExecute): runs its SQL text on a connection and walks the
// result row by row, or walks a result set loaded from a TableFile. Rows are never all held in
// memory: a database result is fetched forward as it is walked or saved, a TableFile is read
// as it is walked.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/DbColumn.h"
#include "db/FieldType.h"

namespace db {

class TDbConnection;
class DbRowSource;
class TableFileWriter;
struct DbRow;

class TDbQuery {
 public:
  explicit TDbQuery(TDbConnection* connection = nullptr);
  ~TDbQuery();
  TDbQuery(const TDbQuery&) = delete;
  TDbQuery& operator=(const TDbQuery&) = delete;

  void SetConnection(TDbConnection* connection);
  TDbConnection* Connection() const { return connection_; }

  // The text as lines; the command is the lines joined by "\r\n" and goes to the driver as one
  // command, several statements included.
  std::vector<std::string>& SQL() { return sql_; }
  std::string CommandText() const;

  // ODBC marks parameters with '?', not with ":name", and the program binds no parameters, so the
  // text is sent unchanged whether this is on or off.
  bool ParamCheck = true;

  // Runs the text and positions on the first row. Does nothing when the query is already open
  // (also after LoadFromFile).
  void Open();
  void Close();
  bool Active() const;
  // Runs the text without keeping rows; every statement's error surfaces.
  void ExecSQL();
  // Runs, as ExecSQL runs the text, a command already converted with DriverText: the conversion
  // can then be done on another thread than the one that waits for the database. The SQL lines
  // are left as they are.
  void ExecDriverText(std::u16string& text);
  // A command text in the form the driver takes; raises EDatabaseError for text that is not UTF-8.
  static std::u16string DriverText(const std::string& text);

  // Deletes an existing file of that name, then writes every row of the result set (from the first,
  // re-running a database query when it was walked already) as a TableFile. The format code is
  // ignored for names ending in ".xml" (any case); other names raise "format not supported".
  // Afterwards the query stands at Eof. A failed save removes the partial file. The rows are
  // fetched on the calling thread and formatted and written on another one, in order.
  void SaveToFile(const std::string& path, int format = 0);
  // Closes the query and opens the result set saved in the file, positioned on the first row.
  // The whole file is checked first: malformed, truncated or foreign files raise ETableFileError.
  void LoadFromFile(const std::string& path);

  bool IsEmpty();
  // Rows of a loaded file; for a database result the rows seen so far are not a count, so it is -1.
  int RecordCount();
  // 1-based number of the current row; 0 when there is none (empty result, or past the end).
  int RecNo();
  // Back to the first row (a database query that moved on is run again).
  void First();
  void Next();
  bool Eof();

  int FieldCount();
  std::string FieldName(int i);
  TFieldType DataType(int i);
  const DbColumn& Column(int i);
  // Locale-independent text of the current row's value: "yyyy-MM-dd hh:mm:ss[.fraction]",
  // "yyyy-MM-dd", "hh:mm:ss[.fraction]", numbers with '.' and no grouping, floating point in the
  // shortest form that reads back to the same value, "True"/"False"; raw bytes for binary
  // columns; empty for NULL.
  std::string AsString(int i);
  // The same text without a copy, valid until the query moves or closes.
  std::string_view AsStringView(int i);
  bool IsNull(int i);

 private:
  DbRowSource& Source();
  const std::string& Value(int i);
  void CheckField(int i);
  void FetchNext();
  void SaveRows(DbRowSource& source, TableFileWriter& writer);

  TDbConnection* connection_;
  std::vector<std::string> sql_;
  std::unique_ptr<DbRowSource> source_;
  std::unique_ptr<DbRow> row_;
  std::int64_t recNo_ = 0;
  bool eof_ = true;
};

}  // namespace db
