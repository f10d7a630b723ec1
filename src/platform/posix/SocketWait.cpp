#include "platform/SocketWait.h"

#include <cerrno>
#include <poll.h>

namespace platform {

SocketWait waitUntilReadable(SocketHandle socket, uint32_t timeoutMs)
{
    pollfd watch{};
    watch.fd = socket;
    watch.events = POLLIN;
    int timeout = timeoutMs > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(timeoutMs);
    int ready = poll(&watch, 1, timeout);
    while (ready < 0 && errno == EINTR)
        ready = poll(&watch, 1, timeout);
    if (ready < 0 || (watch.revents & POLLNVAL) != 0)
        return SocketWait::failed;
    return ready == 0 ? SocketWait::timedOut : SocketWait::readable;
}

}  // namespace platform
