#pragma once

#include <cstdint>

namespace platform {

// Results of the waits, with the values of the Win32 waits they mirror:
// the index of the object that ended the wait (0 for the first, 1 for the
// second, ...), a time-out, or a failure such as a missing handle.
constexpr uint32_t waitObject0 = 0;
constexpr uint32_t waitTimeout = 258;
constexpr uint32_t waitFailed = 0xFFFFFFFFu;

// A time-out with all bits set waits without limit.
constexpr uint32_t infiniteTimeout = 0xFFFFFFFFu;

}  // namespace platform
