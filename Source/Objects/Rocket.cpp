#include "Objects/Rocket.h"

#include "Objects/DynObject.h"
#include "Objects/Fire.h"
#include "Objects/PackageFields.h"

#include "Application/UserInput.h"
#include "Audio/AudioFile.h"
#include "Audio/Sound3D.h"
#include "Entity/Entity.h"
#include "Entity/ParticleSystem.h"
#include "Entity/StaticEntity.h"
#include "Entity/StoredMesh.h"
#include "Landscape/Terrain.h"
#include "Physics/EntityPhysics.h"
#include "Physics/PhysicsManager.h"
#include "Physics/neRigidBody.h"
#include "Race/RaceClock.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"
#include "Core/FileInterface.h"
#include "Core/Timer.h"

#include <d3dx9.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

using Rocket = ObjPkgManager::Functions::Rocket;

constexpr const wchar_t* textureNames[3] = {L"RocketFireA", L"RocketFireB", L"RocketSmoke"};
constexpr const wchar_t* soundNames[Rocket::soundCount] = {L"RocketLaunch", L"RocketFlyVehicle", L"RocketFly",
                                                           L"RocketExplo"};
constexpr int32_t terrainDetail = 3;

bool finite(const vec3d& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

bool finitePose(const matrix3d& m)
{
    for (float value : m.m)
        if (!std::isfinite(value))
            return false;
    return true;
}

// The sound type the file's first bytes give: wav, Ogg, or none.
uint32_t soundTypeOf(FileArray& bytes)
{
    if (bytes.size() >= 4 && std::memcmp(bytes.memory(), "RIFF", 4) == 0)
        return Audio::FileRef::typeWav;
    if (bytes.size() >= 4 && std::memcmp(bytes.memory(), "OggS", 4) == 0)
        return Audio::FileRef::typeOgg;
    return Audio::FileRef::typeNone;
}

void stopAndDelete(Audio::Sound3D*& sound)
{
    if (!sound)
        return;
    sound->stop();
    delete sound;
    sound = nullptr;
}

}

ObjPkgManager::Functions::Rocket::~Rocket()
{
    clear();
}

bool ObjPkgManager::Functions::Rocket::load(FileInterface& stream)
{
    CRASH_TRACE();
    return PackageFields::readBlock(stream, [&](uint32_t tag) {
        if (tag == 1 || tag == 3 || tag == 5)
            return PackageFields::readText(stream, imageNames[(tag - 1) / 2]);
        if (tag == 2 || tag == 4 || tag == 6) {
            const int i = int(tag / 2) - 1;
            textures[i].release();
            if (!FileInterface::copyBlockTo(stream, images[i]))
                return false;
            constexpr uint32_t fromFile = D3DX_DEFAULT;
            // An image the device refuses leaves the stand-in texture.
            if (images[i].size() > 0 &&
                Texture::loadFromMemory(images[i], nullptr, textures[i], String(textureNames[i]), fromFile, fromFile,
                                        1, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, fromFile))
                Texture::alphaFromRed(textures[i]);
            else
                textures[i].release();
            return true;
        }
        if (tag >= 7 && tag <= 10) {
            const int i = int(tag) - 7;
            if (soundRefs[i])
                Audio::AudioFile::unloadByRef(*soundRefs[i]);
            soundRefs[i].reset();
            if (!FileInterface::copyBlockTo(stream, sounds[i]))
                return false;
            const uint32_t type = soundTypeOf(sounds[i]);
            if (type != Audio::FileRef::typeNone)
                soundRefs[i].reset(new (std::nothrow) Audio::FileRef(&sounds[i], type, String(soundNames[i]), 0));
            return true;
        }
        return true;
    });
}

void ObjPkgManager::Functions::Rocket::clear()
{
    for (int i = 0; i < soundCount; ++i) {
        if (soundRefs[i])
            Audio::AudioFile::unloadByRef(*soundRefs[i]);
        soundRefs[i].reset();
        sounds[i].close();
    }
    for (TextureRef& texture : textures)
        texture.release();
}

