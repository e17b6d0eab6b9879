#pragma once
// The homing rocket: fired from a vehicle at a target vehicle, it rises out
// of its launcher for 500 ms, then flies at the target hugging the ground
// until its nose meets an object, where it explodes (a burst, embers and
// smoke, an explosion sound) and, when the object is the target, damages
// and pushes it.
//
// The template (function code 17) holds the three effect images and the four
// sounds of its package; each dynamic object of the package gets one
// Instance (flag 0x1000). Its block, a tagged stream:
//     1, 3, 5   names of the images A, B, C (stored texts)
//     2, 4, 6   images A, B, C as sized blocks: textures "RocketFireA",
//               "RocketFireB", "RocketSmoke", alpha taken from red
//     7-10      sound files as sized blocks (wav or Ogg): launch, flight
//               beside the launcher, flight, explosion
// The launch sound is read and prepared but nothing plays it.
// Main thread only.

#include "Objects/ObjectFuncInst.h"
#include "Objects/ObjectFunctions.h"

#include "Application/DialogTools.h"
#include "Entity/EntityManager.h"
#include "Entity/StaticEntityManager.h"

#include <TextureRecord.h>

#include "Core/AudioFileRef.h"
#include "Core/FileArray.h"
#include "Core/String.h"
#include "Core/Vector.h"

#include <cstdint>
#include <memory>

class DynObject;
class FileInterface;
class Scene;
class StaticEntity;
struct Particle;

namespace Audio {
class AudioFile;
class Sound3D;
}

class ObjPkgManager::Functions::Rocket final : public Template
{
public:
    class Instance;
    // What a hit does to the target's race state; the race's vehicle record
    // implements it.
    class Victim;

    static constexpr uint32_t flag = 0x1000;
    enum Sound : int { launch, flyVehicle, fly, explosion, soundCount };

    explicit Rocket(Record* owner) : record(owner) {}
    // clear.
    ~Rocket() override;

    // Reads the tagged block (later tags carry no field). True when it
    // ended at its tag 0 or where the data ends; false when a field is cut.
    // An image the texture loader refuses leaves its texture empty; a sound
    // that is neither wav nor Ogg is left out.
    bool load(FileInterface& stream);
    // The sounds unloaded and their references freed, the streams emptied,
    // the textures released.
    void clear();

    // A new instance for owner (null when memory ran out).
    ObjectFuncInstInterface* createInstance(Scene* scene, D3D::Device::SwapChain* chain, DynObject* owner);

    // The editing page (EditorPages.cpp): the three images with their
    // previews, the four sounds with their play buttons.
    INT_PTR handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) override;

    Record* record;
    DialogTools::Bitmap previews[3];
    DialogTools::PageFont font;
    String imageNames[3];
    FileArray images[3]; // grow step 4096
    TextureRef textures[3];
    FileArray sounds[soundCount];
    std::unique_ptr<Audio::FileRef> soundRefs[soundCount];
};

class ObjPkgManager::Functions::Rocket::Victim
{
public:
    virtual void addDamage(float amount) = 0;
    // Non-zero when the vehicle's driver feels hits (force feedback).
    virtual uint32_t forceFeedback() const = 0;

protected:
    ~Victim() = default;
};

class ObjPkgManager::Functions::Rocket::Instance final : public ObjectFuncInstInterface,
                                                        public StaticEntityManager::Callback
{
public:
    static constexpr int32_t launching = 0;
    static constexpr int32_t flying = 1;
    static constexpr int32_t finished = 3;
    static constexpr uint32_t launchMilliseconds = 500;

    // Takes the template's sounds as 3D sounds.
    Instance(Rocket& owningTemplate, Scene* scene, D3D::Device::SwapChain* chain, DynObject* owner);
    // The flight sounds stop and go.
    ~Instance() override;

    // Sends the rocket off from launcher towards target, the launcher moving
    // at launcherSpeed (its distance per frame), its axes scaled by scale.
    // victim is the target's race state (null: no damage). A null launcher
    // or target, or one placed at no finite pose, finishes the rocket.
    void fire(EntityManager::Entity* launcher, EntityManager::Entity* target, float launcherSpeed, float scale,
              Victim* victim = nullptr);

    // The launch, the flight and the hit; then the pose.
    void update() override;

    // Fire 0 of the rocket's own fires on or off.
    void setFireEffect(bool on);
    // Whether the nose meets an object within this frame's step.
    bool testHit();
    // A static entity in the hit sphere: non-zero when the sphere touches
    // one of its meshes.
    uint32_t found(StaticEntity& entity) override;
    // The effects at the rocket, and on a hit target its damage and push.
    void explode();

    static uint32_t burstParticle(Particle& particle);
    static uint32_t emberParticle(Particle& particle);
    static uint32_t smokeParticle(Particle& particle);

    bool isFinished() const { return state == finished; }
    vec3d position() const;

    Rocket* owningTemplate;
    Scene* scene;
    D3D::Device::SwapChain* chain;
    DynObject* rocket;
    EntityManager::Entity* target = nullptr;
    EntityManager::Entity* launcher = nullptr;
    Victim* victim = nullptr;
    uint32_t targetHit = 0;
    float scale = 1.0f;
    float speed = 0.0f;
    vec3d direction;
    uint32_t launchTime = 0;
    int32_t state = launching;
    vec3d hitCentre;
    float hitRadius = 1.0f;
    float hitRadiusSq = 1.0f;
    Audio::AudioFile* files[soundCount] = {};
    Audio::Sound3D* flyVehicleSound = nullptr;
    Audio::Sound3D* flySound = nullptr;
    // Where the flight sounds are heard: copies the rocket refreshes, so
    // that no sound reads an entity that may go first.
    vec3d launcherPosition;
    vec3d rocketPosition;

private:
    void setPose();
    void finishSounds();
};
