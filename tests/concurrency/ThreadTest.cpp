#include "concurrency/EventObject.h"
#include "concurrency/Thread.h"
#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

// Runs until asked to stop, taking messages as they come and checking that
// they come in order; a brief one returns at once.
class Worker : public Thread {
public:
    explicit Worker(bool brief = false) : brief(brief) {}
    ~Worker() override
    {
        requestStop();
        wait(platform::infiniteTimeout);
    }
    void run() override
    {
        runs.fetch_add(1);
        while (!brief && !stopRequested.load()) {
            platform::waitForEvents(&wakeEvent.handle, 1, platform::infiniteTimeout);
            uint32_t first, second, third;
            while (popMessage(&first, &second, &third)) {
                inOrder = inOrder && first == next && second == first * 2 && third == first * 3;
                next = first + 1;
            }
        }
    }

    const bool brief;
    std::atomic<int> runs{0};
    std::atomic<uint32_t> next{1};
    std::atomic<bool> inOrder{true};
};

TEST(Thread, StartsOnceUntilItsHandleIsClosed)
{
    Worker brief(true);
    EXPECT_EQ(brief.wait(0), platform::waitFailed);
    ASSERT_TRUE(brief.start());
    EXPECT_FALSE(brief.start());
    EXPECT_EQ(brief.wait(platform::infiniteTimeout), 0u);
    EXPECT_FALSE(brief.start());  // the handle is still held
    brief.closeHandle();
    EXPECT_EQ(brief.wait(0), platform::waitFailed);
    ASSERT_TRUE(brief.start());
    EXPECT_EQ(brief.wait(platform::infiniteTimeout), 0u);
    EXPECT_EQ(brief.runs.load(), 2);

    uint32_t first = 7;  // a failed pop leaves its outputs alone; null ones are skipped
    EXPECT_FALSE(brief.popMessage(&first, nullptr, nullptr));
    EXPECT_EQ(first, 7u);
    brief.postMessage(1, 2, 3);
    ASSERT_TRUE(brief.popMessage(&first, nullptr, nullptr));
    EXPECT_EQ(first, 1u);
}

// The worker waits without limit: only messages and the stop request wake it.
TEST(Thread, StartClearsAnEarlierStopRequestAndMessagesAndStopsWakeTheLoop)
{
    Worker worker;
    worker.requestStop();
    ASSERT_TRUE(worker.start());
    EXPECT_EQ(worker.wait(30), platform::waitTimeout);
    for (uint32_t i = 1; i <= 100; ++i)
        worker.postMessage(i, i * 2, i * 3);
    for (int i = 0; i < 400 && worker.next.load() != 101; ++i)
        platform::sleepMilliseconds(5);
    EXPECT_EQ(worker.next.load(), 101u);
    EXPECT_TRUE(worker.inOrder.load());
    uint32_t before = platform::tickCount();
    worker.requestStop();
    EXPECT_EQ(worker.wait(2000), 0u);
    EXPECT_LT(platform::tickCount() - before, 1000u);
}

// The arguments run the other way from platform::createEvent's.
TEST(EventObject, TakesSignalledThenManualResetAndRefusesNames)
{
    EventObject autoReset(true, false, nullptr), manual(false, true, nullptr), named(false, false, "shared");
    ASSERT_NE(autoReset.handle, nullptr);
    EXPECT_EQ(platform::waitForEvents(&autoReset.handle, 1, 0), 0u);
    EXPECT_EQ(platform::waitForEvents(&autoReset.handle, 1, 0), platform::waitTimeout);
    EXPECT_EQ(platform::waitForEvents(&manual.handle, 1, 0), platform::waitTimeout);
    manual.set();
    EXPECT_EQ(platform::waitForEvents(&manual.handle, 1, 0), 0u);
    EXPECT_EQ(platform::waitForEvents(&manual.handle, 1, 0), 0u);
    manual.reset();
    EXPECT_EQ(platform::waitForEvents(&manual.handle, 1, 0), platform::waitTimeout);
    EXPECT_EQ(named.handle, nullptr);
    named.set();  // harmless on a null handle
}

}  // namespace
