#pragma once

#include "Tree/Bough.h"
#include "Tree/Branch.h"
#include "Tree/Foliage.h"

#include "Core/Color.h"
#include "Core/FileInterface.h"
#include "Core/Vector.h"

#include <array>
#include <cstdint>

// The parameter blocks of a tree. Each is a plain value with the defaults
// below; its stored form is a block of fields, each an 8-bit tag and the
// field's bytes, written in tag order and ended by tag 0. Blocks inside a
// block are read and written by their own read and write.
//
// Blocks come from object packages and may hold anything: they are read as
// they stand, and the code that uses a value holds it to what it can use.
class Tree::Parameter
{
public:
    virtual ~Parameter() = default;

    // Reads fields until tag 0 or a failed read. A known tag reads exactly its
    // field; a tag the block does not know is a single byte, so the next byte
    // is read as the next tag. Fields not read keep their values.
    virtual void read(FileInterface& stream) = 0;
    // Writes every field in tag order, then tag 0. False when a write failed.
    virtual bool write(FileInterface& stream) const = 0;

protected:
    Parameter() = default;
    Parameter(const Parameter&) = default;
    Parameter& operator=(const Parameter&) = default;

    // The next tag of a block: false at tag 0 or when the stream ends.
    static bool nextTag(FileInterface& stream, uint8_t& tag) { return stream.readValue(tag) && tag != 0; }
    template <class T>
    static bool put(FileInterface& stream, uint8_t tag, const T& value)
    {
        return stream.writeValue(tag) && stream.writeValue(value);
    }
    static bool putEnd(FileInterface& stream) { return stream.writeValue(uint8_t(0)); }
};

// Two u32 stored as one field (a picture's width and height, a grid's rows and
// columns).
using TreeCounts = std::array<uint32_t, 2>;
// Six f32 stored as one field: three heights at a card's middle control row
// (left, centre, right), then three at its tip row.
using TreeHeights = std::array<float, 6>;

// The complete parameters of a bough hierarchy: its bones, its mesh, its roots.
class Tree::Bough::Param : public Tree::Parameter
{
public:
    // How the bones of a hierarchy grow.
    class BoneParam : public Parameter
    {
    public:
        // The growth of one level: 0 the trunk, 1 and 2 boughs, 3 twigs (and
        // anything deeper).
        class Level : public Parameter
        {
        public:
            explicit Level(uint32_t level = 0);

            uint32_t resolution = 30;       // 1: steps the distance axis is cut into
            float nodeDensity = 0.7f;       // 2
            float childZoneStart = 0.2f;    // 3: fraction of the bough
            float childZoneEnd = 0.3f;      // 4
            float wobble = 1.0f;            // 5
            float childDensity = 0.4f;      // 6
            float endAtParentStart = 1.0f;  // 7: end factor of a bough at its parent's start
            float endAtParentEnd = 1.0f;    // 8: ... and at its parent's end
            vec3d growthBias{0.0f, 0.35f, 0.0f}; // 9
            vec3d axis{0.0f, 1.0f, 0.0f};   // 10
            vec2d angleStep;                // 11: pitch and yaw added per child (degrees)
            vec2d angleBase;                // 12: pitch and yaw base (degrees)
            vec2d angleRange{20.0f, 360.0f}; // 13: pitch and yaw random range (degrees)
            uint32_t pairs = 0;             // 14: children come in mirrored pairs
            uint32_t ribbon = 0;            // 15: boughs of this level are flat ribbons
            uint32_t cap = 0;               // 16: a bough's last band gets a cap

            void read(FileInterface& stream) override;
            bool write(FileInterface& stream) const override;

        private:
            bool readField(FileInterface& stream, uint8_t tag);
        };

