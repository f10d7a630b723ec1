#include "RecordingService.h"

#include "platform/Clock.h"
#include "platform/CpuTime.h"
#include "platform/NativeEvent.h"

#include <gtest/gtest.h>

namespace {

// An open service and a peer that sends to it; the service is started by
// the test once the scene is set.
class Loop : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.open(0, 0, loopback));
        ASSERT_TRUE(peer.open(0, 0, loopback));
    }

    void send(int count)
    {
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(peer.sendTo(loopback, service.port(), "data", 4), 4);
    }

    UdpService peer;
    RecordingService service;  // stopped before the peer goes
};

}  // namespace

TEST_F(Loop, QuietServiceIdlesEveryHundredMillisecondsWithoutSpinningAndStopsPromptly)
{
    uint32_t cpuBefore = platform::processCpuMilliseconds();
    uint32_t started = platform::tickCount();
    ASSERT_TRUE(service.start());
    platform::sleepMilliseconds(450);
    // Just after an idle call the next one is some 95 ms away, so a stop
    // that had to wait for the idle time-out would show.
    int idled = service.idles.load();
    ASSERT_TRUE(waitUntil([&] { return service.idles.load() > idled; }, 1000));
    uint32_t before = platform::tickCount();
    service.requestStop();
    EXPECT_EQ(service.wait(1000), 0u);
    EXPECT_LT(platform::tickCount() - before, 70u);  // the stop request wakes the wait
    uint32_t cpu = platform::processCpuMilliseconds() - cpuBefore;

    EXPECT_EQ(service.starts.load(), 1);
    EXPECT_EQ(service.stops.load(), 1);
    EXPECT_FALSE(service.sawOtherHandlerBeforeStart.load());
    // Idle calls are at least 100 ms apart, however late the test wakes.
    EXPECT_GE(service.idles.load(), 3);
    EXPECT_LE(uint32_t(service.idles.load()), (platform::tickCount() - started) / 100 + 1);
    EXPECT_EQ(service.writes.load(), 1);  // once after registration, never again
    EXPECT_EQ(service.reads.load(), 0);
    EXPECT_LT(cpu, 60u);
}

TEST_F(Loop, DatagramsArrivingTogetherGetOneReadCallEach)
{
    send(3);
    ASSERT_TRUE(service.start());
    ASSERT_TRUE(waitUntil([&] { return service.received.load() == 3; }));
    platform::sleepMilliseconds(150);
    service.stop();
    EXPECT_EQ(service.reads.load(), 3);
    EXPECT_EQ(service.senderAddress.load(), loopback);
    EXPECT_EQ(service.senderPort.load(), platform::localPort(peer.socket));
}

TEST_F(Loop, AHandlerThatDoesNotReadIsNotCalledAgain)
{
    service.readsDatagrams.store(false);
    send(3);
    ASSERT_TRUE(service.start());
    ASSERT_TRUE(waitUntil([&] { return service.reads.load() == 1; }));
    platform::sleepMilliseconds(250);
    service.stop();
    EXPECT_EQ(service.reads.load(), 1);
    EXPECT_GE(service.idles.load(), 1);  // the loop went quiet, it did not spin
}

TEST_F(Loop, SteadyTrafficDoesNotStarveTheIdleHandler)
{
    ASSERT_TRUE(service.start());
    platform::sleepMilliseconds(20);
    int idlesBefore = service.idles.load();
    uint32_t before = platform::tickCount();
    for (int i = 0; i < 20; ++i) {  // one datagram per 50 ms for a second
        send(1);
        platform::sleepMilliseconds(50);
    }
    int idlesDuring = service.idles.load() - idlesBefore;
    uint32_t took = platform::tickCount() - before;
    service.stop();
    EXPECT_GE(service.received.load(), 18);
    EXPECT_GE(idlesDuring, 6);
    // At least 100 ms apart: a sleep that overran gives room for more.
    EXPECT_LE(uint32_t(idlesDuring), took / 100 + 1);
}

TEST_F(Loop, PostedMessageReachesOnMessageEvenUnderABacklog)
{
    send(60);
    service.postMessage(3, 2, 1);
    ASSERT_TRUE(service.start());
    ASSERT_TRUE(waitUntil([&] { return service.messages.load() == 1 && service.received.load() == 60; }));
    service.postMessage(4, 5, 6);
    ASSERT_TRUE(waitUntil([&] { return service.messages.load() == 2; }));
    service.stop();
    EXPECT_EQ(service.lastMessage.load(), 40506u);
    // The queue is served alongside the backlog, not after all of it.
    EXPECT_LE(service.readsAtFirstMessage.load(), 2);
}

TEST_F(Loop, AFailingWaitNeitherSpinsNorStopsTheIdleHandler)
{
    platform::closeEvent(service.networkEvent.handle);  // every wait now fails
    service.networkEvent.handle = nullptr;
    uint32_t cpuBefore = platform::processCpuMilliseconds();
    ASSERT_TRUE(service.start());
    platform::sleepMilliseconds(450);
    service.stop();
    EXPECT_LT(platform::processCpuMilliseconds() - cpuBefore, 60u);
    EXPECT_GE(service.idles.load(), 2);
    EXPECT_EQ(service.stops.load(), 1);
}
