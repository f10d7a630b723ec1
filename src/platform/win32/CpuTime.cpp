#include "platform/CpuTime.h"

#include "platform/win32/Win32.h"

namespace platform {

namespace {

uint64_t hundredNanoseconds(const FILETIME& time)
{
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

uint32_t processCpuMilliseconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    return static_cast<uint32_t>((hundredNanoseconds(kernel) + hundredNanoseconds(user)) / 10000u);
}

}  // namespace platform
