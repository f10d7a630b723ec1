#include "platform/NativeEvent.h"
#include "platform/NativeThread.h"
#include "platform/RecursiveLock.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace platform;

namespace {

// A thread that blocks until released, so the test decides when it ends;
// `done` tells that it got past the gate even without a handle.
struct Gate {
    EventHandle release = createEvent(false, false);
    EventHandle done = createEvent(false, false);
    ~Gate()
    {
        closeEvent(release);
        closeEvent(done);
    }

    static uint32_t run(void* raw)
    {
        auto* gate = static_cast<Gate*>(raw);
        waitForEvents(&gate->release, 1, infiniteTimeout);
        setEvent(gate->done);
        return 0;
    }
};

}  // namespace

TEST(NativeThread, WaitTimesOutWhileRunningAndSucceedsAfterEndAndIdsAreDistinct)
{
    EXPECT_EQ(waitForThread(nullptr, 0), waitFailed);
    EXPECT_EQ(waitForThread(nullptr, infiniteTimeout), waitFailed);
    closeThreadHandle(nullptr);

    Gate one, two;
    uint32_t first = 0, second = 0;
    ThreadHandle a = createThread(Gate::run, &one, &first);
    ThreadHandle b = createThread(Gate::run, &two, &second);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(first, 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(waitForThread(a, 0), waitTimeout);
    EXPECT_EQ(waitForThread(a, 30), waitTimeout);
    setEvent(one.release);
    EXPECT_EQ(waitForThread(a, infiniteTimeout), waitObject0);
    EXPECT_EQ(waitForThread(a, 0), waitObject0);  // the handle outlives the thread
    EXPECT_EQ(waitForThread(b, 0), waitTimeout);  // the other one still waits
    setEvent(two.release);
    EXPECT_EQ(waitForThread(b, infiniteTimeout), waitObject0);
    closeThreadHandle(a);
    closeThreadHandle(b);
}

TEST(NativeThread, ClosingTheHandleLeavesTheThreadRunning)
{
    Gate gate;
    ThreadHandle thread = createThread(Gate::run, &gate, nullptr);
    ASSERT_NE(thread, nullptr);
    closeThreadHandle(thread);
    setEvent(gate.release);
    EXPECT_EQ(waitForEvents(&gate.done, 1, 5000), 0u);
}

namespace {

struct Contender {
    RecursiveLock* lock;
    std::atomic<bool> entered{false};

    static uint32_t run(void* raw)
    {
        auto* self = static_cast<Contender*>(raw);
        self->lock->enter();
        self->entered.store(true);
        self->lock->leave();
        return 0;
    }
};

}  // namespace

TEST(RecursiveLock, HolderReentersAndOthersWaitForTheLastLeave)
{
    RecursiveLock lock;
    lock.enter();
    lock.enter();
    Contender contender{&lock};
    ThreadHandle thread = createThread(Contender::run, &contender, nullptr);
    ASSERT_NE(thread, nullptr);
    lock.leave();
    EXPECT_EQ(waitForThread(thread, 40), waitTimeout);
    EXPECT_FALSE(contender.entered.load());
    lock.leave();
    EXPECT_EQ(waitForThread(thread, infiniteTimeout), waitObject0);
    EXPECT_TRUE(contender.entered.load());
    closeThreadHandle(thread);
}
