#pragma once

#include <cstdint>

// The simulator's stage timer over the performance counter: nine stage
// accumulators in seconds, and the measured cost of one counter reading,
// which every measurement subtracts.
class PerfTimer
{
public:
    enum Slot
    {
        velocity = 0,
        integration = 1,
        constraintPostStep = 2,
        solverOwn = 3,
        solver = 4,
        broadPhase = 5,
        contactPairs = 6,
        terrainContacts = 7,
        terrainQuery = 8,
        slotCount = 9,
    };

    // Zeroes the accumulators and measures the counter's overhead.
    void init();
    // How far readings are shifted right so that the frequency fits 32 bits:
    // the number of significant bits of its high word.
    static uint32_t shiftFor(uint64_t frequency);
    // Seconds since the previous call (0 without a counter).
    float elapsed();
    // Starts a measurement: the next elapsed() counts from here.
    void restart();
    // A reading of the counter, and the seconds between two readings (less
    // the cost of one): for a measurement nested in another.
    uint64_t now() const;
    float seconds(uint64_t from, uint64_t to) const;

    float stages[slotCount] = {};
    uint32_t shift = 0;
    int32_t overhead = 0;

private:
    uint64_t frequency = 0;
    uint64_t last = 0;
};
