#include "../Core/ImageTestFiles.h"
#include "SoundTestSupport.h"

using namespace SoundTest;
using Audio::AudioFile;

namespace {

// Loads bytes as type, then reads the whole sound (up to a bound) once
// without and once with loop, each into a buffer that ends at a guard page.
bool loadAndRead(std::span<const uint8_t> bytes, uint32_t type)
{
    MemorySound sound(Bytes(bytes.begin(), bytes.end()), type, L"fuzz");
    if (!sound.file || sound.file->type == AudioFile::typeNone)
        return false;
    const uint32_t n = std::min<uint32_t>(sound.file->dataSize, 1 << 18) + 1000;
    GuardedBuffer out(n);
    sound.file->seek(0);
    const uint32_t once = sound.file->read(out.data(), n, false);
    EXPECT_LE(once, n);
    EXPECT_EQ(sound.file->read(out.data(), n, true) <= n, true);
    return true;
}

}

TEST(SoundFuzz, DamagedWavAndOggFilesFailCleanly)
{
    const SoundSamples::Pcm tone = SoundSamples::tone(0.1, 1);
    WavLayout fact;
    fact.before = {'f', 'a', 'c', 't', 4, 0, 0, 0, 1, 0, 0, 0};
    const std::vector<ImageTestFiles::Bytes> wavSeeds = {SoundSamples::wav(SoundSamples::click()),
                                                         wavBytes(fact, pattern(3000))};
    const std::vector<ImageTestFiles::Bytes> oggSeeds = {SoundSamples::ogg(tone),
                                                         SoundSamples::ogg(SoundSamples::tone(1.0, 2))};
    const int wavRounds = 3000, oggRounds = 3000;
    const int wavLoaded = ImageTestFiles::fuzz(wavSeeds, 1401, wavRounds, [](std::span<const uint8_t> b) {
        return loadAndRead(b, AudioFile::typeWav);
    });
    const int oggLoaded = ImageTestFiles::fuzz(oggSeeds, 1402, oggRounds, [](std::span<const uint8_t> b) {
        return loadAndRead(b, AudioFile::typeOgg);
    });
    // Both kinds of damage happen: files refused and files that still load.
    EXPECT_GT(wavLoaded, wavRounds / 10);
    EXPECT_LT(wavLoaded, wavRounds);
    EXPECT_GT(oggLoaded, oggRounds / 20);
    EXPECT_LT(oggLoaded, oggRounds);
}
