#pragma once

#include <cstdint>

// Processor time used by the whole process so far, in milliseconds; lets a
// check tell a sleeping loop from a spinning one.
uint32_t processCpuMilliseconds();
