#pragma once
// The smoke a quad's exhaust puffs while the rider opens the throttle: at
// most one puff every 40 ms from the outlet, and only while the engine's
// load term (the throttle running ahead of its smoothed value) is high
// enough for the puff's own threshold. A puff rises, slows sideways, grows
// and fades out over the first 6 units of its way.
//
// The quad initialises it early, creates its particle system once it knows
// the outlet (the third light of its package), updates it every frame and
// releases it with itself. The callback runs in the particle manager's pass.
// Main thread only.

#include "Entity/EntityManager.h"
#include "Entity/ParticleSystem.h"
#include "Render/D3DDevice.h"

#include "Core/Matrix.h"

#include <cstdint>

struct Particle;

namespace Audio {
class EngineSound;
}

class ExhaustSmoke
{
public:
    static constexpr int32_t particleCount = 25;
    static constexpr float systemScale = 6.0f;
    static constexpr uint32_t puffInterval = 40;
    // The built-in smoke texture's resource.
    static constexpr uint16_t smokeTextureId = 108;

    // A particle system that knows its smoke, its scale and when the next
    // puff may leave.
    class System final : public ParticleSystem
    {
    public:
        System(ExhaustSmoke& owner, D3D::Device::SwapChain& chain, const TextureRef& texture);
        ExhaustSmoke* owner;
        float scale = systemScale;
        uint32_t nextPuffTime = 0;
    };

    ExhaustSmoke() = default;
    // release.
    ~ExhaustSmoke();
    ExhaustSmoke(const ExhaustSmoke&) = delete;
    ExhaustSmoke& operator=(const ExhaustSmoke&) = delete;

    // Keeps the three; the outlet at the vehicle's origin, no system.
    void init(D3D::Device::SwapChain* chain, EntityManager::Entity* vehicle, const Audio::EngineSound* engine);
    // The outlet's transform in the vehicle's frame, and the started system
    // of 25 puffs ("Smoke01", the built-in texture). No system without a
    // swap chain.
    void create(const matrix3d& outletTransform);
    // Once a frame: the throttle level from the engine's load term; the
    // system hidden while the vehicle lies beyond the view's range.
    void update();
    // The outlet in the world: the outlet's transform times the vehicle's.
    void emitterTransform(matrix3d& out) const;
    static uint32_t smokeParticle(Particle& particle);
    // The system goes.
    void release();

    D3D::Device::SwapChain* swapChain = nullptr;
    EntityManager::Entity* entity = nullptr;
    const Audio::EngineSound* engineSound = nullptr;
    matrix3d localTransform = matrix3d::identity();
    System* system = nullptr;
    float throttleLevel = 0.0f;
};
