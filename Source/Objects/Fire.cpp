#include "Objects/Fire.h"

#include "Objects/DynObject.h"
#include "Objects/PackageFields.h"

#include "Audio/AudioFile.h"
#include "Audio/Sound3D.h"
#include "Render/SwapChain.h"

#include "Core/ConvexVolume.h"
#include "Core/CrashTrace.h"
#include "Core/FileInterface.h"
#include "Core/Timer.h"

#include <d3dx9.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <new>

namespace {

using Fire = ObjPkgManager::Functions::Fire;
using FireObject = Fire::Instance::Object;

constexpr float pi = 3.14159265358979f;
constexpr uint16_t fireTextureId = 107;
// Flicker strength without an owner to take a scale from.
constexpr float ownerlessFlicker = 0.1f;

float randomUnit()
{
    return float(std::rand()) / 32767.0f;
}

// Within 0 to 255; a value that is no number gives 0.
uint8_t byteOf(float value)
{
    return value >= 0.0f ? uint8_t(std::min(value, 255.0f)) : 0;
}

// log2 of a positive, finite x, within a few parts in 10^8: the flame's
// three powers of its age share one, where three library powers cost most of
// the particle pass.
float log2Of(float x)
{
    if (!(x >= 1.17549435e-38f && x <= 3.40282347e+38f))
        return std::log2(x);
    uint32_t bits = std::bit_cast<uint32_t>(x);
    int32_t exponent = int32_t((bits >> 23) & 0xFFu) - 127;
    bits = (bits & 0x007FFFFFu) | 0x3F800000u;
    float m = std::bit_cast<float>(bits); // 1 <= m < 2
    if (m > 1.41421356f) {
        m *= 0.5f;
        ++exponent;
    }
    const float f = (m - 1.0f) / (m + 1.0f);
    const float f2 = f * f;
    const float series = f * (2.0f + f2 * (2.0f / 3.0f + f2 * (2.0f / 5.0f + f2 * (2.0f / 7.0f))));
    return float(exponent) + series * 1.44269504f;
}

// 2 to the y, as closely; 0 below the smallest normal float.
float exp2Of(float y)
{
    if (!(y > -126.0f))
        return y == y ? 0.0f : y;
    if (y > 127.0f)
        return std::exp2(y);
    const int32_t whole = int32_t(y < 0.0f ? y - 0.5f : y + 0.5f);
    const float x = (y - float(whole)) * 0.693147181f; // |x| <= ln 2 / 2
    const float tail = 1.0f / 24.0f + x * (1.0f / 120.0f + x * (1.0f / 720.0f + x * (1.0f / 5040.0f)));
    const float e = 1.0f + x * (1.0f + x * (0.5f + x * (1.0f / 6.0f + x * tail)));
    return e * std::bit_cast<float>(uint32_t(whole + 127) << 23);
}

// t to the power p, given log2 of t (t > 0); t = 0 keeps the library's answer.
float powerOf(float t, float log2T, float p)
{
    return t > 0.0f ? exp2Of(p * log2T) : std::pow(t, p);
}

// The fire texture: the built-in "Fire01" with its alpha taken from red,
// loaded once and shared by every flame.
bool fireTexture(TextureRef& texture)
{
    const String name(L"Fire01");
    if (Texture::findByName(texture, name))
        return true;
    if (!Texture::loadFromResource(texture, String(L"Fire01"), String(L"dds"), fireTextureId, D3DX_DEFAULT,
                                   D3DX_DEFAULT, nullptr, 1, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_DEFAULT, false))
        return false;
    Texture::alphaFromRed(texture);
    return true;
}

}

ObjPkgManager::Functions::Fire::Entry::~Entry()
{
    if (soundRef)
        Audio::AudioFile::unloadByRef(*soundRef);
}

void ObjPkgManager::Functions::Fire::Entry::place()
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
    box.halfExtents = {0.2f, 0.2f, 0.2f};
    box.center = position + placement.row(1) * 0.2f;
}

