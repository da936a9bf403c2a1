#include "migration/RecordImport.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <vector>

#include "db/DbColumn.h"
#include "db/DbConnection.h"
#include "db/DbError.h"
#include "db/DbQuery.h"
#include "db/FieldType.h"
#include "diag/Trace.h"
#include "migration/MigrationHost.h"
#include "migration/MigrationText.h"
#include "migration/ProcedureFailure.h"
#include "migration/ProgressView.h"
#include "migration/StatementSender.h"
#include "platform/EventThrottle.h"

namespace migration {
namespace {

bool IsTextType(db::TFieldType type) {
  switch (type) {
    case db::TFieldType::ftString:
    case db::TFieldType::ftFixedChar:
    case db::TFieldType::ftWideString:
    case db::TFieldType::ftFixedWideChar:
    case db::TFieldType::ftMemo:
    case db::TFieldType::ftWideMemo:
      return true;
    default:
      return false;
  }
}

TInsertBatchBound g_insertBatchBound = kInsertBatchBound;

// Collects the rows of one file and sends them to the database as multi-row statements: the
// first row's statement whole, every further row as its value list appended after a comma. While
// the database works on one command the next one is being built; the error of a command surfaces
// at the next Add or at Finish, still before anything is committed.
//
// A failing row fails its whole command, which the driver undoes alone (its statement-level
// rollback keeps the transaction usable). That command's rows are then sent again one at a time,
// each traced and shown as the import shows a row, so that a failure reads as it does with one
// statement per row: the failing row's statement is the last one traced, the detail line names
// that row and the error raised is that row's own. The cost falls only on a failure.
class TInsertBatch {
 public:
  // `headSize`: the length of "insert into T (cols) values ", the part all rows share.
  // `showRow`: shows the row of that number in the detail line.
  TInsertBatch(IMigrationHost& host, size_t headSize, TInsertBatchBound bound,
               std::function<void(std::int64_t)> showRow)
      : query_(Prepare(host)), sender_(query_), headSize_(headSize), bound_(bound), showRow_(std::move(showRow)) {}

  // Adds the row whose statement is `statement`.
  void Add(const std::string& statement) {
    if (text_.empty()) {
      starts_.push_back(0);
      text_.append(statement);
    } else {
      text_.push_back(',');
      starts_.push_back(text_.size());
      text_.append(statement, headSize_);
    }
    ++rows_;
    if (rows_ - sentRows_ >= bound_.rows || text_.size() >= bound_.bytes) Send();
  }

  // Sends what is left and waits until the database has run every command.
  void Finish() {
    Send();
    Settle();
  }

 private:
  static db::TDbQuery& Prepare(IMigrationHost& host) {
    db::TDbQuery& qryExecute = host.qryExecute();
    qryExecute.SetConnection(&host.conADOConParty());
    qryExecute.ParamCheck = false;
    return qryExecute;
  }

  void Send() {
    if (rows_ == sentRows_) return;
    Settle();
    std::string text;
    text.reserve(text_.capacity());
    text.swap(text_);
    inFlightStarts_.swap(starts_);
    starts_.clear();
    sender_.Send(std::move(text));
    inFlightFirst_ = sentRows_ + 1;
    sentRows_ = rows_;
  }

  // Waits for the command in flight; when the database refused it, finds the failing row.
  void Settle() {
    try {
      sender_.Wait();
    } catch (const db::EDatabaseError&) {
      // The query keeps the text of the command it ran last.
      if (query_.SQL().size() != 1 || inFlightStarts_.empty()) throw;
      const std::string command = query_.SQL().front();
      diag::TraceLine("The statements of records " + std::to_string(inFlightFirst_) + " to " +
                      std::to_string(sentRows_) +
                      " failed as one command, and none of the statements traced after them ran; they are "
                      "sent again one at a time");
      for (size_t k = 0; k < inFlightStarts_.size(); ++k) {
        const size_t begin = inFlightStarts_[k];
        const size_t end = k + 1 < inFlightStarts_.size() ? inFlightStarts_[k + 1] - 1 : command.size();
        std::string statement =
            k == 0 ? command.substr(0, end) : command.substr(0, headSize_) + command.substr(begin, end - begin);
        diag::TraceLine(statement);
        showRow_(inFlightFirst_ + static_cast<std::int64_t>(k));
        sender_.Send(std::move(statement));
        sender_.Wait();
      }
      // Every row went in alone (the command failed for a reason of its own, such as a time-out):
      // the import goes on, as it would have with one statement per row.
    }
  }

