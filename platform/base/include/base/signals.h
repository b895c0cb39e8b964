// The signals that stop a program (SIGINT, SIGTERM), taken as events on the main thread rather than by a
// handler that interrupts whatever runs.
#pragma once

namespace tavrin::base::signals {

// Holds the stop signals back from the calling thread and every thread it starts afterwards: call it
// before any thread starts.
void BlockStopSignals();
// Waits until a stop signal arrives (BlockStopSignals first); returns its number.
int WaitForStopSignal();

}  // namespace tavrin::base::signals
