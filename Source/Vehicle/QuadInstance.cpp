// The quad bike instance: how it is built and torn down, its controls and
// the services the race asks of it.
#include "Vehicle/QuadInstance.h"

#include "Vehicle/BoneSkinning.h"

#include "Objects/DynObject.h"
#include "Objects/PackageMesh.h"

#include "Application/ControlBindings.h"
#include "Application/UserInput.h"
#include "Audio/Audio.h"
#include "Audio/AudioFile.h"
#include "Audio/Sound3D.h"
#include "Render/D3DDevice.h"
#include "Entity/Entity.h"
#include "Entity/StoredMesh.h"
#include "Landscape/Terrain.h"
#include "Physics/PhysicsManager.h"
#include "Physics/neMath.h"
#include "Physics/neRigidBody.h"
#include "Race/GameVehicle.h"
#include "Race/RaceClock.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"
#include "Core/Timer.h"

#include "TextureRecord.h"

#include <d3d9.h>

#include <algorithm>
#include <cmath>
#include <new>

namespace {

using QuadPhysics = ObjPkgManager::Functions::QuadPhysics;
using Wheel = QuadPhysics::Wheel;

// The template role of each wheel unit's parts: swing arm, shock absorber,
// steering part, wheel (0: the unit has no such part).
constexpr int32_t wheelRoles[3][Wheel::partCount] = {
    {QuadPhysics::frontLeftSwingArm, QuadPhysics::frontLeftShock, QuadPhysics::frontLeftSteering,
     QuadPhysics::frontLeftWheel},
    {QuadPhysics::frontRightSwingArm, QuadPhysics::frontRightShock, QuadPhysics::frontRightSteering,
     QuadPhysics::frontRightWheel},
    {QuadPhysics::rearSwingArm, QuadPhysics::rearShock, 0, QuadPhysics::rearWheels},
};
// bodyParts 0 to 5 are roles 12 to 17.
constexpr int32_t firstBodyRole = QuadPhysics::handlebar;

// The dirt the wheel dirt effect paints goes onto these textures, made in
// the slot of the wheels' and the body's second texture, which their draw
// lays over the first.
const wchar_t* dirtTextureName(int32_t role)
{
    switch (role) {
    case QuadPhysics::rearWheels: return L"WheelDirtBehind";
    case QuadPhysics::frontLeftWheel: return L"WheelDirtLeft";
    case QuadPhysics::frontRightWheel: return L"WheelDirtRight";
    case QuadPhysics::body: return L"DirtBody";
    default: return nullptr;
    }
}
constexpr uint32_t paintedSize = 32;
// The front wheels turn by up to this many degrees.
constexpr float steeringDegrees = 32.0f;
constexpr float radiansPerDegree = 3.14159265f / 180.0f;

// A 3D-ready audio file of sound with room for voices sounds at once.
Audio::AudioFile* prepared(Audio::FileRef* sound, int32_t voices)
{
    Audio::AudioFile* file = sound ? Audio::AudioFile::get(sound, 0, voices, 1) : nullptr;
    if (file)
        file->setupBuffers(true, true, false, false);
    return file;
}

void raiseTo(std::atomic<float>& word, float value)
{
    float current = word.load();
    while (value > current && !word.compare_exchange_weak(current, value)) {
    }
}

float lengthOf(const vec3d& v)
{
    const float squared = v.lengthSq();
    return squared > 0.0f ? fastSqrt(squared) : 0.0f;
}

// v scaled to length 1; a zero vector stays as it is.
vec3d unit(const vec3d& v)
{
    const float length = lengthOf(v);
    return length > 0.0f ? v * (1.0f / length) : v;
}

}

QuadPhysics::Instance* QuadPhysics::createInstance(QuadPhysics* quadTemplate, D3D::Device::SwapChain* chain,
                                                DynObject* owner)
{
    const float placedScale = owner && owner->object ? owner->object->scale : 1.0f;
    Instance* quad = new (std::nothrow) Instance(quadTemplate, owner, placedScale);
    if (quad) {
        quad->swapChain = chain;
        quad->startEffects();
    }
    return quad;
}

