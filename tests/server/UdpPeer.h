#pragma once

#include "client/QueryProtocol.h"
#include "platform/HostResolver.h"
#include "platform/DatagramSocket.h"
#include "support/TestBytes.h"

#include <cstdint>
#include <string>
#include <vector>


// A UDP endpoint on 127.0.0.lastByte (port 0: a free one) that talks to the
// server the way a client, the game server or the browser server does.
class UdpPeer {
public:
    explicit UdpPeer(uint8_t lastByte = 1, uint16_t port = 0) : address(platform::ipv4Address(127, 0, 0, lastByte))
    {
        socket.open(address, port);
    }

    bool isOpen() const { return socket.isOpen(); }
    uint16_t port() const { return socket.localPort(); }

    bool send(uint16_t toPort, const Bytes& datagram) const
    {
        int32_t length = static_cast<int32_t>(datagram.size());
        return socket.sendTo(platform::ipv4Address(127, 0, 0, 1), toPort, datagram.data(), length) == length;
    }

    // The next datagram, or false when none comes within timeoutMs.
    bool receive(Bytes* datagram, uint32_t timeoutMs = 2000) const
    {
        uint8_t buffer[65536];
        int32_t n = -1;
        if (platform::waitForDatagrams(&socket, 1, nullptr, timeoutMs) == platform::WaitOutcome::datagrams)
            n = socket.receiveFrom(buffer, sizeof buffer, nullptr, nullptr);
        if (n >= 0)
            datagram->assign(buffer, buffer + n);
        return n >= 0;
    }

    bool quietFor(uint32_t timeoutMs) const
    {
        return platform::waitForDatagrams(&socket, 1, nullptr, timeoutMs) == platform::WaitOutcome::timedOut;
    }

    uint32_t address;
    mutable platform::DatagramSocket socket;  // sending and receiving leave the peer as it was
};

// A game port whose UDP port (+ 20), fallback (+ 40) and rules port (+ 1)
// were free a moment ago.
inline uint16_t freeGamePort()
{
    for (;;) {
        UdpPeer probe;
        uint16_t gamePort = uint16_t(probe.port() - 20);
        if (probe.port() < 1024 || probe.port() > 65535 - 20)
            continue;
        UdpPeer fallback(1, uint16_t(gamePort + 40)), rules(1, uint16_t(gamePort + 1));
        if (fallback.isOpen() && rules.isOpen())
            return gamePort;
    }
}

// "HH:MM:SS: " then exactly message.
inline bool isStamped(const std::string& line, const std::string& message)
{
    const std::string shape = "99:99:99: ";
    for (size_t i = 0; i < shape.size(); ++i) {
        bool digit = i < line.size() && line[i] >= '0' && line[i] <= '9';
        if (i >= line.size() || (shape[i] == '9' ? !digit : line[i] != shape[i]))
            return false;
    }
    return line.compare(shape.size(), std::string::npos, message) == 0;
}
