#include "Objects/HUD.h"

#include "Objects/Compass.h"
#include "Objects/DynObject.h"
#include "Objects/HUDWidgets.h"

#include "Application/Globals.h"
#include "Landscape/Scene.h"
#include "Menu/UserInterface.h"
#include "Race/GameVehicle.h"
#include "Race/RaceClock.h"
#include "Render/SwapChain.h"
#include "Vehicle/QuadInstance.h"

#include "Core/CrashTrace.h"
#include "Core/Language.h"
#include "Core/ResourceManager.h"
#include "Core/Timer.h"

#include <d3d9.h>
#include <d3dx9.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cwchar>

using HUD = ObjPkgManager::Functions::HUD;
using UserInterface::Panel;
using UserInterface::Rect;
using UserInterface::Text;
using UserInterface::UIFont;

namespace HudValues {

uint8_t fadeAlpha(float fade)
{
    const float a = (1.0f - fade) * 255.0f;
    return a >= 255.0f ? 255 : a > 0.0f ? uint8_t(a) : 0;
}

uint8_t flashAlpha(float fade)
{
    const float a = (1.0f - std::pow(std::max(fade, 0.0f), 1.8f)) * 255.0f;
    return a >= 255.0f ? 255 : a > 0.0f ? uint8_t(a) : 0;
}

uint8_t countdownAlpha(uint8_t hundredths)
{
    return uint8_t(std::min(float(hundredths) / 100.0f * 255.0f, 255.0f));
}

float barValue(float value)
{
    return std::isfinite(value) ? std::clamp(value, 0.0f, 1.0f) : 0.0f;
}

}

namespace {

constexpr float fadeTarget = 0.5f;
constexpr float fadeSpeed = 0.1f;
constexpr uint32_t lapTimeMs = 2000;
const Color backgroundColour{110, 110, 110, 160};

// Formats into the text's own buffer (cut to its 511 characters); the text
// is laid out again only when the result differs.
void setFormatted(Text* text, const wchar_t* format, ...)
{
    wchar_t* chars = text ? text->buffer.data() : nullptr;
    if (!chars)
        return;
    wchar_t formatted[Text::bufferSize];
    va_list args;
    va_start(args, format);
    const int written = _vsnwprintf(formatted, Text::bufferSize - 1, format, args);
    va_end(args);
    formatted[written >= 0 && written < Text::bufferSize - 1 ? written : Text::bufferSize - 1] = 0;
    if (std::wcscmp(formatted, chars) != 0) {
        std::wcscpy(chars, formatted);
        text->changed = 1;
    }
    text->calc();
}

const wchar_t* languageText(const wchar_t* key)
{
    return gLanguage ? gLanguage->getText(nullptr, String::borrowed(key)).text() : L"";
}

template <class W>
void destroy(W*& widget)
{
    delete widget;
    widget = nullptr;
}

// A text's rectangle: its position and its laid-out size.
Rect placedRect(Text* text)
{
    const UserInterface::Size size = text->getSize();
    return {text->x, text->y, text->x + size.width, text->y + size.height};
}

void centre(Text* text, int32_t width, int32_t height)
{
    const UserInterface::Size size = text->getSize();
    text->x = (width - size.width) >> 1;
    text->y = (height - size.height) >> 1;
}

void releaseFace(UIFont::Face*& face)
{
    UIFont* font = UIFont::global();
    if (face && font) {
        // A face the device's release already freed is not in the list.
        for (auto* node = font->faces.head(); node; node = node->next)
            if (node->item == face) {
                font->releaseFace(face);
                break;
            }
    }
    face = nullptr;
}

void place(Panel* panel, const Rect& box)
{
    if (!panel)
        return;
    panel->x = box.left - 5;
    panel->y = box.top;
    panel->textureWidth = float(box.right - box.left + 10);
    panel->textureHeight = float(box.bottom - box.top);
}

bool hasRaceRecords(const Game& game)
{
    return game.records.raceCount > 0 && game.records.races[0];
}

bool hasLapRecords(const Game& game)
{
    return game.records.lapCount > 0 && game.records.laps[0];
}

}

