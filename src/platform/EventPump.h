#pragma once
// Handling pending window messages from inside long work on the user-interface thread.

namespace platform {

// Handles every pending event of the calling thread, then returns. Does nothing when no
// QCoreApplication exists (headless tools and tests).
void PumpEvents();

// Waits up to `ms` milliseconds for at least one event to arrive and handles what arrives.
// Returns false when the time ran out without an event. Without a QCoreApplication it sleeps.
bool WaitForEvents(int ms);

}  // namespace platform
