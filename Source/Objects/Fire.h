#pragma once
// Fires of an object package: up to 32 flames placed in the object's own
// frame, each an additive particle system with the texture "Fire01", its own
// look, a flickering drift and an optional looped sound stored in the
// package.
//
// The template (function code 16) holds the fires read from the package;
// each dynamic object of the package gets one Instance (flag 0x800) with one
// Object per fire. The race switches a vehicle's fires 0 to 2 and a rocket
// its fire 0 through Object::setBurning. The template's editing page is the
// editing dialogs' part. Main thread only.
//
// Block of one fire, a tagged stream (fires chain by tag 11):
//     1 position (3 f32)          7 end size (f32)
//     2 angles, degrees (3 f32)   8 size spread (f32)
//     3 scale (f32)               9 flicker (f32)
//     4 brightness curve (f32)   10 sound type (u32: 1 wav, 2 ogg), then the
//     5 spin (f32)                  sound file as a sized block
//     6 size curve (f32)         11 another fire follows (u32, non-zero)
//                                12 burning at start (u32)

#include "Objects/BaseFunction.h"
#include "Objects/ObjectFuncInst.h"
#include "Objects/ObjectFunctions.h"

#include "Application/DialogTools.h"
#include "Entity/ParticleSystem.h"
#include "Render/LightProj.h"

#include "Core/AudioFileRef.h"
#include "Core/FileArray.h"
#include "Core/Matrix.h"
#include "Core/OrientedBox.h"
#include "Core/Vector.h"

#include <cstdint>
#include <memory>
#include <vector>

class DynObject;
class FileInterface;

namespace Audio {
class Sound3D;
}

class ObjPkgManager::Functions::Fire final : public Template, public EntriesEditor<ObjPkgManager::Functions::Fire>
{
public:
    class Instance;

    static constexpr uint32_t flag = 0x800;
    static constexpr int32_t maxFires = 32;
    static constexpr int32_t particleCount = 42;

    // How a flame looks, each 0 to 1 (end size 0 to 2).
    struct Look
    {
        float brightnessCurve = 0.0f;
        float spin = 0.5f;
        float sizeCurve = 0.25f;
        float endSize = 0.5f;
        float sizeSpread = 0.3f;
        float flicker = 0.3f;
    };

    // One fire of the package.
    class Entry
    {
    public:
        explicit Entry(Fire* owner) : owner(owner) { place(); }
        // Unloads the shared sound of the reference before it goes.
        ~Entry();
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;

        // The placement matrix from position, angles and scale, and the
        // small box that sits on the fire along its up axis.
        void place();

        Fire* owner;
        matrix3d placement = matrix3d::identity();
        vec3d position;
        vec3d angles;
        vec3d scale{1.0f, 1.0f, 1.0f};
        Look look;
        uint32_t burningAtStart = 1;
        uint32_t soundType = 0;
        FileArray sound{4096};
        std::unique_ptr<Audio::FileRef> soundRef;
        OrientedBox box;
    };

    // One fire with the defaults.
    explicit Fire(Record* owner);
    ~Fire() override;

    // Reads the fires (the earlier ones go): fire after fire while tag 11
    // asks for another. Fires past 32 are read and dropped, so that what
    // follows the block stays in step. True when the last fire ended at its
    // tag 0 or where the data ends; false when a field is cut.
    bool load(FileInterface& stream);

    // A new instance for owner (which may be null); null when memory ran out.
    ObjectFuncInstInterface* createInstance(D3D::Device::SwapChain* chain, DynObject* owner);

    // The editing page (EditorPages.cpp): the selected fire's look on six
    // sliders, presets, its sound and burning switch, adding, deleting and
    // stepping through the fires. The edit flag is set while it is open.
    INT_PTR handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) override;
    // Makes fire i the selected one (clamped), its look on the sliders.
    void selectFire(int32_t i);
    // The sound radio buttons, the count, the burning box and whether the
    // delete button is enabled, from the template.
    void refreshControls();
    // The fire's sound from the file at path: cleared first; a file that
    // cannot be opened leaves it cleared. The type follows the extension.
    static void setSoundFromFile(Entry& fire, const String& path);
    // The editing side works on the selected fire (EntriesEditor). Marking
    // a pick selects the fire through the page's own selection, so that
    // its sliders and controls follow (FireEditor.cpp).
    void markModified() override;
    const std::vector<std::unique_ptr<Entry>>& entries() const { return fires; }
    // The selected fire, or null.
    Entry* selectedFire() const { return selectedEntry(); }

    Record* record;
    // While set the instances follow the editor: every fire burns while the
    // page is open. Nothing in the game sets it.
    uint32_t editFlag = 0;
    std::vector<std::unique_ptr<Entry>> fires;
    Look sliderValues{0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    DialogTools::Slider sliders[6];
    DialogTools::PageFont font;
};

class ObjPkgManager::Functions::Fire::Instance final : public ObjectFuncInstInterface
{
public:
    class Object;

    // The objects are built and updated once at once.
    Instance(Fire& owningTemplate, D3D::Device::SwapChain* chain, DynObject* owner);
    // Every object is switched off.
    ~Instance() override;

    // Rebuilds the objects when the template's fire count changed, then per
    // burning object: the flame size and, with an owner, whether it shows.
    void update() override;
    // Once a frame, per burning object: the flicker stepped.
    void prepareRender() override;
    // Per burning object, in every pass that draws the owner: the emitter
    // from the placement carried by transform, the sound's place, and
    // without an owner the drift of the flicker.
    void beforeRender(const matrix3d& transform) override;

    // The object of fire i, or null past the built count.
    Object* object(int32_t i) const;

    Fire* owningTemplate;
    D3D::Device::SwapChain* chain;
    DynObject* owner;
    std::unique_ptr<Object[]> objects;
    int32_t builtCount = 0;

private:
    void rebuild();
};

class ObjPkgManager::Functions::Fire::Instance::Object
{
public:
    Object() = default;
    // Switched off.
    ~Object();
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    // On: the particle system (and, with a sound and an owner, the looped
    // sound); nothing while it burns. Off: both go; nothing while it does
    // not burn. A system that cannot be made leaves the fire out, to be
    // tried again at the next call.
    void setBurning(bool on);
    bool isBurning() const { return system != nullptr; }

    // The particle callback: one flame, always kept. Its numbers live in
    // the particle's words (flags, and floats by their bits).
    static uint32_t flameParticle(Particle& particle);
    enum Word : int { alive, started, age, startSize, startAngle, endAngle, endSize, fadeExponent, riseFactor };
    static float number(const Particle& particle, Word word);
    static void setNumber(Particle& particle, Word word, float value);

    // The particle system of a fire: carries its object for the callback.
    class System final : public ParticleSystem
    {
    public:
        System(Object& fire, D3D::Device::SwapChain& chain, const TextureRef& texture);
        Object* fire;
    };

    Instance* instance = nullptr;
    Entry* fire = nullptr;
    std::unique_ptr<LightProj::Flicker> flicker;
    System* system = nullptr;
    Audio::Sound3D* sound = nullptr;
    // Where the sound is heard: the owner's position plus the fire's offset.
    vec3d soundPosition;
};
