// The file list and the life of a sound file.
#include "Audio/AudioFile.h"

#include "Audio/Audio.h"
#include "Audio/SoundInterface.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>

namespace Audio {

SCList<AudioFile>& AudioFile::list()
{
    static SCList<AudioFile> files;
    return files;
}

uint32_t AudioFile::nextSerial()
{
    static uint32_t last = 0;
    return ++last;
}

AudioFile* AudioFile::get(const FileRef* ref, int32_t initialCount, int32_t capacity, int32_t step)
{
    if (!ref)
        return nullptr;
    for (auto* node = list().head(); node; node = node->next)
        if (node->item->name.sameText(ref->name))
            return node->item;
    return new (std::nothrow) AudioFile(*ref, initialCount, capacity, step);
}

uint32_t AudioFile::getFileType(const String& name)
{
    const wchar_t* dot = wcsrchr(name.text(), L'.');
    const wchar_t* extension = dot ? dot + 1 : L"";
    if (wcscmp(extension, L"wav") == 0)
        return typeWav;
    if (wcscmp(extension, L"ogg") == 0)
        return typeOgg;
    return typeNone;
}

void AudioFile::unloadByRef(const FileRef& ref)
{
    for (auto* node = list().head(); node; node = node->next) {
        if (node->item->name.sameText(ref.name)) {
            delete node->item;
            return;
        }
    }
}

void AudioFile::releaseAll()
{
    list().clearWith([](AudioFile* file) { delete file; });
}

namespace {

// The pool counts callers give, made safe: the pool holds capacity entries,
// the master comes with at most that many duplicates, and a step adds at
// least one.
void sanitiseCounts(int32_t& initialCount, int32_t& capacity, int32_t& step)
{
    capacity = std::max(capacity, 0);
    initialCount = std::clamp(initialCount, 0, capacity);
    step = std::max(step, 1);
}

}

AudioFile::AudioFile(const FileRef& ref, int32_t initialCount_, int32_t capacity_, int32_t step_)
    : name(ref.name), type(ref.type), source(ref.source), initialCount(initialCount_), capacity(capacity_),
      step(step_)
{
    sanitiseCounts(initialCount, capacity, step);
    listNode = list().append(this);
    pool.reset(new (std::nothrow) IDirectSoundBuffer8*[size_t(capacity) + 1]());
    if (!pool)
        capacity = initialCount = 0;

    bool opened = false;
    if (source && source->isOpen) {
        if (type == typeWav)
            opened = openWav();
        else if (type == typeOgg)
            opened = openOgg();
    }
    if (!opened) {
        type = typeNone;
        dataSize = 0;
        duration = 0;
        memory.reset();
    }
}

AudioFile::AudioFile(String name_, const WAVEFORMATEX& format_, uint32_t dataSize_, const void* data,
                     int32_t initialCount_, int32_t capacity_, int32_t step_)
    : name(std::move(name_)), format(format_), dataSize(dataSize_), type(typeRaw), initialCount(initialCount_),
      capacity(capacity_), step(step_)
{
    sanitiseCounts(initialCount, capacity, step);
    listNode = list().append(this);
    pool.reset(new (std::nothrow) IDirectSoundBuffer8*[size_t(capacity) + 1]());
    if (!pool)
        capacity = initialCount = 0;
    if (format.nAvgBytesPerSec)
        duration = uint32_t(uint64_t(dataSize) * 1000 / format.nAvgBytesPerSec);
    if (data && dataSize) {
        memory.reset(new (std::nothrow) uint8_t[dataSize]);
        if (memory)
            memcpy(memory.get(), data, dataSize);
    }
}

AudioFile::~AudioFile()
{
    // The sounds go first: stopping them waits out a refill that may be
    // decoding this file on the event thread, and returns their buffers.
    for (auto* node = SoundInterface::list().head(); node; node = node->next)
        if (node->item->file == this)
            node->item->detach();
    if (oggOpen)
        ov_clear(&oggFile);
    // Without a device its buffers are gone already: releasing the device
    // destroyed them.
    const bool device = gSystem.device != nullptr;
    for (int32_t i = 0; i < freeCount; ++i)
        if (device && pool[i])
            pool[i]->Release();
    if (device && master)
        master->Release();
    if (listNode && listNode->owner)
        listNode->owner->unlink(listNode);
    if (ownerSlot)
        *ownerSlot = nullptr;
}

}
