#include "platform/Winsock.h"

#include "platform/win32/Win32.h"

#include <atomic>

namespace platform {

namespace {

// Starts made through startWinsock and not yet cleaned up. The layer's own
// start (ensureSocketLayer) is not among them, so a cleanup without a start
// fails here as it would in a program that never started the layer.
std::atomic<int32_t> starts{0};

}  // namespace

namespace win32 {

bool ensureSocketLayer()
{
    static const bool started = [] {
        WSADATA details{};
        return WSAStartup(MAKEWORD(2, 2), &details) == 0;
    }();
    return started;
}

}  // namespace win32

bool startWinsock(uint16_t versionWord)
{
    if ((versionWord & 0xFFu) == 0)
        return false;
    WSADATA details{};
    if (WSAStartup(versionWord, &details) != 0)
        return false;
    starts.fetch_add(1);
    return true;
}

int32_t cleanupWinsock()
{
    int32_t count = starts.load();
    do {
        if (count <= 0)
            return -1;
    } while (!starts.compare_exchange_weak(count, count - 1));
    return WSACleanup() == 0 ? 0 : -1;
}

}  // namespace platform
