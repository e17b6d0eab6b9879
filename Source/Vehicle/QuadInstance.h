#pragma once
// One simulated quad bike: the object function (flag 0x2) that turns the
// rigid body of a dynamic object into a driven vehicle. Built from its
// package's quad template (its parts matched to the template's roles by
// name, the body's inertia, its controller on the body, its three wheel
// units set up); each frame it turns its controls into steering and
// throttle for the engine model; each physics step it pushes the body
// through its wheels and rear drive; and it answers the race: its speed,
// whether it lies overturned, putting it back on the terrain, its colours,
// its collisions.
//
// Threads: built, updated, asked and deleted on the main thread. The step
// runs on the physics thread and reads only what the main thread publishes
// once per frame (published, in relaxed atomics); it never reads the
// Control record or the race state, so a deleted driver is never touched.
// Its outputs (impact, the contacts' flags and sliding speeds, the rear
// spin) are relaxed atomics too. Changes of the body (placeOnTerrain,
// setFrozen's placement, the destructor) wait for the running step batch.

#include "Vehicle/ExhaustSmoke.h"
#include "Vehicle/QuadWheel.h"
#include "Vehicle/WheelDirt.h"

#include "Objects/ObjectFuncInst.h"

#include "Audio/EngineSound.h"
#include "Entity/BoneAnim.h"
#include "Physics/EntityPhysics.h"
#include "Race/Game.h"
#include "Render/D3DDevice.h"

#include "Core/Vector.h"

#include <atomic>
#include <cstdint>

class Control;
class DynObject;
class Object;

namespace Audio {
class AudioFile;
}

