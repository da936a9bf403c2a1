#include "db/DbQuery.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>

#include "db/DbConnection.h"
#include "db/DbError.h"
#include "db/DbRowSource.h"
#include "db/OdbcResultSet.h"
#include "db/TableFileError.h"
#include "db/TableFileReader.h"
#include "db/TableFileWriter.h"
#include "diag/SysLog.h"
#include "platform/FileSystem.h"

namespace db {

namespace {

bool EndsWithXml(const std::string& path) {
  if (path.size() < 4) return false;
  std::string ext = path.substr(path.size() - 4);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return ext == ".xml";
}

}  // namespace

TDbQuery::TDbQuery(TDbConnection* connection) : connection_(connection), row_(std::make_unique<DbRow>()) {}

TDbQuery::~TDbQuery() = default;

void TDbQuery::SetConnection(TDbConnection* connection) {
  if (connection != connection_) Close();
  connection_ = connection;
}

std::string TDbQuery::CommandText() const {
  std::string text;
  for (std::size_t i = 0; i < sql_.size(); ++i) {
    if (i) text += "\r\n";
    text += sql_[i];
  }
  return text;
}

void TDbQuery::Open() {
  if (source_) return;
  if (!connection_) throw EDatabaseError("The query has no connection");
  const std::string text = CommandText();
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) throw EDatabaseError("The query has no command text");
  source_ = std::make_unique<OdbcResultSet>(*connection_, text);
  row_->Reset(source_->Columns().size());
  recNo_ = 0;
  eof_ = false;
  FetchNext();
}

void TDbQuery::Close() {
  source_.reset();
  row_->Reset(0);
  recNo_ = 0;
  eof_ = true;
}

bool TDbQuery::Active() const { return source_ != nullptr; }

void TDbQuery::ExecSQL() {
  if (!connection_) throw EDatabaseError("The query has no connection");
  OdbcResultSet::Execute(*connection_, CommandText());
}

void TDbQuery::ExecDriverText(std::u16string& text) {
  if (!connection_) throw EDatabaseError("The query has no connection");
  OdbcResultSet::ExecuteDriverText(*connection_, text);
}

std::u16string TDbQuery::DriverText(const std::string& text) { return OdbcResultSet::DriverText(text); }

void TDbQuery::SaveToFile(const std::string& path, int /*format*/) {
  if (!EndsWithXml(path)) {
    throw ETableFileError("Cannot save \"" + path + "\": format not supported (only the XML format, for names ending in .xml)");
  }
  DbRowSource& source = Source();
  std::error_code ec;
  std::filesystem::remove(platform::PathFromUtf8(path), ec);
  if (ec) throw ETableFileError("Cannot delete the existing file \"" + path + "\": " + ec.message());
  First();
  TableFileWriter writer(path, source.Columns());
  if (!eof_) SaveRows(source, writer);
  writer.Finish();
}

namespace {

// Rows go from the fetching thread to the writing one in batches: one hand-over per batch, not
// per row. A batch ends after kBatchRows rows or once its values reach kBatchBytes, so that rows
// with large values (binary objects) do not pile up.
constexpr std::size_t kBatchRows = 256;
constexpr std::size_t kBatchBytes = 1u << 20;
constexpr std::size_t kBatchesInFlight = 4;

struct RowBatch {
  std::vector<DbRow> rows;  // reused from batch to batch, with their strings' capacity
  std::size_t count = 0;
};

// The batches between the two threads: a fixed set that circulates, so memory stays bounded and
// the strings' buffers are allocated once.
class RowHandOver {
 public:
  explicit RowHandOver(std::size_t columns) : batches_(kBatchesInFlight) {
    for (RowBatch& batch : batches_) {
      batch.rows.resize(kBatchRows);
      for (DbRow& row : batch.rows) row.Reset(columns);
      free_.push_back(&batch);
    }
  }

  // Fetching side: an empty batch to fill; nullptr once the writing side gave up.
  RowBatch* TakeEmpty() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return failure_ || !free_.empty(); });
    if (failure_) return nullptr;
    RowBatch* batch = free_.back();
    free_.pop_back();
    batch->count = 0;
    return batch;
  }
  void Pass(RowBatch* batch) { Push(full_, batch); }
  // No rows follow; `abandoned`: the fetch failed, what is queued is dropped.
  void Close(bool abandoned) {
    std::lock_guard lock(mutex_);
    closed_ = true;
    abandoned_ = abandoned;
    changed_.notify_all();
  }

  // Writing side: the next filled batch, in order; nullptr at the end.
  RowBatch* TakeFull() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return abandoned_ || closed_ || !full_.empty(); });
    if (abandoned_ || full_.empty()) return nullptr;
    RowBatch* batch = full_.front();
    full_.pop_front();
    return batch;
  }
  void GiveBack(RowBatch* batch) { Push(free_, batch); }
  void Fail(std::exception_ptr failure) {
    std::lock_guard lock(mutex_);
    failure_ = std::move(failure);
    changed_.notify_all();
  }
  std::exception_ptr Failure() {
    std::lock_guard lock(mutex_);
    return failure_;
  }

 private:
  template <typename Container>
  void Push(Container& to, RowBatch* batch) {
    std::lock_guard lock(mutex_);
    to.push_back(batch);
    changed_.notify_all();
  }

  std::vector<RowBatch> batches_;
  std::vector<RowBatch*> free_;
  std::deque<RowBatch*> full_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool closed_ = false;
  bool abandoned_ = false;
  std::exception_ptr failure_;
};

}  // namespace

