#include "platform/StopSignal.h"

#include "platform/win32/Win32.h"

#include <atomic>

namespace platform {

namespace {

std::atomic<bool> stopFlag{false};

// Runs on a thread of its own that the system starts for the console event.
BOOL WINAPI onConsoleEvent(DWORD kind)
{
    switch (kind) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        stopFlag.store(true);
        return TRUE;
    case CTRL_LOGOFF_EVENT:
        // Only a program run as a service sees this, and then for any
        // user's logoff: not a reason to stop. TRUE keeps the default
        // handler from ending the process.
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // Returning would end the process at once. Holding the handler lets
        // the main thread stop the server and return from main, which ends
        // the process; the system's own limit (a few seconds) still applies.
        stopFlag.store(true);
        Sleep(INFINITE);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

void catchStopSignals()
{
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

bool stopSignalled()
{
    return stopFlag.load();
}

}  // namespace platform
