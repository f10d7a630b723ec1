#include "platform/Clock.h"
#include "platform/NativeEvent.h"
#include "platform/NativeThread.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(NativeEvent, AutoResetIsConsumedByTheWaitItEnds)
{
    EventHandle event = createEvent(false, true);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(waitForEvents(&event, 1, 0), 0u);
    EXPECT_EQ(waitForEvents(&event, 1, 0), waitTimeout);
    setEvent(event);
    setEvent(event);  // signalled is a state, not a count
    EXPECT_EQ(waitForEvents(&event, 1, 0), 0u);
    EXPECT_EQ(waitForEvents(&event, 1, 0), waitTimeout);
    setEvent(event);
    resetEvent(event);
    EXPECT_EQ(waitForEvents(&event, 1, 0), waitTimeout);
    closeEvent(event);
}

TEST(NativeEvent, LowestSignalledIndexWinsAndBadListsFail)
{
    EventHandle events[3] = {createEvent(false, false), createEvent(false, false), createEvent(false, false)};
    setEvent(events[2]);
    setEvent(events[1]);
    EXPECT_EQ(waitForEvents(events, 3, 0), 1u);
    EXPECT_EQ(waitForEvents(events, 3, 0), 2u);
    EXPECT_EQ(waitForEvents(events, 3, 0), waitTimeout);

    EXPECT_EQ(waitForEvents(events, 0, 0), waitFailed);
    EXPECT_EQ(waitForEvents(nullptr, 1, 0), waitFailed);
    EventHandle withNull[2] = {events[0], nullptr};
    EXPECT_EQ(waitForEvents(withNull, 2, 0), waitFailed);
    for (EventHandle event : events)
        closeEvent(event);
    setEvent(nullptr);
    closeEvent(nullptr);
}

namespace {

uint32_t signalLater(void* raw)
{
    sleepMilliseconds(30);
    setEvent(static_cast<EventHandle>(raw));
    return 0;
}

}  // namespace

TEST(NativeEvent, TimesOutAsAskedAndASetFromAnotherThreadEndsAnInfiniteWait)
{
    EventHandle events[2] = {createEvent(false, false), createEvent(false, false)};
    uint32_t before = tickCount();
    EXPECT_EQ(waitForEvents(events, 1, 60), waitTimeout);
    uint32_t took = tickCount() - before;
    EXPECT_GE(took, 59u);
    EXPECT_LT(took, 500u);

    ThreadHandle thread = createThread(signalLater, events[1], nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(waitForEvents(events, 2, infiniteTimeout), 1u);
    EXPECT_EQ(waitForThread(thread, infiniteTimeout), waitObject0);
    closeThreadHandle(thread);
    closeEvent(events[0]);
    closeEvent(events[1]);
}
