// The calls the rest of the system makes through src/platform, on both
// implementations: locks, datagram sockets, the wait on them and name
// resolution.
#include "platform/Clock.h"
#include "platform/DatagramSocket.h"
#include "platform/HostResolver.h"
#include "platform/RecursiveLock.h"

#include <gtest/gtest.h>

#include <atomic>
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
    ASSERT_TRUE(socket.open(loopback, 0));
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

TEST_F(Wait, ASignalFromAnotherThreadEndsAWaitWithoutLimit)
{
    std::thread signaller([this] { wake.signal(); });
    EXPECT_EQ(waitForDatagrams(sockets, 2, &wake, 0xFFFFFFFFu), WaitOutcome::woken);
    signaller.join();
}

}  // namespace
