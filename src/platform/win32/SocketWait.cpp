#include "platform/SocketWait.h"

#include "platform/win32/Win32.h"

namespace platform {

SocketWait waitUntilReadable(SocketHandle socket, uint32_t timeoutMs)
{
    if (socket < 0)
        return SocketWait::failed;
    WSAPOLLFD watch{};
    watch.fd = win32::toSocket(socket);
    watch.events = POLLRDNORM;
    INT timeout = timeoutMs > 0x7FFFFFFFu ? -1 : static_cast<INT>(timeoutMs);
    int ready = WSAPoll(&watch, 1, timeout);
    if (ready == SOCKET_ERROR || (watch.revents & POLLNVAL) != 0)
        return SocketWait::failed;
    return ready == 0 ? SocketWait::timedOut : SocketWait::readable;
}

}  // namespace platform
