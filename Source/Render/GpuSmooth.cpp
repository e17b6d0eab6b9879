#include "Render/GpuSmooth.h"

#include "Render/DirectGraphics.h"
#include "Render/RenderTexture.h"
#include "Render/SwapChain.h"
#include "Render/TextureDevice.h"

#include "Core/ArrayStack.h"
#include "Core/CrashTrace.h"

#include <cmath>
#include <new>

namespace {

// A corner of one tap's quad: screen position, the tap's weight as diffuse
// alpha, texture coordinates shifted by the tap's offset.
struct PassVertex
{
    float x, y, z, rhw;
    uint32_t diffuse;
    float u, v;
};
static_assert(sizeof(PassVertex) == 28);
constexpr DWORD passFormat = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

D3D::Device::SwapChain* currentChain()
{
    return gDirectGraphics.record.currentSwapChain;
}

}

GpuSmooth::GpuSmooth(uint32_t targetFormat) : format(targetFormat)
{
    kernel.build(0.0f);
}

uint32_t GpuSmooth::tapBytes(const GaussKernel& source, uint8_t* taps)
{
    uint32_t count = 0;
    const int32_t n = source.halfWidth < 0 ? 0 : source.halfWidth;
    for (int32_t i = 0; i <= 2 * n && count < maxTaps; ++i) {
        // Nearest byte, a fraction of exactly one half rounding down.
        const float scaled = source.weights[i] * 255.0f;
        const float byte = std::ceil(scaled - 0.5f);
        if (byte >= 1.0f)
            taps[count++] = uint8_t(byte > 255.0f ? 255.0f : byte);
    }
    if (count == 0)
        taps[count++] = 255;
    return count;
}

bool GpuSmooth::create(vec2d size, uint32_t newMode, uint32_t newBlendMode, float radius, int32_t keyA, int32_t keyB)
{
    CRASH_TRACE();
    releasePasses();
    kernel.build(radius);
    uint8_t taps[maxTaps];
    const uint32_t tapCount = tapBytes(kernel, taps);

    mode = newMode;
    blendMode = newBlendMode;
    width = size.x;
    height = size.y;
    if (format == D3DFMT_A16B16G16R16F && !gDirectGraphics.floatTargetBlend)
        format = D3DFMT_A8R8G8B8;

    const int32_t w = int32_t(width), h = int32_t(height);
    first = RenderTexture::acquire(RenderTexture::shared, w, h, false, false, keyB, format);
    second = nullptr;
    if (mode == 0) {
        second = RenderTexture::acquire(RenderTexture::shared, w, h, false, false, keyA, format);
    } else if (mode == 1) {
        String name;
        name.format(L"CubeSmoothMap%i", w);
        if (!Texture::findByName(cubeTexture, name))
            Texture::createCube(cubeTexture, name, uint32_t(w), 1, D3DUSAGE_RENDERTARGET, format, D3DPOOL_DEFAULT);
    }
    return buildBuffers(taps, tapCount) && first && ready();
}

bool GpuSmooth::buildBuffers(const uint8_t* taps, uint32_t tapCount)
{
    CRASH_TRACE();
    if (!gDevice)
        return false;
    const uint32_t vertexCount = tapCount * 8;
    if (FAILED(gDevice->CreateVertexBuffer(vertexCount * sizeof(PassVertex), D3DUSAGE_WRITEONLY, passFormat,
                                           D3DPOOL_MANAGED, &vertexBuffer, nullptr))) {
        vertexBuffer = nullptr;
        return false;
    }
    void* bits = nullptr;
    if (FAILED(vertexBuffer->Lock(0, 0, &bits, 0))) {
        releasePasses();
        return false;
    }
    auto* out = static_cast<PassVertex*>(bits);
    const int32_t half = int32_t(tapCount - 1) / 2;
    for (uint32_t direction = 0; direction < 2; ++direction)
        for (uint32_t k = 0; k < tapCount; ++k) {
            const float shift = float(int32_t(k) - half);
            const float du = direction == 0 ? shift / width : 0.0f;
            const float dv = direction == 0 ? 0.0f : shift / height;
            const uint32_t diffuse = uint32_t(taps[k]) << 24;
            // Half a pixel up and left, so that every pixel centre samples a
            // texel centre: on texel edges point sampling picks either side
            // and the copies tear along the quad's diagonal.
            const float left = -0.5f, top = -0.5f, right = width - 0.5f, bottom = height - 0.5f;
            *out++ = {left, top, 1.0f, 1.0f, diffuse, du, dv};
            *out++ = {right, top, 1.0f, 1.0f, diffuse, du + 1.0f, dv};
            *out++ = {left, bottom, 1.0f, 1.0f, diffuse, du, dv + 1.0f};
            *out++ = {right, bottom, 1.0f, 1.0f, diffuse, du + 1.0f, dv + 1.0f};
        }
    vertexBuffer->Unlock();

    ArrayStack<uint16_t, 6> quad;
    const uint16_t corners[6] = {0, 1, 2, 2, 1, 3};
    for (int i = 0; i < 6; ++i)
        *quad.at(i) = corners[i];
    indexBuffer = createRepeatedIndexBuffer(quad, int(2 * tapCount));
    if (!indexBuffer) {
        releasePasses();
        return false;
    }
    verticesPerDirection = 4 * tapCount;
    indicesPerDirection = 6 * tapCount;
    return true;
}

