#include "platform/NativeThread.h"

#include "platform/win32/Win32.h"

#include <new>

namespace platform {

namespace {

// The entry has the portable signature, not the system's calling
// convention, so each thread starts in a trampoline that owns this record.
struct ThreadStart {
    ThreadEntry entry;
    void* argument;
};

DWORD WINAPI threadMain(LPVOID raw)
{
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    return start.entry(start.argument);
}

HANDLE nativeOf(ThreadHandle thread)
{
    return reinterpret_cast<HANDLE>(thread);
}

}  // namespace

ThreadHandle createThread(ThreadEntry entry, void* argument, uint32_t* threadId)
{
    auto* start = new (std::nothrow) ThreadStart{entry, argument};
    if (start == nullptr)
        return nullptr;
    // Started suspended: the caller's identifier must be in place before
    // the thread can look at it.
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, threadMain, start, CREATE_SUSPENDED, &id);
    if (thread == nullptr) {
        delete start;
        return nullptr;
    }
    if (threadId != nullptr)
        *threadId = id;
    ResumeThread(thread);
    return reinterpret_cast<ThreadHandle>(thread);
}

uint32_t waitForThread(ThreadHandle thread, uint32_t timeoutMs)
{
    if (thread == nullptr)
        return waitFailed;
    switch (WaitForSingleObject(nativeOf(thread), timeoutMs)) {
    case WAIT_OBJECT_0: return waitObject0;
    case WAIT_TIMEOUT: return waitTimeout;
    default: return waitFailed;
    }
}

void closeThreadHandle(ThreadHandle thread)
{
    if (thread != nullptr)
        CloseHandle(nativeOf(thread));
}

}  // namespace platform
