#pragma once
// The roads through the game that several play tests take.
#include "PlayRun.h"
#include "PlayScreens.h"

#include <string>

namespace Play {

// Holds Up for the time given or until stop says so, and counts what the
// frames on the way show. The sprint runs straight ahead, so the throttle
// alone keeps the quad on its road.
struct Drive
{
    int frames = 0;
    int raceFrames = 0;
    int speedFrames = 0;
    int movingFrames = 0;
};

template <class Stop>
Drive driveAlongTheRoad(Game& game, const std::string& name, DWORD milliseconds, Stop stop)
{
    Drive drive;
    Frame previous;
    game.press(Key::up);
    int kept = 0;
    for (DWORD start = GetTickCount(), lastKept = 0; GetTickCount() - start < milliseconds;) {
        const Frame f = game.capture();
        if (f.empty())
            break;
        ++drive.frames;
        drive.raceFrames += Screens::race(f) ? 1 : 0;
        drive.speedFrames += Screens::showsSpeed(f) ? 1 : 0;
        drive.movingFrames += !previous.empty() && f.difference(previous) > 1.0f ? 1 : 0;
        if (GetTickCount() - lastKept > 3000) {
            game.keep(f, name + "-" + std::to_string(kept++));
            lastKept = GetTickCount();
        }
        if (stop(f)) {
            game.keep(f, name + "-end");
            break;
        }
        previous = f;
        Sleep(60);
    }
    game.release(Key::up);
    return drive;
}

}
