#include "Objects/PackageSounds.h"

#include "Audio/AudioFile.h"

#include <cstring>
#include <new>

uint32_t PackageSounds::typeOf(FileArray& bytes)
{
    if (bytes.size() >= 4 && std::memcmp(bytes.memory(), "RIFF", 4) == 0)
        return Audio::FileRef::typeWav;
    if (bytes.size() >= 4 && std::memcmp(bytes.memory(), "OggS", 4) == 0)
        return Audio::FileRef::typeOgg;
    return Audio::FileRef::typeNone;
}

void PackageSounds::drop(std::unique_ptr<Audio::FileRef>& ref)
{
    if (ref)
        Audio::AudioFile::unloadByRef(*ref);
    ref.reset();
}

std::unique_ptr<Audio::FileRef> PackageSounds::referTo(FileArray& bytes)
{
    const uint32_t type = typeOf(bytes);
    if (type == Audio::FileRef::typeNone)
        return nullptr;
    String name;
    name.makeRandom(10);
    return std::unique_ptr<Audio::FileRef>(new (std::nothrow) Audio::FileRef(&bytes, type, name, 0));
}
