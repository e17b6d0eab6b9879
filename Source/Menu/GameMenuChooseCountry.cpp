#include "Menu/GameMenuChooseCountry.h"

#include "Menu/GameMenuButton.h"
#include "Menu/GameMenuText.h"

#include "Landscape/Scene.h"
#include "Race/RaceClock.h"
#include "Render/RenderTexture.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"
#include "Core/Directory.h"
#include "Core/Language.h"
#include "Core/Timer.h"

#include <algorithm>
#include <cmath>
#include <new>

bool isLevelFile(const String& fileName);

namespace {

constexpr float pi = 3.14159265f;

String text(const wchar_t* key)
{
    return gLanguage ? gLanguage->getText(nullptr, String::borrowed(key)) : String(L"");
}

const wchar_t* difficultyKey(int32_t id)
{
    return id == 97 ? L"Medium" : id == 98 ? L"Hard" : L"Easy";
}

bool sameCode(const String& a, const String& b)
{
    if (a.length() != b.length())
        return false;
    for (int32_t i = 0; i < a.length(); ++i)
        if (a.text()[i] != b.text()[i])
            return false;
    return true;
}

const Color white(255, 255, 255, 255);
const Color green(0, 255, 0, 255);

struct PictureVertex
{
    float x, y, z, rhw;
    float u, v;
};
static_assert(sizeof(PictureVertex) == 24);

}

String GameMenu::getCountryName(const String& code)
{
    static const wchar_t* const table[][2] = {
        {L"AF", L"Afrika"},   {L"DE", L"Deutschland"}, {L"FR", L"Frankreich"}, {L"ES", L"Spanien"},
        {L"IT", L"Italien"},  {L"US", L"Amerika"},     {L"CA", L"Kanada"},     {L"GL", L"Gr\u00F6nland"},
        {L"CN", L"China"},    {L"IN", L"Indien"},      {L"AU", L"Australien"}, {L"BR", L"Brasilien"},
        {L"RU", L"Russland"},
    };
    for (const auto& row : table)
        if (sameCode(code, String::borrowed(row[0])))
            return String(row[1]);
    return String(L"");
}

GameMenu::ChooseCountry::ChooseCountry(GameMenu& owner) : Screen(owner)
{
}

GameMenu::ChooseCountry::~ChooseCountry()
{
    if (titleText)
        close();
    deleteLists();
}

void GameMenu::ChooseCountry::deleteLists()
{
    countries.deleteAll();
    maps.deleteAll();
}

void GameMenu::ChooseCountry::buildCountryList()
{
    CRASH_TRACE();
    const String folder = menu->callbacks ? menu->callbacks->getMapFolder() : String(L"Data\\Map\\");
    Directory listing(folder, false);
    listing.list();
    deleteLists();
    Scene* scene = menu->scene;
    if (!scene)
        return;
    for (auto* node = listing.files.head(); node; node = node->next) {
        if (!isLevelFile(node->item->name))
            continue;
        auto* info = new (std::nothrow) Game::MapInfo;
        if (!info)
            continue;
        info->load(*scene, folder + node->item->name);
        maps.append(info);
        Country* owner = nullptr;
        for (auto* c = countries.head(); c; c = c->next)
            if (sameCode(c->item->code, info->countryCode))
                owner = c->item;
        if (owner) {
            owner->addMap(info); // a fourth map of a country has no slot
            continue;
        }
        if (auto* country = new (std::nothrow) Country(*this, info))
            countries.append(country);
    }
}

void GameMenu::ChooseCountry::enter(int32_t)
{
    CRASH_TRACE();
    if (titleText)
        return;
    buildCountryList();
    menu->showLogo();
    if (menu->logoPanel)
        menu->logoPanel->enable();
    titleText = new (std::nothrow)
        GameMenu::Text(10, menu->fonts[titleFont], *menu, text(L"ChooseCountry"), menu->titleX, menu->titleY, -1);
    if (titleText)
        titleText->colour = Color(150, 150, 150, 255);
    difficultySelector = new (std::nothrow) ButtonPrevNext(0, *menu, text(difficultyKey(difficulty)), 100, 300, 95, 10);
    continueButton = new (std::nothrow) Button(10, *menu, text(L"Continue"), 0, 0, 31, false);
    startButton = new (std::nothrow) Button(10, *menu, text(L"StartChampionship"), 0, 0, 31, false);
    difficultyLabel =
        new (std::nothrow) GameMenu::Text(5, menu->fonts[buttonFont], *menu, text(L"Difficulty"), 100, 0, -1);
    if (difficultyLabel)
        difficultyLabel->colour = Color(150, 150, 150, 255);
    focus = carousel;
    selected = 0;
    layout(true);
    selectCountry(0);
    done = 0;
    backFlag = 0;
}

