#pragma once
// One simulated quad bike on the rigid body of its entity: built from its
// package's quad template (its parts matched to the template's roles by
// name, the body's inertia, its controller on the body, its three wheel
// units set up), and the services the race asks of it: its speed, whether it
// lies overturned and putting it back on the terrain; its steering and
// throttle from the Control record that drives it.
//
// Threads: built, updated, asked and deleted on the main thread. As a
// controller of its body its step runs on the physics thread; the values the
// main thread writes for it (controls, steer, velocity, frozen) are single
// words read there without locks, a value one frame old being good enough.
// Changes of the body (placeOnTerrain, the destructor) wait for the end of
// the running step batch first.

#include "Vehicle/QuadWheel.h"

#include "Physics/EntityPhysics.h"
#include "Race/Game.h"

#include "Core/Vector.h"

#include <atomic>
#include <cstdint>

class Control;

namespace Audio {
class AudioFile;
}

class ObjPkgManager::Functions::QuadPhysics::Instance : public EntityManager::Physics::Controller
{
public:
    static constexpr int32_t bodyPartCount = 6;
    // Steering rates per reference frame, and the steering part's turn.
    static constexpr float opponentSteerRate = 0.1f;
    static constexpr float playerSteerRate = 0.07f;
    // Pulling back faster than this (forward) brakes instead of reversing.
    static constexpr float brakeSpeed = 3.0f;

    // A quad of templ on entity (which may be null: a quad of no body) at the
    // placed object's scale. Without a rigid body the quad has no inertia
    // or controller, but its parts are still matched.
    Instance(QuadPhysics* templ, EntityManager::Entity* entity, float scale);
    // Waits for the running step batch, then takes the controller off the body.
    ~Instance() override;
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    // The physics step (physics thread). The drive and the wheels' forces are
    // the simulation step's; until then the quad pushes nothing.
    void step(neRigidBody* body) override;

    // The throttle this frame: the throttle axis while throttle input is
    // enabled (else 0); nitro held with some left opens it fully; pulling
    // back while rolling forward faster than brakeSpeed gives 0 (the brake
    // acts instead).
    float throttleInput() const;
    // Moves steer towards the steering axis (0 while steering input is off or
    // without controls) by frameFactor reference frames: an opponent's
    // linearly at opponentSteerRate, the player's at playerSteerRate, bent by
    // the controls' steering exponent once the axis passes 0.1.
    void updateSteering(float frameFactor);

    // The forward speed for display and the opponent driver: the velocity
    // across the rear axle's ground normal and the body's right axis, x 2.4,
    // truncated; never negative.
    int32_t getSpeed() const;
    // 1 when the quad lies overturned (the ground covers its centre, it
    // hangs on its side with no wheel down, a wheel unit stands on steep
    // ground, or it lies upside down with the ground above its top), else 0.
    uint32_t isOverturned() const;
    // Sets the quad down at (p.x, ground + 0.6 x its height, p.z), upright on
    // the ground's normal, facing as before (side null) or with its right
    // along side, at rest and awake. Nothing without a rigid body.
    void placeOnTerrain(const vec3d& p, const vec3d* side);

    // Physics thread, for each contact of the body: keeps the strongest
    // impact (the length of the relative velocity times the normal, component
    // by component) above 1 and the other side's kind, for the next
    // playCollision.
    void onCollision(const EntityManager::Physics::Collision& collision);
    // Main thread, once a frame: the strongest impact recorded since the last
    // call plays the body collision sound at the quad, 0.05 x (impact - 1)
    // loud (to the power 0.65, at most 1), and pulses the player's force
    // feedback for 200 ms. Nothing while the sound system has no device.
    void playCollision();
    // Paints the body and the helmet (both needed): a grey upper half and
    // colour's three low bytes (in memory order) below, on new 32 x 32
    // textures in their first slot, and records their states again.
    void setColors(uint32_t colour);
    // Before sub is drawn: the follower of the rear swing arm gets a texture
    // transform that scrolls with the rear wheels' turn; others nothing.
    void setShaderConstants(EntityManager::SubEntity& sub) const;

    // The rigid body, or null.
    neRigidBody* body() const;

    QuadPhysics* templ;
    EntityManager::Entity* entity;
    // The record that drives the quad (the player's bindings or an opponent
    // driver's); null until the race binds one.
    Control* controls = nullptr;
    // The race state of the vehicle; null until the race binds it.
    Game::Vehicle* vehicle = nullptr;
    // Set while an opponent driver steers the quad.
    uint32_t opponent = 0;
    EntityManager::SubEntity* bodyParts[bodyPartCount] = {};
    Wheel wheels[3];
    float steer = 0.0f;
    float impact = 0.0f;
    // The body's velocity, copied each frame by the quad's update.
    vec3d velocity;
    uint32_t frozen = 0;
    uint32_t nextCollisionSoundTime = 0;
    float scale = 1.0f;
    // The template's body and wheel collision sounds, ready for 3D voices
    // (null without the sound).
    Audio::AudioFile* collisionSound = nullptr;
    Audio::AudioFile* wheelCollisionSound = nullptr;
    // The strongest impact since the last playCollision (0: none) and the
    // other side's kind.
    std::atomic<float> strongestImpact{0.0f};
    std::atomic<uint32_t> impactKind{0};

private:
    void matchParts();
    EntityManager::Physics::RigidBody* wrapper() const;
};
