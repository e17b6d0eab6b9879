#pragma once
// Particle systems: fire, smoke, trails and leaves as camera-facing (or
// oriented) textured quads. The code that owns an effect creates a system
// with a callback that moves and ages each particle; the swap chain's
// particle manager keeps every started system and, in its pass, advances
// and draws them through one streaming ring of vertices. Systems are created
// stopped; the owner clears stopped to start one. A system that runs out of
// particles stops and leaves the manager, and is deleted then when it was
// made to be deleted when empty; the owner may delete any system at any
// time. Main thread only.

#include "Render/SwapChain.h"
#include "Render/VertexRing.h"

#include <TextureRecord.h>

#include "Core/Color.h"
#include "Core/Matrix.h"
#include "Core/SCList.h"
#include "Core/Vector.h"

#include <d3d9.h>

#include <cstdint>

class ParticleManager;
class ParticleSystem;

// A particle's quad corner: position, colour, one uv pair (D3DFVF_XYZ |
// D3DFVF_DIFFUSE | D3DFVF_TEX1).
struct ParticleVertex
{
    vec3d position;
    uint32_t colour = 0; // the device's ARGB
    float u = 0.0f;
    float v = 0.0f;

    static constexpr DWORD format = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;
};
static_assert(sizeof(ParticleVertex) == 24, "particle vertices are 24 bytes on the device");

struct Particle
{
    float age = 0.0f;     // frame-factor units
    vec3d position;
    vec3d velocity;       // per frame-factor unit
    float values[2] = {}; // the callback's
    // Rows 0 and 1: the quad's width and height axes when the system is oriented.
    matrix3d orientation = matrix3d::identity();
    // The first two values of rows 0 and 1 scale and turn the texture
    // coordinates about their middle (0.5, 0.5).
    float textureTransform[9] = {1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};
    Color colour{255, 255, 255, 255};
    float width = 1.0f;
    float height = 1.0f;
    uint32_t hidden = 1; // new particles wait for their callback to show them
    uint32_t frozen = 0; // not moved or aged by the manager
    uintptr_t words[17] = {}; // the callback's
    ParticleSystem* system = nullptr;
};

class ParticleSystem
{
public:
    // Moves and ages a particle each pass; 0 removes it.
    using Callback = uint32_t (*)(Particle& particle);

    // count particles (none without a particle manager, and the system then
    // stays out of its list), the texture taken from textureTemplate (none:
    // the particles move and age but are not drawn). The
    // hidden-in-reflections flag is set unless drawInReflections.
    ParticleSystem(Callback callback, uint32_t sourceBlend, D3D::Device::SwapChain& chain,
                   const TextureRef& textureTemplate, int32_t count, uint32_t destinationBlend, uint32_t setting,
                   bool drawInReflections, bool oriented, bool deleteWhenEmpty);
    // Releases the texture, leaves the manager's list, frees the particles.
    virtual ~ParticleSystem();
    ParticleSystem(const ParticleSystem&) = delete;
    ParticleSystem& operator=(const ParticleSystem&) = delete;

    Callback callback;
    uint32_t sourceBlend;
    uint32_t destinationBlend;
    uint32_t setting;
    uint32_t oriented;
    uint32_t hiddenInReflections;
    uint32_t deleteWhenEmpty;
    uint32_t stopped = 1;
    // The owner's emitter values.
    vec3d emitterPosition;
    vec3d emitterDirection;
    float emitterValues[6] = {};
    uint32_t reserved = 128;
    TextureRef texture;
    SCList<ParticleSystem>::Node* node = nullptr;
    SCList<Particle> particles;
};

// The swap chain's particle pass over every system it keeps.
class ParticleManager
{
public:
    ParticleManager() = default;
    // destroyAll.
    ~ParticleManager();
    ParticleManager(const ParticleManager&) = delete;
    ParticleManager& operator=(const ParticleManager&) = delete;

    // The pass: each started system (not those hidden in reflections while
    // the device draws mirrored): with advance, each particle's callback
    // runs (0 frees the particle) and, unless frozen, it ages and moves by
    // the frame factor; each shown particle adds one quad. A system left
    // without particles stops and leaves the list, and is deleted when it
    // was made so. Nothing without the vertex buffer or systems.
    void render(bool advance);
    // Device release: both buffers, then every system leaves the list;
    // those made to be deleted when empty are deleted with their particles.
    void destroyAll();
    // Device creation and restore: the quad index list once, the vertex
    // buffer when missing. False without a vertex buffer afterwards.
    bool createBuffers();
    // Before a reset.
    void releaseVertices() { ring.releaseVertices(); }

    VertexRing<ParticleVertex> ring;
    SCList<ParticleSystem> systems;

private:
    // Ends, draws and reopens the open batch.
    void flush();
    // Writes the particle's quad; false when the batch is full.
    bool writeQuad(const Particle& particle, bool oriented, const vec3d& right, const vec3d& up);
    // Stops the system, takes it out of the list and deletes it when it is
    // deleted when empty.
    void retire(SCList<ParticleSystem>::Node* node);
};
