#include "Physics/PhysicsNoise.h"

#include "Audio/Audio.h"
#include "Audio/Sound2D.h"
#include "Audio/Sound3D.h"

#include "Core/Math.h"
#include "Core/Timer.h"

#include <cmath>
#include <new>

namespace {

// Tangential speeds up to this make no drag.
constexpr float quietSlide = 0.05f;
constexpr float dragPerSlide = 0.1f;
// Drag levels up to this are silent; louder ones play this much louder.
constexpr float quietDrag = 0.08f;
constexpr float dragLift = 0.4f;

float lengthOf(const vec3d& v)
{
    const float squared = v.lengthSq();
    return squared > 0.0f ? fastSqrt(squared) : 0.0f;
}

void raiseTo(std::atomic<float>& word, float value)
{
    float current = word.load();
    while (value > current && !word.compare_exchange_weak(current, value)) {
    }
}

float clamp01(float v) { return v > 1.0f ? 1.0f : v > 0.0f ? v : 0.0f; }

}

PhysicsNoise::PhysicsNoise(const vec3d* position, Audio::AudioFile* bodyImpact, Audio::AudioFile* terrainImpact,
                           Audio::AudioFile* drag, bool threeD)
    : owner(position), bodyImpactSound(bodyImpact), terrainImpactSound(terrainImpact), drag3D(threeD ? 1 : 0)
{
    if (!drag)
        return;
    if (threeD)
        dragSound3D = new (std::nothrow) Audio::Sound3D(drag);
    else
        dragSound2D = new (std::nothrow) Audio::Sound2D(drag);
}

PhysicsNoise::~PhysicsNoise()
{
    delete dragSound2D;
    delete dragSound3D;
}

void PhysicsNoise::onCollision(const EntityManager::Physics::Collision& c)
{
    if (!Audio::isEnabled())
        return;
    const vec3d& v = c.relativeVelocity;
    const vec3d& n = c.normal;
    const float impact = lengthOf({v.x * n.x, v.y * n.y, v.z * n.z});
    if (impact - quietImpact > 0.0f) {
        if (c.otherType == EntityManager::Physics::terrainContact)
            raiseTo(terrainImpact, impact);
        else if (c.otherType == EntityManager::Physics::rigidContact ||
                 c.otherType == EntityManager::Physics::animatedContact)
            raiseTo(bodyImpact, impact);
    }
    const vec3d tangential = v - n * v.dot(n);
    if (tangential.lengthSq() > 0.0f)
        addDrag((lengthOf(tangential) - quietSlide) * dragPerSlide);
}

void PhysicsNoise::addDrag(float level)
{
    raiseTo(dragTarget, std::pow(clamp01(level), 0.55f));
}

void PhysicsNoise::update()
{
    if (const float impact = terrainImpact.exchange(0.0f); impact > 0.0f)
        playImpact(terrainImpactSound, impact);
    if (const float impact = bodyImpact.exchange(0.0f); impact > 0.0f)
        playImpact(bodyImpactSound, impact);

    // The strongest drag since the last update; the next one starts afresh.
    const float target = dragTarget.exchange(0.0f);
    if (dragDisabled)
        return;
    float k = gFrameFactor.load(std::memory_order_relaxed) * 0.8f;
    if (k > 1.0f)
        k = 1.0f;
    dragLevel += (target - dragLevel) * k;
    const float volume = dragLevel > quietDrag ? dragLevel + dragLift : 0.0f;

    Audio::SoundInterface* sound = dragSound2D;
    if (drag3D) {
        if (dragSound3D && owner)
            dragSound3D->attachPosition(owner);
        sound = dragSound3D;
    }
    if (!sound)
        return;
    sound->setVolume(volume);
    if (volume > 0.01f)
        sound->play(true);
    else
        sound->stop();
}

void PhysicsNoise::playImpact(Audio::AudioFile* source, float impact)
{
    if (!source)
        return;
    const float level = std::pow(clamp01((impact - quietImpact) * volumePerImpact), 0.65f);
    if (!impact3D) {
        Audio::Sound2D::create(source)->setVolume(level)->play(false);
        return;
    }
    // A one-shot may outlive its entity: it keeps a copy of the position
    // rather than following it.
    Audio::Sound3D* sound = Audio::Sound3D::create(source);
    sound->setDistances(impactMinDistance, 0.1f);
    if (owner)
        sound->setPosition(*owner);
    sound->setVolume(level)->play(false);
}
