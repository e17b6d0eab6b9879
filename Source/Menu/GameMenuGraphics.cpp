#include "Menu/GameMenuGraphics.h"

#include "Menu/GameMenuTexts.h"

#include "Application/Korvanta.h"
#include "Render/DirectGraphics.h"
#include "Render/ScreenResolution.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr const wchar_t* rowKeys[GameMenu::Graphics::rowCount] = {L"Resolution", L"Fullscreen", L"Antialiasing",
                                                                   L"Shadow", L"Bloom"};
constexpr int32_t labelY[GameMenu::Graphics::rowCount] = {260, 350, 440, 530, 620};
constexpr int32_t valueY[GameMenu::Graphics::rowCount] = {290, 380, 470, 560, 650};
// The order up and down walk, wrapping.
constexpr int32_t walk[] = {70, 71, 72, 73, 74, 79};
// The narrowest mode left steps down to.
constexpr int32_t narrowestMode = 1024;

// The antialiasing level a running multisample type stands for; current
// where the type says nothing about it (the non-maskable type).
uint32_t levelOf(D3DMULTISAMPLE_TYPE type, uint32_t current)
{
    if (type == D3DMULTISAMPLE_NONE)
        return 0;
    for (uint32_t level = 1; level <= 4; ++level)
        if (uint32_t(type) == 1u << level)
            return level;
    return current;
}

}

GameMenu::Graphics::Graphics(GameMenu& owner) : Screen(owner), modes(&gDirectGraphics.modes)
{
}

GameMenu::Graphics::~Graphics()
{
    deleteWidgets();
}

void GameMenu::Graphics::fillAntialiasing(const AntialiasingModes& found)
{
    aaCount = 0;
    aaModes[aaCount++] = {};
    for (uint32_t samples = 2; samples <= 16; samples *= 2) {
        Entry entry;
        if (found.lowestType != 0 && samples >= found.lowestType && samples <= found.highestType)
            entry = {samples, 0};
        else if (found.nonMaskable && found.nonMaskableQualityLevels == samples)
            // Quality values run from 0 to levels - 1; the number of levels
            // itself is refused by the device.
            entry = {uint32_t(D3DMULTISAMPLE_NONMASKABLE), samples - 1};
        aaModes[aaCount++] = entry;
    }
}

void GameMenu::Graphics::readDisplay()
{
    D3D::Device::SwapChain* chain = menu->swapChain();
    const intvec2d size = chain ? intvec2d{int32_t(chain->presentParameters.BackBufferWidth),
                                           int32_t(chain->presentParameters.BackBufferHeight)}
                                : intvec2d{1024, 768};
    const intvec2d nearest = modes ? modes->findNearest(size) : size;
    modeWidth = nearest.x;
    modeHeight = nearest.y;
    fullscreenChoice = chain && !chain->presentParameters.Windowed ? fullscreenChoiceValue : windowChoice;
    const uint32_t* bloom = menu->callbacks ? menu->callbacks->getSettingOption4() : nullptr;
    bloomChoice = bloom && *bloom ? bloomOn : bloomOff;
}

String GameMenu::Graphics::valueText(int32_t row) const
{
    String text;
    const uint32_t* options = menu->callbacks ? menu->callbacks->getSettingOptions() : nullptr;
    const uint32_t* shadow = menu->callbacks ? menu->callbacks->getShadowQuality() : nullptr;
    switch (row) {
    case 0:
        text.format(L"%ix%i", int(modeWidth), int(modeHeight));
        return text;
    case 1:
        return GameMenuTexts::lookUp(fullscreenChoice == fullscreenChoiceValue ? L"On" : L"Off");
    case 2: {
        const uint32_t level = options ? *options : 0;
        if (level == 0)
            return GameMenuTexts::lookUp(L"Off");
        text.format(L"%ix", int(1u << std::min(level, 30u)));
        return text;
    }
    case 3: {
        const uint32_t quality = shadow ? *shadow : 0;
        if (quality > 2) {
            text.format(L"%i", int(std::min(quality, 0x7FFFFFFFu)));
            return text;
        }
        static constexpr const wchar_t* names[] = {L"Off", L"Hard", L"Soft"};
        return GameMenuTexts::lookUp(names[quality]);
    }
    case 4:
        return GameMenuTexts::lookUp(bloomChoice == bloomOn ? L"On" : L"Off");
    default:
        return String(L"");
    }
}

