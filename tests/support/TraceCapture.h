#pragma once
// Captures the trace lines written while it lives.

#include <string>
#include <vector>

#include "platform/TraceSink.h"

namespace testsupport {

class TraceCapture {
 public:
  TraceCapture() {
    platform::SetTraceSink([this](std::string_view line) { lines.emplace_back(line); });
  }
  ~TraceCapture() { platform::SetTraceSink({}); }
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  bool Contains(const std::string& needle) const {
    for (const auto& l : lines)
      if (l.find(needle) != std::string::npos) return true;
    return false;
  }

  std::vector<std::string> lines;
};

}  // namespace testsupport
