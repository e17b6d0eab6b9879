// The default collision and drag sounds compiled into Korvanta.exe: found by
// name as the program's start-up finds them, and playable at a position.
#include "Audio/Audio.h"
#include "Audio/AudioFile.h"

#include "Core/FileArray.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

TEST(DefaultSounds, AreMonoWavsThatTakePositionalBuffers)
{
    HMODULE program = LoadLibraryExW(L"" KORVANTA_EXE_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(program, nullptr);
    Audio::init(GetDesktopWindow());
    ASSERT_TRUE(Audio::isEnabled());
    for (const wchar_t* name : {L"SndDefColl", L"SndDefDrag"}) {
        HRSRC found = FindResourceW(program, name, MAKEINTRESOURCEW(10));
        ASSERT_NE(found, nullptr);
        const void* bytes = LockResource(LoadResource(program, found));
        FileArray stream(4096);
        stream.write(bytes, SizeofResource(program, found));
        stream.seek(0, 0);
        Audio::FileRef ref(&stream, Audio::FileRef::typeWav, String(name), 0);
        Audio::AudioFile* file = Audio::AudioFile::get(&ref, 1, 1, 1);
        ASSERT_EQ(file->type, Audio::AudioFile::typeWav);
        EXPECT_EQ(file->format.nChannels, 1);
        EXPECT_EQ(file->format.nSamplesPerSec, 44100u);
        EXPECT_GT(file->duration, 200u);
        file->setupBuffers(true, true, false, false);
        EXPECT_NE(file->master, nullptr) << "3D buffers take mono sounds only";
        Audio::AudioFile::unloadByRef(ref);
    }
    Audio::release();
    FreeLibrary(program);
}