GameMenu::ChooseCountry::Country* GameMenu::ChooseCountry::selectedCountry() const
{
    int32_t i = 0;
    for (auto* node = countries.head(); node; node = node->next, ++i)
        if (i == selected)
            return node->item;
    return nullptr;
}

bool GameMenu::ChooseCountry::continueShown() const
{
    return continueButton && continueButton->enabled;
}

void GameMenu::ChooseCountry::layout(bool snap)
{
    if (!titleText)
        return;
    D3D::Device::SwapChain* chain = menu->swapChain();
    const int32_t width = chain ? int32_t(chain->presentParameters.BackBufferWidth) : 1024;
    const int32_t height = chain ? int32_t(chain->presentParameters.BackBufferHeight) : 768;
    const int32_t cx = ((width - panelWidth) >> 1) + 100;
    const int32_t cy = ((height - panelHeight) >> 1) - 50;
    if (difficultySelector)
        difficultySelector->place(height - 200);
    if (difficultyLabel)
        difficultyLabel->y = height - 250;
    if (continueButton) {
        continueButton->x = width - 500;
        continueButton->y = height - 150;
    }
    if (startButton) {
        startButton->x = width - 500;
        startButton->y = height - 100;
    }
    int32_t k = 0;
    for (auto* node = countries.head(); node; node = node->next, ++k)
        node->item->update(cx, cy, k - selected, snap);
    Button* controls[3] = {difficultySelector, continueButton, startButton};
    for (int32_t i = 0; i < 3; ++i) {
        if (!controls[i])
            continue;
        if (focus == i + 1)
            controls[i]->animateHighlight();
        else
            controls[i]->colour = white;
    }
}

void GameMenu::ChooseCountry::showDifficulty()
{
    if (difficultySelector)
        difficultySelector->setText(text(difficultyKey(difficulty)));
}

void GameMenu::ChooseCountry::selectCountry(int32_t delta)
{
    const int32_t last = std::max(countries.count() - 1, 0);
    const int32_t next = std::clamp(selected + delta, 0, last);
    if (delta != 0 && next != selected)
        menu->playSound(0);
    selected = next;
    layout(false);
    Country* country = selectedCountry();
    if (country && country->entry) {
        difficulty = 96 + std::min<int32_t>(country->entry->unlocked, 2);
        showDifficulty();
        updateContinueButton();
    }
    const uint32_t now = raceNow();
    for (auto* node = countries.head(); node; node = node->next)
        node->item->nextChange = now + 2000;
}

void GameMenu::ChooseCountry::updateContinueButton()
{
    Country* country = selectedCountry();
    if (!country || !continueButton)
        return;
    const Game::ChampionshipEntry* entry = country->entry;
    if (entry && entry->raceNumber != 0 && entry->difficulty == difficultyByte(difficulty))
        continueButton->enable();
    else
        continueButton->disable();
}

void GameMenu::ChooseCountry::onKeyLeft()
{
    if (focus == carousel) {
        selectCountry(-1);
    } else if (focus == selector) {
        if (difficulty > 96) {
            --difficulty;
            showDifficulty();
            menu->playSound(0);
        }
        updateContinueButton();
    }
}

void GameMenu::ChooseCountry::onKeyRight()
{
    if (focus == carousel) {
        selectCountry(+1);
    } else if (focus == selector) {
        const Country* country = selectedCountry();
        const int32_t allowed = 96 + (country && country->entry ? std::min<int32_t>(country->entry->unlocked, 2) : 0);
        if (difficulty < allowed && difficulty < 98) {
            ++difficulty;
            showDifficulty();
            menu->playSound(0);
        }
        updateContinueButton();
    }
}

void GameMenu::ChooseCountry::onKeyUp()
{
    switch (focus) {
    case selector: focus = carousel; break;
    case continueFocus: focus = selector; break;
    case startFocus: focus = continueShown() ? continueFocus : selector; break;
    default: break;
    }
    menu->playSound(1);
}

void GameMenu::ChooseCountry::onKeyDown()
{
    switch (focus) {
    case carousel: focus = selector; break;
    case selector: focus = continueShown() ? continueFocus : startFocus; break;
    case continueFocus: focus = startFocus; break;
    default: break;
    }
    menu->playSound(1);
}

