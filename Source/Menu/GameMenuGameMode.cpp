#include "Menu/GameMenuGameMode.h"

#include "Menu/GameMenuButton.h"
#include "Menu/GameMenuText.h"

#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"
#include "Core/Language.h"

#include <new>

namespace {

String text(const wchar_t* key)
{
    return gLanguage ? gLanguage->getText(nullptr, String::borrowed(key)) : String(L"");
}

String number(int32_t value)
{
    String out;
    out.format(L"%i", value);
    return out;
}

const wchar_t* difficultyKey(int32_t id)
{
    return id == 97 ? L"Medium" : id == 98 ? L"Hard" : L"Easy";
}

const wchar_t* descriptionKey(int32_t mode)
{
    switch (mode) {
    case GameMenu::GameMode::captureTheFlag: return L"CaptureTheFlagDesc";
    case GameMenu::GameMode::jamboree: return L"ModeJamboreeDesc";
    case GameMenu::GameMode::knockOut: return L"KnockOutDesc";
    case GameMenu::GameMode::circuit: return L"CircuitDesc";
    case GameMenu::GameMode::timeTrial: return L"TimeTrialDesc";
    default: return L"OffroadRaceDesc";
    }
}

// The row ids in focus order, the start button last.
constexpr int32_t rowIds[5] = {GameMenu::GameMode::modeRow, GameMenu::GameMode::battleRow,
                               GameMenu::GameMode::opponentsRow, GameMenu::GameMode::goalRow,
                               GameMenu::GameMode::difficultyRow};
constexpr int32_t rowY[5] = {300, 387, 474, 561, 648};
constexpr const wchar_t* labelKeys[5] = {L"GameMode", L"BattleMode", L"Enemy", L"", L"Difficulty"};

const Color grey(150, 150, 150, 255);
const Color white(255, 255, 255, 255);

}

GameMenu::GameMode::GameMode(GameMenu& owner) : Screen(owner)
{
}

GameMenu::GameMode::~GameMode()
{
    if (title)
        close();
}

int32_t GameMenu::GameMode::getSelectedMode() const
{
    return mode >= offRoadRace && mode <= timeTrial ? mode - offRoadRace + 1 : 1;
}

int32_t GameMenu::GameMode::mapKind() const
{
    Selection map;
    if (menu->chooseMapScreen)
        menu->chooseMapScreen->readSelection(map);
    return map.trackKind;
}

void GameMenu::GameMode::enter(int32_t)
{
    CRASH_TRACE();
    if (title || !menu->chooseMapScreen)
        return;
    // A visit that went back to the map choice leads on to the race again.
    backFlag = 0;
    UserInterface::UIFont::Face* labelFace = menu->fonts[buttonFont];
    title = new (std::nothrow)
        GameMenu::Text(10, menu->fonts[titleFont], *menu, text(L"SelectGameMode"), menu->titleX, menu->titleY, -1);
    for (int i = 0; i < 5; ++i) {
        labels[i] = new (std::nothrow) GameMenu::Text(5, labelFace, *menu, text(labelKeys[i]), 100, rowY[i] - 35, -1);
        if (labels[i])
            labels[i]->colour = grey;
    }
    description = new (std::nothrow) GameMenu::Text(5, labelFace, *menu, String(L""), 0, 265, 450);
    for (int i = 0; i < 5; ++i)
        rows[i] = new (std::nothrow) ButtonPrevNext(rowY[i], *menu, String(L""), 100, 300, rowIds[i], 10);
    startButton = new (std::nothrow) Button(10, *menu, text(L"StartGame"), 0, 0, startRow, false);

    focus = modeRow;
    const int32_t kind = mapKind();
    if (kind == 9) {
        mode = offRoadRace;
    } else if (kind == 10) {
        mode = knockOut;
    } else if (kind == 11) {
        mode = timeTrial;
        battle = battleOff;
        opponents = 0;
        goal = 1;
    }
    refreshMode();
    if (rows[4])
        rows[4]->setText(text(difficultyKey(difficulty)));
}

void GameMenu::GameMode::refreshMode()
{
    const int32_t number = getSelectedMode();
    if (rows[0])
        rows[0]->setText(Game::getModeName(number));
    if (description)
        description->setText(text(descriptionKey(mode)));
    if (labels[3])
        labels[3]->setText(Game::getModeGoalText(number));
    goal = mode == captureTheFlag ? 100 : mode == jamboree ? 5 : 2;
    const bool trial = mode == timeTrial;
    if (!trial) {
        opponents = 3;
        battle = battleOn;
        if (mode == knockOut)
            goal = opponents;
    } else {
        opponents = 0;
        battle = battleOff;
        goal = mapKind() == 11 ? 1 : 3;
    }
    for (int i = 1; i < 5; ++i) {
        if (!rows[i])
            continue;
        rows[i]->colour = trial ? grey : white;
        rows[i]->highlightable = trial ? 0 : 1;
    }
    showValues();
}

