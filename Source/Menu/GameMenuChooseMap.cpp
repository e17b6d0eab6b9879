#include "Menu/GameMenuChooseMap.h"

#include "Menu/GameMenuButton.h"
#include "Menu/GameMenuText.h"

#include "Landscape/Scene.h"
#include "Race/GameMapInfo.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"
#include "Core/Directory.h"
#include "Core/Language.h"
#include "Core/Timer.h"

#include <algorithm>
#include <cmath>
#include <cwctype>
#include <new>

namespace {

constexpr float pi = 3.14159265f;

String text(const wchar_t* key)
{
    return gLanguage ? gLanguage->getText(nullptr, String::borrowed(key)) : String(L"");
}

const wchar_t* daytimeKey(int32_t id)
{
    return id == GameMenu::ChooseMap::sunrise ? L"Sunrise" : id == GameMenu::ChooseMap::sunset ? L"Sunset" : L"Day";
}

const Color green(0, 255, 0, 255);
const Color white(255, 255, 255, 255);

void screenSize(GameMenu& menu, int32_t& width, int32_t& height)
{
    D3D::Device::SwapChain* chain = menu.swapChain();
    width = chain ? int32_t(chain->presentParameters.BackBufferWidth) : 1024;
    height = chain ? int32_t(chain->presentParameters.BackBufferHeight) : 768;
}

}

bool isLevelFile(const String& fileName)
{
    const wchar_t* name = fileName.text();
    const wchar_t* dot = name ? std::wcsrchr(name, L'.') : nullptr;
    if (!dot)
        return false;
    const wchar_t tee[] = L"tee";
    for (int i = 0; i < 4; ++i)
        if (wchar_t(std::towlower(dot[1 + i])) != tee[i])
            return false;
    return true;
}

GameMenu::ChooseMap::ChooseMap(GameMenu& owner) : Screen(owner)
{
}

GameMenu::ChooseMap::~ChooseMap()
{
    if (title)
        close();
    deleteTiles();
}

void GameMenu::ChooseMap::deleteTiles()
{
    for (SCList<Map>& list : lists)
        list.deleteAll();
}

void GameMenu::ChooseMap::buildMapList()
{
    CRASH_TRACE();
    deleteTiles();
    const String folder = menu->callbacks ? menu->callbacks->getMapFolder() : String(L"Data\\Map\\");
    Directory listing(folder, false);
    listing.list();
    for (auto* node = listing.files.head(); node; node = node->next) {
        if (!isLevelFile(node->item->name))
            continue;
        Map* tile = new (std::nothrow) Map(*this, folder + node->item->name);
        if (!tile)
            continue;
        if (tile->mapKind >= 1 && tile->mapKind <= 3)
            lists[tile->mapKind - 1].append(tile);
        else
            delete tile;
    }
}

void GameMenu::ChooseMap::enter(int32_t)
{
    CRASH_TRACE();
    if (title)
        return;
    buildMapList();
    menu->showLogo();
    if (menu->logoPanel)
        menu->logoPanel->enable();
    title = new (std::nothrow)
        GameMenu::Text(10, menu->fonts[titleFont], *menu, text(L"ChooseMap"), menu->titleX, menu->titleY, -1);
    const wchar_t* tabKeys[3] = {L"OffRoad", L"RaceTrack", L"Rally"};
    for (int i = 0; i < 3; ++i) {
        tabs[i] = new (std::nothrow) Button(10, *menu, text(tabKeys[i]), 100, 0, offRoad + i, false);
        if (tabs[i] && tabs[i]->id == kind)
            tabs[i]->colour = green;
    }
    // The control names the daytime kept from the last visit.
    daytimeControl = new (std::nothrow) ButtonPrevNext(0, *menu, text(daytimeKey(daytime)), 100, 300, 12, 10);
    daytimeLabel = new (std::nothrow) GameMenu::Text(5, menu->fonts[buttonFont], *menu, text(L"Daytime"), 100, 0, -1);
    if (daytimeLabel)
        daytimeLabel->colour = Color(150, 150, 150, 255);
    focus = 0;
    // A visit that went back to the main screen leads on again.
    backFlag = 0;
    layout(true);
    if (menu->callbacks)
        menu->callbacks->setCursorShown(true);
}

void GameMenu::ChooseMap::layout(bool snap)
{
    if (!title)
        return;
    int32_t width = 0;
    int32_t height = 0;
    screenSize(*menu, width, height);
    const int32_t originX = (width - tileWidth) / 2 + 100;
    const int32_t originY = (height - tileHeight) / 2 - 50;
    const int32_t t = std::max((height - 150) / 2 - 100, 200);
    for (int i = 0; i < 3; ++i)
        if (tabs[i])
            tabs[i]->y = t + 50 * (i + 1);
    if (daytimeControl)
        daytimeControl->place(height - 100);
    if (daytimeLabel)
        daytimeLabel->y = height - 150;
    const int32_t k0 = listOf(kind);
    const int32_t titleBottom = title->y + title->getSize().height;
    for (int32_t k = 0; k < 3; ++k) {
        int32_t i = 0;
        for (auto* node = lists[k].head(); node; node = node->next, ++i)
            node->item->place(originX, originY, i - selected[k], k - k0, snap, titleBottom);
    }
    if (focus == 0) {
        for (Button* tab : tabs)
            if (tab && tab->highlightable)
                tab->setHighlight(tab->id == kind);
    } else if (daytimeControl) {
        daytimeControl->animateHighlight();
    }
}

