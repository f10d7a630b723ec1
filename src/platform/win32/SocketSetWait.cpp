#include "platform/SocketSetWait.h"

#include "platform/win32/Win32.h"

#include <vector>

namespace platform {

// WSAPoll rather than select: an fd_set holds 64 sockets unless rebuilt,
// and a load generator plays more clients than that.
int32_t waitForReadableSockets(const SocketHandle* sockets, int32_t count, uint32_t timeoutMs, uint8_t* readable)
{
    if (count < 0)
        return -1;
    if (count == 0) {
        Sleep(timeoutMs);
        return 0;
    }
    std::vector<WSAPOLLFD> watched(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        watched[i].fd = win32::toSocket(sockets[i]);
        watched[i].events = POLLRDNORM;
    }
    INT timeout = timeoutMs > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<INT>(timeoutMs);
    int ready = WSAPoll(watched.data(), static_cast<ULONG>(count), timeout);
    if (ready == SOCKET_ERROR)
        return -1;
    for (int32_t i = 0; i < count; ++i)
        readable[i] = (watched[i].revents & POLLRDNORM) != 0 ? 1 : 0;
    return ready;
}

}  // namespace platform
