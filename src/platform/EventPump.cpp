#include "platform/EventPump.h"

#include <chrono>
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

}  // namespace platform