bool GpuSmooth::ready() const
{
    if (mode == 0)
        return second != nullptr;
    if (mode == 1)
        return cubeTexture.texture()->cubeTexture != nullptr;
    return false;
}

void GpuSmooth::drawPass(uint32_t direction) const
{
    IDirect3DDevice9* d = gDevice;
    const bool fog = gCamera && gCamera->fogEnabled;
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    if (fog)
        d->SetRenderState(D3DRS_FOGENABLE, FALSE);
    d->SetRenderState(D3DRS_ZENABLE, FALSE);
    d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    if (blendMode == 0) {
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
        d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    } else {
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    }
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, filter);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, filter);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);

    d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, INT(direction * verticesPerDirection), 0, verticesPerDirection, 0,
                            verticesPerDirection / 2);

    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_LIGHTING, TRUE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(1, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(1, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetRenderState(D3DRS_ZENABLE, TRUE);
    d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    if (fog)
        d->SetRenderState(D3DRS_FOGENABLE, TRUE);
}

void GpuSmooth::run(const TextureRef& source, uint32_t face, bool fillAlpha, bool border)
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    D3D::Device::SwapChain* chain = currentChain();
    if (!d || !chain || !first || !first->renderSurface || !vertexBuffer || !indexBuffer)
        return;
    d->SetFVF(passFormat);
    d->SetIndices(indexBuffer);
    d->SetStreamSource(0, vertexBuffer, 0, sizeof(PassVertex));
    TextureDevice::bindTexture(0, source.texture());

    IDirect3DSurface9* resultSurface = nullptr;
    bool ownsSurface = false;
    if (mode == 0 && second && second->renderSurface) {
        resultSurface = second->renderSurface;
    } else if (mode == 1 && cubeTexture.texture()->cubeTexture) {
        ownsSurface = SUCCEEDED(cubeTexture.texture()->cubeTexture->GetCubeMapSurface(D3DCUBEMAP_FACES(face), 0,
                                                                                        &resultSurface));
        if (!ownsSurface)
            resultSurface = nullptr;
    }
    if (resultSurface) {
        chain->pushRenderTarget(first->renderSurface, nullptr);
        drawPass(0);
        chain->popRenderTarget();
        TextureDevice::bindTexture(0, first->renderTexture.texture());
        chain->pushRenderTarget(resultSurface, nullptr);
        drawPass(1);
        if (fillAlpha)
            chain->fillAlpha(0.0f);
        if (border)
            chain->drawAlphaFrame({width, height});
        chain->popRenderTarget();
    }
    if (ownsSurface)
        resultSurface->Release();
    d->SetTexture(0, nullptr);
}

const TextureRef* GpuSmooth::getResultTexture() const
{
    if (mode == 0)
        return second ? &second->renderTexture : nullptr;
    if (mode == 1)
        return &cubeTexture;
    return nullptr;
}

void GpuSmooth::bindResult() const
{
    const TextureRef* result = getResultTexture();
    TextureDevice::bindTexture(0, result ? result->texture() : nullptr);
}

void GpuSmooth::copyResultTo(const TextureRef& destination) const
{
    if (const TextureRef* result = getResultTexture())
        Texture::copyRenderTarget(*result, destination);
}

void GpuSmooth::releasePasses()
{
    // Shared targets stay in their list for the next user; a private one
    // (key -1) is found by no one and would stay there for good, one more
    // at every rebuild.
    for (RenderTexture** target : {&first, &second})
        if (*target && (*target)->key == -1) {
            RenderTexture::releaseByKey(RenderTexture::shared, *target);
            *target = nullptr;
        }
    cubeTexture.release();
    D3D::releaseInterface(vertexBuffer);
    D3D::releaseInterface(indexBuffer);
    verticesPerDirection = 0;
    indicesPerDirection = 0;
}

void GpuSmooth::configure(int size, D3D::PostEffect& postEffect, uint32_t strength, uint32_t alpha)
{
    CRASH_TRACE();
    if (size < 1) {
        postEffect.target = nullptr;
        delete postEffect.smoother;
        postEffect.smoother = nullptr;
        return;
    }
    if (!postEffect.target)
        postEffect.target =
            RenderTexture::acquire(RenderTexture::shared, size, size, false, true, 16, D3DFMT_A8R8G8B8);
    if (!postEffect.smoother) {
        postEffect.smoother = new (std::nothrow) GpuSmooth(D3DFMT_A16B16G16R16F);
        if (postEffect.smoother)
            postEffect.smoother->create({float(size), float(size)}, 0, 0, 1.5f, 32, 33);
    }
    postEffect.strength = strength;
    postEffect.alpha = alpha;
}

bool GpuSmooth::createForTarget(RenderTexture*& target, GpuSmooth& smoother, int size)
{
    CRASH_TRACE();
    if (target)
        return true;
    target = RenderTexture::acquire(RenderTexture::shared, size, size, false, true, 36, D3DFMT_A8R8G8B8);
    if (!target)
        return false;
    smoother.create({float(size), float(size)}, 0, 0, 1.5f, -1, -1);
    return true;
}

void GpuSmooth::renderScene(RenderTexture* target, GpuSmooth& smoother, D3D::Device::SwapChain& chain)
{
    CRASH_TRACE();
    if (!target || !target->renderSurface || !gDevice)
        return;
    chain.pushRenderTarget(target->renderSurface, target->depthSurface);
    gDevice->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    chain.render(false);
    chain.popRenderTarget();
    gDevice->BeginScene();
    smoother.run(target->renderTexture, 0, true, false);
    gDevice->EndScene();
}