HUD::HUD(UserInterface::Root* widgetRoot, Scene* raceScene, DynObject* playerObject)
    : root(widgetRoot), scene(raceScene), player(playerObject)
{
    CRASH_TRACE();
    D3D::Device::SwapChain* chain = root ? root->swapChain : nullptr;
    lapBackground = new Panel(chain, 0, fadeTarget, fadeSpeed);
    timeBackground = new Panel(chain, 0, fadeTarget, fadeSpeed);
    if (UIFont* font = UIFont::global()) {
        const String arial(L"Arial");
        largeFace = font->createFace(arial, 90, 900, 0, -1, {0, 0}, 0.3f, 0);
        mediumFace = font->createFace(arial, 30, 900, 0, -1, {0, 0}, 0.3f, 0);
        smallFace = font->createFace(arial, 16, 900, 8, 12, {0, 0}, 0.3f, 0);
    }
    speed = makeText(mediumFace, 0);
    lap = makeText(mediumFace, 1);
    time = makeText(smallFace, 1);

    // The backgrounds' colour, stretched over each of them.
    if (Texture::create(background, String(L"HUDBg"), 32, 32, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED)) {
        const DWORD levels = background.texture()->texture->GetLevelCount();
        for (DWORD level = 0; level < levels; ++level)
            Texture::fillRect(background, -1, -1, -1, -1, &backgroundColour.b, level, false, true);
    }

    if (itemsOn()) {
        TextureRef icon;
        if (loadResourceImage(icon, L"HUDOil"))
            oilIcon = makePanel(icon, 0);
        oilCount = makeText(mediumFace, 0);
        if (loadResourceImage(icon, L"HUDRocket"))
            rocketIcon = makePanel(icon, 0);
        rocketCount = makeText(mediumFace, 0);
        if (loadResourceImage(icon, L"HUDNitro"))
            nitroIcon = makePanel(icon, 0);
        nitroBar = new Level(this, Level::nitroKind);
        if (loadResourceImage(icon, L"HUDRepair"))
            repairIcon = makePanel(icon, 0);
        damageBar = new Level(this, Level::damageKind);
    }

    for (Panel* panel : {lapBackground, timeBackground}) {
        panel->setTexture(background);
        panel->shader->alphaBlend = 1;
        panel->enable();
    }

    if (player && player->functions) {
        if (auto* entry = player->functions->find(0x10))
            inventory = entry->instance;
        if (auto* entry = player->functions->find(0x2))
            vehiclePhysics = static_cast<QuadPhysics::Instance*>(entry->instance);
    }

    rowCount = 0;
    const int32_t raceMode = mode();
    if (raceMode == Game::TimeTrial) {
        if (Game* g = game(); g && g->choice.goal == 1)
            setFormatted(lap, L"%ls", languageText(L"TimeTrial2"));
        placeText = makeText(largeFace, 0);
    } else if (raceMode >= Game::OffRoadRace && raceMode <= Game::Circuit) {
        // The rows hold at most eight vehicles, whatever the list holds.
        if (Game* g = game())
            for (auto* node = g->vehicles.head(); node && rowCount < maxRows; node = node->next)
                if (node->item)
                    rows[rowCount++] = new StandingsRow(this, node->item);
        listBackground = makePanel(background, 0);
        makeCompass();
    }
    layout();
    // The backgrounds follow the texts' rectangles of the frame before:
    // once more, so that the first frame finds them where layout put them.
    refresh();
}

HUD::~HUD()
{
    CRASH_TRACE();
    releaseFace(largeFace);
    releaseFace(mediumFace);
    releaseFace(smallFace);
    for (Panel** panel : {&oilIcon, &rocketIcon, &nitroIcon, &repairIcon, &lapBackground, &listBackground,
                          &timeBackground, &recordsBackground, &lapTimeBackground, &flash})
        destroy(*panel);
    destroy(nitroBar);
    destroy(damageBar);
    for (Text** text : {&oilCount, &rocketCount, &speed, &lap, &time, &raceBestLap, &bestTimeRecord, &bestLapRecord,
                        &countdown, &message, &lapTime, &lapTimeDifference, &placeText})
        destroy(*text);
    destroy(compass);
    background.release();
    for (int32_t i = 0; i < rowCount; ++i)
        destroy(rows[i]);
    rowCount = 0;
}

