#pragma once

#include "platform/NativeEvent.h"

// Owns one event handle, null when it could not be made. The handle is what
// other code waits on.
class EventObject {
public:
    // Named events are shared between processes, which this build cannot
    // offer: a name makes the creation fail, leaving a null handle.
    EventObject(bool initiallySignalled, bool manualReset, const char* name);
    ~EventObject();
    EventObject(const EventObject&) = delete;
    EventObject& operator=(const EventObject&) = delete;

    void set();
    void reset();

    platform::EventHandle handle;
};
