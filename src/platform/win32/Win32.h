#pragma once

// Private to the Win32 implementation: the system headers in the order they
// need, and the socket layer's start.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// winsock2.h must come before windows.h, which would pull in the old one.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdint>

namespace platform {

namespace win32 {

// Starts Windows Sockets once for the life of the process, so the socket
// calls work without a startWinsock first, as they do on POSIX.
bool ensureSocketLayer();

}  // namespace win32

}  // namespace platform