QuadPhysics::Instance::Instance(QuadPhysics* quadTemplate, EntityManager::Entity* owner, float placedScale)
    : templ(quadTemplate), entity(owner), object(dynamic_cast<DynObject*>(owner)), scale(placedScale)
{
    CRASH_TRACE();
    placed = object ? object->object : nullptr;
    engineSound.clock = gRaceClock;
    if (!templ)
        return;
    if (entity)
        soundPosition = entity->world.row(3);
    engineSound.init(templ->sound(engine1000), templ->sound(engine1000Gas), templ->sound(engine3000),
                     templ->sound(engine3000Gas), entity ? &soundPosition : nullptr);
    collisionSound = prepared(templ->sound(bodyCollision), 6);
    wheelCollisionSound = prepared(templ->sound(wheelCollision), 16);
    if (Mesh* driverMesh = templ->mesh(QuadPhysics::driver); driverMesh && driverMesh->getBoneAnim()->hasBones()) {
        driverSkeleton = driverMesh->getBoneAnim();
        BoneAnim::Player stand;
        stand.anim = driverSkeleton;
        BoneAnim::selectAnimation(stand, String(L"Stand"), false);
        if (const BoneAnim::Frame* first = stand.current ? stand.current->frame(0) : nullptr)
            driverSkeleton->applyFrame(*first);
        // The arms run hand, forearm, upper arm; bone 3 carries the helmet.
        driverSkeleton->getThreeBones(leftArm, 12, 11, 10);
        driverSkeleton->getThreeBones(rightArm, 7, 6, 5);
        for (BoneAnim::PoseChain* arm : {&leftArm, &rightArm})
            arm->enabled = arm->bones[0] && arm->bones[1] && arm->bones[2] ? 1 : 0;
        driverBone3 = driverSkeleton->getBoneByIndex(3);
    }
    if (!entity)
        return;
    neRigidBody* rigid = body();
    float mass = 0.0f;
    // The body is the physics thread's while a batch runs.
    if (rigid && entity->manager)
        entity->manager->physicsManager->waitForStepEnd();
    if (rigid) {
        matrix3d* t = rigid->getTransform();
        t->m[3] = t->m[7] = t->m[11] = 0.0f;
        t->m[15] = 1.0f;
        mass = rigid->mass;
    }
    matchParts();
    if (rigid) {
        // The body turns like a cube of the largest of its three half sizes.
        rigid->setInertiaTensor(cubeInertiaTensor(1.14f * scale, 0.912f * scale, 1.368f * scale, mass));
        wrapper()->addController(this);
        sync(*rigid);
    }
    if (object)
        object->shaderInterface = this;
    wheels[Wheel::frontLeft].setUpWheel(this, Wheel::frontLeft, scale, templ->frontSpring, templ->frontDamper);
    wheels[Wheel::frontRight].setUpWheel(this, Wheel::frontRight, scale, templ->frontSpring, templ->frontDamper);
    wheels[Wheel::rearAxle].setUpWheel(this, Wheel::rearAxle, scale, templ->rearSpring, templ->rearDamper);
    update();
}

QuadPhysics::Instance::~Instance()
{
    CRASH_TRACE();
    if (rumbling)
        gUserInput.stopRumble();
    if (object && object->shaderInterface == static_cast<ObjPkgManager::ShaderInterface*>(this))
        object->shaderInterface = nullptr;
    if (EntityManager::Physics::RigidBody* record = wrapper()) {
        // The physics thread steps the body's controllers: none goes mid-batch.
        if (entity->manager)
            entity->manager->physicsManager->waitForStepEnd();
        record->removeController(this);
    }
    engineSound.release();
}

void QuadPhysics::Instance::bindVehicle(Game::Vehicle* state)
{
    vehicle = state;
    followRumble();
}

