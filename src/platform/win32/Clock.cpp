#include "platform/Clock.h"

#include "platform/win32/Win32.h"

#include <atomic>
#include <cstdio>

namespace platform {

namespace {

std::atomic<TickSource> injectedSource{nullptr};

}  // namespace

uint32_t tickCount()
{
    TickSource source = injectedSource.load(std::memory_order_acquire);
    return source != nullptr ? source() : static_cast<uint32_t>(GetTickCount());
}

void setTickSource(TickSource source)
{
    injectedSource.store(source, std::memory_order_release);
}

void sleepMilliseconds(uint32_t milliseconds)
{
    Sleep(milliseconds);
}

void localTimeText(char out[9])
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    std::snprintf(out, 9, "%02u:%02u:%02u", static_cast<unsigned>(now.wHour) % 100u,
                  static_cast<unsigned>(now.wMinute) % 100u, static_cast<unsigned>(now.wSecond) % 100u);
}

}  // namespace platform
