#include "platform/EventPump.h"

#include <chrono>
#include <exception>
#include <thread>

namespace platform {
namespace {

IEventPump*& Current() {
  static IEventPump* current = nullptr;
  return current;
}

}  // namespace

void SetEventPump(IEventPump* pump) { Current() = pump; }

ScopedEventPump::ScopedEventPump(IEventPump* pump) : previous_(Current()) { SetEventPump(pump); }
ScopedEventPump::~ScopedEventPump() { SetEventPump(previous_); }

void PumpEvents() {
  if (Current() != nullptr) Current()->PumpEvents();
}

bool WaitForEvents(int ms) {
  if (ms <= 0) return false;
  if (Current() == nullptr) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return false;
  }
  return Current()->WaitForEvents(ms);
}

void RunHandlingEvents(const std::function<void()>& work, const std::function<void()>& tick) {
  std::mutex mutex;
  std::condition_variable changed;
  bool finished = false;
  std::exception_ptr failure;
  std::thread worker([&] {
    std::exception_ptr caught;
    try {
      work();
    } catch (...) {
      caught = std::current_exception();
    }
    std::lock_guard lock(mutex);
    failure = caught;
    finished = true;
    changed.notify_all();
  });
  std::unique_lock lock(mutex);
  try {
    WaitHandlingEvents(lock, changed, [&] { return finished; }, tick);
  } catch (...) {
    // The tick raised: the work may still use what the caller is about to release.
    changed.wait(lock, [&] { return finished; });
    lock.unlock();
    worker.join();
    throw;
  }
  lock.unlock();
  worker.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace platform