ObjPkgManager::Functions::Fire::Fire(Record* owner) : record(owner)
{
    if (auto entry = std::unique_ptr<Entry>(new (std::nothrow) Entry(this)))
        fires.push_back(std::move(entry));
}

ObjPkgManager::Functions::Fire::~Fire() = default;

bool ObjPkgManager::Functions::Fire::load(FileInterface& stream)
{
    CRASH_TRACE();
    fires.clear();
    for (int32_t read = 0;; ++read) {
        // A fire chained at the very end of the data is not there.
        if (read > 0 && stream.tell() >= stream.size())
            return true;
        auto entry = std::unique_ptr<Entry>(new (std::nothrow) Entry(this));
        if (!entry)
            return false;
        Entry& e = *entry;
        uint32_t another = 0;
        float uniform = e.scale.x;
        const bool whole = PackageFields::readBlock(stream, [&](uint32_t tag) {
            switch (tag) {
            case 1: return PackageFields::readVector(stream, e.position, PackageFields::maxCoordinate);
            case 2: return PackageFields::readVector(stream, e.angles, PackageFields::maxAngle);
            case 3: return PackageFields::readFloat(stream, uniform, PackageFields::maxFactor);
            case 4: return PackageFields::readFloat(stream, e.look.brightnessCurve, PackageFields::maxFactor);
            case 5: return PackageFields::readFloat(stream, e.look.spin, PackageFields::maxFactor);
            case 6: return PackageFields::readFloat(stream, e.look.sizeCurve, PackageFields::maxFactor);
            case 7: return PackageFields::readFloat(stream, e.look.endSize, PackageFields::maxFactor);
            case 8: return PackageFields::readFloat(stream, e.look.sizeSpread, PackageFields::maxFactor);
            case 9: return PackageFields::readFloat(stream, e.look.flicker, PackageFields::maxFactor);
            case 10: {
                if (!stream.readValue(e.soundType) || !FileInterface::copyBlockTo(stream, e.sound))
                    return false;
                if (e.soundRef)
                    Audio::AudioFile::unloadByRef(*e.soundRef);
                e.soundRef.reset();
                // Only wav and Ogg files play; anything else stays silent.
                const bool playable = e.soundType == Audio::FileRef::typeWav || e.soundType == Audio::FileRef::typeOgg;
                if (playable && e.sound.size() > 0)
                    e.soundRef.reset(new (std::nothrow)
                                         Audio::FileRef(&e.sound, e.soundType, String(L"FireUserDefined"), 0));
                return true;
            }
            case 11: return stream.readValue(another);
            case 12: return stream.readValue(e.burningAtStart);
            default: return true;
            }
        });
        e.scale = {uniform, uniform, uniform};
        e.place();
        if (int32_t(fires.size()) < maxFires)
            fires.push_back(std::move(entry));
        if (!whole)
            return false;
        if (another == 0)
            return true;
    }
}

ObjectFuncInstInterface* ObjPkgManager::Functions::Fire::createInstance(D3D::Device::SwapChain* chain,
                                                                        DynObject* owner)
{
    return new (std::nothrow) Instance(*this, chain, owner);
}

ObjPkgManager::Functions::Fire::Instance::Instance(Fire& templ, D3D::Device::SwapChain* swapChain,
                                                   DynObject* dynamic)
    : owningTemplate(&templ), chain(swapChain), owner(dynamic)
{
    update();
}

ObjPkgManager::Functions::Fire::Instance::~Instance()
{
    objects.reset();
}

ObjPkgManager::Functions::Fire::Instance::Object* ObjPkgManager::Functions::Fire::Instance::object(int32_t i) const
{
    return i >= 0 && i < builtCount ? &objects[i] : nullptr;
}

