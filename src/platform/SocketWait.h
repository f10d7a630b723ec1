#pragma once

#include "platform/UdpSocket.h"

#include <cstdint>

namespace platform {

enum class SocketWait { readable, timedOut, failed };

// Blocks until a datagram waits on the socket or timeoutMs passes. For
// programs that talk to one peer at a time and need no event loop.
SocketWait waitUntilReadable(SocketHandle socket, uint32_t timeoutMs);

}  // namespace platform
