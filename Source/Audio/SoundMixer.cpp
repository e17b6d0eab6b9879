#include "Audio/SoundMixer.h"

#include "Audio/AudioFile.h"
#include "Audio/BufferLock.h"
#include "Audio/Sound3D.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace Audio {

namespace {

float clampSample(float v)
{
    return std::clamp(v, -32767.0f, 32767.0f);
}

// Weights as the integer kernel takes them: 1.0 is 1 << weightBits.
constexpr int weightBits = 14;
// The integer kernel takes the loops in pairs through a 16-bit multiply-add.
constexpr uint32_t maxFixedLoops = 16;

int16_t fixedWeight(float weight)
{
    return int16_t(std::lround(std::clamp(weight, 0.0f, 1.0f) * (1 << weightBits)));
}

// A sum of fixed-point products back to a sample: toward zero, then within
// -32767..32767.
int16_t fixedSample(int32_t sum)
{
    sum = (sum + (sum < 0 ? (1 << weightBits) - 1 : 0)) >> weightBits;
    return int16_t(std::clamp(sum, -32767, 32767));
}

// Eight samples at a time from i on, as long as whole blocks of eight fit
// in run; returns where it stopped.
template <uint32_t pairs>
uint32_t mixBlocks(int16_t* out, const int16_t* const* pairLoops, const __m128i* pairWeights, uint32_t i,
                   uint32_t run, bool aligned)
{
    const __m128i roundUp = _mm_set1_epi32((1 << weightBits) - 1);
    const __m128i floor16 = _mm_set1_epi16(-32767);
    for (; i + 8 <= run; i += 8) {
        __m128i low = _mm_setzero_si128(), high = _mm_setzero_si128();
        for (uint32_t p = 0; p < pairs; ++p) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairLoops[2 * p] + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairLoops[2 * p + 1] + i));
            low = _mm_add_epi32(low, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), pairWeights[p]));
            high = _mm_add_epi32(high, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), pairWeights[p]));
        }
        // Toward zero: negative sums get (1 << weightBits) - 1 before the shift.
        low = _mm_srai_epi32(_mm_add_epi32(low, _mm_and_si128(_mm_srai_epi32(low, 31), roundUp)), weightBits);
        high = _mm_srai_epi32(_mm_add_epi32(high, _mm_and_si128(_mm_srai_epi32(high, 31), roundUp)), weightBits);
        const __m128i samples = _mm_max_epi16(_mm_packs_epi32(low, high), floor16);
        if (aligned)
            _mm_stream_si128(reinterpret_cast<__m128i*>(out + i), samples);
        else
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), samples);
    }
    return i;
}

// out[i] := the sum of loops[s][at + i] x weights[s] within -32767..32767,
// truncated toward zero, for run samples, with the weights in fixed point
// (within a few steps of the float sum). Eight samples at a time with SSE2:
// the loops go in pairs through a 16-bit multiply-add (a loop without a
// partner is paired with itself at weight 0). The samples go straight to
// memory past the cache: the sound device reads them from another core, and
// lines it holds would otherwise have to be fetched back before each write.
void mixRun(int16_t* out, const int16_t* const* loops, const int16_t* weights, uint32_t loopCount, uint32_t at,
            uint32_t run)
{
    const uint32_t pairs = (loopCount + 1) / 2;
    __m128i pairWeights[maxFixedLoops / 2];
    const int16_t* pairLoops[maxFixedLoops];
    for (uint32_t p = 0; p < pairs; ++p) {
        const uint32_t a = 2 * p, b = std::min(2 * p + 1, loopCount - 1);
        const int16_t wb = b == a ? 0 : weights[b];
        pairWeights[p] = _mm_set1_epi32(int32_t(uint32_t(uint16_t(weights[a])) | uint32_t(uint16_t(wb)) << 16));
        pairLoops[2 * p] = loops[a] + at;
        pairLoops[2 * p + 1] = loops[b] + at;
    }
    const auto single = [&](uint32_t i) {
        int32_t sum = 0;
        for (uint32_t s = 0; s < loopCount; ++s)
            sum += int32_t(loops[s][at + i]) * weights[s];
        return fixedSample(sum);
    };
    // Up to the first 16-byte boundary one by one, as the stream stores need.
    const bool aligned = (reinterpret_cast<uintptr_t>(out) & 1) == 0;
    uint32_t i = 0;
    while (aligned && i < run && (reinterpret_cast<uintptr_t>(out + i) & 15) != 0) {
        out[i] = single(i);
        ++i;
    }
    switch (pairs) {
    case 1: i = mixBlocks<1>(out, pairLoops, pairWeights, i, run, aligned); break;
    case 2: i = mixBlocks<2>(out, pairLoops, pairWeights, i, run, aligned); break;
    case 3: i = mixBlocks<3>(out, pairLoops, pairWeights, i, run, aligned); break;
    case 4: i = mixBlocks<4>(out, pairLoops, pairWeights, i, run, aligned); break;
    case 5: i = mixBlocks<5>(out, pairLoops, pairWeights, i, run, aligned); break;
    case 6: i = mixBlocks<6>(out, pairLoops, pairWeights, i, run, aligned); break;
    case 7: i = mixBlocks<7>(out, pairLoops, pairWeights, i, run, aligned); break;
    default: i = mixBlocks<8>(out, pairLoops, pairWeights, i, run, aligned); break;
    }
    for (; i < run; ++i)
        out[i] = single(i);
    // The stream stores reach memory before the buffer is unlocked.
    _mm_sfence();
}

