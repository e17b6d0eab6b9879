#include "Menu/Mirror.h"

#include "Render/Camera.h"
#include "Render/D3DDevice.h"
#include "Render/DirectGraphics.h"
#include "Render/Light.h"

#include "Core/CrashTrace.h"

#include <d3d9.h>

#include <utility>

namespace {

// Whether the depth buffer in force has stencil bits.
bool hasStencil(IDirect3DDevice9* device)
{
    IDirect3DSurface9* depth = nullptr;
    if (FAILED(device->GetDepthStencilSurface(&depth)) || !depth)
        return false;
    D3DSURFACE_DESC desc{};
    const bool described = SUCCEEDED(depth->GetDesc(&desc));
    depth->Release();
    if (!described)
        return false;
    switch (desc.Format) {
    case D3DFMT_D24S8:
    case D3DFMT_D24X4S4:
    case D3DFMT_D15S1:
    case D3DFMT_D24FS8:
        return true;
    default:
        return false;
    }
}

}

void Mirror::setPlane(const vec3d& n, float d, const vec3d& p)
{
    normal = n;
    distance = d;
    point = p;
    clipNormal = n;
    clipDistance = -d;
    clipPoint = n * clipDistance;
    reflection = reflectionMatrix(n, d);
}

matrix3d Mirror::reflectionMatrix(const vec3d& n, float d)
{
    const float w = -d;
    const vec3d k = n * -2.0f;
    matrix3d r = matrix3d::identity();
    r.m[0] = k.x * n.x + 1.0f;
    r.m[1] = k.y * n.x;
    r.m[2] = k.z * n.x;
    r.m[4] = k.x * n.y;
    r.m[5] = k.y * n.y + 1.0f;
    r.m[6] = k.z * n.y;
    r.m[8] = k.x * n.z;
    r.m[9] = k.y * n.z;
    r.m[10] = k.z * n.z + 1.0f;
    r.m[12] = k.x * w;
    r.m[13] = k.y * w;
    r.m[14] = k.z * w;
    return r;
}

void Mirror::render(IDirect3DDevice9* device)
{
    CRASH_TRACE();
    if (!owner || !device || !hasStencil(device))
        return;
    D3D::Device& record = gDirectGraphics.record;
    const LightRecord light = gSunLight ? *gSunLight : LightRecord{};

    device->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 0);
    // Marking pass: the surface writes 1 into the stencil and nothing else.
    device->SetRenderState(D3DRS_STENCILENABLE, TRUE);
    device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
    device->SetRenderState(D3DRS_STENCILREF, 1);
    device->SetRenderState(D3DRS_STENCILMASK, 0xFFFFFFFF);
    device->SetRenderState(D3DRS_STENCILWRITEMASK, 0xFFFFFFFF);
    device->SetRenderState(D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP);
    device->SetRenderState(D3DRS_STENCILZFAIL, D3DSTENCILOP_KEEP);
    device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_REPLACE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    const matrix3d identity = matrix3d::identity();
    device->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(identity.m));
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
    owner->drawMirrorSurface();

    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
    device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);

    const uint32_t top = record.viewCount > 0 ? record.viewCount - 1 : 0;
    const matrix3d view = record.viewStack[top] ? *record.viewStack[top] : identity;
    reflectedView = reflection * view;
    device->SetTransform(D3DTS_VIEW, reinterpret_cast<const D3DMATRIX*>(reflectedView.m));
    record.pushView(&reflectedView);

    Camera* camera = gCamera;
    if (cullReflected && camera) {
        savedFrustum.copyPlanes(camera->frustum);
        savedFrustum.count = camera->frustum.count;
        camera->frustum.transform(reflection);
    }
    // The mirror image turns the winding round.
    std::swap(record.frontCull, record.backCull);
    record.mirrored = record.mirrored ? 0 : 1;
    device->SetRenderState(D3DRS_CULLMODE, record.frontCull);
    LightRecord reflected = light;
    for (float& c : reflected.specular)
        c = 0.0f;
    reflected.specular[3] = light.specular[3];
    D3D::setDirectionalLight(reflected);

    owner->drawReflection(device);

    std::swap(record.frontCull, record.backCull);
    record.mirrored = record.mirrored ? 0 : 1;
    device->SetRenderState(D3DRS_CULLMODE, record.frontCull);
    if (cullReflected && camera) {
        camera->frustum.copyPlanes(savedFrustum);
        camera->frustum.count = savedFrustum.count;
    }
    record.popView();
    const uint32_t below = record.viewCount > 0 ? record.viewCount - 1 : 0;
    const matrix3d restored = record.viewStack[below] ? *record.viewStack[below] : identity;
    device->SetTransform(D3DTS_VIEW, reinterpret_cast<const D3DMATRIX*>(restored.m));
    D3D::setDirectionalLight(light);
    device->SetRenderState(D3DRS_STENCILENABLE, FALSE);
}
