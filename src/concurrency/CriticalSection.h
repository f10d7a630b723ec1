#pragma once

#include "platform/RecursiveLock.h"

// A lock that its holder may enter again; every enter needs its own leave.
// Callers pair enter and leave explicitly.
class CriticalSection {
public:
    CriticalSection() = default;
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void enter() { lock.enter(); }
    void leave() { lock.leave(); }

private:
    platform::RecursiveLock lock;
};
