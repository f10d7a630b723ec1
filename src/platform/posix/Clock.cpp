#include "platform/Clock.h"

#include <atomic>
#include <ctime>

namespace platform {

namespace {

std::atomic<TickSource> injectedSource{nullptr};

uint32_t systemTickCount()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

}  // namespace

uint32_t tickCount()
{
    TickSource source = injectedSource.load(std::memory_order_acquire);
    return source != nullptr ? source() : systemTickCount();
}

void setTickSource(TickSource source)
{
    injectedSource.store(source, std::memory_order_release);
}

void sleepMilliseconds(uint32_t milliseconds)
{
    timespec pause{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0) {
    }
}

void localTimeText(char out[9])
{
    time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    std::strftime(out, 9, "%H:%M:%S", &local);
}

}  // namespace platform
