#pragma once

#include "Core/FileInterface.h"
#include "Core/String.h"

#include <cstdint>
#include <vector>

// Writes a map's lap and race records (".rec"): tag 1 the lap count, tag 2
// the lap entries, tag 3 the race count, tag 4 the race entries, tag 0. An
// entry is tag 1 its name (stored String), tag 2 its date (day, month, u16
// year), tag 3 its time, tag 0.
class RecordsFileWriter
{
public:
    // A race time as the game stores it: sign ' ' or '-', minutes, seconds,
    // hundredths.
    struct Time
    {
        uint8_t sign = ' ';
        uint8_t minutes = 0;
        uint8_t seconds = 0;
        uint8_t hundredths = 0;

        static Time fromMilliseconds(uint32_t milliseconds);
        // The four bytes as one little-endian word (a level's reference lap time).
        uint32_t word() const;
    };

    struct Entry
    {
        String name{L""};
        uint8_t day = 1;
        uint8_t month = 1;
        uint16_t year = 2000;
        Time time;
        bool dated = true; // false leaves the date's tag out
    };

    struct Records
    {
        std::vector<Entry> laps;
        std::vector<Entry> races;
    };

    static bool writeEntry(const Entry& entry, FileInterface& target);
    // False when the target refuses a write.
    static bool write(const Records& records, FileInterface& target);
    static bool save(const Records& records, const String& path);
};
