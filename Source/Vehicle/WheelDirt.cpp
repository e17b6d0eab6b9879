#include "Vehicle/WheelDirt.h"

#include "Vehicle/QuadInstance.h"
#include "Vehicle/QuadWheel.h"

#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"

#include "Audio/AudioFile.h"
#include "Audio/Sound3D.h"
#include "Entity/Entity.h"
#include "Entity/SubEntity.h"
#include "Landscape/Terrain.h"
#include "Landscape/Water.h"
#include "Landscape/WaterArea.h"
#include "Race/RaceClock.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"
#include "Core/Timer.h"

#include <d3d9.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <new>

namespace {

using QuadPhysics = ObjPkgManager::Functions::QuadPhysics;

constexpr float pi = 3.14159265358979f;
constexpr float degrees = pi / 180.0f;
// The reference soil colour the wheels throw most dirt on.
constexpr float soil[3] = {96.0f / 255.0f, 14.0f / 255.0f, 10.0f / 255.0f};
constexpr float waterTint[4] = {200.0f / 255.0f, 220.0f / 255.0f, 238.0f / 255.0f, 1.0f};
constexpr float oilTint[4] = {0.0f, 0.0f, 0.0f, 1.0f};
constexpr uint32_t soilInterval = 300;
constexpr uint32_t wetInterval = 500;
constexpr float wetReach = 20.0f;
constexpr int32_t wheelPart = 3;

// The particles' numbers, kept in their words.
enum Word : int {
    started,
    track,
    angle,
    spin,
    alpha,
    fade,
    fall,
    grownSize,
    turn,
    startSize,
    endSize,
    peakAlpha,
};

float randomUnit()
{
    return float(std::rand()) / 32767.0f;
}

float number(const Particle& p, Word w)
{
    return std::bit_cast<float>(uint32_t(p.words[w]));
}

void setNumber(Particle& p, Word w, float value)
{
    p.words[w] = std::bit_cast<uint32_t>(value);
}

uint8_t byteOf(float value)
{
    return value >= 0.0f ? uint8_t(std::min(std::rint(value), 255.0f)) : 0;
}

vec3d unitOrZero(const vec3d& v)
{
    const float lengthSq = v.lengthSq();
    return lengthSq > 0.0f ? v * (1.0f / std::sqrt(lengthSq)) : v;
}

// The texture turned by angle degrees about the quad's middle.
void turnTexture(Particle& p, float angleDegrees)
{
    const float c = std::cos(angleDegrees * degrees), s = std::sin(angleDegrees * degrees);
    p.textureTransform[0] = c;
    p.textureTransform[1] = s;
    p.textureTransform[3] = -s;
    p.textureTransform[4] = c;
}

float frameTime()
{
    return gFrameTime.load(std::memory_order_relaxed);
}

WheelDirt* ownerOf(const Particle& p)
{
    const auto* system = static_cast<const WheelDirt::System*>(p.system);
    return system ? system->owner : nullptr;
}

// Waits for emission: out of sight and out of the manager's way.
void mark(Particle& p)
{
    p.hidden = 1;
    p.frozen = 1;
    p.velocity = {};
}

void unmark(Particle& p)
{
    p.hidden = 0;
    p.frozen = 0;
}

// The dirt texture (the second) of the track's wheel, or null.
IDirect3DTexture9* dirtTextureOf(const WheelDirt::Track& track)
{
    QuadPhysics::Wheel* wheel = track.contact ? track.contact->wheel : nullptr;
    EntityManager::SubEntity* part = wheel ? wheel->parts[wheelPart] : nullptr;
    const TextureRef* dirt = part ? &part->material.textures[DynObject::overlaySlot] : nullptr;
    return dirt && dirt->isBound() ? dirt->texture()->texture : nullptr;
}

// The first water area (live ones first) whose water holds p, and whether it
// is live.
WaterArea* waterAt(const vec3d& p, float* depth, bool& live)
{
    for (auto* node = gWater.live.head(); node; node = node->next)
        if (node->item && node->item->isPointInWater(p, depth)) {
            live = true;
            return node->item;
        }
    for (auto* node = gWater.dormant.head(); node; node = node->next)
        if (node->item && node->item->isPointInWater(p, depth)) {
            live = false;
            return node->item;
        }
    return nullptr;
}

}

