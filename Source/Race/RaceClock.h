#pragma once

#include <windows.h>

#include <cstdint>

// The millisecond clock of the race, its vehicles and their items: timers
// are u32 timeGetTime values, and a deadline has passed once the clock is
// greater than it (the 49-day wrap is accepted). Tests set their own clock;
// nothing else changes it. Main thread only.
using RaceClock = DWORD(WINAPI*)();

extern RaceClock gRaceClock;

inline uint32_t raceNow() { return uint32_t(gRaceClock()); }

// Whether a deadline has passed on a clock that reads now.
inline bool passed(uint32_t now, uint32_t deadline) { return now > deadline; }

// A deadline moved on by ms, as a pause asks; 0 means none and stays 0.
inline void moveDeadline(uint32_t& deadline, uint32_t ms)
{
    if (deadline != 0)
        deadline += ms;
}
