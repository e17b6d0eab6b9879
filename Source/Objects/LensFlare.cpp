#include "Objects/LensFlare.h"

#include "Objects/DynObject.h"
#include "Objects/PackageFields.h"

#include "Landscape/SceneSun.h"
#include "Render/Camera.h"
#include "Render/DirectGraphics.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"
#include "Core/FileInterface.h"
#include "Core/Timer.h"

#include <d3dx9.h>

#include <algorithm>
#include <cmath>
#include <new>

namespace {

using LensFlare = ObjPkgManager::Functions::LensFlare;

constexpr uint16_t flareTextureId = 106;
constexpr float degreesPerRadian = 57.29578f;
// Below this the world up has (almost) nothing left across the line of
// sight: the flare is seen straight from above or below.
constexpr float leastCrossLengthSq = 1.0e-12f;

// The flare texture: the built-in "Lensflare01", loaded once and shared.
void loadFlareTexture(TextureRef& texture)
{
    if (Texture::findByName(texture, String(L"Lensflare01")))
        return;
    Texture::loadFromResource(texture, String(L"Lensflare01"), String(L"dds"), flareTextureId, D3DX_DEFAULT,
                              D3DX_DEFAULT, nullptr, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT, false);
}

uint8_t scaled(uint8_t channel, float factor)
{
    return uint8_t(std::clamp(std::lround(float(channel) * factor), 0L, 255L));
}

}

void ObjPkgManager::Functions::LensFlare::Flare::place()
{
    const matrix3d turn = matrix3d::fromAngles(angles);
    placement = matrix3d::identity();
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            placement.at(r, c) = turn.at(r, c) * scale[c];
    placement.setRow(3, position);
    box = OrientedBox{};
    for (int r = 0; r < 3; ++r)
        box.axes[r] = placement.row(r);
    box.halfExtents = {0.5f, 0.5f, 0.05f};
    box.center = position;
}

ObjPkgManager::Functions::LensFlare::LensFlare(Record* owner) : record(owner)
{
    loadFlareTexture(flareTexture);
    SceneSun::createTexture(glowTexture);
    if (auto flare = std::unique_ptr<Flare>(new (std::nothrow) Flare(this)))
        flares.push_back(std::move(flare));
}

ObjPkgManager::Functions::LensFlare::~LensFlare()
{
    flareTexture.release();
    glowTexture.release();
}

bool ObjPkgManager::Functions::LensFlare::load(FileInterface& stream)
{
    CRASH_TRACE();
    flares.clear();
    selected = picked = -1;
    uint32_t count = 0;
    const bool whole = PackageFields::readBlock(stream, [&](uint32_t tag) {
        if (tag == 1)
            return stream.readValue(count);
        if (tag != 2)
            return true;
        // Each flare takes at least its end tag: a count past the data is
        // damage, and nothing is allocated for it.
        if (count > maxFlares || !PackageFields::fits(stream, count, 4))
            return false;
        for (uint32_t i = 0; i < count; ++i) {
            auto flare = std::unique_ptr<Flare>(new (std::nothrow) Flare(this));
            if (!flare)
                return false;
            Flare& f = *flare;
            float uniform = f.scale.x;
            const bool read = PackageFields::readBlock(stream, [&](uint32_t field) {
                switch (field) {
                case 1: return PackageFields::readVector(stream, f.position, PackageFields::maxCoordinate);
                case 2: return PackageFields::readVector(stream, f.angles, PackageFields::maxAngle);
                case 3: return PackageFields::readFloat(stream, uniform, PackageFields::maxFactor);
                case 4: return PackageFields::readFloat(stream, f.coneAngle, PackageFields::maxAngle);
                case 5: return stream.readValue(f.colour);
                default: return true;
                }
            });
            f.scale = {uniform, uniform, uniform};
            f.place();
            flares.push_back(std::move(flare));
            if (!read)
                return false;
        }
        return true;
    });
    selected = flares.empty() ? -1 : 0;
    return whole;
}

ObjPkgManager::Functions::LensFlare::Instance* ObjPkgManager::Functions::LensFlare::createInstance(
    D3D::Device::SwapChain* chain, DynObject* owner)
{
    return new (std::nothrow) Instance(this, chain, owner);
}

void ObjPkgManager::Functions::LensFlare::markModified()
{
    // The page's slider and controls follow the selection.
    selectFlare(pickedOrSelected());
    refreshControls();
    modified = 1;
}

