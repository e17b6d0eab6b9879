#pragma once

#include "Render/BufferPool.h"
#include "Render/D3DDevice.h"
#include "Render/ShadowCasters.h"
#include "Render/SwapChainInterface.h"
#include "TextureRecord.h"

#include "Core/BoundingBox.h"
#include "Core/DynArray.h"
#include "Core/Matrix.h"
#include "Core/SCList.h"
#include "Core/String.h"
#include "Core/Vector.h"

#include <d3d9.h>

#include <atomic>
#include <cfloat>
#include <cstdint>
#include <vector>

class Camera;
class FileInterface;
struct LightRecord;
struct CollisionQuery;

// The ground of the loaded level: one global object (gTerrain), made before
// the program starts without touching the device, filled from a level's
// ".map" file by load and emptied by clear. Every query answers for missing
// ground while nothing is loaded.
//
// The ground is an S x S grid of 16-bit heights (S = 128, 256, 512, 1024 or
// 2048), each grid cell refined into a smooth bicubic surface of 8 x 8 fine
// cells. Patches of 4 x 4 grid cells (32 x 32 fine cells) are the units of
// culling, level of detail and texturing; a quadtree holds them, and tiles of
// 32 x 32 patches carry two 512 x 512 textures (light and colour). Patches in
// view have a detail record with their fine heights, normals and texels.
//
// Terrain space: x and z in fine cells, centred on the origin, y in height
// units; the world matrix scales it by the level's horizontal and vertical
// scales. Patch p has row r = p / n along x and column c = p % n against z.
//
// The terrain receives texture projections: each frame the projections of
// its list are handed to the patches in view that they reach, and the scene
// pass draws those patches again under each of them. It is the ground the
// sun's shadows fall on.
//
// Threads: everything runs on the main thread except the queries, which the
// physics thread may ask too. Queries from another thread never read detail
// records (the main thread makes and deletes those), and clear waits until
// such queries have left before it frees the ground. The collision cache is
// the physics thread's alone.
class Terrain : public ShadowGround, public D3D::LoadProcessInterface
{
public:
    // The scene's settings for a load.
    struct Settings
    {
        String path;                 // the ".map" file
        float lodDistance = 4.0f;
        float horizontalScale = 3.0f;
        float verticalScale = 1.75f;
        float firstRepeat = 4.0f;    // repeat length of the first overlay texture
        float secondRepeat = 0.4f;   // repeat length of the second overlay texture
        uint32_t colourOps[4] = {D3DTOP_MODULATE, D3DTOP_MODULATE, D3DTOP_ADDSIGNED, D3DTOP_ADD};
    };

    // The height of missing ground.
    static constexpr float missing = -FLT_MAX;
    // The finest and coarsest levels of detail.
    static constexpr int32_t finestLod = 0;
    static constexpr int32_t coarsestLod = 5;
    static constexpr int32_t patchCells = 32; // fine cells per patch side
    static constexpr int32_t gridPoints = 33; // fine points per patch side
    static constexpr int32_t tilePatches = 32;
    static constexpr int32_t tileTexels = 512;
    static constexpr int32_t minSize = 128;
    static constexpr int32_t maxSize = 2048;
    static constexpr int32_t poolVertices = 17424; // 16 patches of 33 x 33
    static constexpr int32_t batchCapacity = 8192;
    static constexpr int32_t batchWindow = 2048;
    static constexpr int32_t batchIndexCapacity = 12288;
    static constexpr float bottomMargin = -8.0f;
    static constexpr uint32_t cacheLimit = 256; // entries beyond which the oldest is reused

    // A vertex of the terrain meshes: position and one texture coordinate.
    struct Vertex
    {
        float x, y, z;
        float u, v;
    };
    static_assert(sizeof(Vertex) == 20, "terrain vertices are 20 bytes, XYZ | TEX1");
    static constexpr DWORD vertexFormat = D3DFVF_XYZ | D3DFVF_TEX1;

    // A colour layer: a 256 x 256 R5G6B5 image used for heights within its band.
    struct Layer
    {
        std::vector<uint16_t> pixels;
        uint8_t low = 0;
        uint8_t high = 0;
    };
    // How the layers colour one whole height: up to two images and their weights.
    struct LayerBlend
    {
        const uint16_t* first = nullptr;
        const uint16_t* second = nullptr;
        float firstWeight = 0.0f;
        float secondWeight = 0.0f;
    };

