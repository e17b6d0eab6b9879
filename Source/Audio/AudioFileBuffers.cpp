// A sound file's DirectSound buffers: the description, the master with its
// pool of duplicates, stream buffers, and filling them with decoded data.
#include "Audio/AudioFile.h"

#include "Audio/Audio.h"
#include "Audio/BufferLock.h"
#include "Render/D3DDevice.h"

#include <algorithm>
#include <cstring>

namespace Audio {

namespace {

// Buffers handed out as IDirectSoundBuffer8, as the sound objects use them.
IDirectSoundBuffer8* asBuffer8(IDirectSoundBuffer* first)
{
    IDirectSoundBuffer8* buffer = nullptr;
    if (first && FAILED(first->QueryInterface(IID_IDirectSoundBuffer8, reinterpret_cast<void**>(&buffer))))
        buffer = nullptr;
    D3D::releaseInterface(first);
    return buffer;
}

IDirectSoundBuffer8* createBuffer(const DSBUFFERDESC& description)
{
    IDirectSoundBuffer* first = nullptr;
    if (!gSystem.device || FAILED(gSystem.device->CreateSoundBuffer(&description, &first, nullptr)))
        return nullptr;
    return asBuffer8(first);
}

}

bool AudioFile::restoreBuffer(IDirectSoundBuffer8* buffer)
{
    DWORD status = 0;
    if (!buffer || FAILED(buffer->GetStatus(&status)))
        return false;
    if (!(status & DSBSTATUS_BUFFERLOST))
        return true;
    // The application has to be active again before a lost buffer comes
    // back; half a second is long enough to wait inside one frame.
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (buffer->Restore() != DSERR_BUFFERLOST)
            return true;
        Sleep(10);
    }
    return false;
}

void AudioFile::clearBuffer(IDirectSoundBuffer8* buffer, uint32_t offset, uint32_t bytes)
{
    BufferLock lock(buffer, offset, bytes);
    if (lock.first)
        memset(lock.first, 0, lock.firstBytes);
    if (lock.second)
        memset(lock.second, 0, lock.secondBytes);
}

void AudioFile::setupBuffers(bool volume, bool threeD, bool frequency, bool padSamples)
{
    description = DSBUFFERDESC{};
    description.dwSize = sizeof(DSBUFFERDESC);
    description.dwFlags = DSBCAPS_LOCDEFER | DSBCAPS_GLOBALFOCUS | DSBCAPS_CTRLPOSITIONNOTIFY;
    if (volume)
        description.dwFlags |= DSBCAPS_CTRLVOLUME;
    if (threeD)
        description.dwFlags |= DSBCAPS_CTRL3D | DSBCAPS_MUTE3DATMAXDISTANCE;
    if (frequency)
        description.dwFlags |= DSBCAPS_CTRLFREQUENCY;
    if (dataSize <= streamBufferBytes) {
        padBytes = padSamples ? uint32_t(format.wBitsPerSample / 8) * 128 : 0;
        description.dwBufferBytes = dataSize + padBytes;
        streamed = 0;
    } else {
        description.dwBufferBytes = streamBufferBytes;
        description.dwFlags |= DSBCAPS_GETCURRENTPOSITION2;
        streamed = 1;
    }
    description.guid3DAlgorithm = threeD ? DS3DALG_HRTF_LIGHT : DS3DALG_DEFAULT;
    description.lpwfxFormat = &format;
    createBuffers();
}

bool AudioFile::createMaster()
{
    master = createBuffer(description);
    if (!master)
        return false;
    fillBuffer(master, 0, 0, dataSize, false);
    return true;
}

IDirectSoundBuffer8* AudioFile::makeDuplicate()
{
    IDirectSoundBuffer* first = nullptr;
    // The version-8 interface extends the first one, so the master stands in for it.
    IDirectSoundBuffer* original = reinterpret_cast<IDirectSoundBuffer*>(master);
    if (!master || !gSystem.device || FAILED(gSystem.device->DuplicateSoundBuffer(original, &first)))
        return nullptr;
    return asBuffer8(first);
}

void AudioFile::createBuffers()
{
    // A streamed file has no master: each playing instance streams into a
    // buffer of its own.
    if (initialCount == 0 || !isEnabled() || master || type == typeNone || streamed || description.dwSize == 0)
        return;
    if (!createMaster())
        return;
    while (duplicateCount < initialCount) {
        IDirectSoundBuffer8* duplicate = makeDuplicate();
        if (!duplicate)
            break;
        pool[freeCount++] = duplicate;
        ++duplicateCount;
    }
}

IDirectSoundBuffer8* AudioFile::takeBuffer()
{
    if (!isEnabled() || type == typeNone || description.dwSize == 0)
        return nullptr;
    if (streamed)
        return createBuffer(description);
    if (!master && !createMaster())
        return nullptr;
    if (freeCount > 0) {
        IDirectSoundBuffer8* buffer = pool[--freeCount];
        pool[freeCount] = nullptr;
        return buffer;
    }
    // Grow by a step, or by what still fits when counts do not add up to
    // the capacity.
    const int32_t grow = std::min(step, capacity - duplicateCount);
    for (int32_t i = 0; i < grow; ++i) {
        IDirectSoundBuffer8* duplicate = makeDuplicate();
        if (!duplicate)
            break;
        pool[freeCount++] = duplicate;
        ++duplicateCount;
    }
    if (freeCount == 0)
        return nullptr;
    IDirectSoundBuffer8* buffer = pool[--freeCount];
    pool[freeCount] = nullptr;
    return buffer;
}

void AudioFile::returnBuffer(IDirectSoundBuffer8*& holder)
{
    IDirectSoundBuffer8* buffer = holder;
    holder = nullptr;
    if (!buffer || !gSystem.device)
        return;
    if (streamed || freeCount >= capacity) {
        buffer->Release();
        if (!streamed && duplicateCount > 0)
            --duplicateCount;
        return;
    }
    pool[freeCount++] = buffer;
}

bool AudioFile::canLendBuffer() const
{
    return isEnabled() && (streamed || freeCount > 0 || duplicateCount < capacity);
}

void AudioFile::shrinkPool()
{
    if (freeCount - initialCount < step)
        return;
    for (int32_t i = 0; i < step; ++i) {
        --freeCount;
        if (gSystem.device && pool[freeCount])
            pool[freeCount]->Release();
        pool[freeCount] = nullptr;
    }
    duplicateCount -= step;
}

uint32_t AudioFile::fillBuffer(IDirectSoundBuffer8* buffer, uint32_t position, uint32_t offset, uint32_t bytes,
                               bool loop)
{
    if (!restoreBuffer(buffer))
        return 0;
    // The pad and the data behind it are written, so both are locked.
    BufferLock lock(buffer, offset, bytes + padBytes);
    if (!lock.locked())
        return 0;
    const uint32_t pad = std::min<uint32_t>(padBytes, lock.firstBytes);
    memset(lock.first, 0, pad);
    if (position != currentPosition)
        seek(position);
    return lock.firstBytes > pad ? read(lock.first + pad, lock.firstBytes - pad, loop) : 0;
}

}
