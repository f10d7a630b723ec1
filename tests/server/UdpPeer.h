#pragma once

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

// A UDP endpoint on a loopback address for talking to the server the way a
// client, the game server or the browser server does.
class UdpPeer {
public:
    // Binds to 127.0.0.lastByte; port 0 takes a free one.
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
    bool receive(Bytes* datagram, uint32_t timeoutMs = 2000, uint16_t* fromPort = nullptr) const
    {
        if (platform::waitUntilReadable(socket, timeoutMs) != platform::SocketWait::readable)
            return false;
        uint8_t buffer[65536];
        int32_t n = platform::receiveFrom(socket, buffer, sizeof buffer, nullptr, fromPort);
        if (n < 0)
            return false;
        datagram->assign(buffer, buffer + n);
        return true;
    }

    bool quietFor(uint32_t timeoutMs) const
    {
        return platform::waitUntilReadable(socket, timeoutMs) == platform::SocketWait::timedOut;
    }

    uint32_t address;
    platform::SocketHandle socket;
};

// Request datagrams as clients send them.
inline Bytes queryRequest(uint16_t version, const std::string& password = "")
{
    Bytes datagram(4 + password.size() + 1, 0);
    datagram[0] = uint8_t(version);
    datagram[1] = uint8_t(version >> 8);
    for (size_t i = 0; i < password.size(); ++i)
        datagram[4 + i] = uint8_t(password[i]);
    return datagram;
}

inline Bytes chunkRequest()
{
    return Bytes{0x10, 0x04, 1, 0};
}

inline Bytes resendRequest(uint16_t index)
{
    return Bytes{0x10, 0x04, 2, 0, uint8_t(index), uint8_t(index >> 8)};
}