    // The sun light a patch's light texels were made with, and how far the
    // sun may move before they are made again. The thresholds differ a little
    // from patch to patch, so that patches do not all refresh in one frame.
    struct PatchLight
    {
        vec3d direction;
        float diffuse[4] = {};
        float ambient[4] = {};
        float directionThreshold = 0.0f;
        float colourThreshold = 0.0f;

        // Zeroes the record and draws the thresholds for a factor (0.78 for
        // terrain patches) from the runtime's random numbers.
        void init(float factor);
        // Takes over what moved beyond the thresholds; true when anything did.
        bool trackSunChange(const vec3d& sunDirection, const float sunDiffuse[4], const float sunAmbient[4]);
    };

    struct Tile;
    struct Quadtree;
    struct PatchData;

    struct Patch
    {
        int32_t level = 0;
        int32_t leftFlag = 1;  // stitching towards the left (high-z) neighbour:
        int32_t lowerFlag = 1; // 0 it is coarser, 1 same or none, 2 finer
        int32_t index = 0;
        vec3d centre;          // world units
        PatchData* detail = nullptr;
        Quadtree* leaf = nullptr;
    };

    // A patch's 16 x 16 texels are written into its tile's textures at
    // texel column 16 x (r % 32) and row 16 x ((n - c - 1) % 32).
    struct Tile
    {
        IDirect3DTexture9* light = nullptr;  // A4R4G4B4
        IDirect3DTexture9* colour = nullptr; // R5G6B5
        Tile* lowerRow = nullptr;            // the neighbour on the low-z side (wrapping)
        Tile* higherRow = nullptr;
        Tile* lowerColumn = nullptr;         // the neighbour on the low-x side (wrapping)
        Tile* higherColumn = nullptr;
        std::vector<int32_t> borderPatches;  // neighbours' patches along the shared edges
        bool inRange = false;                // its textures are wanted (they may be lost to a reset)
        bool hasTextures() const { return light && colour; }
    };

    struct Quadtree
    {
        std::vector<int32_t> items; // patch indices of the subtree
        int32_t leaf = 0;
        Tile* tile = nullptr;
        vec3d centre;
        float radius = 1.0f;
        float radiusSq = 1.0f;
        vec3d minimum;
        vec3d maximum;
        Quadtree* children[4] = {}; // low x high z, high x high z, low x low z, high x low z
    };

    // What a patch in view keeps: its fine heights (first index along x from
    // the low-x edge, second against z from the high-z edge), normals and
    // colour texels (16 x 16, first index along x, second along z), its vertex
    // range when it is drawn from a pool, and the light its texels were made for.
    struct PatchData
    {
        float heights[gridPoints][gridPoints];
        BufferRange* range = nullptr;
        int32_t rangeLevel = -1;
        int32_t rangeLower = -1;
        int32_t rangeLeft = -1;
        int32_t x0 = 0; // terrain-space corner: low x, high z
        int32_t z0 = 0;
        float tu = 0.0f; // the corner inside the tile, fine cells
        float tv = 0.0f;
        PatchLight light;
        Patch* lower = nullptr;
        Patch* left = nullptr;
        Tile* tile = nullptr;
        vec3d normals[16][16];
        uint16_t colours[16][16];
        uint16_t lightTexels[16][16]; // A4R4G4B4
        int32_t lightDirty = 1;       // the light texels wait for their tile
        int32_t textureDirty = 1;     // the colour texels wait for their tile
        int32_t verticesDirty = 1;
        int32_t slot = 0; // place in the terrain's list of patches in view
        // The projections that reach the patch this frame: the first
        // projectionCount entries.
        DynArray<TextureProj*> projections{8};
        int32_t projectionCount = 0;
    };

    // The triangles of a patch at one level of detail with one pair of
    // stitch flags: a vertex table on the patch's 33 x 33 grid and 16-bit
    // indices into it.
    struct IndexSet
    {
        struct Entry
        {
            uint32_t column; // along x from the low-x edge
            uint32_t row;    // against z from the high-z edge
            float x;         // column
            float z;         // minus row
        };
        IDirect3DIndexBuffer9* buffer = nullptr;
        std::vector<uint16_t> indices;
        uint32_t triangles = 0;
        std::vector<Entry> table;
    };
    static constexpr int32_t indexSetCount = 54; // 6 levels x 3 lower flags x 3 left flags
    static int32_t indexSetOf(int32_t level, int32_t lowerFlag, int32_t leftFlag)
    {
        return 9 * level + 3 * lowerFlag + leftFlag;
    }
    // The triangulation of index set k: grid points (row x 33 + column) and
    // triangles over them. Crack-free against neighbours one level apart.
    static void triangulate(int32_t level, int32_t lowerFlag, int32_t leftFlag, std::vector<uint16_t>& points,
                            std::vector<uint16_t>& indices);

