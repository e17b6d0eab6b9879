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

Pcm engineLoop(int index, uint32_t frames)
{
    // A firing pulse train with its harmonics over a bed of engine noise:
    // every frequency is a multiple of 44100 / engineLoopFrames Hz.
    const bool high = index >= 2;
    const bool loaded = index % 2 == 1;
    const uint32_t base = high ? 143 : 47; // about 100 and 33 Hz
    const int harmonics = loaded ? 36 : 18;
    struct Partial
    {
        double step, amplitude, phase;
    };
    std::vector<Partial> partials;
    Noise noise;
    noise.state += uint32_t(index) * 7919u;
    for (int h = 1; h <= harmonics; ++h)
        partials.push_back({double(base * h), (loaded ? 0.9 : 0.6) / std::pow(h, loaded ? 0.8 : 1.2),
                            noise.next() * std::numbers::pi});
    for (int k = 0; k < 120; ++k)
        partials.push_back({double(300 + uint32_t((noise.next() + 1.0) * (loaded ? 2600 : 1400))),
                            loaded ? 0.012 : 0.006, noise.next() * std::numbers::pi});
    Pcm pcm;
    std::vector<double> values(engineLoopFrames, 0.0);
    for (const Partial& p : partials) {
        // Each partial as a turning pointer, started afresh every 4096
        // samples so that rounding never builds up.
        const double angle = twoPi * p.step / engineLoopFrames;
        const double c = std::cos(angle), s = std::sin(angle);
        double x = 0.0, y = 0.0;
        for (uint32_t i = 0; i < engineLoopFrames; ++i) {
            if (i % 4096 == 0) {
                x = std::cos(angle * i + p.phase);
                y = std::sin(angle * i + p.phase);
            }
            values[i] += p.amplitude * y;
            const double nx = x * c - y * s;
            y = x * s + y * c;
            x = nx;
        }
    }
    double peak = 1e-9;
    for (double v : values)
        peak = std::max(peak, std::fabs(v));
    pcm.samples.reserve(frames);
    for (uint32_t i = 0; i < frames; ++i)
        pcm.samples.push_back(sample(0.7 * values[i % engineLoopFrames] / peak));
    return pcm;
}

std::vector<ArchiveSound> archiveSounds()
{
    const auto beep = [](double seconds, double from, double to, double decay) {
        return mono(seconds, [=](double t) {
            const double f = from + (to - from) * t / seconds;
            return 0.6 * std::sin(twoPi * f * t) * std::exp(-t * decay);
        });
    };
    const auto notes = [](std::vector<double> pitches, double each) {
        return mono(each * double(pitches.size()), [=](double t) {
            const size_t n = std::min(pitches.size() - 1, size_t(t / each));
            const double local = t - double(n) * each;
            return 0.5 * std::sin(twoPi * pitches[n] * local) * std::exp(-local * 5.0);
        });
    };
    Noise hiss;
    double low = 0.0;
    return {
        {L"SNDStart", L"Sounds\\Start.wav", beep(0.9, 660.0, 1320.0, 2.0)},
        {L"SNDDing", L"Sounds\\Ding.wav", beep(0.5, 880.0, 880.0, 7.0)},
        {L"SNDGateOK", L"Sounds\\GateOK.wav", notes({784.0, 1175.0}, 0.15)},
        {L"SNDWrongGate", L"Sounds\\WrongGate.wav", notes({330.0, 247.0}, 0.2)},
        {L"SNDRepair", L"Sounds\\Repair.wav", mono(0.6, [](double t) {
             // A ratchet: short clicks eight times a second.
             const double local = std::fmod(t, 0.125);
             return 0.7 * std::sin(twoPi * 1800.0 * local) * std::exp(-local * 90.0);
         })},
        {L"SNDNitro", L"Sounds\\Nitro.wav", mono(1.2, [&](double t) {
             low += (hiss.next() - low) * (0.05 + 0.4 * t / 1.2);
             return 1.4 * low * std::sin(std::numbers::pi * t / 1.2);
         })},
        {L"SNDWrongWay", L"Sounds\\WrongWay.wav", notes({220.0, 0.0, 220.0}, 0.18)},
        {L"SNDApplause", L"Sounds\\Applause.wav", mono(3.0, [&](double t) {
             // Many claps: noise bursts at an uneven pace, fading at the end.
             const double clap = std::exp(-std::fmod(t * 23.0 + 0.3 * std::sin(t * 9.0), 1.0) * 6.0);
             return 0.5 * hiss.next() * (0.4 + 0.6 * clap) * std::min(1.0, (3.0 - t) * 2.0);
         })},
    };
}

bool addArchiveSounds(ResourceArchiveWriter& archive)
{
    for (const ArchiveSound& sound : archiveSounds()) {
        const std::vector<uint8_t> bytes = wav(sound.pcm);
        if (!archive.addEntry(String(sound.path), String(sound.name), bytes.data(), uint32_t(bytes.size()), 1, 1))
            return false;
    }
    return true;
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
        {L"1000RPM.wav", wav(engineLoop(0))},
        {L"1000RPMGas.wav", wav(engineLoop(1))},
        {L"3000RPM.wav", wav(engineLoop(2))},
        {L"3000RPMGas.wav", wav(engineLoop(3))},
    };
}

}
