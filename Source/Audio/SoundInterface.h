#pragma once

#include "Core/SCList.h"

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <cstdint>

namespace Audio {

class AudioFile;
struct EventInfo;

// One playing instance of a sound file. It borrows a DirectSound buffer from
// its file while it plays and gives it back when it stops or pauses, keeping
// its play position for a resume. Every sound object except the two shared
// dummies is listed from construction to destruction; the frame update, the
// global pause and the global resume walk that list.
//
// States: stopped --play--> playing (or paused, waiting while the volume is at
// most silentVolume); playing --pause, quiet volume, pauseAll--> paused (buffer
// returned, cursor kept); paused --resume, louder volume, resumeAll-->
// playing; any --stop--> stopped; playing --buffer finished, no loop-->
// stopped. A pooled one-shot (recycles set) goes back to its pool on every
// move into stopped or paused and whenever it finds no buffer; recycling is
// final: an object back in its pool stays stopped until it is handed out anew.
//
// A dummy does nothing at all and touches no device: callers never test for
// failure. Setters return the sound for chained calls.
//
// Main thread only, except onStreamEvent, which the sound event thread runs
// on a playing streamed sound; the main thread gives such a sound's buffer
// back only after unregistering it, which waits out a running refill.
class SoundInterface
{
public:
    static constexpr uint32_t stopped = 0;
    static constexpr uint32_t playing = 1;
    static constexpr uint32_t paused = 2;
    // A volume at or below this pauses a sound and gives its buffer back.
    static constexpr float silentVolume = 0.0125f;

    SoundInterface();
    SoundInterface(const SoundInterface&) = delete;
    SoundInterface& operator=(const SoundInterface&) = delete;
    // Stops the sound and leaves the list.
    virtual ~SoundInterface();

    // Binds to file with the defaults (volume and frequency scale 1, stopped,
    // no loop); play starts its stream afresh.
    virtual void bind(AudioFile* file);
    // Starts the sound; nothing for a playing one. A paused sound resumes
    // where it stood, a stopped one from the start.
    virtual SoundInterface* play(bool loop);
    virtual SoundInterface* setFrequencyScale(float scale);
    // Volume 0 to 1; at most silentVolume the sound pauses, above it resumes.
    virtual SoundInterface* setVolume(float volume);
    virtual bool is2D() const { return false; }
    virtual bool is3D() const { return false; }
    // Returns a pooled object to its pool; nothing for others.
    virtual void recycle() {}
    // True when the sound now holds a buffer, filled and positioned.
    virtual bool acquireBuffer();
    virtual void startBuffer(bool loop);
    virtual void update3D() {}
    // Unregisters a streamed buffer and gives the buffer back to the file.
    virtual void releaseBuffer();

    void stop();
    void pause();
    void resume();
    // Stops the sound for good when its file goes away: the buffer goes
    // back to the file, and the sound keeps no pointer to it.
    void detach();
    // Fills a fresh stream buffer's halves from halfStart and registers it
    // with the sound event thread for its refills; false (the buffer given
    // back) when the thread already serves its most streams.
    bool startStream();
    // The refill of a streamed buffer, on the sound event thread.
    void onStreamEvent();

    // The frame step: finished one-shots stop and recycle, positional sounds
    // follow their sources, pool blocks without a sound in use are freed.
    static void updateAll();
    // Pause or resume every listed sound whose exempt flag is clear.
    static void pauseAll();
    static void resumeAll();
    // Empties the list, deleting the sounds when asked (never pooled ones:
    // clear the pools first).
    static void clearList(bool deleteSounds);
    static SCList<SoundInterface>& list();

    AudioFile* file = nullptr;
    EventInfo* eventEntry = nullptr; // its row while a streamed buffer is registered
    SCList<SoundInterface>::Node* listNode = nullptr;
    IDirectSoundBuffer8* buffer = nullptr;
    uint32_t state = stopped;
    uint32_t loop = 0;
    uint32_t exempt = 0; // the global pause and resume pass it by
    // Decode positions at which the two halves of a stream buffer were
    // filled; currentPosition (-1) goes on where the decoder stands.
    uint32_t halfStart[2] = {0, 0xFFFFFFFFu};
    uint32_t fillHalf = 1;
    uint32_t currentHalf = 0;
    uint32_t nextPosition = 0xFFFFFFFFu;
    float volume = 1.0f;
    float frequencyScale = 1.0f;
    uint32_t playCursor = 0;
    // The refill of half endHalf reached the end of a one-shot's data.
    uint32_t endReached = 0;
    uint32_t endHalf = 0;
    uint32_t recycles = 0;
    uint32_t dummy = 0;

protected:
    // The dummies' constructor: not listed.
    struct DummyTag
    {
    };
    explicit SoundInterface(DummyTag);

    void applyVolume();
    void applyFrequency();
    void resetStream();
};

}
