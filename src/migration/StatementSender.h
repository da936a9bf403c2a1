#pragma once
// Database work off the user-interface thread. A command can keep the database busy for a long
// moment (the commit of a million rows, the truncation of large tables, a multi-row INSERT on a
// loaded server); the thread that started it keeps handling window events meanwhile, in short
// slices, so that the windows repaint and react. Errors come back to the caller.

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/EventPump.h"

namespace db {
class TDbQuery;
}  // namespace db

namespace migration {

// Runs one database command off the user-interface thread; the command must leave the trace alone,
// as it leaves the windows.
using platform::RunHandlingEvents;

// Sends commands to the database on a thread of its own, one at a time, so that the next command
// can be prepared while the database works on the previous one: the next Send or Wait raises
// what the previous command raised. Both handle events while they wait.
class TStatementSender {
 public:
  // Commands go through `query` (its connection, its ExecSQL). While a command is in flight the
  // caller must leave the query and its connection alone; Wait returns them.
  explicit TStatementSender(db::TDbQuery& query);
  // Waits for the command in flight, handling events as Wait does; its error, if any, is dropped
  // (the caller is unwinding).
  ~TStatementSender();
  TStatementSender(const TStatementSender&) = delete;
  TStatementSender& operator=(const TStatementSender&) = delete;

  // Waits for the previous command (raising its error), then starts `command`.
  void Send(std::string command);
  // Waits until no command is in flight; raises the error of the last one.
  void Wait();

 private:
  void Run();

  db::TDbQuery& query_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string command_;
  bool pending_ = false;   // a command is handed over or running
  bool stopping_ = false;
  std::exception_ptr error_;
  std::thread thread_;
};

}  // namespace migration
