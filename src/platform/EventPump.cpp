#include "platform/EventPump.h"

#include <QCoreApplication>
#include <QObject>
#include <chrono>
#include <thread>

namespace platform {

void PumpEvents() {
  if (QCoreApplication::instance() == nullptr) return;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool WaitForEvents(int ms) {
  if (ms <= 0) return false;
  using Clock = std::chrono::steady_clock;
  if (QCoreApplication::instance() == nullptr) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return false;
  }
  // A timer on a private object bounds the blocking wait: its event wakes the dispatcher when
  // nothing else arrives first.
  QObject alarm;
  const int timerId = alarm.startTimer(std::chrono::milliseconds(ms), Qt::PreciseTimer);
  const auto start = Clock::now();
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  alarm.killTimer(timerId);
  return Clock::now() - start < std::chrono::milliseconds(ms);
}

}  // namespace platform
