#include "platform/TraceSink.h"

#include <cstdio>
#include <mutex>

#ifdef _WIN32
#include <windows.h>

#include "platform/Win32Text.h"
#endif

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
#ifdef _WIN32
  // The debugger output, where a debug-output viewer follows the trace; wide, so that every
  // character arrives whatever the ANSI code page.
  ::OutputDebugStringW(win32::Widen(line).c_str());
#else
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fputc('\n', stderr);
#endif
}

}  // namespace platform