void QuadPhysics::Instance::followRumble()
{
    // The player's quad rumbles from its binding until it leaves the player
    // (or goes); the frame's gain sets how strongly.
    const uint32_t player = isPlayer() ? 1u : 0u;
    if (player == rumbling)
        return;
    rumbling = player;
    if (player) {
        gUserInput.startRumble();
        gUserInput.setEffectGain(0.0f);
    } else {
        gUserInput.stopRumble();
    }
}

bool QuadPhysics::Instance::isPlayer() const
{
    return vehicle && vehicle->isPlayer;
}

bool QuadPhysics::Instance::isOpponent() const
{
    return opponent || (object && object->functions && object->functions->find(DynObject::FunctionManager::aiDriverFlag));
}

void QuadPhysics::Instance::setFrozen(uint32_t value)
{
    frozen = value ? 1 : 0;
    publishFrozen();
}

void QuadPhysics::Instance::publishFrozen()
{
    // The placement is taken when the quad freezes, so the step never holds
    // it anywhere else.
    if (frozen && !published.frozen) {
        matrix3d placement = matrix3d::identity();
        if (placed) {
            placed->getTransform(placement, true);
        } else if (body()) {
            placement = synced.pose;
        }
        for (int i = 0; i < 16; ++i)
            published.placement[i] = placement.m[i];
    }
    published.frozen = frozen ? 1u : 0u;
}

float QuadPhysics::Instance::brakeInput() const
{
    const float x =
        controls && (controls->enabledActions & Control::Throttle) ? controls->getStrongerValue(Control::Throttle) : 0.0f;
    const float forward = entity ? unit(entity->world.row(2)).dot(velocity) : 0.0f;
    return x < 0.0f && forward > brakeSpeed ? -x : 0.0f;
}

void QuadPhysics::Instance::update()
{
    if (!entity)
        return;
    // A quad out of view was not prepared for drawing last frame: its wheels
    // still turn with the ground (the engine follows the rear ones), and its
    // velocity and placed object still follow the body.
    if (!preparedForDrawing)
        followBody();
    preparedForDrawing = 0;
    // A frame the physics steps in pieces follows the controls once a piece:
    // this is the last piece's share, the race did the others between them.
    const float piece = vehicle && vehicle->game ? vehicle->game->pieceFactor() : 0.0f;
    followControls(piece > 0.0f ? piece : gFrameFactor.load(std::memory_order_relaxed));
    const Wheel& rear = wheels[Wheel::rearAxle];
    slidingInputs[0] = rear.grounded ? float(rear.contacts[0].slideSpeed) : 0.0f;
    slidingInputs[1] = rear.grounded ? float(rear.contacts[1].slideSpeed) : 0.0f;
    for (int32_t front : {Wheel::frontLeft, Wheel::frontRight}) {
        const Wheel& wheel = wheels[front];
        slidingInputs[2 + front] = wheel.grounded ? float(wheel.contacts[0].slideSpeed) : 0.0f;
    }
    soundPosition = entity->world.row(3);
    engineSound.update();
    // The bounding sphere holds the box's corner.
    const OrientedBox& box = entity->worldBox;
    const vec3d corner =
        box.axes[0] * box.halfExtents.x + box.axes[1] * box.halfExtents.y + box.axes[2] * box.halfExtents.z;
    entity->worldBounds.radiusSq = corner.dot(corner);
    entity->worldBounds.radius = std::sqrt(entity->worldBounds.radiusSq);
    wheelDirt.update();
    exhaustSmoke.update();
    playLanding();
    followRumble();
    // Only the player's quad sets the rumble: the opponents' engines would
    // otherwise take it over, the last one updated winning.
    if (rumbling) {
        const bool paused = vehicle && vehicle->game && vehicle->game->paused;
        const bool steering = controls && (controls->enabledActions & Control::Steering);
        gUserInput.setEffectGain(steering && !paused ? 0.2f + 0.16f * engineSound.pitchTerm : 0.0f);
    }
    publish();
    playCollision();
}

