#include "concurrency/EventObject.h"
#include "concurrency/Thread.h"
#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

// Runs until asked to stop, taking messages as they come; sums them so the
// test can see the thread at work.
class Worker : public Thread {
public:
    ~Worker() override
    {
        requestStop();
        wait(platform::infiniteTimeout);
    }

    void run() override
    {
        while (!stopRequested.load()) {
            platform::waitForEvents(&wakeEvent.handle, 1, platform::infiniteTimeout);
            uint32_t first, second, third;
            while (popMessage(&first, &second, &third))
                sum.fetch_add(first + second + third);
        }
    }

    std::atomic<uint32_t> sum{0};
};

// A thread whose run returns at once.
class Brief : public Thread {
public:
    void run() override { runs.fetch_add(1); }
    std::atomic<int> runs{0};
};

}  // namespace

TEST(Thread, StartsOnceUntilItsHandleIsClosed)
{
    Brief brief;
    EXPECT_EQ(brief.wait(0), platform::waitFailed);
    ASSERT_TRUE(brief.start());
    EXPECT_FALSE(brief.start());
    EXPECT_EQ(brief.wait(platform::infiniteTimeout), 0u);
    EXPECT_FALSE(brief.start());  // the handle is still held
    EXPECT_EQ(brief.runs.load(), 1);
    brief.closeHandle();
    EXPECT_EQ(brief.wait(0), platform::waitFailed);
    ASSERT_TRUE(brief.start());
    EXPECT_EQ(brief.wait(platform::infiniteTimeout), 0u);
    EXPECT_EQ(brief.runs.load(), 2);
}

TEST(Thread, StartClearsAnEarlierStopRequestAndMessagesAndStopsWakeTheLoop)
{
    Worker worker;
    worker.requestStop();
    ASSERT_TRUE(worker.start());
    EXPECT_EQ(worker.wait(30), platform::waitTimeout);
    for (uint32_t i = 1; i <= 50; ++i)
        worker.postMessage(i, 0, i);
    for (int i = 0; i < 400 && worker.sum.load() != 2550; ++i)
        platform::sleepMilliseconds(5);
    EXPECT_EQ(worker.sum.load(), 2550u);

    uint32_t before = platform::tickCount();
    worker.requestStop();
    EXPECT_EQ(worker.wait(2000), 0u);  // the worker waits without limit: only the request wakes it
    EXPECT_LT(platform::tickCount() - before, 1000u);
}

TEST(Thread, MessagesComeOutInOrderAndNullOutParametersAreSkipped)
{
    Brief queue;
    uint32_t first = 0, second = 0, third = 0;
    for (uint32_t i = 0; i < 100; ++i)
        queue.postMessage(i, i * 2, i * 3);
    ASSERT_TRUE(queue.popMessage(&first, nullptr, nullptr));
    EXPECT_EQ(first, 0u);
    for (uint32_t i = 1; i < 100; ++i) {
        ASSERT_TRUE(queue.popMessage(&first, &second, &third));
        EXPECT_TRUE(first == i && second == i * 2 && third == i * 3) << "message " << i;
    }
    EXPECT_FALSE(queue.popMessage(&first, &second, &third));
    EXPECT_EQ(first, 99u);  // untouched by the failed pop
}

// The arguments run the other way from platform::createEvent's.
TEST(EventObject, TakesSignalledThenManualResetAndRefusesNames)
{
    EventObject autoReset(true, false, nullptr);
    ASSERT_NE(autoReset.handle, nullptr);
    EXPECT_EQ(platform::waitForEvents(&autoReset.handle, 1, 0), 0u);
    EXPECT_EQ(platform::waitForEvents(&autoReset.handle, 1, 0), platform::waitTimeout);

    EventObject manual(false, true, nullptr);
    EXPECT_EQ(platform::waitForEvents(&manual.handle, 1, 0), platform::waitTimeout);
    manual.set();
    EXPECT_EQ(platform::waitForEvents(&manual.handle, 1, 0), 0u);
    EXPECT_EQ(platform::waitForEvents(&manual.handle, 1, 0), 0u);
    manual.reset();
    EXPECT_EQ(platform::waitForEvents(&manual.handle, 1, 0), platform::waitTimeout);

    EventObject named(false, false, "shared");
    EXPECT_EQ(named.handle, nullptr);
    named.set();  // harmless on a null handle
}
