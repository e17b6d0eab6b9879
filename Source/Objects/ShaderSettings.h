#pragma once
// The render settings of one package mesh: its Direct3D material and the
// few states that go with it (texture addressing, alpha test, back-face
// culling, an environment reflection on stage 1, a texture-coordinate
// scale, shadow casting). Read from the mesh's block; applied by the render
// callback of every sub-entity made from the mesh while the sub-entity's
// state blocks are recorded. Main thread only.

#include "Objects/ObjPkgManager.h"

#include <windows.h>
#include <d3d9.h>

#include <cstdint>

class EnvMap;
class FileInterface;
class Shader;
struct Texture;

// The block stores the material as it lies in memory.
static_assert(sizeof(D3DMATERIAL9) == 68);

class ObjPkgManager::ShaderSettings
{
public:
    // Clamped addressing, a white material with ambient 0.6, no alpha test,
    // no reflection, back faces culled, shadows cast.
    ShaderSettings();

    // Reads the tagged block (tags 1 to 10; later tags carry no field).
    // True when it ended at its tag 0 or where the data ends between two
    // entries; false when the data cuts a field short. A value outside what
    // the settings take (an unknown address mode, a non-finite or huge
    // number) keeps the value held before.
    bool load(FileInterface& stream);

    // Sets the states of one draw on the device. environment is the scene's
    // environment map: a reflection shows its cube texture, or the built-in
    // "LevelEditorCubemap" while the map has none, and nothing unless the
    // map is live. With a state record (the sub-entity's Shader) the cull
    // mode, the texture scale and whether the reflection is used go into
    // the record; without one they are set on the device, and every state
    // that a reflective or translucent draw sets is put back to its plain
    // value, so nothing leaks into the next draw. The record is filled also
    // without a device.
    void apply(const EnvMap* environment, Shader* stateRecord) const;

    // The cube texture a reflection shows: none unless the map is live; its
    // own cube texture when it has one, else the built-in map.
    static const Texture* reflectionTexture(const EnvMap* environment);

    // Whether apply blends a reflection on stage 1.
    bool reflects() const { return (reflectionMode == 0 && reflectionAmount > 0) || reflectionMode == 1; }

    uint32_t addressMode = D3DTADDRESS_CLAMP;
    float textureScale = 1.0f;
    D3DMATERIAL9 material{};
    uint8_t alphaRef = 0;
    // 0: blended by the texture factor's alpha (reflectionAmount), 1: by the
    // current alpha; other values: no reflection.
    uint32_t reflectionMode = 0;
    uint8_t reflectionAmount = 0;
    uint32_t cullBackFaces = 1;
    uint32_t value6 = 0;
    // 0: the sub-entities made from the mesh stay out of the shadow maps.
    uint32_t castShadow = 1;
    uint32_t value10 = 1;
};
