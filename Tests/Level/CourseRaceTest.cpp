// The frame lengths the course races step by, and what a run counts as an
// opponent's missed gates and as put-backs a lap.
#include "CourseRace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using CourseRace::CourseRun;
using CourseRace::Pace;

// Steady paces give their frame's length in whole ms every frame; the uneven
// one stays within 0.03 to 0.5 s, reaches both ends and is spread over the
// logarithm (its median near the geometric mean, 122 ms), the same from the
// same seed.
TEST(CourseRace, PacesStepTheirFrameLengths)
{
    struct Row
    {
        Pace pace;
        uint32_t shortest, longest, medianLow, medianHigh;
    };
    const Row rows[] = {
        {CourseRace::steady35, 29, 29, 29, 29},
        {CourseRace::steady7, 143, 143, 143, 143},
        {CourseRace::steady5, 200, 200, 200, 200},
        {CourseRace::uneven, 30, 500, 100, 145},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pace.name);
        Pace pace = row.pace, again = row.pace;
        std::vector<uint32_t> lengths;
        for (int k = 0; k < 4000; ++k) {
            lengths.push_back(pace.nextMs());
            EXPECT_EQ(again.nextMs(), lengths.back());
        }
        std::sort(lengths.begin(), lengths.end());
        EXPECT_GE(lengths.front(), row.shortest);
        EXPECT_LE(lengths.back(), row.longest);
        EXPECT_LE(lengths.front(), row.shortest + 2);
        EXPECT_GE(lengths.back(), row.longest - 10);
        EXPECT_GE(lengths[lengths.size() / 2], row.medianLow);
        EXPECT_LE(lengths[lengths.size() / 2], row.medianHigh);
    }
}

// A finisher passes every gate of every lap in turn; what an opponent left
// out, or had still ahead, counts as missed.
TEST(CourseRace, GatesMissedAreTheCoursesGatesNotPassed)
{
    CourseRun run;
    run.gateCount = 3;
    run.laps = 2;
    EXPECT_EQ(run.everyGate(), (std::vector<int>{0, 1, 2, 0, 1, 2}));
    const struct
    {
        std::vector<int> gates;
        int missed;
    } rows[] = {{{0, 1, 2, 0, 1, 2}, 0}, {{0, 1, 2, 0}, 2}, {{}, 6}};
    for (const auto& row : rows) {
        CourseRun::Opponent opponent;
        opponent.gates = row.gates;
        EXPECT_EQ(run.missedGates(opponent), row.missed) << row.gates.size();
    }
}

// Put-backs a lap count every opponent's laps, a finisher's or not; a run
// without opponents has none.
TEST(CourseRace, PutBacksALapAreOverEveryOpponentsLaps)
{
    CourseRun run;
    run.laps = 4;
    EXPECT_EQ(run.puttingsPerLap(), 0.0);
    for (const int puttings : {3, 0, 1}) {
        CourseRun::Opponent opponent;
        opponent.puttings = puttings;
        run.opponents.push_back(opponent);
    }
    EXPECT_EQ(run.puttings(), 4);
    EXPECT_DOUBLE_EQ(run.puttingsPerLap(), 4.0 / 12.0);
}

}
