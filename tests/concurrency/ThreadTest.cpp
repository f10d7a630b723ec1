#include "concurrency/CriticalSection.h"
#include "concurrency/EventObject.h"
#include "concurrency/Thread.h"
#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

// Runs until asked to stop, taking messages as they come; counts them so
// the test can see the thread at work.
class Worker : public Thread {
public:
    ~Worker() override
    {
        requestStop();
        wait(platform::infiniteTimeout);
    }

    void run() override
    {
        runs.fetch_add(1);
        while (!stopRequested.load()) {
            platform::waitForEvents(&wakeEvent.handle, 1, platform::infiniteTimeout);
            uint32_t first, second, third;
            while (popMessage(&first, &second, &third))
                sum.fetch_add(first + second + third);
        }
    }

    std::atomic<int> runs{0};
    std::atomic<uint32_t> sum{0};
};

// A thread whose run returns at once.
class Brief : public Thread {
public:
    void run() override { ran.store(true); }
    std::atomic<bool> ran{false};
};

}  // namespace

TEST(Thread, SecondStartFailsAndStartsNothing)
{
    Worker worker;
    EXPECT_TRUE(worker.start());
    EXPECT_FALSE(worker.start());
    worker.requestStop();
    EXPECT_EQ(worker.wait(platform::infiniteTimeout), 0u);
    EXPECT_EQ(worker.runs.load(), 1);
    EXPECT_FALSE(worker.start());  // the handle is still held
}

TEST(Thread, WaitResults)
{
    Brief never;
    EXPECT_EQ(never.wait(0), platform::waitFailed);

    Worker worker;
    ASSERT_TRUE(worker.start());
    EXPECT_NE(worker.threadId, 0u);
    EXPECT_EQ(worker.wait(0), platform::waitTimeout);
    EXPECT_EQ(worker.wait(20), platform::waitTimeout);

    Brief brief;
    ASSERT_TRUE(brief.start());
    EXPECT_EQ(brief.wait(platform::infiniteTimeout), 0u);
    EXPECT_EQ(brief.wait(0), 0u);
    EXPECT_TRUE(brief.ran.load());
    brief.closeHandle();
    EXPECT_EQ(brief.threadHandle, nullptr);
    EXPECT_EQ(brief.wait(0), platform::waitFailed);
    EXPECT_TRUE(brief.start());  // a closed handle allows a new start
    EXPECT_EQ(brief.wait(platform::infiniteTimeout), 0u);
}

TEST(Thread, StartClearsAnEarlierStopRequest)
{
    Worker worker;
    worker.requestStop();
    ASSERT_TRUE(worker.start());
    EXPECT_EQ(worker.wait(30), platform::waitTimeout);
    worker.postMessage(1, 2, 3);
    for (int i = 0; i < 200 && worker.sum.load() != 6; ++i)
        platform::sleepMilliseconds(5);
    EXPECT_EQ(worker.sum.load(), 6u);
}

TEST(Thread, StopRequestEndsTheLoopPromptly)
{
    Worker worker;
    ASSERT_TRUE(worker.start());
    platform::sleepMilliseconds(10);
    uint32_t before = platform::tickCount();
    worker.requestStop();
    EXPECT_EQ(worker.wait(2000), 0u);
    EXPECT_LT(platform::tickCount() - before, 100u);
}

TEST(Thread, MessagesComeOutInOrderAndNullOutParametersAreSkipped)
{
    Brief queue;
    uint32_t first = 0, second = 0, third = 0;
    EXPECT_FALSE(queue.popMessage(&first, &second, &third));

    for (uint32_t i = 0; i < 100; ++i)
        queue.postMessage(i, i * 2, i * 3);
    EXPECT_EQ(queue.messages.size, 100);
    EXPECT_EQ(queue.messages.capacity, 128);  // 64 first, then doubled

    ASSERT_TRUE(queue.popMessage(&first, nullptr, nullptr));
    EXPECT_EQ(first, 0u);
    for (uint32_t i = 1; i < 100; ++i) {
        ASSERT_TRUE(queue.popMessage(&first, &second, &third));
        EXPECT_EQ(first, i);
        EXPECT_EQ(second, i * 2);
        EXPECT_EQ(third, i * 3);
    }
    EXPECT_FALSE(queue.popMessage(&first, &second, &third));
    EXPECT_EQ(first, 99u);  // untouched by the failed pop
    EXPECT_EQ(queue.messages.size, 0);
    EXPECT_EQ(queue.messages.capacity, 128);  // shrinking keeps the storage
}

TEST(Thread, PostedMessagesReachARunningThread)
{
    Worker worker;
    ASSERT_TRUE(worker.start());
    for (uint32_t i = 1; i <= 50; ++i)
        worker.postMessage(i, 0, 0);
    for (int i = 0; i < 400 && worker.sum.load() != 1275; ++i)
        platform::sleepMilliseconds(5);
    EXPECT_EQ(worker.sum.load(), 1275u);
}

TEST(Thread, NeverStartedThreadIsDestroyedWithoutWaiting)
{
    uint32_t before = platform::tickCount();
    {
        Brief idle;
        idle.postMessage(1, 2, 3);
    }
    EXPECT_LT(platform::tickCount() - before, 50u);
}

namespace {

struct Contender : Thread {
    CriticalSection* lock;
    std::atomic<bool> entered{false};
    explicit Contender(CriticalSection* lock) : lock(lock) {}
    void run() override
    {
        lock->enter();
        entered.store(true);
        lock->leave();
    }
};

}  // namespace

TEST(CriticalSection, OwnerReentersWhileOthersWait)
{
    CriticalSection lock;
    lock.enter();
    lock.enter();
    Contender contender(&lock);
    ASSERT_TRUE(contender.start());
    lock.leave();
    EXPECT_EQ(contender.wait(40), platform::waitTimeout);
    EXPECT_FALSE(contender.entered.load());
    lock.leave();
    EXPECT_EQ(contender.wait(platform::infiniteTimeout), 0u);
    EXPECT_TRUE(contender.entered.load());
}

TEST(EventObject, SetWakesAWaiterAndNamedEventsAreRefused)
{
    EventObject event(false, false, nullptr);
    ASSERT_NE(event.handle, nullptr);
    EXPECT_EQ(platform::waitForEvents(&event.handle, 1, 0), platform::waitTimeout);
    event.set();
    EXPECT_EQ(platform::waitForEvents(&event.handle, 1, 0), 0u);
    EXPECT_EQ(platform::waitForEvents(&event.handle, 1, 0), platform::waitTimeout);

    EventObject signalled(true, true, nullptr);
    EXPECT_EQ(platform::waitForEvents(&signalled.handle, 1, 0), 0u);
    EXPECT_EQ(platform::waitForEvents(&signalled.handle, 1, 0), 0u);
    signalled.reset();
    EXPECT_EQ(platform::waitForEvents(&signalled.handle, 1, 0), platform::waitTimeout);

    EventObject named(false, false, "shared");
    EXPECT_EQ(named.handle, nullptr);
    named.set();  // harmless on a null handle
}
