#pragma once

#include "Entity/Mesh.h"

#include "Core/BoundingBox.h"
#include "Core/Color.h"
#include "Core/Vector.h"

#include <d3d9.h>

#include <cstdint>
#include <memory>

struct ConvexVolume;
struct LightRecord;

// The procedural sky of a level: a dome of vertex-coloured triangles around
// the camera whose colours follow the sun (a day-sky base, a sunset glow on
// the sun's side, a haze along the horizon, a halo and a glare around the
// sun). The swap chain owns one; the scene builds the dome for a level with
// the sky flag and releases it otherwise.
//
// Recolouring the whole dome every frame costs too much, so the dome is cut
// into up to 64 patches held in a binary tree: only patches in view are
// recoloured, a patch that comes into view wholly, one that stays in view a
// fraction of its vertices per frame (the update rate, which follows the
// sun's angular speed). The colours go straight into a managed vertex buffer.
//
// update and render run only while the dome is built (root not null); render
// expects the world transform at the camera and fog and depth off (the
// scene's sky pass). A dome whose buffers cannot be made stays released; a
// frame whose buffer lock fails keeps the old colours. Main thread only.
class AnimatedSky
{
public:
    struct Vertex
    {
        vec3d position;
        Color colour;
    };
    static_assert(sizeof(Vertex) == 16);
    static constexpr uint32_t fvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;
    using DomeMesh = Mesh<Vertex, fvf>;

    // Told of the sky's colours every update: the tint for the sun light and
    // the mean colour of the horizon ahead (r, g, b, a; alpha 0).
    class Interface
    {
    public:
        virtual void onSunTint(const float* colour) { (void)colour; }
        virtual void onHorizonColour(const float* colour) { (void)colour; }

    protected:
        ~Interface() = default;
    };

    // A node of the patch tree, numbered in pre-order from the root (0). A
    // leaf owns the mesh of its patch (welded vertices); deleting a node
    // deletes its subtree.
    struct PatchNode
    {
        PatchNode* children[2] = {};
        DomeMesh* mesh = nullptr;
        BoundingBox box{{}, 1.0f, 1.0f, {}, {}};
        uint16_t number = 0;

        PatchNode() = default;
        PatchNode(const PatchNode&) = delete;
        PatchNode& operator=(const PatchNode&) = delete;
        ~PatchNode();
    };

    // The drawing state of one node (only leaves use theirs): the unit
    // direction of every vertex, the next vertex to recolour, the frame it
    // was last recoloured for, and its ranges in the shared buffers.
    struct Patch
    {
        DomeMesh* mesh = nullptr; // the node's
        std::unique_ptr<vec3d[]> directions;
        uint32_t cursor = 0;
        uint32_t stamp = 0;
        uint32_t dirty = 0;
        uint32_t recolouredThisFrame = 0;
        uint32_t vertexBase = 0;
        uint32_t vertexCount = 0;
        uint32_t indexBase = 0;
        uint32_t indexCount = 0;
    };

    // sun is the light record whose direction the sky follows; it must
    // outlive the sky. No device calls.
    explicit AnimatedSky(const LightRecord& sun);
    ~AnimatedSky() { release(); }
    AnimatedSky(const AnimatedSky&) = delete;
    AnimatedSky& operator=(const AnimatedSky&) = delete;

    // Makes the dome (centre (0, centreY, 0), radius wide and radius / aspect
    // high), its patch tree and its buffers; the scene passes -255, 1.2 and
    // 650. False, with the sky released, when a buffer cannot be made or the
    // patches need more than 16-bit indices.
    bool build(Interface* listener, float centreY, float aspect, float radius);
    // The sun-dependent parameters, the tint and horizon reports, the update
    // rate; ends the frame (frame stamp + 1).
    void update();
    // Culls the patches against the current camera's direction volume,
    // recolours and draws the visible ones, and counts their triangles.
    void render();
    // Buffers, tree, patch records and listener; root null afterwards.
    void release();

    // The patch tree of a dome mesh: halves at the median down to depth 6,
    // each leaf a mesh of its triangles with welded vertices. Null (count 0)
    // for a mesh without triangles.
    static PatchNode* buildPatches(DomeMesh& dome, uint16_t& nodeCount);
    // The visible list: every leaf whose nodes are not outside volume (the
    // sky's boxes are relative to the camera). A leaf not recoloured last
    // frame becomes dirty.
    void cullPatches(const ConvexVolume& volume);
    // Recolours the visible patches not yet recoloured this frame into
    // vertices (the whole buffer's vertices).
    void recolour(Vertex* vertices);
    // Whether recolour would write any vertex: a visible patch not yet
    // recoloured this frame is dirty or has a share of at least one vertex.
    // Without one the buffer is not locked: a lock waits until the device
    // has drawn everything queued with the buffer, and the water's sky
    // mask draws the sky a second time in each frame.
    bool recolourPending() const;
    // One patch's share: the next vertex count x update rate vertices, or
    // all of them when dirty (vertices may be null for a share of none).
    void recolourPatch(Patch& patch, Vertex* vertices);

    // The colour model for a unit direction d from the viewer, with the sun
    // direction and the frame's e, b and k; the sum lands in accumulated.
    void colourDirection(const vec3d& d);
    // accumulated as an opaque vertex colour.
    Color vertexColour() const;
    void sunsetTerm(const vec3d& d);
    void hazeTerm(const vec3d& d);
    void haloTerm();
    void glareTerm();

    PatchNode* root = nullptr;
    std::unique_ptr<Patch[]> patches;
    std::unique_ptr<Patch*[]> visible;
    uint16_t nodeCount = 0;
    uint32_t frameStamp = 0;
    int32_t visibleCount = 0;
    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    uint32_t vertexCursor = 0;
    uint32_t indexCursor = 0;
    uint32_t totalVertices = 0;
    uint32_t totalIndices = 0;
    const LightRecord* sun = nullptr;
    vec3d lastSunDirection{0.0f, 1.0f, 0.0f};
    float elevation = 0.0f; // the sun's elevation / 90 degrees, in (-1, 1]
    float updateRate = 0.0f;
    vec3d direction;        // being coloured
    float sunAngle = 0.0f;  // between direction and the sun, / pi
    float sunSide = 0.0f;
    float brightness = 0.0f;
    float band = 0.0f;
    float radius = 0.0f;
    float term[3] = {};
    float accumulated[4] = {};
    float colours[5][4] = {};
    Interface* listener = nullptr;

private:
    void countBuffers(const PatchNode* node);
    bool fillBuffers(const PatchNode* node);
    bool fillPatch(const PatchNode& node);
    void cullNode(PatchNode* node, const ConvexVolume& volume);
    void reportHorizon();
};

// The dome geometry into any mesh: a top vertex and 55 rings of 160 vertices
// (8801), 17440 triangles, the rings reaching down to the cut (0 the whole
// sphere, 0.5 the horizontal, 1 a point; clamped to 0..1). Positions are centre + unit direction
// scaled by scale per axis; the shaper's box grows over them (or is replaced
// when it has no extent).
void makeDome(Shaper& shaper, const vec3d& centre, const vec3d& scale, float cut);
