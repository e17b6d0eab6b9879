#include "Menu/GameMenuOverlays.h"

#include "Menu/GameMenuDisperse.h"
#include "Menu/GameMenuTexts.h"

#include "Race/RaceClock.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"

#include <windows.h>
#include <d3d9.h>

namespace GameMenuOverlay {

TextureRef makeFilledTexture(const wchar_t* name, Color colour)
{
    TextureRef texture;
    if (!Texture::deviceReady() ||
        !Texture::create(texture, String(name), 32, 32, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED))
        return TextureRef();
    const uint8_t bytes[4] = {colour.b, colour.g, colour.r, colour.a};
    Texture::fillRect(texture, -1, -1, -1, -1, bytes, 0, false, true);
    return texture;
}

String upperCase(const String& text)
{
    String out(text);
    const int32_t n = out.length();
    if (n <= 0 || !out.buffer())
        return out;
    // The invariant table: "Grönland" reads "GRÖNLAND" in every locale.
    if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, text.text(), n, out.buffer(), n) != n) {
        for (int32_t i = 0; i < n; ++i) {
            const wchar_t c = out.buffer()[i];
            if ((c >= L'a' && c <= L'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
                out.buffer()[i] = wchar_t(c - 0x20);
        }
    }
    return out;
}

UserInterface::Panel* makeBar(GameMenu& menu)
{
    return new UserInterface::Panel(menu.swapChain(), 0, GameMenu::controlOpacity, GameMenu::controlFadeSpeed);
}

void placeBar(UserInterface::Panel& bar, int32_t x, int32_t y, int32_t w, int32_t h)
{
    bar.x = x;
    bar.y = y;
    bar.textureWidth = float(w);
    bar.textureHeight = float(h);
    bar.shader->alphaBlend = 1;
    bar.enable();
}

UserInterface::Size measure(UserInterface::Text& text)
{
    text.calc();
    return text.getSize();
}

void fitWidth(UserInterface::Text& text, int32_t room, float smallest)
{
    text.scale = 1.0f;
    if (text.wrapWidth != -1 || text.maxLines != -1) {
        text.wrapWidth = -1;
        text.maxLines = -1;
        text.changed = 1;
    }
    const int32_t width = measure(text).width;
    if (room <= 0 || width <= room)
        return;
    const float shrink = float(room) / float(width);
    if (shrink >= smallest) {
        text.scale = shrink;
        return;
    }
    // Laid out at room / smallest and drawn at smallest: room wide.
    text.scale = smallest;
    text.wrapWidth = int32_t(float(room) / smallest);
    text.maxLines = 1;
    text.changed = 1;
    measure(text);
}

void startClosingTransition(GameMenu& menu)
{
    TextureRef black = makeFilledTexture(L"BlackScreen", Color(0, 0, 0, 255));
    if (!menu.disperseScreen)
        menu.disperseScreen = new GameMenu::DisperseScreen(menu, 1, black);
}

}

using namespace GameMenuOverlay;

namespace {

constexpr int32_t textLayer = 1;

bool isPast(uint32_t now, uint32_t deadline)
{
    return int32_t(now - deadline) > 0;
}

GameMenu::Text* makeText(GameMenu& menu, int32_t font, const String& text)
{
    return new GameMenu::Text(textLayer, menu.fonts[font], menu, text, 0, 0, -1);
}

GameMenu::Button* makeLabel(GameMenu& menu, const String& text)
{
    return new GameMenu::Button(textLayer, menu, text, 0, 0, 99, false);
}

// The text centred in a box: x always, y when centreY.
void centre(UserInterface::Text& text, const UserInterface::Panel& box)
{
    const UserInterface::Size size = measure(text);
    text.x = box.x + ((int32_t(box.textureWidth) - size.width) >> 1);
    text.y = box.y + ((int32_t(box.textureHeight) - size.height) >> 1);
}

// The bar's own size from its texture first, as every bar starts.
void giveTexture(UserInterface::Panel* bar, const TextureRef& texture)
{
    if (!bar)
        return;
    bar->setTexture(texture);
    bar->textureWidth = 32.0f;
    bar->textureHeight = 32.0f;
}

}

// Map preview.

