#include "platform/SocketSetWait.h"

#include <cerrno>
#include <cstddef>
#include <poll.h>
#include <vector>

namespace platform {

int32_t waitForReadableSockets(const SocketHandle* sockets, int32_t count, uint32_t timeoutMs, uint8_t* readable)
{
    if (count < 0)
        return -1;
    std::vector<pollfd> watched(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i)
        watched[i] = pollfd{sockets[i], POLLIN, 0};
    int timeout = timeoutMs > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(timeoutMs);
    int ready = poll(watched.data(), static_cast<nfds_t>(count), timeout);
    while (ready < 0 && errno == EINTR)
        ready = poll(watched.data(), static_cast<nfds_t>(count), timeout);
    if (ready < 0)
        return -1;
    for (int32_t i = 0; i < count; ++i)
        readable[i] = (watched[i].revents & POLLIN) != 0 ? 1 : 0;
    return ready;
}

}  // namespace platform
