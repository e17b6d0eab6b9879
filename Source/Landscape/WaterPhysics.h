#pragma once

#include "Render/BufferPool.h"
#include "Render/VertexRing.h"

#include "Core/ArrayHeap.h"
#include "Core/BoundingBox.h"
#include "Core/Color.h"
#include "Core/DynArray.h"
#include "Core/Matrix.h"
#include "Core/SCList.h"
#include "Core/Vector.h"

#include <d3d9.h>

#include <cstdint>

class FileInterface;
class WaterArea;

// Gives a range of a shared pool back and forgets it; nothing for none.
inline void freeWaterRange(BufferRange*& range)
{
    if (range)
        BufferPool::freeRange(*range->pool, range);
    range = nullptr;
}
struct ConvexVolume;
struct LightRecord;

// The waves of a water area (Water::Area::Physics): a grid of 16-bit cells
// over the area, cut into patches (rectangles from the water file) and each
// patch into macros of N x N cells. A far patch is one flat rectangle of a
// static mesh, the far macros of a near patch one flat rectangle each, and
// only near macros in view are simulated (in integer arithmetic, at most
// every 33 ms) and drawn as grids. Impulses (addRipple) start new ripples.
//
// The settings and patches come from the water file and go back to it
// unchanged. Settings the simulation cannot run with (N outside 2 to 16, a
// divisor k4 of 0, shifts outside 0 to 15, a macro size that is not above 0,
// a grid below 2 x 2 cells) keep the area flat. The grid and the device
// objects exist from the first wave draw (build) until release; the two
// vertex rings live in the default pool and follow device resets. The random
// numbers (0 to 32767) and the millisecond clock are injectable. Main thread.
class WaterPhysics
{
public:
    // A cell of the grid. Its stamp is the frame it was simulated in; 0 marks
    // a dry cell, which is never simulated.
    struct Cell
    {
        int16_t height[2];
        int16_t velocity;
        uint8_t stamp;
        uint8_t spare;
        Color colour;
        int16_t displayed;
        uint16_t spare2;
    };
    static_assert(sizeof(Cell) == 16);

    struct Vertex
    {
        vec3d position;
        uint32_t colour;
        float u, v;

        static constexpr DWORD format = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;
    };
    static_assert(sizeof(Vertex) == 24);
    static constexpr DWORD vertexFormat = Vertex::format;

    class Patch;

    // N x N cells of the grid from (ix0, iz0) under the box of one macro cell
    // of a patch. A macro whose block would reach the grid's far edges keeps
    // an empty box and is never simulated, drawn or hit.
    struct Macro
    {
        BoundingBox box{{}, 1.0f, 1.0f, {}, {}};
        int32_t ix0 = 0;
        int32_t iz0 = 0;
        float lod = 0.0f;

        // One step of the cells of the macro (see WaterWaves.cpp).
        void simulate(WaterPhysics& physics, const vec3d& camera, const LightRecord& light);
    };
    static_assert(sizeof(Macro) == 56);

    // A rectangle of the grid with its macro cells (none: 16 x 16 macros).
    class Patch
    {
    public:
        Patch() = default;
        Patch(const Patch&) = delete;
        Patch& operator=(const Patch&) = delete;

        BoundingBox box{{}, 1.0f, 1.0f, {}, {}};
        vec2d minimum, maximum; // the file's rectangle {x, z}
        ArrayHeap<intvec2d> cells;
        ArrayHeap<Macro> macros;
        int32_t macroCount = 0;
        uint32_t isFar = 0;
        float lastDistance = 0.0f;
    };

    // Batches of 256 vertices in a ring of 1024: grids of near macros over
    // copies of a macro's grid indices, or flat rectangles over copies of a
    // rectangle's.
    using Ring = VertexRing<Vertex, 256, 1024>;

    using RandomSource = int (*)();
    using Clock = uint32_t (*)();

