#include "Entity/SpriteManager.h"

#include "Render/Camera.h"
#include "Render/DirectGraphics.h"
#include "Render/TextureDevice.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"

#include <algorithm>
#include <bit>
#include <iterator>
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

// The states the default render-state sets write, as the sprite pass last
// set them. Sprites one after another mostly restore a state only for the
// next one to set it again; while the pass runs, a set that would write the
// value the state already holds is left out. Outside the pass every set
// goes to the device. Main thread only.
class PassStates
{
public:
    void begin()
    {
        forget();
        active_ = true;
    }
    void end() { active_ = false; }
    // After anything that may set states behind the filter's back.
    void forget()
    {
        std::fill(std::begin(renderKnown_), std::end(renderKnown_), false);
        std::fill(&stageKnown_[0][0], &stageKnown_[0][0] + stages * stageTypes, false);
        biasKnown_ = false;
    }

    void render(D3DRENDERSTATETYPE state, DWORD value)
    {
        if (active_ && DWORD(state) < renderTypes) {
            if (renderKnown_[state] && renderValue_[state] == value)
                return;
            renderKnown_[state] = true;
            renderValue_[state] = value;
        }
        gDevice->SetRenderState(state, value);
    }

    void stage(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value)
    {
        if (active_ && stage < stages && DWORD(type) < stageTypes) {
            if (stageKnown_[stage][type] && stageValue_[stage][type] == value)
                return;
            stageKnown_[stage][type] = true;
            stageValue_[stage][type] = value;
        }
        gDevice->SetTextureStageState(stage, type, value);
    }

    // Sampler 0's mipmap bias.
    void mipBias(float bias)
    {
        const DWORD value = std::bit_cast<DWORD>(bias);
        if (active_) {
            if (biasKnown_ && biasValue_ == value)
                return;
            biasKnown_ = true;
            biasValue_ = value;
        }
        gDevice->SetSamplerState(0, D3DSAMP_MIPMAPLODBIAS, value);
    }

private:
    static constexpr DWORD renderTypes = 256;
    static constexpr DWORD stages = 2;
    static constexpr DWORD stageTypes = 33;

    bool active_ = false;
    bool renderKnown_[renderTypes] = {};
    DWORD renderValue_[renderTypes] = {};
    bool stageKnown_[stages][stageTypes] = {};
    DWORD stageValue_[stages][stageTypes] = {};
    bool biasKnown_ = false;
    DWORD biasValue_ = 0;
};

PassStates passStates;

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
    PassStates& d = passStates;
    if (!keepFog && cameraFog())
        d.render(D3DRS_FOGENABLE, FALSE);
    d.render(D3DRS_ALPHABLENDENABLE, alphaBlending ? TRUE : FALSE);
    d.render(D3DRS_ZENABLE, depthTest ? TRUE : FALSE);
    d.render(D3DRS_ZWRITEENABLE, depthWrite ? TRUE : FALSE);
    d.render(D3DRS_ALPHATESTENABLE, alphaTest ? TRUE : FALSE);
    d.render(D3DRS_CULLMODE, twoSided ? DWORD(D3DCULL_NONE) : gDirectGraphics.record.frontCull);
    d.render(D3DRS_ALPHAREF, alphaReference);
    d.render(D3DRS_SRCBLEND, sourceBlend);
    d.render(D3DRS_DESTBLEND, destinationBlend);
    d.mipBias(cameraMipBias() + mipBias);
    d.render(D3DRS_TEXTUREFACTOR, textureFactor.argb());
    d.stage(1, D3DTSS_COLOROP, stage1Operation);
    d.stage(1, D3DTSS_ALPHAOP, stage1Operation);
    d.stage(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
    d.stage(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
    d.stage(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
}

void SpriteManager::Rendersettings::restore()
{
    PassStates& d = passStates;
    d.render(D3DRS_CULLMODE, gDirectGraphics.record.frontCull);
    d.render(D3DRS_ALPHABLENDENABLE, FALSE);
    d.render(D3DRS_ALPHATESTENABLE, FALSE);
    d.render(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d.render(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d.render(D3DRS_ZENABLE, TRUE);
    d.render(D3DRS_ZWRITEENABLE, TRUE);
    d.mipBias(cameraMipBias());
    d.stage(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d.stage(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    if (cameraFog())
        d.render(D3DRS_FOGENABLE, TRUE);
    d.stage(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    d.stage(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    d.stage(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
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
    if (settings) {
        settings->restore();
        // Another kind of set may have changed any state.
        if (!dynamic_cast<Rendersettings*>(settings))
            passStates.forget();
    }
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
    passStates.begin();
    for (auto* n = sprites.head(); n; n = n->next) {
        Sprite* sprite = n->item;
        if (sprite && !sprite->hidden && !(mirrored && sprite->hiddenInReflections))
            sprite->draw();
    }
    passStates.end();
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
