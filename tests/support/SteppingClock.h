#pragma once

#include "platform/Clock.h"

#include <atomic>
#include <cstdint>

// While one lives, every reading of the tick counter moves it on by a fixed
// step, so that anything paced by the clock (progress lines, time-outs)
// follows the number of readings, not the machine's speed.
class SteppingClock {
public:
    explicit SteppingClock(uint32_t step)
    {
        now = 0;
        size = step;
        platform::setTickSource([] { return now += size; });
    }
    SteppingClock(const SteppingClock&) = delete;
    SteppingClock& operator=(const SteppingClock&) = delete;
    ~SteppingClock() { platform::setTickSource(nullptr); }

    void setStep(uint32_t step) { size = step; }

private:
    static inline std::atomic<uint32_t> now{0}, size{0};
};
