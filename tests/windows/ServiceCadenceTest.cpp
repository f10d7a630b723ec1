#include "net/UdpService.h"
#include "platform/Clock.h"
#include "platform/HostResolver.h"
#include "platform/UdpSocket.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

namespace {

// Notes the tick of every idle call, to see the loop's rhythm.
class IdleClock : public UdpService {
public:
    ~IdleClock() override
    {
        requestStop();
        wait(platform::infiniteTimeout);
    }

    void onIdle() override
    {
        std::lock_guard<std::mutex> guard(lock);
        ticks.push_back(platform::tickCount());
    }

    std::vector<uint32_t> taken()
    {
        std::lock_guard<std::mutex> guard(lock);
        return ticks;
    }

private:
    std::mutex lock;
    std::vector<uint32_t> ticks;
};

}  // namespace

TEST(WindowsEventLoop, QuietServiceIdlesAboutEveryHundredMilliseconds)
{
    IdleClock service;
    ASSERT_TRUE(service.open(0, 0, platform::ipv4Address(127, 0, 0, 1)));
    ASSERT_TRUE(service.start());
    platform::sleepMilliseconds(1250);
    std::vector<uint32_t> ticks = service.taken();
    // The first write event ends one wait early; from then on only the
    // time-out ends a wait.
    ASSERT_GE(ticks.size(), 9u);
    ASSERT_LE(ticks.size(), 13u);
    for (size_t i = 1; i < ticks.size(); ++i) {
        uint32_t gap = ticks[i] - ticks[i - 1];
        EXPECT_GE(gap, 85u) << "idle call " << i;
        EXPECT_LE(gap, 250u) << "idle call " << i;
    }
}

TEST(WindowsEventLoop, ASecondServiceCannotTakeAHeldPort)
{
    IdleClock holder;
    ASSERT_TRUE(holder.open(0, 0, 0));
    uint16_t port = platform::localPort(holder.socket);
    ASSERT_NE(port, 0);
    IdleClock second;
    EXPECT_FALSE(second.open(0, port, 0));
    EXPECT_EQ(second.socket, platform::invalidSocket);
    EXPECT_FALSE(second.open(0, port, platform::ipv4Address(127, 0, 0, 1)));
    EXPECT_TRUE(second.open(0, static_cast<uint16_t>(port == 65535 ? port - 1 : port + 1), 0)
                || second.open(0, 0, 0));
}
