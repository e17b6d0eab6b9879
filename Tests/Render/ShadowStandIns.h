#pragma once
// Test stand-ins for what the shadows ask of the scene: boxes that cast
// (the entity manager's part) and a flat ground (the terrain's part). They
// draw and answer as the scene's own parts do, nothing more.
#include "Render/DirectGraphics.h"
#include "Render/ShadowCasters.h"
#include "Render/TextureProj.h"

#include "Core/OrientedBox.h"

#include <windows.h>
#include <d3d9.h>

#include <algorithm>
#include <vector>

namespace ShadowStandIns {

// Records the projections it receives.
template <class Base>
class Receiving : public Base
{
public:
    void addTexProj(TextureProj* p) override { received.push_back(p); }
    void removeTexProj(TextureProj* p) override { std::erase(received, p); }
    std::vector<TextureProj*> received;
};

class Boxes final : public Receiving<ShadowCasters>
{
public:
    struct Caster
    {
        OrientedBox box;
        bool moving = false;
    };

    int32_t findCastersInVolume(const ConvexVolume& volume, const void* excluded, uint32_t* atRest) override
    {
        int32_t count = 0;
        bool moved = false;
        for (const Caster& c : casters)
            if (&c != excluded && volume.classifyOrientedBox(c.box) != ConvexVolume::outside) {
                ++count;
                moved = moved || c.moving;
            }
        ++queries;
        if (!atRest)
            return count > 0 ? 1 : 0;
        *atRest = moved ? 0 : 1;
        return count;
    }

    uint32_t renderShadowCasters(const ConvexVolume& volume, uint32_t* atRest) override
    {
        uint32_t moved = 0, drawn = 0;
        IDirect3DDevice9* d = gDevice;
        d->SetRenderState(D3DRS_LIGHTING, FALSE);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
        d->SetRenderState(D3DRS_TEXTUREFACTOR, 0);
        d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        d->SetFVF(D3DFVF_XYZ);
        const matrix3d identity = matrix3d::identity();
        d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(identity.m));
        for (const Caster& c : casters) {
            if (volume.classifyOrientedBox(c.box) == ConvexVolume::outside)
                continue;
            const std::vector<vec3d> triangles = solid(c.box);
            d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, UINT(triangles.size() / 3), triangles.data(), sizeof(vec3d));
            drawn = 1;
            moved |= c.moving ? 1 : 0;
        }
        d->SetRenderState(D3DRS_LIGHTING, TRUE);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        d->SetRenderState(D3DRS_CULLMODE, gDirectGraphics.record.frontCull);
        if (atRest && moved)
            *atRest = 0;
        ++renders;
        return drawn;
    }

    // The twelve triangles of a box.
    static std::vector<vec3d> solid(const OrientedBox& b)
    {
        vec3d corner[8];
        for (int i = 0; i < 8; ++i)
            corner[i] = b.center + b.axes[0] * (i & 1 ? b.halfExtents.x : -b.halfExtents.x) +
                        b.axes[1] * (i & 2 ? b.halfExtents.y : -b.halfExtents.y) +
                        b.axes[2] * (i & 4 ? b.halfExtents.z : -b.halfExtents.z);
        const int faces[6][4] = {{0, 1, 3, 2}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 3, 7, 5}};
        std::vector<vec3d> out;
        for (const auto& f : faces)
            for (int i : {0, 1, 2, 0, 2, 3})
                out.push_back(corner[f[i]]);
        return out;
    }

    std::vector<Caster> casters;
    int queries = 0;
    int renders = 0;
};

// A flat ground at height y.
class Flat final : public Receiving<ShadowGround>
{
public:
    bool hasHeightData() override { return loaded; }
    bool intersectSegment(const vec3d& from, const vec3d& to, vec3d& hit) override
    {
        if ((from.y - y) * (to.y - y) > 0.0f || from.y == to.y)
            return false;
        hit = from + (to - from) * ((from.y - y) / (from.y - to.y));
        return true;
    }

    bool loaded = true;
    float y = 0.0f;
};

inline OrientedBox box(const vec3d& centre, const vec3d& half)
{
    OrientedBox b;
    b.center = centre;
    b.axes[0] = {1, 0, 0};
    b.axes[1] = {0, 1, 0};
    b.axes[2] = {0, 0, 1};
    b.halfExtents = half;
    return b;
}

}
