#include "Menu/Panel.h"

#include "Menu/UserInterface.h"
#include "Render/DirectGraphics.h"
#include "Render/TextureDevice.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"

#include <algorithm>
#include <cstring>

namespace UserInterface {

namespace {

float clamp01(float v)
{
    return std::clamp(v, 0.0f, 1.0f);
}

// The alpha of the texel at address in format: 0 for a transparent one, 1
// for anything else; -1 for a format whose alpha the hit test does not read.
int texelAlpha(const uint8_t* texel, D3DFORMAT format)
{
    switch (format) {
    case D3DFMT_A8R8G8B8:
        return texel[3] != 0;
    case D3DFMT_A4R4G4B4:
        return (texel[1] & 0xF0) != 0;
    case D3DFMT_A1R5G5B5:
        return (texel[1] & 0x80) != 0;
    default:
        return -1;
    }
}

}

Panel::Shader::Shader()
{
    addressU[0] = D3DTADDRESS_CLAMP;
    addressV[0] = D3DTADDRESS_CLAMP;
}

void Panel::Shader::begin(Color colour)
{
    IDirect3DDevice9* d = gDevice;
    if (!d)
        return;
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, alphaBlend ? TRUE : FALSE);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, filter);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, filter);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, addressU[0]);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, addressV[0]);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, colour.argb());
    if (textures[0].isBound()) {
        TextureDevice::bindTexture(0, textures[0].texture());
    } else {
        // Without a texture the stage's texture argument is undefined (some
        // drivers pass the diffuse colour through): the colour alone.
        d->SetTexture(0, nullptr);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
    }
}

void Panel::Shader::end()
{
    IDirect3DDevice9* d = gDevice;
    if (!d)
        return;
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
}

Panel::Panel(D3D::Device::SwapChain* ownerChain, int32_t newLayer, float target, float speed)
    : Widget(ownerChain, target, speed)
{
    readTextureSize();
    addChild(newLayer);
}

Panel::~Panel()
{
    ownShader.releaseTextures();
}

void Panel::setTexture(const TextureRef& texture)
{
    shader->textures[0] = texture;
    readTextureSize();
}

void Panel::readTextureSize()
{
    D3DSURFACE_DESC desc{};
    const TextureRef& ref = shader->textures[0];
    if (ref.isBound() && TextureDevice::levelDesc(ref.texture(), 0, desc)) {
        textureWidth = float(desc.Width);
        textureHeight = float(desc.Height);
    } else {
        textureWidth = 0.0f;
        textureHeight = 0.0f;
    }
}

Panel::Placement Panel::place()
{
    Placement p{};
    const float fu = 1.0f - clamp01(cropLeft + cropRight);
    const float fv = 1.0f - clamp01(cropTop + cropBottom);
    const float w = textureWidth * fu;
    const float h = textureHeight * fv;
    // Edges at pixel boundaries (n - 0.5): the rectangle covers whole pixels
    // and its texels map onto them one to one.
    p.left = roundHalfDown(float(x) - anchorX * w) - 0.5f;
    p.top = roundHalfDown(float(y) - anchorY * h) - 0.5f;
    p.right = roundHalfDown(p.left + w) + 0.5f;
    p.bottom = roundHalfDown(p.top + h) + 0.5f;

    textureLeft = int32_t(float(x) - textureWidth * anchorX);
    textureTop = int32_t(float(y) - textureHeight * anchorY);
    drawLeft = int32_t(p.left);
    drawTop = int32_t(p.top);
    rect = {int32_t(p.left + 0.5f), int32_t(p.top + 0.5f), int32_t(p.right + 0.5f), int32_t(p.bottom + 0.5f)};

    // The visible part's centre and half extents, moved and turned by the
    // slot's texture matrix (its 2 x 2 part and the third row's move).
    const float* m = shader->textureTransforms[0].m;
    const float cu = (1.0f - cropRight + cropLeft) * 0.5f;
    const float cv = (1.0f - cropBottom + cropTop) * 0.5f;
    const float hu = cu - cropLeft;
    const float hv = cv - cropTop;
    const float centreU = cu + m[8], centreV = cv + m[9];
    const float uu = m[0] * hu, uv = m[1] * hu;
    const float vu = m[4] * hv, vv = m[5] * hv;
    const float su[4] = {-1.0f, 1.0f, 1.0f, -1.0f};
    const float sv[4] = {-1.0f, -1.0f, 1.0f, 1.0f};
    for (int i = 0; i < 4; ++i) {
        p.u[i] = centreU + su[i] * uu + sv[i] * vu;
        p.v[i] = centreV + su[i] * uv + sv[i] * vv;
    }
    return p;
}

void Panel::draw()
{
    CRASH_TRACE();
    Widget::draw();
    if (attachedTo)
        followAttached(*attachedTo, savedX, savedY);
    const Placement p = place();
    if (IDirect3DDevice9* d = gDevice) {
        const Vertex quad[4] = {{p.left, p.top, 0.0f, 1.0f, p.u[0], p.v[0]},
                                {p.right, p.top, 0.0f, 1.0f, p.u[1], p.v[1]},
                                {p.right, p.bottom, 0.0f, 1.0f, p.u[2], p.v[2]},
                                {p.left, p.bottom, 0.0f, 1.0f, p.u[3], p.v[3]}};
        d->SetFVF(Vertex::format);
        shader->begin(colour);
        d->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, sizeof(Vertex));
        gDirectGraphics.record.primitiveCount += 2;
        shader->end();
    }
    if (attachedTo)
        leaveAttached(savedX, savedY);
    const Color white{255, 255, 255, 255};
    if (outline)
        drawRectOutline(p.left, p.top, p.right, p.bottom, 0.0f, white);
    if (showAnchor)
        drawCross(roundHalfDown(float(x)) - 0.5f, roundHalfDown(float(y)) - 0.5f, 10.0f, white);
}

uint32_t Panel::isPointerOutside()
{
    return root ? 1 - hitTest(root->pointerX, root->pointerY) : 1;
}

uint32_t Panel::hitTest(int32_t px, int32_t py)
{
    if (px < rect.left || px > rect.right || py < rect.top || py > rect.bottom)
        return 0;
    const TextureRef& ref = shader->textures[0];
    IDirect3DTexture9* texture = ref.isBound() ? ref.texture()->texture : nullptr;
    D3DSURFACE_DESC desc{};
    if (!texture || FAILED(texture->GetLevelDesc(0, &desc)) || desc.Width == 0 || desc.Height == 0)
        return 1;
    const uint32_t size = TextureDevice::bytesPerTexel(desc.Format);
    // Only formats with an alpha the test can read; a compressed texture
    // or one without alpha counts every point as a hit.
    const uint8_t probe[4] = {};
    if (size == 0 || texelAlpha(probe, desc.Format) < 0)
        return 1;
    // Default-pool textures (render targets) cannot be locked.
    TextureDevice::LevelLock lock(texture, 0, D3DLOCK_READONLY);
    if (!lock.ok())
        return 1;
    const int32_t tx = std::clamp(px - textureLeft, 0, int32_t(desc.Width) - 1);
    const int32_t ty = std::clamp(py - textureTop, 0, int32_t(desc.Height) - 1);
    return texelAlpha(lock.row(uint32_t(ty)) + size_t(tx) * size, desc.Format) == 0 ? 0 : 1;
}

}
