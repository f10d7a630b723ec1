#include "platform/HostResolver.h"
#include "platform/Winsock.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(HostResolver, DottedTextReadsAsInetAddrDoes)
{
    uint32_t loopback = ipv4Address(127, 0, 0, 1);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&loopback);
    EXPECT_EQ(bytes[0], 127);  // network order: the first part first in memory
    EXPECT_EQ(bytes[3], 1);
    EXPECT_EQ(parseDottedAddress("127.0.0.1"), loopback);
    EXPECT_EQ(parseDottedAddress("127.1"), loopback);
    EXPECT_EQ(parseDottedAddress("0x7f.0.0.1"), loopback);
    EXPECT_EQ(parseDottedAddress("300.1.1.1"), noAddress);
    EXPECT_EQ(parseDottedAddress("example"), noAddress);
    EXPECT_EQ(parseDottedAddress(""), noAddress);
    EXPECT_EQ(parseDottedAddress(nullptr), noAddress);
}

TEST(HostResolver, ResolvesDottedAddressesAndLocalNamesAndWritesDottedText)
{
    EXPECT_EQ(resolveHost("192.168.7.9"), ipv4Address(192, 168, 7, 9));
    EXPECT_EQ(resolveHost("localhost"), ipv4Address(127, 0, 0, 1));
    EXPECT_EQ(resolveHost(""), noAddress);
    EXPECT_EQ(resolveHost(nullptr), noAddress);
    char text[addressTextSize];
    addressToText(ipv4Address(10, 1, 2, 3), text);
    EXPECT_STREQ(text, "10.1.2.3");
    addressToText(ipv4Address(255, 255, 255, 255), text);
    EXPECT_STREQ(text, "255.255.255.255");
}

TEST(Winsock, StartsPairWithCleanupsAndVersionZeroIsRefused)
{
    EXPECT_EQ(cleanupWinsock(), -1);
    EXPECT_FALSE(startWinsock(0x0200));  // major 0, minor 2
    EXPECT_TRUE(startWinsock(0x0202));
    EXPECT_TRUE(startWinsock(0x0101));
    EXPECT_EQ(cleanupWinsock(), 0);
    EXPECT_EQ(cleanupWinsock(), 0);
    EXPECT_EQ(cleanupWinsock(), -1);
}
