#pragma once

#include "Way/WayTypes.h"

#include "Render/Shader.h"

#include "Core/String.h"
#include "Core/Vector.h"

#include <windows.h>
#include <d3d9.h>

#include <cstdint>

class ResourceManager;

namespace Way {

// What gives a segment its shape: the road between two consecutive
// cross-sections (shapeSegment), the mesh parts of a piece
// (buildSegmentMesh), and how the segment is drawn (the shader with a
// texture per part, the two state blocks, the draw distance and flags).
// Three exist, made once at start-up and shared by every segment; a modeler
// serves one piece at a time (its records are scratch). Main thread only.
class Modeler
{
public:
    Modeler(String modelerName, uint32_t isDrawn, uint32_t takesProjections);
    // Releases the state blocks; the shader lets go of its textures.
    virtual ~Modeler();
    Modeler(const Modeler&) = delete;
    Modeler& operator=(const Modeler&) = delete;

    // The mesh parts of every segment of this modeler.
    virtual int32_t meshPartCount() const = 0;
    // Fills the shape records, forward and side for the pair of consecutive
    // cross-sections a, b; with followTerrain the records on the ground take
    // its height, otherwise 0.
    virtual void shapeSegment(const Pos& a, const Pos& b, uint32_t followTerrain) = 0;
    // Appends mesh part `part` of the piece between a and b (already shaped)
    // to mesh; u coordinates along the way start at distanceOffset. Other
    // part numbers append nothing.
    virtual void buildSegmentMesh(const Segment& segment, int32_t part, PartMesh& mesh, const Pos& a, const Pos& b,
                                  float distanceOffset, bool startCap, bool endCap) = 0;
    // The states the two blocks record (none for the built-in modelers).
    virtual void recordStates() {}

    // Records both blocks again, under the render pause handshake; nothing
    // without a device.
    void rebuildStateBlocks();
    void releaseStateBlocks();
    // forward: from a's centre to b's; side: (forward.z, 0, -forward.x); both
    // at unit length, a zero vector staying zero.
    void setDirections(const Pos& a, const Pos& b);
    // u = ((point - origin) . axisU + offsetU) x scale.x,
    // v = ((point - origin) . axisV) x scale.y + offsetV.
    static vec2d planarTexCoords(const vec3d& point, const vec3d& origin, const vec3d& axisU, const vec3d& axisV,
                                 const vec2d& scale, float offsetU, float offsetV);
    // Loads the part textures from the named entries of resources (an
    // entry that is missing leaves its slot empty, and the part untextured).
    void loadTextures(ResourceManager& resources);

    uint32_t lowersTerrain = 0;
    String name;
    Shader shader;
    IDirect3DStateBlock9* restoreStateBlock = nullptr;
    IDirect3DStateBlock9* drawStateBlock = nullptr;
    vec3d side;
    vec3d forward;
    float visibleDistanceSq = 360000.0f;
    uint32_t drawn = 1;
    uint32_t receivesProjections = 1;
    // The resource entries of the part textures, by part (null: none).
    const wchar_t* textureNames[2] = {};

protected:
    // Texture coordinates of a record: world x and z times scale, or along
    // the way from origin (offsetU is the cross-section's distance on the way).
    vec2d texCoords(const vec3d& point, bool alongWay, const vec2d& scale, const vec3d& origin, float offsetU) const;

    // Where a modeler's road surface lies in its shape records: the inner
    // points a0, a1 (left, right) at a and b0, b1 at b, the records under
    // them that end a cap, and whether the panel starts at a1 (else at a0).
    struct RoadSurface
    {
        int a0, a1, b0, b1;
        int capA0, capA1, capB0, capB1;
        bool startsAtA1;
    };
    // The road surface between a and b with its texture, and the caps where
    // the way starts or ends; a cap's texture runs on from the road's edge.
    void buildRoadSurface(Vertex* records, const RoadSurface& at, PartMesh& mesh, const Pos& a, const Pos& b,
                          float offsetA, float offsetB, bool alongWay, const vec2d& scale, bool startCap,
                          bool endCap) const;
};

// A road surface with a border strip on each side sloping down to the ground.
class SimpleWay : public Modeler
{
public:
    explicit SimpleWay(String modelerName);

    int32_t meshPartCount() const override { return 2; }
    void shapeSegment(const Pos& a, const Pos& b, uint32_t followTerrain) override;
    void buildSegmentMesh(const Segment& segment, int32_t part, PartMesh& mesh, const Pos& a, const Pos& b,
                          float distanceOffset, bool startCap, bool endCap) override;

    // 0-3: a's left edge, inner left, inner right, right edge; 4-7 the same
    // at b; 8-11: the inner points 1, 2, 5, 6 dropped to the ground (caps).
    Vertex section[12] = {};
    float borderWidth = 0.6f;
    float terrainOffset = -0.0001f;
    vec2d roadTexScale{0.35f, 0.35f};
    vec2d borderTexScale{1.7f, 0.36f};
    uint32_t roadTexAlongWay = 0;
    uint32_t borderTexAlongWay = 1;
};

// A road surface between two curbstones.
class CurbstoneWay : public Modeler
{
public:
    explicit CurbstoneWay(String modelerName);

    int32_t meshPartCount() const override { return 2; }
    void shapeSegment(const Pos& a, const Pos& b, uint32_t followTerrain) override;
    void buildSegmentMesh(const Segment& segment, int32_t part, PartMesh& mesh, const Pos& a, const Pos& b,
                          float distanceOffset, bool startCap, bool endCap) override;

    // 0-3: the curbs' outer top edges (a left, a right, b left, b right);
    // 4-7 their feet below the ground; 8-11 the inner top edges; 12-15 the
    // inner feet, where the road surface lies; 16-19 the inner top edges
    // dropped below the ground (caps).
    Vertex section[20] = {};
    float curbHeight = 0.2f;
    float curbWidth = 0.5f;
    vec2d roadTexScale{0.3f, 0.3f};
    vec2d curbTexScale{2.5f, 2.5f};
    uint32_t roadTexAlongWay = 1;
    uint32_t curbTexAlongWay = 1;
};

// No mesh: its segments lower and tint the terrain under off-road tracks.
class TerrainHollow : public Modeler
{
public:
    explicit TerrainHollow(String modelerName);

    int32_t meshPartCount() const override { return 0; }
    void shapeSegment(const Pos&, const Pos&, uint32_t) override {}
    void buildSegmentMesh(const Segment&, int32_t, PartMesh&, const Pos&, const Pos&, float, bool, bool) override {}
};

}

// The three modelers of the game, made once at start-up with the settings
// the game draws its roads with.
class WayModelerSet
{
public:
    WayModelerSet();

    // Unregisters the modelers (the ways go first: their segments use them)
    // and deletes the set made by createWayModelerSet.
    static void destroy();

    Way::SimpleWay simple{String(L"SimpleWayBorderPaver1")};
    Way::CurbstoneWay curbstone{String(L"Curbstone1")};
    Way::TerrainHollow hollow{String(L"TerrainHollow1")};
};

// The set createWayModelerSet made; null before and after.
extern WayModelerSet* gWayModelerSet;

// Makes the modeler set once and registers its three modelers with the way
// network in order (simple, curbstone, hollow), recording their state blocks
// and loading their textures from resources when given.
void createWayModelerSet(ResourceManager* resources = nullptr);
