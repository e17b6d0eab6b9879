#include "Menu/GameMenuRaceResults.h"

#include "Menu/GameMenuOverlays.h"
#include "Menu/GameMenuTexts.h"

#include "Application/Globals.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"
#include "Core/ResourceManager.h"

#include <d3d9.h>
#include <d3dx9.h>

#include <algorithm>
#include <new>

using GameMenuOverlay::measure;

namespace GameMenuBars {

void rectangle(Vertex* out, float left, float top, float right, float bottom)
{
    const Vertex corners[6] = {{left, top, 0.0f, 1.0f},  {right, top, 0.0f, 1.0f},    {left, bottom, 0.0f, 1.0f},
                               {left, bottom, 0.0f, 1.0f}, {right, top, 0.0f, 1.0f}, {right, bottom, 0.0f, 1.0f}};
    std::copy(corners, corners + 6, out);
}

namespace {

void factorStage(uint32_t colour)
{
    IDirect3DDevice9* d = gDevice;
    d->SetTexture(0, nullptr);
    d->SetFVF(D3DFVF_XYZRHW);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, colour);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
}

void restoreStage()
{
    IDirect3DDevice9* d = gDevice;
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
}

}

void drawBars(const Vertex* vertices, uint32_t rectangles)
{
    IDirect3DDevice9* d = gDevice;
    if (!d || rectangles == 0)
        return;
    factorStage(barColour);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2 * rectangles, vertices, sizeof(Vertex));
    restoreStage();
}

void drawSquare(float left, float top, float side, Color colour)
{
    IDirect3DDevice9* d = gDevice;
    if (!d)
        return;
    const float l = left - 0.001f, t = top - 0.001f, r = left + side - 0.001f, b = top + side - 0.001f;
    const Vertex strip[4] = {{l, t, 0.0f, 1.0f}, {r, t, 0.0f, 1.0f}, {l, b, 0.0f, 1.0f}, {r, b, 0.0f, 1.0f}};
    factorStage(colour.argb());
    d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, strip, sizeof(Vertex));
    restoreStage();
}

float ease(float fade)
{
    const float t = fade - 1.0f;
    return 2.70158f * t * t * t + 1.70158f * t * t + 1.0f;
}

}

namespace {

constexpr int32_t rowLayer = 11;
constexpr Color headerGrey{230, 230, 230, 0};
constexpr int32_t rowFont = 3;

GameMenu::Text* rowText(GameMenu& menu)
{
    return new GameMenu::Text(rowLayer, menu.fonts[rowFont], menu, String(L""), 0, 0, -1);
}

String formatNumber(const wchar_t* format, int32_t value)
{
    String out;
    out.format(format, value);
    return out;
}

// The championship points of a row: a driver who gave the race up earns
// none, whatever row the ranking leaves it.
int32_t pointsFor(int32_t place, bool gaveUp) { return gaveUp ? 0 : Game::getPointsForPlace(place); }

bool gaveUp(const Game::Vehicle& vehicle) { return vehicle.finishOrder == Game::Vehicle::gaveUp; }

bool isTimeMode(int32_t mode)
{
    return mode == Game::OffRoadRace || mode == Game::KnockOut || mode == Game::Circuit;
}

// The eliminated mark from the program's resources, with its mip chain;
// unbound when the resource is missing or holds no image.
TextureRef loadEliminatedMark()
{
    TextureRef texture;
    if (!gResourceManager || !Texture::deviceReady())
        return texture;
    ResourceManager::Entry& entry = gResourceManager->find(String::borrowed(L"HUDEliminated"));
    if (entry.type != 0 || entry.data.size() == 0)
        return texture;
    entry.data.seek(0, 0);
    if (!Texture::loadFromMemory(entry.data, nullptr, texture, String(L"HUDEliminated"), D3DX_DEFAULT_NONPOW2,
                                 D3DX_DEFAULT_NONPOW2, D3DX_DEFAULT, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_DEFAULT))
        texture.release();
    return texture;
}

void setAlpha(UserInterface::Widget* widget, float opacity)
{
    if (widget)
        widget->colour.a = uint8_t(std::clamp(opacity, 0.0f, 1.0f) * 255.0f);
}

}

// Rows.

GameMenu::RaceResults::StandingRow::StandingRow(RaceResults& screen, Game::Vehicle* raceVehicle, int32_t rowSlot)
    : owner(&screen), vehicle(raceVehicle), slot(rowSlot), place(rowSlot)
{
    GameMenu& menu = *screen.menu;
    rank = rowText(menu);
    name = rowText(menu);
    value = rowText(menu);
    icon = new UserInterface::Panel(menu.swapChain(), rowLayer, controlOpacity, controlFadeSpeed);
    if (screen.eliminatedTexture.isBound()) {
        icon->setTexture(screen.eliminatedTexture);
        icon->readTextureSize();
    }
}

