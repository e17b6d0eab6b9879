// A grass layer's patches: the grid of cells around the camera, where blades
// may grow, and each patch's frame: view test, fading, sorting and the choice
// between cached and streamed drawing.
#include "Landscape/GrasLayer.h"

#include "Landscape/Water.h"

#include "Render/Camera.h"
#include "Render/Light.h"
#include "Render/TextureProj.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"

#include <algorithm>
#include <cmath>

namespace {

// The first cell whose range may reach down to coordinate v (and the last
// reaching up to it), in cells of size c: ceil(v / c), lowered by one more
// below zero.
int32_t cellBound(float v, float c)
{
    const float q = v / c;
    const int32_t bound = int32_t(floatCeil(q));
    return q < 0.0f ? bound - 1 : bound;
}

// Whether cell (i, j)'s centre lies within range R of the camera at (x, z).
bool cellInRange(int32_t i, int32_t j, float x, float z, float c, float R)
{
    const float dx = float(i) * c + c * 0.5f - x, dz = float(j) * c + c * 0.5f - z;
    const float reach = R - c * 0.5f;
    return reach >= 0.0f && dx * dx + dz * dz <= reach * reach;
}

// The farthest grass may grow: the view range of the camera.
float cameraRange()
{
    static const float standard = Camera().range;
    return gCamera ? gCamera->range : standard;
}

// Coordinates far enough from the grid that no cell bound can be formed.
bool onGrid(const vec3d& p) { return std::fabs(p.x) < 1.0e9f && std::fabs(p.z) < 1.0e9f; }

}

Meadow::GrasLayer::GrasLayer(Meadow* meadow, const Settings& initial) : owner(meadow), settings(initial)
{
    applySettings();
}

Meadow::GrasLayer::~GrasLayer()
{
    deletePatches();
    releaseDeviceBuffers();
    texture.release();
    placementPoints.deleteAll();
    circles.deleteAll();
    rectangles.deleteAll();
}

uint32_t Meadow::GrasLayer::verticesForShape(uint32_t shape)
{
    switch (shape) {
    case 1:
    case 5: return 4;
    case 2: return 8;
    case 3: return 12;
    case 4: return 16;
    default: return 0;
    }
}

void Meadow::GrasLayer::applySettings()
{
    verticesPerBlade = verticesForShape(settings.shape);
    if (verticesPerBlade == 0 && state != constructed)
        state = disabled;
    settings.minimumNormal = std::clamp(settings.minimumNormal, 0.0f, 1.0f);
    settings.maximumNormal = std::clamp(settings.maximumNormal, 0.0f, 1.0f);
    // Grass never grows beyond what the camera sees, however far the file
    // lets it.
    const Settings defaults;
    const float sight = cameraRange();
    const float range = settings.range;
    drawnRange = range > 0.0f && range <= sight ? range : std::min(defaults.range, sight);
    const float fade = settings.fadeStart;
    drawnFadeStart = fade >= 0.0f && fade < drawnRange ? fade
                     : defaults.fadeStart < drawnRange ? defaults.fadeStart
                                                       : drawnRange * 0.5f;
    // Blades are fully opaque up to half the fade length before the fade
    // starts; a fade longer than twice its start has no such zone (the
    // limit would otherwise pass the fade start and turn the fade around).
    const float opaque = drawnFadeStart - (drawnRange - drawnFadeStart) * 0.5f;
    fullOpacityLimit = opaque > 0.0f ? opaque * opaque : 0.0f;
    deletePatches();
    lastCamera = {-FLT_MAX, -FLT_MAX, -FLT_MAX};
}

uint64_t Meadow::GrasLayer::mostBlades() const
{
    if (state != ready)
        return 0;
    // The cells whose centres lie within reach of the camera are whole unit
    // squares (in cells) inside the circle of reach plus half a diagonal:
    // no more of them than that circle's area.
    const float reach = std::max(drawnRange - cellSize * 0.5f, 0.0f) / cellSize + 0.7072f;
    const uint64_t cells = uint64_t(std::ceil(3.14159265f * reach * reach));
    return cells * settings.bladesPerPatch;
}

void Meadow::GrasLayer::setTexture(const TextureRef& ref)
{
    texture = ref;
    textureFile.close();
    textureLevels = 0;
}

