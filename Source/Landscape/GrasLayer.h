#pragma once

#include "Landscape/Meadow.h"
#include "Landscape/Terrain.h"

#include "Render/BufferPool.h"
#include "TextureRecord.h"

#include "Core/Color.h"
#include "Core/DynArray.h"
#include "Core/FileArray.h"

#include <cfloat>
#include <cstdint>
#include <memory>
#include <vector>

class Camera;
struct LightRecord;

// One kind of grass of the meadow: its texture, blade sizes and shape,
// colours, lighting and the rules for where it grows. Around the camera it
// keeps square patches on a fixed grid of cells; each patch scatters up to
// bladesPerPatch tufts over its cell where slope, height, water and ways
// allow. Blades fade and shrink with distance, are sorted back to front and
// are drawn from a per-patch range of a managed pool while the patch is near
// and steady (cached), else streamed every frame.
//
// A layer is constructed with its settings (state 0), becomes ready once its
// record is read (1); a layer whose shape has no vertex layout is disabled
// (2) and neither grows nor draws. Main thread only.
class Meadow::GrasLayer
{
public:
    // What the file stores of a layer (besides its name and texture).
    struct Settings
    {
        float minimumHeight = 5.0f;
        float maximumHeight = 6.5f;
        float width = 8.0f;
        // As stored: the drawing keeps them within what the camera sees
        // (drawnRange, drawnFadeStart).
        float fadeStart = 400.0f;
        float range = 800.0f; // fade end, and the patches' range
        uint32_t tilt = 15;   // degrees
        uint32_t colourVariation = 15;
        float brightness = 1.2f;
        uint32_t lighting = 1; // 0 the sun, 1 the terrain's light
        uint32_t bladesPerPatch = 70;
        uint32_t shape = 2; // 1 to 5
        float minimumNormal = 0.985f; // allowed y of the ground normal
        float maximumNormal = 1.0f;
        float minimumGround = 0.0f; // allowed ground height, both exclusive
        float maximumGround = 150.0f;
        uint32_t onWater = 0; // 1: only in water, 0: only out of it; also the render pass
        uint32_t onWay = 0;   // 1: only on ways, 0: only off them
        float sinkDepth = 0.0f;
        Color colour{255, 255, 255, 255};

        bool operator==(const Settings&) const = default;
    };

    struct Blade
    {
        uint32_t shape = 0;
        uint32_t hidden = 0;
        uint32_t built = 0;
        Color colour;    // the layer colour, varied
        Color litColour; // what the vertices carry
        float height = 0.0f;
        float opacity = 0.0f;
        float scale = 0.0f;
        float fadeDistanceSq = 0.0f;
        float distanceSq = 0.0f; // to the camera in x and z
        float fadeRate = 0.0f;
        float recoverySpeed = 0.0f;
        vec3d position;
        vec3d groundNormal;
        vec3d restDirection;
        vec3d direction;
        vec3d widthA;
        vec3d widthB;
        float bendX = 0.0f;
        float bendZ = 0.0f;
    };

    // Patch states.
    static constexpr uint32_t hiddenPatch = 0;
    static constexpr uint32_t cachedPatch = 1;
    static constexpr uint32_t streamingPatch = 3;

    struct Patch
    {
        explicit Patch(GrasLayer* owner) : layer(owner) {}
        Patch(const Patch&) = delete;
        Patch& operator=(const Patch&) = delete;
        ~Patch() { releaseCached(); }

        // Gives the cached vertex range up (cached count 0).
        void releaseCached();
        // The visible blades, farthest first, into the meadow's open batch
        // (the caller ends the stream).
        void drawStreamed();
        // From the patch's own range, refilled when the visible count
        // changed; a range larger than a pool gets a pool of its size.
        void drawCached();
        // Again under a projection (not in the reflection).
        void drawProjected(TextureProj& projection);

        GrasLayer* layer;
        BufferRange* cached = nullptr;
        std::unique_ptr<Blade[]> blades;
        std::unique_ptr<uint16_t[]> order; // blade indices, farthest first
        uint32_t bladeCount = 0;
        uint32_t visibleCount = 0;
        uint32_t cachedCount = 0;
        uint32_t active = 0;
        int32_t cellX = 0;
        int32_t cellZ = 0;
        vec3d centre;
        vec3d minimum;
        vec3d maximum;
        float distanceSq = 0.0f; // of the centre to the camera
        float viewX = 0.0f;      // the direction from the camera when last sorted
        float viewZ = 0.0f;
        Terrain::PatchLight light;
        float markC = 0.0f;
        float markA = 0.0f;
        float markB = 0.0f;
        uint32_t state = hiddenPatch;
        uint32_t touched = 0;
    };

    struct PatchTexProj
    {
        TextureProj* projection = nullptr;
        Patch* patch = nullptr;
    };
    struct PlacementPoint
    {
        float x = 0.0f, z = 0.0f, scale = 1.0f;
    };
    struct Circle
    {
        float x = 0.0f, z = 0.0f, radiusSq = 0.0f;
    };
    struct Rectangle
    {
        float minimumX = 0.0f, minimumZ = 0.0f, maximumX = 0.0f, maximumZ = 0.0f;
    };

    static constexpr uint32_t constructed = 0;
    static constexpr uint32_t ready = 1;
    static constexpr uint32_t disabled = 2;

