#pragma once

#include <cstdint>

// A lap, race, record or target time as the race keeps and stores it (the
// ".rec" file and the level's race settings hold these four bytes): a sign
// character, minutes, seconds (0..59) and hundredths (0..99). 99:00.00 means
// that there is no time. The operations on it are Game's (RaceTime.cpp).
struct RaceTime
{
    static constexpr uint8_t plus = ' ';
    static constexpr uint8_t minus = '-';

    uint8_t sign = plus;
    uint8_t minutes = 0;
    uint8_t seconds = 0;
    uint8_t hundredths = 0;

    bool operator==(const RaceTime&) const = default;
};
static_assert(sizeof(RaceTime) == 4, "a race time is stored as its four bytes");
