#pragma once

#include "BuiltinTextures.h"

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

std::vector<uint8_t> wav(const Pcm& pcm);
std::vector<uint8_t> ogg(const Pcm& pcm);

// "SndDefColl.wav" and "SndDefDrag.wav" for the program's resources.
std::vector<BuiltinTextures::File> builtinFiles();
// The sample sounds of "Data\Sound": ten-second tones (mono and stereo, wav
// and ogg, long enough to stream) and the one-shots.
std::vector<BuiltinTextures::File> sampleFiles();

}
