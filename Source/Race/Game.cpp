#include "Race/Game.h"

#include "Race/GameGate.h"
#include "Race/GameVehicle.h"
#include "Race/RaceClock.h"

#include "Entity/StaticEntity.h"

#include "Landscape/Scene.h"
#include "Physics/PhysicsManager.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"
#include "Core/Language.h"
#include "Core/Timer.h"

const wchar_t* const Game::packageNames[packageCount] = {
    L"Quad", L"PlayerSlot", L"Gate",   L"CaptureFlag", L"Rocket",           L"Nitro",  L"RepairKit",
    L"RocketPack", L"Oil",  L"OilPuddle", L"Start",    L"Goal", L"PlayerParkingSlot", L"Podium",
};

namespace {

struct ModeTexts
{
    const wchar_t* name;
    const wchar_t* goal;
};
constexpr ModeTexts modeTexts[] = {
    {L"OffRoadRace", L"Laps"}, {L"CaptureTheFlag", L"MaxPoints"}, {L"Jamboree", L"Checkpoints"},
    {L"KnockOut", L"Laps"},    {L"Circuit", L"Laps"},             {L"TimeTrial", L"Laps"},
};

String languageText(const wchar_t* key)
{
    if (!gLanguage)
        return String(L"");
    return gLanguage->getText(nullptr, String::borrowed(key));
}

// Blue, red, yellow, green, rose, black, white, orange.
constexpr Color playerColors[8] = {
    Color(0x09, 0x5A, 0xFF, 0xFF), Color(0xFF, 0x09, 0x20, 0xFF), Color(0xF3, 0xDF, 0x03, 0xFF),
    Color(0x0C, 0xB4, 0x10, 0xFF), Color(0xD3, 0x0B, 0xB0, 0xFF), Color(0x10, 0x10, 0x10, 0xFF),
    Color(0xE6, 0xFF, 0xE6, 0xFF), Color(0xFA, 0x7C, 0x00, 0xFF),
};

constexpr const wchar_t* opponentNames[8] = {L"Anna", L"Bruno", L"Carla", L"Dario",
                                             L"Elif", L"Finn",  L"Greta", L"Hugo"};

enum SettingsTag : uint32_t { CourseType = 1, ReferenceTime = 2 };

}

Game::Game(Scene* owner, Interface* application) : scene(owner), callbacks(application) {}

Game::~Game()
{
    vehicles.deleteAll();
}

String Game::getModeName(int32_t mode)
{
    return mode >= OffRoadRace && mode <= TimeTrial ? languageText(modeTexts[mode - 1].name) : String(L"");
}

String Game::getModeGoalText(int32_t mode)
{
    return mode >= OffRoadRace && mode <= TimeTrial ? languageText(modeTexts[mode - 1].goal) : String(L"");
}

void Game::loadObjectTypes(StaticEntityManager::PackageFinder& finder, const wchar_t* const (&names)[packageCount],
                           float scale)
{
    CRASH_TRACE();
    for (int i = 0; i < packageCount; ++i)
        packages[i] = names[i] ? finder.findPackage(String::borrowed(names[i])) : nullptr;
    vehicleScale = scale;
}

void Game::applyRaceChoice(const RaceChoice& newChoice)
{
    choice = newChoice;
    // What the map's preview shows before the set-up is what the race runs.
    applyModeRules(choice);
    if (!scene)
        return;
    constexpr float hours[3] = {12.5f, 9.2f, 18.5f};
    if (choice.daytime >= 0 && choice.daytime <= 2)
        scene->timeOfDay = hours[choice.daytime];
    scene->applyTimeOfDay();
}

bool Game::readRaceSettings(FileInterface& stream, bool headerOnly, int32_t& courseType, RaceTime& reference)
{
    uint32_t tag = 0;
    for (;;) {
        if (!stream.readValue(tag))
            return false;
        switch (tag) {
        case 0:
            return true;
        case CourseType:
            if (!stream.readValue(courseType))
                return false;
            if (headerOnly)
                return true;
            break;
        case ReferenceTime: {
            uint8_t bytes[4];
            if (stream.read(bytes, 4) != 4)
                return false;
            reference = RaceTime{bytes[0], bytes[1], bytes[2], bytes[3]};
            break;
        }
        default:
            break;
        }
    }
}

bool Game::readSceneSettings(FileInterface& stream, bool headerOnly)
{
    return readRaceSettings(stream, headerOnly, choice.courseType, referenceTime);
}

void Game::writeSceneSettings(FileInterface& stream) const
{
    stream.writeTag(CourseType);
    stream.writeValue(choice.courseType);
    stream.writeTag(ReferenceTime);
    const uint8_t bytes[4] = {referenceTime.sign, referenceTime.minutes, referenceTime.seconds,
                              referenceTime.hundredths};
    stream.write(bytes, sizeof(bytes));
    stream.writeTag(0);
}

void Game::clearSceneSettings()
{
    choice.courseType = 0;
    referenceTime = RaceTime{};
}

Color Game::getPlayerColor(int32_t slot)
{
    return playerColors[slot >= 0 && slot < 8 ? slot : 0];
}

int32_t Game::findPlayerColorIndex(const Color& color)
{
    for (int32_t i = 0; i < 8; ++i)
        if (playerColors[i] == color)
            return i + 1;
    return 0;
}

int32_t Game::getPlayerNumber(int32_t slot)
{
    return slot >= 0 && slot < 8 ? slot + 1 : 1;
}

String Game::getOpponentName(int32_t slot)
{
    return String(slot >= 0 && slot < 8 ? opponentNames[slot] : L"");
}

Game::Vehicle* Game::getPlayerVehicle() const
{
    for (auto* node = vehicles.head(); node; node = node->next)
        if (node->item && node->item->isPlayer)
            return node->item;
    return nullptr;
}

EntityManager::PhysicsManager* Game::physics() const
{
    return scene && scene->swapChain && scene->swapChain->entities ? scene->swapChain->entities->physicsManager.get()
                                                                    : nullptr;
}

uint32_t Game::worldNow() const
{
    const EntityManager::PhysicsManager* world = physics();
    return raceNow() - (world ? uint32_t(world->worldLagMs()) : 0u);
}

float Game::pieceFactor() const
{
    const EntityManager::PhysicsManager* world = physics();
    return world && world->simulator && world->updated && !world->paused ? world->pieceTime() * Timer::referenceFramesPerSecond : 0.0f;
}
