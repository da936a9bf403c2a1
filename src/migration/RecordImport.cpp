#include "migration/RecordImport.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
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
#include "platform/EventPump.h"

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

// The rows of one file on their way to the database, in three threads. The producer walks the
// TableFile, builds and traces every row's statement, joins consecutive rows into multi-row
// commands (the first row's statement whole, every further row as its value list appended after a
// comma) and converts each command into the driver's text; the sender hands one command after the
// other to the driver; the calling (user-interface) thread only handles events and shows the row
// reached. At most kQueuedCommands commands wait between producer and sender, so memory does not
// grow with the file. The statements leave in the order they were traced.
//
// A failing row fails its whole command, which the driver undoes alone (its statement-level
// rollback keeps the transaction usable). The producer is held at its next row and the calling
// thread sends that command's rows again one at a time, each traced and shown as the import shows
// a row, so that a failure reads as it does with one statement per row: the failing row's
// statement is the last one traced, the detail line names that row and the error raised is that
// row's own. The cost falls only on a failure.
class TImportPipeline {
 public:
  struct TRowForm {
    size_t headSize;        // the length of "insert into T (cols) values ", the part all rows share
    std::string head;       // that part
    std::vector<bool> included;  // per column of the file
    TBackslashes backslashes;
  };

  // `showRow`: shows the row of that number in the detail line (on the calling thread).
  TImportPipeline(IMigrationHost& host, db::TDbQuery& file, TRowForm form, TInsertBatchBound bound,
                  std::function<void(std::int64_t)> showRow)
      : query_(Prepare(host)), file_(file), form_(std::move(form)), bound_(bound), showRow_(std::move(showRow)) {
    producer_ = std::thread([this] { Produce(); });
    sender_ = std::thread([this] { SendAll(); });
  }

  // Stops both threads; a command in flight is waited for while events are handled, since the
  // query and the connection must be free when the caller goes on.
  ~TImportPipeline() {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    queueChanged_.notify_all();
    try {
      platform::WaitHandlingEvents(lock, callerWakes_, [this] { return producerDone_ && senderDone_; });
    } catch (...) {
      callerWakes_.wait(lock, [this] { return producerDone_ && senderDone_; });
    }
    lock.unlock();
    producer_.join();
    sender_.join();
  }

  TImportPipeline(const TImportPipeline&) = delete;
  TImportPipeline& operator=(const TImportPipeline&) = delete;

  // Returns when every row is in the database; raises the failing row's error (or the producer's).
  void Run() {
    std::int64_t shown = 0;
    const auto tick = [&] {
      const std::int64_t reached = producedRows_.load();
      if (reached != shown) showRow_(shown = reached);
      platform::PumpEvents();
    };
    std::unique_lock lock(mutex_);
    for (;;) {
      platform::WaitHandlingEvents(
          lock, callerWakes_, [this] { return producerError_ || failed_ || (producerDone_ && queue_.empty() && !busy_); },
          tick);
      if (producerError_) std::rethrow_exception(producerError_);
      if (!failed_) break;
      // The producer stops at its next row, so that the statements sent again follow the ones
      // traced so far.
      hold_ = true;
      platform::WaitHandlingEvents(lock, callerWakes_, [this] { return held_ || producerDone_; }, tick);
      TCommand command = std::move(*failed_);
      lock.unlock();
      SendAlone(command);
      lock.lock();
      failed_.reset();
      hold_ = false;
      queueChanged_.notify_all();
    }
    lock.unlock();
    const std::int64_t reached = producedRows_.load();
    if (reached != shown) showRow_(reached);
  }

 private:
  static constexpr size_t kQueuedCommands = 4;

  struct TCommand {
    std::string text;
    std::vector<size_t> starts;  // where each row of text starts
    std::int64_t firstRow = 0;   // number of its first row
    std::u16string driverText;
    std::exception_ptr conversionError;  // the text is no UTF-8: the command fails as the driver would fail it
  };

