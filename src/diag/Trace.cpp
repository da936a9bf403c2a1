#include "diag/Trace.h"

#include <chrono>
#include <string>

#include "platform/EventPump.h"
#include "platform/FileSystem.h"
#include "platform/TraceSink.h"

namespace diag {
namespace {

int g_depth = 0;

void Emit(std::string_view prefix, std::string_view text) {
  std::string line;
  if (g_depth > 0) line.assign(static_cast<size_t>(g_depth), ' ');
  line.append(prefix);
  line.append(text);
  platform::EmitTrace(line);
}

}  // namespace

int TraceDepth() { return g_depth; }
void SetTraceDepth(int depth) { g_depth = depth; }

void TraceLine(std::string_view text) { Emit({}, text); }

void TraceEnter(std::string_view name) {
  Emit("Enter ", name);
  ++g_depth;
}

void TraceLeave(std::string_view name) {
  --g_depth;
  Emit("Leave ", name);
}

void DelayPumping(int ms) {
  if (ms <= 0) return;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  // The remaining time is rounded up, so the wait never ends before its deadline.
  const auto remaining = [&] {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(left.count());
  };
  for (int left = ms; left > 0; left = remaining()) {
    if (platform::WaitForEvents(left)) platform::PumpEvents();
  }
}

bool SHMyDelDirectory(const std::string& path) {
  // The label carries a full-width colon.
  const std::string label = "SHMyDelDirectory\xEF\xBC\x9A" + path;
  TraceEnter(label);
  const bool ok = platform::RemoveTree(path);
  TraceLeave(label);
  return ok;
}

}  // namespace diag
