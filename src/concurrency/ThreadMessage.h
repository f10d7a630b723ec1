#pragma once

#include <cstdint>

// A message queued for a thread's loop; copied as a whole.
struct ThreadMessage {
    uint32_t first = 0;
    uint32_t second = 0;
    uint32_t third = 0;
};
