// The device's glow: the client's effect scene, blurred, and its bright
// excess added over the finished frame.
#include "Render/D3DDevice.h"

#include "Render/GpuSmooth.h"
#include "Render/RenderTexture.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"

namespace D3D {

void Device::renderPostEffect(SwapChain& chain, PostEffect& postEffect, SwapChainInterface* client)
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    RenderTexture* target = postEffect.target;
    GpuSmooth* smoother = postEffect.smoother;
    if (!d || !client || !target || !target->renderSurface || !smoother || !smoother->ready())
        return;
    const uint32_t width = chain.topTarget().width;
    const uint32_t height = chain.topTarget().height;
    chain.pushRenderTarget(target->renderSurface, target->depthSurface);
    client->renderEffectScene();
    chain.popRenderTarget();

    smoother->run(target->renderTexture, 0, false, false);
    smoother->bindResult();

    // Stage 1 takes the threshold 255 - strength off every channel of the
    // blurred scene; what is left is added with the weight alpha / 255.
    const bool fog = gCamera && gCamera->fogEnabled;
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_SUBTRACT);
    d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
    d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TFACTOR);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    d->SetRenderState(D3DRS_ZENABLE, FALSE);
    d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    if (fog)
        d->SetRenderState(D3DRS_FOGENABLE, FALSE);
    const uint32_t threshold = (255 - (postEffect.strength & 0xFF)) & 0xFF;
    d->SetRenderState(D3DRS_TEXTUREFACTOR,
                      (postEffect.alpha & 0xFF) << 24 | threshold << 16 | threshold << 8 | threshold);

    drawScreenRect(int(width), int(height), target->width, target->height, 0.0f);

    if (fog)
        d->SetRenderState(D3DRS_FOGENABLE, TRUE);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    d->SetRenderState(D3DRS_ZENABLE, TRUE);
    d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    d->SetTexture(0, nullptr);
}

}
