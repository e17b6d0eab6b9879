#pragma once

#include "Core/Matrix.h"
#include "Core/SCList.h"
#include "Core/Vector.h"

#include <TextureRecord.h>

#include <d3d9.h>

#include <cstdint>

// The sky records the swap chain keeps beside the animated sky: a textured
// box drawn before it, a layer of stars drawn after it and scrolling cloud
// layers drawn last. The swap chain makes them empty and nothing in the game
// fills them, so the sky pass always finds them empty: render and update
// return while a record has nothing to draw. They release what they would
// hold when destroyed.

// Five textured faces, face i the strip of vertices 4i to 4i + 3.
struct SkyBox
{
    struct Vertex
    {
        vec3d position;
        vec2d uv;
    };
    static_assert(sizeof(Vertex) == 20);
    static constexpr uint32_t fvf = D3DFVF_XYZ | D3DFVF_TEX1;

    SkyBox() = default;
    SkyBox(const SkyBox&) = delete;
    SkyBox& operator=(const SkyBox&) = delete;
    ~SkyBox();

    bool empty() const { return vertexBuffer == nullptr; }
    void render() const;

    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    TextureRef faces[5];
};

// Stars as points (position and colour, 16 bytes).
struct StarLayer
{
    StarLayer() = default;
    StarLayer(const StarLayer&) = delete;
    StarLayer& operator=(const StarLayer&) = delete;
    ~StarLayer();

    bool empty() const { return vertexBuffer == nullptr; }
    void render() const;

    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    uint32_t pointCount = 0;
    uint8_t alpha = 0;
};

// Cloud layers that drift with the wind and take the sun's light.
struct SkyLayers
{
    struct Vertex
    {
        vec3d position;
        uint32_t colour;
        vec2d uv;
    };
    static_assert(sizeof(Vertex) == 24);
    static constexpr uint32_t fvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

    struct Layer
    {
        Layer() = default;
        Layer(const Layer&) = delete;
        Layer& operator=(const Layer&) = delete;
        ~Layer();

        IDirect3DVertexBuffer9* vertexBuffer = nullptr;
        uint32_t vertexCount = 0;
        IDirect3DIndexBuffer9* indexBuffer = nullptr;
        uint32_t triangleCount = 0;
        TextureRef textures[2];
        vec2d wind;
        float windSpeed = 0.0f;
        float scrollScale = 0.0f;
        vec2d uvOffset;
        float fade = 0.0f;
        matrix3d stageTransforms[3];
        uint32_t greyTexels[4] = {};
    };

    SkyLayers() = default;
    SkyLayers(const SkyLayers&) = delete;
    SkyLayers& operator=(const SkyLayers&) = delete;
    ~SkyLayers();

    bool empty() const { return layers.count() == 0; }
    void update();
    void render();

    SCList<Layer> layers;
    TextureRef texture;
};
