#include "platform/DatagramSocket.h"

#include "platform/win32/Win32.h"

namespace platform {

namespace win32 {

// Never cleaned up: the process's end releases the layer, and a socket or
// a name look-up may come at any time before it.
bool ensureSocketLayer()
{
    static const bool started = [] {
        WSADATA details{};
        return WSAStartup(MAKEWORD(2, 2), &details) == 0;
    }();
    return started;
}

}  // namespace win32

bool startWinsock()
{
    return win32::ensureSocketLayer();
}

}  // namespace platform
