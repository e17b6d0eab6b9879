#include "../Core/StreamTestSupport.h"
#include "SoundTestSupport.h"

#include "OggWriter.h"

#include "Core/Resource.h"

using namespace SoundTest;
using Audio::AudioFile;

namespace {

// The decoded samples of a whole file, read from its start.
std::vector<int16_t> samplesOf(AudioFile& file)
{
    std::vector<int16_t> out(file.dataSize / 2);
    file.seek(0);
    EXPECT_EQ(file.read(out.data(), file.dataSize, false), file.dataSize);
    return out;
}

// Checks a decoded tone against the one the builder encoded, channel by channel.
void expectTone(AudioFile& file, const SoundSamples::Pcm& tone)
{
    ASSERT_EQ(file.type, AudioFile::typeOgg);
    EXPECT_EQ(file.format.nChannels, tone.channels);
    EXPECT_EQ(file.format.nSamplesPerSec, tone.samplesPerSecond);
    EXPECT_EQ(file.format.nBlockAlign, tone.channels * 2);
    EXPECT_EQ(file.format.nAvgBytesPerSec, tone.samplesPerSecond * tone.channels * 2);
    EXPECT_EQ(file.dataSize, tone.bytes()) << "the same length";
    EXPECT_EQ(file.duration, uint32_t(std::lround(1000.0 * tone.frames() / tone.samplesPerSecond)));
    const std::vector<int16_t> decoded = samplesOf(file);
    ASSERT_EQ(decoded.size(), tone.samples.size());
    for (uint16_t c = 0; c < tone.channels; ++c) {
        std::vector<int16_t> a, b;
        for (size_t i = c; i < decoded.size(); i += tone.channels) {
            a.push_back(decoded[i]);
            b.push_back(tone.samples[i]);
        }
        EXPECT_GE(correlation(a.data(), b.data(), a.size()), 0.99) << "channel " << c;
    }
}

}

TEST(SoundFileRoundTrip, WavReadsBackByteForByte)
{
    const SoundSamples::Pcm sounds[] = {SoundSamples::click(), SoundSamples::tone(0.5, 2),
                                        SoundSamples::tone(10.0, 1), SoundSamples::collision(), SoundSamples::drag()};
    for (const SoundSamples::Pcm& pcm : sounds) {
        MemorySound sound(SoundSamples::wav(pcm), AudioFile::typeWav);
        ASSERT_EQ(sound.file->type, AudioFile::typeWav);
        EXPECT_EQ(sound.file->format.nChannels, pcm.channels);
        EXPECT_EQ(sound.file->format.wBitsPerSample, 16);
        EXPECT_EQ(sound.readAll(), pcmBytes(pcm));
        EXPECT_EQ(sound.file->tell(), sound.file->dataSize) << "the read stands at the end";
    }
}

TEST(SoundFileRoundTrip, OggFromADiskFileAMemoryStreamAndAResource)
{
    const SoundSamples::Pcm stereo = SoundSamples::tone(1.0, 2);
    MemorySound fromMemory(SoundSamples::ogg(stereo), AudioFile::typeOgg, L"stereo.ogg");
    expectTone(*fromMemory.file, stereo);

    const SoundSamples::Pcm mono = SoundSamples::tone(10.0, 1);
    TempFolder folder;
    ASSERT_TRUE(writeBytes(folder.file(L"tone.ogg"), SoundSamples::ogg(mono)));
    {
        // The reference owns the disk file's stream and closes it; the file
        // never does, so unloading first and releasing after is sound.
        Audio::FileRef ref(openFile(String(folder.file(L"tone.ogg").c_str()), 0, 1, 1), AudioFile::typeOgg,
                           String(L"tone.ogg"), 1);
        AudioFile* file = AudioFile::get(&ref, 0, 1, 1);
        expectTone(*file, mono);
        AudioFile::unloadByRef(ref);
    }
    {
        Audio::FileRef ref(new Resource(L"ToneOgg", MAKEINTRESOURCEW(10)), AudioFile::typeOgg, String(L"ToneOgg"), 1);
        ref.source->deleteOnClose = true;
        AudioFile* file = AudioFile::get(&ref, 0, 1, 1);
        expectTone(*file, mono);
        AudioFile::unloadByRef(ref);
    }
}