void GameMenu::Graphics::refreshValues()
{
    for (int32_t row = 0; row < rowCount; ++row)
        if (rows[row])
            rows[row]->setText(valueText(row));
}

void GameMenu::Graphics::build(int32_t returnTo)
{
    if (titleText)
        return;
    CRASH_TRACE();
    returnState = returnTo;
    GameMenu& owner = *menu;
    titleText = new GameMenu::Text(widgetLayer, owner.fonts[titleFont], owner, GameMenuTexts::lookUp(L"Graphics"),
                                   owner.titleX, owner.titleY, -1);
    titleText->colour = GameMenuTexts::labelGrey;
    for (int32_t row = 0; row < rowCount; ++row)
        labels[row] = new GameMenu::Text(widgetLayer, owner.fonts[buttonFont], owner,
                                         GameMenuTexts::lookUp(rowKeys[row]), 100, 0, -1);
    readDisplay();
    D3D::Device::SwapChain* chain = menu->swapChain();
    AntialiasingModes found;
    Antialiasing::detectModes(found, chain && !chain->presentParameters.Windowed);
    fillAntialiasing(found);
    for (int32_t row = 0; row < rowCount; ++row)
        rows[row] = new GameMenu::ButtonPrevNext(0, owner, valueText(row), 100, 300, resolutionValue + row, widgetLayer);
    for (GameMenu::Text* label : labels)
        label->colour = GameMenuTexts::labelGrey;
    applyButton = new GameMenu::Button(widgetLayer, owner, GameMenuTexts::lookUp(L"Apply"), 100, 0, applyValue, false);
    update();
}

void GameMenu::Graphics::deleteWidgets()
{
    delete titleText;
    titleText = nullptr;
    for (int32_t row = 0; row < rowCount; ++row) {
        delete labels[row];
        delete rows[row];
        labels[row] = nullptr;
        rows[row] = nullptr;
    }
    delete applyButton;
    applyButton = nullptr;
}

void GameMenu::Graphics::close()
{
    deleteWidgets();
    done = 1;
}

void GameMenu::Graphics::layOut()
{
    for (int32_t row = 0; row < rowCount; ++row) {
        labels[row]->y = labelY[row];
        rows[row]->place(valueY[row]);
    }
    // Apply keeps a margin of 100 pixels to the right and 50 below.
    D3D::Device::SwapChain* chain = menu->swapChain();
    const int32_t width = chain ? int32_t(chain->presentParameters.BackBufferWidth) : 1024;
    const int32_t height = chain ? int32_t(chain->presentParameters.BackBufferHeight) : 768;
    const UserInterface::Size size = applyButton->getSize();
    applyButton->x = width - size.width - 100;
    applyButton->y = height - size.height - 50;
}

void GameMenu::Graphics::update()
{
    if (!done)
        build(noScreen);
    if (!titleText)
        return;
    layOut();
    for (GameMenu::Button* button : {static_cast<GameMenu::Button*>(rows[0]), static_cast<GameMenu::Button*>(rows[1]),
                                     static_cast<GameMenu::Button*>(rows[2]), static_cast<GameMenu::Button*>(rows[3]),
                                     static_cast<GameMenu::Button*>(rows[4]), applyButton})
        if (button && button->enabled)
            button->setHighlight(button->id == selection);
}

void GameMenu::Graphics::onKeyUp()
{
    const int32_t n = int32_t(std::size(walk));
    for (int32_t i = 0; i < n; ++i)
        if (walk[i] == selection) {
            selection = walk[(i + n - 1) % n];
            break;
        }
    menu->playSound(0);
}

void GameMenu::Graphics::onKeyDown()
{
    const int32_t n = int32_t(std::size(walk));
    for (int32_t i = 0; i < n; ++i)
        if (walk[i] == selection) {
            selection = walk[(i + 1) % n];
            break;
        }
    menu->playSound(0);
}

