#include "platform/NativeThread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <pthread.h>

namespace platform {

// Shared by the handle and the running thread; whichever lets go last
// frees it, so a handle may be closed while the thread still runs and
// waited on after the thread has ended.
struct NativeThread {
    ThreadEntry entry;
    void* argument;
    std::mutex lock;
    std::condition_variable ended;
    bool finished = false;
    int holders = 2;
};

namespace {

std::atomic<uint32_t> lastThreadId{0};

void release(NativeThread* thread)
{
    bool last;
    {
        std::lock_guard<std::mutex> guard(thread->lock);
        last = --thread->holders == 0;
    }
    if (last)
        delete thread;
}

void* threadMain(void* raw)
{
    auto* thread = static_cast<NativeThread*>(raw);
    thread->entry(thread->argument);
    {
        std::lock_guard<std::mutex> guard(thread->lock);
        thread->finished = true;
        thread->ended.notify_all();
    }
    release(thread);
    return nullptr;
}

}  // namespace

ThreadHandle createThread(ThreadEntry entry, void* argument, uint32_t* threadId)
{
    auto* thread = new (std::nothrow) NativeThread{entry, argument, {}, {}, false, 2};
    if (thread == nullptr)
        return nullptr;
    if (threadId != nullptr)
        *threadId = lastThreadId.fetch_add(1) + 1;

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t native;
    int failure = pthread_create(&native, &attributes, threadMain, thread);
    pthread_attr_destroy(&attributes);
    if (failure != 0) {
        delete thread;
        return nullptr;
    }
    return thread;
}

uint32_t waitForThread(ThreadHandle thread, uint32_t timeoutMs)
{
    if (thread == nullptr)
        return waitFailed;
    std::unique_lock<std::mutex> guard(thread->lock);
    auto hasFinished = [thread] { return thread->finished; };
    if (timeoutMs == infiniteTimeout) {
        thread->ended.wait(guard, hasFinished);
        return waitObject0;
    }
    bool done = thread->ended.wait_for(guard, std::chrono::milliseconds(timeoutMs), hasFinished);
    return done ? waitObject0 : waitTimeout;
}

void closeThreadHandle(ThreadHandle thread)
{
    if (thread != nullptr)
        release(thread);
}

}  // namespace platform
