#pragma once
// The lens-flare function: camera-facing light flares on an object, which
// make the next race gate stand out. When the race marks a gate, the gate's
// instance attaches a flare instance (flag 0x80) made from the package's
// LensFlare template and removes it when the gate is unmarked.
//
// The template (function code 13) holds the flares (each placed in the
// object's frame with a cone angle, a scale and a colour), the flare and
// glow textures and the points the swap chain tests for occlusion, one per
// flare, shared by every instance of the template. Each instance keeps one
// Object per flare with two sprites: the flare, drawn with the object's own
// states, and a larger glow. A flare is brightest seen along its forward
// axis and gone at its cone angle; it fades out over about ten frames once
// the occlusion test (every tenth frame) finds it hidden, and is back at
// once when it is seen again.
//
// Its block, a tagged stream: tag 1 the flare count (u32), then tag 2 that
// many flares, each a tagged stream of its own:
//     1 position (3 f32)   2 angles, degrees (3 f32)   3 scale (f32)
//     4 cone angle, degrees (f32)   5 colour (blue, green, red, alpha)
// The page is the editing dialogs' part. Main thread only.

#include "Objects/BaseFunction.h"
#include "Objects/ObjectFuncInst.h"
#include "Objects/ObjectFunctions.h"

#include "Application/DialogTools.h"
#include "Entity/SpriteManager.h"
#include "Render/D3DDevice.h"

#include <TextureRecord.h>

#include "Core/Color.h"
#include "Core/DynArray.h"
#include "Core/Matrix.h"
#include "Core/OrientedBox.h"
#include "Core/Vector.h"

#include <cstdint>
#include <memory>
#include <vector>

class DynObject;
class FileInterface;

class ObjPkgManager::Functions::LensFlare final : public Template, public EntriesEditor<ObjPkgManager::Functions::LensFlare>
{
public:
    class Instance;

    static constexpr uint32_t flag = 0x80;
    // More flares than this in a block are damage.
    static constexpr uint32_t maxFlares = 256;

    // One flare of the package.
    class Flare
    {
    public:
        explicit Flare(LensFlare* owner) : owner(owner) { place(); }

        // The placement matrix from angles, scale and position, and the thin
        // box the editor picks it by.
        void place();

        LensFlare* owner;
        matrix3d placement = matrix3d::identity();
        vec3d position;
        vec3d angles;
        vec3d scale{1.0f, 1.0f, 1.0f};
        float coneAngle = 50.0f; // degrees
        Color colour{255, 255, 255, 255};
        OrientedBox box;
    };

    // Both textures (when a device exists) and one flare with the defaults.
    explicit LensFlare(Record* owner);
    ~LensFlare() override;

    // Reads the flares (the earlier ones go). True when the block ended at
    // its tag 0 or where the data ends; false when a field is cut or the
    // count promises more flares than the data can hold. A count given
    // after the flares reads none; a value that is not finite keeps the
    // field's default.
    bool load(FileInterface& stream);
    // A new flare instance for owner, drawn by chain; null when memory ran
    // out.
    Instance* createInstance(D3D::Device::SwapChain* chain, DynObject* owner);

    // The editing side works on the selected flare (EntriesEditor). Marking
    // a pick selects that flare through the page's own selection, so that
    // its slider and controls follow.
    void markModified() override;
    const std::vector<std::unique_ptr<Flare>>& entries() const { return flares; }
    // The selected flare, or null.
    Flare* selectedFlare() const { return selectedEntry(); }

    // The page: the selected flare's cone angle and colour, adding,
    // deleting and stepping through the flares.
    INT_PTR handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) override;
    // Flare i (kept within the list) becomes the selected one; its cone
    // angle goes to the slider.
    void selectFlare(int32_t i);
    // The count, the delete button and the swatch of an open page.
    void refreshControls();

    Record* record;
    float sliderValue = 50.0f;
    std::vector<std::unique_ptr<Flare>> flares;
    TextureRef flareTexture;
    TextureRef glowTexture;
    DynArray<D3D::Device::OccludePos> occlusion{4};
    DialogTools::Slider coneSlider;
};

class ObjPkgManager::Functions::LensFlare::Instance final : public ObjectFuncInstInterface
{
public:
    class Object;

    Instance(LensFlare* lensFlare, D3D::Device::SwapChain* chain, DynObject* owner);
    // Every object and its sprites go.
    ~Instance() override;

    // Rebuilds the objects when the template's flare count changed; the
    // occlusion points follow the flares, tested every tenth frame, and
    // each object's fade follows its point.
    void update() override;
    // Once a frame: each fading object's fade grows.
    void prepareRender() override;
    // Places, turns, colours and shows (or hides) the sprites of every
    // object for the owner's matrix, in every pass that draws the owner.
    void beforeRender(const matrix3d& transform) override;

    Object* object(int32_t i) const;

    LensFlare* flareTemplate;
    D3D::Device::SwapChain* chain;
    DynObject* owner;
    std::unique_ptr<Object[]> objects;
    int32_t builtCount = 0;

private:
    void rebuild();
};

// One flare of an instance: the states its flare sprite draws with.
class ObjPkgManager::Functions::LensFlare::Instance::Object final : public SpriteManager::Shader
{
public:
    Object() = default;
    // Both sprites go.
    ~Object() override;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    // On: the two sprites, hidden, with their textures and the glow's
    // states; nothing while they exist. Off: both go. A sprite that cannot
    // be made is left out until the next show.
    void show(bool on);

    void apply() override;
    void restore() override;
    bool ownedBySprite() override { return false; }

    Instance* instance = nullptr;
    Flare* flare = nullptr;
    std::unique_ptr<SpriteManager::Sprite> flareSprite;
    std::unique_ptr<SpriteManager::Sprite> glowSprite;
    Color colour;
    // 0 fully shown, 1 fully faded.
    float fade = 1.0f;
};
