#pragma once
// The ground effects of one quad's wheels: dust and clods thrown from the
// four wheel contacts in the ground's colour (blue-white spray in water,
// black after oil), ripples where a wheel runs through water, dirt painted
// onto the wheels' dirt textures, wet patches on objects a wheel sprays at,
// and two looped sounds at the quad (water splashing, wheels sliding).
//
// The quad sets it up once its swap chain is known, updates it once a frame
// after its engine, and releases it with itself. The particle callbacks run
// in the particle manager's pass. Each track publishes the water depth over
// its contact to the contact, which the physics step reads for the wheel's
// grip. Main thread only.

#include "Vehicle/QuadPhysics.h"

#include "Entity/ParticleSystem.h"
#include "Render/D3DDevice.h"

#include "Core/Vector.h"

#include <TextureRecord.h>

#include <cstdint>

struct Particle;

namespace Audio {
class AudioFile;
class Sound3D;
}

class WheelDirt
{
public:
    using QuadPhysics = ObjPkgManager::Functions::QuadPhysics;

    static constexpr int32_t trackCount = 4;
    static constexpr int32_t dustCount = 70;
    static constexpr int32_t clodCount = 120;
    // A soiling waits this long (race milliseconds) before it reaches the
    // device: a texture's lock makes the driver finish its queued work.
    static constexpr uint32_t soilUploadDelay = 1000;
    // Texels of soiling one track keeps waiting: four soilings at the top
    // rate; a fifth brings them to the device at once.
    static constexpr int32_t pendingCapacity = 160;

    // One texel of soiling waiting for the device: where, the colour, and
    // what it adds to the alpha (capped at 160 when it is painted).
    struct Paint
    {
        uint16_t x = 0, y = 0;
        uint8_t blue = 0, green = 0, red = 0, alphaAdd = 0;
    };

    // One wheel contact's share of the effect.
    struct Track
    {
        QuadPhysics::Contact* contact = nullptr;
        vec3d lastDustPos;      // the contact at the last dust puff
        int32_t rimAngle = 0;   // degrees, handed to the next clod made
        int32_t rimTurn = 0;    // completed turns of rimAngle
        int32_t emitted = 0;    // set in a frame that threw dirt
        int32_t cycle = 0;      // 0 to 4: the turn of clods that fly next
        uint32_t nextEmitTime = 0;
        uint32_t nextSoilTime = 0;
        float waterDepth = 0.0f;
        float lastSpinAngle = 0.0f; // degrees
        float spinTravel = 0.0f;    // degrees since the last emission
        float rate = 0.5f;          // 0 to 1
        float tintWeight = 0.0f;
        float colour[4] = {};       // red, green, blue, alpha, 0 to 1
        float tint[4] = {};
        int32_t inWater = 0;
        // The soiling not yet painted onto the wheel's dirt texture, and
        // when it is due there.
        Paint pending[pendingCapacity];
        int32_t pendingCount = 0;
        uint32_t uploadTime = 0;
    };

    // A particle system that knows its wheel dirt.
    class System final : public ParticleSystem
    {
    public:
        System(WheelDirt& owner, Callback callback, D3D::Device::SwapChain& chain, const TextureRef& texture,
               int32_t count);
        WheelDirt* owner;
    };

    WheelDirt() = default;
    // release.
    ~WheelDirt();
    WheelDirt(const WheelDirt&) = delete;
    WheelDirt& operator=(const WheelDirt&) = delete;

    // The two particle systems in chain's particle manager (started), the
    // four tracks on contacts (front left, front right, rear left, rear
    // right) and the two sounds of the quad's template, following the
    // entity. Nothing without a quad; no systems without a chain.
    void setUp(QuadPhysics::Instance* quad, D3D::Device::SwapChain* chain, const TextureRef& dustTexture,
               const TextureRef& dirtTexture, QuadPhysics::Contact* const (&contacts)[trackCount]);
    // Both systems go, both sounds stop and go, the files are forgotten.
    void release();

    // Once a frame: water and ripples under each contact, the ground colour,
    // the emission of each track (soiling the wheel or wetting an object),
    // the splash and slide sounds and the systems' visibility.
    void update();

    // Soils rate x 40 texels of the track's wheel's dirt texture in the
    // track's colour: chosen now, painted when they reach the device (see
    // uploadSoiling). Nothing for a wheel without its part or texture.
    void soilWheel(Track& track);
    // Paints the waiting soiling onto the wheels' dirt textures, one lock a
    // texture for all the tracks on it, and records the wheels' state blocks
    // again: those whose delay has passed, or all of them with now. Run by
    // update.
    void uploadSoiling(bool now);
    // Once the soil time has passed: a random ray of 20 from the contact's
    // wheel; another object's sub-entity it hits gets its dirt texture
    // darkened.
    void wetNearbyObject(Track& track, D3D::Device::SwapChain* chain);

    static uint32_t dustParticle(Particle& particle);
    static uint32_t clodParticle(Particle& particle);

    QuadPhysics::Instance* instance = nullptr;
    D3D::Device::SwapChain* swapChain = nullptr;
    System* dust = nullptr;
    System* clods = nullptr;
    Track tracks[trackCount];
    float speedRoot = 0.0f;
    float splashLevel = 0.0f;
    vec3d frameMove;
    Audio::AudioFile* splashFile = nullptr;
    Audio::AudioFile* slideFile = nullptr;
    Audio::Sound3D* splashSound = nullptr;
    Audio::Sound3D* slideSound = nullptr;
    // Where the sounds are heard: the entity's position, kept each update.
    vec3d soundPosition;

private:
    bool hasPrevious = false;
    vec3d previousPosition;
};
