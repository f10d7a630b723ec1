#pragma once

#include "platform/DatagramSocket.h"

#include <cstdint>
#include <vector>

// A UDP socket that talks to one server. Datagrams from any other sender
// are dropped, so a stray packet cannot pass for an answer or a chunk.
class ServerLink {
public:
    ServerLink(uint32_t address, uint16_t port);  // address in network byte order
    ServerLink(const ServerLink&) = delete;
    ServerLink& operator=(const ServerLink&) = delete;

    // Binds a port of the system's choosing on all local addresses.
    bool open();
    bool send(const std::vector<uint8_t>& datagram);
    // Talks to another port of the same host from now on.
    void retarget(uint16_t newPort) { port = newPort; }

    // Size of the next datagram from the server, or -1 when none came
    // within timeoutMs (or the socket failed).
    int32_t receive(uint8_t* buffer, int32_t capacity, uint32_t timeoutMs);

private:
    uint32_t address;
    uint16_t port;
    platform::DatagramSocket socket;
};
