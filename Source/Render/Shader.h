#pragma once

#include <TextureRecord.h>

#include "Core/Matrix.h"

#include <windows.h>
#include <d3d9.h>

#include <cstdint>

// The render-state record that way modelers, user-interface panels and
// stored meshes embed: a material, three textures with their addressing and
// texture transforms, a cull mode, alpha testing, and at its end the pair of
// state blocks its owner records (the first saves the states the second
// sets). The owner records and releases the blocks; the shader only uses
// them. Main thread only.
class Shader
{
public:
    static constexpr int stages = 3;
    // Cull modes: none, the device's mirrored value, its normal value.
    static constexpr uint32_t cullNone = 1;
    static constexpr uint32_t cullBack = 2;
    static constexpr uint32_t cullFront = 3;

    // White material with ambient 0.6, wrapped addressing, identity
    // transforms, the normal cull mode, alpha reference 127.
    Shader();
    ~Shader() { releaseTextures(); }
    Shader(const Shader&) = delete;
    Shader& operator=(const Shader&) = delete;

    // Unbinds the three textures (a record whose last reference goes is
    // destroyed); unbound ones stay as they are.
    void releaseTextures();
    // Captures the save block, then applies the apply block; nothing unless
    // both exist.
    void applyStateBlocks();
    // Releases the blocks that exist and clears them.
    void releaseStateBlocks();
    // D3DRS_CULLMODE from cullMode: none, the device's backCull or its
    // frontCull; any other value sets nothing.
    void setCullMode() const;
    // For every stage with a transform flag: the flag and the stage's matrix.
    void setTextureTransforms() const;

    D3DMATERIAL9 material{};
    TextureRef textures[stages];
    uint32_t addressU[stages] = {D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP};
    uint32_t addressV[stages] = {D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP};
    matrix3d textureTransforms[stages] = {matrix3d::identity(), matrix3d::identity(), matrix3d::identity()};
    uint32_t transformFlags[stages] = {}; // D3DTSS_TEXTURETRANSFORMFLAGS; 0 none
    uint32_t cullMode = cullFront;
    // Stored meshes with it set draw alpha-tested against alphaReference,
    // blended, with stage 0's addressing.
    uint32_t alphaTest = 0;
    uint32_t alphaReference = 127;
    // The material's transparency as projections see it (0 opaque): a
    // projected light's alpha is scaled by 255 - transparency unless
    // transparencyOverride is set; a shadow over a material more than 32
    // transparent takes none of the material's alpha.
    uint32_t transparencyOverride = 0;
    uint8_t transparency = 0;
    // An additive projected texture keeps its own alpha instead of taking
    // the material texture's.
    uint32_t alphaKeep = 0;
    // Set by the object packages' shader settings when the material blends
    // an environment reflection on stage 1.
    uint32_t reflection = 0;
    IDirect3DStateBlock9* saveBlock = nullptr;
    IDirect3DStateBlock9* applyBlock = nullptr;
};
