#pragma once

#include "Core/FileInterface.h"

#include <cstdint>
#include <vector>

// The player's championship progress as the settings file "gset.dat" keeps
// it (the field of its tag 10): 32 records in order, each tag 1 the two key
// characters, tag 2 the difficulty, tag 3 the highest difficulty unlocked,
// tag 4 the next race, tag 5 the eight drivers' points, tag 0.
namespace ProgressWriter {

struct Record
{
    char key[2] = {0, 0}; // both 0: a free record
    uint8_t difficulty = 0;
    uint8_t unlocked = 0;
    uint8_t raceNumber = 0;
    uint8_t points[8] = {};
};

constexpr int recordCount = 32;

bool writeRecord(const Record& record, FileInterface& target);
// The records of table first, free ones after them up to 32; false when
// the table holds more than 32 or the target refuses a write.
bool writeTable(const std::vector<Record>& table, FileInterface& target);

}
