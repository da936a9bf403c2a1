#include "migration/StatementSender.h"

#include <utility>

#include "db/DbQuery.h"
#include "platform/EventPump.h"

namespace migration {

TStatementSender::TStatementSender(db::TDbQuery& query) : query_(query), thread_([this] { Run(); }) {}

TStatementSender::~TStatementSender() {
  {
    std::unique_lock lock(mutex_);
    // An error unwinding while a command is in flight must not freeze the windows until the
    // command ends (up to the command time-out). Should handling an event raise, the rest of the
    // wait goes without.
    try {
      platform::WaitHandlingEvents(lock, changed_, [this] { return !pending_; });
    } catch (...) {
      changed_.wait(lock, [this] { return !pending_; });
    }
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void TStatementSender::Send(std::string command) {
  Wait();
  {
    std::lock_guard lock(mutex_);
    command_ = std::move(command);
    pending_ = true;
  }
  changed_.notify_all();
}

void TStatementSender::Wait() {
  std::unique_lock lock(mutex_);
  platform::WaitHandlingEvents(lock, changed_, [this] { return !pending_; });
  if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
}

void TStatementSender::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return pending_ || stopping_; });
    if (!pending_) return;
    std::string command = std::move(command_);
    lock.unlock();
    std::exception_ptr error;
    try {
      query_.Close();
      query_.SQL().assign(1, std::move(command));
      query_.ExecSQL();
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    error_ = error;
    pending_ = false;
    changed_.notify_all();
  }
}

}  // namespace migration
