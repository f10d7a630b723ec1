// The calls the rest of the system makes through src/platform, on both
// implementations: events, threads, locks, datagram sockets tied to events
// and name resolution.
#include "platform/Clock.h"
#include "platform/HostResolver.h"
#include "platform/NativeEvent.h"
#include "platform/NativeThread.h"
#include "platform/NetworkEvents.h"
#include "platform/RecursiveLock.h"
#include "platform/SocketWait.h"
#include "platform/UdpSocket.h"
#include "platform/Winsock.h"

#include <gtest/gtest.h>

#include <atomic>

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

    EXPECT_EQ(cleanupWinsock(), -1);
    EXPECT_FALSE(startWinsock(0x0200));  // major 0, minor 2
    EXPECT_TRUE(startWinsock(0x0202));
    EXPECT_TRUE(startWinsock(0x0101));
    EXPECT_EQ(cleanupWinsock(), 0);
    EXPECT_EQ(cleanupWinsock(), 0);
    EXPECT_EQ(cleanupWinsock(), -1);
}

// Signalled is a state, not a count; among several the lowest index wins.
TEST(NativeEvent, WaitsTakeAutoResetEventsLowestIndexFirstAndBadListsFail)
{
    EventHandle events[3] = {createEvent(false, true), createEvent(false, false), createEvent(false, false)};
    EXPECT_EQ(waitForEvents(events, 1, 0), 0u);
    EXPECT_EQ(waitForEvents(events, 1, 0), waitTimeout);
    setEvent(events[0]);
    resetEvent(events[0]);
    setEvent(events[2]);
    setEvent(events[1]);
    setEvent(events[1]);
    EXPECT_EQ(waitForEvents(events, 3, 0), 1u);
    EXPECT_EQ(waitForEvents(events, 3, 0), 2u);
    EXPECT_EQ(waitForEvents(events, 3, 0), waitTimeout);
    EXPECT_EQ(waitForEvents(events, 0, 0), waitFailed);
    EXPECT_EQ(waitForEvents(nullptr, 1, 0), waitFailed);
    EventHandle withNull[2] = {events[0], nullptr};
    EXPECT_EQ(waitForEvents(withNull, 2, 0), waitFailed);
    for (EventHandle event : events)
        closeEvent(event);
    setEvent(nullptr);
    closeEvent(nullptr);
}

struct Contender {
    RecursiveLock* lock;
    std::atomic<bool> entered{false};
    static uint32_t run(void* raw)
    {
        auto* self = static_cast<Contender*>(raw);
        self->lock->enter();
        self->entered.store(true);
        self->lock->leave();
        return 0;
    }
};

TEST(RecursiveLock, HolderReentersAndOthersWaitForTheLastLeave)
{
    RecursiveLock lock;
    lock.enter();
    lock.enter();
    Contender contender{&lock};
    ThreadHandle thread = createThread(Contender::run, &contender, nullptr);
    ASSERT_NE(thread, nullptr);
    lock.leave();
    EXPECT_EQ(waitForThread(thread, 40), waitTimeout);
    EXPECT_FALSE(contender.entered.load());
    lock.leave();
    EXPECT_EQ(waitForThread(thread, infiniteTimeout), waitObject0);
    EXPECT_TRUE(contender.entered.load());
    closeThreadHandle(thread);
}

TEST(UdpSocket, HeldPortsFailedReceivesAndBadArgumentsAreRefused)
{
    SocketHandle socket = openSocket(SocketKind::datagram), second = openSocket(SocketKind::datagram);
    ASSERT_EQ(bindSocket(socket, loopback, 0), 0);
    EXPECT_EQ(bindSocket(second, loopback, localPort(socket)), -1);
    EXPECT_EQ(bindSocket(second, 0, localPort(socket)), -1);  // any address overlaps loopback
    ASSERT_EQ(selectNetworkEvents(socket, nullptr, 0), 0);  // non-blocking now
    char buffer[8];
    uint32_t from = 0xDEADBEEF;
    uint16_t fromPort = 7;
    EXPECT_EQ(receiveFrom(socket, buffer, sizeof buffer, &from, &fromPort), -1);
    EXPECT_EQ(from, 0u);
    EXPECT_EQ(fromPort, 0);
    EXPECT_EQ(receiveFrom(socket, buffer, -1, &from, &fromPort), -1);
    EXPECT_EQ(receiveFrom(socket, nullptr, 8, nullptr, nullptr), -1);
    EXPECT_EQ(sendTo(socket, loopback, 9, nullptr, 4), -1);
    EXPECT_EQ(sendTo(socket, loopback, 9, buffer, -2), -1);
    EXPECT_EQ(closeSocket(socket), 0);
    EXPECT_EQ(closeSocket(second), 0);
    EXPECT_EQ(closeSocket(invalidSocket), -1);
    EXPECT_FALSE(isStreamSocket(invalidSocket));
    EXPECT_EQ(localPort(invalidSocket), 0);
}

