#include "Render/Light.h"

#include "Render/D3DDevice.h"

#include "Core/ArrayHeap.h"
#include "Core/CrashTrace.h"

LightRecord* gSunLight = nullptr;

namespace {
ArrayHeap<int32_t> freeIndices;
int32_t freeCount = 0;
}

void Light::init(Light& l)
{
    l.light = D3DLIGHT9{};
    l.light.Type = D3DLIGHT_POINT;
    l.light.Attenuation1 = 1.0f;
    l.lightIndex = 0;
}

void Light::release(Light& l)
{
    if (l.lightIndex == 0)
        return;
    CRASH_TRACE();
    if (gDevice)
        gDevice->LightEnable(l.lightIndex, FALSE);
    // A pool rebuilt since the index was handed out may have no room for it.
    if (freeCount < freeIndices.count()) {
        *freeIndices.at(freeCount) = int32_t(l.lightIndex);
        ++freeCount;
    }
    l.lightIndex = 0;
}

bool Light::assignIndex(Light& l)
{
    if (l.lightIndex != 0)
        return true;
    if (freeCount <= 0)
        return false;
    --freeCount;
    l.lightIndex = uint32_t(*freeIndices.at(freeCount));
    return true;
}

void Light::initIndexPool(uint32_t maxActiveLights)
{
    freeIndices.deleteArray();
    freeCount = 0;
    // The caps report 0xFFFFFFFF for "no limit"; a few hundred is plenty.
    const int32_t n = int32_t(maxActiveLights > 256 ? 256 : maxActiveLights) - 1;
    if (n <= 0 || !freeIndices.resize(n))
        return;
    for (int32_t i = 0; i < n; ++i)
        *freeIndices.at(i) = n - i;
    freeCount = n;
}

void Light::releaseIndexPool()
{
    freeIndices.deleteArray();
    freeCount = 0;
}

namespace D3D {

D3DLIGHT9 directionalLight(const LightRecord& sun)
{
    D3DLIGHT9 l{};
    l.Type = D3DLIGHT_DIRECTIONAL;
    l.Diffuse = {sun.diffuse[0], sun.diffuse[1], sun.diffuse[2], sun.diffuse[3]};
    l.Specular = {sun.specular[0], sun.specular[1], sun.specular[2], sun.specular[3]};
    l.Ambient = {sun.ambient[0], sun.ambient[1], sun.ambient[2], sun.ambient[3]};
    l.Direction = {-sun.direction.x, -sun.direction.y, -sun.direction.z};
    l.Attenuation0 = 1.0f;
    return l;
}

void setDirectionalLight(const LightRecord& sun)
{
    CRASH_TRACE();
    if (!gDevice)
        return;
    const D3DLIGHT9 l = directionalLight(sun);
    gDevice->SetLight(0, &l);
}

}
