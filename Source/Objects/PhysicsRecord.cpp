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

bool ObjPkgManager::PhysicsRecord::load(FileInterface& stream)
{
    using PackageFields::readFloat;
    release();
    uint32_t tag = 0;
    bool cut = false;
    while (stream.readTag(tag, cut)) {
        bool read = true;
        switch (tag) {
        case 1: read = stream.readValue(value1); break;
        case 2: read = readFloat(stream, value2, maxValue); break;
        case 3: read = readFloat(stream, value3, maxValue); break;
        case 4: read = readFloat(stream, value4, maxValue); break;
        case 5: read = readFloat(stream, value5, maxValue); break;
        case 6: {
            float stored = 0.0f;
            if ((read = stream.readValue(stored)) && stored > 0.0f && stored <= maxMass && std::isfinite(1.0f / stored))
                mass = stored;
            break;
        }
        case 7: read = stream.readValue(noSound1); break;
        case 8:
            if (noSound1 == 0)
                read = readSound(stream, sound1Option, sound1Data, sound1);
            break;
        case 9: read = stream.readValue(noSound2); break;
        case 10:
            if (noSound2 == 0)
                read = readSound(stream, sound2Option, sound2Data, sound2);
            break;
        default: break; // later tags carry no field
        }
        if (!read)
            return false;
    }
    return !cut;
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