void HUD::beforeRender(const matrix3d& transform)
{
    (void)transform;
    if (compass)
        compass->draw();
}

int32_t HUD::screenWidth() const
{
    return root && root->swapChain ? int32_t(root->swapChain->targets[0].width) : 0;
}

int32_t HUD::screenHeight() const
{
    return root && root->swapChain ? int32_t(root->swapChain->targets[0].height) : 0;
}

Game* HUD::game() const
{
    return scene ? &scene->game : nullptr;
}

int32_t HUD::mode() const
{
    const Game* g = game();
    return g ? g->choice.gameMode : 0;
}

bool HUD::itemsOn() const
{
    const Game* g = game();
    return g && g->choice.items != 0;
}

Game::Vehicle* HUD::playerVehicle() const
{
    Game* g = game();
    if (!g)
        return nullptr;
    if (player && player->object)
        for (auto* node = g->vehicles.head(); node; node = node->next)
            if (node->item && node->item->object == player->object)
                return node->item;
    return g->getPlayerVehicle();
}

Text* HUD::makeText(UIFont::Face* face, int32_t layer, int32_t wrapWidth, int32_t maxLines)
{
    auto* text = new Text(root ? root->swapChain : nullptr, face, layer, wrapWidth, maxLines, fadeTarget, fadeSpeed);
    text->enable();
    return text;
}

Panel* HUD::makePanel(const TextureRef& texture, int32_t layer)
{
    auto* panel = new Panel(root ? root->swapChain : nullptr, layer, fadeTarget, fadeSpeed);
    panel->setTexture(texture);
    panel->shader->alphaBlend = 1;
    panel->enable();
    return panel;
}

bool HUD::loadResourceImage(TextureRef& ref, const wchar_t* name)
{
    ref.release();
    if (!gResourceManager)
        return false;
    ResourceManager::Entry& entry = gResourceManager->find(String::borrowed(name));
    if (entry.type != 0 || entry.data.size() == 0)
        return false;
    entry.data.seek(0, 0);
    return Texture::loadFromMemory(entry.data, nullptr, ref, String(name), D3DX_DEFAULT_NONPOW2, D3DX_DEFAULT_NONPOW2,
                                   1, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_DEFAULT);
}

void HUD::layout()
{
    CRASH_TRACE();
    refresh();
    const int32_t w = screenWidth();
    const int32_t h = screenHeight();
    if (itemsOn()) {
        const struct
        {
            UserInterface::Widget* widget;
            int32_t x, y;
        } placed[] = {{oilIcon, 20, 21},         {rocketIcon, 160, 21}, {nitroIcon, w - 340, 21},
                      {repairIcon, 20, h - 90},  {oilCount, 80, 30},    {rocketCount, 220, 30}};
        for (const auto& p : placed)
            if (p.widget) {
                p.widget->x = p.x;
                p.widget->y = p.y;
            }
    }
    speed->x = w - 235;
    speed->y = h - 75;

    const UserInterface::Size lapSize = lap->getSize();
    lap->x = (w - lapSize.width) >> 1;
    lap->y = 30;
    lapBackground->x = lap->x - 5;
    lapBackground->y = lap->y - 5;
    lapBackground->textureWidth = float(lapSize.width + 6);
    lapBackground->textureHeight = float(lapSize.height + 6);

    time->x = 20;
    time->y = 150;
    if (raceBestLap) {
        raceBestLap->x = time->x + time->getSize().width - raceBestLap->getSize().width;
        raceBestLap->y = time->y + 25;
    }
    if (placeText) {
        placeText->x = 60;
        placeText->y = 0;
    }
}

