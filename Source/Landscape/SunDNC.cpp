#include "Landscape/SunDNC.h"

#include "Render/Light.h"

#include "Core/Math.h"
#include "Core/Timer.h"

#include <cmath>

namespace {

// Within 0 to 1; a NaN counts as 0.
float unit(float v) { return v > 1.0f ? 1.0f : v >= 0.0f ? v : 0.0f; }

constexpr float toRadians = 0.017453292f;

}

float SunDNC::hourAngle(uint8_t hour, uint8_t minute, uint8_t second)
{
    float h = float(second) * 0.0041666669f + float(hour) * 15.0f + float(minute) * 0.25f - 28.0f;
    // A clock within its day needs one turn at most; a byte beyond 23 hours
    // still lands inside the circle.
    h = std::fmod(h, 360.0f);
    if (h <= 0.0f)
        h += 360.0f;
    return h;
}

vec3d SunDNC::direction(float h, float s)
{
    // A season from outside the year keeps the sun on a path of the year.
    s = std::isfinite(s) ? unit(s) : 0.5f;
    const float tilt = (90.0f - (s * 65.5f + (1.0f - s) * 18.5f)) * toRadians;
    const float angle = h * toRadians;
    return {floatSin(angle), -floatCos(angle) * floatCos(tilt), floatCos(angle) * floatSin(tilt)};
}

void SunDNC::strengths(float y, float b, float c)
{
    visibility = unit((1.0f - c) + c * b);
    sunStrength = unit(2.0f * y) * visibility;
    ambientStrength = unit(sunStrength * 0.25f + 0.18f);
}

void SunDNC::update(const Timer& clock, LightRecord& light, float s, float b, float c)
{
    hourAngleDegrees = hourAngle(clock.hour, clock.minute, clock.second);
    light.direction = direction(hourAngleDegrees, s);
    strengths(light.direction.y, b, c);
    D3D::setDirectionalLight(light);
}

void SunDNC::applyTint(LightRecord& light, const float* a, const float* b, float t) const
{
    for (int i = 0; i < 3; ++i) {
        const float k = a[i] * (1.0f - t) + b[i] * t;
        light.diffuse[i] = k * sunStrength;
        light.specular[i] = k * sunStrength;
        light.ambient[i] = k * ambientStrength;
    }
    D3D::setDirectionalLight(light);
}