// A datagram socket tied to an event, and a peer that sends to it.
class TiedSocket : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(bindSocket(socket, loopback, 0), 0);
        ASSERT_EQ(bindSocket(peer, loopback, 0), 0);
        ASSERT_EQ(selectNetworkEvents(socket, event, allNetworkEvents), 0);
    }
    void TearDown() override
    {
        closeSocket(socket);
        closeSocket(peer);
        closeEvent(event);
    }
    void send(int count)
    {
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(sendTo(peer, loopback, localPort(socket), "ping", 4), 4);
    }
    uint32_t enumerate()
    {
        NetworkEvents record;
        EXPECT_EQ(enumNetworkEvents(socket, &record), 0);
        return record.events;
    }
    int32_t receive()
    {
        char buffer[16];
        uint32_t from = 0;
        int32_t n = receiveFrom(socket, buffer, sizeof buffer, &from, nullptr);
        EXPECT_TRUE(n < 0 || from == loopback);
        return n;
    }

    SocketHandle socket = openSocket(SocketKind::datagram), peer = openSocket(SocketKind::datagram);
    EventHandle event = createEvent(false, false);
};

// A socket with a datagram waiting counts as a signalled event: beside a
// signalled event of a higher index it wins the wait, whether or not a wait
// has seen the datagram yet. A fresh tie reports writing once.
TEST_F(TiedSocket, WaitingDatagramWinsOverALaterSignalledEventUntilUntied)
{
    ASSERT_EQ(waitForEvents(&event, 1, 1000), 0u);
    ASSERT_EQ(enumerate(), static_cast<uint32_t>(networkWrite));
    send(2);
    ASSERT_EQ(waitForEvents(&event, 1, 1000), 0u);
    ASSERT_EQ(enumerate(), static_cast<uint32_t>(networkRead));
    ASSERT_EQ(receive(), 4);  // one still waits
    EventHandle other = createEvent(false, true);
    EventHandle both[2] = {event, other};
    EXPECT_EQ(waitForEvents(both, 2, 0), 0u);
    EXPECT_EQ(enumerate(), static_cast<uint32_t>(networkRead));
    ASSERT_EQ(receive(), 4);
    EXPECT_EQ(waitForEvents(both, 2, 0), 1u);  // nothing waits now
    closeEvent(other);

    ASSERT_EQ(selectNetworkEvents(socket, nullptr, 0), 0);
    send(1);
    EXPECT_EQ(waitForEvents(&event, 1, 30), waitTimeout);
    EXPECT_EQ(receive(), 4);
    EXPECT_EQ(receive(), -1);  // still non-blocking
    ASSERT_EQ(closeSocket(socket), 0);
    socket = invalidSocket;
    NetworkEvents record;
    EXPECT_EQ(enumNetworkEvents(invalidSocket, &record), -1);
}

TEST_F(TiedSocket, EnumerationSeesDatagramsThatArrivedWithoutAWait)
{
    send(1);
    uint32_t seen = 0;
    EventHandle pause = createEvent(false, false);
    for (int i = 0; i < 200 && (seen & networkRead) == 0; ++i) {
        seen |= enumerate();
        waitForEvents(&pause, 1, 5);  // the datagram may not be queued yet
    }
    closeEvent(pause);
    EXPECT_EQ(seen, static_cast<uint32_t>(networkRead | networkWrite));
    EXPECT_EQ(receive(), 4);
}

TEST_F(TiedSocket, ClosingATiedEventLeavesTheSocketUsable)
{
    closeEvent(event);
    event = nullptr;
    send(1);
    EXPECT_TRUE(waitUntilReadable(socket, 1000) == SocketWait::readable);
    EXPECT_EQ(receive(), 4);
    EXPECT_EQ(enumerate(), 0u);

    SocketHandle stream = openSocket(SocketKind::stream);  // reports nothing
    EventHandle streamEvent = createEvent(false, false);
    ASSERT_EQ(selectNetworkEvents(stream, streamEvent, allNetworkEvents), 0);
    EXPECT_EQ(waitForEvents(&streamEvent, 1, 30), waitTimeout);
    EXPECT_EQ(selectNetworkEvents(stream, nullptr, allNetworkEvents), -1);
    closeSocket(stream);
    EXPECT_EQ(selectNetworkEvents(stream, streamEvent, allNetworkEvents), -1);  // closed now
    closeEvent(streamEvent);
}

}  // namespace
