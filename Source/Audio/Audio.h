#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <atomic>
#include <cstdint>

// The sound system's device: the DirectSound 8 device, the primary buffer
// with its fixed output format (44100 Hz, 16 bits, stereo) and the 3D
// listener. It is the switch the whole sound system consults: while it is not
// enabled no DirectSound buffer is made and every sound request yields a
// silent dummy, so the game runs without a sound card.
//
// The application calls init once at start-up, update once per pass of the
// main loop and release at shutdown; the scene calls releaseAll when it
// clears a level. All of these run on the main thread.
namespace Audio {

struct System
{
    std::atomic<uint32_t> created{0}; // set by a successful init, never cleared
    std::atomic<uint32_t> enabled{0}; // the device is usable
    IDirectSound8* device = nullptr;
    IDirectSoundBuffer* primary = nullptr;
    IDirectSound3DListener* listener = nullptr; // null when the device has none
    uint32_t streamInterval = 1000;              // ms between two pool-shrinking steps
    uint32_t lastStreamStep = 0;                 // timeGetTime of the last one
};

// The one sound system; constant-initialised, so it is usable before any
// start-up code runs.
extern System gSystem;

// Opens the default playback device for window. Reports nothing: a failure
// leaves the system disabled (keeping what it made) and the game silent.
// Does nothing while a device exists. Sound files loaded while audio was off
// get their buffers here.
void init(HWND window);
// The frame step: the listener follows the current camera, sounds are
// updated, and once per streamInterval every file's pool shrinks by a step.
void update();
// update with the time (timeGetTime milliseconds) given.
void updateAt(uint32_t now);
// Destroys every pooled sound object and every loaded sound file; keeps the
// device. Sounds outside the pools stay alive and listed, stopped and
// detached from their files (they play again once bound to a file anew).
void releaseAll();
// releaseAll, then the listener, the primary buffer and the device.
void release();
// The exit-time teardown of the sound system's globals: the event thread
// stops first, then the files, the pools and the sound list go.
void destroyAtExit();

inline bool isEnabled() { return gSystem.enabled.load(std::memory_order_relaxed) != 0; }

}