ObjPkgManager::Functions::LensFlare::Instance::Instance(LensFlare* lensFlare, D3D::Device::SwapChain* swapChain,
                                                        DynObject* dyn)
    : flareTemplate(lensFlare), chain(swapChain), owner(dyn)
{
}

ObjPkgManager::Functions::LensFlare::Instance::~Instance()
{
    objects.reset();
}

ObjPkgManager::Functions::LensFlare::Instance::Object* ObjPkgManager::Functions::LensFlare::Instance::object(
    int32_t i) const
{
    return i >= 0 && i < builtCount ? &objects[i] : nullptr;
}

void ObjPkgManager::Functions::LensFlare::Instance::rebuild()
{
    objects.reset();
    builtCount = 0;
    const int32_t count = int32_t(flareTemplate->flares.size());
    if (count == 0)
        return;
    objects.reset(new (std::nothrow) Object[count]);
    if (!objects)
        return;
    for (int32_t i = 0; i < count; ++i) {
        Object& o = objects[i];
        o.instance = this;
        o.flare = flareTemplate->flares[size_t(i)].get();
        ++builtCount;
        o.show(true);
    }
}

void ObjPkgManager::Functions::LensFlare::Instance::update()
{
    CRASH_TRACE();
    if (!flareTemplate)
        return;
    if (!followsEntries(objects.get(), builtCount, flareTemplate->flares, &Object::flare))
        rebuild();
    if (builtCount == 0)
        return;
    DynArray<D3D::Device::OccludePos>& points = flareTemplate->occlusion;
    // The points cover every object before the test reads them.
    if (!points.at(builtCount - 1))
        return;
    for (int32_t i = 0; i < builtCount; ++i)
        if (objects[i].flareSprite)
            points.at(i)->position = objects[i].flareSprite->world.row(3);
    if (chain && gFrameCounter.load(std::memory_order_relaxed) % 10 == 0)
        chain->testOcclusion(points, builtCount);
    for (int32_t i = 0; i < builtCount; ++i) {
        Object& o = objects[i];
        if (!points.at(i)->occluded)
            o.fade = 0.0f;
        else if (o.fade == 0.0f)
            o.fade = 0.001f;
    }
}

void ObjPkgManager::Functions::LensFlare::Instance::prepareRender()
{
    const float factor = gFrameFactor.load(std::memory_order_relaxed);
    for (int32_t i = 0; i < builtCount; ++i) {
        Object& o = objects[i];
        if (!o.flareSprite || !o.glowSprite)
            continue;
        if (o.fade > 0.0f)
            o.fade = std::min(o.fade + factor * 0.1f, 1.0f);
        else
            o.fade = 0.0f;
    }
}

void ObjPkgManager::Functions::LensFlare::Instance::beforeRender(const matrix3d& m)
{
    const vec3d eye = chain ? chain->position : vec3d();
    const float k = owner && owner->object ? owner->object->scale : 1.0f;
    for (int32_t i = 0; i < builtCount; ++i) {
        Object& o = objects[i];
        if (!o.flareSprite || !o.glowSprite)
            continue;
        const Flare& flare = *o.flare;
        const vec3d p = m.transformPoint(flare.placement.row(3));
        const vec3d toFlare = p - eye;
        const float distanceSq = toFlare.lengthSq();
        const vec3d d = toFlare.normalised();
        // The world up made square to the line of sight; none seen from
        // straight above or below, and no cone of 0 degrees or less: the
        // flare hides rather than feed its sprites what is no number.
        const vec3d a(-d.x * d.y, 1.0f - d.y * d.y, -d.z * d.y);
        const float aSq = a.lengthSq();
        const float cone = flare.coneAngle;
        if (!(distanceSq > 0.0f) || !std::isfinite(distanceSq) || !(aSq > leastCrossLengthSq) || !(cone > 0.0f)) {
            o.colour = Color();
            o.flareSprite->hidden = 1;
            o.glowSprite->hidden = 1;
            continue;
        }
        const vec3d up = a / std::sqrt(aSq);
        const float size = std::pow(distanceSq, 0.2f) * flare.scale.x * std::sqrt(k);
        matrix3d& world = o.flareSprite->world;
        world = matrix3d::identity();
        world.setRow(0, up.cross(d) * size);
        world.setRow(1, up * size);
        world.setRow(2, d * size);
        world.setRow(3, p);
        const float turn = 10.0f * (toFlare.x + toFlare.y + toFlare.z);
        o.flareSprite->textureRotation[0] = -0.5f * turn;
        o.flareSprite->textureRotation[1] = 1.5f * turn;

        // The forward axis as a unit vector: the placement's rows carry the
        // flare's scale, which would otherwise widen or narrow the cone.
        const vec3d forward = m.transformVector(flare.placement.row(2)).normalised();
        const float c = std::clamp(d.dot(forward), -1.0f, 1.0f);
        const float angle = std::acos(c) * degreesPerRadian;
        const float q = std::clamp((cone - angle) / cone, 0.0f, 1.0f);
        const float b = std::pow(q, 0.22f) * (1.0f - o.fade);
        o.colour = Color(scaled(flare.colour.r, b), scaled(flare.colour.g, b), scaled(flare.colour.b, b),
                         scaled(flare.colour.a, b));

        matrix3d& glow = o.glowSprite->world;
        glow = world;
        for (int r = 0; r < 3; ++r)
            glow.setRow(r, world.row(r) * 2.6f);
        if (auto* settings = dynamic_cast<SpriteManager::Rendersettings*>(o.glowSprite->settings))
            settings->textureFactor = Color(o.colour.r, o.colour.g, o.colour.b, 255);
        const uint32_t hide = b > 0.0f ? 0 : 1;
        o.flareSprite->hidden = hide;
        o.glowSprite->hidden = hide;
    }
}

