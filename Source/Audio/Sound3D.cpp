#include "Audio/Sound3D.h"

#include "Audio/Audio.h"
#include "Audio/SoundPool.h"

#include <cmath>

namespace Audio {

Sound3D::Sound3D(AudioFile* file_)
{
    bind(file_);
}

Sound3D::~Sound3D()
{
    stop();
}

MemoryFactory<Sound3D, 16>& Sound3D::pool()
{
    static MemoryFactory<Sound3D, 16> sounds;
    return sounds;
}

Sound3D& Sound3D::dummySound()
{
    static Sound3D dummy{DummyTag{}};
    return dummy;
}

Sound3D* Sound3D::create(AudioFile* file)
{
    return SoundPool::create<Sound3D>(file);
}

void Sound3D::bind(AudioFile* file_)
{
    SoundInterface::bind(file_);
    ownPosition = vec3d{0.0f, 0.0f, 0.0f};
    positionSource = &ownPosition;
    setDistances(defaultMaxDistance, defaultExponent);
}

void Sound3D::recycle()
{
    SoundPool::recycle(*this);
}

Sound3D* Sound3D::setDistances(float maxDistance_, float exponent)
{
    if (dummy)
        return this;
    maxDistance = maxDistance_;
    minDistance = std::pow(maxDistance_, exponent);
    applyDistances();
    return this;
}

Sound3D* Sound3D::attachPosition(const vec3d* position)
{
    if (dummy)
        return this;
    positionSource = position ? position : &ownPosition;
    applyPosition();
    return this;
}

Sound3D* Sound3D::setPosition(const vec3d& position)
{
    if (dummy)
        return this;
    ownPosition = position;
    applyPosition();
    return this;
}

void Sound3D::applyPosition()
{
    if (!buffer3D || !positionSource)
        return;
    const vec3d& p = *positionSource;
    if (std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z))
        buffer3D->SetPosition(p.x, p.y, p.z, DS3D_IMMEDIATE);
}

void Sound3D::applyDistances()
{
    if (!buffer3D)
        return;
    buffer3D->SetMinDistance(minDistance, DS3D_IMMEDIATE);
    buffer3D->SetMaxDistance(maxDistance, DS3D_IMMEDIATE);
}

bool Sound3D::acquireBuffer()
{
    if (dummy || !SoundInterface::acquireBuffer())
        return false;
    if (FAILED(buffer->QueryInterface(IID_IDirectSound3DBuffer, reinterpret_cast<void**>(&buffer3D))))
        buffer3D = nullptr;
    applyPosition();
    applyDistances();
    return true;
}

void Sound3D::startBuffer(bool loop_)
{
    applyPosition();
    SoundInterface::startBuffer(loop_);
}

void Sound3D::update3D()
{
    applyPosition();
}

void Sound3D::releaseBuffer()
{
    if (buffer3D) {
        // Releasing the device destroyed its buffers' interfaces already.
        if (gSystem.device)
            buffer3D->Release();
        buffer3D = nullptr;
    }
    SoundInterface::releaseBuffer();
}

}
