#pragma once
// How the console service is told to stop: Enter on a terminal, SIGINT or SIGTERM.
// End of input (no terminal, as under systemd) does not stop it.
namespace platform {

// Blocks SIGINT and SIGTERM in the calling thread and every thread it starts later;
// call first thing in main, before any thread exists.
void BlockStopSignals();
// Waits until Enter is pressed on the input (standard input unless told otherwise), or
// SIGINT or SIGTERM arrives. When the input ends, only the signals are waited for.
void WaitForStopRequest(int inputFd = 0);

}  // namespace platform
