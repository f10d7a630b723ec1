#pragma once

#include <cstdint>

namespace platform {

// Processor time used by the whole process so far, in milliseconds; lets a
// check tell a sleeping loop from a spinning one.
uint32_t processCpuMilliseconds();

}  // namespace platform