ObjectFuncInstInterface* ObjPkgManager::Functions::Rocket::createInstance(Scene* scene, D3D::Device::SwapChain* chain,
                                                                          DynObject* owner)
{
    return new (std::nothrow) Instance(*this, scene, chain, owner);
}

ObjPkgManager::Functions::Rocket::Instance::Instance(Rocket& templ, Scene* ownerScene,
                                                     D3D::Device::SwapChain* swapChain, DynObject* owner)
    : owningTemplate(&templ), scene(ownerScene), chain(swapChain), rocket(owner)
{
    for (int i = 0; i < soundCount; ++i) {
        if (!templ.soundRefs[i])
            continue;
        files[i] = Audio::AudioFile::get(templ.soundRefs[i].get(), 12, 12, 12);
        if (files[i] && files[i]->type != Audio::AudioFile::typeNone)
            files[i]->setupBuffers(true, true, false, false);
        else
            files[i] = nullptr;
    }
}

ObjPkgManager::Functions::Rocket::Instance::~Instance()
{
    finishSounds();
}

void ObjPkgManager::Functions::Rocket::Instance::finishSounds()
{
    stopAndDelete(flyVehicleSound);
    stopAndDelete(flySound);
}

vec3d ObjPkgManager::Functions::Rocket::Instance::position() const
{
    return rocket ? rocket->world.row(3) : vec3d();
}

void ObjPkgManager::Functions::Rocket::Instance::fire(EntityManager::Entity* from, EntityManager::Entity* at,
                                                      float launcherSpeed, float poseScale, Victim* hit)
{
    CRASH_TRACE();
    if (!from || !at || !rocket || !finitePose(from->world) || !finite(at->worldBox.center) ||
        !std::isfinite(launcherSpeed) || !std::isfinite(poseScale)) {
        state = finished;
        return;
    }
    vec3d axes[3];
    for (int r = 0; r < 3; ++r)
        axes[r] = from->world.row(r).normalised();
    scale = poseScale;
    launcher = from;
    target = at;
    victim = hit;
    for (int r = 0; r < 3; ++r)
        rocket->world.setRow(r, axes[r] * scale);
    const vec3d start = from->world.row(3) + axes[1] * 0.8f + axes[2];
    rocket->world.setRow(3, start);
    direction = axes[2];
    speed = launcherSpeed + 8.0f;
    launchTime = raceNow() + launchMilliseconds;
    state = launching;
    launcherPosition = from->world.row(3);
    rocketPosition = start;
    if (files[flyVehicle] && !flyVehicleSound) {
        flyVehicleSound = new (std::nothrow) Audio::Sound3D(files[flyVehicle]);
        if (flyVehicleSound) {
            flyVehicleSound->attachPosition(&launcherPosition)->setDistances(1000.0f, 0.42f);
            flyVehicleSound->play(false);
        }
    }
}