    // The physics thread's copy of one patch's fine heights.
    struct CellCacheEntry
    {
        float heights[gridPoints][gridPoints];
        int32_t patch = -1;
        uint32_t stamp = 0; // fill order: the smallest was filled longest ago
    };

    Terrain();
    ~Terrain();
    Terrain(const Terrain&) = delete;
    Terrain& operator=(const Terrain&) = delete;

    // Builds the terrain from the ".map" file of settings, reporting progress
    // through swapChain (none without). False, and nothing built, when a
    // terrain is loaded already or the file cannot be read whole or breaks its
    // format; false too, with the terrain built, when bytes follow it.
    bool load(D3D::Device::SwapChain* swapChain, const Settings& settings);
    // The same from a stream (the whole ".map" content); bytes after the
    // terrain are left unread.
    bool load(D3D::Device::SwapChain* swapChain, const Settings& settings, FileInterface& stream);
    // Writes the loaded terrain as a ".map" file (replaced only once written
    // whole). False without a terrain.
    bool save(const String& path);
    bool write(FileInterface& stream);
    // Frees everything a load built (waiting for queries of other threads to
    // leave) and the collision cache; nothing while unloaded.
    void clear();
    bool isLoaded() const { return loaded.load(std::memory_order_acquire); }

    // The last step of a scene load: the level-of-detail factor, the first
    // level-of-detail pass for the swap chain's camera, then progress 1.0
    // (also without a terrain: its part of the loading is over).
    void startLod(D3D::Device::SwapChain* swapChain);
    void startLod(const Camera& camera);
    // Per frame: levels of detail and detail records follow the camera once it
    // has moved 0.5 % of its view range; the texels of patches in view follow
    // the sun.
    void update(const Camera& camera);
    // Draws the terrain in the current pass with the current camera; flag
    // enables the texture projections' passes (the frame's scene and
    // occlusion passes set it).
    void render(int32_t flag);
    // The projection list: a projection is appended once; one the terrain
    // never received is ignored. The projections belong to their owners.
    void addTexProj(TextureProj* projection) override;
    void removeTexProj(TextureProj* projection) override;
    // Hands each projection that is not disabled to the patches in view
    // within its volume (every frame, from update).
    void assignProjections();
    // Device reset: the dynamic buffers live in the default pool.
    void releaseDeviceBuffers();
    void createDeviceBuffers();

    // The ground height in world units under (x, z) at a resolution of 0 (the
    // coarse grid) to 3 (every fine cell); missing outside the terrain (its
    // edges count as inside) or without one. Leaves the ground normal
    // (unnormalised) in lastGroundNormal. Any thread.
    float getHeight(float x, float z, int32_t resolution) const;
    // The same height, its ground normal (unnormalised) into normal instead;
    // normal is left as it was where the ground is missing. Any thread.
    float getHeight(float x, float z, int32_t resolution, vec3d& normal) const;
    // What one caller's queries keep of the last cell they read from the
    // coarse grid (a query away from the owner thread always does): asked
    // again for that cell of the same heights, the query skips the
    // surface's arithmetic. Owned by the caller, used on one thread.
    struct HeightCache
    {
        int32_t fx = -1, fz = -1, resolution = -1;
        uint32_t generation = 0;
        float corners[4] = {};
    };
    // The same height and normal, through cache (null: none).
    float getHeight(float x, float z, int32_t resolution, vec3d& normal, HeightCache* cache) const;
    // The first ground the segment from start to end hits from above (only
    // triangles facing the segment count). On a hit end becomes the hit
    // point, distance (when given) the distance to it from start, and
    // lastGroundNormal the unit normal. Ends outside the terrain are clipped
    // onto it. Any thread.
    bool intersectSegment(const vec3d& start, vec3d& end, float* distance, int32_t resolution) const;
    // The lit ground colour (ARGB) at (x, z): true when the patch there is in
    // view (has its detail record). Main thread.
    bool sampleLight(float x, float z, uint32_t& colour) const;
    // Appends the ground triangles under the query's box (physics thread).
    void cachePatchesInBox(CollisionQuery& query);
    // The normal left by the last height or segment query of this thread.
    static vec3d lastGroundNormal();
    // The shadows' ground: whether a level's heights are loaded, and where
    // a segment first meets the ground from above (every fine cell counts).
    bool hasHeightData() override { return isLoaded(); }
    bool intersectSegment(const vec3d& from, const vec3d& to, vec3d& hit) override;

