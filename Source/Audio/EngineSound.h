#pragma once

#include "Audio/SoundMixer.h"

#include "Core/Vector.h"

#include <windows.h>

#include <cstdint>

namespace Audio {

// A vehicle's engine as heard: a mixer of four recorded loops (low and high
// engine speed, each idle and under load) played by one positional carrier
// at the vehicle, and a small engine model: a smoothed throttle, an engine
// speed, and a virtual gear 1 to 4 whose speed range sets the cross-fades
// and the pitch. The model runs without a sound device too.
//
// Per frame: smoothThrottle, then the vehicle sets speed and free, then
// update; the vehicle's motor reads getGearRatio. Main thread only.
// Non-finite inputs count as 0.
class EngineSound : public SoundMixer
{
public:
    // The clock of the gear changes (timeGetTime milliseconds).
    using Clock = DWORD(WINAPI*)();
    static constexpr uint32_t shiftHoldMilliseconds = 1000;

    EngineSound();
    ~EngineSound() override;

    // The four loops (low idle A, low load B, high idle C, high load D) and
    // the position the carrier follows (none: its own at the origin).
    void init(const FileRef* loopA, const FileRef* loopB, const FileRef* loopC, const FileRef* loopD,
              const vec3d* position);
    // The throttle input (-1 to 1) of this frame, first thing; the throttle
    // follows it over frameFactor reference frames (the frame's own factor,
    // or a piece of it when the quad steers in pieces).
    void smoothThrottle(float input, float frameFactor);
    // Levels, gear, mix and pitch from the throttle, speed and free.
    void update();
    // The drive term of the current gear for the vehicle's motor; 0 while
    // the engine runs free.
    float getGearRatio() const;
    // Deletes the carrier and the mixer's loops and file.
    void release();

    Sound* loops[4] = {};
    Sound3D* carrier = nullptr;
    float throttle = 0.0f;
    float load = 0.0f;
    float speed = 0.0f;
    float gearOffset = 0.0f;
    float gearScale = 1.0f;
    float speedScale = 1.0f;
    float pitchTerm = 0.0f;
    int32_t gear = 1;
    uint32_t free = 0;
    uint32_t holdUntil = 0;
    Clock clock;

private:
    void setLevel(Sound* loop, float level);
};

}