  db::TDbQuery& query_;
  TStatementSender sender_;
  const size_t headSize_;
  const TInsertBatchBound bound_;
  const std::function<void(std::int64_t)> showRow_;
  std::string text_;
  std::vector<size_t> starts_;          // where each row of text_ starts
  std::vector<size_t> inFlightStarts_;  // the same for the command in flight
  std::int64_t rows_ = 0;       // rows added
  std::int64_t sentRows_ = 0;   // of which handed to the sender
  std::int64_t inFlightFirst_ = 0;
};

}  // namespace

std::string TableNameFromFile(std::string_view fileName) {
  const size_t dot = fileName.rfind('.');
  return std::string(dot == std::string_view::npos ? fileName : fileName.substr(0, dot));
}

std::string CheckedTableName(const std::string& fileName) {
  std::string table = TableNameFromFile(fileName);
  if (!IsPlainIdentifier(table)) {
    throw EUnsafeName("The TableFile " + fileName + " names no plain table: \"" + table + "\"");
  }
  return table;
}

std::string TargetColumnName(std::string_view table, std::string_view column) {
  if (SameTextAscii(table, "B01REPORT") && SameTextAscii(column, "B0191")) return "DURATIONID";
  if (SameTextAscii(table, "T_RPT_DURATION") && SameTextAscii(column, "DURATIONID")) return "ID";
  return std::string(column);
}

std::vector<std::string> InsertColumnNames(const std::string& fileName, const std::string& table,
                                           const std::vector<db::DbColumn>& columns) {
  std::vector<std::string> names;
  names.reserve(columns.size());
  for (const db::DbColumn& column : columns) {
    if (column.type == db::TFieldType::ftBlob) {
      names.emplace_back();
      continue;
    }
    names.push_back(TargetColumnName(table, column.name));
    if (!IsPlainIdentifier(names.back())) {
      throw EUnsafeName("The TableFile " + fileName + " names no plain column: \"" + names.back() + "\"");
    }
  }
  return names;
}

void AppendValueText(db::TDbQuery& query, int i, std::string& out, TBackslashes backslashes) {
  const db::TFieldType type = query.DataType(i);
  if (type == db::TFieldType::ftBlob) return;
  if (IsTextType(type)) {
    AppendQuotedText(out, query.AsString(i), backslashes);
    return;
  }
  // Only the text columns carry a NULL over as the empty string, which the version 4.0 data
  // expects; an empty string cannot be stored in a number or a date.
  if (query.IsNull(i)) {
    out.append("Null");
    return;
  }
  const std::string text = query.AsString(i);
  if (type == db::TFieldType::ftInteger) {
    // A value that is not a number is still sent as a literal, never as SQL.
    if (text.empty()) {
      out.append("Null");
    } else if (IsIntegerLiteral(text)) {
      out.append(text);
    } else {
      AppendQuotedText(out, text, backslashes);
    }
    return;
  }
  if (type == db::TFieldType::ftBytes) {
    out.append("to_timestamp(");
    AppendQuotedText(out, text, backslashes);
    out.push_back(')');
    return;
  }
  AppendQuotedText(out, text, backslashes);
}

std::string ValueText(db::TDbQuery& query, int i, bool& included, TBackslashes backslashes) {
  included = query.DataType(i) != db::TFieldType::ftBlob;
  std::string text;
  AppendValueText(query, i, text, backslashes);
  return text;
}

void SetInsertBatchBound(TInsertBatchBound bound) { g_insertBatchBound = bound; }

void Restore(IMigrationHost& host, const std::string& fileName, TInsertForm form) {
  db::TDbConnection& connection = host.conADOConParty();
  const bool ownTransaction = !connection.InTransaction();
  try {
    if (ownTransaction) connection.BeginTrans();
    diag::TraceEnter("Restore");

    const std::string table = TableNameFromFile(fileName);

    db::TDbQuery& qry1 = host.qry1();
    qry1.SetConnection(&connection);
    qry1.Close();
    const std::string filePath =
        FolderPart(host.ArchivePathText()) + "qimzorstatistics/" + fileName;
    qry1.LoadFromFile(filePath);
    diag::TraceLine(filePath);

    IProgressView& progress = *host.ProgressWindow();
    progress.SetInfoText("正在还原表" + table + "，请稍候..");

    if (!qry1.Active()) qry1.Open();
    if (!qry1.IsEmpty()) {
      // Only a file that sends statements needs a plain table name.
      CheckedTableName(fileName);
      progress.SetDetailProgress("正在导入表" + table + "中的记录", qry1.RecordCount(), 0, 1);

      // The column names are checked once, before any statement is built from them.
      const int fieldCount = qry1.FieldCount();
      std::vector<db::DbColumn> fileColumns;
      for (int i = 0; i < fieldCount; ++i) fileColumns.push_back(qry1.Column(i));
      const std::vector<std::string> columns = InsertColumnNames(fileName, table, fileColumns);
      const TBackslashes backslashes =
          connection.StandardConformingStrings() ? TBackslashes::Literal : TBackslashes::Escape;

      // The column list is the same for every row: the columns left out are left out by type.
      std::string statement = "insert into " + table + " (";
      bool firstColumn = true;
      for (const std::string& column : columns) {
        if (column.empty()) continue;
        if (!firstColumn) statement.push_back(',');
        statement.append(column);
        firstColumn = false;
      }
      statement.append(") values ");
      const size_t headSize = statement.size();

      const auto showRow = [&](std::int64_t recNo) {
        progress.UpdateDetailProgress(static_cast<int>(recNo),
                                      "正在导入表" + table + "中的第" + std::to_string(recNo) + "条记录...");
      };
      TInsertBatchBound bound = g_insertBatchBound;
      if (form == TInsertForm::RowByRow) bound.rows = 1;
      platform::TEventThrottle events;
      TInsertBatch batch(host, headSize, bound, showRow);
      qry1.First();
      while (!qry1.Eof()) {
        statement.resize(headSize);
        statement.push_back('(');
        bool firstValue = true;
        for (int i = 0; i < fieldCount; ++i) {
          if (!columns[static_cast<size_t>(i)].empty()) {
            if (!firstValue) statement.push_back(',');
            AppendValueText(qry1, i, statement, backslashes);
            firstValue = false;
          }
          events.Pump();
        }
        statement.push_back(')');
        diag::TraceLine(statement);
        batch.Add(statement);

        showRow(qry1.RecNo());
        qry1.Next();
        events.Pump();
      }
      batch.Finish();
    }

    if (ownTransaction) RunHandlingEvents([&] { connection.CommitTrans(); });
    diag::TraceLeave("Restore");
  } catch (...) {
    if (ownTransaction) RollbackQuietly(connection);
    throw;
  }
}

}  // namespace migration
