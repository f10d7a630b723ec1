#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary start, 32 bits, wrapping: the semantics
// of GetTickCount. Intervals are always taken as the unsigned difference
// now - then, so the wrap does no harm.
uint32_t tickCount();

// What is left of limitMs counted from the tick `since`; 0 once it is spent.
inline uint32_t millisecondsLeft(uint32_t since, uint32_t limitMs)
{
    uint32_t spent = tickCount() - since;
    return spent < limitMs ? limitMs - spent : 0;
}

// Replaces the counter, for tests that need to control time; nullptr
// restores the system's counter. Safe to call while other threads read it.
using TickSource = uint32_t (*)();
void setTickSource(TickSource source);

void sleepMilliseconds(uint32_t milliseconds);

// The local time of day as "HH:MM:SS" (24-hour clock) into out[9].
void localTimeText(char out[9]);

}  // namespace platform