        vec3d origin;                       // 1: trunk origin
        vec3d direction{0.0f, 1.0f, 0.0f};  // 2: trunk start direction
        float extent = 20.0f;               // 3: trunk length in the distance unit
        float childCountExponent = 1.0f;    // 4
        float startRadius = 1.3f;           // 5: trunk radius at its base
        float minRadius = 0.3f;             // 6
        float taperExponent = 2.0f;         // 7
        float childPull = 1.0f;             // 8: weight of the children's pull on a bough
        float childWeightMin = 0.5f;        // 9: lower bound of a child's weight
        float radiusReduction = 0.1f;       // 10: radius exponent per child
        uint32_t halfTurnYaw = 0;           // 11: children only at yaw 0 or 180 degrees
        Level levels[4] = {Level(0), Level(1), Level(2), Level(3)}; // 12
        uint32_t finCount = 3;              // 13: fins of a ribbon ring

        void read(FileInterface& stream) override;
        bool write(FileInterface& stream) const override;

        // The record of a level; levels past 3 are twigs.
        const Level& level(uint32_t n) const { return levels[n < 3 ? n : 3]; }

    private:
        bool readField(FileInterface& stream, uint8_t tag);
    };

    // How the mesh around the bones is shaped.
    class MeshParam : public Parameter
    {
    public:
        uint32_t ringVertexCount = 12;      // 1: ring vertices at the start radius
        float ribbonWidthStart = 0.85f;     // 2
        float ribbonWidthEnd = 0.35f;       // 3
        float fixedRingShare = 0.05f;       // 4
        float directionThreshold = 0.98f;   // 5: cosine that forces a new ring
        float radiusShrink = 0.05f;         // 6: radius drop that forces a new ring
        float barkRoughness = 0.15f;        // 7
        float textureOffsetU = 0.0f;        // 8
        vec2d textureRepeat{3.0f, 4.0f};    // 9
        vec2d textureExponent{1.0f, 1.0f};  // 10

        void read(FileInterface& stream) override;
        bool write(FileInterface& stream) const override;

    private:
        bool readField(FileInterface& stream, uint8_t tag);
    };

    // The roots of the trunk.
    class RootParam : public Parameter
    {
    public:
        uint32_t count = 0;                 // 1: number of roots, 0 for none
        uint32_t ringVertexCount = 100;     // 2: ring vertices in the root zone
        float vertexBlendExponent = 0.5f;   // 3
        float fixedRingShare = 0.5f;        // 4
        float ringStepExponent = 0.2f;      // 5
        float zone = 0.2f;                  // 6: root zone, fraction of the trunk's extent
        float thicknessMin = 0.3f;          // 7
        float thicknessMax = 0.6f;          // 8
        float pushBase = 2.1f;              // 9: push-out at the trunk base
        float pushTop = 0.2f;               // 10: push-out at the top of the zone
        float pushExponent = 0.5f;          // 11
        float pushRandom = 0.5f;            // 12: random share of the push-out
        uint32_t angleStep = 135;           // 13: degrees from one root to the next
        uint32_t angleRange = 10;           // 14: random range of that step (degrees)

        void read(FileInterface& stream) override;
        bool write(FileInterface& stream) const override;

    private:
        bool readField(FileInterface& stream, uint8_t tag);
    };

    BoneParam bone;   // 1
    MeshParam mesh;   // 2
    RootParam root;   // 3

    void read(FileInterface& stream) override;
    bool write(FileInterface& stream) const override;

private:
    bool readField(FileInterface& stream, uint8_t tag);
};

// How objects such as leaf cards are spread over a bough hierarchy.
class Tree::Bough::ObjectParam : public Tree::Parameter
{
public:
    // Placement counts never pass this, whatever density a package gives.
    static constexpr int32_t maxCount = 65536;

