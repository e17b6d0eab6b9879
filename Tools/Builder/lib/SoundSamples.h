#pragma once

#include "BuiltinTextures.h"
#include "ResourceArchiveWriter.h"

#include <cstdint>
#include <vector>

// The game's sounds, made from code: the two default sounds compiled into the
// program ("SndDefColl", "SndDefDrag") and sample sounds for the data folder.
// Sounds that play at a position are mono: DirectSound refuses stereo 3D
// buffers.
namespace SoundSamples {

// 16-bit samples, interleaved when there are two channels.
struct Pcm
{
    uint16_t channels = 1;
    uint32_t samplesPerSecond = 44100;
    std::vector<int16_t> samples;

    uint32_t frames() const { return channels ? uint32_t(samples.size() / channels) : 0; }
    uint32_t bytes() const { return uint32_t(samples.size() * sizeof(int16_t)); }
};

// Frequencies of the tone's channels: left (or mono), right.
constexpr double toneLeft = 440.0;
constexpr double toneRight = 660.0;
constexpr double toneAmplitude = 0.5;

// A steady sine tone: toneLeft in the first channel, toneRight in the second.
Pcm tone(double seconds, uint16_t channels, uint32_t samplesPerSecond = 44100);
// The default collision sound: a short dull knock.
Pcm collision();
// The default drag sound: one second of scraping noise that loops seamlessly.
Pcm drag();
// Short one-shots: a click and a two-note chime.
Pcm click();
Pcm chime();

// The engine loops the engine-sound mixer plays, in the order low idle
// ("1000RPM"), low load ("1000RPMGas"), high idle ("3000RPM"), high load
// ("3000RPMGas"): mono, and seamless at engineLoopFrames, since every
// partial makes a whole number of cycles in that many samples. frames may
// exceed the loop length: the sound repeats.
constexpr uint32_t engineLoopFrames = 63107;
constexpr const wchar_t* engineLoopNames[4] = {L"1000RPM", L"1000RPMGas", L"3000RPM", L"3000RPMGas"};
Pcm engineLoop(int index, uint32_t frames = engineLoopFrames);

// The race and menu sounds of the resource archive, by the names the game
// looks up ("SNDStart" to "SNDApplause").
struct ArchiveSound
{
    const wchar_t* name;
    const wchar_t* path; // its file name names the sound
    Pcm pcm;
};
std::vector<ArchiveSound> archiveSounds();

std::vector<uint8_t> wav(const Pcm& pcm);
std::vector<uint8_t> ogg(const Pcm& pcm);

// "SndDefColl.wav" and "SndDefDrag.wav" for the program's resources.
std::vector<BuiltinTextures::File> builtinFiles();
// The sample sounds of "Data\Sound": ten-second tones (mono and stereo, wav
// and ogg, long enough to stream), the one-shots and the engine loops.
std::vector<BuiltinTextures::File> sampleFiles();
// Adds the archive sounds as sound entries (type 1) whose value is the type
// of the reference the game makes from them (1, wav).
bool addArchiveSounds(ResourceArchiveWriter& archive);

}
