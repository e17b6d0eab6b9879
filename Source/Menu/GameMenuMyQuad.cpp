#include "Menu/GameMenuMyQuad.h"

#include "Menu/GameMenuRaceResults.h"
#include "Menu/GameMenuTexts.h"

#include "Race/Game.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"

#include <d3d9.h>

#include <cmath>
#include <initializer_list>

namespace {

constexpr int32_t widgetLayer = 10;
// A step that lands on a bound within rounding still counts as inside.
constexpr float boundSlack = 1e-4f;

const wchar_t* const colorKeys[] = {L"BENUTZER", L"Blue",  L"Red",   L"Yellow", L"Green",
                                    L"Rosa",     L"Black", L"White", L"Orange"};

uint8_t channelByte(float value)
{
    return uint8_t(std::lround(std::fmin(std::fmax(value, 0.0f), 1.0f) * 255.0f));
}

}

GameMenu::MyQuad::MyQuad(GameMenu& owner) : Screen(owner)
{
}

GameMenu::MyQuad::~MyQuad()
{
    deleteWidgets();
}

String GameMenu::MyQuad::colorName(int32_t id)
{
    if (id < ownColorId || id > lastColorId)
        return String(L"");
    return GameMenuTexts::lookUp(colorKeys[id - ownColorId]);
}

Color GameMenu::MyQuad::settingsColor() const
{
    const uint8_t* bytes = menu->callbacks ? menu->callbacks->getSettingChar() : nullptr;
    if (!bytes)
        return Color(255, 255, 255, 255);
    // Blue, green, red, alpha, as a Color lies in memory.
    return Color(bytes[2], bytes[1], bytes[0], bytes[3]);
}

void GameMenu::MyQuad::enter(int32_t)
{
    if (titleText || done)
        return;
    CRASH_TRACE();
    GameMenu& owner = *menu;
    if (owner.callbacks) {
        const int32_t index = Game::findPlayerColorIndex(settingsColor());
        colorId = ownColorId + (index >= 1 && index <= 8 ? index : 0);
    }
    titleText = new GameMenu::Text(widgetLayer, owner.fonts[titleFont], owner, GameMenuTexts::lookUp(L"MyQuad2"),
                                   owner.titleX, owner.titleY, -1);
    nicknameLabel =
        new GameMenu::Text(widgetLayer, owner.fonts[buttonFont], owner, GameMenuTexts::lookUp(L"Nickname"), 100, 0, -1);
    colorLabel =
        new GameMenu::Text(widgetLayer, owner.fonts[buttonFont], owner, GameMenuTexts::lookUp(L"Color"), 100, 0, -1);
    const String* name = owner.callbacks ? owner.callbacks->getSettingName() : nullptr;
    nicknameField = new GameMenu::EditField(owner, name ? *name : String(L""), 100, 0, 200, nicknameId, widgetLayer);
    colorSelector = new GameMenu::ButtonPrevNext(0, owner, colorName(colorId), 100, 300, selectorId, widgetLayer);
    redSlider = new GameMenu::ColorSlider(owner, 1, redId);
    greenSlider = new GameMenu::ColorSlider(owner, 2, greenId);
    blueSlider = new GameMenu::ColorSlider(owner, 3, blueId);
    applyColorId();
    nicknameLabel->colour = colorLabel->colour = GameMenuTexts::labelGrey;
    update();
}

void GameMenu::MyQuad::applyColorId()
{
    Color colour = settingsColor();
    if (colorId > ownColorId && colorId <= lastColorId)
        colour = Game::getPlayerColor(colorId - ownColorId - 1);
    if (redSlider)
        redSlider->value = float(colour.r) / 255.0f;
    if (greenSlider)
        greenSlider->value = float(colour.g) / 255.0f;
    if (blueSlider)
        blueSlider->value = float(colour.b) / 255.0f;
}

Color GameMenu::MyQuad::sliderColor() const
{
    if (!redSlider || !greenSlider || !blueSlider)
        return Color(0, 0, 0, 0);
    return Color(channelByte(redSlider->value), channelByte(greenSlider->value), channelByte(blueSlider->value), 255);
}

void GameMenu::MyQuad::deleteWidgets()
{
    for (UserInterface::Widget* widget : std::initializer_list<UserInterface::Widget*>{
             titleText, nicknameLabel, colorLabel, nicknameField, colorSelector, redSlider, greenSlider, blueSlider})
        delete widget;
    titleText = nicknameLabel = colorLabel = nullptr;
    nicknameField = nullptr;
    colorSelector = nullptr;
    redSlider = greenSlider = blueSlider = nullptr;
}

