#pragma once
// A statement run on the connection, and (for a query) its rows fetched forward one at a time,
// each value turned into its AsString text as it is read.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/DbRowSource.h"
#include "db/OdbcHandle.h"

namespace db {

class TDbConnection;

class OdbcResultSet : public DbRowSource {
 public:
  // Runs `text` (UTF-8) as one command. Raises EDatabaseError with the driver's text.
  OdbcResultSet(TDbConnection& connection, const std::string& text);
  ~OdbcResultSet() override;

  const std::vector<DbColumn>& Columns() const override { return columns_; }
  bool Fetch(DbRow& row) override;
  // Runs the command again (a forward cursor cannot go back).
  void Restart() override;
  std::int64_t RowCount() const override { return -1; }

  // Runs `text` and reads through every result it produces, so that an error in any of several
  // statements surfaces. Raises EDatabaseError.
  static void Execute(TDbConnection& connection, const std::string& text);
  // The same for a command already in the driver's form (see DriverText).
  static void ExecuteDriverText(TDbConnection& connection, std::u16string& text);
  // `text` (UTF-8) in the form the driver takes. Raises EDatabaseError for text that is not UTF-8.
  static std::u16string DriverText(const std::string& text);

 private:
  enum class Fetcher : unsigned char { Integer, Bit, Double, Real, Ascii, Wide, Binary, Date, Timestamp };

  void Run();
  void Describe();
  void ReadColumn(std::size_t i, DbRow& row);

  // Raises EDatabaseError when the connection was closed under this result set.
  void* Statement() const;

  TDbConnection& connection_;
  std::weak_ptr<const void> session_;
  std::u16string text_;
  OdbcHandle stmt_;
  std::vector<DbColumn> columns_;
  std::vector<Fetcher> fetchers_;
  bool finished_ = false;
  std::u16string wide_;  // reused for every text value
};

}  // namespace db
