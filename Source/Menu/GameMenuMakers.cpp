// The table of the game's screens: one maker per kind, each in the file of
// its screen. A kind whose entry is null is a screen the game does not have.
#include "Menu/GameMenu.h"
#include "Menu/GameMenuChooseCountry.h"
#include "Menu/GameMenuChooseMap.h"
#include "Menu/GameMenuControl.h"
#include "Menu/GameMenuDisperse.h"
#include "Menu/GameMenuExtendedControl.h"
#include "Menu/GameMenuGameMode.h"
#include "Menu/GameMenuGraphics.h"
#include "Menu/GameMenuLanguage.h"
#include "Menu/GameMenuMain.h"
#include "Menu/GameMenuMyQuad.h"
#include "Menu/GameMenuOverlays.h"
#include "Menu/GameMenuPause.h"
#include "Menu/GameMenuPoints.h"
#include "Menu/GameMenuRaceResults.h"
#include "Menu/GameMenuScreen.h"
#include "Menu/GameMenuSettings.h"

#include <new>

namespace {

template <class S>
GameMenu::Screen* make(GameMenu& menu)
{
    return new (std::nothrow) S(menu);
}

}

const GameMenu::Maker GameMenu::defaultMakers[kindCount] = {
    make<GameMenu::Main>, // mainKind
    make<GameMenu::ChooseMap>, // chooseMapKind
    make<GameMenu::GameMode>, // gameModeKind
    GameMenu::Exit::make, // exitKind
    GameMenu::Pause::make, // pauseKind
    GameMenu::Settings::make, // settingsKind
    GameMenu::Control::make, // controlKind
    GameMenu::Graphics::make, // graphicsKind
    GameMenu::Language::make, // languageKind
    GameMenu::MyQuad::make, // myQuadKind
    GameMenu::RaceResults::make, // raceResultsKind
    GameMenu::Points::make, // pointsKind
    make<GameMenu::ChooseCountry>, // chooseCountryKind
    GameMenu::GameOver::make, // gameOverKind
    GameMenu::ExtendedControl::make, // extendedControlKind
};

const GameMenu::OverlayMaker GameMenu::defaultOverlayMakers[overlayKindCount] = {
    GameMenu::MapPreview::make, // mapPreviewKind
    GameMenu::Congratulation::make, // congratulationKind
    GameMenu::DisperseScreen::make, // disperseKind
};