  static db::TDbQuery& Prepare(IMigrationHost& host) {
    db::TDbQuery& qryExecute = host.qryExecute();
    qryExecute.SetConnection(&host.conADOConParty());
    qryExecute.ParamCheck = false;
    return qryExecute;
  }

  void Produce() {
    std::exception_ptr error;
    try {
      const int fieldCount = file_.FieldCount();
      std::string statement = form_.head;
      TCommand command;
      std::int64_t row = 0;
      while (!file_.Eof()) {
        statement.resize(form_.headSize);
        statement.push_back('(');
        bool firstValue = true;
        for (int i = 0; i < fieldCount; ++i) {
          if (!form_.included[static_cast<size_t>(i)]) continue;
          if (!firstValue) statement.push_back(',');
          AppendValueText(file_, i, statement, form_.backslashes);
          firstValue = false;
        }
        statement.push_back(')');
        if (!WaitWhileHeld()) return Finish(nullptr);
        diag::TraceLine(statement);
        ++row;
        if (command.text.empty()) {
          command.firstRow = row;
          command.starts.push_back(0);
          command.text.append(statement);
        } else {
          command.text.push_back(',');
          command.starts.push_back(command.text.size());
          command.text.append(statement, form_.headSize);
        }
        producedRows_.store(row);
        if (static_cast<int>(command.starts.size()) >= bound_.rows || command.text.size() >= bound_.bytes) {
          if (!Queue(command)) return Finish(nullptr);
        }
        file_.Next();
      }
      if (!command.text.empty() && !Queue(command)) return Finish(nullptr);
    } catch (...) {
      error = std::current_exception();
    }
    Finish(error);
  }

  void Finish(std::exception_ptr error) {
    std::lock_guard lock(mutex_);
    producerError_ = error;
    producerDone_ = true;
    queueChanged_.notify_all();
    callerWakes_.notify_all();
  }

  // Waits while the calling thread sends a failed command's rows again; false when stopping.
  bool WaitWhileHeld() {
    if (!hold_ && !stopping_) return true;
    std::unique_lock lock(mutex_);
    held_ = true;
    callerWakes_.notify_all();
    queueChanged_.wait(lock, [this] { return !hold_ || stopping_; });
    held_ = false;
    return !stopping_;
  }

  // Converts the command and puts it in the queue, waiting for room; false when stopping.
  bool Queue(TCommand& command) {
    try {
      command.driverText = db::TDbQuery::DriverText(command.text);
    } catch (...) {
      command.conversionError = std::current_exception();
    }
    std::unique_lock lock(mutex_);
    // Waiting here the producer traces nothing: it counts as held.
    held_ = true;
    callerWakes_.notify_all();
    queueChanged_.wait(lock, [this] { return (queue_.size() < kQueuedCommands && !hold_) || stopping_; });
    held_ = false;
    if (stopping_) return false;
    queue_.push_back(std::move(command));
    command = TCommand();
    queueChanged_.notify_all();
    return true;
  }

  void SendAll() {
    std::unique_lock lock(mutex_);
    for (;;) {
      queueChanged_.wait(lock, [this] { return stopping_ || (!failed_ && (!queue_.empty() || producerDone_)); });
      if (stopping_ || queue_.empty()) break;
      TCommand command = std::move(queue_.front());
      queue_.pop_front();
      busy_ = true;
      queueChanged_.notify_all();
      lock.unlock();
      bool ok = true;
      try {
        if (command.conversionError) std::rethrow_exception(command.conversionError);
        query_.Close();
        query_.ExecDriverText(command.driverText);
      } catch (const db::EDatabaseError&) {
        ok = false;
      } catch (...) {
        ok = false;
        command.starts.clear();  // not the database's refusal: raised as it is
        command.conversionError = std::current_exception();
      }
      lock.lock();
      busy_ = false;
      if (!ok) failed_ = std::move(command);
      callerWakes_.notify_all();
    }
    senderDone_ = true;
    callerWakes_.notify_all();
  }

