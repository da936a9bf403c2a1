#pragma once
// The nested Enter/Leave trace that a developer follows a backup or restore with, and two small
// utilities every procedure uses: a wait that keeps the window alive and a directory deletion.

#include <string>
#include <string_view>

namespace diag {

// Nesting depth of the trace: Enter lines not yet closed by a Leave line. Never repaired, so a
// routine that skips its Leave line leaves later lines one blank deeper.
int TraceDepth();
void SetTraceDepth(int depth);  // for tests

// One plain line at the current depth (no blanks at depth 0 or below).
void TraceLine(std::string_view text);
// "Enter <name>" at the current depth, then one level deeper.
void TraceEnter(std::string_view name);
// One level up, then "Leave <name>" at the new depth.
void TraceLeave(std::string_view name);

// Returns after `ms` milliseconds, handling window events meanwhile through the program's event
// pump (platform::SetEventPump); without one it just waits. 0 or less returns at once.
void DelayPumping(int ms);

// Deletes the directory and everything below it; true on success. Traces an Enter and a Leave
// line labelled with the path. Never raises.
bool SHMyDelDirectory(const std::string& path);

}  // namespace diag
