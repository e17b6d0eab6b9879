// Race-time records, their two integer views, their text, and the head-up
// display's projection of the player's final time.
#include "Race/Game.h"

#include "Race/GameVehicle.h"
#include "Race/RaceClock.h"

#include <cstdlib>

namespace {

constexpr uint32_t estimateHold = 3000; // ms between two changes of the estimate

}

void Game::splitRaceTime(int32_t milliseconds, RaceTime& record)
{
    record.sign = milliseconds < 0 ? RaceTime::minus : RaceTime::plus;
    const int64_t a = std::llabs(int64_t(milliseconds));
    const int64_t minutes = a / 60000;
    if (minutes > 255) {
        // Beyond the minutes byte: the longest time it holds, never a wrap to
        // a short one.
        record.minutes = 255;
        record.seconds = 59;
        record.hundredths = 99;
        return;
    }
    const int64_t seconds = a / 1000 - 60 * minutes;
    record.minutes = uint8_t(minutes);
    record.seconds = uint8_t(seconds);
    record.hundredths = uint8_t((a - 1000 * (60 * minutes + seconds)) / 10);
}

uint32_t Game::isZeroTime(const RaceTime& record)
{
    return record.minutes == 0 && record.seconds == 0 && record.hundredths == 0 ? 1 : 0;
}

int32_t Game::raceTimeKey(const RaceTime& record)
{
    return (60 * int32_t(record.minutes) + int32_t(record.seconds)) * 1000 + int32_t(record.hundredths);
}

int32_t Game::raceTimeMilliseconds(const RaceTime& record)
{
    return (60 * int32_t(record.minutes) + int32_t(record.seconds)) * 1000 + 10 * int32_t(record.hundredths);
}

String Game::formatRaceTime(const RaceTime& record)
{
    if (raceTimeKey(record) == noTime)
        return String(L"-");
    String text;
    text.format(L"%02i:%02i.%02i", int(record.minutes), int(record.seconds), int(record.hundredths));
    return text;
}

int32_t Game::estimateFinalTime()
{
    const Vehicle* player = getPlayerVehicle();
    if (!player)
        return noTime;
    if (player->finished)
        return raceTimeKey(player->raceTime);
    RaceTime shown;
    const uint32_t now = raceNow();
    if (estimateDue != 0 && now <= estimateDue) {
        splitRaceTime(estimate, shown);
        return raceTimeKey(shown);
    }

    float total = 0.0f;
    float driven = 0.0f;
    if (choice.courseType == 1 || choice.courseType == 2) {
        total = float(choice.goal) * courseLength;
        driven = player->getDrivenDistance() - player->drivenAtStart;
    } else if (choice.courseType == 3) {
        // From the Goal to the Start: on a closed course the Goal can stand
        // past the Start, and the run goes round through the list's end.
        total = startDistance - goalDistance;
        if (!(total > 0.0f))
            total += courseLength;
        driven = player->getDrivenDistance() - goalDistance;
    }
    if (driven > total)
        driven = total;
    if (!(driven > 1.0f))
        return noTime; // too early to tell

    // The projection scales milliseconds; the key is made from the result.
    const float projected = float(raceTimeMilliseconds(player->raceTime)) * (1.0f / (driven / total));
    int32_t next = 0;
    if (!(projected < float(noTime))) {
        next = noTime;
    } else {
        next = int32_t(projected);
        if (estimate != 0)
            next = estimate + ((next - estimate) >> 2);
    }
    estimate = next;
    estimateDue = now + estimateHold;
    splitRaceTime(estimate, shown);
    return raceTimeKey(shown);
}
