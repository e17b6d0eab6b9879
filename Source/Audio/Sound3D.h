#pragma once

#include "Audio/SoundInterface.h"

#include "Core/MemoryFactory.h"
#include "Core/Vector.h"

namespace Audio {

// A positional sound: a 3D buffer at its own position or following an
// outside vector, audible from minDistance (full volume) to maxDistance
// (muted). DirectSound plays only mono sounds at a position.
class Sound3D : public SoundInterface
{
public:
    static constexpr float defaultMaxDistance = 100.0f;
    static constexpr float defaultExponent = 0.1f;

    // A free-standing sound on file (the engine sound's carrier, say):
    // listed, not pooled, at its own position (0, 0, 0).
    explicit Sound3D(AudioFile* file = nullptr);
    ~Sound3D() override;

    // A pooled sound bound to file that recycles itself, or the shared dummy.
    static Sound3D* create(AudioFile* file);
    static MemoryFactory<Sound3D, 16>& pool();
    static Sound3D& dummySound();

    // minDistance := maxDistance to the power exponent.
    Sound3D* setDistances(float maxDistance, float exponent);
    // Follows the vector at position (kept, not copied) until another is set.
    Sound3D* attachPosition(const vec3d* position);
    // Copies position into the sound's own; heard there unless attached.
    Sound3D* setPosition(const vec3d& position);

    void bind(AudioFile* file) override;
    bool is3D() const override { return true; }
    void recycle() override;
    bool acquireBuffer() override;
    void startBuffer(bool loop) override;
    void update3D() override;
    void releaseBuffer() override;

    vec3d ownPosition{0.0f, 0.0f, 0.0f};
    IDirectSound3DBuffer* buffer3D = nullptr;
    const vec3d* positionSource = &ownPosition;
    float minDistance = 0.0f;
    float maxDistance = defaultMaxDistance;

private:
    explicit Sound3D(DummyTag tag) : SoundInterface(tag) {}
    void applyPosition();
    void applyDistances();
};

}
