// The level barriers: four walls along the edges of the terrain box and the
// band that shows where they stand when the camera comes near.
#include "Entity/CollisionBody.h"

#include "Physics/neRigidBodyBase.h"
#include "Render/BufferPool.h"
#include "Render/Camera.h"
#include "Render/DirectGraphics.h"
#include "Render/TextureDevice.h"

#include "Core/CrashTrace.h"
#include "Core/ImageData.h"
#include "Core/Math.h"
#include "Core/Paint.h"

#include <algorithm>

namespace {

// Walls are this thick across their side line, half on either side.
constexpr float wallThickness = 10.0f;
constexpr int32_t textureSide = 64;

// Opaque in the middle, fading out over the last few texels to nothing.
bool paintBarrierTexture(TextureRef& texture)
{
    const Color opaque{255, 255, 255, 255};
    Paint disc;
    disc.drawDisc(opaque, opaque, Color{255, 255, 255, 0}, 26.0f, 4.0f, 5.0f);
    Paint image(textureSide, textureSide);
    const int32_t offset = (textureSide - disc.width) / 2;
    image.blend(disc, offset, offset);
    ImageData data;
    data.fromSurface2d(image);
    return Texture::createFromImage(texture, String(L"BarrierTexProj"), data, 1, D3DPOOL_MANAGED, D3DFMT_A8R8G8B8,
                                    false, nullptr);
}

// Camera-space positions to texture coordinates: looking straight down on
// the camera's x-z plane, n units across the texture, its centre under the
// camera, then the usual bias into 0..1 (v downwards).
matrix3d barrierProjector(float n)
{
    const float scale = 2.0f / n;
    matrix3d m{};
    m.at(0, 0) = scale * 0.5f;   // u from x
    m.at(2, 1) = -scale * 0.5f;  // v from z
    m.at(3, 0) = 0.5f;
    m.at(3, 1) = 0.5f;
    m.at(3, 3) = 1.0f;           // w = 1: the projected divide changes nothing
    return m;
}

BoundingBox boxOf(const vec3d& minimum, const vec3d& maximum)
{
    BoundingBox box;
    box.minimum = minimum;
    box.maximum = maximum;
    box.center = (minimum + maximum) * 0.5f;
    box.radiusSq = (maximum - box.center).lengthSq();
    box.radius = fastSqrt(box.radiusSq);
    return box;
}

}

bool EntityManager::CollisionBody::buildBarriers(const BoundingBox& terrainBox, float height, Color colour,
                                                 float reach, neAnimatedBody* body)
{
    CRASH_TRACE();
    releaseBarriers();
    barriers.reset(new (std::nothrow) BarrierBand);
    if (!barriers)
        return false;
    BarrierBand& band = *barriers;

    const vec3d low = terrainBox.minimum;
    const vec3d high{terrainBox.maximum.x, terrainBox.maximum.y + height, terrainBox.maximum.z};
    band.bounds = boxOf(low, high);

    // Corners counter-clockwise seen from above, the low ring then the high one.
    const float xs[4] = {low.x, high.x, high.x, low.x};
    const float zs[4] = {low.z, low.z, high.z, high.z};
    BarrierBand::Vertex vertices[8];
    for (int i = 0; i < 4; ++i) {
        vertices[i] = {{xs[i], low.y, zs[i]}, colour.argb()};
        vertices[i + 4] = {{xs[i], high.y, zs[i]}, colour.argb()};
    }
    uint16_t indices[24];
    for (uint16_t side = 0; side < 4; ++side) {
        const uint16_t a = side, b = uint16_t((side + 1) % 4);
        const uint16_t quad[6] = {a, b, uint16_t(b + 4), a, uint16_t(b + 4), uint16_t(a + 4)};
        std::copy(quad, quad + 6, indices + side * 6);
    }
    band.vertexBuffer = createVertexBufferFrom(vertices, 8, sizeof(BarrierBand::Vertex), BarrierBand::format);
    band.indexBuffer = createIndexBufferFrom(indices, 24);
    band.vertexCount = 8;
    band.triangleCount = 8;

    // A reach under half a unit would make a texture of no size.
    band.size = reach;
    const float bounded = reach > 0.0f ? std::min(reach, 1.0e7f) : 0.0f; // NaN gives 0
    const int32_t across = std::max(2, int32_t(bounded) * 2);
    band.projector = barrierProjector(float(across));
    const bool painted = paintBarrierTexture(band.texture);

    const float halfWall = wallThickness * 0.5f;
    const float bottom = low.y, top = high.y;
    const BoundingBox walls[4] = {
        boxOf({low.x, bottom, low.z - halfWall}, {high.x, top, low.z + halfWall}),
        boxOf({high.x - halfWall, bottom, low.z}, {high.x + halfWall, top, high.z}),
        boxOf({low.x, bottom, high.z - halfWall}, {high.x, top, high.z + halfWall}),
        boxOf({low.x - halfWall, bottom, low.z}, {low.x + halfWall, top, high.z}),
    };
    for (const BoundingBox& wall : walls)
        if (Geometry* geometry = addGeometry(nullptr))
            geometry->setBox(wall);
    if (body) {
        if (!body->active)
            body->switchActive();
        attachToAnimatedBody(body);
        syncTransforms();
        body->updateBounds();
    }
    return band.vertexBuffer && band.indexBuffer && painted;
}

void EntityManager::CollisionBody::renderBarrierProjection()
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (!barriers || !d || !barriers->vertexBuffer || !barriers->indexBuffer)
        return;
    const BarrierBand& band = *barriers;
    if (gCamera) {
        // The bounding sphere against the view's planes.
        const ConvexVolume& view = gCamera->frustum;
        for (int32_t i = 0; i < view.count; ++i)
            if (view.planes[i].normal.dot(band.bounds.center) - view.planes[i].distance < -band.bounds.radius)
                return;
    }
    const matrix3d identity = matrix3d::identity();
    d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(identity.m));
    d->SetFVF(BarrierBand::format);
    d->SetStreamSource(0, band.vertexBuffer, 0, sizeof(BarrierBand::Vertex));
    d->SetIndices(band.indexBuffer);
    TextureDevice::bindTexture(0, band.texture.texture());
    d->SetTransform(D3DTS_TEXTURE0, reinterpret_cast<const D3DMATRIX*>(band.projector.m));
    d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEPOSITION);
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT4 | D3DTTFF_PROJECTED);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    DWORD fog = FALSE;
    d->GetRenderState(D3DRS_FOGENABLE, &fog);
    if (fog)
        d->SetRenderState(D3DRS_FOGENABLE, FALSE);

    d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, band.vertexCount, 0, band.triangleCount);
    gDirectGraphics.record.primitiveCount += band.triangleCount;

    if (fog)
        d->SetRenderState(D3DRS_FOGENABLE, TRUE);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    d->SetRenderState(D3DRS_LIGHTING, TRUE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    // The device's own cull mode: inside a mirrored pass it is not the
    // usual counter-clockwise one.
    d->SetRenderState(D3DRS_CULLMODE, gDirectGraphics.record.frontCull);
    d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTexture(0, nullptr);
}

void EntityManager::CollisionBody::releaseBarriers()
{
    if (barriers) {
        D3D::releaseInterface(barriers->vertexBuffer);
        D3D::releaseInterface(barriers->indexBuffer);
        barriers->texture.release();
        barriers.reset();
    }
    clear();
    rigidBody = nullptr;
    animatedBody = nullptr;
}
