#pragma once

#include "Application/UserInput.h"

#include <cstdint>

// The two periodic effects on a force-feedback joystick: a short pulse on
// the X and Y axes that the game fires on impacts, and a rumble on the X axis
// whose gain follows the engine. The effects are held by UserInput; these
// helpers build and drive them. Main thread only. A null effect is skipped.
class ForceFeedback
{
public:
    // The first periodic effect of device, made with axisCount axes (1: X,
    // 2: X and Y); null when the device offers none or refuses it.
    static IDirectInputEffect* createPeriodic(IDirectInputDevice8W* device, DWORD axisCount);

    // Plays effect once for milliseconds at gain 0..1; envelope non-zero
    // gives it the soft attack and fade of pulseEnvelope, zero removes any.
    static void start(IDirectInputEffect* effect, int32_t milliseconds, float gain, uint32_t envelope);
    // Changes only the gain (0..1) of a running effect.
    static void setGain(IDirectInputEffect* effect, float gain);

    // gain clamped to 0..1 in DirectInput gain units (0..10000).
    static DWORD gainUnits(float gain);

    static constexpr DWORD effectDuration = 100000; // microseconds
    static constexpr DWORD effectPeriod = 100000;   // microseconds
    // DirectInput's full strength: a larger magnitude lies outside what
    // drivers accept, and the gain scales the effect within it anyway.
    static constexpr DWORD magnitude = DI_FFNOMINALMAX;
    static const DIENVELOPE pulseEnvelope;
};
