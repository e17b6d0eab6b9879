#include "Render/ShadowProj.h"

#include "Render/Camera.h"

ShadowProj::ShadowProj(float blur) : TextureProj(this), map(*this, mapSize, blur, 1, 1, 0.08f, 3.0f)
{
    shadowMap = &map;
    kind = 1;
    createStateBlocks();
}

void ShadowProj::update()
{
    if (!disabled && gCamera)
        computeShadowMatrices(transform, gCamera->view, 1.1f / float(mapSize));
}

void ShadowProj::setShaderStates()
{
    IDirect3DDevice9* d = gDevice;
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_CURRENT);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE | D3DTA_COMPLEMENT);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
}
