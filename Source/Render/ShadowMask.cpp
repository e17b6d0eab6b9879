// The mesh mask pass of shadow maps: where a caster lies between the light
// and a stored mesh's box, the box's place in the map is marked.
#include "Render/ShadowMap.h"

#include "Render/CubeFaceViews.h"
#include "Render/DirectGraphics.h"
#include "Render/RenderTexture.h"
#include "Render/ShadowCasters.h"
#include "Render/SwapChain.h"
#include "Render/TextureProj.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace {

float fastLength(const vec3d& v)
{
    return fastSqrt(v.lengthSq());
}

}

void ShadowMap::renderMeshShadows(const MeshBox& mesh, D3D::Device::SwapChain& chain)
{
    CRASH_TRACE();
    if (state == 0 || !gDevice)
        return;
    OrientedBox box = mesh.worldBox;
    if (mesh.world) {
        const matrix3d& w = *mesh.world;
        box.center = w.transformPoint(mesh.localBox.center);
        for (int i = 0; i < 3; ++i) {
            box.axes[i] = w.transformVector(mesh.localBox.axes[i]).normalised();
            box.halfExtents[i] = mesh.localBox.halfExtents[i] * fastLength(w.row(i));
        }
    }
    vec3d half;
    for (int i = 0; i < 3; ++i)
        half[i] = box.halfExtents[i] + boxMargin;
    vec3d corners[8];
    for (int c = 0; c < 8; ++c)
        corners[c] = box.center + box.axes[0] * (c & 1 ? half.x : -half.x) + box.axes[1] * (c & 2 ? half.y : -half.y) +
                     box.axes[2] * (c & 4 ? half.z : -half.z);
    boxMatrix = matrix3d::identity();
    for (int r = 0; r < 3; ++r) {
        const vec3d axis = box.axes[r] * half[r];
        boxMatrix.at(r, 0) = axis.x;
        boxMatrix.at(r, 1) = axis.y;
        boxMatrix.at(r, 2) = axis.z;
    }
    boxMatrix.at(3, 0) = box.center.x;
    boxMatrix.at(3, 1) = box.center.y;
    boxMatrix.at(3, 2) = box.center.z;

    ConvexVolume between;
    active = buildCasterVolume(corners, volumeDepth, between) && chain.shadowCasters &&
                     chain.shadowCasters->findCastersInVolume(between, mesh.world ? nullptr : mesh.object, nullptr) > 0
                 ? 1
                 : 0;
    if (!active)
        return;

    const vec2d edge{float(size), float(size)};
    if (kind == 0) {
        if (!renderTexture || !renderTexture->renderSurface)
            return;
        chain.pushRenderTarget(renderTexture->renderSurface,
                               depthSurfaces[0] ? depthSurfaces[0] : renderTexture->depthSurface);
        {
            D3D::PushedTransform projection(D3DTS_PROJECTION, owner.projection);
            computeScreenRect(owner.view * owner.projection, corners);
            renderBoxMask(owner.view);
            if (borderFlag)
                chain.drawAlphaFrame(edge);
        }
        chain.popRenderTarget();
        return;
    }
    const matrix3d& lens = CubeFaceViews::projection();
    for (int face = 0; face < CubeFaceViews::faceCount; ++face) {
        IDirect3DSurface9* surface = nullptr;
        IDirect3DCubeTexture9* cube = cubeTexture.texture()->cubeTexture;
        if (!cube || FAILED(cube->GetCubeMapSurface(D3DCUBEMAP_FACES(face), 0, &surface)) || !surface)
            continue;
        chain.pushRenderTarget(surface, depthSurfaces[face]);
        {
            D3D::PushedTransform projection(D3DTS_PROJECTION, lens);
            const matrix3d view = CubeFaceViews::view(face, owner.transform.row(3));
            computeScreenRect(view * lens, corners);
            renderBoxMask(view);
            if (borderFlag)
                chain.drawAlphaFrame(edge);
        }
        chain.popRenderTarget();
        surface->Release();
    }
}

int32_t ShadowMap::buildCasterVolume(const vec3d (&corners)[8], float depth, ConvexVolume& out) const
{
    const vec3d position = owner.transform.row(3);
    ConvexVolume::Plane& lightSide = out.planes[0];
    if (kind == 0 && owner.volume.count > 0) {
        lightSide = owner.volume.planes[0];
    } else {
        lightSide.normal = owner.transform.row(2);
        lightSide.point = position;
        lightSide.distance = lightSide.normal.dot(position);
    }

    // Facing the light, depth nearer to it than the box's nearest corner.
    ConvexVolume::Plane& boxSide = out.planes[1];
    boxSide.normal = -lightSide.normal;
    vec3d point = corners[0];
    for (int c = 1; c < 8; ++c)
        if ((point - corners[c]).dot(boxSide.normal) < -0.001f)
            point = corners[c];
    boxSide.point = point + boxSide.normal * depth;
    boxSide.distance = boxSide.normal.dot(boxSide.point);

    // The sides, tight round the box along the projector's up and side axes:
    // parallel planes for a projector without perspective, planes through
    // the light for one with it.
    const vec3d up = owner.transform.row(1), side = owner.transform.row(0);
    const vec3d directions[4] = {up, side, -up, -side};
    const bool parallel = owner.volume.count >= 3 && owner.volume.testPlanes(owner.transform.row(2)) != 0;
    for (int k = 0; k < 4; ++k) {
        const vec3d& d = directions[k];
        const auto normalAt = [&](const vec3d& p) {
            if (!parallel)
                return d.cross(position - p).normalised();
            // The view volume's side plane along this direction.
            vec3d best = d.normalised();
            float closest = -FLT_MAX;
            for (int i = 2; i < owner.volume.count && i < 6; ++i)
                if (const float c = owner.volume.planes[i].normal.dot(d); c > closest) {
                    closest = c;
                    best = owner.volume.planes[i].normal;
                }
            return best;
        };
        point = corners[0];
        vec3d normal = normalAt(point);
        for (int c = 1; c < 8; ++c)
            if ((point - corners[c]).dot(normal) > 0.001f) {
                point = corners[c];
                normal = normalAt(point);
            }
        ConvexVolume::Plane& plane = out.planes[2 + k];
        plane.normal = normal;
        plane.point = point;
        plane.distance = normal.dot(point);
    }
    out.count = 6;
    return boxSide.normal.dot(lightSide.point) - boxSide.distance <= 0.1f ? 0 : 1;
}

