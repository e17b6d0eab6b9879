#include "Menu/GameMenuPoints.h"

#include "Menu/GameMenuOverlays.h"
#include "Menu/GameMenuTexts.h"

#include "Race/GameVehicle.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"

#include <algorithm>
#include <initializer_list>

using GameMenuOverlay::measure;

namespace {

constexpr Color lightGrey{230, 230, 230, 0};
constexpr int32_t pointsFont = 3;

String formatNumber(const wchar_t* format, int32_t value)
{
    String out;
    out.format(format, value);
    return out;
}

void setAlpha(UserInterface::Widget* widget, float opacity)
{
    if (widget)
        widget->colour.a = uint8_t(std::clamp(opacity, 0.0f, 1.0f) * 255.0f);
}

int32_t backBufferWidth(GameMenu& menu)
{
    const D3D::Device::SwapChain* chain = menu.swapChain();
    return chain ? int32_t(chain->presentParameters.BackBufferWidth) : 0;
}

int32_t backBufferHeight(GameMenu& menu)
{
    const D3D::Device::SwapChain* chain = menu.swapChain();
    return chain ? int32_t(chain->presentParameters.BackBufferHeight) : 0;
}

// A screen's blurred background: the panel over the back buffer in grey,
// fading in from nothing, unblended.
void showBackground(GameMenu& menu, UserInterface::Panel& panel)
{
    menu.renderSmoothBackground(panel, true);
    panel.textureWidth = float(backBufferWidth(menu));
    panel.textureHeight = float(backBufferHeight(menu));
    panel.colour = Color(127, 127, 127, 0);
    panel.shader->alphaBlend = 0;
    panel.fadeIn();
}

}

// Points.

GameMenu::Points::Row::Row(Points& screen, const String& driver, Color driverColour, bool player, int32_t rowSlot,
                           int32_t rowOrder, int32_t rowPoints)
    : owner(&screen), color(driverColour), isPlayer(player ? 1 : 0), slot(rowSlot), order(rowOrder),
      points(rowPoints)
{
    GameMenu& menu = *screen.menu;
    rank = new GameMenu::Text(11, menu.fonts[pointsFont], menu, String(L""), 0, 0, -1);
    name = new GameMenu::Text(11, menu.fonts[pointsFont], menu, driver, 0, 0, -1);
    pointsText = new GameMenu::Text(11, menu.fonts[pointsFont], menu, formatNumber(L"%i", points), 0, 0, -1);
}

GameMenu::Points::Row::~Row()
{
    delete rank;
    delete name;
    delete pointsText;
}

GameMenu::Points::Points(GameMenu& owner) : Screen(owner, 10, 1.0f, 0.02f)
{
    CRASH_TRACE();
    for (int32_t i = 0; i < vertexCount / 6; ++i)
        GameMenuBars::rectangle(boxVertices + 6 * i, 0.0f, 0.0f, 0.0f, 0.0f);
    Game* race = owner.game();
    if (!race || !race->choice.championship)
        return;
    const Game::ChampionshipEntry* entry = race->getChampionshipEntry();
    neededPoints = race->getNeededPoints(entry ? entry->raceNumber : 0);
    // Every row shows its own slot's points, so without a record there are none.
    if (!entry)
        return;
    const auto add = [this, entry](const String& driver, Color colour, bool player, int32_t slot) {
        if (rowCount < maxRows && slot >= 0 && slot < int32_t(sizeof(entry->points)))
            rows[rowCount] = new Row(*this, driver, colour, player, slot, rowCount, entry->points[slot]), ++rowCount;
    };
    if (race->choice.gameMode == Game::TimeTrial) {
        if (Game::Vehicle* player = race->getPlayerVehicle())
            add(player->name, player->color, true, 0);
        // Every opponent slot the results paid.
        const int32_t opponents = std::min<int32_t>(int32_t(race->targetTimeCount), maxRows - 1);
        for (int32_t slot = 1; slot <= opponents; ++slot)
            add(Game::getOpponentName(slot), Game::getPlayerColor(Game::getPlayerNumber(slot) - 1), false, slot);
    } else {
        int32_t slot = 0;
        for (SCList<Game::Vehicle>::Node* n = race->vehicles.head(); n && rowCount < maxRows; n = n->next, ++slot)
            if (n->item)
                add(n->item->name, n->item->color, n->item->isPlayer != 0, slot);
    }
    std::stable_sort(rows, rows + rowCount, [](const Row* a, const Row* b) {
        return a->points != b->points ? a->points > b->points : a->order < b->order;
    });
    for (int32_t k = 0; k < rowCount; ++k) {
        rows[k]->order = k;
        rows[k]->rank->setText(formatNumber(L"%i.", k + 1));
    }
    notQualifiedFlag = entry->points[0] < neededPoints ? 1 : 0;
}

GameMenu::Points::~Points()
{
    deleteWidgets();
}

