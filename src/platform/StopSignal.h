#pragma once

namespace platform {

// Turns the console's interrupt and a service manager's terminate request
// (SIGINT, SIGTERM; on Windows Ctrl+C, Ctrl+Break and closing the console)
// into a flag that the program polls, so that it can stop its threads and
// flush its output instead of ending on the spot.
void catchStopSignals();

// True once a stop signal has arrived after catchStopSignals.
bool stopSignalled();

}  // namespace platform
