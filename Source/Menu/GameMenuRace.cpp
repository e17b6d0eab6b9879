// Between the menu and a race: the race loaders behind the loading screen
// and the way back to the menu.
#include "Menu/GameMenu.h"

#include "Menu/GameMenuLoadingScreen.h"
#include "Menu/GameMenuOverlays.h"
#include "Menu/GameMenuScreen.h"
#include "Menu/GameMenuText.h"
#include "Menu/GameMenuTexts.h"
#include "Menu/UserInterface.h"

#include "Race/RaceClock.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"

#include <TextureRecord.h>

#include <algorithm>

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
// The room the notice keeps from the foot of the frame and from widgets.
constexpr int32_t noticeClearance = 8;

// The notice finds its place as it draws: every screen's widgets lie on
// lower layers and have drawn in this frame's pass already, so their
// rectangles are where they stand now, even on a screen entered this frame.
// It takes the lowest band at the foot of the frame where its box meets no
// other widget that is shown, centred; a widget over the whole frame is a
// backdrop and stands in no one's way. A frame without such a band keeps
// the notice at its foot, where it is seen at least.
class Notice final : public GameMenu::Text
{
public:
    using GameMenu::Text::Text;

    void draw() override
    {
        // A widget in a root's list belongs to that root's swap chain.
        if (root)
            standClear(int32_t(owner->presentParameters.BackBufferWidth),
                       int32_t(owner->presentParameters.BackBufferHeight));
        GameMenu::Text::draw();
    }

private:
    // The box (its laid-out size holds the drawn text, which is never drawn
    // larger) moves up past each widget it meets until it meets none.
    void standClear(int32_t width, int32_t height)
    {
        const UserInterface::Size size = getSize();
        x = (width - size.width) / 2;
        const int32_t left = x - 1 - noticeClearance;
        const int32_t right = x - 1 + size.width + noticeClearance;
        const int32_t foot = height - noticeClearance - size.height;
        int32_t top = foot;
        for (bool moved = true; moved && top >= 0;) {
            moved = false;
            for (SCList<UserInterface::Widget>::Node* node = root->widgets.head(); node; node = node->next) {
                UserInterface::Widget& widget = *node->item;
                if (&widget == this || !widget.enabled)
                    continue;
                const UserInterface::Rect r = widget.getRect();
                const bool backdrop = r.left <= 0 && r.top <= 0 && r.right >= width && r.bottom >= height;
                const bool meets = std::max(r.left, left) < std::min(r.right, right) &&
                                   std::max(r.top, top - noticeClearance) <
                                       std::min(r.bottom, top + size.height + noticeClearance);
                if (meets && !backdrop) {
                    top = r.top - noticeClearance - size.height;
                    moved = true;
                }
            }
        }
        y = (top < 0 ? foot : top) + 1;
    }
};

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
    noticeText = new Notice(noticeLayer, fonts[secondButtonFont], *this, GameMenuTexts::lookUp(key), 0, 0, -1);
    noticeText->colour = noticeColour;
    noticeShown = 0;
    noticeFrameAt = raceNow();
    updateNotice(noticeFrameAt);
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
    noticeShown += std::min(now - noticeFrameAt, noticeLongestFrame);
    noticeFrameAt = now;
    if (noticeShown > noticeMilliseconds) {
        hideNotice();
        return;
    }
    const D3D::Device::SwapChain* chain = swapChain();
    const int32_t width = chain ? int32_t(chain->presentParameters.BackBufferWidth) : 0;
    // Drawn smaller where a narrow window has no room for it (a scaled text
    // keeps its box's centre).
    GameMenuOverlay::fitWidth(*noticeText, width - 40, 0.5f);
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
