#include "net/DatagramLoop.h"
#include "platform/HostResolver.h"
#include "support/SteppingClock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

namespace {

const uint32_t loopback = platform::ipv4Address(127, 0, 0, 1);

struct Call {
    char kind;          // 's'tart, 'd'atagram, 'i'dle
    int32_t first = 0;  // a datagram's first byte
    uint32_t address = 0;
    uint16_t port = 0;
    uint32_t now = 0;
};

size_t count(const std::vector<Call>& calls, char kind)
{
    size_t n = 0;
    for (const Call& call : calls)
        n += call.kind == kind ? 1 : 0;
    return n;
}

// Notes every call of the loop for the test thread; `react` runs on the
// loop's thread after each.
class Recorder : public DatagramHandler {
public:
    void onStart(uint32_t) override { note(Call{'s'}); }
    void onDatagram(const uint8_t* data, int32_t length, uint32_t address, uint16_t port, uint32_t) override
    {
        note(Call{'d', length > 0 ? data[0] : -1, address, port});
    }
    void onIdle(uint32_t now) override { note(Call{'i', 0, 0, 0, now}); }
    void onBatchEnd() override
    {
        std::lock_guard<std::mutex> hold(lock);
        batchEnds.push_back(count(calls, 'd'));
    }

    // Waits until `done` accepts the calls so far (at most 5 s, which only a
    // broken loop needs), and returns them either way.
    std::vector<Call> await(const std::function<bool(const std::vector<Call>&)>& done)
    {
        std::unique_lock<std::mutex> hold(lock);
        noted.wait_for(hold, std::chrono::seconds(5), [&] { return done(calls); });
        return calls;
    }
    std::vector<Call> all() { return await([](const std::vector<Call>&) { return true; }); }

    std::function<void(const Call&)> react = [](const Call&) {};
    std::vector<size_t> batchEnds;  // the datagrams handled by each; read once the loop stopped

private:
    void note(const Call& call)
    {
        {
            std::lock_guard<std::mutex> hold(lock);
            calls.push_back(call);
        }
        noted.notify_all();
        react(call);
    }

    std::mutex lock;
    std::condition_variable noted;
    std::vector<Call> calls;
};

class Loop : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(socket.open(loopback, 0));
        ASSERT_TRUE(peer.open(loopback, 0));
    }
    void send(int32_t datagrams)
    {
        for (int32_t i = 0; i < datagrams; ++i) {
            uint8_t numbered[4] = {uint8_t(i), 1, 2, 3};
            ASSERT_EQ(peer.sendTo(loopback, socket.localPort(), numbered, sizeof numbered), 4);
        }
    }
    std::vector<Call> awaitDatagrams(size_t datagrams)
    {
        return recorder.await([=](const std::vector<Call>& calls) { return count(calls, 'd') >= datagrams; });
    }

    platform::DatagramSocket socket, peer;
    Recorder recorder;
    DatagramLoop loop{socket, recorder};  // goes first, stopping its thread
};

// Every reading of the clock moves it 10 ms on, so each datagram makes an
// idle call due; the loop still takes the waiting ones in arrival order, in
// passes of at most datagramsPerPass with an idle call after each.
TEST_F(Loop, DrainsABurstInOrderWithIdleCallsBetweenBoundedPasses)
{
    SteppingClock clock(10);
    send(150);
    ASSERT_TRUE(loop.start());
    EXPECT_FALSE(loop.start());
    std::vector<Call> calls = awaitDatagrams(150);
    loop.stop();
    ASSERT_EQ(calls.front().kind, 's');
    int32_t expected = 0, sinceIdle = 0, idlesDuringBurst = 0;
    for (const Call& call : calls) {
        if (call.kind == 'd') {
            EXPECT_EQ(call.first, expected++);
            EXPECT_EQ(call.address, loopback);
            EXPECT_EQ(call.port, peer.localPort());
            EXPECT_LE(++sinceIdle, DatagramLoop::datagramsPerPass);
        } else if (call.kind == 'i' && expected < 150) {
            sinceIdle = 0;
            ++idlesDuringBurst;
        }
    }
    EXPECT_EQ(expected, 150);
    EXPECT_GE(idlesDuringBurst, 2);
}

// With time standing still, one wake-up takes a burst of several passes:
// each datagram in order, no idle call between, and a batch end after each
// pass, where what the datagrams made leaves.
TEST_F(Loop, OneWakeUpTakesABurstOfSeveralPassesInOrder)
{
    SteppingClock clock(0);
    send(150);
    ASSERT_TRUE(loop.start());
    std::vector<Call> calls = awaitDatagrams(150);
    loop.stop();
    ASSERT_GE(calls.size(), 151u);
    EXPECT_EQ(calls[0].kind, 's');
    for (int32_t i = 0; i < 150; ++i) {
        EXPECT_EQ(calls[size_t(i) + 1].kind, 'd');
        EXPECT_EQ(calls[size_t(i) + 1].first, i);
    }
    std::vector<size_t> passEnds;
    for (size_t end = DatagramLoop::datagramsPerPass; end < 150; end += DatagramLoop::datagramsPerPass)
        passEnds.push_back(end);
    passEnds.push_back(150);
    EXPECT_EQ(recorder.batchEnds, passEnds);
}

// Each datagram handled brings another, so the queue never runs empty; the
// clock moves 1 ms a reading. Idle calls still come every interval, late by
// at most the pass under way and a few readings of the loop's own.
TEST_F(Loop, AStreamThatNeverPausesStillGetsIdleCallsOnTime)
{
    SteppingClock clock(1);
    recorder.react = [this](const Call& call) {
        if (call.kind == 'd')
            peer.sendTo(loopback, socket.localPort(), "more", 4);
    };
    send(100);
    ASSERT_TRUE(loop.start());
    std::vector<Call> calls = recorder.await([](const std::vector<Call>& c) { return count(c, 'i') >= 5; });
    loop.stop();
    ASSERT_GE(count(calls, 'i'), 5u);
    uint32_t lastIdle = 0;
    size_t datagrams = 0;
    for (const Call& call : calls) {
        datagrams += call.kind == 'd' ? 1 : 0;
        if (call.kind != 'i')
            continue;
        EXPECT_LE(call.now - lastIdle, DatagramLoop::idleInterval + DatagramLoop::datagramsPerPass + 5);
        EXPECT_GT(datagrams, 0u);  // the stream went on between them
        lastIdle = call.now;
        datagrams = 0;
    }
}

// The clock stands still, so idle calls come only from time-outs; a stop
// that did not wake the wait would let one more run.
TEST_F(Loop, IdlesOnATimeOutAndAStopFromAnotherThreadEndsTheWait)
{
    SteppingClock clock(0);
    ASSERT_TRUE(loop.start());
    std::vector<Call> calls = recorder.await([](const std::vector<Call>& c) { return count(c, 'i') == 1; });
    loop.stop();
    calls = recorder.all();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].kind, 's');
    EXPECT_EQ(calls[1].kind, 'i');
}

TEST_F(Loop, AStopAskedForByAHandlerEndsThePassWithoutAnotherCall)
{
    recorder.react = [this](const Call& call) {
        if (call.kind == 'd')
            loop.requestStop();
    };
    send(10);
    loop.run();  // returns once stopped
    std::vector<Call> calls = recorder.all();
    EXPECT_EQ(count(calls, 'd'), 1u);
    EXPECT_EQ(calls.back().kind, 'd');
}

}  // namespace
