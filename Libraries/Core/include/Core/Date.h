#pragma once

#include "Core/String.h"

#include <cstdint>

// A calendar day of the lap and race records, shown in the menus.
// The length of the month plays no part: 31.2. is a valid Date.
struct Date {
    uint8_t day = 1;
    uint8_t month = 1;
    uint16_t year = 0;

    // Stores the values with day and month pulled into 1..31 and 1..12.
    void set(uint8_t newDay, uint8_t newMonth, uint16_t newYear);

    // "dd.mm.yyyy", day first.
    String toString() const;
};
static_assert(sizeof(Date) == 4, "Date is a 4-byte record");
