#include "Audio/SoundInterface.h"

#include "Audio/Audio.h"
#include "Audio/AudioFile.h"
#include "Audio/Sound2D.h"
#include "Audio/Sound3D.h"
#include "Audio/SoundEventHandler.h"
#include "Core/Math.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <mutex>

namespace Audio {

namespace {

constexpr uint32_t half = AudioFile::streamHalfBytes;

}

SCList<SoundInterface>& SoundInterface::list()
{
    static SCList<SoundInterface> sounds;
    return sounds;
}

SoundInterface::SoundInterface()
{
    listNode = list().append(this);
}

SoundInterface::SoundInterface(DummyTag)
{
    dummy = 1;
}

SoundInterface::~SoundInterface()
{
    if (dummy)
        return;
    stop();
    if (listNode && listNode->owner)
        listNode->owner->unlink(listNode);
}

void SoundInterface::bind(AudioFile* file_)
{
    if (buffer)
        releaseBuffer();
    file = file_;
    volume = 1.0f;
    frequencyScale = 1.0f;
    state = stopped;
    loop = 0;
    recycles = 0;
}

void SoundInterface::resetStream()
{
    halfStart[0] = 0;
    halfStart[1] = AudioFile::currentPosition;
    fillHalf = 1;
    currentHalf = 0;
    nextPosition = AudioFile::currentPosition;
    playCursor = 0;
    endReached = 0;
    endHalf = 0;
}

SoundInterface* SoundInterface::play(bool loop_)
{
    if (dummy || state == playing)
        return this;
    if (volume < silentVolume && recycles) {
        recycle();
        return this;
    }
    if (file && file->type != AudioFile::typeNone && isEnabled()) {
        if (state == stopped)
            resetStream();
        loop = loop_ ? 1 : 0;
        state = paused;
        if (volume > silentVolume)
            resume();
    } else if (recycles) {
        recycle();
    }
    return this;
}

SoundInterface* SoundInterface::setFrequencyScale(float scale)
{
    if (dummy)
        return this;
    frequencyScale = std::isfinite(scale) ? std::max(scale, 0.0f) : 0.0f;
    applyFrequency();
    return this;
}

SoundInterface* SoundInterface::setVolume(float volume_)
{
    if (dummy)
        return this;
    volume = std::isfinite(volume_) ? std::clamp(volume_, 0.0f, 1.0f) : 0.0f;
    applyVolume();
    if (volume <= silentVolume)
        pause();
    else
        resume();
    return this;
}

void SoundInterface::applyVolume()
{
    if (!buffer || !isEnabled())
        return;
    // Hundredths of a decibel: 0 at full volume, -5000 at a quarter, -10000 silent.
    buffer->SetVolume(LONG(-10000 + int32_t(10000.0f * fastSqrt(volume))));
}

void SoundInterface::applyFrequency()
{
    if (!buffer || !isEnabled() || !file)
        return;
    const double hertz = std::round(double(file->format.nSamplesPerSec) * frequencyScale);
    buffer->SetFrequency(DWORD(std::clamp(hertz, double(DSBFREQUENCY_MIN), double(DSBFREQUENCY_MAX))));
}

void SoundInterface::stop()
{
    if (dummy)
        return;
    // A one-shot stopped before it played goes back to its pool all the same.
    if (state == stopped) {
        if (recycles)
            recycle();
        return;
    }
    state = stopped;
    if (buffer)
        buffer->Stop();
    releaseBuffer();
    if (recycles)
        recycle();
}

void SoundInterface::pause()
{
    if (dummy || state != playing || !buffer)
        return;
    state = paused;
    DWORD write = 0;
    DWORD cursor = 0;
    if (SUCCEEDED(buffer->GetCurrentPosition(&cursor, &write)))
        playCursor = cursor;
    buffer->Stop();
    releaseBuffer();
    if (recycles)
        recycle();
}

void SoundInterface::resume()
{
    if (dummy || state != paused)
        return;
    if (!buffer && !acquireBuffer()) {
        if (recycles)
            recycle();
        return;
    }
    state = playing;
    startBuffer(loop || file->streamed);
}

void SoundInterface::detach()
{
    if (dummy)
        return;
    stop();
    if (buffer)
        releaseBuffer();
    file = nullptr;
}

bool SoundInterface::acquireBuffer()
{
    if (!file)
        return false;
    buffer = file->takeBuffer();
    if (!buffer)
        return false;
    AudioFile::restoreBuffer(buffer);
    if (file->streamed && !startStream())
        return false;
    applyFrequency();
    applyVolume();
    buffer->SetCurrentPosition(playCursor);
    return true;
}

bool SoundInterface::startStream()
{
    if (gSoundEvents.count() >= SoundEventHandler::maxStreams) {
        file->returnBuffer(buffer);
        return false;
    }
    endReached = 0;
    {
        // The event thread may be refilling another player of this file.
        std::lock_guard<std::mutex> lock(file->decoderLock);
        for (uint32_t h = 0; h < 2 && !endReached; ++h) {
            if (file->fillBuffer(buffer, halfStart[h], h * half, half, loop != 0) < half) {
                endReached = 1;
                endHalf = h;
            }
        }
        // A one-shot ending in the first half leaves silence behind it.
        if (endReached && endHalf == 0)
            AudioFile::clearBuffer(buffer, half, half);
        if (nextPosition == AudioFile::currentPosition)
            nextPosition = file->tell();
    }
    IDirectSoundNotify* notify = nullptr;
    if (SUCCEEDED(buffer->QueryInterface(IID_IDirectSoundNotify, reinterpret_cast<void**>(&notify)))) {
        if (EventInfo* row = gSoundEvents.registerEvent(*this)) {
            // The last byte of each half.
            DSBPOSITIONNOTIFY positions[2] = {{half - 1, gSoundEvents.eventOf(*row)},
                                              {2 * half - 1, gSoundEvents.eventOf(*row)}};
            notify->SetNotificationPositions(DWORD(std::size(positions)), positions);
        }
        notify->Release();
    }
    return true;
}

void SoundInterface::startBuffer(bool loop_)
{
    if (buffer)
        buffer->Play(0, 0, loop_ ? DSBPLAY_LOOPING : 0);
}

void SoundInterface::releaseBuffer()
{
    if (eventEntry)
        gSoundEvents.unregisterEvent(eventEntry);
    if (file) {
        file->returnBuffer(buffer);
    } else if (buffer) {
        if (gSystem.device)
            buffer->Release();
        buffer = nullptr;
    }
}

void SoundInterface::onStreamEvent()
{
    AudioFile* source = file;
    IDirectSoundBuffer8* target = buffer;
    if (!source || !target || !source->streamed)
        return;
    DWORD cursor = 0;
    DWORD write = 0;
    if (FAILED(target->GetCurrentPosition(&cursor, &write)))
        return;
    const uint32_t h = cursor < half ? 0 : 1;
    if (h == currentHalf)
        return;
    currentHalf = h;
    const uint32_t left = 1 - h;
    if (endReached) {
        // The last data lies in endHalf: the sound stops once that half has
        // played; the half after it is made silent meanwhile.
        if (left == endHalf) {
            target->Stop();
            endReached = 0;
        } else {
            AudioFile::clearBuffer(target, left * half, half);
        }
        return;
    }
    fillHalf = left;
    halfStart[fillHalf] = nextPosition;
    std::lock_guard<std::mutex> lock(source->decoderLock);
    if (source->fillBuffer(target, nextPosition, fillHalf * half, half, loop != 0) < half) {
        endReached = 1;
        endHalf = fillHalf;
    }
    nextPosition = source->tell();
}

void SoundInterface::updateAll()
{
    for (auto* node = list().head(); node;) {
        SoundInterface* sound = node->item;
        node = node->next;
        if (sound->state != playing)
            continue;
        DWORD status = 0;
        if (sound->buffer && SUCCEEDED(sound->buffer->GetStatus(&status)) && (status & DSBSTATUS_PLAYING)) {
            sound->update3D();
        } else if (!sound->loop) {
            sound->releaseBuffer();
            sound->state = stopped;
            if (sound->recycles)
                sound->recycle();
        }
    }
    Sound2D::pool().freeIdleBlocks();
    Sound3D::pool().freeIdleBlocks();
}

void SoundInterface::pauseAll()
{
    for (auto* node = list().head(); node; node = node->next)
        if (!node->item->exempt)
            node->item->pause();
}

void SoundInterface::resumeAll()
{
    for (auto* node = list().head(); node; node = node->next)
        if (!node->item->exempt)
            node->item->resume();
}

void SoundInterface::clearList(bool deleteSounds)
{
    list().clearWith([deleteSounds](SoundInterface* sound) {
        sound->listNode = nullptr;
        if (deleteSounds)
            delete sound;
    });
}

}
