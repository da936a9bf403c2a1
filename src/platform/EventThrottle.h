#pragma once
// Handles pending window events from inside tight loops (per column, per row) without paying for
// an event-loop pass on every call: events are handled when a short interval has passed since the
// last pass, which keeps the windows responsive while the loop runs at full speed.

#include <chrono>

namespace platform {

class TEventThrottle {
 public:
  explicit TEventThrottle(std::chrono::milliseconds interval = std::chrono::milliseconds(15));

  // Handles pending events when the interval has passed since the last pass.
  void Pump();
  // Handles pending events now.
  void PumpNow();

 private:
  std::chrono::steady_clock::duration interval_;
  std::chrono::steady_clock::time_point last_;
};

}  // namespace platform