    float zoneStart = 0.35f;                // 1: fraction of a bough's end
    float zoneEnd = 1.0f;                   // 2
    float density = 0.7f;                   // 3
    uint32_t resolution = 50;               // 4: distance steps, and the count at density 1
    uint32_t single = 1;                    // 5: one object per point (else one or two)
    uint32_t atEnd = 0;                     // 6: also place at a bough's end
    uint32_t frameMode = 1;                 // 7: 0 faces away from the centre, else follows the bough
    vec3d scale{0.3f, 1.0f, 0.5f};          // 8
    vec3d centreOffset;                     // 9: times the tree box's extent (frame mode 0)
    vec3d referenceAxis{0.0f, 0.0f, -1.0f}; // 10: (frame mode 1)
    vec3d angleRange{80.0f, 30.0f, 30.0f};  // 11: random ranges of the three angles (degrees)
    vec2d tintRange{0.0f, 1.0f};            // 12
    vec2d scaleRange{1.0f, 1.4f};           // 13
    float axisOffset = 1.0f;                // 14: distance from the bough's axis in radii
    float endValue = 0.0f;                  // 15: for the object at a bough's end
    float placementValue = 1.0f;            // 16
    Color tint{175, 155, 100, 255};         // 17: tint base colour
    vec3d baseAngles;                       // 18 (degrees)
    vec3d angleStep;                        // 19: added per object (degrees)

    // Not stored: the number of object kinds to choose from.
    uint32_t kindCount = 6;

    void read(FileInterface& stream) override;
    bool write(FileInterface& stream) const override;

    // The object count near(resolution x density), the resolution held to 1
    // to 1,000 and the count to 0 to maxCount.
    int32_t getCount() const;

private:
    bool readField(FileInterface& stream, uint8_t tag);
};

// A leafy branch: its own bough hierarchy (the base), its picture and cards,
// and how its leaves are spread.
class Tree::Branch::Param : public Tree::Bough::Param
{
public:
    // The six shape values of the curved card, stored as a block of tags 1 to 6.
    class Shape : public Parameter
    {
    public:
        TreeHeights values{0.4f, 0.7f, 0.4f, 0.2f, 0.5f, 0.2f};

        void read(FileInterface& stream) override;
        bool write(FileInterface& stream) const override;
    };

    Param();

    // 1: the bough parameters (the base)
    uint32_t cardKind = 1;                  // 2: 0 curved card, 1 star card, else none
    TreeCounts pictureSize{512, 512};       // 3: width, height
    uint32_t textureLoaderValue = 3;        // 4
    Color fadeColor{95, 121, 29, 0};        // 5
    Bough::ObjectParam leaves;              // 6: how the leaves are spread (kind count 0)
    vec2d lightAngles{5.0f, 45.0f};         // 7: of the picture (degrees)
    float ambient = 1.0f;                   // 8
    float diffuse = 1.0f;                   // 9
    Shape shape;                            // 10
    float shapeRange = 0.0f;                // 11: random range of the shape values
    TreeCounts cardGrid{4, 4};              // 12: rows, columns of the curved card

    void read(FileInterface& stream) override;
    bool write(FileInterface& stream) const override;

private:
    bool readField(FileInterface& stream, uint8_t tag);
};

// One foliage object of a tree. Stored as two blocks back to back: the
// placement block of the base, then the block of the fields below.
class Tree::Foliage::Param : public Tree::Bough::ObjectParam
{
public:
    Param();

    Branch::Param branch;                   // 1
    float ambient = 1.0f;                   // 2
    float diffuse = 1.0f;                   // 3
    uint32_t textureStored = 0;             // 4
    Color color{255, 255, 255, 0};          // 5

    void read(FileInterface& stream) override;
    bool write(FileInterface& stream) const override;

private:
    bool readField(FileInterface& stream, uint8_t tag);
};

// One leaf card.
class Tree::Branch::Leaf::Param : public Tree::Parameter
{
public:
    Color color{255, 255, 255, 10};         // 1
    TreeCounts segments{4, 4};              // 2: along the leaf, across it
    TreeHeights bends{0.4f, 0.7f, 0.4f, 0.2f, 0.5f, 0.2f}; // 3
    float bendRange = 0.5f;                 // 4: random range of the bend heights

    void read(FileInterface& stream) override;
    bool write(FileInterface& stream) const override;

private:
    bool readField(FileInterface& stream, uint8_t tag);
};
