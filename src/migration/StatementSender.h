#pragma once
// Sends commands to the database on a thread of its own, one at a time, so that the next command
// can be prepared while the database works on the previous one. Errors come back to the caller:
// the next Send or Wait raises what the previous command raised.

#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

namespace db {
class TDbQuery;
}  // namespace db

namespace migration {


class TStatementSender {
 public:
  // Commands go through `query` (its connection, its ExecSQL). While a command is in flight the
  // caller must leave the query and its connection alone; Wait returns them.
  explicit TStatementSender(db::TDbQuery& query);
  // Waits for the command in flight; its error, if any, is dropped (the caller is unwinding).
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
