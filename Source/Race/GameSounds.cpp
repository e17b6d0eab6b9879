// The race's own sounds: the countdown, the gates, the repair and the
// warnings.
#include "Race/Game.h"

#include "Audio/AudioFile.h"
#include "Audio/Sound2D.h"

#include "Core/AudioFileRef.h"

namespace {

constexpr float soundVolumes[Game::soundCount] = {1.0f, 0.85f, 0.85f, 0.85f, 0.75f, 1.0f, 0.85f};

void stopKept(Audio::Sound2D*& kept)
{
    if (!kept)
        return;
    kept->stop();
    delete kept;
    kept = nullptr;
}

}

void Game::playSound(int32_t index)
{
    if (index < 0 || index >= soundCount || !sounds[index])
        return;
    Audio::Sound2D** kept = index == RepairSound ? &repairSound : (index == WrongWaySound ? &wrongWaySound : nullptr);
    if (kept && *kept)
        return;
    Audio::AudioFile* file = Audio::AudioFile::get(sounds[index], 3, 3, 3);
    if (!file)
        return;
    // Buffers need their description first: without it nothing would sound.
    if (file->description.dwSize == 0)
        file->setupBuffers(true, false, false, false);
    else
        file->createBuffers();
    if (kept) {
        *kept = new Audio::Sound2D(file);
        (*kept)->setVolume(soundVolumes[index]);
        (*kept)->play(true);
        return;
    }
    Audio::Sound2D::create(file)->setVolume(soundVolumes[index])->play(false);
}

void Game::stopRepairSound()
{
    stopKept(repairSound);
}

void Game::stopWrongWaySound()
{
    stopKept(wrongWaySound);
}