void HUD::refresh()
{
    CRASH_TRACE();
    Game* g = game();
    Game::Vehicle* vehicle = playerVehicle();
    if (!inventory || !vehiclePhysics || !g || !vehicle)
        return;
    const int32_t w = screenWidth();
    const int32_t h = screenHeight();
    const int32_t raceMode = mode();

    if (g->phase == 2) {
        if (!countdown) {
            countdown = makeText(largeFace, 0);
            countdown->scale = 1.5f;
            countdown->filter = D3DTEXF_LINEAR;
        }
        setFormatted(countdown, L"%i", int(vehicle->raceTime.seconds) + 1);
        centre(countdown, w, h);
        countdown->colour.a = HudValues::countdownAlpha(vehicle->raceTime.hundredths);
    } else {
        destroy(countdown);
    }

    if (placeText)
        setFormatted(placeText, L"%i.", projectedPlace());

    if (vehicle->bestLap != 0) {
        if (!raceBestLap) {
            raceBestLap = makeText(smallFace, 1);
            updateLapTimeText();
            layout();
        }
    } else {
        destroy(raceBestLap);
    }

    refreshRecords();

    if (itemsOn()) {
        setFormatted(oilCount, L"%i", int(vehicle->oil));
        setFormatted(rocketCount, L"%i", int(vehicle->rockets));
        if (nitroBar)
            nitroBar->value = HudValues::barValue(vehicle->nitro);
        if (damageBar)
            damageBar->value = HudValues::barValue(vehicle->damage);
    }

    setFormatted(speed, L"% 3i km/h", int(vehiclePhysics->getSpeed()));

    if (lap->enabled && !(raceMode == Game::TimeTrial && g->choice.goal == 1))
        setFormatted(lap, L"%ls %i/%i", languageText(L"Lap"), int(vehicle->lap), int(g->choice.goal));

    if (time->enabled) {
        const RaceTime& t = vehicle->raceTime;
        if (Game::raceTimeKey(t) == Game::noTime)
            setFormatted(time, L"");
        else
            setFormatted(time, L"%ls: %lc%02i:%02i.%02i", languageText(L"Time2"), wchar_t(t.sign), int(t.minutes),
                         int(t.seconds), int(t.hundredths));
    }

    refreshFades();
    refreshRows();

    if (flash) {
        flashFade += 0.027f * gFrameFactor.load(std::memory_order_relaxed);
        flash->colour.a = HudValues::flashAlpha(flashFade);
        if (flashFade >= 1.0f)
            destroy(flash);
    }

    if (raceMode == Game::CaptureTheFlag || raceMode == Game::Jamboree) {
        for (UserInterface::Widget* widget : {static_cast<UserInterface::Widget*>(timeBackground),
                                               static_cast<UserInterface::Widget*>(time),
                                               static_cast<UserInterface::Widget*>(lap),
                                               static_cast<UserInterface::Widget*>(lapBackground),
                                               static_cast<UserInterface::Widget*>(bestTimeRecord),
                                               static_cast<UserInterface::Widget*>(bestLapRecord),
                                               static_cast<UserInterface::Widget*>(recordsBackground)})
            if (widget)
                widget->disable();
    }
}

void HUD::makeRecordText(Text*& text)
{
    text = makeText(smallFace, 1, 200, 2);
    text->alignment = Text::alignRight;
    updateBestTimeText();
}

void HUD::refreshRecords()
{
    const Game& g = *game();
    const int32_t w = screenWidth();
    Rect box;
    if (hasRaceRecords(g)) {
        if (!bestTimeRecord)
            makeRecordText(bestTimeRecord);
        box = placedRect(bestTimeRecord);
        bestTimeRecord->x = w - bestTimeRecord->getSize().width - 20;
        bestTimeRecord->y = 90;
    } else {
        destroy(bestTimeRecord);
    }
    if (hasLapRecords(g)) {
        if (!bestLapRecord)
            makeRecordText(bestLapRecord);
        const Rect lapBox = placedRect(bestLapRecord);
        if (!bestTimeRecord) {
            box = lapBox;
        } else {
            box.left = std::min(box.left, lapBox.left);
            box.bottom = lapBox.bottom;
        }
        bestLapRecord->x = w - bestLapRecord->getSize().width - 20;
        bestLapRecord->y = 150;
    } else {
        destroy(bestLapRecord);
    }
    if (!bestTimeRecord && !bestLapRecord)
        destroy(recordsBackground);
    else if (!recordsBackground)
        recordsBackground = makePanel(background, 0);
    if (recordsBackground && recordsBackground->enabled)
        place(recordsBackground, box);
}

