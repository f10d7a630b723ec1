#pragma once

#include <cstdint>

// The one growth rule of every array: 64 slots first, then doubling, and
// n + 16 when doubling is still not enough.
inline int32_t grownCapacity(int32_t capacity, int32_t n)
{
    int32_t next = capacity == 0 ? 64 : capacity * 2;
    return next < n ? n + 16 : next;
}