GameMenu::MapPreview::MapPreview(GameMenu& owner) : Overlay(owner)
{
    CRASH_TRACE();
    titleBar = makeBar(owner);
    modeBar = makeBar(owner);
    goalBox = makeBar(owner);
    goalText = makeText(owner, 0, String(L""));
    titleText = makeText(owner, 4, String(L""));
    modeText = makeText(owner, 0, String(L""));
    goalLabel = makeLabel(owner, String(L""));

    Game* race = owner.game();
    Game::ChampionshipEntry* entry = race ? race->getChampionshipEntry() : nullptr;
    String title;
    const String map = owner.world ? owner.world->mapName() : String(L"");
    const String country = getCountryName(owner.world ? owner.world->countryCode() : String(L""));
    title.format(L"%s - %s", upperCase(map).text(), upperCase(country).text());
    titleText->setText(title);
    const int32_t mode = race ? race->choice.gameMode : 0;
    modeText->setText(Game::getModeName(mode));
    String goal;
    goal.format(L"%s: %i", Game::getModeGoalText(mode).text(), race ? race->choice.goal : 0);
    goalText->setText(goal);

    TextureRef background = makeFilledTexture(L"HUDBg", barGrey);
    if (race && race->choice.championship) {
        pointsBox = makeBar(owner);
        pointsToQualifyLabel = makeText(owner, 0, GameMenuTexts::lookUp(L"PointsToQualify"));
        pointsLabel = makeText(owner, 0, GameMenuTexts::lookUp(L"Points"));
        neededPointsText = makeText(owner, 0, String(L""));
        currentPointsText = makeText(owner, 0, String(L""));
        minPlaceText = makeLabel(owner, String(L""));
        String value;
        value.format(L"%i", race->getNeededPoints(entry ? entry->raceNumber : 0));
        neededPointsText->setText(value);
        value.format(L"%i", entry ? int32_t(entry->points[0]) : 0);
        currentPointsText->setText(value);
        goalLabel->setText(GameMenuTexts::lookUp(L"MinPlace"));
        // Without a progress record there is no place to show.
        if (entry) {
            const int32_t place = race->getMinPlace();
            if (place == -1)
                value = String(L"-");
            else
                value.format(L"%i.", place);
            minPlaceText->setText(value);
        }
    } else {
        goalLabel->setText(GameMenuTexts::lookUp(L"Start"));
    }
    for (UserInterface::Panel* bar : {titleBar, pointsBox, modeBar, goalBox})
        giveTexture(bar, background);

    update();
    enable();
}

GameMenu::MapPreview::~MapPreview()
{
    for (UserInterface::Widget* widget :
         std::initializer_list<UserInterface::Widget*>{titleBar, modeBar, pointsBox, goalBox, goalText, titleText,
                                                       modeText, pointsToQualifyLabel, pointsLabel, neededPointsText,
                                                       currentPointsText, goalLabel, minPlaceText})
        delete widget;
}

void GameMenu::MapPreview::update()
{
    if (!closing) {
        const uint32_t now = raceNow();
        if (closeDeadline == 0)
            closeDeadline = now + autoClose;
        else if (isPast(now, closeDeadline))
            beginClose();
    }
    layout();
    for (GameMenu::Button* label : {goalLabel, minPlaceText}) {
        if (!label)
            continue;
        if (closing)
            label->animateHighlight();
        else
            label->colour = Color(255, 255, 255, 255);
    }
}

