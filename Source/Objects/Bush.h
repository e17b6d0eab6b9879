#pragma once
// The bush function: a placed bush reacts when a race vehicle drives into
// it. It bends away from the vehicle and springs back once the vehicle has
// gone, sheds falling leaves, rustles and brakes the vehicle.
//
// The template (function code 19) holds the bush's region (a box placed in
// the object's frame), its leaf image and its sound; each dynamic object of
// the package gets one Instance (flag 0x4000). Its block, a tagged stream:
//     1 the sound file (wav or Ogg) as a sized block
//     2 the leaf image's path in the editor (a stored text)
//     3 the leaf image file as a sized block
//     4 position, 5 angles (degrees), 6 scale (3 f32 each)
// The page is the editing dialogs' part. Main thread only.

#include "Objects/BaseFunction.h"
#include "Objects/ObjectFuncInst.h"
#include "Objects/ObjectFunctions.h"

#include "Application/DialogTools.h"
#include "Entity/ParticleSystem.h"

#include <TextureRecord.h>

#include "Core/AudioFileRef.h"
#include "Core/FileArray.h"
#include "Core/OrientedBox.h"
#include "Core/String.h"
#include "Core/Vector.h"

#include <cstdint>
#include <memory>

class DynObject;
class FileInterface;
class Scene;

namespace Audio {
class AudioFile;
class Sound3D;
}

class ObjPkgManager::Functions::Bush final : public BaseFunction, public Template
{
public:
    class Instance;

    static constexpr uint32_t flag = 0x4000;
    static constexpr int32_t leavesPerShedding = 25;
    // The braking impulse of each shedding, against the vehicle's motion.
    static constexpr float brakingImpulse = 8.0f;

    explicit Bush(Record* owner) : BaseFunction(owner) {}
    // The sound's shared file unloaded, the textures released.
    ~Bush() override;

    // Reads the tagged block (other tags carry no field), then the
    // placement and the box. True when it ended at its tag 0 or where the
    // data ends; false when a field is cut. A value that is not finite (or
    // absurdly large) keeps what the field held; an image the device refuses
    // leaves the stand-in texture, a sound that is neither wav nor Ogg none.
    bool load(FileInterface& stream);
    // The box rule, then the bush of owner; null when memory ran out.
    Instance* createInstance(D3D::Device::SwapChain* chain, Scene* scene, DynObject* owner);

    bool canMove() override { return true; }
    bool canRotate() override { return true; }
    bool canScale() override { return true; }
    uint32_t scaleLocks() override { return 7; }
    // The box rule: half extents the scale, axes the placement's unit rows,
    // centre its translation.
    void applySettings() override;

    // The texture the leaf particles draw with, loaded from the leaf image
    // at first use (the stand-in texture for an image the device refuses).
    const TextureRef& leafParticleTexture();

    // The page: the leaf preview, the sound's "►" and the two choosers.
    INT_PTR handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) override;

    FileArray sound{4096};
    std::unique_ptr<Audio::FileRef> soundRef;
    String leafPath;
    FileArray leafImage{4096};
    TextureRef leafTexture;
    DialogTools::Bitmap preview;
    DialogTools::PageFont font;

private:
    TextureRef leafParticles_;
    uint32_t leafParticlesTried_ = 0;
};

class ObjPkgManager::Functions::Bush::Instance final : public ObjectFuncInstInterface
{
public:
    // The leaves of one shedding. They keep a copy of the owner's box, all
    // they read of the bush, so that leaves still falling when the bush is
    // gone read nothing freed.
    class Leaves final : public ParticleSystem
    {
    public:
        Leaves(D3D::Device::SwapChain& chain, const TextureRef& texture, const OrientedBox& bushBox);
        OrientedBox box;
    };
    // Particle values: the fall factor and the spin phase (degrees).
    enum Value : int { fallFactor, spinPhase };

    // Prepares the template's sound for 3D playing, when it has one.
    Instance(Bush* bush, D3D::Device::SwapChain* chain, Scene* scene, DynObject* owner);
    // The sound stops and goes; falling leaves belong to the particles.
    ~Instance() override;

    // The touch of the first race vehicle that meets the bush, the shake it
    // gives (with the sound, the leaves and the braking while it rises),
    // then the bend. Nothing while the owner is missing or hidden.
    void update() override;

    // One leaf's swing and fall; it dies more than 1.0 below the ground.
    static uint32_t leafParticle(Particle& particle);

    Bush* bushTemplate;
    D3D::Device::SwapChain* chain;
    Scene* scene;
    DynObject* owner;
    // The touching vehicle's dynamic object, only compared, never read:
    // it is looked up among the race's vehicles every frame.
    const DynObject* touching = nullptr;
    vec3d push;
    float shake = 0.0f;
    Audio::AudioFile* soundFile = nullptr;
    Audio::Sound3D* sound = nullptr;
    // Where the sound is heard: the owner's position, copied each frame.
    vec3d soundPosition;
    // How many leaf systems the bush has shed. The systems themselves belong
    // to the particle manager, which deletes each once its leaves are gone.
    uint32_t shedCount = 0;
    // Set while the bend owns the owner's matrix.
    uint32_t bent = 0;

private:
    void shed(DynObject& vehicle);
    void bend();
};
