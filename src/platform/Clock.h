#pragma once
// The local wall clock, replaceable in tests (the archive name proposal and the log file names
// depend on today's date).

#include <chrono>
#include <ctime>

namespace platform {

struct LocalDateTime {
  int year = 1980, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

class IClock {
 public:
  virtual ~IClock() = default;
  virtual LocalDateTime Now() const = 0;
};

// The clock in use: the system's local time unless a test installed another (not owned).
const IClock& Clock();
void SetClock(const IClock* clock);

// Converts a system time point to local time.
LocalDateTime ToLocal(std::chrono::system_clock::time_point tp);

}  // namespace platform
