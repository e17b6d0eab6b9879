#pragma once

#include "Core/Vector.h"

#include <cstdint>

class Timer;
struct LightRecord;

// The day-night cycle of the sun: a time of day and a season turn into the
// direction towards the sun and the strengths of the sun and ambient light,
// which then colour a light record (the swap chain's sun, device light 0).
//
// The clock has the sun highest at 13:52 (hour angle 180) and lowest at 01:52;
// the season moves the highest elevation from 18.5 degrees (0) to 65.5 (1).
// Every result stays finite whatever the inputs. Main thread only.
class SunDNC
{
public:
    virtual ~SunDNC() = default;

    // Direction and strengths from the clock's time and the season s, then
    // the light record's direction and device light 0. b and c set the
    // visibility, (1 - c) + c b (the scene passes 1 and 1).
    void update(const Timer& clock, LightRecord& light, float s, float b, float c);
    // Colours the light: k = A (1 - t) + B t scaled by the sun strength for
    // the diffuse and specular parts and by the ambient strength for the
    // ambient part (alphas stay), then device light 0.
    void applyTint(LightRecord& light, const float* a, const float* b, float t) const;

    // Degrees in (0, 360]: 0.25 degrees per minute, 180 at 13:52.
    static float hourAngle(uint8_t hour, uint8_t minute, uint8_t second);
    // The unit vector towards the sun at hour angle h (degrees) and season s.
    static vec3d direction(float h, float s);
    // The strengths for a sun direction with height y.
    void strengths(float y, float b, float c);

    float hourAngleDegrees = 360.0f;
    float sunStrength = 0.0f;
    float ambientStrength = 0.0f;
    float visibility = 0.0f;
};
