#pragma once

// Private to the Win32 implementation: the system headers in the order they
// need, the socket layer's start, and the ties between sockets and events.

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

#include "platform/NativeEvent.h"
#include "platform/UdpSocket.h"

#include <cstdint>

namespace platform {

// The event behind an EventHandle, and the socket that WSAEventSelect tied
// to it (guarded by the tie lock). Keeping the tie lets closing either side
// undo it, and an event serve one socket only, as the interface promises.
struct NativeEvent {
    HANDLE handle = nullptr;
    SOCKET tiedSocket = INVALID_SOCKET;
};

namespace win32 {

// Windows socket handles are kernel handles, small enough for 32 bits; the
// widening keeps -1 as INVALID_SOCKET.
inline SOCKET toSocket(SocketHandle socket)
{
    return static_cast<SOCKET>(static_cast<intptr_t>(socket));
}

// Starts Windows Sockets once for the life of the process, so the socket
// calls work without a startWinsock first, as they do on POSIX. The
// program's own startWinsock/cleanupWinsock pairs count on top of it.
bool ensureSocketLayer();

// closesocket, also untying the socket from its event; and the untie of an
// event that is about to close from its socket.
int closeTiedSocket(SOCKET socket);
void untieEvent(NativeEvent* event);

}  // namespace win32

}  // namespace platform
