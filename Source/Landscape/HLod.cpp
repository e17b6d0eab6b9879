// The far field's panels and targets: their making and release around
// device resets, and the frame's draw of the panels that hold a picture.
#include "Landscape/HLod.h"

#include "Landscape/Terrain.h"

#include "Render/BufferPool.h"
#include "Render/DirectGraphics.h"
#include "Render/SwapChain.h"
#include "Render/TextureDevice.h"

#include "Core/CrashTrace.h"

HLod::HLod(D3D::Device::SwapChain* chain) : owner(chain), terrain(&gTerrain) {}

HLod::~HLod()
{
    releaseTarget();
    for (TargetRecord& record : targets)
        resetEntries(record);
}

void HLod::restore(float d)
{
    CRASH_TRACE();
    releaseTarget();
    distance = d;
    // Four faces of a cube of half size d; seen from its centre along a
    // panel's direction, u runs left to right and v top to bottom.
    const PanelVertex vertices[16] = {
        {d, -d, d, 1, 1},   {-d, -d, d, 0, 1},  {-d, d, d, 0, 0},  {d, d, d, 1, 0},   // +z
        {-d, -d, -d, 1, 1}, {d, -d, -d, 0, 1},  {d, d, -d, 0, 0},  {-d, d, -d, 1, 0}, // -z
        {-d, -d, d, 1, 1},  {-d, -d, -d, 0, 1}, {-d, d, -d, 0, 0}, {-d, d, d, 1, 0},  // -x
        {d, -d, -d, 1, 1},  {d, -d, d, 0, 1},   {d, d, d, 0, 0},   {d, d, -d, 1, 0},  // +x
    };
    uint16_t indices[24];
    for (uint16_t p = 0; p < 4; ++p) {
        const uint16_t triangles[6] = {uint16_t(4 * p), uint16_t(4 * p + 1), uint16_t(4 * p + 2),
                                       uint16_t(4 * p + 3), uint16_t(4 * p), uint16_t(4 * p + 2)};
        for (int k = 0; k < 6; ++k)
            indices[6 * p + k] = triangles[k];
    }
    vertexCount = 16;
    triangleCount = 8;
    vertexBuffer = createVertexBufferFrom(vertices, 16, sizeof(PanelVertex), PanelVertex::format);
    indexBuffer = createIndexBufferFrom(indices, 24);
    for (TargetRecord& record : targets)
        createTarget(record);
}

void HLod::createTarget(TargetRecord& record)
{
    CRASH_TRACE();
    if (record.texture.isBound() || !gDevice)
        return;
    if (!Texture::create(record.texture, String(L"HLODRT"), pictureWidth, pictureHeight, 1, D3DUSAGE_RENDERTARGET,
                         D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT))
        return;
    // A target without its surfaces draws no picture: the panel stays empty.
    if (FAILED(record.texture.texture()->texture->GetSurfaceLevel(0, &record.surface)) ||
        FAILED(gDevice->CreateDepthStencilSurface(pictureWidth, pictureHeight, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, 0,
                                                  FALSE, &record.depth, nullptr))) {
        record.depth = nullptr;
        resetEntries(record);
    }
}

void HLod::resetEntries(TargetRecord& record)
{
    if (record.texture.isBound())
        TextureDevice::abandonRecord(record.texture.texture());
    D3D::releaseInterface(record.surface);
    D3D::releaseInterface(record.depth);
}

void HLod::releaseTarget()
{
    for (TargetRecord& record : targets)
        resetEntries(record);
    D3D::releaseInterface(indexBuffer);
    D3D::releaseInterface(vertexBuffer);
}

void HLod::panelBox(int panel, BoundingBox& box) const
{
    static constexpr float directions[panelCount][3] = {{0, 0, 1}, {0, 0, -1}, {-1, 0, 0}, {1, 0, 0}};
    const float d = distance;
    const vec3d centre = owner->position + vec3d{directions[panel][0], 0.0f, directions[panel][2]} * d;
    const vec3d half = panel < 2 ? vec3d{d, heightScale * d, 0.0f} : vec3d{0.0f, heightScale * d, d};
    box.center = centre;
    box.minimum = centre - half;
    box.maximum = centre + half;
}

void HLod::render()
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (!owner || !objects || !d || !vertexBuffer || !indexBuffer)
        return;
    d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(world.m));
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    const bool fog = owner->fogEnabled != 0;
    if (fog)
        d->SetRenderState(D3DRS_FOGENABLE, FALSE);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetFVF(PanelVertex::format);
    d->SetStreamSource(0, vertexBuffer, 0, sizeof(PanelVertex));
    d->SetIndices(indexBuffer);
    d->SetTexture(1, nullptr);
    d->SetTexture(2, nullptr);

    for (int p = 0; p < panelCount; ++p) {
        const TargetRecord* record = slots[p];
        // A target the device could not make holds no picture.
        if (!record || !record->surface)
            continue;
        BoundingBox box;
        panelBox(p, box);
        if (owner->frustum.classifyBox(box) == ConvexVolume::outside)
            continue;
        TextureDevice::bindTexture(0, record->texture.texture());
        d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, UINT(vertexCount), UINT(6 * p), 2);
        gDirectGraphics.record.primitiveCount += 2;
    }

    if (fog)
        d->SetRenderState(D3DRS_FOGENABLE, TRUE);
    d->SetRenderState(D3DRS_LIGHTING, TRUE);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTexture(0, nullptr);
    const matrix3d identity = matrix3d::identity();
    d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(identity.m));
}