    // Levels of detail allowed, within finestLod..coarsestLod (the scene
    // clamps them).
    int32_t lowestLod = finestLod;
    int32_t highestLod = coarsestLod;
    // The terrain's material; the scene sets the colours of diffuse and ambient.
    D3DMATERIAL9 material{};

    // The loaded ground (read-only outside the terrain).
    int32_t size = 0;        // S
    int32_t fineCells = 0;   // 8 S fine cells per side
    int32_t patchesPerSide = 0; // n
    int32_t patchCount = 0;
    std::vector<uint16_t> heights; // S x S: [x index * S + index against z]
    // Counts the clears of heights (a load needs a cleared terrain): a
    // HeightCache of another count is stale.
    std::atomic<uint32_t> heightsGeneration{1};
    std::vector<Patch> patches;
    // The patches' height ranges as the map file gave them (lowest, highest
    // per patch, in height units): the save writes them back as they were.
    std::vector<float> patchRanges;
    std::vector<int32_t> detailed; // the patches that have a detail record
    std::vector<int32_t> waiting;  // patches whose texels wait for their tiles
    Quadtree root;
    std::vector<Tile> tiles;   // tile rows along z, columns along x
    int32_t tilesPerSide = 0;
    std::vector<Layer> layers;
    LayerBlend blend[256];
    IndexSet indexSets[indexSetCount];
    BoundingBox box;          // world units: the root's box
    float horizontalScale = 3.0f;
    float verticalScale = 1.75f;
    float lodDistance = 4.0f;
    float lodFactor = 0.0f;
    float overlayScale = 0.25f;
    float secondOverlayScale = 2.5f;
    uint32_t colourOps[4] = {D3DTOP_MODULATE, D3DTOP_MODULATE, D3DTOP_ADDSIGNED, D3DTOP_ADD};
    TextureRef overlays[2];
    matrix3d world = matrix3d::identity();
    // The sun the light texels were last brought up to date with.
    vec3d sunDirection;
    float sunColours[8] = {};
    vec3d lastLodCamera{-FLT_MAX, -FLT_MAX, -FLT_MAX};
    int32_t projectionPass = 1;
    SCList<TextureProj> projections;

