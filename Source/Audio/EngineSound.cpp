#include "Audio/EngineSound.h"

#include "Audio/Sound3D.h"
#include "Core/Timer.h"

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cmath>

namespace Audio {

namespace {

float finiteOrZero(float v)
{
    return std::isfinite(v) ? v : 0.0f;
}

float unit(float v)
{
    return std::clamp(v, 0.0f, 1.0f);
}

struct GearRange
{
    float offset, scale, reverseScale, top, exponent;
};

// Where each gear's range starts on the engine speed, how fast it is run
// through, and its drive curve.
constexpr GearRange gears[4] = {
    {0.0f, 2.6f, 1.8f, 2.05f, 0.4f},
    {0.35f, 1.7f, 1.7f, 2.05f, 0.5f},
    {1.1f, 1.4f, 1.4f, 2.05f, 0.5f},
    {2.0f, 1.4f, 1.4f, 2.4f, 1.4f},
};

const GearRange& rangeOf(int32_t gear)
{
    return gears[std::clamp(gear, 1, 4) - 1];
}

}

EngineSound::EngineSound() : clock(timeGetTime)
{
}

EngineSound::~EngineSound()
{
    release();
}

void EngineSound::init(const FileRef* loopA, const FileRef* loopB, const FileRef* loopC, const FileRef* loopD,
                       const vec3d* position)
{
    release();
    open();
    loops[0] = addSound(loopA, 2.5f);
    loops[1] = addSound(loopB, 1.8f);
    loops[2] = addSound(loopC, 1.8f);
    loops[3] = addSound(loopD, 1.8f);
    throttle = load = speed = gearOffset = pitchTerm = 0.0f;
    gearScale = speedScale = 1.0f;
    gear = 1;
    free = 0;
    holdUntil = 0;
    carrier = new Sound3D(file);
    carrier->attachPosition(position);
    carrier->setDistances(1000.0f, 0.42f);
    carrier->play(true);
}

void EngineSound::smoothThrottle(float input, float factor)
{
    input = finiteOrZero(input);
    throttle = finiteOrZero(throttle + (input - throttle) * factor * 0.1f);
    load = std::fabs(input) > 0.1f && throttle < input ? input - throttle : 0.0f;
    if (free)
        speed = finiteOrZero(speed + (2.0f * throttle + gearOffset - speed) * factor * 0.04f);
}

void EngineSound::setLevel(Sound* loop, float level)
{
    if (loop && loop->level != level) {
        loop->level = level;
        loop->changed = 1;
    }
}

void EngineSound::update()
{
    const float engineSpeed = finiteOrZero(speed);
    const float gas = finiteOrZero(throttle);
    const float x = (std::fabs(engineSpeed) - gearOffset) * gearScale;
    const float u = unit(x);
    const float v = unit(x - 1.0f);
    const float w = unit(std::fabs(engineSpeed) - 1.0f);
    const float P = std::pow(gas, 2.0f);
    const float U = std::pow(u, 2.0f);
    const float V = std::pow(v, 2.0f);
    const bool reverse = engineSpeed < 0.0f;
    if (reverse)
        gear = 1;

    // Off throttle the low and high idle loops cross-fade with the speed, on
    // throttle the low and high load loops with the place in the gear's range.
    setLevel(loops[0], (1.0f - w) * (1.0f - P));
    setLevel(loops[2], w * (1.0f - P));
    setLevel(loops[1], P * (1.0f - U));
    setLevel(loops[3], P * U);

    const uint32_t now = clock ? clock() : 0;
    if (!reverse && !free && int32_t(now - holdUntil) > 0) {
        const float down = gear == 1 ? 0.0f : 0.6f;
        if (x < down && gear > 1) {
            --gear;
            holdUntil = now + shiftHoldMilliseconds;
        }
        if (x > 1.9f && gear < 4) {
            ++gear;
            holdUntil = now + shiftHoldMilliseconds;
        }
    }
    const GearRange& range = rangeOf(gear);
    gearOffset = range.offset;
    gearScale = reverse ? range.reverseScale : range.scale;

    mix(carrier);
    pitchTerm = V;
    if (carrier)
        carrier->setFrequencyScale(1.0f + 0.7f * V);
}

float EngineSound::getGearRatio() const
{
    if (free)
        return 0.0f;
    const float gas = finiteOrZero(throttle);
    const float x = (finiteOrZero(speed) - gearOffset) * gearScale;
    const GearRange& range = rangeOf(gear);
    const float v = gas >= 0.0f ? x : std::fabs(x);
    const float d = range.top - v;
    if (d > 0.001f)
        return range.top * std::pow(d / range.top, range.exponent) * gas;
    return d * gas;
}

void EngineSound::release()
{
    delete carrier;
    carrier = nullptr;
    for (Sound*& loop : loops)
        loop = nullptr;
    clear();
}

}