void GameMenu::ChooseCountry::onKeyConfirm()
{
    switch (focus) {
    case carousel: focus = selector; break;
    case selector: focus = continueShown() ? continueFocus : startFocus; break;
    default: close(); break;
    }
    menu->playSound(1);
}

void GameMenu::ChooseCountry::onKeyBack()
{
    switch (focus) {
    case carousel:
        backFlag = 1;
        close();
        break;
    case selector: focus = carousel; break;
    case continueFocus: focus = selector; break;
    default: focus = continueShown() ? continueFocus : selector; break;
    }
    menu->playSound(2);
}

void GameMenu::ChooseCountry::close()
{
    CRASH_TRACE();
    if (Country* country = selectedCountry()) {
        if (focus == startFocus && !backFlag && country->entry) {
            Game::ChampionshipEntry& entry = *country->entry;
            entry.raceNumber = 0;
            for (uint8_t& points : entry.points)
                points = 0;
            entry.difficulty = uint8_t(difficultyByte(difficulty));
        }
        // Only the record lives on: the panels and map records go below.
        chosen = country->entry;
    }
    delete titleText;
    titleText = nullptr;
    delete difficultyLabel;
    difficultyLabel = nullptr;
    delete difficultySelector;
    difficultySelector = nullptr;
    delete continueButton;
    continueButton = nullptr;
    delete startButton;
    startButton = nullptr;
    deleteLists();
    done = 1;
}

int32_t GameMenu::ChooseCountry::nextScreen()
{
    if (!backFlag && focus == continueFocus)
        return championshipStartState;
    if (!backFlag && focus == startFocus)
        return championshipStartState2;
    return mainState;
}

void GameMenu::ChooseCountry::onViewChanged()
{
    for (auto* node = countries.head(); node; node = node->next)
        node->item->reloadTexture();
}

GameMenu::ChooseCountry::Country::Country(ChooseCountry& owner, Game::MapInfo* first)
    : Panel(owner.menu->swapChain(), 0, controlOpacity, controlFadeSpeed), screen(&owner)
{
    // A target of its own (the private key): countries never share a picture.
    if (gDevice)
        picture = RenderTexture::acquire(RenderTexture::shared, pictureSize, pictureSize, false, false, -1,
                                         D3DFMT_A8R8G8B8);
    label = new (std::nothrow) Button(0, *owner.menu, String(L""), 0, 0, 94, true);
    code = first->countryCode;
    maps[0] = first;
    mapCount = 1;
    if (Game* race = owner.menu->game()) {
        const wchar_t* c = code.text();
        if (code.length() >= 2)
            entry = race->findChampionshipEntry(int8_t(c[0]), int8_t(c[1]));
    }
    reloadTexture();
    if (label)
        label->setText(getCountryName(code));
    nextChange = raceNow() + 2000;
    enable();
}

GameMenu::ChooseCountry::Country::~Country()
{
    delete label;
    if (picture)
        RenderTexture::releaseByKey(RenderTexture::shared, picture);
}

bool GameMenu::ChooseCountry::Country::addMap(Game::MapInfo* map)
{
    if (mapCount >= mapsPerCountry)
        return false;
    maps[mapCount++] = map;
    return true;
}

void GameMenu::ChooseCountry::Country::reloadTexture()
{
    if (picture) {
        setTexture(picture->renderTexture);
    } else {
        textureWidth = float(pictureSize);
        textureHeight = float(pictureSize);
    }
    drawnIndex = -1;
}

GameMenu::ChooseCountry::Country::Placement GameMenu::ChooseCountry::Country::placement(int32_t cx, int32_t cy,
                                                                                       float position, int32_t offset)
{
    Placement out{};
    out.scale = std::cos(position * pi / 10.0f);
    out.width = int32_t(float(panelWidth) * out.scale);
    out.height = int32_t(float(out.width) / 1.6666666f);
    out.x = cx + int32_t(330.0f * std::sin(position * pi / 5.0f));
    out.y = cy + ((panelHeight - out.height) >> 1);
    const float b = std::clamp(1.0f - std::pow(0.2f * float(std::abs(offset)), 0.25f), 0.0f, 1.0f);
    out.grey = uint8_t(b * 255.0f);
    return out;
}

