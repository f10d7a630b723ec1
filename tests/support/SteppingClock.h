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
        now() = 0;
        stepSize() = step;
        platform::setTickSource(&ticks);
    }
    SteppingClock(const SteppingClock&) = delete;
    SteppingClock& operator=(const SteppingClock&) = delete;
    ~SteppingClock() { platform::setTickSource(nullptr); }

    void setStep(uint32_t step) { stepSize() = step; }

private:
    static std::atomic<uint32_t>& now()
    {
        static std::atomic<uint32_t> value{0};
        return value;
    }
    static std::atomic<uint32_t>& stepSize()
    {
        static std::atomic<uint32_t> value{0};
        return value;
    }
    static uint32_t ticks() { return now() += stepSize(); }
};