void HUD::refreshFades()
{
    const uint32_t now = raceNow();
    const float factor = gFrameFactor.load(std::memory_order_relaxed);
    if (message) {
        centre(message, screenWidth(), screenHeight());
        if (now > messageEnd) {
            message->colour.a = HudValues::fadeAlpha(messageFade);
            messageFade += 0.03f * factor;
            if (messageFade >= 1.0f)
                destroy(message);
        }
    }
    if (lapTime && now > lapTimeEnd) {
        const uint8_t alpha = HudValues::fadeAlpha(lapTimeFade);
        for (UserInterface::Widget* widget : {static_cast<UserInterface::Widget*>(lapTime),
                                               static_cast<UserInterface::Widget*>(lapTimeBackground),
                                               static_cast<UserInterface::Widget*>(lapTimeDifference)})
            if (widget)
                widget->colour.a = alpha;
        lapTimeFade += 0.03f * factor;
        if (lapTimeFade >= 1.0f) {
            destroy(lapTime);
            destroy(lapTimeBackground);
            destroy(lapTimeDifference);
        }
    }
}

void HUD::refreshRows()
{
    // Insertion sort: equal places keep their order, and at most eight rows.
    for (int32_t i = 1; i < rowCount; ++i)
        for (int32_t j = i; j > 0 && compareRowsByPlace(rows[j], rows[j - 1]); --j)
            std::swap(rows[j], rows[j - 1]);
    Rect listBox;
    for (int32_t i = 0; i < rowCount; ++i) {
        const Rect r = rows[i]->layout(i);
        if (i == 0) {
            listBox = r;
        } else {
            listBox.right = std::max(listBox.right, r.right);
            listBox.bottom = std::max(listBox.bottom, r.bottom);
        }
    }
    Rect timeBox = placedRect(time);
    if (raceBestLap) {
        const Rect best = placedRect(raceBestLap);
        timeBox.left = std::min(timeBox.left, best.left);
        timeBox.bottom = best.bottom;
    }
    place(listBackground, listBox);
    if (timeBackground->enabled)
        place(timeBackground, timeBox);
}

void HUD::showMessage(String text, uint32_t durationMs)
{
    if (message)
        return;
    message = makeText(mediumFace, 9);
    message->colour.a = 255;
    message->scale = 1.5f;
    message->filter = D3DTEXF_LINEAR;
    message->setText(text);
    messageFade = 0.0f;
    messageEnd = raceNow() + durationMs;
    refresh();
}

void HUD::hideMessage()
{
    destroy(message);
}

void HUD::showLapTimes(int32_t lapMs, int32_t differenceMs)
{
    if (lapTime)
        return;
    RaceTime t;
    Game::splitRaceTime(lapMs, t);
    lapTime = makeText(smallFace, 1);
    setFormatted(lapTime, L"%lc%02i:%02i.%02i", wchar_t(t.sign), int(t.minutes), int(t.seconds), int(t.hundredths));
    const UserInterface::Size size = lapTime->getSize();
    lapTime->x = (screenWidth() - size.width) >> 1;
    lapTime->y = 350;
    lapTimeFade = 0.0f;
    lapTimeEnd = raceNow() + lapTimeMs;
    if (differenceMs != 0) {
        const bool faster = differenceMs < 0;
        RaceTime d;
        Game::splitRaceTime(differenceMs, d);
        lapTimeDifference = makeText(smallFace, 1);
        setFormatted(lapTimeDifference, L"%lc%02i:%02i.%02i", faster ? L'-' : L'+', int(d.minutes), int(d.seconds),
                     int(d.hundredths));
        lapTimeDifference->x = lapTime->x;
        lapTimeDifference->y = 390;
        lapTimeDifference->colour = faster ? Color(0, 0, 255, 255) : Color(255, 0, 0, 255);
    }
    lapTimeBackground = makePanel(background, 0);
    lapTimeBackground->x = lapTime->x - 6;
    lapTimeBackground->y = lapTime->y - 6;
    lapTimeBackground->textureWidth = float(size.width + 8);
    lapTimeBackground->textureHeight = float(size.height + 6);
}

