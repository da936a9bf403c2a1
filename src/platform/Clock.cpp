#include "platform/Clock.h"

namespace platform {
namespace {

class SystemClock : public IClock {
 public:
  LocalDateTime Now() const override { return ToLocal(std::chrono::system_clock::now()); }
};

const IClock*& Current() {
  static const IClock* current = nullptr;
  return current;
}

}  // namespace

LocalDateTime ToLocal(std::chrono::system_clock::time_point tp) {
  const std::time_t t = std::chrono::system_clock::to_time_t(tp);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(tp.time_since_epoch()).count() % 1000;
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
          static_cast<int>(ms < 0 ? ms + 1000 : ms)};
}

const IClock& Clock() {
  static SystemClock system;
  return Current() ? *Current() : system;
}

void SetClock(const IClock* clock) { Current() = clock; }

}  // namespace platform
