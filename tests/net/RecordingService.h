#pragma once

#include "net/UdpService.h"
#include "platform/Clock.h"
#include "platform/HostResolver.h"
#include "platform/UdpSocket.h"

#include <atomic>
#include <cstdint>

// A service that counts its handler calls; with readsDatagrams it takes one
// datagram per onRead, as the server does. Counters are read by the test
// thread while the loop runs, hence atomics.
class RecordingService : public UdpService {
public:
    ~RecordingService() override { stop(); }

    void stop()
    {
        requestStop();
        wait(platform::infiniteTimeout);
    }

    uint16_t port() const { return platform::localPort(socket); }

    void onStart() override
    {
        sawOtherHandlerBeforeStart.store(reads.load() + writes.load() + idles.load() + messages.load() > 0);
        starts.fetch_add(1);
    }

    void onRead(int32_t) override
    {
        reads.fetch_add(1);
        if (!readsDatagrams)
            return;
        uint8_t buffer[256];
        uint32_t address = 0;
        uint16_t from = 0;
        if (receiveFrom(buffer, sizeof buffer, &address, &from) < 0)
            return;
        received.fetch_add(1);
        senderAddress.store(address);
        senderPort.store(from);
    }

    void onWrite(int32_t) override { writes.fetch_add(1); }
    void onIdle() override { idles.fetch_add(1); }
    void onStop() override { stops.fetch_add(1); }

    void onMessage(uint32_t first, uint32_t second, uint32_t third) override
    {
        readsAtFirstMessage.store(messages.load() == 0 ? reads.load() : readsAtFirstMessage.load());
        messages.fetch_add(1);
        lastMessage.store(first * 10000u + second * 100u + third);
    }

    std::atomic<bool> readsDatagrams{true};
    std::atomic<int> starts{0}, stops{0}, reads{0}, writes{0}, idles{0}, messages{0};
    std::atomic<int> received{0}, readsAtFirstMessage{-1};
    std::atomic<uint32_t> senderAddress{0}, lastMessage{0};
    std::atomic<uint16_t> senderPort{0};
    std::atomic<bool> sawOtherHandlerBeforeStart{false};
};

inline const uint32_t loopback = platform::ipv4Address(127, 0, 0, 1);

// Polls `done` every 5 ms for at most `limitMs`; true when it came true.
template <typename Condition>
bool waitUntil(Condition done, uint32_t limitMs = 3000)
{
    uint32_t start = platform::tickCount();
    while (!done()) {
        if (platform::tickCount() - start > limitMs)
            return false;
        platform::sleepMilliseconds(5);
    }
    return true;
}