void GameMenu::Points::deleteWidgets()
{
    delete titleText;
    delete rankHeader;
    delete playerHeader;
    delete pointsHeader;
    delete neededLabel;
    delete neededValue;
    titleText = rankHeader = playerHeader = pointsHeader = nullptr;
    neededLabel = neededValue = nullptr;
    for (int32_t k = 0; k < rowCount; ++k)
        delete rows[k];
    rowCount = 0;
}

void GameMenu::Points::enter(int32_t)
{
    if (titleText || done)
        return;
    CRASH_TRACE();
    GameMenu& owner = *menu;
    showBackground(owner, *this);
    const auto text = [&](int32_t font, const wchar_t* key, int32_t y) {
        auto* widget = new GameMenu::Text(11, owner.fonts[font], owner, GameMenuTexts::lookUp(key), 0, y, -1);
        widget->colour = lightGrey;
        return widget;
    };
    titleText = text(titleFont, L"Points", owner.titleY);
    rankHeader = text(pointsFont, L"Rank", owner.titleY + 100);
    playerHeader = text(pointsFont, L"Player", owner.titleY + 100);
    pointsHeader = text(pointsFont, L"Points", owner.titleY + 100);
    neededLabel = new GameMenu::Button(11, owner, GameMenuTexts::lookUp(L"NeededPoints") + L":", 0, 0, 99, false);
    neededValue = new GameMenu::Button(11, owner, formatNumber(L"%i", neededPoints), 0, 0, 99, false);
    neededLabel->colour = neededValue->colour = lightGrey;
    update();
}

void GameMenu::Points::close()
{
    deleteWidgets();
    done = 1;
}

void GameMenu::Points::update()
{
    if (!titleText)
        return;
    const int32_t W = backBufferWidth(*menu);
    const float e = GameMenuBars::ease(opacity);
    const auto slide = [W, e](int32_t x) { return int32_t((1.0f - e) * float(x + W) + e * float(x)); };
    titleText->x = slide((W - measure(*titleText).width) >> 1);
    rankColumn = (W - measure(*rankHeader).width) / 8;
    nameColumn = (W - measure(*playerHeader).width) >> 1;
    pointsColumn = ((W - measure(*pointsHeader).width) / 8) * 7;
    rankHeader->x = slide(rankColumn);
    playerHeader->x = slide(nameColumn);
    pointsHeader->x = slide(pointsColumn);
    for (GameMenu::Text* widget : {titleText, rankHeader, playerHeader, pointsHeader})
        setAlpha(widget, opacity);
    neededLabel->y = neededValue->y = rowCount * rowHeight + 40 + rankHeader->y;
    neededLabel->x = rankHeader->x;
    neededValue->x = pointsHeader->x;
    for (GameMenu::Button* button : {neededLabel, neededValue}) {
        button->setHighlight(notQualifiedFlag != 0);
        setAlpha(button, opacity);
    }
    menu->renderSmoothBackground(*this, backgroundRefresh != 0);
    backgroundRefresh = 0;
}

uint32_t GameMenu::Points::layoutRows()
{
    if (!titleText)
        return 0;
    const int32_t W = backBufferWidth(*menu);
    const float e = GameMenuBars::ease(opacity);
    const int32_t rankHeight = measure(*rankHeader).height;
    const int32_t pointsWidth = measure(*pointsHeader).width;
    uint32_t boxes = 0;
    const auto box = [this, &boxes](int32_t left, int32_t top, int32_t right, int32_t bottom) {
        if (boxes < uint32_t(vertexCount / 6))
            GameMenuBars::rectangle(boxVertices + 6 * boxes++, float(left), float(top), float(right), float(bottom));
    };
    const UserInterface::Size title = measure(*titleText);
    box(titleText->x - 10, titleText->y, titleText->x + title.width + 10, titleText->y + title.height);
    box(rankHeader->x - 10, rankHeader->y, pointsHeader->x + pointsWidth + 10, rankHeader->y + rankHeight);
    int32_t left = rankHeader->x - 10;
    int32_t right = pointsHeader->x + pointsWidth + 10;
    for (int32_t k = 0; k < rowCount; ++k) {
        Row& row = *rows[k];
        row.offset = int32_t(float(k % 2 ? W : -W) * (1.0f - e));
        const int32_t y = rowHeight * k + 50 + rankHeader->y;
        row.rank->x = rankColumn + row.offset;
        row.name->x = nameColumn + row.offset;
        row.pointsText->x = pointsColumn + row.offset;
        row.rank->y = row.name->y = row.pointsText->y = y;
        if (row.isPlayer)
            for (GameMenu::Text* text : {row.rank, row.name, row.pointsText})
                text->animateHighlight();
        left = row.rank->x - 10;
        right = row.pointsText->x + pointsWidth + 10;
        box(left, y - 10, right, y + rankHeight + 10);
    }
    box(left, neededLabel->y, right, neededLabel->y + measure(*neededLabel).height);
    return boxes;
}

