#pragma once
// The inventory function: a vehicle picks things up. It sits on the quad
// bike's package; each dynamic object gets one Instance (flag 0x10). Each
// frame the instance asks the static scene for the placed objects within
// the quad's bounding circle and takes the first pick-up it reaches (with
// its sound): nitro, oil, a repair, a rocket, or the capture flag, which the
// vehicle then carries. A flag carrier that touches another vehicle with an
// inventory loses the flag to it; the new carrier keeps it for at least
// 3000 ms, while the flag shows half transparent.
//
// The template (function code 11) holds the pick-up sound. Its block, a
// tagged stream: tag 1, the sound file (wav or Ogg) as a sized block. The
// page is the editing dialogs' part.
//
// Threads: onCollision runs on the physics thread and only records the
// other vehicle's dynamic object; the hand-over happens in update on the
// main thread, like everything else.

#include "Objects/ObjectFuncInst.h"
#include "Objects/ObjectFunctions.h"

#include "Race/Game.h"

#include "Application/DialogTools.h"
#include "Entity/StaticEntityManager.h"

#include "Core/AudioFileRef.h"
#include "Core/FileArray.h"

#include <atomic>
#include <cstdint>
#include <memory>

class DynObject;
class FileInterface;
class Object;
class Scene;

namespace Audio {
class AudioFile;
}

class ObjPkgManager::Functions::Inventory final : public Template
{
public:
    class Instance;

    static constexpr uint32_t flag = 0x10;

    explicit Inventory(Record* owner) : record(owner) {}
    // The sound's shared file unloaded, the reference freed.
    ~Inventory() override;

    // Reads the tagged block (other tags carry no field). True when it ended
    // at its tag 0 or where the data ends; false when a field is cut. A
    // sound that is neither wav nor Ogg leaves the template silent.
    bool load(FileInterface& stream);
    // The inventory of owner, querying chain's static objects and reaching
    // the race of scene; null when memory ran out.
    Instance* createInstance(D3D::Device::SwapChain* chain, Scene* scene, DynObject* owner);

    // The page: the pick-up sound's "►" and its chooser.
    INT_PTR handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) override;

    Record* record;
    FileArray sound{4096};
    std::unique_ptr<Audio::FileRef> soundRef;
    DialogTools::PageFont font;
};

class ObjPkgManager::Functions::Inventory::Instance final : public ObjectFuncInstInterface,
                                                           public StaticEntityManager::Callback
{
public:
    static constexpr uint32_t handOverTime = 3000; // ms
    static constexpr uint32_t maxCount = 100;
    static constexpr float nitroPerItem = 0.25f;

    // The vehicle is the race state that watches owner's placed object;
    // the pick-up sound is prepared for 3D playing.
    Instance(Inventory* inventory, D3D::Device::SwapChain* chain, Scene* scene, DynObject* owner);

    // Pick-ups, then a flag handed to a vehicle touched since the last
    // frame, then the end of a hand-over. Nothing without a vehicle.
    void update() override;
    // Physics thread: another vehicle's dynamic object with an inventory is
    // kept for the next update.
    void onCollision(EntityManager::Physics::Collision& contact) override;
    // A placed object within the quad's circle: non-zero ends the query.
    // A shown pick-up within reach is taken (with its sound and effect) and
    // ends it: one item a frame. One that is away is passed over.
    uint32_t found(StaticEntity& entity) override;
    // The vehicle carries item from now on: its hand-over runs 3000 ms, and
    // the flag shows half transparent meanwhile.
    void takeFlag(::Object* item);

    Inventory* inventoryTemplate;
    D3D::Device::SwapChain* chain;
    Scene* scene;
    DynObject* owner;
    Game::Vehicle* vehicle = nullptr;
    uint32_t handOver = 0; // race clock; 0 for none
    std::atomic<DynObject*> touched{nullptr};
    Audio::AudioFile* pickUpSound = nullptr;

private:
    // The dynamic object of a race vehicle other than this one, when dyn is
    // one (a vehicle that left the race is not).
    bool isRaceVehicle(const DynObject* dyn) const;
};
