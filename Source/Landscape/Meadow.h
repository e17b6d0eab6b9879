#pragma once

#include "Render/TextureProjInterface.h"
#include "Render/VertexRing.h"

#include "Core/BoundingBox.h"
#include "Core/OrientedBox.h"
#include "Core/SCList.h"
#include "Core/String.h"
#include "Core/Vector.h"

#include <d3d9.h>

#include <cstdint>
#include <functional>

class FileInterface;
class Terrain;
class TextureProj;
class Water;

// The grass of a level: any number of grass layers (Meadow::GrasLayer), each
// scattering small textured tufts in square patches around the camera that
// fade out with distance. One meadow per render device: the swap chain makes
// it, updates it among its managers and draws it twice a frame, the layers
// that grow in water before the water and the others after it. The scene
// loads it from the level's ".mdw" file, saves it there and clears it.
//
// Far or moving patches stream their vertices through one dynamic ring
// (default pool: released before a device reset and made again after it);
// near, steady patches keep theirs in the layers' managed pools. Every grass
// shape is a set of quads drawn over one shared index buffer.
//
// The ground comes from terrain, the water from water and the ways from
// ways (none until the road network answers: then no point lies on a way);
// blades are scattered with random, which tests replace. Main thread only.
class Meadow : public TextureProjInterface
{
public:
    class GrasLayer;

    // A grass vertex: position, lit colour, texture coordinates.
    struct Vertex
    {
        vec3d position;
        uint32_t colour; // ARGB
        float u, v;
        static constexpr DWORD format = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;
    };
    static_assert(sizeof(Vertex) == 24, "grass vertices are 24 bytes, XYZ | DIFFUSE | TEX1");

    // A body that bends the grass it stands in: its box, how hard it
    // pushes, and its shapes (oriented boxes and spheres).
    struct TouchBody
    {
        struct Sphere
        {
            vec3d centre;
            float inverseRadius = 1.0f;
            float radiusSq = 1.0f;
        };

        TouchBody() = default;
        TouchBody(const TouchBody&) = delete;
        TouchBody& operator=(const TouchBody&) = delete;
        ~TouchBody()
        {
            boxes.deleteAll();
            spheres.deleteAll();
        }

        BoundingBox box;
        float push = 1.0f;
        SCList<OrientedBox> boxes;
        SCList<Sphere> spheres;
    };

    // Whether a point lies on a way (the road network's answer): on one that
    // lowers the ground, which a layer's on-way setting chooses, or on a
    // paved one, where no blade stands.
    class Ways
    {
    public:
        virtual int32_t isOnWay(float x, float z) = 0;
        virtual int32_t isOnPavement(float x, float z) = 0;

    protected:
        ~Ways() = default;
    };

    static constexpr uint32_t batchCapacity = VertexRing<Vertex>::batchVertices;
    static constexpr uint32_t bufferVertices = VertexRing<Vertex>::ringVertices;
    static constexpr char versionMark[4] = {'v', '1', '.', '0'};
    // What a level's grass may cost. Each layer grows patches of blades
    // around the camera every frame, so a record of a few bytes can ask for
    // megabytes and milliseconds. A file gives at most maxLayers layers
    // whose blades (every patch in range full, GrasLayer::mostBlades) come
    // to at most maxBlades together: with their vertices at most 520 bytes
    // a blade, some 135 MB, and almost fifty times the game's maps' grass.
    // The read stops at the first layer past either bound.
    static constexpr uint32_t maxLayers = 64;
    static constexpr uint64_t maxBlades = 1u << 18;
    // The layers' textures count too, by their decoded size as the image's
    // header gives it (at least 4 bytes a texel), before anything is
    // decoded: an image wider or higher than maxTextureSide (eight times the
    // game's grass textures) or past maxTextureBytes for the file's images
    // together, or one whose header does not tell its size, ends the read
    // as the bounds above do.
    static constexpr uint32_t maxTextureSide = 512;
    static constexpr uint64_t maxTextureBytes = 8u << 20;

    Meadow();
    ~Meadow() override;
    Meadow(const Meadow&) = delete;
    Meadow& operator=(const Meadow&) = delete;

    // The shared quad indices (managed, once) and the streaming ring when
    // missing.
    void createBuffers();
    // Device reset: the ring lives in the default pool.
    void releaseDeviceBuffers();
    void restoreDeviceBuffers();

    // Reads the ".mdw" file at path: the old layers go and the file's take
    // their place. An empty path or a file that does not open changes
    // nothing and gives false. A damaged file keeps the layers read before
    // the damage, as does one past the bounds above, and gives false: true
    // only when the read ended with the file's last byte, its end tag.
    bool load(const String& path);
    // The same from a stream of the whole file.
    bool read(FileInterface& stream);
    // Writes every layer; the file is replaced only once written whole.
    bool save(const String& path) const;
    void write(FileInterface& stream) const;
    // Deletes every layer and the buffers and forgets the projections
    // (scene clear). The touch bodies stay.
    void clear();

    // Once per frame: every layer's patches follow the current camera.
    void update();
    // Draws the layers whose on-water setting equals waterPass, each patch
    // streamed or from its cached vertices, farthest first. During the
    // water's reflection only when drawInReflections is set.
    void render(uint32_t waterPass);

    // The projections that fall on the grass (not owned): a projection is
    // appended once; removing one that is not there changes nothing.
    void addTexProj(TextureProj* projection) override;
    void removeTexProj(TextureProj* projection) override;

    // The streaming ring, for the patches being drawn: room for count
    // vertices in the open batch, the batch drawn and the next one locked
    // when they do not fit; null without a ring. endStream draws what the
    // open batch holds.
    Vertex* streamVertices(uint32_t count);
    void endStream();
    // The shared quad indices.
    IDirect3DIndexBuffer9* quadIndices() const { return ring.indexBuffer; }

    SCList<GrasLayer> layers; // owned, in file order
    SCList<TouchBody> touchBodies; // owned
    SCList<TextureProj> projections;
    VertexRing<Vertex> ring;
    uint32_t drawInReflections = 1;
    Terrain* terrain;
    Water* water;
    Ways* ways = nullptr;
    // Values 0 to 32767 (the runtime's rand by default).
    std::function<int32_t()> random;

private:
    void deleteLayers();
};