ObjPkgManager::Functions::LensFlare::Instance::Object::~Object()
{
    show(false);
}

void ObjPkgManager::Functions::LensFlare::Instance::Object::show(bool on)
{
    if (!on) {
        flareSprite.reset();
        glowSprite.reset();
        return;
    }
    if (flareSprite || !instance || !instance->chain || !flare)
        return;
    D3D::Device::SwapChain& chain = *instance->chain;
    const LensFlare& owner = *instance->flareTemplate;
    flareSprite.reset(new (std::nothrow) SpriteManager::Sprite);
    glowSprite.reset(new (std::nothrow) SpriteManager::Sprite);
    if (!flareSprite || !glowSprite) {
        show(false);
        return;
    }
    // No texture by name: each takes the template's own.
    SpriteManager::createSprite(*flareSprite, chain, this, String(L""));
    SpriteManager::createSprite(*glowSprite, chain, nullptr, String(L""));
    // The flare's two layers turn against each other: both stages draw it.
    flareSprite->textures[0] = owner.flareTexture;
    flareSprite->textures[1] = owner.flareTexture;
    glowSprite->textures[0] = owner.glowTexture;
    if (auto* settings = dynamic_cast<SpriteManager::Rendersettings*>(glowSprite->settings)) {
        settings->alphaBlending = 1;
        settings->keepFog = 0;
        settings->depthTest = 0;
        settings->depthWrite = 0;
        settings->sourceBlend = D3DBLEND_SRCALPHA;
        settings->destinationBlend = D3DBLEND_ONE;
    }
    flareSprite->hidden = 1;
    glowSprite->hidden = 1;
}

void ObjPkgManager::Functions::LensFlare::Instance::Object::apply()
{
    IDirect3DDevice9* d = gDevice;
    if (!d)
        return;
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
    d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    d->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(1, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
    d->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
    d->SetTextureStageState(2, D3DTSS_COLORARG1, D3DTA_TFACTOR);
    d->SetTextureStageState(2, D3DTSS_COLORARG2, D3DTA_CURRENT);
    d->SetTextureStageState(2, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    d->SetTextureStageState(2, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(2, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCCOLOR);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    d->SetRenderState(D3DRS_ZENABLE, FALSE);
    d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, colour.argb());
    if (gCamera && gCamera->fogEnabled)
        d->SetRenderState(D3DRS_FOGENABLE, FALSE);
}

void ObjPkgManager::Functions::LensFlare::Instance::Object::restore()
{
    IDirect3DDevice9* d = gDevice;
    if (!d)
        return;
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    for (DWORD stage = 1; stage <= 2; ++stage) {
        d->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_DISABLE);
        d->SetTextureStageState(stage, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(stage, D3DTSS_COLORARG2, D3DTA_CURRENT);
        d->SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        d->SetTextureStageState(stage, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(stage, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
    }
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d->SetRenderState(D3DRS_ZENABLE, TRUE);
    d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    if (gCamera && gCamera->fogEnabled)
        d->SetRenderState(D3DRS_FOGENABLE, TRUE);
}
