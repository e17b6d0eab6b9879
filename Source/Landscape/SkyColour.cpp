// The sky's colour model and its per-frame parameters.
#include "Landscape/AnimatedSky.h"

#include "Render/Camera.h"
#include "Render/Light.h"

#include "Core/Math.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float inversePi = 0.31830987334251404f;

float clampTo(float v, float low, float high) { return v > high ? high : v >= low ? v : low; }

// An acos that takes the rounding slack of a dot product of unit vectors.
float safeAcos(float c) { return floatAcos(clampTo(c, -1.0f, 1.0f)); }

enum Palette { DaySky, Sunset, SunsetBlue, Haze, Halo };

}

void AnimatedSky::sunsetTerm(const vec3d& d)
{
    const float p = floatPow(1.0f - d.y, 5.0f);
    const float q = safeAcos(sunSide) * inversePi * 1.4f + (1.0f - p) * 0.5f;
    const float v = clampTo((1.0f - q) * band, 0.0f, 1.0f);
    const float g = elevation <= 0.0f ? 1.0f - floatPow(1.0f + elevation, 3.0f) : 0.0f;
    for (int c = 0; c < 3; ++c)
        term[c] = (colours[Sunset][c] * (1.0f - g) + colours[SunsetBlue][c] * g) * v;
}

void AnimatedSky::hazeTerm(const vec3d& d)
{
    const float u = clampTo((elevation + 0.05f) * 3.0f, 0.0f, 1.0f);
    const float y = std::max(1.0f - d.y, 0.0f);
    const float strength = (0.8f - (1.0f - floatPow(y, 1.4f)) * 0.8f) * u;
    for (int c = 0; c < 3; ++c)
        term[c] = colours[Haze][c] * strength;
}

void AnimatedSky::haloTerm()
{
    const float z = 1.0f - sunAngle;
    const float strength = z == 0.0f ? 0.0f : floatPow(z, 5.0f) * 0.25f;
    for (int c = 0; c < 3; ++c)
        term[c] = colours[Halo][c] * strength;
}

void AnimatedSky::glareTerm()
{
    sunAngle = std::max(sunAngle, 0.0f);
    const float g = 0.15f - (1.0f - floatPow(1.0f - sunAngle, 3.3f)) * 0.15f;
    term[0] = term[1] = term[2] = g;
}

void AnimatedSky::colourDirection(const vec3d& d)
{
    const vec3d& s = sun->direction;
    direction = d;
    sunAngle = safeAcos(d.dot(s)) * inversePi;
    sunSide = clampTo(s.x * d.x + s.z * d.z, 0.0f, 1.0f);
    for (int c = 0; c < 3; ++c)
        accumulated[c] = colours[DaySky][c] * brightness;
    sunsetTerm(d);
    for (int c = 0; c < 3; ++c)
        accumulated[c] += term[c];
    hazeTerm(d);
    for (int c = 0; c < 3; ++c)
        accumulated[c] += term[c];
    haloTerm();
    for (int c = 0; c < 3; ++c)
        accumulated[c] += term[c];
    glareTerm();
    for (int c = 0; c < 4; ++c)
        accumulated[c] = clampTo(accumulated[c] + (c < 3 ? term[c] : 0.0f), 0.0f, 1.0f);
}

Color AnimatedSky::vertexColour() const
{
    return Color(uint8_t(accumulated[0] * 255.0f), uint8_t(accumulated[1] * 255.0f), uint8_t(accumulated[2] * 255.0f),
                 255);
}

void AnimatedSky::update()
{
    const vec3d s = sun->direction;
    const float horizontal = fastSqrt(s.x * s.x + s.z * s.z);
    float degrees;
    if (s.y == 0.0f)
        degrees = horizontal > 0.0f ? 0.0f : 180.0f;
    else
        degrees = 90.0f - float(std::atan(double(horizontal / s.y))) * 57.29578f + (s.y < 0.0f ? 180.0f : 0.0f);
    if (degrees > 90.0f)
        degrees -= 360.0f;
    elevation = degrees / 90.0f;
    brightness = clampTo((elevation + 0.1f) * 1.1f + 0.4f, 0.0f, 1.0f);
    const float w = elevation > 0.0f ? 0.8f * elevation : 1.0f - floatPow(1.0f + elevation, 3.0f);
    band = clampTo(1.0f - w, -1.0f, 1.0f);

    if (listener) {
        // White with the sun high or low, most orange on the horizon.
        const float t = clampTo(elevation, -0.15f, 0.15f);
        const float f = floatSin((0.15f - t) * 3.3333333f * 3.1415927f) * 0.65f;
        const float tint[4] = {colours[Sunset][0] * f + (1.0f - f), colours[Sunset][1] * f + (1.0f - f),
                               colours[Sunset][2] * f + (1.0f - f), 0.0f};
        listener->onSunTint(tint);
        reportHorizon();
    }

    const float turn = lastSunDirection.dot(s);
    if (turn >= 1.0f) {
        updateRate *= 0.99f;
    } else {
        updateRate = std::min((safeAcos(turn) * 130.0f + updateRate) * 0.5f, 1.0f);
        lastSunDirection = s;
    }
    for (uint16_t i = 0; patches && i < nodeCount; ++i)
        patches[i].recolouredThisFrame = 0;
    ++frameStamp;
}

void AnimatedSky::reportHorizon()
{
    vec3d c = gCamera ? gCamera->forward : vec3d{0.0f, 0.0f, 1.0f};
    c.y = 0.0f;
    const float length = fastSqrt(c.lengthSq());
    if (length > 0.0f)
        c = c / length;
    float sum[4] = {};
    for (float angle : {-0.767944872f, 0.0f, 0.767944872f}) {
        const float cw = floatCos(angle), sw = floatSin(angle);
        colourDirection({c.x * cw + c.z * sw, 0.0f, c.z * cw - c.x * sw});
        for (int k = 0; k < 3; ++k)
            sum[k] += accumulated[k];
    }
    for (int k = 0; k < 3; ++k)
        sum[k] *= 0.33333334f;
    listener->onHorizonColour(sum);
}
