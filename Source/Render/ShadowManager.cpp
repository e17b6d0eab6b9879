#include "Render/ShadowManager.h"

#include "Render/ShadowCasters.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"

#include <cmath>

namespace {

// The sun's height below which no shadow is cast: the sector lens divides
// by it and would turn infinite, then mirrored.
constexpr float lowestSun = 0.001f;

}

ShadowManager::ShadowSector::ShadowSector(ShadowManager& owner, float blur) : ShadowProj(blur), manager(owner)
{
    unitBox.radius = 1.0f;
    unitBox.radiusSq = 1.0f;
    unitBox.axes[0] = {1, 0, 0};
    unitBox.axes[1] = {0, 1, 0};
    unitBox.axes[2] = {0, 0, 1};
    if (D3D::Device::SwapChain* chain = owner.swapChain) {
        if (chain->shadowCasters)
            receivers.append(chain->shadowCasters);
        if (owner.ground)
            receivers.append(owner.ground);
        if (owner.roads)
            receivers.append(owner.roads);
        addToReceivers();
    }
}

ShadowManager::ShadowSector::~ShadowSector()
{
    detachFromReceivers();
}

void ShadowManager::ShadowSector::invalidate()
{
    map.state = ShadowMap::live;
    map.selectTextures();
}

void ShadowManager::ShadowSector::place(const vec3d& sun)
{
    const vec3d eye = position + sun * 600.0f;
    if (eye == transform.row(3)) {
        changed = 0;
        still = 1;
    } else {
        const vec3d f = -sun;
        vec3d up{f.x * -f.y, 1.0f - f.y * f.y, f.z * -f.y};
        const float length = fastSqrt(up.lengthSq());
        // Straight overhead the sun's vertical plane is undefined: world +z
        // is up then.
        up = length > 1e-6f ? up / length : vec3d{0.0f, 0.0f, 1.0f};
        const vec3d side = up.cross(f);
        const vec3d rows[4] = {side, up, f, eye};
        transform = matrix3d::identity();
        for (int r = 0; r < 4; ++r) {
            transform.at(r, 0) = rows[r].x;
            transform.at(r, 1) = rows[r].y;
            transform.at(r, 2) = rows[r].z;
        }
        const float cell = manager.cellSize;
        projection = {};
        projection.at(0, 0) = 2.0f / cell;
        projection.at(1, 1) = 2.0f / (sun.y * cell);
        projection.at(2, 2) = 5.00225e-4f;
        projection.at(3, 2) = -5.00225e-4f;
        projection.at(3, 3) = 1.0f;
        changed = 1;
        still = 0;
        createStateBlocks();
        view = inverseAffine(transform);
        volume.setFromMatrix(view * projection);
    }
    D3D::Device::SwapChain* chain = manager.swapChain;
    if (!chain || !map.hasCasters(*chain)) {
        disabled = 1;
        return;
    }
    if (disabled)
        changed = 1;
    disabled = 0;
    update();
}

ShadowManager::ShadowManager(D3D::Device::SwapChain* const& chain, float radius, float strength)
    : swapChain(chain), range(radius), cellSize(2.0f * radius / 3.0f), maxStrength(strength)
{
    area.radius = 1.0f;
    area.radiusSq = 1.0f;
    area.axes[0] = {1, 0, 0};
    area.axes[1] = {0, 1, 0};
    area.axes[2] = {0, 0, 1};
    area.halfExtents = {range, 100.0f, range};
}

ShadowManager::~ShadowManager()
{
    releaseSectors();
}

void ShadowManager::setEnabled(int32_t flag)
{
    enabled = flag;
    for (int32_t i = 0; i < sectorCount; ++i)
        if (ShadowSector* s = *sectors.at(i))
            s->disabled = flag ? 0 : 1;
}

void ShadowManager::setQuality(float softness)
{
    blur = softness;
    if (!swapChain)
        return;
    for (int32_t i = 0; i < sectorCount; ++i)
        if (ShadowSector* s = *sectors.at(i))
            s->map.setBlur(*swapChain, softness);
}

