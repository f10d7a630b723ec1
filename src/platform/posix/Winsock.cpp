#include "platform/Winsock.h"

#include <atomic>

namespace platform {

namespace {

// The POSIX socket layer needs no start; the count keeps the pairing rules
// of the Windows one, so code that works here also works there.
std::atomic<int32_t> starts{0};

}  // namespace

bool startWinsock(uint16_t versionWord)
{
    if ((versionWord & 0xFFu) == 0)
        return false;
    starts.fetch_add(1);
    return true;
}

int32_t cleanupWinsock()
{
    int32_t count = starts.load();
    while (count > 0) {
        if (starts.compare_exchange_weak(count, count - 1))
            return 0;
    }
    return -1;
}

}  // namespace platform