int32_t Meadow::GrasLayer::random() const
{
    const int32_t r = owner && owner->random ? owner->random() : 0;
    return r < 0 ? -r : r;
}

bool Meadow::GrasLayer::inWater(const vec3d& p) const
{
    const Water* water = owner ? owner->water : nullptr;
    if (!water)
        return false;
    for (const Water::AreaList* list : {&water->live, &water->dormant})
        for (auto* node = list->head(); node; node = node->next)
            if (node->item && node->item->isPointInWater(p))
                return true;
    return false;
}

Meadow::GrasLayer::Patch* Meadow::GrasLayer::findPatch(int32_t x, int32_t z) const
{
    for (auto* node = patches.head(); node; node = node->next)
        if (node->item->cellX == x && node->item->cellZ == z)
            return node->item;
    return nullptr;
}

void Meadow::GrasLayer::removePatch(Patch* patch)
{
    for (auto* node = patches.head(); node; node = node->next)
        if (node->item == patch) {
            delete patches.unlink(node);
            break;
        }
    // The lists of visible patches must not keep it.
    for (DynArray<Patch*>* list : {&drawList, &nextList}) {
        uint32_t& count = list == &drawList ? drawCount : nextCount;
        uint32_t kept = 0;
        for (uint32_t i = 0; i < count; ++i)
            if (Patch* p = *list->at(int32_t(i)); p != patch)
                *list->at(int32_t(kept++)) = p;
        count = kept;
    }
    for (uint32_t i = 0; i < projectionCount; ++i)
        if (patchProjections.at(int32_t(i))->patch == patch)
            patchProjections.at(int32_t(i))->projection = nullptr;
}

void Meadow::GrasLayer::deletePatches()
{
    patches.deleteAll();
    drawCount = nextCount = projectionCount = 0;
}

bool Meadow::GrasLayer::placeBlade(const Patch& patch, Blade& blade)
{
    const Settings& s = settings;
    const float c = cellSize;
    Terrain* ground = owner ? owner->terrain : nullptr;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const float x = patch.minimum.x + float(random() % 1000) * c * 0.001f;
        const float z = patch.minimum.z + float(random() % 1000) * c * 0.001f;
        bool inside = true;
        for (auto* node = rectangles.head(); node && inside; node = node->next) {
            const Rectangle& r = *node->item;
            inside = x >= r.minimumX && x <= r.maximumX && z >= r.minimumZ && z <= r.maximumZ;
        }
        for (auto* node = circles.head(); node && inside; node = node->next) {
            const Circle& k = *node->item;
            inside = (x - k.x) * (x - k.x) + (z - k.z) * (z - k.z) <= k.radiusSq;
        }
        if (!inside || !ground)
            continue;
        const float y = ground->getHeight(x, z, 2) - s.sinkDepth;
        vec3d normal = Terrain::lastGroundNormal().normalised();
        if (normal.y > 1.0f)
            normal.y = 1.0f;
        if (!(normal.y >= s.minimumNormal && normal.y <= s.maximumNormal))
            continue;
        if (!(y > s.minimumGround && y < s.maximumGround))
            continue;
        const vec3d p{x, y, z};
        if (inWater(p) != (s.onWater != 0))
            continue;
        const int32_t onWay = owner->ways ? owner->ways->isOnWay(x, z) : 0;
        if ((onWay != 0) != (s.onWay != 0))
            continue;
        // A paved road's surface lies on the ground: a blade there would
        // stand through it.
        if (owner->ways && owner->ways->isOnPavement(x, z))
            continue;
        blade.position = p;
        blade.groundNormal = normal;
        return true;
    }
    return false;
}