void ObjPkgManager::Functions::Rocket::Instance::update()
{
    CRASH_TRACE();
    if (!target || !rocket) {
        state = finished;
        return;
    }
    if (state == finished)
        return;
    if (!finite(target->worldBox.center) || (launcher && !finitePose(launcher->world))) {
        finishSounds();
        setFireEffect(false);
        rocket->hidden = 1;
        state = finished;
        return;
    }
    const float ff = gFrameFactor.load(std::memory_order_relaxed);
    vec3d at = rocket->world.row(3);
    if (state == launching) {
        direction.y += (0.9f - direction.y) * Timer::easing(0.18f, ff);
        speed += (0.5f - speed) * Timer::easing(0.25f, ff);
        direction = direction.normalised();
        at += direction * (speed * ff);
        rocket->world.setRow(3, at);
        if (raceNow() > launchTime) {
            state = flying;
            setFireEffect(true);
            if (files[fly] && !flySound) {
                flySound = new (std::nothrow) Audio::Sound3D(files[fly]);
                if (flySound) {
                    flySound->attachPosition(&rocketPosition)->setDistances(2000.0f, 0.42f);
                    flySound->play(false);
                }
            }
        }
    } else if (state == flying) {
        vec3d desired = (target->worldBox.center - at).normalised();
        const float h = gTerrain.getHeight(at.x, at.z, terrainDetail);
        speed += (8.0f - speed) * Timer::easing(0.07f, ff);
        if (at.y < h + 1.0f) {
            // Over the ground the rocket keeps to the ground's plane.
            const vec3d n = Terrain::lastGroundNormal().normalised();
            desired = n.cross(desired).normalised().cross(n).normalised();
            at.y = h + 1.0f;
        }
        direction += (desired - direction) * Timer::easing(0.06f, ff);
        at += direction * (speed * ff);
        rocket->world.setRow(3, at);
        if (testHit()) {
            rocket->hidden = 1;
            setFireEffect(false);
            explode();
            finishSounds();
            state = finished;
        }
    }
    if (launcher)
        launcherPosition = launcher->world.row(3);
    rocketPosition = rocket->world.row(3);
    setPose();
}

void ObjPkgManager::Functions::Rocket::Instance::setPose()
{
    // A zero direction (a target at the rocket) keeps the last pose.
    const vec3d d = direction;
    if (!(d.lengthSq() > 0.0f) || !finite(d))
        return;
    vec3d a;
    if (std::fabs(d.y) > std::fabs(d.x))
        a = vec3d(0.0f, d.z, -d.y) / std::sqrt(d.y * d.y + d.z * d.z);
    else
        a = vec3d(-d.z, 0.0f, d.x) / std::sqrt(d.x * d.x + d.z * d.z);
    rocket->world.setRow(0, a * scale);
    rocket->world.setRow(1, d.cross(a) * scale);
    rocket->world.setRow(2, d * scale);
    if (rocket->object)
        rocket->object->setPosition(rocket->world.row(3), false);
    for (auto* node = rocket->subEntities.head(); node; node = node->next)
        node->item->moved = 1;
}

void ObjPkgManager::Functions::Rocket::Instance::setFireEffect(bool on)
{
    if (!rocket || !rocket->functions)
        return;
    DynObject::FunctionManager::Function* entry = rocket->functions->find(Fire::flag);
    auto* fires = entry ? dynamic_cast<Fire::Instance*>(entry->instance) : nullptr;
    if (Fire::Instance::Object* first = fires ? fires->object(0) : nullptr)
        first->setBurning(on);
}

bool ObjPkgManager::Functions::Rocket::Instance::testHit()
{
    const OrientedBox& box = rocket->worldBox;
    const vec3d nose = box.center + box.axes[2] * box.halfExtents.z;
    const vec3d ray = box.axes[2].normalised();
    const float step = speed * gFrameFactor.load(std::memory_order_relaxed);
    hitCentre = nose;
    hitRadius = step * 0.5f;
    hitRadiusSq = hitRadius * hitRadius;

    // The dynamic objects, except the rocket itself: its nose ray starts on
    // its own box. A box whose enclosing sphere lies off this step's stretch
    // of the ray is passed over before the exact test.
    const vec3d middle = nose + ray * (step * 0.5f);
    if (chain && chain->entities)
        for (auto* node = chain->entities->entities.head(); node; node = node->next) {
            EntityManager::Entity* entity = node->item;
            if (!entity || entity == rocket || entity->hidden)
                continue;
            const OrientedBox& other = entity->worldBox;
            const float reach = step * 0.5f + other.halfExtents.length();
            if ((other.center - middle).lengthSq() > reach * reach)
                continue;
            float t = 0.0f;
            if (entity->worldBox.intersectRay(nose, ray, t) != 7 && t >= 0.0f && t < step) {
                if (entity == target)
                    targetHit = 1;
                return true;
            }
        }
    if (!chain || !chain->staticEntities)
        return false;
    StaticEntityManager::SphereQuery query;
    query.centre = hitCentre;
    query.radius = hitRadius;
    return chain->staticEntities->findInSphere(query, *this) != 0;
}