void ShadowMap::computeScreenRect(const matrix3d& m, const vec3d (&corners)[8])
{
    float minU = FLT_MAX, minV = FLT_MAX, maxU = -FLT_MAX, maxV = -FLT_MAX;
    for (const vec3d& c : corners) {
        const float w = c.x * m.at(0, 3) + c.y * m.at(1, 3) + c.z * m.at(2, 3) + m.at(3, 3);
        const float x = c.x * m.at(0, 0) + c.y * m.at(1, 0) + c.z * m.at(2, 0) + m.at(3, 0);
        const float y = c.x * m.at(0, 1) + c.y * m.at(1, 1) + c.z * m.at(2, 1) + m.at(3, 1);
        const float u = (x / w + 1.0f) * 0.5f;
        const float v = 1.0f - (y / w + 1.0f) * 0.5f;
        minU = std::min(minU, u);
        maxU = std::max(maxU, u);
        minV = std::min(minV, v);
        maxV = std::max(maxV, v);
    }
    const float s = float(size);
    screenRect[0] = {minU * s, minV * s, 0.0f, 1.0f};
    screenRect[1] = {maxU * s, minV * s, 0.0f, 1.0f};
    screenRect[2] = {minU * s, maxV * s, 0.0f, 1.0f};
    screenRect[3] = {maxU * s, maxV * s, 0.0f, 1.0f};
}

void ShadowMap::renderBoxMask(const matrix3d& view)
{
    IDirect3DDevice9* d = gDevice;
    if (!d)
        return;
    D3D::PushedTransform placed(D3DTS_VIEW, view);
    d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    d->SetRenderState(D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_ALPHA);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, 0);
    d->SetFVF(D3DFVF_XYZRHW);
    d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, screenRect, sizeof(ScreenVertex));
    d->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFF000000);
    d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(boxMatrix.m));
    if (boxMesh.vertexBuffer && boxMesh.indexBuffer) {
        boxMesh.bind();
        d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, boxMesh.vertexCount, 0, boxMesh.triangleCount);
        gDirectGraphics.record.primitiveCount += boxMesh.triangleCount;
    }
    d->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
}

void addBoxToMesh(Shaper& mesh, const vec3d& size, const matrix3d& m)
{
    const vec3d h = size * 0.5f;
    const vec3d centre = m.row(3);
    const vec3d rows[3] = {m.row(0) * h.x, m.row(1) * h.y, m.row(2) * h.z};
    int32_t& vertexCount = *mesh.getVertexCount();
    const int32_t base = vertexCount < 0 ? 0 : vertexCount;
    if (base + 24 > 0xFFFF || !mesh.getVertexData(base + 23))
        return;
    // Faces -row1, +row1, -row0, +row0, -row2, +row2; the four corners of
    // each run so that b, b+2, b+1 and b+1, b+2, b+3 turn clockwise seen
    // from outside, the front faces of the device's normal cull mode.
    const int axisOf[6] = {1, 1, 0, 0, 2, 2};
    for (int f = 0; f < 6; ++f) {
        const int k = axisOf[f];
        const bool outward = f % 2 == 1;
        const vec3d normal = outward ? rows[k] : -rows[k];
        const vec3d& a = outward ? rows[(k + 2) % 3] : rows[(k + 1) % 3];
        const vec3d& b = outward ? rows[(k + 1) % 3] : rows[(k + 2) % 3];
        for (int corner = 0; corner < 4; ++corner) {
            const float su = corner & 1 ? 1.0f : -1.0f, sv = corner & 2 ? 1.0f : -1.0f;
            VertexComponents* v = mesh.getVertexData(base + f * 4 + corner);
            *v->position = centre + normal + a * su + b * sv;
            *v->normal = normal.normalised();
            *v->uv = {corner & 1 ? 1.0f : 0.0f, corner & 2 ? 1.0f : 0.0f};
        }
        const int32_t first = base + f * 4;
        for (int i : {0, 2, 1, 1, 2, 3})
            mesh.addIndex(uint16_t(first + i));
    }
    vertexCount = base + 24;

    vec3d extent;
    for (int i = 0; i < 3; ++i)
        extent[i] = std::fabs(rows[0][i]) + std::fabs(rows[1][i]) + std::fabs(rows[2][i]);
    BoundingBox& bounds = *mesh.getBounds();
    vec3d minimum = centre - extent, maximum = centre + extent;
    if (!(bounds.minimum == bounds.maximum)) {
        for (int i = 0; i < 3; ++i) {
            minimum[i] = std::min(minimum[i], bounds.minimum[i]);
            maximum[i] = std::max(maximum[i], bounds.maximum[i]);
        }
    }
    bounds.minimum = minimum;
    bounds.maximum = maximum;
    bounds.center = (minimum + maximum) * 0.5f;
}
