// The far field's renewal: when the pictures are due, how high the panels
// stand, which panel holds which target, and each picture's render.
#include "Landscape/HLod.h"

#include "Landscape/Terrain.h"

#include "Render/CubeFaceViews.h"
#include "Render/DirectGraphics.h"
#include "Render/Light.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"
#include "Core/Timer.h"

#include <bit>
#include <cmath>

namespace {

// The cube face whose view looks along each panel's direction.
constexpr int panelFace[HLod::panelCount] = {4, 5, 1, 0};

DWORD floatBits(float f) { return std::bit_cast<DWORD>(f); }

}

void HLod::update()
{
    CRASH_TRACE();
    // Without objects a picture would hold nothing; the flag waits for them.
    if (!owner || !objects)
        return;
    D3D::Device::SwapChain& camera = *owner;
    const vec3d position = camera.position;

    // Moved beyond the limits since the last renewal: sideways and forward
    // every 12th frame or after a long way, up and down on every frame.
    const float limit = distance * 0.8f;
    const vec3d offset = world.row(3) - position;
    const float right = offset.dot(camera.right), up = offset.dot(camera.up), forward = offset.dot(camera.forward);
    if (gTimer.frameCount % 12 == 0 || offset.lengthSq() > 800.0f)
        if (std::fabs(right) > limit * 0.016f || std::fabs(forward) > limit * 0.018f)
            rerender = 1;
    if (std::fabs(up) > limit * 0.0065f)
        rerender = 1;

    // A visible panel without a picture asks for one, unless it found every
    // target held last time and none would come free now.
    bool visible[panelCount];
    bool targetFree = false;
    for (int p = 0; p < panelCount; ++p) {
        BoundingBox box;
        panelBox(p, box);
        visible[p] = camera.frustum.classifyBox(box) != ConvexVolume::outside;
        targetFree = targetFree || (slots[p] && !visible[p]);
    }
    for (int p = 0; p < panelCount; ++p)
        if (visible[p] && !slots[p] && (!waiting[p] || targetFree))
            rerender = 1;
    if (!rerender)
        return;

    const ConvexVolume directions = camera.directionVolume, frustum = camera.frustum;
    if (std::fabs(position.x - lastGather.x) > distance * 0.1f ||
        std::fabs(position.z - lastGather.z) > distance * 0.1f) {
        measureHeights(distance, lowestHeight, highestHeight);
        lastGather = position;
    }
    // The panels reach as far up and down as the far objects do; without
    // any (or with them all at the camera's height) they keep the standard
    // height.
    const float h = std::fmax(std::fabs(position.y - lowestHeight), std::fabs(position.y - highestHeight));
    heightScale = h / distance;
    if (!(lowestHeight <= highestHeight) || !std::isfinite(heightScale) || !(heightScale > 0.0f))
        heightScale = defaultHeightScale;
    world = matrix3d::identity();
    world.m[5] = heightScale;
    world.setRow(3, position);
    projection = CubeFaceViews::projection();
    projection.m[5] /= heightScale;

    const float half = distance * 0.5f;
    farField.center = position;
    farField.minimum = position - vec3d{half, half, half};
    farField.maximum = position + vec3d{half, half, half};
    farField.radiusSq = 3.0f * half * half;
    farField.radius = fastSqrt(farField.radiusSq);

    // Panels out of view give their targets back.
    for (int p = 0; p < panelCount; ++p) {
        BoundingBox box;
        panelBox(p, box);
        visible[p] = frustum.classifyBox(box) != ConvexVolume::outside;
        if (!visible[p])
            slots[p] = nullptr;
        waiting[p] = 0;
    }
    ++renewals;
    IDirect3DDevice9* d = gDevice;
    for (int p = 0; p < panelCount; ++p) {
        if (!visible[p])
            continue;
        if (!slots[p]) {
            for (TargetRecord& record : targets) {
                bool held = false;
                for (TargetRecord* slot : slots)
                    held = held || slot == &record;
                if (!held) {
                    slots[p] = &record;
                    break;
                }
            }
            if (!slots[p]) {
                waiting[p] = 1;
                continue;
            }
        }
        ++pictures;
        TargetRecord& record = *slots[p];
        if (!d || !record.surface || !record.depth)
            continue;
        const matrix3d& rotation = CubeFaceViews::rotation(panelFace[p]);
        view = CubeFaceViews::view(panelFace[p], position);
        camera.directionVolume.setFromMatrix(rotation * projection);
        camera.frustum.setFromMatrix(view * projection);
        // The near plane moved out to the far field: the terrain's depth
        // pass skips the ground nearer than that.
        ConvexVolume::Plane& nearPlane = camera.frustum.planes[0];
        nearPlane.point = position + nearPlane.normal * farField.radius;
        nearPlane.distance = nearPlane.normal.dot(nearPlane.point);

        camera.pushRenderTarget(record.surface, record.depth);
        {
            D3D::PushedTransform projected(D3DTS_PROJECTION, projection);
            D3D::PushedTransform viewed(D3DTS_VIEW, view);
            d->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
            d->SetRenderState(D3DRS_RANGEFOGENABLE, TRUE);
            d->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_NONE);
            d->SetRenderState(D3DRS_FOGSTART, floatBits(camera.fogStart));
            d->SetRenderState(D3DRS_FOGEND, floatBits(camera.fogEnd));
            d->SetRenderState(D3DRS_FOGCOLOR, camera.fogColour.argb());
            d->SetRenderState(D3DRS_FOGENABLE, camera.fogEnabled ? TRUE : FALSE);
            for (DWORD sampler = 0; sampler < 3; ++sampler)
                d->SetSamplerState(sampler, D3DSAMP_MIPMAPLODBIAS, floatBits(camera.mipBias));
            D3D::setDirectionalLight(camera.sun);
            d->BeginScene();
            renderView();
            d->EndScene();
        }
        camera.popRenderTarget();
    }
    camera.directionVolume = directions;
    camera.frustum = frustum;
    rerender = 0;
}

