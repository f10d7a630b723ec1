#include "net/UdpService.h"
#include "platform/Clock.h"
#include "platform/HostResolver.h"
#include "platform/NativeEvent.h"
#include "platform/UdpSocket.h"
#include "support/CpuTime.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

const uint32_t loopback = platform::ipv4Address(127, 0, 0, 1);

// Polls `done` every 5 ms for at most `limitMs`; true when it came true.
template <typename Condition>
bool waitUntil(Condition done, uint32_t limitMs = 3000)
{
    for (uint32_t start = platform::tickCount(); !done(); platform::sleepMilliseconds(5)) {
        if (platform::tickCount() - start > limitMs)
            return false;
    }
    return true;
}

// A service that counts its handler calls; with readsDatagrams it takes one
// datagram per onRead, as the server does. The test thread reads the
// counters while the loop runs, hence atomics.
class RecordingService : public UdpService {
public:
    ~RecordingService() override { stop(); }
    void stop()
    {
        requestStop();
        wait(platform::infiniteTimeout);
    }
    void onStart() override
    {
        sawOtherHandlerBeforeStart.store(reads.load() + writes.load() + idles.load() + messages.load() > 0);
        starts.fetch_add(1);
    }
    void onRead(int32_t) override
    {
        reads.fetch_add(1);
        uint8_t buffer[256];
        uint32_t address = 0;
        if (readsDatagrams && receiveFrom(buffer, sizeof buffer, &address, nullptr) >= 0) {
            received.fetch_add(1);
            senderAddress.store(address);
        }
    }
    void onWrite(int32_t) override { writes.fetch_add(1); }
    void onIdle() override { idles.fetch_add(1); }
    void onStop() override { stops.fetch_add(1); }
    void onMessage(uint32_t first, uint32_t second, uint32_t third) override
    {
        if (messages.fetch_add(1) == 0)
            readsAtFirstMessage.store(reads.load());
        lastMessage.store(first * 10000u + second * 100u + third);
    }

    std::atomic<bool> readsDatagrams{true}, sawOtherHandlerBeforeStart{false};
    std::atomic<int> starts{0}, stops{0}, reads{0}, writes{0}, idles{0}, messages{0}, received{0};
    std::atomic<int> readsAtFirstMessage{-1};
    std::atomic<uint32_t> senderAddress{0}, lastMessage{0};
};

// An open service and a peer that sends to it; the test starts the service
// once the scene is set.
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
            ASSERT_EQ(peer.sendTo(loopback, platform::localPort(service.socket), "data", 4), 4);
    }

    UdpService peer;
    RecordingService service;  // stopped before the peer goes
};

TEST(UdpService, OpensNonBlockingSocketsOfTheKindAskedAndAFailedOpenOrACloseLeavesNone)
{
    int32_t closedByDestructor;
    {
        UdpService stream, datagram, other, unstarted;
        ASSERT_TRUE(stream.open(1, 0, loopback));
        ASSERT_TRUE(datagram.open(0, 0, loopback));
        ASSERT_TRUE(other.open(7, 0, loopback));
        ASSERT_TRUE(unstarted.open(0, 0, loopback));
        closedByDestructor = unstarted.socket;
        EXPECT_TRUE(platform::isStreamSocket(stream.socket));
        EXPECT_FALSE(platform::isStreamSocket(other.socket));
        uint16_t held = platform::localPort(datagram.socket);
        EXPECT_FALSE(other.open(0, held, loopback));
        EXPECT_EQ(other.socket, -1);
        EXPECT_FALSE(other.open(0, held, 0));
        EXPECT_EQ(other.close(), 0);  // nothing open: nothing changes
        EXPECT_EQ(other.socket, -1);
        uint8_t buffer[16];
        EXPECT_EQ(datagram.receiveFrom(buffer, sizeof buffer, nullptr, nullptr), -1);  // would block
        EXPECT_EQ(datagram.close(), 0);
        EXPECT_EQ(datagram.socket, -1);
    }
    EXPECT_EQ(platform::closeSocket(closedByDestructor), -1);  // already closed

    EXPECT_TRUE(startWinsock(2, 2));
    EXPECT_EQ(cleanupWinsock(), 0);
    EXPECT_FALSE(startWinsock(0, 2));
    EXPECT_EQ(cleanupWinsock(), -1);
}

TEST_F(Loop, QuietServiceIdlesEveryHundredMillisecondsWithoutSpinningAndStopsPromptly)
{
    uint32_t cpuBefore = processCpuMilliseconds();
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
    EXPECT_LT(processCpuMilliseconds() - cpuBefore, 60u);
    EXPECT_EQ(service.starts.load(), 1);
    EXPECT_EQ(service.stops.load(), 1);
    EXPECT_FALSE(service.sawOtherHandlerBeforeStart.load());
    // Idle calls are at least 100 ms apart, however late the test wakes.
    EXPECT_GE(service.idles.load(), 3);
    EXPECT_LE(uint32_t(service.idles.load()), (platform::tickCount() - started) / 100 + 1);
    EXPECT_EQ(service.writes.load(), 1);  // once after registration, never again
    EXPECT_EQ(service.reads.load(), 0);
}

// Datagrams that arrive together get one read call each; a handler that
// does not read is not called again until more arrive.
TEST_F(Loop, DatagramsGetOneReadCallEachAndAHandlerThatDoesNotReadIsNotCalledAgain)
{
    send(3);
    ASSERT_TRUE(service.start());
    ASSERT_TRUE(waitUntil([&] { return service.received.load() == 3; }));
    EXPECT_EQ(service.senderAddress.load(), loopback);
    service.readsDatagrams.store(false);
    send(3);
    ASSERT_TRUE(waitUntil([&] { return service.reads.load() == 4; }));
    int idlesBefore = service.idles.load();
    platform::sleepMilliseconds(250);
    service.stop();
    EXPECT_EQ(service.reads.load(), 4);
    EXPECT_GE(service.idles.load(), idlesBefore + 1);  // the loop went quiet, it did not spin
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

// The message queue is served alongside a backlog, not after all of it.
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
    EXPECT_LE(service.readsAtFirstMessage.load(), 2);
}

TEST_F(Loop, AFailingWaitNeitherSpinsNorStopsTheIdleHandler)
{
    platform::closeEvent(service.networkEvent.handle);  // every wait now fails
    service.networkEvent.handle = nullptr;
    uint32_t cpuBefore = processCpuMilliseconds();
    ASSERT_TRUE(service.start());
    platform::sleepMilliseconds(450);
    service.stop();
    EXPECT_LT(processCpuMilliseconds() - cpuBefore, 60u);
    EXPECT_GE(service.idles.load(), 2);
    EXPECT_EQ(service.stops.load(), 1);
}

}  // namespace
