#pragma once
// The quad-bike template of an object package (function code 8): which of
// the package's meshes plays each of the 17 part roles, the springs and
// dampers of the front wheels and of the rear axle, nine sounds and the two
// wheel-dirt textures, whose file bytes travel inside the package. Every quad
// made from the package reads it when it is built.
//
// Its parameter block (little-endian, tagged; tag 0 or the end of the data
// ends it, a later tag of the same number overwrites):
//     1-12, 19, 27, 34-36   the role's mesh name as a stored text;
//                           "Unassigned" or a name no mesh has: no part
//     13, 14                rear spring, rear damper (f32)
//     15, 16                front spring, front damper (f32)
//     17, 18                parameter 6, parameter 3 (f32; drive nothing)
//     20-26, 30, 33         a sound file as a sized block (u32 size, bytes)
//     28, 31                the dust and dirt texture's source path (text)
//     29, 32                the dust and dirt texture file as a sized block
//     above 36              nothing; the next u32 is the next tag
// Main thread only.

#include "Application/DialogTools.h"
#include "Objects/ObjectFunctions.h"

#include "Render/D3DDevice.h"

#include "Core/AudioFileRef.h"
#include "Core/FileArray.h"
#include "Core/String.h"

#include "TextureRecord.h"

#include <cstdint>

class DynObject;
class FileInterface;

class ObjPkgManager::Functions::QuadPhysics final : public Template
{
public:
    class Instance;
    // The quad's three wheel units and their ground contacts (QuadWheel.h).
    class Wheel;
    class Contact;

    // The quad of templ for the dynamic object entity (flag 0x2), at its
    // placed object's scale; null when memory ran out (QuadInstance.cpp).
    static Instance* createInstance(QuadPhysics* templ, D3D::Device::SwapChain* swapChain, DynObject* entity);

    // Part roles, numbered 1 to 17 as the editor shows them.
    enum Role : int32_t {
        rearSwingArm = 1,
        rearShock,
        rearWheels,
        frontLeftSwingArm,
        frontLeftShock,
        frontLeftSteering,
        frontLeftWheel,
        frontRightSwingArm,
        frontRightShock,
        frontRightSteering,
        frontRightWheel,
        handlebar,
        rearFollower,
        body,
        driver,
        helmet,
        helmetCarried,
    };
    static constexpr int32_t roleCount = 17;

    // Sound slots, in the order of the block's tags 20-26, 30, 33.
    enum SoundSlot : int32_t {
        engine1000,
        engine1000Gas,
        engine3000,
        engine3000Gas,
        wheelSlide,
        wheelRoll, // stored for the editor; nothing plays it
        bodyCollision,
        waterSpray,
        wheelCollision,
    };
    static constexpr int32_t soundCount = 9;
    // The name each slot's sound gets in the sound system.
    static const wchar_t* const soundNames[soundCount];

    static constexpr float defaultSpring = 60.0f;
    static constexpr float defaultDamper = 1.8f;
    // The texture scale that marks a mesh for the per-part texture transform:
    // the single-precision value just above 1.
    static constexpr float transformedTextureScale = 1.0f + 1.0f / 1048576.0f;

    // The defaults: springs 60, dampers 1.8, no parts, sounds or textures.
    // owner's package finds the role meshes.
    explicit QuadPhysics(Record* owner);
    // The sounds are unloaded and go, then the textures are let go.
    ~QuadPhysics() override;

    // Reads the parameter block. True when it ended at its tag 0 or where
    // the data ends between entries; false, keeping what was read, when a
    // field is cut or a sized block claims more bytes than are left. A
    // non-finite (or huge) spring, damper or parameter keeps its value.
    bool load(FileInterface& stream);

    // The stream tag of a role (1 to 17), or 0.
    static uint32_t tagOfRole(int32_t role);
    // The mesh playing role (1 to 17), or null.
    Mesh* mesh(int32_t role) const { return role >= 1 && role <= roleCount ? roleMeshes[role - 1] : nullptr; }
    // The sound of slot, or null.
    Audio::FileRef* sound(int32_t slot) const { return slot >= 0 && slot < soundCount ? sounds[slot] : nullptr; }

    Record* record;
    Mesh* roleMeshes[roleCount] = {};
    float rearSpring = defaultSpring;
    float rearDamper = defaultDamper;
    float parameter3 = 0.0f;
    float frontSpring = defaultSpring;
    float frontDamper = defaultDamper;
    float parameter6 = 0.0f;
    FileArray soundStreams[soundCount] = {FileArray(4096), FileArray(4096), FileArray(4096),
                                          FileArray(4096), FileArray(4096), FileArray(4096),
                                          FileArray(4096), FileArray(4096), FileArray(4096)};
    Audio::FileRef* sounds[soundCount] = {}; // owned
    String dustTexturePath;
    String dirtTexturePath;
    FileArray dustStream{4096};
    FileArray dirtStream{4096};
    TextureRef dustTexture;
    TextureRef dirtTexture;

    // The editing page (QuadEditor.cpp): the role labels and their picks,
    // the sounds' choosers and "►", the wheel textures' choosers and
    // previews, and the six sliders.
    INT_PTR handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) override;
    // wav, unless the bytes begin as Ogg.
    static uint32_t soundType(FileArray& bytes);

    // Rear spring, rear damper, parameter 3, front spring, front damper,
    // parameter 6, bound by the constructor.
    static constexpr int32_t sliderCount = 6;
    DialogTools::Slider sliders[sliderCount];
    // The role (1 to 17) whose mesh the level editor picks next; 0 none.
    int32_t pendingRole = 0;
    // The file each sound slot was last chosen from.
    String soundPaths[soundCount];
    // The dust and the dirt texture.
    DialogTools::Bitmap previews[2];
    DialogTools::PageFont font;

private:
    void bindSliders();
    void showRole(int32_t role) const;
    void chooseSound(int32_t slot);
    void chooseTexture(int32_t i);
    bool readRole(FileInterface& stream, int32_t role);
    bool readSound(FileInterface& stream, int32_t slot);
    bool readTexture(FileInterface& stream, FileArray& bytes, TextureRef& texture, const wchar_t* name);
    void releaseSound(int32_t slot);
};
