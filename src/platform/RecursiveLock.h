#pragma once

namespace platform {

// A lock that the thread holding it may take again; every enter needs its
// own leave. Not copyable: the lock lives where it was made.
class RecursiveLock {
public:
    RecursiveLock();
    ~RecursiveLock();
    RecursiveLock(const RecursiveLock&) = delete;
    RecursiveLock& operator=(const RecursiveLock&) = delete;

    void enter();
    void leave();

private:
    struct State;
    State* state;
};

}  // namespace platform