WheelDirt::System::System(WheelDirt& dirt, Callback callback, D3D::Device::SwapChain& chain,
                          const TextureRef& texture, int32_t count)
    : ParticleSystem(callback, D3DBLEND_SRCALPHA, chain, texture, count, D3DBLEND_INVSRCALPHA, 1, false, false,
                     false),
      owner(&dirt)
{
}

WheelDirt::~WheelDirt()
{
    release();
}

void WheelDirt::setUp(QuadPhysics::Instance* quad, D3D::Device::SwapChain* chain, const TextureRef& dustTexture,
                      const TextureRef& dirtTexture, QuadPhysics::Contact* const (&contacts)[trackCount])
{
    CRASH_TRACE();
    release();
    instance = quad;
    swapChain = chain;
    if (!instance)
        return;
    for (int32_t i = 0; i < trackCount; ++i) {
        tracks[i] = Track{};
        tracks[i].contact = contacts[i];
    }
    if (chain) {
        dust = new (std::nothrow) System(*this, &WheelDirt::dustParticle, *chain, dustTexture, dustCount);
        clods = new (std::nothrow) System(*this, &WheelDirt::clodParticle, *chain, dirtTexture, clodCount);
        if (dust)
            dust->stopped = 0;
        if (clods)
            clods->stopped = 0;
    }
    if (instance->entity)
        soundPosition = instance->entity->world.row(3);
    QuadPhysics* templ = instance->templ;
    if (!templ)
        return;
    const auto prepare = [&](int32_t slot, int32_t count, Audio::AudioFile*& file, Audio::Sound3D*& sound) {
        file = templ->sound(slot) ? Audio::AudioFile::get(templ->sound(slot), count, count, count) : nullptr;
        if (!file)
            return;
        file->setupBuffers(true, true, true, false);
        sound = new (std::nothrow) Audio::Sound3D(file);
        if (sound)
            sound->attachPosition(&soundPosition)->setDistances(1000.0f, 0.42f);
    };
    prepare(QuadPhysics::waterSpray, 18, splashFile, splashSound);
    prepare(QuadPhysics::wheelSlide, 10, slideFile, slideSound);
}

void WheelDirt::release()
{
    delete dust;
    dust = nullptr;
    delete clods;
    clods = nullptr;
    for (Audio::Sound3D** sound : {&splashSound, &slideSound}) {
        if (!*sound)
            continue;
        (*sound)->stop();
        delete *sound;
        *sound = nullptr;
    }
    splashFile = slideFile = nullptr;
}

