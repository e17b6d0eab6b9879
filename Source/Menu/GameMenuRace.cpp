// Between the menu and a race: the race loaders behind the loading screen
// and the way back to the menu.
#include "Menu/GameMenu.h"

#include "Menu/GameMenuLoadingScreen.h"
#include "Menu/GameMenuOverlays.h"
#include "Menu/GameMenuScreen.h"
#include "Menu/GameMenuText.h"
#include "Menu/GameMenuTexts.h"

#include "Race/RaceClock.h"
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

// The text key of the notice for a map that cannot be raced.
constexpr const wchar_t* refusedMap = L"MapCannotBeRaced";
// Above every screen and the pause.
constexpr int32_t noticeLayer = 20;
constexpr Color noticeColour{255, 160, 40, 255};

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
    if (choice.mapFile.length() == 0) {
        // A championship's map that is not there is a damaged install too.
        if (kind != 0)
            showNotice(refusedMap);
        return false;
    }

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
// left no ground, course, start, grid or gates), takes the loading screen
// away again, gives the cursor back and tells the player why; such a map is
// cleared again.
bool GameMenu::loadBehindLoadingScreen(const String& map, bool race)
{
    hideNotice();
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
    showNotice(refusedMap);
    return false;
}

void GameMenu::showNotice(const wchar_t* key)
{
    hideNotice();
    noticeText = new Text(noticeLayer, fonts[secondButtonFont], *this, GameMenuTexts::lookUp(key), 0, 0, -1);
    noticeText->colour = noticeColour;
    noticeUntil = raceNow() + noticeMilliseconds;
    updateNotice(raceNow());
}

void GameMenu::hideNotice()
{
    delete noticeText;
    noticeText = nullptr;
}

void GameMenu::updateNotice(uint32_t now)
{
    if (!noticeText)
        return;
    if (int32_t(now - noticeUntil) > 0) {
        hideNotice();
        return;
    }
    const D3D::Device::SwapChain* chain = swapChain();
    const int32_t width = chain ? int32_t(chain->presentParameters.BackBufferWidth) : 0;
    const int32_t height = chain ? int32_t(chain->presentParameters.BackBufferHeight) : 0;
    // Drawn smaller where a narrow window has no room for it (a scaled text
    // keeps its box's centre).
    GameMenuOverlay::fitWidth(*noticeText, width - 40, 0.5f);
    const UserInterface::Size size = GameMenuOverlay::measure(*noticeText);
    noticeText->x = (width - size.width) / 2;
    noticeText->y = height - size.height - 40;
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