void GameMenu::GameMode::showValues()
{
    if (rows[1])
        rows[1]->setText(text(battle == battleOn ? L"On" : L"Off"));
    if (rows[2])
        rows[2]->setText(number(opponents));
    if (rows[3])
        rows[3]->setText(number(goal));
}

void GameMenu::GameMode::moveDown(bool sound)
{
    int32_t next = focus;
    switch (focus) {
    case modeRow: next = mode == timeTrial ? startRow : battleRow; break;
    case battleRow: next = opponentsRow; break;
    case opponentsRow: next = mode == knockOut ? difficultyRow : goalRow; break;
    case goalRow: next = difficultyRow; break;
    case difficultyRow: next = startRow; break;
    default: break;
    }
    if (next != focus && sound)
        menu->playSound(0);
    focus = next;
}

void GameMenu::GameMode::onKeyUp()
{
    int32_t next = focus;
    switch (focus) {
    case startRow: next = mode == timeTrial ? modeRow : difficultyRow; break;
    case difficultyRow: next = mode == knockOut ? opponentsRow : goalRow; break;
    case goalRow: next = opponentsRow; break;
    case opponentsRow: next = battleRow; break;
    case battleRow: next = modeRow; break;
    default: break;
    }
    if (next != focus)
        menu->playSound(0);
    focus = next;
}

void GameMenu::GameMode::change(int32_t step)
{
    switch (focus) {
    case modeRow: {
        const int32_t kind = mapKind();
        const int32_t first = kind == 10 ? knockOut : kind == 11 ? timeTrial : offRoadRace;
        const int32_t last = kind == 10 ? timeTrial : kind == 11 ? timeTrial : jamboree;
        if (mode >= first && mode <= last) {
            const int32_t next = mode + step;
            if (next >= first && next <= last) {
                mode = next;
                menu->playSound(0);
            }
        }
        refreshMode();
        break;
    }
    case battleRow:
        battle = battle == battleOn ? battleOff : battleOn;
        showValues();
        menu->playSound(0);
        break;
    case opponentsRow: {
        opponents += step;
        const bool inside = clampIndex(opponents, 1, 7);
        if (mode == knockOut)
            goal = opponents;
        showValues();
        if (inside)
            menu->playSound(0);
        break;
    }
    case goalRow: {
        if (mode == knockOut)
            break;
        bool inside = true;
        if (mode == captureTheFlag) {
            if (step < 0)
                goal = goal == 100 ? 50 : goal - 100;
            else
                goal = goal == 50 ? 100 : goal + 100;
            inside = clampIndex(goal, 50, 500);
        } else {
            goal += step;
            inside = clampIndex(goal, 1, 16);
        }
        showValues();
        if (inside)
            menu->playSound(0);
        break;
    }
    case difficultyRow: {
        const int32_t next = difficulty + step;
        if (next >= 96 && next <= 98) {
            difficulty = next;
            if (rows[4])
                rows[4]->setText(text(difficultyKey(difficulty)));
            menu->playSound(0);
        }
        break;
    }
    default:
        break;
    }
}

void GameMenu::GameMode::onKeyConfirm()
{
    if (focus == startRow)
        close();
    else
        moveDown(false);
    menu->playSound(1);
}

void GameMenu::GameMode::onKeyBack()
{
    backFlag = 1;
    close();
    menu->playSound(2);
}

void GameMenu::GameMode::close()
{
    delete title;
    title = nullptr;
    for (GameMenu::Text*& label : labels) {
        delete label;
        label = nullptr;
    }
    delete description;
    description = nullptr;
    for (ButtonPrevNext*& row : rows) {
        delete row;
        row = nullptr;
    }
    delete startButton;
    startButton = nullptr;
    done = 1;
}

void GameMenu::GameMode::update()
{
    if (!title)
        return;
    D3D::Device::SwapChain* chain = menu->swapChain();
    const int32_t width = chain ? int32_t(chain->presentParameters.BackBufferWidth) : 1024;
    const int32_t height = chain ? int32_t(chain->presentParameters.BackBufferHeight) : 768;
    for (int i = 0; i < 5; ++i) {
        if (labels[i])
            labels[i]->y = rowY[i] - 35;
        if (ButtonPrevNext* row = rows[i])
            row->place(rowY[i]);
    }
    if (description) {
        description->x = width - 500;
        description->y = 265;
    }
    if (startButton) {
        const UserInterface::Size size = startButton->getSize();
        startButton->x = width - size.width - 100;
        startButton->y = height - size.height - 50;
    }
    for (ButtonPrevNext* row : rows)
        if (row && row->highlightable)
            row->setHighlight(row->id == focus);
    if (startButton && startButton->highlightable)
        startButton->setHighlight(focus == startRow);
}

void GameMenu::GameMode::readSelection(Selection& out)
{
    out.mode = getSelectedMode();
    out.difficulty = difficulty;
    out.battle = battle;
    out.opponents = opponents;
    out.goal = goal;
}
