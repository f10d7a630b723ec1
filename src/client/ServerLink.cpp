#include "client/ServerLink.h"

#include "platform/Clock.h"

ServerLink::ServerLink(uint32_t address, uint16_t port) : address(address), port(port) {}

bool ServerLink::open()
{
    return socket.open(0, 0);
}

bool ServerLink::send(const std::vector<uint8_t>& datagram)
{
    int32_t length = static_cast<int32_t>(datagram.size());
    return socket.sendTo(address, port, datagram.data(), length) == length;
}

int32_t ServerLink::receive(uint8_t* buffer, int32_t capacity, uint32_t timeoutMs)
{
    uint32_t start = platform::tickCount();
    for (;;) {
        uint32_t left = platform::millisecondsLeft(start, timeoutMs);
        if (platform::waitForDatagrams(&socket, 1, nullptr, left) != platform::WaitOutcome::datagrams)
            return -1;
        uint32_t from = 0;
        uint16_t fromPort = 0;
        int32_t size = socket.receiveFrom(buffer, capacity, &from, &fromPort);
        if (size >= 0 && from == address && fromPort == port)
            return size;
    }
}