class ObjPkgManager::Functions::QuadPhysics::Instance : public ObjectFuncInstInterface,
                                                      public EntityManager::Physics::Controller,
                                                      public ObjPkgManager::ShaderInterface
{
public:
    static constexpr int32_t bodyPartCount = 6;
    // Steering rates per reference frame, and the steering part's turn.
    static constexpr float opponentSteerRate = 0.1f;
    static constexpr float playerSteerRate = 0.07f;
    // Pulling back faster than this (forward) brakes instead of reversing.
    static constexpr float brakeSpeed = 3.0f;
    // The landing sound: impacts above the threshold sound, from the base
    // volume up by the slope per unit, at most the limit, at most one per
    // guard.
    static constexpr float landingThreshold = 7.0f;
    static constexpr float landingSlope = 0.015f;
    static constexpr float landingBase = 0.4f;
    static constexpr float landingLimit = 0.95f;
    static constexpr uint32_t landingGuard = 50;
    // The force and torque limit per component.
    static constexpr float forceLimit = 200.0f;
    // The DirectInput scan code of the key that rights every quad.
    static constexpr uint32_t rightingKey = 0x1C;
    // Where the hands hold the handlebar, in its frame: up, back and to each
    // side; the hands' forward tilt over the grips.
    static constexpr float gripHeight = 1.78f;
    static constexpr float gripBack = 0.05f;
    static constexpr float gripSide = 0.8f;
    static constexpr float gripTiltDegrees = -50.0f;
    // The helmet's and visor's size on the rider's bone 3.
    static constexpr float helmetScale = 4.2f;

    // What the main thread publishes for the physics step once per frame.
    struct Published
    {
        // The front wheels' turn: steer x 32 degrees, its cosine and sine.
        Relaxed<float> steerCos{1.0f};
        Relaxed<float> steerSin;
        Relaxed<float> brake;     // brakeInput
        Relaxed<float> gearRatio; // the engine's drive term after its update
        Relaxed<float> damage;    // of the bound race state (0 without)
        Relaxed<uint32_t> frozen;
        Relaxed<uint32_t> rightingHeld;
        // The placed object's unscaled transform, kept while frozen.
        Relaxed<float> placement[16];
    };


    // A quad of templ on entity (which may be null: a quad of no body) at the
    // placed object's scale. Without a rigid body the quad has no inertia
    // or controller, but its parts are still matched. On a dynamic object
    // the quad gives its meshes their shader constants.
    Instance(QuadPhysics* templ, EntityManager::Entity* entity, float scale);
    // Stops the player's rumble, waits for the running step batch, takes
    // the controller off the body and itself off the object's meshes.
    ~Instance() override;
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    // The physics step (physics thread): ground damping by the contacts
    // down, the frozen quad held at its placement without gravity, the
    // three wheel units, the rear drive with its spin hysteresis, the
    // righting torque while the key is held, every component within
    // forceLimit. A body of non-finite pose or velocity gets nothing.
    void step(neRigidBody* body) override;

    // Main thread, at each sync while no step batch runs (after every piece
    // of a long frame): the body's pose and velocities and the contacts'
    // points, which the frame reads (the wheel visuals, the speed, the dirt,
    // the race) instead of the body; velocity follows unless frozen.
    void sync(neRigidBody& rigid) override;

    // The frame (main thread): what prepareRender follows of the body when
    // the last frame did not draw the quad (out of view), steering, the
    // throttle into the engine model, the engine following the rear wheels
    // unless frozen, the wheels' sliding, the engine's update, the entity's bounding radius, the
    // landing sound, the player's rumble following the engine, then what the
    // step needs published, and the collisions the physics thread recorded
    // since the last frame.
    void update() override;
    // Main thread, once a frame: a landing harder than landingThreshold, once
    // no wheel is still touching down, sounds at the quad (louder the harder,
    // at most one every landingGuard milliseconds) and pulses the player's
    // force feedback for 500 ms; impact is emptied either way.
    void playLanding();
    // Before drawing: followBody, then the handlebar, the rear follower and
    // the rider.
    void prepareRender() override;
    // What the race and the engine need of the body each frame, drawn or
    // not: the wheel units posed and turned with the ground, and (unless
    // frozen) the placed object following the quad and velocity the body's.
    void followBody();
    // Freezes (the quad is held at its placed object's unscaled placement,
    // without gravity or force) or releases it. Main thread; frozen written
    // directly takes effect with the next update.
    void setFrozen(uint32_t value);
    // Binds the race state (null: none). The player's quad starts the
    // rumble looping at gain 0. Main thread.
    void bindVehicle(Game::Vehicle* state);
    // The rear brake: the throttle axis pulled back while throttle input is
    // enabled and the quad rolls forward faster than brakeSpeed; else 0.
    float brakeInput() const;
    // Whether the quad belongs to the player's race state.
    bool isPlayer() const;
    // Whether a driver steers it: the opponent field, or an opponent driver
    // among its object's functions.
    bool isOpponent() const;

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
    // Between two pieces of a frame the physics steps in pieces: the
    // steering and throttle follow the controls over frameFactor reference
    // frames, the engine the rear wheels, and the step is handed what it
    // drives with (turn, brake, gear ratio); the frame's update does the rest.
    void drivePiece(float frameFactor);

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
    void onCollision(EntityManager::Physics::Collision& collision) override;
    // Main thread, once a frame: the strongest impact recorded since the last
    // call plays the body collision sound at the quad, 0.05 x (impact - 1)
    // loud (to the power 0.65, at most 1), and pulses the player's force
    // feedback for 200 ms (nothing of these while the sound system has no
    // device); a hit of another body with k above 0.4 damages the race state
    // by 0.15 k, heard or not.
    void playCollision();
    // Paints the body and the helmet (both needed): a grey upper half and
    // colour's three low bytes (in memory order) below, on new 32 x 32
    // textures in their first slot, and records their states again.
    void setColors(uint32_t colour);
    // Before sub is drawn: the follower of the rear swing arm gets a texture
    // transform that scrolls with the rear wheels' turn; others nothing.
    void setShaderConstants(EntityManager::SubEntity& sub, Shader& shader) override;

    // The turn of the steered parts: steer x 32 degrees about the up axis.
    matrix3d steerRotation() const;
    // Before drawing, after the wheels: the rider blended from the first
    // frames of "LeanRight", "LeanLeft", "Stand" and "Sit" by the steering,
    // the speed and the time in the air, and the rider's mesh skinned. A
    // missing animation leaves its blend out.
    void poseRider();
    // The grips of this frame from the handlebar as posed (false, and the
    // grips as they were, without a handlebar).
    bool placeGrips();
    // The helmet and its visor on the rider's bone 3 (nothing without
    // either part or the bone).
    void carryHelmet(const Mesh& driverMesh);
    // The rigid body, or null.
    neRigidBody* body() const;

    QuadPhysics* templ;
    EntityManager::Entity* entity;
    // The entity as a dynamic object (null on a bare entity) and the placed
    // object it was made from.
    DynObject* object = nullptr;
    Object* placed = nullptr;
    D3D::Device::SwapChain* swapChain = nullptr;
    // The record that drives the quad (the player's bindings or an opponent
    // driver's); null until the race binds one.
    Control* controls = nullptr;
    // The race state of the vehicle; null until the race binds it
    // (bindVehicle).
    Game::Vehicle* vehicle = nullptr;
    // Set while an opponent driver steers the quad.
    uint32_t opponent = 0;
    EntityManager::SubEntity* bodyParts[bodyPartCount] = {};
    Wheel wheels[3];
    float steer = 0.0f;
    // The strongest landing since the wheel-landing sound last took it.
    Relaxed<float> impact;
    // The body at the last sync.
    QuadBodyCopy synced;
    // The body's velocity, followed at each sync unless frozen.
    vec3d velocity;
    uint32_t frozen = 0;
    // prepareRender ran since the last update.
    uint32_t preparedForDrawing = 0;
    uint32_t nextCollisionSoundTime = 0;
    // How fast each wheel slides on the ground (0 off it): rear left, rear
    // right, front left, front right. Kept for the engine's sliding sound.
    float slidingInputs[4] = {};
    // The engine model (and its sound): the throttle, the engine speed from
    // the rear wheels, the gear and its drive term for the step.
    Audio::EngineSound engineSound;
    // Where the engine is heard: the entity's position, kept each frame.
    vec3d soundPosition;
    Published published;
    // The race clock of this step (physics thread), read at its first use:
    // a step of wheels that neither touch down, nor stay landed, nor lie in
    // oil needs no clock.
    uint32_t stepNow();
    uint32_t stepClock = 0;
    bool stepClockRead = false;
    float scale = 1.0f;
    // The template's body and wheel collision sounds, ready for 3D voices
    // (null without the sound).
    Audio::AudioFile* collisionSound = nullptr;
    Audio::AudioFile* wheelCollisionSound = nullptr;
    // The rider: the template's driver skeleton (shared by the quads of the
    // package, posed by each before its rider is skinned), the pose of this
    // frame, the grips for the hands, the two arms (hand, forearm, upper
    // arm), bone 3 for the helmet, and how far the rider stands.
    BoneAnim* driverSkeleton = nullptr;
    BoneAnim::Frame poseFrame;
    // The frame's two intermediate blends (lean, then stand), kept so that
    // no frame is made anew each frame.
    BoneAnim::Frame leanFrame;
    BoneAnim::Frame standFrame;
    matrix3d leftGrip = matrix3d::identity();
    matrix3d rightGrip = matrix3d::identity();
    BoneAnim::PoseChain leftArm;
    BoneAnim::PoseChain rightArm;
    Bone* driverBone3 = nullptr;
    float standBlend = 0.0f;
    // The strongest impact since the last playCollision (0: none) and the
    // other side's kind.
    std::atomic<float> strongestImpact{0.0f};
    std::atomic<uint32_t> impactKind{0};
    // The wheels' dirt, splashes and their sounds, and the exhaust's smoke;
    // set up by startEffects once the swap chain is known (QuadEffects.cpp).
    WheelDirt wheelDirt;
    ExhaustSmoke exhaustSmoke;
    void startEffects();

private:
    void matchParts();
    // The steering and throttle following the controls, the engine's speed
    // the rear wheels'.
    void followControls(float frameFactor);
    // What the step drives with: the front wheels' turn, brake, gear ratio
    // and damage.
    void publishDrive();
    // All the step reads: the drive, the righting key and the frozen pose.
    void publish();
    void publishFrozen();
    // Starts or stops the rumble as the bound race state is the player's or
    // not (the race may bind vehicle directly: the next update follows).
    void followRumble();
    uint32_t rumbling = 0;
    EntityManager::Physics::RigidBody* wrapper() const;
};
