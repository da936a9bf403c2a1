// The background sender of the record import against the stand-in target: commands run in the
// order given, inside the caller's transaction, and a failing command's error reaches the caller
// at the next Send or Wait, so the transaction can still be rolled back.

#include <gtest/gtest.h>

#include "db/DbConnection.h"
#include "db/DbError.h"
#include "db/DbQuery.h"
#include "migration/StatementSender.h"
#include "platform/EventPump.h"
#include "support/StandIn.h"

using namespace migration;

namespace {

// An event pump that counts how often the sender's waits handled events.
struct CountingPump : platform::IEventPump {
  int pumped = 0;
  void PumpEvents() override { ++pumped; }
  bool WaitForEvents(int) override { return false; }
};

TEST(StatementSender, CommandsRunInOrderInsideTheTransaction) {
  standin::ScratchTable t("hy", "sender", "n integer primary key, prev integer");
  auto con = standin::Connect("hy");
  db::TDbQuery execute(con.get());
  con->BeginTrans();
  {
    TStatementSender sender(execute);
    for (int i = 1; i <= 50; ++i) {
      // Each row refers to the one before it, so a command run early or twice fails.
      sender.Send("insert into " + t.name() + " values (" + std::to_string(i) + ", (select max(n) from " + t.name() +
                  "))");
    }
    sender.Wait();
  }
  EXPECT_EQ(standin::Scalar(*con, "select count(*) from " + t.name() + " where coalesce(prev, 0) = n - 1"), "50");
  con->RollbackTrans();
  EXPECT_EQ(standin::Scalar(*con, "select count(*) from " + t.name()), "0");
}

TEST(StatementSender, AFailureSurfacesAtTheNextCallAndNotTwice) {
  standin::ScratchTable t("hy", "sender", "n integer primary key");
  auto con = standin::Connect("hy");
  db::TDbQuery execute(con.get());
  con->BeginTrans();
  TStatementSender sender(execute);
  sender.Send("insert into " + t.name() + " values (1)");
  sender.Send("insert into " + t.name() + " values (1)");  // duplicate key
  EXPECT_THROW(sender.Send("insert into " + t.name() + " values (2)"), db::EDatabaseError);
  EXPECT_NO_THROW(sender.Wait());
  sender.Send("insert into " + t.name() + " values (1)");
  EXPECT_THROW(sender.Wait(), db::EDatabaseError);
  EXPECT_NO_THROW(sender.Wait());
  con->RollbackTrans();
  EXPECT_EQ(standin::Scalar(*con, "select count(*) from " + t.name()), "0");
}

TEST(StatementSender, DestroyingItWaitsForTheCommandInFlightHandlingEvents) {
  CountingPump pump;
  platform::ScopedEventPump installed(&pump);
  auto con = standin::Connect("hy");
  db::TDbQuery execute(con.get());
  {
    TStatementSender sender(execute);
    sender.Send("select pg_sleep(0.3)");
  }
  EXPECT_GT(pump.pumped, 1);
  // The connection is free again at once: a rollback or a close here must not meet a busy statement.
  EXPECT_EQ(standin::Scalar(*con, "select 1"), "1");
  con->SetConnected(false);
}

// A long command (a commit, a truncation) runs off the calling thread, which keeps handling events
// until it is done; the command's error reaches the caller.
TEST(StatementSender, LongWorkRunsWhileEventsAreHandled) {
  CountingPump pump;
  platform::ScopedEventPump installed(&pump);
  auto con = standin::Connect("hy");
  db::TDbQuery execute(con.get());
  execute.SQL().assign(1, "select pg_sleep(0.3)");
  RunHandlingEvents([&] { execute.ExecSQL(); });
  EXPECT_GT(pump.pumped, 1);
  execute.SQL().assign(1, "select * from no_such_table");
  EXPECT_THROW(RunHandlingEvents([&] { execute.ExecSQL(); }), db::EDatabaseError);
  con->SetConnected(false);
}

}  // namespace
