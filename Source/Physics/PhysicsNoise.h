#pragma once
// The sounds of one simulated entity: a one-shot impact sound when its body
// hits the ground or another body hard enough, and a looping drag sound
// whose level follows how fast it slides.
//
// Threads: onCollision and addDrag run on the physics thread inside a step
// and only record, in atomic words, the strongest impact of each kind and
// the strongest drag since the last update; update runs on the main thread
// (the entity's sync) and makes, plays and levels the sounds. Sound objects
// are touched on the main thread only.

#include "Physics/EntityPhysics.h"

#include "Core/Vector.h"

#include <atomic>
#include <cstdint>

namespace Audio {
class AudioFile;
class Sound2D;
class Sound3D;
}

class PhysicsNoise
{
public:
    // Impacts at or below this measure make no sound; the volume rises by
    // volumePerImpact per unit above it, to 1.
    static constexpr float quietImpact = 0.5f;
    static constexpr float volumePerImpact = 0.3f;

    // Sounds for the entity whose position vector is at position (it must
    // outlive the noise): impact sounds made from bodyImpact and terrainImpact
    // (either may be null: no sound of that kind), and a drag sound on drag
    // (none when null), positional when drag3D is set. Main thread.
    PhysicsNoise(const vec3d* position, Audio::AudioFile* bodyImpact, Audio::AudioFile* terrainImpact,
                 Audio::AudioFile* drag, bool drag3D);
    // The drag sounds go.
    ~PhysicsNoise();
    PhysicsNoise(const PhysicsNoise&) = delete;
    PhysicsNoise& operator=(const PhysicsNoise&) = delete;

    // Physics thread: the impact along the normal, kept when it is the
    // strongest of its kind since the last update, and the sliding speed as
    // drag. Nothing while the sound system has no device.
    void onCollision(const EntityManager::Physics::Collision& collision);
    // Physics thread: a drag level (0 to 1) requested.
    void addDrag(float level);
    // Main thread, once per frame: plays the impacts recorded since the last
    // update and moves the drag level towards the strongest drag recorded.
    void update();

    const vec3d* owner;
    Audio::AudioFile* bodyImpactSound;
    Audio::AudioFile* terrainImpactSound;
    Audio::Sound2D* dragSound2D = nullptr; // owned
    Audio::Sound3D* dragSound3D = nullptr; // owned
    // The highest drag level requested since the last update.
    std::atomic<float> dragTarget{0.0f};
    float dragLevel = 0.0f;
    uint32_t dragDisabled = 0;
    uint32_t drag3D = 0;
    // Impact sounds as positional sounds; impactMinDistance is their first
    // distance parameter (the reach, with exponent 0.1 for the full-volume range).
    uint32_t impact3D = 0;
    float impactMinDistance = 100.0f;
    // The strongest impact measures recorded since the last update (0: none).
    std::atomic<float> terrainImpact{0.0f};
    std::atomic<float> bodyImpact{0.0f};

private:
    void playImpact(Audio::AudioFile* source, float impact);
};