void WheelDirt::update()
{
    CRASH_TRACE();
    if (!instance || !instance->entity)
        return;
    EntityManager::Entity& entity = *instance->entity;
    const vec3d position = entity.world.row(3);
    frameMove = hasPrevious ? position - previousPosition : vec3d();
    previousPosition = position;
    hasPrevious = true;
    soundPosition = position;

    float speed = 0.0f;
    if (instance->object) {
        speed = instance->object->getSpeed();
    } else {
        const float factor = gFrameFactor.load(std::memory_order_relaxed);
        speed = frameMove.length() / (factor != 0.0f ? factor : 1.0f);
    }
    const float speedFactor = std::min(speed * 0.3f, 1.0f);
    speedRoot = std::sqrt(std::max(speedFactor, 0.0f));
    const float dt = frameTime();
    const uint32_t now = raceNow();
    float maxDepth = 0.0f;
    bool anyWater = false;
    float slide = 0.0f;

    for (Track& track : tracks) {
        QuadPhysics::Contact* contact = track.contact;
        if (!contact)
            continue;
        QuadPhysics::Wheel* wheel = contact->wheel;
        const vec3d& at = contact->synced.contactPoint;

        // Water under the contact, and a ripple where it runs through.
        track.waterDepth = 0.0f;
        bool live = false;
        WaterArea* area = waterAt(at, &track.waterDepth, live);
        track.inWater = area ? 1 : 0;
        if (area) {
            anyWater = true;
            maxDepth = std::max(maxDepth, track.waterDepth);
            if (live)
                area->physics.addRipple(vec2d(at.x, at.z), speedFactor * 0.4f);
        } else {
            track.waterDepth = 0.0f;
        }
        contact->waterDepth = track.waterDepth;

        if (track.emitted) {
            track.emitted = 0;
            track.cycle = (track.cycle + 1) % 5;
        }
        // The ground's colour; where its patch is out of view the last stays.
        uint32_t ground = 0;
        if (gTerrain.sampleLight(at.x, at.z, ground)) {
            track.colour[0] = float((ground >> 16) & 0xFF) / 255.0f;
            track.colour[1] = float((ground >> 8) & 0xFF) / 255.0f;
            track.colour[2] = float(ground & 0xFF) / 255.0f;
            track.colour[3] = float(ground >> 24) / 255.0f;
        }
        const float spinAngle = wheel ? float(wheel->spinAngle) : 0.0f;
        track.spinTravel = spinAngle - track.lastSpinAngle;
        if (track.tintWeight > 0.001f)
            track.tintWeight -= dt * track.tintWeight * 0.1f;
        if (contact->oiled) {
            std::copy(std::begin(oilTint), std::end(oilTint), track.tint);
            track.tintWeight = 1.0f;
        }
        if (track.inWater) {
            std::copy(std::begin(waterTint), std::end(waterTint), track.tint);
            track.tintWeight = 0.5f;
        }

        const bool grounded = contact->grounded != 0;
        const bool spinning = wheel && wheel->spinning;
        if ((grounded || track.tintWeight > 0.001f) && std::fabs(track.spinTravel) > 15.0f &&
            now > track.nextEmitTime) {
            float likeness = 1.0f - 5.0f *
                                        (std::fabs(track.colour[0] - soil[0]) + std::fabs(track.colour[1] - soil[1]) +
                                         std::fabs(track.colour[2] - soil[2])) /
                                        3.0f;
            if (spinning)
                likeness += 1.0f;
            const float amount = std::clamp(contact->slideSpeed * 0.12f + likeness + track.tintWeight, 0.0f, 1.0f);
            track.rate = std::min(std::fabs(track.spinTravel) * 0.03f,
                                  std::min(amount * 0.7f + (1.0f - amount) * 0.1f, 1.0f));
            if (track.rate > 0.001f) {
                const float w = std::clamp(track.tintWeight, 0.0f, 1.0f);
                for (int k = 0; k < 4; ++k)
                    track.colour[k] = track.colour[k] * (1.0f - w) + track.tint[k] * w;
                track.nextEmitTime = now + uint32_t(std::lrint(100.0f / track.rate));
                track.lastSpinAngle = spinAngle;
                track.emitted = 1;
                track.spinTravel = std::clamp(track.spinTravel, -75.0f, 75.0f);
                if (track.inWater)
                    wetNearbyObject(track, swapChain);
                else if (now >= track.nextSoilTime)
                    soilWheel(track);
            }
        }
        if (grounded)
            slide += spinning ? (std::fabs(float(wheel->spin)) - std::fabs(wheel->rollRate)) * 5.0f
                              : float(contact->slideSpeed);
    }

    // The splash: louder with depth and speed, at least half while a wheel
    // is in the water.
    const float target = std::pow(std::max(maxDepth * 0.4f * speedFactor, 0.0f), 0.3f);
    splashLevel += (target - splashLevel) * dt * 0.08f;
    if (anyWater && splashLevel < 0.5f)
        splashLevel = 0.5f;
    splashLevel = std::min(splashLevel, 1.0f);
    if (splashSound) {
        if (splashLevel <= 0.05f)
            splashSound->stop();
        else
            splashSound->setVolume(splashLevel * 0.9f)->play(true);
    }

    // Out of the placed object's reach the dirt is not drawn.
    if (dust && clods && swapChain) {
        float rangeSq = 0.0f;
        bool ranged = false;
        if (Object* placed = instance->placed)
            if (auto* package = dynamic_cast<ObjPkgManager::Package*>(placed->object)) {
                rangeSq = package->visibilityDistance * package->visibilityDistance;
                ranged = true;
            }
        const uint32_t beyond = ranged && (swapChain->position - position).lengthSq() > rangeSq ? 1 : 0;
        dust->stopped = clods->stopped = beyond;
    }

    const float s = std::clamp(slide * 0.03f, 0.0f, 1.0f);
    if (slideSound) {
        if (s <= 0.1f)
            slideSound->stop();
        else
            slideSound->setVolume(s * 0.9f)->setFrequencyScale((s - 0.5f) + 1.0f)->play(true);
    }

    uploadSoiling(false);
}