void ObjPkgManager::Functions::Fire::Instance::rebuild()
{
    objects.reset();
    builtCount = 0;
    const int32_t count = int32_t(owningTemplate->fires.size());
    if (count == 0)
        return;
    objects.reset(new (std::nothrow) Object[count]);
    if (!objects)
        return;
    for (int32_t i = 0; i < count; ++i) {
        Object& o = objects[i];
        o.instance = this;
        o.fire = owningTemplate->fires[size_t(i)].get();
        o.flicker.reset(new (std::nothrow) LightProj::Flicker());
        ++builtCount;
        o.setBurning(o.fire->burningAtStart != 0);
    }
}

void ObjPkgManager::Functions::Fire::Instance::update()
{
    CRASH_TRACE();
    if (!followsEntries(objects.get(), builtCount, owningTemplate->fires, &Object::fire))
        rebuild();
    const float ownerScale = owner && owner->object ? owner->object->scale : 1.0f;
    for (int32_t i = 0; i < builtCount; ++i) {
        Object& o = objects[i];
        if (owningTemplate->editFlag)
            o.setBurning(o.fire->burningAtStart != 0 || owningTemplate->window != nullptr);
        if (!o.system)
            continue;
        float size = 2.0f * o.fire->box.halfExtents.x * o.fire->box.axes[0].length();
        if (owner)
            size *= ownerScale;
        o.system->emitterValues[0] = size;
        if (owner) {
            const bool outside =
                chain && chain->frustum.classifyOrientedBox(owner->worldBox) == ConvexVolume::outside;
            o.system->stopped = outside || owner->hidden ? 1 : 0;
        }
    }
}

void ObjPkgManager::Functions::Fire::Instance::prepareRender()
{
    const float strength = owner && owner->object ? owner->object->scale : ownerlessFlicker;
    for (int32_t i = 0; i < builtCount; ++i) {
        Object& o = objects[i];
        if (o.system && o.flicker)
            o.flicker->update(o.fire->look.flicker * strength);
    }
}

void ObjPkgManager::Functions::Fire::Instance::beforeRender(const matrix3d& transform)
{
    for (int32_t i = 0; i < builtCount; ++i) {
        Object& o = objects[i];
        if (!o.system)
            continue;
        const matrix3d& placement = o.fire->placement;
        o.system->emitterPosition = transform.transformPoint(placement.row(3));
        o.system->emitterDirection = transform.transformVector(placement.row(1)).normalised();
        o.soundPosition = o.system->emitterPosition;
        // Without an owner the flame drifts with the flicker, its second and
        // third components swapped.
        if (o.flicker && !owner) {
            o.system->emitterValues[1] = o.flicker->offset.x;
            o.system->emitterValues[2] = o.flicker->offset.z;
            o.system->emitterValues[3] = o.flicker->offset.y;
        }
    }
}

ObjPkgManager::Functions::Fire::Instance::Object::System::System(Object& object, D3D::Device::SwapChain& chain,
                                                                 const TextureRef& texture)
    : ParticleSystem(&Object::flameParticle, D3DBLEND_SRCALPHA, chain, texture, particleCount, D3DBLEND_ONE, 1,
                     false, false, false),
      fire(&object)
{
}

float ObjPkgManager::Functions::Fire::Instance::Object::number(const Particle& p, Word w)
{
    return std::bit_cast<float>(uint32_t(p.words[w]));
}

void ObjPkgManager::Functions::Fire::Instance::Object::setNumber(Particle& p, Word w, float value)
{
    p.words[w] = std::bit_cast<uint32_t>(value);
}

ObjPkgManager::Functions::Fire::Instance::Object::~Object()
{
    setBurning(false);
}