    // Drawing state (TerrainRender.cpp).
    BufferPool::List vertexPools{BufferPool::Layout{sizeof(Vertex), vertexFormat, poolVertices}, true};
    // Texels reach the tile textures (render targets) as points drawn from a
    // dynamic vertex buffer at the start of the next terrain pass: a lock of
    // a texture waits until the device has finished drawing with it, a
    // no-overwrite lock of a dynamic buffer does not.
    struct TexelPoint
    {
        float x, y, z, rhw;
        uint32_t colour; // A8R8G8B8
    };
    static constexpr DWORD texelPointFormat = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;
    static constexpr uint32_t texelPointCapacity = 16384;
    struct TexelBatch
    {
        IDirect3DTexture9* target;
        std::vector<TexelPoint> points;
    };
    std::vector<TexelBatch> pendingTexels;
    IDirect3DVertexBuffer9* texelPoints = nullptr;
    uint32_t texelPointStart = 0;
    IDirect3DStateBlock9* texelStates = nullptr;
    // Draws the pending texels into their tiles (inside a scene).
    void drawPendingTexels();
    // Forgets the pending texels of texture.
    void dropPendingTexels(const IDirect3DTexture9* texture);
    // Vertex ranges a patch gave up stay taken for a few frames: the device
    // may still draw from them, and the vertices of new ranges are written
    // without waiting for it (no-overwrite).
    static constexpr uint32_t rangeRestFrames = 3;
    struct RestingRange
    {
        BufferRange* range;
        uint32_t frame;
    };
    std::vector<RestingRange> restingRanges;
    uint32_t updateCount = 0;
    // Gives range up (resting first) and forgets it; nothing for none.
    void retireRange(BufferRange*& range);
    // Frees the ranges that have rested long enough, or all of them.
    void freeRestedRanges(bool all);
    IDirect3DVertexBuffer9* batchVertices = nullptr;
    IDirect3DIndexBuffer9* batchIndices = nullptr;
    uint32_t windowStart = 0;
    uint32_t batchVertexCount = 0;
    uint32_t batchTriangleCount = 0;
    uint32_t batchIndexCount = 0;
    Vertex* lockedVertices = nullptr;
    uint16_t* lockedIndices = nullptr;
    Tile* boundTile = nullptr;

private:
    // The sun the texels are lit by: the current light, or a noon sun without one.
    static const LightRecord& currentSun();
    // Frees what a load built, whether it finished or not.
    void freeGround();
    // Load steps: the patches with their boxes from the stored height ranges
    // and the quadtree over them; the tiles; the 54 index sets.
    void buildPatches(const std::vector<float>& ranges);
    void buildTree(Quadtree& node, int32_t depth, const std::vector<float>& heightRanges);
    void buildTiles();
    void buildIndexSets();
    // Fine height at a patch's grid point (gx along x from its low-x edge, gs
    // against z from its high-z edge); beyond the patch from the surface, in
    // the ways' hollows.
    float surfaceHeight(const Patch& patch, int32_t gx, int32_t gs) const;
    // The patch's heights, lowered in the ways' hollows.
    void fillHeights(const Patch& patch, float grid[gridPoints][gridPoints]) const;
    // The patch's world box (its heights' range from its leaf).
    BoundingBox patchBox(const Patch& patch) const;
    void computeNormals(PatchData& data, const Patch& patch) const;
    void colourPatch(PatchData& data, const Patch& patch) const;
    void buildLayerBlend();
    void setupPatch(Patch& patch);
    void deleteDetail(Patch& patch);
    void updateLod(Quadtree& node, const vec3d& eye, float range);
    void patchLevel(Patch& patch, const vec3d& eye);
    void limitLevels();
    void createTileTextures(Tile& tile);
    void releaseTileTextures(Tile& tile);
    Tile* tileOf(const Patch& patch);
    void freeTree(Quadtree& node);

    // Drawing (TerrainRender.cpp).
    void drawNode(Quadtree& node, bool tileBound, const Camera& camera);
    void drawPatch(Patch& patch);
    // The patch just drawn, again under each projection that reaches it.
    void drawProjections(PatchData& data, uint32_t vertexCount, uint32_t triangles);
    void batchPatch(const PatchData& data, const IndexSet& set);
    void flushBatch(bool relock);
    void lockBatch();
    void unlockBatch();
    // The light texels of every patch in view whose light the sun left
    // behind, and the texels that wait for their tile (all patches in view,
    // drawn or not: drawn patches sample their neighbours' edge texels). Each
    // refresh becomes points that the next terrain pass draws into the tiles.
    void refreshTexels();
    void lightPatch(PatchData& data) const;
    // Writes a patch's 16 x 16 texels (light or colour) into its tile's
    // texture, with the edge copies in the neighbour tiles.
    void writeBlock(const Patch& patch, bool light, const uint16_t texels[16][16]);

    // Queries (TerrainQueries.cpp).
    bool onOwnerThread() const;
    // Which corners of a cell from the bicubic surface take the ways'
    // hollows: none, those of one of its two triangles, or all four.
    enum class Hollows { none, lowerTriangle, upperTriangle, all };
    // Heights (height units) of the corners of cell (fx, fz), counted from
    // the low-x and low-z edges at a resolution: low x low z, high x low z,
    // low x high z, high x high z. Above resolution 0 from a detail record's
    // grid (with useDetail) or the bicubic surface, lowered in the ways'
    // hollows as the grid is (all four when a cache keeps them).
    void cellCorners(int32_t fx, int32_t fz, int32_t resolution, bool useDetail, Hollows hollows, float corners[4],
                     HeightCache* cache = nullptr) const;
    const CellCacheEntry* cacheEntry(int32_t patch);

    std::atomic<bool> loaded{false};
    mutable std::atomic<int32_t> remoteQueries{0};
    uint32_t ownerThread = 0;
    // The width of a height query's cell at each resolution, and its inverse.
    float cellWidth[4] = {};
    float cellsPerUnit[4] = {};

public:
    // The collision cache (the physics thread's; read elsewhere only while
    // no physics query runs).
    std::vector<CellCacheEntry*> cache;
    uint32_t cacheStamp = 0;
};

// The one terrain of the program.
extern Terrain gTerrain;