GameMenu::RaceResults::StandingRow::~StandingRow()
{
    delete rank;
    delete name;
    delete value;
    delete icon;
}

GameMenu::RaceResults::RecordRow::RecordRow(RaceResults& screen, const RaceRecords::Entry* record, int32_t rowIndex,
                                            bool isCurrent)
    : owner(&screen), entry(record), index(rowIndex), current(isCurrent ? 1 : 0)
{
    GameMenu& menu = *screen.menu;
    rank = rowText(menu);
    name = rowText(menu);
    date = rowText(menu);
    time = rowText(menu);
    rank->setText(current ? String(L"-") : formatNumber(L"%i.", index + 1));
    name->setText(entry->name);
    String day;
    day.format(L"%02i.%02i.%04i", int32_t(entry->date.day), int32_t(entry->date.month), int32_t(entry->date.year));
    date->setText(day);
    time->setText(Game::formatRaceTime(entry->time));
}

GameMenu::RaceResults::RecordRow::~RecordRow()
{
    delete rank;
    delete name;
    delete date;
    delete time;
}

GameMenu::RaceResults::TimeTrialRow::TimeTrialRow(RaceResults& screen, const String& driver, Color rowColour,
                                                  bool player, int32_t rowSlot, const RaceTime& raceTime)
    : owner(&screen), colour(rowColour), isPlayer(player ? 1 : 0), slot(rowSlot),
      sortKey(uint32_t(Game::raceTimeKey(raceTime))), name(driver)
{
    GameMenu& menu = *screen.menu;
    rank = rowText(menu);
    nameText = rowText(menu);
    time = rowText(menu);
    points = rowText(menu);
    nameText->setText(name);
    time->setText(Game::formatRaceTime(raceTime));
}

GameMenu::RaceResults::TimeTrialRow::~TimeTrialRow()
{
    delete rank;
    delete nameText;
    delete time;
    delete points;
}

// The screen.

GameMenu::RaceResults::RaceResults(GameMenu& owner) : Screen(owner, 10, 1.0f, 0.02f)
{
    CRASH_TRACE();
    for (int32_t i = 0; i < vertexCount / 6; ++i)
        GameMenuBars::rectangle(barVertices + 6 * i, 0.0f, 0.0f, 0.0f, 0.0f);
    Game* race = owner.game();
    if (!race)
        return;
    mode = race->choice.gameMode;
    championship = race->choice.championship ? 1 : 0;
    if (mode >= Game::OffRoadRace && mode <= Game::Circuit) {
        eliminatedTexture = loadEliminatedMark();
        for (SCList<Game::Vehicle>::Node* n = race->vehicles.head(); n && standingCount < maxStandings; n = n->next) {
            if (!n->item)
                continue;
            auto* row = new (std::nothrow) StandingRow(*this, n->item, standingCount);
            if (!row)
                continue;
            standings[standingCount++] = row;
            sortStandings();
        }
    } else if (mode == Game::TimeTrial && !championship) {
        const RaceRecords& list = race->records;
        const int32_t listed = std::min<int32_t>(int32_t(list.lapCount), maxRecords - 1);
        for (int32_t i = 0; i < listed && i < RaceRecords::slotCount; ++i)
            if (list.laps[i])
                records[recordCount++] = new RecordRow(*this, list.laps[i].get(), i, false);
        for (const auto& entry : list.laps)
            if (entry && entry->isNew) {
                records[recordCount] = new RecordRow(*this, entry.get(), recordCount, true);
                ++recordCount;
                break;
            }
    } else if (mode == Game::TimeTrial) {
        if (Game::Vehicle* player = race->getPlayerVehicle()) {
            timeTrials[timeTrialCount] = new TimeTrialRow(*this, player->name, player->color, true, 0,
                                                          player->raceTime);
            timeTrials[timeTrialCount++]->gaveUp = gaveUp(*player) ? 1 : 0;
        }
        const int32_t opponents = std::min<int32_t>(int32_t(race->targetTimeCount), maxTimeTrials - 1);
        for (int32_t i = 1; i <= opponents; ++i)
            timeTrials[timeTrialCount++] = new TimeTrialRow(*this, Game::getOpponentName(i),
                                                            Game::getPlayerColor(i > 7 ? 0 : i), false, i,
                                                            race->targetTimes[i - 1]);
        std::stable_sort(timeTrials, timeTrials + timeTrialCount,
                         [](const TimeTrialRow* a, const TimeTrialRow* b) { return compareTimeTrial(*a, *b); });
        for (int32_t k = 0; k < timeTrialCount; ++k)
            fillTimeTrial(*timeTrials[k], k);
    }
}

