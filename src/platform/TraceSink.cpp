#include "platform/TraceSink.h"

#include <cstdio>
#include <mutex>

namespace platform {
namespace {

std::mutex& SinkMutex() {
  static std::mutex m;
  return m;
}

TraceSinkFn& Sink() {
  static TraceSinkFn sink;
  return sink;
}

}  // namespace

void SetTraceSink(TraceSinkFn sink) {
  std::lock_guard lock(SinkMutex());
  Sink() = std::move(sink);
}

void EmitTrace(std::string_view line) {
  std::lock_guard lock(SinkMutex());
  if (Sink()) {
    Sink()(line);
    return;
  }
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fputc('\n', stderr);
}

}  // namespace platform
