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
    std::atomic<int> passed{0};
    ~Gate()
    {
        closeEvent(release);
        closeEvent(done);
    }

    static uint32_t run(void* raw)
    {
        auto* gate = static_cast<Gate*>(raw);
        waitForEvents(&gate->release, 1, infiniteTimeout);
        gate->passed.fetch_add(1);
        setEvent(gate->done);
        return 0;
    }
};

}  // namespace

TEST(NativeThread, WaitTimesOutWhileRunningAndSucceedsAfterEnd)
{
    Gate gate;
    uint32_t id = 0;
    ThreadHandle thread = createThread(Gate::run, &gate, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(waitForThread(thread, 0), waitTimeout);
    EXPECT_EQ(waitForThread(thread, 30), waitTimeout);
    setEvent(gate.release);
    EXPECT_EQ(waitForThread(thread, infiniteTimeout), waitObject0);
    EXPECT_EQ(waitForThread(thread, 0), waitObject0);  // the handle outlives the thread
    EXPECT_EQ(gate.passed.load(), 1);
    closeThreadHandle(thread);
}

TEST(NativeThread, NullHandleFailsAndIdsAreDistinct)
{
    EXPECT_EQ(waitForThread(nullptr, 0), waitFailed);
    EXPECT_EQ(waitForThread(nullptr, infiniteTimeout), waitFailed);
    closeThreadHandle(nullptr);

    Gate one, two;
    uint32_t first = 0, second = 0;
    ThreadHandle a = createThread(Gate::run, &one, &first);
    ThreadHandle b = createThread(Gate::run, &two, &second);
    EXPECT_NE(first, 0u);
    EXPECT_NE(first, second);
    setEvent(one.release);
    setEvent(two.release);
    EXPECT_EQ(waitForThread(a, infiniteTimeout), waitObject0);
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
    EXPECT_EQ(gate.passed.load(), 1);
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
    EXPECT_EQ(waitForThread(thread, 40), waitTimeout);
    lock.leave();
    EXPECT_EQ(waitForThread(thread, 40), waitTimeout);
    EXPECT_FALSE(contender.entered.load());
    lock.leave();
    EXPECT_EQ(waitForThread(thread, infiniteTimeout), waitObject0);
    EXPECT_TRUE(contender.entered.load());
    closeThreadHandle(thread);
}