// This thread fetches (the driver's statement stays with the thread that opened it); another
// formats the rows and writes them, in the order fetched. The first row is the current one.
void TDbQuery::SaveRows(DbRowSource& source, TableFileWriter& writer) {
  RowHandOver handOver(source.Columns().size());
  std::thread writing([&] {
    try {
      while (RowBatch* batch = handOver.TakeFull()) {
        for (std::size_t i = 0; i < batch->count; ++i) writer.WriteRow(batch->rows[i]);
        handOver.GiveBack(batch);
      }
    } catch (...) {
      handOver.Fail(std::current_exception());
    }
  });
  try {
    RowBatch* batch = handOver.TakeEmpty();
    if (batch) std::swap(batch->rows[batch->count++], *row_);
    while (batch) {
      std::size_t bytes = 0;
      bool more = true;
      while (batch->count < kBatchRows && bytes < kBatchBytes) {
        DbRow& row = batch->rows[batch->count];
        if (!(more = source.Fetch(row))) break;
        ++batch->count;
        ++recNo_;
        for (const std::string& value : row.values) bytes += value.size();
      }
      handOver.Pass(batch);
      batch = more ? handOver.TakeEmpty() : nullptr;
    }
    handOver.Close(false);
  } catch (...) {
    handOver.Close(true);
    writing.join();
    throw;
  }
  writing.join();
  if (const std::exception_ptr failure = handOver.Failure()) std::rethrow_exception(failure);
  eof_ = true;
  row_->Reset(source.Columns().size());
}

void TDbQuery::LoadFromFile(const std::string& path) {
  Close();
  auto reader = std::make_unique<TableFileReader>(path);
  if (const std::int64_t replaced = reader->ReplacedCharacters(); replaced > 0) {
    diag::WriteSysLog(2, "The file \"" + path + "\" holds " + std::to_string(replaced) +
                             " unpaired UTF-16 surrogate(s); each was read as U+FFFD");
  }
  source_ = std::move(reader);
  row_->Reset(source_->Columns().size());
  recNo_ = 0;
  eof_ = false;
  FetchNext();
}

DbRowSource& TDbQuery::Source() {
  if (!source_) throw EDatabaseError("Operation is not allowed when the query is closed");
  return *source_;
}

void TDbQuery::FetchNext() {
  if (eof_) return;
  if (source_->Fetch(*row_)) {
    ++recNo_;
  } else {
    eof_ = true;
    row_->Reset(source_->Columns().size());
  }
}

bool TDbQuery::IsEmpty() {
  if (!source_) return true;
  return recNo_ == 0 && eof_;
}

int TDbQuery::RecordCount() {
  const std::int64_t count = Source().RowCount();
  return count > INT32_MAX ? INT32_MAX : static_cast<int>(count);
}

int TDbQuery::RecNo() {
  Source();
  return eof_ ? 0 : static_cast<int>(recNo_);
}

void TDbQuery::First() {
  DbRowSource& source = Source();
  if (recNo_ == 1 && !eof_) return;
  source.Restart();
  row_->Reset(source.Columns().size());
  recNo_ = 0;
  eof_ = false;
  FetchNext();
}

void TDbQuery::Next() {
  Source();
  FetchNext();
}

bool TDbQuery::Eof() {
  if (!source_) return true;
  return eof_;
}

int TDbQuery::FieldCount() { return source_ ? static_cast<int>(source_->Columns().size()) : 0; }

void TDbQuery::CheckField(int i) {
  if (i < 0 || i >= FieldCount()) {
    throw EDatabaseError("Field index " + std::to_string(i) + " out of range (" + std::to_string(FieldCount()) + " fields)");
  }
}

const DbColumn& TDbQuery::Column(int i) {
  CheckField(i);
  return source_->Columns()[static_cast<std::size_t>(i)];
}

std::string TDbQuery::FieldName(int i) { return Column(i).name; }

TFieldType TDbQuery::DataType(int i) { return Column(i).type; }

const std::string& TDbQuery::Value(int i) {
  CheckField(i);
  if (eof_) throw EDatabaseError("Either BOF or EOF is True, or the current record has been deleted");
  return row_->values[static_cast<std::size_t>(i)];
}

std::string TDbQuery::AsString(int i) {
  const std::string& v = Value(i);
  return row_->nulls[static_cast<std::size_t>(i)] ? std::string() : v;
}

std::string_view TDbQuery::AsStringView(int i) {
  const std::string& v = Value(i);
  return row_->nulls[static_cast<std::size_t>(i)] ? std::string_view() : std::string_view(v);
}

bool TDbQuery::IsNull(int i) {
  Value(i);
  return row_->nulls[static_cast<std::size_t>(i)] != 0;
}

}  // namespace db
