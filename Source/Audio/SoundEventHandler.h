#pragma once

#include "Core/Thread.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace Audio {

class SoundInterface;

// One row of the handler's table: a registered streamed sound.
struct EventInfo
{
    EventInfo** owner = nullptr; // the sound's eventEntry, moved along with the row
    SoundInterface* sound = nullptr;
    uint32_t handleIndex = 0;    // its event in the handle table (1-based)
};

// The sound event thread: streamed sounds play through buffers of two halves
// whose ends signal an event each; this thread waits on those events and
// refills the half just played while the other one sounds.
//
// The main thread registers and unregisters streams. The tables change only
// while the thread stands parked: a change asks for it through the update
// event ("SoundUpdateEvent") and waits until the thread has left its wait or
// its refill, so unregistering a sound also waits out its running refill.
// The thread starts with the first registration and stops with the last.
class SoundEventHandler final : public Thread::Method
{
public:
    static constexpr int32_t maxStreams = 32;

    SoundEventHandler();
    ~SoundEventHandler();
    SoundEventHandler(const SoundEventHandler&) = delete;
    SoundEventHandler& operator=(const SoundEventHandler&) = delete;

    // Registers sound (main thread), sets its eventEntry and returns its row;
    // null when maxStreams are registered or no event can be made.
    EventInfo* registerEvent(SoundInterface& sound);
    // Removes row and clears its sound's eventEntry (main thread).
    void unregisterEvent(EventInfo* row);
    // The event that row's buffer notifications signal.
    HANDLE eventOf(const EventInfo& row) const { return handles_[row.handleIndex]; }
    int32_t count() const { return count_.load(std::memory_order_acquire); }

    // One step of the thread: wait, then refill or park.
    uint32_t run(Thread& thread, uint32_t userValue) override;
    void start();
    // Asks the thread to end and waits for it; nothing without a thread.
    void stop();

    Thread thread{this};

private:
    static constexpr uint32_t changeNone = 0;
    static constexpr uint32_t changeAsked = 1;
    static constexpr uint32_t changeParked = 2;

    void beginChange();
    void endChange();
    void park();

    HANDLE handles_[maxStreams + 1] = {};
    EventInfo entries_[maxStreams];
    std::atomic<int32_t> count_{0};
    std::atomic<uint32_t> changing_{changeNone};
};

// The one handler, made before the program starts.
extern SoundEventHandler gSoundEvents;

}
