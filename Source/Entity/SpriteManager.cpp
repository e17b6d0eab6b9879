#include "Entity/SpriteManager.h"

#include "Render/Camera.h"
#include "Render/DirectGraphics.h"
#include "Render/TextureDevice.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"

#include <bit>
#include <new>

IDirect3DVertexBuffer9* SpriteManager::quad_ = nullptr;

namespace {

// A turn of the texture coordinates by angle degrees about their middle
// (0.5, 0.5); two-coordinate transforms take their move from row 2.
matrix3d textureTurn(float angle)
{
    matrix3d m = matrix3d::identity();
    if (angle == 0.0f)
        return m;
    const float radians = angle * 0.017453292f;
    const float c = floatCos(radians), s = floatSin(radians);
    m.at(0, 0) = c;
    m.at(0, 1) = s;
    m.at(1, 0) = -s;
    m.at(1, 1) = c;
    m.at(2, 0) = 0.5f - 0.5f * c + 0.5f * s;
    m.at(2, 1) = 0.5f - 0.5f * s - 0.5f * c;
    return m;
}

bool cameraFog()
{
    return gCamera && gCamera->fogEnabled;
}

float cameraMipBias()
{
    return gCamera ? gCamera->mipBias : 0.0f;
}

}

void SpriteManager::Rendersettings::apply()
{
    IDirect3DDevice9* d = gDevice;
    if (!keepFog && cameraFog())
        d->SetRenderState(D3DRS_FOGENABLE, FALSE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, alphaBlending ? TRUE : FALSE);
    d->SetRenderState(D3DRS_ZENABLE, depthTest ? TRUE : FALSE);
    d->SetRenderState(D3DRS_ZWRITEENABLE, depthWrite ? TRUE : FALSE);
    d->SetRenderState(D3DRS_ALPHATESTENABLE, alphaTest ? TRUE : FALSE);
    d->SetRenderState(D3DRS_CULLMODE, twoSided ? DWORD(D3DCULL_NONE) : gDirectGraphics.record.frontCull);
    d->SetRenderState(D3DRS_ALPHAREF, alphaReference);
    d->SetRenderState(D3DRS_SRCBLEND, sourceBlend);
    d->SetRenderState(D3DRS_DESTBLEND, destinationBlend);
    d->SetSamplerState(0, D3DSAMP_MIPMAPLODBIAS, std::bit_cast<DWORD>(cameraMipBias() + mipBias));
    d->SetRenderState(D3DRS_TEXTUREFACTOR, textureFactor.argb());
    d->SetTextureStageState(1, D3DTSS_COLOROP, stage1Operation);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, stage1Operation);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
}

void SpriteManager::Rendersettings::restore()
{
    IDirect3DDevice9* d = gDevice;
    d->SetRenderState(D3DRS_CULLMODE, gDirectGraphics.record.frontCull);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d->SetRenderState(D3DRS_ZENABLE, TRUE);
    d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    d->SetSamplerState(0, D3DSAMP_MIPMAPLODBIAS, std::bit_cast<DWORD>(cameraMipBias()));
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    if (cameraFog())
        d->SetRenderState(D3DRS_FOGENABLE, TRUE);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
}

SpriteManager::Sprite::~Sprite()
{
    if (settings && settings->ownedBySprite())
        delete settings;
    settings = nullptr;
    if (node && node->owner)
        node->owner->unlink(node);
    node = nullptr;
    textures[1].release();
    textures[0].release();
}

void SpriteManager::Sprite::renderSingle()
{
    if (!gDevice || !quad_)
        return;
    setPassStates();
    draw();
    resetPassStates();
}

void SpriteManager::Sprite::draw()
{
    IDirect3DDevice9* d = gDevice;
    d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(world.m));
    for (DWORD stage = 0; stage < 2; ++stage)
        if (textures[stage].isBound())
            TextureDevice::bindTexture(stage, textures[stage].texture());
    if (settings)
        settings->apply();
    for (int stage = 0; stage < 2; ++stage) {
        const matrix3d turn = textureTurn(textureRotation[stage]);
        d->SetTransform(D3DTRANSFORMSTATETYPE(D3DTS_TEXTURE0 + stage), reinterpret_cast<const D3DMATRIX*>(turn.m));
    }
    d->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    gDirectGraphics.record.primitiveCount += 2;
    if (settings)
        settings->restore();
}

SpriteManager::~SpriteManager()
{
    sprites.clearWith([](Sprite* sprite) { sprite->node = nullptr; });
}

bool SpriteManager::createSprite(Sprite& sprite, D3D::Device::SwapChain& chain, Shader* settings,
                                 const String& textureName, uint32_t mipLevels)
{
    CRASH_TRACE();
    sprite.settings = settings ? settings : new (std::nothrow) Rendersettings;
    if (chain.sprites && !sprite.node)
        sprite.node = chain.sprites->sprites.append(&sprite);
    if (textureName.length() == 0)
        return true;
    return Texture::createFromFileByName(sprite.textures[0], textureName, nullptr, mipLevels, D3DFMT_UNKNOWN,
                                         D3DPOOL_MANAGED, 0, 0, false);
}

void SpriteManager::render()
{
    CRASH_TRACE();
    if (!gDevice || !quad_ || sprites.count() == 0)
        return;
    const bool mirrored = gDirectGraphics.record.mirrored != 0;
    setPassStates();
    for (auto* n = sprites.head(); n; n = n->next) {
        Sprite* sprite = n->item;
        if (sprite && !sprite->hidden && !(mirrored && sprite->hiddenInReflections))
            sprite->draw();
    }
    resetPassStates();
}

void SpriteManager::setPassStates()
{
    IDirect3DDevice9* d = gDevice;
    d->SetFVF(Vertex::format);
    d->SetStreamSource(0, quad_, 0, sizeof(Vertex));
    for (DWORD stage = 0; stage < 2; ++stage) {
        d->SetTextureStageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
        d->SetSamplerState(stage, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        d->SetSamplerState(stage, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    }
    d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
    // The sprites leave the target's alpha alone.
    d->SetRenderState(D3DRS_COLORWRITEENABLE,
                      D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_GREEN | D3DCOLORWRITEENABLE_BLUE);
}

void SpriteManager::resetPassStates()
{
    IDirect3DDevice9* d = gDevice;
    for (DWORD stage = 0; stage < 2; ++stage) {
        d->SetTextureStageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
        d->SetSamplerState(stage, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
        d->SetSamplerState(stage, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    }
    d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
    d->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
}

bool SpriteManager::createQuadBuffer()
{
    CRASH_TRACE();
    if (quad_)
        return true;
    if (!gDevice || FAILED(gDevice->CreateVertexBuffer(4 * sizeof(Vertex), D3DUSAGE_WRITEONLY, Vertex::format,
                                                       D3DPOOL_MANAGED, &quad_, nullptr))) {
        quad_ = nullptr;
        return false;
    }
    void* bits = nullptr;
    if (FAILED(quad_->Lock(0, 0, &bits, 0))) {
        D3D::releaseInterface(quad_);
        return false;
    }
    const Vertex corners[4] = {
        {{-0.5f, 0.5f, 0.0f}, 0.0f, 0.0f},
        {{0.5f, 0.5f, 0.0f}, 1.0f, 0.0f},
        {{-0.5f, -0.5f, 0.0f}, 0.0f, 1.0f},
        {{0.5f, -0.5f, 0.0f}, 1.0f, 1.0f},
    };
    std::memcpy(bits, corners, sizeof(corners));
    quad_->Unlock();
    return true;
}

void SpriteManager::releaseQuadBuffer()
{
    D3D::releaseInterface(quad_);
}
