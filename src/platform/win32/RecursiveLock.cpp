#include "platform/RecursiveLock.h"

#include "platform/win32/Win32.h"

namespace platform {

// A critical section may be entered again by its owner, exactly the
// promise of the interface.
struct RecursiveLock::State {
    CRITICAL_SECTION section;
};

RecursiveLock::RecursiveLock() : state(new State)
{
    InitializeCriticalSection(&state->section);
}

RecursiveLock::~RecursiveLock()
{
    DeleteCriticalSection(&state->section);
    delete state;
}

void RecursiveLock::enter()
{
    EnterCriticalSection(&state->section);
}

void RecursiveLock::leave()
{
    LeaveCriticalSection(&state->section);
}

}  // namespace platform
