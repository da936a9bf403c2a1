#include "platform/EventThrottle.h"

#include "platform/EventPump.h"

namespace platform {

TEventThrottle::TEventThrottle(std::chrono::milliseconds interval)
    : interval_(interval), last_(std::chrono::steady_clock::now()) {}

void TEventThrottle::Pump() {
  if (std::chrono::steady_clock::now() - last_ >= interval_) PumpNow();
}

void TEventThrottle::PumpNow() {
  platform::PumpEvents();
  last_ = std::chrono::steady_clock::now();
}

}  // namespace platform