void WheelDirt::soilWheel(Track& track)
{
    CRASH_TRACE();
    IDirect3DTexture9* texture = dirtTextureOf(track);
    if (!texture)
        return;
    D3DSURFACE_DESC description{};
    if (FAILED(texture->GetLevelDesc(0, &description)) || description.Width == 0 || description.Height == 0)
        return;
    const uint32_t now = raceNow();
    const int32_t n = std::clamp(int32_t(track.rate * 40.0f), 0, pendingCapacity);
    if (track.pendingCount + n > pendingCapacity)
        uploadSoiling(true);
    if (track.pendingCount == 0)
        track.uploadTime = now + soilUploadDelay;
    const uint8_t blue = byteOf(track.colour[2] * 255.0f), green = byteOf(track.colour[1] * 255.0f),
                  red = byteOf(track.colour[0] * 255.0f);
    for (int32_t i = 0; i < n; ++i) {
        Paint& paint = track.pending[track.pendingCount++];
        paint.x = uint16_t(uint32_t(std::rand()) % std::min(description.Width, 65536u));
        paint.y = uint16_t(uint32_t(std::rand()) % std::min(description.Height, 65536u));
        paint.blue = blue;
        paint.green = green;
        paint.red = red;
        paint.alphaAdd = uint8_t(std::rand() % 40 + 15);
    }
    track.nextSoilTime = now + soilInterval;
}

void WheelDirt::uploadSoiling(bool now)
{
    CRASH_TRACE();
    const uint32_t time = raceNow();
    for (Track& track : tracks) {
        if (track.pendingCount == 0 || (!now && time < track.uploadTime))
            continue;
        IDirect3DTexture9* texture = dirtTextureOf(track);
        D3DSURFACE_DESC description{};
        D3DLOCKED_RECT locked{};
        if (!texture || FAILED(texture->GetLevelDesc(0, &description)) ||
            FAILED(texture->LockRect(0, &locked, nullptr, 0)) || !locked.pBits) {
            track.pendingCount = 0;
            continue;
        }
        // Every track soiling the same texture is painted in the one lock.
        for (Track& other : tracks) {
            if (other.pendingCount == 0 || dirtTextureOf(other) != texture)
                continue;
            for (int32_t i = 0; i < other.pendingCount; ++i) {
                const Paint& paint = other.pending[i];
                if (paint.x >= description.Width || paint.y >= description.Height)
                    continue;
                uint8_t* texel =
                    static_cast<uint8_t*>(locked.pBits) + size_t(paint.y) * size_t(locked.Pitch) + size_t(paint.x) * 4;
                texel[0] = paint.blue;
                texel[1] = paint.green;
                texel[2] = paint.red;
                texel[3] = uint8_t(std::min(int32_t(texel[3]) + int32_t(paint.alphaAdd), 160));
            }
            other.pendingCount = 0;
        }
        texture->UnlockRect(0);
        track.contact->wheel->parts[wheelPart]->recordStateBlocks();
    }
}

