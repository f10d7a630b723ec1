// The calls the rest of the system makes through src/platform, on both
// implementations: locks, datagram sockets, the wait on them and name
// resolution.
#include "platform/Clock.h"
#include "platform/DatagramSocket.h"
#include "platform/HostResolver.h"
#include "platform/RecursiveLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

using namespace platform;

namespace {

const uint32_t loopback = ipv4Address(127, 0, 0, 1);

TEST(HostResolver, ReadsDottedTextAsInetAddrDoesAndResolvesLocalNames)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(&loopback);
    EXPECT_EQ(bytes[0], 127);  // network order: the first part first in memory
    for (const char* text : {"127.0.0.1", "127.1", "0x7f.0.0.1", "localhost"})
        EXPECT_EQ(resolveHost(text), loopback) << text;
    for (const char* text : {"300.1.1.1", "example", "", static_cast<const char*>(nullptr)})
        EXPECT_EQ(parseDottedAddress(text), noAddress) << (text ? text : "null");
    EXPECT_EQ(resolveHost(""), noAddress);
    EXPECT_EQ(resolveHost(nullptr), noAddress);
    char text[addressTextSize];
    addressToText(ipv4Address(255, 255, 255, 254), text);
    EXPECT_STREQ(text, "255.255.255.254");
    EXPECT_TRUE(startWinsock());
}

TEST(RecursiveLock, HolderReentersAndOthersWaitForTheLastLeave)
{
    RecursiveLock lock;
    lock.enter();
    lock.enter();
    std::atomic<bool> tried{false}, entered{false};
    std::thread contender([&] {
        tried.store(true);
        lock.enter();
        entered.store(true);
        lock.leave();
    });
    lock.leave();
    while (!tried.load())
        std::this_thread::yield();
    sleepMilliseconds(40);  // time to pass a lock that did not hold
    EXPECT_FALSE(entered.load());
    lock.leave();
    contender.join();
    EXPECT_TRUE(entered.load());
}

TEST(DatagramSocket, HeldPortsEmptyReceivesAndBadArgumentsAreRefused)
{
    DatagramSocket socket, second;
    uint8_t buffer[8];
    EXPECT_EQ(socket.localPort(), 0);
    EXPECT_EQ(socket.sendTo(loopback, 9, buffer, 4), -1);  // nothing open
    EXPECT_FALSE(socket.setReceiveBuffer(1 << 20));
    ASSERT_TRUE(socket.open(loopback, 0));
    EXPECT_TRUE(socket.setReceiveBuffer(1 << 20));
    EXPECT_FALSE(second.open(loopback, socket.localPort()));
    EXPECT_FALSE(second.open(0, socket.localPort()));  // any address overlaps loopback
    EXPECT_FALSE(second.isOpen());
    uint32_t from = 0xDEADBEEF;
    uint16_t fromPort = 7;
    EXPECT_EQ(socket.receiveFrom(buffer, sizeof buffer, &from, &fromPort), -1);  // at once
    EXPECT_EQ(from, 0u);
    EXPECT_EQ(fromPort, 0);
    EXPECT_EQ(socket.receiveFrom(buffer, -1, &from, &fromPort), -1);
    EXPECT_EQ(socket.receiveFrom(nullptr, 8, nullptr, nullptr), -1);
    EXPECT_EQ(socket.sendTo(loopback, 9, nullptr, 4), -1);
    EXPECT_EQ(socket.sendTo(loopback, 9, buffer, -2), -1);
    socket.close();
    EXPECT_FALSE(socket.isOpen());
    EXPECT_TRUE(second.open(loopback, 0));
}

// Two sockets, a wake-up and a peer that sends to the second socket.
class Wait : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (DatagramSocket& socket : sockets)
            ASSERT_TRUE(socket.open(loopback, 0));
        ASSERT_TRUE(peer.open(loopback, 0));
    }
    WaitOutcome waitBoth(uint32_t timeoutMs) { return waitForDatagrams(sockets, 2, &wake, timeoutMs, ready); }

    DatagramSocket sockets[2], peer;
    WakeSignal wake;
    uint8_t ready[2] = {9, 9};
};

// Datagrams win over a wake-up, which waits for the next wait; signals do
// not add up; a datagram cut to the buffer still leaves its sender.
TEST_F(Wait, DatagramsComeFirstThenOneWakeUpThenTheTimeOut)
{
    EXPECT_EQ(waitBoth(0), WaitOutcome::timedOut);
    ASSERT_EQ(peer.sendTo(loopback, sockets[1].localPort(), "ping", 4), 4);
    wake.signal();
    wake.signal();
    ASSERT_EQ(waitBoth(1000), WaitOutcome::datagrams);
    EXPECT_EQ(ready[0], 0);
    EXPECT_EQ(ready[1], 1);
    uint8_t buffer[2];
    uint32_t from = 0;
    uint16_t fromPort = 0;
    EXPECT_EQ(sockets[1].receiveFrom(buffer, sizeof buffer, &from, &fromPort), 2);
    EXPECT_EQ(from, loopback);
    EXPECT_EQ(fromPort, peer.localPort());
    EXPECT_EQ(waitBoth(1000), WaitOutcome::woken);
    EXPECT_EQ(waitBoth(0), WaitOutcome::timedOut);
    EXPECT_EQ(waitForDatagrams(sockets, 1, nullptr, 0), WaitOutcome::timedOut);
    sockets[0].close();
    EXPECT_EQ(waitBoth(0), WaitOutcome::failed);
}

// A refused datagram (port 0) is dropped and the rest go; a batch takes
// what waits, each cut to its slot, and stops short when the queue runs dry.
TEST_F(Wait, BatchesSendWhatTheSystemTakesAndReceiveWhatWaits)
{
    const uint8_t ping[] = "ping", refused[] = "x", pong[] = "pong!";
    uint16_t to = sockets[0].localPort();
    Datagram out[3] = {{ping, 4, loopback, to}, {refused, 1, loopback, 0}, {pong, 5, loopback, to}};
    EXPECT_EQ(peer.sendBatch(out, 3), 2);
    uint8_t slots[3 * 4];
    Datagram in[3];
    ASSERT_EQ(sockets[0].receiveBatch(slots, 4, in, 3), 2);
    for (const Datagram& d : {in[0], in[1]}) {
        EXPECT_EQ(d.length, 4);
        EXPECT_EQ(d.address, loopback);
        EXPECT_EQ(d.port, peer.localPort());
    }
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(in[0].data), 4), "ping");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(in[1].data), 4), "pong");
    EXPECT_EQ(in[1].data, slots + 4);
    EXPECT_EQ(sockets[0].receiveBatch(slots, 4, in, 3), 0);
}

TEST_F(Wait, ASignalFromAnotherThreadEndsAWaitWithoutLimit)
{
    std::thread signaller([this] { wake.signal(); });
    EXPECT_EQ(waitForDatagrams(sockets, 2, &wake, 0xFFFFFFFFu), WaitOutcome::woken);
    signaller.join();
}

}  // namespace
