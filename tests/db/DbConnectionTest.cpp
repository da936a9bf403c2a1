// The connection against the stand-in servers: opening and closing, a refused connect, and
// transactions that commit, roll back and end with autocommit on again.

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <thread>

#include "db/DbCatalog.h"
#include "db/DbConnection.h"
#include "db/DbError.h"
#include "db/DbQuery.h"
#include "support/StandIn.h"

using namespace db;
using standin::Connect;
using standin::Exec;
using standin::Scalar;

TEST(DbConnection, BothProfilesReachTheirDatabase) {
  for (const auto& [key, database, user] : {std::tuple{"bf", "ZOR", "SYSTEM"}, std::tuple{"hy", "STAT", "QIMZORTJ"}}) {
    auto c = Connect(key);
    EXPECT_TRUE(c->Connected());
    EXPECT_EQ(Scalar(*c, "select current_database()"), database);
    EXPECT_EQ(Scalar(*c, "select current_user"), user);
  }
}

TEST(DbConnection, ARefusedConnectRaisesTheDriversMessageAndStaysClosed) {
  TDbConnection c;
  std::string text = BuildConnectionString("bf");
  text.replace(text.find("PORT=59021"), 10, "PORT=1");
  c.SetConnectionString(text);
  try {
    c.SetConnected(true);
    ADD_FAILURE() << "connected to port 1";
  } catch (const EDatabaseError& e) {
    EXPECT_FALSE(std::string(e.what()).empty());
    EXPECT_NE(std::string(e.what()).find("onnect"), std::string::npos) << e.what();
    EXPECT_EQ(e.sqlState().size(), 5u) << e.sqlState();
  }
  EXPECT_FALSE(c.Connected());
  EXPECT_THROW(c.BeginTrans(), EDatabaseError);
  c.SetConnected(false);  // closing a closed connection is harmless
}

TEST(DbConnection, AWrongPasswordIsRefused) {
  TDbConnection c;
  std::string text = BuildConnectionString("hy");
  text.replace(text.find("PWD=") + 4, 32, "wrong");
  c.SetConnectionString(text);
  EXPECT_THROW(c.SetConnected(true), EDatabaseError);
  EXPECT_FALSE(c.Connected());
}

TEST(DbConnection, OpeningAnOpenConnectionKeepsIt) {
  auto c = Connect("bf");
  const std::string pid = Scalar(*c, "select pg_backend_pid()");
  c->SetConnected(true);
  EXPECT_EQ(Scalar(*c, "select pg_backend_pid()"), pid);
  c->SetConnected(false);
  EXPECT_FALSE(c->Connected());
  TDbQuery q(c.get());
  q.SQL().push_back("select 1");
  EXPECT_THROW(q.Open(), EDatabaseError);
}

class DbTransaction : public ::testing::Test {
 protected:
  standin::ScratchTable table{"hy", "trans", "id integer primary key, note varchar(20)"};
  std::unique_ptr<TDbConnection> con = Connect("hy");
  std::unique_ptr<TDbConnection> observer = Connect("hy");

  std::string Count() { return Scalar(*observer, "select count(*) from " + table.name()); }
  void Insert(int id) { Exec(*con, "insert into " + table.name() + " values (" + std::to_string(id) + ", 'n')"); }
};

TEST_F(DbTransaction, CommitMakesTheRowsVisibleAndAutocommitReturns) {
  con->BeginTrans();
  EXPECT_TRUE(con->InTransaction());
  Insert(1);
  Insert(2);
  EXPECT_EQ(Count(), "0");  // not yet committed
  con->CommitTrans();
  EXPECT_FALSE(con->InTransaction());
  EXPECT_EQ(Count(), "2");
  Insert(3);  // autocommit again
  EXPECT_EQ(Count(), "3");
}

TEST_F(DbTransaction, RollbackDiscardsTheRows) {
  Insert(1);
  con->BeginTrans();
  Insert(2);
  Insert(3);
  con->RollbackTrans();
  EXPECT_FALSE(con->InTransaction());
  EXPECT_EQ(Count(), "1");
  Insert(4);
  EXPECT_EQ(Count(), "2");
}