void Meadow::GrasLayer::createPatch(int32_t i, int32_t j)
{
    const float c = cellSize, halfWidth = settings.width * 0.5f;
    Patch* patch = new (std::nothrow) Patch(this);
    const uint32_t capacity = settings.bladesPerPatch;
    if (!patch || capacity == 0) {
        delete patch;
        return;
    }
    patch->blades.reset(new (std::nothrow) Blade[capacity]);
    if (!patch->blades) {
        delete patch;
        return;
    }
    patch->cellX = i;
    patch->cellZ = j;
    patch->minimum = {float(i) * c, FLT_MAX, float(j) * c};
    patch->maximum = {float(i + 1) * c, -FLT_MAX, float(j + 1) * c};
    uint32_t placed = 0;
    auto widen = [&](const Blade& blade) {
        patch->minimum.y = std::min(patch->minimum.y, blade.position.y - halfWidth);
        patch->maximum.y = std::max(patch->maximum.y, blade.position.y + settings.maximumHeight + halfWidth);
    };
    if (placementMode == 0) {
        for (uint32_t k = 0; k < capacity; ++k) {
            Blade& blade = patch->blades[placed];
            if (!placeBlade(*patch, blade))
                continue;
            blade.scale = 1.0f;
            initBlade(blade);
            widen(blade);
            ++placed;
        }
    } else if (owner && owner->terrain) {
        for (auto* node = placementPoints.head(); node && placed < capacity; node = node->next) {
            const PlacementPoint& point = *node->item;
            if (point.x < patch->minimum.x || point.x > patch->maximum.x || point.z < patch->minimum.z ||
                point.z > patch->maximum.z)
                continue;
            Blade& blade = patch->blades[placed];
            const float y = owner->terrain->getHeight(point.x, point.z, 2) - settings.sinkDepth;
            blade.position = {point.x, y, point.z};
            blade.groundNormal = Terrain::lastGroundNormal().normalised();
            blade.scale = point.scale;
            initBlade(blade);
            widen(blade);
            ++placed;
        }
    }
    if (placed == 0) {
        delete patch;
        return;
    }
    patch->minimum.x -= halfWidth;
    patch->minimum.z -= halfWidth;
    patch->maximum.x += halfWidth;
    patch->maximum.z += halfWidth;
    patch->bladeCount = placed;
    patch->order.reset(new (std::nothrow) uint16_t[placed]);
    if (!patch->order) {
        delete patch;
        return;
    }
    for (uint32_t k = 0; k < placed; ++k)
        patch->order[k] = uint16_t(k);
    patch->centre = (patch->minimum + patch->maximum) * 0.5f;
    patch->light.init(0.1f);
    if (!patches.append(patch)) {
        delete patch;
        return;
    }
    patchSetChanged = 1;
}

void Meadow::GrasLayer::updatePatchGrid(const vec3d& camera)
{
    CRASH_TRACE();
    const float c = cellSize, R = drawnRange;
    const vec3d last = lastCamera;
    const bool lastOnGrid = onGrid(last);
    if (onGrid(camera) && state == ready) {
        for (int32_t j = cellBound(camera.z - R, c); j <= cellBound(camera.z + R, c); ++j)
            for (int32_t i = cellBound(camera.x - R, c); i <= cellBound(camera.x + R, c); ++i)
                if (cellInRange(i, j, camera.x, camera.z, c, R) &&
                    !(lastOnGrid && cellInRange(i, j, last.x, last.z, c, R)))
                    createPatch(i, j);
    }
    if (lastOnGrid) {
        for (int32_t j = cellBound(last.z - R, c); j <= cellBound(last.z + R, c); ++j)
            for (int32_t i = cellBound(last.x - R, c); i <= cellBound(last.x + R, c); ++i)
                if (cellInRange(i, j, last.x, last.z, c, R) &&
                    !(onGrid(camera) && cellInRange(i, j, camera.x, camera.z, c, R)))
                    if (Patch* patch = findPatch(i, j)) {
                        patchSetChanged = 1;
                        removePatch(patch);
                    }
    }
    lastCamera = camera;
}

void Meadow::GrasLayer::sortBlades(Patch& patch, const vec3d& camera)
{
    for (uint32_t k = 0; k < patch.bladeCount; ++k) {
        Blade& blade = patch.blades[k];
        const float dx = blade.position.x - camera.x, dz = blade.position.z - camera.z;
        blade.distanceSq = dx * dx + dz * dz;
    }
    const Blade* blades = patch.blades.get();
    std::sort(patch.order.get(), patch.order.get() + patch.bladeCount,
              [blades](uint16_t a, uint16_t b) { return blades[a].distanceSq > blades[b].distanceSq; });
}