void GameMenu::ChooseCountry::Country::update(int32_t cx, int32_t cy, int32_t offset, bool snap)
{
    const int32_t d = std::abs(offset);
    isSelected = offset == 0 ? 1 : 0;
    enabled = d <= 2 ? 1 : 0;
    if (label)
        label->enabled = enabled;
    const float f = gFrameFactor.load();
    if (snap)
        position = float(offset);
    position += f * (float(offset) - position) * 0.1f;
    const Placement p = placement(cx, cy, position, offset);
    textureWidth = float(p.width);
    textureHeight = float(p.height);
    x = p.x;
    y = p.y;
    colour = Color(p.grey, p.grey, p.grey, 255);
    const int32_t panelLayer = 2 * (2 - std::min(d, 2));
    if (layer != panelLayer)
        addChild(panelLayer);
    if (label) {
        if (label->layer != panelLayer + 1)
            label->addChild(panelLayer + 1);
        label->scale = p.scale;
        const UserInterface::Size size = label->getSize();
        label->x = p.x + int32_t(10.0f * p.scale);
        label->y = p.y + p.height - size.height - int32_t(3.0f * p.scale);
    }
    if (!isSelected) {
        pictureIndex = 0;
        fade = 0.0f;
    }
    const uint32_t now = raceNow();
    if (isSelected && int32_t(now - nextChange) > 0) {
        fade += f * 0.05f;
        if (fade > 1.0f) {
            fade = 0.0f;
            pictureIndex = nextIndex(pictureIndex);
            nextChange = now + 1500;
        }
    }
    if (enabled)
        renderPicture();
    if (label) {
        if (screen->focus == carousel)
            isSelected ? label->animateHighlight() : void(label->colour = white);
        else
            label->colour = isSelected ? green : white;
    }
}

void GameMenu::ChooseCountry::Country::renderPicture()
{
    D3D::Device::SwapChain* chain = screen->menu->swapChain();
    const int32_t fadeStep = int32_t(fade * 255.0f);
    if (!gDevice || !chain || !picture || !picture->renderSurface ||
        (drawnIndex == pictureIndex && drawnFade == fadeStep))
        return;
    drawnIndex = pictureIndex;
    drawnFade = fadeStep;
    Game::MapInfo* first = mapCount > 0 ? maps[std::min(pictureIndex, mapCount - 1)] : nullptr;
    Game::MapInfo* second = mapCount > 0 ? maps[nextIndex(std::min(pictureIndex, mapCount - 1))] : nullptr;
    IDirect3DDevice9* d = gDevice;
    chain->pushRenderTarget(picture->renderSurface, nullptr);
    // Direct3D draws only inside a scene.
    d->BeginScene();
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0x00007F7Fu, 1.0f, 0);
    Texture* a = first ? first->preview.texture() : nullptr;
    Texture* b = second ? second->preview.texture() : nullptr;
    if (a && a->texture) {
        DWORD lighting = 0;
        DWORD fog = 0;
        DWORD zEnable = 0;
        d->GetRenderState(D3DRS_LIGHTING, &lighting);
        d->GetRenderState(D3DRS_FOGENABLE, &fog);
        d->GetRenderState(D3DRS_ZENABLE, &zEnable);
        d->SetRenderState(D3DRS_LIGHTING, FALSE);
        d->SetRenderState(D3DRS_FOGENABLE, FALSE);
        d->SetRenderState(D3DRS_ZENABLE, FALSE);
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        d->SetTexture(0, a->texture);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
        d->SetTexture(1, b && b->texture ? b->texture : a->texture);
        d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_BLENDFACTORALPHA);
        d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
        d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
        d->SetRenderState(D3DRS_TEXTUREFACTOR, uint32_t(fadeStep) << 24);
        const float e = float(pictureSize) - 0.5f;
        const PictureVertex quad[4] = {{-0.5f, -0.5f, 0.0f, 1.0f, 0.0f, 0.0f},
                                       {e, -0.5f, 0.0f, 1.0f, 1.0f, 0.0f},
                                       {-0.5f, e, 0.0f, 1.0f, 0.0f, 1.0f},
                                       {e, e, 0.0f, 1.0f, 1.0f, 1.0f}};
        d->SetFVF(D3DFVF_XYZRHW | D3DFVF_TEX1);
        d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(PictureVertex));
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
        d->SetTexture(1, nullptr);
        d->SetRenderState(D3DRS_LIGHTING, lighting);
        d->SetRenderState(D3DRS_FOGENABLE, fog);
        d->SetRenderState(D3DRS_ZENABLE, zEnable);
    }
    d->EndScene();
    chain->popRenderTarget();
}