void ShadowManager::update()
{
    CRASH_TRACE();
    D3D::Device::SwapChain* chain = swapChain;
    if (!chain || !ground || !ground->hasHeightData() || !enabled)
        return;
    const vec3d sun = chain->sun.direction;
    if (!(sun.y > lowestSun) || !std::isfinite(sun.x) || !std::isfinite(sun.z)) {
        for (int32_t i = 0; i < sectorCount; ++i)
            if (ShadowSector* s = *sectors.at(i))
                s->disabled = 1;
        return;
    }
    // The grid runs along the sun's horizontal direction. Straight overhead
    // there is none: the grid then runs along -z, as the sectors' lens,
    // which takes +z as up, sees it (without it every grid point would fall
    // on the world origin, far from the camera).
    float dx = 0.0f, dz = -1.0f;
    if (const float across = sun.x * sun.x + sun.z * sun.z; across > 1e-12f) {
        const float length = fastSqrt(across);
        dx = sun.x / length;
        dz = sun.z / length;
    }
    vec3d centre{chain->position.x, 180.0f, chain->position.z};
    vec3d hit;
    if (ground->intersectSegment(centre, centre - sun * 1000.0f, hit))
        offset = centre - hit;
    centre.x += offset.x;
    centre.z += offset.z;
    area.center = centre;
    const vec3d row0{dx, 0.0f, dz}, row1{0.0f, 1.0f, 0.0f}, row2{-dz, 0.0f, dx};
    area.axes[0] = row0;
    area.axes[1] = row1;
    area.axes[2] = row2;

    // The grid is anchored at the world origin: coordinates snap down to
    // whole cells, counted from -10000.
    const int32_t n = int32_t(2.0f * range / cellSize);
    const vec3d corner = centre - row0 * range - row2 * range;
    const auto snap = [this](float c) { return float(int32_t((c + 10000.0f) / cellSize)) * cellSize - 10000.0f; };
    const float u = snap(corner.dot(row0)), v = corner.dot(row1), w = snap(corner.dot(row2));
    const vec3d origin = row0 * u + row1 * v + row2 * w;
    // Every cell corner of the n x n grid within range, with its key.
    const auto forEachPoint = [&](auto visit) {
        for (int32_t a = 1; a <= n; ++a)
            for (int32_t b = 1; b <= n; ++b) {
                const vec3d p = origin + row0 * (float(b) * cellSize) + row2 * (float(a) * cellSize);
                if (fastSqrt((p - centre).lengthSq()) <= range) {
                    const int32_t key[2] = {int32_t(p.x), int32_t(p.z)};
                    visit(p, key);
                }
            }
    };

    forEachPoint([this](const vec3d&, const int32_t (&key)[2]) {
        if (ShadowSector* s = findSector(key, false))
            s->lastUsedFrame = frameCounter;
    });
    freeUnusedSectors();
    forEachPoint([&](const vec3d& p, const int32_t (&key)[2]) {
        ShadowSector* s = findSector(key, true);
        if (!s)
            return;
        s->key[0] = key[0];
        s->key[1] = key[1];
        s->lastUsedFrame = frameCounter;
        s->position = p;
        s->place(sun);
        const float dxz = fastSqrt((p.x - centre.x) * (p.x - centre.x) + (p.z - centre.z) * (p.z - centre.z));
        float weight = (range - dxz) / (0.1f * range);
        weight = weight < 0.0f ? 0.0f : weight > 1.0f ? 1.0f : weight;
        s->opacity = uint8_t(maxStrength * weight);
    });
    ++frameCounter;
}

void ShadowManager::renderStaticShadowMaps()
{
    CRASH_TRACE();
    if (!enabled || !swapChain)
        return;
    for (int32_t i = 0; i < sectorCount; ++i)
        if (ShadowSector* s = *sectors.at(i); s && !s->disabled)
            s->map.render(*swapChain);
}

void ShadowManager::releaseSectors()
{
    for (int32_t i = 0; i < sectorCount; ++i) {
        ShadowSector** slot = sectors.at(i);
        delete *slot;
        *slot = nullptr;
    }
}

ShadowManager::ShadowSector* ShadowManager::findSector(const int32_t (&key)[2], bool create)
{
    ShadowSector* free = nullptr;
    for (int32_t i = 0; i < sectorCount; ++i) {
        ShadowSector* s = *sectors.at(i);
        if (!s)
            continue;
        if (s->key[0] == key[0] && s->key[1] == key[1])
            return s;
        if (!free && s->key[0] == ShadowSector::freeKey && s->key[1] == ShadowSector::freeKey)
            free = s;
    }
    if (free || !create)
        return free;
    ShadowSector** slot = sectors.at(sectorCount);
    if (!slot)
        return nullptr;
    ShadowSector* made = new (std::nothrow) ShadowSector(*this, blur);
    if (!made)
        return nullptr;
    *slot = made;
    ++sectorCount;
    return made;
}

void ShadowManager::freeUnusedSectors()
{
    for (int32_t i = 0; i < sectorCount; ++i)
        if (ShadowSector* s = *sectors.at(i); s && s->lastUsedFrame != frameCounter) {
            s->disabled = 1;
            s->key[0] = s->key[1] = ShadowSector::freeKey;
        }
}