void QuadPhysics::Instance::followControls(float frameFactor)
{
    updateSteering(frameFactor);
    engineSound.smoothThrottle(throttleInput(), frameFactor);
    engineSound.free = frozen;
    if (!frozen)
        engineSound.speed = wheels[Wheel::rearAxle].spin * 0.11f * engineSound.speedScale;
}

void QuadPhysics::Instance::drivePiece(float frameFactor)
{
    followControls(frameFactor);
    publishDrive();
}

void QuadPhysics::Instance::playLanding()
{
    if (!(impact > landingThreshold))
        return;
    for (const Wheel& wheel : wheels)
        if (wheel.contacts[0].landed || (wheel.index == Wheel::rearAxle && wheel.contacts[1].landed))
            return;
    const uint32_t now = raceNow();
    if (int32_t(now - nextCollisionSoundTime) > 0) {
        const float a = (impact - landingThreshold) * landingSlope;
        const float volume = std::clamp(a + landingBase, 0.0f, landingLimit);
        if (wheelCollisionSound) {
            Audio::Sound3D* sound = Audio::Sound3D::create(wheelCollisionSound);
            sound->setDistances(1000.0f, 0.42f);
            // A one-shot may outlive the quad: it keeps the place of the landing.
            sound->setPosition(entity->world.row(3));
            sound->setVolume(volume)->play(false);
        }
        if (isPlayer())
            gUserInput.startEffect(500, std::clamp(a, 0.0f, 1.0f), 0);
        nextCollisionSoundTime = now + landingGuard;
    }
    impact = 0.0f;
}

void QuadPhysics::Instance::publishDrive()
{
    const float turn = steer * steeringDegrees * radiansPerDegree;
    published.steerCos = std::cos(turn);
    published.steerSin = std::sin(turn);
    published.brake = brakeInput();
    published.gearRatio = engineSound.getGearRatio();
    published.damage = vehicle ? vehicle->damage : 0.0f;
}

void QuadPhysics::Instance::publish()
{
    publishDrive();
    published.rightingHeld = gUserInput.state.keyHeld[rightingKey] ? 1u : 0u;
    publishFrozen();
}

void QuadPhysics::Instance::sync(neRigidBody& rigid)
{
    synced.pose = *rigid.getTransform();
    synced.pose.m[3] = synced.pose.m[7] = synced.pose.m[11] = 0.0f;
    synced.pose.m[15] = 1.0f;
    synced.velocity = rigid.velocity;
    synced.angularVelocity = rigid.angularVelocity;
    for (Wheel& wheel : wheels)
        wheel.sync();
    // A long frame syncs after each of its pieces, and the drivers look
    // between them: the speed they read is the piece's, as the place is.
    if (!frozen)
        velocity = synced.velocity;
}

void QuadPhysics::Instance::followBody()
{
    const float frameTime = gFrameTime.load(std::memory_order_relaxed);
    const matrix3d turn = steerRotation();
    if (body())
        for (Wheel& wheel : wheels)
            wheel.updateWheelVisual(synced, turn, wheel.index == Wheel::rearAxle ? brakeInput() : 0.0f, frameTime);
    if (!frozen) {
        if (placed)
            placed->setPosition(entity->world.row(3) + vec3d(0.0f, 3.0f, 0.0f), false);
        if (body())
            velocity = synced.velocity;
    }
}

void QuadPhysics::Instance::prepareRender()
{
    if (!entity)
        return;
    followBody();
    preparedForDrawing = 1;
    const matrix3d turn = steerRotation();
    if (EntityManager::SubEntity* handlebar = bodyParts[0]) {
        handlebar->local = turn * templ->mesh(QuadPhysics::handlebar)->world;
        handlebar->own = handlebar->local * entity->world;
    }
    // The rear follower rides on the rear swing arm, where the package puts
    // it beside the arm.
    const Wheel& rear = wheels[Wheel::rearAxle];
    if (EntityManager::SubEntity* follower = bodyParts[1]; follower && rear.parts[0] && rear.partMeshes[0]) {
        matrix3d fromArm;
        if (rear.partMeshes[0]->world.inverseAffine(fromArm))
            follower->own = templ->mesh(rearFollower)->world * fromArm * rear.parts[0]->own;
    }
    poseRider();
}