void GameMenu::MyQuad::close()
{
    if (!titleText)
        return;
    if (Interface* settings = menu->callbacks) {
        if (String* name = settings->getSettingName())
            *name = String(nicknameField->text());
        if (uint8_t* bytes = settings->getSettingChar()) {
            const Color colour = sliderColor();
            bytes[0] = colour.b;
            bytes[1] = colour.g;
            bytes[2] = colour.r;
            bytes[3] = 255;
        }
    }
    deleteWidgets();
    done = 1;
}

void GameMenu::MyQuad::stepSlider(float delta)
{
    for (GameMenu::ColorSlider* slider : {redSlider, greenSlider, blueSlider}) {
        if (!slider || slider->id != focusId)
            continue;
        const float value = slider->value + delta;
        if (value >= -boundSlack && value <= 1.0f + boundSlack) {
            slider->value = std::fmin(std::fmax(value, 0.0f), 1.0f);
            menu->playSound(0);
        } else {
            slider->value = value < 0.0f ? 0.0f : 1.0f;
        }
    }
}

void GameMenu::MyQuad::stepColor(int32_t delta)
{
    colorId += delta;
    clampIndex(colorId, ownColorId, lastColorId);
    applyColorId();
    if (colorSelector)
        colorSelector->setText(colorName(colorId));
    menu->playSound(0);
}

void GameMenu::MyQuad::onKeyLeft()
{
    if (focusId == selectorId)
        stepColor(-1);
    else
        stepSlider(-sliderStep);
}

void GameMenu::MyQuad::onKeyRight()
{
    if (focusId == selectorId)
        stepColor(1);
    else
        stepSlider(sliderStep);
}

void GameMenu::MyQuad::onKeyUp()
{
    focusId = focusId <= nicknameId || focusId > blueId ? blueId : focusId - 1;
    menu->playSound(0);
}

void GameMenu::MyQuad::onKeyDown()
{
    focusId = focusId >= blueId || focusId < nicknameId ? nicknameId : focusId + 1;
    menu->playSound(0);
}

void GameMenu::MyQuad::onKeyBack()
{
    close();
    menu->playSound(2);
}

void GameMenu::MyQuad::inputChar(wchar_t c)
{
    if (titleText && nicknameField)
        nicknameField->inputChar(c);
}

void GameMenu::MyQuad::update()
{
    if (!titleText)
        return;
    nicknameLabel->y = 265;
    nicknameField->y = 300;
    colorLabel->y = 370;
    colorSelector->place(405);
    redSlider->y = 450;
    greenSlider->y = 485;
    blueSlider->y = 520;
    const Color white(255, 255, 255, 255);
    if (nicknameField->highlightable) {
        if (focusId == nicknameId)
            nicknameField->animateHighlight();
        else
            nicknameField->colour = white;
    }
    colorSelector->setHighlight(focusId == selectorId);
    for (GameMenu::ColorSlider* slider : {redSlider, greenSlider, blueSlider}) {
        if (slider->id == focusId)
            slider->animateMarker();
        else
            slider->markerColour = white;
    }
}

void GameMenu::MyQuad::draw()
{
    if (!titleText)
        return;
    menu->blankScreen();
    IDirect3DDevice9* d = gDevice;
    if (!d)
        return;
    const float left = float(redSlider->x) + redSlider->textureWidth + 20.0f;
    const float top = float(redSlider->y);
    const float side = float(blueSlider->y) + blueSlider->textureHeight - top;
    DWORD fog = 0;
    d->GetRenderState(D3DRS_FOGENABLE, &fog);
    d->SetRenderState(D3DRS_FOGENABLE, FALSE);
    d->SetTexture(0, nullptr);
    d->SetFVF(D3DFVF_XYZRHW);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
    const GameMenuBars::Vertex outline[5] = {{left, top, 0.0f, 1.0f},
                                             {left + side, top, 0.0f, 1.0f},
                                             {left + side, top + side, 0.0f, 1.0f},
                                             {left, top + side, 0.0f, 1.0f},
                                             {left, top, 0.0f, 1.0f}};
    d->SetRenderState(D3DRS_TEXTUREFACTOR, Color(127, 127, 127, 255).argb());
    d->DrawPrimitiveUP(D3DPT_LINESTRIP, 4, outline, sizeof(GameMenuBars::Vertex));
    const GameMenuBars::Vertex fill[4] = {{left + 1.0f, top + 1.0f, 0.0f, 1.0f},
                                          {left + side, top + 1.0f, 0.0f, 1.0f},
                                          {left + 1.0f, top + side, 0.0f, 1.0f},
                                          {left + side, top + side, 0.0f, 1.0f}};
    d->SetRenderState(D3DRS_TEXTUREFACTOR, sliderColor().argb());
    d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, fill, sizeof(GameMenuBars::Vertex));
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    if (fog)
        d->SetRenderState(D3DRS_FOGENABLE, TRUE);
}
