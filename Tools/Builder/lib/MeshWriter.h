#pragma once
// Writes the four model encodings that the game's mesh tools decode
// (MeshTools::processMode modes 1 to 4). Each description holds the values
// as they are stored; the writers add only the fixed layout around them.

#include "Core/BoundingBox.h"
#include "Core/FileInterface.h"
#include "Core/Quaternion.h"
#include "Core/Vector.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace MeshWriter {

struct TexCoord
{
    int16_t s = 0;
    int16_t t = 0;
};

// Vertex indices then texture-coordinate indices of the three corners.
struct Triangle
{
    std::array<int16_t, 3> vertices{};
    std::array<int16_t, 3> texCoords{};
};

// Mode 1: the model with an 84-byte header.
struct Model
{
    // One embedded texture (version 5). Types 2 and 10 carry width x height
    // R5G6B5 pixels, row by row; other types none.
    struct Texture
    {
        uint32_t type = 2;
        uint32_t width = 0;
        uint32_t height = 0;
        std::vector<uint16_t> pixels;
    };

    char version = '5';
    vec3d scale{1.0f, 1.0f, 1.0f};
    vec3d offset;
    uint32_t textureWidth = 0; // the header's; version-5 textures replace them
    uint32_t textureHeight = 0;
    std::vector<Texture> textures; // written in version 5 only
    std::vector<TexCoord> texCoords;
    std::vector<Triangle> triangles;
    // Frame kind 0 stores coordinates in bytes (each below 256), any other in
    // 16 bits. Every frame holds one coordinate triple per vertex.
    uint32_t frameKind = 0;
    std::vector<std::vector<std::array<uint16_t, 3>>> frames;
};

// Mode 2: the model with a 68-byte header, skins and frames.
struct FramedModel
{
    struct Frame
    {
        vec3d scale{1.0f, 1.0f, 1.0f};
        vec3d translation;
        std::string name; // at most 15 characters
        std::vector<std::array<uint8_t, 3>> vertices;
    };

    uint32_t skinWidth = 0;
    uint32_t skinHeight = 0;
    std::vector<std::string> skins; // names of at most 63 characters
    std::vector<TexCoord> texCoords;
    std::vector<Triangle> triangles; // indices stored as u16
    uint32_t vertexCount = 0;        // vertices per frame
    std::vector<Frame> frames;
};

// Mode 3: the text model. Indices count from 0 here and from 1 in the text;
// a corner's uv or normal of -1 is left out.
struct TextModel
{
    struct Corner
    {
        int32_t position = 0;
        int32_t uv = -1;
        int32_t normal = -1;
    };

    std::string name; // written as a "g" line when not empty
    std::vector<vec3d> positions;
    std::vector<vec2d> uvs;
    std::vector<vec3d> normals;
    std::vector<std::vector<Corner>> faces;
};

// The skeleton with its animations that follows a marked mesh record.
struct Skeleton
{
    struct BoneVertex
    {
        uint16_t index = 0;
        uint8_t joint = 0; // non-zero: the vertex follows the joint matrix
    };

    struct Bone
    {
        vec3d angles; // degrees, relative to the parent
        float length = 1.0f;
        vec3d rotationMin{-360.0f, -360.0f, -360.0f};
        vec3d rotationMax{360.0f, 360.0f, 360.0f};
        std::vector<BoneVertex> vertices;
        std::vector<Bone> children; // in list order
    };

    // A whole pose: the 14 header values (11 to 13 the root position) and one
    // rotation per bone in skeleton order.
    struct Frame
    {
        std::array<float, 14> header{0.0f, 0.0f, 0.0f, 1.0f, 1.0f};
        std::vector<quaternion> rotations;
    };

    struct Animation
    {
        std::string name;
        uint32_t flags = 0;
        std::vector<Frame> frames;
    };

    vec3d rootPosition;
    std::vector<Bone> roots;
    // The stored animations ("default" is the game's own and never stored).
    std::vector<Animation> animations;
};

// Mode 4: the engine's mesh record. A vertex record holds the components
// that both the stored format and the format of the mesh the game reads it
// into have; each vertex array is written when that holds for its component
// and then must hold one entry per position.
struct Record
{
    bool marker = false; // the leading byte 10; the skeleton follows the vertices
    Skeleton skeleton;
    uint32_t format = 274;
    uint32_t meshFormat = 274; // of the reading mesh: entity and package meshes are 274
    BoundingBox box;
    std::vector<uint16_t> indices;
    std::vector<vec3d> positions;
    std::vector<vec3d> normals;
    std::vector<uint32_t> colours; // 0xAARRGGBB
    std::vector<vec2d> uvs;
};

// Each writer appends the encoding at the target's position; false when the
// description cannot be stored (a value outside its field, an array of the
// wrong length) or a write fails.
bool writeModel(FileInterface& target, const Model& model);
bool writeFramedModel(FileInterface& target, const FramedModel& model);
bool writeTextModel(FileInterface& target, const TextModel& model);
bool writeRecord(FileInterface& target, const Record& record);
// The skeleton alone; frames must hold one rotation per bone, and animated
// skeletons at most 64 bones.
bool writeSkeleton(FileInterface& target, const Skeleton& skeleton);

}
