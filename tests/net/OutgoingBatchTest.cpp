#include "net/OutgoingBatch.h"
#include "platform/HostResolver.h"

#include <gtest/gtest.h>

namespace {

const uint32_t loopback = platform::ipv4Address(127, 0, 0, 1);

class Outgoing : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sender.open(loopback, 0));
        ASSERT_TRUE(receiver.open(loopback, 0));
    }
    // One buffer serves every add, so each datagram must have been copied.
    void add(int32_t datagrams)
    {
        for (int32_t i = 0; i < datagrams; ++i, ++added) {
            uint8_t bytes[3] = {uint8_t(added), 7, 7};
            batch.add(loopback, receiver.localPort(), bytes, 1 + added % 3);
        }
    }
    // How many arrived, checking that they are the next ones in order.
    int32_t arrived()
    {
        uint8_t got[8];
        uint16_t from = 0;
        int32_t n = 0, length;
        for (; (length = receiver.receiveFrom(got, sizeof got, nullptr, &from)) >= 0; ++n, ++taken) {
            EXPECT_EQ(length, 1 + taken % 3);
            EXPECT_EQ(got[0], uint8_t(taken));
            EXPECT_EQ(from, sender.localPort());
        }
        return n;
    }

    platform::DatagramSocket sender, receiver;
    OutgoingBatch batch{sender};
    int32_t added = 0, taken = 0;
};

TEST_F(Outgoing, LeavesInOrderWhenFullOrFlushedAndNotBefore)
{
    const int32_t limit = int32_t(OutgoingBatch::limit);
    add(limit - 1);
    EXPECT_EQ(arrived(), 0);
    add(1);
    EXPECT_EQ(arrived(), limit);
    add(3);
    EXPECT_EQ(arrived(), 0);
    batch.flush();
    EXPECT_EQ(arrived(), 3);
    batch.flush();
    EXPECT_EQ(arrived(), 0);
}

}  // namespace
