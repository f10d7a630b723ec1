#pragma once

#include <cstdint>

namespace platform {

// Sockets are 32-bit handles; -1 is the invalid socket. IPv4 addresses are
// 32-bit values in network byte order, exactly as they sit in the socket
// layer's address record; ports are in host order.
using SocketHandle = int32_t;
constexpr SocketHandle invalidSocket = -1;

enum class SocketKind { datagram, stream };

// An IPv4 socket of the given kind, or invalidSocket.
SocketHandle openSocket(SocketKind kind);

// 0, or -1 on failure (for example a port that another socket holds).
int32_t bindSocket(SocketHandle socket, uint32_t address, uint16_t port);

// Bytes sent, or -1. On a socket tied to an event, a send that would have
// blocked arms the next write event (NetworkEvents.h).
int32_t sendTo(SocketHandle socket, uint32_t address, uint16_t port, const void* data, int32_t length);

// Bytes received, or -1 (at once when nothing waits on a non-blocking
// socket). `address` and `port` (either may be null) receive the sender,
// or 0 after a failure. On a socket tied to an event every call arms the
// next read event, so one that leaves datagrams waiting is told again.
int32_t receiveFrom(SocketHandle socket, void* buffer, int32_t capacity, uint32_t* address, uint16_t* port);

// 0, or -1 for a socket that is not open. Unties the socket from its event.
int32_t closeSocket(SocketHandle socket);

// The local port the socket is bound to (host order), 0 when unknown.
uint16_t localPort(SocketHandle socket);

// True for a stream socket, false for a datagram socket or a bad handle.
bool isStreamSocket(SocketHandle socket);

}  // namespace platform
