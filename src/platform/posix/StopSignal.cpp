#include "platform/StopSignal.h"

#include <atomic>
#include <csignal>

namespace platform {

namespace {

// Lock-free, so the handler may set it whichever thread it interrupts.
std::atomic<bool> stopFlag{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

void onStopSignal(int)
{
    stopFlag.store(true);
}

}  // namespace

void catchStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool stopSignalled()
{
    return stopFlag.load();
}

}  // namespace platform
