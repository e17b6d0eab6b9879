// The menu's state machine: the polled menu keys with their repeat, the
// overlays around a race, the screen of the current state and its
// transitions, the pause screen; and the menu's draw, mouse and view hooks.
#include "Menu/GameMenu.h"

#include "Menu/GameMenuIntro.h"
#include "Menu/GameMenuScreen.h"
#include "Menu/UserInterface.h"

#include "Application/ControlBindings.h"
#include "Race/RaceClock.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"

namespace {

constexpr uint32_t firstRepeat = 500;
constexpr uint32_t sideRepeat = 100;
constexpr uint32_t upDownRepeat = 150;
// The race phases the pause key and the results look at.
constexpr uint32_t phaseNone = 0;
constexpr uint32_t phaseIntro = 1;
constexpr uint32_t phaseOver = 4;

bool isLoadState(int32_t state)
{
    return state == GameMenu::soloRaceState || (state >= GameMenu::championshipStartState &&
                                                state <= GameMenu::championshipEndState);
}

// Past deadline on the u32 millisecond clock.
bool isPast(uint32_t now, uint32_t deadline)
{
    return int32_t(now - deadline) > 0;
}

}

GameMenu::Screen* GameMenu::screenOf(int32_t state) const
{
    switch (state) {
    case 0:
    case 1:
    case 2:
        return introScreens[state];
    case mainState:
        return mainScreen;
    case myQuadState:
        return myQuadScreen;
    case chooseMapState:
        return chooseMapScreen;
    case gameModeState:
        return gameModeScreen;
    case pauseState:
        return pauseScreen;
    case settingsState:
        return settingsScreen;
    case exitState:
        return exitScreen;
    case controlState:
        return controlScreen;
    case graphicsState:
        return graphicsScreen;
    case languageState:
        return languageScreen;
    case raceResultsState:
        return raceResultsScreen;
    case pointsState:
        return pointsScreen;
    case chooseCountryState:
        return chooseCountryScreen;
    case gameOverState:
        return gameOverScreen;
    case extendedControlState:
        return extendedControlScreen;
    default:
        return nullptr;
    }
}

GameMenu::Screen* GameMenu::activeScreen(int32_t state) const
{
    Screen* screen = state == pauseState ? nullptr : screenOf(state);
    return screen && !screen->isDone() ? screen : nullptr;
}

void GameMenu::startIntro()
{
    menuState = introState0;
    openScreen(noScreen);
}

void GameMenu::openScreen(int32_t id, int32_t returnState)
{
    CRASH_TRACE();
    if (id != noScreen) {
        if (isLoadState(id) && !isLoadState(menuState))
            previousState = menuState;
        menuState = id;
        if (id >= introState0 && id <= introState2) {
            if (introScreens[id])
                introScreens[id]->nextImage();
            return;
        }
    }
    // Each pass enters one state; a finished screen leads on to the next.
    // The bound keeps screens that lead to each other without end from
    // hanging the frame.
    for (int pass = 0; pass < 64; ++pass) {
        switch (menuState) {
        case 0:
        case 1:
        case 2: {
            for (int32_t i = menuState; i <= introState2; ++i) {
                if (introScreens[i] && !introScreens[i]->isDone()) {
                    menuState = i;
                    introScreens[i]->nextImage();
                    return;
                }
            }
            if (callbacks && callbacks->isFirstStart()) {
                menuState = languageState;
                returnState = mainState;
            } else {
                menuState = mainState;
                returnState = noScreen;
            }
            continue;
        }
        case mainState:
        case myQuadState:
        case chooseMapState:
        case gameModeState:
        case settingsState:
        case exitState:
        case controlState:
        case graphicsState:
        case languageState:
        case raceResultsState:
        case pointsState:
        case chooseCountryState:
        case gameOverState:
        case extendedControlState: {
            Screen* screen = screenOf(menuState);
            if (!screen)
                return;
            if (!screen->isDone()) {
                screen->enter(returnState);
                return;
            }
            const int32_t finished = menuState;
            menuState = screen->nextScreen();
            screen->reset();
            if (finished == controlState && pauseScreen && menuState == extendedControlState)
                showExtendedControl(true);
            if (finished == extendedControlState && pauseScreen)
                showExtendedControl(false);
            returnState = finished == settingsState ? settingsState : noScreen;
            previousState = finished;
            continue;
        }
        case pauseState:
            if (pauseScreen)
                pauseScreen->enter(0);
            return;
        case quitState:
            if (callbacks)
                callbacks->quit();
            return;
        case soloRaceState:
        case championshipStartState:
        case championshipStartState2:
        case championshipNextState:
        case championshipEndState: {
            const int32_t load = menuState;
            const bool loaded = load == championshipEndState ? loadChampionshipEnd()
                                                             : loadRace(load == soloRaceState            ? 0
                                                                        : load == championshipNextState ? 2
                                                                                                        : 1);
            if (loaded) {
                menuState = noScreen;
                return;
            }
            // Nothing loaded: a solo race's map was refused, and the player
            // chooses another on the map choice; any other load goes back to
            // the state it was asked from.
            menuState = load == soloRaceState && chooseMapScreen ? chooseMapState
                        : isLoadState(previousState)            ? noScreen
                                                                : previousState;
            previousState = noScreen;
            if (menuState == noScreen)
                return;
            returnState = noScreen;
            continue;
        }
        default:
            return;
        }
    }
}