void Meadow::GrasLayer::update(const Camera& camera)
{
    CRASH_TRACE();
    for (BufferRange* range : retired[1])
        if (range && range->pool)
            BufferPool::freeRange(*range->pool, range);
    retired[1].swap(retired[0]);
    retired[0].clear();
    patchSetChanged = 0;
    updatePatchGrid(camera.position);
    if (state != ready)
        return;
    projectionCount = 0;
    nextCount = 0;
    static const LightRecord noon;
    const LightRecord& sun = gSunLight ? *gSunLight : noon;
    const float projectionReach = projectionRange * projectionRange;
    for (auto* node = patches.head(); node; node = node->next) {
        Patch& patch = *node->item;
        updatePatch(patch, camera, sun);
        if (!patch.active || !receivesProjections || !owner)
            continue;
        for (auto* p = owner->projections.head(); p; p = p->next) {
            TextureProj* projection = p->item;
            if (!projection || !projection->active || projection->disabled || !(patch.distanceSq < projectionReach) ||
                projection->volume.classifyBox(patch.minimum, patch.maximum) == ConvexVolume::outside)
                continue;
            if (PatchTexProj* pair = patchProjections.at(int32_t(projectionCount))) {
                *pair = {projection, &patch};
                ++projectionCount;
            }
        }
    }
    if (patchSetChanged) {
        // Farthest first; only this frame's entries count.
        Patch** first = nextList.data();
        if (first && nextCount > 0)
            std::sort(first, first + nextCount, [](const Patch* a, const Patch* b) { return a->distanceSq > b->distanceSq; });
        std::swap(drawList, nextList);
        std::swap(drawCount, nextCount);
    }
}

void Meadow::GrasLayer::updatePatch(Patch& patch, const Camera& camera, const LightRecord& sun)
{
    if (camera.frustum.classifyBox(patch.minimum, patch.maximum) == ConvexVolume::outside) {
        patch.releaseCached();
        if (patch.active) {
            patch.active = 0;
            patch.state = hiddenPatch;
            patch.visibleCount = 0;
            patchSetChanged = 1;
        }
        return;
    }
    const vec3d offset = patch.centre - camera.position;
    const float d = offset.lengthSq();
    patch.distanceSq = d;
    if (!patch.active) {
        patch.active = 1;
        patchSetChanged = 1;
    }
    if (Patch** entry = nextList.at(int32_t(nextCount))) {
        *entry = &patch;
        ++nextCount;
    }
    const float flat = fastSqrt(offset.x * offset.x + offset.z * offset.z);
    const float vx = flat > 0.0f ? offset.x / flat : 0.0f, vz = flat > 0.0f ? offset.z / flat : 0.0f;
    if (1.0f - (vx * patch.viewX + vz * patch.viewZ) > 0.02f) {
        sortBlades(patch, camera.position);
        patch.viewX = vx;
        patch.viewZ = vz;
        patch.releaseCached();
    }

    // Touch bodies that reach the patch mark it; it stays touched until its
    // blades have sprung back.
    const TouchBody* bodies[16];
    int32_t bodyCount = 0;
    if (owner)
        for (auto* node = owner->touchBodies.head(); node; node = node->next) {
            const BoundingBox& b = node->item->box;
            if (b.minimum.x <= patch.maximum.x && b.maximum.x >= patch.minimum.x && b.minimum.y <= patch.maximum.y &&
                b.maximum.y >= patch.minimum.y && b.minimum.z <= patch.maximum.z && b.maximum.z >= patch.minimum.z) {
                patch.touched = 1;
                if (bodyCount < 16)
                    bodies[bodyCount++] = node->item;
            }
        }

    const bool sunChanged = patch.light.trackSunChange(sun.direction, sun.diffuse, sun.ambient);
    if ((!patch.touched && (d < fullOpacityLimit || std::fabs(d - patch.markA) < 100.0f)) || sunChanged) {
        if (patch.state == cachedPatch && !sunChanged)
            return;
        patch.state = cachedPatch;
        fadeBlades(patch, sunChanged, false, nullptr, 0);
        patch.releaseCached();
        return;
    }
    if (patch.state == cachedPatch) {
        patch.visibleCount = 0;
        patch.releaseCached();
    }
    if (std::fabs(d - patch.markB) >= 10.0f)
        patch.markB = d;
    else
        patch.markA = d;
    if (patch.state == streamingPatch && !patch.touched && std::fabs(d - patch.markC) < 10000.0f)
        return;
    patch.markC = d;
    patch.state = streamingPatch;
    fadeBlades(patch, false, patch.touched != 0, bodies, bodyCount);
}