namespace {

const BoneAnim::Frame* firstFrame(const BoneAnim& skeleton, const wchar_t* name)
{
    BoneAnim::Animation* animation = skeleton.findAnimation(String(name));
    return animation ? animation->frame(0) : nullptr;
}

}

void QuadPhysics::Instance::poseRider()
{
    Mesh* driverMesh = templ ? templ->mesh(QuadPhysics::driver) : nullptr;
    if (!driverSkeleton || !driverMesh)
        return;
    // How the rider sits: leaning with the steering, more so with speed, and
    // standing up in the air.
    const bool driving = controls && (controls->enabledActions & Control::Throttle);
    const float lean = (1.0f - steer) * 0.5f;
    const float speedWeight = driving ? std::clamp(velocity.length() * 0.04f, 0.0f, 1.0f) : 0.0f;
    const bool airborne = !wheels[0].grounded && !wheels[1].grounded && !wheels[2].grounded;
    const float target = driving && airborne ? 1.0f : 0.0f;
    standBlend = std::clamp(standBlend + (target - standBlend) * gFrameTime.load(std::memory_order_relaxed) * 0.12f,
                            0.0f, 1.0f);
    const BoneAnim& skeleton = *driverSkeleton;
    const int32_t bones = skeleton.boneCount;
    const BoneAnim::Frame* leanRight = firstFrame(skeleton, L"LeanRight");
    const BoneAnim::Frame* leanLeft = firstFrame(skeleton, L"LeanLeft");
    const BoneAnim::Frame* stand = firstFrame(skeleton, L"Stand");
    const BoneAnim::Frame* sit = firstFrame(skeleton, L"Sit");
    // Each blend needs both its frames; without one the other passes on.
    const BoneAnim::Frame* a = leanRight ? leanRight : leanLeft;
    if (leanRight && leanLeft) {
        leanFrame.blend(*leanRight, *leanLeft, lean, bones);
        a = &leanFrame;
    }
    const BoneAnim::Frame* b = a ? a : stand;
    if (a && stand) {
        standFrame.blend(*a, *stand, (1.0f - std::fabs(steer)) * standBlend, bones);
        b = &standFrame;
    }
    if (sit && b)
        poseFrame.blend(*sit, *b, speedWeight, bones);
    else if (const BoneAnim::Frame* only = b ? b : sit)
        poseFrame = *only;
    else
        return;
    driverSkeleton->applyFrame(poseFrame);
    // The hands reach for the grips (none without a handlebar): the arm
    // solves work in the rider's placement.
    if (placeGrips()) {
        const matrix3d riderPlace = driverMesh->world * entity->world;
        leftArm.target = leftGrip;
        driverSkeleton->computePose(leftArm, riderPlace);
        rightArm.target = rightGrip;
        driverSkeleton->computePose(rightArm, riderPlace);
    }
    if (EntityManager::SubEntity* rider = bodyParts[3])
        skinVerticesByBone(rider->mesh(), *driverMesh);
    carryHelmet(*driverMesh);
}

namespace {

// A turn about the x axis by the angle of cosine c and sine s: rows (1, 0, 0),
// (0, c, s), (0, -s, c).
matrix3d turnAboutX(float c, float s)
{
    matrix3d m = matrix3d::identity();
    m.m[5] = c;
    m.m[6] = s;
    m.m[9] = -s;
    m.m[10] = c;
    return m;
}

// The hands' forward tilt over the grips.
matrix3d gripTilt()
{
    const float tilt = QuadPhysics::Instance::gripTiltDegrees * radiansPerDegree;
    return turnAboutX(std::cos(tilt), std::sin(tilt));
}

// The right hand's half turn about the up axis.
matrix3d gripTurn()
{
    const float half = -180.0f * radiansPerDegree;
    matrix3d turned = matrix3d::identity();
    turned.m[0] = std::cos(half);
    turned.m[2] = -std::sin(half);
    turned.m[8] = std::sin(half);
    turned.m[10] = std::cos(half);
    return turned;
}

}

