#pragma once

#include "client/QueryProtocol.h"
#include "platform/HostResolver.h"
#include "platform/SocketWait.h"
#include "platform/UdpSocket.h"

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline Bytes bytesOf(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// A UDP endpoint on 127.0.0.lastByte (port 0: a free one) that talks to the
// server the way a client, the game server or the browser server does.
class UdpPeer {
public:
    explicit UdpPeer(uint8_t lastByte = 1, uint16_t port = 0)
        : address(platform::ipv4Address(127, 0, 0, lastByte)),
          socket(platform::openSocket(platform::SocketKind::datagram))
    {
        if (socket != platform::invalidSocket && platform::bindSocket(socket, address, port) != 0) {
            platform::closeSocket(socket);
            socket = platform::invalidSocket;
        }
    }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;
    ~UdpPeer() { platform::closeSocket(socket); }

    bool isOpen() const { return socket != platform::invalidSocket; }
    uint16_t port() const { return platform::localPort(socket); }

    bool send(uint16_t toPort, const Bytes& datagram) const
    {
        int32_t length = static_cast<int32_t>(datagram.size());
        return platform::sendTo(socket, platform::ipv4Address(127, 0, 0, 1), toPort, datagram.data(), length) == length;
    }

    // The next datagram, or false when none comes within timeoutMs.
    bool receive(Bytes* datagram, uint32_t timeoutMs = 2000) const
    {
        uint8_t buffer[65536];
        int32_t n = -1;
        if (platform::waitUntilReadable(socket, timeoutMs) == platform::SocketWait::readable)
            n = platform::receiveFrom(socket, buffer, sizeof buffer, nullptr, nullptr);
        if (n >= 0)
            datagram->assign(buffer, buffer + n);
        return n >= 0;
    }

    bool quietFor(uint32_t timeoutMs) const
    {
        return platform::waitUntilReadable(socket, timeoutMs) == platform::SocketWait::timedOut;
    }

    uint32_t address;
    platform::SocketHandle socket;
};

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
