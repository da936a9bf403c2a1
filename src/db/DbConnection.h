#pragma once
// The program's one database connection (conADOConParty): an ODBC connection through the driver
// manager, opened with a connection string, with manual transactions on demand.

#include <functional>
#include <memory>
#include <string>

namespace db {

class TDbConnection {
 public:
  TDbConnection();
  ~TDbConnection();
  TDbConnection(const TDbConnection&) = delete;
  TDbConnection& operator=(const TDbConnection&) = delete;

  // Stored as given; handed to the driver manager as UTF-16 (SQLDriverConnectW) when opening.
  void SetConnectionString(const std::string& utf8);
  const std::string& ConnectionString() const;

  bool Connected() const;
  // false: rolls back an open transaction and closes (never raises). true: opens with the current
  // connection string (raises EDatabaseError with the driver's text). Setting the current state
  // again does nothing.
  void SetConnected(bool connected);

  // BeginTrans switches autocommit off; CommitTrans / RollbackTrans end the transaction and switch
  // autocommit back on. All raise EDatabaseError, also when used without an open connection or
  // (Commit/Rollback) without an open transaction. After a failed end of the transaction it is
  // rolled back (again) and autocommit returns only once that rollback went through; otherwise
  // the connection is closed without switching autocommit on (which would commit), and the
  // server drops the transaction with the session. A rollback that succeeds at its second attempt
  // does not raise; a failed commit always does, and has committed nothing that the failure
  // could hide. A connection that refuses autocommit after the end is closed too.
  void BeginTrans();
  void CommitTrans();
  void RollbackTrans();
  bool InTransaction() const;

  // For tests of the failure paths: `fails` is asked before every end of a transaction (commit or
  // rollback) and a true answer makes that end fail as the driver's would, before it reaches the
  // server. Empty by default.
  void SetEndTransactionFault(std::function<bool(bool commit)> fails);

  // Whether the server reads a backslash inside '...' as itself (its standard_conforming_strings,
  // read when the connection opens). Off on PostgreSQL-family servers before 9.1 and on the
  // KingbaseES generations built on them: there a backslash starts an escape sequence. A server
  // that does not know the setting counts as off. True while closed.
  bool StandardConformingStrings() const;

  int CommandTimeout = 1000;    // seconds, applied to every statement
  int ConnectionTimeout = 5;    // seconds, the login time-out

  // The ODBC connection handle (SQLHDBC) for statements; raises EDatabaseError when closed.
  void* NativeHandle() const;
  // A token that lives exactly as long as the current session: closing the connection (or
  // destroying it) frees every statement of the session in the driver, so a statement holder
  // that finds its token expired must neither use nor free its handle again.
  std::weak_ptr<const void> Session() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace db
