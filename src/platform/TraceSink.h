#pragma once
// Where trace lines go. By default each line goes to the debugger output on Windows and to
// standard error, followed by a line end, elsewhere; tests install a capturing sink.

#include <functional>
#include <string_view>

namespace platform {

using TraceSinkFn = std::function<void(std::string_view line)>;

// Installs a sink; an empty function restores the default (standard error).
void SetTraceSink(TraceSinkFn sink);

// Hands one finished line to the current sink.
void EmitTrace(std::string_view line);

}  // namespace platform
