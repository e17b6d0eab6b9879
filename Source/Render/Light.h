#pragma once

#include "Core/Matrix.h"
#include "Core/Vector.h"

#include <d3d9.h>

#include <cstdint>

// The sun: a directional light record, a member of the swap chain. The sun
// code of the landscape fills it; gSunLight designates the one in force.
struct LightRecord
{
    vec3d direction{1.0f, 0.0f, 0.0f}; // towards the light
    float diffuse[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    float ambient[4] = {0.6f, 0.6f, 0.6f, 1.0f};
    float specular[4] = {0.7f, 0.7f, 0.7f, 1.0f};
    matrix3d matrix = matrix3d::identity();
};

// A point light with the fixed-function light index it was given (0: none;
// index 0 of the device belongs to the sun).
//
// Device light indices come from one process-wide pool: a stack of the free
// indices 1 .. MaxActiveLights - 1, handed out lowest first.
struct Light
{
    D3DLIGHT9 light{};
    uint32_t lightIndex = 0;

    // A point light with every colour 0 and attenuation (0, 1, 0); no index.
    static void init(Light& light);
    // Gives the light's index back to the pool and switches the device light
    // off; nothing when the light has no index.
    static void release(Light& light);
    // Takes the next free index when the light has none. False when the pool is
    // empty (the light then stays without a device light).
    static bool assignIndex(Light& light);

    // Fills the pool for a device that can light maxActiveLights at once (the
    // device's caps); with fewer than 2 no point light ever gets an index.
    static void initIndexPool(uint32_t maxActiveLights);
    // Frees the pool's storage (device release).
    static void releaseIndexPool();
};

namespace D3D {
// The device light record of the sun: directional, shining along -direction.
D3DLIGHT9 directionalLight(const LightRecord& sun);
// Sets device light 0 from the sun; nothing without a device.
void setDirectionalLight(const LightRecord& sun);
}

// The sun light of the swap chain being drawn (set by beginFrame).
extern LightRecord* gSunLight;
