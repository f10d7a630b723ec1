#include "platform/HostResolver.h"
#include "platform/NativeEvent.h"
#include "platform/NetworkEvents.h"
#include "platform/SocketWait.h"
#include "platform/UdpSocket.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

const uint32_t loopback = ipv4Address(127, 0, 0, 1);

// A datagram socket tied to an event, and a peer that sends to it.
class TiedSocket : public ::testing::Test {
protected:
    void SetUp() override
    {
        socket = openSocket(SocketKind::datagram);
        ASSERT_EQ(bindSocket(socket, loopback, 0), 0);
        peer = openSocket(SocketKind::datagram);
        ASSERT_EQ(bindSocket(peer, loopback, 0), 0);
        event = createEvent(false, false);
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

    // Takes the write event that a fresh tie reports once.
    void takeFirstWrite()
    {
        ASSERT_EQ(waitForEvents(&event, 1, 1000), 0u);
        ASSERT_EQ(enumerate(), static_cast<uint32_t>(networkWrite));
    }

    SocketHandle socket = invalidSocket;
    SocketHandle peer = invalidSocket;
    EventHandle event = nullptr;
};

}  // namespace

// A socket with a datagram waiting counts as a signalled event: beside a
// signalled event of a higher index it wins the wait, whether or not a wait
// has seen the datagram yet.
TEST_F(TiedSocket, WaitingDatagramWinsOverALaterSignalledEvent)
{
    takeFirstWrite();
    send(2);
    ASSERT_EQ(waitForEvents(&event, 1, 1000), 0u);
    ASSERT_EQ(enumerate(), static_cast<uint32_t>(networkRead));
    char buffer[16];
    ASSERT_EQ(receiveFrom(socket, buffer, sizeof buffer, nullptr, nullptr), 4);  // one still waits

    EventHandle other = createEvent(false, true);
    EventHandle both[2] = {event, other};
    EXPECT_EQ(waitForEvents(both, 2, 0), 0u);
    EXPECT_EQ(enumerate(), static_cast<uint32_t>(networkRead));
    ASSERT_EQ(receiveFrom(socket, buffer, sizeof buffer, nullptr, nullptr), 4);
    EXPECT_EQ(waitForEvents(both, 2, 0), 1u);  // nothing waits now
    closeEvent(other);
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
    char buffer[16];
    EXPECT_EQ(receiveFrom(socket, buffer, sizeof buffer, nullptr, nullptr), 4);
}

TEST_F(TiedSocket, ClosingTheSocketUntiesItsEvent)
{
    takeFirstWrite();
    send(1);
    ASSERT_EQ(closeSocket(socket), 0);
    socket = invalidSocket;
    EXPECT_EQ(waitForEvents(&event, 1, 30), waitTimeout);
    NetworkEvents record;
    EXPECT_EQ(enumNetworkEvents(invalidSocket, &record), -1);
}

TEST_F(TiedSocket, UntyingStopsReportsAndTheSocketStaysNonBlocking)
{
    takeFirstWrite();
    ASSERT_EQ(selectNetworkEvents(socket, nullptr, 0), 0);
    send(1);
    EXPECT_EQ(waitForEvents(&event, 1, 30), waitTimeout);
    char buffer[16];
    EXPECT_EQ(receiveFrom(socket, buffer, sizeof buffer, nullptr, nullptr), 4);
    EXPECT_EQ(receiveFrom(socket, buffer, sizeof buffer, nullptr, nullptr), -1);
}

TEST(NetworkEvents, StreamSocketsReportNothingAndBadArgumentsFail)
{
    SocketHandle stream = openSocket(SocketKind::stream);
    EventHandle event = createEvent(false, false);
    ASSERT_EQ(selectNetworkEvents(stream, event, allNetworkEvents), 0);
    EXPECT_EQ(waitForEvents(&event, 1, 30), waitTimeout);
    EXPECT_EQ(selectNetworkEvents(stream, nullptr, allNetworkEvents), -1);
    closeSocket(stream);
    EXPECT_EQ(selectNetworkEvents(stream, event, allNetworkEvents), -1);  // closed now
    closeEvent(event);
}

TEST_F(TiedSocket, ClosingATiedEventLeavesTheSocketUsable)
{
    closeEvent(event);
    event = nullptr;
    send(1);
    char buffer[16];
    EXPECT_TRUE(waitUntilReadable(socket, 1000) == SocketWait::readable);
    EXPECT_EQ(receiveFrom(socket, buffer, sizeof buffer, nullptr, nullptr), 4);
    EXPECT_EQ(enumerate(), 0u);
}