    explicit WaterPhysics(WaterArea* owner);
    ~WaterPhysics();
    WaterPhysics(const WaterPhysics&) = delete;
    WaterPhysics& operator=(const WaterPhysics&) = delete;

    // True when the settings let the waves run (see above).
    bool valid() const;
    // The cells of the grid the settings ask for, its border included; 0
    // when they are not valid.
    uint64_t gridCells() const;
    // What a patch record of cellCount macro cells holds: the patch, its
    // cells and the macros it may build once near (one a cell; the water's
    // default count for a patch without cells), in bytes.
    static uint64_t patchBytes(uint32_t cellCount);
    // The same for every patch read.
    uint64_t patchBytes() const;
    // The grid cells the patches' macros simulate and draw a frame when all
    // of them are near (N x N a macro, however many share a block); 0 when
    // the settings are not valid.
    uint64_t macroCells() const;
    // The grid, the index buffers and the rings (once; the device objects
    // only with a device). False when the settings are not valid or the
    // grid cannot be made.
    bool build();
    // One frame: the step (every 33 ms), the rings, the far mesh.
    void render();
    // The end of a frame: the buffers swap and the stamp moves on (255 to 1).
    void finishFrame();
    // Everything build and render made; the settings and patches stay.
    void release();
    // The rings, when missing (after a device reset and from build).
    void createVertexBuffers();
    void releaseVertexBuffers();
    // An impulse of strength (held within 0 to 1) at (x, z) of the grid.
    void addRipple(const vec2d& position, float strength);

    // The physics block of the water file. The patch records stop at the
    // first one past what a level's water may take (Water::maxBytes), with
    // pastBound (when given) set.
    bool read(FileInterface& stream, bool* pastBound = nullptr);
    void write(FileInterface& stream);

    // The cell at grid row ix, column iz (border included: 0 to nx + 1).
    Cell& cell(int32_t ix, int32_t iz) { return grid[size_t(ix) * size_t(nz + 2) + size_t(iz)]; }
    // The macros of a near patch, built when it has none.
    void buildMacros(Patch& patch);
    bool gridExists() const { return grid != nullptr; }

    WaterArea* owner = nullptr;
    float spare[4] = {0.0f, 0.0f, 1.0f, 1.0f};
    float gridMinimumX = 0.0f, gridMinimumZ = 0.0f, gridMaximumX = 0.0f, gridMaximumZ = 0.0f;
    SCList<Patch> patches;
    Cell* grid = nullptr;
    int32_t nx = 0, nz = 0;
    int32_t current = 0, other = 1;
    DynArray<Macro*> drawList{64};
    int32_t drawCount = 0;
    Ring rings[2]; // 0 grids of macros, 1 flat rectangles
    BufferRange* farVertices = nullptr;
    BufferRange* farIndices = nullptr;
    uint32_t farTriangles = 0;
    uint8_t frameStamp = 1;
    uint32_t stepTimer = 0;
    uint32_t stepping = 0;
    uint32_t dirty = 0;
    matrix3d world = matrix3d::identity();
    int32_t noiseShift = 9;
    int32_t n = 4;
    float lightGain = 0.0004f;
    float lightBias = 0.01f;
    float alphaGain = 0.25f;
    float heightScale = 0.0004f;
    float waveRange = 0.0f;
    float patchRange = 0.0f;
    float macroFactor = 0.0f;
    int32_t shifts[5] = {1, 1, 1, 26, 1}; // k1, k2, k3, the divisor k4, k5
    RandomSource random;
    Clock clock;

private:
    // The grid's rows and columns (without the border) for valid settings.
    void gridSize(int32_t& x, int32_t& z) const;
    void renderRectangles(const ConvexVolume& volume, const vec3d& camera);
    void renderGrids();
    void writeGrid(const Macro& macro);
    void writeRectangle(const BoundingBox& box, float level);
    // Draws what the ring's open batch holds and opens the next.
    static void flush(Ring& ring);
    void rebuildFarMesh();
    void freeFarMesh();
    void drawFarMesh();
    void freeMacros(Patch& patch);
};
