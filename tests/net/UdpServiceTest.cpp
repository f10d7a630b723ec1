#include "RecordingService.h"

#include "net/UdpService.h"
#include "platform/Clock.h"
#include "platform/UdpSocket.h"

#include <gtest/gtest.h>

TEST(UdpService, OpenMakesANonBlockingSocketOfTheKindAskedAndAFailedOpenOrACloseLeavesNone)
{
    UdpService stream, datagram, other;
    ASSERT_TRUE(stream.open(1, 0, loopback));
    ASSERT_TRUE(datagram.open(0, 0, loopback));
    ASSERT_TRUE(other.open(7, 0, loopback));
    EXPECT_TRUE(platform::isStreamSocket(stream.socket));
    EXPECT_FALSE(platform::isStreamSocket(datagram.socket));
    EXPECT_FALSE(platform::isStreamSocket(other.socket));

    uint16_t held = platform::localPort(datagram.socket);
    EXPECT_FALSE(other.open(0, held, loopback));
    EXPECT_EQ(other.socket, -1);
    EXPECT_FALSE(other.open(0, held, 0));
    EXPECT_EQ(other.socket, -1);
    EXPECT_EQ(other.close(), 0);  // nothing open: nothing changes
    EXPECT_EQ(other.socket, -1);

    uint8_t buffer[16];
    uint32_t before = platform::tickCount();
    EXPECT_EQ(datagram.receiveFrom(buffer, sizeof buffer, nullptr, nullptr), -1);  // open made it non-blocking
    EXPECT_LT(platform::tickCount() - before, 1000u);
    EXPECT_EQ(datagram.close(), 0);
    EXPECT_EQ(datagram.socket, -1);
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
