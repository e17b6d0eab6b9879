#include "Objects/Bush.h"

#include "Objects/DynObject.h"
#include "Objects/PackageFields.h"
#include "Objects/PackageSounds.h"

#include "Audio/AudioFile.h"
#include "Audio/Sound3D.h"
#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Physics/EntityPhysics.h"
#include "Physics/PhysicsManager.h"
#include "Physics/neRigidBody.h"
#include "Race/GameVehicle.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"
#include "Core/FileInterface.h"
#include "Core/Math.h"
#include "Core/Timer.h"

#include <d3dx9.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

namespace {

using Bush = ObjPkgManager::Functions::Bush;

constexpr float leastShake = 0.001f;

float randomUnit()
{
    return float(std::rand()) / 32767.0f;
}

float frameFactor()
{
    return gFrameFactor.load(std::memory_order_relaxed);
}

// The image in bytes as a texture of name and format; false (ref as it
// was) when there is none or the device refuses it.
bool textureFrom(FileArray& bytes, TextureRef& ref, const wchar_t* name, uint32_t format)
{
    if (bytes.size() == 0)
        return false;
    bytes.seek(0, 0);
    constexpr uint32_t fromFile = D3DX_DEFAULT;
    return Texture::loadFromMemory(bytes, nullptr, ref, String(name), fromFile, fromFile, 1, format, D3DPOOL_MANAGED,
                                   fromFile);
}

}

ObjPkgManager::Functions::Bush::~Bush()
{
    PackageSounds::drop(soundRef);
    leafTexture.release();
    leafParticles_.release();
}

bool ObjPkgManager::Functions::Bush::load(FileInterface& stream)
{
    CRASH_TRACE();
    const bool whole = PackageFields::readBlock(stream, [&](uint32_t tag) {
        switch (tag) {
        case 1:
            PackageSounds::drop(soundRef);
            if (!FileInterface::copyBlockTo(stream, sound))
                return false;
            soundRef = PackageSounds::referTo(sound);
            return true;
        case 2: return PackageFields::readText(stream, leafPath);
        case 3:
            leafTexture.release();
            leafParticles_.release();
            leafParticlesTried_ = 0;
            if (!FileInterface::copyBlockTo(stream, leafImage))
                return false;
            textureFrom(leafImage, leafTexture, L"TexBushLeaf", D3DFMT_A8R8G8B8);
            return true;
        case 4: return PackageFields::readVector(stream, position, PackageFields::maxCoordinate);
        case 5: return PackageFields::readVector(stream, angles, PackageFields::maxAngle);
        case 6: return PackageFields::readVector(stream, scale, PackageFields::maxFactor);
        default: return true;
        }
    });
    updateTransform();
    applySettings();
    return whole;
}

void ObjPkgManager::Functions::Bush::applySettings()
{
    box.halfExtents = scale;
    for (int r = 0; r < 3; ++r)
        box.axes[r] = placement.row(r).normalised();
    box.center = placement.row(3);
}

const TextureRef& ObjPkgManager::Functions::Bush::leafParticleTexture()
{
    // One try per image while a device exists: a refused image stays the
    // stand-in texture.
    if (!leafParticles_.isBound() && !leafParticlesTried_ && Texture::deviceReady()) {
        leafParticlesTried_ = 1;
        textureFrom(leafImage, leafParticles_, L"LeafParticle", D3DFMT_DXT3);
    }
    return leafParticles_;
}

ObjPkgManager::Functions::Bush::Instance* ObjPkgManager::Functions::Bush::createInstance(
    D3D::Device::SwapChain* chain, Scene* scene, DynObject* owner)
{
    applySettings();
    return new (std::nothrow) Instance(this, chain, scene, owner);
}

ObjPkgManager::Functions::Bush::Instance::Instance(Bush* bush, D3D::Device::SwapChain* swapChain, Scene* ownerScene,
                                                   DynObject* dyn)
    : bushTemplate(bush), chain(swapChain), scene(ownerScene), owner(dyn)
{
    if (!bush || !bush->soundRef)
        return;
    soundFile = Audio::AudioFile::get(bush->soundRef.get(), 1, 4, 1);
    if (soundFile && soundFile->type != Audio::AudioFile::typeNone)
        soundFile->setupBuffers(true, true, false, false);
    else
        soundFile = nullptr;
}

ObjPkgManager::Functions::Bush::Instance::~Instance()
{
    if (sound) {
        sound->stop();
        delete sound;
    }
}

