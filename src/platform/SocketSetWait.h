#pragma once

#include "platform/UdpSocket.h"

#include <cstdint>

namespace platform {

// Blocks until a datagram waits on at least one of count sockets, or
// timeoutMs passes. readable[i] is set to 1 for each socket with data and
// 0 for the others. Returns the number of readable sockets, 0 after the
// time-out, -1 on failure. For load generators that play many clients at
// once; one socket is better served by waitUntilReadable.
int32_t waitForReadableSockets(const SocketHandle* sockets, int32_t count, uint32_t timeoutMs, uint8_t* readable);

}  // namespace platform
