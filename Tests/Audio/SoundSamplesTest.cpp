#include "../Core/StreamTestSupport.h"
#include "SoundTestSupport.h"

#include "Audio/Sound2D.h"

#include "ResourceArchiveWriter.h"

#include "Core/ResourceManager.h"

using namespace SoundTest;
using Audio::AudioFile;

TEST(SoundSamples, ArchiveSoundsLoadByNameAndPlay)
{
    TempFolder folder;
    ResourceArchiveWriter writer;
    ASSERT_TRUE(SoundSamples::addArchiveSounds(writer));
    const String path(folder.file(L"Resource.res").c_str());
    ASSERT_TRUE(writer.save(path));
    ResourceManager manager;
    ASSERT_TRUE(manager.load(path));

    Device device;
    ASSERT_TRUE(device.ready());
    const wchar_t* names[] = {L"SNDStart", L"SNDDing",  L"SNDGateOK",   L"SNDWrongGate",
                              L"SNDRepair", L"SNDNitro", L"SNDWrongWay", L"SNDApplause"};
    for (const wchar_t* name : names) {
        SCOPED_TRACE(String(name).toNarrow().buffer);
        std::unique_ptr<Audio::FileRef> ref(ResourceManager::createSoundSource(manager.find(String(name))));
        ASSERT_NE(ref, nullptr);
        EXPECT_EQ(ref->type, AudioFile::typeWav);
        AudioFile* file = AudioFile::get(ref.get(), 3, 3, 3);
        ASSERT_EQ(file->type, AudioFile::typeWav);
        EXPECT_EQ(file->format.nChannels, 1);
        EXPECT_GT(file->duration, 200u);
        file->setupBuffers(true, false, false, false);
        Audio::SoundInterface* sound = Audio::Sound2D::create(file);
        sound->play(false);
        EXPECT_EQ(sound->state, Audio::SoundInterface::playing);
        AudioFile::unloadByRef(*ref);
    }
}

TEST(SoundSamples, EngineLoopsAreMonoAndSeamlessAtTheMixerLength)
{
    for (int i = 0; i < 4; ++i) {
        const SoundSamples::Pcm twice = SoundSamples::engineLoop(i, 2 * SoundSamples::engineLoopFrames);
        const SoundSamples::Pcm once = SoundSamples::engineLoop(i);
        ASSERT_EQ(once.frames(), SoundSamples::engineLoopFrames);
        EXPECT_EQ(once.channels, 1);
        EXPECT_TRUE(std::equal(once.samples.begin(), once.samples.end(), twice.samples.begin() + once.frames()));
        // Whole cycles: the step across the seam is like any other step.
        const auto& s = once.samples;
        int maxStep = 0;
        for (size_t j = 1; j < s.size(); ++j)
            maxStep = std::max(maxStep, std::abs(s[j] - s[j - 1]));
        EXPECT_LE(std::abs(s.front() - s.back()), maxStep);
        MemorySound sound(SoundSamples::wav(once), AudioFile::typeWav, SoundSamples::engineLoopNames[i]);
        EXPECT_EQ(sound.readAll(), pcmBytes(once));
    }
}
