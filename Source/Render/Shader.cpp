#include "Render/Shader.h"

#include "Render/DirectGraphics.h"

Shader::Shader()
{
    material.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Ambient = {0.6f, 0.6f, 0.6f, 1.0f};
    material.Specular = {1.0f, 1.0f, 1.0f, 1.0f};
}

void Shader::releaseTextures()
{
    for (TextureRef& t : textures)
        t.release();
}

void Shader::applyStateBlocks()
{
    if (!saveBlock || !applyBlock)
        return;
    saveBlock->Capture();
    applyBlock->Apply();
}

void Shader::releaseStateBlocks()
{
    D3D::releaseInterface(saveBlock);
    D3D::releaseInterface(applyBlock);
}

void Shader::setCullMode() const
{
    if (!gDevice)
        return;
    const D3D::Device& record = gDirectGraphics.record;
    if (cullMode == cullNone)
        gDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    else if (cullMode == cullBack)
        gDevice->SetRenderState(D3DRS_CULLMODE, record.backCull);
    else if (cullMode == cullFront)
        gDevice->SetRenderState(D3DRS_CULLMODE, record.frontCull);
}

void Shader::setTextureTransforms() const
{
    if (!gDevice)
        return;
    for (int s = 0; s < stages; ++s)
        if (transformFlags[s]) {
            gDevice->SetTextureStageState(DWORD(s), D3DTSS_TEXTURETRANSFORMFLAGS, transformFlags[s]);
            gDevice->SetTransform(D3DTRANSFORMSTATETYPE(D3DTS_TEXTURE0 + s),
                                  reinterpret_cast<const D3DMATRIX*>(textureTransforms[s].m));
        }
}
