#pragma once
// Handling pending window messages from inside long work on the user-interface thread. The
// program installs the event handling of its window system; the window-free libraries only call
// through it. Without an installed pump nothing is handled and a wait simply sleeps, which is
// what a console tool such as dmptool and the headless tests need.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace platform {

class IEventPump {
 public:
  virtual ~IEventPump() = default;
  // Handles every pending event of the calling thread, then returns.
  virtual void PumpEvents() = 0;
  // Waits up to `ms` (> 0) milliseconds for at least one event and handles what arrives. Returns
  // false when the time ran out without an event.
  virtual bool WaitForEvents(int ms) = 0;
};

// Installs the program's event handling (not owned); nullptr removes it.
void SetEventPump(IEventPump* pump);

// Installs an event pump for the lifetime of the guard and restores the previous one afterwards.
class ScopedEventPump {
 public:
  explicit ScopedEventPump(IEventPump* pump);
  ~ScopedEventPump();
  ScopedEventPump(const ScopedEventPump&) = delete;
  ScopedEventPump& operator=(const ScopedEventPump&) = delete;

 private:
  IEventPump* previous_;
};

// Handles every pending event through the installed pump; does nothing without one.
void PumpEvents();

// Waits up to `ms` milliseconds for an event through the installed pump; without one it sleeps
// for the whole time. Returns false when the time ran out without an event (at once for ms <= 0).
bool WaitForEvents(int ms);

// How long a thread waiting for another one goes without handling events: well inside what a user
// notices.
inline constexpr std::chrono::milliseconds kEventSlice(10);

// Waits on `changed` until `done` holds, calling `tick` (PumpEvents when no tick is given) with the
// lock released between slices of kEventSlice, so that the other thread can report meanwhile.
// Returns, or raises what `tick` raised, with the lock held.
template <typename Done>
void WaitHandlingEvents(std::unique_lock<std::mutex>& lock, std::condition_variable& changed, Done done,
                        const std::function<void()>& tick = {}) {
  while (!changed.wait_for(lock, kEventSlice, done)) {
    lock.unlock();
    try {
      if (tick) {
        tick();
      } else {
        PumpEvents();
      }
    } catch (...) {
      lock.lock();
      throw;
    }
    lock.lock();
  }
}

// Runs `work` on a thread of its own and returns when it is done, meanwhile calling `tick` on the
// calling thread every few milliseconds (PumpEvents when no tick is given), so that a command that
// keeps the database or the disk busy does not freeze the windows. `work` must leave the windows
// alone: they belong to the calling thread. What `work` raised passes on; when `tick` raises (a
// cancel request), `work` is still waited for, since it may use what the caller then releases,
// and the tick's exception passes on.
void RunHandlingEvents(const std::function<void()>& work, const std::function<void()>& tick = {});

}  // namespace platform