void GameMenu::MapPreview::layout()
{
    D3D::Device::SwapChain* chain = menu->swapChain();
    if (!chain)
        return;
    const int32_t W = int32_t(chain->presentParameters.BackBufferWidth);
    const int32_t H = int32_t(chain->presentParameters.BackBufferHeight);
    const int32_t a = W >> 4;
    const int32_t b = H >> 5;

    placeBar(*titleBar, a, b, 14 * a, 3 * b);
    // A long map or country name shrinks, and past that is cut, to stay
    // inside the bar.
    const int32_t room = 14 * a - 2 * titleMargin;
    if (room != titleRoom) {
        fitWidth(*titleText, room, smallestTitle);
        titleRoom = room;
    }
    centre(*titleText, *titleBar);
    placeBar(*modeBar, titleBar->x, titleBar->y + int32_t(titleBar->textureHeight) + (H >> 6),
             int32_t(titleBar->textureWidth), 2 * b);
    const UserInterface::Size mode = measure(*modeText);
    modeText->x = modeBar->x + 10;
    modeText->y = modeBar->y + ((int32_t(modeBar->textureHeight) - mode.height) >> 1);
    const UserInterface::Size goal = measure(*goalText);
    goalText->x = modeBar->x + int32_t(modeBar->textureWidth) - goal.width - 10;
    goalText->y = modeBar->y + ((int32_t(modeBar->textureHeight) - goal.height) >> 1);

    if (pointsBox) {
        placeBar(*pointsBox, a, H - 5 * b, 10 * a, 4 * b);
        const int32_t boxH = int32_t(pointsBox->textureHeight);
        const int32_t boxRight = pointsBox->x + int32_t(pointsBox->textureWidth);
        const int32_t h = measure(*pointsToQualifyLabel).height;
        pointsToQualifyLabel->x = pointsBox->x + 10;
        pointsToQualifyLabel->y = pointsBox->y + (boxH - h) / 7;
        pointsLabel->x = pointsBox->x + 10;
        pointsLabel->y = pointsBox->y + 6 * (boxH - h) / 7;
        neededPointsText->x = boxRight - measure(*neededPointsText).width - 10;
        neededPointsText->y = pointsToQualifyLabel->y;
        currentPointsText->x = boxRight - measure(*currentPointsText).width - 10;
        currentPointsText->y = pointsLabel->y;
    }

    placeBar(*goalBox, 0, H - 5 * b, 7 * (W >> 5), pointsBox ? 4 * b : 2 * b);
    goalBox->x = W - int32_t(goalBox->textureWidth) - a;
    const int32_t boxW = int32_t(goalBox->textureWidth);
    const int32_t boxH = int32_t(goalBox->textureHeight);
    const UserInterface::Size label = measure(*goalLabel);
    goalLabel->x = goalBox->x + ((boxW - label.width) >> 1);
    goalLabel->y = pointsBox ? goalBox->y + (boxH - label.height) / 7 : goalBox->y + ((boxH - label.height) >> 1);
    if (minPlaceText) {
        const UserInterface::Size place = measure(*minPlaceText);
        minPlaceText->x = goalBox->x + ((boxW - place.width) >> 1);
        minPlaceText->y = goalBox->y + 6 * (boxH - place.height) / 7;
    }
}

void GameMenu::MapPreview::beginClose()
{
    if (closing)
        return;
    closeDeadline = raceNow() + closeHold;
    closing = 1;
    menu->playSound(1);
    startClosingTransition(*menu);
}

bool GameMenu::MapPreview::closeDue(uint32_t now)
{
    return closing && isPast(now, closeDeadline);
}

// Congratulation.

GameMenu::Congratulation::Congratulation(GameMenu& owner) : Overlay(owner)
{
    CRASH_TRACE();
    topBar = makeBar(owner);
    bottomBar = makeBar(owner);
    congratulationText = makeText(owner, 0, GameMenuTexts::lookUp(L"Congratulation"));
    youWonText = makeText(owner, 0, GameMenuTexts::lookUp(L"YouWon"));
    TextureRef background = makeFilledTexture(L"HUDBg", barGrey);
    giveTexture(topBar, background);
    giveTexture(bottomBar, background);
    update();
    enable();
}

GameMenu::Congratulation::~Congratulation()
{
    delete topBar;
    delete bottomBar;
    delete congratulationText;
    delete youWonText;
}

void GameMenu::Congratulation::update()
{
    D3D::Device::SwapChain* chain = menu->swapChain();
    if (!chain)
        return;
    const int32_t W = int32_t(chain->presentParameters.BackBufferWidth);
    const int32_t H = int32_t(chain->presentParameters.BackBufferHeight);
    const int32_t a = W >> 4;
    const int32_t b = H >> 5;
    placeBar(*topBar, a, b, 14 * a, 3 * b);
    centre(*congratulationText, *topBar);
    placeBar(*bottomBar, a, H - 3 * b - b, 14 * a, 3 * b);
    centre(*youWonText, *bottomBar);
}

void GameMenu::Congratulation::beginClose()
{
    if (!menu->world || menu->world->tour(1) != lastTourStage)
        return;
    closeDeadline = raceNow() + closeHold;
    menu->playSound(1);
    startClosingTransition(*menu);
}

bool GameMenu::Congratulation::closeDue(uint32_t now)
{
    return closeDeadline != 0 && isPast(now, closeDeadline);
}