bool QuadPhysics::Instance::placeGrips()
{
    EntityManager::SubEntity* handlebar = bodyParts[0];
    if (!handlebar || !entity)
        return false;
    // The grips sit on the handlebar as it turns, 1.78 up its frame, a little
    // back and 0.8 to each side.
    const matrix3d bar = handlebar->local * entity->world;
    const vec3d r = bar.row(0), u = bar.row(1), f = bar.row(2), p = bar.row(3);
    leftGrip = rightGrip = bar;
    leftGrip.setRow(3, p + u * gripHeight - f * gripBack - r * gripSide);
    rightGrip.setRow(3, p + u * gripHeight - f * gripBack + r * gripSide);
    for (matrix3d* grip : {&leftGrip, &rightGrip})
        for (int row = 0; row < 3; ++row)
            grip->setRow(row, unit(grip->row(row)));
    // Both hands tilted forward over the grips; the right one turned round.
    static const matrix3d tilted = gripTilt();
    static const matrix3d turnedTilted = gripTurn() * tilted;
    leftGrip = tilted * leftGrip;
    rightGrip = turnedTilted * rightGrip;
    return true;
}

void QuadPhysics::Instance::carryHelmet(const Mesh& driverMesh)
{
    EntityManager::SubEntity* helmet = bodyParts[4];
    EntityManager::SubEntity* visor = bodyParts[5];
    if (!helmet || !visor || !driverBone3 || !entity)
        return;
    // Halfway up bone 3 in the rider's placement, the parts' frame grown by
    // helmetScale and turned half round about its right axis.
    matrix3d carried = static_cast<const matrix3d&>(*driverBone3) * driverMesh.world;
    carried.setRow(3, carried.row(3) - carried.row(1) * 0.5f);
    carried.setRow(0, carried.row(0) * helmetScale);
    carried.setRow(1, carried.row(1) * -helmetScale);
    carried.setRow(2, carried.row(2) * -helmetScale);
    for (EntityManager::SubEntity* part : {helmet, visor}) {
        part->local = carried;
        if (part->followsEntity)
            part->own = carried * entity->world;
        part->localBox = part->mesh().box.carried(carried);
    }
}

void QuadPhysics::Instance::matchParts()
{
    for (auto* node = entity->subEntities.head(); node; node = node->next) {
        EntityManager::SubEntity* sub = node->item;
        const String& name = sub->mesh().name;
        for (int32_t role = 1; role <= roleCount; ++role) {
            Mesh* mesh = templ->mesh(role);
            if (!mesh || !mesh->getName()->sameText(name))
                continue;
            if (const wchar_t* dirt = dirtTextureName(role)) {
                TextureRef& texture = sub->material.textures[DynObject::overlaySlot];
                if (Texture::create(texture, String(dirt), paintedSize, paintedSize, 1, 0, D3DFMT_A8R8G8B8,
                                    D3DPOOL_MANAGED)) {
                    const uint8_t clear[4] = {0, 0, 0, 0};
                    Texture::fillRect(texture, -1, -1, -1, -1, clear, 0, false, true);
                    sub->recordStateBlocks();
                }
            }
            if (role >= firstBodyRole) {
                bodyParts[role - firstBodyRole] = sub;
                // The follower of the rear swing arm is placed by the quad.
                if (role == rearFollower)
                    sub->followsEntity = 0;
                continue;
            }
            for (int32_t unit = 0; unit < 3; ++unit)
                for (int32_t part = 0; part < Wheel::partCount; ++part)
                    if (wheelRoles[unit][part] == role) {
                        wheels[unit].parts[part] = sub;
                        wheels[unit].partMeshes[part] = mesh;
                    }
        }
    }
}