    static constexpr float cellSize = 128.0f;
    static constexpr float projectionRange = 400.0f;
    static constexpr uint32_t maxBladesPerPatch = 1024;
    // Vertices per pool of the cached patches.
    static constexpr uint32_t poolVertices = 4096;

    GrasLayer(Meadow* owner, const Settings& settings);
    ~GrasLayer();
    GrasLayer(const GrasLayer&) = delete;
    GrasLayer& operator=(const GrasLayer&) = delete;

    // The layer record of the ".mdw" file: tags until 0 or the end of the
    // data (false then); a field outside its rules keeps its default. The
    // layer is ready afterwards (or disabled) with its settings applied.
    // textureBytes counts the file's images (Meadow::maxTextureBytes); an
    // image past the bounds, or one whose header does not tell its size, is
    // not decoded, and ends the record.
    bool read(FileInterface& stream, uint64_t& textureBytes);
    void write(FileInterface& stream) const;
    // After a change of the settings: vertices per blade from the shape,
    // normal limits within 0..1, the drawn range and fade start, the
    // full-opacity limit; every patch goes and the next update builds them
    // anew.
    void applySettings();
    static uint32_t verticesForShape(uint32_t shape);
    // The most blades the layer holds at once: bladesPerPatch in every cell
    // within its drawn range of the camera; none while it cannot grow.
    uint64_t mostBlades() const;

    // The meadow's update of this layer for the camera: the patch grid, then
    // (when ready) each patch's view test, fading, sorting and bending, and
    // the list of patches to draw.
    void update(const Camera& camera);
    // Patches come for cells that came into range and go for cells that
    // left it since the last camera position.
    void updatePatchGrid(const vec3d& camera);
    // Tries (up to 4 times) to put blade somewhere in patch's cell where the
    // rules let grass grow; false when no try succeeded.
    bool placeBlade(const Patch& patch, Blade& blade);
    void initBlade(Blade& blade);
    void buildBlade(Blade& blade);
    void lightBlade(Blade& blade);
    // The blade's vertices (verticesPerBlade of them) from out on; returns
    // the vertex after the last.
    Vertex* writeBladeVertices(const Blade& blade, Vertex* out) const;
    // The texture and the patches to draw (the meadow's render).
    void render(bool reflection);

    void removePatch(Patch* patch);
    void deletePatches();
    // The patch of cell (x, z), or null.
    Patch* findPatch(int32_t x, int32_t z) const;

    // A blade pushed by the first body it meets along its length, its bend
    // growing with the depth; untouched, a bent blade springs back (faster
    // from frame to frame) unless that would put it into a body again. True
    // while it moves.
    bool bendBlade(Blade& blade, const TouchBody* const* bodies, int32_t bodyCount);

    // A cached range given up: freed two updates later.
    void retire(BufferRange*& range);
    // Device reset: every cached range and the pools go.
    void releaseDeviceBuffers();

    // The texture: bound from the stored image file, which is kept so that
    // a save writes back what was read.
    void setTexture(const TextureRef& texture);

    Meadow* owner;
    String name;
    SCList<PlacementPoint> placementPoints;
    SCList<Circle> circles;
    SCList<Rectangle> rectangles;
    // The cached patches' vertices: rewritten whenever a patch's blades
    // change, so dynamic (a write then waits for nothing the device still
    // draws); gone with every device reset, after which the patches refill.
    BufferPool::List pools{BufferPool::Layout{sizeof(Vertex), Vertex::format, poolVertices}, true};
    // Ranges given up in the last two frames: the device may still draw
    // from them, so they are freed only then.
    std::vector<BufferRange*> retired[2];
    SCList<Patch> patches; // owned
    DynArray<Patch*> drawList{32};
    DynArray<Patch*> nextList{32};
    uint32_t drawCount = 0;
    uint32_t nextCount = 0;
    TextureRef texture;
    mutable FileArray textureFile{4096}; // the stored image file, empty without one
    uint32_t textureLevels = 0;
    Settings settings;
    vec3d lastCamera{-FLT_MAX, -FLT_MAX, -FLT_MAX};
    uint32_t verticesPerBlade = 0;
    uint32_t patchSetChanged = 0;
    uint32_t receivesProjections = 1;
    // The range and fade start the drawing uses: the stored ones where the
    // range lies within the camera's and the fade starts below it, else the
    // defaults (a fade start of half the range when the default does not
    // fit). A save writes the stored ones back.
    float drawnRange = 800.0f;
    float drawnFadeStart = 400.0f;
    float fullOpacityLimit = 0.0f; // squared distance
    uint32_t placementMode = 0;    // 0 random, 1 the placement points
    uint32_t state = constructed;
    DynArray<PatchTexProj> patchProjections{16};
    uint32_t projectionCount = 0;

private:
    void createPatch(int32_t cellX, int32_t cellZ);
    void updatePatch(Patch& patch, const Camera& camera, const LightRecord& sun);
    // Each blade hidden or built and faded for the patch's distance; with
    // bodies, bent by them (or springing back), the patch's touched flag
    // cleared once no blade moved.
    void fadeBlades(Patch& patch, bool relight, bool bend, const TouchBody* const* bodies, int32_t bodyCount);
    void sortBlades(Patch& patch, const vec3d& camera);
    // The meadow's random source, within 0 to 32767.
    int32_t random() const;
    // Whether p lies in any water area.
    bool inWater(const vec3d& p) const;
};
