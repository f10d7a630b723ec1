#pragma once

#include <cstdint>

class AddonServer;
class LogQueue;
class Settings;

// The program: banner, settings, the stored catalogue (or a new one), the
// UDP port at game port + 20 (else + 40), the server thread, then the
// console loop until SIGINT or SIGTERM. Returns 0 after an orderly stop
// and -1 after any start-up failure, whose message it has printed.
// settings receives what kitsync.ini says.
int runServer(int argc, char** argv, Settings& settings);

// The game port as configured, or -1 (after the invalid-port message)
// when it is not a number from 1 up to the highest port whose UDP port,
// game port + 20, still exists.
int32_t checkedGamePort(const char* gamePortText);

// Opens the server's UDP port for the game port: + 20, else + 40. False
// after printing why neither could be opened; a port past 65535 is never
// tried, since it would wrap to some other port.
bool openServerPort(AddonServer& server, int32_t gamePort);

// Prints the log in batches until a stop signal, then stops the server
// thread, prints what it left queued and returns.
void runConsoleLoop(AddonServer& server, LogQueue& logQueue);
