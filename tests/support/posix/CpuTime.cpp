#include "support/CpuTime.h"

#include <ctime>

uint32_t processCpuMilliseconds()
{
    timespec used{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return static_cast<uint32_t>(static_cast<uint64_t>(used.tv_sec) * 1000u + static_cast<uint64_t>(used.tv_nsec) / 1000000u);
}
