// The race's phases with a set clock: the intro flight's end, the
// countdown, the running race, its end, a pause and the player giving up.
#include "RaceTestSupport.h"

#include "Landscape/CameraPath.h"
#include "Landscape/Scene.h"

#include "Audio/Audio.h"
#include "Audio/AudioFile.h"
#include "Audio/Sound2D.h"
#include "Audio/SoundInterface.h"

#include "Core/AudioFileRef.h"

#include "SoundSamples.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <memory>

namespace {

using namespace RaceTest;

struct PhaseRace
{
    PhaseRace()
    {
        game().phase = 1;
        game().choice.gameMode = Game::OffRoadRace;
        scene.camera.path = &path;
        path.reset(1.0f);
    }
    ~PhaseRace() { game().vehicles.deleteAll(); }
    Game& game() { return scene.game; }

    TestClock clock{50000};
    CameraPath path;
    Scene scene{String(L"KorvantaTests"), 3500.0f};
};

// The race's seven sounds as short tones over memory streams, and what was
// started of each: every sound object bound to a file stays listed (no
// frame step recycles the one-shots here).
struct RecordedSounds
{
    explicit RecordedSounds(Game& race) : game(race)
    {
        Audio::init(GetDesktopWindow());
        const std::vector<uint8_t> bytes = SoundSamples::wav(SoundSamples::tone(0.5, 1, 22050));
        for (int32_t i = 0; i < Game::soundCount; ++i) {
            streams[i] = std::make_unique<FileArray>(4096);
            streams[i]->write(bytes.data(), uint32_t(bytes.size()));
            streams[i]->seek(0, 0);
            refs[i] = std::make_unique<Audio::FileRef>(streams[i].get(), Audio::FileRef::typeWav,
                                                       String((L"SND" + std::to_wstring(i)).c_str()), 0);
            game.sounds[i] = refs[i].get();
        }
    }
    ~RecordedSounds()
    {
        game.stopRepairSound();
        game.stopWrongWaySound();
        for (int32_t i = 0; i < Game::soundCount; ++i) {
            game.sounds[i] = nullptr;
            Audio::AudioFile::unloadByRef(*refs[i]);
        }
        Audio::release();
    }
    // Counts the one-shots playing since the last call and stops them, as
    // if they had ended (the race asks for three buffers per sound).
    void collect()
    {
        for (auto* node = Audio::SoundInterface::list().head(); node; node = node->next) {
            Audio::SoundInterface& sound = *node->item;
            if (!sound.recycles || sound.state != Audio::SoundInterface::playing || !sound.file)
                continue;
            for (int32_t i = 0; i < Game::soundCount; ++i)
                if (sound.file->name.sameText(refs[i]->name))
                    ++oneShots[i];
            sound.stop();
        }
    }
    // The one-shots started on sound i so far.
    int32_t started(int32_t i)
    {
        collect();
        return oneShots[i];
    }
    // The sound objects of their own (not pooled) that play sound i.
    int32_t kept(int32_t i) const
    {
        int32_t n = 0;
        for (auto* node = Audio::SoundInterface::list().head(); node; node = node->next)
            if (!node->item->recycles && node->item->file && node->item->file->name.sameText(refs[i]->name) &&
                node->item->state == Audio::SoundInterface::playing)
                ++n;
        return n;
    }

    int32_t oneShots[Game::soundCount] = {};
    Game& game;
    std::array<std::unique_ptr<FileArray>, Game::soundCount> streams;
    std::array<std::unique_ptr<Audio::FileRef>, Game::soundCount> refs;
};

}

// The countdown's sounds: "SNDDing" at each change of its seconds, "SNDStart"
// once at the start; a race decided in the countdown starts silently; the
// repair and wrong-way sounds never restart while kept.
TEST(GamePhases, TheCountdownSounds)
{
    PhaseRace race;
    Game& game = race.game();
    RecordedSounds sounds(game);
    ASSERT_TRUE(Audio::isEnabled());
    addVehicle(game, 0).isPlayer = 1;
    race.path.finished = 1;
    game.update();
    ASSERT_EQ(game.phase, 2u);
    struct Step
    {
        uint32_t at;
        int32_t dings;
        int32_t starts;
    };
    // The seconds of (now - start) read 3, 2, 2, 1, 1, 0, then the start.
    const Step steps[] = {{50000, 1, 0}, {50001, 2, 0}, {51000, 2, 0}, {51001, 3, 0},
                          {52000, 3, 0}, {52001, 4, 0}, {53000, 4, 1}, {54000, 4, 1}};
    for (const Step& s : steps) {
        TestClock::now = s.at;
        game.update();
        EXPECT_EQ(sounds.started(Game::DingSound), s.dings) << "at " << s.at;
        EXPECT_EQ(sounds.started(Game::StartSound), s.starts) << "at " << s.at;
    }
    for (int32_t i : {Game::GateSound, Game::WrongGateSound, Game::RepairSound, Game::NitroSound,
                      Game::WrongWaySound})
        EXPECT_EQ(sounds.started(i) + sounds.kept(i), 0) << i;

    for (int k = 0; k < 3; ++k) {
        game.playSound(Game::RepairSound);
        game.playSound(Game::WrongWaySound);
        game.playSound(Game::GateSound);
        sounds.collect();
    }
    EXPECT_EQ(sounds.kept(Game::RepairSound), 1);
    EXPECT_EQ(sounds.kept(Game::WrongWaySound), 1);
    EXPECT_EQ(sounds.started(Game::GateSound), 3);
    EXPECT_EQ(sounds.started(Game::RepairSound), 0) << "not as one-shots";
    ASSERT_NE(game.repairSound, nullptr);
    EXPECT_EQ(game.repairSound->loop, 1u);
    EXPECT_FLOAT_EQ(game.repairSound->volume, 0.75f);
    game.playSound(-1);
    game.playSound(Game::soundCount);

    // Decided in the countdown: running at once, without "SNDStart".
    game.phase = 2;
    game.startTime = TestClock::now + 3000;
    game.raceOver = 1;
    game.update();
    EXPECT_EQ(game.phase, 3u);
    EXPECT_EQ(sounds.started(Game::StartSound), 1);
}

