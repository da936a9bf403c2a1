#include "ui/QtEventPump.h"

#include <QCoreApplication>
#include <QObject>
#include <chrono>

namespace ui {

void QtEventPump::PumpEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

bool QtEventPump::WaitForEvents(int ms) {
  using Clock = std::chrono::steady_clock;
  // A timer on a private object bounds the blocking wait: its event wakes the dispatcher when
  // nothing else arrives first.
  QObject alarm;
  const int timerId = alarm.startTimer(std::chrono::milliseconds(ms), Qt::PreciseTimer);
  const auto start = Clock::now();
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  alarm.killTimer(timerId);
  return Clock::now() - start < std::chrono::milliseconds(ms);
}

}  // namespace ui
