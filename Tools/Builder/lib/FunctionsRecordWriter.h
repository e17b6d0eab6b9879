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
};

// Each appends its bytes at the target's position; false when a name is
// longer than a stored text may be or a write fails.
bool writeCollect(FileInterface& target, const Collect& collect);
bool writeGate(FileInterface& target, const Gate& gate);
bool writeQuadPhysics(FileInterface& target, const QuadPhysics& quad);
bool write(FileInterface& target, const Record& record);

}
