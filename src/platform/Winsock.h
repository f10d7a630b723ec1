#pragma once

#include <cstdint>

namespace platform {

// Starts the socket layer at the version word major + 256 * minor. True on
// success; a major version of 0 is refused as Windows Sockets does. Each
// successful start needs its own cleanup.
bool startWinsock(uint16_t versionWord);

// 0, or -1 when no start is left to clean up.
int32_t cleanupWinsock();

}  // namespace platform