void WheelDirt::wetNearbyObject(Track& track, D3D::Device::SwapChain* chain)
{
    CRASH_TRACE();
    const uint32_t now = raceNow();
    if (now < track.nextSoilTime || !track.contact)
        return;
    const vec3d from = track.contact->synced.centre;
    const float a = randomUnit(), b = randomUnit(), c = randomUnit();
    vec3d end = from + vec3d(2.0f * a - 1.0f, 2.0f * b - 1.0f, 2.0f * c - 1.0f) * wetReach;
    EntityManager::SubEntity* hit = nullptr;
    if (chain && chain->entities && chain->entities->intersectRay(from, end, INT_MIN, nullptr, &hit) && hit &&
        hit->entity != (instance ? instance->entity : nullptr)) {
        // Only the dirt texture: the first slot may be a package's texture
        // that every object of its kind shares.
        TextureRef& dirt = hit->material.textures[DynObject::overlaySlot];
        if (dirt.isBound() && dirt.texture()->texture) {
            const uint8_t wet[4] = {0, 0, 0, 30};
            Texture::fillRect(dirt, -1, -1, -1, -1, wet, 0, false, true);
            hit->recordStateBlocks();
        }
    }
    track.nextSoilTime = now + wetInterval;
}

uint32_t WheelDirt::dustParticle(Particle& p)
{
    WheelDirt* dirt = ownerOf(p);
    if (!dirt)
        return 1;
    if (!p.words[started]) {
        p.words[started] = 1;
        mark(p);
        p.words[track] = uint32_t(std::rand() % trackCount);
        setNumber(p, angle, randomUnit() * 360.0f);
        setNumber(p, spin, 25.0f - randomUnit() * 50.0f);
        // A spare factor drawn and never read: kept so that the random
        // numbers drawn after it stay the same.
        (void)(randomUnit() * 0.6f + 0.4f);
        setNumber(p, alpha, 0.0f);
    }
    Track& t = dirt->tracks[p.words[track] % trackCount];
    if (number(p, alpha) < 1.0f)
        mark(p);
    if (p.hidden) {
        const QuadPhysics::Contact* contact = t.contact;
        if (!contact)
            return 1;
        const float spacing = t.inWater ? 30.0f : 200.0f;
        const float lift = t.inWater ? 2.0f : 0.6f;
        if (!((t.lastDustPos - contact->synced.contactPoint).lengthSq() > spacing) || !contact->grounded ||
            !(dirt->speedRoot > 0.05f))
            return 1;
        t.lastDustPos = contact->synced.contactPoint;
        p.position = contact->synced.contactPoint;
        const vec3d up = dirt->instance && dirt->instance->entity
                             ? unitOrZero(dirt->instance->entity->world.row(1))
                             : vec3d(0.0f, 1.0f, 0.0f);
        const float jx = randomUnit() - 0.5f, jy = randomUnit() - 0.5f, jz = randomUnit() - 0.5f;
        p.velocity = up * lift + vec3d(jx, jy, jz);
        p.width = p.height = (randomUnit() * 0.6f + 0.4f) * 1.6f;
        unmark(p);
        if (!t.inWater) {
            // The +15 stops at white: bright ground throws light dust.
            p.colour = Color(byteOf(t.colour[0] * 255.0f + 15.0f), byteOf(t.colour[1] * 255.0f + 15.0f),
                             byteOf(t.colour[2] * 255.0f + 15.0f), 120);
            setNumber(p, alpha, 120.0f);
            setNumber(p, fade, 0.035f);
            setNumber(p, fall, 0.0f);
            setNumber(p, grownSize, dirt->speedRoot * 12.0f);
        } else {
            p.colour = Color(200, 220, 238, 255);
            setNumber(p, alpha, 160.0f);
            setNumber(p, fade, 0.08f);
            setNumber(p, fall, -1.7f);
            setNumber(p, grownSize, dirt->speedRoot * 23.0f);
        }
    }

    const float dt = frameTime();
    p.velocity.x -= dt * p.velocity.x * 0.1f;
    p.velocity.y += (number(p, fall) - p.velocity.y) * 0.07f * dt;
    p.velocity.z -= dt * p.velocity.z * 0.1f;
    const float size = p.width + (number(p, grownSize) - p.width) * dt * 0.04f;
    p.width = p.height = size;
    const float turning = number(p, spin) + (0.0f - number(p, spin)) * dt * 0.03f;
    setNumber(p, spin, turning);
    const float a = std::max(number(p, alpha) + number(p, fade) * (0.0f - number(p, alpha)) * dt, 0.0f);
    setNumber(p, alpha, a);
    p.colour.a = byteOf(a);
    const float turned = number(p, angle) + turning;
    setNumber(p, angle, turned);
    turnTexture(p, turned);
    return 1;
}