// The flight's end starts a countdown of 3000 ms that sets every vehicle's
// clocks; the race runs from the start time; a decided race ends a frame
// later; nothing moves while paused.
TEST(GamePhases, IntroCountdownRunAndEnd)
{
    PhaseRace race;
    Game& game = race.game();
    Game::Vehicle& player = addVehicle(game, 0);
    Game::Vehicle& other = addVehicle(game, 1);
    player.isPlayer = 1;
    game.update();
    EXPECT_EQ(game.phase, 1u) << "the flight goes on";
    race.path.finished = 1;
    game.paused = 1;
    game.update();
    EXPECT_EQ(game.phase, 1u) << "paused";
    game.paused = 0;
    game.update();
    ASSERT_EQ(game.phase, 2u);
    EXPECT_EQ(game.startTime, 53000u);
    EXPECT_EQ(player.raceStart, 53000u);
    EXPECT_EQ(other.lapStart, 53000u);
    struct Step
    {
        uint32_t at;
        uint32_t phase;
        uint8_t second;
    };
    for (const Step& s : {Step{50000, 2, 3}, Step{51001, 2, 1}, Step{52999, 2, 0}, Step{53000, 3, 0}}) {
        TestClock::now = s.at;
        game.update();
        EXPECT_EQ(game.phase, s.phase) << "at " << s.at;
    }
    TestClock::now += 60000;
    game.update();
    EXPECT_EQ(game.phase, 3u);
    // The standings follow the race every frame.
    other.finish();
    game.update();
    EXPECT_EQ(other.place, 1);
    EXPECT_EQ(player.place, 2);
    game.raceOver = 1;
    game.paused = 1;
    game.update();
    EXPECT_EQ(game.phase, 3u);
    game.paused = 0;
    game.update();
    EXPECT_EQ(game.phase, 4u);
    EXPECT_EQ(game.raceOver, 0u);
}

// A race decided during the countdown runs at once and ends a frame later.
TEST(GamePhases, ARaceDecidedInTheCountdown)
{
    PhaseRace race;
    Game& game = race.game();
    game.phase = 2;
    game.startTime = TestClock::now + 3000;
    game.raceOver = 1;
    game.update();
    EXPECT_EQ(game.phase, 3u);
    game.update();
    EXPECT_EQ(game.phase, 4u);
}

// Giving up: place 99 with no time in the lap modes, -1 points in the
// points modes, which the standings then put last; the race is over;
// nothing without a player.
TEST(GamePhases, GivingUp)
{
    struct Case
    {
        int32_t mode;
        int32_t points;
        bool noTime;
    };
    for (const Case& c : {Case{Game::OffRoadRace, 5, true}, Case{Game::TimeTrial, 5, true},
                          Case{Game::CaptureTheFlag, -1, false}, Case{Game::Jamboree, -1, false}}) {
        SCOPED_TRACE(c.mode);
        PhaseRace race;
        Game& game = race.game();
        game.phase = 3;
        game.choice.gameMode = c.mode;
        game.giveUpRace();
        EXPECT_EQ(game.raceOver, 0u) << "no player";
        Game::Vehicle& player = addVehicle(game, 0);
        player.isPlayer = 1;
        player.points = 5;
        addVehicle(game, 1);
        game.giveUpRace();
        EXPECT_EQ(player.finished, 1u);
        EXPECT_EQ(game.raceOver, 1u);
        EXPECT_EQ(player.place, 2) << "ranked behind the other";
        EXPECT_EQ(player.points, c.points);
        EXPECT_EQ(Game::formatRaceTime(player.raceTime).sameText(String(L"-")), c.noTime);
    }
}

// Back to the menu from the vehicle camera: a player without a dynamic
// object has no camera to take away, and the scene's camera goes free.
TEST(GamePhases, TheReleaseFreesTheCameraOfAPlayerWithoutQuad)
{
    PhaseRace race;
    Game& game = race.game();
    addVehicle(game, 0).isPlayer = 1;
    race.scene.camera.mode = SceneCamera::vehicleMode;
    game.removeRaceVehicles();
    EXPECT_EQ(race.scene.camera.mode, SceneCamera::freeMode);
    EXPECT_EQ(game.vehicles.count(), 0);

    // A race without a scene has no camera to free.
    Game alone(nullptr, nullptr);
    addVehicle(alone, 0).isPlayer = 1;
    alone.removeRaceVehicles();
    EXPECT_EQ(alone.vehicles.count(), 0);
}
