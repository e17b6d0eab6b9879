#include "Objects/PhysicsRecord.h"

#include "Objects/PackageFields.h"

#include "Audio/AudioFile.h"

#include <cmath>
#include <new>

namespace {

// A rigid body divides by its mass: a mass must keep a finite reciprocal.
constexpr float maxMass = 1.0e6f;
constexpr float maxValue = 1.0e6f;

void releaseSound(Audio::FileRef*& sound)
{
    if (!sound)
        return;
    // A sound file loaded from the reference reads its stream until unloaded.
    Audio::AudioFile::unloadByRef(*sound);
    delete sound;
    sound = nullptr;
}

}

void ObjPkgManager::PhysicsRecord::release()
{
    releaseSound(sound1);
    releaseSound(sound2);
}

void ObjPkgManager::PhysicsRecord::reset()
{
    release();
    value1 = 1;
    value2 = 0.45f;
    value3 = 0.05f;
    value4 = 0.1f;
    value5 = 0.1f;
    mass = 0.5f;
    noSound1 = noSound2 = 1;
    sound1Option = sound2Option = 0;
    sound1Data.close();
    sound2Data.close();
}

bool ObjPkgManager::PhysicsRecord::load(FileInterface& stream)
{
    using PackageFields::readFloat;
    release();
    return PackageFields::readBlock(stream, [&](uint32_t tag) {
        switch (tag) {
        case 1: return stream.readValue(value1);
        case 2: return readFloat(stream, value2, maxValue);
        case 3: return readFloat(stream, value3, maxValue);
        case 4: return readFloat(stream, value4, maxValue);
        case 5: return readFloat(stream, value5, maxValue);
        case 6: {
            float stored = 0.0f;
            if (!stream.readValue(stored))
                return false;
            if (stored > 0.0f && stored <= maxMass && std::isfinite(1.0f / stored))
                mass = stored;
            return true;
        }
        case 7: return stream.readValue(noSound1);
        case 8: return noSound1 != 0 || readSound(stream, sound1Option, sound1Data, sound1);
        case 9: return stream.readValue(noSound2);
        case 10: return noSound2 != 0 || readSound(stream, sound2Option, sound2Data, sound2);
        default: return true; // later tags carry no field
        }
    });
}

bool ObjPkgManager::PhysicsRecord::readSound(FileInterface& stream, uint32_t& option, FileArray& data,
                                             Audio::FileRef*& sound)
{
    releaseSound(sound);
    if (!stream.readValue(option) || !FileInterface::copyBlockTo(stream, data))
        return false;
    String name;
    name.makeRandom(10);
    // The reference frees the bytes when it is released.
    sound = new (std::nothrow) Audio::FileRef(&data, option, std::move(name), 1);
    return true;
}
