#include "db/DbConnection.h"

#include <cctype>
#include <exception>
#include <functional>
#include <string>

#include "db/DbError.h"
#include "db/OdbcApi.h"
#include "db/OdbcHandle.h"
#include "db/OdbcText.h"

namespace db {

struct TDbConnection::Impl {
  std::string connectionString;
  OdbcHandle env;
  OdbcHandle dbc;
  bool connected = false;
  bool inTransaction = false;
  bool standardConformingStrings = true;
  std::shared_ptr<const void> session;
  std::function<bool(bool commit)> failEndTransaction;

  void SetAutoCommit(bool on) {
    OdbcCheck(SQLSetConnectAttrW(dbc.get(), SQL_ATTR_AUTOCOMMIT,
                                 reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)),
                                 SQL_IS_UINTEGER),
              OdbcHandle::kDbc, dbc.get(), "SQLSetConnectAttr(SQL_ATTR_AUTOCOMMIT)");
  }

  // One SQLEndTran; a failure injected by the seam counts as the driver's, without reaching it.
  void EndTran(SQLSMALLINT completion) {
    const bool commit = completion == SQL_COMMIT;
    if (failEndTransaction && failEndTransaction(commit)) {
      throw EDatabaseError(commit ? "SQLEndTran(SQL_COMMIT) failed (injected)" : "SQLEndTran(SQL_ROLLBACK) failed (injected)",
                           "HY000");
    }
    OdbcCheck(SQLEndTran(SQL_HANDLE_DBC, dbc.get(), completion), OdbcHandle::kDbc, dbc.get(),
              commit ? "SQLEndTran(SQL_COMMIT)" : "SQLEndTran(SQL_ROLLBACK)");
  }

  // Switching autocommit on commits whatever transaction the driver still holds open, so it is
  // done only once the transaction has ended. A connection that cannot be switched back is
  // dropped: statements after it would run in a transaction that nobody ends.
  void AutoCommitOrDrop() noexcept {
    try {
      SetAutoCommit(true);
    } catch (...) {
      Close();
    }
  }

  void EndTransaction(SQLSMALLINT completion) {
    if (!connected) throw EDatabaseError("Connection is closed: no transaction to end");
    if (!inTransaction) throw EDatabaseError("No transaction is active");
    // The transaction counts as ended whatever the outcome: afterwards the connection is either
    // back in autocommit with nothing of the transaction left open, or closed.
    inTransaction = false;
    std::exception_ptr failure;
    try {
      EndTran(completion);
    } catch (...) {
      failure = std::current_exception();
    }
    if (!failure) {
      AutoCommitOrDrop();
      return;
    }
    // After a failed end the transaction may still be open in the driver (a commit that never
    // reached the server, a rollback refused): it is rolled back (again). Should that fail too, the
    // connection is dropped with autocommit untouched and the server aborts the transaction when
    // the session ends; never is a failure reported over committed changes.
    bool rolledBack = false;
    try {
      EndTran(SQL_ROLLBACK);
      rolledBack = true;
    } catch (...) {
    }
    if (rolledBack) {
      AutoCommitOrDrop();
      // A rollback that went through at the second attempt has done what was asked.
      if (completion == SQL_ROLLBACK) return;
    } else {
      Close();
    }
    std::rethrow_exception(failure);
  }

  void Close() noexcept {
    // Statement holders learn first that their handles are gone: the disconnect frees them.
    session.reset();
    if (dbc) {
      if (connected) {
        if (inTransaction) SQLEndTran(SQL_HANDLE_DBC, dbc.get(), SQL_ROLLBACK);
        SQLDisconnect(dbc.get());
      }
      dbc.reset();
    }
    connected = false;
    inTransaction = false;
    standardConformingStrings = true;
  }
};

namespace {

// psqlODBC (which plays the KingbaseES drivers in tests and demos) reads a whole result into
// memory before the first row is handed over, unless it is told to fetch through a server-side
// cursor in batches. Its connection attributes for that are driver-specific numbers, so they are
// set only when the driver is psqlODBC itself; other drivers keep their own behaviour.
constexpr SQLINTEGER kPsqlOdbcUseDeclareFetch = 65539;
constexpr SQLINTEGER kPsqlOdbcFetch = 65541;
constexpr SQLULEN kRowsPerBatch = 1000;

void ReadRowsInBatches(SQLHDBC dbc) {
  SQLWCHAR name[64] = {};
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLGetInfoW(dbc, SQL_DRIVER_NAME, name, sizeof name, &length))) return;
  std::string driver;
  for (const SQLWCHAR* p = name; *p && p < name + 63; ++p) driver.push_back(static_cast<char>(*p < 128 ? std::tolower(*p) : '?'));
  if (driver.rfind("psqlodbc", 0) != 0) return;
  SQLSetConnectAttrW(dbc, kPsqlOdbcUseDeclareFetch, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(1)), SQL_IS_INTEGER);
  SQLSetConnectAttrW(dbc, kPsqlOdbcFetch, reinterpret_cast<SQLPOINTER>(kRowsPerBatch), SQL_IS_INTEGER);
}

