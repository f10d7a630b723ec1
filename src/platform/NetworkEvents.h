#pragma once

#include "platform/NativeEvent.h"
#include "platform/UdpSocket.h"

#include <cstdint>

namespace platform {

// Network event bits, with the values of the Windows Sockets FD_ flags.
enum NetworkEventBit : uint32_t {
    networkRead = 1,
    networkWrite = 2,
    networkOutOfBand = 4,
    networkAccept = 8,
    networkConnect = 16,
    networkClose = 32,
};
constexpr uint32_t allNetworkEvents = 63;
constexpr int32_t networkEventCount = 6;

// What enumNetworkEvents reports: the bits that occurred since the last
// enumeration and, indexed by bit position (read 0 ... close 5), each
// event's error code (0, or a Windows Sockets error number).
struct NetworkEvents {
    uint32_t events = 0;
    int32_t errorCodes[networkEventCount] = {};
};

// Ties `socket` to `event` for the events in `mask` (0 unties it) and makes
// the socket non-blocking. As with the Windows Sockets registration, each
// event is reported once and then only after its re-enabling call: a read
// after receiveFrom, a write after a send that would have blocked. A write
// is reported once after tying, since the socket is writable then. An
// event serves one socket; tying another replaces it. Stream sockets,
// which this layer can neither connect nor listen with, report nothing.
// Returns 0, or -1 for a bad socket or a null event with a non-zero mask.
int32_t selectNetworkEvents(SocketHandle socket, EventHandle event, uint32_t mask);

// Fills `record` with the socket's events since the last enumeration and
// clears them. 0, or -1 for a socket that is not open.
int32_t enumNetworkEvents(SocketHandle socket, NetworkEvents* record);

}  // namespace platform