void HLod::measureHeights(float d, float& lowest, float& highest)
{
    CRASH_TRACE();
    lowest = FLT_MAX;
    highest = -FLT_MAX;
    if (!objects || !owner)
        return;
    OrientedBox box;
    box.center = owner->position;
    box.axes[0] = {1.0f, 0.0f, 0.0f};
    box.axes[1] = {0.0f, 1.0f, 0.0f};
    box.axes[2] = {0.0f, 0.0f, 1.0f};
    box.halfExtents = {d, d, d};
    DynArray<Objects::Object> found(16);
    const int32_t count = objects->collectTouchingBox(box, found);
    for (int32_t i = 0; i < count; ++i) {
        const Objects::Object* object = found.at(i);
        if (!object || !object->farField)
            continue;
        const matrix3d& m = object->transform;
        const vec3d half = object->box.maximum - object->box.center;
        const vec3d centre = m.transformPoint(object->box.center);
        const float upright =
            std::fabs(m.at(0, 1)) * half.x + std::fabs(m.at(1, 1)) * half.y + std::fabs(m.at(2, 1)) * half.z;
        lowest = std::fmin(lowest, centre.y - upright);
        highest = std::fmax(highest, centre.y + upright);
    }
}

void HLod::renderView()
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (!d || !owner)
        return;
    // Fog-coloured and transparent where no far object is drawn: the
    // terrain only hides them.
    const float a = owner->haze;
    const Color fog = owner->fogColour;
    auto channel = [a](uint8_t byte) { return DWORD(float(byte) * a + (1.0f - a) * 102.0f) & 0xFF; };
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER,
             channel(fog.r) << 16 | channel(fog.g) << 8 | channel(fog.b), 1.0f, 0);
    d->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
    if (terrain && terrain->isLoaded()) {
        // The coarsest ground is enough for depth; the level's own limits
        // come back afterwards.
        const int32_t lowest = terrain->lowestLod, highest = terrain->highestLod;
        terrain->lowestLod = terrain->highestLod = Terrain::coarsestLod;
        terrain->render(0);
        terrain->lowestLod = lowest;
        terrain->highestLod = highest;
    }
    d->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    if (objects)
        objects->renderFarField(farField);
}