void GameMenu::update()
{
    CRASH_TRACE();
    bool down[inputCount] = {};
    if (controls)
        for (int32_t i = 0; i < inputCount; ++i)
            down[i] = controls->getStrongerValue(inputBits[i]) > 0.0f;
    const uint32_t now = raceNow();
    bool pressed[inputCount] = {};
    for (int32_t i = 0; i < inputCount; ++i) {
        pressed[i] = down[i] && !inputHeld[i];
        if (!down[i])
            keptFromPause &= ~(1u << i);
    }

    if (!(controlScreen && controlScreen->isCapturing())) {
        for (int32_t i = inLeft; i <= inDown; ++i) {
            if (down[i] != bool(inputHeld[i])) {
                inputHeld[i] = down[i];
                if (down[i]) {
                    routeKey(Input(i));
                    repeatAt[i] = raceNow() + firstRepeat;
                }
            }
        }
        for (int32_t i : {inPause, inCamera, inThrottle}) {
            if (down[i] != bool(inputHeld[i])) {
                inputHeld[i] = down[i];
                if (down[i]) {
                    if (i == inPause)
                        onPausePress(pressed, down);
                    else if (i == inCamera)
                        onKeyCamera();
                    else
                        onRaceFinished();
                }
            }
        }
        for (int32_t i = inLeft; i <= inDown; ++i) {
            if (down[i] && inputHeld[i] && isPast(now, repeatAt[i])) {
                routeKey(Input(i));
                repeatAt[i] = now + (i <= inRight ? sideRepeat : upDownRepeat);
            }
        }
    }
    for (int32_t i : {inConfirm, inBack}) {
        if (down[i] != bool(inputHeld[i])) {
            inputHeld[i] = down[i];
            if (down[i])
                routeKey(Input(i));
        }
    }

    updateOverlays(down, now);

    // Every state but the pause has its screen updated here; the pause
    // screen runs below, over whatever state it paused.
    if (menuState != pauseState) {
        if (Screen* screen = screenOf(menuState)) {
            screen->update();
            if (screen->isDone())
                onScreenDone();
        }
    }

    if (pauseScreen) {
        pauseScreen->update();
        if (pauseScreen->isDone()) {
            Screen* pause = pauseScreen;
            const bool giveUp = pause->givesUp();
            const bool exitChampionship = pause->exitsChampionship();
            menuState = noScreen;
            Game* race = game();
            if (giveUp) {
                if (race && race->choice.championship)
                    world->giveUpRace();
                else
                    returnToMenu(mainState);
            }
            if (exitChampionship)
                returnToMenu(mainState);
            if (pauseScreen == pause)
                deleteScreen(pauseScreen);
        }
    }

    if (disperseScreen && disperseScreen->finished(raceNow()))
        deleteOverlay(disperseScreen);
    updateNotice(raceNow());
}

void GameMenu::updateOverlays(const bool (&down)[inputCount], uint32_t now)
{
    const bool anyKey = down[inConfirm] || down[inBack] || down[inPause] || down[inThrottle];
    // The preview and the congratulation go once the transition has
    // finished or is gone; the transition deletes itself when it ends.
    if (mapPreviewScreen) {
        if (!disperseScreen && anyKey)
            mapPreviewScreen->beginClose();
        mapPreviewScreen->update();
        if ((!disperseScreen || disperseScreen->finished(now)) && mapPreviewScreen->closeDue(now)) {
            deleteOverlay(mapPreviewScreen);
            if (world) {
                world->setTour(0, 0);
                world->setupRace();
            }
        }
    }
    if (congratulationScreen) {
        if (!disperseScreen && anyKey)
            congratulationScreen->beginClose();
        congratulationScreen->update();
        if ((!disperseScreen || disperseScreen->finished(now)) && congratulationScreen->closeDue(now)) {
            deleteOverlay(congratulationScreen);
            if (world)
                world->setTour(1, 0);
            returnToMenu(mainState);
        }
    }
}

