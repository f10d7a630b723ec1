#include "client/ServerLink.h"

#include "platform/Clock.h"
#include "platform/SocketWait.h"

ServerLink::ServerLink(uint32_t address, uint16_t port) : address(address), port(port) {}

ServerLink::~ServerLink()
{
    if (socket != platform::invalidSocket)
        platform::closeSocket(socket);
}

bool ServerLink::open()
{
    socket = platform::openSocket(platform::SocketKind::datagram);
    if (socket == platform::invalidSocket)
        return false;
    return platform::bindSocket(socket, 0, 0) == 0;
}

bool ServerLink::send(const std::vector<uint8_t>& datagram)
{
    int32_t length = static_cast<int32_t>(datagram.size());
    return platform::sendTo(socket, address, port, datagram.data(), length) == length;
}

int32_t ServerLink::receive(uint8_t* buffer, int32_t capacity, uint32_t timeoutMs)
{
    uint32_t start = platform::tickCount();
    for (;;) {
        if (platform::waitUntilReadable(socket, platform::millisecondsLeft(start, timeoutMs)) != platform::SocketWait::readable)
            return -1;
        uint32_t from = 0;
        uint16_t fromPort = 0;
        int32_t size = platform::receiveFrom(socket, buffer, capacity, &from, &fromPort);
        if (size >= 0 && from == address && fromPort == port)
            return size;
    }
}
