#pragma once

#include "Render/D3DDevice.h"

#include <TextureRecord.h>

#include "Core/Color.h"
#include "Core/Matrix.h"
#include "Core/SCList.h"
#include "Core/Vector.h"

#include <windows.h>
#include <d3d9.h>

#include <cstdint>

class RenderTexture;

// A cube texture rendered around a point of the scene: for each face the map
// sets a 90-degree view from the point and lets its client draw. The maps
// that take part in device resets are entered in one global list; a map of
// size 0 renders nothing. Main thread only.
//
// An owner sets size, levels and kind (and, for downsampled levels, a face
// target), makes the device objects with restore, enters the map and renders
// it with render; the device drops and rebuilds the entered maps around a
// reset and releases them with itself.
class EnvMap
{
public:
    // The map's client: renderEnvFace draws the scene into the face in force
    // (target, view, projection and the swap chain's volumes are set).
    class Interface
    {
    public:
        virtual void renderEnvFace() {}

    protected:
        ~Interface() = default;
    };

    // The sun drawn into the faces: placed and coloured by updateSunSprite,
    // drawn by draw with its world matrix.
    class Sprite
    {
    public:
        virtual ~Sprite() = default;
        virtual void draw() = 0;

        matrix3d world = matrix3d::identity();
        Color colour;
    };

    static constexpr uint32_t live = 1;
    // Kinds: the levels below the first are filled by downsampling the face
    // target, or the cube texture makes its own mip levels.
    static constexpr uint32_t downsampled = 1;
    static constexpr uint32_t autoMipmapped = 2;

    // State live, kind downsampled, size 0, one level. A null swap chain
    // means the current one.
    EnvMap(D3D::Device::SwapChain* swapChain, Interface* client);
    ~EnvMap() { destroy(*this); }
    EnvMap(const EnvMap&) = delete;
    EnvMap& operator=(const EnvMap&) = delete;

    // Renders the six faces from position. Only for a live map with a size
    // and a cube texture; inside the render-busy handshake.
    static void render(EnvMap& map, const vec3d& position);
    // Renders every live entered map again at its position (after a reset).
    static void renderAll();
    // Releases the cube texture's Direct3D object and the depth surface of
    // every live entered map (before a reset).
    static void releaseForReset();
    // Makes the cube texture (render target, A8R8G8B8, size and levels,
    // automatic mip levels for that kind) and, when the map needs one, its
    // depth surface. False when the cube texture could not be made.
    static bool restore(EnvMap& map);
    // restore for every live entered map (after a reset).
    static void restoreAll();
    // Drops the cube texture and the depth surface, leaves the list and
    // deletes the sun sprite. A second call does nothing.
    static void release(EnvMap& map);
    // release, the destruction of a map.
    static void destroy(EnvMap& map) { release(map); }
    // Device release: every entered map drops its device objects and leaves
    // the list; no map is deleted.
    static void releaseAll();
    // Program exit: empties the list, deleting the maps when deleteMaps is set.
    static void destroyAll(bool deleteMaps);

    // Enters map in the global list (once).
    static void enter(EnvMap& map);

    // Places the sun sprite 10 units from position toward the sun, 18 units
    // across, in the sun's colour.
    static void updateSunSprite(EnvMap& map, const vec3d& position);
    static void drawSunSprite(EnvMap& map);

    static SCList<EnvMap> maps;

    D3D::Device::SwapChain* swapChain;
    Interface* client;
    uint32_t state = live;
    uint32_t kind = downsampled;
    uint32_t size = 0;
    uint32_t levels = 1;
    vec3d position;
    RenderTexture* faceTarget = nullptr;     // not owned (a shared render texture)
    IDirect3DSurface9* depthSurface = nullptr;
    TextureRef cubeTexture;
    uint32_t lastRenderTime = 0;             // timeGetTime of the last render
    SCList<EnvMap>::Node* node = nullptr;    // in maps, or null
    uint32_t sunFlag = 0;                    // draw the sun sprite into the faces
    Sprite* sunSprite = nullptr;             // owned

private:
    static void renderFace(EnvMap& map, D3D::Device::SwapChain& chain, int face);
    static void downsampleFace(EnvMap& map, D3D::Device::SwapChain& chain, int face);
};
