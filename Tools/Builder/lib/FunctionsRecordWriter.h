#pragma once
// Writes a package's functions record as the game's reader takes it: every
// value code with its 4 bytes, then each template that is present (its code,
// a present word of 1 and its tagged block), then code 0. Only the templates
// this build reads are written: a block the reader cannot read would end the
// record there.

#include "Core/FileInterface.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace FunctionsRecordWriter {

// A pick-up: the item an inventory takes from it (1 to 5).
struct Collect
{
    uint32_t value = 0;
};

// A gate and the mesh of its package that marks it ("Unassigned": none).
struct Gate
{
    std::string markerMesh = "Unassigned";
};

// A quad bike: the mesh of each part role 1 to 17 ("Unassigned": none), its
// springs and dampers, the files of its nine sound slots (tags 20-26, 30, 33;
// none when empty) and its dust and dirt textures (none when empty).
struct QuadPhysics
{
    std::array<std::string, 17> roles;
    float rearSpring = 60.0f;
    float rearDamper = 1.8f;
    float parameter3 = 0.0f;
    float frontSpring = 60.0f;
    float frontDamper = 1.8f;
    float parameter6 = 0.0f;
    std::array<std::vector<uint8_t>, 9> sounds;
    std::string dustPath;
    std::vector<uint8_t> dust;
    std::string dirtPath;
    std::vector<uint8_t> dirt;

    QuadPhysics() { roles.fill("Unassigned"); }
};

// A package's fires (at most 32 are read back): each placed in the object's
// frame with its look, whether it burns at start and its looped sound (type
// 1 wav, 2 ogg; none when empty).
struct Fire
{
    struct Flame
    {
        std::array<float, 3> position{};
        std::array<float, 3> angles{};
        float scale = 1.0f;
        // Brightness curve, spin, size curve, end size, size spread, flicker.
        std::array<float, 6> look{0.0f, 0.5f, 0.25f, 0.5f, 0.3f, 0.3f};
        uint32_t burningAtStart = 1;
        uint32_t soundType = 0;
        std::vector<uint8_t> sound;
    };
    std::vector<Flame> flames{Flame{}};
};

// The oil puddle's block has no fields.
struct OilPuddle
{
};

// A rocket: its three effect images (names and files: fire A, fire B,
// smoke) and its four sounds (launch, flight beside the launcher, flight,
// explosion; none when empty).
struct Rocket
{
    std::array<std::string, 3> imageNames;
    std::array<std::vector<uint8_t>, 3> images;
    std::array<std::vector<uint8_t>, 4> sounds;
};

// A spin: amplitudes and frequencies along x, y and z, then the turn rates
// about y, x and z (p1 to p9).
struct Spin
{
    std::array<float, 9> parameters{};
};

// An inventory and its pick-up sound (none when empty).
struct Inventory
{
    std::vector<uint8_t> sound;
};

// Lens flares placed in the object's frame, each with a cone angle, a scale
// and a colour (blue, green, red, alpha).
struct LensFlare
{
    struct Flare
    {
        std::array<float, 3> position{};
        std::array<float, 3> angles{};
        float scale = 1.0f;
        float coneAngle = 50.0f;
        std::array<uint8_t, 4> colour{255, 255, 255, 255};
    };
    std::vector<Flare> flares{Flare{}};
};

// A bush: its sound (none when empty), its leaf image's editor path and
// file (none when empty) and its region's placement.
struct Bush
{
    std::vector<uint8_t> sound;
    std::string leafPath;
    std::vector<uint8_t> leafImage;
    std::array<float, 3> position{};
    std::array<float, 3> angles{};
    std::array<float, 3> scale{1.0f, 1.0f, 1.0f};
};

// A cloth: its grid, pins (-1 pins nothing), pin line, wind, damping,
// starting plane (6, 7 or 8), material (diffuse, ambient, specular and
// emissive RGBA, then the specular power), texture name and image file (none
// when empty), placement in the object's frame and gravity.
struct Cloths
{
    int32_t columns = 18;
    int32_t rows = 16;
    std::array<int32_t, 2> pinA{0, 0};
    std::array<int32_t, 2> pinB{0, 15};
    std::array<int32_t, 2> pinC{-1, -1};
    std::array<int32_t, 2> pinD{-1, -1};
    uint32_t pinLine = 1;
    float windAngle = 0.0f;
    float windStrength = 0.6f;
    uint32_t windFromMotion = 0;
    float damping = 0.3f;
    int32_t plane = 8;
    std::array<float, 17> material{1.0f, 1.0f, 1.0f, 1.0f, 0.6f, 0.6f, 0.6f, 1.0f, 1.0f,
                                   1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 15.0f};
    std::string textureName;
    std::vector<uint8_t> image;
    std::array<float, 3> position{};
    std::array<float, 3> angles{};
    float scale = 1.0f;
    float gravity = 9.81f;
};

struct Record
{
    uint32_t value2 = 1;
    uint32_t value3 = 0;
    uint32_t farField = 0;
    float value5 = 0.7f;
    float value6 = 0.4f;
    uint32_t value7 = 0;
    uint32_t markSubEntities = 0;
    uint32_t compass = 0;
    float value20 = 0.08f;
    uint32_t alwaysShown = 0;
    std::optional<Collect> collect;
    std::optional<Gate> gate;
    std::optional<QuadPhysics> quadPhysics;
    std::optional<Fire> fire;
    std::optional<Rocket> rocket;
    std::optional<OilPuddle> oilPuddle;
    std::optional<Spin> spin;
    std::optional<Inventory> inventory;
    std::optional<LensFlare> lensFlare;
    std::optional<Bush> bush;
    std::optional<Cloths> cloths;
};

// Each appends its bytes at the target's position; false when a name is
// longer than a stored text may be or a write fails.
bool writeCollect(FileInterface& target, const Collect& collect);
bool writeGate(FileInterface& target, const Gate& gate);
bool writeQuadPhysics(FileInterface& target, const QuadPhysics& quad);
bool writeFire(FileInterface& target, const Fire& fire);
bool writeOilPuddle(FileInterface& target, const OilPuddle& puddle);
bool writeRocket(FileInterface& target, const Rocket& rocket);
bool writeSpin(FileInterface& target, const Spin& spin);
bool writeInventory(FileInterface& target, const Inventory& inventory);
bool writeLensFlare(FileInterface& target, const LensFlare& lensFlare);
bool writeBush(FileInterface& target, const Bush& bush);
bool writeCloths(FileInterface& target, const Cloths& cloths);
bool write(FileInterface& target, const Record& record);

}