void ObjPkgManager::Functions::Bush::Instance::update()
{
    CRASH_TRACE();
    if (!owner || owner->hidden)
        return;
    const BoundingBox& sphere = owner->worldBounds;
    DynObject* vehicle = nullptr;
    if (scene)
        for (auto* node = scene->game.vehicles.head(); node && !vehicle; node = node->next) {
            DynObject* dyn = node->item ? node->item->getDynObject() : nullptr;
            if (!dyn || dyn == owner)
                continue;
            const float reach = dyn->worldBounds.radius + sphere.radius;
            if ((dyn->worldBounds.center - sphere.center).lengthSq() <= reach * reach)
                vehicle = dyn;
        }
    const bool newTouch = vehicle && vehicle != touching;
    touching = vehicle;
    const float factor = frameFactor();

    if (!vehicle) {
        shake += (0.0f - shake) * factor * 0.05f;
    } else {
        const matrix3d& w = owner->world;
        const OrientedBox& region = bushTemplate->box;
        const vec3d x = w.row(0), y = w.row(1), z = w.row(2);
        const vec3d centre = x * region.center.x + y * region.center.y + z * region.center.z + w.row(3);
        const float s = y.length();
        const vec3d& a1 = region.axes[1];
        const vec3d up = s > 0.0f ? (x * a1.x + y * a1.y + z * a1.z) / s : vec3d(0.0f, 1.0f, 0.0f);
        const float halfHeight = s * region.halfExtents.y;

        const OrientedBox& v = vehicle->worldBox;
        const float radius =
            (v.axes[0] * v.halfExtents.x + v.axes[1] * v.halfExtents.y + v.axes[2] * v.halfExtents.z).length();
        const float height = 2.0f * v.halfExtents.y * v.axes[1].length();
        if (newTouch) {
            const vec3d away = centre - v.center;
            if (away.lengthSq() > 0.0f)
                push = away.normalised();
        }
        const float depth = (v.center - (centre - up * halfHeight + up * height)).length();
        const float target = radius > 0.0f ? std::min(2.0f * (radius - depth) / radius, 1.0f) : 0.0f;
        if (shake < target) {
            soundPosition = w.row(3);
            if (soundFile) {
                if (!sound) {
                    sound = new (std::nothrow) Audio::Sound3D(soundFile);
                    if (sound) {
                        sound->attachPosition(&soundPosition)->setDistances(1000.0f, 0.42f);
                        sound->play(false);
                    }
                } else if (sound->state != Audio::SoundInterface::playing) {
                    sound->play(false);
                }
            }
            shed(*vehicle);
            shake += (target - shake) * Timer::easing(0.3f, factor);
        }
    }
    bend();
}

void ObjPkgManager::Functions::Bush::Instance::shed(DynObject& vehicle)
{
    if (chain && chain->particles) {
        // The particle manager deletes the system once its leaves are gone.
        auto* leaves = new (std::nothrow) Leaves(*chain, bushTemplate->leafParticleTexture(), owner->worldBox);
        if (leaves) {
            leaves->stopped = 0;
            ++shedCount;
        }
    }
    EntityManager::Physics* physics = vehicle.physics;
    if (!physics || !physics->rigidBody || !physics->rigidBody->body)
        return;
    // The body is pushed between two steps of the physics thread.
    if (vehicle.manager && vehicle.manager->physicsManager)
        vehicle.manager->physicsManager->waitForStepEnd();
    neRigidBody* body = physics->rigidBody->body;
    if (body->velocity.lengthSq() > 0.0f)
        body->applyImpulse(body->velocity.normalised() * -brakingImpulse);
}

void ObjPkgManager::Functions::Bush::Instance::bend()
{
    if (!owner->object)
        return;
    if (!(shake > leastShake)) {
        // Upright again: the placed transform, once; then the owner's own.
        if (bent)
            owner->object->getTransform(owner->world, false);
        bent = 0;
        return;
    }
    const float k = shake;
    const vec3d up = vec3d(push.x * k, 1.0f - k, push.z * k).normalised();
    vec3d right = vec3d(up.y, -up.x, 0.0f).normalised();
    // Pushed flat along z the up axis has no x or y left to turn about.
    if (right.lengthSq() == 0.0f)
        right = {1.0f, 0.0f, 0.0f};
    const vec3d forward = right.cross(up).normalised();
    matrix3d lean = matrix3d::identity();
    lean.setRow(0, right);
    lean.setRow(1, up);
    lean.setRow(2, forward);
    matrix3d placed = matrix3d::identity();
    owner->object->getTransform(placed, false);
    owner->world = lean * placed;
    bent = 1;
}

ObjPkgManager::Functions::Bush::Instance::Leaves::Leaves(D3D::Device::SwapChain& chain, const TextureRef& texture,
                                                         const OrientedBox& bushBox)
    : ParticleSystem(&Instance::leafParticle, D3DBLEND_SRCALPHA, chain, texture, leavesPerShedding,
                     D3DBLEND_INVSRCALPHA, 0, true, false, true),
      box(bushBox)
{
}

uint32_t ObjPkgManager::Functions::Bush::Instance::leafParticle(Particle& p)
{
    const auto* leaves = static_cast<const Leaves*>(p.system);
    if (!leaves)
        return 0;
    if (p.age == 0.0f) {
        const OrientedBox& b = leaves->box;
        const float r1 = randomUnit(), r2 = randomUnit(), r3 = randomUnit();
        p.position = b.center + b.axes[1] * (r1 * b.halfExtents.y * 0.5f) +
                     b.axes[0] * ((1.0f - 2.0f * r2) * b.halfExtents.x * 0.5f) +
                     b.axes[2] * ((1.0f - 2.0f * r3) * b.halfExtents.z * 0.5f);
        p.velocity = {};
        p.width = 0.4f;
        p.height = 0.8f;
        p.colour = Color(180, 180, 180, 255);
        p.values[fallFactor] = randomUnit() + 1.0f;
        p.values[spinPhase] = float(std::rand() % 360);
        p.words[0] = 0;
        p.hidden = 0;
    }
    const float w = floatSin(p.age * 0.15f);
    p.orientation = matrix3d::fromAngles({45.0f * w + 90.0f, 0.0f, 0.0f}) *
                    matrix3d::fromAngles({0.0f, p.values[spinPhase], 0.0f});
    const vec3d swing = p.orientation.row(1);
    const float f = p.values[fallFactor];
    p.velocity.x = f * w * swing.x * 0.15f;
    p.velocity.z = f * w * swing.z * 0.15f;
    p.velocity.y += (-0.5f * std::fabs(w) - p.velocity.y) * frameFactor() * 0.07f;
    return p.position.y + 1.0f < gTerrain.getHeight(p.position.x, p.position.z, 0) ? 0 : 1;
}