GameMenu::RaceResults::~RaceResults()
{
    deleteAll();
}

void GameMenu::RaceResults::deleteAll()
{
    delete titleText;
    delete rankHeader;
    delete dateHeader;
    delete playerHeader;
    delete timeHeader;
    delete valueHeader;
    delete minPlaceButton;
    titleText = rankHeader = dateHeader = playerHeader = timeHeader = valueHeader = nullptr;
    minPlaceButton = nullptr;
    for (int32_t i = 0; i < standingCount; ++i)
        delete standings[i];
    for (int32_t i = 0; i < recordCount; ++i)
        delete records[i];
    for (int32_t i = 0; i < timeTrialCount; ++i)
        delete timeTrials[i];
    standingCount = recordCount = timeTrialCount = 0;
}

int32_t GameMenu::RaceResults::screenWidth() const
{
    const D3D::Device::SwapChain* chain = menu->swapChain();
    return chain ? int32_t(chain->presentParameters.BackBufferWidth) : 0;
}

bool GameMenu::RaceResults::compareTimeTrial(const TimeTrialRow& a, const TimeTrialRow& b)
{
    return a.sortKey != b.sortKey ? a.sortKey < b.sortKey : a.slot < b.slot;
}

void GameMenu::RaceResults::sortStandings()
{
    std::sort(standings, standings + standingCount, [](const StandingRow* a, const StandingRow* b) {
        return a->vehicle->place != b->vehicle->place ? a->vehicle->place < b->vehicle->place : a->place < b->place;
    });
    for (int32_t k = 0; k < standingCount; ++k)
        fillStanding(*standings[k], k);
}

void GameMenu::RaceResults::fillStanding(StandingRow& row, int32_t place)
{
    row.place = place;
    row.rank->setText(formatNumber(L"%i.", place + 1));
    row.name->setText(row.vehicle->name);
    if (championship)
        row.value->setText(formatNumber(L"%i", pointsFor(place, gaveUp(*row.vehicle))));
    else if (mode == Game::CaptureTheFlag || mode == Game::Jamboree)
        row.value->setText(formatNumber(L"%i", row.vehicle->points));
    if (isTimeMode(mode)) {
        const bool eliminated = row.vehicle->knockedOut != 0;
        row.icon->enabled = eliminated && row.icon->shader->textures[0].isBound() ? 1 : 0;
    }
}

void GameMenu::RaceResults::fillTimeTrial(TimeTrialRow& row, int32_t place)
{
    row.place = place;
    row.rank->setText(formatNumber(L"%i.", place + 1));
    row.points->setText(formatNumber(L"%i", pointsFor(place, row.gaveUp != 0)));
}

void GameMenu::RaceResults::enter(int32_t)
{
    if (titleText || done)
        return;
    CRASH_TRACE();
    GameMenu& owner = *menu;
    D3D::Device::SwapChain* chain = owner.swapChain();
    owner.renderSmoothBackground(*this, true);
    if (chain) {
        textureWidth = float(chain->presentParameters.BackBufferWidth);
        textureHeight = float(chain->presentParameters.BackBufferHeight);
    }
    colour = Color(127, 127, 127, 0);
    fadeIn();

    Game* race = owner.game();
    const bool lapRecords = mode == Game::TimeTrial && !championship;
    const int32_t headerY = owner.titleY + 100;
    const auto header = [&](int32_t layer, int32_t font, const String& text, int32_t y) {
        auto* widget = new GameMenu::Text(layer, owner.fonts[font], owner, text, 0, y, -1);
        widget->colour = headerGrey;
        return widget;
    };
    titleText = header(rowLayer, titleFont, GameMenuTexts::lookUp(lapRecords ? L"LapRecords" : L"RaceResults"),
                       owner.titleY);
    const wchar_t* valueKey = L"Points";
    if (championship) {
        if (mode == Game::TimeTrial)
            timeHeader = header(10, rowFont, GameMenuTexts::lookUp(L"Time"), headerY);
        // Without a progress record there is no place to show.
        const int32_t place = race && race->getChampionshipEntry() ? race->getMinPlace() : -1;
        if (place != -1) {
            String text;
            text.format(L"%s: %i.", GameMenuTexts::lookUp(L"MinPlace").text(), place);
            minPlaceButton = new GameMenu::Button(rowLayer, owner, text, 0, 0, 99, false);
            minPlaceButton->colour = headerGrey;
        }
    } else if (isTimeMode(mode)) {
        valueKey = L"BestTime";
    } else if (mode == Game::TimeTrial) {
        valueKey = L"Time";
        dateHeader = header(10, rowFont, GameMenuTexts::lookUp(L"Date"), headerY);
    }
    rankHeader = header(rowLayer, rowFont, GameMenuTexts::lookUp(L"Rank"), headerY);
    playerHeader = header(rowLayer, rowFont, GameMenuTexts::lookUp(L"Player"), headerY);
    String value;
    value.format(L"%- 11s", GameMenuTexts::lookUp(valueKey).text());
    valueHeader = header(rowLayer, rowFont, value, headerY);
}

