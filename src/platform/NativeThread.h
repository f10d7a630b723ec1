#pragma once

#include "platform/WaitResult.h"

#include <cstdint>

namespace platform {

// A thread handle in the manner of a Win32 thread handle: it stays valid
// after the thread ends, until closed, and closing it neither stops nor
// waits for the thread.
struct NativeThread;
using ThreadHandle = NativeThread*;

// The function a new thread runs; its result is the thread's exit code.
using ThreadEntry = uint32_t (*)(void* argument);

// Starts a thread running entry(argument). Returns null when no thread
// could be started. `threadId` (may be null) receives an identifier,
// unique in the process and never 0, before the thread starts running.
ThreadHandle createThread(ThreadEntry entry, void* argument, uint32_t* threadId);

// 0 (waitObject0) once the thread's entry has returned, waitTimeout when
// `timeoutMs` ran out first, waitFailed for a null handle.
uint32_t waitForThread(ThreadHandle thread, uint32_t timeoutMs);

// Releases the handle; a null handle is ignored.
void closeThreadHandle(ThreadHandle thread);

}  // namespace platform