  // Sends the rows of a command the database refused one at a time, on the calling thread (the
  // sender and the producer wait meanwhile).
  void SendAlone(TCommand& command) {
    if (command.starts.empty()) std::rethrow_exception(command.conversionError);
    const std::int64_t last = command.firstRow + static_cast<std::int64_t>(command.starts.size()) - 1;
    diag::TraceLine("The statements of records " + std::to_string(command.firstRow) + " to " + std::to_string(last) +
                    " failed as one command, and none of the statements traced after them ran; they are "
                    "sent again one at a time");
    const std::string& text = command.text;
    for (size_t k = 0; k < command.starts.size(); ++k) {
      const size_t begin = command.starts[k];
      const size_t end = k + 1 < command.starts.size() ? command.starts[k + 1] - 1 : text.size();
      const std::string statement =
          k == 0 ? text.substr(0, end) : text.substr(0, form_.headSize) + text.substr(begin, end - begin);
      diag::TraceLine(statement);
      showRow_(command.firstRow + static_cast<std::int64_t>(k));
      RunHandlingEvents([&] {
        query_.Close();
        query_.SQL().assign(1, statement);
        query_.ExecSQL();
      });
    }
    // Every row went in alone (the command failed for a reason of its own, such as a time-out):
    // the import goes on, as it would have with one statement per row.
  }

  db::TDbQuery& query_;
  db::TDbQuery& file_;  // the producer's alone while the pipeline runs
  const TRowForm form_;
  const TInsertBatchBound bound_;
  const std::function<void(std::int64_t)> showRow_;

  std::mutex mutex_;
  std::condition_variable queueChanged_;  // the producer and the sender wait on it
  std::condition_variable callerWakes_;   // the calling thread waits on it
  std::deque<TCommand> queue_;
  std::optional<TCommand> failed_;  // a command the database refused, its rows to be sent alone
  std::exception_ptr producerError_;
  bool producerDone_ = false;
  bool senderDone_ = false;
  bool busy_ = false;  // the sender runs a command
  bool held_ = false;  // the producer waits while hold_ is set
  std::atomic<bool> hold_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<std::int64_t> producedRows_{0};
  std::thread producer_;
  std::thread sender_;
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
    AppendQuotedText(out, query.AsStringView(i), backslashes);
    return;
  }
  // Only the text columns carry a NULL over as the empty string, which the version 4.0 data
  // expects; an empty string cannot be stored in a number or a date.
  if (query.IsNull(i)) {
    out.append("Null");
    return;
  }
  const std::string_view text = query.AsStringView(i);
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
      TImportPipeline::TRowForm rowForm;
      rowForm.head = "insert into " + table + " (";
      bool firstColumn = true;
      for (const std::string& column : columns) {
        rowForm.included.push_back(!column.empty());
        if (column.empty()) continue;
        if (!firstColumn) rowForm.head.push_back(',');
        rowForm.head.append(column);
        firstColumn = false;
      }
      rowForm.head.append(") values ");
      rowForm.headSize = rowForm.head.size();
      rowForm.backslashes = backslashes;

      const auto showRow = [&](std::int64_t recNo) {
        progress.UpdateDetailProgress(static_cast<int>(recNo),
                                      "正在导入表" + table + "中的第" + std::to_string(recNo) + "条记录...");
      };
      TInsertBatchBound bound = g_insertBatchBound;
      if (form == TInsertForm::RowByRow) bound.rows = 1;
      qry1.First();
      TImportPipeline pipeline(host, qry1, std::move(rowForm), bound, showRow);
      pipeline.Run();
    }

    if (ownTransaction) RunHandlingEvents([&] { connection.CommitTrans(); });
    diag::TraceLeave("Restore");
  } catch (...) {
    if (ownTransaction) RollbackQuietly(connection);
    throw;
  }
}

}  // namespace migration