void GameMenu::onScreenDone()
{
    Game* race = game();
    const bool championship = race && race->choice.championship;
    switch (menuState) {
    case raceResultsState:
        if (championship) {
            showPoints(true);
            openScreen(noScreen);
        } else {
            returnToMenu(chooseMapState);
        }
        showRaceResults(false);
        break;
    case pointsState: {
        if (!championship) {
            showPoints(false);
            break;
        }
        Game::ChampionshipEntry* entry = race->getChampionshipEntry();
        if (!entry) {
            returnToMenu(mainState);
            break;
        }
        if (!pointsScreen->notQualified()) {
            returnToMenu(entry->raceNumber == 0 ? championshipEndState : championshipNextState);
            showPoints(false);
        } else {
            showGameOver(true);
            openScreen(noScreen);
            showPoints(false);
        }
        break;
    }
    case gameOverState: {
        if (world)
            world->restartChampionship();
        const int32_t next = gameOverScreen->nextScreen();
        if (next == mainState)
            returnToMenu(mainState);
        else if (next == championshipRestartState)
            returnToMenu(championshipNextState);
        showGameOver(false);
        break;
    }
    default:
        openScreen(noScreen);
        break;
    }
}

void GameMenu::routeKey(Input input)
{
    const int32_t state = menuState;
    // The intro pages take no keys of their own.
    Screen* screen = state > introState2 ? activeScreen(state) : nullptr;
    if (screen) {
        switch (input) {
        case inLeft:
            screen->onKeyLeft();
            break;
        case inRight:
            screen->onKeyRight();
            break;
        case inUp:
            screen->onKeyUp();
            break;
        case inDown:
            screen->onKeyDown();
            break;
        case inConfirm:
            screen->onKeyConfirm();
            break;
        case inBack:
            screen->onKeyBack();
            break;
        default:
            break;
        }
    }
    if (!pauseScreen || input == inLeft || input == inRight || (keptFromPause & (1u << input)))
        return;
    // The screens over the pause screen keep these keys to themselves.
    if (screen) {
        const bool upDown = (input == inUp || input == inDown) && (state == controlState || state == graphicsState);
        const bool confirm = input == inConfirm &&
                             (state == myQuadState || state == controlState || state == graphicsState ||
                              state == languageState || state == raceResultsState || state == pointsState);
        const bool back = input == inBack && (state == myQuadState || state == controlState || state == graphicsState ||
                                              state == languageState || state == raceResultsState ||
                                              state == pointsState || state == extendedControlState);
        if (upDown || confirm || back)
            return;
    }
    if (input == inUp)
        pauseScreen->onKeyUp();
    else if (input == inDown)
        pauseScreen->onKeyDown();
    else if (input == inConfirm)
        pauseScreen->onKeyConfirm();
    else if (input == inBack)
        pauseScreen->onKeyBack();
}

void GameMenu::onKeyLeft() { routeKey(inLeft); }
void GameMenu::onKeyRight() { routeKey(inRight); }
void GameMenu::onKeyUp() { routeKey(inUp); }
void GameMenu::onKeyDown() { routeKey(inDown); }
void GameMenu::onKeyConfirm() { routeKey(inConfirm); }
void GameMenu::onKeyBack() { routeKey(inBack); }

void GameMenu::onKeyPause()
{
    onRaceFinished();
    Game* race = game();
    if (!race || race->raceOver || race->phase == phaseNone || race->phase == phaseIntro || race->phase == phaseOver)
        return;
    // A settings screen opened from the pause keeps the race paused until it
    // has gone back to the pause: closing the pause under it let the race run
    // on behind a screen that still took the keys.
    if (pauseScreen && (menuState == controlState || menuState == extendedControlState || menuState == graphicsState))
        return;
    showPause(pauseScreen == nullptr);
    // Closed by its key after a settings screen came back to it: the race
    // is the state again.
    if (!pauseScreen && menuState == pauseState)
        menuState = noScreen;
    playSound(3);
}

// The pause key may share its input with the menu keys the pause screen
// reads (the control screen lets Escape both pause and go back): the press
// that opens the pause is not also read by it, and while the pause shows, a
// press of its confirm or back is theirs (back continues the race).
void GameMenu::onPausePress(const bool (&pressed)[inputCount], const bool (&down)[inputCount])
{
    if (pauseScreen && (pressed[inConfirm] || pressed[inBack]))
        return;
    const bool opens = !pauseScreen;
    onKeyPause();
    if (!opens || !pauseScreen)
        return;
    for (int32_t i = 0; i < inputCount; ++i)
        if (down[i])
            keptFromPause |= 1u << i;
}

