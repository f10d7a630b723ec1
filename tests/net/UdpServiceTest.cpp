#include "RecordingService.h"

#include "net/UdpService.h"
#include "platform/Clock.h"
#include "platform/UdpSocket.h"

#include <gtest/gtest.h>

TEST(UdpService, OpenOnAHeldPortFailsAndLeavesNoSocket)
{
    UdpService holder;
    ASSERT_TRUE(holder.open(0, 0, loopback));
    uint16_t held = platform::localPort(holder.socket);

    UdpService second;
    EXPECT_FALSE(second.open(0, held, loopback));
    EXPECT_EQ(second.socket, -1);
    EXPECT_FALSE(second.open(0, held, 0));
    EXPECT_EQ(second.socket, -1);
}

TEST(UdpService, KindOneMakesAStreamSocketAndOthersDatagrams)
{
    UdpService stream, datagram, other;
    ASSERT_TRUE(stream.open(1, 0, loopback));
    ASSERT_TRUE(datagram.open(0, 0, loopback));
    ASSERT_TRUE(other.open(7, 0, loopback));
    EXPECT_TRUE(platform::isStreamSocket(stream.socket));
    EXPECT_FALSE(platform::isStreamSocket(datagram.socket));
    EXPECT_FALSE(platform::isStreamSocket(other.socket));
}

TEST(UdpService, CloseOnAClosedServiceReturnsZeroAndChangesNothing)
{
    UdpService service;
    EXPECT_EQ(service.socket, -1);
    EXPECT_EQ(service.close(), 0);
    EXPECT_EQ(service.socket, -1);
    ASSERT_TRUE(service.open(0, 0, loopback));
    EXPECT_EQ(service.close(), 0);
    EXPECT_EQ(service.socket, -1);
    EXPECT_EQ(service.close(), 0);
}

TEST(UdpService, OpenedSocketDoesNotBlockAndCarriesTheSender)
{
    UdpService receiver, sender;
    ASSERT_TRUE(receiver.open(0, 0, loopback));
    ASSERT_TRUE(sender.open(0, 0, 0));
    uint8_t buffer[16];
    uint32_t address = 1;
    uint16_t port = 1;
    uint32_t before = platform::tickCount();
    EXPECT_EQ(receiver.receiveFrom(buffer, sizeof buffer, &address, &port), -1);
    EXPECT_LT(platform::tickCount() - before, 50u);
    EXPECT_EQ(address, 0u);
    EXPECT_EQ(port, 0);

    const uint8_t query[5] = {0x10, 0x04, 0, 0, 0};
    ASSERT_EQ(sender.sendTo(loopback, platform::localPort(receiver.socket), query, 5), 5);
    ASSERT_TRUE(waitUntil([&] { return receiver.receiveFrom(buffer, sizeof buffer, &address, &port) == 5; }));
    EXPECT_EQ(buffer[0], 0x10);
    EXPECT_EQ(address, loopback);
    EXPECT_EQ(port, platform::localPort(sender.socket));
}

TEST(UdpService, StartTwiceAndWaitResults)
{
    RecordingService never;
    EXPECT_EQ(never.wait(0), platform::waitFailed);

    RecordingService service;
    ASSERT_TRUE(service.open(0, 0, loopback));
    EXPECT_TRUE(service.start());
    EXPECT_FALSE(service.start());
    EXPECT_EQ(service.wait(0), platform::waitTimeout);
    service.stop();
    EXPECT_EQ(service.wait(0), 0u);
    EXPECT_EQ(service.starts.load(), 1);
    EXPECT_EQ(service.stops.load(), 1);
}

TEST(UdpService, DestroyingANeverStartedServiceClosesItsSocket)
{
    int32_t socket;
    {
        UdpService service;
        ASSERT_TRUE(service.open(0, 0, loopback));
        socket = service.socket;
    }
    EXPECT_EQ(platform::closeSocket(socket), -1);  // already closed
}

TEST(UdpService, WinsockVersionZeroIsRefused)
{
    EXPECT_TRUE(startWinsock(2, 2));
    EXPECT_EQ(cleanupWinsock(), 0);
    EXPECT_FALSE(startWinsock(0, 2));
    EXPECT_EQ(cleanupWinsock(), -1);
}