TEST(SoundFileRoundTrip, ReadsAcrossTheEndWithAndWithoutLoop)
{
    const SoundSamples::Pcm pcm = SoundSamples::tone(0.2, 1);
    const SoundSamples::Pcm longPcm = SoundSamples::tone(5.0, 1);
    MemorySound inMemory(SoundSamples::wav(pcm), AudioFile::typeWav, L"memory.wav");
    // Read from the stream, with a chunk after the data that is never sound.
    Bytes longWav = SoundSamples::wav(longPcm);
    for (const char* c = "LIST"; *c; ++c)
        longWav.push_back(uint8_t(*c));
    put(longWav, 64);
    longWav.insert(longWav.end(), 64, 0x7F);
    MemorySound inStream(longWav, AudioFile::typeWav, L"stream.wav");
    MemorySound ogg(SoundSamples::ogg(pcm), AudioFile::typeOgg, L"tone.ogg");
    ASSERT_NE(inMemory.file->memory, nullptr);
    ASSERT_EQ(inStream.file->memory, nullptr);
    for (MemorySound* sound : {&inMemory, &inStream, &ogg}) {
        AudioFile& file = *sound->file;
        SCOPED_TRACE(file.name.toNarrow().buffer);
        const Bytes whole = sound->readAll();
        // Decode positions are bytes for wav and frames for ogg.
        const uint32_t unit = file.type == AudioFile::typeOgg ? 2 : 1;
        const uint32_t tail = 200;
        for (bool loop : {false, true}) {
            file.seek((file.dataSize - tail) / unit);
            EXPECT_EQ(file.tell(), (file.dataSize - tail) / unit);
            Bytes out(1000, 0xAA);
            EXPECT_EQ(file.read(out.data(), 1000, loop), loop ? 1000u : tail);
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + tail, whole.end() - tail));
            if (loop) {
                EXPECT_TRUE(std::equal(out.begin() + tail, out.end(), whole.begin())) << "goes on from the start";
                EXPECT_EQ(file.tell(), 800 / unit);
            } else {
                EXPECT_EQ(std::count(out.begin() + tail, out.end(), 0), 800) << "the rest is silence";
            }
        }
        // A looped read longer than the data wraps as often as it must.
        file.seek(0);
        Bytes thrice(whole.size() * 3 + 100);
        EXPECT_EQ(file.read(thrice.data(), uint32_t(thrice.size()), true), thrice.size());
        for (size_t i = 0; i < thrice.size(); i += 97)
            ASSERT_EQ(thrice[i], whole[i % whole.size()]) << i;
        // Reads go on where the last one stopped.
        file.seek(0);
        Bytes first(300), second(300);
        file.read(first.data(), 300, false);
        file.read(second.data(), 300, false);
        EXPECT_TRUE(std::equal(first.begin(), first.end(), whole.begin()));
        EXPECT_TRUE(std::equal(second.begin(), second.end(), whole.begin() + 300));
    }
}

TEST(SoundFileRoundTrip, RawDataReadsAsItsBytesOrAsSilence)
{
    const WAVEFORMATEX format = Audio::pcmFormat(1, 44100, 16);
    const Bytes data = pattern(1000);
    AudioFile withData(String(L"raw"), format, 1000, data.data(), 0, 4, 1);
    AudioFile silent(String(L"Mixer"), format, 126214, nullptr, 0, 4, 1);
    Bytes out(1000, 0xAA);
    EXPECT_EQ(withData.read(out.data(), 1000, false), 1000u);
    EXPECT_EQ(out, data);
    EXPECT_EQ(silent.read(out.data(), 1000, true), 1000u);
    EXPECT_EQ(std::count(out.begin(), out.end(), 0), 1000);
    EXPECT_EQ(silent.duration, 1430u);
    EXPECT_EQ(AudioFile::list().tail()->item, &silent) << "made directly, listed all the same";
}
