#include "Physics/PerfTimer.h"

#include <windows.h>

namespace
{

uint64_t readCounter()
{
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return uint64_t(c.QuadPart);
}

} // namespace

void PerfTimer::init()
{
    for (float& s : stages)
        s = 0.0f;
    LARGE_INTEGER f;
    if (!QueryPerformanceFrequency(&f) || f.QuadPart <= 0)
        return;
    frequency = uint64_t(f.QuadPart);
    // The cheapest of twenty back-to-back readings is the cost of reading.
    overhead = 200;
    for (int i = 0; i < 20; ++i) {
        const uint64_t a = readCounter();
        const uint64_t b = readCounter();
        const int64_t d = int64_t(b - a);
        if (d >= 0 && d < overhead)
            overhead = int32_t(d);
    }
    shift = shiftFor(frequency);
    last = readCounter();
}

uint32_t PerfTimer::shiftFor(uint64_t frequency)
{
    uint32_t bits = 0;
    for (uint32_t high = uint32_t(frequency >> 32); high; high >>= 1)
        ++bits;
    return bits;
}

void PerfTimer::restart() { last = readCounter(); }

float PerfTimer::elapsed()
{
    const uint64_t now = readCounter();
    const uint64_t before = last;
    last = now;
    const uint32_t f = uint32_t(frequency >> shift);
    if (f == 0)
        return 0.0f;
    // A stage quicker than one reading gives 0, not a wrapped difference.
    const int64_t ticks = int64_t((now >> shift) - (before >> shift)) - int64_t(uint32_t(overhead) >> shift);
    return ticks > 0 ? float(double(ticks) / double(f)) : 0.0f;
}

uint64_t PerfTimer::now() const { return readCounter(); }

float PerfTimer::seconds(uint64_t from, uint64_t to) const
{
    const uint32_t f = uint32_t(frequency >> shift);
    if (f == 0)
        return 0.0f;
    const int64_t ticks = int64_t((to >> shift) - (from >> shift)) - int64_t(uint32_t(overhead) >> shift);
    return ticks > 0 ? float(double(ticks) / double(f)) : 0.0f;
}
