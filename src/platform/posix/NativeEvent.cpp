#include "platform/NativeEvent.h"

#include "platform/posix/SocketRegistry.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <new>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr uint32_t noneSignalled = 0xFFFFFFFEu;
constexpr int pollInterrupted = -2;

uint64_t monotonicMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

class Deadline {
public:
    explicit Deadline(uint32_t timeoutMs)
        : infinite(timeoutMs == infiniteTimeout), end(monotonicMilliseconds() + timeoutMs)
    {
    }

    // For poll: -1 without limit, else the milliseconds left (0 when past).
    int remaining() const
    {
        if (infinite)
            return -1;
        uint64_t now = monotonicMilliseconds();
        if (now >= end)
            return 0;
        uint64_t left = end - now;
        return left > INT_MAX ? INT_MAX : static_cast<int>(left);
    }

private:
    bool infinite;
    uint64_t end;
};

bool isSignalled(NativeEvent* event)
{
    pollfd probe{event->descriptor, POLLIN, 0};
    return poll(&probe, 1, 0) == 1 && (probe.revents & POLLIN) != 0;
}

// An auto-reset event is reset by taking its signal; of two waiters only
// one read succeeds.
bool takeSignal(NativeEvent* event)
{
    if (event->manualReset)
        return isSignalled(event);
    uint64_t count;
    return read(event->descriptor, &count, sizeof count) == static_cast<ssize_t>(sizeof count);
}

// The first event in index order that is signalled: either news from its
// socket in this round (noted) or its own signal, which is then taken.
// Socket news goes straight to the result, without a trip through the
// event's descriptor; news of a later event than the one returned is
// signalled there so that the next wait still finds it, and so is news of
// a manual-reset event, which stays signalled. At worst a signal left over
// from an earlier round wakes a later wait that then finds nothing
// recorded, which callers of the socket layer already allow for.
uint32_t takeFirstSignal(const EventHandle* events, uint32_t count, const bool* noted)
{
    uint32_t first = noneSignalled;
    for (uint32_t i = 0; i < count; ++i) {
        bool chosen = first == noneSignalled && (noted[i] || takeSignal(events[i]));
        if (chosen)
            first = i;
        if (noted[i] && (!chosen || events[i]->manualReset))
            registry::signal(events[i]);
    }
    return first;
}

bool validWaitList(const EventHandle* events, uint32_t count)
{
    if (events == nullptr || count == 0 || count > maxWaitEvents)
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        if (events[i] == nullptr)
            return false;
    }
    return true;
}

// One poll over the events and their tied sockets. What a tied socket is
// ready for is recorded for its event, and noted[i] tells whether that is
// news for events[i]. The number of ready descriptors, 0 on a time-out,
// pollInterrupted, or -1 when the system wait failed.
int pollRound(const EventHandle* events, uint32_t count, int timeoutMs, bool* noted)
{
    pollfd watched[2 * maxWaitEvents];
    uint32_t owners[2 * maxWaitEvents];
    nfds_t n = 0;
    for (uint32_t i = 0; i < count; ++i) {
        noted[i] = false;
        watched[n++] = pollfd{events[i]->descriptor, POLLIN, 0};
    }
    for (uint32_t i = 0; i < count; ++i) {
        registry::SocketWatch watch;
        if (registry::watchOf(events[i], &watch)) {
            owners[n] = i;
            watched[n++] = pollfd{watch.socket, watch.interest, 0};
        }
    }
    int ready = poll(watched, n, timeoutMs);
    if (ready < 0)
        return errno == EINTR ? pollInterrupted : -1;
    for (nfds_t k = count; k < n; ++k) {
        uint32_t i = owners[k];
        if (watched[k].revents != 0 && registry::noteReadiness(events[i], watched[k].fd, watched[k].revents))
            noted[i] = true;
    }
    return ready;
}

}  // namespace

namespace registry {

bool signal(NativeEvent* event)
{
    uint64_t one = 1;
    return write(event->descriptor, &one, sizeof one) == static_cast<ssize_t>(sizeof one);
}

}  // namespace registry

EventHandle createEvent(bool manualReset, bool initiallySignalled)
{
    int descriptor = eventfd(initiallySignalled ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (descriptor < 0)
        return nullptr;
    auto* event = new (std::nothrow) NativeEvent;
    if (event == nullptr) {
        close(descriptor);
        return nullptr;
    }
    event->descriptor = descriptor;
    event->manualReset = manualReset;
    return event;
}

void setEvent(EventHandle event)
{
    if (event != nullptr)
        registry::signal(event);
}

void resetEvent(EventHandle event)
{
    uint64_t count;
    if (event != nullptr)
        (void)!read(event->descriptor, &count, sizeof count);
}

void closeEvent(EventHandle event)
{
    if (event == nullptr)
        return;
    registry::untieEvent(event);
    close(event->descriptor);
    delete event;
}

uint32_t waitForEvents(const EventHandle* events, uint32_t count, uint32_t timeoutMs)
{
    if (!validWaitList(events, count))
        return waitFailed;
    Deadline deadline(timeoutMs);
    // Poll first, then take signals in index order: a tied socket that is
    // already readable counts as a signalled event in that same round, so
    // it wins over an event signalled later, as the socket layer's own
    // signal would. One poll a round; it returns at once when anything is
    // ready.
    bool noted[maxWaitEvents];
    for (;;) {
        int ready = pollRound(events, count, deadline.remaining(), noted);
        if (ready == pollInterrupted)
            continue;
        if (ready < 0)
            return waitFailed;
        uint32_t index = takeFirstSignal(events, count, noted);
        if (index != noneSignalled)
            return index;
        if (ready == 0)
            return waitTimeout;
    }
}

}  // namespace platform