uint32_t WheelDirt::clodParticle(Particle& p)
{
    WheelDirt* dirt = ownerOf(p);
    if (!dirt)
        return 1;
    if (!p.words[started]) {
        p.words[started] = 1;
        mark(p);
        const int32_t chosen = std::rand() % trackCount;
        p.words[track] = uint32_t(chosen);
        Track& t = dirt->tracks[chosen];
        p.words[turn] = uint32_t(t.rimTurn);
        setNumber(p, angle, float(t.rimAngle));
        t.rimAngle += 60;
        if (t.rimAngle > 359) {
            t.rimAngle -= 360;
            ++t.rimTurn;
        }
        setNumber(p, alpha, 0.0f);
    }
    Track& t = dirt->tracks[p.words[track] % trackCount];
    if (number(p, alpha) < 1.0f)
        mark(p);
    if (p.hidden) {
        if (!t.emitted || uint32_t(t.cycle) != p.words[turn] || !t.contact || !t.contact->wheel)
            return 1;
        const float r = std::max(t.rate, 0.3f);
        const float rim = number(p, angle) * degrees;
        const float c = std::cos(rim), s = std::sin(rim);
        vec3d forward(0.0f, 0.0f, 1.0f), up(0.0f, 1.0f, 0.0f);
        if (dirt->instance && dirt->instance->entity) {
            forward = unitOrZero(dirt->instance->entity->world.row(2));
            up = unitOrZero(dirt->instance->entity->world.row(1));
        }
        p.position = t.contact->synced.centre + (forward * s + up * c) * t.contact->wheel->halfRayLength;
        const float jx = randomUnit(), jy = randomUnit(), jz = randomUnit();
        p.velocity = dirt->frameMove + (forward * c - up * s) * (t.spinTravel * t.rate * 0.015f) +
                     vec3d(2.0f * jx - 1.0f, 2.0f * jy - 1.0f, 2.0f * jz - 1.0f) * 0.03f;
        setNumber(p, alpha, 100.0f);
        setNumber(p, endSize, r * 5.0f);
        setNumber(p, startSize, (float(std::rand() % 100) * 0.01f * 5.0f + 10.0f) * r);
        setNumber(p, peakAlpha, float(std::rand() % 70 + 185));
        p.colour = Color(byteOf(t.colour[0] * 255.0f), byteOf(t.colour[1] * 255.0f), byteOf(t.colour[2] * 255.0f),
                         byteOf(t.colour[3] * 255.0f));
        turnTexture(p, float(std::rand() % 360));
        unmark(p);
    }

    const float dt = frameTime();
    p.velocity.x -= dt * p.velocity.x * 0.09f;
    p.velocity.y += (-0.8f - p.velocity.y) * 0.09f * dt;
    p.velocity.z -= dt * p.velocity.z * 0.09f;
    const float a = number(p, alpha) + (0.0f - number(p, alpha)) * dt * 0.12f;
    setNumber(p, alpha, a);
    const float f = a / 100.0f;
    p.colour.a = byteOf(std::sin(f * pi) * number(p, peakAlpha));
    p.width = p.height = (1.0f - f) * number(p, startSize) + f * number(p, endSize);
    return 1;
}