void GameMenu::onKeyCamera()
{
    if (world)
        world->toggleVehicleCamera();
}

void GameMenu::onRaceFinished()
{
    Game* race = game();
    if (!race || race->phase != phaseOver)
        return;
    if (!raceResultsScreen && !pointsScreen && !gameOverScreen) {
        showRaceResults(true);
        openScreen(raceResultsState);
        return;
    }
    if (raceResultsScreen && raceResultsScreen->opacity >= 1.0f) {
        if (pointsScreen)
            closePoints();
        else if (!gameOverScreen)
            raceResultsScreen->close();
        return;
    }
    if (pointsScreen)
        closePoints();
}

// The championship moves on for a player who has the points. One who missed
// them goes to the game over, which repeats this race's needed points and
// ends the championship: moved on first, it showed the next race's, and the
// seventh race lost unlocked the next difficulty.
void GameMenu::closePoints()
{
    const bool qualified = !pointsScreen->notQualified();
    pointsScreen->close();
    if (qualified && world)
        world->advanceChampionship();
}

void GameMenu::render()
{
    CRASH_TRACE();
    D3D::Device::SwapChain* chain = swapChain();
    UserInterface::Root* root = chain ? chain->userInterface : nullptr;
    // The pass at the end of the frame steps the fades; this draw does not.
    const auto drawOnce = [root](UserInterface::Widget& widget) {
        const uint32_t advance = root ? root->fadesAdvance : 1;
        if (root)
            root->fadesAdvance = 0;
        widget.draw();
        if (root)
            root->fadesAdvance = advance;
    };
    switch (menuState) {
    case noScreen:
        return;
    case 0:
    case 1:
    case 2:
        if (introScreens[menuState] && introScreens[menuState]->enabled)
            drawOnce(*introScreens[menuState]);
        return;
    case mainState:
        if (mainScreen)
            drawOnce(*mainScreen);
        return;
    case myQuadState:
        if (myQuadScreen)
            drawOnce(*myQuadScreen);
        return;
    default:
        if (!pauseScreen && !raceResultsScreen && !pointsScreen && !gameOverScreen)
            blankScreen();
        return;
    }
}

void GameMenu::blankScreen()
{
    D3D::Device::SwapChain* chain = swapChain();
    if (!chain || !gDevice)
        return;
    DWORD fog = 0;
    gDevice->GetRenderState(D3DRS_FOGENABLE, &fog);
    if (fog)
        gDevice->SetRenderState(D3DRS_FOGENABLE, FALSE);
    gDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    gDevice->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
    gDevice->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
    gDevice->SetRenderState(D3DRS_TEXTUREFACTOR, 0);
    drawScreenRect(int(chain->presentParameters.BackBufferWidth), int(chain->presentParameters.BackBufferHeight), -1,
                   -1, 0.0f);
    gDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    gDevice->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    gDevice->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    if (fog)
        gDevice->SetRenderState(D3DRS_FOGENABLE, TRUE);
}

void GameMenu::onLeftButtonDown()
{
    if (Screen* screen = screenOf(menuState))
        screen->onLeftButtonDown();
}

void GameMenu::onLeftButtonUp()
{
    if (Screen* screen = screenOf(menuState))
        screen->onLeftButtonUp();
}

void GameMenu::onViewChanged()
{
    if (Screen* screen = screenOf(menuState))
        screen->onViewChanged();
}

void GameMenu::onDeviceReset()
{
    for (Screen* screen : {mainScreen, chooseMapScreen, gameModeScreen, exitScreen, pauseScreen, settingsScreen,
                           controlScreen, graphicsScreen, languageScreen, myQuadScreen, raceResultsScreen, pointsScreen,
                           chooseCountryScreen, gameOverScreen, extendedControlScreen})
        if (screen)
            screen->onDeviceReset();
}

bool GameMenu::getCursorClientPos(intvec2d& out) const
{
    D3D::Device::SwapChain* chain = swapChain();
    POINT point{};
    if (!chain || !GetCursorPos(&point) || !ScreenToClient(chain->presentParameters.hDeviceWindow, &point))
        return false;
    out = {int32_t(point.x), int32_t(point.y)};
    return true;
}

void GameMenu::onChar(wchar_t c)
{
    if (myQuadScreen)
        myQuadScreen->inputChar(c);
}