TEST_F(DbTransaction, AFailedStatementInsideCanBeRolledBack) {
  con->BeginTrans();
  Insert(1);
  EXPECT_THROW(Insert(1), EDatabaseError);  // duplicate key
  Insert(2);  // the driver undoes the failing statement alone: the record import relies on it
  con->RollbackTrans();
  EXPECT_EQ(Count(), "0");
  Insert(1);
  EXPECT_EQ(Count(), "1");
}

TEST_F(DbTransaction, ClosingRollsBackAnOpenTransaction) {
  con->BeginTrans();
  Insert(1);
  con->SetConnected(false);
  EXPECT_FALSE(con->InTransaction());
  EXPECT_EQ(Count(), "0");
}

TEST_F(DbTransaction, EndingWithoutBeginningIsAnError) {
  EXPECT_THROW(con->CommitTrans(), EDatabaseError);
  EXPECT_THROW(con->RollbackTrans(), EDatabaseError);
  con->BeginTrans();
  EXPECT_THROW(con->BeginTrans(), EDatabaseError);
  con->RollbackTrans();
}

TEST_F(DbTransaction, StatementsWhileAQueryIsOpenAreCommittedAtOnce) {
  // A query walked only part of the way must not keep later statements of the same connection
  // from being committed (the restore looks something up and then updates).
  for (int i = 1; i <= 3000; ++i) {
    if (i % 500 == 1) {
      std::string values;
      for (int k = i; k < i + 500; ++k) values += (values.empty() ? "(" : ",(") + std::to_string(k) + ",'n')";
      Exec(*con, "insert into " + table.name() + " values " + values);
    }
  }
  TDbQuery lookup(con.get());
  lookup.SQL().push_back("select id from " + table.name() + " order by id");
  lookup.Open();
  EXPECT_EQ(lookup.AsString(0), "1");
  Exec(*con, "update " + table.name() + " set note = 'changed' where id = 2");
  EXPECT_EQ(Scalar(*observer, "select note from " + table.name() + " where id = 2"), "changed");
  lookup.Next();
  EXPECT_EQ(lookup.AsString(0), "2");
}

// A failed end of a transaction (refused before it reaches the server) never commits: the
// connection is back in autocommit after a rollback that went through, or closed, its session
// gone on the server and the transaction with it.
TEST_F(DbTransaction, AFailedEndOfTransactionNeverCommits) {
  // commit or rollback, ends refused in a row, raises, stays connected
  for (const auto& [commit, failures, raises, connected] :
       {std::tuple{true, 1, true, true}, {true, 2, true, false}, {false, 1, false, true}, {false, 2, true, false}}) {
    con = Connect("hy");
    const std::string pid = Scalar(*con, "select pg_backend_pid()"), what = std::to_string(commit + 2 * failures);
    con->BeginTrans();
    Insert(1);
    con->SetEndTransactionFault([&, refused = 0](bool) mutable { return refused++ < failures; });
    bool raised = false;
    try {
      commit ? con->CommitTrans() : con->RollbackTrans();
    } catch (const EDatabaseError&) {
      raised = true;
    }
    EXPECT_EQ(raised, raises) << what;
    EXPECT_EQ(con->Connected(), connected) << what;
    for (int i = 0; i < 100 && Scalar(*observer, "select count(*) from pg_stat_activity where pid = " + pid) != (connected ? "1" : "0"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(Scalar(*observer, "select count(*) from pg_stat_activity where pid = " + pid), connected ? "1" : "0") << what;
    EXPECT_EQ(Count(), "0") << what;
  }
}

// The catalog names the tables on both sides of a foreign key, the name written in either case.
TEST(DbCatalog, TablesOnEitherSideOfAForeignKey) {
  standin::ScratchTable parent("hy", "parent", "id integer primary key");
  standin::ScratchTable child("hy", "child", "id integer references " + parent.name());
  auto c = Connect("hy");
  std::string upper = child.name();
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  for (const std::string& name : {parent.name(), upper}) EXPECT_TRUE(TakesPartInForeignKey(*c, name)) << name;
  EXPECT_FALSE(TakesPartInForeignKey(*c, "rptreport"));
}