int32_t GameMenu::RaceResults::nextScreen()
{
    return championship ? pointsState : chooseMapState;
}

void GameMenu::RaceResults::close()
{
    CRASH_TRACE();
    Game* race = menu->game();
    if (championship && race) {
        if (Game::ChampionshipEntry* entry = race->getChampionshipEntry()) {
            const auto pay = [entry](int32_t slot, int32_t points) {
                if (slot < 0 || slot >= int32_t(sizeof(entry->points)))
                    return;
                entry->points[slot] = uint8_t(std::min(entry->points[slot] + points, 255));
            };
            for (int32_t i = 0; i < standingCount; ++i)
                pay(standings[i]->slot, pointsFor(standings[i]->place, gaveUp(*standings[i]->vehicle)));
            for (int32_t i = 0; i < timeTrialCount; ++i)
                pay(timeTrials[i]->slot, pointsFor(timeTrials[i]->place, timeTrials[i]->gaveUp != 0));
        }
    }
    deleteAll();
    done = 1;
}

void GameMenu::RaceResults::update()
{
    if (!titleText)
        return;
    layoutHeaders();
    menu->renderSmoothBackground(*this, textureRefresh != 0);
    textureRefresh = 0;
}

void GameMenu::RaceResults::layoutHeaders()
{
    if (!titleText)
        return;
    const int32_t W = screenWidth();
    const float slide = float(W) * (1.0f - GameMenuBars::ease(opacity));
    titleText->x = (W - measure(*titleText).width) / 2 + int32_t(slide);
    const auto column = [W](GameMenu::Text* header, int32_t eighths) {
        return header ? eighths * (W - measure(*header).width) / 8 : 0;
    };
    rankColumn = column(rankHeader, 1);
    valueColumn = column(valueHeader, 7);
    if (mode == Game::TimeTrial && !championship) {
        dateColumn = column(dateHeader, 2);
        playerColumn = column(playerHeader, 4);
    } else if (mode == Game::TimeTrial) {
        playerColumn = column(playerHeader, 2);
        timeColumn = column(timeHeader, 4);
    } else {
        playerColumn = playerHeader ? (W - measure(*playerHeader).width) / 2 : 0;
        // The table follows the race's final ranking.
        if (!championship)
            sortStandings();
    }
    const std::pair<GameMenu::Text*, int32_t> headers[] = {{titleText, 0},         {rankHeader, rankColumn},
                                                           {dateHeader, dateColumn}, {playerHeader, playerColumn},
                                                           {timeHeader, timeColumn}, {valueHeader, valueColumn}};
    for (const auto& [header, x] : headers) {
        if (!header)
            continue;
        if (header != titleText)
            header->x = x + int32_t(slide);
        setAlpha(header, opacity);
    }
    if (minPlaceButton) {
        minPlaceButton->y = rankHeader->y + 40 + rowHeight * std::max(standingCount, timeTrialCount);
        minPlaceButton->x = rankHeader->x;
        if (minPlaceButton->highlightable)
            minPlaceButton->animateHighlight();
        setAlpha(minPlaceButton, opacity);
    }
}

