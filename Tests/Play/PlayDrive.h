#pragma once
// The roads through the game that several play tests take.
#include "PlayRun.h"
#include "PlayScreens.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace Play {

// Holds Up for the time given (of the game's clock) or until stop says so,
// and counts what the frames on the way show. The sprint runs straight ahead, so the throttle
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
    for (uint64_t start = game.clock(), nextKept = start; game.clock() - start < milliseconds;) {
        const Frame f = game.capture();
        if (f.empty())
            break;
        ++drive.frames;
        drive.raceFrames += Screens::race(f) ? 1 : 0;
        drive.speedFrames += Screens::showsSpeed(f) ? 1 : 0;
        drive.movingFrames += !previous.empty() && f.difference(previous) > 1.0f ? 1 : 0;
        if (game.clock() >= nextKept) {
            game.keep(f, name + "-" + std::to_string(kept++));
            nextKept = game.clock() + 3000;
        }
        if (stop(f)) {
            game.keep(f, name + "-end");
            break;
        }
        previous = f;
        if (!game.play(60))
            break;
    }
    game.release(Key::up);
    return drive;
}

// Holds Left or Right for hold ms of the game's clock with the throttle
// held, then lets it go and watches a little longer: the chase view turns with the quad, so the
// road beyond it moves across the window against the turn. How far it moved that way
// from where it lay before: the road's middle as a share of its width, or
// the asphalt's centre as a share of the window's width, whichever moved
// more (negative when both moved with the turn, and -1 when the road was
// never seen). At 5 frames a second a turn at speed can take the road
// ahead out of sight between two frames; its near part still shows at the
// window's edge for a frame or two.
inline float turnOfTheView(Game& game, const std::string& name, Key key, DWORD hold)
{
    game.press(Key::up);
    std::vector<float> before, groundBefore;
    // A turn before this one may have taken the quad off the road: it is put
    // back on it 3.8 s after it left, and the beam that shows it fades for a
    // second or so.
    for (const uint64_t start = game.clock(); before.size() < 3 && game.clock() - start < 10000;) {
        const Frame f = game.capture();
        const auto offset = Screens::roadOffset(f);
        const auto centre = Screens::asphaltCentre(f);
        if (offset && centre) {
            before.push_back(*offset);
            groundBefore.push_back(*centre);
        }
        if (!game.play(60))
            break;
    }
    if (before.empty()) {
        game.release(Key::up);
        return -1.0f;
    }
    const auto median = [](std::vector<float>& values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    const float from = median(before), groundFrom = median(groundBefore);
    const float against = key == Key::right ? -1.0f : 1.0f;
    float most = -1.0f;
    game.press(key);
    bool held = true;
    for (const uint64_t start = game.clock(); game.clock() - start < hold + 1200;) {
        if (held && game.clock() - start >= hold) {
            game.release(key);
            held = false;
        }
        const Frame f = game.capture();
        const auto offset = Screens::roadOffset(f);
        const auto centre = Screens::asphaltCentre(f);
        const float moved = std::max(offset ? (*offset - from) * against : -1.0f,
                                     centre ? (*centre - groundFrom) * against : -1.0f);
        if (moved > most) {
            most = moved;
            game.keep(f, name);
        }
        if (!game.play(40))
            break;
    }
    if (held)
        game.release(key);
    game.release(Key::up);
    return most;
}

}
