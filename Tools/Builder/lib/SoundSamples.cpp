#include "SoundSamples.h"

#include "OggWriter.h"
#include "WavWriter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace SoundSamples {

namespace {

constexpr double twoPi = 2.0 * std::numbers::pi;

int16_t sample(double v)
{
    return int16_t(std::lround(std::clamp(v, -1.0, 1.0) * 32767.0));
}

// A fixed noise source: the same sound on every build.
struct Noise
{
    uint32_t state = 0x2545F491u;
    double next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return double(state) / 2147483648.0 - 1.0;
    }
};

template <class F>
Pcm mono(double seconds, F value)
{
    Pcm pcm;
    const uint32_t frames = uint32_t(seconds * pcm.samplesPerSecond);
    pcm.samples.reserve(frames);
    for (uint32_t i = 0; i < frames; ++i)
        pcm.samples.push_back(sample(value(double(i) / pcm.samplesPerSecond)));
    return pcm;
}

}

Pcm tone(double seconds, uint16_t channels, uint32_t samplesPerSecond)
{
    Pcm pcm;
    pcm.channels = channels;
    pcm.samplesPerSecond = samplesPerSecond;
    const uint32_t frames = uint32_t(seconds * samplesPerSecond);
    pcm.samples.reserve(size_t(frames) * channels);
    for (uint32_t i = 0; i < frames; ++i)
        for (uint16_t c = 0; c < channels; ++c)
            pcm.samples.push_back(
                sample(toneAmplitude * std::sin(twoPi * (c ? toneRight : toneLeft) * i / samplesPerSecond)));
    return pcm;
}

Pcm collision()
{
    Noise noise;
    double low = 0.0;
    return mono(0.35, [&](double t) {
        // Low-passed noise over a falling thump, dying away fast.
        low += (noise.next() - low) * 0.08;
        const double thump = std::sin(twoPi * (90.0 - 60.0 * t) * t);
        return (0.7 * thump + 1.6 * low) * std::exp(-t * 14.0);
    });
}

Pcm drag()
{
    // Noise through a gentle band filter, faded across its ends so that the
    // loop has no click where it wraps.
    Noise noise;
    double low = 0.0, lower = 0.0;
    Pcm raw = mono(1.0, [&](double t) {
        low += (noise.next() - low) * 0.25;
        lower += (low - lower) * 0.05;
        return (low - lower) * (1.1 + 0.3 * std::sin(twoPi * 7.0 * t));
    });
    const size_t n = raw.samples.size();
    const size_t fade = 2205;
    Pcm pcm = raw;
    for (size_t i = 0; i < fade; ++i) {
        const double w = double(i) / fade;
        pcm.samples[n - fade + i] = sample((raw.samples[n - fade + i] * (1.0 - w) + raw.samples[i] * w) / 32767.0);
    }
    pcm.samples.erase(pcm.samples.begin(), pcm.samples.begin() + fade);
    return pcm;
}

Pcm click()
{
    return mono(0.04, [](double t) { return 0.8 * std::sin(twoPi * 2200.0 * t) * std::exp(-t * 120.0); });
}

Pcm chime()
{
    return mono(0.6, [](double t) {
        const double second = t < 0.2 ? 0.0 : std::sin(twoPi * 1174.7 * (t - 0.2)) * std::exp(-(t - 0.2) * 6.0);
        return 0.4 * std::sin(twoPi * 880.0 * t) * std::exp(-t * 6.0) + 0.4 * second;
    });
}

std::vector<uint8_t> wav(const Pcm& pcm)
{
    return WavWriter::wav({pcm.channels, pcm.samplesPerSecond, 16}, pcm.samples.data(), pcm.bytes());
}

std::vector<uint8_t> ogg(const Pcm& pcm)
{
    return OggWriter::ogg(pcm.channels, pcm.samplesPerSecond, pcm.samples.data(), pcm.frames());
}

std::vector<BuiltinTextures::File> builtinFiles()
{
    return {
        {L"SndDefColl.wav", wav(collision())},
        {L"SndDefDrag.wav", wav(drag())},
    };
}

std::vector<BuiltinTextures::File> sampleFiles()
{
    const Pcm mono = tone(10.0, 1);
    const Pcm stereo = tone(10.0, 2);
    return {
        {L"Tone10Mono.wav", wav(mono)},     {L"Tone10Mono.ogg", ogg(mono)},
        {L"Tone10Stereo.wav", wav(stereo)}, {L"Tone10Stereo.ogg", ogg(stereo)},
        {L"Click.wav", wav(click())},       {L"Chime.ogg", ogg(chime())},
    };
}

}
