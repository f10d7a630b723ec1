#include "platform/NativeEvent.h"

#include "platform/win32/Win32.h"

#include <new>

namespace platform {

EventHandle createEvent(bool manualReset, bool initiallySignalled)
{
    HANDLE handle = CreateEventA(nullptr, manualReset ? TRUE : FALSE, initiallySignalled ? TRUE : FALSE, nullptr);
    if (handle == nullptr)
        return nullptr;
    auto* event = new (std::nothrow) NativeEvent;
    if (event == nullptr) {
        CloseHandle(handle);
        return nullptr;
    }
    event->handle = handle;
    return event;
}

void setEvent(EventHandle event)
{
    if (event != nullptr)
        SetEvent(event->handle);
}

void resetEvent(EventHandle event)
{
    if (event != nullptr)
        ResetEvent(event->handle);
}

void closeEvent(EventHandle event)
{
    if (event == nullptr)
        return;
    // A socket still tied to the handle would keep recording events for a
    // handle that is gone (or, worse, reused).
    win32::untieEvent(event);
    CloseHandle(event->handle);
    delete event;
}

uint32_t waitForEvents(const EventHandle* events, uint32_t count, uint32_t timeoutMs)
{
    if (events == nullptr || count == 0 || count > maxWaitEvents)
        return waitFailed;
    HANDLE handles[maxWaitEvents];
    for (uint32_t i = 0; i < count; ++i) {
        if (events[i] == nullptr)
            return waitFailed;
        handles[i] = events[i]->handle;
    }
    DWORD result = WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
    if (result == WAIT_TIMEOUT)
        return waitTimeout;
    if (result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + count)
        return result - WAIT_OBJECT_0;
    return waitFailed;
}

}  // namespace platform