bool GameMenu::ChooseMap::moveSelection(int32_t step)
{
    const int32_t k = listOf(kind);
    const int32_t last = std::max(lists[k].count() - 1, 0);
    int32_t& index = selected[k];
    const int32_t next = index + step;
    if (next < 0) {
        index = 0;
        return false;
    }
    if (next > last) {
        index = last;
        return false;
    }
    index = next;
    return true;
}

void GameMenu::ChooseMap::onSide(int32_t step)
{
    if (focus == 0) {
        if (moveSelection(step))
            menu->playSound(0);
        return;
    }
    const int32_t next = daytime + step;
    if (next < day || next > sunset)
        return;
    daytime = next;
    if (daytimeControl)
        daytimeControl->setText(text(daytimeKey(daytime)));
    menu->playSound(0);
}

void GameMenu::ChooseMap::onKeyUp()
{
    if (focus != 0 || kind == offRoad)
        return;
    --kind;
    menu->playSound(0);
}

void GameMenu::ChooseMap::onKeyDown()
{
    if (focus != 0 || kind == rally)
        return;
    ++kind;
    menu->playSound(0);
}

void GameMenu::ChooseMap::onKeyConfirm()
{
    if (focus == 0) {
        focus = 1;
        for (Button* tab : tabs)
            if (tab && tab->id == kind)
                tab->colour = green;
    } else {
        close();
    }
    menu->playSound(1);
}

void GameMenu::ChooseMap::onKeyBack()
{
    if (focus == 1) {
        focus = 0;
        if (daytimeControl)
            daytimeControl->colour = white;
    } else {
        backFlag = 1;
        close();
    }
    menu->playSound(2);
}

void GameMenu::ChooseMap::close()
{
    const int32_t k = listOf(kind);
    int32_t i = 0;
    for (auto* node = lists[k].head(); node; node = node->next, ++i)
        if (i == selected[k])
            selectedMapName = node->item->path;
    delete title;
    title = nullptr;
    for (Button*& tab : tabs) {
        delete tab;
        tab = nullptr;
    }
    delete daytimeControl;
    daytimeControl = nullptr;
    delete daytimeLabel;
    daytimeLabel = nullptr;
    deleteTiles();
    done = 1;
}

void GameMenu::ChooseMap::readSelection(Selection& out)
{
    out.mapName = selectedMapName;
    out.trackKind = kind;
    out.daytime = daytime;
}

GameMenu::ChooseMap::Map::Map(ChooseMap& owner, const String& levelPath)
    : Panel(owner.menu->swapChain(), 0, controlOpacity, controlFadeSpeed), screen(&owner), path(levelPath)
{
    if (Scene* scene = owner.menu->scene) {
        Game::MapInfo head;
        head.load(*scene, path);
        name = head.name;
        mapKind = head.mapKind;
        preview = head.preview;
    }
    setTexture(preview);
    nameText = new (std::nothrow) UserInterface::Text(owner.menu->swapChain(), owner.menu->fonts[3], 1, -1, -1,
                                                      controlOpacity, controlFadeSpeed);
    if (nameText) {
        nameText->setText(name);
        nameText->enabled = 1;
    }
    enabled = 1;
}

GameMenu::ChooseMap::Map::~Map()
{
    delete nameText;
}

GameMenu::ChooseMap::Map::Placement GameMenu::ChooseMap::Map::placement(int32_t originX, int32_t originY, float px,
                                                                         float py, int32_t column, int32_t row)
{
    Placement out{};
    const float ax = px * pi / 5.0f;
    const float ay = py * pi / 5.0f;
    out.scale = std::cos(ay / 2.0f) * std::cos(ax / 2.0f);
    out.width = int32_t(float(tileWidth) * out.scale);
    out.height = int32_t(float(out.width) / (5.0f / 3.0f));
    out.x = originX + int32_t(std::sin(ax) * float(tileWidth + 30));
    out.y = originY + int32_t(std::sin(py * pi / 10.0f) * float(tileHeight) * 4.0f) + (tileHeight - out.height) / 2;
    const float d = float(std::abs(column) + std::abs(row));
    out.brightness = std::clamp(1.0f - std::pow(d * 0.2f, 0.25f), 0.0f, 1.0f);
    return out;
}

void GameMenu::ChooseMap::Map::place(int32_t originX, int32_t originY, int32_t column, int32_t row, bool snap,
                                     int32_t top)
{
    const int32_t d = std::abs(column);
    if (snap) {
        px = float(column);
        py = float(row);
    }
    const float f = gFrameFactor.load();
    px += f * (float(column) - px) * 0.1f;
    py += f * (float(row) - py) * 0.1f;
    const Placement p = placement(originX, originY, px, py, column, row);
    // The kinds' rows above the chosen one would slide under the title.
    const bool shown = d < 3 && p.y >= top;
    enabled = shown ? 1 : 0;
    if (nameText)
        nameText->enabled = enabled;
    x = p.x;
    y = p.y;
    textureWidth = float(p.width);
    textureHeight = float(p.height);
    const uint8_t grey = uint8_t(p.brightness * 255.0f);
    colour = Color(grey, grey, grey, 255);
    const int32_t tileLayer = (2 - std::min(d, 2)) * 2;
    if (layer != tileLayer)
        addChild(tileLayer);
    if (nameText) {
        nameText->colour = colour;
        nameText->scale = p.scale;
        if (nameText->layer != tileLayer + 1)
            nameText->addChild(tileLayer + 1);
        const UserInterface::Size size = nameText->getSize();
        nameText->x = p.x - int32_t(p.scale * -10.0f);
        nameText->y = p.y + p.height + int32_t(p.scale * -3.0f) - size.height;
    }
}
