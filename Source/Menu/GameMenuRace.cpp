// Between the menu and a race: the race loaders behind the loading screen
// and the way back to the menu.
#include "Menu/GameMenu.h"

#include "Menu/GameMenuLoadingScreen.h"
#include "Menu/GameMenuScreen.h"

#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"

#include <TextureRecord.h>

namespace {

// The map choice's ids in the race logic's numbers.
int32_t courseTypeOf(int32_t trackKind)
{
    return trackKind == 10 ? 2 : trackKind == 11 ? 3 : 1;
}

int32_t daytimeOf(int32_t id)
{
    return id == 14 ? 1 : id == 15 ? 2 : 0;
}

int32_t difficultyOf(int32_t id)
{
    return id == 97 ? 1 : id == 98 ? 2 : 0;
}

}

void GameMenu::fillSoloChoice(RaceChoice& choice) const
{
    Menu::Selection selection;
    if (chooseMapScreen)
        chooseMapScreen->readSelection(selection);
    choice.mapFile = selection.mapName;
    choice.courseType = courseTypeOf(selection.trackKind);
    choice.daytime = daytimeOf(selection.daytime);
    // Without the game mode screen the race keeps the record's values, in
    // the first mode.
    if (!gameModeScreen) {
        choice.gameMode = Game::OffRoadRace;
        return;
    }
    gameModeScreen->readSelection(selection);
    choice.gameMode = selection.mode;
    choice.difficulty = difficultyOf(selection.difficulty);
    choice.items = selection.mode == Game::TimeTrial ? 0 : selection.battle == 24 ? 1 : 0;
    choice.vehicleCount = selection.opponents + 1;
    choice.goal = selection.goal;
}

bool GameMenu::loadRace(int32_t kind)
{
    CRASH_TRACE();
    RaceChoice choice;
    Game* race = game();
    const String folder = callbacks ? callbacks->getMapFolder() : String(L"Data\\Map\\");
    if (kind == 0) {
        if (!chooseMapScreen)
            return false;
        fillSoloChoice(choice);
    } else if (kind == 1) {
        if (!chooseCountryScreen)
            return false;
        // Only the entry the country choice hands out: its country panels
        // and map records are gone once it has closed.
        if (Game::ChampionshipEntry* entry = chooseCountryScreen->chosenEntry())
            Game::makeChampionshipChoice(*entry, choice, folder);
    } else if (kind == 2) {
        if (Game::ChampionshipEntry* entry = race ? race->getChampionshipEntry() : nullptr)
            Game::makeChampionshipChoice(*entry, choice, folder);
    }
    if (choice.mapFile.length() == 0)
        return false;

    if (!loadBehindLoadingScreen(choice.mapFile, true))
        return false;
    TextureRef picture;
    captureLoadingPicture(picture);
    world->applyRaceChoice(choice);
    finishLoad(picture);
    world->setCameraMode(2, 0, 3.0f);
    world->setTour(0, 2);
    // The preview's close sets the race up.
    createMapPreview();
    return true;
}

bool GameMenu::loadChampionshipEnd()
{
    CRASH_TRACE();
    Game* race = game();
    Game::ChampionshipEntry* entry = race ? race->getChampionshipEntry() : nullptr;
    if (!entry || !world)
        return false;
    const String folder = callbacks ? callbacks->getMapFolder() : String(L"Data\\Map\\");
    const int8_t key[2] = {entry->key0, entry->key1};
    const String map = Game::findChampionshipMap(folder, key, 2);
    if (map.length() == 0)
        return false;
    if (!loadBehindLoadingScreen(map, false))
        return false;
    world->placePlayerQuad();
    TextureRef picture;
    captureLoadingPicture(picture);
    world->applyTimeOfDay();
    finishLoad(picture);
    world->setCameraMode(11, 9, 1.0f);
    world->setTour(1, 2);
    createCongratulation();
    playSound(4);
    return true;
}

// Loads a map while the loading screen shows its progress. A failed load,
// or a race's map that holds no race a player can drive (its damaged files
// left no ground, course, start or grid), takes the loading screen away
// again and gives the cursor back; such a map is cleared again.
bool GameMenu::loadBehindLoadingScreen(const String& map, bool race)
{
    delete loadingScreen;
    loadingScreen = new LoadingScreen(*this);
    const bool loaded = world && world->loadMap(map);
    if (loaded && (!race || world->raceCanRun()))
        return true;
    if (loaded)
        world->clearScene();
    delete loadingScreen;
    loadingScreen = nullptr;
    if (D3D::Device::SwapChain* chain = swapChain())
        chain->clearLoadProcess();
    if (callbacks)
        callbacks->setCursorShown(true);
    return false;
}

// The last loading frame as a picture, for the transition into the map.
void GameMenu::captureLoadingPicture(TextureRef& picture)
{
    if (D3D::Device::SwapChain* chain = swapChain()) {
        loadingScreen->capture(int32_t(chain->presentParameters.BackBufferWidth),
                               int32_t(chain->presentParameters.BackBufferHeight), picture);
        chain->clearLoadProcess();
    }
}

void GameMenu::finishLoad(TextureRef& picture)
{
    releaseScreens();
    delete loadingScreen;
    loadingScreen = nullptr;
    if (!disperseScreen && overlayMakers[disperseKind])
        disperseScreen = overlayMakers[disperseKind](*this, picture);
    picture.release();
}

void GameMenu::returnToMenu(int32_t state)
{
    CRASH_TRACE();
    if (world) {
        world->releaseRace();
        if (callbacks)
            callbacks->setCursorShown(true);
        world->clearScene();
    }
    load(String(L""));
    // A race load that loads nothing goes on from the main screen.
    previousState = mainState;
    menuState = state;
    openScreen(noScreen);
}
