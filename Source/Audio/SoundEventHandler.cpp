#include "Audio/SoundEventHandler.h"

#include "Audio/SoundInterface.h"

namespace Audio {

SoundEventHandler gSoundEvents;

SoundEventHandler::SoundEventHandler()
{
    handles_[0] = CreateEventW(nullptr, FALSE, FALSE, L"SoundUpdateEvent");
}

SoundEventHandler::~SoundEventHandler()
{
    stop();
    for (HANDLE& handle : handles_) {
        if (handle)
            CloseHandle(handle);
        handle = nullptr;
    }
}

EventInfo* SoundEventHandler::registerEvent(SoundInterface& sound)
{
    const int32_t k = count();
    if (k >= maxStreams || !handles_[0])
        return nullptr;
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!event)
        return nullptr;
    beginChange();
    handles_[k + 1] = event;
    entries_[k] = EventInfo{&sound.eventEntry, &sound, uint32_t(k + 1)};
    count_.store(k + 1, std::memory_order_release);
    endChange();
    sound.eventEntry = &entries_[k];
    start();
    return &entries_[k];
}

void SoundEventHandler::unregisterEvent(EventInfo* row)
{
    const int32_t n = count();
    if (!row || row < entries_ || row >= entries_ + n)
        return;
    const int32_t k = int32_t(row - entries_) + 1;
    *row->owner = nullptr;
    beginChange();
    CloseHandle(handles_[k]);
    handles_[k] = nullptr;
    for (int32_t j = k; j < n; ++j) {
        handles_[j] = handles_[j + 1];
        handles_[j + 1] = nullptr;
        entries_[j - 1] = entries_[j];
        entries_[j - 1].handleIndex = uint32_t(j);
        *entries_[j - 1].owner = &entries_[j - 1];
    }
    entries_[n - 1] = EventInfo{};
    count_.store(n - 1, std::memory_order_release);
    endChange();
    if (n == 1)
        stop();
}

void SoundEventHandler::beginChange()
{
    if (!thread.isRunning())
        return;
    changing_.store(changeAsked, std::memory_order_release);
    // The update event is named, so another program's handler may take a
    // signal meant for this one: it is given again until the thread parks.
    while (changing_.load(std::memory_order_acquire) != changeParked && thread.isRunning()) {
        SetEvent(handles_[0]);
        Sleep(0);
    }
}

void SoundEventHandler::endChange()
{
    changing_.store(changeNone, std::memory_order_release);
}

void SoundEventHandler::park()
{
    uint32_t asked = changeAsked;
    if (!changing_.compare_exchange_strong(asked, changeParked, std::memory_order_acq_rel))
        return;
    // A stop ends the wait too: the last unregistration stops the thread.
    while (changing_.load(std::memory_order_acquire) == changeParked && !thread.stopRequested.load())
        Sleep(1);
}

uint32_t SoundEventHandler::run(Thread& owner, uint32_t)
{
    park();
    const DWORD n = DWORD(count()) + 1;
    const DWORD result = MsgWaitForMultipleObjects(n, handles_, FALSE, INFINITE, QS_ALLINPUT);
    if (owner.stopRequested.load())
        return 0;
    if (result == WAIT_OBJECT_0) {
        park();
    } else if (result > WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + n) {
        if (SoundInterface* sound = entries_[result - WAIT_OBJECT_0 - 1].sound)
            sound->onStreamEvent();
    } else if (result == WAIT_OBJECT_0 + n) {
        // Messages of this thread (COM's, say): taken off the queue, or the
        // wait would return at once again and again.
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    } else {
        Sleep(1);
    }
    return 1;
}

void SoundEventHandler::start()
{
    if (!thread.isRunning())
        thread.start();
}

void SoundEventHandler::stop()
{
    if (thread.isRunning()) {
        thread.stopRequested.store(1);
        while (thread.isRunning()) {
            SetEvent(handles_[0]);
            Sleep(1);
        }
    }
    thread.stop();
}

}
