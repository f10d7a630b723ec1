#include "platform/HostResolver.h"
#include "platform/NetworkEvents.h"
#include "platform/UdpSocket.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace platform;

namespace {

const uint32_t loopback = ipv4Address(127, 0, 0, 1);

SocketHandle boundDatagramSocket()
{
    SocketHandle socket = openSocket(SocketKind::datagram);
    EXPECT_NE(socket, invalidSocket);
    EXPECT_EQ(bindSocket(socket, loopback, 0), 0);
    return socket;
}

}  // namespace

TEST(UdpSocket, DatagramCarriesBytesAndTheSendersAddressAndPort)
{
    SocketHandle receiver = boundDatagramSocket();
    SocketHandle sender = boundDatagramSocket();
    uint16_t receiverPort = localPort(receiver);
    ASSERT_NE(receiverPort, 0);

    const char message[] = "\x01\x02hello\x00tail";
    ASSERT_EQ(sendTo(sender, loopback, receiverPort, message, sizeof message), static_cast<int32_t>(sizeof message));

    char buffer[64] = {};
    uint32_t from = 0;
    uint16_t fromPort = 0;
    ASSERT_EQ(receiveFrom(receiver, buffer, sizeof buffer, &from, &fromPort), static_cast<int32_t>(sizeof message));
    EXPECT_EQ(std::memcmp(buffer, message, sizeof message), 0);
    EXPECT_EQ(from, loopback);
    EXPECT_EQ(fromPort, localPort(sender));
    EXPECT_EQ(closeSocket(sender), 0);
    EXPECT_EQ(closeSocket(receiver), 0);
}

TEST(UdpSocket, BindingAHeldPortFails)
{
    SocketHandle holder = boundDatagramSocket();
    SocketHandle second = openSocket(SocketKind::datagram);
    EXPECT_EQ(bindSocket(second, loopback, localPort(holder)), -1);
    EXPECT_EQ(bindSocket(second, 0, localPort(holder)), -1);  // any address overlaps loopback
    closeSocket(second);
    closeSocket(holder);
}

TEST(UdpSocket, FailedReceiveReportsNoSenderAndBadHandlesAndArgumentsAreRefused)
{
    SocketHandle socket = boundDatagramSocket();
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
    EXPECT_EQ(closeSocket(invalidSocket), -1);
    EXPECT_FALSE(isStreamSocket(invalidSocket));
    EXPECT_EQ(localPort(invalidSocket), 0);
}