void GameMenu::Graphics::change(int32_t direction)
{
    GameMenu::Interface* app = menu->callbacks;
    bool changed = false;
    switch (selection) {
    case resolutionValue: {
        if (!modes)
            return;
        const int32_t index = modes->indexOf({modeWidth, modeHeight});
        if (index < 0)
            return;
        intvec2d next{};
        if (direction < 0 && index > 0 && modes->modeAt(index - 1).x >= narrowestMode)
            next = modes->modeAt(index - 1);
        else if (direction > 0 && index < modes->count() - 1)
            next = modes->modeAt(index + 1);
        else
            return;
        modeWidth = next.x;
        modeHeight = next.y;
        changed = true;
        break;
    }
    case fullscreenValue:
        fullscreenChoice = fullscreenChoice == fullscreenChoiceValue ? windowChoice : fullscreenChoiceValue;
        changed = true;
        break;
    case bloomValue:
        bloomChoice = bloomChoice == bloomOn ? bloomOff : bloomOn;
        changed = true;
        break;
    case antialiasingValue: {
        uint32_t* level = app ? app->getSettingOptions() : nullptr;
        if (!level)
            return;
        if (direction < 0 && *level > 0) {
            --*level;
            changed = true;
        } else if (direction > 0 && int64_t(*level) < int64_t(aaCount) - 2) {
            ++*level;
            changed = true;
        }
        break;
    }
    case shadowValue: {
        uint32_t* quality = app ? app->getShadowQuality() : nullptr;
        if (!quality)
            return;
        // A stored value beyond "Soft" is brought into range by the press.
        uint32_t value = std::min(*quality, 2u);
        if (direction < 0 && value > 0)
            --value;
        else if (direction > 0 && value < 2)
            ++value;
        changed = value != *quality;
        *quality = value;
        break;
    }
    default:
        return;
    }
    const int32_t row = selection - resolutionValue;
    if (rows[row])
        rows[row]->setText(valueText(row));
    if (changed)
        menu->playSound(0);
}

void GameMenu::Graphics::onKeyConfirm()
{
    if (selection == applyValue && menu->callbacks)
        apply();
}

void GameMenu::Graphics::apply()
{
    CRASH_TRACE();
    GameMenu::Interface& app = *menu->callbacks;
    Korvanta* program = app.getThis();
    if (!program)
        return;
    program->fullScreen = fullscreenChoice == fullscreenChoiceValue ? 1 : 0;
    D3D::Device& record = gDirectGraphics.record;
    D3DPRESENT_PARAMETERS parameters{};
    D3D::Device::fillPresentParameters(record.presentSettings, program->window, program->fullScreen != 0, parameters);
    parameters.BackBufferWidth = UINT(std::max(modeWidth, 0));
    parameters.BackBufferHeight = UINT(std::max(modeHeight, 0));
    uint32_t* level = app.getSettingOptions();
    const Entry entry = level && int64_t(*level) < aaCount ? aaModes[*level] : Entry{};
    parameters.MultiSampleType = D3DMULTISAMPLE_TYPE(entry.type);
    parameters.MultiSampleQuality = entry.quality;
    parameters.hDeviceWindow = program->window;
    D3D::Device::reset(record, &parameters);

    if (uint32_t* bloom = app.getSettingOption4())
        *bloom = bloomChoice == bloomOn ? 1 : 0;
    // What the device runs, which may be less than was asked for; later
    // resets (a lost device) ask for the same.
    if (D3D::Device::SwapChain* chain = menu->swapChain()) {
        const D3DPRESENT_PARAMETERS& running = chain->presentParameters;
        record.presentSettings.multiSampleType = uint32_t(running.MultiSampleType);
        record.presentSettings.multiSampleQuality = running.MultiSampleQuality;
        if (level)
            *level = levelOf(running.MultiSampleType, *level);
    }
    app.applyDisplaySettings();
    readDisplay();
    refreshValues();
}

void GameMenu::Graphics::onKeyBack()
{
    close();
    menu->playSound(2);
}
