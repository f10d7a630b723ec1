#include "concurrency/Thread.h"

Thread::Thread() = default;

// The members then go in reverse order: the message storage, the lock,
// and last the wake event.
Thread::~Thread()
{
    closeHandle();
}

bool Thread::start()
{
    if (threadHandle != nullptr)
        return false;
    stopRequested.store(false);
    threadHandle = platform::createThread(entryPoint, this, &threadId);
    return true;
}

uint32_t Thread::wait(uint32_t timeoutMs)
{
    return platform::waitForThread(threadHandle, timeoutMs);
}

void Thread::closeHandle()
{
    platform::closeThreadHandle(threadHandle);
    threadHandle = nullptr;
}

bool Thread::popMessage(uint32_t* first, uint32_t* second, uint32_t* third)
{
    queueLock.enter();
    if (messages.size == 0) {
        queueLock.leave();
        return false;
    }
    ThreadMessage oldest = messages[0];
    messages.removeAt(0);
    queueLock.leave();

    if (first != nullptr)
        *first = oldest.first;
    if (second != nullptr)
        *second = oldest.second;
    if (third != nullptr)
        *third = oldest.third;
    return true;
}

void Thread::postMessage(uint32_t first, uint32_t second, uint32_t third)
{
    queueLock.enter();
    messages.add(ThreadMessage{first, second, third});
    queueLock.leave();
    wakeEvent.set();
}

void Thread::requestStop()
{
    stopRequested.store(true);
    wakeEvent.set();
}

uint32_t Thread::entryPoint(void* self)
{
    static_cast<Thread*>(self)->run();
    return 0;
}
