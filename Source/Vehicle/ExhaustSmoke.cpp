#include "Vehicle/ExhaustSmoke.h"

#include "Audio/EngineSound.h"
#include "Entity/Entity.h"
#include "Race/RaceClock.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"
#include "Core/String.h"
#include "Core/Timer.h"

#include <TextureRecord.h>

#include <d3d9.h>
#include <d3dx9.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <new>

namespace {

constexpr float degrees = 3.14159265358979f / 180.0f;

// The puffs' numbers, kept in their words.
enum Word : int { started, threshold, growth, angle, spin, spawnX, spawnY, spawnZ };

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

void mark(Particle& p)
{
    p.hidden = 1;
    p.frozen = 1;
    p.velocity = {};
}

// The built-in smoke texture, loaded once and shared.
bool smokeTexture(TextureRef& texture)
{
    if (Texture::findByName(texture, String(L"Smoke01")))
        return true;
    return Texture::loadFromResource(texture, String(L"Smoke01"), String(L"dds"), ExhaustSmoke::smokeTextureId,
                                     D3DX_DEFAULT, D3DX_DEFAULT, nullptr, 1, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                     D3DX_DEFAULT, false);
}

}

ExhaustSmoke::System::System(ExhaustSmoke& smoke, D3D::Device::SwapChain& chain, const TextureRef& texture)
    : ParticleSystem(&ExhaustSmoke::smokeParticle, D3DBLEND_SRCALPHA, chain, texture, particleCount,
                     D3DBLEND_INVSRCALPHA, 1, false, false, false),
      owner(&smoke)
{
}

ExhaustSmoke::~ExhaustSmoke()
{
    release();
}

void ExhaustSmoke::init(D3D::Device::SwapChain* chain, EntityManager::Entity* vehicle,
                        const Audio::EngineSound* engine)
{
    release();
    swapChain = chain;
    entity = vehicle;
    engineSound = engine;
    localTransform = matrix3d::identity();
    throttleLevel = 0.0f;
}

void ExhaustSmoke::create(const matrix3d& outletTransform)
{
    CRASH_TRACE();
    release();
    localTransform = outletTransform;
    if (!swapChain)
        return;
    TextureRef texture;
    smokeTexture(texture);
    system = new (std::nothrow) System(*this, *swapChain, texture);
    texture.release();
    if (system)
        system->stopped = 0;
}

void ExhaustSmoke::update()
{
    const float load = engineSound ? engineSound->load : 0.0f;
    throttleLevel = load > 0.0f ? std::pow(load, 0.3f) : 0.0f;
    if (!system || !entity || !swapChain)
        return;
    const float distanceSq = (swapChain->position - entity->world.row(3)).lengthSq();
    system->stopped = distanceSq > swapChain->rangeSquared ? 1 : 0;
}

void ExhaustSmoke::emitterTransform(matrix3d& out) const
{
    out = entity ? localTransform * entity->world : localTransform;
}

void ExhaustSmoke::release()
{
    delete system;
    system = nullptr;
}

uint32_t ExhaustSmoke::smokeParticle(Particle& p)
{
    auto* system = static_cast<System*>(p.system);
    ExhaustSmoke* smoke = system ? system->owner : nullptr;
    if (!smoke)
        return 1;
    if (!p.words[started]) {
        p.words[started] = 1;
        mark(p);
        setNumber(p, threshold, randomUnit() * 0.9f + 0.1f);
    }
    const float scale = system->scale;
    if (p.hidden) {
        const uint32_t now = raceNow();
        if (!(number(p, threshold) < smoke->throttleLevel) || !(now > system->nextPuffTime))
            return 1;
        matrix3d outlet;
        smoke->emitterTransform(outlet);
        const vec3d spawn = outlet.row(3);
        system->emitterPosition = spawn;
        system->emitterDirection = outlet.row(1);
        setNumber(p, spawnX, spawn.x);
        setNumber(p, spawnY, spawn.y);
        setNumber(p, spawnZ, spawn.z);
        p.position = spawn;
        const float a = randomUnit(), b = randomUnit(), c = randomUnit();
        const vec3d direction =
            (vec3d(0.0f, 1.0f, 0.0f) + vec3d(2.0f * a - 1.0f, 2.0f * b - 1.0f, 2.0f * c - 1.0f) * 0.3f).normalised();
        const float speed = (randomUnit() * 0.66666f + 0.33333f) * 0.1f * scale;
        p.velocity = direction * speed;
        p.hidden = 0;
        p.frozen = 0;
        setNumber(p, growth, 0.1f);
        setNumber(p, angle, randomUnit() * 360.0f);
        setNumber(p, spin, 4.0f - randomUnit() * 8.0f);
        system->nextPuffTime = now + puffInterval;
    }

    const float dt = gFrameTime.load(std::memory_order_relaxed);
    p.velocity.x -= dt * p.velocity.x * 0.01f;
    p.velocity.z -= dt * p.velocity.z * 0.01f;
    const float grown = number(p, growth) + (0.7f - number(p, growth)) * 0.1f * dt;
    setNumber(p, growth, grown);
    p.width = p.height = grown * scale;
    const vec3d spawn(number(p, spawnX), number(p, spawnY), number(p, spawnZ));
    const float d = std::clamp((p.position - spawn).length() / scale, 0.0f, 1.0f);
    const uint8_t alpha = uint8_t(std::lrint((1.0f - d) * 255.0f));
    p.colour.a = alpha;
    const float turning = number(p, spin) + (0.0f - number(p, spin)) * dt * 0.03f;
    setNumber(p, spin, turning);
    const float turned = number(p, angle) + turning;
    setNumber(p, angle, turned);
    const float cs = std::cos(turned * degrees), sn = std::sin(turned * degrees);
    p.textureTransform[0] = cs;
    p.textureTransform[1] = sn;
    p.textureTransform[3] = -sn;
    p.textureTransform[4] = cs;
    if (alpha == 0)
        mark(p);
    return 1;
}