uint32_t ObjPkgManager::Functions::Rocket::Instance::found(StaticEntity& entity)
{
    StaticEntity::Instance* live = entity.instance;
    if (!live || live == rocket)
        return 0;
    BoundingBox sphereBox;
    sphereBox.center = hitCentre;
    sphereBox.minimum = hitCentre - vec3d(hitRadius, hitRadius, hitRadius);
    sphereBox.maximum = hitCentre + vec3d(hitRadius, hitRadius, hitRadius);
    for (auto* node = live->subEntities.head(); node; node = node->next) {
        EntityManager::SubEntity& sub = *node->item;
        const EntityManager::StoredMesh::Tree* tree = sub.mesh().tree;
        if (!tree || !sub.world)
            continue;
        // The mesh's enclosing sphere first: most meshes in the touched
        // cells lie well away from the nose.
        const matrix3d& m = *sub.world;
        const float stretch = std::max({m.row(0).lengthSq(), m.row(1).lengthSq(), m.row(2).lengthSq()});
        const float reach = hitRadius + std::sqrt(stretch) * sub.localBox.halfExtents.length();
        if ((m.transformPoint(sub.localBox.center) - hitCentre).lengthSq() > reach * reach)
            continue;
        if (tree->overlapsAlignedBox(*sub.world, sphereBox)) {
            if (live == target)
                targetHit = 1;
            return 1;
        }
    }
    return 0;
}

void ObjPkgManager::Functions::Rocket::Instance::explode()
{
    CRASH_TRACE();
    const vec3d at = rocket->world.row(3);
    const vec3d e = -rocket->world.row(2).normalised();
    if (chain && chain->particles) {
        struct Effect
        {
            ParticleSystem::Callback callback;
            int textureIndex;
            int32_t count;
            uint32_t destination;
        };
        const Effect effects[3] = {{&Instance::burstParticle, 0, 25, D3DBLEND_ONE},
                                   {&Instance::emberParticle, 1, 65, D3DBLEND_ONE},
                                   {&Instance::smokeParticle, 2, 30, D3DBLEND_INVSRCALPHA}};
        for (int i = 0; i < 3; ++i) {
            // The particle manager deletes each system once it is empty.
            auto* system = new (std::nothrow)
                ParticleSystem(effects[i].callback, D3DBLEND_SRCALPHA, *chain,
                               owningTemplate->textures[effects[i].textureIndex], effects[i].count,
                               effects[i].destination, 1, false, true, true);
            if (!system)
                continue;
            system->emitterPosition = at;
            system->emitterDirection = e;
            if (i == 0)
                system->emitterValues[0] = 2.0f;
            if (i == 2) {
                system->emitterValues[1] = 0.1f;
                system->emitterValues[3] = 0.1f;
            }
            system->stopped = 0;
        }
    }
    if (files[explosion]) {
        Audio::Sound3D* bang = Audio::Sound3D::create(files[explosion]);
        if (bang) {
            bang->setPosition(at)->setDistances(6000.0f, 0.42f);
            bang->play(false);
        }
    }
    if (!targetHit || !target)
        return;
    if (victim)
        victim->addDamage(0.5f);
    EntityManager::Physics* physics = target->physics;
    if (physics && physics->rigidBody && physics->rigidBody->body) {
        // The body is pushed between two steps of the physics thread.
        if (target->manager)
            target->manager->physicsManager->waitForStepEnd();
        physics->rigidBody->body->applyImpulseAtPosition(e * 10.0f, at);
    }
    if (victim && victim->forceFeedback())
        gUserInput.startEffect(1000, 1.0f, 1);
}