matrix3d QuadPhysics::Instance::steerRotation() const
{
    const float turn = steer * steeringDegrees * radiansPerDegree;
    const float c = std::cos(turn), s = std::sin(turn);
    matrix3d m = matrix3d::identity();
    m.m[0] = c;
    m.m[2] = -s;
    m.m[8] = s;
    m.m[10] = c;
    return m;
}

neRigidBody* QuadPhysics::Instance::body() const
{
    EntityManager::Physics::RigidBody* record = wrapper();
    return record ? record->body : nullptr;
}

EntityManager::Physics::RigidBody* QuadPhysics::Instance::wrapper() const
{
    return entity && entity->physics ? entity->physics->rigidBody : nullptr;
}


float QuadPhysics::Instance::throttleInput() const
{
    const float t =
        controls && (controls->enabledActions & Control::Throttle) ? controls->getStrongerValue(Control::Throttle) : 0.0f;
    const float forward = entity ? unit(entity->world.row(2)).dot(velocity) : 0.0f;
    if (controls && controls->getStrongerValue(0x10) > 0.0f && vehicle && vehicle->nitro > 0.05f)
        return 1.0f;
    if (t < 0.0f && forward > brakeSpeed)
        return 0.0f;
    return t;
}

void QuadPhysics::Instance::updateSteering(float frameFactor)
{
    const float s =
        controls && (controls->enabledActions & Control::Steering) ? controls->getStrongerValue(Control::Steering) : 0.0f;
    const float d = steer - s;
    float step = d;
    float rate = opponentSteerRate;
    if (!isOpponent()) {
        rate = playerSteerRate;
        if (std::fabs(s) > 0.1f) {
            const float exponent = controls ? float(controls->steeringMode) : 1.0f;
            step = std::copysign(std::pow(std::fabs(d), exponent), d);
        }
    }
    steer -= step * rate * frameFactor;
}

int32_t QuadPhysics::Instance::getSpeed() const
{
    if (!entity)
        return 0;
    const vec3d d = unit(entity->world.row(0).cross(wheels[Wheel::rearAxle].contacts[0].synced.groundNormal));
    return int32_t(std::fabs(d.dot(velocity)) * 2.4f);
}

uint32_t QuadPhysics::Instance::isOverturned() const
{
    if (!entity)
        return 0;
    const OrientedBox& box = entity->worldBox;
    const vec3d& c = box.center;
    if (gTerrain.getHeight(c.x, c.z, 1) > c.y)
        return 1;
    const vec3d up = entity->world.row(1);
    bool anyGrounded = false, anySteep = false;
    for (const Wheel& wheel : wheels) {
        anyGrounded = anyGrounded || wheel.grounded;
        anySteep = anySteep || wheel.steep;
    }
    if (!anyGrounded && unit(up).y < 0.1f)
        return 1;
    if (anySteep)
        return 1;
    if (up.y >= 0.0f)
        return 0;
    const vec3d p = entity->world.row(3);
    return gTerrain.getHeight(p.x, p.z, 3) > c.y + 2.0f * box.axes[1].y * box.halfExtents.y ? 1 : 0;
}

void QuadPhysics::Instance::placeOnTerrain(const vec3d& p, const vec3d* side)
{
    CRASH_TRACE();
    neRigidBody* rigid = body();
    if (!rigid)
        return;
    if (entity->manager)
        entity->manager->physicsManager->waitForStepEnd();
    matrix3d* t = rigid->getTransform();
    t->m[3] = t->m[7] = t->m[11] = 0.0f;
    t->m[15] = 1.0f;
    const OrientedBox& box = entity->worldBox;
    const float height = 2.0f * box.halfExtents.y * lengthOf(box.axes[1]);
    const float ground = gTerrain.getHeight(p.x, p.z, 3);
    const vec3d n = unit(Terrain::lastGroundNormal());
    vec3d right, forward;
    if (!side) {
        right = unit(n.cross(t->row(2)));
        forward = unit(right.cross(n));
    } else {
        forward = unit(side->cross(n));
        right = unit(n.cross(forward));
    }
    matrix3d pose = matrix3d::identity();
    pose.setRow(0, right);
    pose.setRow(1, n);
    pose.setRow(2, forward);
    pose.setRow(3, {p.x, ground + 0.6f * height, p.z});
    rigid->setPose(pose);
    rigid->velocity = vec3d();
    rigid->wakeUp();
    rigid->setAngularMomentum(vec3d());
    rigid->wakeUp();
    sync(*rigid);
}