void HUD::updateLapTimeText()
{
    const Game::Vehicle* vehicle = playerVehicle();
    if (!raceBestLap || !vehicle)
        return;
    RaceTime t;
    Game::splitRaceTime(int32_t(std::min<uint32_t>(vehicle->bestLap, INT32_MAX)), t);
    setFormatted(raceBestLap, L"%lc%02i:%02i.%02i", wchar_t(t.sign), int(t.minutes), int(t.seconds),
                 int(t.hundredths));
    raceBestLap->colour = Color(210, 210, 210, 255);
}

void HUD::updateBestTimeText()
{
    const Game* g = game();
    if (!g)
        return;
    const auto fill = [](Text* text, const wchar_t* key, const RaceTime& t) {
        setFormatted(text, L"%ls\n%lc%02i:%02i.%02i", languageText(key), wchar_t(t.sign), int(t.minutes),
                     int(t.seconds), int(t.hundredths));
    };
    if (bestTimeRecord && hasRaceRecords(*g))
        fill(bestTimeRecord, L"BestTime2", g->records.races[0]->time);
    if (bestLapRecord && hasLapRecords(*g))
        fill(bestLapRecord, L"BestLap", g->records.laps[0]->time);
}

void HUD::makeCompass()
{
    if (!compass)
        compass = new CompassHUD(this);
}

void HUD::showCompass(bool show)
{
    const int32_t raceMode = mode();
    if (raceMode < Game::KnockOut || raceMode > Game::TimeTrial)
        return;
    if (show)
        makeCompass();
    else if (raceMode == Game::TimeTrial)
        destroy(compass);
    if (compass && compass->instance) {
        compass->instance->blink = show ? 1 : 0;
        compass->instance->blinkPhase = 0.0f;
    }
}

void HUD::createBeam()
{
    if (flash)
        return;
    TextureRef beam;
    if (Texture::create(beam, String(L"HUDBeam"), 32, 32, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED)) {
        const Color white{255, 255, 255, 255};
        const DWORD levels = beam.texture()->texture->GetLevelCount();
        for (DWORD level = 0; level < levels; ++level)
            Texture::fillRect(beam, -1, -1, -1, -1, &white.b, level, false, true);
    }
    flash = makePanel(beam, 2);
    flash->x = 0;
    flash->y = 0;
    flash->textureWidth = float(screenWidth());
    flash->textureHeight = float(screenHeight());
    flash->colour.a = 255;
    flashFade = 0.0f;
}

int32_t HUD::projectedPlace(int32_t estimate, const int32_t* values, int32_t count)
{
    // 1 + the index of the first value equal to the estimate once all are
    // sorted (unsigned): the values that sort before it.
    int32_t place = 1;
    for (int32_t i = 0; i < std::min(count, maxRows); ++i)
        if (uint32_t(values[i]) < uint32_t(estimate))
            ++place;
    return place;
}

int32_t HUD::projectedPlace()
{
    Game* g = game();
    if (!g)
        return 1;
    const int32_t estimate = g->estimateFinalTime();
    int32_t values[maxRows];
    int32_t count = 0;
    if (g->targetTimeCount > 0) {
        const uint32_t n = std::min<uint32_t>(g->targetTimeCount, maxRows);
        for (uint32_t i = 0; i < n; ++i)
            values[count++] = Game::raceTimeKey(g->targetTimes[i]);
    } else {
        for (uint32_t i = 0; i < g->records.raceCount && count < maxRows && i < RaceRecords::slotCount; ++i)
            if (g->records.races[i])
                values[count++] = Game::raceTimeKey(g->records.races[i]->time);
    }
    return projectedPlace(estimate, values, count);
}

bool HUD::compareRowsByPlace(const StandingsRow* a, const StandingsRow* b)
{
    return a->vehicle->place < b->vehicle->place;
}