void GameMenu::RaceResults::layoutRows()
{
    if (!titleText || !rankHeader)
        return;
    const int32_t W = screenWidth();
    const float slide = float(W) * (1.0f - GameMenuBars::ease(opacity));
    const int32_t top = rankHeader->y + 50;
    const auto offsetOf = [slide](int32_t k) { return k % 2 ? int32_t(slide) : -int32_t(slide); };
    for (int32_t k = 0; k < standingCount; ++k) {
        StandingRow& row = *standings[k];
        row.offset = offsetOf(k);
        const int32_t y = top + rowHeight * row.place;
        row.rank->x = rankColumn + row.offset;
        row.name->x = playerColumn + row.offset;
        row.value->x = valueColumn + row.offset;
        row.rank->y = row.name->y = row.value->y = y;
        row.icon->x = valueColumn - 50 + row.offset;
        row.icon->y = y;
        // A quad knocked out has not finished the race: the clock it went
        // out at is no time of the race.
        if (!championship && isTimeMode(mode))
            row.value->setText(row.vehicle->finished && !row.vehicle->knockedOut
                                   ? Game::formatRaceTime(row.vehicle->raceTime)
                                   : String(L"-"));
        if (row.vehicle->isPlayer)
            for (GameMenu::Text* text : {row.rank, row.name, row.value})
                text->animateHighlight();
    }
    for (int32_t k = 0; k < recordCount; ++k) {
        RecordRow& row = *records[k];
        const int32_t offset = offsetOf(k);
        const int32_t y = top + rowHeight * row.index;
        row.rank->x = rankColumn + offset;
        row.date->x = dateColumn + offset;
        row.name->x = playerColumn + offset;
        row.time->x = valueColumn + offset;
        row.rank->y = row.date->y = row.name->y = row.time->y = y;
        if (row.entry->isNew)
            for (GameMenu::Text* text : {row.rank, row.name, row.date, row.time})
                text->animateHighlight();
    }
    for (int32_t k = 0; k < timeTrialCount; ++k) {
        TimeTrialRow& row = *timeTrials[k];
        row.offset = offsetOf(k);
        const int32_t y = top + rowHeight * row.place;
        row.rank->x = rankColumn + row.offset;
        row.nameText->x = playerColumn + row.offset;
        row.time->x = timeColumn + row.offset;
        row.points->x = valueColumn + row.offset;
        row.rank->y = row.nameText->y = row.time->y = row.points->y = y;
        if (row.isPlayer)
            for (GameMenu::Text* text : {row.rank, row.nameText, row.time, row.points})
                text->animateHighlight();
    }
}

uint32_t GameMenu::RaceResults::buildBars()
{
    if (!titleText || !rankHeader || !valueHeader)
        return 0;
    uint32_t count = 0;
    const auto add = [this, &count](float left, float top, float right, float bottom) {
        if (count < uint32_t(vertexCount / 6))
            GameMenuBars::rectangle(barVertices + 6 * count++, left, top, right, bottom);
    };
    const UserInterface::Size title = measure(*titleText);
    add(float(titleText->x - 10), float(titleText->y), float(titleText->x + title.width + 10),
        float(titleText->y + title.height));
    const UserInterface::Size rank = measure(*rankHeader);
    const UserInterface::Size value = measure(*valueHeader);
    add(float(rankHeader->x - 10), float(rankHeader->y), float(valueHeader->x + value.width + 10),
        float(rankHeader->y + rank.height));
    const auto row = [&](GameMenu::Text* first, GameMenu::Text* last) {
        add(float(first->x - 10), float(first->y - 10), float(last->x + value.width + 10),
            float(first->y + rank.height + 10));
    };
    for (int32_t k = 0; k < standingCount; ++k)
        row(standings[k]->rank, standings[k]->value);
    for (int32_t k = 0; k < recordCount; ++k)
        row(records[k]->rank, records[k]->time);
    for (int32_t k = 0; k < timeTrialCount; ++k)
        row(timeTrials[k]->rank, timeTrials[k]->points);
    if (minPlaceButton) {
        const UserInterface::Size size = measure(*minPlaceButton);
        add(float(minPlaceButton->x - 10), float(minPlaceButton->y), float(minPlaceButton->x + size.width + 10),
            float(minPlaceButton->y + size.height));
    }
    return count;
}

void GameMenu::RaceResults::draw()
{
    Panel::draw();
    if (!titleText)
        return;
    layoutRows();
    const uint32_t bars = buildBars();
    if (!gDevice)
        return;
    GameMenuBars::drawBars(barVertices, bars);
    const float side = rankHeader ? float(measure(*rankHeader).height) : 0.0f;
    for (int32_t k = 0; k < standingCount; ++k) {
        const StandingRow& row = *standings[k];
        GameMenuBars::drawSquare(float(row.name->x - 8) - side, float(row.name->y), side, row.vehicle->color);
    }
    for (int32_t k = 0; k < timeTrialCount; ++k) {
        const TimeTrialRow& row = *timeTrials[k];
        GameMenuBars::drawSquare(float(row.nameText->x - 8) - side, float(row.nameText->y), side, row.colour);
    }
}
