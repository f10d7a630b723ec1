#pragma once

// Private to the POSIX implementation: the state behind an event handle and
// the bookkeeping that ties sockets to events.

#include "platform/NetworkEvents.h"

#include <cstdint>

namespace platform {

struct NativeEvent {
    int descriptor = -1;  // an eventfd: readable while signalled
    bool manualReset = false;

    // The tied socket, guarded by the registry's lock. `armed` are the
    // events that may be recorded next; `recorded` wait for enumeration.
    int socket = -1;
    uint32_t mask = 0;
    uint32_t armed = 0;
    uint32_t recorded = 0;
    int32_t errorCodes[networkEventCount] = {};
    bool silenced = false;  // hung up or gone: no longer polled
};

namespace registry {

// What a wait has to poll for an event's socket.
struct SocketWatch {
    int socket;
    short interest;
};

bool signal(NativeEvent* event);
bool watchOf(NativeEvent* event, SocketWatch* watch);
// Records what poll saw on a tied socket; true when that is news for the
// event, which the caller then counts as signalled.
bool noteReadiness(NativeEvent* event, int socket, short readiness);
void arm(int socket, uint32_t events);
void untieSocket(int socket);
void untieEvent(NativeEvent* event);

}  // namespace registry

}  // namespace platform