void ObjPkgManager::Functions::Fire::Instance::Object::setBurning(bool on)
{
    CRASH_TRACE();
    if (!on) {
        delete system;
        system = nullptr;
        if (sound) {
            sound->stop();
            delete sound;
            sound = nullptr;
        }
        return;
    }
    if (system || !instance || !instance->chain || !fire)
        return;
    TextureRef texture;
    fireTexture(texture);
    system = new (std::nothrow) System(*this, *instance->chain, texture);
    texture.release();
    if (!system)
        return;
    system->stopped = 0;
    if (!fire->soundRef || !instance->owner)
        return;
    // The looped sound, heard where the fire burns.
    soundPosition = instance->owner->world.transformPoint(fire->position);
    Audio::AudioFile* file = Audio::AudioFile::get(fire->soundRef.get(), 1, 4, 1);
    if (!file || file->type == Audio::AudioFile::typeNone)
        return;
    file->setupBuffers(true, true, false, true);
    sound = new (std::nothrow) Audio::Sound3D(file);
    if (!sound)
        return;
    sound->attachPosition(&soundPosition);
    sound->play(true);
}

uint32_t ObjPkgManager::Functions::Fire::Instance::Object::flameParticle(Particle& p)
{
    const auto* system = static_cast<const System*>(p.system);
    if (!system || !system->fire || !system->fire->fire)
        return 1;
    const Look& look = system->fire->fire->look;
    const float emitterSize = system->emitterValues[0];
    const vec3d drift(system->emitterValues[1], system->emitterValues[2], system->emitterValues[3]);

    if (!p.words[alive]) {
        // The flames start at scattered ages.
        if (!p.words[started]) {
            setNumber(p, age, randomUnit());
            p.words[started] = 1;
        }
        setNumber(p, startSize, ((1.0f - look.sizeSpread) + look.sizeSpread * randomUnit()) * 0.45f);
        const float angle0 = randomUnit() * 360.0f;
        setNumber(p, startAngle, angle0);
        setNumber(p, endAngle, (0.5f - randomUnit()) * 720.0f * look.spin + angle0);
        setNumber(p, endSize, ((1.0f - look.sizeSpread) + look.sizeSpread * randomUnit()) * 0.2f * look.endSize);
        setNumber(p, fadeExponent, randomUnit() * 23.0f + 1.0f);
        setNumber(p, riseFactor, randomUnit() * 0.25f + 0.75f);
        p.hidden = 0;
        p.words[alive] = 1;
    }

    const float t = number(p, age);
    p.velocity = {};
    p.position = system->emitterPosition + drift * t +
                 system->emitterDirection * (t * emitterSize * (0.8f * t + 0.2f) * number(p, riseFactor));
    const float log2T = t > 0.0f ? log2Of(t) : 0.0f;
    const float g = powerOf(t, log2T, 2.0f * look.sizeCurve + 0.75f);
    const float size = (number(p, endSize) * g + number(p, startSize) * (1.0f - g)) * emitterSize;
    p.width = p.height = size;

    // Green and red rise from 40 towards 255 over the flame's life; they
    // would pass 255 early for a flat curve, so they stop there.
    const float b = look.brightnessCurve > 0.0f ? powerOf(t, log2T, 6.0f * look.brightnessCurve) : 1.0f;
    const uint8_t warm = byteOf(std::floor(255.0f * b + 40.0f * (1.0f - t)));
    const float ramp = std::clamp(1.4f * t - 0.2f, 0.0f, 1.0f);
    const uint8_t alpha = byteOf(std::floor((1.0f - powerOf(t, log2T, number(p, fadeExponent))) * ramp * 255.0f));
    p.colour = Color(warm, warm, 255, alpha);

    const float theta = (number(p, startAngle) * (1.0f - t) + number(p, endAngle) * t) * (pi / 180.0f);
    const float c = std::cos(theta), s = std::sin(theta);
    p.textureTransform[0] = c;
    p.textureTransform[1] = s;
    p.textureTransform[3] = -s;
    p.textureTransform[4] = c;

    float next = t + gFrameFactor.load(std::memory_order_relaxed) * 0.035f;
    if (next > 1.0f) {
        next -= 1.0f;
        p.words[alive] = 0;
    }
    setNumber(p, age, next);
    return 1;
}
