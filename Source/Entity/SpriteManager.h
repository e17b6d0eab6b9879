#pragma once
// Sprites: single textured quads placed by a world matrix, each drawn with
// its own render-state set. The swap chain owns the sprite manager and with
// it the list of sprites; it draws them in the frame's sprite pass (after
// the second meadow pass) and in the effect scene, and the water's
// reflection draws them too. Sprites belong to the code that creates them
// (lens flares, object functions) and unlink themselves when deleted.
// Main thread only.

#include "Render/SwapChain.h"

#include <TextureRecord.h>

#include "Core/Matrix.h"
#include "Core/SCList.h"
#include "Core/String.h"
#include "Core/Vector.h"

#include <windows.h>
#include <d3d9.h>

#include <cstdint>

class SpriteManager
{
public:
    // The shared quad's vertex: position and one uv pair (D3DFVF_XYZ |
    // D3DFVF_TEX1).
    struct Vertex
    {
        vec3d position;
        float u = 0.0f;
        float v = 0.0f;

        static constexpr DWORD format = D3DFVF_XYZ | D3DFVF_TEX1;
    };

    // A sprite's render-state set: apply before drawing, restore after;
    // ownedBySprite tells whether the sprite deletes it with itself.
    class Shader
    {
    public:
        virtual ~Shader() = default;
        virtual void apply() = 0;
        virtual void restore() = 0;
        virtual bool ownedBySprite() = 0;
    };

    // The default set: each field sets the render state named beside it;
    // the texture factor tints and fades the sprite (stage 0 modulates by
    // it). restore puts the device defaults back.
    class Rendersettings : public Shader
    {
    public:
        void apply() override;
        void restore() override;
        bool ownedBySprite() override { return true; }

        uint32_t keepFog = 1;       // 0: no fog on the sprite
        uint32_t alphaBlending = 0; // ALPHABLENDENABLE
        uint32_t depthTest = 1;     // ZENABLE
        uint32_t depthWrite = 1;    // ZWRITEENABLE
        uint32_t alphaTest = 0;     // ALPHATESTENABLE
        uint32_t twoSided = 0;      // CULLMODE none, else the device's
        uint8_t alphaReference = 127;
        uint32_t sourceBlend = D3DBLEND_SRCALPHA;
        uint32_t destinationBlend = D3DBLEND_DESTALPHA;
        float mipBias = 0.0f; // added to the camera's for sampler 0
        Color textureFactor{255, 255, 255, 255};
        uint32_t stage1Operation = D3DTOP_DISABLE; // colour and alpha
    };

    class Sprite
    {
    public:
        Sprite() = default;
        Sprite(const Sprite&) = delete;
        Sprite& operator=(const Sprite&) = delete;
        // Deletes the set when it belongs to the sprite, unlinks the sprite
        // and releases its textures.
        virtual ~Sprite();
        // This sprite alone, with the pass's states set and reset around it.
        virtual void renderSingle();
        // The sprite with the states of the pass already set: world matrix,
        // textures (a stage without one keeps what it has), the set,
        // texture turns about the middle, the quad. An override that sets
        // render states itself sets them back: within a pass, the default
        // sets leave out states that hold their values already.
        virtual void draw();

        matrix3d world = matrix3d::identity();
        Shader* settings = nullptr;
        uint32_t hidden = 0;
        uint32_t hiddenInReflections = 0; // not drawn while the device is mirrored
        // Kept for the sprite's creator; nothing sets a second view, so the
        // sprite is always drawn with the camera's.
        uint32_t alternateView = 0;
        uintptr_t userWords[4] = {};
        float userValues[10] = {};
        float textureRotation[2] = {}; // degrees, stages 0 and 1
        TextureRef textures[2];
        SCList<Sprite>::Node* node = nullptr;
    };

    SpriteManager() = default;
    // The sprites stay with their owners; they are only unlinked.
    ~SpriteManager();
    SpriteManager(const SpriteManager&) = delete;
    SpriteManager& operator=(const SpriteManager&) = delete;

    // Links sprite into chain's list (when the chain has a sprite manager)
    // with settings, or a new Rendersettings of its own when settings is
    // null, and loads the stage-0 texture by name unless the name is empty.
    // False when the texture does not load (the sprite stays linked).
    // mipLevels 0 makes the whole chain.
    static bool createSprite(Sprite& sprite, D3D::Device::SwapChain& chain, Shader* settings, const String& textureName,
                             uint32_t mipLevels = 0);

    // The sprite pass: every sprite that is not hidden (and, while the
    // device draws mirrored, not hidden in reflections), in list order. The
    // default sets of its sprites write only the states that change from
    // one sprite to the next.
    void render();

    // The shared quad: made once at device creation, freed at its release.
    static bool createQuadBuffer();
    static void releaseQuadBuffer();

    SCList<Sprite> sprites;

private:
    static void setPassStates();
    static void resetPassStates();

    static IDirect3DVertexBuffer9* quad_;
};
static_assert(sizeof(SpriteManager::Vertex) == 20);
