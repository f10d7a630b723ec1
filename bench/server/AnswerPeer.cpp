// The least a query answerer can be: wait for the socket, receive one
// datagram, send 12 fixed bytes back. The yardstick the server's query
// throughput is measured against. Usage: kitsync-answer-peer <port>
#include "platform/DatagramSocket.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kitsync-answer-peer <port>\n");
        return 2;
    }
    platform::DatagramSocket socket;
    if (!socket.open(0, static_cast<uint16_t>(std::atoi(argv[1])))) {
        std::fprintf(stderr, "cannot bind port %s\n", argv[1]);
        return 1;
    }
    const uint8_t answer[12] = {0x00, 0x80, 0x64, 0x00, 0xE8, 0x03, 0x00, 0x00, 0x12, 0x00, 0x00, 0x00};
    static uint8_t buffer[65536];
    for (;;) {
        if (platform::waitForDatagrams(&socket, 1, nullptr, 1000) != platform::WaitOutcome::datagrams)
            continue;
        uint32_t address = 0;
        uint16_t port = 0;
        int32_t n = socket.receiveFrom(buffer, sizeof buffer, &address, &port);
        if (n > 4 && buffer[2] == 0 && buffer[3] == 0 && buffer[n - 1] == 0)
            socket.sendTo(address, port, answer, sizeof answer);
    }
}