// The same in float, for any number of loops and any volume.
void mixRunFloat(int16_t* out, const int16_t* const* loops, const float* weights, uint32_t loopCount, uint32_t at,
                 uint32_t run, float volume)
{
    for (uint32_t i = 0; i < run; ++i) {
        float sum = 0.0f;
        for (uint32_t s = 0; s < loopCount; ++s)
            sum += float(loops[s][at + i]) * weights[s];
        out[i] = int16_t(clampSample(volume * clampSample(sum)));
    }
}

}

SoundMixer::SoundMixer()
{
    open();
}

void SoundMixer::open()
{
    if (file)
        return;
    lastCursor = 0;
    const WAVEFORMATEX format = pcmFormat(1, 44100, 16);
    file = new AudioFile(String(L"Mixer"), format, uint32_t(length) * 2, nullptr, 0, 4, 1);
    file->ownerSlot = &file;
    file->setupBuffers(true, true, true, false);
}

SoundMixer::~SoundMixer()
{
    clear();
}

namespace {

// The scaled loops in use, by file and gain; an entry lapses with the last
// mixer that holds its samples.
struct SharedLoop
{
    uint32_t fileSerial;
    float gain;
    int32_t length;
    std::weak_ptr<const int16_t[]> samples;
};

std::vector<SharedLoop>& sharedLoops()
{
    static std::vector<SharedLoop> loops;
    return loops;
}

}

SoundMixer::Sound* SoundMixer::addSound(const FileRef* ref, float gain)
{
    auto sound = std::make_unique<Sound>();
    sound->mixer = this;
    if (!std::isfinite(gain))
        gain = 0.0f;
    AudioFile* source = AudioFile::get(ref, 0, 4, 1);
    std::vector<SharedLoop>& shared = sharedLoops();
    std::erase_if(shared, [](const SharedLoop& loop) { return loop.samples.expired(); });
    if (source) {
        for (const SharedLoop& loop : shared) {
            if (loop.fileSerial == source->serial && loop.gain == gain && loop.length == length) {
                sound->samples = loop.samples.lock();
                break;
            }
        }
    }
    if (!sound->samples) {
        std::shared_ptr<int16_t[]> samples(new int16_t[size_t(length)]());
        if (source) {
            // Engines share their loop files: each reads the loop from its start.
            std::lock_guard<std::mutex> lock(source->decoderLock);
            source->seek(0);
            source->read(samples.get(), uint32_t(length) * 2, false);
        }
        for (int32_t i = 0; i < length; ++i)
            samples[i] = int16_t(clampSample(float(samples[i]) * gain));
        if (source)
            shared.push_back(SharedLoop{source->serial, gain, length, samples});
        sound->samples = std::move(samples);
    }
    sounds.push_back(std::move(sound));
    return sounds.back().get();
}

void SoundMixer::mix(Sound3D* carrier)
{
    if (!carrier || !carrier->buffer || sounds.empty())
        return;
    IDirectSoundBuffer8* target = carrier->buffer;
    DWORD play = 0;
    DWORD write = 0;
    if (FAILED(target->GetCurrentPosition(&play, &write)))
        return;
    const uint32_t n = uint32_t(length);
    const uint32_t cursor = std::min<uint32_t>(play / 2, n - 1);
    uint32_t played = cursor >= lastCursor ? cursor - lastCursor : n - lastCursor + cursor;
    played = std::clamp<uint32_t>(played, 1024, n);
    uint32_t start = 0;
    uint32_t count = n;
    if (lastCursor != 0) {
        start = uint32_t((int64_t(cursor) - 2 * int64_t(played) + 2 * int64_t(n)) % n);
        count = std::min<uint32_t>(6 * played, n);
    }

    float sum = 0.0f;
    for (const auto& sound : sounds)
        sum += std::isfinite(sound->level) ? sound->level : 0.0f;
    for (const auto& sound : sounds)
        sound->weight = sum > 0.0f && std::isfinite(sound->level) ? sound->level / sum : 0.0f;

    AudioFile::restoreBuffer(target);
    BufferLock lock(target, 0, n * 2);
    if (lock.locked() && lock.firstBytes >= n * 2) {
        int16_t* out = reinterpret_cast<int16_t*>(lock.first);
        const uint32_t loopCount = uint32_t(sounds.size());
        const bool fixedPoint = volume == 1.0f && loopCount <= maxFixedLoops;
        const int16_t* fixedLoops[maxFixedLoops];
        int16_t fixedWeights[maxFixedLoops];
        std::vector<const int16_t*> loops;
        std::vector<float> weights;
        if (fixedPoint) {
            for (uint32_t s = 0; s < loopCount; ++s) {
                fixedLoops[s] = sounds[s]->samples.get();
                fixedWeights[s] = fixedWeight(sounds[s]->weight);
            }
        } else {
            for (const auto& sound : sounds) {
                loops.push_back(sound->samples.get());
                weights.push_back(sound->weight);
            }
        }
        // In runs that do not wrap.
        for (uint32_t done = 0; done < count;) {
            const uint32_t at = (start + done) % n;
            const uint32_t run = std::min(count - done, n - at);
            if (fixedPoint)
                mixRun(out + at, fixedLoops, fixedWeights, loopCount, at, run);
            else
                mixRunFloat(out + at, loops.data(), weights.data(), loopCount, at, run, volume);
            done += run;
        }
    }
    lastCursor = cursor;
}

void SoundMixer::clear()
{
    sounds.clear();
    if (file) {
        file->ownerSlot = nullptr;
        delete file;
        file = nullptr;
    }
}

}
