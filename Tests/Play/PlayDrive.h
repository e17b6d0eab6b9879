#pragma once
// The roads through the game that several play tests take.
#include "PlayRun.h"
#include "PlayScreens.h"

#include <algorithm>
#include <string>

namespace Play {

// Steers the quad along the road ahead with Up held, for the time given or
// until stop says so; checks the frames on the way. The frames seen are
// counted into the figures.
struct Drive
{
    int frames = 0;
    int raceFrames = 0;
    int speedFrames = 0;
    int movingFrames = 0;
    int steered = 0;
};

template <class Stop>
Drive driveAlongTheRoad(Game& game, const std::string& name, DWORD milliseconds, Stop stop)
{
    Drive drive;
    Frame previous;
    game.press(Key::up);
    int kept = 0;
    for (DWORD start = GetTickCount(), lastKept = 0, lastTap = start; GetTickCount() - start < milliseconds;) {
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
        if (stop(f))
            break;
        // A new press of the throttle after the finish asks for the results.
        if (GetTickCount() - lastTap > 4000) {
            game.release(Key::up);
            Sleep(150);
            game.press(Key::up);
            lastTap = GetTickCount();
        }
        // Towards the road's middle ahead, the longer the further it lies aside.
        const Screens::Road road = Screens::road(f, 0.42f, 0.55f);
        if (road.share > 0.005f && std::abs(road.centre) > 0.02f) {
            const Key side = road.centre < 0.0f ? Key::left : Key::right;
            game.press(side);
            Sleep(DWORD(std::min(250.0f, 1500.0f * std::abs(road.centre))));
            game.release(side);
            ++drive.steered;
        }
        previous = f;
        Sleep(40);
    }
    game.release(Key::up);
    return drive;
}

}
