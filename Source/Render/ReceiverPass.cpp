#include "Render/ReceiverPass.h"

#include "Render/DirectGraphics.h"
#include "Render/ShadowProj.h"
#include "Render/TextureProj.h"

ReceiverPass::ReceiverPass()
{
    if (!gDevice || !TextureProj::commonSave || !TextureProj::commonApply)
        return;
    TextureProj::commonSave->Capture();
    TextureProj::commonApply->Apply();
    common_ = true;
}

ReceiverPass::~ReceiverPass()
{
    if (common_ && TextureProj::commonSave)
        TextureProj::commonSave->Apply();
}

bool ReceiverPass::begin(TextureProj& projection, const matrix3d& view)
{
    // Without its own blocks a projection would draw with the receiver's
    // blending and texture stages: a second copy of the receiver.
    if (!common_ || projection.disabled || !projection.saveBlock || !projection.applyBlock)
        return false;
    IDirect3DDevice9* d = gDevice;
    // The receiver's own texture stages are not the projection's: only stage
    // 0 draws, its colour and alpha from the projected texture.
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    if (projection.isLight())
        projection.applyForView(view);
    else
        projection.apply();
    if (const ShadowProj* shadow = dynamic_cast<const ShadowProj*>(&projection)) {
        shadow->map.bindTexture();
        d->SetRenderState(D3DRS_TEXTUREFACTOR, uint32_t(shadow->opacity) << 24);
    }
    return true;
}

void ReceiverPass::end(TextureProj& projection)
{
    if (projection.saveBlock)
        projection.saveBlock->Apply();
}
