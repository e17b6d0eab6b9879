#pragma once
// Writes the blocks of an object package's parts as the game's readers take
// them: a mesh (with its shader settings and collision geometries), the
// physics record and a light. Each block is tagged: every tag the reader
// knows, in order, then tag 0; never a tag the reader would pass over.
// Descriptions hold the values as they are stored.

#include "MeshWriter.h"

#include "Core/Color.h"
#include "Core/FileInterface.h"
#include "Core/Vector.h"

#include <cstdint>
#include <string>
#include <vector>

namespace PackagePartWriter {

// Direct3D's material layout: four colours r, g, b, a, then the power.
struct Material
{
    struct Colour
    {
        float r, g, b, a;
    };
    Colour diffuse{1.0f, 1.0f, 1.0f, 1.0f};
    Colour ambient{0.6f, 0.6f, 0.6f, 1.0f};
    Colour specular{1.0f, 1.0f, 1.0f, 1.0f};
    Colour emissive{0.0f, 0.0f, 0.0f, 0.0f};
    float power = 0.0f;
};
static_assert(sizeof(Material) == 68);

struct ShaderSettings
{
    uint32_t addressMode = 3; // clamp
    Material material;
    uint8_t alphaRef = 0;
    uint32_t reflectionMode = 0;
    uint8_t reflectionAmount = 0;
    uint32_t value6 = 0;
    uint32_t cullBackFaces = 1;
    float textureScale = 1.0f;
    uint32_t castShadow = 1;
    uint32_t value10 = 1;
};

struct Geometry
{
    vec3d position;
    vec3d size{1.0f, 1.0f, 1.0f};
    vec3d rotation; // degrees
    uint32_t kind = 0; // 0 box, 1 sphere
};

struct Mesh
{
    // Content kind 1 (a triangle mesh) writes its body, kind 0 (a tree) its
    // tree stream (refused when empty); other kinds write no content.
    uint32_t kind = 1;
    std::vector<uint8_t> tree; // a whole tree stream, "v1.1" to its tag 0
    // Written with its leading marker byte and (empty) skeleton: only a
    // marked body tells the reader where it ends.
    MeshWriter::Record body;
    std::string displayName;
    std::string textureName; // an embedded file of the package
    uint32_t textureMipLevels = 0;
    vec3d position;
    vec3d rotation; // degrees
    float scale = 1.0f;
    ShaderSettings shader;
    std::vector<Geometry> geometries;
    std::string name; // empty: none written, the mesh keeps a random name
};

struct PhysicsRecord
{
    uint32_t value1 = 1;
    float value2 = 0.45f;
    float value3 = 0.05f;
    float value4 = 0.1f;
    float value5 = 0.1f;
    float mass = 0.5f;
    // A sound is written only while its no-sound word is 0: its file type
    // (1 wav, 2 ogg) and the bytes of the file.
    uint32_t noSound1 = 1;
    uint32_t sound1Option = 0;
    std::vector<uint8_t> sound1;
    uint32_t noSound2 = 1;
    uint32_t sound2Option = 0;
    std::vector<uint8_t> sound2;
};

struct Light
{
    vec3d position;
    vec3d rotation; // degrees
    float range = 30.0f;
    Color colour{0xFF, 0xF5, 0xEB, 0xFF};
    float lightValue = 0.6f;
    float coneAngle = 30.0f;
    uint32_t value7 = 0;
    std::string textureName; // an embedded file of the package
    uint32_t value9 = 256;
    uint32_t projectionKind = 1; // 0 box, 1 cone
    float value11 = 0.0f;
    uint32_t lightFlag = 1;
    uint32_t value13 = 0;
};

// Each appends its block at the target's position; false when the
// description cannot be stored (a text over 8191 characters, a tree, a body
// the mesh writer refuses) or a write fails.
bool writeShaderSettings(FileInterface& target, const ShaderSettings& settings);
bool writeGeometry(FileInterface& target, const Geometry& geometry);
bool writeMesh(FileInterface& target, const Mesh& mesh);
bool writePhysicsRecord(FileInterface& target, const PhysicsRecord& record);
bool writeLight(FileInterface& target, const Light& light);

}
