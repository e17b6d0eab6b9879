#include "Core/Date.h"

void Date::set(uint8_t newDay, uint8_t newMonth, uint16_t newYear)
{
    day = newDay == 0 ? 1 : (newDay > 31 ? 31 : newDay);
    month = newMonth == 0 ? 1 : (newMonth > 12 ? 12 : newMonth);
    year = newYear;
}

String Date::toString() const
{
    String text;
    text.format(L"%02i.%02i.%04i", int(day), int(month), int(year));
    return text;
}