// The server's standard_conforming_strings. A server that does not know the setting (the SHOW
// fails) reads backslashes as escapes, as servers did before it existed.
bool ReadStandardConformingStrings(SQLHDBC dbc) noexcept {
  try {
    OdbcHandle stmt(OdbcHandle::kStmt, dbc);
    std::u16string show = u"SHOW standard_conforming_strings";
    if (!SQL_SUCCEEDED(SQLExecDirectW(stmt.get(), reinterpret_cast<SQLWCHAR*>(show.data()), SQL_NTS))) return false;
    if (!SQL_SUCCEEDED(SQLFetch(stmt.get()))) return false;
    char value[16] = {};
    SQLLEN indicator = 0;
    if (!SQL_SUCCEEDED(SQLGetData(stmt.get(), 1, SQL_C_CHAR, value, sizeof value, &indicator))) return false;
    return indicator != SQL_NULL_DATA && std::string(value) == "on";
  } catch (...) {
    return false;
  }
}

}  // namespace

TDbConnection::TDbConnection() : impl_(std::make_unique<Impl>()) {}

TDbConnection::~TDbConnection() { impl_->Close(); }

void TDbConnection::SetConnectionString(const std::string& utf8) { impl_->connectionString = utf8; }

const std::string& TDbConnection::ConnectionString() const { return impl_->connectionString; }

bool TDbConnection::Connected() const { return impl_->connected; }

void TDbConnection::SetConnected(bool connected) {
  Impl& d = *impl_;
  if (!connected) {
    d.Close();
    return;
  }
  if (d.connected) return;

  if (!d.env) {
    OdbcHandle env(OdbcHandle::kEnv, nullptr);
    OdbcCheck(SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
              OdbcHandle::kEnv, env.get(), "SQLSetEnvAttr(SQL_ATTR_ODBC_VERSION)");
    d.env = std::move(env);
  }
  OdbcHandle dbc(OdbcHandle::kDbc, d.env.get());
  OdbcCheck(SQLSetConnectAttrW(dbc.get(), SQL_ATTR_LOGIN_TIMEOUT,
                               reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(ConnectionTimeout > 0 ? ConnectionTimeout : 0)),
                               SQL_IS_UINTEGER),
            OdbcHandle::kDbc, dbc.get(), "SQLSetConnectAttr(SQL_ATTR_LOGIN_TIMEOUT)");

  std::u16string wide;
  try {
    wide = Utf8ToUtf16(d.connectionString);
  } catch (const std::exception&) {
    throw EDatabaseError("The connection string is not valid UTF-8 text");
  }
  SQLSMALLINT outLength = 0;
  SQLRETURN rc = SQLDriverConnectW(dbc.get(), nullptr, reinterpret_cast<SQLWCHAR*>(wide.data()), SQL_NTS,
                                   nullptr, 0, &outLength,
                                   SQL_DRIVER_NOPROMPT);
  OdbcCheck(rc, OdbcHandle::kDbc, dbc.get(), "SQLDriverConnect");
  d.standardConformingStrings = ReadStandardConformingStrings(dbc.get());
  ReadRowsInBatches(dbc.get());
  d.dbc = std::move(dbc);
  d.session = std::make_shared<int>(0);
  d.connected = true;
  d.inTransaction = false;
}

void TDbConnection::BeginTrans() {
  Impl& d = *impl_;
  if (!d.connected) throw EDatabaseError("Connection is closed: cannot begin a transaction");
  if (d.inTransaction) throw EDatabaseError("A transaction is already active");
  d.SetAutoCommit(false);
  d.inTransaction = true;
}

void TDbConnection::SetEndTransactionFault(std::function<bool(bool commit)> fails) {
  impl_->failEndTransaction = std::move(fails);
}

void TDbConnection::CommitTrans() { impl_->EndTransaction(SQL_COMMIT); }

void TDbConnection::RollbackTrans() { impl_->EndTransaction(SQL_ROLLBACK); }

bool TDbConnection::InTransaction() const { return impl_->inTransaction; }

bool TDbConnection::StandardConformingStrings() const { return impl_->standardConformingStrings; }

void* TDbConnection::NativeHandle() const {
  if (!impl_->connected) throw EDatabaseError("Operation is not allowed when the connection is closed");
  return impl_->dbc.get();
}

std::weak_ptr<const void> TDbConnection::Session() const { return impl_->session; }

}  // namespace db
