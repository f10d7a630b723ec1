#pragma once

#include "concurrency/CriticalSection.h"
#include "concurrency/EventObject.h"
#include "concurrency/ThreadMessage.h"
#include "foundation/Array.h"
#include "platform/NativeThread.h"

#include <atomic>
#include <cstdint>

// The base of an object that owns a thread of its own, which runs `run`.
// The destructor neither stops nor waits for the thread: whoever owns a
// started Thread calls requestStop and wait before destroying it, or the
// thread may run on in a half-destroyed object.
class Thread {
public:
    Thread();
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // False when a thread was already started (the handle is held);
    // otherwise clears stopRequested, starts the thread and returns true,
    // also when the thread could not be made (then wait fails at once).
    bool start();

    // 0 once run has returned, platform::waitTimeout when the time ran out
    // (platform::infiniteTimeout waits without limit), platform::waitFailed
    // when there is no thread.
    uint32_t wait(uint32_t timeoutMs);

    // Lets go of the thread handle; does not stop the thread.
    void closeHandle();

    // Takes the oldest queued message; false when the queue is empty. Each
    // word is stored only where its out-parameter is not null.
    bool popMessage(uint32_t* first, uint32_t* second, uint32_t* third);

    // Queues a message for the loop and wakes it.
    void postMessage(uint32_t first, uint32_t second, uint32_t third);

    // Asks the loop to end after its current pass, and wakes it.
    void requestStop();

    virtual void run() = 0;

    std::atomic<bool> stopRequested{false};
    EventObject wakeEvent{false, false, nullptr};
    CriticalSection queueLock;
    Array<ThreadMessage> messages;
    platform::ThreadHandle threadHandle = nullptr;
    uint32_t threadId = 0;

private:
    static uint32_t entryPoint(void* self);
};