void GameMenu::Points::draw()
{
    Panel::draw();
    const uint32_t boxes = layoutRows();
    if (!titleText || !gDevice)
        return;
    GameMenuBars::drawBars(boxVertices, boxes);
    const float side = float(measure(*rankHeader).height);
    for (int32_t k = 0; k < rowCount; ++k)
        GameMenuBars::drawSquare(float(nameColumn + rows[k]->offset) - side - 8.0f, float(rows[k]->rank->y), side,
                                 rows[k]->color);
}

// Game over.

GameMenu::GameOver::GameOver(GameMenu& owner) : Screen(owner, 15, 1.0f, 0.1f)
{
}

GameMenu::GameOver::~GameOver()
{
    deleteWidgets();
}

void GameMenu::GameOver::deleteWidgets()
{
    for (UserInterface::Widget* widget : std::initializer_list<UserInterface::Widget*>{
             titleText, neededLabel, neededValue, pointsLabel, pointsValue, restartButton, endButton})
        delete widget;
    titleText = neededLabel = neededValue = pointsLabel = pointsValue = nullptr;
    restartButton = endButton = nullptr;
}

void GameMenu::GameOver::enter(int32_t)
{
    if (titleText || done)
        return;
    CRASH_TRACE();
    GameMenu& owner = *menu;
    Game* race = owner.game();
    const Game::ChampionshipEntry* entry = race ? race->getChampionshipEntry() : nullptr;
    showBackground(owner, *this);
    titleText = new GameMenu::Text(15, owner.fonts[titleFont], owner, GameMenuTexts::lookUp(L"GameOver"), 0, 0, -1);
    titleText->colour = Color(140, 5, 5, 255);
    titleText->scale = 2.5f;
    const auto text = [&](const String& value) {
        return new GameMenu::Text(15, owner.fonts[pointsFont], owner, value, 0, 0, -1);
    };
    neededLabel = text(GameMenuTexts::lookUp(L"NeededPoints"));
    neededValue = text(formatNumber(L"%i", race ? race->getNeededPoints(entry ? entry->raceNumber : 0) : 0));
    pointsLabel = text(GameMenuTexts::lookUp(L"Points"));
    pointsValue = text(formatNumber(L"%i", entry ? int32_t(entry->points[0]) : 0));
    restartButton =
        new GameMenu::Button(15, owner, GameMenuTexts::lookUp(L"RestartChampionship"), 0, 0, restartId, false);
    endButton = new GameMenu::Button(15, owner, GameMenuTexts::lookUp(L"End"), 0, 0, endId, false);
    for (UserInterface::Widget* widget : std::initializer_list<UserInterface::Widget*>{
             titleText, neededLabel, neededValue, pointsLabel, pointsValue, restartButton, endButton})
        widget->colour.a = 0;
}

int32_t GameMenu::GameOver::nextScreen()
{
    return selection == restartId ? championshipRestartState : mainState;
}

void GameMenu::GameOver::close()
{
    menu->releaseSmoothing();
    deleteWidgets();
    done = 1;
}

void GameMenu::GameOver::onKeyUp()
{
    if (selection != endId)
        return;
    selection = restartId;
    menu->playSound(1);
}

void GameMenu::GameOver::onKeyDown()
{
    if (selection != restartId)
        return;
    selection = endId;
    menu->playSound(1);
}

void GameMenu::GameOver::onKeyConfirm()
{
    close();
    menu->playSound(1);
}

void GameMenu::GameOver::update()
{
    if (!titleText)
        return;
    const int32_t W = backBufferWidth(*menu);
    const int32_t h = backBufferHeight(*menu) >> 4;
    const auto width = [](UserInterface::Text* text) { return measure(*text).width; };
    // A scaled text grows about its box's centre.
    titleText->x = (W - width(titleText)) >> 1;
    titleText->y = 2 * h;
    neededLabel->x = ((W - width(neededLabel)) >> 4) * 7;
    neededLabel->y = 6 * h;
    neededValue->x = ((W - width(neededValue)) >> 4) * 10;
    neededValue->y = 6 * h;
    pointsLabel->x = neededLabel->x;
    pointsLabel->y = 7 * h;
    pointsValue->x = neededValue->x;
    pointsValue->y = 7 * h;
    restartButton->x = (W - width(restartButton)) >> 1;
    restartButton->y = 10 * h;
    endButton->x = (W - width(endButton)) >> 1;
    endButton->y = 11 * h;
    menu->renderSmoothBackground(*this, backgroundRefresh != 0);
    backgroundRefresh = 0;
    for (GameMenu::Button* button : {restartButton, endButton}) {
        const uint8_t alpha = button->colour.a;
        if (button->id == selection)
            button->animateHighlight();
        else
            button->colour = Color(255, 255, 255, 255);
        button->colour.a = alpha;
    }
}

void GameMenu::GameOver::draw()
{
    Panel::draw();
    if (!titleText)
        return;
    for (UserInterface::Widget* widget : std::initializer_list<UserInterface::Widget*>{
             titleText, neededLabel, neededValue, pointsLabel, pointsValue, restartButton, endButton})
        setAlpha(widget, opacity);
}