void QuadPhysics::Instance::onCollision(EntityManager::Physics::Collision& collision)
{
    const vec3d& a = collision.relativeVelocity;
    const vec3d& b = collision.normal;
    const float impactLength = lengthOf({a.x * b.x, a.y * b.y, a.z * b.z});
    if (!(impactLength - 1.0f > 0.0f) || impactLength <= strongestImpact.load())
        return;
    // The kind goes with the strongest impact; a race between two stronger
    // ones keeps either kind, which is good enough for one sound.
    impactKind.store(collision.otherType);
    raiseTo(strongestImpact, impactLength);
}

void QuadPhysics::Instance::playCollision()
{
    const float impactLength = strongestImpact.exchange(0.0f);
    if (!(impactLength > 1.0f))
        return;
    const float k = std::min(0.05f * (impactLength - 1.0f), 1.0f);
    if (Audio::isEnabled()) {
        if (collisionSound) {
            Audio::Sound3D* sound = Audio::Sound3D::create(collisionSound);
            sound->setDistances(1000.0f, 0.42f);
            // A one-shot may outlive the quad: it keeps the place of the impact.
            if (entity)
                sound->setPosition(entity->world.row(3));
            sound->setVolume(std::pow(k, 0.65f))->play(false);
        }
        if (isPlayer())
            gUserInput.startEffect(200, impactLength * impactLength, 0);
    }
    // A hit of another body damages the quad whether or not it is heard.
    if (vehicle && k > 0.4f && impactKind.load() == EntityManager::Physics::rigidContact)
        vehicle->addDamage(0.15f * k);
}

void QuadPhysics::Instance::setColors(uint32_t colour)
{
    EntityManager::SubEntity* painted[2] = {bodyParts[2], bodyParts[4]};
    if (!painted[0] || !painted[1])
        return;
    const wchar_t* names[2] = {L"QuadBodyColor", L"DriverHelmetColor"};
    const uint8_t upper[2][4] = {{0x3A, 0x3A, 0x3A, 0x00}, {0xC8, 0xC8, 0xC8, 0xFF}};
    const uint8_t lowerAlpha[2] = {0x3F, 0x49};
    for (int i = 0; i < 2; ++i) {
        TextureRef& texture = painted[i]->material.textures[0];
        if (!Texture::create(texture, String(names[i]), paintedSize, paintedSize, 1, 0, D3DFMT_A8R8G8B8,
                             D3DPOOL_MANAGED))
            continue;
        const uint8_t lower[4] = {uint8_t(colour), uint8_t(colour >> 8), uint8_t(colour >> 16), lowerAlpha[i]};
        Texture::fillRect(texture, 0, int32_t(paintedSize) - 1, 0, 15, upper[i], 0, false, true);
        Texture::fillRect(texture, 0, int32_t(paintedSize) - 1, 16, int32_t(paintedSize) - 1, lower, 0, false, true);
    }
    painted[0]->recordStateBlocks();
    painted[1]->recordStateBlocks();
}

void QuadPhysics::Instance::setShaderConstants(EntityManager::SubEntity& sub, Shader&)
{
    if (&sub != bodyParts[1] || !gDevice)
        return;
    D3DMATRIX scroll{};
    scroll._11 = scroll._22 = scroll._33 = scroll._44 = 1.0f;
    scroll._31 = 0.01f * wheels[Wheel::rearAxle].spinAngle;
    gDevice->SetTransform(D3DTS_TEXTURE0, &scroll);
}
