#include "RaceSamples.h"

namespace RaceSamples {

RecordsFileWriter::Records valleyRecords()
{
    const wchar_t* const names[] = {L"Mara", L"Jonas", L"Ilse", L"Piet", L"Lena"};
    RecordsFileWriter::Records records;
    for (uint32_t i = 0; i < 10; ++i) {
        RecordsFileWriter::Entry lap;
        lap.name = String(names[i % 5]);
        lap.day = uint8_t(3 + 2 * i);
        lap.month = uint8_t(1 + i);
        lap.year = uint16_t(2021 + i % 3);
        lap.time = RecordsFileWriter::Time::fromMilliseconds(81230 + 970 * i);
        records.laps.push_back(lap);
    }
    for (uint32_t i = 0; i < 3; ++i) {
        RecordsFileWriter::Entry race;
        race.name = String(names[4 - i]);
        race.day = uint8_t(28 - i);
        race.month = uint8_t(12 - i);
        race.year = 2023;
        race.time = RecordsFileWriter::Time::fromMilliseconds(251480 + 4170 * i);
        records.races.push_back(race);
    }
    return records;
}

std::vector<ProgressWriter::Record> progressTable()
{
    // A championship under way on Medium with Hard not yet won, one started
    // on Easy, and one won on every difficulty and begun again.
    ProgressWriter::Record de{{'D', 'E'}, 1, 1, 3, {34, 20, 18, 25, 9, 4, 12, 0}};
    ProgressWriter::Record fr{{'F', 'R'}, 0, 0, 1, {11, 16, 7, 4, 2, 1, 0, 0}};
    ProgressWriter::Record it{{'I', 'T'}, 2, 2, 0, {}};
    return {de, fr, it};
}

}
