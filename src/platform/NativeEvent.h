#pragma once

#include "platform/WaitResult.h"

#include <cstdint>

namespace platform {

// An event handle in the manner of a Win32 event: signalled or not; an
// auto-reset event is reset by the wait that it ends, a manual-reset one
// stays signalled until reset. A socket may be tied to an event with
// selectNetworkEvents (NetworkEvents.h): a wait on the event then also
// ends when the socket has a network event to report.
struct NativeEvent;
using EventHandle = NativeEvent*;

// Null when the event cannot be made.
EventHandle createEvent(bool manualReset, bool initiallySignalled);

// Each of these does nothing for a null handle.
void setEvent(EventHandle event);
void resetEvent(EventHandle event);
void closeEvent(EventHandle event);

// Waits until any one of `count` events (at most maxWaitEvents) is
// signalled or `timeoutMs` passes. Returns the index of the signalled
// event, the lowest when several are, consuming the signal of an
// auto-reset event; waitTimeout; or waitFailed for a null handle, a bad
// count or a failed system wait.
constexpr uint32_t maxWaitEvents = 64;
uint32_t waitForEvents(const EventHandle* events, uint32_t count, uint32_t timeoutMs);

}  // namespace platform
